#include "Input.h"

#include <QSocketNotifier>

#include <unistd.h>

#include <cerrno>

namespace kelvara::cli {

bool IsTerminal(int stream) { return isatty(stream) == 1; }

struct TInputReader::TState {
    QSocketNotifier Notifier{STDIN_FILENO, QSocketNotifier::Read};
};

TInputReader::TInputReader(std::function<void(std::string_view)> onBytes)
    : state_(std::make_shared<TState>()) {
    QObject::connect(&state_->Notifier, &QSocketNotifier::activated,
                     [this, onBytes = std::move(onBytes)] {
        char buffer[4096];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0)
            state_->Notifier.setEnabled(false);
        onBytes(std::string_view(buffer, n > 0 ? static_cast<std::size_t>(n) : 0));
    });
}

TInputReader::~TInputReader() = default;

void TInputReader::SetEnabled(bool enabled) { state_->Notifier.setEnabled(enabled); }

} // namespace kelvara::cli
