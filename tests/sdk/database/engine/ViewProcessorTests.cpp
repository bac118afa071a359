// The view processor: how each kind of operation updates a view's server and event caches, and
// which child and value changes come out.
#include <gtest/gtest.h>

#include <algorithm>

#include "EngineTestSupport.h"
#include "platform/foundation/NSException.h"
#include "sdk/database/core/FIndexedFilter.h"
#include "sdk/database/core/FViewProcessor.h"
#include "sdk/database/core/FWriteTree.h"

using namespace enginetest;

namespace {

FViewCacheRef viewCache(const char* event, bool eventComplete, const char* server, bool serverComplete) {
  return std::make_shared<const FViewCache>(std::make_shared<const FCacheNode>(indexed(event), eventComplete, false),
                                            std::make_shared<const FCacheNode>(indexed(server), serverComplete, false));
}

Strings kinds(const std::vector<FChange>& changes) {
  Strings out;
  for (const FChange& change : changes) {
    out.push_back(std::string(typeName(change.type())) + (change.childKey() ? " " + *change.childKey() : ""));
  }
  return out;
}

struct ProcessorFixture : ::testing::Test {
  FViewProcessor processor{std::make_shared<const FIndexedFilter>(FPriorityIndex::priorityIndex())};
  std::shared_ptr<FWriteTree> writes = std::make_shared<FWriteTree>();

  FViewProcessorResult apply(const FViewCacheRef& cache, const FOperation& operation, const char* at = "/") {
    return processor.applyOperationOn(cache, operation, writes->childWritesForPath(path(at)), nullptr);
  }
  static FOverwrite serverSet(const char* at, const char* value) {
    return FOverwrite(FOperationSource::serverInstance(), path(at), node(value));
  }
  static FOverwrite userSet(const char* at, const char* value) {
    return FOverwrite(FOperationSource::userInstance(), path(at), node(value));
  }
};

}  // namespace

TEST_F(ProcessorFixture, ServerDataUnderAPendingWriteChangesOnlyTheServerCache) {
  writes->addOverwriteAtPath(path("a"), node(R"({"x":1})"), 1, true);
  auto cache = viewCache(R"({"a":{"x":1}})", true, "{}", true);
  auto result = apply(cache, serverSet("a/x", "2"));
  EXPECT_TRUE(result.changes.empty());
  EXPECT_EQ(json(result.viewCache->cachedServerSnap()->node()), R"({"a":{"x":2}})");
  EXPECT_EQ(json(result.viewCache->cachedEventSnap()->node()), R"({"a":{"x":1}})");
}

TEST_F(ProcessorFixture, DeepServerDataBelowAnUnknownChildIsDropped) {
  auto cache = viewCache("{}", false, "{}", false);
  auto deep = apply(cache, serverSet("a/b", "1"));
  EXPECT_EQ(deep.viewCache, cache);
  EXPECT_TRUE(deep.changes.empty());
  auto shallow = apply(cache, serverSet("a", R"({"b":1})"));
  EXPECT_EQ(json(shallow.viewCache->cachedServerSnap()->node()), R"({"a":{"b":1}})");
  EXPECT_EQ(kinds(shallow.changes), (Strings{"added a"}));  // not complete yet: no value
}

TEST_F(ProcessorFixture, PriorityOfAMissingChildChangesNothing) {
  auto cache = viewCache(R"({"a":1})", true, R"({"a":1})", true);
  auto result = apply(cache, userSet("b/.priority", "5"));
  EXPECT_EQ(result.viewCache, cache);
  EXPECT_TRUE(result.changes.empty());
  auto onExisting = apply(cache, userSet("a/.priority", "5"));
  EXPECT_EQ(kinds(onExisting.changes), (Strings{"changed a", "value"}));
}

TEST_F(ProcessorFixture, ValueChangesOnlyWhenSomethingChangedOrTheCacheBecameComplete) {
  auto leaf = viewCache("5", true, "5", true);
  EXPECT_TRUE(apply(leaf, serverSet("/", "5")).changes.empty());
  EXPECT_EQ(kinds(apply(leaf, serverSet("/", "6")).changes), (Strings{"value"}));
  EXPECT_EQ(kinds(apply(leaf, serverSet("/", R"({".value":5,".priority":1})")).changes), (Strings{"value"}));

  auto firstLoad = apply(viewCache("{}", false, "{}", false), serverSet("/", R"({"a":1})"));
  EXPECT_EQ(kinds(firstLoad.changes), (Strings{"added a", "value"}));

  auto incomplete = apply(viewCache("{}", false, "{}", false), FListenComplete(FOperationSource::serverInstance(), path("a")));
  EXPECT_TRUE(incomplete.changes.empty());
  EXPECT_FALSE(incomplete.viewCache->cachedEventSnap()->isFullyInitialized());
  auto complete = apply(viewCache("{}", false, "{}", false), FListenComplete(FOperationSource::serverInstance(), FPath::empty()));
  EXPECT_EQ(kinds(complete.changes), (Strings{"value"}));
}

TEST_F(ProcessorFixture, AcknowledgingRecomputesFromTheServerCacheWhereItIsKnown) {
  // The server already has the acknowledged data; the write is gone from the tree.
  auto known = viewCache(R"({"a":1})", true, R"({"a":2})", true);
  auto tree = FAffectedTree::empty()->setValue(true, *FPath::empty());
  auto result = apply(known, FAckUserWrite(FPath::empty(), tree, false));
  EXPECT_EQ(json(result.viewCache->cachedEventSnap()->node()), R"({"a":2})");
  EXPECT_EQ(kinds(result.changes), (Strings{"changed a", "value"}));

  auto partial = viewCache(R"({"a":1})", false, R"({"b":2})", false);
  auto unchanged = apply(partial, FAckUserWrite(path("c"), tree, false));
  EXPECT_EQ(unchanged.viewCache, partial);
}

TEST_F(ProcessorFixture, RevertingAChildTheServerNeverHadRemovesIt) {
  auto cache = viewCache(R"({"a":1,"n":2})", true, R"({"a":1})", true);
  auto tree = FAffectedTree::empty()->setValue(true, *FPath::empty());
  auto result = apply(cache, FAckUserWrite(path("n"), tree, true));
  EXPECT_EQ(json(result.viewCache->cachedEventSnap()->node()), R"({"a":1})");
  EXPECT_EQ(kinds(result.changes), (Strings{"removed n", "value"}));
}

TEST_F(ProcessorFixture, RevertingBelowAnEarlierAncestorWriteShowsItsValue) {
  writes->addOverwriteAtPath(path("a"), node(R"({"b":2})"), 1, true);
  writes->addOverwriteAtPath(path("a/b"), node("1"), 2, true);
  auto atB = viewCache("1", true, "{}", false);  // a listener of /a/b that only knows the writes
  ASSERT_TRUE(writes->removeWriteId(2));
  auto tree = FAffectedTree::empty()->setValue(true, *FPath::empty());
  auto result = apply(atB, FAckUserWrite(FPath::empty(), tree, true), "a/b");
  EXPECT_EQ(json(result.viewCache->cachedEventSnap()->node()), "2");
  EXPECT_TRUE(result.viewCache->cachedEventSnap()->isFullyInitialized());
  EXPECT_EQ(kinds(result.changes), (Strings{"value"}));

  auto atA = viewCache(R"({"b":1})", true, "{}", false);
  auto parent = apply(atA, FAckUserWrite(path("b"), tree, true), "a");
  EXPECT_EQ(json(parent.viewCache->cachedEventSnap()->node()), R"({"b":2})");
}

TEST_F(ProcessorFixture, MergesApplyChildByChild) {
  auto cache = viewCache(R"({"a":1,"b":2})", true, R"({"a":1,"b":2})", true);
  auto userMerge = apply(cache, FMerge(FOperationSource::userInstance(), FPath::empty(),
                                       FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"a":5,"c/d":6})"))));
  EXPECT_EQ(json(userMerge.viewCache->cachedEventSnap()->node()), R"({"a":5,"b":2,"c":{"d":6}})");
  Strings changes = kinds(userMerge.changes);
  std::sort(changes.begin(), changes.end() - 1);
  EXPECT_EQ(changes, (Strings{"added c", "changed a", "value"}));

  auto serverMerge = apply(cache, FMerge(FOperationSource::serverInstance(), FPath::empty(),
                                         FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"b":null})"))));
  EXPECT_EQ(json(serverMerge.viewCache->cachedServerSnap()->node()), R"({"a":1})");
  EXPECT_EQ(kinds(serverMerge.changes), (Strings{"removed b", "value"}));

  auto unknown = viewCache("{}", false, "{}", false);
  EXPECT_EQ(apply(unknown, FMerge(FOperationSource::serverInstance(), FPath::empty(),
                                  FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"x":1})"))))
                .viewCache,
            unknown);
}

namespace {
class StrangeOperation : public FOperation {
 public:
  FOperationRef operationForChild(const std::string&) const override { return nullptr; }
  const FOperationSourceRef& source() const override { return FOperationSource::serverInstance(); }
  int32_t type() const override { return 9; }
  const FPathRef& path() const override { return FPath::empty(); }
  std::string description() const override { return "strange"; }
};
}  // namespace

TEST_F(ProcessorFixture, AnUnknownOperationRaises) {
  try {
    apply(viewCache("{}", true, "{}", true), StrangeOperation());
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), NSInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "Unknown operation encountered 9.");
  }
}
