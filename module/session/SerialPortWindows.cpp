#include "SerialPort.h"
#include "Win32Io.h"
#include "Win32PortSetup.h"
#include "Win32PortWriter.h"
#include "Win32Serial.h"

#include <QStringList>
#include <QTimer>
#include <QWinEventNotifier>

#include <windows.h>

#include <algorithm>
#include <memory>

namespace kelvara::link {

namespace {

// What a read asks for when the driver holds nothing yet. A device that never pauses for the
// read gap is read only as each read fills: small reads keep its bytes from waiting long in the
// driver (a line a millisecond reaches standard output in about 10 ms under Wine, where a 4 KB
// read held it for a quarter of a second). Bytes already waiting are read all at once.
constexpr std::size_t kReadSize = 128;
// The most one read hands over.
constexpr std::size_t kLargestRead = 1u << 16;
// Reads that fail in a row, the port still answering, before it counts as gone.
constexpr int kFailedReads = 3;

// What the driver's error flags say of bytes lost or garbled before they were read.
QString Trouble(DWORD errors) {
    QStringList what;
    if (errors & CE_OVERRUN)
        what << QStringLiteral("the adapter could not keep up");
    if (errors & CE_RXOVER)
        what << QStringLiteral("the input buffer overflowed");
    if (errors & CE_FRAME)
        what << QStringLiteral("framing error");
    if (errors & CE_RXPARITY)
        what << QStringLiteral("parity error");
    if (what.isEmpty())
        return {};
    return QStringLiteral("bytes lost or garbled before they were read (%1)").arg(what.join(QStringLiteral(", ")));
}

} // namespace

// The port's handle, opened for overlapped I/O. One read is always pending; its event wakes the
// event loop when the read has ended (bytes came, or the driver ended it). Writes go through
// the writer, which never waits either; nothing waits on the port but a cancelled read, for a
// moment. The events are manual-reset and reset as soon as their I/O is seen to have ended: the
// notifier watching one fires for as long as it stays set.
class TSerialPort::TDevice {
  public:
    TDevice(TSerialPort& owner, std::shared_ptr<TWin32Serial> calls)
        : owner_(owner), calls_(std::move(calls)),
          writer_(owner, calls_, abandoned_, [this](qint64 bytes) { emit owner_.bytesWritten(bytes); },
                  [this](std::string reason) { Lose(std::move(reason)); }) {
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
    bool Opening() const { return opening_ != nullptr; }
    const std::string& LostReason() const { return lostReason_; }

    TOpenFailure Open(const std::string& port, int baudRate) {
        TOpenFailure failure;
        const HANDLE handle = OpenAndSetUp(*calls_, DevicePath(port), baudRate, failure);
        if (handle != INVALID_HANDLE_VALUE)
            Begin(handle, baudRate);
        return failure;
    }

    // CreateFile on a Bluetooth link's port connects to the device first, for seconds: the
    // opening runs on a thread of its own and is finished on the event loop.
    void OpenLater(const std::string& port, int baudRate) {
        opening_ = OpenAway(calls_, DevicePath(port), baudRate, owner_,
                            [this](const std::shared_ptr<TOpening>& opening) { Opened(opening); });
    }

    void Close() {
        GiveUpOpening();
        retry_.stop();
        refused_.stop();
        if (!IsOpen())
            return;
        closing_ = true;
        writer_.Finish();
        readDone_.setEnabled(false);
        if (read_->Pending)
            EndRead();
        calls_->CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        received_.clear();
        closing_ = false;
        abandoned_.Prune();
    }

    bool SetBaudRate(int baudRate) {
        if (!IsOpen() || !SetRate(*calls_, handle_, baudRate) || !SetTimeouts(*calls_, handle_, baudRate))
            return false;
        writer_.SetBaudRate(baudRate);
        return true;
    }

    std::string TakeReceived() { return std::exchange(received_, {}); }

    // Every byte received up to now: what the pending read already holds (a purge would not
    // touch it) and what the driver still holds beyond it. Nothing is waited for but the
    // cancelled read's end.
    std::string DiscardInput() {
        if (IsOpen() && !lost_) {
            if (read_->Pending && !EndRead()) {
                // A driver that does not end a cancelled read leaves the port of no more use.
                LoseLater("a read the driver would not end");
                return TakeReceived();
            }
            ReadQueued();
            StartRead();
        }
        return TakeReceived();
    }

    bool Write(std::string_view bytes) {
        if (!IsOpen() || lost_)
            return false;
        if (std::string failure = writer_.Write(bytes); !failure.empty()) {
            // Told by the false returned: the caller deals with it.
            MarkLost(std::move(failure));
            return false;
        }
        return true;
    }

  private:
    void Begin(HANDLE handle, int baudRate) {
        abandoned_.Prune();
        handle_ = handle;
        if (read_->Pending)
            abandoned_.Take(read_);
        readDone_.setHandle(read_->Event);
        readDone_.setEnabled(true);
        writer_.Begin(handle, baudRate);
        lost_ = false;
        lostReason_.clear();
        lastError_ = ERROR_SUCCESS;
        failedReads_ = 0;
        ++opens_;
        StartRead();
    }

    void Opened(const std::shared_ptr<TOpening>& opening) {
        if (opening != opening_)
            return;
        opening_.reset();
        const HANDLE handle = TakeOpened(*opening, owner_.openFailure_);
        if (handle != INVALID_HANDLE_VALUE)
            Begin(handle, opening->BaudRate);
        emit owner_.opened(handle != INVALID_HANDLE_VALUE);
    }

    void GiveUpOpening() {
        if (opening_)
            GiveUp(*std::exchange(opening_, nullptr), *calls_);
    }

    // The driver's error flags: bytes lost or garbled on the way in are told, never dropped.
    void SeeErrors(DWORD errors) {
        if (const QString trouble = Trouble(errors); !trouble.isEmpty())
            emit owner_.trouble(trouble);
    }

    // -- Reading

    void StartRead() {
        if (!IsOpen() || lost_ || read_->Pending)
            return;
        // The read asks for what the driver holds, all at once, or for a small piece that
        // ends a moment after the next bytes come.
        std::size_t size = kReadSize;
        DWORD errors = 0;
        COMSTAT status{};
        if (calls_->ClearCommError(handle_, &errors, &status)) {
            SeeErrors(errors);
            size = std::clamp<std::size_t>(status.cbInQue, kReadSize, kLargestRead);
        }
        OVERLAPPED* overlapped = read_->Start(size);
        if (!calls_->ReadFile(handle_, read_->Buffer.data(), static_cast<DWORD>(size), overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            read_->Pending = false;
            refusal_ = GetLastError();
            refused_.start();
        }
    }

    // Takes an ended read's bytes; how many.
    DWORD Collect() {
        DWORD count = 0;
        calls_->GetOverlappedResult(handle_, &read_->Overlapped, &count, FALSE);
        read_->Done();
        received_.append(read_->Buffer.data(), std::min<std::size_t>(count, read_->Buffer.size()));
        return count;
    }

    // Cancels the pending read and waits, briefly, for it to end, keeping what it had read;
    // false when the driver did not end it (the read is then abandoned).
    bool EndRead() {
        calls_->CancelIoEx(handle_, &read_->Overlapped);
        if (!read_->Ended(kCancelWaitMs)) {
            abandoned_.Take(read_);
            readDone_.setHandle(read_->Event);
            return false;
        }
        Collect();
        return true;
    }

    // What the driver holds beyond the reads so far: a read of just that much ends at once.
    void ReadQueued() {
        for (int piece = 0; piece < 4 && !lost_; ++piece) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!calls_->ClearCommError(handle_, &errors, &status) || status.cbInQue == 0)
                return;
            SeeErrors(errors);
            const std::size_t size = std::min<std::size_t>(status.cbInQue, kLargestRead);
            OVERLAPPED* overlapped = read_->Start(size);
            if (!calls_->ReadFile(handle_, read_->Buffer.data(), static_cast<DWORD>(size), overlapped) &&
                GetLastError() != ERROR_IO_PENDING) {
                read_->Pending = false;
                return;
            }
            if (read_->Ended(kCancelWaitMs))
                Collect();
            else if (!EndRead())
                LoseLater("a read the driver would not end");
        }
    }

    void ReadEnded() {
        if (!read_->Pending) {
            ResetEvent(read_->Event);
            return;
        }
        DWORD count = 0;
        const bool ok = calls_->GetOverlappedResult(handle_, &read_->Overlapped, &count, FALSE);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (!ok && error == ERROR_IO_INCOMPLETE)
            return;
        // A read ended by the driver may still carry what it had read.
        if (Collect() > 0) {
            failedReads_ = 0;
            StartRead();
            emit owner_.readyRead();
            return;
        }
        ReadFruitless(error);
    }

    // A read ended with nothing. ClearCommError says whether the port is still there (and
    // clears a line error that would stop its I/O): if not, the port is lost. Aborted or empty
    // with the port there is no data, and it is read again; a read that failed though the port
    // answers counts, and a few such in a row leave the port of no more use.
    void ReadFruitless(DWORD error) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!calls_->ClearCommError(handle_, &errors, &status)) {
            const DWORD cleared = GetLastError();
            Lose(WindowsError(error == ERROR_SUCCESS || error == ERROR_OPERATION_ABORTED ? cleared : error));
            return;
        }
        SeeErrors(errors);
        if (error != ERROR_SUCCESS && error != ERROR_OPERATION_ABORTED) {
            lastError_ = error;
            if (++failedReads_ >= kFailedReads) {
                Lose(WindowsError(lastError_));
                return;
            }
        }
        retry_.start();
    }

    // -- Losing the port

    void MarkLost(std::string reason) {
        lost_ = true;
        lostReason_ = std::move(reason);
        writer_.Halt();
        retry_.stop();
        readDone_.setEnabled(false);
    }

    // Told at once, from the event loop; not while the port is being closed.
    void Lose(std::string reason) {
        MarkLost(std::move(reason));
        if (!closing_)
            emit owner_.lost();
    }

    // Found inside a call: told from the event loop, once the call has returned.
    void LoseLater(std::string reason) {
        MarkLost(std::move(reason));
        QTimer::singleShot(0, &owner_, [this, opens = opens_] {
            if (IsOpen() && opens == opens_)
                emit owner_.lost();
        });
    }

    TSerialPort& owner_;
    std::shared_ptr<TWin32Serial> calls_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    // First among the I/O's holders: it outlives them all.
    TAbandonedIo abandoned_;
    std::unique_ptr<TIo> read_ = std::make_unique<TIo>();
    TWin32Writer writer_;
    std::shared_ptr<TOpening> opening_;
    std::string received_;
    QWinEventNotifier readDone_;
    QTimer retry_;
    QTimer refused_;
    DWORD refusal_ = ERROR_SUCCESS;
    DWORD lastError_ = ERROR_SUCCESS;
    int failedReads_ = 0;
    unsigned opens_ = 0;
    bool lost_ = false;
    bool closing_ = false;
    std::string lostReason_;
};

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

void TSerialPort::OpenLater(const std::string& port, int baudRate) {
    Close();
    device_->OpenLater(port, baudRate);
}

bool TSerialPort::Opening() const { return device_->Opening(); }

void TSerialPort::Close() { device_->Close(); }

bool TSerialPort::SetBaudRate(int baudRate) { return device_->SetBaudRate(baudRate); }

std::string TSerialPort::ReadAll() { return device_->TakeReceived(); }

std::string TSerialPort::DiscardInput() { return device_->DiscardInput(); }

std::string TSerialPort::LostReason() const { return device_->LostReason(); }

bool TSerialPort::Write(std::string_view bytes) { return device_->Write(bytes); }

} // namespace kelvara::link
