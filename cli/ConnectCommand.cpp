// kelvara-cli connect: a connection to a remote device, and a data session over it.
#include "CliSession.h"
#include "Command.h"
#include "Input.h"

#include "Connection.h"
#include "Lines.h"
#include "LinkShare.h"
#include "LinkLog.h"
#include "Printable.h"

#include <QTimer>

#include <optional>
#include <utility>

namespace kelvara::cli {

using namespace kelvara::link;

namespace {

bool IsType(std::string_view type) {
    return type.size() == 1 && std::isalnum(static_cast<unsigned char>(type.front()));
}

class TConnectCommand : public TLineCommand {
  public:
    TConnectCommand()
        : TLineCommand({"connect",
                        {{"type", "0"}, {"seconds", "2"}, {"rejoin", ""}, {"timestamps", ""}, {"share", ""}},
                        TSyntax::TTakes::SendSettings,
                        true,
                        {"rejoin", "timestamps"}},
                       true) {}

  protected:
    int Run(const TCommandLine& line, std::ostream& out, std::ostream& err) const override {
        int status = kExitOk;
        const TOptions& values = line.Parsed.Values;
        if (line.Parsed.Operands.empty())
            return UsageError(err, "'connect' needs the device's ADDRESS");
        const auto address = DeviceAddress(line.Parsed.Operands.front());
        if (!address)
            return UsageError(err, "ADDRESS takes 12 hexadecimal digits, with or without ':' "
                                   "between the bytes, not '" +
                                       Printable(line.Parsed.Operands.front()) + "'");
        if (!IsType(values.at("type")))
            return UsageError(err, "--type takes one letter or digit, not '" +
                                       Printable(values.at("type")) + "'");
        const auto seconds = ParseNumber(values.at("seconds"), 0, 3600);
        if (!seconds)
            return UsageError(err, "--seconds takes 0 to 3600, not '" +
                                       Printable(values.at("seconds")) + "'");
        std::optional<TShareRequest> share;
        if (const std::string& text = values.at("share"); !text.empty()) {
            std::string why;
            if (share = ParseShare(text, why); !share)
                return UsageError(err, "--share " + Printable(text) + ": " + why);
        }
        TCliSession session(line.Request.Port, out, err);
        if (!session.LogTo(line.Request.LogPath))
            return kExitLog;
        TSendSettings settings = line.Request.Settings;
        if (status = session.Connect(line.Request, settings); status != kExitOk)
            return status;
        const TTalkOptions options{.Seconds = *seconds,
                                   .Rejoin = !values.at("rejoin").empty(),
                                   .Timestamps = !values.at("timestamps").empty(),
                                   .Share = share};
        return Talk(session, values.at("type").front(), *address, settings, options, err);
    }

  private:
    struct TTalkOptions {
        int Seconds = 2;
        bool Rejoin = false;     // the link rejoined when it drops
        bool Timestamps = false; // each line the device sends printed after its time
        std::optional<TShareRequest> Share; // the link shared with another program
    };

    int Talk(TCliSession& session, char type, const std::string& address,
             const TSendSettings& settings, const TTalkOptions& options, std::ostream& err) const {
        const int seconds = options.Seconds;
        // The connection is the session's: it is asked for each time, never kept.
        const auto drive = [&](auto call) { session.Session().DriveAs<TConnection>(std::move(call)); };
        const bool terminal = IsTerminal(0);
        // On a terminal each line typed is data; otherwise standard input's bytes as they are,
        // and once it ends, what arrives for `seconds` more.
        std::string typed;
        bool inputEnded = false;
        QTimer last;
        last.setSingleShot(true);
        QObject::connect(&last, &QTimer::timeout, [&] { drive([](TConnection& c, Ms now) { return c.Disconnect(now); }); });
        std::optional<TInputReader> input;
        input.emplace([&](std::string_view piece) {
            if (piece.empty()) {
                inputEnded = true;
                input->SetEnabled(false);
                // A shared link is the sharing program's as long as it likes: until Ctrl+C.
                if (options.Share)
                    return;
                if (terminal)
                    drive([](TConnection& c, Ms now) { return c.Disconnect(now); });
                else
                    last.start(seconds * 1000);
                return;
            }
            // Data goes over a connection that stands, or waits in it for the rejoin (what was read
            // just as the link dropped); never over one being ended.
            const TConnection* connection = session.Session().Running<TConnection>();
            if (!connection || !(connection->Connected() || connection->Rejoining()))
                return;
            if (!terminal) {
                drive([bytes = std::string(piece)](TConnection& c, Ms now) { return c.SendRaw(bytes, now); });
                return;
            }
            typed.append(piece);
            for (std::size_t end; (end = typed.find('\n')) != std::string::npos;) {
                const std::string text = typed.substr(0, end);
                typed.erase(0, end + 1);
                drive([text](TConnection& c, Ms now) { return c.Send(text, now); });
            }
        });
        // The share takes the device's bytes as they come, and gives its program's to the device
        // as standard input's are.
        std::optional<TLinkShare> shared;
        if (options.Share) {
            shared.emplace();
            std::string why;
            if (!shared->Start(*options.Share, why)) {
                err << kProgram << ": the link cannot be shared: " << Printable(why, 256) << '\n';
                return session.Finish(kExitPort);
            }
            err << kProgram << ": the link is shared on " << Printable(shared->Where()) << '\n';
            QObject::connect(&*shared, &TLinkShare::news, [&](const QString& what) {
                session.LogNote("share: " + what.toStdString());
            });
            // Until the link stands (or while it is rejoined), the program's bytes wait in it.
            QObject::connect(&*shared, &TLinkShare::toDevice, [&](const std::string& bytes) {
                drive([bytes](TConnection& c, Ms now) { return c.SendRaw(bytes, now); });
            });
        }
        input->SetEnabled(false); // until connected

        // With times, the device's bytes are printed line by line, a line held part-way printed
        // once the device is quiet.
        TLineSplitter lines;
        QTimer quiet;
        quiet.setSingleShot(true);
        quiet.setInterval(kQuietGapMs);
        const auto printLine = [&](const std::string& line) {
            session.Print(Iso8601(WallNow()) + ' ' + ShownReply(line));
        };
        QObject::connect(&quiet, &QTimer::timeout, [&] {
            if (lines.Holding())
                printLine(lines.Flush());
        });

        std::optional<TOutcome> refused;
        std::optional<TConnectionState> state;
        const auto result = session.Run(std::make_unique<TConnection>(type, address, settings, kQuietGapMs, options.Rejoin),
                                        [&](const TEvent& event) {
            if (const auto* data = std::get_if<TData>(&event)) {
                if (shared)
                    shared->FromDevice(data->Bytes);
                if (!options.Timestamps) {
                    session.Print(ShownReply(data->Bytes));
                    return;
                }
                for (const std::string& line : lines.Feed(data->Bytes))
                    printLine(line);
                quiet.start();
            } else if (const auto* unasked = std::get_if<TUnasked>(&event)) {
                session.Print('\t' + ShownReply(unasked->Bytes));
            } else if (const auto* outcome = std::get_if<TOutcome>(&event)) {
                if (!outcome->Acknowledged())
                    refused = *outcome;
            } else if (const auto* seen = std::get_if<TConnectionState>(&event)) {
                state = *seen;
                const TConnection* connection = session.Session().Running<TConnection>();
                const bool rejoining = connection && connection->Rejoining();
                // While the link is down the module takes commands: what is piped waits in the pipe.
                if (seen->State == TLinkState::Connected && !inputEnded)
                    input->SetEnabled(true);
                else if (rejoining)
                    input->SetEnabled(false);
                if (seen->State == TLinkState::Connected && seen->Try == 0)
                    err << kProgram << ": connected to " << address << '\n';
                else if (seen->State == TLinkState::Connected || rejoining)
                    err << kProgram << ": " << Printable(LinkNews(*seen))
                        << (seen->State == TLinkState::Dropped ? "; rejoining" : "") << '\n';
            } else if (std::holds_alternative<TFinished>(event)) {
                input->SetEnabled(false);
                last.stop();
                if (lines.Holding())
                    printLine(lines.Flush());
            }
        });
        if (!result || *result == TResult::Cancelled)
            return session.Finish(session.ReportInterrupted());
        if (session.Lost())
            return session.Finish(session.ReportPortLost());
        if (*result == TResult::Completed)
            return session.Finish(kExitOk);
        if (refused) {
            err << FailureLine(*refused);
        } else if (state && state->State == TLinkState::Dropped) {
            err << kProgram << ": " << address << ": the connection dropped ("
                << Printable(state->Answer) << ")\n";
        } else {
            const std::string answer = state ? state->Answer : std::string();
            err << FailureLine(ConnectCommand(type, address),
                               answer.empty() ? "no connection within " + std::to_string(settings.TimeoutMs) + " ms"
                                              : "the connection failed (" + Printable(answer) + ")");
        }
        return session.Finish(kExitNotAcknowledged);
    }
};

} // namespace

std::unique_ptr<TCommand> MakeConnectCommand() { return std::make_unique<TConnectCommand>(); }

} // namespace kelvara::cli
