#include "FakeModule.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace kelvara::testing {

namespace {

// A command ends at a line ending, or when the sender has been silent this long (commands may
// be sent without line endings).
constexpr int kCommandSilenceMs = 15;

// KELVARA_TEST_COM_PORTS="COM10=/path/com10 COM11=/path/com11 ...": Windows ports, each the
// link Wine opens for it. A new module takes a free one (its lock held until the module goes,
// whatever process it is in) and points it at itself.
std::string ComPortFor(const std::string& device, int& lock) {
    const char* ports = std::getenv("KELVARA_TEST_COM_PORTS");
    if (!ports || !*ports)
        return device;
    std::vector<std::pair<std::string, std::string>> slots;
    std::istringstream words(ports);
    for (std::string word; words >> word;) {
        const auto equals = word.find('=');
        if (equals != std::string::npos)
            slots.emplace_back(word.substr(0, equals), word.substr(equals + 1));
    }
    for (int attempt = 0; attempt < 3000; ++attempt) {
        for (const auto& [name, link] : slots) {
            const int fd = open((link + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
                lock = fd;
                std::filesystem::remove(link);
                std::filesystem::create_symlink(device, link);
                return name;
            }
            if (fd >= 0)
                close(fd);
        }
        usleep(10000);
    }
    throw std::runtime_error("no free COM port among KELVARA_TEST_COM_PORTS");
}

} // namespace

std::string TFakeModule::UsualReply(const std::string& command, const TModuleStyle& style) {
    if (command.find_first_of("\r\n") != std::string::npos)
        return "\r\nERROR\r\n"; // a line ending it does not take is no part of a command
    if (style.AnswerOkLines)
        return "\r\nOK\r\n";
    if (command == "AT")
        return "OK";
    return "OK+" + command.substr(command.starts_with("AT+") ? 3 : 0);
}

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
    portName_ = ComPortFor(portPath_, comPortLock_);
    thread_ = std::thread([this] { Run(); });
}

TFakeModule::~TFakeModule() {
    stop_ = true;
    thread_.join();
    for (std::thread& helper : helpers_)
        helper.join();
    if (master_ >= 0)
        close(master_);
    if (comPortLock_ >= 0)
        close(comPortLock_);
}

void TFakeModule::SendUnaskedInBackground(std::string bytes, std::size_t times) {
    helpers_.emplace_back([this, bytes = std::move(bytes), times] {
        for (std::size_t i = 0; i < times && !stop_; ++i)
            Write(bytes);
    });
}

void TFakeModule::SwapAfterEach(std::string last, std::chrono::milliseconds away) {
    helpers_.emplace_back([this, last = std::move(last), away] {
        const auto ended = [&] {
            std::lock_guard lock(mutex_);
            return std::count_if(commands_.begin(), commands_.end(),
                                 [&](const std::string& c) { return c.starts_with(last); });
        };
        for (long lists = 1; !stop_; ++lists) {
            while (!stop_ && ended() < lists)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            present_ = false;
            for (auto gone = std::chrono::steady_clock::now();
                 !stop_ && std::chrono::steady_clock::now() - gone < away;)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            present_ = true;
        }
    });
}

void TFakeModule::Style(TModuleStyle style) {
    std::lock_guard lock(mutex_);
    style_ = std::move(style);
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

bool TFakeModule::WaitUntilSent(const std::string& bytes, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return sent_.find(bytes) != std::string::npos; });
}

std::optional<std::chrono::steady_clock::time_point> TFakeModule::FirstByteTime() const {
    std::lock_guard lock(mutex_);
    return firstByteTime_;
}

std::vector<TFakeModule::TTimes> TFakeModule::CommandTimes() const {
    std::lock_guard lock(mutex_);
    return times_;
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

bool TFakeModule::AtItsRate() const {
    // A pseudo-terminal carries the rate its port end was set to; the master end reads it.
    termios settings{};
    if (style_.BaudRate == 0 || tcgetattr(master_, &settings) != 0)
        return true;
    static const std::map<speed_t, int> kRates = {
        {B1200, 1200},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},  {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    const auto rate = kRates.find(cfgetospeed(&settings));
    return rate != kRates.end() && rate->second == style_.BaudRate;
}

void TFakeModule::Received(const char* bytes, std::size_t count) {
    if (!present_)
        return;
    TModuleStyle style;
    {
        std::lock_guard lock(mutex_);
        if (!firstByteTime_)
            firstByteTime_ = std::chrono::steady_clock::now();
        received_.append(bytes, count);
        style = style_;
    }
    if (!AtItsRate()) {
        // At the wrong rate every byte is garbled both ways.
        Write(std::string(std::min<std::size_t>(count, 6), '\xf0') + "\xfe");
        std::lock_guard lock(mutex_);
        pending_.clear();
        return;
    }
    if (connected_) {
        // The remote device's side: everything comes back, but "AT" alone ends the connection.
        const std::string data(bytes, count);
        if (data == "AT") {
            std::lock_guard lock(streamMutex_);
            connected_ = false;
            Write("OK+LOST");
        } else if (!sensor_) {
            Write(data);
        }
        return;
    }
    if (style.Echo)
        Write(std::string(bytes, count));
    std::vector<std::string> commands;
    {
        std::lock_guard lock(mutex_);
        pending_.append(bytes, count);
        // Complete lines are commands at once.
        for (;;) {
            const std::size_t end = style.CommandEnd.empty() ? pending_.find_first_of("\r\n")
                                                             : pending_.find(style.CommandEnd);
            if (end == std::string::npos)
                break;
            std::string command = pending_.substr(0, end);
            pending_.erase(0, end + (style.CommandEnd.empty() ? 1 : style.CommandEnd.size()));
            command.erase(0, command.find_first_not_of("\r\n"));
            if (!command.empty())
                commands.push_back(std::move(command));
        }
    }
    for (const std::string& command : commands)
        Answer(command);
}

void TFakeModule::Run() {
    while (!stop_ && master_ >= 0) {
        pollfd fd{master_, POLLIN, 0};
        const int ready = poll(&fd, 1, kCommandSilenceMs);
        if (ready > 0 && (fd.revents & POLLIN)) {
            everOpened_ = true;
            char buffer[512];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0)
                Received(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (ready > 0 && (fd.revents & POLLHUP)) {
            // Nobody has the port open: nothing to hear until somebody does.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        everOpened_ = everOpened_ || OtherEndOpen();
        // A silence ends a command sent without a line ending, for a module that takes them so.
        std::string command;
        {
            std::lock_guard lock(mutex_);
            if (style_.CommandEnd.empty())
                command.swap(pending_);
        }
        if (!command.empty())
            Answer(command);
    }
}

void TFakeModule::Answer(const std::string& command) {
    TModuleBehaviour behaviour;
    std::size_t index = 0;
    {
        std::lock_guard lock(mutex_);
        index = commands_.size();
        commands_.push_back(command);
        times_.push_back({std::chrono::steady_clock::now(), std::nullopt});
        auto it = behaviours_.find(command);
        // "AT+MINO0x*": every command that begins so.
        for (auto each = behaviours_.begin(); it == behaviours_.end() && each != behaviours_.end(); ++each) {
            if (each->first.ends_with('*') &&
                command.starts_with(std::string_view(each->first).substr(0, each->first.size() - 1)))
                it = each;
        }
        if (it != behaviours_.end() && it->second.Times != 0) {
            behaviour = it->second;
            if (it->second.Times > 0)
                --it->second.Times;
        } else if (maxDelayMs_ > 0) {
            behaviour.DelayMs = std::uniform_int_distribution(minDelayMs_, maxDelayMs_)(random_);
        }
    }
    changed_.notify_all();
    const auto sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    if (AnswerMaster(command))
        return;

    switch (behaviour.Kind) {
    case TModuleBehaviour::TKind::Silent:
        return;
    case TModuleBehaviour::TKind::HangUp:
        close(master_.exchange(-1));
        return;
    case TModuleBehaviour::TKind::TalkOn:
        for (int i = 0; i < 1000 && !stop_ && (i < 10 || OtherEndOpen()); ++i) {
            Write(behaviour.Reply);
            sleep(10);
        }
        return;
    case TModuleBehaviour::TKind::Answer:
    case TModuleBehaviour::TKind::AnswerThenHangUp:
        break;
    }
    std::string reply = behaviour.Reply;
    if (reply.empty()) {
        std::lock_guard lock(mutex_);
        reply = UsualReply(command, style_);
    }
    sleep(behaviour.DelayMs);
    if (behaviour.SecondPieceAfterMs >= 0) {
        Write(reply.substr(0, reply.size() / 2));
        sleep(behaviour.SecondPieceAfterMs);
        Write(reply.substr(reply.size() / 2));
    } else {
        Write(reply);
    }
    {
        std::lock_guard lock(mutex_);
        times_[index].Answered = std::chrono::steady_clock::now();
    }
    if (behaviour.Kind == TModuleBehaviour::TKind::AnswerThenHangUp) {
        sleep(5);
        close(master_.exchange(-1));
        return;
    }
    if (!behaviour.StrayAfter.empty()) {
        sleep(behaviour.StrayAfterMs);
        Write(behaviour.StrayAfter);
    }
}

std::string TFakeModule::Sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

void TFakeModule::Write(const std::string& bytes) {
    {
        std::lock_guard lock(mutex_);
        sent_ += bytes;
    }
    changed_.notify_all();
    std::size_t done = 0;
    while (done < bytes.size() && master_ >= 0 && !stop_) {
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
