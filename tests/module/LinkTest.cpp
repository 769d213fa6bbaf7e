// The link's policies on their own, fed bytes, time and lost ports by hand: the rules of a reply,
// a list that loses its port after an acknowledgement, and a search.
#include "ListSender.h"
#include "SettingsFinder.h"

#include <gtest/gtest.h>

using namespace kelvara::link;

namespace {

struct TChunk {
    Ms At;
    std::string Bytes;
};

struct ReplyCase {
    const char* Name;
    TLineEnd LineEnd;
    int TimeoutMs;
    std::vector<TChunk> Chunks;
    std::optional<Ms> LostAt; // the port goes away then
    TEventKind Kind;
    std::string Echo;
    std::string Reply;
    Ms DoneAt;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.Name; }

class Reply : public testing::TestWithParam<ReplyCase> {};

TEST_P(Reply, IsJudgedByItsRules) {
    const ReplyCase& c = GetParam();
    TExchange exchange("AT+X", c.LineEnd, c.TimeoutMs);
    EXPECT_EQ(exchange.Start(0), "AT+X" + std::string(LineEndBytes(c.LineEnd)));
    std::size_t next = 0;
    // Step through time a millisecond at a time, as a port would.
    for (Ms now = 0; now <= 5000 && !exchange.Done(); ++now) {
        while (next < c.Chunks.size() && c.Chunks[next].At == now && !exchange.Done())
            exchange.BytesReceived(c.Chunks[next++].Bytes, now);
        if (c.LostAt == now && !exchange.Done())
            exchange.ConnectionLost(now);
        if (!exchange.Done() && exchange.WakeAt() <= now)
            exchange.TimePassed(now);
    }
    ASSERT_TRUE(exchange.Done());
    const TEvent outcome = exchange.Outcome(0);
    EXPECT_EQ(outcome.Kind, c.Kind);
    EXPECT_EQ(outcome.Echo, c.Echo);
    EXPECT_EQ(outcome.Reply, c.Reply);
    EXPECT_EQ(outcome.At, c.DoneAt);
}

std::vector<TChunk> EndlessTalk() {
    std::vector<TChunk> chunks;
    for (Ms at = 1; at < 4000; at += 10)
        chunks.push_back({at, "OK+talk "});
    return chunks;
}

using enum TEventKind;
using enum TLineEnd;

INSTANTIATE_TEST_SUITE_P(
    Rules, Reply,
    testing::Values(
        ReplyCase{"NoBreakEndsAtTheQuietGap", None, 1000, {{3, "OK+X"}}, {}, Acknowledged, "", "OK+X", 53},
        ReplyCase{"OkLineEndsAtOnce", CrLf, 1000, {{3, "\r\nOK\r\n"}}, {}, Acknowledged, "", "\r\nOK\r\n", 3},
        ReplyCase{"EchoIsSetAside", CrLf, 1000, {{1, "AT+X\r"}, {2, "\n\r\nOK\r\n"}}, {},
                  Acknowledged, "AT+X\r\n\r\n", "OK\r\n", 2},
        ReplyCase{"EchoWithoutTheLineEnd", Cr, 1000, {{1, "AT+X\r\nOK+X"}}, {}, Acknowledged,
                  "AT+X\r\n", "OK+X", 51},
        ReplyCase{"InformationThenOk", CrLf, 1000, {{2, "+VER:1.0\r\n\r\nOK\r\n"}}, {},
                  Acknowledged, "", "+VER:1.0\r\n\r\nOK\r\n", 2},
        ReplyCase{"ErrorLineEndsAtOnce", CrLf, 1000, {{2, "ERROR\r\n"}}, {}, Refused, "", "ERROR\r\n", 2},
        ReplyCase{"LowerCaseRefuses", None, 1000, {{2, "ok"}}, {}, Refused, "", "ok", 52},
        ReplyCase{"LeadingSpaceRefuses", None, 1000, {{2, " OK"}}, {}, Refused, "", " OK", 52},
        ReplyCase{"ShortTimeoutBoundsOnlyTheFirstByte", None, 5, {{1, "OK"}, {40, "+Set:1"}}, {},
                  Acknowledged, "", "OK+Set:1", 90},
        ReplyCase{"OnlyTheEcho", None, 1000, {{1, "AT+X"}}, {}, NoAnswer, "AT+X", "", 51},
        ReplyCase{"Silence", None, 300, {}, {}, NoAnswer, "", "", 300},
        ReplyCase{"AcknowledgedThenTheLineDrops", None, 1000, {{2, "OK+X"}}, 12, Acknowledged, "",
                  "OK+X", 12},
        ReplyCase{"LineDropsMidReply", None, 1000, {{2, "ERR"}}, 12, ConnectionLost, "", "ERR", 12},
        ReplyCase{"EndlessTalkIsJudgedAtItsBound", None, 1000, EndlessTalk(), {}, Acknowledged, "",
                  [] {
                      std::string kept;
                      while (kept.size() < kMaxReplyBytes)
                          kept += "OK+talk ";
                      return kept.substr(0, kMaxReplyBytes);
                  }(),
                  1 + kLongestReplyMs}),
    [](const auto& info) { return info.param.Name; });

std::vector<TEventKind> Kinds(const TStep& step) {
    std::vector<TEventKind> kinds;
    for (const TEvent& event : step.Events)
        kinds.push_back(event.Kind);
    return kinds;
}

TEST(ListSender, AnAcknowledgementStandsWhenTheLineDropsAndNothingIsSentAfter) {
    TListSender list({"AT+A", "AT+B", "AT+C"}, {9600, TLineEnd::None, 1000, 100});
    EXPECT_EQ(list.Start(0).Write, "AT+A");
    TStep step = list.BytesReceived("OK+A", 5);
    EXPECT_EQ(Kinds(step), std::vector{ReplyBytes});
    step = list.TimePassed(55);
    EXPECT_EQ(Kinds(step), (std::vector{Acknowledged, Pause}));
    EXPECT_EQ(list.WakeAt(), 155);
    // Unasked bytes in the pause are shown, and answer nothing.
    list.BytesReceived("noise", 60);
    EXPECT_EQ(Kinds(list.TimePassed(110)), std::vector{Unasked});
    step = list.TimePassed(155);
    EXPECT_EQ(step.Write, "AT+B");
    list.BytesReceived("OK+B", 160);
    step = list.ConnectionLost(170);
    EXPECT_EQ(Kinds(step), (std::vector{Acknowledged, ConnectionLost, Finished}));
    EXPECT_EQ(step.Events[1].Command, "AT+C");
    EXPECT_EQ(FailureText(step.Events[1]), "connection lost");
    EXPECT_EQ(step.Events.back().Result, TResult::Failed);
    EXPECT_TRUE(list.Finished());
    EXPECT_FALSE(step.Write);

    // A cancel in a pause ends at once; the rest is not sent.
    TListSender cancelled({"AT+A", "AT+B"}, {9600, TLineEnd::None, 1000, 100});
    cancelled.Start(0);
    cancelled.BytesReceived("\r\nOK\r\n", 1);
    step = cancelled.Cancel(2);
    EXPECT_EQ(Kinds(step), (std::vector{NotSent, Finished}));
    EXPECT_EQ(step.Events.back().Result, TResult::Cancelled);
}

TEST(SettingsFinder, TriesEachSettingUntilTheModuleAnswersAndGivesUpInTime) {
    // A module at 57600 that takes commands at CR LF: answers only "AT\r\n" at its rate.
    TSettingsFinder finder;
    int rate = 0;
    std::string written;
    TStep step = finder.Start(0);
    Ms now = 0;
    std::optional<TEvent> found;
    while (!finder.Finished() && now < 10000) {
        if (step.SetBaudRate)
            rate = *step.SetBaudRate;
        if (step.Write) {
            written += *step.Write;
            if (rate == 57600 && written.ends_with("\r\nAT\r\n"))
                step = finder.BytesReceived("\r\nOK\r\n", now + 2);
            else
                step = {};
        } else {
            now = *finder.WakeAt();
            step = finder.TimePassed(now);
        }
        for (const TEvent& event : step.Events)
            if (event.Kind == Found)
                found = event;
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(found->BaudRate, 57600);
    EXPECT_EQ(found->LineEnd, TLineEnd::CrLf);
    EXPECT_FALSE(found->Echoes);
    EXPECT_EQ(written.find_first_not_of("AT\r\n"), std::string::npos);

    // A silent port: every setting is tried once, and the search ends well within 5 s.
    TSettingsFinder silent;
    std::size_t tries = 0;
    step = silent.Start(0);
    while (!silent.Finished()) {
        tries += std::count_if(step.Events.begin(), step.Events.end(),
                               [](const TEvent& e) { return e.Kind == Trying; });
        step = silent.TimePassed(*silent.WakeAt());
    }
    EXPECT_EQ(tries, TSettingsFinder::TryCount());
    EXPECT_EQ(step.Events.back().Result, TResult::NotFound);
    EXPECT_LT(step.Events.back().At, 5000);
}

} // namespace
