#pragma once

// What every talk of kelvara-cli with a module needs: the port, the event loop, the interrupts,
// the progress line and standard output.

#include "Cli.h"
#include "Link.h"
#include "ModuleLink.h"
#include "Printable.h"
#include "SettingsFinder.h"
#include "Talk.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace kelvara::cli {

// Only kelvara-cli's own sources include this header.
using namespace kelvara::link;

inline constexpr std::string_view kProgram = "kelvara-cli";

inline std::string Shown(const QString& text) { return Printable(text.toStdString(), 256); }

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

inline QCoreApplication& Application() {
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
            return ReportInterrupted();
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

    // Says what an interrupt left done; the exit status of an interrupt.
    int ReportInterrupted() {
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

    // Replaces what the first interrupt does while `takes` says so: a batch finishes the module
    // under way instead of stopping after its command.
    void OnFirstInterrupt(std::function<bool()> takes) { firstInterrupt_ = std::move(takes); }
    bool StoppedAtOnce() const { return stoppedAtOnce_; }

    // Waits until the port can be opened: 0 once open, or the exit status when it cannot be
    // used at all, or was interrupted.
    int WaitForPort(int baudRate) {
        QTimer poll;
        int status = -1;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (stoppedAtOnce_) {
                status = kExitInterrupted;
            } else if (access(DevicePath(port_).c_str(), F_OK) == 0) {
                if (link_.Open(port_, baudRate))
                    status = kExitOk;
                else if (link_.OpenFailure().Reason != QStringLiteral("no such port"))
                    status = Open(baudRate) ? kExitOk : kExitPort;
            }
            if (status >= 0)
                loop_.quit();
        });
        poll.start(100);
        while (status < 0 && !stoppedAtOnce_)
            loop_.exec();
        return status < 0 ? kExitInterrupted : status;
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
        if (count == 1 && firstInterrupt_ && firstInterrupt_())
            return;
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
    std::function<bool()> firstInterrupt_;
    std::optional<TResult> result_;
    std::string underWay_;
    std::string lastAcknowledged_;
    bool stoppedAtOnce_ = false;
    bool lost_ = false;
    bool outFailed_ = false;
};

inline std::string AcknowledgedLine(const TEvent& event) {
    return Printable(event.Command, 256) + '\t' + ShownReply(event.Reply);
}

inline std::string FailureLine(const TEvent& event) {
    return std::string(kProgram) + ": " + Printable(event.Command, 256) + ": " +
           FailureText(event) + '\n';
}

} // namespace kelvara::cli
