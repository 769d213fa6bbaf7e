#pragma once

#include <iosfwd>
#include <span>
#include <string_view>

namespace kelvara::cli {

// Exit statuses of kelvara-cli.
inline constexpr int kExitList = 0;     // a list was printed (also --help and --version)
inline constexpr int kExitRejected = 1; // a field was rejected, or the list could not be written
inline constexpr int kExitUsage = 2;    // the command line itself was wrong

// Runs kelvara-cli on its arguments (without the program name): the list goes to out, a
// rejection or usage error to err. Returns the exit status.
int Run(std::span<const std::string_view> args, std::ostream& out, std::ostream& err);

} // namespace kelvara::cli
