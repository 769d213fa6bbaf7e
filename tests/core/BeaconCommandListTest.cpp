#include "BeaconCommandList.h"
#include "Messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kelvara;
using namespace std::string_literals;
using Lines = std::vector<std::string>;
using enum TInputField;

namespace {

const std::string kUuid = "0000FFF0-0000-1000-8000-00805F9B34FB";

TEST(BeaconList, DefaultsGiveTheWhole17LineList) {
    const auto outcome = BuildBeaconCommandList(kUuid, "10123", "10125");
    ASSERT_TRUE(outcome.HasLines());
    const Lines expected = {
        "         Those AT Command only need be executed once more",
        "         ================================================",
        "AT+RENEW",
        "",
        "AT+IBEA1",
        "",
        "AT+IBE00000FFF0",
        "",
        "AT+IBE100001000",
        "",
        "AT+IBE280000080",
        "",
        "AT+IBE35F9B34FB",
        "",
        "AT+MARJ0x278B",
        "",
        "AT+MINO0x278D",
    };
    EXPECT_EQ(outcome.Lines(), expected);
}

TEST(BeaconList, UuidWithoutDashesOrWithManyGivesTheSameList) {
    const auto dashed = BuildBeaconCommandList(kUuid, "10123", "10125");
    for (const char* uuid : {"0000fff000001000800000805f9b34fb", "-0000-FFF0----0000-1000-8000-00805F9B34FB-",
                             "\t0000FFF0-0000-1000-8000-00805F9B34FB  "}) {
        const auto outcome = BuildBeaconCommandList(uuid, "10123", "10125");
        ASSERT_TRUE(outcome.HasLines()) << uuid;
        EXPECT_EQ(outcome.Lines(), dashed.Lines()) << uuid;
    }
}

struct ValueCase {
    std::string Typed;
    std::string Text;
};

class BeaconValue : public testing::TestWithParam<ValueCase> {};

TEST_P(BeaconValue, MajorAndMinorTakeTheirModeFromTheirLength) {
    const auto major = BuildBeaconCommandList(kUuid, GetParam().Typed, "0001");
    ASSERT_TRUE(major.HasLines()) << major.Message();
    EXPECT_EQ(major.Lines()[14], "AT+MARJ0x" + GetParam().Text);
    EXPECT_EQ(major.Lines()[16], "AT+MINO0x0001");

    const auto minor = BuildBeaconCommandList(kUuid, "0001", GetParam().Typed);
    ASSERT_TRUE(minor.HasLines()) << minor.Message();
    EXPECT_EQ(minor.Lines()[14], "AT+MARJ0x0001");
    EXPECT_EQ(minor.Lines()[16], "AT+MINO0x" + GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(Cases, BeaconValue,
                         testing::Values(ValueCase{"04d2", "04D2"}, ValueCase{"1234", "1234"},
                                         ValueCase{"01234", "04D2"}, ValueCase{"65535", "FFFF"},
                                         ValueCase{"FFFF", "FFFF"}, ValueCase{"0001", "0001"},
                                         ValueCase{"00001", "0001"}, ValueCase{"10125", "278D"},
                                         ValueCase{" abcd\n", "ABCD"}, ValueCase{"00016", "0010"}));

struct RejectCase {
    const char* Name;
    std::string Uuid;
    std::string Major;
    std::string Minor;
    std::string_view Message;
    TInputField Focus;
};

void PrintTo(const RejectCase& c, std::ostream* os) { *os << c.Name; }
void PrintTo(const ValueCase& c, std::ostream* os) { *os << '"' << c.Typed << '"'; }

class BeaconRejection : public testing::TestWithParam<RejectCase> {};

TEST_P(BeaconRejection, GivesTheFirstFailingChecksMessageAndFocus) {
    const auto& c = GetParam();
    const auto outcome = BuildBeaconCommandList(c.Uuid, c.Major, c.Minor);
    ASSERT_TRUE(outcome.IsRejection());
    EXPECT_EQ(outcome.Message(), c.Message);
    EXPECT_EQ(outcome.FocusField(), c.Focus);
}

const std::string k31 = "0000FFF000001000800000805F9B34F";

INSTANTIATE_TEST_SUITE_P(
    Checks, BeaconRejection,
    testing::Values(
        // 1-3: emptiness, in field order.
        RejectCase{"AllEmpty", "", "", "", messages::kFillInAllFields, edtiBeaconUUID},
        RejectCase{"UuidBlank", " \t", "x", "y", messages::kFillInAllFields, edtiBeaconUUID},
        RejectCase{"MajorEmpty", "zz", "", "", messages::kFillInAllFields, edtiBeaconMajor},
        RejectCase{"MinorEmpty", "zz", "x", "\n", messages::kFillInAllFields, edtiBeaconMinor},
        // 4: UUID characters, before everything else.
        RejectCase{"UuidInBraces", "{" + kUuid + "}", "10123", "10125", messages::kBeaconUuid,
                   edtiBeaconUUID},
        RejectCase{"UuidInnerSpace", "0000FFF0 0000-1000-8000-00805F9B34FB", "10123", "10125",
                   messages::kBeaconUuid, edtiBeaconUUID},
        RejectCase{"UuidHighByte", "0000FFF0\xa0" "0000", "x", "y", messages::kBeaconUuid,
                   edtiBeaconUUID},
        RejectCase{"OnlyDashesIsABadLength", "--", "10123", "10125",
                   messages::kBeaconUuidLength, edtiBeaconUUID},
        // 5-6: Major and Minor characters, before the UUID length.
        RejectCase{"MajorDecimalModeLetters", kUuid, "12AB5", "10125", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"MajorHexModeBadLetter", k31, "12G4", "1", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"MajorThreeHexLetters", kUuid, "ABC", "10125", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"MajorDash", kUuid, "-1234", "10125", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"MajorHighByte", kUuid, "1\xb2\xb3", "10125", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"MajorCharBeatsMinorChar", kUuid, "X", "Y", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"MinorDecimalModeLetters", kUuid, "10123", "12AB5", messages::kBeaconMinor,
                   edtiBeaconMinor},
        RejectCase{"MinorCharBeatsUuidLength", k31, "10123", "1 25", messages::kBeaconMinor,
                   edtiBeaconMinor},
        RejectCase{"MinorCharBeatsMajorLength", kUuid, "123", "12X45", messages::kBeaconMinor,
                   edtiBeaconMinor},
        // 7: UUID length, before Major and Minor lengths.
        RejectCase{"Uuid31Digits", k31, "10123", "10125", messages::kBeaconUuidLength,
                   edtiBeaconUUID},
        RejectCase{"Uuid33Digits", kUuid + "0", "10123", "10125", messages::kBeaconUuidLength,
                   edtiBeaconUUID},
        RejectCase{"UuidLengthBeatsMajorLength", k31, "123", "10125",
                   messages::kBeaconUuidLength, edtiBeaconUUID},
        // 8-9: Major and Minor lengths.
        RejectCase{"MajorThreeDigits", kUuid, "123", "10125", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"MajorSixDigits", kUuid, "012345", "10125", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"MajorLengthBeatsMinorLength", kUuid, "1", "1", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"MinorThreeDigits", kUuid, "10123", "125", messages::kBeaconMinor,
                   edtiBeaconMinor},
        RejectCase{"MinorLengthBeatsMajorValue", kUuid, "0000", "123", messages::kBeaconMinor,
                   edtiBeaconMinor},
        // 10-11: values 1 to 65535.
        RejectCase{"MajorHexZero", kUuid, "0000", "10125", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"MajorDecimalZero", kUuid, "00000", "10125", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"Major65536", kUuid, "65536", "10125", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"Major99999", kUuid, "99999", "00000", messages::kBeaconMajor,
                   edtiBeaconMajor},
        RejectCase{"MinorHexZero", kUuid, "10123", "0000", messages::kBeaconMinor,
                   edtiBeaconMinor},
        RejectCase{"MinorDecimalZero", kUuid, "10123", "00000", messages::kBeaconMinor,
                   edtiBeaconMinor},
        RejectCase{"Minor65536", kUuid, "10123", "65536", messages::kBeaconMinor,
                   edtiBeaconMinor}),
    [](const testing::TestParamInfo<RejectCase>& info) { return info.param.Name; });

TEST(BeaconList, HugeAndStrangeTextsAreRejectedNotCrashed) {
    const std::string huge(1 << 20, '1');
    EXPECT_EQ(BuildBeaconCommandList(huge, "10123", "10125").Message(),
              messages::kBeaconUuidLength);
    EXPECT_EQ(BuildBeaconCommandList(kUuid, huge, "10125").Message(), messages::kBeaconMajor);
    EXPECT_EQ(BuildBeaconCommandList(kUuid, "10123", "1\0" "234"s).Message(),
              messages::kBeaconMinor);
}

} // namespace
