// kelvara-cli find: the baud rate and line ending at which the module answers "AT".
#include "CliSession.h"
#include "Command.h"

namespace kelvara::cli {

namespace {

class TFindCommand : public TLineCommand {
  public:
    TFindCommand() : TLineCommand({"find", {}, TSyntax::TTakes::PortOnly}, true) {}

  protected:
    int Run(const TCommandLine& line, std::ostream& out, std::ostream& err) const override {
        int status = kExitOk;
        TCliSession session(line.Request.Port, out, err);
        if (!session.LogTo(line.Request.LogPath))
            return kExitLog;
        link::TSendSettings settings;
        if (!session.Open(settings))
            return kExitPort;
        bool echoes = false;
        if (status = session.Find(settings, false, &echoes); status != kExitOk)
            return session.Finish(status);
        session.Print(std::to_string(settings.BaudRate) + ' ' +
                      std::string(link::LineEndName(settings.LineEnd)) + (echoes ? " echo" : ""));
        return session.Finish(kExitOk);
    }
};

} // namespace

std::unique_ptr<TCommand> MakeFindCommand() { return std::make_unique<TFindCommand>(); }

} // namespace kelvara::cli
