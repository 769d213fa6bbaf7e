#pragma once

// What a batch of modules needs before and after each module, shared by kelvara-cli and the
// module window: the record read and checked, the values each module gets, and the row recorded
// for each module attempted.

#include "Batch.h"
#include "CommandTypes.h"
#include "Link.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kelvara::link {

using TFields = std::map<std::string, std::string, std::less<>>;

struct TBatchJob {
    std::string List;        // "study" or "ibeacon"
    TFields Fields;          // the list's fields, as given
    std::string Count;       // "major", "minor", or empty
    std::size_t Modules = 0; // how many to set up
    // Makes a module's list from its fields, checking them as a typed list is checked.
    std::function<TCommandListOutcome(const TFields&)> Build;
};

// Why a batch cannot start: a record that does not fit (or cannot be read), or a value that
// does not pass its checks; Option names the field for the latter.
struct TBatchRefusal {
    bool Record = false;
    std::string Option;
    std::string Text;
};

// The fields of a list, in the order they are shown and recorded.
std::vector<std::string> BatchFieldNames(const std::string& list);
// "uuid=... major=10123 minor=10125": a module's values, as shown.
std::string BatchValues(const TBatchJob& job, const TFields& fields);

// A record file: every row written and flushed to the storage before the next module is taken,
// so that a crash or a pulled plug loses nothing already done.
class TRecordFile {
  public:
    TRecordFile() = default;
    TRecordFile(const TRecordFile&) = delete;
    TRecordFile& operator=(const TRecordFile&) = delete;
    ~TRecordFile();

    // Opens (or creates) the record and reads the rows it holds; false, and why, when it cannot
    // be read or is no record of ours.
    bool Open(const std::string& path, std::vector<TRecordRow>& rows, std::string& why);
    bool IsOpen() const { return fd_ >= 0; }
    bool Append(const TRecordRow& row, std::string& why);

  private:
    bool Write(const std::string& bytes, std::string& why);
    bool SyncFolder(std::string& why);

    std::string path_;
    int fd_ = -1;
};

// A batch checked against its record: where its count starts (the value after the last one
// recorded as set up; never one recorded as set up), and each value to give checked as a typed
// one. Nothing is sent before this has passed.
class TBatchPlan {
  public:
    static std::variant<TBatchPlan, TBatchRefusal> Make(const TBatchJob& job,
                                                        const std::vector<TRecordRow>& rows);

    // The fields of the module that is the `done`-th to be set up in this run.
    TFields FieldsFor(std::size_t done) const;
    // The row that records a module attempted.
    TRecordRow Row(const std::string& port, const TFields& fields,
                   const std::optional<TEvent>& failure) const;

  private:
    TBatchJob job_;
    std::size_t first_ = 0;
};

// "2026-12-09T10:00:00.000Z": now, in UTC.
std::string NowIso8601();

} // namespace kelvara::link
