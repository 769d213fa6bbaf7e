#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvara {

// Returns the text without leading and trailing bytes of value 32 or less, with a-z upper-cased.
// Inner bytes and bytes of 128 or more are kept as they are.
std::string TrimUpper(std::string_view text);

// Returns the text with every '-' deleted; no other separator is touched.
std::string RemoveDashes(std::string text);

// True when every byte is one of 0-9 or A-F (upper case only); true for an empty text.
bool AllHexDigits(std::string_view text);

// True when every byte is one of 0-9; true for an empty text.
bool AllDecimalDigits(std::string_view text);

// Returns the base-16 value of 1 to 4 upper-case hexadecimal digits.
// Callers pass only texts that passed AllHexDigits; at most the first 4 digits are read.
std::uint32_t HexValue(std::string_view digits);

// Returns the base-10 value of 1 to 5 decimal digits, leading zeros allowed.
// Callers pass only texts that passed AllDecimalDigits; at most the first 5 digits are read.
std::uint32_t DecimalValue(std::string_view digits);

// True for 1 to 65535, the range of every Major, Minor and 16-bit UUID; zero is never valid.
constexpr bool IsValid16BitValue(std::uint32_t value) { return value >= 1 && value <= 0xFFFF; }

// Returns the four 8-digit groups of a 32-digit UUID: digits 1-8, 9-16, 17-24, 25-32, as views
// into the text. A shorter text gives shorter (possibly empty) groups instead of reading past
// its end.
std::array<std::string_view, 4> SplitUuidGroups(std::string_view digits);

// Returns value in upper-case hexadecimal, zero-padded on the left to at least width digits.
std::string FormatHex(std::uint32_t value, int width);

} // namespace kelvara
