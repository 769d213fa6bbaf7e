#pragma once

#include "CommandTypes.h"

#include <string_view>

namespace kelvara {

// Checks an iBeacon UUID, Major and Minor as typed and returns the 17-line slave-role iBeacon
// list or the first check's rejection. Major and Minor are hexadecimal when exactly 4
// characters long and decimal otherwise. Takes texts of any length and content; never throws.
TCommandListOutcome BuildBeaconCommandList(std::string_view uuidText, std::string_view majorText,
                                           std::string_view minorText);

} // namespace kelvara
