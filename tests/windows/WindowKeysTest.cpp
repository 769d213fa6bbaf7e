// The module window by keyboard alone (WindowKeys.cpp) against the simulated module: the Linux
// build, or the Windows build under Wine when KELVARA_TEST_WINDOW gives the command that runs it
// ("wine /path/kelvara_window_keys.exe"), the module then on a COM port.
#include "FakeModule.h"
#include "RunCli.h"
#include "StudyCommandList.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(Window, ByKeyboardAloneAListIsSentAndATypedCommandReachesTheModule) {
    kelvara::testing::TFakeModule module;
    // What the window remembers goes to a folder of the test's own (on Linux; Wine keeps it in
    // the test prefix's registry).
    char config[] = "/tmp/kelvara-window-XXXXXX";
    ASSERT_NE(mkdtemp(config), nullptr);
    setenv("XDG_CONFIG_HOME", config, 1);
    std::vector<std::string> command{KELVARA_WINDOW_KEYS_PATH};
    if (const char* given = std::getenv("KELVARA_TEST_WINDOW"); given && *given) {
        command.clear();
        std::istringstream words(given);
        for (std::string word; words >> word;)
            command.push_back(word);
    }
    command.push_back(module.PortName());
    Result r = RunCli({command.begin() + 1, command.end()}, {}, command.front());
    std::erase(r.Out, '\r'); // printed by a Windows program in text mode
    EXPECT_EQ(r.Status, 0) << r.Out << r.Err;
    EXPECT_TRUE(r.Out.starts_with("All 9 commands acknowledged.\n")) << r.Out;
    EXPECT_NE(r.Out.find("OK+NAME?"), std::string::npos) << r.Out;
    std::vector<std::string> expected = kelvara::SetUpCommands(
        kelvara::BuildStudyCommandList(kelvara::TUuidFormat::uf16Bit, "FFE1", "FFE1").List());
    expected.push_back("AT+NAME?");
    EXPECT_EQ(module.Commands(), expected);
    std::filesystem::remove_all(config);
}

} // namespace
