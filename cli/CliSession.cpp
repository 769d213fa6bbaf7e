#include "CliSession.h"

#include "CliSystem.h"

#include "Printable.h"
#include "SerialPort.h"
#include "SettingsFinder.h"

#include <memory>
#include <utility>

namespace kelvara::cli {

using namespace kelvara::link;

namespace {

std::string Shown(const QString& text) { return Printable(text.toStdString(), 256); }

// A command's own line, not the settings finder's.
bool Counts(const std::string& command) { return !command.empty() && command != kFindCommand; }

} // namespace

TCliSession::TCliSession(std::string port, std::ostream& out, std::ostream& err, TPorts ports)
    : port_(std::move(port)), out_(out), err_(err),
      application_(QCoreApplication::instance() ? std::nullopt
                                                : std::make_optional<QCoreApplication>(argc_, argv_)),
      session_(std::move(ports)),
      interrupts_([this](int count) { Interrupted(count); }) {
    IgnoreBrokenPipes();
    QObject::connect(&session_, &TModuleSession::linkEvent,
                     [this](const TEvent& event) { Seen(event); });
    QObject::connect(&session_, &TModuleSession::finished, [this](TResult result) {
        result_ = result;
        loop_.quit();
    });
    WatchPort(session_, port_, true);
    QObject::connect(&session_, &TModuleSession::portLost, [this] {
        lost_ = true;
        if (!session_.IsRunning())
            loop_.quit();
    });
    QObject::connect(&session_, &TModuleSession::portBack, [this] { lost_ = false; });
    logWatch_.setInterval(1000);
    QObject::connect(&logWatch_, &QTimer::timeout, [this] {
        if (log_ && !log_->Failure().empty())
            LogFailed();
    });
    logQuiet_.setSingleShot(true);
    logQuiet_.setInterval(kQuietGapMs);
    QObject::connect(&logQuiet_, &QTimer::timeout, [this] { LogHeldLine(); });
}

TCliSession::~TCliSession() {
    LogHeldLine();
    if (session_.IsOpen())
        LogNote(PortClosedNews(port_));
    session_.Close();
}

bool TCliSession::LogTo(const std::string& path) {
    if (path.empty())
        return true;
    auto log = std::make_unique<TLinkLog>();
    std::string why;
    if (!log->Open(path, why)) {
        err_ << kProgram << ": " << Printable(path) << ": cannot be opened as a log: " << Printable(why, 256) << '\n';
        return false;
    }
    log_ = std::move(log);
    logWatch_.start();
    return true;
}

void TCliSession::Log(const TTranscriptEntry& entry, const std::string& port) {
    if (log_ && !log_->Add(entry, WallNow(), port))
        LogFailed();
}

void TCliSession::LogHeldLine() {
    for (const TTranscriptEntry& entry : logLines_.Flush())
        Log(entry, logTag_);
}

void TCliSession::LogNote(const std::string& text) {
    LogHeldLine();
    Log({session_.Now(), link::TEntryKind::Note, text}, logTag_);
}

void TCliSession::LogOther(const std::string& port, const TEvent& event) {
    for (const TTranscriptEntry& entry : EventEntries(event))
        Log(entry, port);
}

void TCliSession::WatchPort(TModuleSession& session, const std::string& port, bool own) {
    const auto note = [this, port, own](std::string text) {
        if (own)
            LogNote(text);
        else
            Log({session_.Now(), link::TEntryKind::Note, std::move(text)}, port);
    };
    // A port that comes back but cannot be opened yet (its permissions being set, a driver
    // still starting) is tried as long as a missing one would be; each new reason is told.
    auto told = std::make_shared<QString>();
    QObject::connect(&session, &TModuleSession::portLost,
                     [note, &session, port] { note(PortLostNews(port, session.LostReason())); });
    QObject::connect(&session, &TModuleSession::reopenRefused, [this, note, told, &session, port] {
        if (session.OpenFailure().Reason != *told)
            note(PortRefusedNews(port, session.OpenFailure().Reason.toStdString()));
        TellRefusal(err_, port, session.OpenFailure(), *told);
    });
    QObject::connect(&session, &TModuleSession::portBack, [note, told, &session, port] {
        told->clear();
        note(PortBackNews(port, session.BaudRate()));
    });
    QObject::connect(&session, &TModuleSession::portTrouble, [this, note, port](const QString& what) {
        note(port + ": " + what.toStdString());
        err_ << kProgram << ": " << Printable(port) << ": " << Shown(what) << '\n';
    });
}

void TCliSession::LogOtherPort(TModuleSession& session, const std::string& port, const TSendSettings& settings) {
    Log({session_.Now(), link::TEntryKind::Note, PortOpenedNews(port, settings.BaudRate, settings.LineEnd)}, port);
    WatchPort(session, port, false);
    // Its closing is logged as the session goes, unless the port had gone before.
    auto open = std::make_shared<bool>(true);
    QObject::connect(&session, &TModuleSession::portLost, [open] { *open = false; });
    QObject::connect(&session, &TModuleSession::portBack, [open] { *open = true; });
    QObject::connect(&session, &QObject::destroyed, [this, open, port] {
        if (*open)
            Log({session_.Now(), link::TEntryKind::Note, PortClosedNews(port)}, port);
    });
}

void TCliSession::LogFailed() {
    if (!log_)
        return;
    // Said once; nothing more is logged, and the work stops as a record that cannot be written
    // stops it.
    err_ << kProgram << ": " << Printable(log_->Path()) << ": the log cannot be written: "
         << Printable(log_->Failure(), 256) << '\n';
    log_.reset();
    logWatch_.stop();
    StopAtOnce(kExitLog);
}

void ReportOpenFailure(std::ostream& err, const std::string& port, const TOpenFailure& failure) {
    err << kProgram << ": " << Printable(port) << ": " << Shown(failure.Reason) << '\n';
    if (failure.PermissionDenied())
        err << kProgram << ": " << Shown(PermissionHint(port)) << '\n';
}

void TellRefusal(std::ostream& err, const std::string& port, const TOpenFailure& failure,
                 QString& told) {
    if (failure.Reason == told)
        return;
    told = failure.Reason;
    err << kProgram << ": " << Printable(port) << ": back but cannot be opened (" << Shown(failure.Reason)
        << "); trying again\n";
}

void TCliSession::ReportOpenFailure() { cli::ReportOpenFailure(err_, port_, session_.OpenFailure()); }

bool TCliSession::Open(const TSendSettings& settings) {
    if (session_.Open(port_, settings.BaudRate)) {
        LogNote(PortOpenedNews(port_, settings.BaudRate, settings.LineEnd));
        return true;
    }
    ReportOpenFailure();
    return false;
}

int TCliSession::OpenWhenThere(const TSendSettings& settings) {
    if (session_.Open(port_, settings.BaudRate)) {
        LogNote(PortOpenedNews(port_, settings.BaudRate, settings.LineEnd));
        return kExitOk;
    }
    if (session_.OpenFailure().Kind != TOpenFailure::TKind::NoSuchPort) {
        ReportOpenFailure();
        return kExitPort;
    }
    progress_.Show(0, 1, "waiting for " + Printable(port_));
    QObject::connect(&session_, &TModuleSession::portBack, &loop_, &QEventLoop::quit);
    session_.WaitFor(port_, settings.BaudRate);
    while (!session_.IsOpen() && !stoppedAtOnce_ && !stoppedWith_)
        loop_.exec();
    QObject::disconnect(&session_, &TModuleSession::portBack, &loop_, &QEventLoop::quit);
    progress_.Clear();
    if (stoppedWith_)
        return *stoppedWith_;
    return session_.IsOpen() ? kExitOk : ReportInterrupted();
}

std::optional<TResult> TCliSession::Run(std::unique_ptr<TPolicy> policy,
                                        std::function<void(const TEvent&)> onEvent) {
    onEvent_ = std::move(onEvent);
    result_.reset();
    session_.Run(std::move(policy));
    while (!result_ && !stoppedAtOnce_ && !stoppedWith_ && session_.IsRunning())
        loop_.exec();
    progress_.Clear();
    onEvent_ = nullptr;
    return stoppedAtOnce_ || stoppedWith_ ? std::nullopt : result_;
}

void TCliSession::Loop(const std::function<bool()>& done) {
    while (!done() && !stoppedAtOnce_ && !stoppedWith_)
        loop_.exec();
    progress_.Clear();
}

void TCliSession::StopAtOnce(int status) {
    stoppedWith_ = status;
    session_.Abandon();
    loop_.quit();
}

int TCliSession::Connect(const TTalkRequest& request, TSendSettings& settings) {
    if (!Open(settings))
        return kExitPort;
    if (!request.FindBaudRate)
        return kExitOk;
    const int status = Find(settings, request.LineEndGiven);
    return status == kExitOk ? status : Finish(status);
}

int TCliSession::Find(TSendSettings& settings, bool keepLineEnd, bool* echoes) {
    std::optional<TFound> found;
    const auto result = Run(std::make_unique<TSettingsFinder>(), [&](const TEvent& event) {
        if (const auto* trying = std::get_if<TTrying>(&event))
            progress_.Show(trying->Index, TSettingsFinder::TryCount(),
                           std::to_string(trying->BaudRate) + " baud, line ending " +
                               std::string(LineEndName(trying->LineEnd)));
        else if (const auto* seen = std::get_if<TFound>(&event))
            found = *seen;
    });
    if (!result || *result == TResult::Cancelled)
        return ReportInterrupted();
    if (*result == TResult::Failed)
        return ReportPortLost();
    if (*result == TResult::NotFound || !found) {
        err_ << kProgram << ": " << Printable(port_) << ": no module answered at any setting\n";
        return kExitNotAcknowledged;
    }
    settings.BaudRate = found->BaudRate;
    if (!keepLineEnd)
        settings.LineEnd = found->LineEnd;
    if (echoes)
        *echoes = found->Echoes;
    return kExitOk;
}

void TCliSession::Print(const std::string& line) {
    if (outFailed_)
        return;
    out_ << line << '\n';
    out_.flush();
    outFailed_ = !out_;
}

int TCliSession::Finish(int status) {
    progress_.Clear();
    if (!outFailed_)
        return status;
    err_ << kProgram << ": could not write to standard output\n";
    return kExitRejected;
}

int TCliSession::ReportInterrupted() {
    if (!lastAcknowledged_.empty())
        err_ << kProgram << ": interrupted; the last command acknowledged was "
             << Printable(lastAcknowledged_) << '\n';
    else
        err_ << kProgram << ": interrupted before any command was acknowledged\n";
    return kExitInterrupted;
}

int TCliSession::ReportPortLost() {
    const std::string& reason = session_.LostReason();
    err_ << kProgram << ": " << Printable(port_) << ": connection lost"
         << (reason.empty() ? "" : " (" + reason + ')') << '\n';
    return kExitPort;
}

void TCliSession::Seen(const TEvent& event) {
    for (const TTranscriptEntry& entry : logLines_.Entries(event))
        Log(entry, logTag_);
    if (logLines_.Holding())
        logQuiet_.start();
    else
        logQuiet_.stop();
    if (const auto* written = std::get_if<TWritten>(&event); written && written->Kind == TWriteKind::Command)
        underWay_ = written->Command;
    if (const auto* outcome = std::get_if<TOutcome>(&event)) {
        underWay_.clear();
        if (outcome->Acknowledged() && Counts(outcome->Command))
            lastAcknowledged_ = outcome->Command;
    }
    if (onEvent_)
        onEvent_(event);
}

// The first interrupt stops after the command under way; the next stops at once.
void TCliSession::Interrupted(int count) {
    progress_.Clear();
    if (count == 1 && firstInterrupt_ && firstInterrupt_())
        return;
    if (count == 1 && session_.IsRunning()) {
        if (!underWay_.empty())
            err_ << kProgram << ": stopping after " << Printable(underWay_)
                 << ", the command under way (interrupt again to stop at once)\n";
        err_.flush();
        session_.Stop();
        return;
    }
    if (!underWay_.empty())
        err_ << kProgram << ": stopped at once, during " << Printable(underWay_) << '\n';
    stoppedAtOnce_ = true;
    if (stopAtOnce_)
        stopAtOnce_();
    session_.Close();
    loop_.quit();
}

std::string AcknowledgedLine(const TOutcome& outcome) {
    return Printable(outcome.Command, 256) + '\t' + ShownReply(outcome.Reply);
}

std::string FailureLine(const std::string& command, const std::string& why) {
    return std::string(kProgram) + ": " + Printable(command, 256) + ": " + why + '\n';
}

std::string FailureLine(const TOutcome& outcome) {
    return FailureLine(outcome.Command, FailureText(outcome));
}

} // namespace kelvara::cli
