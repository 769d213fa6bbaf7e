#include "Interrupts.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kelvara::cli {

namespace {

// The one global of kelvara-cli: where the signal handler writes.
volatile sig_atomic_t gInterruptPipe = -1;

} // namespace

TInterrupts::TInterrupts(std::function<void(int)> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    gInterruptPipe = pipe_[1];
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

TInterrupts::~TInterrupts() {
    if (pipe_[0] < 0)
        return;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &old_[i], nullptr);
    gInterruptPipe = -1;
    notifier_.reset();
    close(pipe_[0]);
    close(pipe_[1]);
}

void TInterrupts::Handle(int) {
    const int saved = errno;
    if (gInterruptPipe >= 0) {
        const char byte = 1;
        [[maybe_unused]] const auto written = write(gInterruptPipe, &byte, 1);
    }
    errno = saved;
}

} // namespace kelvara::cli
