// Sending, measured against a simulated module on a pseudo-terminal pair:
//   kelvara_send_bench floor            the 16-bit study list to a module that answers at once,
//                                       against commands x (quiet gap + pause)
//   kelvara_send_bench cpu KELVARA_CLI  kelvara-cli's processor time while a module takes
//                                       200 ms to answer each command, against the wall time
//   kelvara_send_bench window           the send window, a module answering after 200 ms: the
//                                       longest the event loop goes without running, and the
//                                       time from pressing Send to the first byte on the wire
#include "FakeModule.h"
#include "ListSender.h"
#include "ModuleLink.h"
#include "SendToModule.h"
#include "CommandTypes.h"
#include "StudyCommandList.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSerialPort>
#include <QSpinBox>
#include <QTimer>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

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
            TModuleLink link;
            TResult result = TResult::Failed;
            QObject::connect(&link, &TModuleLink::finished, [&](TResult r) {
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

int ProcessorTime(const char* cli) {
    TFakeModule module;
    module.AnswerAfterRandomDelays(200, 200, 1);
    std::string port = module.PortPath();
    std::vector<std::string> args = {cli, "study", "--port", port};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, cli, &actions, nullptr, argv.data(), environ) != 0)
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

int Window() {
    TFakeModule module;
    module.AnswerAfterRandomDelays(200, 200, 1);
    TfrmSend window(Study16());
    window.show();
    window.findChild<QComboBox*>(QStringLiteral("cbPort"))
        ->setEditText(QString::fromStdString(module.PortPath()));
    window.findChild<QSpinBox*>(QStringLiteral("spnPause"))->setValue(0);

    // The event loop's longest absence: a 1 ms timer that notes the gaps between its runs.
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    QTimer::singleShot(100, [&] {
        clock.start();
        tick.start();
        const auto pressed = Clock::now();
        window.findChild<QPushButton*>(QStringLiteral("btnSend"))->click();
        QTimer::singleShot(50, [&, pressed] {
            if (const auto first = module.FirstByteTime())
                std::printf("press of Send to the first byte on the wire: %.2f ms\n",
                            Ms(*first - pressed));
        });
    });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (clock.isValid() && !window.IsSending())
            QCoreApplication::quit();
    });
    watch.start(10);
    QApplication::exec();
    std::printf("longest time the event loop did not run during the send: %.2f ms\n",
                static_cast<double>(longest) / 1e6);

    // The port's own opening, for comparison.
    TFakeModule other;
    QSerialPort port(QString::fromStdString(other.PortPath()));
    const auto opening = Clock::now();
    port.open(QIODevice::ReadWrite);
    std::printf("opening the port alone: %.2f ms\n", Ms(Clock::now() - opening));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "window") {
        QApplication app(argc, argv);
        return Window();
    }
    QCoreApplication app(argc, argv);
    if (mode == "floor")
        return Floor();
    if (mode == "cpu" && argc == 3)
        return ProcessorTime(argv[2]);
    std::fprintf(stderr, "usage: kelvara_send_bench floor | cpu KELVARA_CLI | window\n");
    return 2;
}
