#include "BeaconCommandList.h"

#include "FieldText.h"
#include "ListHeader.h"
#include "Messages.h"

namespace kelvara {

namespace {

constexpr std::size_t kHexModeLength = 4;
constexpr std::size_t kDecimalModeLength = 5;

bool IsHexMode(const std::string& value) { return value.size() == kHexModeLength; }

// Major and Minor: 4 characters are hexadecimal digits, anything else must be decimal digits.
bool HasValidCharacters(const std::string& value) {
    return IsHexMode(value) ? AllHexDigits(value) : AllDecimalDigits(value);
}

bool HasValidLength(const std::string& value) {
    return value.size() == kHexModeLength || value.size() == kDecimalModeLength;
}

// Only called once characters and length have passed.
std::uint32_t NumericValue(const std::string& value) {
    return IsHexMode(value) ? HexValue(value) : DecimalValue(value);
}

// The four digits a value takes in its command: as typed in hexadecimal mode, converted from
// decimal otherwise.
std::string ValueText(const std::string& value) {
    return IsHexMode(value) ? value : FormatHex(DecimalValue(value), 4);
}

} // namespace

TCommandListOutcome BuildBeaconCommandList(std::string_view uuidText, std::string_view majorText,
                                           std::string_view minorText) {
    using enum TInputField;
    const auto reject = [](std::string_view message, TInputField field) {
        return TCommandListOutcome::Rejected(std::string(message), field);
    };

    std::string uuid = TrimUpper(uuidText);
    if (uuid.empty())
        return reject(messages::kFillInAllFields, edtiBeaconUUID);
    const std::string major = TrimUpper(majorText);
    if (major.empty())
        return reject(messages::kFillInAllFields, edtiBeaconMajor);
    const std::string minor = TrimUpper(minorText);
    if (minor.empty())
        return reject(messages::kFillInAllFields, edtiBeaconMinor);

    uuid = RemoveDashes(std::move(uuid));
    if (!AllHexDigits(uuid))
        return reject(messages::kBeaconUuid, edtiBeaconUUID);
    if (!HasValidCharacters(major))
        return reject(messages::kBeaconMajor, edtiBeaconMajor);
    if (!HasValidCharacters(minor))
        return reject(messages::kBeaconMinor, edtiBeaconMinor);
    if (uuid.size() != 32)
        return reject(messages::kBeaconUuidLength, edtiBeaconUUID);
    if (!HasValidLength(major))
        return reject(messages::kBeaconMajor, edtiBeaconMajor);
    if (!HasValidLength(minor))
        return reject(messages::kBeaconMinor, edtiBeaconMinor);
    if (!IsValid16BitValue(NumericValue(major)))
        return reject(messages::kBeaconMajor, edtiBeaconMajor);
    if (!IsValid16BitValue(NumericValue(minor)))
        return reject(messages::kBeaconMinor, edtiBeaconMinor);

    const auto groups = SplitUuidGroups(uuid);
    TCommandList list;
    list.reserve(17);
    detail::AppendEntries(list, detail::kListHeader);
    // From AT+RENEW on, an empty line separates each command from the next.
    const auto command = [&list](std::string_view prefix, std::string_view value) {
        list.emplace_back();
        detail::AppendCommand(list, prefix, value);
    };
    command("AT+IBEA1", {});
    command("AT+IBE0", groups[0]);
    command("AT+IBE1", groups[1]);
    command("AT+IBE2", groups[2]);
    command("AT+IBE3", groups[3]);
    command("AT+MARJ0x", ValueText(major));
    command("AT+MINO0x", ValueText(minor));
    return TCommandListOutcome::FromList(std::move(list));
}

} // namespace kelvara
