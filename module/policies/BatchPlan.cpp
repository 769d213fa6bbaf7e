#include "BatchPlan.h"

#include "FieldText.h"
#include "Messages.h"

#include <set>

namespace kelvara::link {

namespace {

// Two field texts are the same field when the list reads them the same.
bool SameField(const std::string& a, const std::string& b) {
    return RemoveDashes(TrimUpper(a)) == RemoveDashes(TrimUpper(b));
}

std::string Shown(std::string_view text) { return ShownBytes(text.substr(0, 64), false); }

} // namespace

std::string BatchValues(TListKind list, const TFields& fields) {
    std::string values;
    for (const TFieldDescription& field : ListFields(list)) {
        if (!values.empty())
            values += ' ';
        values += field.Name;
        values += '=';
        const auto value = fields.find(field.Name);
        values += Shown(value == fields.end() ? std::string_view() : std::string_view(value->second));
    }
    return values;
}

std::variant<TBatchPlan, TBatchRefusal> TBatchPlan::Make(const TBatchJob& job,
                                                        const std::vector<TRecordRow>& rows) {
    const TFields& fields = job.Source.Fields;
    const auto field = [&fields](std::string_view name) {
        const auto value = fields.find(name);
        return value == fields.end() ? std::string() : value->second;
    };
    const std::string list(ListName(job.Source.Kind));
    const std::string option = "--" + job.Count;
    const std::string given = job.Count.empty() ? std::string() : field(job.Count);
    std::set<unsigned> setUp;
    std::optional<unsigned> last;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TRecordRow& row = rows[i];
        const std::string where = "row " + std::to_string(i + 1) + ' ';
        if (row[RecordColumn("list")] != list)
            return TBatchRefusal{true, {}, where + "is for the " + Shown(row[RecordColumn("list")]) +
                                               " list: it records another batch"};
        for (const TFieldDescription& description : ListFields(job.Source.Kind)) {
            const std::string name(description.Name);
            if (name != job.Count && !SameField(row[RecordColumn(name)], field(name)))
                return TBatchRefusal{true, {}, where + "has --" + name + ' ' +
                                                   Shown(row[RecordColumn(name)]) + ", not " +
                                                   Shown(field(name)) +
                                                   ": it records another batch"};
        }
        if (!job.Count.empty() && row[RecordColumn("outcome")] == kRecordSetUp) {
            const auto value = ValueOf(row[RecordColumn(job.Count)]);
            if (!value)
                return TBatchRefusal{true, {}, where + "has no " + job.Count + " value"};
            setUp.insert(*value);
            last = *value;
        }
    }

    // The values to give, each checked as a typed one.
    TBatchPlan plan;
    plan.job_ = job;
    if (!job.Count.empty()) {
        const auto start = ValueOf(given);
        if (!start) {
            const TCommandListOutcome outcome = BuildList(job.Source);
            return TBatchRefusal{false, option,
                                 outcome.IsRejection() ? outcome.Message() : "not a value"};
        }
        std::size_t first = last ? *last + 1 : *start;
        while (setUp.contains(static_cast<unsigned>(first)))
            ++first;
        if (first + job.Modules - 1 > 0xFFFF) {
            const std::size_t module = first > 0xFFFF ? 1 : 0xFFFF - first + 2;
            return TBatchRefusal{
                false, option,
                std::string(job.Count == "major" ? messages::kBeaconMajor : messages::kBeaconMinor) +
                    " (module " + std::to_string(module) + " of " + std::to_string(job.Modules) +
                    " would get " + std::to_string(first + module - 1) + ")"};
        }
        plan.first_ = first;
    }
    for (std::size_t done : {std::size_t(0), job.Modules - 1}) {
        const TCommandListOutcome outcome = BuildList({job.Source.Kind, plan.FieldsFor(done)});
        if (outcome.IsRejection())
            return TBatchRefusal{false, option, outcome.Message()};
    }
    return plan;
}

std::optional<std::size_t> TBatchPlan::Take() {
    if (!given_.empty()) {
        const std::size_t place = *given_.begin();
        given_.erase(given_.begin());
        return place;
    }
    if (next_ == job_.Modules)
        return std::nullopt;
    return next_++;
}

void TBatchPlan::Ended(std::size_t place, bool setUp) {
    if (!Expect(place < next_ && !given_.contains(place), "a place taken ends once"))
        return;
    if (setUp)
        ++done_;
    else
        given_.insert(place);
}

TFields TBatchPlan::FieldsFor(std::size_t place) const {
    TFields fields = job_.Source.Fields;
    if (!job_.Count.empty())
        fields[job_.Count] = *ValueLike(fields[job_.Count], first_ + place);
    return fields;
}

TRecordRow TBatchPlan::Row(const std::string& port, const TFields& fields,
                           const std::optional<TOutcome>& failure) const {
    TRecordRow row;
    row[RecordColumn("port")] = port;
    row[RecordColumn("list")] = ListName(job_.Source.Kind);
    for (const TFieldDescription& field : ListFields(job_.Source.Kind)) {
        const auto value = fields.find(field.Name);
        if (value != fields.end())
            row[RecordColumn(field.Name)] = value->second;
    }
    row[RecordColumn("outcome")] = failure ? kRecordFailed : kRecordSetUp;
    if (failure) {
        row[RecordColumn("command")] = failure->Command;
        row[RecordColumn("reply")] = ShownReply(failure->Reply);
    }
    return row;
}

} // namespace kelvara::link
