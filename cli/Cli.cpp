#include "Cli.h"

#include "BeaconCommandList.h"
#include "Printable.h"
#include "SendPlugin.h"
#include "SetUpCommands.h"
#include "StudyCommandList.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <charconv>

#include <map>
#include <optional>
#include <ostream>
#include <string>

namespace kelvara::cli {

namespace {

constexpr std::string_view kProgram = "kelvara-cli";
constexpr std::string_view kVersion = "kelvara-cli 1.02";

constexpr std::string_view kUsage =
    R"(Usage: kelvara-cli study   [--format 16|128] [--notify TEXT] [--write TEXT] [SEND]
       kelvara-cli ibeacon [--uuid TEXT] [--major TEXT] [--minor TEXT] [SEND]
       kelvara-cli ports
       kelvara-cli --help | --version
SEND:  --commands
     | --port PORT [--baud N] [--line-end none|cr|lf|crlf] [--timeout MS] [--pause MS]
)";

constexpr std::string_view kHelp = R"(
Checks Bluetooth Low Energy identifiers and prints the AT commands that set up a module,
or sends them to the module on a serial port.

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
  ports     list the serial ports found: PORT<TAB>DESCRIPTION, one a line

Sending (after study or ibeacon):
  --commands          print only the commands that would be sent, one a line
  --port PORT         send the commands to the module on PORT (a device path
                      such as /dev/ttyUSB0, or a name that 'ports' lists), one
                      at a time, stopping at the first one not acknowledged
  --baud N            1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or
                      230400 (default: 9600); 8 data bits, no parity, 1 stop
                      bit, no flow control
  --line-end none|cr|lf|crlf
                      what follows each command (default: none)
  --timeout MS        how long to wait for an answer, 1 to 60000 (default: 1000)
  --pause MS          pause after each acknowledged command, 0 to 10000
                      (default: 200), for modules that restart after a command

Options:
  --help      print this help and exit
  --version   print the version and exit

Options come in any order, as --option VALUE or --option=VALUE; the last of a
repeated option wins. Each TEXT is checked exactly as given, like a field of
the desktop program.

Output: the list on standard output, one line each. A rejected field gives
nothing on standard output and one line on standard error:
  kelvara-cli: --FIELD: MESSAGE
While sending, each command the module acknowledges (a reply beginning "OK")
is printed as COMMAND<TAB>REPLY, control bytes and bytes of 128 or more shown
as \xNN. A reply is complete when the module has been quiet for 50 ms.

Exit status: 0 list printed or all commands acknowledged, 1 field rejected,
2 usage error, 3 port could not be opened or set up, 4 a command was not
acknowledged, 130 interrupted (the command under way is finished first).
A port that may not be opened for lack of permission usually means joining
the 'dialout' group: sudo adduser $USER dialout, then log in again.
)";

struct TCommand {
    std::string_view Name;
    // Option names (without "--") with their default values.
    std::map<std::string, std::string, std::less<>> Defaults;
};

const TCommand kStudy{"study", {{"format", "16"}, {"notify", "FFE1"}, {"write", "FFE1"}}};
const TCommand kBeacon{"ibeacon",
                       {{"uuid", "0000FFF0-0000-1000-8000-00805F9B34FB"},
                        {"major", "10123"},
                        {"minor", "10125"}}};

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

// The options that only sending takes, and --port itself.
constexpr std::array<std::string_view, 4> kSendSettingOptions = {"baud", "line-end", "timeout",
                                                                 "pause"};

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

using TOptions = std::map<std::string, std::string, std::less<>>;

// Reads the sending options; a wrong one is a usage error, reported on err.
std::optional<link::TSendSettings> ParseSendSettings(const TOptions& options, std::ostream& err) {
    link::TSendSettings settings;
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
    const auto baudRate = [](std::string_view text) {
        const auto value = ParseNumber(text, link::kStandardBaudRates.front(),
                                       link::kStandardBaudRates.back());
        return value && link::IsStandardBaudRate(*value) ? value : std::nullopt;
    };
    if (read("baud", "a standard rate from 1200 to 230400", baudRate, settings.BaudRate) &&
        read("line-end", "none, cr, lf or crlf", link::LineEndFromName, settings.LineEnd) &&
        read("timeout", "1 to 60000 milliseconds",
             milliseconds(link::kMinTimeoutMs, link::kMaxTimeoutMs), settings.TimeoutMs) &&
        read("pause", "0 to 10000 milliseconds",
             milliseconds(link::kMinPauseMs, link::kMaxPauseMs), settings.PauseMs))
        return settings;
    return std::nullopt;
}

// Loads a function of the send plugin, or says on err why it cannot be had.
template <typename Function>
Function* FromSendPlugin(const char* symbol, std::ostream& err) {
    // Loaded once and kept: the toolkit it brings cannot be unloaded safely.
    static void* const plugin = dlopen(kSendPluginFile, RTLD_NOW | RTLD_LOCAL);
    if (plugin) {
        if (void* function = dlsym(plugin, symbol))
            return reinterpret_cast<Function*>(function);
    }
    const char* why = dlerror();
    err << kProgram << ": sending needs " << kSendPluginFile << ", which could not be loaded"
        << (why ? std::string(": ") + why : std::string()) << '\n';
    return nullptr;
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
    return kExitList;
}

int ListPorts(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
    if (!args.empty())
        return UsageError(err, "'ports' takes no options, not '" + Printable(args.front()) + "'");
    auto* ports = FromSendPlugin<TPortsFunction>("KelvaraCliPorts", err);
    return ports ? ports(out, err) : kExitPort;
}

} // namespace

int Run(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
    if (args.empty())
        return UsageError(err, "no command given");

    const std::string_view first = args.front();
    if (first == "--help") {
        out << kUsage << kHelp;
        return kExitList;
    }
    if (first == "--version") {
        out << kVersion << '\n';
        return kExitList;
    }
    if (first == "ports")
        return ListPorts(args.subspan(1), out, err);

    const TCommand* command = nullptr;
    if (first == kStudy.Name)
        command = &kStudy;
    else if (first == kBeacon.Name)
        command = &kBeacon;
    else
        return UsageError(err, "unknown command '" + Printable(first) + "'");

    TOptions values = command->Defaults;
    TOptions sendOptions;
    bool commandsOnly = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help") {
            out << kUsage << kHelp;
            return kExitList;
        }
        if (!arg.starts_with("--"))
            return UsageError(err, "unexpected argument '" + Printable(arg) + "'");

        std::string_view name = arg.substr(2);
        std::optional<std::string_view> value;
        if (const auto equals = name.find('='); equals != std::string_view::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == "commands") {
            if (value)
                return UsageError(err, "option '--commands' takes no value");
            commandsOnly = true;
            continue;
        }
        TOptions& target = IsSendOption(name) ? sendOptions : values;
        auto option = target.find(name);
        if (&target == &sendOptions)
            option = target.try_emplace(std::string(name)).first;
        if (option == target.end()) {
            return UsageError(err, "unknown option '--" + Printable(name) + "' for '" +
                                       std::string(command->Name) + "'");
        }
        if (!value) {
            // The next argument is the value whatever it looks like, since a field text may
            // itself start with dashes.
            if (i + 1 == args.size())
                return UsageError(err, "option '--" + option->first + "' needs a value");
            value = args[++i];
        }
        option->second = std::string(*value);
    }

    // The whole command line is checked before any field.
    const auto port = sendOptions.find("port");
    if (port == sendOptions.end()) {
        for (std::string_view setting : kSendSettingOptions) {
            if (sendOptions.contains(setting))
                return UsageError(err, "option '--" + std::string(setting) + "' needs --port");
        }
    } else if (commandsOnly) {
        return UsageError(err, "options '--port' and '--commands' exclude each other");
    } else if (port->second.empty()) {
        return UsageError(err, "option '--port' needs a port");
    }
    const auto settings = ParseSendSettings(sendOptions, err);
    if (!settings)
        return kExitUsage;
    std::optional<TUuidFormat> uuidFormat;
    if (command == &kStudy) {
        const std::string& format = values.at("format");
        if (format != "16" && format != "128")
            return UsageError(err, "--format takes 16 or 128, not '" + Printable(format) + "'");
        uuidFormat = format == "16" ? TUuidFormat::uf16Bit : TUuidFormat::uf128Bit;
    }

    const TCommandListOutcome outcome =
        uuidFormat ? BuildStudyCommandList(*uuidFormat, values.at("notify"), values.at("write"))
                   : BuildBeaconCommandList(values.at("uuid"), values.at("major"),
                                            values.at("minor"));
    if (outcome.IsRejection())
        return ReportRejection(outcome, err);
    if (commandsOnly)
        return PrintLines(SetUpCommands(outcome.Lines()), out, err);
    if (port == sendOptions.end())
        return PrintLines(outcome.Lines(), out, err);

    auto* send = FromSendPlugin<TSendFunction>("KelvaraCliSend", err);
    if (!send)
        return kExitPort;
    return send(TSendRequest{port->second, *settings, SetUpCommands(outcome.Lines())}, out, err);
}

} // namespace kelvara::cli
