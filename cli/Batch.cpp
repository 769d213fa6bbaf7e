// kelvara-cli setting up many modules in a row: module after module on one port, a value of its
// own for each when a field is counted, and a record of each module attempted that a batch
// started again continues from.
#include "BatchPlan.h"
#include "ListSender.h"
#include "PresenceWatch.h"
#include "Session.h"

namespace kelvara::cli {

int RunBatch(const TBatchRequest& batch, std::ostream& out, std::ostream& err) {
    // The record, read and checked, and every value to give, before anything is sent.
    TRecordFile record;
    std::vector<TRecordRow> rows;
    if (!batch.Record.empty()) {
        std::string why;
        if (!record.Open(batch.Record, rows, why)) {
            err << kProgram << ": " << Printable(batch.Record) << ": " << why << '\n';
            return kExitUsage;
        }
    }
    const TBatchJob job{batch.List, batch.Fields, batch.Count, batch.Modules, batch.Build};
    auto made = TBatchPlan::Make(job, rows);
    if (const auto* refused = std::get_if<TBatchRefusal>(&made)) {
        err << kProgram << ": " << Printable(refused->Record ? batch.Record : refused->Option)
            << ": " << refused->Text << '\n';
        return refused->Record ? kExitUsage : kExitRejected;
    }
    const TBatchPlan& plan = std::get<TBatchPlan>(made);

    TSession session(batch.Talk.Port, out, err);
    TModuleLink& link = session.Link();
    const TSendSettings& settings = batch.Talk.Settings;
    bool sending = false;
    bool stopAfterModule = false;
    std::size_t attempt = 0;
    session.OnFirstInterrupt([&] {
        if (!sending)
            return false;
        err << kProgram << ": stopping once module " << attempt
            << " is set up (interrupt again to stop at once)\n";
        stopAfterModule = true;
        return true;
    });

    std::size_t done = 0;
    while (done < batch.Modules && !stopAfterModule && !session.StoppedAtOnce()) {
        if (!link.IsOpen()) {
            session.Progress().Show(done, batch.Modules, "waiting for " + Printable(batch.Talk.Port));
            if (const int status = session.WaitForPort(settings.BaudRate);
                status != kExitOk)
                return session.Finish(status == kExitInterrupted ? session.ReportInterrupted() : status);
        }
        session.Progress().Show(done, batch.Modules, "waiting for a module");
        const auto arrived = session.Run(std::make_unique<TPresenceWatch>(
                                             TPresenceWatch::TAwait::Arrival, settings.BaudRate,
                                             settings.LineEnd),
                                         {});
        if (!arrived || *arrived == TResult::Cancelled)
            break;
        if (*arrived != TResult::Completed)
            continue; // the port went away: wait for it to come back

        ++attempt;
        const TFields fields = plan.FieldsFor(done);
        const TCommandListOutcome outcome = batch.Build(fields);
        std::optional<TEvent> failure;
        sending = true;
        session.Progress().Show(done, batch.Modules, "sending " + BatchValues(job, fields));
        const auto result = session.Run(
            std::make_unique<TListSender>(SetUpCommands(outcome.List()), settings),
            [&](const TEvent& event) {
                if (event.IsOutcome() && event.Kind != TEventKind::Acknowledged)
                    failure = event;
            });
        sending = false;
        if (!result && !failure)
            failure = TEvent{.Kind = TEventKind::ConnectionLost, .Command = "(stopped at once)"};
        const bool ok = result && *result == TResult::Completed;

        const TRecordRow row = plan.Row(batch.Talk.Port, fields, ok ? std::nullopt : failure);
        std::string why;
        if (!batch.Record.empty() && !record.Append(row, why)) {
            err << kProgram << ": " << Printable(batch.Record) << ": cannot be written: " << why
                << '\n';
            return session.Finish(kExitRejected);
        }
        session.Progress().Clear();
        session.Print(std::to_string(attempt) + '\t' + BatchValues(job, fields) + '\t' +
                      (ok ? std::string(kRecordSetUp)
                          : std::string(kRecordFailed) + ": " + Printable(failure->Command, 256) +
                                ": " + FailureText(*failure)));
        if (ok)
            ++done;
        if (!result || done == batch.Modules || stopAfterModule)
            break;

        // The next module is taken once this one has gone for good.
        session.Progress().Show(done, batch.Modules, "done; waiting for the module to be removed");
        const auto gone = session.Run(std::make_unique<TPresenceWatch>(
                                          TPresenceWatch::TAwait::Departure, settings.BaudRate,
                                          settings.LineEnd),
                                      {});
        if (!gone || *gone == TResult::Cancelled)
            break;
        if (!link.IsOpen()) {
            // Its own adapter went with it: the next comes with another, a second later at least.
            QEventLoop pause;
            QTimer::singleShot(kGoneAfterMs, &pause, &QEventLoop::quit);
            pause.exec();
        }
    }
    session.Progress().Clear();
    if (done == batch.Modules)
        return session.Finish(kExitOk);
    err << kProgram << ": interrupted; " << done << " of " << batch.Modules
        << " modules set up\n";
    return session.Finish(kExitInterrupted);
}

} // namespace kelvara::cli
