#include "SerialPort.h"
#include "SerialPorts.h"

#include <QTimer>
#include <QWinEventNotifier>

#include <windows.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace kelvara::link {

namespace {

// Reads end this long after the last byte of a burst: the bytes reach the event loop a few
// milliseconds after they came, and a reply arrives in one or a few pieces.
constexpr DWORD kReadGapMs = 2;
// A write the driver has not taken within this time has failed (a stuck adapter).
constexpr DWORD kWriteTimeoutMs = 2000;

bool IsComName(const std::string& name) {
    if (name.size() < 4 || name.size() > 6)
        return false;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return false;
    }
    if (name[3] == '0')
        return false;
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return false;
        number = number * 10 + (name[i] - '0');
    }
    return number >= 1 && number <= 256;
}

QString SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = length > 0 ? QString::fromWCharArray(text, static_cast<int>(length)).trimmed()
                                 : QStringLiteral("error %1").arg(error);
    if (text)
        LocalFree(text);
    while (message.endsWith(QLatin1Char('.')))
        message.chop(1);
    return message.isEmpty() ? message : message.front().toLower() + message.mid(1);
}

TOpenFailure Refusal(DWORD error) {
    using TKind = TOpenFailure::TKind;
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
        return {TKind::NoSuchPort, QStringLiteral("no such port")};
    // A serial port admits one program at a time: Windows refuses the others access.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return {TKind::InUse, QStringLiteral("in use by another program")};
    default:
        return {TKind::Other, SystemMessage(error)};
    }
}

bool SetRate(HANDLE handle, int baudRate) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return false;
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    // Unused without flow control, but a driver refuses a state whose two are equal, which an
    // inherited state may hold.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return SetCommState(handle, &dcb) != 0;
}

} // namespace

// The port's handle, opened for overlapped I/O. One read is always pending; its event wakes the
// event loop when bytes have come (or the adapter went), so nothing waits on the port.
class TSerialPort::TDevice {
  public:
    explicit TDevice(TSerialPort& owner) : owner_(owner) {
        readDone_.setEnabled(false);
        QObject::connect(&readDone_, &QWinEventNotifier::activated, &owner, [this] { ReadEnded(); });
        retry_.setSingleShot(true);
        retry_.setInterval(10);
        QObject::connect(&retry_, &QTimer::timeout, &owner, [this] { StartRead(); });
    }
    ~TDevice() { Close(); }

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

    TOpenFailure Open(const std::string& port, int baudRate) {
        const std::string path = DevicePath(port);
        if (path.empty())
            return Refusal(ERROR_FILE_NOT_FOUND);
        // No sharing: while the port is ours, Windows refuses it to every other program.
        const HANDLE handle = CreateFileW(QString::fromStdString(path).toStdWString().c_str(),
                                          GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return Refusal(GetLastError());
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = kReadGapMs;
        timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
        // The buffer sizes are a wish: some virtual ports refuse it and work all the same.
        SetupComm(handle, 4096, 4096);
        if (!SetRate(handle, baudRate) || !SetCommTimeouts(handle, &timeouts)) {
            const DWORD error = GetLastError();
            CloseHandle(handle);
            return {TOpenFailure::TKind::Other,
                    QStringLiteral("cannot be set up (%1)").arg(SystemMessage(error))};
        }
        PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
        handle_ = handle;
        readEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        writeEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        readDone_.setHandle(readEvent_);
        readDone_.setEnabled(true);
        lost_ = false;
        StartRead();
        return {};
    }

    void Close() {
        retry_.stop();
        if (!IsOpen())
            return;
        readDone_.setEnabled(false);
        if (reading_) {
            CancelIoEx(handle_, &readOverlapped_);
            DWORD ignored = 0;
            GetOverlappedResult(handle_, &readOverlapped_, &ignored, TRUE);
            reading_ = false;
        }
        CloseHandle(handle_);
        CloseHandle(readEvent_);
        CloseHandle(writeEvent_);
        handle_ = readEvent_ = writeEvent_ = INVALID_HANDLE_VALUE;
        received_.clear();
    }

    bool SetBaudRate(int baudRate) { return IsOpen() && SetRate(handle_, baudRate); }

    std::string TakeReceived() { return std::exchange(received_, {}); }


    // Waits until the driver has taken every byte, or the write timeout.
    bool Write(std::string_view bytes) {
        if (!IsOpen() || lost_)
            return false;
        while (!bytes.empty()) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = writeEvent_;
            ResetEvent(writeEvent_);
            DWORD written = 0;
            const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 16));
            if (!WriteFile(handle_, bytes.data(), size, &written, &overlapped) &&
                (GetLastError() != ERROR_IO_PENDING ||
                 !GetOverlappedResult(handle_, &overlapped, &written, TRUE)))
                return false;
            if (written == 0)
                return false;
            bytes.remove_prefix(written);
        }
        return true;
    }

  private:
    void StartRead() {
        if (!IsOpen() || lost_ || reading_)
            return;
        readOverlapped_ = {};
        readOverlapped_.hEvent = readEvent_;
        ResetEvent(readEvent_);
        if (!ReadFile(handle_, buffer_.data(), static_cast<DWORD>(buffer_.size()), nullptr,
                      &readOverlapped_) &&
            GetLastError() != ERROR_IO_PENDING) {
            // Told from the event loop, never from inside the call that started the read.
            lost_ = true;
            QTimer::singleShot(0, &owner_, [this] {
                if (IsOpen())
                    emit owner_.lost();
            });
            return;
        }
        // Done at once or later, the event is set when the read ends.
        reading_ = true;
    }

    void ReadEnded() {
        if (!reading_)
            return;
        DWORD count = 0;
        const bool ok = GetOverlappedResult(handle_, &readOverlapped_, &count, FALSE);
        if (!ok && GetLastError() == ERROR_IO_INCOMPLETE)
            return;
        reading_ = false;
        if (!ok && GetLastError() == ERROR_OPERATION_ABORTED) {
            // Not by us (Close stops the notifier first): a driver ends pending reads when its
            // input is purged or its settings change. The port is still there.
            retry_.start();
            return;
        }
        if (!ok) {
            lost_ = true;
            emit owner_.lost();
            return;
        }
        if (count == 0) {
            // Nothing came (a driver's own timeout): ask again, a little later.
            retry_.start();
            return;
        }
        received_.append(buffer_.data(), count);
        StartRead();
        emit owner_.readyRead();
    }

    TSerialPort& owner_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE readEvent_ = INVALID_HANDLE_VALUE;
    HANDLE writeEvent_ = INVALID_HANDLE_VALUE;
    OVERLAPPED readOverlapped_{};
    std::array<char, 4096> buffer_{};
    std::string received_;
    QWinEventNotifier readDone_;
    QTimer retry_;
    bool reading_ = false;
    bool lost_ = false;
};

std::string DevicePath(const std::string& port) {
    if (port.find('\0') != std::string::npos)
        return {};
    if (port.rfind("\\\\.\\", 0) == 0)
        return IsComName(port.substr(4)) ? port : std::string();
    return IsComName(port) ? "\\\\.\\" + port : std::string();
}

// On Windows a port refused is one in use: no group grants the right to it.
QString PermissionHint(const std::string& port) {
    return QStringLiteral("%1 may be in use by another program; close it and try again")
        .arg(QString::fromStdString(port));
}

bool TSerialPort::PortExists(const std::string& port) {
    const std::string path = DevicePath(port);
    if (path.empty())
        return false;
    const QString name = QString::fromStdString(path.substr(4));
    const QList<TPortDescription> ports = AvailablePorts();
    return std::any_of(ports.begin(), ports.end(), [&](const TPortDescription& listed) {
        return listed.Name.compare(name, Qt::CaseInsensitive) == 0;
    });
}

TSerialPort::TSerialPort(QObject* parent)
    : TPort(parent), device_(std::make_unique<TDevice>(*this)) {}

TSerialPort::~TSerialPort() { Close(); }

bool TSerialPort::IsOpen() const { return device_->IsOpen(); }

bool TSerialPort::Open(const std::string& port, int baudRate) {
    Close();
    openFailure_ = device_->Open(port, baudRate);
    return openFailure_.Kind == TOpenFailure::TKind::None;
}

void TSerialPort::Close() { device_->Close(); }

bool TSerialPort::SetBaudRate(int baudRate) { return device_->SetBaudRate(baudRate); }

std::string TSerialPort::ReadAll() { return device_->TakeReceived(); }

// Bytes still on their way arrive through the read under way: nothing is purged.
std::string TSerialPort::DiscardInput() { return device_->TakeReceived(); }

bool TSerialPort::Write(std::string_view bytes) { return device_->Write(bytes); }

} // namespace kelvara::link
