// The persistent sorted dictionary against std::map at the sizes around the array/tree switch
// and beyond. Prints the usual table, then one "ratio" line per operation and size
// (persistent time / std::map time).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "sdk/database/core/FImmutableSortedDictionary.h"

namespace {

using Dict = FImmutableSortedDictionary<int, int>;

int intCompare(const int& a, const int& b) { return a < b ? -1 : (a > b ? 1 : 0); }

// Keys 0, 2, 4, ... in a scrambled order, so inserts do not arrive sorted.
std::vector<int> keys(int n) {
  std::vector<int> out(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out[static_cast<size_t>(i)] = static_cast<int>((static_cast<int64_t>(i) * 7919) % n) * 2;
  return out;
}

Dict::Ref buildDict(const std::vector<int>& ks) {
  auto d = Dict::dictionaryWithComparator(intCompare);
  for (int k : ks) d = d->insertKey(k, k);
  return d;
}

std::map<int, int> buildMap(const std::vector<int>& ks) {
  std::map<int, int> m;
  for (int k : ks) m.emplace(k, k);
  return m;
}

// insert: build the whole map from empty, one insert at a time.
void Persistent_Insert(benchmark::State& state) {
  auto ks = keys(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(buildDict(ks));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
void StdMap_Insert(benchmark::State& state) {
  auto ks = keys(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(buildMap(ks));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void Persistent_Lookup(benchmark::State& state) {
  auto ks = keys(static_cast<int>(state.range(0)));
  auto d = buildDict(ks);
  for (auto _ : state) {
    for (int k : ks) benchmark::DoNotOptimize(d->get(k));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
void StdMap_Lookup(benchmark::State& state) {
  auto ks = keys(static_cast<int>(state.range(0)));
  auto m = buildMap(ks);
  for (auto _ : state) {
    for (int k : ks) benchmark::DoNotOptimize(m.find(k));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// remove: every key removed once from the full map. The persistent map keeps its base, so each
// removal is a new version; std::map has to put the entry back (extract + reinsert, no allocation).
void Persistent_Remove(benchmark::State& state) {
  auto ks = keys(static_cast<int>(state.range(0)));
  auto d = buildDict(ks);
  for (auto _ : state) {
    for (int k : ks) benchmark::DoNotOptimize(d->removeKey(k));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
void StdMap_Remove(benchmark::State& state) {
  auto ks = keys(static_cast<int>(state.range(0)));
  auto m = buildMap(ks);
  for (auto _ : state) {
    for (int k : ks) {
      auto node = m.extract(k);
      benchmark::DoNotOptimize(node);
      m.insert(std::move(node));
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void Persistent_Walk(benchmark::State& state) {
  auto d = buildDict(keys(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    int64_t sum = 0;
    d->enumerateKeysAndObjectsUsingBlock([&](const int& k, const int& v, bool*) { sum += k + v; });
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
void StdMap_Walk(benchmark::State& state) {
  auto m = buildMap(keys(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    int64_t sum = 0;
    for (const auto& [k, v] : m) sum += k + v;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

double fastest(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }

#define SIZES ->Arg(10)->Arg(25)->Arg(26)->Arg(1000)->Arg(100000)->ComputeStatistics("min", fastest)
BENCHMARK(Persistent_Insert) SIZES;
BENCHMARK(StdMap_Insert) SIZES;
BENCHMARK(Persistent_Lookup) SIZES;
BENCHMARK(StdMap_Lookup) SIZES;
BENCHMARK(Persistent_Remove) SIZES;
BENCHMARK(StdMap_Remove) SIZES;
BENCHMARK(Persistent_Walk) SIZES;
BENCHMARK(StdMap_Walk) SIZES;

// Collects the per-run times next to the console output, to print the ratios at the end: the
// "min" aggregate when the benchmarks repeat, else the single run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "min") continue;
      if (run.iterations > 0) times_[run.run_name.str()] = run.GetAdjustedRealTime();
    }
  }
  void printRatios() const {
    // Targets: insert within 8, remove within 10 times std::map at 1,000 and 100,000 entries;
    // lookup within 3 times at 100,000.
    auto target = [](const std::string& op, const std::string& n) -> const char* {
      if (n != "1000" && n != "100000") return "";
      if (op == "Insert") return "8";
      if (op == "Remove") return "10";
      if (op == "Lookup" && n == "100000") return "3";
      return "";
    };
    for (const char* op : {"Insert", "Lookup", "Remove", "Walk"}) {
      for (const char* n : {"10", "25", "26", "1000", "100000"}) {
        auto p = times_.find(std::string("Persistent_") + op + "/" + n);
        auto s = times_.find(std::string("StdMap_") + op + "/" + n);
        if (p == times_.end() || s == times_.end() || s->second <= 0) continue;
        char line[160];
        const char* goal = target(op, n);
        std::snprintf(line, sizeof line, "ratio %-6s n=%-6s persistent/std::map = %6.2f%s%s\n", op, n,
                      p->second / s->second, *goal ? "   target " : "", goal);
        GetOutputStream() << line;
      }
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

// The machine may be shared: unless told otherwise every benchmark runs five times for at least
// 0.2 s each, the repetitions of all benchmarks interleaved at random, and the ratios compare the
// fastest runs.
int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  auto given = [&](const char* option) {
    for (int i = 1; i < argc; ++i) if (std::string(argv[i]).rfind(option, 0) == 0) return true;
    return false;
  };
  std::string repetitions = "--benchmark_repetitions=5", interleave = "--benchmark_enable_random_interleaving=true",
              aggregates = "--benchmark_report_aggregates_only=true", minTime = "--benchmark_min_time=0.2";
  if (!given("--benchmark_repetitions")) args.push_back(repetitions.data());
  if (!given("--benchmark_min_time")) args.push_back(minTime.data());
  if (!given("--benchmark_enable_random_interleaving")) args.push_back(interleave.data());
  if (!given("--benchmark_report_aggregates_only")) args.push_back(aggregates.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  reporter.GetOutputStream().flush();
  benchmark::Shutdown();
  return 0;
}
