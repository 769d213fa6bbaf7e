// A link left running, measured against the simulated module through kelvara-cli connect
// (KELVARA_CLI: the program, or "wine kelvara-cli.exe", whose port is then the COM port that
// KELVARA_TEST_COM_PORTS leads to the module):
//   kelvara_relay_bench share KELVARA_CLI  the link shared: from a device's line on the wire to
//                                          its end at a program on the pseudo-terminal, and at
//                                          one on the TCP port
//   kelvara_relay_bench drops KELVARA_CLI  the device sends a line every millisecond and the
//                                          link drops every 3 s, rejoined (--rejoin): the lines
//                                          sent while connected, and how many of them are
//                                          missing from standard output
#include "FakeModule.h"
#include "Spawn.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using kelvara::testing::TFakeModule;
using Clock = std::chrono::steady_clock;

namespace {

struct TRun {
    pid_t Pid = -1;
    int In = -1;  // its standard input, kept open until the run ends
    int Out = -1; // its standard output
    int Err = -1; // its standard error
};

// Starts kelvara-cli connect (cli: the words that run it) on the module with these options
// before the address.
TRun Connect(std::vector<std::string> cli, const TFakeModule& module, std::vector<std::string> options) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return {};
    std::vector<std::string> args = std::move(cli);
    for (const char* word : {"connect", "--port"})
        args.emplace_back(word);
    args.push_back(module.PortName());
    args.insert(args.end(), {"--seconds", "0"});
    args.insert(args.end(), options.begin(), options.end());
    args.emplace_back("C4BE84123456");
    const TRun run = {Spawn(std::move(args), {in[0], out[1], err[1]}), in[1], out[0], err[0]};
    close(in[0]);
    close(out[1]);
    close(err[1]);
    return run.Pid > 0 ? run : TRun{};
}

// Reads the run's standard error up to the line that begins with this; the rest of that line.
std::string ReadUntil(int fd, const std::string& start) {
    std::string text;
    char c = 0;
    for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 5000) > 0 && read(fd, &c, 1) == 1;) {
        text += c;
        const std::size_t at = text.find(start);
        if (at != std::string::npos && text.ends_with('\n'))
            return text.substr(at + start.size(), text.size() - at - start.size() - 1);
    }
    return {};
}

// Everything left on fd until it ends.
std::string ReadAll(int fd) {
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

void End(TRun& run) {
    kill(run.Pid, SIGINT);
    close(run.In);
    waitpid(run.Pid, nullptr, 0);
    close(run.Out);
    close(run.Err);
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int Share(const std::vector<std::string>& cli) {
    for (const std::string kind : {"pty", "tcp"}) {
        // A pseudo-terminal is Linux's: the Windows program under Wine shares on TCP alone.
        if (kind == "pty" && cli.front().ends_with("wine"))
            continue;
        TFakeModule module;
        module.Scanning({}, 0, {"C4BE84123456"});
        module.Streaming(0);
        TRun run = Connect(cli, module, {"--share", kind == "pty" ? "pty" : "tcp:127.0.0.1:0"});
        const std::string where = ReadUntil(run.Err, "the link is shared on ");
        int program = -1;
        if (kind == "pty") {
            program = open(where.c_str(), O_RDWR | O_NOCTTY);
            termios raw{};
            if (program >= 0 && tcgetattr(program, &raw) == 0) {
                cfmakeraw(&raw);
                tcsetattr(program, TCSANOW, &raw);
            }
        } else if (const std::size_t colon = where.rfind(':'); colon != std::string::npos) {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(std::stoi(where.substr(colon + 1))));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            program = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (connect(program, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                program = -1;
        }
        std::thread output([fd = run.Out] { ReadAll(fd); });
        const auto asked = Clock::now();
        while (!module.IsConnected() && Clock::now() - asked < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (program < 0 || !module.IsConnected()) {
            std::fprintf(stderr, "the %s share did not start (%s)\n", kind.c_str(), where.c_str());
            End(run);
            output.join();
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        constexpr int kLines = 1000;
        std::vector<Clock::time_point> sent, ends;
        std::thread device([&] {
            for (int i = 0; i < kLines; ++i) {
                sent.push_back(Clock::now());
                module.SendUnasked("d=" + std::to_string(i) + "\r\n");
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        char buffer[4096];
        for (pollfd p{program, POLLIN, 0}; ends.size() < kLines && poll(&p, 1, 2000) > 0;) {
            const ssize_t n = read(program, buffer, sizeof buffer);
            const auto now = Clock::now();
            for (ssize_t i = 0; i < n; ++i)
                if (buffer[i] == '\n')
                    ends.push_back(now);
            if (n <= 0)
                break;
        }
        device.join();
        close(program);
        End(run);
        output.join();
        std::vector<double> times;
        for (std::size_t i = 0; i < ends.size(); ++i)
            times.push_back(Ms(ends[i] - sent[i]));
        std::sort(times.begin(), times.end());
        if (times.empty())
            return 1;
        std::printf("shared on %s: a device's line on the wire to its end at the program: median %.3f ms, "
                    "slowest %.2f ms (%zu of %d lines)\n",
                    kind == "pty" ? "a pseudo-terminal" : "a TCP port", times[times.size() / 2], times.back(),
                    times.size(), kLines);
    }
    return 0;
}

int Drops(const std::vector<std::string>& cli) {
    TFakeModule module;
    module.Scanning({}, 0, {"C4BE84123456"}, 3000);
    module.Streaming(1);
    TRun run = Connect(cli, module, {"--rejoin"});
    std::string printed;
    std::thread output([&] { printed = ReadAll(run.Out); });
    std::this_thread::sleep_for(std::chrono::seconds(20));
    End(run);
    output.join();
    std::erase(printed, '\n');
    // What the device sent while connected: each stretch after "OK+CONN", up to "OK+LOST".
    const std::string sent = module.Sent();
    std::size_t lines = 0, shown = 0, stretches = 0, from = 0;
    for (std::size_t at = sent.find("OK+CONN"); at != std::string::npos; at = sent.find("OK+CONN", at + 1)) {
        if (at + 7 < sent.size() && std::string_view("AFE").find(sent[at + 7]) != std::string_view::npos)
            continue; // "OK+CONNA", "OK+CONNF", "OK+CONNE"
        const std::string stretch = sent.substr(at + 7, std::min(sent.find("OK+LOST", at), sent.size()) - at - 7);
        lines += static_cast<std::size_t>(std::count(stretch.begin(), stretch.end(), '\n'));
        // Each of the stretch's lines, escaped as standard output shows it, in order.
        for (std::size_t start = 0, end; (end = stretch.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string line = stretch.substr(start, end - 1 - start) + "\\x0d\\x0a";
            if (const std::size_t found = printed.find(line, from); found != std::string::npos) {
                ++shown;
                from = found + line.size();
            }
        }
        ++stretches;
    }
    std::printf("a line every millisecond, the link dropping every 3 s, 20 s: %zu rejoins, %zu lines sent "
                "while connected, %zu missing from standard output\n",
                stretches > 0 ? stretches - 1 : 0, lines, lines - shown);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::vector<std::string> cli(argv + std::min(argc, 2), argv + argc);
    if (mode == "share" && !cli.empty())
        return Share(cli);
    if (mode == "drops" && !cli.empty())
        return Drops(cli);
    std::fprintf(stderr, "usage: kelvara_relay_bench share|drops KELVARA_CLI (or: wine KELVARA-CLI.EXE)\n");
    return 2;
}
