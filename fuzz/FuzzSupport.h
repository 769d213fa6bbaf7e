#pragma once

// Shared by the fuzz targets: splitting an input into field texts, the rewrites of a field that
// must not change an outcome, and checks that abort (so libFuzzer keeps the input) on failure.

#include "CommandTypes.h"
#include "FieldText.h"
#include "Messages.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::fuzz {

inline void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

// Splits the input into `count` fields at '|'; the last field takes the rest, '|' included.
inline std::vector<std::string> SplitFields(const std::uint8_t* data, std::size_t size,
                                            std::size_t count) {
    std::vector<std::string> fields(count);
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (std::size_t i = 0; i + 1 < count; ++i) {
        const std::size_t bar = rest.find('|');
        fields[i] = std::string(rest.substr(0, bar));
        rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
    }
    fields[count - 1] = std::string(rest);
    return fields;
}

inline bool SameOutcome(const TCommandListOutcome& a, const TCommandListOutcome& b) {
    if (a.IsRejection() != b.IsRejection())
        return false;
    return a.IsRejection() ? a.Rejection() == b.Rejection() : a.Lines() == b.Lines();
}

inline std::string UpperCased(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Adds bytes of 32 or less (NUL, tab, line breaks, space) at both ends.
inline std::string Padded(const std::string& text, std::size_t seed) {
    static constexpr char kLow[] = {'\0', '\t', '\n', '\r', ' ', '\x1f', '\x01', '\x0b'};
    const std::string left(1 + seed % 3, kLow[seed % sizeof kLow]);
    const std::string right(1 + (seed / 3) % 2, kLow[(seed / 7) % sizeof kLow]);
    return left + text + right;
}

// Inserts dashes inside the field's text proper (between its first and last byte above 32), so
// that trimming and emptiness are unaffected.
inline std::string WithDashes(const std::string& text, std::size_t seed) {
    const auto isText = [](char c) { return static_cast<unsigned char>(c) > 32; };
    const auto first = std::find_if(text.begin(), text.end(), isText);
    if (first == text.end())
        return text;
    const auto last = std::find_if(text.rbegin(), text.rend(), isText).base();
    const std::size_t from = static_cast<std::size_t>(first - text.begin());
    const std::size_t span = static_cast<std::size_t>(last - first);
    std::string result = text;
    for (std::size_t n = 0; n < 1 + seed % 3; ++n) {
        const std::size_t at = from + (seed / (n + 1)) % (span + 1);
        result.insert(at, "-");
    }
    return result;
}

inline std::size_t Seed(const std::uint8_t* data, std::size_t size) {
    std::size_t seed = size;
    for (std::size_t i = 0; i < size; ++i)
        seed = seed * 131 + data[i];
    return seed;
}

inline bool IsFixedMessage(std::string_view message) {
    return std::find(messages::kAll.begin(), messages::kAll.end(), message) !=
           messages::kAll.end();
}

// The normalised text of a UUID field: what its digits in a list must come from.
inline std::string NormalisedUuid(std::string_view text) { return RemoveDashes(TrimUpper(text)); }

} // namespace kelvara::fuzz
