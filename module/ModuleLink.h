#pragma once

// The serial port under the send protocol: it opens the port, moves bytes between the port and
// the protocol and wakes the protocol with one timer. Everything runs on the calling thread's
// event loop, driven by the port's signals; nothing waits or sleeps, so a window using it stays
// responsive however slow the module is.

#include "SendProtocol.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

namespace kelvara::link {

// Why a port could not be opened or set up.
struct TOpenFailure {
    QString Reason;
    // The user lacks the right to use the port; Hint says what to do about it.
    bool PermissionDenied = false;
};

// Tells the user how to gain the right to use the port on this system: which group owns it and
// how to join that group.
QString PermissionHint(const QString& port);

class TModuleLink : public QObject {
    Q_OBJECT

  public:
    explicit TModuleLink(QObject* parent = nullptr);
    // Closes the port if it is still open.
    ~TModuleLink() override;

    // Opens the port (a device path, or a name that the port list shows) and starts sending the
    // commands. Returns false when the port cannot be opened or set up; nothing is sent then and
    // OpenFailure() says why. Must not be called while a send is under way.
    bool Start(const QString& port, const TSendSettings& settings,
               std::vector<std::string> commands);
    // Stops after the command under way, never in the middle of one, and closes the port.
    void Cancel();

    bool IsSending() const;
    bool IsPortOpen() const { return port_.isOpen(); }
    const TOpenFailure& OpenFailure() const { return openFailure_; }
    // The send under way or last finished; null before the first Start.
    const TSendProtocol* Protocol() const { return protocol_.get(); }

  signals:
    // A command changed state (see Protocol()->Commands()).
    void commandChanged(int index);
    // The send has ended (see Protocol()->Result()); the port is closed by then.
    void finished();

  private:
    void Apply(TStep step);
    void ReadPort();
    void PortError(QSerialPort::SerialPortError error);
    void TimerFired();
    void ClosePort();
    TSendProtocol::Ms Now() const { return clock_.elapsed(); }

    QSerialPort port_;
    QTimer timer_;
    QElapsedTimer clock_;
    std::unique_ptr<TSendProtocol> protocol_;
    TOpenFailure openFailure_;
};

} // namespace kelvara::link
