// kelvara-cli setting up module after module on one port: swaps between modules, a failure in
// the middle, a batch started again from its record, and values past 65535 refused.
#include "FakeModule.h"
#include "RunCli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <sstream>

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
    const std::vector<std::string> batch = {"ibeacon",  "--port", module.PortPath(), "--line-end",
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
    const std::string row = "\r\nTIME," + module.PortPath() +
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
    const Result past = RunCli({"ibeacon", "--minor", "FFFE", "--port", module.PortPath(),
                                "--modules", "3", "--count", "minor"});
    EXPECT_EQ(past.Status, 1);
    EXPECT_EQ(past.Err, "kelvara-cli: --minor: Please input correct iBeacon Minor value! "
                        "(module 3 of 3 would get 65536)\n");
    const Result other = RunCli({"ibeacon", "--major", "04D2", "--port", module.PortPath(),
                                 "--modules", "1", "--record", record.string()});
    EXPECT_EQ(other.Status, 2);
    EXPECT_EQ(other.Err, "kelvara-cli: " + record.string() +
                             ": row 1 has --major 10123, not 04D2: it records another batch\n");
    std::ofstream(record) << "not,a,record\n";
    const Result notOurs = RunCli({"study", "--port", module.PortPath(), "--modules", "1",
                                   "--record", record.string()});
    EXPECT_EQ(notOurs.Status, 2);
    EXPECT_TRUE(notOurs.Err.starts_with("kelvara-cli: " + record.string() +
                                        ": line 1: is not a Kelvara record"))
        << notOurs.Err;
    EXPECT_EQ(module.Received(), "");
    std::filesystem::remove(record);
}

} // namespace
