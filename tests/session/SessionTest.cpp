// The module session, in-process on in-memory ports, by plain calls with the time given: no
// pseudo-terminal, no event loop. The batch over its ports and the log have files of their own.
#include "SessionRig.h"

#include "Connection.h"
#include "ListSender.h"

#include <QCoreApplication>

namespace kelvara::testing {
namespace {

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
    bool endTellsTheList = false; // the list's end is told as the list's, none running
    const auto connection = QObject::connect(rig.session.get(), &TModuleSession::linkEvent, [&](const TEvent& event) {
        if (std::holds_alternative<TFinished>(event))
            endTellsTheList = rig.session->Ended<TListSender>() && !rig.session->IsRunning();
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
    EXPECT_TRUE(endTellsTheList);
    EXPECT_EQ(rig.session->Ended<TListSender>(), nullptr);
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
    bool endedWhenTold = false;
    QObject::connect(rig.session.get(), &TModuleSession::finished, [&] {
        if (!std::exchange(restarted, true)) {
            endedWhenTold = rig.session->Ended<TConsole>() && !rig.session->Running<TConsole>();
            rig.session->Run(std::make_unique<TConsole>(TLineEnd::None, 100));
        }
    });
    rig.session->Run(std::make_unique<TConsole>(TLineEnd::None, 100));
    rig.session->DriveAs<TConsole>([](TConsole& c, Ms now) { return c.End(now); });
    ASSERT_NE(rig.session->Running<TConsole>(), nullptr);
    rig.session->DriveAs<TConsole>([](TConsole& c, Ms now) { return c.Submit("AT+B", now); });
    rig.port->Arrive("OK\r\n");
    Pump({&rig}, 1000);
    EXPECT_EQ(rig.log, (TLog{"@50 finished completed", "@50 > AT+B", "@50 ack 0 AT+B OK\\x0d\\x0a"}));
    EXPECT_TRUE(endedWhenTold);
    EXPECT_EQ(rig.session->Ended<TConsole>(), nullptr);
}

} // namespace
} // namespace kelvara::testing

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
