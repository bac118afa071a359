// Randomised runs of server data, user writes, acknowledgements and refusals through a sync tree,
// checked after every step against a plain model: what each listener was last shown must be the
// server's data with the pending visible writes applied over it one after the other, in the order
// they were made, and cut to the query.
//
// The data has no fixed shape: a write may land below what is a plain value (which the write
// replaces with children), updates write several levels deep and now and then a priority beside
// the data they write, and removals may empty the locations above them. The server takes the
// writes in order: it applies each (its data comes first, then its acknowledgement, possibly with
// other steps in between) or refuses it; any write the server has not taken yet may also be
// reverted at once, and now and then every write is. Listeners come and go at every depth (the
// root's too) while the writes wait.
//
// A stand-in for the server answers the listens the tree sends as a server does: it takes a listen
// when its request arrives (at once, or some steps after it was sent), answers it with the data of
// its query and then "ok" (now and then with a refusal), and from then on pushes every change it
// makes to the listens that change touches: the change itself to a plain listen at or above it,
// the new data of the listen's location to one below it, the query's whole answer (tagged) to a
// window. A listener is checked once a listen that brings its data (its own, or a plain listen at
// or above it) has been answered: before that the client need not know the server's data.
//
// Not generated, each for a reason:
// - a write the server applied being refused alone: no server does that;
// - data the server pushes for a listen the client has withdrawn, before the withdrawal reaches
//   it: it is server data like any other, newer than what the views hold, and reaches only views
//   that another listen covers (which brings the same data) or that are not checked until one does;
// - persistence: the end-to-end test (tests/sdk/database/repo) runs clients with a local cache;
// - long keys: they add nothing to the paths exercised.
//
// A failing seed prints the steps it took. SA_SYNC_TREE_SEEDS="first:count" and
// SA_SYNC_TREE_STEPS=n run other seeds and lengths (the suite runs seeds 1 to 40, 250 steps each).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "EngineTestSupport.h"
#include "sdk/database/core/FLimitedFilter.h"
#include "sdk/database/core/FListenContainer.h"
#include "sdk/database/core/FRangedFilter.h"
#include "sdk/database/core/FSyncTree.h"

using namespace enginetest;

namespace {

class ZeroClock : public FClock {
 public:
  double currentTime() const override { return 0; }
};

enum class Taken { No, Applied, Refused };

struct PendingWrite {
  int64_t id;
  FPathRef path;
  FNodeRef overwrite;        // or
  FCompoundWriteRef merge;   // one of the two
  bool visible;
  Taken taken = Taken::No;   // what the server did with it
};

struct Listener {
  FQuerySpecRef query;
  FEventRegistrationRef registration;
  std::optional<std::string> lastValue;
};

constexpr size_t kMaxDepth = 3;

class Model {
 public:
  explicit Model(uint32_t seed) : random_(seed) {}

  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  std::string key() { return std::string(1, "abcd"[pick(4)]); }
  FPathRef randomPath(size_t maxDepth = kMaxDepth) {
    std::string text;
    const int depth = pick(static_cast<int>(maxDepth) + 1);
    for (int i = 0; i < depth; ++i) text += "/" + key();
    return path(text.c_str());
  }
  // A value for a location at the given depth: now and then a removal, a plain value (also where
  // the data held children, and the other way round), or children, sometimes with a priority.
  Value valueAt(size_t depth) {
    if (pick(6) == 0) return Value();
    Value result;
    if (depth >= kMaxDepth || (depth > 0 && pick(3) == 0)) {
      result = pick(2) ? Value(pick(10)) : Value(std::string(1, "xyz"[pick(3)]));
      if (pick(8) == 0) result = Value{{".value", result}, {".priority", pick(3)}};
      return result;
    }
    result = Value::object();
    const int n = 1 + pick(3);
    for (int i = 0; i < n; ++i) result[key()] = valueAt(depth + 1);
    if (pick(8) == 0) result[".priority"] = pick(3);
    return result;
  }
  // An update at a location of the given depth: one to three writes, one or two levels below it,
  // none of them at or below another; now and then the priority of a location it writes below, or
  // of its own location, beside them.
  FCompoundWriteRef mergeAt(size_t depth) {
    Value merge = Value::object();
    std::vector<FPathRef> written;
    auto clashes = [&](const FPathRef& at) {
      return std::any_of(written.begin(), written.end(), [&](const FPathRef& other) {
        return other->contains(*at) || at->contains(*other);
      });
    };
    const int n = 1 + pick(3);
    for (int i = 0; i < n; ++i) {
      const size_t levels = depth + 2 <= kMaxDepth && pick(2) ? 2 : 1;
      std::string relative = key();
      if (levels == 2) relative += "/" + key();
      FPathRef at = path(relative.c_str());
      if (clashes(at)) continue;
      written.push_back(at);
      merge[relative] = valueAt(depth + levels);
    }
    if (pick(4) == 0) {
      // The priority of the update's location, or of the parent of a write two levels down.
      const FPathRef& below = written[static_cast<size_t>(pick(static_cast<int>(written.size())))];
      FPathRef at = (below->length() == 2 && pick(2) ? below->parent() : FPath::empty())->childFromString(".priority");
      if (!clashes(at)) merge[at->toString().substr(1)] = pick(4) == 0 ? Value() : Value(pick(3));
    }
    return FCompoundWrite::compoundWriteWithValueDictionary(merge);
  }
  FQuerySpecRef randomQuery() {
    FPathRef at = randomPath(2);
    auto byValue = params()->orderBy(FValueIndex::valueIndex());
    FQueryParamsRef choices[] = {params(),
                                 params(),
                                 params()->limitToFirst(2),
                                 byValue->limitToLast(2),
                                 byValue->startAt(node("2"))->endAt(node("6")),
                                 params()->orderBy(FKeyIndex::keyIndex())->startAt(node(R"("b")"))->limitToFirst(1),
                                 params()->orderBy(std::make_shared<const FPathIndex>(path("a")))->limitToLast(1)};
    return std::make_shared<const FQuerySpec>(at, choices[pick(std::size(choices))]);
  }

  FNodeRef server = FEmptyNode::emptyNode();
  std::vector<PendingWrite> pending;

  static FNodeRef apply(const PendingWrite& w, const FNodeRef& root) {
    if (w.overwrite) return root->updateChild(w.path, w.overwrite);
    return root->updateChild(w.path, w.merge->applyToNode(root->getChild(w.path)));
  }
  // What the user should see: the server data with every visible pending write applied over it in
  // the order made, as the server will apply those it takes.
  FNodeRef seen() const {
    FNodeRef result = server;
    for (const PendingWrite& w : pending) {
      if (w.visible) result = apply(w, result);
    }
    return result;
  }

 private:
  std::mt19937 random_;
};

// The value a query shows of the data at its path, priorities included.
std::string expectedFor(const FQuerySpec& query, const FNodeRef& root) {
  FNodeRef atPath = root->getChild(query.path());
  FNodeFilterRef filter = query.params()->nodeFilter();
  FIndexedNodeRef empty = FIndexedNode::indexedNodeWithNode(FEmptyNode::emptyNode(), query.index());
  FIndexedNodeRef shown =
      filter->updateFullNode(empty, FIndexedNode::indexedNodeWithNode(atPath, query.index()), nullptr);
  return value::toJSON(shown->node()->valForExport(true));
}

std::string describeWrite(const PendingWrite& w) {
  return w.path->toString() + " " +
         (w.overwrite ? value::toJSON(w.overwrite->valForExport(true)) : w.merge->description());
}

// The listens of the tree as the stand-in server holds them: taken when their request arrives,
// answered with data and then their status.
struct ServerListen {
  FQuerySpecRef query;  // as the tree listens to it
  std::optional<uint64_t> tag;
  std::shared_ptr<const FListenContainer> container;
  bool arrived = false;  // the server has taken it and answered it
};

bool sameListen(const ServerListen& listen, const FQuerySpec& query, std::optional<uint64_t> tag) {
  return listen.tag == tag && listen.query->isEqual(query);
}

// What the server holds for a query at its path: all of it, or the query's window.
FNodeRef answerFor(const FQuerySpec& query, const FNodeRef& root) {
  FNodeRef atPath = root->getChild(query.path());
  if (query.loadsAllData()) return atPath;
  FIndexedNodeRef empty = FIndexedNode::indexedNodeWithNode(FEmptyNode::emptyNode(), query.index());
  return query.params()
      ->nodeFilter()
      ->updateFullNode(empty, FIndexedNode::indexedNodeWithNode(atPath, query.index()), nullptr)
      ->node();
}

void runRandomly(uint32_t seed, int steps) {
  Model model(seed);
  std::vector<std::shared_ptr<ServerListen>> serverListens;
  FListenProvider provider;
  provider.startListening = [&](const FQuerySpecRef& query, std::optional<uint64_t> tag, const FSyncTreeHashRef& hash,
                                const FListenProvider::Completion&) {
    auto listen = std::make_shared<ServerListen>();
    listen->query = query;
    listen->tag = tag;
    listen->container = std::static_pointer_cast<const FListenContainer>(hash);
    serverListens.push_back(listen);
    return FEventList{};
  };
  provider.stopListening = [&](const FQuerySpecRef& query, std::optional<uint64_t> tag) {
    serverListens.erase(std::remove_if(serverListens.begin(), serverListens.end(),
                                       [&](const auto& listen) { return sameListen(*listen, *query, tag); }),
                        serverListens.end());
  };
  auto tree = std::make_shared<FSyncTree>(nullptr, provider);

  std::vector<Listener> listeners;
  uint64_t nextHandle = 1;
  // Each listener's registration takes cancel events, so that a refused listen tells which ones it
  // ended.
  auto newListener = [&](FQuerySpecRef query) {
    return Listener{std::move(query), valueRegistration(nextHandle++, true), std::nullopt};
  };
  // At the start: windows at each location, and (each half the time) listeners of all the data
  // of the root and of two of the windows' locations, so that a window often has only its own data.
  auto byValue = params()->orderBy(FValueIndex::valueIndex());
  for (const char* at : {"/", "a", "b"}) {
    if (model.pick(2)) listeners.push_back(newListener(defaultQuery(at)));
  }
  for (FQuerySpecRef q : {defaultQuery("a/b"), defaultQuery("c/d"), defaultQuery("a/b/c"), query("a", params()->limitToFirst(2)),
                          query("b", byValue->limitToLast(2)), query("c", byValue->startAt(node("2"))->endAt(node("6"))),
                          query("d", params()->orderBy(FKeyIndex::keyIndex())->startAt(node(R"("b")"))->limitToFirst(1))}) {
    listeners.push_back(newListener(q));
  }
  auto record = [&](const FEventList& events) {
    for (const FEventRef& event : events) {
      if (event->isCancelEvent()) {
        auto cancel = std::static_pointer_cast<const FCancelEvent>(event);
        listeners.erase(std::remove_if(listeners.begin(), listeners.end(),
                                       [&](const Listener& l) { return l.registration == cancel->eventRegistration(); }),
                        listeners.end());
        continue;
      }
      auto data = std::static_pointer_cast<const FDataEvent>(event);
      for (Listener& listener : listeners) {
        if (data->eventRegistration() == listener.registration) {
          listener.lastValue = value::toJSON(data->snapshot()->valueInExportFormat());
        }
      }
    }
  };
  // The server has changed the data at the path (a set, or an update with these children): it
  // pushes the change to every listen it has taken that the change touches.
  auto push = [&](const FPathRef& at, const FNodeRef& overwrite, const FCompoundWriteRef& merge) {
    const auto taken = serverListens;  // answering nothing here, the tree changes no listen
    for (const auto& listen : taken) {
      if (!listen->arrived) continue;
      const FPathRef& listenPath = listen->query->path();
      if (!listenPath->contains(*at) && !at->contains(*listenPath)) continue;
      if (listen->tag) {
        record(tree->applyTaggedQueryOverwriteAtPath(listenPath, answerFor(*listen->query, model.server), *listen->tag));
      } else if (!listenPath->contains(*at)) {
        record(tree->applyServerOverwriteAtPath(listenPath, model.server->getChild(listenPath)));
      } else {
        record(overwrite ? tree->applyServerOverwriteAtPath(at, overwrite) : tree->applyServerMergeAtPath(at, merge));
      }
    }
  };
  // The oldest listen the server has not taken arrives: the server answers it with its data, then
  // "ok" or (now and then) a refusal.
  auto takeListen = [&]() -> std::string {
    auto found = std::find_if(serverListens.begin(), serverListens.end(), [](const auto& l) { return !l->arrived; });
    if (found == serverListens.end()) return "";
    std::shared_ptr<ServerListen> listen = *found;
    const bool refused = model.pick(20) == 0;
    std::string what = (refused ? "refuse listen " : "answer listen ") + listen->query->description() +
                       (listen->tag ? " tag " + std::to_string(*listen->tag) : "");
    if (refused) {
      serverListens.erase(found);
      record(listen->container->onComplete()("permission_denied"));
      return what;
    }
    listen->arrived = true;
    FNodeRef data = answerFor(*listen->query, model.server);
    record(listen->tag ? tree->applyTaggedQueryOverwriteAtPath(listen->query->path(), data, *listen->tag)
                       : tree->applyServerOverwriteAtPath(listen->query->path(), data));
    record(listen->container->onComplete()("ok"));
    return what;
  };
  // Whether a listen the server has answered brings the listener's data. A window (a limited or
  // ranged query) where writes wait needs all the data of its location: what the writes do to it
  // depends on children its own listen does not bring (a write below a child it lacks).
  auto covered = [&](const Listener& listener) {
    const FPathRef& at = listener.query->path();
    const bool writesWait = std::any_of(model.pending.begin(), model.pending.end(), [&](const PendingWrite& w) {
      return w.visible && (w.path->contains(*at) || at->contains(*w.path));
    });
    const bool windowNeedsAll = !listener.query->loadsAllData() && writesWait;
    return std::any_of(serverListens.begin(), serverListens.end(), [&](const auto& listen) {
      if (!listen->arrived) return false;
      if (listen->tag) return !windowNeedsAll && listen->query->isEqual(*listener.query);
      return listen->query->path()->contains(*at);
    });
  };

  for (Listener& listener : listeners) record(tree->addEventRegistration(listener.registration, listener.query));
  model.server = node(model.valueAt(0));
  std::vector<std::string> history{"server holds " + value::toJSON(model.server->valForExport(true))};
  for (std::string answered = takeListen(); !answered.empty(); answered = takeListen()) history.push_back(answered);

  ZeroClock clock;
  int64_t nextId = 0;
  auto takeNext = [&]() -> PendingWrite* {  // the server takes the next write it has not taken
    for (PendingWrite& w : model.pending) {
      if (w.taken != Taken::No) continue;
      if (model.pick(4) != 0) {
        w.taken = Taken::Applied;
        model.server = Model::apply(w, model.server);
        push(w.path, w.overwrite, w.merge);
      } else {
        w.taken = Taken::Refused;
      }
      return &w;
    }
    return nullptr;
  };
  auto check = [&](int step, bool all) {
    FNodeRef seen = model.seen();
    for (const Listener& listener : listeners) {
      const bool isCovered = covered(listener);
      if (!isCovered && (!all || !model.pending.empty())) continue;
      const std::string expected = expectedFor(*listener.query, seen);
      if (isCovered && listener.lastValue.value_or("<none>") == expected) continue;
      std::string steps;
      for (const std::string& line : history) steps += "  " + line + "\n";
      FAIL() << "seed " << seed << " step " << step << " listener " << listener.query->description()
             << (isCovered ? "" : " has no listen answered, every listen answered") << "\nshows    "
             << listener.lastValue.value_or("<none>") << "\nexpected " << expected << "\nafter\n" << steps;
    }
  };
  for (int step = 0; step < steps; ++step) {
    std::string what;
    switch (model.pick(12)) {
      case 0: {  // another client's set
        FPathRef at = model.randomPath();
        FNodeRef value = node(model.valueAt(at->length()));
        model.server = model.server->updateChild(at, value);
        what = "server set " + at->toString() + " " + value::toJSON(value->valForExport(true));
        push(at, value, nullptr);
        break;
      }
      case 1: {  // another client's update
        FPathRef at = model.randomPath(kMaxDepth - 1);
        auto merge = model.mergeAt(at->length());
        model.server = model.server->updateChild(at, merge->applyToNode(model.server->getChild(at)));
        what = "server update " + at->toString() + " " + merge->description();
        push(at, nullptr, merge);
        break;
      }
      case 2:
      case 3: {  // a set, now and then a hidden one
        FPathRef at = model.randomPath();
        FNodeRef value = node(model.valueAt(at->length()));
        const bool visible = model.pick(5) != 0;
        model.pending.push_back(PendingWrite{nextId, at, value, nullptr, visible});
        what = "user set " + std::to_string(nextId) + " " + describeWrite(model.pending.back()) + (visible ? "" : " hidden");
        record(tree->applyUserOverwriteAtPath(at, value, nextId++, visible));
        break;
      }
      case 4:
      case 5: {  // an update
        FPathRef at = model.randomPath(kMaxDepth - 1);
        auto merge = model.mergeAt(at->length());
        model.pending.push_back(PendingWrite{nextId, at, nullptr, merge, true});
        what = "user update " + std::to_string(nextId) + " " + describeWrite(model.pending.back());
        record(tree->applyUserMergeAtPath(at, merge, nextId++));
        break;
      }
      case 6: {  // the server takes the next write: applies it and sends its data, or refuses it
        PendingWrite* w = takeNext();
        if (!w) continue;
        what = std::string(w->taken == Taken::Applied ? "server applies " : "server refuses ") + std::to_string(w->id);
        break;
      }
      case 7:
      case 8: {  // the server answers the oldest write, taking it first when it has not yet
        if (model.pending.empty()) continue;
        if (model.pending.front().taken == Taken::No) takeNext();
        const PendingWrite w = model.pending.front();
        model.pending.erase(model.pending.begin());
        const bool revert = w.taken == Taken::Refused;
        what = (revert ? "revert " : "ack ") + std::to_string(w.id);
        record(tree->ackUserWriteWithWriteId(w.id, revert, true, clock));
        break;
      }
      case 9: {  // a write the server has not taken is reverted at once, rarely every write
        if (model.pending.empty()) continue;
        if (model.pick(10) == 0) {
          model.pending.clear();
          what = "revert all";
          record(tree->removeAllWrites());
          break;
        }
        const size_t index = static_cast<size_t>(model.pick(static_cast<int>(model.pending.size())));
        if (model.pending[index].taken != Taken::No) continue;
        const int64_t id = model.pending[index].id;
        model.pending.erase(model.pending.begin() + static_cast<long>(index));
        what = "revert " + std::to_string(id);
        record(tree->ackUserWriteWithWriteId(id, true, true, clock));
        break;
      }
      case 10: {  // a listener comes
        Listener listener = newListener(model.randomQuery());
        what = "listen " + listener.query->description();
        listeners.push_back(listener);
        record(tree->addEventRegistration(listener.registration, listener.query));
        break;
      }
      case 11: {  // a listener goes
        if (listeners.empty()) continue;
        const size_t index = static_cast<size_t>(model.pick(static_cast<int>(listeners.size())));
        const Listener gone = listeners[index];
        what = "unlisten " + gone.query->description();
        listeners.erase(listeners.begin() + static_cast<long>(index));
        record(tree->removeEventRegistration(gone.registration, gone.query, nullptr));
        break;
      }
    }
    history.push_back(what);
    // Listens arrive at the server in the order they were sent: none, some or all of those waiting.
    if (model.pick(2) == 0) {
      for (int n = 1 + model.pick(3); n > 0; --n) {
        const std::string answered = takeListen();
        if (answered.empty()) break;
        history.push_back(answered);
      }
    }
    check(step, false);
    if (::testing::Test::HasFatalFailure()) return;
  }
  // Once every listen has arrived, every listener is checked.
  for (std::string answered = takeListen(); !answered.empty(); answered = takeListen()) history.push_back(answered);
  check(steps, true);
}

std::pair<uint32_t, uint32_t> seedsToRun() {
  unsigned first = 1;
  unsigned count = 40;
  if (const char* text = std::getenv("SA_SYNC_TREE_SEEDS")) std::sscanf(text, "%u:%u", &first, &count);
  return {first, count};
}

int stepsToRun() {
  const char* text = std::getenv("SA_SYNC_TREE_STEPS");
  return text ? std::atoi(text) : 250;
}

constexpr uint32_t kCases = 8;

}  // namespace

// The seeds are shared out over a few cases so that ctest runs them side by side.
class SyncTreeRandomSeeds : public ::testing::TestWithParam<uint32_t> {};

TEST_P(SyncTreeRandomSeeds, ListenersAlwaysShowServerDataWithPendingWritesAppliedInOrder) {
  const auto [first, count] = seedsToRun();
  for (uint32_t seed = first + GetParam(); seed < first + count; seed += kCases) {
    runRandomly(seed, stepsToRun());
    if (::testing::Test::HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(SyncTreeRandomTest, SyncTreeRandomSeeds, ::testing::Range<uint32_t>(0, kCases),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                           return "share" + std::to_string(info.param);
                         });
