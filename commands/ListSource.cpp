#include "ListSource.h"

#include "BeaconCommandList.h"
#include "StudyCommandList.h"

namespace kelvara {

namespace {

constexpr std::array<TFieldDescription, 3> kStudyFields = {
    {{"format", "16"}, {"notify", "FFE1"}, {"write", "FFE1"}}};
constexpr std::array<TFieldDescription, 3> kBeaconFields = {
    {{"uuid", "0000FFF0-0000-1000-8000-00805F9B34FB"}, {"major", "10123"}, {"minor", "10125"}}};

std::string_view Field(const TListSource& source, std::string_view name) {
    const auto field = source.Fields.find(name);
    return field == source.Fields.end() ? std::string_view() : std::string_view(field->second);
}

} // namespace

std::string_view ListName(TListKind kind) { return kind == TListKind::Study ? "study" : "ibeacon"; }

const std::array<TFieldDescription, 3>& ListFields(TListKind kind) {
    return kind == TListKind::Study ? kStudyFields : kBeaconFields;
}

TListSource DefaultSource(TListKind kind) {
    TListSource source{kind, {}};
    for (const TFieldDescription& field : ListFields(kind))
        source.Fields.emplace(field.Name, field.Default);
    return source;
}

std::optional<TUuidFormat> UuidFormatFromName(std::string_view name) {
    if (name == "16")
        return TUuidFormat::uf16Bit;
    if (name == "128")
        return TUuidFormat::uf128Bit;
    return std::nullopt;
}

std::string_view UuidFormatName(TUuidFormat format) {
    return format == TUuidFormat::uf16Bit ? "16" : "128";
}

TCommandListOutcome BuildList(const TListSource& source) {
    if (source.Kind == TListKind::Study) {
        const auto format = UuidFormatFromName(Field(source, "format"));
        return BuildStudyCommandList(format ? *format : TUuidFormat::uf16Bit,
                                     Field(source, "notify"), Field(source, "write"));
    }
    return BuildBeaconCommandList(Field(source, "uuid"), Field(source, "major"),
                                  Field(source, "minor"));
}

} // namespace kelvara
