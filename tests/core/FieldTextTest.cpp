#include "CommandTypes.h"
#include "FieldText.h"

#include <gtest/gtest.h>

#include <string>

using namespace kelvara;
using namespace std::string_literals;

namespace {

struct TextCase {
    std::string Input;
    std::string Expected;
};

class TrimUpperTest : public testing::TestWithParam<TextCase> {};

TEST_P(TrimUpperTest, TrimsOnlyLowBytesAtTheEndsAndUpperCasesAsciiLetters) {
    EXPECT_EQ(TrimUpper(GetParam().Input), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimUpperTest,
    testing::Values(TextCase{"  ffe1\t", "FFE1"}, TextCase{"ff e1", "FF E1"}, TextCase{"", ""},
                    TextCase{" \t\r\n", ""}, TextCase{"\x01\x1f abc \x7f", "ABC \x7f"},
                    TextCase{"\0\0ffe1\0"s, "FFE1"}, TextCase{"a\0b"s, "A\0B"s},
                    // Bytes of 128 or more are never trimmed nor upper-cased, whatever the sign
                    // of char.
                    TextCase{"\xa0""ffe1\xa0", "\xa0""FFE1\xa0"},
                    TextCase{"\xe9t\xc3\xa9", "\xe9T\xc3\xa9"}, TextCase{"\xff", "\xff"},
                    TextCase{"!az{", "!AZ{"}, TextCase{"0000ffe0-abcd", "0000FFE0-ABCD"}));

TEST(RemoveDashes, DeletesEveryDashAndNothingElse) {
    EXPECT_EQ(RemoveDashes("0000FFE0-0000-1000-8000-00805F9B34FB"),
              "0000FFE000001000800000805F9B34FB");
    EXPECT_EQ(RemoveDashes("--"), "");
    EXPECT_EQ(RemoveDashes("-F-F--E-1-"), "FFE1");
    EXPECT_EQ(RemoveDashes("{FF:E1 }"), "{FF:E1 }");
    EXPECT_EQ(RemoveDashes("\xe2\x80\x93"), "\xe2\x80\x93"); // an en dash is not a dash
}

struct DigitCase {
    std::string Text;
    bool Hex;
    bool Decimal;
};

class DigitTest : public testing::TestWithParam<DigitCase> {};

TEST_P(DigitTest, AcceptsOnlyItsOwnDigits) {
    EXPECT_EQ(AllHexDigits(GetParam().Text), GetParam().Hex);
    EXPECT_EQ(AllDecimalDigits(GetParam().Text), GetParam().Decimal);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DigitTest,
    testing::Values(DigitCase{"", true, true}, DigitCase{"0123456789", true, true},
                    DigitCase{"ABCDEF", true, false}, DigitCase{"FFG1", false, false},
                    DigitCase{"ffe1", false, false}, DigitCase{"1234A", true, false},
                    DigitCase{"12 34", false, false}, DigitCase{"12\x00" "4"s, false, false},
                    DigitCase{"FF\xc6", false, false}, DigitCase{"\xb9\xb2", false, false},
                    DigitCase{"/:@G`", false, false}, DigitCase{"-1", false, false}));

TEST(Values, ReadHexAndDecimalDigits) {
    EXPECT_EQ(HexValue("0000"), 0u);
    EXPECT_EQ(HexValue("FFFF"), 65535u);
    EXPECT_EQ(HexValue("04D2"), 1234u);
    EXPECT_EQ(HexValue("A"), 10u);
    EXPECT_EQ(DecimalValue("00000"), 0u);
    EXPECT_EQ(DecimalValue("01234"), 1234u);
    EXPECT_EQ(DecimalValue("65535"), 65535u);
    EXPECT_EQ(DecimalValue("99999"), 99999u);
    EXPECT_EQ(DecimalValue("7"), 7u);
}

TEST(Values, SixteenBitRangeExcludesZeroAndAboveFFFF) {
    EXPECT_FALSE(IsValid16BitValue(0));
    EXPECT_TRUE(IsValid16BitValue(1));
    EXPECT_TRUE(IsValid16BitValue(65535));
    EXPECT_FALSE(IsValid16BitValue(65536));
}

TEST(SplitUuidGroups, GivesFourGroupsOfEightDigits) {
    const auto groups = SplitUuidGroups("0000FFE000001000800000805F9B34FB");
    EXPECT_EQ(groups[0], "0000FFE0");
    EXPECT_EQ(groups[1], "00001000");
    EXPECT_EQ(groups[2], "80000080");
    EXPECT_EQ(groups[3], "5F9B34FB");
}

TEST(SplitUuidGroups, ShortTextGivesShortGroups) {
    const auto groups = SplitUuidGroups("0123456789");
    EXPECT_EQ(groups[0], "01234567");
    EXPECT_EQ(groups[1], "89");
    EXPECT_EQ(groups[2], "");
    EXPECT_EQ(groups[3], "");
}

TEST(FormatHex, PadsUpperCaseDigitsToWidth) {
    EXPECT_EQ(FormatHex(10123, 4), "278B");
    EXPECT_EQ(FormatHex(4, 2), "04");
    EXPECT_EQ(FormatHex(16, 2), "10");
    EXPECT_EQ(FormatHex(1, 4), "0001");
    EXPECT_EQ(FormatHex(65535, 4), "FFFF");
    EXPECT_EQ(FormatHex(0, 2), "00");
    EXPECT_EQ(FormatHex(0x12345, 4), "12345");
}

} // namespace

namespace {

// The windows find the edit to focus by these names, so they must match the form's names.
TEST(InputFieldName, IsTheEditsObjectName) {
    using enum kelvara::TInputField;
    EXPECT_STREQ(kelvara::InputFieldName(edtCharNotify), "edtCharNotify");
    EXPECT_STREQ(kelvara::InputFieldName(edtCharWrite), "edtCharWrite");
    EXPECT_STREQ(kelvara::InputFieldName(edtiBeaconUUID), "edtiBeaconUUID");
    EXPECT_STREQ(kelvara::InputFieldName(edtiBeaconMajor), "edtiBeaconMajor");
    EXPECT_STREQ(kelvara::InputFieldName(edtiBeaconMinor), "edtiBeaconMinor");
    EXPECT_STREQ(kelvara::InputFieldName(ifNone), "ifNone");
}

} // namespace
