// The half of kelvara-cli that talks to a module: sending a list, a session on a terminal,
// finding the settings and listing the ports. Each runs the link's policies on the event loop.
#include "Talk.h"

#include "Cli.h"
#include "CommandFile.h"
#include "Console.h"
#include "ListSender.h"
#include "ModuleLink.h"
#include "Printable.h"
#include "SerialPorts.h"
#include "SettingsFinder.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>

using namespace kelvara::link;

namespace kelvara::cli {

namespace {

constexpr std::string_view kProgram = "kelvara-cli";

std::string Shown(const QString& text) { return Printable(text.toStdString(), 256); }

// Turns SIGINT, SIGTERM and SIGHUP into a call on the event loop, through a pipe: a signal
// handler may do little more than write a byte. The call is told how many have come.
class TInterrupts {
  public:
    explicit TInterrupts(std::function<void(int)> onInterrupt) : onInterrupt_(std::move(onInterrupt)) {
        if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        writeEnd_ = pipe_[1];
        notifier_.emplace(pipe_[0], QSocketNotifier::Read);
        QObject::connect(&*notifier_, &QSocketNotifier::activated, [this] {
            char drained[16];
            ssize_t n = 0;
            while ((n = read(pipe_[0], drained, sizeof drained)) > 0) {
                for (ssize_t i = 0; i < n; ++i)
                    onInterrupt_(++count_);
            }
        });
        struct sigaction action = {};
        action.sa_handler = &TInterrupts::Handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], &action, &old_[i]);
    }
    ~TInterrupts() {
        if (pipe_[0] < 0)
            return;
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], &old_[i], nullptr);
        writeEnd_ = -1;
        notifier_.reset();
        close(pipe_[0]);
        close(pipe_[1]);
    }
    TInterrupts(const TInterrupts&) = delete;
    TInterrupts& operator=(const TInterrupts&) = delete;

    int Count() const { return count_; }

  private:
    static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};

    static void Handle(int) {
        const int saved = errno;
        if (writeEnd_ >= 0) {
            const char byte = 1;
            [[maybe_unused]] const auto written = write(writeEnd_, &byte, 1);
        }
        errno = saved;
    }

    static inline volatile sig_atomic_t writeEnd_ = -1;
    std::function<void(int)> onInterrupt_;
    int pipe_[2] = {-1, -1};
    std::optional<QSocketNotifier> notifier_;
    std::array<struct sigaction, 3> old_ = {};
    int count_ = 0;
};

// The one-line progress display on a terminal's standard error.
class TProgress {
  public:
    TProgress() : shown_(isatty(STDERR_FILENO) == 1) {}
    ~TProgress() { Clear(); }

    // "[3/9] AT+COMP1 ...": which step of how many, and what it is.
    void Show(std::size_t index, std::size_t total, const std::string& what) {
        if (!shown_)
            return;
        std::fprintf(stderr, "\r\033[K[%zu/%zu] %s ...", index + 1, total, what.c_str());
        std::fflush(stderr);
        drawn_ = true;
    }
    void Clear() {
        if (drawn_)
            std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }

  private:
    bool shown_;
    bool drawn_ = false;
};

QCoreApplication& Application() {
    if (auto* existing = QCoreApplication::instance())
        return *existing;
    static int argc = 1;
    static char name[] = "kelvara-cli";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    return application;
}

// What a session with a module needs: the port, the event loop, the interrupts and the output.
class TSession {
  public:
    TSession(std::string port, std::ostream& out, std::ostream& err)
        : port_(std::move(port)), out_(out), err_(err),
          interrupts_([this](int count) { Interrupted(count); }) {
        // A closed pipe must not kill a send part-way: writing fails, and is reported at the end.
        signal(SIGPIPE, SIG_IGN);
        QObject::connect(&link_, &TModuleLink::linkEvent,
                         [this](const TEvent& event) { Seen(event); });
        QObject::connect(&link_, &TModuleLink::finished, [this](TResult result) {
            result_ = result;
            loop_.quit();
        });
        QObject::connect(&link_, &TModuleLink::portLost, [this] {
            lost_ = true;
            loop_.quit();
        });
    }

    // Opens the port; a failure is reported.
    bool Open(int baudRate) {
        if (link_.Open(port_, baudRate))
            return true;
        err_ << kProgram << ": " << Printable(port_) << ": " << Shown(link_.OpenFailure().Reason)
             << '\n';
        if (link_.OpenFailure().PermissionDenied)
            err_ << kProgram << ": " << Shown(PermissionHint(port_)) << '\n';
        return false;
    }

    // Runs the policy until it finishes; nothing when it was stopped at once.
    std::optional<TResult> Run(std::unique_ptr<TPolicy> policy,
                               std::function<void(const TEvent&)> onEvent) {
        onEvent_ = std::move(onEvent);
        result_.reset();
        link_.Run(std::move(policy));
        if (!result_ && !stoppedAtOnce_)
            loop_.exec();
        progress_.Clear();
        onEvent_ = nullptr;
        return stoppedAtOnce_ ? std::nullopt : result_;
    }

    // Opens the port, and with --baud auto finds the settings; a failure is reported and its
    // exit status given, or 0 once the port is ready.
    int Connect(const TTalkRequest& request, TSendSettings& settings) {
        if (!Open(settings.BaudRate))
            return kExitPort;
        if (!request.FindBaudRate)
            return kExitOk;
        const int status = Find(settings, request.LineEndGiven);
        return status == kExitOk ? status : Finish(status);
    }

    // Finds the settings; reports a failure and gives the exit status, or 0 once found.
    int Find(TSendSettings& settings, bool keepLineEnd, bool* echoes = nullptr) {
        TEvent found;
        const auto result = Run(std::make_unique<TSettingsFinder>(), [&](const TEvent& event) {
            if (event.Kind == TEventKind::Trying) {
                progress_.Show(event.Index, TSettingsFinder::TryCount(),
                               std::to_string(event.BaudRate) + " baud, line ending " +
                               std::string(LineEndName(event.LineEnd)));
            } else if (event.Kind == TEventKind::Found) {
                found = event;
            }
        });
        if (!result || *result == TResult::Cancelled)
            return Interrupted();
        if (*result == TResult::Failed)
            return PortLost();
        if (*result == TResult::NotFound) {
            err_ << kProgram << ": " << Printable(port_) << ": no module answered at any setting\n";
            return kExitNotAcknowledged;
        }
        settings.BaudRate = found.BaudRate;
        if (!keepLineEnd)
            settings.LineEnd = found.LineEnd;
        if (echoes)
            *echoes = found.Echoes;
        return kExitOk;
    }

    // Writes a line on standard output; a failure is remembered and the work goes on.
    void Print(const std::string& line) {
        if (outFailed_)
            return;
        out_ << line << '\n';
        out_.flush();
        outFailed_ = !out_;
    }

    // The exit status once the work is done: a failure to write standard output makes it 1.
    int Finish(int status) {
        progress_.Clear();
        if (!outFailed_)
            return status;
        err_ << kProgram << ": could not write to standard output\n";
        return kExitRejected;
    }

    int Interrupted() {
        if (!lastAcknowledged_.empty())
            err_ << kProgram << ": interrupted; the last command acknowledged was "
                 << Printable(lastAcknowledged_) << '\n';
        else
            err_ << kProgram << ": interrupted before any command was acknowledged\n";
        return kExitInterrupted;
    }

    int PortLost() {
        err_ << kProgram << ": " << Printable(port_) << ": connection lost\n";
        return kExitPort;
    }

    TModuleLink& Link() { return link_; }
    TProgress& Progress() { return progress_; }
    std::ostream& Err() { return err_; }
    bool Lost() const { return lost_; }

  private:
    void Seen(const TEvent& event) {
        if (event.Kind == TEventKind::Written && !event.Command.empty())
            underWay_ = event.Command;
        if (event.IsOutcome())
            underWay_.clear();
        if (event.Kind == TEventKind::Acknowledged && event.Command != kFindCommand)
            lastAcknowledged_ = event.Command;
        if (onEvent_)
            onEvent_(event);
    }

    // The first interrupt stops after the command under way; the next stops at once.
    void Interrupted(int count) {
        progress_.Clear();
        if (count == 1 && link_.IsRunning()) {
            if (!underWay_.empty())
                err_ << kProgram << ": stopping after " << Printable(underWay_)
                     << ", the command under way (interrupt again to stop at once)\n";
            err_.flush();
            link_.Cancel();
            return;
        }
        if (!underWay_.empty())
            err_ << kProgram << ": stopped at once, during " << Printable(underWay_) << '\n';
        stoppedAtOnce_ = true;
        link_.Close();
        loop_.quit();
    }

    std::string port_;
    std::ostream& out_;
    std::ostream& err_;
    QCoreApplication& application_ = Application();
    TModuleLink link_;
    QEventLoop loop_;
    TProgress progress_;
    TInterrupts interrupts_;
    std::function<void(const TEvent&)> onEvent_;
    std::optional<TResult> result_;
    std::string underWay_;
    std::string lastAcknowledged_;
    bool stoppedAtOnce_ = false;
    bool lost_ = false;
    bool outFailed_ = false;
};

std::string AcknowledgedLine(const TEvent& event) {
    return Printable(event.Command, 256) + '\t' + ShownReply(event.Reply);
}

std::string FailureLine(const TEvent& event) {
    return std::string(kProgram) + ": " + Printable(event.Command, 256) + ": " +
           FailureText(event) + '\n';
}

} // namespace

int SendCommands(const TTalkRequest& request, std::ostream& out, std::ostream& err) {
    TSession session(request.Port, out, err);
    TSendSettings settings = request.Settings;
    if (const int status = session.Connect(request, settings); status != kExitOk)
        return status;
    const std::size_t total = request.Commands.size();
    std::optional<TEvent> failure;
    const auto result = session.Run(
        std::make_unique<TListSender>(request.Commands, settings), [&](const TEvent& event) {
            if (event.Kind == TEventKind::Written) {
                session.Progress().Show(event.Index, total, Printable(event.Command));
            } else if (event.Kind == TEventKind::Acknowledged) {
                session.Progress().Clear();
                session.Print(AcknowledgedLine(event));
            } else if (event.IsOutcome()) {
                failure = event;
            }
        });
    if (!result || *result == TResult::Cancelled) {
        // A command that failed while stopping is what happened to the module.
        if (failure)
            err << FailureLine(*failure);
        return session.Finish(failure ? kExitNotAcknowledged : session.Interrupted());
    }
    if (*result == TResult::Failed) {
        err << FailureLine(*failure);
        return session.Finish(kExitNotAcknowledged);
    }
    return session.Finish(kExitOk);
}

int TalkInteractively(const TTalkRequest& request, std::ostream& out, std::ostream& err) {
    TSession session(request.Port, out, err);
    TSendSettings settings = request.Settings;
    if (const int status = session.Connect(request, settings); status != kExitOk)
        return status;
    TModuleLink& link = session.Link();

    // Lines typed are read as the terminal hands them over, each sent when it is complete.
    std::string pending;
    std::size_t lineNumber = 0;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n > 0)
            pending.append(buffer, static_cast<std::size_t>(n));
        const bool ended = n <= 0;
        std::size_t end = 0;
        while ((end = pending.find('\n')) != std::string::npos || (ended && !pending.empty())) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end == std::string::npos ? pending.size() : end + 1);
            auto read = ReadCommandLine(line, ++lineNumber);
            if (const auto* refused = std::get_if<TCommandFileError>(&read))
                err << kProgram << ": line " << refused->Line << ": " << refused->Reason << '\n';
            else if (!std::get<std::string>(read).empty())
                link.Submit(std::move(std::get<std::string>(read)));
        }
        if (pending.size() > kMaxCommandBytes * 4)
            pending.clear(); // a line far too long to be a command
        if (ended) {
            input.setEnabled(false);
            link.EndConsole();
        }
    });

    const auto result = session.Run(
        std::make_unique<TConsole>(settings.LineEnd, settings.TimeoutMs), [&](const TEvent& event) {
            if (event.Kind == TEventKind::Acknowledged)
                session.Print(AcknowledgedLine(event));
            else if (event.IsOutcome() || event.Kind == TEventKind::NotSent)
                err << FailureLine(event);
            else if (event.Kind == TEventKind::Unasked)
                session.Print('\t' + ShownReply(event.Bytes));
        });
    if (session.Lost())
        return session.Finish(session.PortLost());
    if (!result || *result == TResult::Cancelled)
        return session.Finish(session.Interrupted());
    return session.Finish(kExitOk);
}

int FindSettings(const std::string& port, std::ostream& out, std::ostream& err) {
    TSession session(port, out, err);
    TSendSettings settings;
    if (!session.Open(settings.BaudRate))
        return kExitPort;
    bool echoes = false;
    if (const int status = session.Find(settings, false, &echoes); status != kExitOk)
        return session.Finish(status);
    session.Print(std::to_string(settings.BaudRate) + ' ' +
                  std::string(LineEndName(settings.LineEnd)) + (echoes ? " echo" : ""));
    return session.Finish(kExitOk);
}

int ListPorts(std::ostream& out, std::ostream& err) {
    for (const TPortDescription& port : AvailablePorts())
        out << Shown(port.Name) << '\t' << Shown(port.Description) << '\n';
    out.flush();
    if (!out) {
        err << kProgram << ": could not write to standard output\n";
        return kExitRejected;
    }
    return kExitOk;
}

} // namespace kelvara::cli
