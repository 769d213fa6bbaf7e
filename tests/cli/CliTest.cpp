// Runs the built kelvara-cli as a process and checks its contract: output streams, exit
// statuses and the exact text of lists, rejections and usage errors.
#include "Cli.h"
#include "Messages.h"
#include "RunCli.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kStudyDefault =
    "         Those AT Command only need be executed once more\n"
    "         ================================================\n"
    "AT+RENEW\n"
    "AT+IMME1\n"
    "AT+SHOW1 (If you doesnt want to get slave device name, forget this command)\n"
    "AT+COMP1\n"
    "AT+NOTI1\n"
    "AT+128B0\n"
    "AT+UUID0xFFE1\n"
    "AT+CHAR0xFFE1\n"
    "AT+ROLE1\n"
    " \n"
    "  Now you can use those AT Commands to discovery or connect a slave device.\n"
    "  =========================================================================\n"
    "AT+DISC? (Start a scan procedure)\n"
    "OK+DISCS (Module response, Start scan procedure)\n"
    "OK+DIS<P1><P2><P3> (Module response, Found device)\n"
    "      <P1>: Device Type\n"
    "      <P2>: Device MAC Address\n"
    "      <P3>: Device Name\n"
    "OK+DISCE (Module response, Scan procedure finished)\n"
    "AT+CO<P1><P2> (Try to connect a slave device)\n"
    "     <P1>: Device Type\n"
    "     <P2>: Device MAC address\n";

const std::string kBeaconDefault =
    "         Those AT Command only need be executed once more\n"
    "         ================================================\n"
    "AT+RENEW\n\nAT+IBEA1\n\nAT+IBE00000FFF0\n\nAT+IBE100001000\n\nAT+IBE280000080\n\n"
    "AT+IBE35F9B34FB\n\nAT+MARJ0x278B\n\nAT+MINO0x278D\n";

void ExpectList(const Result& r, const std::string& expected) {
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, expected);
    EXPECT_EQ(r.Err, "");
}

void ExpectRejection(const Result& r, const std::string& line) {
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, line + "\n");
}

std::string Rejection(const std::string& option, std::string_view message) {
    return "kelvara-cli: " + option + ": " + std::string(message);
}

TEST(Cli, DefaultsPrintBothDefaultLists) {
    ExpectList(RunCli({"study"}), kStudyDefault);
    ExpectList(RunCli({"ibeacon"}), kBeaconDefault);
}

TEST(Cli, ExplicitDefaultsInAnyOrderAndFormGiveTheSameList) {
    ExpectList(RunCli({"study", "--write", "FFE1", "--format=16", "--notify=ffe1"}), kStudyDefault);
    ExpectList(RunCli({"ibeacon", "--minor=10125", "--uuid", "0000FFF0000010008000-00805F9B34FB",
                       "--major", "10123"}),
               kBeaconDefault);
}

TEST(Cli, OneHundredTwentyEightBitStudyList) {
    const Result r = RunCli({"study", "--format", "128", "--notify",
                             "0000FFE1-0000-1000-8000-00805F9B34FB", "--write",
                             "0000FFE2-0000-1000-8000-00805F9B34FB"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Out.find("\nAT+128B1\nAT+IBE00000FFE2\nAT+IBE100001000\nAT+IBE280000080\n"
                         "AT+IBE35F9B34FB\nAT+CHAR0x04E1\nAT+ROLE1\n"),
              std::string::npos)
        << r.Out;
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 27);
}

TEST(Cli, CommandsAreTheListsSetUpCommands) {
    ExpectList(RunCli({"ibeacon", "--commands", "--major", "04d2"}),
               "AT+RENEW\nAT+IBEA1\nAT+IBE00000FFF0\nAT+IBE100001000\nAT+IBE280000080\n"
               "AT+IBE35F9B34FB\nAT+MARJ0x04D2\nAT+MINO0x278D\n");
    ExpectRejection(RunCli({"study", "--commands", "--write", "0"}),
                    Rejection("--write", kelvara::messages::kWrite));
}

TEST(Cli, PortsAreListedOneALineWithTheirDescription) {
    const Result r = RunCli({"ports"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Err, "");
    std::istringstream lines(r.Out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 1) << line;
        EXPECT_FALSE(line.starts_with('\t')) << line;
    }
    // A port Windows' Bluetooth stack made says so (registered as one under Wine).
    if (const char* bluetooth = std::getenv("KELVARA_TEST_BLUETOOTH_PORT")) {
        EXPECT_NE(r.Out.find(std::string(bluetooth) + "\tBluetooth link\n"), std::string::npos) << r.Out;
    }
}

TEST(Cli, RepeatedOptionLastOneWins) {
    const Result r = RunCli({"ibeacon", "--major", "zzz", "--major", "04d2"});
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Out.find("AT+MARJ0x04D2\n"), std::string::npos);
}

TEST(Cli, EachRejectionNamesItsOption) {
    using namespace kelvara::messages;
    ExpectRejection(RunCli({"study", "--notify", ""}), Rejection("--notify", kFillInAllFields));
    ExpectRejection(RunCli({"study", "--write=  "}), Rejection("--write", kFillInAllFields));
    ExpectRejection(RunCli({"study", "--notify", "0000"}), Rejection("--notify", kNotify));
    ExpectRejection(RunCli({"study", "--write", "FFG1"}), Rejection("--write", kWrite));
    ExpectRejection(RunCli({"study", "--format", "128"}), Rejection("--notify", kNotify));
    ExpectRejection(RunCli({"ibeacon", "--uuid", "{0000}"}), Rejection("--uuid", kBeaconUuid));
    ExpectRejection(RunCli({"ibeacon", "--uuid", "0000"}), Rejection("--uuid", kBeaconUuidLength));
    ExpectRejection(RunCli({"ibeacon", "--major", "65536"}), Rejection("--major", kBeaconMajor));
    ExpectRejection(RunCli({"ibeacon", "--minor=0000"}), Rejection("--minor", kBeaconMinor));
}

TEST(Cli, DifferenceRejectionHasNoOption) {
    const Result r = RunCli({"study", "--format=128", "--notify",
                             "0000FFE1-0000-1000-8000-00805F9B34FB", "--write",
                             "0000FFE2-0000-1000-8000-00805F9B34FC"});
    ExpectRejection(r, "kelvara-cli: " + std::string(kelvara::messages::kDifference));
}

TEST(Cli, NonAsciiArgumentIsRejectedAsACharacter) {
    ExpectRejection(RunCli({"study", "--notify", "FF\xc3\x89" "1"}),
                    Rejection("--notify", kelvara::messages::kNotify));
    ExpectRejection(RunCli({"ibeacon", "--major", "\xff\xfe"}),
                    Rejection("--major", kelvara::messages::kBeaconMajor));
}

TEST(Cli, OptionLikeValueIsTakenAsTheFieldText) {
    ExpectRejection(RunCli({"study", "--notify", "--write"}),
                    Rejection("--notify", kelvara::messages::kNotify));
}

TEST(Cli, HelpAndVersion) {
    const Result help = RunCli({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Err, "");
    for (const char* word : {"study", "ibeacon", "--format", "--notify", "--write", "--uuid",
                             "--major", "--minor", "FFE1", "0000FFF0-0000-1000-8000-00805F9B34FB",
                             "10123", "10125", "--version", "ports", "--commands", "--port",
                             "--baud", "--line-end", "--timeout", "--pause", "dialout"})
        EXPECT_NE(help.Out.find(word), std::string::npos) << word;
    EXPECT_EQ(RunCli({"study", "--help"}).Out, help.Out);
    ExpectList(RunCli({"--version"}), "kelvara-cli 1.02\n");
}

class UsageError : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(UsageError, GoesToStandardErrorWithStatusTwo) {
    const Result r = RunCli(GetParam());
    EXPECT_EQ(r.Status, 2);
    EXPECT_EQ(r.Out, "");
    EXPECT_TRUE(r.Err.starts_with("kelvara-cli: ")) << r.Err;
    EXPECT_NE(r.Err.find("Usage:"), std::string::npos) << r.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageError,
    testing::Values(std::vector<std::string>{}, std::vector<std::string>{"frobnicate"},
                    std::vector<std::string>{""}, std::vector<std::string>{"STUDY"},
                    std::vector<std::string>{"study", "--uuid", "x"},
                    std::vector<std::string>{"ibeacon", "--format", "16"},
                    std::vector<std::string>{"study", "--notify"},
                    std::vector<std::string>{"study", "--bogus=1"},
                    std::vector<std::string>{"study", "FFE1"},
                    std::vector<std::string>{"study", ""},
                    std::vector<std::string>{"study", "--format", "32"},
                    std::vector<std::string>{"study", "--format="},
                    // Usage comes before any field check.
                    std::vector<std::string>{"study", "--notify", "", "--format", "64"},
                    std::vector<std::string>{"ibeacon", "--major", "x", "--minor"},
                    // Sending options.
                    std::vector<std::string>{"study", "--baud", "9600"},
                    std::vector<std::string>{"study", "--line-end=cr"},
                    std::vector<std::string>{"ibeacon", "--timeout", "5"},
                    std::vector<std::string>{"study", "--pause", "0"},
                    std::vector<std::string>{"study", "--port", "/dev/null", "--commands"},
                    std::vector<std::string>{"study", "--commands=yes"},
                    std::vector<std::string>{"study", "--port", ""},
                    std::vector<std::string>{"study", "--port"},
                    std::vector<std::string>{"study", "--port", "P", "--baud", "9601"},
                    std::vector<std::string>{"study", "--port", "P", "--baud", "600"},
                    std::vector<std::string>{"study", "--port", "P", "--baud", "460800"},
                    std::vector<std::string>{"study", "--port", "P", "--baud", "-9600"},
                    std::vector<std::string>{"study", "--port", "P", "--line-end", "CRLF"},
                    std::vector<std::string>{"study", "--port", "P", "--timeout", "0"},
                    std::vector<std::string>{"study", "--port", "P", "--timeout", "60001"},
                    std::vector<std::string>{"study", "--port", "P", "--timeout", " 5"},
                    std::vector<std::string>{"study", "--port", "P", "--pause", "10001"},
                    std::vector<std::string>{"study", "--port", "P", "--pause",
                                             "99999999999999999999"},
                    // The port is never opened when the command line is wrong.
                    std::vector<std::string>{"study", "--notify", "", "--port", "P", "--pause"},
                    std::vector<std::string>{"ports", "--port", "P"},
                    std::vector<std::string>{"ports", "extra"}),
    [](const testing::TestParamInfo<std::vector<std::string>>& info) {
        return "Case" + std::to_string(info.index);
    });

} // namespace

// Hostile arguments: each ends in a list, a rejection or a usage error, never a crash.
namespace {

struct HostileCase {
    const char* Name;
    std::vector<std::string> Args;
    int Status;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.Name; }

class HostileArguments : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileArguments, EndInTheContractsOutcome) {
    const Result r = RunCli(GetParam().Args);
    EXPECT_EQ(r.Status, GetParam().Status);
    if (r.Status == 0) {
        EXPECT_EQ(r.Err, "");
    } else {
        EXPECT_EQ(r.Out, "");
        EXPECT_TRUE(r.Err.starts_with("kelvara-cli: ")) << r.Err;
    }
    if (r.Status == 1) {
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1);
    }
}

// Linux caps one argument at 128 KiB; a megabyte takes several.
const std::string kLongest(128 * 1024 - 1, 'F');

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileArguments,
    testing::Values(
        HostileCase{"EmptyValues", {"ibeacon", "--uuid", "", "--major=", "--minor", ""}, 1},
        HostileCase{"EmptyEqualsValue", {"study", "--write="}, 1},
        HostileCase{"LongestSingleArgument", {"study", "--notify", kLongest}, 1},
        HostileCase{"MegabyteAcrossArguments",
                    {"ibeacon", "--uuid", kLongest, "--uuid", kLongest, "--uuid", kLongest,
                     "--uuid", kLongest, "--uuid", kLongest, "--uuid", kLongest, "--uuid",
                     kLongest, "--uuid", kLongest},
                    1},
        HostileCase{"LongUnknownOption", {"study", "--" + kLongest.substr(2)}, 2},
        HostileCase{"InvalidUtf8", {"study", "--notify", "\xc3\x28\xff\xfe"}, 1},
        HostileCase{"InvalidUtf8Command", {"\xff\xfestudy"}, 2},
        HostileCase{"ControlCharacters", {"ibeacon", "--major", "\x1b[31m1234"}, 1},
        HostileCase{"ControlCharactersInOption", {"study", "--\x1b[2J"}, 2},
        HostileCase{"OptionLikeValue", {"study", "--notify", "--write"}, 1},
        HostileCase{"OptionLikeValueThatIsValid", {"study", "--notify", "--FFE1"}, 0},
        HostileCase{"RepeatedOptions", {"study", "--notify", "x", "--notify", "FFE2", "--notify=FFE1"}, 0},
        HostileCase{"RepeatedFormat", {"study", "--format", "128", "--format=16"}, 0},
        HostileCase{"DoubleDashAlone", {"study", "--"}, 2},
        HostileCase{"SingleDash", {"ibeacon", "-"}, 2},
        HostileCase{"HelpAsAValue", {"study", "--notify", "--help"}, 1}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.Name; });

TEST(CliInProcess, TrulyMegabyteArgumentIsRejected) {
    const std::string huge(1 << 20, 'F');
    std::ostringstream out;
    std::ostringstream err;
    const std::vector<std::string_view> args = {"study", "--notify", huge};
    EXPECT_EQ(kelvara::cli::Run(args, out, err), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "kelvara-cli: --notify: " + std::string(kelvara::messages::kNotify) + "\n");
}

TEST(CliInProcess, ListThatCannotBeWrittenIsAFailure) {
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    std::ostringstream err;
    const std::vector<std::string_view> args = {"study"};
    EXPECT_EQ(kelvara::cli::Run(args, out, err), 1);
    EXPECT_EQ(err.str(), "kelvara-cli: could not write the list to standard output\n");
}

TEST(Cli, FullStandardOutputIsReportedNotIgnored) {
    // /dev/full accepts the open and fails every write.
    const int status = std::system(KELVARA_CLI_PATH " study >/dev/full 2>/dev/null");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

TEST(CliInProcess, UsageErrorsShowArgumentsSafely) {
    std::ostringstream out;
    std::ostringstream err;
    const std::string bad = "\x1b[2J\x7f" + std::string(1000, 'x');
    const std::vector<std::string_view> args = {bad};
    EXPECT_EQ(kelvara::cli::Run(args, out, err), 2);
    const std::string text = err.str();
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_NE(text.find("\\x1b[2J\\x7f"), std::string::npos);
    EXPECT_EQ(text.find(std::string(100, 'x')), std::string::npos); // the argument cut short
    EXPECT_LT(text.size(), 1200u);                                   // beside the usage
}

} // namespace
