// Several clients on one in-process server (the first, and some others, with the local cache on),
// driven at random through the public objects: sets (some with priorities), several writes at one
// place made before any answer, updates (some writing a priority beside the data below it),
// removals, transactions, writes the server refuses, writes of "another client" made on the server
// itself, value and child listeners on default, limited and ranged queries (ordered by key, value,
// priority or a child's value) that come and go, keep-synced queries, one-time reads (some
// followed by a listener of the same query), onDisconnect writes, purges, going offline and
// online, links the server drops or refuses, a server that holds every write for a while, and
// clients with a local cache that restart (online or offline) with the writes they had not seen
// answered: at random, and twice a run with writes waiting (made offline when there are none), so
// that every run restores unanswered writes more than once. While its link is down a client often
// adds a listener of all the data above the windows (whose listen, on reconnecting, replaces
// theirs), and another client now and then takes away most or all of the children the windows
// show.
//
// Between steps, once everything has settled, the listeners of every connected client show the
// server's data with that client's unanswered writes laid over it in the order they were made (a
// window while writes wait only where the client holds all the data of its location), and a
// listener added right after a read of its query answered with data never starts with nothing.
// Once everything is back online and has settled: every listener's last value (priorities
// included; and the children its child events built up, in order) equals what the server holds for
// its query, and every completion was called exactly once (a client that restarted may leave the
// callbacks of its ended process uncalled; its restored writes are answered all the same).
//
// Not generated, each for a reason:
// - server values ("timestamp"): a client shows its own reckoning of the server's clock until the
//   server's data replaces it, which the check between steps cannot foretell (RepoTests and the
//   server-value tests cover them);
// - listens the server revokes or refuses, and refused credentials: they end listeners with a
//   cancel event, which this test counts as a fault (the randomised sync-tree test refuses
//   listens; the connection tests revoke them);
// - range merges: the in-process server compares the simple hash alone and never sends them;
// - pruning of the local cache: the data here stays far below the cache's size (the persistence
//   tests prune);
// - equal-to queries, push ids and onDisconnect removals: the first are ranged queries with both
//   ends alike, the second plain keys, the third an onDisconnect set of nothing, which are made.
//
// Nothing waits on real time: the test lets everything in flight settle after each step (or burst
// of steps), steps the manual clock, and gives the reconnection jitter a source seeded by the
// seed. A seed that fails is printed with the steps it took; SA_DB_RANDOM_SEEDS="first:count" and
// SA_DB_RANDOM_STEPS=n run other seeds and lengths (the suite runs a few).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include "platform/foundation/Clock.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FNodeFilter.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FIndexedNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/sdk/database/repo/RepoTestSupport.h"
#include "tests/support/ManualClock.h"

using namespace repotest;

namespace {

std::vector<int> seedsToRun() {
  int first = 1;
  int count = 5;
  if (const char* text = std::getenv("SA_DB_RANDOM_SEEDS")) {
    std::sscanf(text, "%d:%d", &first, &count);
  }
  std::vector<int> seeds;
  for (int i = 0; i < count; ++i) seeds.push_back(first + i);
  return seeds;
}

int stepsToRun() {
  const char* text = std::getenv("SA_DB_RANDOM_STEPS");
  return text ? std::atoi(text) : 150;
}

const std::vector<std::string> kKeys = {"a", "b", "c", "1", "2", "10"};

// What one listener has seen: the last value, or the children that its child events built up.
struct ListenerState {
  std::mutex mutex;
  std::optional<Value> lastValue;
  std::vector<std::string> lastOrder;  // the keys of the last value's children, in the query's order
  std::map<std::string, Value> children;
  std::vector<std::string> problems;
  std::vector<std::string> trace;  // the events, for a failure's message
  // Set for a listener added right after a one-time read of its query answered with this data.
  std::optional<Value> readJustBefore;

  void problem(std::string text) { problems.push_back(std::move(text) + " (event " + std::to_string(trace.size()) + ")"); }
  std::string traceText() const {
    std::string text;
    for (const std::string& line : trace) text += "  " + line + "\n";
    return text;
  }
  void note(const std::string& event, const std::string& key, const Value& value,
            const std::optional<std::string>& previous) {
    trace.push_back(event + " " + key + " " + value::toJSON(value) + (previous ? " prev=" + *previous : ""));
  }
};

struct Listener {
  size_t client = 0;
  std::string name;
  ZIRDatabaseQueryRef query;
  bool childEvents = false;
  std::vector<ZIRDatabaseHandle> handles;
  std::shared_ptr<ListenerState> state = std::make_shared<ListenerState>();
  bool removed = false;
};

// The writes of one client that the server has not answered yet, in the order they were made, as
// changes to the whole data; and how many of its transactions are running. From any thread.
class PendingWrites {
 public:
  using Change = std::function<FNodeRef(const FNodeRef& root)>;
  int add(std::string path, Change change) {
    std::lock_guard<std::mutex> lock(mutex_);
    changes_.push_back({next_, std::move(path), std::move(change)});
    return next_++;
  }
  void answered(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    changes_.erase(std::remove_if(changes_.begin(), changes_.end(), [id](const Pending& p) { return p.id == id; }),
                   changes_.end());
  }
  std::vector<std::string> paths() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const Pending& p : changes_) out.push_back(p.path);
    return out;
  }
  void transaction(int delta) {
    std::lock_guard<std::mutex> lock(mutex_);
    transactions_ += delta;
  }
  bool transactionsRunning() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return transactions_ > 0;
  }
  bool empty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return changes_.empty();
  }
  // The data with the writes laid over it one after another.
  FNodeRef layOver(FNodeRef root) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Pending& p : changes_) root = p.change(root);
    return root;
  }

 private:
  struct Pending {
    int id;
    std::string path;
    Change change;
  };
  mutable std::mutex mutex_;
  std::vector<Pending> changes_;
  int next_ = 0;
  int transactions_ = 0;
};

struct Client {
  size_t index = 0;
  std::string name;
  bool persistence = false;
  std::shared_ptr<ZIRDatabase> database;
  std::shared_ptr<PendingWrites> pending = std::make_shared<PendingWrites>();
  // The writes restored from the local cache at a restart, by write id, with their entries in
  // `pending`: they have no completion, and are answered once the sync tree no longer holds them.
  std::vector<std::pair<int64_t, int>> restored;
  bool offline = false;
  std::set<size_t> keptSynced;
};

// Completion counts by operation number, from any thread.
class Completions {
 public:
  int expect(std::string what, size_t client) {
    std::lock_guard<std::mutex> lock(mutex_);
    names_.push_back(std::move(what));
    counts_.push_back(0);
    owners_.push_back(client);
    abandoned_.push_back(false);
    return static_cast<int>(counts_.size()) - 1;
  }
  void called(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    counts_[static_cast<size_t>(id)] += 1;
  }
  // The client ended (a restart): what it has not called back yet may never be called.
  void abandon(size_t client) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < counts_.size(); ++i) {
      if (owners_[i] == client && counts_[i] == 0) abandoned_[i] = true;
    }
  }
  bool allCalled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < counts_.size(); ++i) {
      if (counts_[i] == 0 && !abandoned_[i]) return false;
    }
    return true;
  }
  std::vector<std::string> notExactlyOnce() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (size_t i = 0; i < counts_.size(); ++i) {
      if (counts_[i] > 1 || (counts_[i] == 0 && !abandoned_[i])) {
        out.push_back(names_[i] + " called " + std::to_string(counts_[i]) + " times");
      }
    }
    return out;
  }
  int total() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (int c : counts_) n += c;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> names_;
  std::vector<int> counts_;
  std::vector<size_t> owners_;
  std::vector<bool> abandoned_;
};

class RandomEndToEndTest : public RepoTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    RepoTest::SetUp();
    random_.seed(static_cast<uint32_t>(GetParam()));
    // The jitter of the reconnection waits decides which of them a step of the clock ends.
    auto jitter = std::make_shared<std::mt19937>(static_cast<uint32_t>(GetParam()));
    FUtilities::setRandomDoubleSourceForTests(
        [jitter] { return std::uniform_real_distribution<double>(0.0, 1.0)(*jitter); });
  }
  void TearDown() override {
    RepoTest::TearDown();
    FUtilities::setRandomDoubleSourceForTests(nullptr);
  }

  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  bool chance(int percent) { return pick(100) < percent; }
  const std::string& anyKey() { return kKeys[static_cast<size_t>(pick(static_cast<int>(kKeys.size())))]; }

  Value leaf() {
    if (chance(70)) return Value(pick(10));
    return Value("s" + std::to_string(pick(4)));
  }
  Value priority() { return chance(70) ? Value(pick(4)) : Value("p" + std::to_string(pick(3))); }
  Value child() {
    const int kind = pick(10);
    if (kind < 4) return leaf();
    if (kind < 5) return Value();
    Value object = Value::object();
    if (chance(80)) object["n"] = pick(10);
    if (chance(50)) object["m"] = "s" + std::to_string(pick(4));
    if (object.empty()) object["n"] = 0;
    if (chance(25)) object[".priority"] = priority();
    return object;
  }
  Value location() {
    Value object = Value::object();
    for (const std::string& key : kKeys) {
      if (chance(50)) object[key] = child();
    }
    if (!object.empty() && chance(25)) object[".priority"] = priority();
    return object;
  }
  // A path to write at, with a value that suits it.
  std::pair<std::string, Value> anyWrite() {
    switch (pick(6)) {
      case 0: return {"/r", location()};
      case 1:
      case 2: return {"/r/" + anyKey(), child()};
      case 3: return {"/r/" + anyKey() + "/n", Value(pick(10))};
      case 4: return {"/r/" + anyKey() + "/m", Value("s" + std::to_string(pick(4)))};
      default: return {"/r/" + anyKey() + "/n", Value()};
    }
  }

  // The queries listened to; each built afresh through the public builders.
  static constexpr int kQueryCount = 13;
  static constexpr int kLocationQuery = 0;  // all of /r, where the windows are
  static constexpr int kRootQuery = 6;
  ZIRDatabaseQueryRef query(const std::shared_ptr<ZIRDatabase>& database, int which, std::string& name) {
    auto r = database->referenceWithPath("r");
    switch (which) {
      case 0: name = "/r"; return r;
      case 1: name = "/r/a"; return r->child("a");
      case 2: name = "/r by n first 2"; return r->queryOrderedByChild("n")->queryLimitedToFirst(2);
      case 3: name = "/r by value 3..7"; return r->queryOrderedByValue()->queryStartingAtValue(Value(3))->queryEndingAtValue(Value(7));
      case 4: name = "/r last 3"; return r->queryLimitedToLast(3);
      case 5: name = "/r by key from b first 2"; return r->queryOrderedByKey()->queryStartingAtValue(Value("b"))->queryLimitedToFirst(2);
      case 6: name = "/"; return database->reference();
      case 7: name = "/r by n 2..6 last 2"; return r->queryOrderedByChild("n")->queryStartingAtValue(Value(2))->queryEndingAtValue(Value(6))->queryLimitedToLast(2);
      case 8: name = "/r/a/n"; return r->child("a/n");
      case 9: name = "/r by priority first 3"; return r->queryOrderedByPriority()->queryLimitedToFirst(3);
      case 10:
        name = "/r by m from s1 first 2";
        return r->queryOrderedByChild("m")->queryStartingAtValue(Value("s1"))->queryLimitedToFirst(2);
      case 11: name = "/r by n up to 4"; return r->queryOrderedByChild("n")->queryEndingAtValue(Value(4));
      default: name = "/r by n"; return r->queryOrderedByChild("n");
    }
  }

  void log(const std::string& line) { steps_ << line << "\n"; }

  // What a set or an update does to the whole data.
  static PendingWrites::Change setAt(const std::string& path, const Value& value, const Value& priority = Value()) {
    FNodeRef node = FSnapshotUtilities::nodeFrom(value, priority);
    FPathRef at = FPath::pathWithString(path);
    return [node, at](const FNodeRef& root) { return root->updateChild(at, node); };
  }
  static PendingWrites::Change updateAt(const std::string& path, const Value& children) {
    FCompoundWriteRef merge = FCompoundWrite::compoundWriteWithValueDictionary(children);
    FPathRef at = FPath::pathWithString(path);
    return [merge, at](const FNodeRef& root) { return root->updateChild(at, merge->applyToNode(root->getChild(at))); };
  }
  // The completion of a write the client shows at once: until it is called, the write is pending.
  ZIRDatabaseReferenceCompletion localWriteCompletion(Client& client, const std::string& what,
                                                     const std::string& path, PendingWrites::Change change) {
    const int id = completions_->expect(what, client.index);
    const int pendingId = client.pending->add(path, std::move(change));
    auto completions = completions_;
    auto pending = client.pending;
    return [completions, id, pending, pendingId](const NSErrorRef&, const ZIRDatabaseReferenceRef&) {
      pending->answered(pendingId);
      completions->called(id);
    };
  }
  ZIRDatabaseReferenceCompletion writeCompletion(const std::string& what, size_t client) {
    const int id = completions_->expect(what, client);
    auto completions = completions_;
    return [completions, id](const NSErrorRef&, const ZIRDatabaseReferenceRef&) { completions->called(id); };
  }

  // Whether the client's link is up; in a burst, from the work queue it runs on.
  bool linkUp(const Client& client) {
    if (inBurst_) return client.database->repo()->connection()->isConnected();
    return connected(client.database);
  }

  void addListener(size_t clientIndex, std::optional<int> which = std::nullopt,
                   std::optional<Value> readJustBefore = std::nullopt) {
    Listener listener;
    listener.client = clientIndex;
    if (!which && !linkUp(clients_[clientIndex]) && chance(50)) {
      // While the link is down, often a listener of all the data above the windows: its listen,
      // sent on reconnecting, covers theirs.
      which = chance(50) ? kRootQuery : kLocationQuery;
    }
    listener.query = query(clients_[clientIndex].database, which ? *which : pick(kQueryCount), listener.name);
    listener.childEvents = !readJustBefore && chance(40);
    auto state = listener.state;
    state->readJustBefore = std::move(readJustBefore);
    const std::string name = listener.name;
    auto cancelled = [state, name](const NSErrorRef& error) {
      std::lock_guard<std::mutex> lock(state->mutex);
      state->problem("cancelled: " + errorText(error));
    };
    // The registrations of one listener are made together on the work queue: the answer to the
    // listen that the first one sends, or the cached data it shows at once, must not reach the
    // view before the others are in.
    auto registerAll = [&] {
      if (!listener.childEvents) {
        listener.handles.push_back(listener.query->observeEventType(
            ZIRDataEventTypeValue,
            [state](const ZIRDataSnapshotRef& snapshot) {
              std::lock_guard<std::mutex> lock(state->mutex);
              if (state->readJustBefore && !state->lastValue && snapshot->valueInExportFormat().is_null() &&
                  !state->readJustBefore->is_null()) {
                state->problem("started with nothing right after a read of the query answered " +
                               value::toJSON(*state->readJustBefore));
              }
              state->lastValue = snapshot->valueInExportFormat();
              state->lastOrder.clear();
              for (const auto& child : snapshot->children()) state->lastOrder.push_back(child->key().value_or(""));
              state->note("value", "", *state->lastValue, std::nullopt);
            },
            cancelled));
      } else {
        // The previous keys of one change's events name the order after the whole change (added
        // ones before moved ones), so the children are kept by key; their order is checked once
        // things have settled.
        listener.handles.push_back(listener.query->observeEventTypeAndPreviousSiblingKey(
            ZIRDataEventTypeChildAdded,
            [state](const ZIRDataSnapshotRef& snapshot, const std::optional<std::string>& previous) {
              std::lock_guard<std::mutex> lock(state->mutex);
              const std::string key = snapshot->key().value_or("");
              state->note("added", key, snapshot->valueInExportFormat(), previous);
              if (state->children.count(key)) state->problem("added " + key + " twice");
              if (previous && !state->children.count(*previous)) state->problem("added " + key + " after an unknown child");
              state->children[key] = snapshot->valueInExportFormat();
            },
            cancelled));
        listener.handles.push_back(listener.query->observeEventType(
            ZIRDataEventTypeChildRemoved, [state](const ZIRDataSnapshotRef& snapshot) {
              std::lock_guard<std::mutex> lock(state->mutex);
              const std::string key = snapshot->key().value_or("");
              state->note("removed", key, snapshot->valueInExportFormat(), std::nullopt);
              auto found = state->children.find(key);
              if (found == state->children.end()) {
                state->problem("removed the unknown " + key);
                return;
              }
              if (found->second != snapshot->valueInExportFormat()) {
                state->problem("removed " + key + " with a value it did not have");
              }
              state->children.erase(found);
            }));
        for (const auto& [type, name] : {std::pair{ZIRDataEventTypeChildMoved, "moved"},
                                         std::pair{ZIRDataEventTypeChildChanged, "changed"}}) {
          listener.handles.push_back(listener.query->observeEventTypeAndPreviousSiblingKey(
              type, [state, name = std::string(name)](const ZIRDataSnapshotRef& snapshot,
                                                      const std::optional<std::string>& previous) {
                std::lock_guard<std::mutex> lock(state->mutex);
                const std::string key = snapshot->key().value_or("");
                state->note(name, key, snapshot->valueInExportFormat(), previous);
                if (!state->children.count(key)) state->problem(name + " the unknown " + key);
                if (previous && !state->children.count(*previous)) {
                  state->problem(name + " " + key + " after an unknown child");
                }
                state->children[key] = snapshot->valueInExportFormat();
              }));
        }
      }
    };
    if (inBurst_) {
      registerAll();
    } else {
      ZIRDatabaseQuery::sharedQueue()->sync(registerAll);
    }
    log("client " + std::to_string(clientIndex) + " listens to " + listener.name +
        (listener.childEvents ? " (children)" : " (value)") + (state->readJustBefore ? " after reading it" : ""));
    listeners_.push_back(std::move(listener));
  }

  // The client's process ends and starts again on its local cache: its listeners, kept-synced
  // queries and callbacks end with it; the writes it had not seen answered are restored from the
  // cache and sent again. It starts online or offline.
  void restart(Client& client, const std::string& who) {
    const bool offline = chance(30);
    log(who + "restarts" + (offline ? " offline" : ""));
    for (Listener& listener : listeners_) {
      if (listener.client == client.index) listener.removed = true;
    }
    completions_->abandon(client.index);
    FRepoManager::disposeRepos(client.database->config());
    settle();
    client.database = makeDatabase({.name = client.name, .persistence = true});
    if (offline) client.database->goOffline();
    client.offline = offline;
    client.keptSynced.clear();
    client.pending = std::make_shared<PendingWrites>();
    client.restored.clear();
    auto pending = client.pending;
    std::vector<std::pair<int64_t, int>> restored;
    onWorkQueue([&] {
      for (const FWriteRecordRef& write : client.database->repo()->serverSyncTree()->pendingWriteTree()->allWrites()) {
        const std::string path = write->path()->toString();
        PendingWrites::Change change;
        if (write->isOverwrite()) {
          FNodeRef node = write->overwrite();
          FPathRef at = write->path();
          change = [node, at](const FNodeRef& root) { return root->updateChild(at, node); };
        } else {
          FCompoundWriteRef merge = write->compoundWrite();
          FPathRef at = write->path();
          change = [merge, at](const FNodeRef& root) {
            return root->updateChild(at, merge->applyToNode(root->getChild(at)));
          };
        }
        restored.emplace_back(write->writeId(), pending->add(path, std::move(change)));
      }
    });
    client.restored = std::move(restored);
    if (!client.restored.empty()) {
      log(who + "restored " + std::to_string(client.restored.size()) + " writes");
      ++restartsWithWritesRestored_;
    }
  }
  // A client with a local cache ends while writes of its wait unanswered (one made while offline,
  // when it has none) and starts again on its cache. The runs do this twice, at a third and at two
  // thirds of their steps: the random restarts alone (2% of the steps of a client with a cache)
  // leave many runs without a restart that has writes to restore.
  void restartWithUnansweredWrites(int number) {
    std::vector<size_t> withCache;
    for (const Client& client : clients_) {
      if (client.persistence) withCache.push_back(client.index);
    }
    Client& client = clients_[withCache[static_cast<size_t>(pick(static_cast<int>(withCache.size())))]];
    const std::string who = "#" + std::to_string(number) + " client " + std::to_string(client.index) + ": ";
    if (client.pending->empty()) {
      if (!client.offline) {
        log(who + "goes offline");
        client.offline = true;
        client.database->goOffline();
      }
      auto [path, value] = anyWrite();
      log(who + "set " + path + " " + json(value));
      client.database->referenceWithPath(path)->setValue(
          value, localWriteCompletion(client, who + "set " + path, path, setAt(path, value)));
      quiesce();
    }
    restart(client, who);
  }

  // The restored writes that the sync tree no longer holds have been answered.
  void noteRestoredWritesAnswered() {
    for (Client& client : clients_) {
      if (client.restored.empty()) continue;
      std::vector<std::pair<int64_t, int>> left;
      onWorkQueue([&] {
        auto writes = client.database->repo()->serverSyncTree()->pendingWriteTree();
        for (const auto& [writeId, entry] : client.restored) {
          if (writes->writeForId(writeId)) {
            left.emplace_back(writeId, entry);
          } else {
            client.pending->answered(entry);
          }
        }
      });
      client.restored = std::move(left);
    }
  }

  void step(int number) {
    const size_t c = static_cast<size_t>(pick(static_cast<int>(clients_.size())));
    Client& client = clients_[c];
    auto root = client.database->reference();
    const std::string who = "#" + std::to_string(number) + " client " + std::to_string(c) + ": ";
    // Now and then a client with a local cache restarts: 2% of its steps, a few a run, as each
    // one disposes of the client and reopens its cache; the two planned restarts a run make sure
    // that writes wait to be restored.
    if (!inBurst_ && client.persistence && chance(2)) {
      restart(client, who);
      if (chance(50)) addListener(c);
      return;
    }
    const int kind = pick(100);
    if (kind >= 95) {
      writesInARow(client, who);
    } else if (kind >= 93) {
      if (inBurst_) return;
      racingWrite(client, who, number);
    } else if (kind < 18 || kind >= 89) {
      auto [path, value] = anyWrite();
      if (!value.is_null() && chance(15)) {
        const Value withPriority = priority();
        log(who + "set " + path + " " + json(value) + " with priority " + json(withPriority));
        client.database->referenceWithPath(path)->setValueAndPriority(
            value, withPriority, localWriteCompletion(client, who + "set " + path, path, setAt(path, value, withPriority)));
      } else {
        log(who + "set " + path + " " + json(value));
        client.database->referenceWithPath(path)->setValue(
            value, localWriteCompletion(client, who + "set " + path, path, setAt(path, value)));
      }
    } else if (kind < 26) {
      Value children = Value::object();
      const int n = 1 + pick(3);
      for (int i = 0; i < n; ++i) {
        const std::string key = anyKey();
        // No path above another.
        if (children.contains(key) || children.contains(key + "/n") || children.contains(key + "/.priority")) continue;
        if (chance(50)) {
          children[key] = child();
        } else {
          children[key + "/n"] = chance(80) ? Value(pick(10)) : Value();
        }
      }
      if (chance(25)) {
        // The priority of a child it writes below, or of /r, beside the data.
        std::string at = ".priority";
        for (const auto& [written, ignored] : children.items()) {
          if (written.size() > 2 && written.substr(written.size() - 2) == "/n" && chance(50)) {
            at = written.substr(0, written.size() - 1) + ".priority";
          }
        }
        children[at] = chance(80) ? priority() : Value();
      }
      log(who + "update /r " + json(children));
      client.database->referenceWithPath("r")->updateChildValues(
          children, localWriteCompletion(client, who + "update /r", "/r", updateAt("/r", children)));
    } else if (kind < 30) {
      const std::string path = "/r/" + anyKey();
      log(who + "remove " + path);
      client.database->referenceWithPath(path)->removeValue(
          localWriteCompletion(client, who + "remove " + path, path, setAt(path, Value())));
    } else if (kind < 38) {
      // None while the server holds writes: a client with a transaction waiting cannot be checked.
      if (holding_) return;
      const std::string path = chance(50) ? "/r/" + anyKey() : "/r/" + anyKey() + "/n";
      const bool aborts = chance(15);
      const bool local = chance(80);
      log(who + "transaction " + path + (aborts ? " (aborts)" : "") + (local ? "" : " (not local)"));
      const int id = completions_->expect(who + "transaction " + path, c);
      auto completions = completions_;
      auto pending = client.pending;
      pending->transaction(1);
      client.database->referenceWithPath(path)->runTransactionBlock(
          [aborts](const ZIRMutableDataRef& data) -> ZIRTransactionResultRef {
            if (aborts) return ZIRTransactionResult::abort();
            const Value current = data->value();
            data->setValue(current.is_number_integer() ? Value(current.get<int64_t>() + 1) : Value(1));
            return ZIRTransactionResult::successWithValue(data);
          },
          [completions, id, pending](const NSErrorRef&, bool, const ZIRDataSnapshotRef&) {
            pending->transaction(-1);
            completions->called(id);
          },
          local);
    } else if (kind < 40) {
      const std::string path = "/d/" + anyKey();
      log(who + "set the refused " + path);
      const Value value = leaf();
      client.database->referenceWithPath(path)->setValue(
          value, localWriteCompletion(client, who + "refused set " + path, path, setAt(path, value)));
    } else if (kind < 47) {
      auto [path, value] = anyWrite();
      if (chance(20)) {
        // Another client takes away most or all of the children the windows show.
        path = "/r";
        value = Value::object();
        if (chance(50)) value[anyKey()] = child();
      }
      // Often where a client's write waits for its answer.
      std::vector<std::string> waiting;
      for (const Client& other : clients_) {
        for (const std::string& p : other.pending->paths()) {
          if (p.rfind("/r", 0) == 0) waiting.push_back(p);
        }
      }
      if (!waiting.empty() && chance(50)) {
        path = waiting[static_cast<size_t>(pick(static_cast<int>(waiting.size())))];
        const size_t depth = static_cast<size_t>(std::count(path.begin(), path.end(), '/'));
        value = depth == 1 ? location() : depth == 2 ? child() : leaf();
      }
      log("#" + std::to_string(number) + " server sets " + path + " " + json(value));
      server_->setValue(path, value);
    } else if (kind < 55) {
      addListener(c);
    } else if (kind < 59) {
      std::vector<size_t> live;
      for (size_t i = 0; i < listeners_.size(); ++i) {
        if (!listeners_[i].removed) live.push_back(i);
      }
      if (live.empty()) return;
      Listener& listener = listeners_[live[static_cast<size_t>(pick(static_cast<int>(live.size())))]];
      log(who + "stops listening to " + listener.name + " of client " + std::to_string(listener.client));
      for (ZIRDatabaseHandle handle : listener.handles) listener.query->removeObserverWithHandle(handle);
      listener.removed = true;
    } else if (kind < 61) {
      const size_t which = static_cast<size_t>(pick(kQueryCount));
      std::string name;
      auto q = query(client.database, static_cast<int>(which), name);
      const bool keep = !client.keptSynced.count(which);
      log(who + (keep ? "keeps " : "stops keeping ") + name + " synced");
      q->keepSynced(keep);
      if (keep) {
        client.keptSynced.insert(which);
      } else {
        client.keptSynced.erase(which);
      }
    } else if (kind < 65) {
      std::string name;
      const int which = pick(kQueryCount);
      auto q = query(client.database, which, name);
      // Now and then a listener of the query follows once the read has answered.
      const bool thenListen = !inBurst_ && chance(50);
      log(who + "reads " + name + " once" + (thenListen ? ", then listens" : ""));
      const int id = completions_->expect(who + "read " + name, c);
      auto completions = completions_;
      auto answer = std::make_shared<std::optional<Value>>();
      auto answerMutex = std::make_shared<std::mutex>();
      q->getData([completions, id, answer, answerMutex](const NSErrorRef& error, const ZIRDataSnapshotRef& snapshot) {
        if (!error && snapshot) {
          std::lock_guard<std::mutex> lock(*answerMutex);
          *answer = snapshot->valueInExportFormat();
        }
        completions->called(id);
      });
      if (thenListen) {
        quiesce();
        std::optional<Value> answered;
        {
          std::lock_guard<std::mutex> lock(*answerMutex);
          answered = *answer;
        }
        // An answer still to come (offline, it waits for the clock) proves nothing; nor does one
        // while the client's own writes wait, since the server's answer does not hold them.
        if (answered && client.pending->empty()) addListener(c, which, answered);
      }
    } else if (kind < 71) {
      client.offline = !client.offline;
      log(who + (client.offline ? "goes offline" : "goes online"));
      if (client.offline) {
        client.database->goOffline();
      } else {
        client.database->goOnline();
      }
    } else if (kind < 74) {
      log("#" + std::to_string(number) + " the server drops every link");
      server_->dropConnections();
    } else if (kind < 76) {
      refusing_ = !refusing_;
      log("#" + std::to_string(number) + (refusing_ ? " the server refuses links" : " the server accepts links"));
      server_->setAcceptingConnections(!refusing_);
    } else if (kind < 78) {
      // A slow server: the clients' writes wait, in order, while the server's own writes still
      // reach the listens.
      holding_ = !holding_;
      log("#" + std::to_string(number) + (holding_ ? " the server holds requests" : " the server answers again"));
      server_->holdRequests(holding_, std::vector<std::string>{"p", "m"});
    } else if (kind < 82) {
      if (inBurst_) return;
      const double seconds = 0.5 + pick(40) / 10.0;
      log("#" + std::to_string(number) + " time passes: " + std::to_string(seconds) + " s");
      advanceClock(seconds);
    } else if (kind < 87) {
      const std::string path = "/r/" + anyKey();
      auto ref = client.database->referenceWithPath(path);
      switch (pick(3)) {
        case 0: {
          Value value = child();
          log(who + "on disconnect sets " + path + " " + json(value));
          ref->onDisconnectSetValue(value, writeCompletion(who + "onDisconnect set " + path, c));
          break;
        }
        case 1: {
          const int n = pick(10);
          Value children{{"n", n}};
          if (chance(30)) children[".priority"] = priority();
          log(who + "on disconnect updates " + path + " " + json(children));
          ref->onDisconnectUpdateChildValues(children, writeCompletion(who + "onDisconnect update " + path, c));
          break;
        }
        default:
          log(who + "cancels on disconnect at " + path);
          ref->cancelDisconnectOperations(writeCompletion(who + "onDisconnect cancel " + path, c));
      }
    } else if (kind < 89) {
      log(who + "purges its outstanding writes");
      client.database->purgeOutstandingWrites();
    }
  }

  // A few writes at and below one location, made before the server answers any of them: a value
  // with a priority, then its children set and removed in any order.
  void writesInARow(Client& client, const std::string& who) {
    const bool atR = chance(30);
    const std::string at = atR ? "/r" : "/r/" + anyKey();
    const std::vector<std::string> keys = atR ? kKeys : std::vector<std::string>{"m", "n"};
    auto ref = client.database->referenceWithPath(at);
    std::vector<std::function<void()>> writes;
    Value value = Value::object();
    if (chance(70)) {
      // One child, which the writes after it may replace: the location can empty on the way.
      value[keys[static_cast<size_t>(pick(static_cast<int>(keys.size())))]] = atR ? child() : leaf();
    }
    while (value.empty()) {
      for (const std::string& k : keys) {
        if (chance(atR ? 30 : 50)) value[k] = atR ? child() : leaf();
      }
    }
    const Value withPriority = priority();
    log(who + "set " + at + " " + json(value) + " with priority " + json(withPriority));
    writes.push_back([ref, value, withPriority,
                      done = localWriteCompletion(client, who + "set " + at, at, setAt(at, value, withPriority))] {
      ref->setValueAndPriority(value, withPriority, done);
    });
    const int count = 1 + pick(3);
    for (int i = 0; i < count; ++i) {
      const std::string key = keys[static_cast<size_t>(pick(static_cast<int>(keys.size())))];
      if (chance(50)) {
        const Value childValue = atR ? child() : leaf();
        log(who + "set " + at + "/" + key + " " + json(childValue));
        writes.push_back([ref, key, childValue,
                          done = localWriteCompletion(client, who + "set " + at + "/" + key, at + "/" + key,
                                                      setAt(at + "/" + key, childValue))] {
          ref->child(key)->setValue(childValue, done);
        });
      } else {
        log(who + "remove " + at + "/" + key);
        writes.push_back([ref, key,
                          done = localWriteCompletion(client, who + "remove " + at + "/" + key, at + "/" + key,
                                                      setAt(at + "/" + key, Value()))] {
          ref->child(key)->removeValue(done);
        });
      }
    }
    log(who + "makes those " + std::to_string(writes.size()) + " writes in a row");
    auto makeThem = [&] {
      for (const auto& write : writes) write();
    };
    if (inBurst_) {
      makeThem();
    } else {
      ZIRDatabaseQuery::sharedQueue()->sync(makeThem);
    }
  }

  // Another client's write at or above the place of this client's write reaches the server first,
  // while this one waits (sometimes over a plain value the server held there); the listeners are
  // checked before the server takes this client's write.
  void racingWrite(Client& client, const std::string& who, int number) {
    const std::string key = anyKey();
    const std::string parent = "/r/" + key;
    const std::string path = parent + (chance(50) ? "/n" : "/m");
    if (chance(50)) {
      const Value plain = leaf();
      log("#" + std::to_string(number) + " server sets " + parent + " " + json(plain));
      server_->setValue(parent, plain);
      quiesce();
    }
    const bool held = holding_;
    if (!held) server_->holdRequests(true, std::vector<std::string>{"p", "m"});
    const Value mine = chance(50) ? Value() : leaf();
    log(who + "set " + path + " " + json(mine) + ", raced by the server:");
    client.database->referenceWithPath(path)->setValue(
        mine, localWriteCompletion(client, who + "raced set " + path, path, setAt(path, mine)));
    quiesce();
    const bool atParent = chance(30);
    const std::string theirsAt = atParent ? parent : path;
    const Value theirs = atParent ? child() : leaf();
    log("#" + std::to_string(number) + " server sets " + theirsAt + " " + json(theirs));
    server_->setValue(theirsAt, theirs);
    quiesce();
    connectedListenersAgree();
    if (!held) server_->holdRequests(false, std::vector<std::string>{"p", "m"});
  }

  // Runs the server, the work queue and the callbacks until nothing travels between the clients
  // and the server and nothing reaches the listeners any more. Every input of the work queue and
  // of the server's queue then comes from the other queue or from this thread, one at a time, so
  // that a seed always takes the same course.
  void quiesce() {
    size_t quietRounds = 0;
    std::tuple<size_t, size_t, size_t, int, size_t> last{SIZE_MAX, 0, 0, 0, 0};
    for (int round = 0; round < 1000 && quietRounds < 3; ++round) {
      settle();
      size_t events = 0;
      for (const Listener& listener : listeners_) {
        std::lock_guard<std::mutex> lock(listener.state->mutex);
        events += listener.state->trace.size();
      }
      std::tuple<size_t, size_t, size_t, int, size_t> now{server_->requests().size(), server_->deliveries(),
                                                          server_->connectionAttempts().size(),
                                                          completions_->total(), events};
      quietRounds = now == last ? quietRounds + 1 : 0;
      last = now;
    }
    noteRestoredWritesAnswered();
  }

  // Moves the clock on and waits until the timers it made due have run on the work queue: a
  // marker due at the same instant is handed to the queue after them.
  void advanceClock(double seconds) {
    auto marker = std::make_shared<std::atomic<bool>>(false);
    ZIRDatabaseQuery::sharedQueue()->after(seconds, [marker] { *marker = true; });
    Clock::advance(seconds);
    ASSERT_TRUE(waitFor([&] { return marker->load(); }, 20.0)) << "the timers never ran";
    quiesce();
  }

  bool allConnected() {
    bool all = true;
    for (Client& client : clients_) all = all && connected(client.database);
    return all;
  }

  void bringEverythingBack() {
    server_->setAcceptingConnections(true);
    refusing_ = false;
    server_->holdRequests(false, std::vector<std::string>{"p", "m"});
    holding_ = false;
    for (Client& client : clients_) {
      if (client.offline) client.database->goOnline();
      client.offline = false;
    }
    quiesce();
    // Back-off waits end as the clock passes them.
    for (int i = 0; i < 40 && !allConnected(); ++i) advanceClock(31.0);
    ASSERT_TRUE(allConnected()) << steps_.str();
    // Writes, transactions and reads complete; reads that waited offline fail on the clock.
    auto restoredLeft = [&] {
      return std::any_of(clients_.begin(), clients_.end(), [](const Client& c) { return !c.restored.empty(); });
    };
    for (int i = 0; i < 120 && (!completions_->allCalled() || restoredLeft()); ++i) advanceClock(4.0);
    ASSERT_FALSE(restoredLeft()) << "restored writes were never answered\n" << steps_.str();
    ASSERT_TRUE(completions_->allCalled()) << ::testing::PrintToString(completions_->notExactlyOnce()) << "\n"
                                          << steps_.str();
    quiesce();
  }

  // The children of a query's value on the server, in the query's order.
  static std::vector<std::pair<std::string, Value>> orderedChildren(const Value& value, const FIndexRef& index) {
    std::vector<std::pair<std::string, Value>> out;
    FNodeRef node = FSnapshotUtilities::nodeFrom(value);
    if (node->isLeafNode()) return out;
    FIndexedNode::indexedNodeWithNode(node, index)
        ->enumerateChildrenReverse(false, [&](const std::string& key, const FNodeRef& child, bool*) {
          out.emplace_back(key, child->valForExport(true));
        });
    return out;
  }

  // What is wrong with what the listener shows, compared with the server's data for its query;
  // empty when nothing is. A listener without a value yet counts as wrong only at the end.
  std::string listenerMismatch(const Listener& listener, bool atTheEnd,
                               const std::optional<Value>& expectedValue = std::nullopt) {
    const FQuerySpecRef querySpec = listener.query->querySpec();
    const Value expected = expectedValue ? *expectedValue
                                         : server_->queryValueAt(querySpec->path()->toString(),
                                                                 querySpec->params()->wireProtocolParams());
    std::lock_guard<std::mutex> lock(listener.state->mutex);
    const ListenerState& state = *listener.state;
    std::string wrong;
    if (!state.problems.empty()) wrong += ::testing::PrintToString(state.problems) + "\n";
    if (listener.childEvents) {
      std::map<std::string, Value> want;
      for (auto& [key, value] : orderedChildren(expected, querySpec->index())) want[key] = value;
      if (state.children != want) {
        wrong += "children " + ::testing::PrintToString(state.children) + ", the server's " +
                 ::testing::PrintToString(want) + "\n";
      }
    } else if (!state.lastValue) {
      if (atTheEnd) wrong += "never had a value\n";
    } else {
      if (json(*state.lastValue) != json(expected)) {
        wrong += "value " + json(*state.lastValue) + ", the server's " + json(expected) + "\n";
      }
      std::vector<std::string> order;
      for (auto& [key, value] : orderedChildren(expected, querySpec->index())) order.push_back(key);
      if (state.lastOrder != order) wrong += "order " + ::testing::PrintToString(state.lastOrder) + "\n";
    }
    if (wrong.empty()) return wrong;
    return listener.name + " of client " + std::to_string(listener.client) + ": " + wrong + state.traceText();
  }

  void checkListeners() {
    for (const Listener& listener : listeners_) {
      if (listener.removed) continue;
      const std::string wrong = listenerMismatch(listener, true);
      EXPECT_TRUE(wrong.empty()) << wrong << "\n" << steps_.str();
    }
  }

  // Whether the client listens to (or keeps synced) all the data at or above the path: its view of
  // the location is then complete once things have settled.
  bool holdsAllDataAt(size_t client, const FPath& path) {
    for (const Listener& listener : listeners_) {
      const FQuerySpecRef querySpec = listener.query->querySpec();
      if (!listener.removed && listener.client == client && querySpec->loadsAllData() &&
          querySpec->path()->contains(path)) {
        return true;
      }
    }
    for (size_t which : clients_[client].keptSynced) {
      std::string name;
      const FQuerySpecRef querySpec = query(clients_[client].database, static_cast<int>(which), name)->querySpec();
      if (querySpec->loadsAllData() && querySpec->path()->contains(path)) return true;
    }
    return false;
  }
  // What a query selects of a location's data, as the server answers it.
  static Value selected(const FQuerySpec& querySpec, const FNodeRef& node) {
    if (querySpec.loadsAllData() || node->isLeafNode()) return node->valForExport(true);
    FIndexedNodeRef none = FIndexedNode::indexedNodeWithNode(FEmptyNode::emptyNode(), querySpec.index());
    FIndexedNodeRef all = FIndexedNode::indexedNodeWithNode(node, querySpec.index());
    return querySpec.params()->nodeFilter()->updateFullNode(none, all, nullptr)->node()->valForExport(true);
  }

  // Between steps, once everything has settled: a client that is connected has nothing in flight
  // but the writes the server holds, so its listeners show the server's data with those writes laid
  // over it in the order they were made. While writes are pending, a window (a limited or ranged
  // query) can be told only where the client holds all the data of its location (otherwise it
  // depends on children the client need not hold); nothing can while a transaction runs (its value
  // is the client's). Fails the test on the first listener that does not agree.
  bool connectedListenersAgree() {
    std::optional<Value> serverRoot;
    for (const Listener& listener : listeners_) {
      const Client& client = clients_[listener.client];
      if (listener.removed || client.offline || client.pending->transactionsRunning() ||
          !connected(client.database)) {
        continue;
      }
      std::optional<Value> expected;
      if (!client.pending->empty()) {
        const FQuerySpecRef querySpec = listener.query->querySpec();
        if (!querySpec->loadsAllData() && !holdsAllDataAt(listener.client, *querySpec->path())) continue;
        if (!serverRoot) serverRoot = server_->valueAt("/");
        FNodeRef seen = client.pending->layOver(FSnapshotUtilities::nodeFrom(*serverRoot));
        expected = selected(*querySpec, seen->getChild(querySpec->path()));
      }
      const std::string wrong = listenerMismatch(listener, false, expected);
      if (!wrong.empty()) {
        ADD_FAILURE() << "while connected and settled, " << wrong << "\n" << steps_.str();
        return false;
      }
    }
    return true;
  }

  std::mt19937 random_;
  std::vector<Client> clients_;
  std::vector<Listener> listeners_;
  std::shared_ptr<Completions> completions_ = std::make_shared<Completions>();
  bool refusing_ = false;
  bool holding_ = false;
  // Steps issued together from inside the work queue: the clients' calls queue up behind each
  // other while the server already acts on its part; no time passes within a burst.
  bool inBurst_ = false;
  int restartsWithWritesRestored_ = 0;
  std::ostringstream steps_;
};

}  // namespace

TEST_P(RandomEndToEndTest, ListenersEndOnTheServersDataAndEveryCompletionRunsOnce) {
  testsupport::ManualClock clock;
  server_->denyPath("/d");
  server_->setValue("/r", location());
  const int clientCount = 2 + pick(2);
  for (int i = 0; i < clientCount; ++i) {
    Client client;
    client.index = static_cast<size_t>(i);
    client.name = "random-" + std::to_string(GetParam()) + "-" + std::to_string(i);
    client.persistence = i == 0 || chance(50);
    client.database = makeDatabase({.name = client.name, .persistence = client.persistence});
    clients_.push_back(std::move(client));
  }
  log("seed " + std::to_string(GetParam()) + ", " + std::to_string(clientCount) + " clients");
  for (size_t c = 0; c < clients_.size(); ++c) addListener(c);

  // Mostly one step at a time, each followed by quiet; sometimes a burst of steps issued together
  // from the work queue, so that they overlap with each other's traffic.
  quiesce();
  const int steps = stepsToRun();
  int nextPlannedRestart = steps / 3;
  for (int i = 0; i < steps;) {
    if (i >= nextPlannedRestart && nextPlannedRestart < steps) {
      restartWithUnansweredWrites(i);
      nextPlannedRestart = nextPlannedRestart == steps / 3 ? 2 * steps / 3 : steps;
      quiesce();
      if (HasFailure() || !connectedListenersAgree()) return;
    }
    if (chance(25)) {
      const int count = 2 + pick(3);
      log("burst of " + std::to_string(count));
      inBurst_ = true;
      ZIRDatabaseQuery::sharedQueue()->sync([&] {
        for (int j = 0; j < count && i < steps; ++j) step(i++);
      });
      inBurst_ = false;
    } else {
      step(i++);
    }
    if (HasFailure()) return;
    quiesce();
    if (!connectedListenersAgree()) return;
  }

  bringEverythingBack();
  if (HasFatalFailure()) return;
  checkListeners();
  // Every run restores unanswered writes from the local cache more than once.
  if (steps >= 3) {
    EXPECT_GE(restartsWithWritesRestored_, 2) << steps_.str();
  }
  EXPECT_TRUE(completions_->notExactlyOnce().empty())
      << ::testing::PrintToString(completions_->notExactlyOnce()) << "\n"
      << steps_.str();
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomEndToEndTest, ::testing::ValuesIn(seedsToRun()));
