#pragma once

#include "CommandTypes.h"

#include <string_view>

namespace kelvara {

// How two 128-bit UUIDs differ: Count differing digits seen, and First, the 1-based position of
// the first differing digit (0 when none differs, 33 when a second, non-neighbouring difference
// stopped the scan).
struct TDifference {
    int Count = 0;
    int First = 0;

    friend bool operator==(const TDifference&, const TDifference&) = default;
};

// Compares two UUIDs of 32 hexadecimal digits digit by digit. Positions past the end of the
// shorter text are not compared, so texts of other lengths never read out of bounds.
TDifference FindDifferingByte(std::string_view notify, std::string_view write);

// True when the difference lies within one byte: none, one digit, or both digits of one byte.
bool WithinOneByte(const TDifference& difference);

// Checks the two characteristic UUIDs as typed and returns the master-role study list
// (24 lines for 16-bit UUIDs, 27 for 128-bit) or the first check's rejection.
// Takes texts of any length and content; never throws.
TCommandListOutcome BuildStudyCommandList(TUuidFormat format, std::string_view notifyText,
                                          std::string_view writeText);

} // namespace kelvara
