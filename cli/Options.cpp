#include "Options.h"

#include "CommandFile.h"
#include "Printable.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <istream>

namespace kelvara::cli {

namespace {

// The options that only talking to a module takes (the settings and the log), and --port itself.
constexpr std::array<std::string_view, 5> kSendSettingOptions = {"baud", "line-end", "timeout",
                                                                 "pause", "log"};

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
    if (const auto log = options.find("log"); log != options.end()) {
        if (log->second.empty()) {
            UsageError(err, "option '--log' needs a file");
            return false;
        }
        request.LogPath = log->second;
    }
    return read("baud", "a standard rate from 1200 to 230400, or auto", baudRate,
                settings.BaudRate) &&
           read("line-end", "none, cr, lf or crlf", link::LineEndFromName, settings.LineEnd) &&
           read("timeout", "1 to 60000 milliseconds",
                milliseconds(link::kMinTimeoutMs, link::kMaxTimeoutMs), settings.TimeoutMs) &&
           read("pause", "0 to 10000 milliseconds",
                milliseconds(link::kMinPauseMs, link::kMaxPauseMs), settings.PauseMs);
}

} // namespace

bool IsHelp(std::string_view arg) { return arg == "--help" || arg == "-h"; }

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

std::optional<TParsed> ParseOptions(const TSyntax& syntax, std::span<const std::string_view> args,
                                    std::ostream& err) {
    TParsed parsed;
    parsed.Values = syntax.Defaults;
    const bool takesOperand = syntax.Operand;
    const bool listCommand = syntax.Takes == TSyntax::TTakes::ListOptions;
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
        if (std::find(syntax.Flags.begin(), syntax.Flags.end(), name) != syntax.Flags.end()) {
            if (value)
                return UsageError(err, "option '--" + std::string(name) + "' takes no value"), std::nullopt;
            parsed.Values[std::string(name)] = "1";
            continue;
        }
        if (name == "commands" && listCommand) {
            if (value)
                return UsageError(err, "option '--commands' takes no value"), std::nullopt;
            parsed.CommandsOnly = true;
            continue;
        }
        const bool sendOption = syntax.Takes == TSyntax::TTakes::PortOnly
                                    ? name == "port" || name == "log"
                                    : IsSendOption(name) || (listCommand && IsBatchOption(name));
        TOptions& target = sendOption ? parsed.SendOptions : parsed.Values;
        auto option = sendOption ? target.try_emplace(std::string(name)).first : target.find(name);
        if (option == target.end()) {
            return UsageError(err, "unknown option '--" + Printable(name) + "' for '" +
                                       std::string(syntax.Name) + "'"),
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
        if (sendOption && name == "port")
            parsed.Ports.push_back(option->second);
    }
    return parsed;
}

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

std::optional<TCommandLine> ParseCommandLine(const TSyntax& syntax,
                                             std::span<const std::string_view> args,
                                             bool portRequired, std::ostream& out,
                                             std::ostream& err, int& status) {
    status = kExitUsage;
    auto parsed = ParseOptions(syntax, args, err);
    if (!parsed)
        return std::nullopt;
    if (parsed->Help) {
        status = PrintHelp(out);
        return std::nullopt;
    }
    // The whole command line is checked before any field.
    auto request = TalkRequest(*parsed, portRequired, err);
    if (!request)
        return std::nullopt;
    return TCommandLine{std::move(*parsed), std::move(*request)};
}

std::string ReadAll(std::istream& in) {
    std::string text;
    char buffer[65536];
    while (text.size() <= kMaxCommandFileBytes &&
           in.read(buffer, sizeof buffer).gcount() > 0)
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    return text;
}

} // namespace kelvara::cli
