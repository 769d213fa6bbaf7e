#include "Lines.h"

#include <utility>

namespace kelvara::link {

std::vector<std::string> TLineSplitter::Feed(std::string_view bytes) {
    std::vector<std::string> lines;
    for (const char c : bytes) {
        if (std::exchange(afterCr_, false)) {
            if (c == '\n') {
                line_ += c;
                lines.push_back(std::exchange(line_, {}));
                continue;
            }
            lines.push_back(std::exchange(line_, {}));
        }
        line_ += c;
        if (c == '\r')
            afterCr_ = true;
        else if (c == '\n' || line_.size() >= kLongestLine)
            lines.push_back(std::exchange(line_, {}));
    }
    return lines;
}

std::string TLineSplitter::Flush() {
    afterCr_ = false;
    return std::exchange(line_, {});
}

std::optional<std::string> Unescaped(std::string_view typed, std::string& why) {
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string bytes;
    for (std::size_t i = 0; i < typed.size(); ++i) {
        if (typed[i] != '\\') {
            bytes += typed[i];
            continue;
        }
        const char next = i + 1 < typed.size() ? typed[i + 1] : '\0';
        switch (next) {
        case 'r':
            bytes += '\r';
            break;
        case 'n':
            bytes += '\n';
            break;
        case 't':
            bytes += '\t';
            break;
        case '\\':
            bytes += '\\';
            break;
        case 'x': {
            const int high = i + 2 < typed.size() ? hex(typed[i + 2]) : -1;
            const int low = i + 3 < typed.size() ? hex(typed[i + 3]) : -1;
            if (high < 0 || low < 0) {
                why = "\\x takes two hexadecimal digits";
                return std::nullopt;
            }
            bytes += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            if (next == '\0') {
                why = "a lone \\ ends it (\\\\ is a backslash)";
            } else {
                why.assign(1, '\\');
                why += next;
                why += " is no escape (\\r, \\n, \\t, \\\\ or \\xNN)";
            }
            return std::nullopt;
        }
        ++i;
    }
    return bytes;
}

} // namespace kelvara::link
