#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::detail {

// The three lines that open both command lists: the two-line banner and AT+RENEW.
inline constexpr std::array<std::string_view, 3> kListHeader = {
    "         Those AT Command only need be executed once more",
    "         ================================================",
    "AT+RENEW",
};

// Appends fixed lines to a list.
inline void AppendLines(std::vector<std::string>& lines, std::span<const std::string_view> fixed) {
    for (std::string_view line : fixed)
        lines.emplace_back(line);
}

// Appends the line made of a command's prefix and its value, built in place.
inline void AppendLine(std::vector<std::string>& lines, std::string_view prefix,
                       std::string_view value) {
    lines.emplace_back(prefix).append(value);
}

} // namespace kelvara::detail
