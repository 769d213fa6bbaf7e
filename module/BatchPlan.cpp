#include "BatchPlan.h"

#include "FieldText.h"
#include "Messages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>

namespace kelvara::link {

namespace {

// Two field texts are the same field when the list reads them the same.
bool SameField(const std::string& a, const std::string& b) {
    return RemoveDashes(TrimUpper(a)) == RemoveDashes(TrimUpper(b));
}

std::string Shown(std::string_view text) { return ShownBytes(text.substr(0, 64), false); }

} // namespace

std::vector<std::string> BatchFieldNames(const std::string& list) {
    if (list == "study")
        return {"format", "notify", "write"};
    return {"uuid", "major", "minor"};
}

std::string BatchValues(const TBatchJob& job, const TFields& fields) {
    std::string values;
    for (const std::string& name : BatchFieldNames(job.List)) {
        if (!values.empty())
            values += ' ';
        values += name;
        values += '=';
        values += Shown(fields.at(name));
    }
    return values;
}

std::string NowIso8601() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

TRecordFile::~TRecordFile() {
    if (fd_ >= 0)
        close(fd_);
}

bool TRecordFile::Open(const std::string& path, std::vector<TRecordRow>& rows, std::string& why) {
    path_ = path;
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    struct stat info {};
    if (fd_ < 0 || fstat(fd_, &info) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode) || info.st_size > 64 * 1024 * 1024) {
        why = S_ISREG(info.st_mode) ? "is larger than 64 MiB" : "is not a regular file";
        return false;
    }
    std::string text(static_cast<std::size_t>(info.st_size), '\0');
    if (pread(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        why = std::strerror(errno);
        return false;
    }
    if (text.empty())
        return Write(RecordHeader(), why) && SyncFolder(why);
    if (!text.ends_with('\n')) {
        why = "ends in an unfinished row";
        return false;
    }
    auto parsed = ParseRecord(text);
    if (const auto* error = std::get_if<TRecordError>(&parsed)) {
        why = "line " + std::to_string(error->Line) + ": " + error->Reason;
        return false;
    }
    rows = std::move(std::get<std::vector<TRecordRow>>(parsed));
    return true;
}

bool TRecordFile::Append(const TRecordRow& row, std::string& why) {
return Write(RecordLine(row), why);
}

bool TRecordFile::Write(const std::string& bytes, std::string& why) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = std::strerror(errno);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (fdatasync(fd_) != 0) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

// A new file's name must reach the storage too.
bool TRecordFile::SyncFolder(std::string& why) {
    const auto folder = std::filesystem::absolute(path_).parent_path();
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0)
        close(fd);
    if (!synced)
        why = std::strerror(errno);
    return synced;
}


std::variant<TBatchPlan, TBatchRefusal> TBatchPlan::Make(const TBatchJob& job,
                                                        const std::vector<TRecordRow>& rows) {
    const std::string option = "--" + job.Count;
    const std::string given = job.Count.empty() ? std::string() : job.Fields.at(job.Count);
    std::set<unsigned> setUp;
    std::optional<unsigned> last;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TRecordRow& row = rows[i];
        const std::string where = "row " + std::to_string(i + 1) + ' ';
        if (row[RecordColumn("list")] != job.List)
            return TBatchRefusal{true, {}, where + "is for the " + Shown(row[RecordColumn("list")]) +
                                               " list: it records another batch"};
        for (const std::string& name : BatchFieldNames(job.List)) {
            if (name != job.Count && !SameField(row[RecordColumn(name)], job.Fields.at(name)))
                return TBatchRefusal{true, {}, where + "has --" + name + ' ' +
                                                   Shown(row[RecordColumn(name)]) + ", not " +
                                                   Shown(job.Fields.at(name)) +
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
            const TCommandListOutcome outcome = job.Build(job.Fields);
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
        const TCommandListOutcome outcome = job.Build(plan.FieldsFor(done));
        if (outcome.IsRejection())
            return TBatchRefusal{false, option, outcome.Message()};
    }
    return plan;
}

TFields TBatchPlan::FieldsFor(std::size_t done) const {
    TFields fields = job_.Fields;
    if (!job_.Count.empty())
        fields[job_.Count] = *ValueLike(job_.Fields.at(job_.Count), first_ + done);
    return fields;
}

TRecordRow TBatchPlan::Row(const std::string& port, const TFields& fields,
                           const std::optional<TEvent>& failure) const {
    TRecordRow row;
    row[RecordColumn("time")] = NowIso8601();
    row[RecordColumn("port")] = port;
    row[RecordColumn("list")] = job_.List;
    for (const std::string& name : BatchFieldNames(job_.List))
        row[RecordColumn(name)] = fields.at(name);
    row[RecordColumn("outcome")] = failure ? kRecordFailed : kRecordSetUp;
    if (failure) {
        row[RecordColumn("command")] = failure->Command;
        row[RecordColumn("reply")] = ShownReply(failure->Reply);
    }
    return row;
}

} // namespace kelvara::link
