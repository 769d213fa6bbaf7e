#include "FakeModule.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace kelvara::testing {

namespace {

// A command ends at a line ending, or when the sender has been silent this long (commands may
// be sent without line endings).
constexpr int kCommandSilenceMs = 15;

} // namespace

TFakeModule::TFakeModule() {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    master_ = master;
    // Raw on our side too, so every byte passes unchanged, then let go of the port's end: the
    // code under test opens it by name.
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    close(slave);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // A program under test must not inherit our end, or it would never see us hang up.
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    portPath_ = name;
    thread_ = std::thread([this] { Run(); });
}

TFakeModule::~TFakeModule() {
    stop_ = true;
    thread_.join();
    if (master_ >= 0)
        close(master_);
}

void TFakeModule::On(const std::string& command, TModuleBehaviour behaviour) {
    std::lock_guard lock(mutex_);
    behaviours_[command] = std::move(behaviour);
}

void TFakeModule::AnswerAfterRandomDelays(int minMs, int maxMs, unsigned seed) {
    std::lock_guard lock(mutex_);
    minDelayMs_ = minMs;
    maxDelayMs_ = maxMs;
    random_.seed(seed);
}

std::string TFakeModule::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::optional<std::chrono::steady_clock::time_point> TFakeModule::FirstByteTime() const {
    std::lock_guard lock(mutex_);
    return firstByteTime_;
}

std::vector<std::string> TFakeModule::Commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

bool TFakeModule::WaitForCommands(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return commands_.size() >= count; });
}

bool TFakeModule::OtherEndOpen() const {
    const int master = master_;
    if (master < 0)
        return false;
    pollfd fd{master, POLLIN, 0};
    return poll(&fd, 1, 0) >= 0 && !(fd.revents & POLLHUP);
}

bool TFakeModule::WaitUntilOtherEndClosed(std::chrono::milliseconds limit) const {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (everOpened_ && !OtherEndOpen())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

void TFakeModule::Run() {
    while (!stop_ && master_ >= 0) {
        pollfd fd{master_, POLLIN, 0};
        const int ready = poll(&fd, 1, kCommandSilenceMs);
        if (ready > 0 && (fd.revents & POLLIN)) {
            everOpened_ = true;
            char buffer[512];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard lock(mutex_);
                if (!firstByteTime_)
                    firstByteTime_ = std::chrono::steady_clock::now();
                received_.append(buffer, static_cast<std::size_t>(n));
                pending_.append(buffer, static_cast<std::size_t>(n));
            }
            // Complete lines are commands at once.
            for (;;) {
                std::string command;
                {
                    std::lock_guard lock(mutex_);
                    const auto end = pending_.find_first_of("\r\n");
                    if (end == std::string::npos)
                        break;
                    command = pending_.substr(0, end);
                    pending_.erase(0, end + 1);
                }
                if (!command.empty())
                    Answer(command);
            }
            continue;
        }
        if (ready > 0 && (fd.revents & POLLHUP)) {
            // Nobody has the port open: nothing to hear until somebody does.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        everOpened_ = everOpened_ || OtherEndOpen();
        // A silence ends a command sent without a line ending.
        std::string command;
        {
            std::lock_guard lock(mutex_);
            command.swap(pending_);
        }
        if (!command.empty())
            Answer(command);
    }
}

void TFakeModule::Answer(const std::string& command) {
    TModuleBehaviour behaviour;
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(command);
        if (auto it = behaviours_.find(command); it != behaviours_.end())
            behaviour = it->second;
        else if (maxDelayMs_ > 0)
            behaviour.DelayMs = std::uniform_int_distribution(minDelayMs_, maxDelayMs_)(random_);
    }
    changed_.notify_all();
    const auto sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };

    switch (behaviour.Kind) {
    case TModuleBehaviour::TKind::Silent:
        return;
    case TModuleBehaviour::TKind::HangUp:
        close(master_.exchange(-1));
        return;
    case TModuleBehaviour::TKind::Answer:
        break;
    }
    std::string reply = behaviour.Reply;
    if (reply.empty())
        reply = "OK+" + command.substr(command.starts_with("AT+") ? 3 : 0);
    sleep(behaviour.DelayMs);
    if (behaviour.SecondPieceAfterMs >= 0) {
        Write(reply.substr(0, reply.size() / 2));
        sleep(behaviour.SecondPieceAfterMs);
        Write(reply.substr(reply.size() / 2));
    } else {
        Write(reply);
    }
    if (!behaviour.StrayAfter.empty()) {
        sleep(behaviour.StrayAfterMs);
        Write(behaviour.StrayAfter);
    }
}

void TFakeModule::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size() && master_ >= 0) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (errno != EAGAIN && errno != EINTR)
            return;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace kelvara::testing
