#include "FieldText.h"

#include <algorithm>
#include <iterator>

namespace kelvara {

namespace {

// Field texts are bytes; compare them unsigned so that bytes of 128 or more are never
// mistaken for control characters through a negative signed char.
constexpr unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

constexpr bool IsTrimmed(char c) { return Byte(c) <= 32; }
constexpr bool IsDecimalDigit(char c) { return Byte(c) >= '0' && Byte(c) <= '9'; }
constexpr bool IsHexDigit(char c) { return IsDecimalDigit(c) || (Byte(c) >= 'A' && Byte(c) <= 'F'); }

constexpr std::uint32_t DigitValue(char c) {
    return IsDecimalDigit(c) ? Byte(c) - '0' : Byte(c) - 'A' + 10;
}

} // namespace

std::string TrimUpper(std::string_view text) {
    const auto first = std::find_if_not(text.begin(), text.end(), IsTrimmed);
    const auto last = std::find_if_not(text.rbegin(), std::make_reverse_iterator(first), IsTrimmed);
    std::string result(first, last.base());
    for (char& c : result) {
        if (Byte(c) >= 'a' && Byte(c) <= 'z')
            c = static_cast<char>(Byte(c) - 'a' + 'A');
    }
    return result;
}

std::string RemoveDashes(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::copy_if(text.begin(), text.end(), std::back_inserter(result), [](char c) { return c != '-'; });
    return result;
}

bool AllHexDigits(std::string_view text) { return std::all_of(text.begin(), text.end(), IsHexDigit); }

bool AllDecimalDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), IsDecimalDigit);
}

std::uint32_t HexValue(std::string_view digits) {
    std::uint32_t value = 0;
    for (char c : digits.substr(0, 4))
        value = value * 16 + DigitValue(c);
    return value;
}

std::uint32_t DecimalValue(std::string_view digits) {
    std::uint32_t value = 0;
    for (char c : digits.substr(0, 5))
        value = value * 10 + (Byte(c) - '0');
    return value;
}

std::array<std::string, 4> SplitUuidGroups(std::string_view digits) {
    std::array<std::string, 4> groups;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const std::size_t start = std::min(i * 8, digits.size());
        groups[i] = std::string(digits.substr(start, 8));
    }
    return groups;
}

std::string FormatHex(std::uint32_t value, int width) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string result;
    do {
        result.insert(result.begin(), kDigits[value % 16]);
        value /= 16;
    } while (value != 0);
    if (static_cast<int>(result.size()) < width)
        result.insert(0, static_cast<std::size_t>(width) - result.size(), '0');
    return result;
}

} // namespace kelvara
