// kelvara-cli setting up module after module on one port: swaps between modules, a failure in
// the middle, a batch started again from its record, and values past 65535 refused.
#include "FakeModule.h"
#include "RunCli.h"

#include "FieldText.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <sstream>
#include <thread>

using kelvara::testing::TFakeModule;
using kelvara::testing::TModuleBehaviour;
using namespace std::chrono_literals;

namespace {

const std::string kUuid = "uuid=0000FFF0-0000-1000-8000-00805F9B34FB major=10123 minor=";

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The record with each row's time, "2026-12-09T10:00:00.000Z", written as TIME.
std::string TimesMasked(std::string text) {
    const auto isTime = [](std::string_view cell) {
        return cell.size() == 24 && cell[4] == '-' && cell[10] == 'T' && cell[19] == '.' &&
               cell.back() == 'Z' &&
               std::all_of(cell.begin(), cell.begin() + 4, [](char c) { return c >= '0' && c <= '9'; });
    };
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) {
        if (isTime(std::string_view(text).substr(at + 2, 24)))
            text.replace(at + 2, 24, "TIME");
    }
    return text;
}

TEST(Batch, ModuleAfterModuleEachWithItsOwnMinorAndARecordToGoOnFrom) {
    const auto record = std::filesystem::temp_directory_path() /
                        ("kelvara-batch-" + std::to_string(getpid()) + ".csv");
    std::filesystem::remove(record);
    TFakeModule module;
    module.Style({.AnswerOkLines = true, .CommandEnd = "\r"});
    // The second module refuses its Minor once; the next module gets that Minor.
    auto refuse = TModuleBehaviour::Answering("ERROR\r\n");
    refuse.Times = 1;
    module.On("AT+MINO0x278E", refuse);

    module.SwapAfterEach("AT+MINO0x", 1600ms);
    const std::vector<std::string> batch = {"ibeacon",  "--port", module.PortName(), "--line-end",
                                            "cr",       "--pause", "0",             "--count",
                                            "minor",    "--record", record.string(), "--modules"};
    auto first = batch;
    first.push_back("3");
    const Result r1 = RunCli(first);
    auto second = batch;
    second.push_back("2");
    const Result r2 = RunCli(second);

    EXPECT_EQ(r1.Status, 0) << r1.Err;
    EXPECT_EQ(r1.Out, "1\t" + kUuid + "10125\tset up\n"
                      "2\t" + kUuid + "10126\tfailed: AT+MINO0x278E: answered \"ERROR\\x0d\\x0a\"\n"
                      "3\t" + kUuid + "10126\tset up\n"
                      "4\t" + kUuid + "10127\tset up\n");
    EXPECT_EQ(r2.Status, 0) << r2.Err;
    EXPECT_EQ(r2.Out, "1\t" + kUuid + "10128\tset up\n2\t" + kUuid + "10129\tset up\n");
    // While waiting, nothing but "AT" was asked.
    std::size_t lists = 0;
    for (const std::string& command : module.Commands()) {
        EXPECT_TRUE(command == "AT" || command.starts_with("AT+")) << command;
        lists += command == "AT+RENEW";
    }
    EXPECT_EQ(lists, 6u);

    // The record, times aside.
    const std::string text = TimesMasked(ReadAll(record));
    const std::string row = "\r\nTIME," + module.PortName() +
                            ",ibeacon,,,,0000FFF0-0000-1000-8000-00805F9B34FB,10123,";
    EXPECT_EQ(text, "time,port,list,format,notify,write,uuid,major,minor,outcome,command,reply" +
                        row + "10125,set up,," + row +
                        "10126,failed,AT+MINO0x278E,ERROR\\x0d\\x0a" + row + "10126,set up,," +
                        row + "10127,set up,," + row + "10128,set up,," + row +
                        "10129,set up,,\r\n");
    std::filesystem::remove(record);
}

TEST(Batch, WhatCannotBeDoneIsRefusedBeforeAnythingIsSent) {
    TFakeModule module;
    const auto record = std::filesystem::temp_directory_path() /
                        ("kelvara-batch-other-" + std::to_string(getpid()) + ".csv");
    std::ofstream(record) << "time,port,list,format,notify,write,uuid,major,minor,outcome,command,"
                             "reply\r\n2026-12-09T10:00:00.000Z,/dev/ttyUSB0,ibeacon,,,,"
                             "0000FFF0-0000-1000-8000-00805F9B34FB,10123,10125,set up,,\r\n";
    const Result past = RunCli({"ibeacon", "--minor", "FFFE", "--port", module.PortName(),
                                "--modules", "3", "--count", "minor"});
    EXPECT_EQ(past.Status, 1);
    EXPECT_EQ(past.Err, "kelvara-cli: --minor: Please input correct iBeacon Minor value! "
                        "(module 3 of 3 would get 65536)\n");
    const Result other = RunCli({"ibeacon", "--major", "04D2", "--port", module.PortName(),
                                 "--modules", "1", "--record", record.string()});
    EXPECT_EQ(other.Status, 2);
    EXPECT_EQ(other.Err, "kelvara-cli: " + record.string() +
                             ": row 1 has --major 10123, not 04D2: it records another batch\n");
    std::ofstream(record) << "not,a,record\n";
    const Result notOurs = RunCli({"study", "--port", module.PortName(), "--modules", "1",
                                   "--record", record.string()});
    EXPECT_EQ(notOurs.Status, 2);
    EXPECT_TRUE(notOurs.Err.starts_with("kelvara-cli: " + record.string() +
                                        ": line 1: is not a Kelvara record"))
        << notOurs.Err;
    EXPECT_EQ(module.Received(), "");
    std::filesystem::remove(record);
}

// The lines of a text, sorted: modules on several ports end in any order.
std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(Batch, ThreePortsShareOneCountOneRecordAndGiveNoValueTwice) {
    const auto record = std::filesystem::temp_directory_path() /
                        ("kelvara-batch-ports-" + std::to_string(getpid()) + ".csv");
    std::filesystem::remove(record);
    std::array<TFakeModule, 3> modules;
    for (TFakeModule& module : modules) {
        module.Style({.AnswerOkLines = true, .CommandEnd = "\r"});
        module.SwapAfterEach("AT+MINO0x", 1300ms);
    }
    // The first module on the second port refuses its Minor: another port's module takes it.
    auto refuse = TModuleBehaviour::Answering("ERROR\r\n");
    refuse.Times = 1;
    modules[1].On("AT+MINO0x*", refuse);
    const std::string log = record.string() + ".log";
    const auto batch = [&](std::vector<std::size_t> ports, const char* count) {
        std::vector<std::string> args = {"ibeacon", "--line-end", "cr", "--pause", "0", "--count", "minor",
                                         "--record", record.string(), "--modules", count, "--log", log};
        for (std::size_t port : ports)
            args.insert(args.end(), {"--port", modules[port].PortName()});
        return RunCli(args);
    };
    const Result r1 = batch({0, 1, 2}, "6");
    EXPECT_EQ(r1.Status, 0) << r1.Err;
    EXPECT_EQ(r1.Err, "");
    // Each line: the module's number over all ports, its port, its values, its end.
    std::vector<std::string> out = SortedLines(r1.Out);
    ASSERT_EQ(out.size(), 7u) << r1.Out;
    std::vector<std::string> setUp;
    std::string failedMinor;
    for (std::size_t i = 0; i < out.size(); ++i) {
        std::istringstream line(out[i]);
        std::string number, port, values, outcome;
        std::getline(line, number, '\t');
        std::getline(line, port, '\t');
        std::getline(line, values, '\t');
        std::getline(line, outcome);
        EXPECT_TRUE(port == modules[0].PortName() || port == modules[1].PortName() ||
                    port == modules[2].PortName()) << out[i];
        ASSERT_TRUE(values.starts_with(kUuid)) << out[i];
        const std::string minor = values.substr(kUuid.size());
        if (outcome == "set up") {
            setUp.push_back(minor);
        } else {
            EXPECT_EQ(port, modules[1].PortName());
            EXPECT_EQ(outcome, "failed: AT+MINO0x" + kelvara::FormatHex(std::stoul(minor), 4) +
                                   ": answered \"ERROR\\x0d\\x0a\"");
            failedMinor = minor;
        }
    }
    std::sort(setUp.begin(), setUp.end());
    EXPECT_EQ(setUp, (std::vector<std::string>{"10125", "10126", "10127", "10128", "10129", "10130"}));
    EXPECT_FALSE(failedMinor.empty());
    // One log for all, each line tagged with its port: each port's life, and each module's commands.
    const std::string logged = ReadAll(log);
    for (std::size_t port : {0, 1, 2}) {
        const std::string name = modules[port].PortName(), tag = " [" + name + "] ";
        for (const std::string& line : {tag + "-- " + name + " opened at 9600 baud, line ending CR\n",
                                        tag + "-> AT+MINO0x", tag + "-- " + name + " closed\n"})
            EXPECT_NE(logged.find(line), std::string::npos) << line << logged;
    }

    // Started again on two of the ports, another pair: the next values.
    const Result r2 = batch({2, 0}, "2");
    EXPECT_EQ(r2.Status, 0) << r2.Err;
    std::vector<std::string> next;
    for (const std::string& line : SortedLines(r2.Out))
        next.push_back(line.substr(line.find(kUuid) + kUuid.size(), 5));
    std::sort(next.begin(), next.end());
    EXPECT_EQ(next, (std::vector<std::string>{"10131", "10132"}));

    // One record for all: a row for each line printed, with its port, times aside.
    std::vector<std::string> rows = SortedLines(TimesMasked(ReadAll(record)));
    std::vector<std::string> expected = {"time,port,list,format,notify,write,uuid,major,minor,outcome,command,reply\r"};
    for (const std::string& printed : SortedLines(r1.Out + r2.Out)) {
        std::istringstream line(printed);
        std::string number, port, values, outcome;
        std::getline(line, number, '\t');
        std::getline(line, port, '\t');
        std::getline(line, values, '\t');
        std::getline(line, outcome);
        const std::string minor = values.substr(kUuid.size());
        expected.push_back("TIME," + port + ",ibeacon,,,,0000FFF0-0000-1000-8000-00805F9B34FB,10123," +
                           minor +
                           (outcome == "set up" ? ",set up,,"
                                                : ",failed,AT+MINO0x" + kelvara::FormatHex(std::stoul(minor), 4) +
                                                      ",ERROR\\x0d\\x0a") + "\r");
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(rows, expected);
    std::filesystem::remove(record);
    std::filesystem::remove(log);
}

// The adapter goes with the module part-way through its list and does not come back as a port:
// what stands at its name then cannot be opened, which is told once and tried again. Stopped
// while it waits for the port, the batch ended because the port went away.
TEST(Batch, APortThatWentAwayAndStayedAwayExitsThree) {
    TFakeModule module;
    module.On("AT+MARJ*", TModuleBehaviour::HangUp());
    const auto link = std::filesystem::temp_directory_path() / ("kelvara-gone-" + std::to_string(getpid()));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(module.PortPath(), link);
    const Result r = RunCli({"ibeacon", "--pause", "0", "--modules", "2", "--port", link.string()},
                            [&](pid_t pid) {
                                module.WaitForCommands(6, 5s);
                                std::filesystem::remove(link);
                                std::ofstream(link) << "not a port";
                                std::this_thread::sleep_for(800ms);
                                kill(pid, SIGINT);
                            });
    std::filesystem::remove(link);
    EXPECT_EQ(r.Status, 3) << r.Err;
    EXPECT_NE(r.Err.find("interrupted; 0 of 2 modules set up"), std::string::npos) << r.Err;
    const std::string refused = "kelvara-cli: " + link.string() + ": back but cannot be opened (";
    const std::size_t told = r.Err.find(refused);
    EXPECT_NE(told, std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.find(refused, told + 1), std::string::npos) << "told once: " << r.Err;
}

TEST(Batch, APortThatCannotBeUsedIsToldAndTheOthersGoOn) {
    std::array<TFakeModule, 2> modules;
    for (TFakeModule& module : modules)
        module.SwapAfterEach("AT+MINO0x", 1300ms);
    const auto notAPort = std::filesystem::temp_directory_path() /
                          ("kelvara-not-a-port-" + std::to_string(getpid()));
    std::ofstream(notAPort) << "a file";
    const Result r = RunCli({"ibeacon", "--pause", "0", "--modules", "2", "--port", modules[0].PortName(),
                             "--port", notAPort.string(), "--port", modules[1].PortName()});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(r.Err.starts_with("kelvara-cli: " + notAPort.string() + ": ")) << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 2) << r.Out;
    // None at all: the port's exit status.
    const Result none = RunCli({"ibeacon", "--modules", "2", "--port", notAPort.string(), "--port",
                                notAPort.string() + "-missing"});
    EXPECT_EQ(none.Status, 3) << none.Err;
    std::filesystem::remove(notAPort);
}

} // namespace
