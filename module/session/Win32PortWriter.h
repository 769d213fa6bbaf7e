#pragma once

// The writing half of the Windows port: bytes queued and handed to the driver one piece after
// another, each piece watched against a limit that grows with its length at the port's rate.
// Nothing here waits, but Finish, for a moment, so that what was written reaches the driver.

#include "Win32Io.h"
#include "Win32Serial.h"

#include <QObject>
#include <QTimer>
#include <QWinEventNotifier>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kelvara::link {

class TWin32Writer {
  public:
    // taken: the driver has taken so many more bytes. failed: a write failed after Write had
    // returned; the writer then stands still.
    TWin32Writer(QObject& context, std::shared_ptr<TWin32Serial> calls, TAbandonedIo& abandoned,
                 std::function<void(qint64)> taken, std::function<void(std::string)> failed);

    void Begin(HANDLE handle, int baudRate);
    void SetBaudRate(int baudRate) { baudRate_ = baudRate; }
    // Queues the bytes; the failure in words when the driver refused them at once.
    std::string Write(std::string_view bytes);
    // The port is lost: nothing more is handed over or told.
    void Halt();
    // The port is being closed: what was queued is given up to a second to reach the driver,
    // then the write under way is cancelled.
    void Finish();

  private:
    std::string StartWrite();
    void WriteEnded(bool tell);
    void Stalled();
    void Fail(std::string reason);

    std::shared_ptr<TWin32Serial> calls_;
    TAbandonedIo& abandoned_;
    std::function<void(qint64)> taken_;
    std::function<void(std::string)> failed_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    int baudRate_ = 9600;
    bool halted_ = true;
    std::unique_ptr<TIo> write_ = std::make_unique<TIo>();
    std::string queue_; // written, not yet handed to the driver
    QWinEventNotifier done_;
    QTimer watch_;
};

} // namespace kelvara::link
