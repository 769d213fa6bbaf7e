#include "Cli.h"

#include "BeaconCommandList.h"
#include "StudyCommandList.h"

#include <map>
#include <optional>
#include <ostream>
#include <string>

namespace kelvara::cli {

namespace {

constexpr std::string_view kProgram = "kelvara-cli";
constexpr std::string_view kVersion = "kelvara-cli 1.02";

constexpr std::string_view kHelp = R"(Usage: kelvara-cli study   [--format 16|128] [--notify TEXT] [--write TEXT]
       kelvara-cli ibeacon [--uuid TEXT] [--major TEXT] [--minor TEXT]
       kelvara-cli --help | --version

Checks Bluetooth Low Energy identifiers and prints the AT commands that set up a module.

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

Options:
  --help      print this help and exit
  --version   print the version and exit

Options come in any order, as --option VALUE or --option=VALUE; the last of a
repeated option wins. Each TEXT is checked exactly as given, like a field of
the desktop program.

Output: the list on standard output, one line each. A rejected field gives
nothing on standard output and one line on standard error:
  kelvara-cli: --FIELD: MESSAGE

Exit status: 0 list printed, 1 field rejected, 2 usage error.
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

// Arguments may hold any bytes; show them in messages with control bytes escaped.
std::string Printable(std::string_view text) {
    constexpr std::size_t kMaxShown = 64;
    std::string shown;
    for (unsigned char c : text.substr(0, kMaxShown)) {
        if (c < 32 || c == 127) {
            static constexpr char kHex[] = "0123456789abcdef";
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 15];
        } else {
            shown += static_cast<char>(c);
        }
    }
    if (text.size() > kMaxShown)
        shown += "...";
    return shown;
}

int UsageError(std::ostream& err, const std::string& problem) {
    err << kProgram << ": " << problem << "\n"
        << "Usage: kelvara-cli study   [--format 16|128] [--notify TEXT] [--write TEXT]\n"
        << "       kelvara-cli ibeacon [--uuid TEXT] [--major TEXT] [--minor TEXT]\n"
        << "Try 'kelvara-cli --help' for more information.\n";
    return kExitUsage;
}

int PrintOutcome(const TCommandListOutcome& outcome, std::ostream& out, std::ostream& err) {
    if (outcome.IsRejection()) {
        // A rejection that moves focus nowhere names no option.
        const std::string_view option = OptionOf(outcome.FocusField());
        err << kProgram << ": ";
        if (!option.empty())
            err << option << ": ";
        err << outcome.Message() << '\n';
        return kExitRejected;
    }
    for (const std::string& line : outcome.Lines())
        out << line << '\n';
    out.flush();
    if (!out) {
        err << kProgram << ": could not write the list to standard output\n";
        return kExitRejected;
    }
    return kExitList;
}

} // namespace

int Run(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
    if (args.empty())
        return UsageError(err, "no command given");

    const std::string_view first = args.front();
    if (first == "--help") {
        out << kHelp;
        return kExitList;
    }
    if (first == "--version") {
        out << kVersion << '\n';
        return kExitList;
    }

    const TCommand* command = nullptr;
    if (first == kStudy.Name)
        command = &kStudy;
    else if (first == kBeacon.Name)
        command = &kBeacon;
    else
        return UsageError(err, "unknown command '" + Printable(first) + "'");

    auto values = command->Defaults;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help") {
            out << kHelp;
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
        const auto option = values.find(name);
        if (option == values.end()) {
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

    if (command == &kBeacon) {
        return PrintOutcome(
            BuildBeaconCommandList(values.at("uuid"), values.at("major"), values.at("minor")), out,
            err);
    }
    const std::string& format = values.at("format");
    if (format != "16" && format != "128")
        return UsageError(err, "--format takes 16 or 128, not '" + Printable(format) + "'");
    const TUuidFormat uuidFormat = format == "16" ? TUuidFormat::uf16Bit : TUuidFormat::uf128Bit;
    return PrintOutcome(BuildStudyCommandList(uuidFormat, values.at("notify"), values.at("write")),
                        out, err);
}

} // namespace kelvara::cli
