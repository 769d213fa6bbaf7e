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

std::string RemoveDashes(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    return text;
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

std::array<std::string_view, 4> SplitUuidGroups(std::string_view digits) {
    std::array<std::string_view, 4> groups;
    for (std::size_t i = 0; i < groups.size(); ++i)
        groups[i] = digits.substr(std::min(i * 8, digits.size()), 8);
    return groups;
}

std::string FormatHex(std::uint32_t value, int width) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char buffer[8];
    char* first = std::end(buffer);
    do {
        *--first = kDigits[value % 16];
        value /= 16;
    } while (value != 0);
    const int digits = static_cast<int>(std::end(buffer) - first);
    std::string result(static_cast<std::size_t>(std::max(width - digits, 0)), '0');
    result.append(first, std::end(buffer));
    return result;
}

} // namespace kelvara
