#include "StudyCommandList.h"

#include "FieldText.h"
#include "ListHeader.h"
#include "Messages.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace kelvara {

namespace {

constexpr std::size_t kUuid16Digits = 4;
constexpr std::size_t kUuid128Digits = 32;

bool IsValidUuid(TUuidFormat format, const std::string& digits) {
    if (format == TUuidFormat::uf128Bit)
        return digits.size() == kUuid128Digits;
    return digits.size() == kUuid16Digits && IsValid16BitValue(HexValue(digits));
}

// The value of the 128-bit list's AT+CHAR0x line: the differing byte's position and the Notify
// digits of that byte, or 00FF when both UUIDs are the same.
std::string CharacteristicValue128(const std::string& notify, int first) {
    if (first == 0)
        return "00FF";
    const int byte = (first + 1) / 2;
    return FormatHex(static_cast<std::uint32_t>(byte), 2) +
           notify.substr(static_cast<std::size_t>(2 * byte - 2), 2);
}

using detail::Guide;
using detail::SetUp;
using detail::Text;

constexpr std::array<detail::TFixedEntry, 4> kStudyOpening = {
    SetUp("AT+IMME1"),
    SetUp("AT+SHOW1 (If you doesnt want to get slave device name, forget this command)", 8),
    SetUp("AT+COMP1"),
    SetUp("AT+NOTI1"),
};

// AT+ROLE1 ends the set-up; the guide after it shows commands for later use and the module's
// responses to them.
constexpr std::array<detail::TFixedEntry, 14> kConnectionGuide = {
    SetUp("AT+ROLE1"),
    Text(" "),
    Text("  Now you can use those AT Commands to discovery or connect a slave device."),
    Text("  ========================================================================="),
    Guide("AT+DISC? (Start a scan procedure)", 8),
    Text("OK+DISCS (Module response, Start scan procedure)"),
    Text("OK+DIS<P1><P2><P3> (Module response, Found device)"),
    Text("      <P1>: Device Type"),
    Text("      <P2>: Device MAC Address"),
    Text("      <P3>: Device Name"),
    Text("OK+DISCE (Module response, Scan procedure finished)"),
    Guide("AT+CO<P1><P2> (Try to connect a slave device)", 13),
    Text("     <P1>: Device Type"),
    Text("     <P2>: Device MAC address"),
};

} // namespace

TDifference FindDifferingByte(std::string_view notify, std::string_view write) {
    TDifference result;
    const std::size_t length = std::min({notify.size(), write.size(), kUuid128Digits});
    for (std::size_t index = 0; index < length; ++index) {
        if (notify[index] == write[index])
            continue;
        const int position = static_cast<int>(index) + 1;
        ++result.Count;
        if (result.First == 0) {
            result.First = position;
        } else if (position - 1 != result.First) {
            result.First = 33;
            break;
        }
    }
    return result;
}

bool WithinOneByte(const TDifference& difference) {
    return difference.Count <= 2 && difference.First <= 32 &&
           (difference.Count != 2 || difference.First % 2 == 1);
}

TCommandListOutcome BuildStudyCommandList(TUuidFormat format, std::string_view notifyText,
                                          std::string_view writeText) {
    using enum TInputField;
    std::string notify = TrimUpper(notifyText);
    if (notify.empty())
        return TCommandListOutcome::Rejected(std::string(messages::kFillInAllFields), edtCharNotify);
    std::string write = TrimUpper(writeText);
    if (write.empty())
        return TCommandListOutcome::Rejected(std::string(messages::kFillInAllFields), edtCharWrite);

    notify = RemoveDashes(std::move(notify));
    write = RemoveDashes(std::move(write));
    if (!AllHexDigits(notify))
        return TCommandListOutcome::Rejected(std::string(messages::kNotify), edtCharNotify);
    if (!AllHexDigits(write))
        return TCommandListOutcome::Rejected(std::string(messages::kWrite), edtCharWrite);
    if (!IsValidUuid(format, notify))
        return TCommandListOutcome::Rejected(std::string(messages::kNotify), edtCharNotify);
    if (!IsValidUuid(format, write))
        return TCommandListOutcome::Rejected(std::string(messages::kWrite), edtCharWrite);

    TDifference difference;
    if (format == TUuidFormat::uf128Bit) {
        difference = FindDifferingByte(notify, write);
        if (!WithinOneByte(difference))
            return TCommandListOutcome::Rejected(std::string(messages::kDifference), ifNone);
    }

    using detail::AppendCommand;
    TCommandList list;
    list.reserve(format == TUuidFormat::uf16Bit ? 24 : 27);
    detail::AppendEntries(list, detail::kListHeader);
    detail::AppendEntries(list, kStudyOpening);
    if (format == TUuidFormat::uf16Bit) {
        AppendCommand(list, "AT+128B0", {});
        AppendCommand(list, "AT+UUID0x", write);
        AppendCommand(list, "AT+CHAR0x", notify);
    } else {
        const auto groups = SplitUuidGroups(write);
        AppendCommand(list, "AT+128B1", {});
        AppendCommand(list, "AT+IBE0", groups[0]);
        AppendCommand(list, "AT+IBE1", groups[1]);
        AppendCommand(list, "AT+IBE2", groups[2]);
        AppendCommand(list, "AT+IBE3", groups[3]);
        AppendCommand(list, "AT+CHAR0x", CharacteristicValue128(notify, difference.First));
    }
    detail::AppendEntries(list, kConnectionGuide);
    return TCommandListOutcome::FromList(std::move(list));
}

} // namespace kelvara
