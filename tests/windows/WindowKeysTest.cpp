// The module window by keyboard alone (WindowKeys.cpp) against the simulated module: the Linux
// build, or the Windows build under Wine when KELVARA_TEST_WINDOW gives the command that runs it
// ("wine /path/kelvara_window_keys.exe"), the modules then on COM ports.
#include "FakeModule.h"
#include "RunCli.h"
#include "StudyCommandList.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <set>

namespace {

using kelvara::testing::TFakeModule;

// Runs the window's program with the arguments, what it remembers in a folder of its own (on
// Linux; Wine keeps it in the test prefix's registry).
Result RunWindow(const std::vector<std::string>& args) {
    char config[] = "/tmp/kelvara-window-XXXXXX";
    if (!mkdtemp(config))
        return {};
    setenv("XDG_CONFIG_HOME", config, 1);
    std::vector<std::string> command = CommandFrom("KELVARA_TEST_WINDOW", KELVARA_WINDOW_KEYS_PATH);
    command.insert(command.end(), args.begin(), args.end());
    Result r = RunCli({command.begin() + 1, command.end()}, {}, command.front());
    std::erase(r.Out, '\r'); // printed by a Windows program in text mode
    std::filesystem::remove_all(config);
    return r;
}

TEST(Window, ByKeyboardAloneAListIsSentAndATypedCommandReachesTheModule) {
    TFakeModule module;
    const Result r = RunWindow({module.PortName()});
    EXPECT_EQ(r.Status, 0) << r.Out << r.Err;
    EXPECT_TRUE(r.Out.starts_with("All 9 commands acknowledged.\n")) << r.Out;
    EXPECT_NE(r.Out.find("OK+NAME?"), std::string::npos) << r.Out;
    std::vector<std::string> expected = kelvara::SetUpCommands(
        kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List());
    expected.push_back("AT+NAME?");
    EXPECT_EQ(module.Commands(), expected);
}

// Each of the three modules gets its own list, with a Minor of its own.
TEST(Window, ByKeyboardAloneABatchOnThreePortsSetsUpAModuleOnEach) {
    std::array<TFakeModule, 3> modules;
    const Result r = RunWindow({"--batch", modules[0].PortName(), modules[1].PortName(), modules[2].PortName()});
    EXPECT_EQ(r.Status, 0) << r.Out << r.Err;
    std::set<std::string> minors;
    for (const TFakeModule& module : modules) {
        for (const std::string& command : module.Commands())
            if (command.starts_with("AT+MINO"))
                minors.insert(command);
    }
    EXPECT_EQ(minors.size(), 3u) << r.Out;
    std::printf("%s", r.Out.c_str()); // the status and the longest stall, for the README's figures
}

// Find sends nothing but "AT"; the scan's first device is connected to and let go again.
TEST(Window, FindThenAScanAndAConnectionEndedAgain) {
    TFakeModule module;
    module.Scanning({"OK+DIS0:C4BE84123456", "OK+DIS0:A81B6AAE5221"}, 30, {"C4BE84123456"});
    const Result r = RunWindow({"--find-scan", module.PortName()});
    EXPECT_EQ(r.Status, 0) << r.Out << r.Err;
    EXPECT_TRUE(r.Out.starts_with("Found the module at 9600 baud")) << r.Out;
    EXPECT_NE(r.Out.find("\nScan done: 2 device(s) found.\nConnected to C4BE84123456.\n"
                         "Disconnected from C4BE84123456.\n"),
              std::string::npos) << r.Out;
    std::vector<std::string> commands = module.Commands();
    std::erase(commands, "AT");
    EXPECT_EQ(commands, (std::vector<std::string>{"AT+DISC?", "AT+CO0C4BE84123456"})) << r.Out;
}

// Closed during the first module of three on one port: that module's list is sent to its end,
// and no other is begun.
TEST(Window, ABatchClosedDuringAModuleEndsThatModuleFirst) {
    TFakeModule module;
    module.On("AT+*", kelvara::testing::TModuleBehaviour::Slow(60));
    const Result r = RunWindow({"--close-batch", module.PortName()});
    EXPECT_EQ(r.Status, 0) << r.Out << r.Err;
    const std::vector<std::string> commands = module.Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_TRUE(commands.back().starts_with("AT+MINO0x")) << commands.back();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "AT+RENEW"), 1) << r.Out;
}

} // namespace
