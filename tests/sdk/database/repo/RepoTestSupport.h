#pragma once
// The harness of the repository tests: databases made for tests (one configuration name each)
// against the in-process server or offline, callbacks on a serial queue of the test's own, event
// recorders that are safe from any thread, and waiting for the work queue and the callbacks.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSError.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/realtime/FRepo.h"
#include "sdk/database/realtime/FRepoManager.h"
#include "sdk/database/realtime/ZIRDataSnapshot.h"
#include "sdk/database/realtime/ZIRDatabase.h"
#include "sdk/database/realtime/ZIRDatabaseQuery.h"
#include "sdk/database/realtime/ZIRDatabaseReference.h"
#include "sdk/database/realtime/ZIRMutableData.h"
#include "sdk/database/realtime/ZIRTransactionResult.h"
#include "tests/support/WaitFor.h"
#include "tests/support/database/DatabaseTestServer.h"

namespace repotest {

using testsupport::DatabaseTestServer;
using testsupport::waitFor;
using Strings = std::vector<std::string>;

inline std::string json(const Value& value) { return value::toJSON(value); }

// Lines recorded from callbacks on any thread.
class Recorder {
 public:
  void add(std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
  }
  Strings all() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_.size();
  }
  std::string last() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_.empty() ? std::string() : lines_.back();
  }
  bool contains(const std::string& line) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& l : lines_) {
      if (l == line) return true;
    }
    return false;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  Strings lines_;
};
using RecorderRef = std::shared_ptr<Recorder>;

inline std::string errorText(const NSErrorRef& error) {
  return error ? error->localizedDescription() : std::string("none");
}

struct DatabaseOptions {
  std::string name = "test";
  bool online = true;
  bool persistence = false;
  std::shared_ptr<FStorageEngine> storageEngine = nullptr;
};

class RepoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = DatabaseTestServer::create();
    callbacks_ = DispatchQueue::serial("test.callbacks");
  }
  void TearDown() override {
    settle();
    for (const ZIRDatabaseConfigRef& config : configs_) FRepoManager::disposeRepos(config);
    // Frames still on their way are handled while everything is alive: the server's queue must
    // not be at work when the process exits and its statics go.
    for (int i = 0; i < 3; ++i) {
      server_->requests();
      settle();
    }
  }

  ZIRDatabaseConfigRef makeConfig(const DatabaseOptions& options) {
    auto config = std::make_shared<ZIRDatabaseConfig>(options.name);
    config->setCallbackQueue(callbacks_);
    config->setPersistenceEnabled(options.persistence);
    if (options.storageEngine) config->setForceStorageEngine(options.storageEngine);
    if (options.online) config->setTransportFactory(server_->transportFactory());
    configs_.push_back(config);
    return config;
  }
  FRepoInfoRef repoInfo() const { return std::make_shared<const FRepoInfo>("test.example.com", true, "testns"); }

  std::shared_ptr<ZIRDatabase> makeDatabase(const DatabaseOptions& options = {}) {
    return ZIRDatabase::createDatabaseForTests(repoInfo(), makeConfig(options));
  }

  // Waits until the work queue has run what was queued so far, and then the callbacks that work
  // raised.
  void settle() {
    for (int i = 0; i < 2; ++i) {
      ZIRDatabaseQuery::sharedQueue()->sync([] {});
      callbacks_->sync([] {});
    }
  }
  // Runs the block on the work queue and waits for it.
  void onWorkQueue(const std::function<void()>& block) { ZIRDatabaseQuery::sharedQueue()->sync(block); }

  bool connected(const std::shared_ptr<ZIRDatabase>& database) {
    bool result = false;
    onWorkQueue([&] { result = database->repo()->connection()->isConnected(); });
    return result;
  }
  void waitUntilConnected(const std::shared_ptr<ZIRDatabase>& database) {
    ASSERT_TRUE(waitFor([&] { return connected(database); }, 20.0)) << "the client never connected";
  }

  // "value <json>" for each value event.
  static ZIRDatabaseHandle recordValues(const ZIRDatabaseQueryRef& query, const RecorderRef& recorder) {
    return query->observeEventType(
        ZIRDataEventTypeValue, [recorder](const ZIRDataSnapshotRef& snapshot) {
          recorder->add("value " + json(snapshot->value()));
        },
        [recorder](const NSErrorRef& error) { recorder->add("cancel " + errorText(error)); });
  }
  // A recorder of the value events at `path` of the database, as recordValues writes them.
  static RecorderRef watchValues(const std::shared_ptr<ZIRDatabase>& database, const std::string& path) {
    auto values = std::make_shared<Recorder>();
    recordValues(database->referenceWithPath(path), values);
    return values;
  }
  // The server holds `value` at `path`; a new database records the values at `path` into `values`.
  // Answers the database once it has recorded the server's value, else none (the test fails).
  std::shared_ptr<ZIRDatabase> databaseSeeing(const std::string& path, const Value& value, RecorderRef& values) {
    server_->setValue("/" + path, value);
    auto database = makeDatabase();
    values = watchValues(database, path);
    const bool seen = waitFor([&] { return values->size() == 1; }, 20.0);
    EXPECT_TRUE(seen) << "the value at /" << path << " never arrived";
    return seen ? database : nullptr;
  }
  // "added <key> <json> prev=<key>" and so on for each child event.
  static void recordChildren(const ZIRDatabaseQueryRef& query, const RecorderRef& recorder) {
    const std::pair<ZIRDataEventType, const char*> types[] = {{ZIRDataEventTypeChildAdded, "added"},
                                                             {ZIRDataEventTypeChildRemoved, "removed"},
                                                             {ZIRDataEventTypeChildChanged, "changed"},
                                                             {ZIRDataEventTypeChildMoved, "moved"}};
    for (const auto& [type, name] : types) {
      query->observeEventTypeAndPreviousSiblingKey(
          type, [recorder, name = std::string(name)](const ZIRDataSnapshotRef& snapshot,
                                                     const std::optional<std::string>& previous) {
            recorder->add(name + " " + snapshot->key().value_or("/") + " " + json(snapshot->value()) +
                          (previous ? " prev=" + *previous : std::string()));
          });
    }
  }
  // A completion that records "done <error or none>".
  static ZIRDatabaseReferenceCompletion recordCompletion(const RecorderRef& recorder) {
    return [recorder](const NSErrorRef& error, const ZIRDatabaseReferenceRef&) {
      recorder->add("done " + errorText(error));
    };
  }

  std::shared_ptr<DatabaseTestServer> server_;
  DispatchQueueRef callbacks_;
  std::vector<ZIRDatabaseConfigRef> configs_;
};

}  // namespace repotest
