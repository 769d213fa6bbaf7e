#pragma once

// What a batch of modules needs before and after each module, whichever front runs it: the
// record's rows checked, the values handed out to the modules as they come, and the row that
// records each module attempted. Plain logic: the record's file and the clock are the caller's.

#include "Batch.h"
#include "Link.h"

#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace kelvara::link {

struct TBatchJob {
    TListSource Source;      // the list and its fields, as given
    std::string Count;       // "major", "minor", or empty
    std::size_t Modules = 0; // how many to set up
};

// Why a batch cannot start: a record that does not fit (or cannot be read), or a value that
// does not pass its checks; Option names the field for the latter.
struct TBatchRefusal {
    bool Record = false;
    std::string Option;
    std::string Text;
};

// "uuid=... major=10123 minor=10125": a module's values, as shown.
std::string BatchValues(TListKind list, const TFields& fields);

// A batch checked against its record: where its count starts (the value after the last one
// recorded as set up; never one recorded as set up), and each value to give checked as a typed
// one. Nothing is sent before this has passed.
//
// The plan hands out the modules' places (0 to Modules - 1, each a value when a field is
// counted) in the order modules are noticed, wherever they are: a module takes the lowest place
// neither set up nor under way, and a module that fails gives its place back. So no value is
// given twice, however many ports share the plan.
class TBatchPlan {
  public:
    static std::variant<TBatchPlan, TBatchRefusal> Make(const TBatchJob& job,
                                                        const std::vector<TRecordRow>& rows);

    const TBatchJob& Job() const { return job_; }
    // The place of the module just noticed; nothing once every place is set up or under way.
    std::optional<std::size_t> Take();
    // The module in this place was set up, or failed and gives the place back.
    void Ended(std::size_t place, bool setUp);
    std::size_t Done() const { return done_; }
    bool Complete() const { return done_ == job_.Modules; }

    // The fields of the module in this place.
    TFields FieldsFor(std::size_t place) const;
    // The row that records a module attempted, its time left empty for the record to fill in.
    TRecordRow Row(const std::string& port, const TFields& fields,
                   const std::optional<TOutcome>& failure) const;

  private:
    TBatchJob job_;
    std::size_t first_ = 0;        // the first value counted
    std::size_t next_ = 0;         // the lowest place never taken
    std::set<std::size_t> given_;  // places given back, to be taken again first
    std::size_t done_ = 0;
};

} // namespace kelvara::link
