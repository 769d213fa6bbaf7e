// kelvara-cli talking to simulated modules that behave as real ones do: sending a command file,
// finding the settings, --baud auto, a session on a terminal, and the faults once found in
// sending, each as a behaviour that now holds.
#include "FakeModule.h"
#include "RunCli.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

using kelvara::testing::TFakeModule;
using kelvara::testing::TModuleBehaviour;
using kelvara::testing::TModuleStyle;
using namespace std::chrono_literals;

namespace {

const std::string kStudy16 = "AT+RENEW\nAT+IMME1\nAT+SHOW1\nAT+COMP1\nAT+NOTI1\nAT+128B0\n"
                             "AT+UUID0xFFE1\nAT+CHAR0xFFE1\nAT+ROLE1\n";

// A scratch folder, removed afterwards.
struct TScratch {
    std::filesystem::path Path = std::filesystem::temp_directory_path() /
                                 ("kelvara-test-" + std::to_string(getpid()));
    TScratch() { std::filesystem::create_directories(Path); }
    ~TScratch() { std::filesystem::remove_all(Path); }
};

// The list saved as Windows PowerShell 5.1 redirects it (UTF-16 little-endian with its mark,
// CR LF) and as an editor saves "UTF-8 with BOM": the module gets exactly the list's commands.
TEST(Talk, ListFilesAsShellsAndEditorsWriteThemSendTheListExactly) {
    TScratch scratch;
    const Result list = RunCli({"study", "--commands"});
    ASSERT_EQ(list.Out, kStudy16);
    std::string crlf;
    for (char c : list.Out)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string utf16 = "\xFF\xFE";
    for (char c : crlf)
        utf16 += std::string{c, '\0'};
    std::string expected;
    for (char c : list.Out)
        expected += c == '\n' ? '\r' : c;
    for (const auto& [name, bytes] : {std::pair{"utf16.txt", utf16}, std::pair{"utf8-bom.txt", "\xEF\xBB\xBF" + crlf}}) {
        const auto file = scratch.Path / name;
        std::ofstream(file, std::ios::binary) << bytes;
        TFakeModule module;
        module.Style({.AnswerOkLines = true, .CommandEnd = "\r"});
        const Result r = RunCli({"send", "--port", module.PortName(), "--pause", "0", "--line-end", "cr",
                                 file.string()});
        EXPECT_EQ(r.Status, 0) << name << ": " << r.Err;
        EXPECT_EQ(module.Received(), expected) << name;
    }
}

TEST(Talk, AnEditedListFileGoesToAnEchoingModule) {
    TScratch scratch;
    const Result list = RunCli({"study", "--commands"});
    ASSERT_EQ(list.Out, kStudy16);
    // The user drops AT+SHOW1 and notes why.
    std::string edited = list.Out;
    edited.replace(edited.find("AT+SHOW1\n"), 9, "# no name wanted\r\n\r\n   \t\n");
    const auto file = scratch.Path / "list.txt";
    std::ofstream(file) << edited;

    TFakeModule module;
    module.Style({.Echo = true, .AnswerOkLines = true, .CommandEnd = "\r\n"});
    const auto log = scratch.Path / "session.log";
    std::ofstream(log) << "kept\n"; // a log is only ever appended to
    const Result r = RunCli({"send", "--port", module.PortName(), "--pause", "0", "--line-end",
                             "crlf", "--log", log.string(), file.string()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    std::string sent = kStudy16;
    sent.erase(sent.find("AT+SHOW1\n"), 9);
    // Each line of the list, ended with `ending` instead.
    const auto ended = [&](const std::string& ending) {
        std::string text;
        for (std::size_t at = 0, end; (end = sent.find('\n', at)) != std::string::npos; at = end + 1)
            text += sent.substr(at, end - at) + ending;
        return text;
    };
    EXPECT_EQ(module.Received(), ended("\r\n"));
    EXPECT_EQ(r.Out, ended("\tOK\\x0d\\x0a\n")); // the echo takes the line break after it
    // The log: every entry of the session, each with its date, time and offset.
    std::string expected = "kept\n-- " + module.PortName() + " opened at 9600 baud, line ending CR LF\n";
    for (std::size_t at = 0, end; (end = sent.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string command = sent.substr(at, end - at);
        expected += "-> " + command + "\\x0d\\x0a\n<= " + command + "\\x0d\\x0a\\x0d\\x0a\n<- OK\\x0d\\x0a\nok " + command +
                    " acknowledged\n";
    }
    expected += "-- " + module.PortName() + " closed\n";
    std::ifstream logged(log);
    std::string untimed;
    // Each line after its date and time, "2026-12-10T14:26:09.123+01:00 ", checked by its shape.
    for (std::string line; std::getline(logged, line);) {
        std::string shape = line.substr(0, 30);
        std::replace_if(shape.begin(), shape.end(), [](unsigned char c) { return std::isdigit(c) != 0; }, '9');
        std::replace(shape.begin(), shape.end(), '-', '+');
        untimed += (shape == "9999+99+99T99:99:99.999+99:99 " ? line.substr(30) : line) + '\n';
    }
    EXPECT_EQ(untimed, expected);
    // A log that cannot be opened stops it before the port is touched, with a status of its own.
    const Result noLog = RunCli({"send", "--port", module.PortName(), "--log", (scratch.Path / "gone" / "x.log").string(), file.string()});
    EXPECT_EQ(noLog.Status, 5);
    EXPECT_EQ(noLog.Err, "kelvara-cli: " + (scratch.Path / "gone" / "x.log").string() +
                             ": cannot be opened as a log: No such file or directory\n");

    std::ofstream(scratch.Path / "bad.txt") << "AT+RENEW\n\nAT+\x01X\n";
    const Result bad = RunCli({"send", "--port", module.PortName(), (scratch.Path / "bad.txt").string()});
    EXPECT_EQ(bad.Status, 2);
    EXPECT_EQ(bad.Err, "kelvara-cli: " + (scratch.Path / "bad.txt").string() +
                           ":3: holds a control byte\n");
    EXPECT_EQ(module.Received(), ended("\r\n")) << "a refused file sends nothing";
}

struct FindCase {
    const char* Name;
    TModuleStyle Style;
    std::string Found;
};

void PrintTo(const FindCase& c, std::ostream* os) { *os << c.Name; }

class Find : public testing::TestWithParam<FindCase> {};

TEST_P(Find, FindsTheSettingsSendingNothingButAtAndLineEndings) {
    TFakeModule module;
    module.Style(GetParam().Style);
    const Result found = RunCli({"find", "--port", module.PortName()});
    EXPECT_EQ(found.Status, 0) << found.Err;
    EXPECT_EQ(found.Out, GetParam().Found + "\n");
    EXPECT_EQ(module.Received().find_first_not_of("AT\r\n"), std::string::npos);

    // --baud auto: the list goes out at the settings found.
    const Result sent = RunCli({"study", "--port", module.PortName(), "--baud", "auto",
                                "--pause", "0"});
    EXPECT_EQ(sent.Status, 0) << sent.Err;
    EXPECT_EQ(std::count(sent.Out.begin(), sent.Out.end(), '\n'), 9) << sent.Out;
    EXPECT_EQ(module.Commands().back(), "AT+ROLE1");
}

INSTANTIATE_TEST_SUITE_P(
    Modules, Find,
    testing::Values(FindCase{"Plain9600", {.BaudRate = 9600}, "9600 none"},
                    FindCase{"EchoingCrLf115200",
                             {.Echo = true, .AnswerOkLines = true, .CommandEnd = "\r\n",
                              .BaudRate = 115200},
                             "115200 crlf echo"},
                    FindCase{"Lf38400", {.CommandEnd = "\n", .BaudRate = 38400}, "38400 lf"}),
    [](const auto& info) { return info.param.Name; });

TEST(Talk, FindGivesUpOnASilentModule) {
    TFakeModule module;
    module.On("AT", TModuleBehaviour::Silent());
    const Result r = RunCli({"find", "--port", module.PortName()});
    EXPECT_EQ(r.Status, 4);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, "kelvara-cli: " + module.PortName() + ": no module answered at any setting\n");
}

TEST(Talk, ASessionOnATerminalSendsEachLineAndShowsLateAnswers) {
    TFakeModule module;
    module.On("AT+DISC?", [] {
        auto b = TModuleBehaviour::ThenStray("OK+DIS0:123456789ABCOK+DISCE", 100);
        b.Reply = "OK+DISCS";
        return b;
    }());
    module.On("AT+BAD", TModuleBehaviour::Answering("ERROR"));
    int terminal = -1;
    int input = -1;
    ASSERT_EQ(openpty(&terminal, &input, nullptr, nullptr, nullptr), 0);
    const auto type = [&](const std::string& text) {
        ASSERT_EQ(write(terminal, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    };
    const Result r = RunCli(
        {"send", "--port", module.PortName()},
        [&](pid_t) {
            type("AT+DISC?\n");
            // The scan's results come unasked; the next line goes once they have been shown.
            if (!module.WaitUntilSent("OK+DISCE", 10s))
                return;
            std::this_thread::sleep_for(300ms);
            type("  # a comment\nAT+BAD\n");
            if (module.WaitForCommands(2, 10s))
                std::this_thread::sleep_for(300ms);
            type("\x04");
        },
        KELVARA_CLI_PATH, input);
    close(input);
    close(terminal);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "AT+DISC?\tOK+DISCS\n\tOK+DIS0:123456789ABCOK+DISCE\n");
    EXPECT_EQ(r.Err, "kelvara-cli: AT+BAD: answered \"ERROR\"\n");
    EXPECT_EQ(module.Received(), "AT+DISC?AT+BAD");
}

TEST(Talk, OneSenderPerModuleWhateverTheName) {
    TScratch scratch;
    TFakeModule module;
    module.On("AT+IMME1", TModuleBehaviour::Slow(400));
    const auto link = scratch.Path / "by-id-link";
    std::filesystem::create_symlink(module.PortPath(), link);
    Result second;
    const Result first = RunCli({"study", "--port", module.PortName(), "--pause", "0"}, [&](pid_t) {
        if (module.WaitForCommands(2, 10s))
            second = RunCli({"study", "--port", link.string()});
    });
    EXPECT_EQ(first.Status, 0) << first.Err;
    EXPECT_EQ(second.Status, 3);
    EXPECT_EQ(second.Err, "kelvara-cli: " + link.string() + ": in use by another program\n");
    EXPECT_EQ(module.Received(), "AT+RENEWAT+IMME1AT+SHOW1AT+COMP1AT+NOTI1AT+128B0AT+UUID0xFFE1"
                                 "AT+CHAR0xFFE1AT+ROLE1");
}

TEST(Talk, PortNamesAreFileNames) {
    TScratch scratch;
    TFakeModule module;
    const auto link = scratch.Path / "\xff\xfe-port";
    std::filesystem::create_symlink(module.PortPath(), link);
    const Result r = RunCli({"ibeacon", "--port", link.string(), "--pause", "0"});
    EXPECT_EQ(r.Status, 0) << r.Err;

    const std::string missing = "/tmp/" + std::string(5000, 'a');
    const Result longPath = RunCli({"study", "--port", missing});
    EXPECT_EQ(longPath.Status, 3);
    EXPECT_EQ(longPath.Err, "kelvara-cli: /tmp/" + std::string(59, 'a') + "...: no such port\n");
}

TEST(Talk, ARepliesRulesHoldWhateverTheTimeoutAndTheLine) {
    TFakeModule module;
    // A reply in two pieces further apart than the timeout, but closer than the quiet gap.
    module.On("AT+RENEW", TModuleBehaviour::InTwoPieces("OK+RENEW", 40));
    // A module that restarts after acknowledging: the line drops within the quiet gap.
    module.On("AT+IMME1", TModuleBehaviour::AnswerThenHangUp());
    const Result r = RunCli({"study", "--port", module.PortName(), "--pause", "0", "--line-end",
                             "cr", "--timeout", "25"});
    EXPECT_EQ(r.Status, 3); // the port went away
    EXPECT_EQ(r.Out, "AT+RENEW\tOK+RENEW\nAT+IMME1\tOK+IMME1\n");
    EXPECT_EQ(r.Err, "kelvara-cli: AT+SHOW1: connection lost\n");
}

TEST(Talk, AClosedOrFullOutputNeverStopsASendPartWay) {
    for (const char* consumer : {"| head -n 1", ">/dev/full"}) {
        TFakeModule module;
        const Result r = RunCli({"-c", std::string("set -o pipefail; \"$0\" study --port \"$1\" "
                                                   "--pause 0 ") + consumer,
                                 KELVARA_CLI_PATH, module.PortName()},
                                {}, "/bin/bash");
        EXPECT_EQ(r.Status, 1) << consumer;
        EXPECT_EQ(r.Err, "kelvara-cli: could not write to standard output\n") << consumer;
        EXPECT_EQ(module.Commands().size(), 9u) << consumer;
    }
}

} // namespace
