#pragma once

// Interrupts turned into a call on the event loop, which is told how many have come. On Linux
// SIGINT, SIGTERM and SIGHUP, through a pipe: a signal handler may do little more than write a
// byte. On Windows Ctrl+C, Ctrl+Break and the console closing, which the system tells on a
// thread of its own.

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvara::cli {

class TInterrupts {
  public:
    explicit TInterrupts(std::function<void(int)> onInterrupt);
    ~TInterrupts();
    TInterrupts(const TInterrupts&) = delete;
    TInterrupts& operator=(const TInterrupts&) = delete;

  private:
    // Tells the next interrupt, on the event loop.
    void Interrupted() { onInterrupt_(++count_); }
    // Tells an interrupt that stops at once, as a second one does, however many came before: the
    // console closing, which leaves a few seconds.
    void StopNow() {
        count_ = std::max(count_, 1);
        Interrupted();
    }

    class TSystem; // the system's side: InterruptsLinux.cpp, InterruptsWindows.cpp
    std::function<void(int)> onInterrupt_;
    int count_ = 0;
    std::unique_ptr<TSystem> system_;
};

// The progress display on a terminal's standard error: one line, or one a port.
class TProgress {
  public:
    TProgress();
    ~TProgress() { Clear(); }

    // "[3/9] AT+COMP1 ...": which step of how many, and what it is.
    void Show(std::size_t index, std::size_t total, const std::string& what);
    // Several lines at once, drawn over the ones before.
    void ShowLines(const std::vector<std::string>& lines);
    void Clear();

  private:
    bool shown_;
    std::size_t drawn_ = 0; // lines on the screen
};

} // namespace kelvara::cli
