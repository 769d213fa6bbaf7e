// kelvara-cli as a whole, started as a user starts it: the study list printed (no port), and the
// 16-bit study list sent to the simulated module. Run once with the Linux program and once with
// the Windows one under Wine (bench/windows.sh), the medians side by side give the ratios.
//   kelvara_cli_run_bench RUNS PROGRAM [WORD...]   e.g. 20 wine build/windows/cli/kelvara-cli.exe
// With KELVARA_TEST_COM_PORTS set, the module is reached through the COM port that leads to it.
#include "FakeModule.h"
#include "Spawn.h"

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Runs the command with its output thrown away; its wall time in milliseconds, or -1 on failure.
double Run(std::vector<std::string> words) {
    const auto start = Clock::now();
    const pid_t pid = Spawn(std::move(words));
    int status = 0;
    const bool ran = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
                     WEXITSTATUS(status) == 0;
    return ran ? std::chrono::duration<double, std::milli>(Clock::now() - start).count() : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3)
        return 2;
    const int runs = std::max(1, std::atoi(argv[1]));
    const std::vector<std::string> program(argv + 2, argv + argc);

    std::vector<double> printed, sent;
    for (int i = 0; i < runs; ++i) {
        std::vector<std::string> words = program;
        words.push_back("study");
        printed.push_back(Run(words));

        kelvara::testing::TFakeModule module;
        words.insert(words.end(), {"--port", module.PortName(), "--pause", "0"});
        sent.push_back(Run(words));
        if (module.Commands().size() != 9)
            sent.back() = -1;
    }
    if (*std::min_element(printed.begin(), printed.end()) < 0 ||
        *std::min_element(sent.begin(), sent.end()) < 0) {
        std::fprintf(stderr, "kelvara_cli_run_bench: a run failed\n");
        return 1;
    }
    std::printf("study printed: median %.1f ms\n16-bit list sent: median %.1f ms\n", Median(printed),
                Median(sent));
    return 0;
}
