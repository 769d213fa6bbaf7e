// kelvara-cli ports: the serial ports found, one a line.
#include "Command.h"

#include "Printable.h"
#include "SerialPorts.h"

#include <ostream>

namespace kelvara::cli {

namespace {

std::string Shown(const QString& text) { return Printable(text.toStdString(), 256); }

class TPortsCommand : public TCommand {
  public:
    std::string_view Name() const override { return "ports"; }

    int Run(std::span<const std::string_view> args, std::ostream& out,
            std::ostream& err) const override {
        if (!args.empty())
            return UsageError(err, "'ports' takes no options, not '" + Printable(args.front()) + "'");
        for (const link::TPortDescription& port : link::AvailablePorts())
            out << Shown(port.Name) << '\t' << Shown(port.Description) << '\n';
        out.flush();
        if (!out) {
            err << kProgram << ": could not write to standard output\n";
            return kExitRejected;
        }
        return kExitOk;
    }
};

} // namespace

std::unique_ptr<TCommand> MakePortsCommand() { return std::make_unique<TPortsCommand>(); }

} // namespace kelvara::cli
