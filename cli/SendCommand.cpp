// kelvara-cli send: the commands of a file (or of standard input) sent as a list, or, on a
// terminal, each line typed sent as it is entered. And the sending of any list.
#include "CliSession.h"
#include "Command.h"
#include "Input.h"

#include "CommandFile.h"
#include "Console.h"
#include "ListSender.h"
#include "Printable.h"

#include <fstream>
#include <iostream>

namespace kelvara::cli {

using namespace kelvara::link;

namespace {

// Sends each line typed on standard input (a terminal) as it is entered, until end of input.
int TalkInteractively(const TTalkRequest& request, std::ostream& out, std::ostream& err) {
    TCliSession session(request.Port, out, err);
    if (!session.LogTo(request.LogPath))
        return kExitLog;
    TSendSettings settings = request.Settings;
    if (const int status = session.Connect(request, settings); status != kExitOk)
        return status;
    // The console is the session's: it is asked for each time, never kept.
    const auto console = [&] { return session.Session().Running<TConsole>(); };

    // Lines typed are read as the terminal hands them over, each sent when it is complete.
    std::string pending;
    std::size_t lineNumber = 0;
    TInputReader input([&](std::string_view piece) {
        pending.append(piece);
        const bool ended = piece.empty();
        std::size_t end = 0;
        while ((end = pending.find('\n')) != std::string::npos || (ended && !pending.empty())) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end == std::string::npos ? pending.size() : end + 1);
            auto read = ReadCommandLine(line, ++lineNumber);
            if (const auto* refused = std::get_if<TCommandFileError>(&read))
                err << kProgram << ": line " << refused->Line << ": " << refused->Reason << '\n';
            else if (!std::get<std::string>(read).empty() && console() && !console()->Ending())
                session.Session().DriveAs<TConsole>(
                    [command = std::move(std::get<std::string>(read))](TConsole& c, Ms now) mutable {
                        return c.Submit(std::move(command), now);
                    });
        }
        if (pending.size() > kMaxCommandBytes * 4)
            pending.clear(); // a line far too long to be a command
        if (ended) {
            input.SetEnabled(false);
            session.Session().DriveAs<TConsole>([](TConsole& c, Ms now) { return c.End(now); });
        }
    });

    const auto result = session.Run(std::make_unique<TConsole>(settings.LineEnd, settings.TimeoutMs),
                                    [&](const TEvent& event) {
        if (const auto* outcome = std::get_if<TOutcome>(&event)) {
            if (outcome->Acknowledged())
                session.Print(AcknowledgedLine(*outcome));
            else
                err << FailureLine(*outcome);
        } else if (const auto* notSent = std::get_if<TNotSent>(&event)) {
            err << FailureLine(notSent->Command, std::string(kNotSentText));
        } else if (const auto* unasked = std::get_if<TUnasked>(&event)) {
            session.Print('\t' + ShownReply(unasked->Bytes));
        }
    });
    if (session.Lost())
        return session.Finish(session.ReportPortLost());
    if (!result || *result == TResult::Cancelled)
        return session.Finish(session.ReportInterrupted());
    return session.Finish(kExitOk);
}

class TSendCommand : public TLineCommand {
  public:
    TSendCommand() : TLineCommand({"send", {}, TSyntax::TTakes::SendSettings, true}, true) {}

  protected:
    int Run(const TCommandLine& line, std::ostream& out, std::ostream& err) const override {
        const TParsed* parsed = &line.Parsed;
        const TTalkRequest* request = &line.Request;
        const std::string file =
            parsed->Operands.empty() ? std::string("-") : std::string(parsed->Operands.front());
        if (file == "-" && IsTerminal(0))
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
        return SendCommands(*request, std::get<std::vector<std::string>>(commands), out, err);
    }
};

} // namespace

int SendCommands(const TTalkRequest& request, const std::vector<std::string>& commands,
                 std::ostream& out, std::ostream& err) {
    TCliSession session(request.Port, out, err);
    if (!session.LogTo(request.LogPath))
        return kExitLog;
    TSendSettings settings = request.Settings;
    if (const int status = session.Connect(request, settings); status != kExitOk)
        return status;
    std::optional<TOutcome> failure;
    const auto result = session.Run(
        std::make_unique<TListSender>(commands, settings), [&](const TEvent& event) {
            if (const auto* written = std::get_if<TWritten>(&event)) {
                session.Progress().Show(written->Index, commands.size(), Printable(written->Command));
            } else if (const auto* outcome = std::get_if<TOutcome>(&event)) {
                if (!outcome->Acknowledged()) {
                    failure = *outcome;
                    return;
                }
                session.Progress().Clear();
                session.Print(AcknowledgedLine(*outcome));
            }
        });
    // A command cut off by the port going away failed for the port, not for the module.
    const auto failed = [&] {
        err << FailureLine(*failure);
        return failure->Verdict == TVerdict::ConnectionLost || session.Lost() ? kExitPort
                                                                             : kExitNotAcknowledged;
    };
    if (!result || *result == TResult::Cancelled) {
        // A command that failed while stopping is what happened to the module.
        return session.Finish(failure ? failed() : session.ReportInterrupted());
    }
    if (*result == TResult::Failed)
        return session.Finish(failure ? failed() : session.ReportPortLost());
    return session.Finish(kExitOk);
}

std::unique_ptr<TCommand> MakeSendCommand() { return std::make_unique<TSendCommand>(); }

} // namespace kelvara::cli
