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

} // namespace
