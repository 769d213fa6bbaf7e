#include "CliSystem.h"

#include <csignal>

namespace kelvara::cli {

void PrepareStandardStreams() {}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

void EnableTerminalSequences() {}

const TSystemHelp& SystemHelp() {
    static constexpr TSystemHelp kHelp{
        "Ctrl+D",
        "the module's port: a device path such as /dev/ttyUSB0,\n"
        "                      a link to one (/dev/serial/by-id/...), or a name that\n"
        "                      'ports' lists",
        "Permission denied on a port usually means joining the 'dialout' group:\n"
        "sudo adduser $USER dialout, then log in again.\n"};
    return kHelp;
}

} // namespace kelvara::cli
