#pragma once

#include "Link.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvara::cli {

// An argument or name as it can be shown in a message: control bytes written as \xNN, and texts
// longer than maxShown cut, with "...".
inline std::string Printable(std::string_view text, std::size_t maxShown = 64) {
    std::string shown = link::ShownBytes(text.substr(0, maxShown), false);
    if (text.size() > maxShown)
        shown += "...";
    return shown;
}

} // namespace kelvara::cli
