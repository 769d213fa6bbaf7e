// Fuzzes the iBeacon list: input is UUID|MAJOR|MINOR.
#include "BeaconCommandList.h"
#include "FuzzSupport.h"

using namespace kelvara;
using namespace kelvara::fuzz;

namespace {

// The 4 digits a Major or Minor value must show: as typed in hexadecimal mode, converted in
// decimal mode; the value must be 1 to 65535.
void CheckValue(const std::string& line, std::string_view command, const std::string& typed) {
    const std::string value = TrimUpper(typed);
    Check(line.size() == command.size() + 4 && line.starts_with(command), "value line shape");
    const std::string digits = line.substr(command.size());
    Check(AllHexDigits(digits) && HexValue(digits) != 0, "value is 0001 to FFFF");
    if (value.size() == 4)
        Check(digits == value, "hexadecimal mode shows the value as typed");
    else
        Check(value.size() == 5 && AllDecimalDigits(value) && DecimalValue(value) == HexValue(digits),
              "decimal mode shows the value converted");
}

void CheckLines(const std::vector<std::string>& lines, const std::string& uuid,
                const std::string& major, const std::string& minor) {
    static const auto fixed =
        BuildBeaconCommandList("0000FFF0-0000-1000-8000-00805F9B34FB", "10123", "10125").Lines();
    Check(lines.size() == 17, "iBeacon list has 17 lines");
    for (std::size_t i : {0, 1, 2, 3, 4, 5, 7, 9, 11, 13, 15})
        Check(lines[i] == fixed[i], "iBeacon list's fixed lines");
    Check(uuid.size() == 32 && AllHexDigits(uuid), "UUID has 32 digits");
    Check(lines[6] + lines[8] + lines[10] + lines[12] ==
              "AT+IBE0" + uuid.substr(0, 8) + "AT+IBE1" + uuid.substr(8, 8) + "AT+IBE2" +
                  uuid.substr(16, 8) + "AT+IBE3" + uuid.substr(24, 8),
          "AT+IBE lines carry the UUID");
    CheckValue(lines[14], "AT+MARJ0x", major);
    CheckValue(lines[16], "AT+MINO0x", minor);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = SplitFields(data, size, 3);
    const std::string& uuid = fields[0];
    const std::string& major = fields[1];
    const std::string& minor = fields[2];
    const auto outcome = BuildBeaconCommandList(uuid, major, minor);

    Check(outcome.IsRejection() != outcome.HasLines(), "exactly one of lines or rejection");
    if (outcome.IsRejection()) {
        const auto& rejection = outcome.Rejection();
        Check(IsFixedMessage(rejection.Message), "message is a fixed text");
        Check(rejection.FocusField == TInputField::edtiBeaconUUID ||
                  rejection.FocusField == TInputField::edtiBeaconMajor ||
                  rejection.FocusField == TInputField::edtiBeaconMinor,
              "focus on the iBeacon page, never ifNone");
        Check(rejection.Message != messages::kDifference && rejection.Message != messages::kNotify &&
                  rejection.Message != messages::kWrite,
              "only the iBeacon page's messages");
    } else {
        CheckLines(outcome.Lines(), NormalisedUuid(uuid), major, minor);
    }

    const std::size_t seed = Seed(data, size);
    Check(SameOutcome(outcome,
                      BuildBeaconCommandList(UpperCased(uuid), UpperCased(major), UpperCased(minor))),
          "upper-casing changes nothing");
    Check(SameOutcome(outcome, BuildBeaconCommandList(Padded(uuid, seed), Padded(major, seed / 3),
                                                      Padded(minor, seed / 13))),
          "low bytes at the ends change nothing");
    Check(SameOutcome(outcome, BuildBeaconCommandList(WithDashes(uuid, seed), major, minor)),
          "dashes in the UUID change nothing");
    return 0;
}
