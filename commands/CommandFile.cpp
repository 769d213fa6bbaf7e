#include "CommandFile.h"

namespace kelvara {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsControl(unsigned char c) { return c < 32 || c == 127; }

} // namespace

std::variant<std::string, TCommandFileError> ReadCommandLine(std::string_view line,
                                                             std::size_t lineNumber) {
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    while (!line.empty() && IsBlank(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && IsBlank(line.back()))
        line.remove_suffix(1);
    if (line.empty() || line.front() == '#')
        return std::string();
    for (unsigned char c : line) {
        if (IsControl(c))
            return TCommandFileError{lineNumber, "holds a control byte"};
    }
    if (line.size() > kMaxCommandBytes)
        return TCommandFileError{lineNumber, "is longer than " + std::to_string(kMaxCommandBytes) +
                                                 " bytes"};
    return std::string(line);
}

std::variant<std::vector<std::string>, TCommandFileError> ReadCommandFile(std::string_view text) {
    if (text.size() > kMaxCommandFileBytes)
        return TCommandFileError{0, "is larger than 1 MiB"};
    std::vector<std::string> commands;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        auto read = ReadCommandLine(line, lineNumber);
        if (auto* error = std::get_if<TCommandFileError>(&read))
            return std::move(*error);
        if (std::string& command = std::get<std::string>(read); !command.empty())
            commands.push_back(std::move(command));
    }
    if (commands.empty())
        return TCommandFileError{0, "holds no command"};
    return commands;
}

} // namespace kelvara
