// The leveldb storage engine against a real leveldb folder in the test's own application home:
// user writes, the server cache with its priorities and size, tracked queries and keys, pruning,
// damage of the folder and of single records, the folder name's confinement, a restart in another
// process, and the move of the older pending-writes store.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSUserDefaults.h"
#include "sdk/database/core/FRepoInfo.h"
#include "sdk/database/persistence/FLevelDBRecordFormat.h"
#include "sdk/database/persistence/FLevelDBStorageEngine.h"
#include "tests/sdk/database/persistence/PersistenceTestSupport.h"
#include "tests/support/ChildProcess.h"

using namespace persistencetest;

namespace {

constexpr const char* kFolder = "default/test.example.com_ns";

std::unique_ptr<FLevelDBStorageEngine> openEngine(const std::string& folder = kFolder) {
  return std::make_unique<FLevelDBStorageEngine>(folder);
}

// "/<top>/k/k/.../k" with `keys` keys in all; without the leading "/" for a merge key.
std::string deepPath(const char* top, size_t keys, bool leadingSlash = true) {
  std::string text = (leadingSlash ? "/" : "") + std::string(top);
  for (size_t i = 1; i < keys; ++i) text += "/k";
  return text;
}

std::string serverRecordKey(const std::string& pathText) { return "s:" + pathText + "/"; }

std::vector<int64_t> writeIds(FStorageEngine& engine) {
  std::vector<int64_t> ids;
  for (const FWriteRecordRef& write : engine.userWrites()) ids.push_back(write->writeId());
  return ids;
}

}  // namespace

// -- User writes ----------------------------------------------------------------------------------

TEST(LevelDBStorageEngineWrites, OverwritesAndMergesComeBackInWriteIdOrderWithTheirServerValues) {
  auto engine = openEngine();
  Value timestamp = Value{{".sv", "timestamp"}};
  engine->saveUserMerge(FSnapshotUtilities::compoundWriteFromDictionary(
                            Value{{"b/c", 1}, {"d", timestamp}}, "update"),
                        path("/a"), 12);
  engine->saveUserOverwrite(node(Value{{".value", "x"}, {".priority", 3}}), path("/p/q"), -4);
  engine->saveUserOverwrite(node("{\"t\": {\".sv\": \"timestamp\"}}"), path("/"), 300);

  std::vector<FWriteRecordRef> writes = engine->userWrites();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0]->writeId(), -4);  // negative ids sort first: the key flips the sign bit
  EXPECT_EQ(writes[0]->path()->toString(), "/p/q");
  EXPECT_EQ(exported(writes[0]->overwrite()), (Value{{".value", "x"}, {".priority", 3}}));
  EXPECT_EQ(writes[1]->writeId(), 12);
  ASSERT_TRUE(writes[1]->isMerge());
  EXPECT_EQ(writes[1]->compoundWrite()->valForExport(true), (Value{{"b/c", 1}, {"d", timestamp}}));
  EXPECT_EQ(writes[2]->writeId(), 300);
  EXPECT_EQ(exported(writes[2]->overwrite()), (Value{{"t", timestamp}}));

  engine->removeUserWrite(12);
  EXPECT_EQ(writeIds(*engine), (std::vector<int64_t>{-4, 300}));
  engine->removeAllUserWrites();
  EXPECT_TRUE(engine->userWrites().empty());
}

TEST(LevelDBStorageEngineWrites, SurviveClosingAndReopening) {
  {
    auto engine = openEngine();
    engine->saveUserOverwrite(node("{\"a\": 1}"), path("/x"), 7);
    engine->saveUserOverwrite(node("2"), path("/y"), 9);
    engine->close();
  }
  auto engine = openEngine();
  EXPECT_EQ(writeIds(*engine), (std::vector<int64_t>{7, 9}));
}

// -- Server cache ---------------------------------------------------------------------------------

TEST(LevelDBStorageEngineServerCache, ReadsBackWhatWasWrittenAtEveryDepth) {
  auto engine = openEngine();
  engine->updateServerCache(node(R"({"a": {"b": 1, "c": {"d": "x"}}, "e": true})"), path("/"), false);
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/"))), Value::parse(R"({"a": {"b": 1, "c": {"d": "x"}}, "e": true})"));
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/a/c"))), Value::parse(R"({"d": "x"})"));
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/a/b"))), Value(1));
  EXPECT_TRUE(engine->serverCacheAtPath(path("/a/b/nothing"))->isEmpty());
  EXPECT_TRUE(engine->serverCacheAtPath(path("/missing"))->isEmpty());
  EXPECT_EQ(exported(engine->serverCacheForKeys({"a", "nothing"}, path("/"))), Value::parse(R"({"a": {"b": 1, "c": {"d": "x"}}})"));
}

TEST(LevelDBStorageEngineServerCache, AnOverwriteReplacesEverythingBelowAndALeafAboveGivesWay) {
  auto engine = openEngine();
  engine->updateServerCache(node(R"({"a": {"b": 1, "c": 2}})"), path("/"), false);
  engine->updateServerCache(node(R"({"z": 3})"), path("/a"), false);
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/"))), Value::parse(R"({"a": {"z": 3}})"));

  // A leaf with a priority above the new data: the leaf goes, its priority stays with the node.
  engine->updateServerCache(node(R"({".value": "leaf", ".priority": 5})"), path("/l"), false);
  engine->updateServerCache(node("7"), path("/l/m/n"), false);
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/l"))), Value::parse(R"({"m": {"n": 7}, ".priority": 5})"));

  // Removing the last child empties the node, and an empty node has no priority.
  engine->updateServerCache(node("null"), path("/l/m/n"), false);
  EXPECT_TRUE(engine->serverCacheAtPath(path("/l"))->isEmpty());
  engine->updateServerCache(node("1"), path("/l/again"), false);
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/l"))), Value::parse(R"({"again": 1})"));

  // An empty write below a leaf changes nothing.
  engine->updateServerCache(node("\"text\""), path("/s"), false);
  engine->updateServerCache(node("null"), path("/s/t"), false);
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/s"))), Value("text"));
}

TEST(LevelDBStorageEngineServerCache, PrioritiesOfLeavesAndInteriorNodesAndWritesAtAPriorityPath) {
  auto engine = openEngine();
  engine->updateServerCache(node(R"({"a": {".priority": "p", "x": {".value": 1, ".priority": 2}}})"), path("/"), false);
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/a"))),
            Value::parse(R"({".priority": "p", "x": {".value": 1, ".priority": 2}})"));
  engine->updateServerCache(node("9"), path("/a/x/.priority"), false);
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/a/x"))), Value::parse(R"({".value": 1, ".priority": 9})"));
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/a/.priority"))), Value("p"));
}

TEST(LevelDBStorageEngineServerCache, MergesReplaceOnlyTheirChildren) {
  auto engine = openEngine();
  engine->updateServerCache(node(R"({"a": 1, "b": {"c": 2}, "d": 3})"), path("/r"), false);
  engine->updateServerCache(node(R"({"b": {"e": 4}, "f": 5})"), path("/r"), true);
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/r"))), Value::parse(R"({"a": 1, "b": {"e": 4}, "d": 3, "f": 5})"));
  engine->updateServerCacheWithMerge(
      FSnapshotUtilities::compoundWriteFromDictionary(Value{{"a", nullptr}, {"b/g", 6}}, "update"), path("/r"));
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/r"))), Value::parse(R"({"b": {"e": 4, "g": 6}, "d": 3, "f": 5})"));
}

TEST(LevelDBStorageEngineServerCache, AMergeIsStoredAsOneChangeWithItsPrioritiesLast) {
  // What it sets goes in before what it removes (a location it leaves with data keeps its
  // priority), and the priorities it writes go in once the data beside them is there.
  auto engine = openEngine();
  engine->updateServerCache(node(R"({".priority": 3, "a": 1})"), path("/p"), false);
  engine->updateServerCacheWithMerge(FSnapshotUtilities::compoundWriteFromDictionary(
                                         Value{{"a", nullptr}, {"b", 2}, {"q/.priority", 1}, {"q/x", 5}}, "update"),
                                     path("/p"));
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/p"))),
            Value::parse(R"({".priority": 3, "b": 2, "q": {".priority": 1, "x": 5}})"));
}

TEST(LevelDBStorageEngineServerCache, TheEstimatedSizeFollowsEveryChangeAndIsTheSameAfterAReopen) {
  auto engine = openEngine();
  EXPECT_EQ(engine->serverCacheEstimatedSizeInBytes(), 0u);
  engine->updateServerCache(node(R"({"a": "abc"})"), path("/"), false);
  // The record "s:/a/" (5 bytes of key) holding a string leaf of 3 characters (3 + 2).
  EXPECT_EQ(engine->serverCacheEstimatedSizeInBytes(), 10u);
  engine->updateServerCache(node(R"({"b": true, "c": 1.5})"), path("/x"), false);
  const uint64_t size = engine->serverCacheEstimatedSizeInBytes();
  EXPECT_EQ(size, 10u + (7 + 4) + (7 + 8));
  engine->close();
  engine = openEngine();
  EXPECT_EQ(engine->serverCacheEstimatedSizeInBytes(), size);
  engine->updateServerCache(node("null"), path("/x"), false);
  EXPECT_EQ(engine->serverCacheEstimatedSizeInBytes(), 10u);
}

TEST(LevelDBStorageEngineServerCache, PruningRemovesPrunedDataButKeepsWhatIsKept) {
  auto engine = openEngine();
  engine->updateServerCache(node(R"({"a": {"x": 1, "y": 2, "z": {"deep": 3}}, "b": 4})"), path("/"), false);
  FPruneForestRef forest = FPruneForest::empty()->prunePath(*path("/a"))->keepPath(*path("/a/y"));
  engine->pruneCache(forest, path("/"));
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/"))), Value::parse(R"({"a": {"y": 2}, "b": 4})"));
  // A forest is rooted at the path it is applied at.
  engine->pruneCache(FPruneForest::empty()->prunePath(*path("/y")), path("/a"));
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/"))), Value::parse(R"({"b": 4})"));
  EXPECT_EQ(engine->serverCacheEstimatedSizeInBytes(), 5u + 8u);
}

// -- Tracked queries ------------------------------------------------------------------------------

TEST(LevelDBStorageEngineTrackedQueries, QueriesAndTheirKeysRoundTrip) {
  auto engine = openEngine();
  auto filtered = std::make_shared<const FTrackedQuery>(
      5, query("/list", R"({"l": 3, "vf": "r", "i": ".value", "sp": 10, "sn": "k"})"), 1234.5, true, false);
  engine->saveTrackedQuery(filtered);
  engine->saveTrackedQuery(std::make_shared<const FTrackedQuery>(6, defaultQuery("/"), 10, false, true));
  engine->setTrackedQueryKeys({"a", "b", "c"}, 5);
  engine->updateTrackedQueryKeys({"d"}, {"a"}, 5);
  engine->close();

  engine = openEngine();
  std::vector<FTrackedQueryRef> queries = engine->loadTrackedQueries();
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_TRUE(queries[0]->isEqual(*filtered));
  EXPECT_TRUE(queries[1]->query()->isDefault());
  EXPECT_TRUE(queries[1]->isActive());
  EXPECT_EQ(engine->trackedQueryKeysForQuery(5), (std::set<std::string>{"b", "c", "d"}));
  engine->removeTrackedQuery(5);
  EXPECT_EQ(engine->loadTrackedQueries().size(), 1u);
  EXPECT_TRUE(engine->trackedQueryKeysForQuery(5).empty());
}

TEST(LevelDBStorageEngineTrackedQueries, AStoredQueryWhoseParametersDoNotParseIsReportedAndDropped) {
  std::string folder;
  {
    auto engine = openEngine();
    engine->saveTrackedQuery(std::make_shared<const FTrackedQuery>(1, defaultQuery("/ok"), 1, true, false));
    engine->saveTrackedQuery(std::make_shared<const FTrackedQuery>(2, defaultQuery("/bad"), 1, true, false));
    engine->setTrackedQueryKeys({"k"}, 2);
    folder = engine->folder();
  }
  auto records = rawRecords(folder, "q:");
  ASSERT_EQ(records.size(), 2u);
  Value bad = Value::parse(records[1].second);
  bad["params"] = Value{{"vf", "sideways"}, {"l", 2}};
  putRaw(folder, records[1].first, bad.dump());

  LoggedLines log;
  auto engine = openEngine();
  std::vector<FTrackedQueryRef> queries = engine->loadTrackedQueries();
  ASSERT_EQ(queries.size(), 1u);
  EXPECT_EQ(queries[0]->query()->path()->toString(), "/ok");
  EXPECT_TRUE(log.contains("its query does not parse"));
  engine->close();
  // Its bytes are kept aside; its keys are gone.
  EXPECT_EQ(rawRecords(folder, "x:q:").size(), 1u);
  EXPECT_TRUE(rawRecords(folder, "k:").empty());
}

// -- Damage ---------------------------------------------------------------------------------------

TEST(LevelDBStorageEngineDamage, AWriteRecordThatDoesNotDecodeIsReportedAndSetAsideAndTheOthersAreKept) {
  std::string folder;
  {
    auto engine = openEngine();
    engine->saveUserOverwrite(node("1"), path("/a"), 1);
    engine->saveUserOverwrite(node("2"), path("/b"), 2);
    engine->saveUserOverwrite(node("3"), path("/c"), 3);
    folder = engine->folder();
  }
  putRaw(folder, FLevelDBStorageEngine::writeRecordKey(2), "{\"id\": 2, \"path\": \"/b\", \"o\": [trunc");
  putRaw(folder, FLevelDBStorageEngine::writeRecordKey(4), R"({"id": 5, "path": "/d", "o": 4})");  // wrong id
  putRaw(folder, FLevelDBStorageEngine::writeRecordKey(6), R"({"id": 6, "path": "/e", "o": {"bad/key": 1}})");

  LoggedLines log;
  auto engine = openEngine();
  EXPECT_EQ(writeIds(*engine), (std::vector<int64_t>{1, 3}));
  EXPECT_TRUE(log.contains("cannot be read"));
  // Reported once: the damaged records are set aside with their bytes, not read again.
  EXPECT_EQ(writeIds(*engine), (std::vector<int64_t>{1, 3}));
  engine->close();
  auto aside = rawRecords(folder, "x:");
  ASSERT_EQ(aside.size(), 3u);
  EXPECT_EQ(aside[0].second, "{\"id\": 2, \"path\": \"/b\", \"o\": [trunc");
}

TEST(LevelDBStorageEngineDamage, RecordsNestedBeyondTheLimitAreRefusedWithoutRecursingIntoThem) {
  std::string folder;
  {
    auto engine = openEngine();
    folder = engine->folder();
  }
  std::string deep(100000, '[');
  putRaw(folder, FLevelDBStorageEngine::writeRecordKey(1), R"({"id": 1, "path": "/", "o": )" + deep);
  putRaw(folder, "s:/a/", std::string(20, '{'));
  LoggedLines log;
  auto engine = openEngine();
  EXPECT_TRUE(engine->userWrites().empty());
  EXPECT_TRUE(engine->serverCacheAtPath(path("/"))->isEmpty());
  EXPECT_TRUE(log.contains("nested more than"));
}

TEST(LevelDBStorageEngineDamage, RecordsHoldingPathsDeeperThanTheLimitAreSetAsideAloneWithTheirBytes) {
  std::string folder;
  {
    auto engine = openEngine();
    engine->saveUserOverwrite(node("1"), path("/a"), 1);
    engine->updateServerCache(node(R"({"s": "v"})"), path("/"), false);
    engine->saveTrackedQuery(std::make_shared<const FTrackedQuery>(1, defaultQuery("/s"), 1, true, false));
    engine->saveTrackedQuery(std::make_shared<const FTrackedQuery>(2, defaultQuery("/bad"), 1, true, false));
    engine->setTrackedQueryKeys({"s"}, 1);
    folder = engine->folder();
  }
  auto writeRecord = [](int64_t id, const std::string& pathText, const char* field, const Value& data) {
    return Value{{"id", id}, {"path", pathText}, {field, data}}.dump();
  };
  const std::string deepWrite = writeRecord(2, deepPath("w", 5000), "o", 1);
  putRaw(folder, FLevelDBStorageEngine::writeRecordKey(2), deepWrite);
  putRaw(folder, FLevelDBStorageEngine::writeRecordKey(3), writeRecord(3, deepPath("w", 1001), "o", 1));
  putRaw(folder, FLevelDBStorageEngine::writeRecordKey(4),
         writeRecord(4, deepPath("m", 600), "m", Value{{deepPath("k", 401, false), 1}}));
  // At the limits: kept.
  putRaw(folder, FLevelDBStorageEngine::writeRecordKey(5),
         writeRecord(5, deepPath("m", 600), "m", Value{{deepPath("k", 400, false), 1}}));
  putRaw(folder, FLevelDBStorageEngine::writeRecordKey(6), writeRecord(6, deepPath("w", 1000), "o", 1));

  putRaw(folder, serverRecordKey(deepPath("d", 5000)), "1");
  putRaw(folder, serverRecordKey(deepPath("d", 1001)), "1");
  putRaw(folder, serverRecordKey(deepPath("e", 999)), R"({"a": {"b": 1}})");  // its leaf lies 1001 keys deep
  putRaw(folder, serverRecordKey("/bad$key"), "1");
  putRaw(folder, serverRecordKey(deepPath("f", 1000)), R"({".value": 1, ".priority": 2})");
  putRaw(folder, serverRecordKey(deepPath("g", 998)), R"({"a": {"b": 1}})");
  putRaw(folder, serverRecordKey(deepPath("h", 999) + "/x"), "1");
  putRaw(folder, serverRecordKey(deepPath("h", 999) + "/.priority"), "5");  // a priority adds no key

  auto queries = rawRecords(folder, "q:");
  ASSERT_EQ(queries.size(), 2u);
  Value deepQuery = Value::parse(queries[1].second);
  deepQuery["path"] = deepPath("q", 5000);
  putRaw(folder, queries[1].first, deepQuery.dump());
  putRaw(folder, "k:0000000000000001:" + deepPath("k", 5000, false), "");

  persistencetest::LoggedLines log;
  auto engine = openEngine();
  EXPECT_EQ(writeIds(*engine), (std::vector<int64_t>{1, 5, 6}));
  FNodeRef root = engine->serverCacheAtPath(path("/"));
  EXPECT_EQ(root->getImmediateChild("s")->val(), Value("v"));
  EXPECT_EQ(exported(root->getChild(path(deepPath("f", 1000).c_str()))), Value::parse(R"({".value": 1, ".priority": 2})"));
  EXPECT_EQ(exported(root->getChild(path((deepPath("g", 998) + "/a/b").c_str()))), Value(1));
  EXPECT_EQ(exported(root->getChild(path(deepPath("h", 999).c_str()))), Value::parse(R"({"x": 1, ".priority": 5})"));
  EXPECT_EQ(root->numChildren(), 4);  // "s", "f", "g" and "h"
  std::vector<FTrackedQueryRef> loaded = engine->loadTrackedQueries();
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0]->queryId(), 1u);
  EXPECT_EQ(engine->trackedQueryKeysForQuery(1), (std::set<std::string>{"s"}));
  for (const char* reason : {"a user write: its path has more than 1000 keys",
                             "a user write: an update below it makes a path of more than 1000 keys",
                             "a server cache record: its path has more than 1000 keys",
                             "a server cache record: its data lies more than 1000 keys deep",
                             "a server cache record: its path holds a key that is not valid",
                             "a tracked query: its path has more than 1000 keys",
                             "a tracked query key: it is not a valid key"}) {
    EXPECT_TRUE(log.contains(reason)) << reason;
  }
  EXPECT_FALSE(log.contains(deepPath("k", 200, false)));  // long keys are cut in the log
  // What was set aside no longer counts towards the cache's size.
  const uint64_t size = engine->serverCacheEstimatedSizeInBytes();
  engine->close();
  EXPECT_EQ(openEngine()->serverCacheEstimatedSizeInBytes(), size);

  auto aside = rawRecords(folder, "x:");
  EXPECT_EQ(aside.size(), 3u + 4u + 2u);
  auto deepAside = rawRecords(folder, "x:" + FLevelDBStorageEngine::writeRecordKey(2));
  ASSERT_EQ(deepAside.size(), 1u);
  EXPECT_EQ(deepAside[0].second, deepWrite);
}

TEST(LevelDBStorageEngineServerCache, DataDeeperThanTheLimitIsNotStoredButWhatLiesAboveItIs) {
  auto engine = openEngine();
  persistencetest::LoggedLines log;
  const std::string at = deepPath("a", 999);
  engine->updateServerCache(node(R"({"b": {"c": 1}, "d": 2})"), path(at.c_str()), false);
  EXPECT_TRUE(log.contains("lies more than 1000 keys deep; that part is not stored"));
  // "d" lies 1,000 keys deep and is stored, "b/c" 1,001 and is not.
  EXPECT_EQ(exported(engine->serverCacheAtPath(path(at.c_str()))), Value::parse(R"({"d": 2})"));
  const std::string folder = engine->folder();
  engine->close();
  auto records = rawRecords(folder, "s:");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(FPath::pathWithString(records[0].first.substr(2))->length(), 1000u);
  EXPECT_TRUE(rawRecords(folder, "x:").empty());
}

TEST(LevelDBStorageEngineDamage, AFolderWithADamagedCurrentFileIsRepairedKeepingItsRecords) {
  std::string folder;
  {
    auto engine = openEngine();
    engine->saveUserOverwrite(node("1"), path("/a"), 1);
    engine->updateServerCache(node(R"({"s": "v"})"), path("/"), false);
    folder = engine->folder();
  }
  { std::ofstream(folder + "/CURRENT", std::ios::trunc) << "garbage without a newline"; }

  LoggedLines log;
  auto engine = openEngine();
  EXPECT_TRUE(log.contains("is damaged"));
  EXPECT_EQ(writeIds(*engine), (std::vector<int64_t>{1}));
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/"))), Value::parse(R"({"s": "v"})"));
}

TEST(LevelDBStorageEngineDamage, AFolderWhoseCurrentFileIsGoneIsRepairedNotStartedOver) {
  std::string folder;
  {
    auto engine = openEngine();
    for (int i = 1; i <= 20; ++i) engine->saveUserOverwrite(node(Value(i)), path("/w"), i);
    folder = engine->folder();
  }
  std::filesystem::remove(folder + "/CURRENT");
  LoggedLines log;
  auto engine = openEngine();
  EXPECT_TRUE(log.contains("the CURRENT file is missing"));
  EXPECT_EQ(engine->userWrites().size(), 20u);
}

TEST(LevelDBStorageEngineDamage, AFolderHeldByAnotherOpenerIsLeftAloneAndTheEngineRunsWithoutStorage) {
  auto first = openEngine();
  first->saveUserOverwrite(node("1"), path("/a"), 1);
  LoggedLines log;
  auto second = openEngine();
  EXPECT_FALSE(second->isOpen());
  EXPECT_TRUE(log.contains("cannot be opened"));
  second->saveUserOverwrite(node("2"), path("/b"), 2);  // no crash, nothing stored
  EXPECT_TRUE(second->userWrites().empty());
  EXPECT_EQ(writeIds(*first), (std::vector<int64_t>{1}));
}

TEST(LevelDBStorageEngineDamage, AFolderOutsideTheStorageRootIsRefused) {
  for (const char* bad : {"../escape", "a/../../b", "/etc/x", "", "a//b", "a/./b", "..", "a/.."}) {
    EXPECT_THROW(FLevelDBStorageEngine engine(bad), NSException) << bad;
  }
  std::string withNul("a\0b", 3);
  EXPECT_FALSE(FLevelDBStorageEngine::isSafeRelativePath(withNul));
  EXPECT_TRUE(FLevelDBStorageEngine::isSafeRelativePath("default/host.example.com:9000_ns"));
}

// -- Restart in another process --------------------------------------------------------------------

// The child half of the restart test: writes through an engine and leaves without closing it, as
// a process that is killed would. Disabled, so that only the parent runs it, in a child process.
TEST(LevelDBStorageEngineRestart, DISABLED_ChildWritesAndExitsWithoutClosing) {
  const std::string ownHome = NSHomeDirectory();
  ASSERT_TRUE(testsupport::adoptSharedApplicationHome()) << "runs only as the child of the restart test";
  auto* engine = new FLevelDBStorageEngine(kFolder);  // never deleted: the process just ends
  engine->saveUserOverwrite(node(R"({"n": 1})"), path("/one"), 41);
  engine->saveUserMerge(FSnapshotUtilities::compoundWriteFromDictionary(Value{{"x", 2}}, "update"), path("/two"), 42);
  engine->updateServerCache(node(R"({"cached": "yes"})"), path("/c"), false);
  engine->saveTrackedQuery(std::make_shared<const FTrackedQuery>(3, defaultQuery("/c"), 77, true, true));
  std::error_code ec;
  std::filesystem::remove_all(ownHome, ec);
  std::_Exit(0);
}

TEST(LevelDBStorageEngineRestart, WhatAProcessWroteBeforeItEndedIsThereForTheNextProcess) {
  const auto child = testsupport::runTestInChildProcess(
      "LevelDBStorageEngineRestart.DISABLED_ChildWritesAndExitsWithoutClosing",
      {{testsupport::kSharedHomeVariable, NSHomeDirectory()}});
  ASSERT_EQ(child.exitCode, 0) << child.output;

  auto engine = openEngine();
  std::vector<FWriteRecordRef> writes = engine->userWrites();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0]->writeId(), 41);
  EXPECT_EQ(exported(writes[0]->overwrite()), Value::parse(R"({"n": 1})"));
  EXPECT_EQ(writes[1]->writeId(), 42);
  EXPECT_TRUE(writes[1]->isMerge());
  EXPECT_EQ(exported(engine->serverCacheAtPath(path("/c"))), Value::parse(R"({"cached": "yes"})"));
  ASSERT_EQ(engine->loadTrackedQueries().size(), 1u);
}

// -- The older pending-writes store ----------------------------------------------------------------

TEST(LevelDBStorageEngineMigration, MovesTheOlderStoresWritesOnceAfterItsOwn) {
  auto repoInfo = std::make_shared<const FRepoInfo>("test.example.com", true, "ns");
  {
    // The older store: the same records, in a folder without the configuration name.
    FLevelDBStorageEngine legacy("test.example.com_ns");
    legacy.saveUserOverwrite(node("\"old\""), path("/legacy/a"), 3);
    legacy.saveUserOverwrite(node("\"older\""), path("/legacy/b"), 8);
  }
  auto engine = openEngine();
  engine->saveUserOverwrite(node("\"mine\""), path("/mine"), 5);
  engine->runLegacyMigration(*repoInfo);

  std::vector<FWriteRecordRef> writes = engine->userWrites();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0]->writeId(), 5);
  // Both older writes follow this store's last write, in their own order.
  EXPECT_EQ(writes[1]->writeId(), 6);
  EXPECT_EQ(writes[1]->path()->toString(), "/legacy/a");
  EXPECT_EQ(writes[2]->writeId(), 8);
  EXPECT_EQ(writes[2]->path()->toString(), "/legacy/b");
  EXPECT_FALSE(std::filesystem::exists(FLevelDBStorageEngine::storageRoot() + "/test.example.com_ns"));

  // Once: an older store that appears again is not read.
  {
    FLevelDBStorageEngine legacy("test.example.com_ns");
    legacy.saveUserOverwrite(node("1"), path("/again"), 1);
  }
  engine->runLegacyMigration(*repoInfo);
  EXPECT_EQ(engine->userWrites().size(), 3u);
}

// -- Write ids beyond the range a client hands out ------------------------------------------------

TEST(LevelDBStorageEngineDamage, AWriteIdBeyondTheRangeIsSetAsideAndTheOthersKeepTheirOrder) {
  std::string folder;
  {
    auto engine = openEngine();
    engine->saveUserOverwrite(node("\"lowest\""), path("/lowest"), FWriteRecord::kMinStoredWriteId);
    engine->saveUserOverwrite(node("1"), path("/a"), 1);
    engine->saveUserOverwrite(node("2"), path("/b"), 2);
    engine->saveUserOverwrite(node("\"highest\""), path("/highest"), FWriteRecord::kMaxStoredWriteId);
    folder = engine->folder();
  }
  for (int64_t id : {INT64_MIN, FWriteRecord::kMinStoredWriteId - 1, FWriteRecord::kMaxStoredWriteId + 1, INT64_MAX}) {
    putRaw(folder, FLevelDBStorageEngine::writeRecordKey(id),
           R"({"id": )" + std::to_string(id) + R"(, "path": "/beyond", "o": 1})");
  }
  LoggedLines log;
  auto engine = openEngine();
  EXPECT_EQ(writeIds(*engine), (std::vector<int64_t>{FWriteRecord::kMinStoredWriteId, 1, 2,
                                                     FWriteRecord::kMaxStoredWriteId}));
  EXPECT_TRUE(log.contains("lies beyond the ids a client hands out"));
  engine->close();
  EXPECT_EQ(rawRecords(folder, "x:").size(), 4u);
}

TEST(LevelDBStorageEngineMigration, OlderWritesAfterTheHighestIdGetIdsOfTheirOwnOrStayInTheOlderStore) {
  // A write here whose id leaves none after it is set aside; the older writes keep theirs.
  auto repoInfo = std::make_shared<const FRepoInfo>("test.example.com", true, "ns");
  {
    FLevelDBStorageEngine legacy("test.example.com_ns");
    for (int64_t id : {1, 2, 3}) {
      legacy.saveUserOverwrite(node(std::to_string(id).c_str()), path(("/legacy/" + std::to_string(id)).c_str()), id);
    }
  }
  std::string folder = openEngine()->folder();
  putRaw(folder, FLevelDBStorageEngine::writeRecordKey(INT64_MAX),
         R"({"id": 9223372036854775807, "path": "/x", "o": 1})");
  auto engine = openEngine();
  engine->runLegacyMigration(*repoInfo);
  std::vector<std::string> paths;
  for (const FWriteRecordRef& write : engine->userWrites()) paths.push_back(write->path()->toString());
  EXPECT_EQ(writeIds(*engine), (std::vector<int64_t>{1, 2, 3}));
  EXPECT_EQ(paths, (std::vector<std::string>{"/legacy/1", "/legacy/2", "/legacy/3"}));

  // The highest id a stored write may carry is here: no id is left for the older writes, which
  // stay in the older store, moved aside with its bytes.
  auto otherInfo = std::make_shared<const FRepoInfo>("other.example.com", true, "ns");
  {
    FLevelDBStorageEngine legacy("other.example.com_ns");
    legacy.saveUserOverwrite(node("\"old\""), path("/legacy/a"), 3);
    legacy.saveUserOverwrite(node("\"older\""), path("/legacy/b"), 8);
  }
  auto other = openEngine("default/other.example.com_ns");
  other->saveUserOverwrite(node("\"mine\""), path("/mine"), FWriteRecord::kMaxStoredWriteId);
  LoggedLines log;
  other->runLegacyMigration(*otherInfo);
  EXPECT_EQ(writeIds(*other), (std::vector<int64_t>{FWriteRecord::kMaxStoredWriteId}));
  EXPECT_TRUE(log.contains("cannot be moved: no write id is left"));
  const std::string older = FLevelDBStorageEngine::storageRoot() + "/other.example.com_ns";
  EXPECT_FALSE(std::filesystem::exists(older));
  ASSERT_TRUE(std::filesystem::exists(older + ".damaged-1"));
  EXPECT_EQ(rawRecords(older + ".damaged-1", "w:").size(), 2u);
}

// The id a moved write gets, at the edges of the range a stored write may carry: never one the
// next restore would set aside, and never one a record here already holds (such a record may be
// one that could not be read nor set aside, whose bytes must not be written over).
TEST(LevelDBStorageEngineMigration, AMovedWritesIdLiesInTheStorableRangeAndIsHeldByNoRecordHere) {
  const int64_t kMin = FWriteRecord::kMinStoredWriteId;
  const int64_t kMax = FWriteRecord::kMaxStoredWriteId;
  auto takenIds = [](std::set<int64_t> ids) { return [ids](int64_t id) { return ids.count(id) > 0; }; };

  // No readable write here, and the write's id is held by a record here: the first id of the
  // range, or the first after it that no record holds.
  EXPECT_EQ(fleveldb::idForMovedWrite(7, std::nullopt, takenIds({7})), kMin);
  EXPECT_EQ(fleveldb::idForMovedWrite(7, std::nullopt, takenIds({7, kMin, kMin + 1})), kMin + 2);
  EXPECT_EQ(fleveldb::idForMovedWrite(kMin, std::nullopt, takenIds({kMin})), kMin + 1);
  // Free ids are kept, at both ends of the range too.
  EXPECT_EQ(fleveldb::idForMovedWrite(7, std::nullopt, takenIds({})), 7);
  EXPECT_EQ(fleveldb::idForMovedWrite(kMin, std::nullopt, takenIds({})), kMin);
  EXPECT_EQ(fleveldb::idForMovedWrite(kMax, 5, takenIds({})), kMax);
  // After the last id here: an id at or below it follows it, skipping ids records hold.
  EXPECT_EQ(fleveldb::idForMovedWrite(3, 5, takenIds({})), 6);
  EXPECT_EQ(fleveldb::idForMovedWrite(5, 5, takenIds({5, 6, 7})), 8);
  EXPECT_EQ(fleveldb::idForMovedWrite(9, 5, takenIds({9})), 6);
  // No id left after the last one.
  EXPECT_EQ(fleveldb::idForMovedWrite(3, kMax, takenIds({})), std::nullopt);
  EXPECT_EQ(fleveldb::idForMovedWrite(3, kMax - 1, takenIds({kMax})), std::nullopt);
  EXPECT_EQ(fleveldb::idForMovedWrite(kMax, kMax - 1, takenIds({kMax})), std::nullopt);
}
