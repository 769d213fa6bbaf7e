#pragma once

// What the session's tests share: a session on an in-memory port that describes every event it
// tells, a pump that runs sessions with the time given, and a file read whole.

#include "MemoryPort.h"
#include "PolicyRun.h"

#include "Session.h"

#include <QString>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace kelvara::testing {

using TLog = std::vector<std::string>;

inline constexpr TSendSettings kNoPause{.BaudRate = 9600, .LineEnd = TLineEnd::None, .TimeoutMs = 100, .PauseMs = 0};

// A session on an in-memory port, and every event it told, described.
struct TRig {
    explicit TRig(std::shared_ptr<TTestClock> shared = std::make_shared<TTestClock>()) : clock(std::move(shared)) {
        auto owned = std::make_unique<TMemoryPort>();
        port = owned.get();
        session = std::make_unique<TModuleSession>(std::move(owned), clock);
        QObject::connect(session.get(), &TModuleSession::linkEvent,
                         [this](const TEvent& event) { log.push_back(Describe(event)); events.push_back(event); });
        QObject::connect(session.get(), &TModuleSession::finished, [this](TResult) { ++finished; });
        EXPECT_TRUE(session->Open("mem0", 9600));
    }
    std::shared_ptr<TTestClock> clock;
    TMemoryPort* port = nullptr;
    std::unique_ptr<TModuleSession> session;
    TLog log;
    std::vector<TEvent> events;
    int finished = 0;
};

// Advances the clock to the session's next wake-up (times are the session's, from its opening)
// and runs what is due there, until nothing is due before `limit` ms of session time.
inline void Pump(const std::vector<TRig*>& rigs, Ms limit) {
    TTestClock& clock = *rigs.front()->clock;
    for (int i = 0; i < 100000; ++i) {
        // An answer written while a delivery is handled is delivered too, at the same time.
        for (bool waiting = true; waiting;) {
            waiting = false;
            for (TRig* rig : rigs) {
                rig->port->Deliver();
                waiting |= rig->port->Waiting();
            }
        }
        std::optional<Ms> next;
        for (TRig* rig : rigs)
            next = Earliest(next, rig->session->WakeAt());
        const Ms now = rigs.front()->session->Now();
        if (!next || *next > limit)
            return;
        clock.now += std::max<Ms>(0, *next - now);
        for (TRig* rig : rigs) {
            if (const auto wake = rig->session->WakeAt(); wake && *wake <= rig->session->Now())
                rig->session->TimePassed();
        }
    }
}

// A file's text, read whole.
inline std::string ReadFile(const QString& path) {
    std::ifstream in(path.toStdString());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `what` while files may grow to `bytes` and no more: a write past it fails as on a full disk.
template <class Do> void WithFilesLimitedTo(std::size_t bytes, Do what) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit kept{};
    getrlimit(RLIMIT_FSIZE, &kept);
    rlimit full = kept;
    full.rlim_cur = static_cast<rlim_t>(bytes);
    setrlimit(RLIMIT_FSIZE, &full);
    what();
    setrlimit(RLIMIT_FSIZE, &kept);
}

} // namespace kelvara::testing
