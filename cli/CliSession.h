#pragma once

// What every talk of kelvara-cli with a module needs: the module session, an event loop to run
// it in, the interrupts, the progress line, standard output and the exit statuses.

#include "Interrupts.h"
#include "LinkLog.h"
#include "Options.h"
#include "Session.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace kelvara::cli {

class TCliSession {
  public:
    // On the system's ports unless others are given.
    TCliSession(std::string port, std::ostream& out, std::ostream& err,
                link::TPorts ports = link::SystemPorts());
    ~TCliSession();

    // Keeps a log of the session in the file (no file: no log): every entry appended with its
    // time. False, reported, when it cannot be opened; once it cannot be written, the work
    // stops at once with kExitLog.
    bool LogTo(const std::string& path);
    // Logs an event of another session (a batch's other port), its lines marked with the port.
    void LogOther(const std::string& port, const link::TEvent& event);
    // Logs the life of another session's port (a batch's other port), marked with the port: opened
    // now, then as its own port's (WatchPort), and closed when that session ends.
    void LogOtherPort(link::TModuleSession& session, const std::string& port, const link::TSendSettings& settings);
    // Marks the lines of this session's own port too (a batch over several ports).
    void TagLog(std::string port) { logTag_ = std::move(port); }
    // Logs a note on the port's life ("-- COM3 went away").
    void LogNote(const std::string& text);

    // Opens the port; a failure is reported.
    bool Open(const link::TSendSettings& settings);
    // Opens the port, waiting for it while it is not there (a batch started before its adapter
    // is plugged in): 0 once open, or the exit status.
    int OpenWhenThere(const link::TSendSettings& settings);
    // Opens the port, and with --baud auto finds the settings; a failure is reported and its
    // exit status given, or 0 once the port is ready.
    int Connect(const TTalkRequest& request, link::TSendSettings& settings);
    // Finds the settings; reports a failure and gives the exit status, or 0 once found.
    int Find(link::TSendSettings& settings, bool keepLineEnd, bool* echoes = nullptr);

    // Runs the policy until it finishes, handing each event to onEvent; nothing when it was
    // stopped at once (a second interrupt, or StopAtOnce).
    std::optional<link::TResult> Run(std::unique_ptr<link::TPolicy> policy,
                                     std::function<void(const link::TEvent&)> onEvent);
    // Runs the event loop until done() holds, or the work is stopped at once.
    void Loop(const std::function<bool()>& done);
    // Wakes Loop to look at done() again.
    void Wake() { loop_.quit(); }
    // Ends the run under way at once, with this exit status.
    void StopAtOnce(int status);
    // What a second interrupt also stops at once, beside the session's own policy.
    void OnStopAtOnce(std::function<void()> stop) { stopAtOnce_ = std::move(stop); }
    // The status StopAtOnce gave, if any.
    std::optional<int> StoppedWith() const { return stoppedWith_; }

    // Writes a line on standard output; a failure is remembered and the work goes on.
    void Print(const std::string& line);
    // The exit status once the work is done: a failure to write standard output makes it 1.
    int Finish(int status);
    // Says what an interrupt left done; the exit status of an interrupt.
    int ReportInterrupted();
    int ReportPortLost();
    void ReportOpenFailure();

    // Replaces what the first interrupt does while `takes` says so: a batch finishes the module
    // under way instead of stopping after its command.
    void OnFirstInterrupt(std::function<bool()> takes) { firstInterrupt_ = std::move(takes); }
    bool StoppedAtOnce() const { return stoppedAtOnce_; }
    bool Lost() const { return lost_; }

    link::TModuleSession& Session() { return session_; }
    TProgress& Progress() { return progress_; }
    std::ostream& Err() { return err_; }
    const std::string& Port() const { return port_; }

  private:
    // Logs what came of a line the device left unended.
    void LogHeldLine();
    void Seen(const link::TEvent& event);
    // Logs a port's life (gone, refused at a replug, back, the driver's trouble), marked as this
    // session's own lines or with the port, and tells refusals and trouble on standard error.
    void WatchPort(link::TModuleSession& session, const std::string& port, bool own);
    void Interrupted(int count);
    void Log(const link::TTranscriptEntry& entry, const std::string& port);
    // The log cannot be written: said, and the work stops at once.
    void LogFailed();

    std::string port_;
    std::ostream& out_;
    std::ostream& err_;
    // kelvara-cli's event loop, unless the caller has one.
    int argc_ = 1;
    char name_[12] = "kelvara-cli";
    char* argv_[2] = {name_, nullptr};
    std::optional<QCoreApplication> application_;
    link::TModuleSession session_;
    QEventLoop loop_;
    TProgress progress_;
    TInterrupts interrupts_;
    std::function<void(const link::TEvent&)> onEvent_;
    std::function<bool()> firstInterrupt_;
    std::function<void()> stopAtOnce_;
    std::optional<link::TResult> result_;
    std::optional<int> stoppedWith_;
    std::string underWay_;
    std::string lastAcknowledged_;
    bool stoppedAtOnce_ = false;
    bool lost_ = false;
    bool outFailed_ = false;
    std::unique_ptr<link::TLinkLog> log_;
    std::string logTag_;
    QTimer logWatch_; // a failure to sync is told within a second, lines or none
    // The device's data is logged a line an entry; a line left unended, once the device is quiet.
    link::TEventLines logLines_;
    QTimer logQuiet_;
};

// "kelvara-cli: PORT: WHY", and what to do about a permission denied.
void ReportOpenFailure(std::ostream& err, const std::string& port, const link::TOpenFailure& failure);
// "kelvara-cli: PORT: back but cannot be opened (WHY); trying again", once for each new reason
// (told keeps the last).
void TellRefusal(std::ostream& err, const std::string& port, const link::TOpenFailure& failure,
                 QString& told);
// "COMMAND<TAB>REPLY": an acknowledged command as printed.
std::string AcknowledgedLine(const link::TOutcome& outcome);
// "kelvara-cli: COMMAND: WHY\n": a failed command as reported.
std::string FailureLine(const std::string& command, const std::string& why);
std::string FailureLine(const link::TOutcome& outcome);

} // namespace kelvara::cli
