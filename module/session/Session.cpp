#include "Session.h"

#include "SerialPort.h"

#include <algorithm>
#include <utility>

namespace kelvara::link {

namespace {

// How often a port that went away is looked for, and at most how long between two tries of a
// port that is there but refused.
constexpr int kLookForPortMs = 100;
constexpr int kLongestRefusedWaitMs = 3200;

} // namespace

TPorts SystemPorts() {
    static const auto clock = std::make_shared<TSteadyClock>();
    return {[] { return std::make_unique<TSerialPort>(); }, clock};
}

TModuleSession::TModuleSession(QObject* parent) : TModuleSession(SystemPorts(), parent) {}

TModuleSession::TModuleSession(TPorts ports, QObject* parent)
    : TModuleSession(ports.Make(), ports.Clock, parent) {
    ports_ = std::move(ports);
}

std::unique_ptr<TModuleSession> TModuleSession::Another() const {
    // A session made on a port of its own has the system's ports for others, on its clock.
    TPorts ports = ports_.Make ? ports_ : TPorts{SystemPorts().Make, clock_};
    return std::make_unique<TModuleSession>(std::move(ports));
}

TModuleSession::TModuleSession(std::unique_ptr<TPort> port, std::shared_ptr<const TClock> clock,
                               QObject* parent)
    : QObject(parent), port_(std::move(port)), clock_(std::move(clock)) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &TModuleSession::TimePassed);
    replug_.setInterval(kLookForPortMs);
    connect(&replug_, &QTimer::timeout, this, &TModuleSession::LookForPort);
    connect(port_.get(), &TPort::readyRead, this, &TModuleSession::ReadPort);
    connect(port_.get(), &TPort::lost, this, &TModuleSession::LosePort);
    connect(port_.get(), &TPort::opened, this, &TModuleSession::PortOpened);
    connect(port_.get(), &TPort::trouble, this,
            [this](const QString& what) { Tell([this, what] { emit portTrouble(what); }); });
    // Time skipped by hand: what fell due meanwhile is done now, a look for the port included.
    clockWatch_ = clock_->WhenMoved([this] {
        TimePassed();
        if (WaitingForPort())
            LookForPort();
    });
}

TModuleSession::~TModuleSession() {
    clockWatch_.reset();
    timer_.stop();
    replug_.stop();
    policy_.reset();
    ended_.reset();
    port_->disconnect(this);
    port_->Close();
}

bool TModuleSession::Open(const std::string& name, int baudRate) {
    CloseNow();
    if (!port_->Open(name, baudRate))
        return false;
    name_ = name;
    baudRate_ = baudRate;
    if (!started_)
        started_ = clock_->Now();
    return true;
}

void TModuleSession::OpenLater(const std::string& name, int baudRate) {
    CloseNow();
    name_ = name;
    baudRate_ = baudRate;
    userOpening_ = true;
    port_->OpenLater(name, baudRate);
}

bool TModuleSession::SetBaudRate(int baudRate) {
    // Kept even while the port is away: it comes back at this rate.
    baudRate_ = baudRate;
    return IsOpen() && port_->SetBaudRate(baudRate);
}

void TModuleSession::SetReopen(bool reopen) {
    reopen_ = reopen;
    if (!reopen_ && !policy_)
        replug_.stop();
}

void TModuleSession::WaitFor(const std::string& name, int baudRate) {
    CloseNow();
    name_ = name;
    baudRate_ = baudRate;
    awaited_ = true;
    replug_.start(kLookForPortMs);
}

// Holds the news back while a step settles; the outermost hold tells it.
class TModuleSession::THold {
  public:
    explicit THold(TModuleSession& session) : session_(session), outer_(!session.telling_) {
        session_.telling_ = true;
    }
    ~THold() {
        if (!outer_)
            return;
        session_.telling_ = false;
        session_.Deliver();
    }
    THold(const THold&) = delete;
    THold& operator=(const THold&) = delete;

  private:
    TModuleSession& session_;
    bool outer_;
};

void TModuleSession::Later(std::function<void()> work) {
    if (Delivering()) {
        asked_.push_back(std::move(work));
        return;
    }
    work();
}

void TModuleSession::Tell(std::function<void()> news) {
    news_.push_back(std::move(news));
    Deliver();
}

void TModuleSession::TellEvent(TEvent event) {
    Tell([this, event = std::move(event)] { emit linkEvent(event); });
}

void TModuleSession::Deliver() {
    if (telling_)
        return;
    telling_ = true;
    while (!news_.empty() || !asked_.empty()) {
        if (!news_.empty()) {
            const std::function<void()> news = std::move(news_.front());
            news_.pop_front();
            ++delivering_;
            news();
            --delivering_;
            continue;
        }
        // Everything told: what the handlers asked is done now, in order; its own news is told
        // before the next call.
        const std::function<void()> work = std::move(asked_.front());
        asked_.pop_front();
        work();
    }
    telling_ = false;
}

void TModuleSession::Run(std::unique_ptr<TPolicy> policy) {
    auto held = std::make_shared<std::unique_ptr<TPolicy>>(std::move(policy));
    Later([this, held] {
        if (!Expect(IsOpen() && !policy_, "a policy runs alone on an open port"))
            return;
        THold hold(*this);
        // What the module said before is reported before the policy's first event.
        Idle({}, true);
        policy_ = std::move(*held);
        Apply(policy_->Start(Now()));
    });
}

void TModuleSession::Drive(std::function<TStep(Ms)> call) {
    // Asked during a delivery, the policy may have ended by the time the call is made.
    if (!Expect(policy_ != nullptr || Delivering(), "a call goes to a running policy"))
        return;
    Later([this, call = std::move(call)] {
        if (policy_)
            Apply(call(Now()));
    });
}

void TModuleSession::Stop() {
    Later([this] {
        if (policy_)
            Apply(policy_->Cancel(Now()));
    });
}

void TModuleSession::Abandon() {
    Later([this] { AbandonNow(); });
}

void TModuleSession::AbandonNow() {
    timer_.stop();
    if (!policy_)
        return;
    THold hold(*this);
    TellEvent(TFinished{.At = Now(), .Result = TResult::Cancelled});
    EndPolicy();
}

void TModuleSession::EndPolicy() {
    ended_ = std::move(policy_);
    Tell([this, ended = ended_.get()] {
        if (ended_.get() == ended)
            ended_.reset();
    });
}

void TModuleSession::Close() {
    Later([this] { CloseNow(); });
}

void TModuleSession::CloseNow() {
    THold hold(*this);
    userOpening_ = false;
    AbandonNow();
    replug_.stop();
    awaited_ = false;
    port_->Close();
    idle_ = TUnaskedBytes();
}

void TModuleSession::Apply(TStep step) {
    // The step settles first: its rate, its write, its end. Only then is it told.
    THold hold(*this);
    bool failed = false;
    if (step.SetBaudRate)
        SetBaudRate(*step.SetBaudRate);
    if (step.Write && IsOpen()) {
        // What the module said before a command is no answer to it; it is still shown. Any
        // other write leaves the port's bytes to reach the policy in their turn.
        if (step.SetAside)
            Idle(port_->DiscardInput(), true);
        failed = !port_->Write(*step.Write);
    }
    const std::optional<TResult> result = step.Finished();
    for (TEvent& event : step.Events)
        TellEvent(std::move(event));
    if (result) {
        Tell([this, result = *result] { emit finished(result); });
        EndPolicy();
        Arm();
        return;
    }
    if (failed) {
        LosePort();
        return;
    }
    Arm();
}

void TModuleSession::Idle(std::string_view bytes, bool flush) {
    TStep step;
    idle_.Add(bytes, Now(), step);
    idle_.Report(Now(), step, flush);
    for (TEvent& event : step.Events)
        TellEvent(std::move(event));
}

std::optional<Ms> TModuleSession::WakeAt() const {
    return Earliest(policy_ ? policy_->WakeAt() : std::nullopt, idle_.WakeAt());
}

void TModuleSession::Arm() {
    const std::optional<Ms> wake = WakeAt();
    if (wake)
        timer_.start(static_cast<int>(std::max<Ms>(0, *wake - Now())));
    else
        timer_.stop();
}

void TModuleSession::ReadPort() {
    THold hold(*this);
    const std::string bytes = port_->ReadAll();
    if (bytes.empty())
        return;
    if (policy_) {
        Apply(policy_->BytesReceived(bytes, Now()));
        return;
    }
    Idle(bytes, false);
    Arm();
}

void TModuleSession::TimePassed() {
    THold hold(*this);
    if (policy_) {
        Apply(policy_->TimePassed(Now()));
        return;
    }
    Idle({}, false);
    Arm();
}

void TModuleSession::LosePort() {
    // An unplugged adapter, a hung-up line or a failed read or write: the module is out of
    // reach. What it said before it went still counts.
    if (!IsOpen())
        return;
    THold hold(*this);
    ReadPort();
    if (!IsOpen())
        return;
    lostReason_ = port_->LostReason();
    port_->Close();
    Idle({}, true);
    if (policy_) {
        TStep step = policy_->ConnectionLost(Now());
        // Each failure the loss caused says what the system said of it.
        const auto explain = [this](TOutcome* outcome) {
            if (outcome && outcome->Verdict == TVerdict::ConnectionLost)
                outcome->Detail = lostReason_;
        };
        for (TEvent& event : step.Events) {
            explain(std::get_if<TOutcome>(&event));
            if (auto* ended = std::get_if<TModuleEnded>(&event); ended && ended->Failure)
                explain(&*ended->Failure);
        }
        Apply(std::move(step));
    }
    if (policy_ || reopen_)
        replug_.start(kLookForPortMs);
    Tell([this] { emit portLost(); });
}

void TModuleSession::LookForPort() {
    if (IsOpen() || (!reopen_ && !policy_ && !awaited_)) {
        replug_.stop();
        return;
    }
    // An opening may take seconds (a Bluetooth link's port connects first): it goes on away
    // from the event loop, and the port is looked for again once it has ended.
    if (port_->Opening() || !port_->Exists(name_))
        return;
    port_->OpenLater(name_, baudRate_);
}

void TModuleSession::PortOpened(bool open) {
    THold hold(*this);
    if (std::exchange(userOpening_, false)) {
        if (open && !started_)
            started_ = clock_->Now();
        Tell([this, open] { emit openEnded(open); });
        return;
    }
    // An opening given up (the session closed) tells nothing.
    if (!replug_.isActive() || IsOpen() != open)
        return;
    if (!open) {
        // It may still be being set up (its permissions, a Bluetooth link connecting): tried
        // again, each time a little later. A port listed but not there yet (Windows lists some
        // ports before they can be opened) is simply not back.
        if (port_->OpenFailure().Kind != TOpenFailure::TKind::NoSuchPort) {
            replug_.setInterval(std::min(replug_.interval() * 2, kLongestRefusedWaitMs));
            Tell([this] { emit reopenRefused(); });
        }
        return;
    }
    replug_.stop();
    replug_.setInterval(kLookForPortMs);
    awaited_ = false;
    if (!started_)
        started_ = clock_->Now();
    if (policy_)
        Apply(policy_->PortBack(Now()));
    Tell([this] { emit portBack(); });
}

} // namespace kelvara::link
