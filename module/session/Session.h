#pragma once

// A session with a module: one port, and at most one policy running on it. The session moves
// bytes between the port and the policy, wakes the policy with one timer, gathers what the
// module says while nothing runs, and opens the port again, by the name the user gave, when an
// unplugged adapter comes back. Everything runs on the calling thread's event loop, driven by
// the port's signals; nothing waits or sleeps, so a window using it stays responsive however
// slow the module is. kelvara-cli and the module window both run their policies here.
//
// A step is settled first (the rate, the write, the policy's end), then its events are told in
// order. What a handler asks meanwhile (Run, Drive, Stop, Abandon, Close, Later) waits until
// every event of the delivery has been told, and is then done in the order it was asked: a
// handler never sees the session half-way through a step.

#include "Exchange.h"
#include "Port.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kelvara::link {

// Where sessions get their ports and their time: this system's serial ports and its steady
// clock, or, under a test, in-memory ports and the test's clock.
struct TPorts {
    std::function<std::unique_ptr<TPort>()> Make;
    std::shared_ptr<const TClock> Clock;
};
TPorts SystemPorts();

class TModuleSession : public QObject {
    Q_OBJECT

  public:
    // A session on this system's serial port, by the steady clock.
    explicit TModuleSession(QObject* parent = nullptr);
    // A session on a port of those given, by their clock.
    explicit TModuleSession(TPorts ports, QObject* parent = nullptr);
    // A session on the port given, by the clock given (a test's in-memory port and its time).
    TModuleSession(std::unique_ptr<TPort> port, std::shared_ptr<const TClock> clock,
                   QObject* parent = nullptr);
    // A session of the same kind, on a port of its own: another port of a batch.
    std::unique_ptr<TModuleSession> Another() const;
    // Drops the policy, without another event, and closes the port.
    ~TModuleSession() override;

    // Opens the port by the name the user gave, at the rate; OpenFailure() says why not.
    bool Open(const std::string& name, int baudRate);
    // The same without waiting where opening may block (a Bluetooth link's port on Windows):
    // openEnded() tells the outcome, at once where opening never blocks.
    void OpenLater(const std::string& name, int baudRate);
    // An OpenLater has not ended yet.
    bool Opening() const { return userOpening_; }
    const TOpenFailure& OpenFailure() const { return port_->OpenFailure(); }
    bool IsOpen() const { return port_->IsOpen(); }
    // The port's name as the user gave it.
    const std::string& PortName() const { return name_; }
    // The rate the port has, and has again when it is opened again after a loss.
    bool SetBaudRate(int baudRate);
    int BaudRate() const { return baudRate_; }
    // While on, a port that went away is looked for and opened again at the rate it had. It is
    // always looked for while a policy waits for it.
    void SetReopen(bool reopen);
    // Looks for the port by that name until it can be opened (portBack() then): a port that is
    // not there yet.
    void WaitFor(const std::string& name, int baudRate);
    // The port went away and is being looked for.
    bool WaitingForPort() const { return replug_.isActive(); }
    // How long the session waits between two looks for the port.
    int LookEveryMs() const { return replug_.interval(); }
    // What the system said when the port was last lost; empty when it said nothing.
    const std::string& LostReason() const { return lostReason_; }

    // Runs the policy on the open port until it finishes; the port stays open afterwards.
    void Run(std::unique_ptr<TPolicy> policy);
    bool IsRunning() const { return policy_ != nullptr; }
    // The policy running, when it is a P; nothing once it has finished or was dropped. A front
    // asks here each time rather than keeping a pointer of its own.
    template <class P> P* Running() const { return dynamic_cast<P*>(policy_.get()); }
    // The policy that has ended, when it is a P, while its end is being told (its last events
    // and finished()): what the events a front is being told are of. Nothing otherwise.
    template <class P> P* Ended() const { return dynamic_cast<P*>(ended_.get()); }
    // Makes a call on the policy running (a command typed into a console, say) and applies the
    // step it returns. Asked during a delivery, it is made after it, on the policy running then:
    // the call is kept, so it holds its values rather than references to a handler's own.
    void Drive(std::function<TStep(Ms now)> call);
    // The same, on the policy running when it is a P: false (and nothing done) otherwise.
    template <class P, class Call> bool DriveAs(Call call) {
        if (!Running<P>())
            return false;
        Drive([this, call = std::move(call)](Ms now) mutable {
            P* const policy = Running<P>();
            return policy ? call(*policy, now) : TStep{};
        });
        return true;
    }
    // Stops the policy after the command (or module) under way.
    void Stop();
    // Drops the policy at once; it ends with one more event, TFinished as cancelled (finished()
    // is not emitted: the caller ended it). The port stays open.
    void Abandon();
    // Abandons the policy, closes the port and stops looking for it.
    void Close();
    // Does the work at once, or, asked by a handler during a delivery, once the delivery is over.
    void Later(std::function<void()> work);
    // A handler is being told an event.
    bool Delivering() const { return delivering_ > 0; }

    // Milliseconds since the port was first opened.
    Ms Now() const { return started_ ? clock_->Now() - *started_ : 0; }
    // When the session next has something to do by itself.
    std::optional<Ms> WakeAt() const;
    // What the session's timers do, for a test that gives the time itself: the policy's (or the
    // idle bytes') time passed, and a look for a port that went away.
    void TimePassed();
    void LookForPort();

  signals:
    void linkEvent(const kelvara::link::TEvent& event);
    // The policy has ended with this result.
    void finished(kelvara::link::TResult result);
    // The port went away; it is closed, and a policy that could not go on without it has
    // finished (after finished()).
    void portLost();
    // An OpenLater has ended: open, or OpenFailure() says why not.
    void openEnded(bool open);
    // The port came back and is open again.
    void portBack();
    // The port is there again but cannot be opened: OpenFailure() says why. It is tried again,
    // less often after each refusal in a row.
    void reopenRefused();
    // Bytes were lost or garbled before they reached the port: what the system said.
    void portTrouble(const QString& what);

  private:
    class THold;
    void Apply(TStep step);
    // Queues what a step tells, and tells it unless a delivery is already under way (which then
    // tells it after what it holds).
    void Tell(std::function<void()> news);
    void TellEvent(TEvent event);
    void Deliver();
    void AbandonNow();
    // The policy has ended: it is kept until what is told now (its end) has been.
    void EndPolicy();
    void CloseNow();
    void ReadPort();
    void LosePort();
    void PortOpened(bool open);
    void Arm();
    // Bytes that came while no policy runs (or before a write): gathered until the module is
    // quiet (or at once, when flushing), and told.
    void Idle(std::string_view bytes, bool flush);

    TPorts ports_; // where another session of this kind gets its port
    std::unique_ptr<TPort> port_;
    std::shared_ptr<const TClock> clock_;
    std::shared_ptr<void> clockWatch_; // while kept, a clock moved by hand tells the session
    std::optional<Ms> started_; // when the port was first opened, by the clock
    std::string name_;
    int baudRate_ = 0;
    std::string lostReason_;
    bool reopen_ = false;
    bool awaited_ = false;
    bool userOpening_ = false; // an OpenLater under way
    QTimer timer_;
    QTimer replug_;
    std::unique_ptr<TPolicy> policy_;
    std::unique_ptr<TPolicy> ended_; // until its end has been told
    // The news of the steps settled and not yet told, and the calls handlers made meanwhile.
    std::deque<std::function<void()>> news_;
    std::deque<std::function<void()>> asked_;
    int delivering_ = 0; // handlers being told, one inside another's call
    bool telling_ = false; // the news is being told
    // What the module says while no policy runs.
    TUnaskedBytes idle_;
};

} // namespace kelvara::link
