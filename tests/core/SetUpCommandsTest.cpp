#include "BeaconCommandList.h"
#include "SetUpCommands.h"
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
    EXPECT_EQ(SetUpCommands(BuildStudyCommandList(TUuidFormat::uf16Bit, "FFE1", "FFE1").Lines()),
              study16);

    const Lines study128 = {"AT+RENEW",        "AT+IMME1",        "AT+SHOW1",
                            "AT+COMP1",        "AT+NOTI1",        "AT+128B1",
                            "AT+IBE00000FFE2", "AT+IBE100001000", "AT+IBE280000080",
                            "AT+IBE35F9B34FB", "AT+CHAR0x04E1",   "AT+ROLE1"};
    EXPECT_EQ(SetUpCommands(BuildStudyCommandList(TUuidFormat::uf128Bit,
                                                  "0000FFE1-0000-1000-8000-00805F9B34FB",
                                                  "0000FFE2-0000-1000-8000-00805F9B34FB")
                                .Lines()),
              study128);

    const Lines beacon = {"AT+RENEW",        "AT+IBEA1",        "AT+IBE00000FFF0",
                          "AT+IBE100001000", "AT+IBE280000080", "AT+IBE35F9B34FB",
                          "AT+MARJ0x278B",   "AT+MINO0x278D"};
    EXPECT_EQ(SetUpCommands(
                  BuildBeaconCommandList("0000FFF0-0000-1000-8000-00805F9B34FB", "10123", "10125")
                      .Lines()),
              beacon);
}

TEST(SetUpCommands, OddLinesAreSafe) {
    EXPECT_EQ(SetUpCommands({}), Lines{});
    EXPECT_EQ(SetUpCommands({"", "AT+", "AT+X   (why)", "AT", "at+low", " ", "AT+AFTER"}),
              (Lines{"AT+", "AT+X"}));
}

} // namespace
