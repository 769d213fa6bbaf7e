#pragma once

// The half of kelvara-cli that talks to a module on a serial port.

#include "Link.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace kelvara::cli {

struct TTalkRequest {
    std::string Port;
    link::TSendSettings Settings;
    bool FindBaudRate = false; // --baud auto: find the settings first
    bool LineEndGiven = false; // --line-end given: kept whatever the search finds
    std::vector<std::string> Commands;
};

// Sends the commands as a list, printing each acknowledged one on out and a failure on err.
int SendCommands(const TTalkRequest& request, std::ostream& out, std::ostream& err);
// Sends each line typed on standard input (a terminal) as it is entered, until end of input.
int TalkInteractively(const TTalkRequest& request, std::ostream& out, std::ostream& err);
// Finds the settings at which the module on the port answers, and prints them.
int FindSettings(const std::string& port, std::ostream& out, std::ostream& err);
// Prints the serial ports found, one a line.
int ListPorts(std::ostream& out, std::ostream& err);

} // namespace kelvara::cli
