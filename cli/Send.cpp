// The sending half of kelvara-cli, loaded only when a list is to be sent or the ports listed:
// it is the part that needs the toolkit.
#include "ModuleLink.h"
#include "Printable.h"
#include "SendPlugin.h"
#include "SerialPorts.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ostream>
#include <string>

using namespace kelvara::link;

namespace kelvara::cli {

namespace {

constexpr std::string_view kProgram = "kelvara-cli";

std::string Shown(const QString& text) { return Printable(text.toStdString(), 256); }

// Turns SIGINT and SIGTERM into a call on the event loop, through a pipe: a signal handler may
// do little more than write a byte.
class TInterrupts {
  public:
    template <typename Handler>
    explicit TInterrupts(Handler onInterrupt) {
        if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        writeEnd_ = pipe_[1];
        notifier_.emplace(pipe_[0], QSocketNotifier::Read);
        QObject::connect(&*notifier_, &QSocketNotifier::activated, [this, onInterrupt] {
            char drained[16];
            while (read(pipe_[0], drained, sizeof drained) > 0) {
            }
            interrupted_ = true;
            onInterrupt();
        });
        struct sigaction action = {};
        action.sa_handler = &TInterrupts::Handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~TInterrupts() {
        if (pipe_[0] < 0)
            return;
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
        writeEnd_ = -1;
        notifier_.reset();
        close(pipe_[0]);
        close(pipe_[1]);
    }
    TInterrupts(const TInterrupts&) = delete;
    TInterrupts& operator=(const TInterrupts&) = delete;

    bool Interrupted() const { return interrupted_; }

  private:
    static void Handle(int) {
        const int saved = errno;
        if (writeEnd_ >= 0) {
            const char byte = 1;
            [[maybe_unused]] const auto written = write(writeEnd_, &byte, 1);
        }
        errno = saved;
    }

    static inline volatile sig_atomic_t writeEnd_ = -1;
    int pipe_[2] = {-1, -1};
    std::optional<QSocketNotifier> notifier_;
    struct sigaction oldInt_ = {};
    struct sigaction oldTerm_ = {};
    bool interrupted_ = false;
};

// The one-line progress display on a terminal's standard error.
class TProgress {
  public:
    explicit TProgress(std::size_t total) : total_(total), shown_(isatty(STDERR_FILENO) == 1) {}
    ~TProgress() { Clear(); }

    void Show(std::size_t index, const std::string& command) {
        if (!shown_)
            return;
        std::fprintf(stderr, "\r\033[K[%zu/%zu] %s ...", index + 1, total_,
                     Printable(command).c_str());
        std::fflush(stderr);
        drawn_ = true;
    }
    void Clear() {
        if (drawn_)
            std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }

  private:
    std::size_t total_;
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

} // namespace

} // namespace kelvara::cli

using namespace kelvara::cli;

extern "C" int KelvaraCliSend(const TSendRequest& request, std::ostream& out, std::ostream& err) {
    QCoreApplication& application = Application();
    TModuleLink link;
    TProgress progress(request.Commands.size());
    TInterrupts interrupts([&link] { link.Cancel(); });

    QObject::connect(&link, &TModuleLink::commandChanged, [&](int index) {
        const TCommandProgress& command = link.Protocol()->Commands()[static_cast<std::size_t>(index)];
        if (command.State == TCommandState::Sending) {
            progress.Show(static_cast<std::size_t>(index), command.Command);
        } else if (command.State == TCommandState::Acknowledged) {
            progress.Clear();
            out << command.Command << '\t' << ShownReply(command.Reply) << '\n';
            out.flush();
        }
    });
    QObject::connect(&link, &TModuleLink::finished, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    const QString port = QString::fromLocal8Bit(request.Port.data(),
                                                static_cast<qsizetype>(request.Port.size()));
    if (!link.Start(port, request.Settings, request.Commands)) {
        err << kProgram << ": " << Printable(request.Port) << ": "
            << Shown(link.OpenFailure().Reason) << '\n';
        if (link.OpenFailure().PermissionDenied)
            err << kProgram << ": " << Shown(PermissionHint(port)) << '\n';
        return kExitPort;
    }
    if (link.IsSending())
        application.exec();
    progress.Clear();

    const TSendProtocol& protocol = *link.Protocol();
    switch (protocol.Result()) {
    case TSendResult::AllAcknowledged:
        break;
    case TSendResult::Failed: {
        const TCommandProgress& failed = protocol.Commands()[*protocol.FailedCommand()];
        err << kProgram << ": " << Printable(failed.Command) << ": "
            << DescribeFailure(failed, request.Settings.TimeoutMs) << '\n';
        return kExitNotAcknowledged;
    }
    case TSendResult::Cancelled:
    case TSendResult::Running:
        if (const auto last = protocol.LastAcknowledged()) {
            err << kProgram << ": interrupted; the last command acknowledged was "
                << Printable(protocol.Commands()[*last].Command) << '\n';
        } else {
            err << kProgram << ": interrupted before any command was acknowledged\n";
        }
        return kExitInterrupted;
    }
    if (!out) {
        err << kProgram << ": could not write to standard output\n";
        return 1;
    }
    return 0;
}

extern "C" int KelvaraCliPorts(std::ostream& out, std::ostream& err) {
    for (const TPortDescription& port : AvailablePorts())
        out << Shown(port.Name) << '\t' << Shown(port.Description) << '\n';
    out.flush();
    if (!out) {
        err << kProgram << ": could not write to standard output\n";
        return 1;
    }
    return 0;
}
