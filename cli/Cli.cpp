#include "Cli.h"

#include "Command.h"
#include "Printable.h"

#include <ostream>

namespace kelvara::cli {

int Run(std::span<const std::string_view> args, std::ostream& out, std::ostream& err) {
    if (args.empty())
        return UsageError(err, "no command given");
    const std::string_view first = args.front();
    if (IsHelp(first))
        return PrintHelp(out);
    if (first == "--version") {
        out << kVersion << '\n';
        return kExitOk;
    }
    const std::unique_ptr<TCommand> commands[] = {MakeListCommand(TListKind::Study),
                                                  MakeListCommand(TListKind::Beacon),
                                                  MakeSendCommand(), MakeFindCommand(),
                                                  MakePortsCommand(), MakeScanCommand(),
                                                  MakeConnectCommand()};
    for (const auto& command : commands) {
        if (command->Name() == first)
            return command->Run(args.subspan(1), out, err);
    }
    return UsageError(err, "unknown command '" + Printable(first) + "'");
}

} // namespace kelvara::cli
