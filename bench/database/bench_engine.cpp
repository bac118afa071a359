// The cost of the synchronisation engine over the bare data model, measured in one run:
//   - 10,000 child sets under one location with one value listener, through the repository (on
//     its work queue, offline, every value event delivered), against the same 10,000 child
//     updates of a node;
//   - a listen on a query limited to 100 children over a location of 100,000 children that a
//     listener already holds, until its events are delivered, against taking the first 100
//     children of the node in the same order.
// Each is printed as operations per second; the lines after the table give engine / bare.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>

#include "sdk/database/core/FEventRegistration.h"
#include "sdk/database/realtime/FRepo.h"
#include "sdk/database/realtime/FRepoManager.h"
#include "sdk/database/realtime/ZIRDatabase.h"
#include "sdk/database/realtime/ZIRDatabaseQuery.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FIndexedNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace {

constexpr int kSets = 10000;
constexpr int kLimit = 100;
constexpr int kChildren = 100000;

std::string childKey(int i) {
  char key[16];
  std::snprintf(key, sizeof key, "c%06d", i);
  return key;
}

// An offline database whose callbacks run on a queue of its own.
struct BenchDatabase {
  explicit BenchDatabase(const std::string& name) {
    callbacks = DispatchQueue::serial("bench.callbacks");
    config = std::make_shared<ZIRDatabaseConfig>(name);
    config->setCallbackQueue(callbacks);
    database = ZIRDatabase::createDatabaseForTests(std::make_shared<const FRepoInfo>("bench.example.com", true, "bench"),
                                                   config);
    ZIRDatabaseQuery::sharedQueue()->sync([] {});
  }
  ~BenchDatabase() {
    FRepoManager::disposeRepos(config);
    callbacks->sync([] {});
  }
  // Waits until the work queue and then the callbacks it raised are done.
  void settle() const {
    ZIRDatabaseQuery::sharedQueue()->sync([] {});
    callbacks->sync([] {});
  }

  DispatchQueueRef callbacks;
  ZIRDatabaseConfigRef config;
  std::shared_ptr<ZIRDatabase> database;
};

int benchRun = 0;

void BM_Engine_10kChildSetsWithAValueListener(benchmark::State& state) {
  const FNodeRef leaf = FSnapshotUtilities::nodeFrom(Value(1));
  bool missing = false;
  for (auto _ : state) {
    state.PauseTiming();
    auto db = std::make_unique<BenchDatabase>("sets-" + std::to_string(benchRun++));
    auto location = db->database->referenceWithPath("location");
    auto values = std::make_shared<std::atomic<int>>(0);
    location->observeEventType(ZIRDataEventTypeValue, [values](const ZIRDataSnapshotRef&) { ++*values; });
    db->settle();
    std::shared_ptr<FRepo> repo = db->database->repo();
    // The server has answered that the location is empty: every set changes a known value.
    ZIRDatabaseQuery::sharedQueue()->sync([&] {
      repo->eventRaiser()->raiseEvents(
          repo->serverSyncTree()->applyServerOverwriteAtPath(location->path(), FEmptyNode::emptyNode()));
      repo->eventRaiser()->raiseEvents(repo->serverSyncTree()->applyListenCompleteAtPath(location->path()));
    });
    db->settle();
    values->store(0);
    std::vector<FPathRef> paths;
    paths.reserve(kSets);
    for (int i = 0; i < kSets; ++i) paths.push_back(location->path()->childFromString(childKey(i)));
    state.ResumeTiming();

    ZIRDatabaseQuery::sharedQueue()->sync([&] {
      for (const FPathRef& path : paths) repo->set(path, leaf, nullptr);
    });
    db->callbacks->sync([] {});

    state.PauseTiming();
    missing = missing || values->load() != kSets;
    db.reset();
    state.ResumeTiming();
  }
  if (missing) state.SkipWithError("a value event is missing");
  state.SetItemsProcessed(state.iterations() * kSets);
}
BENCHMARK(BM_Engine_10kChildSetsWithAValueListener)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Bare_10kChildUpdatesOfANode(benchmark::State& state) {
  const FNodeRef leaf = FSnapshotUtilities::nodeFrom(Value(1));
  std::vector<std::string> keys;
  for (int i = 0; i < kSets; ++i) keys.push_back(childKey(i));
  for (auto _ : state) {
    FNodeRef node = FEmptyNode::emptyNode();
    for (const std::string& key : keys) {
      node = node->updateImmediateChild(key, leaf);
      benchmark::DoNotOptimize(node);
    }
  }
  state.SetItemsProcessed(state.iterations() * kSets);
}
BENCHMARK(BM_Bare_10kChildUpdatesOfANode)->Unit(benchmark::kMillisecond)->UseRealTime();

FNodeRef hundredThousandChildren() {
  Value value = Value::object();
  for (int i = 0; i < kChildren; ++i) value[childKey(i)] = Value{{"n", i}};
  return FSnapshotUtilities::nodeFrom(value);
}

void BM_Engine_ListenLimit100Over100kChildren(benchmark::State& state) {
  BenchDatabase db("listen-" + std::to_string(benchRun++));
  auto location = db.database->referenceWithPath("big");
  // A listener holds the whole location, as the server sent it.
  location->observeEventType(ZIRDataEventTypeValue, [](const ZIRDataSnapshotRef&) {});
  db.settle();
  const FNodeRef data = hundredThousandChildren();
  std::shared_ptr<FRepo> repo = db.database->repo();
  ZIRDatabaseQuery::sharedQueue()->sync([&] {
    repo->eventRaiser()->raiseEvents(repo->serverSyncTree()->applyServerOverwriteAtPath(location->path(), data));
    repo->eventRaiser()->raiseEvents(repo->serverSyncTree()->applyListenCompleteAtPath(location->path()));
  });
  db.settle();
  auto limited = location->queryLimitedToFirst(kLimit);
  auto added = std::make_shared<std::atomic<int>>(0);
  auto values = std::make_shared<std::atomic<int>>(0);
  bool missing = false;

  for (auto _ : state) {
    added->store(0);
    values->store(0);
    ZIRDatabaseHandle childHandle =
        limited->observeEventType(ZIRDataEventTypeChildAdded, [added](const ZIRDataSnapshotRef&) { ++*added; });
    ZIRDatabaseHandle valueHandle =
        limited->observeEventType(ZIRDataEventTypeValue, [values](const ZIRDataSnapshotRef&) { ++*values; });
    db.settle();

    state.PauseTiming();
    missing = missing || added->load() != kLimit || values->load() != 1;
    limited->removeObserverWithHandle(childHandle);
    limited->removeObserverWithHandle(valueHandle);
    db.settle();
    state.ResumeTiming();
  }
  if (missing) state.SkipWithError("the limited listen missed events");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Engine_ListenLimit100Over100kChildren)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Bare_First100Of100kChildren(benchmark::State& state) {
  const FNodeRef data = hundredThousandChildren();
  for (auto _ : state) {
    FNodeRef window = FEmptyNode::emptyNode();
    int taken = 0;
    data->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool* stop) {
      window = window->updateImmediateChild(key, child);
      *stop = ++taken == kLimit;
    });
    benchmark::DoNotOptimize(FIndexedNode::indexedNodeWithNode(window)->firstChild());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Bare_First100Of100kChildren)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Keeps each run's real time per iteration, to print the ratios after the table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        std::string name = run.benchmark_name();
        name = name.substr(0, name.find('/'));  // without "/real_time"
        seconds_[name] = run.GetAdjustedRealTime() * timeUnitSeconds(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatio(const char* what, const std::string& engine, const std::string& bare) const {
    auto e = seconds_.find(engine);
    auto b = seconds_.find(bare);
    if (e == seconds_.end() || b == seconds_.end() || b->second <= 0) return;
    std::printf("%-48s engine %.3f ms, bare data model %.3f ms: %.1fx\n", what, e->second * 1e3, b->second * 1e3,
                e->second / b->second);
  }

 private:
  static double timeUnitSeconds(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kNanosecond: return 1e-9;
      case benchmark::kMicrosecond: return 1e-6;
      case benchmark::kMillisecond: return 1e-3;
      case benchmark::kSecond: return 1.0;
    }
    return 1.0;
  }
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nCost of the engine over the bare data model (same work, same run):\n");
  reporter.printRatio("10,000 child sets with a value listener",
                      "BM_Engine_10kChildSetsWithAValueListener", "BM_Bare_10kChildUpdatesOfANode");
  reporter.printRatio("listen, limit 100 over 100,000 children",
                      "BM_Engine_ListenLimit100Over100kChildren", "BM_Bare_First100Of100kChildren");
  benchmark::Shutdown();
  return 0;
}
