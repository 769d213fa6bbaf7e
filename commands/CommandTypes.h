#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kelvara {

// A field text: the 8-bit characters of an edit field, exactly as typed.
using FieldText = std::string;

// The UUID format chosen on the study page: drop-down item 0 or item 1.
enum class TUuidFormat { uf16Bit, uf128Bit };

// The edit that receives keyboard focus after a rejection; ifNone leaves focus alone.
enum class TInputField {
    edtCharNotify,
    edtCharWrite,
    edtiBeaconUUID,
    edtiBeaconMajor,
    edtiBeaconMinor,
    ifNone
};

// Returns the object name of a field ("edtCharNotify", ...), or "ifNone".
const char* InputFieldName(TInputField field);

// A check that failed: the text to show and the field to focus afterwards.
struct TRejection {
    std::string Message;
    TInputField FocusField = TInputField::ifNone;

    friend bool operator==(const TRejection&, const TRejection&) = default;
};

// What a line of a command list is.
enum class TEntryKind {
    SetUpCommand, // a command that sets the module up, to be sent in the list's order
    GuideCommand, // an example of later use in the closing guide ("AT+DISC?"), never sent by itself
    Text          // the banner, rules, empty lines and the guide's explanations
};

// One line of a command list. A command's line is the command, then (after one space) the note
// shown beside it: "AT+SHOW1 (If you doesnt want ...)". The line is kept whole, as shown, and
// the command is known by its length, so it is never read back out of the shown text.
struct TListEntry {
    TEntryKind Kind = TEntryKind::Text;
    std::string Line;
    std::size_t CommandLength = 0; // 0 for text

    static TListEntry Text(std::string_view line) { return {TEntryKind::Text, std::string(line), 0}; }
    static TListEntry Command(TEntryKind kind, std::string line, std::size_t commandLength) {
        return {kind, std::move(line), commandLength};
    }

    bool IsCommand() const { return Kind != TEntryKind::Text; }
    std::string_view Command() const { return std::string_view(Line).substr(0, CommandLength); }
    // The note after the command, without the space before it; empty when there is none.
    std::string_view Note() const {
        const std::string_view rest = std::string_view(Line).substr(CommandLength);
        return rest.empty() ? rest : rest.substr(1);
    }

    friend bool operator==(const TListEntry&, const TListEntry&) = default;
};

using TCommandList = std::vector<TListEntry>;

// The lines of a list as shown, one per entry.
std::vector<std::string> ShownLines(const TCommandList& list);
// The commands that set a module up, in order: what sending the list writes.
std::vector<std::string> SetUpCommands(const TCommandList& list);
// The commands the closing guide shows as examples ("AT+DISC?", "AT+CO<P1><P2>").
std::vector<std::string> GuideCommands(const TCommandList& list);

// What a generator returns: either a command list or one rejection, never both.
class TCommandListOutcome {
  public:
    static TCommandListOutcome FromList(TCommandList list) {
        return TCommandListOutcome(std::move(list));
    }
    static TCommandListOutcome Rejected(std::string message, TInputField focus) {
        return TCommandListOutcome(TRejection{std::move(message), focus});
    }

    bool IsRejection() const { return std::holds_alternative<TRejection>(value_); }
    bool HasLines() const { return !IsRejection(); }

    // Only valid when HasLines().
    const TCommandList& List() const { return std::get<TCommandList>(value_); }
    std::vector<std::string> Lines() const { return ShownLines(List()); }
    // Only valid when IsRejection().
    const TRejection& Rejection() const { return std::get<TRejection>(value_); }
    const std::string& Message() const { return Rejection().Message; }
    TInputField FocusField() const { return Rejection().FocusField; }

  private:
    explicit TCommandListOutcome(TCommandList list) : value_(std::move(list)) {}
    explicit TCommandListOutcome(TRejection rejection) : value_(std::move(rejection)) {}

    std::variant<TCommandList, TRejection> value_;
};

} // namespace kelvara
