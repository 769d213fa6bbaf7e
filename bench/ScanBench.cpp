// A scan, measured against the simulated module on a pseudo-terminal:
//   kelvara_scan_bench cli KELVARA_CLI  from the bytes that complete a device's entry (the next
//                                       answer's first) to its line on kelvara-cli scan's output
//   kelvara_scan_bench window           the same to its row in the module window's table, and the
//                                       longest the event loop goes without running while a
//                                       scan finds 500 devices
//   kelvara_scan_bench data KELVARA_CLI a data session: the device sends a line every
//                                       millisecond while a line is sent to it every 5 ms; the
//                                       device's lines lost, and from a line's last byte on the
//                                       wire to its end on kelvara-cli connect's output
//   kelvara_scan_bench bulk KELVARA_CLI 4 KiB piped into kelvara-cli connect at 9600 baud at
//                                       once, while the device sends a line every 5 ms: the
//                                       bytes that reached the device, and the slowest of the
//                                       device's lines meanwhile (how long the program stalled)
#include "FakeModule.h"
#include "LongestStall.h"
#include "Spawn.h"
#include "ModuleWindow.h"
#include "StudyCommandList.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using kelvara::testing::TFakeModule;
using kelvara::testing::TModuleBehaviour;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kDevices = 20;

std::string Device(int i) {
    char address[13];
    std::snprintf(address, sizeof address, "C4BE84%06X", i);
    return "OK+DIS0:" + std::string(address) + "Tag" + std::to_string(i) + "\r\n";
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Report(const char* what, std::vector<double> times, const char* unit = "devices") {
    std::sort(times.begin(), times.end());
    if (times.empty())
        return;
    std::printf("%s: median %.2f ms, slowest %.2f ms (%zu %s)\n", what, times[times.size() / 2],
                times.back(), times.size(), unit);
}

int Cli(const char* cli) {
    TFakeModule module;
    module.On("AT+DISC?", TModuleBehaviour::Answering("OK+DISCS"));
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return 1;
    const pid_t pid = Spawn({cli, "scan", "--port", module.PortPath()}, {.Out = out[1]});
    close(out[1]);
    if (pid < 0)
        return 1;
    module.WaitForCommands(1, std::chrono::seconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // Each device's entry is completed by the next one's first bytes.
    std::vector<Clock::time_point> completed;
    std::thread feeder([&] {
        for (int i = 0; i <= kDevices; ++i) {
            completed.push_back(Clock::now());
            module.SendUnasked(i < kDevices ? Device(i) : "OK+DISCE");
            // Closer than the quiet gap: each entry is completed by the next one's bytes.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::vector<Clock::time_point> lines;
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
        const auto now = Clock::now();
        for (ssize_t i = 0; i < n; ++i)
            if (buffer[i] == '\n')
                lines.push_back(now);
    }
    feeder.join();
    waitpid(pid, nullptr, 0);
    std::vector<double> times;
    for (std::size_t i = 0; i + 1 < completed.size() && i < lines.size(); ++i)
        times.push_back(Ms(lines[i] - completed[i + 1]));
    Report("kelvara-cli scan, entry complete to its line on standard output", times);
    return 0;
}

// When each of the device's lines ended on kelvara-cli connect's output, read until it ends: the
// k-th escaped line ending ends the device's k-th line.
std::vector<Clock::time_point> LineEnds(int output) {
    std::vector<Clock::time_point> ends;
    std::string tail;
    char buffer[65536];
    for (ssize_t n; (n = read(output, buffer, sizeof buffer)) > 0;) {
        const auto now = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n')
                continue;
            tail += buffer[i];
            if (tail.ends_with("\\x0a")) {
                ends.push_back(now);
                tail.clear();
            }
        }
    }
    return ends;
}

// Runs kelvara-cli connect (cli: the words that run it) on the module at 9600 baud, its
// standard input and output the pipes given back; its process id.
pid_t Connect(std::vector<std::string> cli, const TFakeModule& module, const char* seconds, int& in, int& out) {
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0)
        return -1;
    for (const char* arg : {"connect", "--port"})
        cli.emplace_back(arg);
    cli.push_back(module.PortName());
    // With KELVARA_BENCH_LOG, the session is logged to that file: the same run, the log on.
    if (const char* log = std::getenv("KELVARA_BENCH_LOG"); log && *log) {
        cli.emplace_back("--log");
        cli.emplace_back(log);
    }
    for (const char* arg : {"--seconds", seconds, "C4BE84123456"})
        cli.emplace_back(arg);
    const pid_t pid = Spawn(std::move(cli), {.In = input[0], .Out = output[1]});
    close(input[0]);
    close(output[1]);
    if (pid < 0)
        return -1;
    in = input[1];
    out = output[0];
    return pid;
}

// cli: the words that run kelvara-cli (under Wine: "wine", then the program).
int Data(std::vector<std::string> cli) {
    TFakeModule module;
    module.Scanning({}, 0, {"C4BE84123456"});
    module.Streaming(0);
    int input = -1;
    int output = -1;
    const pid_t pid = Connect(std::move(cli), module, "0", input, output);
    if (pid < 0)
        return 1;
    constexpr int kLines = 3000;
    const auto waitConnected = Clock::now();
    while (!module.IsConnected() && Clock::now() - waitConnected < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // The device: a line every millisecond. The user: a line every 5 ms, then the end of input.
    std::vector<Clock::time_point> sent;
    std::thread device([&] {
        auto next = Clock::now();
        for (int i = 0; i < kLines; ++i) {
            sent.push_back(Clock::now());
            std::string line = "d=";
            line += std::to_string(i);
            line += "\r\n";
            module.SendUnasked(line);
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
        }
    });
    std::thread user([&] {
        for (int i = 0; i < kLines / 5; ++i) {
            std::string line = "u";
            line += std::to_string(i);
            line += '\n';
            if (write(input, line.data(), line.size()) < 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // The input ends once the device's last line has had time to arrive.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        close(input);
    });
    const std::vector<Clock::time_point> ends = LineEnds(output);
    device.join();
    user.join();
    waitpid(pid, nullptr, 0);
    std::vector<double> times;
    for (std::size_t i = 0; i < ends.size() && i < sent.size(); ++i)
        times.push_back(Ms(ends[i] - sent[i]));
    std::printf("device lines sent %d, printed %zu, lost %zu\n", kLines, ends.size(),
                ends.size() < sent.size() ? sent.size() - ends.size() : 0);
    Report("kelvara-cli connect, a device's line on the wire to its end on standard output", times, "lines");
    return 0;
}

int Bulk(std::vector<std::string> cli) {
    TFakeModule module;
    module.Scanning({}, 0, {"C4BE84123456"});
    module.Streaming(0);
    int in = -1;
    int out = -1;
    const pid_t pid = Connect(std::move(cli), module, "1", in, out);
    if (pid < 0)
        return 1;
    const auto waitConnected = Clock::now();
    while (!module.IsConnected() && Clock::now() - waitConnected < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::size_t before = module.Received().size();
    constexpr int kLines = 400;
    std::vector<Clock::time_point> sent;
    std::thread device([&] {
        auto next = Clock::now();
        for (int i = 0; i < kLines; ++i) {
            sent.push_back(Clock::now());
            module.SendUnasked("d=" + std::to_string(i) + "\r\n");
            next += std::chrono::milliseconds(5);
            std::this_thread::sleep_until(next);
        }
        close(in); // the input ends once the device has said its last
    });
    const std::string bulk(4096, 'b');
    const bool written = write(in, bulk.data(), bulk.size()) == static_cast<ssize_t>(bulk.size());
    const std::vector<Clock::time_point> ends = LineEnds(out);
    device.join();
    int status = 0;
    waitpid(pid, &status, 0);
    const std::string received = module.Received().substr(before);
    std::vector<double> times;
    for (std::size_t i = 0; i < ends.size() && i < sent.size(); ++i)
        times.push_back(Ms(ends[i] - sent[i]));
    std::printf("4 KiB piped in at 9600 baud: %zu of %zu bytes reached the device%s, exit status %d; "
                "device lines printed %zu of %d\n",
                static_cast<std::size_t>(std::count(received.begin(), received.end(), 'b')), bulk.size(),
                written ? "" : " (the pipe refused some)", WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                ends.size(), kLines);
    Report("meanwhile, a device's line on the wire to its end on standard output", times, "lines");
    return 0;
}

int Window() {
    TFakeModule module;
    module.On("AT+DISC?", TModuleBehaviour::Answering("OK+DISCS"));
    TfrmModule window(kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List());
    window.resize(760, 700);
    window.show();
    window.findChild<QComboBox*>(QStringLiteral("cbPort"))->setEditText(QString::fromStdString(module.PortPath()));
    Settle();
    window.findChild<QPushButton*>(QStringLiteral("btnScan"))->click();
    auto* table = window.findChild<QTreeWidget*>(QStringLiteral("lstDevices"));
    Settle();
    std::vector<double> times;
    for (int i = 0; i <= kDevices; ++i) {
        const int before = table->topLevelItemCount();
        const auto sent = Clock::now();
        module.SendUnasked(i < kDevices ? Device(i) : Device(kDevices));
        while (i > 0 && table->topLevelItemCount() == before && Clock::now() - sent < std::chrono::seconds(1))
            QCoreApplication::processEvents();
        if (i > 0)
            times.push_back(Ms(Clock::now() - sent));
        Settle(std::chrono::milliseconds(10));
    }
    Report("module window, entry complete to its row in the table", times);

    // 500 devices as fast as the port carries them.
    std::thread flood([&] {
        for (int i = 0; i < 500; ++i)
            module.SendUnasked(Device(1000 + i));
        module.SendUnasked("OK+DISCE");
    });
    const auto started = Clock::now();
    const TStall stall = RunNotingLongestStall([&] {
        return table->topLevelItemCount() >= 500 + kDevices ||
               Clock::now() - started > std::chrono::seconds(20);
    });
    flood.join();
    std::printf("module window, a scan finding 500 devices: %d rows in %.2f s, longest time the "
                "event loop did not run %.2f ms\n",
                table->topLevelItemCount(), stall.Seconds, stall.LongestMs);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "window") {
        QApplication app(argc, argv);
        return Window();
    }
    if (mode == "data" && argc >= 3)
        return Data({argv + 2, argv + argc});
    if (mode == "bulk" && argc >= 3)
        return Bulk({argv + 2, argv + argc});
    if (mode == "cli" && argc == 3)
        return Cli(argv[2]);
    std::fprintf(stderr, "usage: kelvara_scan_bench cli KELVARA_CLI | window\n");
    return 2;
}
