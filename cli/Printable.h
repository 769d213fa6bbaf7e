#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvara::cli {

// The text with every control byte (and, when asked, every byte of 128 or more) shown as \xNN,
// so that it can be printed on a terminal safely. Texts longer than maxShown are cut, with "...".
inline std::string Printable(std::string_view text, bool escapeHighBytes = false,
                             std::size_t maxShown = 64) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    for (unsigned char c : text.substr(0, maxShown)) {
        if (c < 32 || c == 127 || (escapeHighBytes && c >= 128)) {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 15];
        } else {
            shown += static_cast<char>(c);
        }
    }
    if (text.size() > maxShown)
        shown += "...";
    return shown;
}

} // namespace kelvara::cli
