#pragma once

#include <string>
#include <vector>

namespace kelvara::detail {

// The three lines that open both command lists: the two-line banner and AT+RENEW.
inline std::vector<std::string> ListHeader() {
    return {
        "         Those AT Command only need be executed once more",
        "         ================================================",
        "AT+RENEW",
    };
}

} // namespace kelvara::detail
