#include "SetUpCommands.h"

#include <string_view>

namespace kelvara {

std::vector<std::string> SetUpCommands(const std::vector<std::string>& lines) {
    // The single-space line parts a study list's set-up commands from its guide.
    constexpr std::string_view kGuideStart = " ";
    constexpr std::string_view kCommandStart = "AT+";

    std::vector<std::string> commands;
    for (const std::string& line : lines) {
        if (line == kGuideStart)
            break;
        if (!line.starts_with(kCommandStart))
            continue;
        std::string_view command = line;
        // "AT+SHOW1 (If you ...)": the command is what comes before the explanation.
        if (const auto explanation = command.find(" ("); explanation != std::string_view::npos)
            command = command.substr(0, explanation);
        while (command.ends_with(' '))
            command.remove_suffix(1);
        commands.emplace_back(command);
    }
    return commands;
}

} // namespace kelvara
