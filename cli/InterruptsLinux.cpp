#include "Interrupts.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>

namespace kelvara::cli {

namespace {

// The one global of kelvara-cli: where the signal handler writes.
volatile sig_atomic_t gInterruptPipe = -1;

} // namespace

class TInterrupts::TSystem {
  public:
    static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};

    explicit TSystem(TInterrupts& owner) {
        if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        gInterruptPipe = pipe_[1];
        notifier_.emplace(pipe_[0], QSocketNotifier::Read);
        QObject::connect(&*notifier_, &QSocketNotifier::activated, [this, &owner] {
            char drained[16];
            ssize_t n = 0;
            while ((n = read(pipe_[0], drained, sizeof drained)) > 0) {
                for (ssize_t i = 0; i < n; ++i)
                    owner.Interrupted();
            }
        });
        struct sigaction action = {};
        action.sa_handler = &Handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], &action, &old_[i]);
    }

    ~TSystem() {
        if (pipe_[0] < 0)
            return;
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            sigaction(kSignals[i], &old_[i], nullptr);
        gInterruptPipe = -1;
        notifier_.reset();
        close(pipe_[0]);
        close(pipe_[1]);
    }

  private:
    static void Handle(int) {
        const int saved = errno;
        if (gInterruptPipe >= 0) {
            const char byte = 1;
            [[maybe_unused]] const auto written = write(gInterruptPipe, &byte, 1);
        }
        errno = saved;
    }

    int pipe_[2] = {-1, -1};
    std::optional<QSocketNotifier> notifier_;
    std::array<struct sigaction, 3> old_ = {};
};

TInterrupts::TInterrupts(std::function<void(int)> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)), system_(std::make_unique<TSystem>(*this)) {}

TInterrupts::~TInterrupts() = default;

} // namespace kelvara::cli
