// kelvara-cli sending lists to a simulated module on a pseudo-terminal: whole exchanges, the
// exact bytes the module received, and how each kind of failure ends.
#include "FakeModule.h"
#include "RunCli.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <string>
#include <vector>

using kelvara::testing::TFakeModule;
using kelvara::testing::TModuleBehaviour;
using namespace std::chrono_literals;

namespace {

const std::vector<std::string> kStudy16 = {"AT+RENEW", "AT+IMME1",      "AT+SHOW1",
                                           "AT+COMP1", "AT+NOTI1",      "AT+128B0",
                                           "AT+UUID0xFFE1", "AT+CHAR0xFFE1", "AT+ROLE1"};
const std::vector<std::string> kBeacon = {"AT+RENEW",        "AT+IBEA1",        "AT+IBE00000FFF0",
                                          "AT+IBE100001000", "AT+IBE280000080", "AT+IBE35F9B34FB",
                                          "AT+MARJ0x278B",   "AT+MINO0x278D"};
const std::vector<std::string> kStudy128 = {
    "AT+RENEW",        "AT+IMME1",        "AT+SHOW1",        "AT+COMP1",
    "AT+NOTI1",        "AT+128B1",        "AT+IBE00000FFE2", "AT+IBE100001000",
    "AT+IBE280000080", "AT+IBE35F9B34FB", "AT+CHAR0x04E1",   "AT+ROLE1"};

// The stdout of a send that acknowledged these commands, each answered "OK+" and its word (or
// the reply given, as shown).
std::string Acknowledged(const std::vector<std::string>& commands, std::size_t count,
                         const std::string& shownReply = {}) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += commands[i] + '\t' + (shownReply.empty() ? "OK+" + commands[i].substr(3) : shownReply) +
               "\n";
    return out;
}

std::string Joined(const std::vector<std::string>& commands, std::size_t count,
                   const std::string& ending) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i)
        bytes += commands[i] + ending;
    return bytes;
}

std::vector<std::string> Send(const TFakeModule& module, std::vector<std::string> args) {
    args.insert(args.end(), {"--port", module.PortName(), "--pause", "0"});
    return args;
}

struct ExchangeCase {
    const char* Name;
    std::vector<std::string> Args;
    const std::vector<std::string>* Commands;
    std::string Ending;
    kelvara::testing::TModuleStyle Style{};
    std::string ShownReply{}; // each reply as printed; empty: "OK+" and the command's word
};

void PrintTo(const ExchangeCase& c, std::ostream* os) { *os << c.Name; }

class Exchange : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(Exchange, ModuleReceivesExactlyTheCommandsAndEachIsPrinted) {
    TFakeModule module;
    const ExchangeCase& c = GetParam();
    module.Style(c.Style);
    const Result r = RunCli(Send(module, c.Args));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.Out, Acknowledged(*c.Commands, c.Commands->size(), c.ShownReply));
    EXPECT_EQ(module.Received(), Joined(*c.Commands, c.Commands->size(), c.Ending));
    EXPECT_TRUE(module.WaitUntilOtherEndClosed(5s)) << "the port was released";
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Exchange,
    ::testing::Values(
        ExchangeCase{"Study16NoLineEnd", {"study"}, &kStudy16, ""},
        ExchangeCase{"Study16Cr", {"study", "--line-end", "cr"}, &kStudy16, "\r"},
        ExchangeCase{"Study16Lf", {"study", "--line-end=lf", "--baud", "115200"}, &kStudy16, "\n"},
        ExchangeCase{"Study16CrLf", {"study", "--line-end", "crlf"}, &kStudy16, "\r\n"},
        ExchangeCase{"Beacon", {"ibeacon", "--line-end", "crlf", "--baud", "1200"}, &kBeacon, "\r\n"},
        ExchangeCase{"Study128",
                     {"study", "--format", "128", "--notify",
                      "0000FFE1-0000-1000-8000-00805F9B34FB", "--write",
                      "0000FFE2-0000-1000-8000-00805F9B34FB", "--baud", "230400"},
                     &kStudy128,
                     ""},
        // Modules as many are: echoing each command, answering "\r\nOK\r\n", taking a command
        // only at its line ending.
        ExchangeCase{"EchoingModule", {"study"}, &kStudy16, "", {.Echo = true}},
        ExchangeCase{"OkLinesModule", {"ibeacon", "--line-end", "crlf"}, &kBeacon, "\r\n",
                     {.AnswerOkLines = true, .CommandEnd = "\r\n"}, "\\x0d\\x0aOK\\x0d\\x0a"},
        // The echo runs to the line break after it; a short timeout only bounds the first byte.
        ExchangeCase{"EchoingOkLinesModule", {"study", "--line-end", "cr", "--timeout", "250"},
                     &kStudy16, "\r", {.Echo = true, .AnswerOkLines = true, .CommandEnd = "\r"},
                     "OK\\x0d\\x0a"}),
    [](const auto& info) { return info.param.Name; });

struct FailureCase {
    const char* Name;
    TModuleBehaviour Behaviour;
    std::string Message;
    int Status = 4; // 3: the port went away
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.Name; }

class Failure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Failure, StopsAtTheCommandWithItsReasonAndSendsNothingAfter) {
    TFakeModule module;
    module.On("AT+COMP1", GetParam().Behaviour);
    const Result r = RunCli(Send(module, {"study", "--line-end", "cr", "--timeout", "300"}));
    EXPECT_EQ(r.Status, GetParam().Status);
    EXPECT_EQ(r.Out, Acknowledged(kStudy16, 3));
    EXPECT_EQ(r.Err, "kelvara-cli: AT+COMP1: " + GetParam().Message + "\n");
    EXPECT_EQ(module.Received(), Joined(kStudy16, 4, "\r"));
}

INSTANTIATE_TEST_SUITE_P(
    Modules, Failure,
    ::testing::Values(
        FailureCase{"Silent", TModuleBehaviour::Silent(), "no answer within 300 ms"},
        FailureCase{"Refusing", TModuleBehaviour::Answering("ERROR\r\n"), "answered \"ERROR\\x0d\\x0a\""},
        FailureCase{"RefusingWithHighBytes", TModuleBehaviour::Answering("\xff" "OK"), "answered \"\\xffOK\""},
        FailureCase{"HangingUp", TModuleBehaviour::HangUp(), "connection lost", 3},
        // A module that never stops talking is not listening, whatever it says.
        FailureCase{"TalkingOn", TModuleBehaviour::TalkingOn("OK"), "kept talking for 2 s"},
        // Noise is named by its start and its length, not printed whole.
        FailureCase{"RefusingAtLength", TModuleBehaviour::Answering(std::string(300, '~')),
                    "answered \"" + std::string(100, '~') + "\"... (300 bytes)"}),
    [](const auto& info) { return info.param.Name; });

TEST(Send, ReplyInTwoPiecesIsOneReplyAndStrayBytesAreNoReply) {
    TFakeModule module;
    module.On("AT+IMME1", TModuleBehaviour::InTwoPieces("OK+Set:1", 10));
    // Unasked bytes during the pause after AT+SHOW1 would make AT+COMP1's answer look refused.
    module.On("AT+SHOW1", TModuleBehaviour::ThenStray("ERROR", 150));
    std::vector<std::string> args = {"study", "--port", module.PortName(), "--pause", "400"};
    const Result r = RunCli(args);
    EXPECT_EQ(r.Status, 0) << r.Err;
    std::string expected = Acknowledged(kStudy16, kStudy16.size());
    expected.replace(expected.find("OK+IMME1"), 8, "OK+Set:1");
    EXPECT_EQ(r.Out, expected);
    EXPECT_EQ(module.Commands(), kStudy16);
}

TEST(Send, PortsThatCannotBeUsed) {
    const Result missing = RunCli({"study", "--port", "/dev/kelvara-no-such-port"});
    EXPECT_EQ(missing.Status, 3);
    EXPECT_EQ(missing.Out, "");
    EXPECT_EQ(missing.Err, "kelvara-cli: /dev/kelvara-no-such-port: no such port\n");

    // Opens, but is no serial port: it cannot be set up.
    const Result notSerial = RunCli({"ibeacon", "--port", "/dev/null", "--baud", "19200"});
    EXPECT_EQ(notSerial.Status, 3);
    EXPECT_EQ(notSerial.Out, "");
    EXPECT_TRUE(notSerial.Err.starts_with("kelvara-cli: /dev/null: ")) << notSerial.Err;
    EXPECT_EQ(std::count(notSerial.Err.begin(), notSerial.Err.end(), '\n'), 1);

    // A rejected field never gets as far as the port.
    const Result rejected = RunCli({"study", "--notify", "0000", "--port", "/dev/null"});
    EXPECT_EQ(rejected.Status, 1);
    EXPECT_EQ(rejected.Err, "kelvara-cli: --notify: Please input correct included \"Notify\" "
                            "Characteristic!\n");
}

TEST(Send, PortWithoutPermissionSaysWhatToDo) {
    TFakeModule module;
    std::vector<std::string> args = {"study", "--port", module.PortName()};
    std::string program = KELVARA_CLI_PATH;
    // Where nobody may write: an instrumented (coverage) build writes its counts here instead of
    // complaining on standard error that it cannot write beside the build.
    char scratch[] = "/tmp/kelvara-nobody-XXXXXX";
    const bool asNobody = geteuid() == 0;
    struct TRemoveOnExit {
        std::string Path;
        ~TRemoveOnExit() {
            if (!Path.empty())
                std::filesystem::remove_all(Path);
        }
    } removeScratch;
    if (asNobody) {
        // Root may open any port: run as nobody, who may not open root's pseudo-terminal.
        ASSERT_NE(mkdtemp(scratch), nullptr);
        removeScratch.Path = scratch;
        ASSERT_EQ(chmod(scratch, 0777), 0);
        program = "/usr/bin/env";
        args.insert(args.begin(), {"GCOV_PREFIX=" + std::string(scratch), "/usr/bin/setpriv",
                                   "--reuid=65534", "--regid=65534", "--clear-groups",
                                   KELVARA_CLI_PATH});
    } else {
        ASSERT_EQ(chmod(module.PortPath().c_str(), 0), 0);
    }
    const Result r = RunCli(args, {}, program);
    // A pseudo-terminal's group may not read it, so joining that group would not help: the
    // hint is the general one.
    const std::string join = access("/usr/sbin/adduser", X_OK) == 0
                                 ? "sudo adduser $USER dialout"
                                 : "sudo usermod -aG dialout $USER";
    EXPECT_EQ(r.Status, 3) << r.Err;
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "kelvara-cli: " + module.PortName() +
                         ": permission denied\nkelvara-cli: serial ports belong to the 'dialout' "
                         "group; add yourself with '" + join + "', then log out and in again\n");
    EXPECT_EQ(module.Received(), "");

    // A port whose group may read and write it: the hint names that group.
    const group* uucp = getgrnam("uucp");
    if (!asNobody || !uucp)
        return;
    ASSERT_EQ(chown(module.PortPath().c_str(), 0, uucp->gr_gid), 0);
    ASSERT_EQ(chmod(module.PortPath().c_str(), 0660), 0);
    const Result owned = RunCli(args, {}, program);
    EXPECT_EQ(owned.Status, 3);
    const std::string joinUucp = access("/usr/sbin/adduser", X_OK) == 0
                                     ? "sudo adduser $USER uucp"
                                     : "sudo usermod -aG uucp $USER";
    EXPECT_EQ(owned.Err, "kelvara-cli: " + module.PortName() + ": permission denied\nkelvara-cli: " +
                             module.PortName() + " belongs to the 'uucp' group; add yourself with '" +
                             joinUucp + "', then log out and in again\n");
}

TEST(Send, InterruptFinishesTheCommandUnderWayThenStops) {
    TFakeModule module;
    module.On("AT+SHOW1", TModuleBehaviour::Slow(300));
    const Result r = RunCli(Send(module, {"study"}), [&](pid_t pid) {
        if (module.WaitForCommands(3, 10s))
            kill(pid, SIGINT);
    });
    EXPECT_EQ(r.Status, 130);
    EXPECT_EQ(r.Out, Acknowledged(kStudy16, 3));
    EXPECT_EQ(r.Err, "kelvara-cli: stopping after AT+SHOW1, the command under way (interrupt "
                     "again to stop at once)\n"
                     "kelvara-cli: interrupted; the last command acknowledged was AT+SHOW1\n");
    EXPECT_EQ(module.Received(), Joined(kStudy16, 3, ""));
    EXPECT_TRUE(module.WaitUntilOtherEndClosed(5s));
}

TEST(Send, SecondInterruptStopsAtOnceDuringALongWait) {
    TFakeModule module;
    module.On("AT+IMME1", TModuleBehaviour::Silent());
    // SIGHUP is taken as SIGTERM; the second does not wait out the minute (which would end in
    // status 4).
    const Result r = RunCli(Send(module, {"study", "--timeout", "60000"}), [&](pid_t pid) {
        if (!module.WaitForCommands(2, 10s))
            return;
        std::this_thread::sleep_for(100ms);
        kill(pid, SIGTERM);
        std::this_thread::sleep_for(100ms);
        kill(pid, SIGHUP);
    });
    EXPECT_EQ(r.Status, 130);
    EXPECT_EQ(r.Out, Acknowledged(kStudy16, 1));
    EXPECT_EQ(r.Err, "kelvara-cli: stopping after AT+IMME1, the command under way (interrupt "
                     "again to stop at once)\n"
                     "kelvara-cli: stopped at once, during AT+IMME1\n"
                     "kelvara-cli: interrupted; the last command acknowledged was AT+RENEW\n");
    EXPECT_TRUE(module.WaitUntilOtherEndClosed(5s));
}

} // namespace
