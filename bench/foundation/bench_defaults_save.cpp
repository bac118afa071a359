// What one save of a user-defaults suite costs (a setting changed, then synchronize, as the window
// does on the main thread after each change), at the most values a defaults file may hold
// (ns::kMaxPlistValues: one list of 65,486 integers besides the settings, all different or all equal) against a file of
// the size the application writes (some twenty values). Files past the limit are refused when read,
// so these are the slowest saves a file that was read can cause (a file of 2^19 values once made
// every save take seconds).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "bench/support/RepeatedRuns.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/PlistValue.h"

namespace {

void save(benchmark::State& state, const std::string& suite, const Value& list) {
  auto defaults = NSUserDefaults::suiteNamed(suite);
  defaults->setObject(list, "list");
  for (int i = 0; i < 20; ++i) defaults->setInteger(i, "setting" + std::to_string(i));
  int64_t n = 0;
  for (auto _ : state) {
    defaults->setInteger(++n, "changed");
    if (!defaults->synchronize()) state.SkipWithError("the save failed");
  }
}

Value integers(size_t count, bool equal) {
  Value list = Value::array();
  for (size_t i = 0; i < count; ++i) list.push_back(equal ? int64_t{7} : int64_t(i));
  return list;
}

void BM_SaveTypicalFile(benchmark::State& state) { save(state, "bench.typical", Value::array()); }
void BM_SaveDistinctIntegersAtTheLimit(benchmark::State& state) {
  save(state, "bench.distinct", integers(ns::kMaxPlistValues - 50, false));
}
void BM_SaveEqualIntegersAtTheLimit(benchmark::State& state) {
  save(state, "bench.equal", integers(ns::kMaxPlistValues - 50, true));
}

}  // namespace

BENCHMARK(BM_SaveTypicalFile)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", benchsupport::fastest);
BENCHMARK(BM_SaveDistinctIntegersAtTheLimit)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", benchsupport::fastest);
BENCHMARK(BM_SaveEqualIntegersAtTheLimit)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", benchsupport::fastest);

int main(int argc, char** argv) {
  // A private application home, removed at the end.
  const auto home = std::filesystem::temp_directory_path() / ("bench-defaults-" + std::to_string(::getpid()));
  std::filesystem::create_directories(home);
  setenv("SPECTRUM_ANALYSER_HOME", home.c_str(), 1);
  if (!benchsupport::initializeRepeatedRuns(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  NSUserDefaults::resetForTesting();
  std::filesystem::remove_all(home);
  return 0;
}
