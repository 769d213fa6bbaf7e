// The module session and a batch over its ports, in-process on in-memory ports, by plain calls
// with the time given: no pseudo-terminal, no event loop.
#include "MemoryPort.h"
#include "PolicyRun.h"

#include "BatchPorts.h"
#include "LinkLog.h"
#include "Connection.h"
#include "ListSender.h"
#include "Session.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/resource.h>

namespace kelvara::testing {
namespace {

using TLog = std::vector<std::string>;

constexpr TSendSettings kNoPause{.BaudRate = 9600, .LineEnd = TLineEnd::None, .TimeoutMs = 100, .PauseMs = 0};

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
void Pump(const std::vector<TRig*>& rigs, Ms limit) {
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

// A device that talks while the user sends: each of its lines is in the port (not yet read)
// when the user's line is written, or arrives during that write. Every byte reaches the front,
// in order, as data; none is taken for anything else.
TEST(Session, ADataSessionKeepsEveryByteTheDeviceSendsWhateverIsWrittenMeanwhile) {
  for (const bool duringWrite : {false, true}) {
    TRig rig;
    rig.port->Answer = [](const std::string& written) {
        return written.starts_with("AT+CO") ? std::string("OK+CONNAOK+CONN") : std::string();
    };
    rig.session->Run(std::make_unique<TConnection>('0', "C4BE84123456", kNoPause));
    Pump({&rig}, 200);
    ASSERT_NE(rig.session->Running<TConnection>(), nullptr);
    ASSERT_TRUE(rig.session->Running<TConnection>()->Connected()) << ::testing::PrintToString(rig.log);
    std::string sent;
    for (int i = 0; i < 50; ++i) {
        const std::string line = "t=" + std::to_string(i) + "\r\n";
        sent += line;
        if (duringWrite)
            rig.port->ArriveDuringNextWrite(line);
        else
            rig.port->Arrive(line);
        ASSERT_TRUE(rig.session->DriveAs<TConnection>(
            [&](TConnection& c, Ms now) { return c.Send("x" + std::to_string(i), now); }));
        rig.clock->now += 5;
        rig.port->Deliver();
    }
    Pump({&rig}, rig.session->Now() + 100);
    // Every byte as data; each write as data, not a command (the console shows it as sent).
    std::string data;
    for (const TEvent& event : rig.events) {
        if (const auto* d = std::get_if<TData>(&event))
            data += d->Bytes;
        if (const auto* written = std::get_if<TWritten>(&event); written && written->Bytes.starts_with("x")) {
            EXPECT_EQ(written->Kind, TWriteKind::Data);
        }
    }
    EXPECT_EQ(data, sent);
    // The module's word that the device went, waiting in the port as the user writes.
    rig.port->Arrive("OK+LOST");
    rig.session->DriveAs<TConnection>([](TConnection& c, Ms now) { return c.Send("late", now); });
    Pump({&rig}, rig.session->Now() + 100);
    EXPECT_EQ(rig.log.back(), "@" + std::to_string(rig.session->Now()) + " finished failed");
    EXPECT_EQ(rig.log[rig.log.size() - 2], "@" + std::to_string(rig.session->Now()) + " dropped OK+LOST");
  }
}

// A policy that sets the rate, then waits for its port through a loss.
class TRateThenWait : public TPolicy {
  public:
    TStep Start(Ms) override {
        TStep step;
        step.SetBaudRate = 19200;
        return step;
    }
    TStep BytesReceived(std::string_view, Ms) override { return {}; }
    TStep TimePassed(Ms) override { return {}; }
    TStep ConnectionLost(Ms) override { return {}; }
    TStep PortBack(Ms now) override { return Done(now); }
    TStep Cancel(Ms now) override { return Done(now); }
    std::optional<Ms> WakeAt() const override { return std::nullopt; }
    bool Finished() const override { return done_; }

  private:
    TStep Done(Ms now) {
        done_ = true;
        TStep step;
        step.Add(TFinished{.At = now});
        return step;
    }
    bool done_ = false;
};

struct LossCase {
    const char* Name;
    std::function<void(TRig&)> Act;
    std::vector<int> Rates;  // the port's rates, in order
    TLog Log;
    int Finished;
    bool Open;
    std::string Failure = {}; // the lost command's failure, in words
    int Refusals = 0;         // reopenRefused told
};

class PortLoss : public ::testing::TestWithParam<LossCase> {};

TEST_P(PortLoss, EndsOrWaitsAsThePolicySays) {
    TRig rig;
    int lost = 0, back = 0, refusals = 0;
    QObject::connect(rig.session.get(), &TModuleSession::reopenRefused, [&] { ++refusals; });
    QObject::connect(rig.session.get(), &TModuleSession::portLost, [&] { ++lost; });
    QObject::connect(rig.session.get(), &TModuleSession::portBack, [&] { ++back; });
    GetParam().Act(rig);
    EXPECT_EQ(rig.port->Rates, GetParam().Rates);
    EXPECT_EQ(rig.log, GetParam().Log);
    EXPECT_EQ(rig.finished, GetParam().Finished);
    EXPECT_EQ(rig.session->IsOpen(), GetParam().Open);
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(back, GetParam().Open ? 1 : 0);
    EXPECT_EQ(refusals, GetParam().Refusals);
    for (const TEvent& event : rig.events) {
        if (const auto* outcome = std::get_if<TOutcome>(&event)) {
            EXPECT_EQ(FailureText(*outcome), GetParam().Failure);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Session, PortLoss,
    ::testing::Values(
        // The rate a policy set is the one the port comes back at.
        LossCase{"ReopensAtTheRateThePolicySet",
                 [](TRig& rig) {
                     rig.session->Run(std::make_unique<TRateThenWait>());
                     rig.port->Unplug();
                     rig.session->LookForPort(); // not back yet
                     rig.port->Present = true;
                     rig.session->LookForPort();
                 },
                 {9600, 19200, 19200}, {"@0 finished completed"}, 1, true},
        // Back but refused (its permissions being set, a driver starting): told, and tried
        // again, each time a little later, until it opens.
        LossCase{"ARefusedReopenIsTriedAgainLessOften",
                 [](TRig& rig) {
                     rig.session->Run(std::make_unique<TRateThenWait>());
                     rig.port->Unplug();
                     rig.port->Present = true;
                     rig.port->Refusal = QStringLiteral("the device is not functioning");
                     std::vector<int> waits;
                     for (int i = 0; i < 7; ++i) {
                         rig.session->LookForPort();
                         waits.push_back(rig.session->LookEveryMs());
                     }
                     EXPECT_EQ(waits, (std::vector<int>{200, 400, 800, 1600, 3200, 3200, 3200}));
                     rig.port->Refusal.clear();
                     rig.session->LookForPort();
                     EXPECT_EQ(rig.session->LookEveryMs(), 100);
                 },
                 {9600, 19200, 19200}, {"@0 finished completed"}, 1, true, {}, 7},
        // An opening that blocks goes on away from the caller: the port is not opened twice
        // meanwhile, and what it ends with is told when it ends.
        LossCase{"AnOpeningThatBlocksIsWaitedFor",
                 [](TRig& rig) {
                     rig.session->Run(std::make_unique<TRateThenWait>());
                     rig.port->Unplug();
                     rig.port->Present = true;
                     rig.port->OpensLater = true;
                     rig.port->Refusal = QStringLiteral("the semaphore timeout period has expired");
                     rig.session->LookForPort();
                     rig.session->LookForPort();
                     EXPECT_EQ(rig.port->Openings, 1);
                     rig.port->EndOpening();
                     EXPECT_FALSE(rig.session->IsOpen());
                     rig.port->Refusal.clear();
                     rig.session->LookForPort();
                     rig.port->EndOpening();
                     EXPECT_EQ(rig.port->Openings, 2);
                 },
                 {9600, 19200, 19200}, {"@0 finished completed"}, 1, true, {}, 1},
        // A write that fails is the port gone: the command fails as lost, nothing follows.
        LossCase{"AWriteThatFailsLosesThePort",
                 [](TRig& rig) {
                     rig.session->Run(std::make_unique<TConsole>(TLineEnd::None, 100));
                     rig.port->FailNextWrite = true;
                     rig.port->Reason = "Windows error 22";
                     rig.session->DriveAs<TConsole>([](TConsole& c, Ms now) { return c.Submit("AT", now); });
                 },
                 {9600}, {"@0 > AT", "@0 lost 0 AT", "@0 finished failed"}, 1, false,
                 "connection lost (Windows error 22)"}),
    [](const auto& info) { return info.param.Name; });

// A handler may abandon the policy, or start another, while the session is telling an event:
// what it asks is done once every event of the step has been told, in the order it asked.
TEST(Session, AHandlerMayAbandonOrStartAPolicyDuringAnEvent) {
    TRig rig;
    rig.port->Answer = [](const std::string& written) {
        return written == "AT+A" ? std::string("OK\r\n") : std::string();
    };
    bool runningWhenAsked = false;
    const auto connection = QObject::connect(rig.session.get(), &TModuleSession::linkEvent, [&](const TEvent& event) {
        const auto* outcome = std::get_if<TOutcome>(&event);
        if (outcome && outcome->Index == 0) {
            rig.session->Abandon();
            rig.session->Run(std::make_unique<TConsole>(TLineEnd::None, 100));
            rig.log.push_back("asked");
            runningWhenAsked = rig.session->Running<TListSender>() != nullptr;
        }
    });
    rig.session->Run(std::make_unique<TListSender>(std::vector<std::string>{"AT+A", "AT+B"}, kNoPause));
    Pump({&rig}, 500);
    EXPECT_TRUE(runningWhenAsked);
    EXPECT_EQ(rig.log, (TLog{"@0 > AT+A", "@0 ack 0 AT+A OK\\x0d\\x0a", "asked", "@0 > AT+B",
                             "@0 finished cancelled"}));
    ASSERT_NE(rig.session->Running<TConsole>(), nullptr);
    rig.log.clear();
    rig.session->Abandon();
    EXPECT_EQ(rig.log, TLog{"@0 finished cancelled"});
    EXPECT_FALSE(rig.session->IsRunning());
    EXPECT_EQ(rig.session->Running<TConsole>(), nullptr);
    EXPECT_FALSE(rig.session->DriveAs<TConsole>([](TConsole& c, Ms now) { return c.Submit("AT", now); }));
    // What the module says now is unasked.
    rig.log.clear();
    rig.port->Arrive("OK\r\n");
    Pump({&rig}, 500);
    EXPECT_EQ(rig.log, (TLog{"@0 unasked OK\\x0d\\x0a"}));
    QObject::disconnect(connection);

    // A second console started as the first finishes runs on.
    rig.log.clear();
    bool restarted = false;
    QObject::connect(rig.session.get(), &TModuleSession::finished, [&] {
        if (!std::exchange(restarted, true))
            rig.session->Run(std::make_unique<TConsole>(TLineEnd::None, 100));
    });
    rig.session->Run(std::make_unique<TConsole>(TLineEnd::None, 100));
    rig.session->DriveAs<TConsole>([](TConsole& c, Ms now) { return c.End(now); });
    ASSERT_NE(rig.session->Running<TConsole>(), nullptr);
    rig.session->DriveAs<TConsole>([](TConsole& c, Ms now) { return c.Submit("AT+B", now); });
    rig.port->Arrive("OK\r\n");
    Pump({&rig}, 1000);
    EXPECT_EQ(rig.log, (TLog{"@50 finished completed", "@50 > AT+B", "@50 ack 0 AT+B OK\\x0d\\x0a"}));
}

// -- A batch over in-memory ports --

TBatchPlan Plan(std::size_t modules) {
    return std::get<TBatchPlan>(
        TBatchPlan::Make({kelvara::DefaultSource(kelvara::TListKind::Beacon), "minor", modules}, {}));
}

// A module on a port: it answers every command "OK" while `present`, then (once its list has
// come, when `leaves`) goes.
void Module(TRig& rig, bool present, bool leaves = true) {
    auto here = std::make_shared<bool>(present);
    rig.port->Answer = [here, leaves](const std::string& written) {
        if (!*here)
            return std::string();
        if (leaves && written.starts_with("AT+RESET"))
            *here = false;
        return std::string("OK\r\n");
    };
}

struct TBatchRig {
    explicit TBatchRig(std::size_t ports, std::size_t modules, TRecordFile* record = nullptr)
        : plan(Plan(modules)), batch(plan, kNoPause, record) {
        auto clock = std::make_shared<TTestClock>();
        for (std::size_t i = 0; i < ports; ++i) {
            rigs.push_back(std::make_unique<TRig>(clock));
            batch.Add("mem" + std::to_string(i), *rigs.back()->session);
        }
        QObject::connect(&batch, &TBatchPorts::batchEvent, [this](std::size_t port, std::size_t module, const TEvent& event) {
            seen.push_back(std::to_string(port) + ':' + std::to_string(module) + ' ' +
                           Describe(event).substr(Describe(event).find(' ') + 1));
        });
        QObject::connect(&batch, &TBatchPorts::recordFailed,
                         [this](std::size_t module, const QString&) { seen.push_back("record failed " + std::to_string(module)); });
        QObject::connect(&batch, &TBatchPorts::finished, [this](TResult result) {
            seen.push_back(result == TResult::Completed ? "finished completed" : "finished cancelled");
        });
    }
    std::vector<TRig*> All() {
        std::vector<TRig*> all;
        for (auto& rig : rigs)
            all.push_back(rig.get());
        return all;
    }
    // The batch's own news: modules taken and ended, and its end.
    TLog Modules() const {
        TLog modules;
        for (const std::string& line : seen)
            if (line.find(" take ") != std::string::npos || line.find(" end ") != std::string::npos ||
                !std::isdigit(static_cast<unsigned char>(line.front())))
                modules.push_back(line);
        return modules;
    }

    TBatchPlan plan;
    std::vector<std::unique_ptr<TRig>> rigs;
    TBatchPorts batch;
    TLog seen;
};

std::string ReadFile(const QString& path) {
    std::ifstream in(path.toStdString());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The probe of a port still waiting for a module has its answer (or its silence) before the
// port stops, once another port has set up the last module.
TEST(BatchPorts, APortProbingWhenThePlanCompletesEndsItsProbeFirst) {
    TBatchRig rig(2, 1);
    Module(*rig.rigs[0], true);
    Module(*rig.rigs[1], false); // no module here: its "AT" goes unanswered
    rig.batch.Start();
    Pump(rig.All(), 60000);
    EXPECT_EQ(rig.seen.back(), "finished completed");
    const TLog& probing = rig.rigs[1]->log;
    ASSERT_GE(probing.size(), 3u);
    // Every "AT" written has its outcome before the run ends.
    int open = 0;
    for (const std::string& line : probing) {
        if (line.find(" > AT") != std::string::npos)
            ++open;
        if (line.find(" no answer ") != std::string::npos)
            --open;
    }
    EXPECT_EQ(open, 0) << ::testing::PrintToString(probing);
}

// A new record in a folder of its own.
struct TNewRecord {
    TNewRecord() {
        std::vector<kelvara::TRecordRow> rows;
        std::string why;
        File.Open(Path.toStdString(), rows, why);
    }
    QTemporaryDir Folder;
    QString Path = Folder.filePath(QStringLiteral("record.csv"));
    TRecordFile File;
};

TEST(BatchPorts, AModuleStoppedAtOnceEndsAsCutShortWithItsRow) {
    TNewRecord record;
    ASSERT_TRUE(record.File.IsOpen());
    const QString& path = record.Path;
    TBatchRig rig(1, 2, &record.File);
    rig.rigs[0]->port->Answer = [](const std::string& written) {
        return written.starts_with("AT+MARJ") ? std::string() : std::string("OK\r\n");
    };
    rig.batch.Start();
    Pump(rig.All(), 50); // the module under way, its list waiting for an answer
    ASSERT_TRUE(rig.batch.SettingUp());
    rig.batch.StopAtOnce();
    EXPECT_EQ(rig.Modules(), (TLog{"0:1 take 1 minor=10125", "0:1 end 1 failed (stopped at once)",
                                   "finished cancelled"}));
    EXPECT_NE(ReadFile(path).find("(stopped at once)"), std::string::npos) << ReadFile(path);
}

// A module's row is on disk when its end is told, written once the session has told its step
// (never while a handler is being told), and what the port told after it keeps its place.
TEST(BatchPorts, ARowIsWrittenAfterTheDeliveryAndBeforeTheEndIsTold) {
    TNewRecord record;
    TBatchRig rig(1, 2, &record.File);
    Module(*rig.rigs[0], true, false); // it stays: the batch waits for its removal
    TLog told;
    QObject::connect(&rig.batch, &TBatchPorts::batchEvent, [&](std::size_t, std::size_t module, const TEvent& event) {
        if (std::holds_alternative<TModuleEnded>(event))
            told.push_back("end " + std::to_string(module) + (rig.rigs[0]->session->Delivering() ? " delivering" : "") +
                           (ReadFile(record.Path).find(module == 1 ? "10125" : "10126") != std::string::npos ? " on disk" : ""));
        else if (std::holds_alternative<TModuleAwaited>(event))
            told.push_back("await " + std::to_string(module));
    });
    rig.batch.Start();
    Pump(rig.All(), 60000);
    EXPECT_EQ(told, (TLog{"await 0", "end 1 on disk", "await 0"}));
}

// A record that can take no more stops every port, and the front hears why before the end.
TEST(BatchPorts, ARecordThatCannotBeWrittenIsToldBeforeTheBatchEnds) {
    TNewRecord record;
    ASSERT_TRUE(record.File.IsOpen());
    const QString& path = record.Path;
    TBatchRig rig(1, 2, &record.File);
    Module(*rig.rigs[0], true);
    // The file may grow no more: its next row fails as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit kept{};
    getrlimit(RLIMIT_FSIZE, &kept);
    rlimit full = kept;
    full.rlim_cur = static_cast<rlim_t>(ReadFile(path).size());
    setrlimit(RLIMIT_FSIZE, &full);
    rig.batch.Start();
    Pump(rig.All(), 60000);
    setrlimit(RLIMIT_FSIZE, &kept);
    EXPECT_EQ(rig.Modules(), (TLog{"0:1 take 1 minor=10125", "record failed 1", "finished cancelled"}));
    EXPECT_FALSE(rig.batch.Running());
}

// -- The log --

TEST(LinkLog, LinesCarryTheDateTimeOffsetMarkerAndEscapes) {
    const TWallTime when{1796909169123, 60}; // 2026-12-10 13:26:09.123 UTC
    const struct {
        TTranscriptEntry Entry;
        TWallTime When;
        std::string Port;
        std::string Line;
    } rows[] = {
        {{5, link::TEntryKind::Written, "AT+DISC?\r\n"}, when, "", "2026-12-10T14:26:09.123+01:00 -> AT+DISC?\\x0d\\x0a\n"},
        {{5, link::TEntryKind::DataReceived, "t=21\xb0" "C\r"}, {when.EpochMs, -330}, "",
         "2026-12-10T07:56:09.123-05:30 << t=21\\xb0C\\x0d\n"},
        {{5, link::TEntryKind::Note, "COM4 went away"}, {when.EpochMs + 877, 0}, "COM4", "2026-12-10T13:26:10.000+00:00 [COM4] -- COM4 went away\n"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LogLine(row.Entry, row.When, row.Port), row.Line);
    EXPECT_EQ(DefaultLogName(when), "kelvara-20261210-142609.log");
}

// The log appends to what the file holds; a file that can take no more is a failure told, and
// nothing more is written (a file removed meanwhile: the window's test).
TEST(LinkLog, AppendsAndTellsWhenItCannotBeWritten) {
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("link.log")).toStdString();
    std::ofstream(path) << "before\n";
    const TTranscriptEntry entry{0, link::TEntryKind::Note, "one"};
    std::string why;
    {
        TLinkLog log;
        ASSERT_TRUE(log.Open(path, why)) << why;
        EXPECT_TRUE(log.Add(entry, {0, 0}));
        EXPECT_EQ(log.Bytes(), 7u + 37u);
        // Full: the next line fails as on a full disk, and so does every one after it.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit kept{};
        getrlimit(RLIMIT_FSIZE, &kept);
        rlimit full = kept;
        full.rlim_cur = log.Bytes();
        setrlimit(RLIMIT_FSIZE, &full);
        EXPECT_FALSE(log.Add(entry, {0, 0}));
        setrlimit(RLIMIT_FSIZE, &kept);
        EXPECT_EQ(log.Failure(), "File too large");
        EXPECT_FALSE(log.Add(entry, {0, 0}));
    }
    EXPECT_EQ(ReadFile(QString::fromStdString(path)), "before\n1970-01-01T00:00:00.000+00:00 -- one\n");
    EXPECT_FALSE(TLinkLog().Open(folder.path().toStdString(), why));
    EXPECT_EQ(why, "Is a directory");
}

} // namespace
} // namespace kelvara::testing

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
