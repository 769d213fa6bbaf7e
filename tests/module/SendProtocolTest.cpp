// The send protocol on its own, fed bytes and time by hand: when a reply is complete, what
// acknowledges, and when sending stops.
#include "SendProtocol.h"

#include <gtest/gtest.h>

using namespace kelvara::link;

namespace {

const std::vector<std::string> kThree = {"AT+A", "AT+B", "AT+C"};

TSendSettings Settings(int timeoutMs, int pauseMs, TLineEnd lineEnd = TLineEnd::None) {
    return {9600, lineEnd, timeoutMs, pauseMs};
}

std::vector<TCommandState> States(const TSendProtocol& p) {
    std::vector<TCommandState> states;
    for (const auto& c : p.Commands())
        states.push_back(c.State);
    return states;
}

using enum TCommandState;

TEST(SendProtocol, WholeSendWithQuietGapAndPause) {
    TSendProtocol p(kThree, Settings(1000, 100, TLineEnd::CrLf), 50);
    TStep step = p.Start(0);
    EXPECT_EQ(step.Write, "AT+A\r\n");
    EXPECT_EQ(p.WakeAt(), 1000);
    p.BytesReceived("OK+", 10);
    p.BytesReceived("A", 40);               // within the quiet gap: the same reply
    EXPECT_EQ(p.WakeAt(), 90);
    EXPECT_FALSE(p.TimePassed(89).Write);   // too early does nothing
    step = p.TimePassed(90);
    EXPECT_EQ(step.Changed, std::vector<std::size_t>{0});
    EXPECT_EQ(p.Commands()[0].Reply, "OK+A");
    EXPECT_EQ(p.WakeAt(), 190);             // the pause
    p.BytesReceived("stray", 120);          // no command is waiting: dropped
    step = p.TimePassed(190);
    EXPECT_EQ(step.Write, "AT+B\r\n");
    p.BytesReceived("OK", 200);
    p.TimePassed(250);
    p.TimePassed(350);
    p.BytesReceived("OK", 360);
    step = p.TimePassed(410);
    EXPECT_TRUE(step.Finished);
    EXPECT_EQ(p.Result(), TSendResult::AllAcknowledged);
    EXPECT_EQ(p.Commands()[1].Reply, "OK");
    EXPECT_EQ(States(p), (std::vector{Acknowledged, Acknowledged, Acknowledged}));
    EXPECT_EQ(p.WakeAt(), std::nullopt);
}

TEST(SendProtocol, EachFailureStopsAndNothingIsSentAfter) {
    {   // Silence until the timeout.
        TSendProtocol p(kThree, Settings(300, 0), 50);
        p.Start(0);
        EXPECT_FALSE(p.TimePassed(299).Finished);
        const TStep step = p.TimePassed(300);
        EXPECT_TRUE(step.Finished);
        EXPECT_FALSE(step.Write);
        EXPECT_EQ(p.Commands()[0].Failure, TFailure::NoAnswer);
        EXPECT_EQ(States(p), (std::vector{Failed, NotSent, NotSent}));
    }
    {   // An answer that does not begin with OK.
        TSendProtocol p(kThree, Settings(300, 0), 50);
        p.Start(0);
        p.BytesReceived(" OK", 5);
        p.TimePassed(55);
        EXPECT_EQ(p.Result(), TSendResult::Failed);
        EXPECT_EQ(p.FailedCommand(), 0u);
        EXPECT_EQ(p.Commands()[0].Failure, TFailure::Refused);
    }
    {   // The port lost during a pause: the command that could not be sent fails.
        TSendProtocol p(kThree, Settings(300, 500), 50);
        p.Start(0);
        p.BytesReceived("OK", 5);
        p.TimePassed(55);
        EXPECT_TRUE(p.ConnectionLost().Finished);
        EXPECT_EQ(States(p), (std::vector{Acknowledged, Failed, NotSent}));
        EXPECT_EQ(p.Commands()[1].Failure, TFailure::ConnectionLost);
        EXPECT_TRUE(p.TimePassed(10000).Changed.empty());
    }
}

TEST(SendProtocol, CancelWaitsForTheCommandUnderWay) {
    TSendProtocol p(kThree, Settings(300, 0), 50);
    p.Start(0);
    EXPECT_FALSE(p.Cancel().Finished);      // AT+A is under way
    p.BytesReceived("OK", 100);
    const TStep step = p.TimePassed(150);
    EXPECT_TRUE(step.Finished);
    EXPECT_FALSE(step.Write);
    EXPECT_EQ(p.Result(), TSendResult::Cancelled);
    EXPECT_EQ(p.LastAcknowledged(), 0u);
    EXPECT_EQ(States(p), (std::vector{Acknowledged, NotSent, NotSent}));

    TSendProtocol paused(kThree, Settings(300, 1000), 50);
    paused.Start(0);
    paused.BytesReceived("OK", 1);
    paused.TimePassed(51);
    EXPECT_TRUE(paused.Cancel().Finished);  // in a pause: at once
}

TEST(SendProtocol, EndlessTalkIsCutAtTheTimeoutAndKeptShort) {
    TSendProtocol p({"AT+A"}, Settings(200, 0), 50);
    p.Start(0);
    const std::string chunk(100, 'x');
    for (int t = 10; t < 200; t += 10) {
        p.BytesReceived("OK" + chunk, t);
        p.TimePassed(t);
    }
    EXPECT_FALSE(p.Finished());
    p.TimePassed(210);
    EXPECT_EQ(p.Result(), TSendResult::AllAcknowledged);
    EXPECT_EQ(p.Commands()[0].Reply.size(), kMaxReplyBytes);
}

} // namespace
