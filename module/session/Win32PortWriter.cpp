#include "Win32PortWriter.h"

#include "Win32PortSetup.h"

#include <algorithm>

namespace kelvara::link {

namespace {

// The most one write hands over.
constexpr std::size_t kLargestWrite = 1u << 16;
// How long Finish waits for written bytes still on their way to the driver.
constexpr DWORD kFinishWaitMs = 1000;
// Beyond a write's own limit, how long its watch waits for a driver that ignores that limit.
constexpr int kGraceMs = 500;

// A write not taken whole within its limit.
std::string NotTaken(std::size_t written, std::size_t size, DWORD limitMs) {
    const std::string within = std::to_string(limitMs / 1000) + " s";
    if (written == 0)
        return "nothing written for " + within;
    return "only " + std::to_string(written) + " of " + std::to_string(size) + " bytes written in " + within;
}

} // namespace

TWin32Writer::TWin32Writer(QObject& context, std::shared_ptr<TWin32Serial> calls,
                           TAbandonedIo& abandoned, std::function<void(qint64)> taken,
                           std::function<void(std::string)> failed)
    : calls_(std::move(calls)), abandoned_(abandoned), taken_(std::move(taken)),
      failed_(std::move(failed)) {
    done_.setEnabled(false);
    QObject::connect(&done_, &QWinEventNotifier::activated, &context, [this] { WriteEnded(true); });
    watch_.setSingleShot(true);
    QObject::connect(&watch_, &QTimer::timeout, &context, [this] { Stalled(); });
}

void TWin32Writer::Begin(HANDLE handle, int baudRate) {
    handle_ = handle;
    baudRate_ = baudRate;
    halted_ = false;
    queue_.clear();
    if (write_->Pending)
        abandoned_.Take(write_);
    done_.setHandle(write_->Event);
    done_.setEnabled(true);
}

std::string TWin32Writer::Write(std::string_view bytes) {
    queue_.append(bytes);
    if (halted_ || write_->Pending)
        return {};
    std::string failure = StartWrite();
    if (!failure.empty())
        Halt();
    return failure;
}

void TWin32Writer::Halt() {
    halted_ = true;
    watch_.stop();
    done_.setEnabled(false);
}

std::string TWin32Writer::StartWrite() {
    if (halted_ || write_->Pending || queue_.empty())
        return {};
    const std::size_t size = std::min(queue_.size(), kLargestWrite);
    OVERLAPPED* overlapped = write_->Start(size);
    std::copy_n(queue_.data(), size, write_->Buffer.data());
    queue_.erase(0, size);
    if (!calls_->WriteFile(handle_, write_->Buffer.data(), static_cast<DWORD>(size), overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            write_->Pending = false;
            return WindowsError(error);
        }
    }
    // Done at once or later, its event is set when it ends.
    watch_.start(static_cast<int>(WriteLimitMs(size, baudRate_)) + kGraceMs);
    return {};
}

void TWin32Writer::WriteEnded(bool tell) {
    if (!write_->Pending) {
        ResetEvent(write_->Event);
        return;
    }
    DWORD written = 0;
    const bool ok = calls_->GetOverlappedResult(handle_, &write_->Overlapped, &written, FALSE);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (!ok && error == ERROR_IO_INCOMPLETE)
        return;
    write_->Done();
    watch_.stop();
    const std::size_t size = write_->Buffer.size();
    if (written > 0 && tell)
        taken_(written);
    // A write that ran past the driver's limit ends short, or fails (121 on Windows' own USB
    // serial driver); a device gone fails it too.
    if (!ok)
        Fail(WindowsError(error));
    else if (written < size)
        Fail(NotTaken(written, size, WriteLimitMs(size, baudRate_)));
    else if (std::string failure = StartWrite(); !failure.empty())
        Fail(std::move(failure));
}

// The driver ignored the write's limit: the write is cancelled (abandoned, if the driver will
// not even end it), and the port has failed.
void TWin32Writer::Stalled() {
    if (halted_ || !write_->Pending)
        return;
    const std::size_t size = write_->Buffer.size();
    calls_->CancelIoEx(handle_, &write_->Overlapped);
    if (write_->Ended(kCancelWaitMs))
        write_->Done();
    else
        abandoned_.Take(write_);
    Fail(NotTaken(0, size, WriteLimitMs(size, baudRate_)));
}

void TWin32Writer::Fail(std::string reason) {
    Halt();
    failed_(std::move(reason));
}

void TWin32Writer::Finish() {
    const ULONGLONG started = GetTickCount64();
    while (!halted_ && write_->Pending) {
        const ULONGLONG spent = GetTickCount64() - started;
        if (spent >= kFinishWaitMs || !write_->Ended(static_cast<DWORD>(kFinishWaitMs - spent)))
            break;
        WriteEnded(false);
    }
    Halt();
    if (write_->Pending) {
        calls_->CancelIoEx(handle_, &write_->Overlapped);
        if (write_->Ended(kCancelWaitMs))
            write_->Done();
        else
            abandoned_.Take(write_);
    }
    queue_.clear();
    handle_ = INVALID_HANDLE_VALUE;
}

} // namespace kelvara::link
