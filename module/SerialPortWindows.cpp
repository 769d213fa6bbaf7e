#include "SerialPort.h"
#include "Win32Serial.h"

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
// What one read asks for. A device that never pauses for kReadGapMs is read only as each read
// fills: small reads keep its bytes from waiting long in the driver (a line a millisecond reaches
// standard output in about 10 ms under Wine, where a 4 KB read held it for a quarter of a second).
constexpr std::size_t kReadSize = 128;
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

// Reads that end with nothing, in a row, before the port counts as gone:
// a driver ends a pending read when its input is purged or its settings change, and an
// unplugged adapter's driver ends it and then fails every call.
constexpr int kFruitlessReads = 3;
// How long Write waits for the driver beyond the write timeout it was given, for a driver that
// ignores it.
constexpr DWORD kWriteGraceMs = 500;
// How long a cancelled read may take to end.
constexpr DWORD kCancelWaitMs = 500;

std::string WindowsError(DWORD error) { return "Windows error " + std::to_string(error); }
// A write the driver did not take within its bound.
std::string NotTaken() { return "nothing written for " + std::to_string(kWriteTimeoutMs / 1000) + " s"; }

bool SetRate(TWin32Serial& calls, HANDLE handle, int baudRate) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!calls.GetCommState(handle, &dcb))
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
    return calls.SetCommState(handle, &dcb) != 0;
}

} // namespace

// The port's handle, opened for overlapped I/O. One read is always pending; its event wakes the
// event loop when the read has ended (bytes came, or the driver ended it), so nothing waits on
// the port. The event is manual-reset and reset as soon as the read is seen to have ended: the
// notifier watching it fires for as long as it stays set.
class TSerialPort::TDevice {
  public:
    TDevice(TSerialPort& owner, std::shared_ptr<TWin32Serial> calls)
        : owner_(owner), calls_(std::move(calls)) {
        readDone_.setEnabled(false);
        QObject::connect(&readDone_, &QWinEventNotifier::activated, &owner, [this] { ReadEnded(); });
        retry_.setSingleShot(true);
        retry_.setInterval(10);
        QObject::connect(&retry_, &QTimer::timeout, &owner, [this] { StartRead(); });
        // A read refused as it was started is dealt with from the event loop, never from inside
        // the call that started it.
        refused_.setSingleShot(true);
        refused_.setInterval(0);
        QObject::connect(&refused_, &QTimer::timeout, &owner, [this] { ReadFruitless(refusal_); });
    }
    ~TDevice() { Close(); }

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    const std::string& LostReason() const { return lostReason_; }

    TOpenFailure Open(const std::string& port, int baudRate) {
        const std::string path = DevicePath(port);
        if (path.empty())
            return Refusal(ERROR_FILE_NOT_FOUND);
        // No sharing: while the port is ours, Windows refuses it to every other program.
        const HANDLE handle = calls_->Open(QString::fromStdString(path).toStdWString().c_str());
        if (handle == INVALID_HANDLE_VALUE)
            return Refusal(GetLastError());
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = kReadGapMs;
        timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
        // The buffer sizes are a wish: some virtual ports refuse it and work all the same.
        calls_->SetupComm(handle, 4096, 4096);
        if (!SetRate(*calls_, handle, baudRate) || !calls_->SetCommTimeouts(handle, &timeouts)) {
            const DWORD error = GetLastError();
            calls_->CloseHandle(handle);
            return {TOpenFailure::TKind::Other,
                    QStringLiteral("cannot be set up (%1)").arg(SystemMessage(error))};
        }
        calls_->PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
        handle_ = handle;
        readEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        writeEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        readDone_.setHandle(readEvent_);
        readDone_.setEnabled(true);
        lost_ = false;
        lostReason_.clear();
        ++opens_;
        fruitless_ = 0;
        StartRead();
        return {};
    }

    void Close() {
        retry_.stop();
        refused_.stop();
        if (!IsOpen())
            return;
        readDone_.setEnabled(false);
        if (reading_)
            EndRead();
        calls_->CloseHandle(handle_);
        CloseHandle(readEvent_);
        CloseHandle(writeEvent_);
        handle_ = readEvent_ = writeEvent_ = INVALID_HANDLE_VALUE;
        received_.clear();
    }

    bool SetBaudRate(int baudRate) { return IsOpen() && SetRate(*calls_, handle_, baudRate); }

    std::string TakeReceived() { return std::exchange(received_, {}); }

    // Every byte received up to now: a pending read may hold some already, which a purge would
    // not touch; it is ended, its bytes taken, and another read started.
    std::string DiscardInput() {
        if (reading_ && !lost_) {
            if (EndRead()) {
                StartRead();
            } else {
                // A driver that does not end a cancelled read leaves the port of no more use.
                lost_ = true;
                lostReason_ = "a read the driver would not end";
                readDone_.setEnabled(false);
                QTimer::singleShot(0, &owner_, [this, opens = opens_] {
                    if (IsOpen() && opens == opens_)
                        emit owner_.lost();
                });
            }
        }
        return TakeReceived();
    }

    // Waits until the driver has taken every byte, at most the write timeout (and a little
    // more, for a driver that ignores it); a write not taken by then is cancelled and fails.
    bool Write(std::string_view bytes) {
        if (!IsOpen() || lost_)
            return false;
        while (!bytes.empty()) {
            writeOverlapped_ = {};
            writeOverlapped_.hEvent = writeEvent_;
            ResetEvent(writeEvent_);
            const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 16));
            if (!calls_->WriteFile(handle_, bytes.data(), size, &writeOverlapped_)) {
                const DWORD error = GetLastError();
                if (error != ERROR_IO_PENDING)
                    return WriteFailed(WindowsError(error));
                if (WaitForSingleObject(writeEvent_, kWriteTimeoutMs + kWriteGraceMs) != WAIT_OBJECT_0) {
                    calls_->CancelIoEx(handle_, &writeOverlapped_);
                    // The cancelled write ends at once; it is waited for, briefly, so that the
                    // driver is done with it.
                    WaitForSingleObject(writeEvent_, kWriteGraceMs);
                    return WriteFailed(NotTaken());
                }
            }
            DWORD written = 0;
            if (!calls_->GetOverlappedResult(handle_, &writeOverlapped_, &written, FALSE))
                return WriteFailed(WindowsError(GetLastError()));
            if (written == 0)
                return WriteFailed(NotTaken());
            bytes.remove_prefix(written);
        }
        return true;
    }

  private:
    bool WriteFailed(std::string reason) {
        lostReason_ = std::move(reason);
        return false;
    }

    void StartRead() {
        if (!IsOpen() || lost_ || reading_)
            return;
        readOverlapped_ = {};
        readOverlapped_.hEvent = readEvent_;
        ResetEvent(readEvent_);
        if (!calls_->ReadFile(handle_, buffer_.data(), static_cast<DWORD>(buffer_.size()),
                              &readOverlapped_) &&
            GetLastError() != ERROR_IO_PENDING) {
            refusal_ = GetLastError();
            refused_.start();
            return;
        }
        // Done at once or later, the event is set when the read ends.
        reading_ = true;
    }

    // Cancels the pending read and waits, briefly, for it to end, keeping what it had read;
    // false when the driver did not end it.
    bool EndRead() {
        calls_->CancelIoEx(handle_, &readOverlapped_);
        if (WaitForSingleObject(readEvent_, kCancelWaitMs) != WAIT_OBJECT_0)
            return false;
        DWORD count = 0;
        calls_->GetOverlappedResult(handle_, &readOverlapped_, &count, FALSE);
        ResetEvent(readEvent_);
        reading_ = false;
        received_.append(buffer_.data(), std::min<std::size_t>(count, buffer_.size()));
        return true;
    }

    void ReadEnded() {
        if (!reading_) {
            ResetEvent(readEvent_);
            return;
        }
        DWORD count = 0;
        const bool ok = calls_->GetOverlappedResult(handle_, &readOverlapped_, &count, FALSE);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (!ok && error == ERROR_IO_INCOMPLETE)
            return;
        ResetEvent(readEvent_);
        reading_ = false;
        // A read ended by the driver may still carry what it had read.
        if (count > 0) {
            fruitless_ = 0;
            received_.append(buffer_.data(), std::min<std::size_t>(count, buffer_.size()));
            StartRead();
            emit owner_.readyRead();
            return;
        }
        ReadFruitless(error);
    }

    // A read ended with nothing: aborted by the driver, empty, or failed. ClearCommError says
    // whether the port is still there (and clears a line error that would stop its I/O): if
    // not, or after a few such reads in a row, the port is lost; otherwise it is read again.
    void ReadFruitless(DWORD error) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!calls_->ClearCommError(handle_, &errors, &status)) {
            const DWORD cleared = GetLastError();
            Lose(error == ERROR_SUCCESS || error == ERROR_OPERATION_ABORTED ? cleared : error);
            return;
        }
        if (error != ERROR_SUCCESS)
            lastError_ = error;
        if (++fruitless_ >= kFruitlessReads) {
            Lose(lastError_);
            return;
        }
        retry_.start();
    }

    void Lose(DWORD error) {
        lost_ = true;
        lostReason_ = error == ERROR_SUCCESS ? "nothing read" : WindowsError(error);
        readDone_.setEnabled(false);
        emit owner_.lost();
    }

    TSerialPort& owner_;
    std::shared_ptr<TWin32Serial> calls_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE readEvent_ = INVALID_HANDLE_VALUE;
    HANDLE writeEvent_ = INVALID_HANDLE_VALUE;
    OVERLAPPED readOverlapped_{};
    OVERLAPPED writeOverlapped_{};
    std::array<char, kReadSize> buffer_{};
    std::string received_;
    QWinEventNotifier readDone_;
    QTimer retry_;
    QTimer refused_;
    DWORD refusal_ = ERROR_SUCCESS;
    DWORD lastError_ = ERROR_SUCCESS;
    int fruitless_ = 0;
    unsigned opens_ = 0;
    bool reading_ = false;
    bool lost_ = false;
    std::string lostReason_;
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

TSerialPort::TSerialPort(QObject* parent)
    : TPort(parent), device_(std::make_unique<TDevice>(*this, SerialCalls())) {}

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

std::string TSerialPort::DiscardInput() { return device_->DiscardInput(); }

std::string TSerialPort::LostReason() const { return device_->LostReason(); }

bool TSerialPort::Write(std::string_view bytes) { return device_->Write(bytes); }

} // namespace kelvara::link
