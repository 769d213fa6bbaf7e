#pragma once

#include <string>
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

// What a generator returns: either the lines of a command list or one rejection, never both.
class TCommandListOutcome {
  public:
    static TCommandListOutcome FromLines(std::vector<std::string> lines) {
        return TCommandListOutcome(std::move(lines));
    }
    static TCommandListOutcome Rejected(std::string message, TInputField focus) {
        return TCommandListOutcome(TRejection{std::move(message), focus});
    }

    bool IsRejection() const { return std::holds_alternative<TRejection>(value_); }
    bool HasLines() const { return !IsRejection(); }

    // Only valid when HasLines().
    const std::vector<std::string>& Lines() const { return std::get<std::vector<std::string>>(value_); }
    // Only valid when IsRejection().
    const TRejection& Rejection() const { return std::get<TRejection>(value_); }
    const std::string& Message() const { return Rejection().Message; }
    TInputField FocusField() const { return Rejection().FocusField; }

  private:
    explicit TCommandListOutcome(std::vector<std::string> lines) : value_(std::move(lines)) {}
    explicit TCommandListOutcome(TRejection rejection) : value_(std::move(rejection)) {}

    std::variant<std::vector<std::string>, TRejection> value_;
};

} // namespace kelvara
