// Costs of the two generators against a floor: building the same number of fixed lines with
// nothing checked. Prints Google Benchmark's table, then each case's ratio to its floor.
#include "BeaconCommandList.h"
#include "StudyCommandList.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace kelvara;

namespace {

const std::string kNotify128 = "0000FFE1-0000-1000-8000-00805F9B34FB";
const std::string kWrite128 = "0000FFE2-0000-1000-8000-00805F9B34FB";
const std::string kBeaconUuid = "0000FFF0-0000-1000-8000-00805F9B34FB";

void StudyDefaults(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildStudyCommandList(TUuidFormat::uf16Bit, "FFE1", "FFE1"));
}
void Study128(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildStudyCommandList(TUuidFormat::uf128Bit, kNotify128, kWrite128));
}
// The first check fails: the Notify field is blank.
void StudyEarlyRejection(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildStudyCommandList(TUuidFormat::uf128Bit, "  ", kWrite128));
}
// The last check fails: the 128-bit UUIDs differ in two bytes.
void StudyLateRejection(benchmark::State& state) {
    const std::string write = "0000FFE2-0000-1000-8000-00805F9B34FC";
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildStudyCommandList(TUuidFormat::uf128Bit, kNotify128, write));
}
void BeaconDefaults(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildBeaconCommandList(kBeaconUuid, "10123", "10125"));
}
void BeaconEarlyRejection(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildBeaconCommandList("", "10123", "10125"));
}
// The last check fails: the Minor value is 65536.
void BeaconLateRejection(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(BuildBeaconCommandList(kBeaconUuid, "10123", "65536"));
}

// The floor: the same lines, built from fixed texts with nothing checked.
void Floor(benchmark::State& state, const std::vector<std::string>& fixed) {
    std::vector<const char*> texts;
    for (const auto& line : fixed)
        texts.push_back(line.c_str());
    for (auto _ : state) {
        std::vector<std::string> lines;
        lines.reserve(texts.size());
        for (const char* text : texts)
            lines.emplace_back(text);
        benchmark::DoNotOptimize(lines);
    }
}

struct Case {
    const char* Name;
    const char* Floor;
};

constexpr Case kCases[] = {
    {"StudyDefaults", "Floor24Lines"},      {"Study128", "Floor27Lines"},
    {"StudyEarlyRejection", "Floor27Lines"}, {"StudyLateRejection", "Floor27Lines"},
    {"BeaconDefaults", "Floor17Lines"},     {"BeaconEarlyRejection", "Floor17Lines"},
    {"BeaconLateRejection", "Floor17Lines"},
};

// Keeps each run's time per iteration, to print the ratios once all have run.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // With repetitions, the median stands for the case; otherwise its single run.
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && !medians_.contains(run.run_name.str()))
                nanoseconds_[run.run_name.str()] = run.GetAdjustedRealTime();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                medians_.insert(run.run_name.str());
                nanoseconds_[run.run_name.str()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const {
        std::printf("\n%-22s %-14s %10s %10s %8s\n", "case", "floor", "ns", "floor ns", "ratio");
        for (const Case& c : kCases) {
            const auto value = nanoseconds_.find(c.Name);
            const auto floor = nanoseconds_.find(c.Floor);
            if (value == nanoseconds_.end() || floor == nanoseconds_.end())
                continue;
            std::printf("%-22s %-14s %10.1f %10.1f %7.2fx\n", c.Name, c.Floor, value->second,
                        floor->second, value->second / floor->second);
        }
    }

  private:
    std::map<std::string, double> nanoseconds_;
    std::set<std::string> medians_;
};

} // namespace

int main(int argc, char** argv) {
    const auto study16 = BuildStudyCommandList(TUuidFormat::uf16Bit, "FFE1", "FFE1").Lines();
    const auto study128 = BuildStudyCommandList(TUuidFormat::uf128Bit, kNotify128, kWrite128).Lines();
    const auto beacon = BuildBeaconCommandList(kBeaconUuid, "10123", "10125").Lines();

    // Each case stands beside its floor, so that both run under the same conditions.
    benchmark::RegisterBenchmark("Floor24Lines", Floor, study16);
    benchmark::RegisterBenchmark("StudyDefaults", StudyDefaults);
    benchmark::RegisterBenchmark("Floor27Lines", Floor, study128);
    benchmark::RegisterBenchmark("Study128", Study128);
    benchmark::RegisterBenchmark("StudyEarlyRejection", StudyEarlyRejection);
    benchmark::RegisterBenchmark("StudyLateRejection", StudyLateRejection);
    benchmark::RegisterBenchmark("Floor17Lines", Floor, beacon);
    benchmark::RegisterBenchmark("BeaconDefaults", BeaconDefaults);
    benchmark::RegisterBenchmark("BeaconEarlyRejection", BeaconEarlyRejection);
    benchmark::RegisterBenchmark("BeaconLateRejection", BeaconLateRejection);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
