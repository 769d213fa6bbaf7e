#include "CommandFile.h"

#include <optional>

namespace kelvara {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsControl(unsigned char c) { return c < 32 || c == 127; }

void AppendUtf8(char32_t point, std::string& text) {
    if (point < 0x80) {
        text += static_cast<char>(point);
    } else if (point < 0x800) {
        text += static_cast<char>(0xC0 | (point >> 6));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        text += static_cast<char>(0xE0 | (point >> 12));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (point >> 18));
        text += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// UTF-16 (after its mark) as UTF-8; nothing when it is not UTF-16: an odd length, a surrogate
// without its pair.
std::optional<std::string> FromUtf16(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    const auto unit = [&](std::size_t i) -> char32_t {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (first << 8 | second) : (second << 8 | first);
    };
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        char32_t point = unit(i);
        if (point >= 0xDC00 && point <= 0xDFFF)
            return std::nullopt;
        if (point >= 0xD800 && point <= 0xDBFF) {
            const char32_t low = i + 2 < bytes.size() ? unit(i + 2) : 0;
            if (low < 0xDC00 || low > 0xDFFF)
                return std::nullopt;
            point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        AppendUtf8(point, text);
    }
    return text;
}

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
    // Windows PowerShell 5.1 writes redirected output as UTF-16 little-endian with its mark;
    // Notepad may save UTF-8 with one.
    std::optional<std::string> decoded;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    } else if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        decoded = FromUtf16(text.substr(2), text.front() == '\xFE');
        if (!decoded)
            return TCommandFileError{0, "is not valid UTF-16"};
        text = *decoded;
    }
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
