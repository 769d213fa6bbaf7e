// Sending, measured against a simulated module on a pseudo-terminal pair:
//   kelvara_send_bench floor            the 16-bit study list to a module that answers at once,
//                                       against commands x (quiet gap + pause)
//   kelvara_send_bench cpu KELVARA_CLI  kelvara-cli's processor time while a module takes
//                                       200 ms to answer each command, against the wall time
//   kelvara_send_bench oklines          the same list to a module answering "\r\nOK\r\n", against
//                                       a minimal loop that writes a command and waits for "OK"
//   kelvara_send_bench find             finding a module at 9600 with no line ending, at 115200
//                                       with CR LF, and giving up on a silent port
//   kelvara_send_bench flood            the module window, a module flooding the port at 230400
//                                       baud for 10 s: the longest the event loop goes without
//                                       running, the memory held after the flood against before
//                                       it, and the time from Enter in the command line to the
//                                       first byte on the wire
//   kelvara_send_bench batch KELVARA_CLI a batch of three modules with swaps: the time from a
//                                       module answering to its first command written, and from
//                                       its last reply to its row on disk
//   kelvara_send_bench window           the send window, a module answering after 200 ms: the
//                                       longest the event loop goes without running, and the
//                                       time from pressing Send to the first byte on the wire
#include "FakeModule.h"
#include "SerialPort.h"
#include "Spawn.h"
#include "LongestStall.h"
#include "ListSender.h"
#include "Session.h"
#include "SettingsFinder.h"
#include "ModuleWindow.h"
#include "CommandTypes.h"
#include "StudyCommandList.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using kelvara::testing::TFakeModule;
using namespace kelvara::link;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> Study16() {
    return kelvara::SetUpCommands(
        kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List());
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int Floor() {
    const auto commands = Study16();
    for (int pause : {0, kDefaultPauseMs}) {
        std::vector<double> times;
        for (int run = 0; run < 5; ++run) {
            TFakeModule module;
            TModuleSession link;
            TResult result = TResult::Failed;
            QObject::connect(&link, &TModuleSession::finished, [&](TResult r) {
                result = r;
                QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
            });
            TSendSettings settings;
            settings.LineEnd = TLineEnd::Cr; // the module answers the moment the line ends
            settings.PauseMs = pause;
            const auto start = Clock::now();
            if (!link.Open(module.PortPath(), settings.BaudRate))
                return 1;
            link.Run(std::make_unique<TListSender>(commands, settings));
            QCoreApplication::exec();
            times.push_back(Ms(Clock::now() - start));
            if (result != TResult::Completed)
                return 1;
        }
        const double floor = static_cast<double>(commands.size()) * (kQuietGapMs + pause);
        std::printf("send 9 commands, pause %4d ms: median %7.1f ms, floor %6.0f ms, ratio %.3fx\n",
                    pause, Median(times), floor, Median(times) / floor);
    }
    return 0;
}

// Runs a policy on the simulated module's port; the wall time in milliseconds, or a negative
// number when it did not end as expected.
double RunPolicy(const TFakeModule& module, std::unique_ptr<TPolicy> policy, TResult expected) {
    TModuleSession link;
    TResult result = TResult::Failed;
    QObject::connect(&link, &TModuleSession::finished, [&](TResult r) {
        result = r;
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    if (!link.Open(module.PortPath(), 9600))
        return -1;
    // As for the minimal loop, the port's opening is not counted.
    const auto start = Clock::now();
    link.Run(std::move(policy));
    QCoreApplication::exec();
    const double ms = Ms(Clock::now() - start);
    return result == expected ? ms : -1;
}

// The least a sender can do: write a command, read until "OK\r\n", and go on.
double MinimalLoop(const TFakeModule& module, const std::vector<std::string>& commands) {
    const int fd = open(module.PortPath().c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600);
    tcsetattr(fd, TCSANOW, &raw);
    const auto start = Clock::now();
    for (const std::string& command : commands) {
        const std::string line = command + "\r\n";
        if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return -1;
        std::string reply;
        char buffer[64];
        while (!reply.ends_with("OK\r\n")) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                return -1;
            reply.append(buffer, static_cast<std::size_t>(n));
        }
    }
    const double ms = Ms(Clock::now() - start);
    close(fd);
    return ms;
}

int OkLines() {
    const auto commands = Study16();
    const kelvara::testing::TModuleStyle style{.AnswerOkLines = true, .CommandEnd = "\r\n"};
    std::vector<double> kelvara;
    std::vector<double> minimal;
    for (int run = 0; run < 11; ++run) {
        TFakeModule module;
        module.Style(style);
        kelvara.push_back(RunPolicy(
            module, std::make_unique<TListSender>(commands, TSendSettings{9600, TLineEnd::CrLf, 1000, 0}),
            TResult::Completed));
        TFakeModule other;
        other.Style(style);
        minimal.push_back(MinimalLoop(other, commands));
    }
    std::printf("send 9 commands, \\r\\nOK\\r\\n replies: median %6.2f ms, minimal loop %6.2f ms, "
                "ratio %.2fx\n",
                Median(kelvara), Median(minimal), Median(kelvara) / Median(minimal));
    return 0;
}

int Find() {
    struct TCase {
        const char* Name;
        kelvara::testing::TModuleStyle Style;
        bool Silent;
    };
    const TCase cases[] = {
        {"a module at 9600, no line ending", {.BaudRate = 9600}, false},
        {"a module at 115200, CR LF", {.AnswerOkLines = true, .CommandEnd = "\r\n", .BaudRate = 115200}, false},
        {"a silent port (gives up)", {}, true},
    };
    for (const TCase& c : cases) {
        std::vector<double> times;
        for (int run = 0; run < (c.Silent ? 3 : 7); ++run) {
            TFakeModule module;
            module.Style(c.Style);
            if (c.Silent)
                module.On("AT", kelvara::testing::TModuleBehaviour::Silent());
            times.push_back(RunPolicy(module, std::make_unique<TSettingsFinder>(),
                                      c.Silent ? TResult::NotFound : TResult::Completed));
        }
        std::printf("find, %-36s median %7.1f ms\n", c.Name, Median(times));
    }
    return 0;
}

int Batch(const char* cli) {
    TFakeModule module;
    module.Style({.AnswerOkLines = true, .CommandEnd = "\r"});
    const std::string record = "/tmp/kelvara-bench-batch-" + std::to_string(getpid()) + ".csv";
    std::remove(record.c_str());
    std::atomic<bool> running = true;
    // Swaps the module once its list has ended; watches the record grow.
    std::vector<Clock::time_point> rowsAt;
    std::thread swapper([&] {
        std::size_t lists = 0;
        long size = 0;
        while (running) {
            struct stat info {};
            if (stat(record.c_str(), &info) == 0 && info.st_size > size) {
                if (size > 0)
                    rowsAt.push_back(Clock::now());
                size = info.st_size;
            }
            const auto commands = module.Commands();
            if (static_cast<std::size_t>(std::count(commands.begin(), commands.end(), "AT+MINO0x278D") +
                                         std::count(commands.begin(), commands.end(), "AT+MINO0x278E") +
                                         std::count(commands.begin(), commands.end(), "AT+MINO0x278F")) > lists) {
                ++lists;
                const auto gone = Clock::now();
                while (running && Ms(Clock::now() - gone) < 1500) {
                    if (stat(record.c_str(), &info) == 0 && info.st_size > size) {
                        rowsAt.push_back(Clock::now());
                        size = info.st_size;
                    }
                    module.Present(Ms(Clock::now() - gone) < 10);
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                module.Present(true);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    const pid_t pid = Spawn({cli, "ibeacon", "--port", module.PortPath(), "--line-end", "cr",
                             "--pause", "0", "--modules", "3", "--count", "minor", "--record",
                             record});
    if (pid < 0)
        return 1;
    int status = 0;
    waitpid(pid, &status, 0);
    running = false;
    swapper.join();
    std::remove(record.c_str());
    const auto commands = module.Commands();
    const auto times = module.CommandTimes();
    std::size_t row = 0;
    for (std::size_t i = 1; i < commands.size(); ++i) {
        if (commands[i] == "AT+RENEW" && commands[i - 1] == "AT" && times[i - 1].Answered)
            std::printf("module answering to its first command written: %6.2f ms\n",
                        Ms(times[i].Taken - *times[i - 1].Answered));
        if (commands[i].starts_with("AT+MINO0x") && times[i].Answered && row < rowsAt.size())
            std::printf("its last reply to its row on disk:             %6.2f ms\n",
                        Ms(rowsAt[row++] - *times[i].Answered));
    }
    return WEXITSTATUS(status);
}

int ProcessorTime(const char* cli) {
    TFakeModule module;
    module.AnswerAfterRandomDelays(200, 200, 1);
    const auto start = Clock::now();
    const pid_t pid = Spawn({cli, "study", "--port", module.PortPath()});
    if (pid < 0)
        return 1;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double wall = Ms(Clock::now() - start);
    const double cpu = usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
                       usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
    std::printf("kelvara-cli, module answering after 200 ms: wall %.0f ms, processor %.1f ms "
                "(%.2f%% of wall), exit %d\n",
                wall, cpu, 100.0 * cpu / wall, WEXITSTATUS(status));
    return WEXITSTATUS(status);
}

long ResidentKiB() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    long kib = 0;
    char line[256];
    while (status && std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
            break;
    if (status)
        std::fclose(status);
    return kib;
}

int Flood() {
    TFakeModule module;
    TfrmModule window(kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List());
    window.resize(680, 640);
    window.show();
    window.findChild<QComboBox*>(QStringLiteral("cbPort"))
        ->setEditText(QString::fromStdString(module.PortPath()));
    window.findChild<QComboBox*>(QStringLiteral("cbBaud"))->setCurrentText(QStringLiteral("230400"));
    auto* line = window.findChild<QLineEdit*>(QStringLiteral("edtCommand"));

    // Enter in the command line to the first byte on the wire (the port opens first).
    QElapsedTimer clock;
    line->setText(QStringLiteral("AT+DISC?"));
    const auto pressed = Clock::now();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(line, &enter);
    while (!module.FirstByteTime() && Ms(Clock::now() - pressed) < 2000)
        QCoreApplication::processEvents();
    if (const auto first = module.FirstByteTime())
        std::printf("Enter in the command line to the first byte on the wire: %.2f ms "
                    "(the port's opening included)\n", Ms(*first - pressed));
    while (window.IsBusy())
        QCoreApplication::processEvents();
    // Once more, on the open port.
    const std::size_t before = module.Received().size();
    line->setText(QStringLiteral("AT+DISC?"));
    const auto again = Clock::now();
    QCoreApplication::sendEvent(line, &enter);
    while (module.Received().size() == before && Ms(Clock::now() - again) < 2000)
        QCoreApplication::processEvents();
    std::printf("the same on the open port: %.2f ms\n", Ms(Clock::now() - again));
    while (window.IsBusy())
        QCoreApplication::processEvents();

    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents();
    const long rssBefore = ResidentKiB();
    // 230400 baud is 23040 bytes a second: a scan's results, over and over, 10 s long.
    std::atomic<bool> flooding = true;
    std::thread flood([&] {
        const std::string chunk = "OK+DIS0:1C1A2B3C4D5EOK+DIS0:7A6B5C4D3E2FOK+NAME:Beacon\r\n";
        const auto start = Clock::now();
        std::size_t sent = 0;
        while (Ms(Clock::now() - start) < 10000) {
            const auto due = static_cast<std::size_t>(Ms(Clock::now() - start) * 23.04);
            while (sent < due) {
                module.SendUnasked(chunk);
                sent += chunk.size();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        flooding = false;
    });
    const TStall stall = RunNotingLongestStall([&] { return !flooding; });
    flood.join();
    for (int i = 0; i < 200; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const long rssAfter = ResidentKiB();
    std::printf("module flooding at 230400 baud for 10 s: longest time the event loop did not "
                "run %.2f ms\n", stall.LongestMs);
    std::printf("transcript: %zu entries kept, %zu dropped; resident memory %ld KiB before the "
                "flood, %ld KiB after (%.2fx)\n",
                window.Transcript().Entries().size(), window.Transcript().Dropped(), rssBefore,
                rssAfter, static_cast<double>(rssAfter) / static_cast<double>(rssBefore));
    // Then 4 MB as fast as the port takes them: far more than the transcript keeps.
    const std::string kib(1024, 'x');
    std::thread burst([&] {
        for (int i = 0; i < 4096; ++i)
            module.SendUnasked(kib);
    });
    const auto burstStart = Clock::now();
    while (Ms(Clock::now() - burstStart) < 3000 || window.Transcript().Dropped() == 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    burst.join();
    for (int i = 0; i < 200; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::printf("after 4 MB more: %zu entries kept, %zu dropped; resident memory %ld KiB (%.2fx "
                "before the flood)\n",
                window.Transcript().Entries().size(), window.Transcript().Dropped(), ResidentKiB(),
                static_cast<double>(ResidentKiB()) / static_cast<double>(rssBefore));
    window.close();
    return 0;
}

int Window() {
    TFakeModule module;
    module.AnswerAfterRandomDelays(200, 200, 1);
    TfrmModule window(kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List());
    window.show();
    window.findChild<QComboBox*>(QStringLiteral("cbPort"))
        ->setEditText(QString::fromStdString(module.PortPath()));
    window.findChild<QSpinBox*>(QStringLiteral("spnPause"))->setValue(0);

    Settle(std::chrono::milliseconds(100));
    const auto pressed = Clock::now();
    window.findChild<QPushButton*>(QStringLiteral("btnSend"))->click();
    QTimer::singleShot(50, [&] {
        if (const auto first = module.FirstByteTime())
            std::printf("press of Send to the first byte on the wire: %.2f ms\n", Ms(*first - pressed));
    });
    const TStall stall = RunNotingLongestStall([&] { return !window.IsSending(); });
    std::printf("longest time the event loop did not run during the send: %.2f ms\n",
                stall.LongestMs);

    // The port's own opening, for comparison.
    TFakeModule other;
    kelvara::link::TSerialPort port;
    const auto opening = Clock::now();
    port.Open(other.PortPath(), 9600);
    std::printf("opening the port alone: %.2f ms\n", Ms(Clock::now() - opening));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "window" || mode == "flood") {
        QApplication app(argc, argv);
        return mode == "window" ? Window() : Flood();
    }
    QCoreApplication app(argc, argv);
    if (mode == "floor")
        return Floor();
    if (mode == "oklines")
        return OkLines();
    if (mode == "find")
        return Find();
    if (mode == "cpu" && argc == 3)
        return ProcessorTime(argv[2]);
    if (mode == "batch" && argc == 3)
        return Batch(argv[2]);
    std::fprintf(stderr, "usage: kelvara_send_bench floor | oklines | find | cpu KELVARA_CLI | window\n");
    return 2;
}
