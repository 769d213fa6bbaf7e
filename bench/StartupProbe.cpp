// Starts two programs alternately under an X server and measures, for each start, the time until
// its first top-level window is mapped (seen as a MapNotify event on the root window, not by
// polling) and its resident memory at that moment and once settled. Prints medians and ratios.
//   kelvara_startup_probe RUNS "PROGRAM [ARGUMENT...]" "BASELINE [ARGUMENT...]"
#include <X11/Xlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double Milliseconds = 0;
    long RssAtMapKiB = 0;
    long RssSettledKiB = 0;
};

long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

// Waits for the next MapNotify of a window on the root, up to the deadline.
bool WaitForMap(Display* display, Clock::time_point deadline) {
    const int fd = ConnectionNumber(display);
    while (Clock::now() < deadline) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect)
                return true;
        }
        pollfd waiting{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        poll(&waiting, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    }
    return false;
}

// Splits a command line at spaces.
std::vector<std::string> Words(const std::string& command) {
    std::vector<std::string> words;
    std::istringstream in(command);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

bool Measure(Display* display, const std::string& command, Sample& sample) {
    std::vector<std::string> words = Words(command);
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    XSync(display, True); // drop events left from the previous run
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0)
        return false;
    const bool mapped = WaitForMap(display, start + std::chrono::seconds(20));
    const auto end = Clock::now();
    if (mapped) {
        sample.Milliseconds = std::chrono::duration<double, std::milli>(end - start).count();
        sample.RssAtMapKiB = ResidentKiB(pid);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        sample.RssSettledKiB = ResidentKiB(pid);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return mapped;
}

template <class F> double Median(const std::vector<Sample>& samples, F field) {
    std::vector<double> values;
    for (const auto& s : samples)
        values.push_back(static_cast<double>(field(s)));
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: kelvara_startup_probe RUNS PROGRAM BASELINE\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    const std::string programs[] = {argv[2], argv[3]};
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "kelvara_startup_probe: cannot open the display\n");
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);

    std::vector<Sample> samples[2];
    for (int run = 0; run < runs; ++run) {
        // Alternate which one goes first, so that neither always follows the other.
        for (int k = 0; k < 2; ++k) {
            const int which = (run + k) % 2;
            Sample sample;
            if (!Measure(display, programs[which], sample)) {
                std::fprintf(stderr, "kelvara_startup_probe: %s mapped no window\n",
                             programs[which].c_str());
                return 1;
            }
            samples[which].push_back(sample);
        }
    }
    XCloseDisplay(display);

    const auto time = [](const Sample& s) { return s.Milliseconds; };
    const auto rssMap = [](const Sample& s) { return s.RssAtMapKiB; };
    const auto rssSettled = [](const Sample& s) { return s.RssSettledKiB; };
    std::printf("medians over %d alternating runs each\n", runs);
    std::printf("%-26s %12s %12s %8s\n", "", "program", "baseline", "ratio");
    const auto row = [&](const char* name, auto field, const char* unit) {
        const double a = Median(samples[0], field);
        const double b = Median(samples[1], field);
        std::printf("%-26s %9.1f %-2s %9.1f %-2s %7.3fx\n", name, a, unit, b, unit, a / b);
    };
    row("time to mapped window", time, "ms");
    row("resident memory at map", rssMap, "kB");
    row("resident memory settled", rssSettled, "kB");
    return 0;
}
