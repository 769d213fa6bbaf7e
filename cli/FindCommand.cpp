// kelvara-cli find: the baud rate and line ending at which the module answers "AT".
#include "CliSession.h"
#include "Command.h"

namespace kelvara::cli {

namespace {

class TFindCommand : public TCommand {
  public:
    std::string_view Name() const override { return syntax_.Name; }

    int Run(std::span<const std::string_view> args, std::ostream& out,
            std::ostream& err) const override {
        int status = kExitOk;
        const auto line = ParseCommandLine(syntax_, args, true, out, err, status);
        if (!line)
            return status;
        TCliSession session(line->Request.Port, out, err);
        link::TSendSettings settings;
        if (!session.Open(settings.BaudRate))
            return kExitPort;
        bool echoes = false;
        if (status = session.Find(settings, false, &echoes); status != kExitOk)
            return session.Finish(status);
        session.Print(std::to_string(settings.BaudRate) + ' ' +
                      std::string(link::LineEndName(settings.LineEnd)) + (echoes ? " echo" : ""));
        return session.Finish(kExitOk);
    }

  private:
    TSyntax syntax_{"find", {}, TSyntax::TTakes::PortOnly};
};

} // namespace

std::unique_ptr<TCommand> MakeFindCommand() { return std::make_unique<TFindCommand>(); }

} // namespace kelvara::cli
