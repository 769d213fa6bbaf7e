#include "Win32PortSetup.h"

#include <thread>

namespace kelvara::link {

namespace {

// Reads end this long after the last byte of a burst: the bytes reach the event loop a few
// milliseconds after they came, and a reply arrives in one or a few pieces.
constexpr DWORD kReadGapMs = 2;

} // namespace

DWORD WriteMultiplierMs(int baudRate) {
    // A byte is ten bits on the wire; twice its time, rounded up, and never less than 1 ms.
    const DWORD rate = static_cast<DWORD>(baudRate > 0 ? baudRate : 9600);
    return (20000 + rate - 1) / rate;
}

DWORD WriteLimitMs(std::size_t bytes, int baudRate) {
    return kWriteConstantMs + static_cast<DWORD>(bytes) * WriteMultiplierMs(baudRate);
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

std::string WindowsError(DWORD error) { return "Windows error " + std::to_string(error); }

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

bool SetTimeouts(TWin32Serial& calls, HANDLE handle, int baudRate) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kReadGapMs;
    timeouts.WriteTotalTimeoutMultiplier = WriteMultiplierMs(baudRate);
    timeouts.WriteTotalTimeoutConstant = kWriteConstantMs;
    return calls.SetCommTimeouts(handle, &timeouts) != 0;
}

HANDLE OpenAndSetUp(TWin32Serial& calls, const std::string& path, int baudRate, TOpenFailure& failure) {
    if (path.empty()) {
        failure = Refusal(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // No sharing: while the port is ours, Windows refuses it to every other program.
    const HANDLE handle = calls.Open(QString::fromStdString(path).toStdWString().c_str());
    if (handle == INVALID_HANDLE_VALUE) {
        failure = Refusal(GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    // The buffer sizes are a wish: some virtual ports refuse it and work all the same.
    calls.SetupComm(handle, 4096, 4096);
    if (!SetRate(calls, handle, baudRate) || !SetTimeouts(calls, handle, baudRate)) {
        const DWORD error = GetLastError();
        calls.CloseHandle(handle);
        failure = {TOpenFailure::TKind::Other,
                   QStringLiteral("cannot be set up (%1)").arg(SystemMessage(error))};
        return INVALID_HANDLE_VALUE;
    }
    calls.PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    failure = {};
    return handle;
}

std::shared_ptr<TOpening> OpenAway(std::shared_ptr<TWin32Serial> calls, std::string path, int baudRate,
                                   QObject& context,
                                   std::function<void(const std::shared_ptr<TOpening>&)> ended) {
    auto opening = std::make_shared<TOpening>();
    opening->BaudRate = baudRate;
    std::thread([calls = std::move(calls), opening, path = std::move(path), baudRate, context = &context,
                 ended = std::move(ended)] {
        TOpenFailure failure;
        const HANDLE handle = OpenAndSetUp(*calls, path, baudRate, failure);
        const std::lock_guard lock(opening->Lock);
        if (opening->GivenUp) {
            if (handle != INVALID_HANDLE_VALUE)
                calls->CloseHandle(handle);
            return;
        }
        opening->Handle = handle;
        opening->Failure = failure;
        // The context is there while the opening is not given up: it gives it up as it goes.
        // A call posted to it is dropped with it.
        QMetaObject::invokeMethod(context, [opening, ended] { ended(opening); }, Qt::QueuedConnection);
    }).detach();
    return opening;
}

HANDLE TakeOpened(TOpening& opening, TOpenFailure& failure) {
    const std::lock_guard lock(opening.Lock);
    failure = opening.Failure;
    return std::exchange(opening.Handle, INVALID_HANDLE_VALUE);
}

void GiveUp(TOpening& opening, TWin32Serial& calls) {
    const std::lock_guard lock(opening.Lock);
    opening.GivenUp = true;
    if (opening.Handle != INVALID_HANDLE_VALUE)
        calls.CloseHandle(std::exchange(opening.Handle, INVALID_HANDLE_VALUE));
}

} // namespace kelvara::link
