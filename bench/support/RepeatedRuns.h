#pragma once
// Benchmarks that print ratios between their runs share how they run on a machine that may be
// shared: unless told otherwise every benchmark runs five times for at least 0.2 s each, the
// repetitions of all benchmarks interleaved at random, and the ratios compare the fastest run of
// each (the run least disturbed by others).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace benchsupport {

// The "min" statistic: register it with ->ComputeStatistics("min", benchsupport::fastest).
inline double fastest(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }

// benchmark::Initialize with the repeated, interleaved runs above for every option the command line
// does not give. False (after saying so) when the command line holds an option it does not know.
inline bool initializeRepeatedRuns(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  auto given = [&](const char* option) {
    for (int i = 1; i < argc; ++i) if (std::string(argv[i]).rfind(option, 0) == 0) return true;
    return false;
  };
  static std::string repetitions = "--benchmark_repetitions=5", minTime = "--benchmark_min_time=0.2",
                     interleave = "--benchmark_enable_random_interleaving=true",
                     aggregates = "--benchmark_report_aggregates_only=true";
  if (!given("--benchmark_repetitions")) args.push_back(repetitions.data());
  if (!given("--benchmark_min_time")) args.push_back(minTime.data());
  if (!given("--benchmark_enable_random_interleaving")) args.push_back(interleave.data());
  if (!given("--benchmark_report_aggregates_only")) args.push_back(aggregates.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  return !benchmark::ReportUnrecognizedArguments(count, args.data());
}

// Prints the usual table and keeps each benchmark's time per iteration, by run name: the "min"
// aggregate when the benchmarks repeat, else the single run.
class FastestTimes : public benchmark::ConsoleReporter {
 public:
  enum class Clock { cpu, real };
  explicit FastestTimes(Clock clock) : clock_(clock) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "min") continue;
      if (run.iterations <= 0) continue;
      times_[run.run_name.str()] = clock_ == Clock::cpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
    }
  }

  // The time of the run named, 0 when it did not run.
  double time(const std::string& name) const {
    auto it = times_.find(name);
    return it == times_.end() ? 0.0 : it->second;
  }

 private:
  Clock clock_;
  std::map<std::string, double> times_;
};

}  // namespace benchsupport
