// Each policy on its own, by plain calls with the time given: what happens at which moment, and
// the whole log of what the policy wrote and reported, compared line for line.
#include "BatchRun.h"
#include "Console.h"
#include "ListSender.h"
#include "PolicyRun.h"
#include "PresenceWatch.h"
#include "SettingsFinder.h"

#include <gtest/gtest.h>

#include <set>

using namespace kelvara::link;
using namespace kelvara::testing;

namespace {

using TLog = std::vector<std::string>;

const TSendSettings kNoPause{9600, TLineEnd::None, 1000, 0};
const TSendSettings kPause200{9600, TLineEnd::Cr, 1000, 200};

struct PolicyCase {
    const char* Name;
    std::function<std::unique_ptr<TPolicy>()> Make;
    std::vector<TAct> Acts;
    TLog Expected;
};

void PrintTo(const PolicyCase& c, std::ostream* os) { *os << c.Name; }

class Policy : public testing::TestWithParam<PolicyCase> {};

TEST_P(Policy, ReportsExactlyWhatHappened) {
    const auto policy = GetParam().Make();
    EXPECT_EQ(TRun{*policy}.Play(GetParam().Acts), GetParam().Expected);
}

auto List(std::vector<std::string> commands, TSendSettings settings) {
    return [=] { return std::make_unique<TListSender>(commands, settings); };
}
auto Console() {
    return [] { return std::make_unique<TConsole>(TLineEnd::Cr, 300); };
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Policy,
    testing::Values(
        PolicyCase{"PausesAfterEachAcknowledgedCommand", List({"AT+A", "AT+B"}, kPause200),
                   {Bytes(5, "OK+A"), Bytes(260, "\r\nOK\r\n")},
                   {"@0 > AT+A\\x0d", "@55 ack 0 AT+A OK+A", "@255 > AT+B\\x0d",
                    "@260 ack 1 AT+B \\x0d\\x0aOK\\x0d\\x0a", "@260 finished completed"}},
        PolicyCase{"StopsAtTheFirstFailure", List({"AT+A", "AT+B", "AT+C"}, kNoPause),
                   {Bytes(5, "ERROR\r\n")},
                   {"@0 > AT+A", "@5 refused 0 AT+A ERROR\\x0d\\x0a", "@5 not sent 1 AT+B",
                    "@5 not sent 2 AT+C", "@5 finished failed"}},
        PolicyCase{"CancelEndsTheCommandUnderWayFirst", List({"AT+A", "AT+B"}, kNoPause),
                   {Cancel(2), Bytes(5, "OK\r\n")},
                   {"@0 > AT+A", "@5 ack 0 AT+A OK\\x0d\\x0a", "@5 not sent 1 AT+B",
                    "@5 finished cancelled"}},
        PolicyCase{"CancelInAPauseStopsAtOnce", List({"AT+A", "AT+B"}, kPause200),
                   {Bytes(5, "OK\r\n"), Cancel(100)},
                   {"@0 > AT+A\\x0d", "@5 ack 0 AT+A OK\\x0d\\x0a", "@100 not sent 1 AT+B",
                    "@100 finished cancelled"}},
        PolicyCase{"APortLostInAPauseFailsTheNextCommand", List({"AT+A", "AT+B"}, kPause200),
                   {Bytes(5, "OK\r\n"), Lost(100)},
                   {"@0 > AT+A\\x0d", "@5 ack 0 AT+A OK\\x0d\\x0a", "@100 lost 1 AT+B",
                    "@100 finished failed"}},
        PolicyCase{"AnAcknowledgementStandsWhenTheLineDrops", List({"AT+A"}, kNoPause),
                   {Bytes(5, "OK+A"), Lost(20)},
                   {"@0 > AT+A", "@20 ack 0 AT+A OK+A", "@20 finished completed"}},
        PolicyCase{"BytesInAPauseAreUnaskedNotTheNextReply", List({"AT+A", "AT+B"}, kPause200),
                   {Bytes(5, "OK\r\n"), Bytes(100, "+READY"), Bytes(210, "OK\r\n")},
                   {"@0 > AT+A\\x0d", "@5 ack 0 AT+A OK\\x0d\\x0a", "@100 unasked +READY",
                    "@205 > AT+B\\x0d", "@210 ack 1 AT+B OK\\x0d\\x0a", "@210 finished completed"}},
        PolicyCase{"AModuleThatTalksOnFails", List({"AT+A", "AT+B"}, kNoPause),
                   [] {
                       std::vector<TAct> talk;
                       for (Ms at = 1; at < 2600; at += 20)
                           talk.push_back(Bytes(at, "OK"));
                       return talk;
                   }(),
                   {"@0 > AT+A", "@2001 kept talking 0 AT+A " + [] {
                        std::string shown;
                        for (int i = 0; i < 100; ++i)
                            shown += "OK";
                        return shown;
                    }(),
                    "@2001 not sent 1 AT+B", "@2001 finished failed"}}),
    [](const auto& info) { return info.param.Name; });

INSTANTIATE_TEST_SUITE_P(
    Consoles, Policy,
    testing::Values(
        PolicyCase{"QueuesBehindTheCommandUnderWay", Console(),
                   {Submit(0, "AT+A"), Submit(1, "AT+B"), Bytes(5, "OK\r\n"), Bytes(8, "OK\r\n"), End(10)},
                   {"@0 > AT+A\\x0d", "@5 ack 0 AT+A OK\\x0d\\x0a", "@5 > AT+B\\x0d",
                    "@8 ack 1 AT+B OK\\x0d\\x0a", "@10 finished completed"}},
        PolicyCase{"GathersUnaskedBytesUntilTheModuleFallsQuiet", Console(),
                   {Bytes(0, "OK+DIS0:1C1A"), Bytes(20, "2B3C4D5E"), Submit(200, "AT"), Bytes(205, "OK\r\n")},
                   {"@0 unasked OK+DIS0:1C1A2B3C4D5E", "@200 > AT\\x0d", "@205 ack 0 AT OK\\x0d\\x0a"}},
        PolicyCase{"CancelDropsTheQueue", Console(),
                   {Submit(0, "AT+A"), Submit(1, "AT+B"), Submit(1, "AT+C"), Cancel(2), Bytes(5, "OK\r\n")},
                   {"@0 > AT+A\\x0d", "@2 not sent 1 AT+B", "@2 not sent 2 AT+C",
                    "@5 ack 0 AT+A OK\\x0d\\x0a", "@5 finished cancelled"}},
        PolicyCase{"EndsWithItsPort", Console(), {Submit(0, "AT+A"), Lost(3)},
                   {"@0 > AT+A\\x0d", "@3 lost 0 AT+A", "@3 finished failed"}}),
    [](const auto& info) { return info.param.Name; });

INSTANTIATE_TEST_SUITE_P(
    Watches, Policy,
    testing::Values(
        PolicyCase{"AnArrivalIsTheFirstAnswer",
                   [] { return std::make_unique<TPresenceWatch>(TPresenceWatchAwait::Arrival, 9600, TLineEnd::None); },
                   {Bytes(320, "OK")},
                   {"@0 > AT", "@168 no answer 0 AT", "@318 > AT", "@370 ack 1 AT OK",
                    "@370 finished completed"}},
        PolicyCase{"ADepartureIsASecondOfSilence",
                   [] { return std::make_unique<TPresenceWatch>(TPresenceWatchAwait::Departure, 9600, TLineEnd::None); },
                   {Bytes(2, "OK"), Bytes(400, "OK")},
                   {"@0 > AT", "@52 ack 0 AT OK", "@202 > AT", "@370 no answer 1 AT", "@520 > AT",
                    "@688 no answer 2 AT", "@838 > AT", "@1006 no answer 3 AT", "@1156 > AT",
                    "@1324 no answer 4 AT", "@1324 finished completed"}},
        PolicyCase{"ACancelLetsTheProbeUnderWayEnd",
                   [] { return std::make_unique<TPresenceWatch>(TPresenceWatchAwait::Arrival, 9600, TLineEnd::None); },
                   {Cancel(10)}, {"@0 > AT", "@168 no answer 0 AT", "@168 finished cancelled"}},
        PolicyCase{"AFindCancelledLetsItsAtEndBeforeAnythingElseIsWritten",
                   [] { return std::make_unique<TSettingsFinder>(); },
                   {Cancel(10)},
                   {"@0 baud 9600", "@0 try 9600 none", "@0 > AT", "@68 no answer 0 AT",
                    "@68 finished cancelled"}},
        PolicyCase{"ADepartureEndsWithItsPort",
                   [] { return std::make_unique<TPresenceWatch>(TPresenceWatchAwait::Departure, 9600, TLineEnd::None); },
                   {Lost(10)}, {"@0 > AT", "@10 lost 0 AT", "@10 finished completed"}}),
    [](const auto& info) { return info.param.Name; });

TEST(Finder, TriesTheCommonRatesFirstWritingNothingButAtAndLineEndings) {
    TSettingsFinder finder;
    std::vector<std::string> tries;
    std::set<std::string> written;
    for (const std::string& line : TRun{finder}.Play({})) {
        const std::string what = line.substr(line.find(' ') + 1);
        if (what.starts_with("try "))
            tries.push_back(what.substr(4));
        else if (what.starts_with("> "))
            written.insert(what.substr(2));
    }
    std::vector<std::string> expected;
    for (const char* rate : {"9600", "115200", "57600", "38400", "19200", "4800", "2400", "1200", "230400"})
        for (const char* ending : {"none", "crlf", "cr", "lf"})
            expected.push_back(std::string(rate) + ' ' + ending);
    EXPECT_EQ(tries, expected);
    EXPECT_EQ(written, (std::set<std::string>{"AT", "AT\\x0d", "AT\\x0a", "AT\\x0d\\x0a", "\\x0d\\x0a"}));
}

TEST(Finder, StopsWhereTheModuleAnswersAndSaysItEchoes) {
    TSettingsFinder finder;
    TRun run{finder};
    run.Module = [](const std::string& written, Ms) -> std::optional<std::string> {
        if (written == "AT\r\n")
            return "AT\r\n\r\nOK\r\n";
        return std::nullopt;
    };
    const TLog log = run.Play({});
    EXPECT_EQ(TLog(log.end() - 4, log.end()),
              (TLog{"@109 echo AT\\x0d\\x0a\\x0d\\x0a", "@109 ack 1 AT OK\\x0d\\x0a",
                    "@109 found 9600 crlf echo", "@109 finished completed"}));
}

// A bench of modules: each answers every command at once, a person swaps it once its list has
// ended, and the module in the given attempt refuses one command.
struct TBench {
    std::size_t Attempt = 0;
    std::size_t Refusing = 0; // the attempt that refuses its Minor; 0: none
    Ms AwayUntil = -1;
    std::optional<std::string> operator()(std::string written, Ms now) {
        while (written.ends_with('\r') || written.ends_with('\n'))
            written.pop_back();
        if (now < AwayUntil)
            return std::nullopt;
        if (written == "AT+RENEW")
            ++Attempt;
        if (written.starts_with("AT+MINO")) {
            AwayUntil = now + 1500; // taken away, another put in
            if (Attempt == Refusing)
                return "ERROR\r\n";
        }
        return "OK\r\n";
    }
};

TBatchPlan Plan(std::size_t modules, const std::vector<kelvara::TRecordRow>& rows = {}) {
    return std::get<TBatchPlan>(
        TBatchPlan::Make({kelvara::DefaultSource(kelvara::TListKind::Beacon), "minor", modules}, rows));
}

// The batch's own events: the module taken, its end, and the batch's.
TLog Modules(const TLog& log) {
    TLog modules;
    for (const std::string& line : log) {
        const std::string what = line.substr(line.find(' ') + 1);
        if (what.starts_with("take") || what.starts_with("end") || what.starts_with("finished") ||
            what.starts_with("await port"))
            modules.push_back(what);
    }
    return modules;
}

TEST(BatchRun, SwapsModulesAndGivesAFailedModulesValueToTheNext) {
    TBatchPlan plan = Plan(3);
    TBatchRun run(plan, kNoPause);
    TBench bench{.Refusing = 2};
    EXPECT_EQ(Modules(TRun{run, std::ref(bench), 60000}.Play({})),
              (TLog{"take 1 minor=10125", "end 1 set up", "take 2 minor=10126",
                    "end 2 failed AT+MINO0x278E", "take 3 minor=10126", "end 3 set up",
                    "take 4 minor=10127", "end 4 set up", "finished completed"}));
    EXPECT_EQ(plan.Done(), 3u);
}

TEST(BatchRun, AModuleThatTakesItsPortAlongIsWaitedForAndTheGapKept) {
    TBatchPlan plan = Plan(2);
    TBatchRun run(plan, kNoPause);
    TBench bench;
    TRun driver{run, std::ref(bench), 60000};
    const TLog log = driver.Play({Lost(1700), Back(2000)});
    EXPECT_EQ(Modules(log), (TLog{"take 1 minor=10125", "end 1 set up", "await port 1/2", "take 2 minor=10126",
                                  "end 2 set up", "finished completed"}));
    // Taken away with its adapter at 1700 and back at 2000: the next is looked for a second after.
    EXPECT_NE(std::find(log.begin(), log.end(), "@2700 await module 1/2"), log.end());
}

TEST(BatchRun, ACancelWhileSettingUpFinishesTheModuleFirst) {
    TBatchPlan plan = Plan(3);
    TBatchRun run(plan, kPause200);
    TBench bench;
    EXPECT_EQ(Modules(TRun{run, std::ref(bench), 60000}.Play({Cancel(400)})),
              (TLog{"take 1 minor=10125", "end 1 set up", "finished cancelled"}));
}

TEST(BatchRun, PlacesAreNeverGivenTwiceAndAFailureGivesItsBack) {
    // Two ports sharing a plan: each module takes the lowest place free.
    TBatchPlan plan = Plan(3);
    EXPECT_EQ(plan.Take(), 0u);
    EXPECT_EQ(plan.Take(), 1u);
    plan.Ended(0, false);
    EXPECT_EQ(plan.Take(), 0u);
    EXPECT_EQ(plan.Take(), 2u);
    EXPECT_EQ(plan.Take(), std::nullopt);
    plan.Ended(1, true);
    plan.Ended(2, true);
    plan.Ended(0, true);
    EXPECT_TRUE(plan.Complete());
}

TEST(BatchRun, ResumesAfterTheLastValueRecordedAndSkipsAnySetUp) {
    const auto row = [](const char* minor, std::string_view outcome) {
        kelvara::TRecordRow r;
        r[kelvara::RecordColumn("list")] = "ibeacon";
        r[kelvara::RecordColumn("uuid")] = "0000FFF0-0000-1000-8000-00805F9B34FB";
        r[kelvara::RecordColumn("major")] = "10123";
        r[kelvara::RecordColumn("minor")] = minor;
        r[kelvara::RecordColumn("outcome")] = outcome;
        return r;
    };
    const struct {
        std::vector<kelvara::TRecordRow> Rows;
        const char* First;
    } cases[] = {
        {{}, "10125"},
        {{row("10125", kelvara::kRecordSetUp), row("10126", kelvara::kRecordFailed)}, "10126"},
        {{row("10125", kelvara::kRecordSetUp), row("10127", kelvara::kRecordSetUp),
          row("10126", kelvara::kRecordSetUp)}, "10128"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Plan(1, c.Rows).FieldsFor(0).at("minor"), c.First);
}

} // namespace

namespace {

TEST(BatchRun, PortsSharingAPlanNeverGiveAValueTwice) {
    TBatchPlan plan = Plan(6);
    std::vector<std::unique_ptr<TBatchRun>> runs;
    std::vector<TBench> benches(3);
    benches[1].Refusing = 1;
    std::vector<TRun> drivers;
    for (std::size_t i = 0; i < 3; ++i) {
        runs.push_back(std::make_unique<TBatchRun>(plan, kNoPause));
        drivers.push_back(TRun{*runs[i], std::ref(benches[i]), 60000});
        drivers[i].Take(runs[i]->Start(0));
    }
    // All three ports in step, a millisecond at a time.
    for (Ms now = 0; now < 60000; ++now) {
        for (TRun& driver : drivers)
            driver.AdvanceTo(now);
    }
    std::vector<std::string> setUp;
    std::size_t failed = 0;
    for (const TRun& driver : drivers) {
        for (const std::string& line : Modules(driver.Log)) {
            if (line.starts_with("end") && line.ends_with("set up"))
                setUp.push_back(line);
            failed += line.starts_with("end") && line.find("failed") != std::string::npos;
        }
    }
    EXPECT_EQ(failed, 1u);
    EXPECT_EQ(setUp.size(), 6u);
    // Six values, each set up once; the one refused went to a later module.
    std::multiset<std::string> taken;
    for (const TRun& driver : drivers)
        for (const std::string& line : Modules(driver.Log))
            if (line.starts_with("take"))
                taken.insert(line.substr(line.find("minor=") + 6));
    EXPECT_EQ(taken, (std::multiset<std::string>{"10125", "10126", "10126", "10127", "10128",
                                                 "10129", "10130"}));
    EXPECT_TRUE(plan.Complete());
}

} // namespace
