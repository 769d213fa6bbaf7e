// A scan and a connection on their own, by plain calls with the time given: the scan's answers
// in the three forms cut into random pieces, and a connection's life.
#include "Connection.h"
#include "PolicyRun.h"
#include "Scan.h"

#include <gtest/gtest.h>

#include <random>

using namespace kelvara::link;
using namespace kelvara::testing;

namespace {

const TSendSettings kSettings{9600, TLineEnd::None, 1000, 0};

// The devices (and unasked bytes) a log reports, without their times.
std::vector<std::string> Found(const std::vector<std::string>& log) {
    std::vector<std::string> found;
    for (const std::string& line : log) {
        const std::string what = line.substr(line.find(' ') + 1);
        if (what.starts_with("device") || what.starts_with("unasked") || what.starts_with("finished"))
            found.push_back(what);
    }
    return found;
}

// Each event of a step, described with its time.
std::vector<std::string> Described(const TStep& step) {
    std::vector<std::string> log;
    for (const TEvent& event : step.Events)
        log.push_back(Describe(event));
    return log;
}

TEST(ScanReader, ReadsTheThreeFormsInAnyPieces) {
    const std::string answers = "OK+DISCSOK+DIS00017EA0943AETag1OK+DIS0:C4BE84123456\r\n"
                                "OK+DIS1:A81B6AAE5221\r\nOK+NAME:Door\r\n+NOISE\r\n"
                                "OK+DIS0:c4be84123456Again\r\nOK+DISCE";
    const std::vector<std::string> expected = {"device 0 0017EA0943AE Tag1", "device 0 C4BE84123456 ",
                                               "device 1 A81B6AAE5221 Door",
                                               "unasked +NOISE\\x0d\\x0a",
                                               "device 0 C4BE84123456 Again"};
    std::minstd_rand random(7);
    for (int round = 0; round < 300; ++round) {
        TScanReader reader;
        TStep step;
        // Cut anywhere, fed a piece at a time; the module falls quiet now and then.
        for (std::size_t at = 0; at < answers.size();) {
            const std::size_t length = 1 + random() % 12;
            reader.Feed(std::string_view(answers).substr(at, length), 0, step);
            at += length;
            if (random() % 7 == 0 && at < answers.size() && answers[at - 1] == '\n' &&
                !std::string_view(answers).substr(at).starts_with("OK+NAME"))
                reader.Quiet(0, step);
        }
        reader.Quiet(0, step);
        ASSERT_EQ(Found(Described(step)), expected) << "round " << round;
        EXPECT_TRUE(reader.Ended());
    }
}

// What the module sent, and when it fell quiet (no bytes), with the devices read from it.
struct TQuietCase {
    const char* Name;
    std::vector<std::pair<Ms, const char*>> Fed;
    std::vector<std::string> Devices;
};

TEST(ScanReader, ReadsAcrossQuietSpells) {
    const TQuietCase cases[] = {
        // A name that comes after the module fell quiet names the device just found.
        {"name after quiet",
         {{0, "OK+DIS1:A81B6AAE5221\r\n"}, {50, nullptr}, {80, "OK+NAME:Door\r\nOK+DISCE"}},
         {"@50 device 1 A81B6AAE5221 ", "@80 device 1 A81B6AAE5221 Door"}},
        // A module pausing inside an answer (a slow adapter, a loaded machine): each device
        // once, whole.
        {"answers cut by pauses",
         {{0, "OK+DIS1:A81B6AAE5221\r\nOK+NA"}, {50, nullptr}, {80, "ME:Door\r\nOK+DIS0:C4BE84"},
          {130, nullptr}, {160, "123456\r\nOK+DISC"}, {210, nullptr}, {240, "E"}},
         {"@80 device 1 A81B6AAE5221 Door", "@160 device 0 C4BE84123456 "}},
    };
    for (const TQuietCase& c : cases) {
        TScanReader reader;
        TStep step;
        for (const auto& [at, bytes] : c.Fed) {
            if (bytes)
                reader.Feed(bytes, at, step);
            else
                reader.Quiet(at, step);
        }
        EXPECT_EQ(Described(step), c.Devices) << c.Name;
        EXPECT_TRUE(reader.Ended()) << c.Name;
    }
}

TEST(Scan, DevicesComeWithTheAcknowledgementAndAfterIt) {
    TScan scan(kSettings);
    const auto log = TRun{scan}.Play({Bytes(5, "OK+DISCSOK+DIS0:C4BE84123456"), Bytes(300, "OK+DISCE")});
    EXPECT_EQ(log, (std::vector<std::string>{"@0 > AT+DISC?",
                                             "@55 ack 0 AT+DISC? OK+DISCSOK+DIS0:C4BE84123456",
                                             "@55 device 0 C4BE84123456 ", "@300 finished completed"}));
}

TEST(Scan, EndsAtTheTimeGivenWithWhatWasFound) {
    TScan scan(kSettings, 2);
    EXPECT_EQ(Found(TRun{scan}.Play({Bytes(5, "OK+DISCS"), Bytes(500, "OK+DIS1:A81B6AAE5221Door")})),
              (std::vector<std::string>{"device 1 A81B6AAE5221 Door", "finished failed"}));
    EXPECT_TRUE(scan.Acknowledged());
}

struct ConnectionCase {
    const char* Name;
    std::vector<TAct> Acts;
    std::vector<std::string> Expected;
    bool Rejoin = false;
};

void PrintTo(const ConnectionCase& c, std::ostream* os) { *os << c.Name; }

class Connection : public testing::TestWithParam<ConnectionCase> {};

TEST_P(Connection, ReadsTheModulesWords) {
    TConnection connection('0', "C4BE84123456", kSettings, kQuietGapMs, GetParam().Rejoin);
    EXPECT_EQ((TRun{connection, {}, 60000}.Play(GetParam().Acts)), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lives, Connection,
    testing::Values(
        ConnectionCase{"ConnectedThenDataThenDropped",
                       {Bytes(5, "OK+CONNA"), Bytes(80, "OK+CONN"), Bytes(200, "hel"),
                        Bytes(201, "loOK+LO"), Bytes(202, "ST")},
                       {"@0 > AT+CO0C4BE84123456", "@5 ack 0 AT+CO0C4BE84123456 OK+CONNA",
                        "@130 connected OK+CONN", "@200 data hel", "@201 data lo",
                        "@202 dropped OK+LOST", "@202 finished failed"}},
        ConnectionCase{"TheWordsCanComeWithTheAcknowledgement",
                       {Bytes(5, "OK+CONNAOK+CONNF")},
                       {"@0 > AT+CO0C4BE84123456", "@5 ack 0 AT+CO0C4BE84123456 OK+CONNA",
                        "@5 connection failed OK+CONNF", "@5 finished failed"}},
        ConnectionCase{"NoWordAfterTheAcknowledgementFails",
                       {Bytes(5, "OK+CONNA")},
                       {"@0 > AT+CO0C4BE84123456", "@5 ack 0 AT+CO0C4BE84123456 OK+CONNA",
                        "@1005 connection failed", "@1005 finished failed"}},
        ConnectionCase{"ACancelWhileWaitingForTheWordIsACancel",
                       {Bytes(5, "OK+CONNA"), Cancel(300)},
                       {"@0 > AT+CO0C4BE84123456", "@5 ack 0 AT+CO0C4BE84123456 OK+CONNA",
                        "@1005 connection failed", "@1005 finished cancelled"}},
        ConnectionCase{"ACancelDisconnectsWithAtAlone",
                       {Bytes(5, "OK+CONNAOK+CONN"), Cancel(300), Bytes(310, "OK+LOST")},
                       {"@0 > AT+CO0C4BE84123456",
                        "@5 ack 0 AT+CO0C4BE84123456 OK+CONNA", "@55 connected OK+CONN",
                        "@300 > AT", "@310 disconnected OK+LOST", "@310 finished completed"}},
        ConnectionCase{"ARejoiningLinkTriesAtOnceThenAfterOneTwoFourSeconds",
                       {Bytes(5, "OK+CONNAOK+CONN"), Bytes(100, "OK+LOST"), Bytes(5105, "OK+CONNAOK+CONN"),
                        Cancel(6000), Bytes(6010, "OK+LOST")},
                       {"@0 > AT+CO0C4BE84123456", "@5 ack 0 AT+CO0C4BE84123456 OK+CONNA", "@55 connected OK+CONN",
                        "@100 dropped OK+LOST", "@100 rejoining try 1", "@100 > AT+CO0C4BE84123456",
                        "@1100 no answer 0 AT+CO0C4BE84123456", "@2100 rejoining try 2", "@2100 > AT+CO0C4BE84123456",
                        "@3100 no answer 0 AT+CO0C4BE84123456", "@5100 rejoining try 3", "@5100 > AT+CO0C4BE84123456",
                        "@5105 ack 0 AT+CO0C4BE84123456 OK+CONNA", "@5155 connected OK+CONN try 3 down 5055",
                        "@6000 > AT", "@6010 disconnected OK+LOST", "@6010 finished completed"},
                       true},
        ConnectionCase{"ARejoiningLinkWhosePortWentTriesOnceItIsBack",
                       {Bytes(5, "OK+CONNAOK+CONN"), Lost(100), Back(5000), Bytes(5005, "OK+CONNAOK+CONN"),
                        Bytes(5100, "x")},
                       {"@0 > AT+CO0C4BE84123456", "@5 ack 0 AT+CO0C4BE84123456 OK+CONNA", "@55 connected OK+CONN",
                        "@100 dropped", "@5000 rejoining try 1", "@5000 > AT+CO0C4BE84123456",
                        "@5005 ack 0 AT+CO0C4BE84123456 OK+CONNA", "@5055 connected OK+CONN try 1 down 4955",
                        "@5100 data x"},
                       true},
        ConnectionCase{"ACancelWhileTheLinkIsDownEndsAtOnce",
                       {Bytes(5, "OK+CONNAOK+CONN"), Bytes(100, "OK+LOST"), Bytes(1200, "OK+CONNF"), Cancel(1500)},
                       {"@0 > AT+CO0C4BE84123456", "@5 ack 0 AT+CO0C4BE84123456 OK+CONNA", "@55 connected OK+CONN",
                        "@100 dropped OK+LOST", "@100 rejoining try 1", "@100 > AT+CO0C4BE84123456",
                        "@1100 no answer 0 AT+CO0C4BE84123456", "@1200 unasked OK+CONNF", "@1500 finished cancelled"},
                       true},
        ConnectionCase{"AFirstConnectionThatFailsIsNotRejoined",
                       {Bytes(5, "OK+CONNAOK+CONNF")},
                       {"@0 > AT+CO0C4BE84123456", "@5 ack 0 AT+CO0C4BE84123456 OK+CONNA",
                        "@5 connection failed OK+CONNF", "@5 finished failed"}, true}),
    [](const auto& info) { return info.param.Name; });

// A device whose data follows the module's words at once, and never pauses: the command was
// accepted as soon as "OK+CONNA" came, and the data flows on past the longest a reply may take.
TEST(Connection, DataThatNeverPausesFollowsTheAcceptanceAtOnce) {
    TConnection connection('0', "C4BE84123456", kSettings);
    std::vector<TAct> acts{Bytes(5, "OK+CONNAOK+CONNn=0")};
    for (Ms at = 6; at < 3000; ++at)
        acts.push_back(Bytes(at, "n"));
    const auto log = TRun{connection, {}, 3000}.Play(acts);
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4),
              (std::vector<std::string>{"@0 > AT+CO0C4BE84123456", "@5 ack 0 AT+CO0C4BE84123456 OK+CONNA",
                                        "@5 connected OK+CONN", "@5 data n=0"}));
    EXPECT_TRUE(connection.Connected());
}

TEST(Connection, RejoinWaitsOneTwoFourEightSixteenThenThirtySeconds) {
    std::vector<Ms> waits;
    for (std::size_t try_ = 1; try_ <= 8; ++try_)
        waits.push_back(TConnection::RejoinWaitMs(try_));
    EXPECT_EQ(waits, (std::vector<Ms>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
}

TEST(DeviceAddress, TakesTwelveDigitsWithOrWithoutColons) {
    EXPECT_EQ(DeviceAddress("c4:be:84:12:34:56"), "C4BE84123456");
    EXPECT_EQ(DeviceAddress("C4BE84123456"), "C4BE84123456");
    for (const char* bad : {"", "C4BE8412345", "C4BE841234567", "C4:BE:84:12:34:5G", ":C4BE84123456",
                            "C4BE84123456:", "C4::BE84123456", "C4 BE84123456"})
        EXPECT_EQ(DeviceAddress(bad), std::nullopt) << bad;
}

} // namespace
