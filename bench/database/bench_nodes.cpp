// Building snapshot nodes from user values, their data hash (cold and cached) and the compound
// hash of a large node.
#include <benchmark/benchmark.h>

#include <string>

#include "sdk/database/core/FCompoundHash.h"
#include "sdk/database/snapshot/FNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace {

// 100,000 leaves: 1,000 records of 100 fields of mixed kinds.
Value hundredThousandLeaves() {
  Value root = Value::object();
  for (int r = 0; r < 1000; ++r) {
    Value record = Value::object();
    for (int f = 0; f < 100; ++f) {
      const std::string key = std::string("f").append(std::to_string(f));
      switch (f % 4) {
        case 0: record[key] = r * 100 + f; break;
        case 1: record[key] = (r + f) * 0.5; break;
        case 2: record[key] = (f % 8) == 2; break;
        default: record[key] = std::string("value-").append(std::to_string(r)).append("-").append(std::to_string(f)); break;
      }
    }
    root[std::string("r").append(std::to_string(r))] = std::move(record);
  }
  return root;
}

// About 1 MB of estimated size: 8,000 records of four fields.
Value aboutOneMegabyte() {
  Value root = Value::object();
  for (int r = 0; r < 8000; ++r) {
    root["item" + std::to_string(r)] = Value{{"name", "name-" + std::to_string(r) + std::string(60, 'x')},
                                              {"score", r},
                                              {"ratio", r / 7.0},
                                              {"on", (r & 1) == 0}};
  }
  return root;
}

void BM_NodeFromValue100kLeaves(benchmark::State& state) {
  const Value value = hundredThousandLeaves();
  for (auto _ : state) {
    FNodeRef node = FSnapshotUtilities::nodeFrom(value);
    benchmark::DoNotOptimize(node);
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_NodeFromValue100kLeaves)->Unit(benchmark::kMillisecond);

void BM_DataHashCold(benchmark::State& state) {
  const Value value = hundredThousandLeaves();
  for (auto _ : state) {
    state.PauseTiming();
    FNodeRef node = FSnapshotUtilities::nodeFrom(value);
    state.ResumeTiming();
    benchmark::DoNotOptimize(node->dataHash());
  }
}
BENCHMARK(BM_DataHashCold)->Unit(benchmark::kMillisecond);

void BM_DataHashCached(benchmark::State& state) {
  FNodeRef node = FSnapshotUtilities::nodeFrom(hundredThousandLeaves());
  node->dataHash();
  for (auto _ : state) benchmark::DoNotOptimize(node->dataHash());
}
BENCHMARK(BM_DataHashCached);

void BM_CompoundHashOneMegabyte(benchmark::State& state) {
  FNodeRef node = FSnapshotUtilities::nodeFrom(aboutOneMegabyte());
  state.counters["estimated_bytes"] = static_cast<double>(FSnapshotUtilities::estimateSerializedNodeSize(node));
  size_t ranges = 0;
  for (auto _ : state) {
    FCompoundHashRef hash = FCompoundHash::fromNode(node);
    ranges = hash->hashes().size();
    benchmark::DoNotOptimize(hash);
  }
  state.counters["ranges"] = static_cast<double>(ranges);
}
BENCHMARK(BM_CompoundHashOneMegabyte)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
