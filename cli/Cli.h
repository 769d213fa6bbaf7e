#pragma once

#include <iosfwd>
#include <span>
#include <string_view>

namespace kelvara::cli {

// Exit statuses of kelvara-cli, for every command.
inline constexpr int kExitOk = 0;               // a list printed, every command acknowledged,
                                                // settings found, --help or --version
inline constexpr int kExitRejected = 1;         // a field was rejected, or standard output
                                                // could not be written
inline constexpr int kExitUsage = 2;            // the command line, or a command file, was wrong
inline constexpr int kExitPort = 3;             // the port could not be opened, set up or kept
inline constexpr int kExitNotAcknowledged = 4;  // a command was not acknowledged, or no module
                                                // answered at any setting
inline constexpr int kExitLog = 5;              // the log (--log) could not be opened or
                                                // written
inline constexpr int kExitInterrupted = 130;    // SIGINT, SIGTERM or SIGHUP stopped it

// Runs kelvara-cli on its arguments (without the program name): output goes to out, rejections,
// usage errors and failures to err. Returns the exit status.
int Run(std::span<const std::string_view> args, std::ostream& out, std::ostream& err);

} // namespace kelvara::cli
