#pragma once

// kelvara-cli prints lists without the toolkit; only sending needs Qt Serial Port, so sending
// lives in a plugin that kelvara-cli loads when asked to send or to list ports. This is the
// plugin's interface.

#include "SendProtocol.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace kelvara::cli {

// The plugin's file, found through kelvara-cli's run path.
inline constexpr const char* kSendPluginFile = "kelvara-cli-send.so";

struct TSendRequest {
    std::string Port;
    link::TSendSettings Settings;
    std::vector<std::string> Commands;
};

// Exit statuses of sending.
inline constexpr int kExitPort = 3;              // the port could not be opened or set up
inline constexpr int kExitNotAcknowledged = 4;   // a command was not acknowledged
inline constexpr int kExitInterrupted = 130;     // SIGINT or SIGTERM stopped the send

using TSendFunction = int(const TSendRequest&, std::ostream& out, std::ostream& err);
using TPortsFunction = int(std::ostream& out, std::ostream& err);

} // namespace kelvara::cli

// Sends the commands, printing each acknowledged one on out and any failure on err; returns the
// exit status.
extern "C" int KelvaraCliSend(const kelvara::cli::TSendRequest& request, std::ostream& out,
                              std::ostream& err);
// Prints the serial ports found, one a line; returns the exit status.
extern "C" int KelvaraCliPorts(std::ostream& out, std::ostream& err);
