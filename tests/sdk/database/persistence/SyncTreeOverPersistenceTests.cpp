// The sync tree over the persistence manager and leveldb, across a restart (a new manager and a
// new tree over the same folder): what a listener sees at once from the cache, for a default
// query, for a limited query by its tracked keys, and for a write the server acknowledged.
#include <gtest/gtest.h>

#include "sdk/database/core/FOffsetClock.h"
#include "sdk/database/core/FSyncTree.h"
#include "sdk/database/core/FSyncTreeHash.h"
#include "sdk/database/core/FSystemClock.h"
#include "sdk/database/persistence/FLevelDBStorageEngine.h"
#include "sdk/database/persistence/FPersistenceManager.h"
#include "tests/sdk/database/engine/EngineTestSupport.h"

using namespace enginetest;

namespace {

class SyncTreeOverPersistenceTest : public ::testing::Test {
 protected:
  void SetUp() override { restart(); }
  void TearDown() override { manager_->close(); }

  // As a relaunched client: a new persistence manager and a new tree over the same folder.
  void restart() {
    if (manager_) manager_->close();
    manager_ = std::make_shared<FPersistenceManager>(
        std::make_shared<FLevelDBStorageEngine>("default/test.example.com_ns"),
        std::make_shared<FLRUCachePolicy>(10 * 1024 * 1024));
    FListenProvider provider;
    provider.startListening = [this](const FQuerySpecRef& query, std::optional<uint64_t> tag,
                                     const FSyncTreeHashRef& hash, const FListenProvider::Completion&) {
      listens_.push_back(query->path()->toString() + (tag ? " tag " + std::to_string(*tag) : "") +
                         (hash ? " hash " + hash->simpleHash() : ""));
      return FListenProvider::EventList();
    };
    provider.stopListening = [](const FQuerySpecRef&, std::optional<uint64_t>) {};
    tree_ = std::make_shared<FSyncTree>(manager_, provider);
    listens_.clear();
  }

  Value exportedAt(const char* at) { return manager_->storageEngine()->serverCacheAtPath(path(at))->valForExport(true); }

  std::shared_ptr<FPersistenceManager> manager_;
  std::shared_ptr<FSyncTree> tree_;
  std::vector<std::string> listens_;
};

}  // namespace

TEST_F(SyncTreeOverPersistenceTest, ADefaultListenersDataIsThereAtOnceAfterARestart) {
  auto registration = valueRegistration(1);
  tree_->addEventRegistration(registration, defaultQuery("/a"));
  tree_->applyServerOverwriteAtPath(path("/a"), node(R"({"x": 1, "y": 2})"));
  tree_->applyListenCompleteAtPath(path("/a"));

  restart();
  FEventList events = tree_->addEventRegistration(registration, defaultQuery("/a"));
  EXPECT_EQ(describe(events), Strings{R"(value /a {"x":1,"y":2})"});
  // The listen tells the server what the client holds.
  ASSERT_EQ(listens_.size(), 1u);
  EXPECT_EQ(listens_[0], "/a hash " + node(R"({"x": 1, "y": 2})")->dataHash());
  // A listener below it is served from the same complete cache.
  EXPECT_EQ(describe(tree_->addEventRegistration(valueRegistration(2), defaultQuery("/a/y"))), Strings{"value /a/y 2"});
}

TEST_F(SyncTreeOverPersistenceTest, ALimitedQueryComesBackWithTheChildrenItHeld) {
  auto limited = query("/list", FQueryParams::defaultInstance()->limitToLast(2));
  auto registration = valueRegistration(1);
  tree_->addEventRegistration(registration, limited);
  const uint64_t tag = *tree_->tagForQuery(limited);
  tree_->applyTaggedQueryOverwriteAtPath(path("/list"), node(R"({"b": 2, "c": 3})"), tag);
  tree_->applyTaggedListenCompleteAtPath(path("/list"), tag);

  restart();
  EXPECT_EQ(describe(tree_->addEventRegistration(registration, limited)), Strings{R"(value /list {"b":2,"c":3})"});
  // The default query of the location was never loaded: it is not complete and raises nothing yet.
  EXPECT_TRUE(tree_->addEventRegistration(valueRegistration(2), defaultQuery("/list")).empty());
}

TEST_F(SyncTreeOverPersistenceTest, AnAcknowledgedWriteLeavesThePendingWritesAndStaysAsServerData) {
  manager_->saveUserOverwrite(node(R"({"v": 5})"), path("/w"), 1);
  tree_->applyUserOverwriteAtPath(path("/w"), node(R"({"v": 5})"), 1, true);
  manager_->saveUserOverwrite(node("7"), path("/refused"), 2);
  tree_->applyUserOverwriteAtPath(path("/refused"), node("7"), 2, true);
  FOffsetClock clock(FSystemClock::clock(), 0);
  tree_->ackUserWriteWithWriteId(1, false, true, clock);
  tree_->ackUserWriteWithWriteId(2, true, true, clock);

  restart();
  EXPECT_TRUE(manager_->userWrites().empty());
  EXPECT_EQ(describe(tree_->addEventRegistration(valueRegistration(1), defaultQuery("/w"))), Strings{R"(value /w {"v":5})"});
  EXPECT_TRUE(tree_->addEventRegistration(valueRegistration(2), defaultQuery("/refused")).empty());
}

TEST_F(SyncTreeOverPersistenceTest, ATaggedOverwriteBelowItsQueryIsKeptUnderThatDeeperLocation) {
  auto limited = query("/list", FQueryParams::defaultInstance()->limitToFirst(5));
  tree_->addEventRegistration(valueRegistration(1), limited);
  const uint64_t tag = *tree_->tagForQuery(limited);
  tree_->applyTaggedQueryOverwriteAtPath(path("/list"), node(R"({"a": {"n": 1}})"), tag);
  tree_->applyTaggedQueryOverwriteAtPath(path("/list/a"), node(R"({"n": 2})"), tag);
  EXPECT_EQ(exportedAt("/list"), Value::parse(R"({"a": {"n": 2}})"));
}
