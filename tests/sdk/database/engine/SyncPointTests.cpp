// Sync points: views by query, operations by tag, tracked keys, removal and listen hashes.
#include <gtest/gtest.h>

#include <algorithm>

#include "EngineTestSupport.h"
#include "InMemoryPersistence.h"
#include "sdk/database/core/FListenContainer.h"
#include "sdk/database/core/FSyncPoint.h"
#include "sdk/database/core/FWriteTree.h"

using namespace enginetest;

namespace {

struct SyncPointFixture : ::testing::Test {
  std::shared_ptr<InMemoryPersistence> persistence = std::make_shared<InMemoryPersistence>();
  std::shared_ptr<FWriteTree> writes = std::make_shared<FWriteTree>();
  FSyncPoint syncPoint{persistence};

  FCacheNodeRef server(const char* jsonText, bool complete = true) {
    return std::make_shared<const FCacheNode>(indexed(jsonText), complete, false);
  }
  FEventList add(const FEventRegistrationRef& registration, const FQuerySpecRef& q, const char* serverJson = "{}") {
    return syncPoint.addEventRegistrationForNonExistingView(registration, q, writes->childWritesForPath(q->path()),
                                                            server(serverJson));
  }
  static Strings names(const std::vector<FQuerySpecRef>& queries) {
    Strings out;
    for (const auto& q : queries) out.push_back(InMemoryPersistence::name(q));
    return out;
  }
};

}  // namespace

TEST_F(SyncPointFixture, RemovingByTheDefaultQueryEmptiesEveryView) {
  add(valueRegistration(1), defaultQuery("p"));
  add(valueRegistration(2), query("p", params()->limitToFirst(1)));
  add(valueRegistration(3), query("p", params()->startAt(node("1"))));
  auto result = syncPoint.removeEventRegistration(nullptr, defaultQuery("p"), nullptr);
  EXPECT_TRUE(syncPoint.isEmpty());
  EXPECT_EQ(names(result.removedQueries), (Strings{R"(/p {"l":1,"vf":"l"})", R"(/p {"sp":1})", "/p {}"}));
}

TEST_F(SyncPointFixture, AnotherCompleteViewKeepsThePathCovered) {
  add(valueRegistration(1), defaultQuery("p"));
  add(valueRegistration(2), query("p", params()->orderBy(FKeyIndex::keyIndex())));
  auto result = syncPoint.removeEventRegistration(valueRegistration(1), defaultQuery("p"), nullptr);
  EXPECT_TRUE(result.removedQueries.empty());
  EXPECT_TRUE(syncPoint.hasCompleteView());
  result = syncPoint.removeEventRegistration(valueRegistration(2), query("p", params()->orderBy(FKeyIndex::keyIndex())),
                                             nullptr);
  EXPECT_EQ(names(result.removedQueries), (Strings{"/p {}"}));
}

TEST_F(SyncPointFixture, TaggedOperationsReachOnlyTheirView) {
  auto limited = query("p", params()->limitToFirst(5));
  auto limitedValue = valueRegistration(1);
  auto allValue = valueRegistration(2);
  add(limitedValue, limited);
  add(allValue, defaultQuery("p"));
  FOverwrite tagged(FOperationSource::forServerTaggedQuery(limited->params()), FPath::empty(), node(R"({"a":1})"));
  auto events = syncPoint.applyOperation(tagged, writes->childWritesForPath(path("p")), nullptr);
  EXPECT_EQ(describe(events), (Strings{R"(value /p {"a":1})"}));
  EXPECT_EQ(describeFor(events, limitedValue).size(), 1u);

  FOverwrite untagged(FOperationSource::serverInstance(), FPath::empty(), node(R"({"b":2})"));
  events = syncPoint.applyOperation(untagged, writes->childWritesForPath(path("p")), nullptr);
  EXPECT_EQ(describeFor(events, limitedValue), (Strings{R"(value /p {"b":2})"}));
  EXPECT_EQ(describeFor(events, allValue), (Strings{R"(value /p {"b":2})"}));
}

TEST_F(SyncPointFixture, FilteredViewsTrackTheirKeys) {
  auto limited = query("p", params()->limitToFirst(2));
  add(valueRegistration(1), limited, R"({"a":1,"b":2})");
  add(valueRegistration(2), defaultQuery("p"), R"({"a":1,"b":2})");
  EXPECT_EQ(persistence->log, (Strings{R"(keys /p {"l":2,"vf":"l"} = [a,b])"}));
  persistence->log.clear();

  auto ref = writes->childWritesForPath(path("p"));
  syncPoint.applyOperation(FOverwrite(FOperationSource::serverInstance(), FPath::empty(), node(R"({"a":1,"c":0})")), ref,
                           nullptr);
  EXPECT_EQ(persistence->log, (Strings{R"(keys /p {"l":2,"vf":"l"} +[c] -[b])"}));
  persistence->log.clear();
  syncPoint.applyOperation(FOverwrite(FOperationSource::serverInstance(), path("a"), node("5")), ref, nullptr);
  EXPECT_TRUE(persistence->log.empty());
}

TEST_F(SyncPointFixture, AViewMadeOnRequestIsNotKept) {
  auto q = query("p", params()->limitToLast(1));
  auto view = syncPoint.getView(q, writes->childWritesForPath(path("p")), server(R"({"a":1,"b":2})"));
  EXPECT_EQ(json(view->eventCache()), R"({"b":2})");
  EXPECT_FALSE(syncPoint.viewExistsForQuery(q));
  EXPECT_TRUE(syncPoint.isEmpty());
  EXPECT_EQ(syncPoint.completeServerCacheAtPath(FPath::empty()), nullptr);
}

TEST_F(SyncPointFixture, CompoundHashOnlyAbove1024Bytes) {
  auto view = syncPoint.getView(defaultQuery("p"), writes->childWritesForPath(path("p")),
                                server(value::toJSON(Value(std::string(1022, 'x'))).c_str()));
  FListenContainer atLimit(view, [](const std::string&) { return FEventList{}; });
  EXPECT_FALSE(atLimit.includeCompoundHash());
  EXPECT_EQ(atLimit.simpleHash(), view->serverCache()->dataHash());
  auto larger = syncPoint.getView(defaultQuery("p"), writes->childWritesForPath(path("p")),
                                  server(value::toJSON(Value(std::string(1023, 'x'))).c_str()));
  FListenContainer above(larger, [](const std::string&) { return FEventList{}; });
  EXPECT_TRUE(above.includeCompoundHash());
  EXPECT_FALSE(above.compoundHash()->hashes().empty());
}
