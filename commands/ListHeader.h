#pragma once

#include "CommandTypes.h"

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace kelvara::detail {

// A fixed line of a list and what it is; a command's length is where its note begins.
struct TFixedEntry {
    TEntryKind Kind;
    std::string_view Line;
    std::size_t CommandLength = 0;
};

constexpr TFixedEntry Text(std::string_view line) { return {TEntryKind::Text, line, 0}; }
constexpr TFixedEntry SetUp(std::string_view line, std::size_t commandLength) {
    return {TEntryKind::SetUpCommand, line, commandLength};
}
constexpr TFixedEntry SetUp(std::string_view line) { return SetUp(line, line.size()); }
constexpr TFixedEntry Guide(std::string_view line, std::size_t commandLength) {
    return {TEntryKind::GuideCommand, line, commandLength};
}

// The three lines that open both command lists: the two-line banner and AT+RENEW.
inline constexpr std::array<TFixedEntry, 3> kListHeader = {
    Text("         Those AT Command only need be executed once more"),
    Text("         ================================================"),
    SetUp("AT+RENEW"),
};

// Appends fixed lines to a list.
inline void AppendEntries(TCommandList& list, std::span<const TFixedEntry> fixed) {
    for (const TFixedEntry& entry : fixed)
        list.push_back({entry.Kind, std::string(entry.Line), entry.CommandLength});
}

// Appends the set-up command made of a prefix and its value, built in place.
inline void AppendCommand(TCommandList& list, std::string_view prefix, std::string_view value) {
    TListEntry& entry = list.emplace_back();
    entry.Kind = TEntryKind::SetUpCommand;
    entry.Line.reserve(prefix.size() + value.size());
    entry.Line.append(prefix).append(value);
    entry.CommandLength = entry.Line.size();
}

} // namespace kelvara::detail
