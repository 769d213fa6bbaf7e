#pragma once

// Setting up many modules in a row: the value each one gets, and the record of what became of
// each, as a CSV file (RFC 4180) that a batch started again continues from.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kelvara {

// A Major or Minor value written the way `typed` was: 4 hexadecimal digits as 4 upper-case
// hexadecimal digits, 5 decimal digits as 5 decimal digits. Nothing when typed is neither, or
// the value is not one of 0 to 65535.
std::optional<std::string> ValueLike(std::string_view typed, std::size_t value);
// The Major or Minor `offset` places after the one typed, written the way it was typed.
std::optional<std::string> CountedValue(std::string_view typed, std::size_t offset);
// The value a Major or Minor text stands for, read as the list reads it; nothing for any other.
std::optional<unsigned> ValueOf(std::string_view typed);

// The record's columns, in order.
inline constexpr std::array<std::string_view, 12> kRecordColumns = {
    "time", "port",  "list",  "format",  "notify",  "write",
    "uuid", "major", "minor", "outcome", "command", "reply"};
inline constexpr std::string_view kRecordSetUp = "set up";
inline constexpr std::string_view kRecordFailed = "failed";

using TRecordRow = std::array<std::string, kRecordColumns.size()>;

// The header line, and a row, each ending in CR LF; cells holding a comma, a double quote, CR
// or LF are quoted, inner quotes doubled.
std::string RecordHeader();
std::string RecordLine(const TRecordRow& row);

struct TRecordError {
    std::size_t Line = 0;
    std::string Reason;
};

// The rows of a record after its header; a record whose header is not ours, or with a row of
// the wrong number of cells or an unfinished quote, is refused with its line.
std::variant<std::vector<TRecordRow>, TRecordError> ParseRecord(std::string_view text);

// The index of a column by its name.
constexpr std::size_t RecordColumn(std::string_view name) {
    for (std::size_t i = 0; i < kRecordColumns.size(); ++i)
        if (kRecordColumns[i] == name)
            return i;
    return kRecordColumns.size();
}

} // namespace kelvara
