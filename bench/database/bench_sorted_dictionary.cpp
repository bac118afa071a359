// The persistent sorted dictionary against std::map at the sizes around the array/tree switch
// and beyond. Prints the usual table, then one "ratio" line per operation and size
// (persistent time / std::map time).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/support/RepeatedRuns.h"
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

#define SIZES ->Arg(10)->Arg(25)->Arg(26)->Arg(1000)->Arg(100000)->ComputeStatistics("min", benchsupport::fastest)
BENCHMARK(Persistent_Insert) SIZES;
BENCHMARK(StdMap_Insert) SIZES;
BENCHMARK(Persistent_Lookup) SIZES;
BENCHMARK(StdMap_Lookup) SIZES;
BENCHMARK(Persistent_Remove) SIZES;
BENCHMARK(StdMap_Remove) SIZES;
BENCHMARK(Persistent_Walk) SIZES;
BENCHMARK(StdMap_Walk) SIZES;

// The usual table and the real times of the fastest runs, then the ratios.
class RatioReporter : public benchsupport::FastestTimes {
 public:
  RatioReporter() : FastestTimes(Clock::real) {}
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
        const double p = time(std::string("Persistent_") + op + "/" + n);
        const double s = time(std::string("StdMap_") + op + "/" + n);
        if (p <= 0 || s <= 0) continue;
        char line[160];
        const char* goal = target(op, n);
        std::snprintf(line, sizeof line, "ratio %-6s n=%-6s persistent/std::map = %6.2f%s%s\n", op, n,
                      p / s, *goal ? "   target " : "", goal);
        GetOutputStream() << line;
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (!benchsupport::initializeRepeatedRuns(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  reporter.GetOutputStream().flush();
  benchmark::Shutdown();
  return 0;
}
