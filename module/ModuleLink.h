#pragma once

// The serial port under the link's policies: it opens the port, moves bytes between the port
// and the policy running on it, and wakes the policy with one timer. Everything runs on the
// calling thread's event loop, driven by the port's signals; nothing waits or sleeps, so a
// window using it stays responsive however slow the module is.

#include "Link.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <memory>
#include <string>

namespace kelvara::link {

class TConsole;

// Why a port could not be opened or set up.
struct TOpenFailure {
    QString Reason;
    // The user lacks the right to use the port; PermissionHint says what to do about it.
    bool PermissionDenied = false;
};

// Tells the user how to gain the right to use the port on this system: which group owns it and
// how to join that group.
QString PermissionHint(const std::string& port);

// The device file a port name stands for: a path as it is, a bare name ("ttyUSB0") under /dev.
std::string DevicePath(const std::string& port);

class TModuleLink : public QObject {
    Q_OBJECT

  public:
    explicit TModuleLink(QObject* parent = nullptr);
    // Closes the port if it is still open.
    ~TModuleLink() override;

    // Opens the port (a device path or a link to one, such as those under /dev/serial/by-id/,
    // or a name that the port list shows; a file name, not text) at the rate, 8N1, no flow
    // control. Only one sender may have a module: whatever name another has it open by, the port
    // is refused as in use. Returns false when the port cannot be opened or set up; nothing is
    // sent then and OpenFailure() says why.
    bool Open(const std::string& port, int baudRate);
    bool IsOpen() const { return port_.isOpen(); }
    // The port as opened: the device file, links resolved.
    const std::string& Device() const { return device_; }

    // Runs the policy on the open port until it finishes; the port stays open afterwards.
    void Run(std::unique_ptr<TPolicy> policy);
    bool IsRunning() const { return policy_ != nullptr; }
    // The console running, if the policy running is one.
    TConsole* Console() const;
    // Hands a command to the console running.
    void Submit(std::string command);
    // Ends the console running once its queued commands are sent.
    void EndConsole();
    // Stops the policy after the command under way, never in the middle of one.
    void Cancel();
    // Stops at once: the policy is dropped without another event, and the port closed.
    void Close();
    // Changes the rate of the open port.
    bool SetBaudRate(int baudRate);

    const TOpenFailure& OpenFailure() const { return openFailure_; }
    // Milliseconds since the port was opened.
    Ms Now() const { return clock_.isValid() ? clock_.elapsed() : 0; }

  signals:
    void linkEvent(const kelvara::link::TEvent& event);
    // The policy has ended with this result; the port is still open unless it was lost.
    void finished(kelvara::link::TResult result);
    // The port went away (an unplugged adapter, a hung-up line); it is closed by then, and a
    // policy still running has been dropped (after finished(Failed)).
    void portLost();

  private:
    bool Refuse(int error);
    void Apply(TStep step);
    void ReadPort();
    void PortError(QSerialPort::SerialPortError error);
    void TimerFired();
    void LosePort();
    void ClosePort();
    void Report(TEvent event);

    QSerialPort port_;
    QTimer timer_;
    QElapsedTimer clock_;
    std::unique_ptr<TPolicy> policy_;
    TOpenFailure openFailure_;
    std::string device_;
    int lockFd_ = -1;
    bool writing_ = false;
    bool lostWhileWriting_ = false;
};

} // namespace kelvara::link
