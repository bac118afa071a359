// The persistence manager over the real leveldb engine: what a new view reads from the cache and
// whether it counts as complete, tracked queries and their keys, acknowledged writes becoming
// server data, pruning by the LRU policy, a restart, and the boundary that drops what throws.
#include <gtest/gtest.h>

#include "sdk/database/persistence/FLevelDBStorageEngine.h"
#include "sdk/database/persistence/FPersistenceManager.h"
#include "sdk/database/snapshot/FIndex.h"
#include "tests/sdk/database/persistence/PersistenceTestSupport.h"

using namespace persistencetest;

namespace {

constexpr const char* kFolder = "default/test.example.com_ns";

class PersistenceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { reopen(); }
  void TearDown() override {
    if (manager_) manager_->close();
  }

  void reopen(uint64_t maxSize = 10 * 1024 * 1024) {
    if (manager_) manager_->close();
    clock_ = std::make_shared<TestClock>(clock_ ? clock_->currentTime() : 1000);
    manager_ = std::make_shared<FPersistenceManager>(std::make_shared<FLevelDBStorageEngine>(kFolder),
                                                     std::make_shared<FLRUCachePolicy>(maxSize), clock_);
  }
  FTrackedQueryManager& tracked() { return *manager_->trackedQueryManager(); }

  std::shared_ptr<TestClock> clock_;
  std::shared_ptr<FPersistenceManager> manager_;
};

}  // namespace

TEST_F(PersistenceManagerTest, AnUntrackedLocationReadsAsIncompleteFromItsKnownCompleteChildren) {
  FCacheNodeRef cache = manager_->serverCacheForQuery(defaultQuery("/p"));
  EXPECT_FALSE(cache->isFullyInitialized());
  EXPECT_TRUE(cache->node()->isEmpty());

  // A complete default query of one child makes that child known below its parent.
  manager_->setQueryActive(defaultQuery("/p/c1"));
  manager_->updateServerCacheWithNode(node(R"({"x": 1})"), defaultQuery("/p/c1"));
  manager_->updateServerCacheWithMerge(FSnapshotUtilities::compoundWriteFromDictionary(Value{{"c2", 2}}, "update"),
                                       path("/p"));
  cache = manager_->serverCacheForQuery(defaultQuery("/p"));
  EXPECT_FALSE(cache->isFullyInitialized());
  EXPECT_TRUE(cache->isFiltered());
  EXPECT_EQ(exported(cache->node()), Value::parse(R"({"c1": {"x": 1}})"));
}

TEST_F(PersistenceManagerTest, ACompleteDefaultQueryReadsItsWholeNodeAndCoversEverythingBelow) {
  manager_->setQueryActive(defaultQuery("/a"));
  manager_->updateServerCacheWithNode(node(R"({"b": {"c": 1}, "d": 2})"), defaultQuery("/a"));
  FCacheNodeRef cache = manager_->serverCacheForQuery(defaultQuery("/a"));
  EXPECT_TRUE(cache->isFullyInitialized());
  EXPECT_FALSE(cache->isFiltered());
  EXPECT_EQ(exported(cache->node()), Value::parse(R"({"b": {"c": 1}, "d": 2})"));

  FCacheNodeRef below = manager_->serverCacheForQuery(query("/a/b", R"({"l": 1, "vf": "l"})"));
  EXPECT_TRUE(below->isFullyInitialized());
  EXPECT_EQ(exported(below->node()), Value::parse(R"({"c": 1})"));
}

TEST_F(PersistenceManagerTest, AFilteredQueryIsStoredChildByChildAndReadBackByItsTrackedKeys) {
  FQuerySpecRef limited = query("/list", R"({"l": 2, "vf": "r", "i": ".value"})");
  manager_->setQueryActive(defaultQuery("/list"));
  manager_->updateServerCacheWithNode(node(R"({"a": 1, "b": 2, "c": 3})"), defaultQuery("/list"));
  manager_->setQueryInactive(defaultQuery("/list"));
  tracked().removeTrackedQuery(defaultQuery("/list"));

  manager_->setQueryActive(limited);
  manager_->setTrackedQueryKeys({"b", "c"}, limited);
  manager_->updateServerCacheWithNode(node(R"({"b": 2, "c": 30})"), limited);
  FCacheNodeRef cache = manager_->serverCacheForQuery(limited);
  EXPECT_TRUE(cache->isFullyInitialized());
  EXPECT_TRUE(cache->isFiltered());
  // Child by child: "a" of the earlier data stayed, but the query reads only its keys.
  EXPECT_EQ(exported(cache->node()), Value::parse(R"({"b": 2, "c": 30})"));
  EXPECT_TRUE(cache->indexedNode()->hasIndex(*FValueIndex::valueIndex()));
  EXPECT_EQ(exported(manager_->storageEngine()->serverCacheAtPath(path("/list"))),
            Value::parse(R"({"a": 1, "b": 2, "c": 30})"));

  manager_->updateTrackedQueryKeysWithAddedKeys({"a"}, {"c"}, limited);
  EXPECT_EQ(exported(manager_->serverCacheForQuery(limited)->node()), Value::parse(R"({"a": 1, "b": 2})"));
}

TEST_F(PersistenceManagerTest, CompletingTheDefaultQueryOfAPathCompletesEveryQueryThere) {
  FQuerySpecRef limited = query("/x", R"({"l": 5, "vf": "l"})");
  manager_->setQueryActive(limited);
  manager_->setQueryActive(defaultQuery("/x"));
  manager_->setQueryComplete(defaultQuery("/x"));
  EXPECT_TRUE(tracked().findTrackedQuery(limited)->isComplete());
  EXPECT_TRUE(tracked().findTrackedQuery(defaultQuery("/x"))->isComplete());
  // A query that only orders is tracked as the default query of its path.
  EXPECT_EQ(tracked().findTrackedQuery(query("/x", R"({"i": ".key"})"))->queryId(),
            tracked().findTrackedQuery(defaultQuery("/x"))->queryId());
}

TEST_F(PersistenceManagerTest, AnAcknowledgedWriteBecomesCompleteServerDataUnlessADefaultListenIsActiveThere) {
  manager_->applyUserWrite(node(R"({"v": 1})"), path("/w"));
  FCacheNodeRef cache = manager_->serverCacheForQuery(defaultQuery("/w"));
  EXPECT_TRUE(cache->isFullyInitialized());
  EXPECT_EQ(exported(cache->node()), Value::parse(R"({"v": 1})"));

  manager_->setQueryActive(defaultQuery("/listened"));
  manager_->applyUserWrite(node("5"), path("/listened"));
  EXPECT_TRUE(manager_->storageEngine()->serverCacheAtPath(path("/listened"))->isEmpty());

  manager_->applyUserMerge(FSnapshotUtilities::compoundWriteFromDictionary(Value{{"a", 1}, {"b/c", 2}}, "update"),
                           path("/m"));
  EXPECT_TRUE(manager_->serverCacheForQuery(defaultQuery("/m/a"))->isFullyInitialized());
  EXPECT_EQ(exported(manager_->storageEngine()->serverCacheAtPath(path("/m"))), Value::parse(R"({"a": 1, "b": {"c": 2}})"));
}

TEST_F(PersistenceManagerTest, AnAcknowledgedUpdateBecomesServerDataWithThePrioritiesItWritesBesideItsData) {
  manager_->applyUserMerge(
      FSnapshotUtilities::compoundWriteFromDictionary(Value{{"10/.priority", 0}, {"10/2", 0}}, "update"), path("/a"));
  EXPECT_EQ(exported(manager_->storageEngine()->serverCacheAtPath(path("/a"))),
            Value::parse(R"({"10": {".priority": 0, "2": 0}})"));
}

TEST_F(PersistenceManagerTest, WritesCacheAndTrackedQueriesSurviveARestartAndActiveQueriesComeBackInactive) {
  manager_->saveUserOverwrite(node("1"), path("/a"), 3);
  manager_->saveUserMerge(FSnapshotUtilities::compoundWriteFromDictionary(Value{{"x", 2}}, "update"), path("/b"), 4);
  manager_->setQueryActive(defaultQuery("/c"));
  manager_->updateServerCacheWithNode(node(R"({"k": "v"})"), defaultQuery("/c"));
  reopen();

  std::vector<FWriteRecordRef> writes = manager_->userWrites();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0]->writeId(), 3);
  EXPECT_EQ(writes[1]->writeId(), 4);
  FTrackedQueryRef query = tracked().findTrackedQuery(defaultQuery("/c"));
  ASSERT_TRUE(query);
  EXPECT_FALSE(query->isActive());
  EXPECT_TRUE(query->isComplete());
  EXPECT_EQ(exported(manager_->serverCacheForQuery(defaultQuery("/c"))->node()), Value::parse(R"({"k": "v"})"));

  manager_->removeUserWrite(3);
  manager_->removeAllUserWrites();
  EXPECT_TRUE(manager_->userWrites().empty());
}

TEST_F(PersistenceManagerTest, TheLRUPolicyPrunesTheLeastRecentlyUsedInactiveQueriesUntilTheCacheFits) {
  // Each query holds one record of 100 estimated bytes ("s:/qN/v/" and a 90-character string).
  reopen(250);
  const std::string text(90, 'x');
  for (int i = 1; i <= 5; ++i) {
    FQuerySpecRef q = FQuerySpec::defaultQueryAtPath(FPath::pathWithString("/q" + std::to_string(i)));
    manager_->setQueryActive(q);
    manager_->updateServerCacheWithNode(node(Value{{"v", text}}), q);
    clock_->advance(1);
    manager_->setQueryInactive(q);
  }
  EXPECT_LE(manager_->storageEngine()->serverCacheEstimatedSizeInBytes(), 250u);
  for (int i = 1; i <= 5; ++i) {
    FQuerySpecRef q = FQuerySpec::defaultQueryAtPath(FPath::pathWithString("/q" + std::to_string(i)));
    const bool kept = i >= 4;
    EXPECT_EQ(tracked().findTrackedQuery(q) != nullptr, kept) << i;
    EXPECT_EQ(manager_->storageEngine()->serverCacheAtPath(q->path())->isEmpty(), !kept) << i;
  }
}

TEST_F(PersistenceManagerTest, PruningKeepsTheTrackedKeysOfAFilteredQueryThatStays) {
  reopen(150);
  FQuerySpecRef limited = query("/shared", R"({"l": 1, "vf": "l"})");
  manager_->setQueryActive(limited);
  manager_->setTrackedQueryKeys({"keep"}, limited);
  manager_->updateServerCacheWithNode(node(Value{{"keep", std::string(60, 'k')}}), limited);
  clock_->advance(1);
  // An older-used default query of the same location holds more.
  manager_->setQueryActive(defaultQuery("/shared"));
  manager_->updateServerCacheWithNode(node(Value{{"keep", std::string(60, 'k')}, {"drop", std::string(90, 'd')}}),
                                      defaultQuery("/shared"));
  manager_->setQueryInactive(defaultQuery("/shared"));
  manager_->setQueryInactive(limited);
  clock_->advance(1);
  manager_->setQueryActive(limited);
  // Any server update runs the prune check.
  manager_->updateServerCacheWithMerge(FSnapshotUtilities::compoundWriteFromDictionary(Value{{"t", 1}}, "update"),
                                       path("/other"));
  const Value expected{{"keep", std::string(60, 'k')}};
  EXPECT_EQ(exported(manager_->storageEngine()->serverCacheAtPath(path("/shared"))), expected);
}

TEST_F(PersistenceManagerTest, CallsAfterCloseAreIgnored) {
  manager_->close();
  manager_->saveUserOverwrite(node("1"), path("/a"), 1);
  EXPECT_TRUE(manager_->userWrites().empty());
  EXPECT_FALSE(manager_->serverCacheForQuery(defaultQuery("/a"))->isFullyInitialized());
  manager_.reset();
}
