// Fuzzes the study list: input is FORMAT|NOTIFY|WRITE, FORMAT's first byte choosing 16-bit (even)
// or 128-bit (odd).
#include "FuzzSupport.h"
#include "StudyCommandList.h"

using namespace kelvara;
using namespace kelvara::fuzz;

namespace {

const std::vector<std::string>& DefaultLines() {
    static const auto lines = BuildStudyCommandList(TUuidFormat::uf16Bit, "FFE1", "FFE1").Lines();
    return lines;
}

void CheckLines(TUuidFormat format, const std::vector<std::string>& lines,
                const std::string& notify, const std::string& write) {
    const auto& fixed = DefaultLines();
    if (format == TUuidFormat::uf16Bit) {
        Check(lines.size() == 24, "16-bit list has 24 lines");
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (i != 8 && i != 9)
                Check(lines[i] == fixed[i], "16-bit list's fixed lines");
        Check(lines[8] == "AT+UUID0x" + write, "AT+UUID0x carries the normalised Write UUID");
        Check(lines[9] == "AT+CHAR0x" + notify, "AT+CHAR0x carries the normalised Notify UUID");
        Check(write.size() == 4 && notify.size() == 4, "16-bit UUIDs have 4 digits");
        Check(AllHexDigits(write) && AllHexDigits(notify), "16-bit UUIDs are hexadecimal");
        Check(HexValue(write) != 0 && HexValue(notify) != 0, "16-bit UUIDs are not zero");
        return;
    }
    Check(lines.size() == 27, "128-bit list has 27 lines");
    for (std::size_t i = 0; i < 7; ++i)
        Check(lines[i] == fixed[i], "128-bit list's opening lines");
    for (std::size_t i = 13; i < 27; ++i)
        Check(lines[i] == fixed[i - 3], "128-bit list's closing guide");
    Check(lines[7] == "AT+128B1", "AT+128B1");
    Check(write.size() == 32 && AllHexDigits(write), "128-bit Write UUID has 32 digits");
    Check(lines[8] + lines[9] + lines[10] + lines[11] ==
              "AT+IBE0" + write.substr(0, 8) + "AT+IBE1" + write.substr(8, 8) + "AT+IBE2" +
                  write.substr(16, 8) + "AT+IBE3" + write.substr(24, 8),
          "AT+IBE lines carry the Write UUID");
    // Rebuild the Notify UUID from the Write UUID and the line naming the differing byte.
    const std::string& line = lines[12];
    Check(line.size() == 13 && line.starts_with("AT+CHAR0x"), "AT+CHAR0x line shape");
    if (line == "AT+CHAR0x00FF") {
        Check(notify == write, "00FF only for identical UUIDs");
        return;
    }
    const std::uint32_t byte = HexValue(line.substr(9, 2));
    Check(byte >= 1 && byte <= 16, "byte position 1 to 16");
    std::string rebuilt = write;
    rebuilt.replace(2 * (byte - 1), 2, line.substr(11, 2));
    Check(rebuilt == notify, "Notify differs from Write only in the named byte");
}

TCommandListOutcome Build(TUuidFormat format, const std::string& notify, const std::string& write) {
    return BuildStudyCommandList(format, notify, write);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = SplitFields(data, size, 3);
    const TUuidFormat format = !fields[0].empty() && (fields[0][0] & 1) ? TUuidFormat::uf128Bit
                                                                         : TUuidFormat::uf16Bit;
    const std::string& notify = fields[1];
    const std::string& write = fields[2];
    const auto outcome = Build(format, notify, write);

    Check(outcome.IsRejection() != outcome.HasLines(), "exactly one of lines or rejection");
    if (outcome.IsRejection()) {
        const auto& rejection = outcome.Rejection();
        Check(IsFixedMessage(rejection.Message), "message is a fixed text");
        const bool difference = rejection.Message == messages::kDifference;
        Check(difference == (rejection.FocusField == TInputField::ifNone),
              "ifNone exactly for the difference rejection");
        Check(!difference || format == TUuidFormat::uf128Bit, "difference only for 128-bit");
        Check(rejection.FocusField == TInputField::edtCharNotify ||
                  rejection.FocusField == TInputField::edtCharWrite ||
                  rejection.FocusField == TInputField::ifNone,
              "focus on the study page");
    } else {
        CheckLines(format, outcome.Lines(), NormalisedUuid(notify), NormalisedUuid(write));
    }

    const std::size_t seed = Seed(data, size);
    Check(SameOutcome(outcome, Build(format, UpperCased(notify), UpperCased(write))),
          "upper-casing changes nothing");
    Check(SameOutcome(outcome, Build(format, Padded(notify, seed), Padded(write, seed / 11))),
          "low bytes at the ends change nothing");
    Check(SameOutcome(outcome, Build(format, WithDashes(notify, seed), WithDashes(write, seed / 5))),
          "dashes in a UUID change nothing");
    return 0;
}
