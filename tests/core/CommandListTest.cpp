#include "BeaconCommandList.h"
#include "Batch.h"
#include "CommandFile.h"
#include "ListSource.h"
#include "StudyCommandList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kelvara;
using Lines = std::vector<std::string>;

namespace {

TEST(SetUpCommands, EachListGivesItsSetUpCommandsAndNothingElse) {
    const Lines study16 = {"AT+RENEW", "AT+IMME1",      "AT+SHOW1",      "AT+COMP1", "AT+NOTI1",
                           "AT+128B0", "AT+UUID0xFFE1", "AT+CHAR0xFFE1", "AT+ROLE1"};
    EXPECT_EQ(SetUpCommands(BuildStudyCommandList(TUuidFormat::uf16Bit, "FFE1", "FFE1").List()),
              study16);

    const Lines study128 = {"AT+RENEW",        "AT+IMME1",        "AT+SHOW1",
                            "AT+COMP1",        "AT+NOTI1",        "AT+128B1",
                            "AT+IBE00000FFE2", "AT+IBE100001000", "AT+IBE280000080",
                            "AT+IBE35F9B34FB", "AT+CHAR0x04E1",   "AT+ROLE1"};
    EXPECT_EQ(SetUpCommands(BuildStudyCommandList(TUuidFormat::uf128Bit,
                                                  "0000FFE1-0000-1000-8000-00805F9B34FB",
                                                  "0000FFE2-0000-1000-8000-00805F9B34FB")
                                .List()),
              study128);

    const Lines beacon = {"AT+RENEW",        "AT+IBEA1",        "AT+IBE00000FFF0",
                          "AT+IBE100001000", "AT+IBE280000080", "AT+IBE35F9B34FB",
                          "AT+MARJ0x278B",   "AT+MINO0x278D"};
    EXPECT_EQ(SetUpCommands(
                  BuildBeaconCommandList("0000FFF0-0000-1000-8000-00805F9B34FB", "10123", "10125")
                      .List()),
              beacon);
}

TEST(SetUpCommands, EntriesKnowTheirCommandsNotesAndGuide) {
    const TCommandList list = BuildStudyCommandList(TUuidFormat::uf16Bit, "FFE1", "FFE1").List();
    EXPECT_EQ(list[4].Command(), "AT+SHOW1");
    EXPECT_EQ(list[4].Note(), "(If you doesnt want to get slave device name, forget this command)");
    EXPECT_EQ(GuideCommands(list), (Lines{"AT+DISC?", "AT+CO<P1><P2>"}));
    // A text line that looks like a command is never one.
    EXPECT_EQ(SetUpCommands({TListEntry::Text("AT+ROLE1"), TListEntry::Text(" ")}), Lines{});
}

struct FileCase {
    const char* Name;
    std::string Text;
    std::variant<Lines, TCommandFileError> Expected;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.Name; }

class CommandFile : public testing::TestWithParam<FileCase> {};

TEST_P(CommandFile, IsReadOrRefusedWithItsLine) {
    EXPECT_EQ(ReadCommandFile(GetParam().Text), GetParam().Expected);
}

const std::string k256(256, 'A');

INSTANTIATE_TEST_SUITE_P(
    Files, CommandFile,
    testing::Values(
        FileCase{"LfCrLfBlanksAndComments",
                 "# set-up\nAT+RENEW\r\n\t AT+ROLE1  \r\n\n   \n#AT+NO\nAT+X\xc3\xa9",
                 Lines{"AT+RENEW", "AT+ROLE1", "AT+X\xc3\xa9"}},
        FileCase{"Longest", k256 + "\n", Lines{k256}},
        FileCase{"TooLong", "AT\n" + k256 + "A\n", TCommandFileError{2, "is longer than 256 bytes"}},
        FileCase{"ControlByte", "AT\n\nAT+\x1b[2J\n", TCommandFileError{3, "holds a control byte"}},
        FileCase{"InnerCr", "AT\rAT\n", TCommandFileError{1, "holds a control byte"}},
        FileCase{"Nul", std::string("AT\0X", 4), TCommandFileError{1, "holds a control byte"}},
        FileCase{"Empty", "", TCommandFileError{0, "holds no command"}},
        FileCase{"OnlyComments", "# a\r\n\n", TCommandFileError{0, "holds no command"}},
        // As editors and shells write them: a mark that names the encoding.
        FileCase{"Utf8WithMark", "\xEF\xBB\xBF" "AT+RENEW\r\nAT+ROLE1\r\n", Lines{"AT+RENEW", "AT+ROLE1"}},
        FileCase{"Utf16LittleEndianWithMarkAndCrLf",
                 std::string("\xFF\xFE" "A\0T\0+\0R\0\xE9\0\r\0\n\0#\0\x3D\xD8\x00\xDE\r\0\n\0", 26),
                 Lines{"AT+R\xC3\xA9"}},
        FileCase{"Utf16BigEndianWithMark",
                 std::string("\xFE\xFF\0A\0T\0\n\x20\xAC\0\n\xD8\x3D\xDE\x00", 16),
                 Lines{"AT", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}},
        FileCase{"Utf16OddLength", std::string("\xFF\xFE" "A\0T", 5), TCommandFileError{0, "is not valid UTF-16"}},
        FileCase{"Utf16LoneLowSurrogate", std::string("\xFF\xFE\x00\xDC", 4),
                 TCommandFileError{0, "is not valid UTF-16"}},
        FileCase{"Utf16HighSurrogateWithoutItsPair", std::string("\xFF\xFE\x3D\xD8" "A\0", 6),
                 TCommandFileError{0, "is not valid UTF-16"}},
        FileCase{"Utf16ControlByteStillRefused", std::string("\xFF\xFE" "A\0\x1b\0", 6),
                 TCommandFileError{1, "holds a control byte"}},
        FileCase{"Huge", std::string(kMaxCommandFileBytes + 1, '\n'),
                 TCommandFileError{0, "is larger than 1 MiB"}}),
    [](const auto& info) { return info.param.Name; });

TEST(Batch, ValuesCountOnInTheFormTheyWereTyped) {
    EXPECT_EQ(CountedValue("04d2", 1), "04D3");
    EXPECT_EQ(CountedValue("00009", 1), "00010");
    EXPECT_EQ(CountedValue("FFFE", 1), "FFFF");
    EXPECT_EQ(CountedValue(" 65534\t", 1), "65535");
    for (const char* past : {"FFFF", "65535"})
        EXPECT_EQ(CountedValue(past, 1), std::nullopt) << past;
    for (const char* notAValue : {"123", "12AB5", "", "FFFFF", "\xff\xfe" "12"})
        EXPECT_EQ(CountedValue(notAValue, 0), std::nullopt) << notAValue;
    EXPECT_EQ(CountedValue("0001", 70000), std::nullopt);
    EXPECT_EQ(ValueLike("0001", 65535), "FFFF");
    EXPECT_EQ(ValueLike("00001", 65536), std::nullopt);
    EXPECT_EQ(ValueOf("0000"), 0u); // a value the list's own check then refuses
}

TEST(Batch, RecordRowsGoToTextAndComeBackWhole) {
    const TRecordRow row = {"2026-12-09T10:00:00.000Z", "/dev/tty,1", "ibeacon", "", "", "",
                            "0000FFF0", "say \"hi\"", "x\r\ny", "failed", "AT+X", "ERROR\\x0d"};
    EXPECT_EQ(RecordLine(row), "2026-12-09T10:00:00.000Z,\"/dev/tty,1\",ibeacon,,,,0000FFF0,"
                               "\"say \"\"hi\"\"\",\"x\r\ny\",failed,AT+X,ERROR\\x0d\r\n");
    const std::string text = RecordHeader() + RecordLine(row) + RecordLine(row);
    const auto parsed = ParseRecord(text);
    ASSERT_TRUE(std::holds_alternative<std::vector<TRecordRow>>(parsed));
    EXPECT_EQ(std::get<std::vector<TRecordRow>>(parsed), (std::vector<TRecordRow>{row, row}));
    // LF alone ends a line as well as CR LF.
    EXPECT_EQ(std::get<std::vector<TRecordRow>>(ParseRecord(RecordHeader().substr(0, RecordHeader().size() - 2) + "\n")).size(), 0u);

    const auto refused = [](const std::string& text) {
        const auto parsed = ParseRecord(text);
        const auto* error = std::get_if<TRecordError>(&parsed);
        return error ? std::to_string(error->Line) + ": " + error->Reason : std::string("read");
    };
    EXPECT_EQ(refused("not,a,record\r\n"),
              "1: is not a Kelvara record: its first line is not " +
                  RecordHeader().substr(0, RecordHeader().size() - 2));
    EXPECT_EQ(refused(""), refused("not,a,record\r\n"));
    EXPECT_EQ(refused(RecordHeader() + "a,b,c\r\n"), "2: has a row of 3 cells, not 12");
    EXPECT_EQ(refused(RecordHeader() + "\"open"), "2: has a quote that is never closed");
    EXPECT_EQ(RecordColumn("minor"), 8u);
    EXPECT_EQ(RecordColumn("nothing"), kRecordColumns.size());
}

TEST(ListSource, MakesTheListAsTheGeneratorsDoWhateverTheFront) {
    using kelvara::TListKind;
    const auto lines = [](const kelvara::TListSource& source) {
        const TCommandListOutcome outcome = kelvara::BuildList(source);
        return outcome.IsRejection() ? std::vector<std::string>{outcome.Message()} : outcome.Lines();
    };
    EXPECT_EQ(lines(kelvara::DefaultSource(TListKind::Study)),
              BuildStudyCommandList(TUuidFormat::uf16Bit, "FFE1", "FFE1").Lines());
    EXPECT_EQ(lines(kelvara::DefaultSource(TListKind::Beacon)),
              BuildBeaconCommandList("0000FFF0-0000-1000-8000-00805F9B34FB", "10123", "10125").Lines());
    EXPECT_EQ(lines({TListKind::Study, {{"format", "128"}, {"notify", "0000FFE1-0000-1000-8000-00805F9B34FB"},
                                        {"write", "0000FFE2-0000-1000-8000-00805F9B34FB"}}}),
              BuildStudyCommandList(TUuidFormat::uf128Bit, "0000FFE1-0000-1000-8000-00805F9B34FB",
                                    "0000FFE2-0000-1000-8000-00805F9B34FB").Lines());
    // A field missing is an empty one, checked as such.
    EXPECT_EQ(lines({TListKind::Beacon, {}}),
              std::vector<std::string>{BuildBeaconCommandList("", "", "").Message()});
    EXPECT_EQ(kelvara::ListName(TListKind::Study), "study");
    EXPECT_EQ(kelvara::ListName(TListKind::Beacon), "ibeacon");
    EXPECT_EQ(kelvara::UuidFormatFromName("16"), TUuidFormat::uf16Bit);
    EXPECT_EQ(kelvara::UuidFormatFromName("32"), std::nullopt);
    EXPECT_EQ(kelvara::UuidFormatName(TUuidFormat::uf128Bit), "128");
}

} // namespace
