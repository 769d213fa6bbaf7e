#pragma once

// A subcommand of kelvara-cli: its name, and how it runs on the arguments after the name.

#include "BatchPlan.h"
#include "Options.h"

#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace kelvara::cli {

class TCommand {
  public:
    virtual ~TCommand() = default;
    virtual std::string_view Name() const = 0;
    // Output goes to out; rejections, usage errors and failures to err. Returns the exit status.
    virtual int Run(std::span<const std::string_view> args, std::ostream& out,
                    std::ostream& err) const = 0;
};

// A subcommand whose command line (its options, the port and the settings) is read the common
// way; it runs on what was read.
class TLineCommand : public TCommand {
  public:
    TLineCommand(TSyntax syntax, bool portRequired)
        : syntax_(std::move(syntax)), portRequired_(portRequired) {}
    std::string_view Name() const override { return syntax_.Name; }
    int Run(std::span<const std::string_view> args, std::ostream& out,
            std::ostream& err) const final {
        int status = kExitOk;
        const auto line = ParseCommandLine(syntax_, args, portRequired_, out, err, status);
        return line ? Run(*line, out, err) : status;
    }

  protected:
    virtual int Run(const TCommandLine& line, std::ostream& out, std::ostream& err) const = 0;

  private:
    TSyntax syntax_;
    bool portRequired_;
};

std::unique_ptr<TCommand> MakeListCommand(TListKind list); // study, ibeacon
std::unique_ptr<TCommand> MakeSendCommand();
std::unique_ptr<TCommand> MakeFindCommand();
std::unique_ptr<TCommand> MakePortsCommand();
std::unique_ptr<TCommand> MakeScanCommand();
std::unique_ptr<TCommand> MakeConnectCommand();

// Sends the commands as a list, printing each acknowledged one on out and a failure on err.
int SendCommands(const TTalkRequest& request, const std::vector<std::string>& commands,
                 std::ostream& out, std::ostream& err);
// Sets up the job's modules one after another on each port, all ports at once, printing a line
// for each and recording it in the record (when given).
int RunBatch(const link::TBatchJob& job, const TTalkRequest& request,
             const std::vector<std::string>& ports, const std::string& record, std::ostream& out,
             std::ostream& err);

} // namespace kelvara::cli
