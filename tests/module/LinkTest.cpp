// The rules of a reply on their own: one exchange fed bytes, time and a lost port by hand.
#include "Exchange.h"
#include "Lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

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
    TVerdict Verdict;
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
    const TOutcome outcome = exchange.Outcome(0);
    EXPECT_EQ(outcome.Verdict, c.Verdict);
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

using enum TVerdict;
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
        ReplyCase{"OnlyTheEcho", None, 1000, {{1, "AT+X"}}, {}, NoAnswer, "AT+X", "", 51},
        ReplyCase{"Silence", None, 300, {}, {}, NoAnswer, "", "", 300},
        ReplyCase{"LineDropsMidReply", None, 1000, {{2, "ERR"}}, 12, ConnectionLost, "", "ERR", 12},
        ReplyCase{"EndlessTalkFailsAtItsBound", None, 1000, EndlessTalk(), {}, KeptTalking, "",
                  [] {
                      std::string kept;
                      while (kept.size() < kMaxReplyBytes)
                          kept += "OK+talk ";
                      return kept.substr(0, kMaxReplyBytes);
                  }(),
                  1 + kLongestReplyMs}),
    [](const auto& info) { return info.param.Name; });

} // namespace

namespace {

// A device's bytes in pieces, as lines: CR, LF and CR LF end a line (a CR LF split between
// pieces is one end), each line keeps its end, and what is left unended comes at the flush. A
// line typed with escapes stands for its bytes, and a wrong escape is refused with why.
TEST(Lines, EndAtCrLfOrCrLfWhateverThePiecesAndEscapesStandForTheirBytes) {
    const struct {
        std::vector<std::string> Pieces;
        std::vector<std::string> Lines;
    } rows[] = {
        {{"a\rb\r"}, {"a\r", "b\r"}},
        {{"a\r", "\nb\n"}, {"a\r\n", "b\n"}},
        {{"a\r\r\n\n"}, {"a\r", "\r\n", "\n"}},
        {{"half", " a line"}, {"half a line"}},
        {{std::string(TLineSplitter::kLongestLine + 1, 'x')}, {std::string(TLineSplitter::kLongestLine, 'x'), "x"}},
    };
    for (const auto& row : rows) {
        TLineSplitter splitter;
        std::vector<std::string> lines;
        for (const std::string& piece : row.Pieces)
            std::ranges::move(splitter.Feed(piece), std::back_inserter(lines));
        if (splitter.Holding())
            lines.push_back(splitter.Flush());
        EXPECT_EQ(lines, row.Lines) << ::testing::PrintToString(row.Pieces);
    }
    const struct {
        std::string Typed;
        std::optional<std::string> Bytes;
        std::string Why;
    } escapes[] = {
        {"AT\\r\\n", "AT\r\n", ""},
        {"\\x01\\x00\\xfF\\t\\\\", std::string("\x01\x00\xff\t\\", 5), ""},
        {"plain \xc3\xa9", "plain \xc3\xa9", ""},
        {"\\q", std::nullopt, "\\q is no escape (\\r, \\n, \\t, \\\\ or \\xNN)"},
        {"\\x4", std::nullopt, "\\x takes two hexadecimal digits"},
        {"\\xg0", std::nullopt, "\\x takes two hexadecimal digits"},
        {"end\\", std::nullopt, "a lone \\ ends it (\\\\ is a backslash)"},
    };
    for (const auto& row : escapes) {
        std::string why;
        EXPECT_EQ(Unescaped(row.Typed, why), row.Bytes) << row.Typed;
        EXPECT_EQ(why, row.Why) << row.Typed;
    }
}

} // namespace
