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

} // namespace kelvara
