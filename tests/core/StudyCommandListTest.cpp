#include "Messages.h"
#include "StudyCommandList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kelvara;
using namespace std::string_literals;
using Lines = std::vector<std::string>;
using enum TInputField;
using enum TUuidFormat;

namespace {

const Lines kOpening = {
    "         Those AT Command only need be executed once more",
    "         ================================================",
    "AT+RENEW",
    "AT+IMME1",
    "AT+SHOW1 (If you doesnt want to get slave device name, forget this command)",
    "AT+COMP1",
    "AT+NOTI1",
};

const Lines kGuide = {
    "AT+ROLE1",
    " ",
    "  Now you can use those AT Commands to discovery or connect a slave device.",
    "  =========================================================================",
    "AT+DISC? (Start a scan procedure)",
    "OK+DISCS (Module response, Start scan procedure)",
    "OK+DIS<P1><P2><P3> (Module response, Found device)",
    "      <P1>: Device Type",
    "      <P2>: Device MAC Address",
    "      <P3>: Device Name",
    "OK+DISCE (Module response, Scan procedure finished)",
    "AT+CO<P1><P2> (Try to connect a slave device)",
    "     <P1>: Device Type",
    "     <P2>: Device MAC address",
};

Lines WithMiddle(const Lines& middle) {
    Lines lines = kOpening;
    lines.insert(lines.end(), middle.begin(), middle.end());
    lines.insert(lines.end(), kGuide.begin(), kGuide.end());
    return lines;
}

const std::string kUuid = "0000FFE2-0000-1000-8000-00805F9B34FB";
const std::string kDigits = "0000FFE2000010008000008" "05F9B34FB";

// kDigits with the digit at 1-based position `position` replaced.
std::string ChangeDigit(std::string digits, std::size_t position, char replacement = 'A') {
    digits[position - 1] = digits[position - 1] == replacement ? 'B' : replacement;
    return digits;
}

TEST(StudyList, DefaultsGiveTheWhole16BitList) {
    const auto outcome = BuildStudyCommandList(uf16Bit, "FFE1", "FFE1");
    ASSERT_TRUE(outcome.HasLines());
    EXPECT_EQ(outcome.Lines(), WithMiddle({"AT+128B0", "AT+UUID0xFFE1", "AT+CHAR0xFFE1"}));
    EXPECT_EQ(outcome.Lines().size(), 24u);
}

TEST(StudyList, NormalisesCaseSpacesAndDashes) {
    const auto outcome = BuildStudyCommandList(uf16Bit, " fff1\t", "FF-F2");
    ASSERT_TRUE(outcome.HasLines());
    EXPECT_EQ(outcome.Lines(), WithMiddle({"AT+128B0", "AT+UUID0xFFF2", "AT+CHAR0xFFF1"}));
}

TEST(StudyList, Boundary16BitValues) {
    for (const char* uuid : {"0001", "FFFF", "-0-0-0-1-"}) {
        const auto outcome = BuildStudyCommandList(uf16Bit, uuid, uuid);
        EXPECT_TRUE(outcome.HasLines()) << uuid;
    }
}

TEST(StudyList, Whole128BitList) {
    const auto outcome =
        BuildStudyCommandList(uf128Bit, "0000FFE1-0000-1000-8000-00805F9B34FB", kUuid);
    ASSERT_TRUE(outcome.HasLines());
    EXPECT_EQ(outcome.Lines(),
              WithMiddle({"AT+128B1", "AT+IBE00000FFE2", "AT+IBE100001000", "AT+IBE280000080",
                          "AT+IBE35F9B34FB", "AT+CHAR0x04E1"}));
    EXPECT_EQ(outcome.Lines().size(), 27u);
}

struct CharLineCase {
    std::string Notify;
    std::string Write;
    std::string Expected;
};

void PrintTo(const CharLineCase& c, std::ostream* os) { *os << c.Expected; }

class CharacteristicLine128 : public testing::TestWithParam<CharLineCase> {};

TEST_P(CharacteristicLine128, NamesTheDifferingByteAndTheNotifyDigits) {
    const auto outcome = BuildStudyCommandList(uf128Bit, GetParam().Notify, GetParam().Write);
    ASSERT_TRUE(outcome.HasLines()) << outcome.Message();
    ASSERT_EQ(outcome.Lines().size(), 27u);
    EXPECT_EQ(outcome.Lines()[12], GetParam().Expected);
    EXPECT_EQ(outcome.Lines()[8], "AT+IBE0" + GetParam().Write.substr(0, 8));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CharacteristicLine128,
    testing::Values(
        CharLineCase{kDigits, kDigits, "AT+CHAR0x00FF"},
        CharLineCase{kUuid, kDigits, "AT+CHAR0x00FF"},
        // One digit anywhere.
        CharLineCase{ChangeDigit(kDigits, 1), kDigits, "AT+CHAR0x01A0"},
        CharLineCase{ChangeDigit(kDigits, 8), kDigits, "AT+CHAR0x04EA"},
        CharLineCase{ChangeDigit(kDigits, 32), kDigits, "AT+CHAR0x10FA"},
        // Both digits of one byte.
        CharLineCase{ChangeDigit(ChangeDigit(kDigits, 7), 8), kDigits, "AT+CHAR0x04AA"},
        CharLineCase{"1" + kDigits.substr(1), "2" + kDigits.substr(1), "AT+CHAR0x0110"},
        CharLineCase{kDigits.substr(0, 30) + "CD", kDigits, "AT+CHAR0x10CD"}));

struct RejectCase {
    const char* Name;
    TUuidFormat Format;
    std::string Notify;
    std::string Write;
    std::string_view Message;
    TInputField Focus;
};

void PrintTo(const RejectCase& c, std::ostream* os) { *os << c.Name; }

class StudyRejection : public testing::TestWithParam<RejectCase> {};

TEST_P(StudyRejection, GivesTheFirstFailingChecksMessageAndFocus) {
    const auto& c = GetParam();
    const auto outcome = BuildStudyCommandList(c.Format, c.Notify, c.Write);
    ASSERT_TRUE(outcome.IsRejection());
    EXPECT_EQ(outcome.Message(), c.Message);
    EXPECT_EQ(outcome.FocusField(), c.Focus);
}

const std::string kStraddle = ChangeDigit(ChangeDigit(kDigits, 8), 9);

INSTANTIATE_TEST_SUITE_P(
    Checks, StudyRejection,
    testing::Values(
        // 1-2: emptiness comes first, Notify before Write.
        RejectCase{"BothEmpty", uf16Bit, "", "", messages::kFillInAllFields, edtCharNotify},
        RejectCase{"NotifyOnlySpaces", uf16Bit, "  \t", "zz", messages::kFillInAllFields,
                   edtCharNotify},
        RejectCase{"NotifyOnlyNuls", uf128Bit, "\0\0"s, "FFE1", messages::kFillInAllFields,
                   edtCharNotify},
        RejectCase{"WriteEmpty", uf16Bit, "FFE1", "\r\n", messages::kFillInAllFields,
                   edtCharWrite},
        RejectCase{"WriteEmptyBeatsBadNotify", uf16Bit, "XYZ", "", messages::kFillInAllFields,
                   edtCharWrite},
        // 3-4: characters, Notify before Write, before any length.
        RejectCase{"NotifyBadCharacter", uf16Bit, "FFG1", "FFE1", messages::kNotify,
                   edtCharNotify},
        RejectCase{"NotifyInnerSpace", uf16Bit, "ff e1", "FFE1", messages::kNotify,
                   edtCharNotify},
        RejectCase{"NotifyBadCharBeatsWriteLength", uf16Bit, "FFX1", "FFE", messages::kNotify,
                   edtCharNotify},
        RejectCase{"NotifyHighByte", uf16Bit, "FFE\xb9", "FFE1", messages::kNotify,
                   edtCharNotify},
        RejectCase{"NotifyBraces", uf128Bit, "{" + kUuid + "}", kUuid, messages::kNotify,
                   edtCharNotify},
        RejectCase{"WriteBadCharBeatsNotifyLength", uf16Bit, "FFE", "FF\xc3\xa9" "1",
                   messages::kWrite, edtCharWrite},
        RejectCase{"WriteInnerNul", uf16Bit, "FFE1", "FF\0E1"s, messages::kWrite, edtCharWrite},
        // 5-6 in 16-bit form: four digits, not zero.
        RejectCase{"NotifyZero", uf16Bit, "0000", "FFE1", messages::kNotify, edtCharNotify},
        RejectCase{"NotifyThreeDigits", uf16Bit, "FFE", "FFE1", messages::kNotify,
                   edtCharNotify},
        RejectCase{"NotifyFiveDigits", uf16Bit, "FFE12", "FFE1", messages::kNotify,
                   edtCharNotify},
        RejectCase{"NotifySingleDash", uf16Bit, "-", "FFE1", messages::kNotify, edtCharNotify},
        RejectCase{"Notify128BitIn16BitForm", uf16Bit, kUuid, "FFE1", messages::kNotify,
                   edtCharNotify},
        RejectCase{"NotifyLengthBeatsWriteLength", uf16Bit, "FFE", "FFE", messages::kNotify,
                   edtCharNotify},
        RejectCase{"WriteZero", uf16Bit, "FFE1", "0-000", messages::kWrite, edtCharWrite},
        RejectCase{"WriteFiveDigits", uf16Bit, "FFE1", "10000", messages::kWrite, edtCharWrite},
        // 5-6 in 128-bit form: 32 digits.
        RejectCase{"Notify16BitIn128BitForm", uf128Bit, "FFE1", "FFE1", messages::kNotify,
                   edtCharNotify},
        RejectCase{"Notify31Digits", uf128Bit, kDigits.substr(1), kDigits, messages::kNotify,
                   edtCharNotify},
        RejectCase{"Notify33Digits", uf128Bit, kDigits + "0", kDigits, messages::kNotify,
                   edtCharNotify},
        RejectCase{"Write31Digits", uf128Bit, kDigits, kDigits.substr(0, 31), messages::kWrite,
                   edtCharWrite},
        RejectCase{"WriteLengthBeatsDifference", uf128Bit, ChangeDigit(kDigits, 1, '9'),
                   "F" + kDigits, messages::kWrite, edtCharWrite},
        // 7: more than one byte differs; focus stays where it is.
        RejectCase{"StraddlesByteBoundary", uf128Bit, kStraddle, kDigits, messages::kDifference,
                   ifNone},
        RejectCase{"TwoApart", uf128Bit, ChangeDigit(ChangeDigit(kDigits, 3), 8), kDigits,
                   messages::kDifference, ifNone},
        RejectCase{"ThreeNeighbours", uf128Bit, ChangeDigit(ChangeDigit(kStraddle, 7), 8),
                   kDigits, messages::kDifference, ifNone},
        RejectCase{"FirstAndLast", uf128Bit, ChangeDigit(ChangeDigit(kDigits, 1), 32), kDigits,
                   messages::kDifference, ifNone},
        RejectCase{"LastTwoBytes", uf128Bit, ChangeDigit(ChangeDigit(kDigits, 30), 31), kDigits,
                   messages::kDifference, ifNone}),
    [](const testing::TestParamInfo<RejectCase>& info) { return info.param.Name; });

struct DifferenceCase {
    std::string Notify;
    TDifference Expected;
    bool Accepted;
};

void PrintTo(const DifferenceCase& c, std::ostream* os) {
    *os << "count " << c.Expected.Count << ", first " << c.Expected.First;
}

class DifferingByte : public testing::TestWithParam<DifferenceCase> {};

TEST_P(DifferingByte, CountsAndLocatesTheDifference) {
    const auto difference = FindDifferingByte(GetParam().Notify, kDigits);
    EXPECT_EQ(difference, GetParam().Expected);
    EXPECT_EQ(WithinOneByte(difference), GetParam().Accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DifferingByte,
    testing::Values(
        DifferenceCase{kDigits, {0, 0}, true},
        DifferenceCase{ChangeDigit(kDigits, 1), {1, 1}, true},
        DifferenceCase{ChangeDigit(kDigits, 8), {1, 8}, true},
        DifferenceCase{ChangeDigit(kDigits, 32), {1, 32}, true},
        DifferenceCase{ChangeDigit(ChangeDigit(kDigits, 7), 8), {2, 7}, true},
        DifferenceCase{ChangeDigit(ChangeDigit(kDigits, 31), 32), {2, 31}, true},
        DifferenceCase{kStraddle, {2, 8}, false},
        DifferenceCase{ChangeDigit(ChangeDigit(kDigits, 3), 8), {2, 33}, false},
        DifferenceCase{ChangeDigit(ChangeDigit(kStraddle, 7), 8), {3, 33}, false},
        DifferenceCase{ChangeDigit(ChangeDigit(ChangeDigit(kDigits, 5), 6), 7), {3, 33}, false}));

TEST(DifferingByte, ShorterTextsAreComparedOnlyAsFarAsBothGo) {
    EXPECT_EQ(FindDifferingByte("", kDigits), (TDifference{0, 0}));
    EXPECT_EQ(FindDifferingByte("A", "B"), (TDifference{1, 1}));
}

TEST(StudyList, HugeAndStrangeTextsAreRejectedNotCrashed) {
    const std::string huge(1 << 20, 'F');
    EXPECT_EQ(BuildStudyCommandList(uf16Bit, huge, "FFE1").Message(), messages::kNotify);
    EXPECT_EQ(BuildStudyCommandList(uf128Bit, kDigits, huge).Message(), messages::kWrite);
    const std::string allBytes = [] {
        std::string s;
        for (int b = 0; b < 256; ++b)
            s += static_cast<char>(b);
        return s;
    }();
    EXPECT_EQ(BuildStudyCommandList(uf16Bit, allBytes, allBytes).Message(), messages::kNotify);
}

} // namespace
