#pragma once

// What a session needs of a port, whatever carries the bytes: a serial port on this system, or
// an in-memory port under a test. And what it needs of a clock: the time now, in milliseconds.

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kelvara::link {

using Ms = std::int64_t;

// Why a port could not be opened or set up.
struct TOpenFailure {
    enum class TKind { None, NoSuchPort, PermissionDenied, InUse, Other };
    TKind Kind = TKind::None;
    QString Reason;

    // The user lacks the right to use the port; PermissionHint says what to do about it.
    bool PermissionDenied() const { return Kind == TKind::PermissionDenied; }
};

class TPort : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;

    // Opens the port by that name at the rate; false when it cannot be, OpenFailure() says why.
    virtual bool Open(const std::string& name, int baudRate) = 0;
    // The same without waiting for a port whose opening may block (on Windows a Bluetooth
    // link's, which connects to its device first): opened() tells the outcome, from the event
    // loop or, where opening never blocks, at once. Close() gives up an opening under way.
    virtual void OpenLater(const std::string& name, int baudRate) { emit opened(Open(name, baudRate)); }
    // An OpenLater has not told its outcome yet.
    virtual bool Opening() const { return false; }
    virtual bool IsOpen() const = 0;
    virtual const TOpenFailure& OpenFailure() const = 0;
    // Hands what is still buffered to the system, so no command is cut off, then lets go.
    virtual void Close() = 0;
    virtual bool SetBaudRate(int baudRate) = 0;
    // The bytes received and not yet read.
    virtual std::string ReadAll() = 0;
    // Empties the port: every byte received up to now, including those the system still held,
    // is returned, so that the caller decides what becomes of them. Nothing is thrown away.
    virtual std::string DiscardInput() = 0;
    // Hands the bytes to the system without waiting for it to take them; false when the port
    // has failed (lost() is then not emitted: the caller deals with it). A write that fails
    // later, or that the system does not take within a time that grows with its length at the
    // port's rate, is the port's loss (lost()), with the system's reason.
    virtual bool Write(std::string_view bytes) = 0;
    // Whether something is there by that name: a port that went away has come back.
    virtual bool Exists(const std::string& name) const = 0;
    // What the system said of the port's failure, when it said something ("Windows error 22",
    // "nothing written for 2 s"); empty otherwise.
    virtual std::string LostReason() const { return {}; }

  signals:
    void readyRead();
    // The system has taken this many more of the bytes written.
    void bytesWritten(qint64 bytes);
    // The outcome of OpenLater: open, or OpenFailure() says why not.
    void opened(bool open);
    // Bytes were lost or garbled before they reached the port (the adapter's buffer overran,
    // a framing or parity error): what the system said, in words. The port goes on.
    void trouble(const QString& what);
    // The port failed (an unplugged adapter, a hung-up line); it is still open until Close.
    void lost();
};

class TClock {
  public:
    virtual ~TClock() = default;
    // Milliseconds since some fixed moment; never goes back.
    virtual Ms Now() const = 0;
    // A clock moved on by hand (a test skipping a wait) calls `moved` each time it is, for as
    // long as the handle returned is kept: a session then does at once what fell due. The
    // system's clock is never moved, and keeps no one.
    virtual std::shared_ptr<void> WhenMoved(std::function<void()> moved) const {
        (void)moved;
        return nullptr;
    }
};

// The system's monotonic clock.
class TSteadyClock : public TClock {
  public:
    Ms Now() const override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

} // namespace kelvara::link
