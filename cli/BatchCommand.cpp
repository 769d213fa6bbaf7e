// kelvara-cli setting up many modules: module after module on each port, all ports at once, a
// value of its own for each module when a field is counted, and a record of each module
// attempted that a batch started again continues from.
#include "CliSession.h"
#include "Command.h"

#include "BatchPorts.h"
#include "Printable.h"


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

// A batch as kelvara-cli shows it: a line a module on standard output, the progress of each
// port on a terminal, and what stopped it on standard error.
class TBatchFront {
  public:
    TBatchFront(const TBatchJob& job, TBatchPlan& plan,
                const std::vector<std::string>& ports, TCliSession& cli)
        : job_(job), plan_(plan), cli_(cli), several_(ports.size() > 1),
          states_(ports.size()) {}

    // A line on standard output: the module, its port when there are several, its values and
    // what became of it.
    void Print(std::size_t port, std::size_t module, const TFields& fields,
               const std::optional<TOutcome>& failure) {
        cli_.Progress().Clear();
        cli_.Print(std::to_string(module) + '\t' + (several_ ? Printable(Name(port)) + '\t' : "") +
                   BatchValues(job_.Source.Kind, fields) + '\t' + OutcomeText(failure));
    }

    void Seen(std::size_t port, std::size_t module, const TEvent& event) {
        if (const auto* awaited = std::get_if<TModuleAwaited>(&event)) {
            Show(port, AwaitedText(awaited->What, Name(port)));
        } else if (const auto* taken = std::get_if<TModuleTaken>(&event)) {
            Show(port, "sending " + BatchValues(job_.Source.Kind, taken->Fields));
        } else if (const auto* ended = std::get_if<TModuleEnded>(&event)) {
            Print(port, module, ended->Fields, ended->Failure);
        }
    }

    TBatchPorts* Batch = nullptr;

  private:
    const std::string& Name(std::size_t port) const { return Batch->Name(port); }

    void Show(std::size_t port, const std::string& state) {
        if (!several_) {
            cli_.Progress().Show(plan_.Done(), job_.Modules, state);
            return;
        }
        states_[port] = state;
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < Batch->Ports(); ++i)
            lines.push_back('[' + std::to_string(plan_.Done()) + '/' + std::to_string(job_.Modules) +
                            "] " + Printable(Name(i)) + ": " + states_[i]);
        cli_.Progress().ShowLines(lines);
    }

    const TBatchJob& job_;
    TBatchPlan& plan_;
    TCliSession& cli_;
    bool several_;
    std::vector<std::string> states_;
};

} // namespace

int RunBatch(const TBatchJob& job, const TTalkRequest& request,
             const std::vector<std::string>& ports, const std::string& recordPath,
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
    TRecordFile* const kept = recordPath.empty() ? nullptr : &record;

    TCliSession cli(ports.front(), out, err);
    if (!cli.LogTo(request.LogPath))
        return kExitLog;
    if (ports.size() > 1)
        cli.TagLog(ports.front());
    TBatchPorts batch(plan, request.Settings, kept);
    TBatchFront front(job, plan, ports, cli);
    front.Batch = &batch;
    if (ports.size() == 1) {
        // One port is waited for until it is there.
        if (const int status = cli.OpenWhenThere(request.Settings); status != kExitOk)
            return cli.Finish(status);
        batch.Add(ports.front(), cli.Session());
    } else {
        // Of several, a port that cannot be used is told, and the others go on.
        for (const std::string& name : ports) {
            auto session = cli.Session().Another();
            if (!session->Open(name, request.Settings.BaudRate)) {
                ReportOpenFailure(err, name, session->OpenFailure());
                continue;
            }
            // Refused at a replug, it is tried as long as a missing port is.
            cli.LogOtherPort(*session, name, request.Settings);
            batch.Own(name, std::move(session));
        }
        if (batch.Ports() == 0)
            return kExitPort;
    }
    QObject::connect(&batch, &TBatchPorts::batchEvent,
                     [&](std::size_t port, std::size_t module, const TEvent& event) {
                         // One port is this session's own, which logs its events itself; of
                         // several, each is a session of its own.
                         if (ports.size() > 1)
                             cli.LogOther(batch.Name(port), event);
                         front.Seen(port, module, event);
                     });
    QObject::connect(&batch, &TBatchPorts::recordFailed, [&](std::size_t, const QString& why) {
        err << kProgram << ": " << Printable(recordPath) << ": cannot be written: "
            << Printable(why.toStdString(), 256) << '\n';
        cli.StopAtOnce(kExitRejected);
    });
    QObject::connect(&batch, &TBatchPorts::finished, [&] { cli.Wake(); });
    // The first interrupt lets each port finish the module it is setting up; the second stops
    // every port at once.
    cli.OnFirstInterrupt([&] {
        if (ports.size() == 1 && !batch.SettingUp())
            return false;
        if (batch.SettingUp()) {
            if (ports.size() == 1)
                err << kProgram << ": stopping once module " << batch.UnderWay(0).value_or(0)
                    << " is set up (interrupt again to stop at once)\n";
            else
                err << kProgram << ": stopping once the modules under way are set up (interrupt "
                                   "again to stop at once)\n";
        }
        batch.Stop();
        return true;
    });
    cli.OnStopAtOnce([&] { batch.StopAtOnce(); });

    batch.Start();
    cli.Loop([&] { return !batch.Running(); });
    cli.Progress().Clear();
    if (const auto status = cli.StoppedWith())
        return cli.Finish(*status);
    bool lost = false;
    for (std::size_t port = 0; port < batch.Ports(); ++port) {
        if (!batch.Lost(port))
            continue;
        lost = true;
        if (ports.size() > 1)
            err << kProgram << ": " << Printable(batch.Name(port))
                << ": connection lost; it did not come back\n";
    }
    if (plan.Complete())
        return cli.Finish(kExitOk);
    err << kProgram << ": interrupted; " << plan.Done() << " of " << job.Modules
        << " modules set up\n";
    // A batch that ended short while a port was away ended because it went away.
    return cli.Finish(lost ? kExitPort : kExitInterrupted);
}

} // namespace kelvara::cli
