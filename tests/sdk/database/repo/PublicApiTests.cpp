// The public objects on their own: references and their validation, push identifiers, query
// builders and the limits they refuse, snapshots, mutable data, and the database component of the
// SDK's registry (the default database, databases by app and URL, made lazily).
#include <gtest/gtest.h>

#include <set>

#include "platform/foundation/NSException.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/realtime/FNextPushId.h"
#include "sdk/database/realtime/ZIRDatabaseComponent.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/sdk/database/repo/RepoTestSupport.h"

using namespace repotest;

namespace {

std::string exceptionName(const std::function<void()>& call) {
  try {
    call();
  } catch (const NSException& e) {
    return e.name();
  }
  return "none";
}

class PublicApiTest : public RepoTest {
 protected:
  void SetUp() override {
    RepoTest::SetUp();
    database_ = makeDatabase({.online = false});
    root_ = database_->reference();
  }
  std::shared_ptr<ZIRDatabase> database_;
  ZIRDatabaseReferenceRef root_;
};

}  // namespace

// -- References ---------------------------------------------------------------------------------

TEST_F(PublicApiTest, ChildrenParentsAndKeysFollowThePath) {
  auto child = root_->child("a/b")->child("c");
  EXPECT_EQ(child->path()->toString(), "/a/b/c");
  EXPECT_EQ(child->key(), "c");
  EXPECT_EQ(child->parent()->path()->toString(), "/a/b");
  EXPECT_EQ(root_->key(), std::nullopt);
  EXPECT_EQ(root_->parent(), nullptr);
  EXPECT_EQ(child->root()->path()->toString(), "/");
  EXPECT_EQ(child->database(), database_);
  EXPECT_EQ(child->description(), "https://test.example.com/a/b/c");
  EXPECT_EQ(root_->child(".info/connected")->path()->toString(), "/.info/connected");
}

TEST_F(PublicApiTest, InvalidPathsAndWritesUnderInfoAreRefusedAtOnce) {
  EXPECT_EQ(exceptionName([&] { root_->child("a.b"); }), "InvalidPathValidation");
  EXPECT_EQ(exceptionName([&] { root_->child("a")->child(".info"); }), "InvalidPathValidation");
  EXPECT_EQ(exceptionName([&] { root_->child("a#"); }), "InvalidPathValidation");
  auto info = root_->child(".info");
  EXPECT_EQ(exceptionName([&] { info->childByAutoId(); }), "WritablePathValidation");
  EXPECT_EQ(exceptionName([&] { info->child("x")->setValue(Value(1)); }), "WritablePathValidation");
  EXPECT_EQ(exceptionName([&] { info->updateChildValues(Value{{"x", 1}}); }), "WritablePathValidation");
  EXPECT_EQ(exceptionName([&] { info->runTransactionBlock(nullptr); }), "WritablePathValidation");
  EXPECT_EQ(exceptionName([&] { root_->child("a")->setValue(Value{{"bad.key", 1}}); }), "InvalidZirezizeData");
  EXPECT_EQ(exceptionName([&] { root_->child("a")->updateChildValues(Value{{"x", 1}, {"x/y", 2}}); }),
            "InvalidZirezizeData");
  EXPECT_EQ(exceptionName([&] { root_->child("a")->updateChildValues(Value(3)); }), "InvalidZirezizeData");
  EXPECT_EQ(exceptionName([&] { root_->keepSynced(true); }), "none");
  EXPECT_EQ(exceptionName([&] { info->keepSynced(true); }), NSInvalidArgumentException);
  EXPECT_EQ(exceptionName([&] { root_->observeEventType(static_cast<ZIRDataEventType>(7), nullptr); }),
            "KnownEventTypeValidation");
}

TEST_F(PublicApiTest, SettingsChangeOnlyBeforeTheDatabaseIsUsed) {
  auto unused = std::make_shared<ZIRDatabase>(nullptr, repoInfo(), std::make_shared<ZIRDatabaseConfig>("unused"));
  unused->setPersistenceEnabled(true);
  unused->setCallbackQueue(callbacks_);
  EXPECT_TRUE(unused->persistenceEnabled());
  EXPECT_EQ(exceptionName([&] { database_->setPersistenceEnabled(true); }), NSInvalidArgumentException);
  EXPECT_EQ(exceptionName([&] { database_->setPersistenceCacheSizeBytes(2 * 1024 * 1024); }),
            NSInvalidArgumentException);
}

// -- Push identifiers ---------------------------------------------------------------------------

TEST(PushIdentifiers, SortInTheChildKeyOrderAlsoWithinOneMillisecondAndWhenTheClockGoesBack) {
  std::vector<std::string> ids;
  const double now = 4000000000.123;  // after any time the process used before
  for (int i = 0; i < 500; ++i) ids.push_back(FNextPushId::get(now));          // one millisecond
  for (int i = 0; i < 50; ++i) ids.push_back(FNextPushId::get(now + i * 0.001));  // later ones
  for (int i = 0; i < 50; ++i) ids.push_back(FNextPushId::get(now - 10));        // the clock went back
  for (size_t i = 0; i < ids.size(); ++i) {
    ASSERT_EQ(ids[i].size(), 20u);
    for (char c : ids[i]) ASSERT_NE(std::string(FNextPushId::kPushChars).find(c), std::string::npos);
    if (i > 0) {
      EXPECT_LT(FUtilities::compareKey(ids[i - 1], ids[i]), 0) << ids[i - 1] << " then " << ids[i];
    }
  }
  // The first eight characters carry the time: a later millisecond sorts after an earlier one.
  EXPECT_LT(ids[500].substr(0, 8), ids[549].substr(0, 8));
  EXPECT_EQ(ids[0].substr(0, 8), ids[499].substr(0, 8));
}

TEST_F(PublicApiTest, ChildByAutoIdMakesAChildWithAFreshPushIdentifier) {
  auto items = root_->child("items");
  auto first = items->childByAutoId();
  auto second = items->childByAutoId();
  EXPECT_EQ(first->parent()->path()->toString(), "/items");
  ASSERT_TRUE(first->key() && second->key());
  EXPECT_EQ(first->key()->size(), 20u);
  EXPECT_LT(FUtilities::compareKey(*first->key(), *second->key()), 0);
}

// -- Queries ------------------------------------------------------------------------------------

TEST_F(PublicApiTest, LimitsOutsideOneToTheLargest32BitNumberAreRefused) {
  auto items = root_->child("items");
  for (int64_t bad : {int64_t{0}, int64_t{-1}, int64_t{2147483648}, INT64_MIN, INT64_MAX}) {
    EXPECT_EQ(exceptionName([&] { items->queryLimitedToFirst(bad); }), NSInvalidArgumentException) << bad;
    EXPECT_EQ(exceptionName([&] { items->queryLimitedToLast(bad); }), NSInvalidArgumentException) << bad;
  }
  EXPECT_EQ(items->queryLimitedToFirst(1)->queryParams()->limit(), 1);
  EXPECT_EQ(items->queryLimitedToLast(2147483647)->queryParams()->limit(), 2147483647);
  EXPECT_EQ(exceptionName([&] { items->queryLimitedToFirst(3)->queryLimitedToLast(3); }), NSInvalidArgumentException);
}

TEST_F(PublicApiTest, BuildersRefuseBoundsAndOrderingsThatDoNotFit) {
  auto items = root_->child("items");
  EXPECT_EQ(exceptionName([&] { items->queryOrderedByKey()->queryOrderedByValue(); }), NSInvalidArgumentException);
  EXPECT_EQ(exceptionName([&] { items->queryOrderedByKey()->queryStartingAtValue(Value(1)); }),
            NSInvalidArgumentException);
  EXPECT_EQ(exceptionName([&] { items->queryOrderedByKey()->queryStartingAtValue(Value("a"), "k"); }),
            NSInvalidArgumentException);
  EXPECT_EQ(exceptionName([&] { items->queryStartingAtValue(Value(true)); }), NSInvalidArgumentException)
      << "a boolean is no priority";
  EXPECT_EQ(exceptionName([&] { items->queryOrderedByValue()->queryStartingAtValue(Value{{"a", 1}}); }),
            NSInvalidArgumentException);
  EXPECT_EQ(exceptionName([&] { items->queryOrderedByValue()->queryStartingAtValue(Value(1))->queryEqualToValue(Value(2)); }),
            NSInvalidArgumentException);
  EXPECT_EQ(exceptionName([&] { items->queryOrderedByChild("$key"); }), NSInvalidArgumentException);
  EXPECT_EQ(exceptionName([&] { items->queryOrderedByChild("a.b"); }), "InvalidPathValidation");
  EXPECT_EQ(exceptionName([&] { items->queryOrderedByValue()->queryStartingAtValue(Value(1), "bad/key"); }),
            "InvalidKeyValidation");
}

TEST_F(PublicApiTest, ABuiltQuerySpeaksItsParametersOnTheWire) {
  auto query = root_->child("scores")->queryOrderedByChild("points")->queryStartingAtValue(Value(10))->queryLimitedToLast(3);
  EXPECT_EQ(query->queryParams()->wireProtocolParams(), Value::parse(R"({"i": "points", "sp": 10, "l": 3, "vf": "r"})"));
  auto equal = root_->child("scores")->queryOrderedByKey()->queryEqualToValue(Value("k"));
  EXPECT_EQ(equal->queryParams()->wireProtocolParams(), Value::parse(R"({"i": ".key", "sp": "k", "ep": "k"})"));
  EXPECT_EQ(equal->ref()->path()->toString(), "/scores");
  EXPECT_TRUE(root_->child("scores")->querySpec()->isDefault());
}

// -- Snapshots and mutable data -----------------------------------------------------------------

TEST_F(PublicApiTest, SnapshotsShowTheirChildrenInTheQuerysOrder) {
  auto node = FSnapshotUtilities::nodeFrom(Value::parse(R"({"a": 3, "b": 1, "c": {"d": 2}})"));
  ZIRDataSnapshot byValue(root_->child("s"), FIndexedNode::indexedNodeWithNode(node, FValueIndex::valueIndex()));
  Strings keys;
  for (const auto& child : byValue.children()) keys.push_back(*child->key());
  EXPECT_EQ(keys, (Strings{"b", "a", "c"}));
  EXPECT_TRUE(byValue.exists());
  EXPECT_TRUE(byValue.hasChildren());
  EXPECT_EQ(byValue.childrenCount(), 3);
  EXPECT_TRUE(byValue.hasChild("c/d"));
  EXPECT_FALSE(byValue.hasChild("c/e"));
  auto deep = byValue.childSnapshotForPath("c/d");
  EXPECT_EQ(deep->value(), Value(2));
  EXPECT_EQ(deep->ref()->path()->toString(), "/s/c/d");
  EXPECT_FALSE(byValue.childSnapshotForPath("missing")->exists());
}

TEST_F(PublicApiTest, MutableDataChildrenChangeTheirParent) {
  auto data = std::make_shared<ZIRMutableData>(FSnapshotUtilities::nodeFrom(Value::parse(R"({"a": 1})")));
  data->childDataByAppendingPath("b/c")->setValue(Value("deep"));
  data->childDataByAppendingPath("a")->setPriority(Value(5));
  EXPECT_EQ(data->value(), Value::parse(R"({"a": 1, "b": {"c": "deep"}})"));
  EXPECT_EQ(data->nodeValue()->valForExport(true),
            Value::parse(R"({"a": {".value": 1, ".priority": 5}, "b": {"c": "deep"}})"));
  EXPECT_EQ(data->childrenCount(), 2);
  EXPECT_TRUE(data->hasChildAtPath("b/c"));
  EXPECT_EQ(data->childDataByAppendingPath("b")->key(), "b");
  EXPECT_EQ(data->children().size(), 2u);
  EXPECT_EQ(exceptionName([&] { data->setValue(Value{{"x$", 1}}); }), "InvalidZirezizeData");
  EXPECT_EQ(exceptionName([&] { data->setPriority(Value{{"x", 1}}); }), "InvalidZirezizeData");
  data->setValue(Value());
  EXPECT_TRUE(data->nodeValue()->isEmpty());
}

// -- The database component ---------------------------------------------------------------------

namespace {

class DatabaseComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZAVAda::resetForTesting();
    ZIRDatabaseComponent::load();
  }
  void TearDown() override {
    for (const auto& config : configs_) FRepoManager::disposeRepos(config);
    ZAVAda::resetForTesting();
  }
  static DEVEduzoveRef options(std::optional<std::string> url) {
    DEVEduzove options("1:1:ios:1", "1");
    options.setDatabaseURL(std::move(url));
    return std::make_shared<const DEVEduzove>(options);
  }
  std::vector<ZIRDatabaseConfigRef> configs_;
};

}  // namespace

TEST_F(DatabaseComponentTest, TheDefaultDatabaseNeedsAConfiguredDefaultApp) {
  EXPECT_EQ(exceptionName([] { ZIRDatabase::database(); }), kZAVAdaNotConfigured);
}

TEST_F(DatabaseComponentTest, OneDatabasePerAppAndURLMadeOnlyWhenAskedFor) {
  ZAVAda::configureWithOptions(options("https://spectrum-7c1f2.zirezizeio.com"));
  auto app = ZAVAda::defaultApp();
  const size_t before = app->container()->cachedInstanceCount();
  auto database = ZIRDatabase::database();
  configs_.push_back(database->config());
  EXPECT_EQ(app->container()->cachedInstanceCount(), before + 1) << "the component is made on first request";
  EXPECT_EQ(ZIRDatabase::database(), database);
  EXPECT_EQ(database->app(), app);
  EXPECT_EQ(database->config()->sessionIdentifier(), "default");
  EXPECT_EQ(database->repoInfo()->ns(), "spectrum-7c1f2");
  EXPECT_EQ(database->reference()->description(), "https://spectrum-7c1f2.zirezizeio.com/");

  auto other = ZIRDatabase::databaseForApp(app, "https://other-db.zirezizeio.com");
  configs_.push_back(other->config());
  EXPECT_NE(other, database);
  EXPECT_EQ(other->repoInfo()->ns(), "other-db");

  ZAVAda::configureWithName("second", options("https://spectrum-7c1f2.zirezizeio.com"));
  auto secondDatabase = ZIRDatabase::databaseForApp(ZAVAda::appNamed("second"));
  configs_.push_back(secondDatabase->config());
  EXPECT_NE(secondDatabase, database);
  EXPECT_EQ(secondDatabase->config()->sessionIdentifier(), "second");
}

TEST_F(DatabaseComponentTest, AppsWithoutAUsableDatabaseURLAreRefused) {
  ZAVAda::configureWithOptions(options(std::nullopt));
  EXPECT_EQ(exceptionName([] { ZIRDatabase::database(); }), NSInvalidArgumentException);
  EXPECT_EQ(exceptionName([] { ZIRDatabase::databaseForApp(ZAVAda::defaultApp(), "https://a.zirezizeio.com/some/path"); }),
            NSInvalidArgumentException);
  EXPECT_EQ(exceptionName([] { ZIRDatabase::databaseForApp(ZAVAda::defaultApp(), "https://example.com/?ns=../x"); }),
            "Failed to parse database URL");
}
