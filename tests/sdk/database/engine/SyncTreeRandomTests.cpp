// Randomised runs of server data, user writes, acknowledgements and reverts through a sync tree,
// checked after every step against a plain model: what each listener was last shown must be the
// server's data with the pending visible writes laid over it, in order, and cut to the query.
#include <gtest/gtest.h>

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

struct PendingWrite {
  int64_t id;
  FPathRef path;
  FNodeRef overwrite;        // or
  FCompoundWriteRef merge;   // one of the two
  bool visible;
};

struct Listener {
  FQuerySpecRef query;
  FEventRegistrationRef registration;
  std::optional<std::string> lastValue;
};

class Model {
 public:
  explicit Model(uint32_t seed) : random_(seed) {}

  std::string key() { return std::string(1, "abcd"[pick(4)]); }
  // Data keeps one shape: objects at depths 0 and 1, leaves at depth 2. A write below a leaf
  // would turn it into an object, where layering pending writes and applying them one by one
  // are known to differ; that is not what these runs look at.
  FPathRef randomPath() {
    std::string text;
    const int depth = pick(3);
    for (int i = 0; i < depth; ++i) text += "/" + key();
    return path(text.c_str());
  }
  Value valueAt(size_t depth) {
    if (pick(6) == 0) return Value();  // a removal
    if (depth >= 2) return pick(2) ? Value(pick(10)) : Value(std::string(1, "xyz"[pick(3)]));
    Value object = Value::object();
    const int n = 1 + pick(3);
    for (int i = 0; i < n; ++i) object[key()] = valueAt(depth + 1);
    return object;
  }
  // A merge at a path of the given depth (0 or 1).
  Value mergeAt(size_t depth) {
    Value merge = Value::object();
    const int n = 1 + pick(3);
    for (int i = 0; i < n; ++i) merge[key()] = valueAt(depth + 1);
    return merge;
  }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  FNodeRef server = FEmptyNode::emptyNode();
  std::vector<PendingWrite> pending;

  // What the user should see: the server data with every visible pending write laid over it, the
  // writes layered first in their order (a later write at or above a path replaces what earlier
  // ones wrote there).
  FNodeRef seen() const {
    FCompoundWriteRef layered = FCompoundWrite::emptyWrite();
    for (const PendingWrite& w : pending) {
      if (!w.visible) continue;
      layered = w.overwrite ? layered->addWrite(w.overwrite, w.path) : layered->addCompoundWrite(*w.merge, w.path);
    }
    return layered->applyToNode(server);
  }
  static FNodeRef apply(const PendingWrite& w, const FNodeRef& root) {
    if (w.overwrite) return root->updateChild(w.path, w.overwrite);
    return root->updateChild(w.path, w.merge->applyToNode(root->getChild(w.path)));
  }

 private:
  std::mt19937 random_;
};

// The value a query shows of the data at its path.
std::string expectedFor(const FQuerySpec& query, const FNodeRef& root) {
  FNodeRef atPath = root->getChild(query.path());
  FNodeFilterRef filter = query.params()->nodeFilter();
  FIndexedNodeRef empty = FIndexedNode::indexedNodeWithNode(FEmptyNode::emptyNode(), query.index());
  FIndexedNodeRef shown =
      filter->updateFullNode(empty, FIndexedNode::indexedNodeWithNode(atPath, query.index()), nullptr);
  return json(shown->node());
}

void runRandomly(uint32_t seed, int steps) {
  Model model(seed);
  std::vector<std::shared_ptr<const FListenContainer>> listens;
  FListenProvider provider;
  provider.startListening = [&](const FQuerySpecRef&, std::optional<uint64_t>, const FSyncTreeHashRef& hash,
                                const FListenProvider::Completion&) {
    listens.push_back(std::static_pointer_cast<const FListenContainer>(hash));
    return FEventList{};
  };
  provider.stopListening = [](const FQuerySpecRef&, std::optional<uint64_t>) {};
  auto tree = std::make_shared<FSyncTree>(nullptr, provider);

  std::vector<Listener> listeners;
  auto byValue = params()->orderBy(FValueIndex::valueIndex());
  for (FQuerySpecRef q : {defaultQuery("/"), defaultQuery("a"), defaultQuery("a/b"), defaultQuery("c/d"),
                          query("a", params()->limitToFirst(2)), query("b", byValue->limitToLast(2)),
                          query("c", byValue->startAt(node("2"))->endAt(node("6"))),
                          query("d", params()->orderBy(FKeyIndex::keyIndex())->startAt(node(R"("b")"))->limitToFirst(1))}) {
    listeners.push_back(Listener{q, valueRegistration(listeners.size() + 1), std::nullopt});
  }
  auto record = [&](const FEventList& events) {
    for (Listener& listener : listeners) {
      for (const FEventRef& event : events) {
        auto data = std::dynamic_pointer_cast<const FDataEvent>(event);
        if (data && data->eventRegistration() == listener.registration) {
          listener.lastValue = json(data->snapshot()->node());
        }
      }
    }
  };
  for (Listener& listener : listeners) record(tree->addEventRegistration(listener.registration, listener.query));
  Value initial = model.valueAt(0);
  model.server = node(initial);
  record(tree->applyServerOverwriteAtPath(FPath::empty(), model.server));
  for (const auto& container : listens) record(container->onComplete()("ok"));

  ZeroClock clock;
  int64_t nextId = 0;
  for (int step = 0; step < steps; ++step) {
    std::string what;
    switch (model.pick(8)) {
      case 0: {  // server overwrite
        FPathRef at = model.randomPath();
        FNodeRef value = node(model.valueAt(at->length()));
        model.server = model.server->updateChild(at, value);
        what = "server set " + at->toString() + " " + json(value);
        record(tree->applyServerOverwriteAtPath(at, value));
        break;
      }
      case 1: {  // server merge
        FPathRef at = model.randomPath();
        if (at->length() == 2) continue;
        auto merge = FCompoundWrite::compoundWriteWithValueDictionary(model.mergeAt(at->length()));
        model.server = model.server->updateChild(at, merge->applyToNode(model.server->getChild(at)));
        what = "server merge " + at->toString() + " " + merge->description();
        record(tree->applyServerMergeAtPath(at, merge));
        break;
      }
      case 2:
      case 3: {  // user overwrite, now and then a hidden one
        FPathRef at = model.randomPath();
        FNodeRef value = node(model.valueAt(at->length()));
        const bool visible = model.pick(5) != 0;
        model.pending.push_back(PendingWrite{nextId, at, value, nullptr, visible});
        what = "user set " + at->toString() + " " + json(value) + (visible ? "" : " hidden");
        record(tree->applyUserOverwriteAtPath(at, value, nextId++, visible));
        break;
      }
      case 4: {  // user merge
        FPathRef at = model.randomPath();
        if (at->length() == 2) continue;
        auto merge = FCompoundWrite::compoundWriteWithValueDictionary(model.mergeAt(at->length()));
        model.pending.push_back(PendingWrite{nextId, at, nullptr, merge, true});
        what = "user merge " + at->toString() + " " + merge->description();
        record(tree->applyUserMergeAtPath(at, merge, nextId++));
        break;
      }
      case 5:
      case 6: {  // the server applies the oldest write, sends its data, then acknowledges it
        if (model.pending.empty()) continue;
        PendingWrite w = model.pending.front();
        model.server = Model::apply(w, model.server);
        if (w.overwrite) {
          record(tree->applyServerOverwriteAtPath(w.path, w.overwrite));
        } else {
          record(tree->applyServerMergeAtPath(w.path, w.merge));
        }
        model.pending.erase(model.pending.begin());
        what = "ack " + std::to_string(w.id);
        record(tree->ackUserWriteWithWriteId(w.id, false, true, clock));
        break;
      }
      case 7: {  // the server refuses any pending write
        if (model.pending.empty()) continue;
        const size_t index = static_cast<size_t>(model.pick(static_cast<int>(model.pending.size())));
        const int64_t id = model.pending[index].id;
        model.pending.erase(model.pending.begin() + static_cast<long>(index));
        what = "revert " + std::to_string(id);
        record(tree->ackUserWriteWithWriteId(id, true, true, clock));
        break;
      }
    }
    FNodeRef seen = model.seen();
    for (const Listener& listener : listeners) {
      ASSERT_EQ(listener.lastValue.value_or("<none>"), expectedFor(*listener.query, seen))
          << "seed " << seed << " step " << step << " (" << what << ") listener " << listener.query->description();
    }
  }
}

}  // namespace

// Seeds 1 to 40, five to a case, so that ctest runs the cases side by side.
class SyncTreeRandomSeeds : public ::testing::TestWithParam<uint32_t> {};

TEST_P(SyncTreeRandomSeeds, ListenersAlwaysShowServerDataWithPendingWritesLaidOver) {
  const uint32_t first = GetParam();
  for (uint32_t seed = first; seed < first + 5; ++seed) {
    runRandomly(seed, 250);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(SyncTreeRandomTest, SyncTreeRandomSeeds, ::testing::Range<uint32_t>(1, 41, 5),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                           return "seeds" + std::to_string(info.param) + "to" + std::to_string(info.param + 4);
                         });
