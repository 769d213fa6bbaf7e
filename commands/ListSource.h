#pragma once

// What a list is made from: which list, and its fields as typed. Every front (the main window,
// the module window's batch, kelvara-cli) makes a list from its source here, and only here.

#include "CommandTypes.h"

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kelvara {

enum class TListKind { Study, Beacon };

// A list's fields by name ("format", "notify", "write"; "uuid", "major", "minor"), as typed.
using TFields = std::map<std::string, std::string, std::less<>>;

struct TListSource {
    TListKind Kind = TListKind::Study;
    TFields Fields;
};

struct TFieldDescription {
    std::string_view Name;
    std::string_view Default;
};

// "study" or "ibeacon": the list's name on the command line and in a batch's record.
std::string_view ListName(TListKind kind);
// The list's fields in the order they are shown and recorded, with their defaults.
const std::array<TFieldDescription, 3>& ListFields(TListKind kind);
// The source with every field at its default.
TListSource DefaultSource(TListKind kind);

// The study list's "format" field: "16" or "128"; nothing for any other text.
std::optional<TUuidFormat> UuidFormatFromName(std::string_view name);
std::string_view UuidFormatName(TUuidFormat format);

// The list the source's fields make, or the rejection of the first field that fails its check,
// exactly as the main window's pages check them. A field missing from the source counts as
// empty; a study format other than "128" is the 16-bit one.
TCommandListOutcome BuildList(const TListSource& source);

} // namespace kelvara
