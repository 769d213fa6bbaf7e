// kelvara-cli study and ibeacon: a list printed, its commands only, sent to a module, or set up
// on many modules one after another.
#include "Command.h"

#include "Printable.h"

#include <ostream>

namespace kelvara::cli {

namespace {

std::string_view OptionOf(TInputField field) {
    switch (field) {
    case TInputField::edtCharNotify:
        return "--notify";
    case TInputField::edtCharWrite:
        return "--write";
    case TInputField::edtiBeaconUUID:
        return "--uuid";
    case TInputField::edtiBeaconMajor:
        return "--major";
    case TInputField::edtiBeaconMinor:
        return "--minor";
    case TInputField::ifNone:
        break;
    }
    return {};
}

// Reports a rejection on err; returns its exit status.
int ReportRejection(const TCommandListOutcome& outcome, std::ostream& err) {
    // A rejection that moves focus nowhere names no option.
    const std::string_view option = OptionOf(outcome.FocusField());
    err << kProgram << ": ";
    if (!option.empty())
        err << option << ": ";
    err << outcome.Message() << '\n';
    return kExitRejected;
}

int PrintLines(const std::vector<std::string>& lines, std::ostream& out, std::ostream& err) {
    for (const std::string& line : lines)
        out << line << '\n';
    out.flush();
    if (!out) {
        err << kProgram << ": could not write the list to standard output\n";
        return kExitRejected;
    }
    return kExitOk;
}

TOptions Defaults(TListKind list) {
    TOptions defaults;
    for (const TFieldDescription& field : ListFields(list))
        defaults.emplace(field.Name, field.Default);
    return defaults;
}

class TListCommand : public TLineCommand {
  public:
    explicit TListCommand(TListKind list)
        : TLineCommand({ListName(list), Defaults(list), TSyntax::TTakes::ListOptions}, false),
          list_(list) {}

  protected:
    int Run(const TCommandLine& line, std::ostream& out, std::ostream& err) const override {
        const TParsed* parsed = &line.Parsed;
        const TTalkRequest* request = &line.Request;
        const TListSource source{list_, parsed->Values};
        if (list_ == TListKind::Study && !UuidFormatFromName(source.Fields.at("format")))
            return UsageError(err, "--format takes 16 or 128, not '" +
                                       Printable(source.Fields.at("format")) + "'");
        const TCommandListOutcome outcome = BuildList(source);
        if (outcome.IsRejection())
            return ReportRejection(outcome, err);
        if (parsed->CommandsOnly)
            return PrintLines(SetUpCommands(outcome.List()), out, err);
        if (request->Port.empty())
            return PrintLines(outcome.Lines(), out, err);
        if (parsed->SendOptions.contains("modules"))
            return Batch(source, *parsed, *request, out, err);
        for (std::string_view batch : {"count", "record"}) {
            if (parsed->SendOptions.contains(batch))
                return UsageError(err, "option '--" + std::string(batch) + "' needs --modules");
        }
        return SendCommands(*request, SetUpCommands(outcome.List()), out, err);
    }

  private:
    // The batch options, checked; the batch then runs.
    int Batch(const TListSource& source, const TParsed& parsed, const TTalkRequest& request,
              std::ostream& out, std::ostream& err) const {
        const TOptions& options = parsed.SendOptions;
        const auto modules = ParseNumber(options.at("modules"), 1, 100000);
        if (!modules)
            return UsageError(err, "--modules takes 1 to 100000, not '" +
                                       Printable(options.at("modules")) + "'");
        link::TBatchJob job{source, {}, static_cast<std::size_t>(*modules)};
        if (const auto count = options.find("count"); count != options.end()) {
            if (list_ != TListKind::Beacon || (count->second != "major" && count->second != "minor"))
                return UsageError(err, "--count takes major or minor, with ibeacon, not '" +
                                           Printable(count->second) + "'");
            job.Count = count->second;
        }
        if (request.FindBaudRate)
            return UsageError(err, "option '--baud auto' does not go with --modules: a batch "
                                   "talks to every module at the same settings");
        std::string record;
        if (const auto given = options.find("record"); given != options.end()) {
            if (given->second.empty())
                return UsageError(err, "option '--record' needs a file");
            record = given->second;
        }
        for (const std::string& port : parsed.Ports) {
            if (port.empty())
                return UsageError(err, "option '--port' needs a port");
        }
        return RunBatch(job, request, parsed.Ports, record, out, err);
    }

    TListKind list_;
};

} // namespace

std::unique_ptr<TCommand> MakeListCommand(TListKind list) {
    return std::make_unique<TListCommand>(list);
}

} // namespace kelvara::cli
