#pragma once

// The half of kelvara-cli that talks to a module on a serial port.

#include "Link.h"

#include "CommandTypes.h"

#include <functional>
#include <iosfwd>
#include <map>
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

// Many modules, one after another, each with its list (and its own value of the counted field).
struct TBatchRequest {
    TTalkRequest Talk;
    std::string List;                                // "study" or "ibeacon"
    using TFields = std::map<std::string, std::string, std::less<>>;
    TFields Fields;                                  // the list's options, as given
    std::string Count;                               // "major", "minor", or empty
    std::size_t Modules = 0;
    std::string Record;                              // the record's path, or empty
    // Makes a module's list from its fields, checking them as a typed list is checked.
    std::function<TCommandListOutcome(const TFields&)> Build;
};

// Sets up the modules one after another, printing a line for each and recording it.
int RunBatch(const TBatchRequest& batch, std::ostream& out, std::ostream& err);

// Sends the commands as a list, printing each acknowledged one on out and a failure on err.
int SendCommands(const TTalkRequest& request, std::ostream& out, std::ostream& err);
// Sends each line typed on standard input (a terminal) as it is entered, until end of input.
int TalkInteractively(const TTalkRequest& request, std::ostream& out, std::ostream& err);
// Finds the settings at which the module on the port answers, and prints them.
int FindSettings(const std::string& port, std::ostream& out, std::ostream& err);
// Prints the serial ports found, one a line.
int ListPorts(std::ostream& out, std::ostream& err);

} // namespace kelvara::cli
