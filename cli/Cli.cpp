#include "Cli.h"

#include "BeaconCommandList.h"
#include "CommandFile.h"
#include "Printable.h"
#include "StudyCommandList.h"
#include "Talk.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>

namespace kelvara::cli {

namespace {

constexpr std::string_view kProgram = "kelvara-cli";
constexpr std::string_view kVersion = "kelvara-cli 1.02";

constexpr std::string_view kUsage =
    R"(Usage: kelvara-cli study [--format 16|128] [--notify TEXT] [--write TEXT] [OUT]
       kelvara-cli ibeacon [--uuid TEXT] [--major TEXT] [--minor TEXT] [OUT]
       kelvara-cli study|ibeacon [fields] --port PORT [SETTINGS] --modules N
                   [--count major|minor] [--record FILE]
       kelvara-cli send --port PORT [SETTINGS] [FILE | -]
       kelvara-cli find --port PORT
       kelvara-cli ports
       kelvara-cli -h | --help | --version
OUT:      --commands | --port PORT [SETTINGS]
SETTINGS: [--baud N|auto] [--line-end none|cr|lf|crlf] [--timeout MS]
          [--pause MS]
)";

constexpr std::string_view kHelp = R"(
Checks Bluetooth Low Energy identifiers and prints the AT commands that set up
a module, or sends them to the module on a serial port.

Commands:
  study     the master-role study list for a slave's two characteristics
    --format 16|128   UUID format of the slave device (default: 16)
    --notify TEXT     UUID of the characteristic with the "Notify" property
                      (default: FFE1)
    --write TEXT      UUID of the characteristic with the "Write" or
                      "WriteWithoutResponse" property (default: FFE1)
  ibeacon   the slave-role iBeacon list
    --uuid TEXT       iBeacon UUID, dashes optional
                      (default: 0000FFF0-0000-1000-8000-00805F9B34FB)
    --major TEXT      Major: 4 hexadecimal or 5 decimal digits (default: 10123)
    --minor TEXT      Minor: 4 hexadecimal or 5 decimal digits (default: 10125)
  send      send the commands of FILE (or of standard input), one a line;
            lines beginning with # are skipped. On a terminal, each line typed
            is sent as it is entered, until Ctrl+D
  find      find the baud rate and line ending at which the module on PORT
            answers "AT"; prints BAUD LINE-END, and "echo" if it echoes
  ports     list the serial ports found: PORT<TAB>DESCRIPTION, one a line

Many modules (study, ibeacon, with --port):
  --modules N         set up N modules one after another on PORT: wait until
                      one answers "AT", send its list, wait until it is gone
                      (silent for a second, or its port gone), take the next
  --count major|minor give each next module the value after the last one,
                      written the same way (4 hexadecimal or 5 decimal digits)
  --record FILE       record each module attempted in a CSV file, on disk
                      before the next is taken; started again with the same
                      record, a batch goes on where it stopped

Sending (study, ibeacon, send):
  --commands          print only the commands that would be sent, one a line
  --port PORT         the module's port: a device path such as /dev/ttyUSB0,
                      a link to one (/dev/serial/by-id/...), or a name that
                      'ports' lists
  --baud N|auto       1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or
                      230400 (default: 9600), 8 data bits, no parity, 1 stop
                      bit, no flow control; auto: find it first (and the line
                      ending, unless --line-end is given)
  --line-end none|cr|lf|crlf
                      what follows each command (default: none)
  --timeout MS        wait for an answer's first byte, 1 to 60000 (default:
                      1000)
  --pause MS          pause after each acknowledged command, 0 to 10000
                      (default: 200), for modules that restart after one

Options:
  -h, --help  print this help and exit
  --version   print the version and exit

Options come in any order, as --option VALUE or --option=VALUE; the last of a
repeated option wins. Each TEXT is checked exactly as given, like a field of
the desktop program.

Output: the list on standard output, one line each. A rejected field gives
nothing on standard output and one line on standard error:
  kelvara-cli: --FIELD: MESSAGE
Commands are sent one at a time, stopping at the first not acknowledged. A
reply runs until the module has been quiet for 50 ms, or ends at once with a
line "OK" or "ERROR"; an echo of the command is set aside. A reply beginning
"OK", or whose last line is "OK", acknowledges: COMMAND<TAB>REPLY is printed,
control bytes and bytes of 128 or more shown as \xNN. Bytes the module sends
unasked in a session on a terminal are printed as <TAB>BYTES.

Exit status: 0 done, 1 field rejected or output not written, 2 usage error
or a refused command file, 3 port could not be used, 4 a command was not
acknowledged or no module answered, 130 interrupted (the first Ctrl+C stops
after the command under way, a second at once).
Permission denied on a port usually means joining the 'dialout' group:
sudo adduser $USER dialout, then log in again.
)";

using TOptions = std::map<std::string, std::string, std::less<>>;

struct TCommand {
    std::string_view Name;
    // Option names (without "--") with their default values.
    TOptions Defaults;
};

const TCommand kStudy{"study", {{"format", "16"}, {"notify", "FFE1"}, {"write", "FFE1"}}};
const TCommand kBeacon{"ibeacon",
                       {{"uuid", "0000FFF0-0000-1000-8000-00805F9B34FB"},
                        {"major", "10123"},
                        {"minor", "10125"}}};
const TCommand kSend{"send", {}};
const TCommand kFind{"find", {}};

std::string_view OptionOf(TInputField field) {
    switch (field) {
    case TInputField::edtCharNotify:
        return "--notify";
    case TInputField::edtCharWrite:
        return "--write";
    case TInputField::edtiBeaconUUID:
        return "--uuid";
    case TInputField::edtiBeaconMajor:
        return "--major";
    case TInputField::edtiBeaconMinor:
        return "--minor";
    case TInputField::ifNone:
        break;
    }
    return {};
}

int UsageError(std::ostream& err, const std::string& problem) {
    err << kProgram << ": " << problem << "\n"
        << kUsage << "Try 'kelvara-cli --help' for more information.\n";
    return kExitUsage;
}

bool IsHelp(std::string_view arg) { return arg == "--help" || arg == "-h"; }

// The options that only sending takes, and --port itself.
constexpr std::array<std::string_view, 4> kSendSettingOptions = {"baud", "line-end", "timeout",
                                                                 "pause"};

// A batch's own options, after study or ibeacon.
constexpr std::array<std::string_view, 3> kBatchOptions = {"modules", "count", "record"};

bool IsBatchOption(std::string_view name) {
    return std::find(kBatchOptions.begin(), kBatchOptions.end(), name) != kBatchOptions.end();
}

bool IsSendOption(std::string_view name) {
    return name == "port" ||
           std::find(kSendSettingOptions.begin(), kSendSettingOptions.end(), name) !=
               kSendSettingOptions.end();
}

// A whole number of decimal digits from min to max, or nothing.
std::optional<int> ParseNumber(std::string_view text, int min, int max) {
    if (text.empty() || !std::all_of(text.begin(), text.end(),
                                     [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return std::nullopt;
    return value;
}

// Reads the sending options into a request; a wrong one is a usage error, reported on err.
bool ParseSendSettings(const TOptions& options, TTalkRequest& request, std::ostream& err) {
    link::TSendSettings& settings = request.Settings;
    // Reads one option given as text into its setting; false (and a usage error) when the
    // text does not parse.
    const auto read = [&](std::string_view name, std::string_view takes, auto parse,
                          auto& setting) {
        const auto option = options.find(name);
        if (option == options.end())
            return true;
        const auto value = parse(option->second);
        if (!value) {
            UsageError(err, "--" + std::string(name) + " takes " + std::string(takes) +
                                ", not '" + Printable(option->second) + "'");
            return false;
        }
        setting = *value;
        return true;
    };
    const auto milliseconds = [](int min, int max) {
        return [=](std::string_view text) { return ParseNumber(text, min, max); };
    };
    const auto baudRate = [&request](std::string_view text) -> std::optional<int> {
        if (text == "auto") {
            request.FindBaudRate = true;
            return link::TSendSettings().BaudRate;
        }
        const auto value = ParseNumber(text, link::kStandardBaudRates.front(),
                                       link::kStandardBaudRates.back());
        return value && link::IsStandardBaudRate(*value) ? value : std::nullopt;
    };
    request.LineEndGiven = options.contains("line-end");
    return read("baud", "a standard rate from 1200 to 230400, or auto", baudRate,
                settings.BaudRate) &&
           read("line-end", "none, cr, lf or crlf", link::LineEndFromName, settings.LineEnd) &&
           read("timeout", "1 to 60000 milliseconds",
                milliseconds(link::kMinTimeoutMs, link::kMaxTimeoutMs), settings.TimeoutMs) &&
           read("pause", "0 to 10000 milliseconds",
                milliseconds(link::kMinPauseMs, link::kMaxPauseMs), settings.PauseMs);
}

// Reports a rejection on err; returns its exit status.
int ReportRejection(const TCommandListOutcome& outcome, std::ostream& err) {
    // A rejection that moves focus nowhere names no option.
    const std::string_view option = OptionOf(outcome.FocusField());
    err << kProgram << ": ";
    if (!option.empty())
        err << option << ": ";
    err << outcome.Message() << '\n';
    return kExitRejected;
}

int PrintLines(const std::vector<std::string>& lines, std::ostream& out, std::ostream& err) {
    for (const std::string& line : lines)
        out << line << '\n';
    out.flush();
    if (!out) {
        err << kProgram << ": could not write the list to standard output\n";
        return kExitRejected;
    }
    return kExitOk;
}

// What a command line says, once read.
struct TParsed {
    TOptions Values;      // the command's own options, with their defaults
    TOptions SendOptions; // --port and the settings
    std::vector<std::string_view> Operands;
    bool CommandsOnly = false;
    bool Help = false;
};

// Reads the options after the command; a usage error is reported on err.
std::optional<TParsed> ParseOptions(const TCommand& command, std::span<const std::string_view> args,
                                    bool takesOperand, std::ostream& err) {
    TParsed parsed;
    parsed.Values = command.Defaults;
    const bool listCommand = &command == &kStudy || &command == &kBeacon;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (IsHelp(arg)) {
            parsed.Help = true;
            return parsed;
        }
        if (!arg.starts_with("--") || arg == "--") {
            if (takesOperand && parsed.Operands.empty() && !arg.empty() && arg != "--") {
                parsed.Operands.push_back(arg);
                continue;
            }
            return UsageError(err, "unexpected argument '" + Printable(arg) + "'"), std::nullopt;
        }
        std::string_view name = arg.substr(2);
        std::optional<std::string_view> value;
        if (const auto equals = name.find('='); equals != std::string_view::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == "commands" && listCommand) {
            if (value)
                return UsageError(err, "option '--commands' takes no value"), std::nullopt;
            parsed.CommandsOnly = true;
            continue;
        }
        const bool sendOption = &command == &kFind
                                    ? name == "port"
                                    : IsSendOption(name) || (listCommand && IsBatchOption(name));
        TOptions& target = sendOption ? parsed.SendOptions : parsed.Values;
        auto option = sendOption ? target.try_emplace(std::string(name)).first : target.find(name);
        if (option == target.end()) {
            return UsageError(err, "unknown option '--" + Printable(name) + "' for '" +
                                       std::string(command.Name) + "'"),
                   std::nullopt;
        }
        if (!value) {
            // The next argument is the value whatever it looks like, since a field text may
            // itself start with dashes.
            if (i + 1 == args.size())
                return UsageError(err, "option '--" + option->first + "' needs a value"),
                       std::nullopt;
            value = args[++i];
        }
        option->second = std::string(*value);
    }
    return parsed;
}

// Checks --port and the settings; a usage error is reported on err.
std::optional<TTalkRequest> TalkRequest(const TParsed& parsed, bool portRequired,
                                        std::ostream& err) {
    const auto port = parsed.SendOptions.find("port");
    if (port == parsed.SendOptions.end()) {
        if (portRequired)
            return UsageError(err, "option '--port' is required"), std::nullopt;
        for (std::string_view batch : kBatchOptions) {
            if (parsed.SendOptions.contains(batch))
                return UsageError(err, "option '--" + std::string(batch) + "' needs --port"),
                       std::nullopt;
        }
        for (std::string_view setting : kSendSettingOptions) {
            if (parsed.SendOptions.contains(setting))
                return UsageError(err, "option '--" + std::string(setting) + "' needs --port"),
                       std::nullopt;
        }
    } else if (parsed.CommandsOnly) {
        return UsageError(err, "options '--port' and '--commands' exclude each other"),
               std::nullopt;
    } else if (port->second.empty()) {
        return UsageError(err, "option '--port' needs a port"), std::nullopt;
    }
    TTalkRequest request;
    if (port != parsed.SendOptions.end())
        request.Port = port->second;
    if (!ParseSendSettings(parsed.SendOptions, request, err))
        return std::nullopt;
    return request;
}

// Reads all of a stream, up to the largest command file and one byte more.
std::string ReadAll(std::istream& in) {
    std::string text;
    char buffer[65536];
    while (text.size() <= kMaxCommandFileBytes &&
           in.read(buffer, sizeof buffer).gcount() > 0)
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    return text;
}

// The batch options, checked; the batch then runs.
int RunBatchCommand(const TCommand& command, const TParsed& parsed, TTalkRequest request,
                    std::optional<TUuidFormat> uuidFormat, std::ostream& out, std::ostream& err) {
    const TOptions& options = parsed.SendOptions;
    const auto modules = ParseNumber(options.at("modules"), 1, 100000);
    if (!modules)
        return UsageError(err, "--modules takes 1 to 100000, not '" +
                                   Printable(options.at("modules")) + "'");
    TBatchRequest batch;
    if (const auto count = options.find("count"); count != options.end()) {
        if (&command != &kBeacon || (count->second != "major" && count->second != "minor"))
            return UsageError(err, "--count takes major or minor, with ibeacon, not '" +
                                       Printable(count->second) + "'");
        batch.Count = count->second;
    }
    if (request.FindBaudRate)
        return UsageError(err, "option '--baud auto' does not go with --modules: a batch "
                               "talks to every module at the same settings");
    if (const auto record = options.find("record"); record != options.end()) {
        if (record->second.empty())
            return UsageError(err, "option '--record' needs a file");
        batch.Record = record->second;
    }
    batch.Talk = std::move(request);
    batch.List = std::string(command.Name);
    batch.Modules = static_cast<std::size_t>(*modules);
    for (const auto& [name, value] : parsed.Values)
        batch.Fields[name] = value;
    batch.Build = [uuidFormat](const TBatchRequest::TFields& fields) {
        return uuidFormat ? BuildStudyCommandList(*uuidFormat, fields.at("notify"), fields.at("write"))
                          : BuildBeaconCommandList(fields.at("uuid"), fields.at("major"),
                                                   fields.at("minor"));
    };
    return RunBatch(batch, out, err);
}

int RunListCommand(const TCommand& command, std::span<const std::string_view> args,
                   std::ostream& out, std::ostream& err) {
    const auto parsed = ParseOptions(command, args, false, err);
    if (!parsed)
        return kExitUsage;
    if (parsed->Help) {
        out << kUsage << kHelp;
        return kExitOk;
    }
    // The whole command line is checked before any field.
    auto request = TalkRequest(*parsed, false, err);
    if (!request)
        return kExitUsage;
    std::optional<TUuidFormat> uuidFormat;
    if (&command == &kStudy) {
        const std::string& format = parsed->Values.at("format");
        if (format != "16" && format != "128")
            return UsageError(err, "--format takes 16 or 128, not '" + Printable(format) + "'");
        uuidFormat = format == "16" ? TUuidFormat::uf16Bit : TUuidFormat::uf128Bit;
    }
    const TOptions& values = parsed->Values;
    const TCommandListOutcome outcome =
        uuidFormat ? BuildStudyCommandList(*uuidFormat, values.at("notify"), values.at("write"))
                   : BuildBeaconCommandList(values.at("uuid"), values.at("major"),
                                            values.at("minor"));
    if (outcome.IsRejection())
        return ReportRejection(outcome, err);
    if (parsed->CommandsOnly)
        return PrintLines(SetUpCommands(outcome.List()), out, err);
    if (request->Port.empty())
        return PrintLines(outcome.Lines(), out, err);
    if (parsed->SendOptions.contains("modules"))
        return RunBatchCommand(command, *parsed, std::move(*request), uuidFormat, out, err);
    for (std::string_view batch : {"count", "record"}) {
        if (parsed->SendOptions.contains(batch))
            return UsageError(err, "option '--" + std::string(batch) + "' needs --modules");
    }
    request->Commands = SetUpCommands(outcome.List());
    return SendCommands(*request, out, err);
}

int RunSend(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
    const auto parsed = ParseOptions(kSend, args, true, err);
    if (!parsed)
        return kExitUsage;
    if (parsed->Help) {
        out << kUsage << kHelp;
        return kExitOk;
    }
    auto request = TalkRequest(*parsed, true, err);
    if (!request)
        return kExitUsage;
    const std::string file =
        parsed->Operands.empty() ? std::string("-") : std::string(parsed->Operands.front());
    if (file == "-" && isatty(STDIN_FILENO) == 1)
        return TalkInteractively(*request, out, err);

    std::string text;
    if (file == "-") {
        text = ReadAll(std::cin);
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            err << kProgram << ": " << Printable(file) << ": cannot be read\n";
            return kExitUsage;
        }
        text = ReadAll(in);
    }
    auto commands = ReadCommandFile(text);
    if (const auto* refused = std::get_if<TCommandFileError>(&commands)) {
        err << kProgram << ": " << Printable(file);
        if (refused->Line > 0)
            err << ':' << refused->Line;
        err << ": " << refused->Reason << '\n';
        return kExitUsage;
    }
    request->Commands = std::move(std::get<std::vector<std::string>>(commands));
    return SendCommands(*request, out, err);
}

int RunFind(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
    const auto parsed = ParseOptions(kFind, args, false, err);
    if (!parsed)
        return kExitUsage;
    if (parsed->Help) {
        out << kUsage << kHelp;
        return kExitOk;
    }
    const auto request = TalkRequest(*parsed, true, err);
    if (!request)
        return kExitUsage;
    return FindSettings(request->Port, out, err);
}

} // namespace

int Run(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
    if (args.empty())
        return UsageError(err, "no command given");

    const std::string_view first = args.front();
    const auto rest = args.subspan(1);
    if (IsHelp(first)) {
        out << kUsage << kHelp;
        return kExitOk;
    }
    if (first == "--version") {
        out << kVersion << '\n';
        return kExitOk;
    }
    if (first == "ports") {
        if (!rest.empty())
            return UsageError(err, "'ports' takes no options, not '" + Printable(rest.front()) + "'");
        return ListPorts(out, err);
    }
    if (first == kSend.Name)
        return RunSend(rest, out, err);
    if (first == kFind.Name)
        return RunFind(rest, out, err);
    if (first == kStudy.Name)
        return RunListCommand(kStudy, rest, out, err);
    if (first == kBeacon.Name)
        return RunListCommand(kBeacon, rest, out, err);
    return UsageError(err, "unknown command '" + Printable(first) + "'");
}

} // namespace kelvara::cli
