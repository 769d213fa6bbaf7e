#include "CommandTypes.h"

namespace kelvara {

const char* InputFieldName(TInputField field) {
    switch (field) {
    case TInputField::edtCharNotify:
        return "edtCharNotify";
    case TInputField::edtCharWrite:
        return "edtCharWrite";
    case TInputField::edtiBeaconUUID:
        return "edtiBeaconUUID";
    case TInputField::edtiBeaconMajor:
        return "edtiBeaconMajor";
    case TInputField::edtiBeaconMinor:
        return "edtiBeaconMinor";
    case TInputField::ifNone:
        break;
    }
    return "ifNone";
}

namespace {

std::vector<std::string> CommandsOf(const TCommandList& list, TEntryKind kind) {
    std::vector<std::string> commands;
    for (const TListEntry& entry : list) {
        if (entry.Kind == kind)
            commands.emplace_back(entry.Command());
    }
    return commands;
}

} // namespace

std::vector<std::string> ShownLines(const TCommandList& list) {
    std::vector<std::string> lines;
    lines.reserve(list.size());
    for (const TListEntry& entry : list)
        lines.push_back(entry.Line);
    return lines;
}

std::vector<std::string> SetUpCommands(const TCommandList& list) {
    return CommandsOf(list, TEntryKind::SetUpCommand);
}

std::vector<std::string> GuideCommands(const TCommandList& list) {
    return CommandsOf(list, TEntryKind::GuideCommand);
}

} // namespace kelvara
