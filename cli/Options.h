#pragma once

// What every subcommand of kelvara-cli reads from its command line: its options, the port and
// the sending settings; and the messages for a command line that is wrong.

#include "Cli.h"
#include "Link.h"

#include <iosfwd>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::cli {

inline constexpr std::string_view kProgram = "kelvara-cli";
inline constexpr std::string_view kVersion = "kelvara-cli 1.02";

using TOptions = std::map<std::string, std::string, std::less<>>;

// What a subcommand takes besides its own options (with their defaults).
struct TSyntax {
    std::string_view Name;
    TOptions Defaults;
    enum class TTakes { ListOptions, SendSettings, PortOnly } Takes = TTakes::SendSettings;
    bool Operand = false; // one operand (a file) may follow
    // Options that take no value: given, their value is "1" (otherwise empty).
    std::vector<std::string_view> Flags = {};
};

// What a command line says, once read.
struct TParsed {
    TOptions Values;      // the command's own options, with their defaults
    TOptions SendOptions; // --port, the settings and a batch's options
    std::vector<std::string> Ports; // every --port given, in order
    std::vector<std::string_view> Operands;
    bool CommandsOnly = false;
    bool Help = false;
};

// The port and the settings to talk to it with.
struct TTalkRequest {
    std::string Port;
    link::TSendSettings Settings;
    bool FindBaudRate = false; // --baud auto: find the settings first
    bool LineEndGiven = false; // --line-end given: kept whatever the search finds
    std::string LogPath;       // --log: every entry of the session appended to this file
};

// Reads the options after the subcommand's name; a usage error is reported on err.
std::optional<TParsed> ParseOptions(const TSyntax& syntax, std::span<const std::string_view> args,
                                    std::ostream& err);
// Checks --port and the settings; a usage error is reported on err.
std::optional<TTalkRequest> TalkRequest(const TParsed& parsed, bool portRequired,
                                        std::ostream& err);
struct TCommandLine {
    TParsed Parsed;
    TTalkRequest Request;
};
// Reads a subcommand's whole command line, the port and settings included. Nothing when there
// is nothing more to do, with the exit status in `status`: a usage error reported, or the help
// printed.
std::optional<TCommandLine> ParseCommandLine(const TSyntax& syntax,
                                             std::span<const std::string_view> args,
                                             bool portRequired, std::ostream& out,
                                             std::ostream& err, int& status);
// A whole number of decimal digits from min to max, or nothing.
std::optional<int> ParseNumber(std::string_view text, int min, int max);
// Reads all of a stream, up to the largest command file and one byte more.
std::string ReadAll(std::istream& in);

bool IsHelp(std::string_view arg);
// Reports the problem with the usage; returns the exit status of a usage error.
int UsageError(std::ostream& err, const std::string& problem);
// Prints the usage and the help; returns 0.
int PrintHelp(std::ostream& out);

} // namespace kelvara::cli
