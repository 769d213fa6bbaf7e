// kelvara-cli scan: the remote devices a module in the master role finds, one a line as found.
#include "CliSession.h"
#include "Command.h"

#include "Printable.h"
#include "Scan.h"

namespace kelvara::cli {

using namespace kelvara::link;

namespace {

class TScanCommand : public TLineCommand {
  public:
    TScanCommand()
        : TLineCommand({"scan", {{"seconds", std::to_string(kDefaultScanSeconds)}},
                        TSyntax::TTakes::SendSettings},
                       true) {}

  protected:
    int Run(const TCommandLine& line, std::ostream& out, std::ostream& err) const override {
        int status = kExitOk;
        const auto seconds = ParseNumber(line.Parsed.Values.at("seconds"), 1, 3600);
        if (!seconds)
            return UsageError(err, "--seconds takes 1 to 3600, not '" +
                                       Printable(line.Parsed.Values.at("seconds")) + "'");
        TCliSession session(line.Request.Port, out, err);
        if (!session.LogTo(line.Request.LogPath))
            return kExitLog;
        TSendSettings settings = line.Request.Settings;
        if (status = session.Connect(line.Request, settings); status != kExitOk)
            return status;
        std::optional<TOutcome> refused;
        // The scan was acknowledged once its command was: then it is the scan that ran long.
        bool acknowledged = false;
        const auto result = session.Run(std::make_unique<TScan>(settings, *seconds), [&](const TEvent& event) {
            if (const auto* device = std::get_if<TDeviceFound>(&event)) {
                session.Print(std::string(1, device->Type) + '\t' + device->Address + '\t' +
                              Printable(device->Name, 256));
            } else if (const auto* unasked = std::get_if<TUnasked>(&event)) {
                session.Print('\t' + ShownReply(unasked->Bytes));
            } else if (const auto* outcome = std::get_if<TOutcome>(&event)) {
                if (outcome->Acknowledged())
                    acknowledged = true;
                else
                    refused = *outcome;
            }
        });
        if (!result || *result == TResult::Cancelled)
            return session.Finish(session.ReportInterrupted());
        if (*result == TResult::Completed)
            return session.Finish(kExitOk);
        if (session.Lost())
            return session.Finish(session.ReportPortLost());
        if (refused)
            err << FailureLine(*refused);
        else if (acknowledged)
            err << kProgram << ": the scan did not end within " << *seconds << " s\n";
        return session.Finish(kExitNotAcknowledged);
    }
};

} // namespace

std::unique_ptr<TCommand> MakeScanCommand() { return std::make_unique<TScanCommand>(); }

} // namespace kelvara::cli
