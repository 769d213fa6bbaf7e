// A batch over several ports, measured against the simulated modules on pseudo-terminals (each
// taken away for 1.3 s after its list, another put in its place):
//   kelvara_ports_bench cli KELVARA_CLI  nine modules over three ports against nine over one,
//                                        side by side, as wall times and their ratio
//   kelvara_ports_bench window           the module window setting up nine modules over three
//                                        ports: the longest the event loop goes without running
#include "FakeModule.h"
#include "LongestStall.h"
#include "ListSource.h"
#include "Spawn.h"
#include "ModuleWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <fcntl.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using kelvara::testing::TFakeModule;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kAway = std::chrono::milliseconds(1300);

void Prepare(TFakeModule& module) {
    module.Style({.AnswerOkLines = true, .CommandEnd = "\r"});
    module.SwapAfterEach("AT+MINO0x", kAway);
}

// Seconds kelvara-cli takes to set up nine modules on the ports given.
double NineModules(const char* cli, const std::vector<const TFakeModule*>& modules) {
    std::vector<std::string> args = {cli, "ibeacon", "--line-end", "cr", "--pause", "0",
                                     "--count", "minor", "--modules", "9"};
    for (const TFakeModule* module : modules)
        args.insert(args.end(), {"--port", module->PortPath()});
    const auto start = Clock::now();
    const pid_t pid = Spawn(std::move(args));
    if (pid < 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

int Cli(const char* cli) {
    double one = 0;
    double three = 0;
    {
        TFakeModule module;
        Prepare(module);
        one = NineModules(cli, {&module});
    }
    {
        std::array<TFakeModule, 3> modules;
        for (TFakeModule& module : modules)
            Prepare(module);
        three = NineModules(cli, {&modules[0], &modules[1], &modules[2]});
    }
    if (one <= 0 || three <= 0)
        return 1;
    std::printf("nine modules, one port:    %6.2f s\nnine modules, three ports: %6.2f s   "
                "ratio %.2f\n", one, three, three / one);
    return 0;
}

int Window() {
    std::array<TFakeModule, 3> modules;
    for (TFakeModule& module : modules)
        Prepare(module);
    const kelvara::TListSource source = kelvara::DefaultSource(kelvara::TListKind::Beacon);
    TfrmModule window(kelvara::BuildList(source).List(), source);
    window.resize(760, 700);
    window.show();
    window.findChild<QComboBox*>(QStringLiteral("cbPort"))->setEditText(QString::fromStdString(modules[0].PortPath()));
    window.findChild<QComboBox*>(QStringLiteral("cbLineEnd"))->setCurrentText(QStringLiteral("CR"));
    window.findChild<QSpinBox*>(QStringLiteral("spnPause"))->setValue(0);
    window.findChild<QSpinBox*>(QStringLiteral("spnModules"))->setValue(9);
    window.findChild<QComboBox*>(QStringLiteral("cbCount"))->setCurrentIndex(1);
    window.findChild<QLineEdit*>(QStringLiteral("edtBatchPorts"))
        ->setText(QString::fromStdString(modules[1].PortPath() + ' ' + modules[2].PortPath()));
    Settle();
    window.findChild<QPushButton*>(QStringLiteral("btnBatch"))->click();
    const TStall stall = RunNotingLongestStall([&] { return !window.IsInBatch(); });
    std::printf("module window, nine modules over three ports in %.2f s: longest time the event "
                "loop did not run %.2f ms\n",
                stall.Seconds, stall.LongestMs);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "window") {
        QApplication app(argc, argv);
        return Window();
    }
    if (mode == "cli" && argc == 3)
        return Cli(argv[2]);
    std::fprintf(stderr, "usage: kelvara_ports_bench cli KELVARA_CLI | window\n");
    return 2;
}
