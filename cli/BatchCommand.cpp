// kelvara-cli setting up many modules in a row: module after module on one port, a value of its
// own for each when a field is counted, and a record of each module attempted that a batch
// started again continues from.
#include "CliSession.h"
#include "Command.h"

#include "BatchRun.h"
#include "Printable.h"
#include "RecordFile.h"

namespace kelvara::cli {

using namespace kelvara::link;

namespace {

// "set up", or "failed: COMMAND: WHY": a module's end as printed.
std::string OutcomeText(const std::optional<TOutcome>& failure) {
    if (!failure)
        return std::string(kRecordSetUp);
    return std::string(kRecordFailed) + ": " + Printable(failure->Command, 256) + ": " +
           FailureText(*failure);
}

std::string AwaitedText(TAwaited what, const std::string& port) {
    switch (what) {
    case TAwaited::Module:
        return "waiting for a module";
    case TAwaited::Removal:
        return "done; waiting for the module to be removed";
    case TAwaited::Port:
        break;
    }
    return "waiting for " + Printable(port);
}

} // namespace

int RunBatch(const TBatchJob& job, const TTalkRequest& request, const std::string& recordPath,
             std::ostream& out, std::ostream& err) {
    // The record, read and checked, and every value to give, before anything is sent.
    TRecordFile record;
    std::vector<TRecordRow> rows;
    if (!recordPath.empty()) {
        std::string why;
        if (!record.Open(recordPath, rows, why)) {
            err << kProgram << ": " << Printable(recordPath) << ": " << why << '\n';
            return kExitUsage;
        }
    }
    auto made = TBatchPlan::Make(job, rows);
    if (const auto* refused = std::get_if<TBatchRefusal>(&made)) {
        err << kProgram << ": " << Printable(refused->Record ? recordPath : refused->Option)
            << ": " << refused->Text << '\n';
        return refused->Record ? kExitUsage : kExitRejected;
    }
    TBatchPlan& plan = std::get<TBatchPlan>(made);

    TCliSession session(request.Port, out, err);
    if (const int status = session.OpenWhenThere(request.Settings.BaudRate); status != kExitOk)
        return session.Finish(status);
    auto owned = std::make_unique<TBatchRun>(plan, request.Settings);
    TBatchRun* run = owned.get();
    std::optional<TModuleTaken> underWay;
    session.OnFirstInterrupt([&] {
        if (!run || !run->SettingUp())
            return false;
        err << kProgram << ": stopping once module " << run->Attempts()
            << " is set up (interrupt again to stop at once)\n";
        session.Session().Stop();
        return true;
    });

    // Each module's row is on disk before the next module is taken.
    const auto end = [&](std::size_t attempt, const TFields& fields,
                         const std::optional<TOutcome>& failure) {
        std::string why;
        if (!recordPath.empty() && !record.Append(plan.Row(request.Port, fields, failure), why)) {
            err << kProgram << ": " << Printable(recordPath) << ": cannot be written: " << why
                << '\n';
            session.StopAtOnce(kExitRejected);
            return;
        }
        session.Progress().Clear();
        session.Print(std::to_string(attempt) + '\t' + BatchValues(job.Source.Kind, fields) + '\t' +
                      OutcomeText(failure));
    };
    const auto result = session.Run(std::move(owned), [&](const TEvent& event) {
        if (const auto* awaited = std::get_if<TModuleAwaited>(&event)) {
            session.Progress().Show(awaited->Done, awaited->Modules,
                                    AwaitedText(awaited->What, request.Port));
        } else if (const auto* taken = std::get_if<TModuleTaken>(&event)) {
            underWay = *taken;
            session.Progress().Show(plan.Done(), job.Modules,
                                    "sending " + BatchValues(job.Source.Kind, taken->Fields));
        } else if (const auto* ended = std::get_if<TModuleEnded>(&event)) {
            underWay.reset();
            end(ended->Attempt, ended->Fields, ended->Failure);
        } else if (std::holds_alternative<TFinished>(event)) {
            run = nullptr;
        }
    });
    run = nullptr;
    // A module stopped at once, part-way through its list, is recorded as such.
    if (underWay && !result && !session.StoppedWith())
        end(underWay->Attempt, underWay->Fields,
            TOutcome{.Verdict = TVerdict::ConnectionLost, .Command = "(stopped at once)"});
    session.Progress().Clear();
    if (const auto status = session.StoppedWith())
        return session.Finish(*status);
    if (plan.Complete())
        return session.Finish(kExitOk);
    err << kProgram << ": interrupted; " << plan.Done() << " of " << job.Modules
        << " modules set up\n";
    return session.Finish(kExitInterrupted);
}

} // namespace kelvara::cli
