// kelvara-cli setting up many modules in a row: module after module on one port, a value of its
// own for each when a field is counted, and a record of each module attempted that a batch
// started again continues from.
#include "Batch.h"

#include "FieldText.h"
#include "ListSender.h"
#include "Messages.h"
#include "PresenceWatch.h"
#include "Session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>

namespace kelvara::cli {

namespace {

// The fields of each list, in the order they are shown and recorded.
std::vector<std::string> FieldNames(const std::string& list) {
    if (list == "study")
        return {"format", "notify", "write"};
    return {"uuid", "major", "minor"};
}

std::string Values(const TBatchRequest& batch, const TBatchRequest::TFields& fields) {
    std::string values;
    for (const std::string& name : FieldNames(batch.List))
        values += (values.empty() ? "" : " ") + name + '=' + Printable(fields.at(name));
    return values;
}

// Two field texts are the same field when the list reads them the same.
bool SameField(const std::string& a, const std::string& b) {
    return RemoveDashes(TrimUpper(a)) == RemoveDashes(TrimUpper(b));
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

// The record file: every row written and flushed to the storage before the next module is
// taken, so that a crash or a pulled plug loses nothing already done.
class TRecordFile {
  public:
    ~TRecordFile() {
        if (fd_ >= 0)
            close(fd_);
    }

    // Opens the record, reading the rows it already holds; false (and why) when it cannot be
    // read or is no record of ours.
    bool Open(const std::string& path, std::vector<TRecordRow>& rows, std::string& why) {
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

    bool Append(const TRecordRow& row, std::string& why) { return Write(RecordLine(row), why); }

  private:
    bool Write(const std::string& bytes, std::string& why) {
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
    bool SyncFolder(std::string& why) {
        const auto folder = std::filesystem::absolute(path_).parent_path();
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool synced = fd >= 0 && fsync(fd) == 0;
        if (fd >= 0)
            close(fd);
        if (!synced)
            why = std::strerror(errno);
        return synced;
    }

    std::string path_;
    int fd_ = -1;
};

} // namespace

int RunBatch(const TBatchRequest& batch, std::ostream& out, std::ostream& err) {
    const std::string option = "--" + batch.Count;
    const std::string& given = batch.Count.empty() ? std::string() : batch.Fields.at(batch.Count);

    // The record, read and checked before anything is sent.
    TRecordFile record;
    std::vector<TRecordRow> rows;
    if (!batch.Record.empty()) {
        std::string why;
        if (!record.Open(batch.Record, rows, why)) {
            err << kProgram << ": " << Printable(batch.Record) << ": " << why << '\n';
            return kExitUsage;
        }
    }
    std::set<unsigned> setUp;
    std::optional<unsigned> last;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TRecordRow& row = rows[i];
        std::string mismatch;
        if (row[RecordColumn("list")] != batch.List)
            mismatch = "is for the " + Printable(row[RecordColumn("list")]) + " list";
        for (const std::string& name : FieldNames(batch.List)) {
            if (mismatch.empty() && name != batch.Count &&
                !SameField(row[RecordColumn(name)], batch.Fields.at(name)))
                mismatch = "has --" + name + " " + Printable(row[RecordColumn(name)]) + ", not " +
                           Printable(batch.Fields.at(name));
        }
        if (!mismatch.empty()) {
            err << kProgram << ": " << Printable(batch.Record) << ": row " << i + 1 << ' '
                << mismatch << ": it records another batch\n";
            return kExitUsage;
        }
        if (!batch.Count.empty() && row[RecordColumn("outcome")] == kRecordSetUp) {
            const auto value = ValueOf(row[RecordColumn(batch.Count)]);
            if (!value) {
                err << kProgram << ": " << Printable(batch.Record) << ": row " << i + 1
                    << " has no " << batch.Count << " value\n";
                return kExitUsage;
            }
            setUp.insert(*value);
            last = *value;
        }
    }

    // The values to give, each checked as a typed one, before anything is sent.
    std::size_t first = 0;
    if (!batch.Count.empty()) {
        const auto start = ValueOf(given);
        if (!start) {
            const TCommandListOutcome outcome = batch.Build(batch.Fields);
            err << kProgram << ": " << option << ": "
                << (outcome.IsRejection() ? outcome.Message() : std::string("not a value")) << '\n';
            return kExitRejected;
        }
        first = last ? *last + 1 : *start;
        while (setUp.contains(static_cast<unsigned>(first)))
            ++first;
        if (first + batch.Modules - 1 > 0xFFFF) {
            const std::size_t module = first > 0xFFFF ? 1 : 0xFFFF - first + 2;
            err << kProgram << ": " << option << ": "
                << (batch.Count == "major" ? messages::kBeaconMajor : messages::kBeaconMinor)
                << " (module " << module << " of " << batch.Modules << " would get "
                << first + module - 1 << ")\n";
            return kExitRejected;
        }
    }
    const auto fieldsFor = [&](std::size_t offset) {
        TBatchRequest::TFields fields = batch.Fields;
        if (!batch.Count.empty())
            fields[batch.Count] = *ValueLike(given, first + offset);
        return fields;
    };
    for (std::size_t offset : {std::size_t(0), batch.Modules - 1}) {
        const TCommandListOutcome outcome = batch.Build(fieldsFor(offset));
        if (outcome.IsRejection()) {
            err << kProgram << ": " << option << ": " << outcome.Message() << '\n';
            return kExitRejected;
        }
    }

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
    const auto total = std::to_string(batch.Modules);
    while (done < batch.Modules && !stopAfterModule && !session.StoppedAtOnce()) {
        const std::string which = "[" + std::to_string(done + 1) + "/" + total + "] ";
        if (!link.IsOpen()) {
            session.Progress().Show(done, batch.Modules, "waiting for " + Printable(batch.Talk.Port));
            if (const int status = session.WaitForPort(settings.BaudRate, [] { return false; });
                status != kExitOk)
                return session.Finish(status == kExitInterrupted ? session.Interrupted() : status);
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
        const TBatchRequest::TFields fields = fieldsFor(done);
        const TCommandListOutcome outcome = batch.Build(fields);
        std::optional<TEvent> failure;
        sending = true;
        session.Progress().Show(done, batch.Modules, "sending " + Values(batch, fields));
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

        TRecordRow row;
        row[RecordColumn("time")] = NowIso8601();
        row[RecordColumn("port")] = batch.Talk.Port;
        row[RecordColumn("list")] = batch.List;
        for (const std::string& name : FieldNames(batch.List))
            row[RecordColumn(name)] = fields.at(name);
        row[RecordColumn("outcome")] = ok ? kRecordSetUp : kRecordFailed;
        if (failure) {
            row[RecordColumn("command")] = failure->Command;
            row[RecordColumn("reply")] = ShownReply(failure->Reply);
        }
        std::string why;
        if (!batch.Record.empty() && !record.Append(row, why)) {
            err << kProgram << ": " << Printable(batch.Record) << ": cannot be written: " << why
                << '\n';
            return session.Finish(kExitRejected);
        }
        session.Progress().Clear();
        session.Print(std::to_string(attempt) + '\t' + Values(batch, fields) + '\t' +
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
