// The remote-configuration SQLite store: schema, rows of every table, the namespace migration, and
// files that are damaged, foreign or cannot be created.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "platform/foundation/NSPathUtilities.h"
#include "sdk/remote_config/RCNConfigDBManager.h"
#include "tests/sdk/remote_config/RemoteConfigTestSupport.h"

using rc_test::LogLines;

namespace {

Value row(const std::string& bundle, const std::string& namespace_, const std::string& key, const std::string& bytes) {
  return Value::array({bundle, namespace_, key, value::data(bytes)});
}

// Runs SQL on the database file with a connection of the test's own.
void runSQL(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

int64_t countRows(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return -1;
  sqlite3_stmt* statement = nullptr;
  int64_t count = -1;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
    count = sqlite3_column_int64(statement, 0);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return count;
}

std::string textOf(const ZIRRemoteConfigValueRef& value) { return value ? value->stringValue().value_or("") : "<none>"; }

class ConfigDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::useFreshApplicationHome();
    path = RCNConfigDBManager::remoteConfigPathForDatabase();
  }

  std::shared_ptr<RCNConfigDBManager> open() {
    auto manager = RCNConfigDBManager::create();
    manager->waitForQueuedWork();
    return manager;
  }

  struct Layers {
    RCNConfigLayer fetched, active, defaults;
  };
  // The value load answers on a global queue.
  Layers load(RCNConfigDBManager& manager, const std::string& bundle = "bundle") {
    auto out = std::make_shared<std::promise<Layers>>();
    manager.loadMainWithBundleIdentifier(bundle, [out](bool, RCNConfigLayer f, RCNConfigLayer a, RCNConfigLayer d) {
      out->set_value(Layers{std::move(f), std::move(a), std::move(d)});
    });
    auto answer = out->get_future();
    const bool answered = answer.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_TRUE(answered);
    return answered ? answer.get() : Layers{};
  }

  bool insert(RCNConfigDBManager& manager, const Value& values, RCNDBSource source) {
    std::optional<bool> result;
    manager.insertMainTableWithValues(values, source, [&](bool success) { result = success; });
    EXPECT_TRUE(testsupport::waitFor([&] { return result.has_value(); }, 10));
    return result.value_or(false);
  }

  Value loadExperiments(RCNConfigDBManager& manager) {
    std::optional<Value> result;
    manager.loadExperimentWithCompletionHandler([&](bool, Value v) { result = v; });
    EXPECT_TRUE(testsupport::waitFor([&] { return result.has_value(); }, 10));
    return result.value_or(Value());
  }

  std::pair<Value, Value> loadPersonalization(RCNConfigDBManager& manager) {
    std::optional<std::pair<Value, Value>> result;
    manager.loadPersonalizationWithCompletionHandler([&](bool, Value fetched, Value active) {
      result = std::make_pair(fetched, active);
    });
    EXPECT_TRUE(testsupport::waitFor([&] { return result.has_value(); }, 10));
    return result.value_or(std::make_pair(Value(), Value()));
  }

  LogLines logs;
  std::string path;
};

}  // namespace

TEST_F(ConfigDatabase, CreatesItsFileWithTheSchemaUnderTheApplicationHome) {
  auto manager = open();
  EXPECT_TRUE(manager->isNewDatabase());
  EXPECT_EQ(path, NSApplicationSupportDirectory() + "/Deruru/RemoteConfig/RemoteConfig.sqlite3");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // readable by its owner only
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(path).parent_path() / "CACHEDIR.TAG"));
  EXPECT_EQ(countRows(path, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('main', "
                            "'main_active', 'main_default', 'fetch_metadata_v2', 'internal_metadata', 'experiment', "
                            "'personalization')"),
            7);
  manager.reset();
  // Opening an existing file is not a new database.
  EXPECT_FALSE(open()->isNewDatabase());
}

TEST_F(ConfigDatabase, ValueRowsAreKeptByBundleNamespaceAndTable) {
  auto manager = open();
  EXPECT_TRUE(insert(*manager, row("bundle", "ns:app", "a", "fetched-a"), RCNDBSourceFetched));
  EXPECT_TRUE(insert(*manager, row("bundle", "ns:app", "a", "active-a"), RCNDBSourceActive));
  EXPECT_TRUE(insert(*manager, row("bundle", "ns:app", "a", "default-a"), RCNDBSourceDefault));
  EXPECT_TRUE(insert(*manager, row("bundle", "ns:app", "a", "default-a2"), RCNDBSourceDefault));  // later row wins
  EXPECT_TRUE(insert(*manager, row("other-bundle", "ns:app", "b", "x"), RCNDBSourceFetched));
  EXPECT_TRUE(insert(*manager, row("bundle", "ns2:app", "c", "y"), RCNDBSourceFetched));

  auto layers = load(*manager);
  EXPECT_EQ(textOf(layers.fetched["ns:app"]["a"]), "fetched-a");
  EXPECT_EQ(layers.fetched["ns:app"]["a"]->source(), ZIRRemoteConfigSource::Remote);
  EXPECT_EQ(textOf(layers.active["ns:app"]["a"]), "active-a");
  EXPECT_EQ(textOf(layers.defaults["ns:app"]["a"]), "default-a2");
  EXPECT_EQ(layers.defaults["ns:app"]["a"]->source(), ZIRRemoteConfigSource::Default);
  EXPECT_FALSE(layers.fetched["ns:app"].count("b"));  // another bundle's row
  EXPECT_EQ(textOf(layers.fetched["ns2:app"]["c"]), "y");

  // Replacing a namespace touches its own rows only.
  manager->replaceMainTableRecordsWithNamespace("ns:app", "bundle", RCNDBSourceFetched,
                                                {row("bundle", "ns:app", "z", "new")});
  manager->deleteRecordFromMainTableWithNamespace("ns:app", "bundle", RCNDBSourceDefault);
  layers = load(*manager);
  EXPECT_EQ(layers.fetched["ns:app"].size(), 1u);
  EXPECT_EQ(textOf(layers.fetched["ns:app"]["z"]), "new");
  EXPECT_EQ(textOf(layers.fetched["ns2:app"]["c"]), "y");
  EXPECT_FALSE(layers.defaults.count("ns:app"));
  manager->deleteAllRecordsFromTableWithSource(RCNDBSourceFetched);
  EXPECT_TRUE(load(*manager).fetched.empty());
}

TEST_F(ConfigDatabase, ARowOfTheWrongLengthIsRefused) {
  auto manager = open();
  EXPECT_FALSE(insert(*manager, Value::array({"bundle", "ns:app", "key"}), RCNDBSourceFetched));
  EXPECT_TRUE(logs.contains("I-RCN000013] Failed to insert config record. Wrong number of give parameters, current "
                            "number is 3, correct number is 4."));
  EXPECT_FALSE(insert(*manager, Value::array({"bundle", "ns:app", "key", 7}), RCNDBSourceFetched));  // not bytes
  EXPECT_TRUE(logs.contains("I-RCN000016] Failed with SQL: INSERT INTO main"));
  EXPECT_EQ(countRows(path, "SELECT count(*) FROM main"), 0);
}

TEST_F(ConfigDatabase, MetadataRowsAreWrittenUpdatedAndReadBackTyped) {
  auto manager = open();
  Value metadata = {{RCNKeyBundleIdentifier, "bundle"},
                    {RCNKeyNamespace, "ns:app"},
                    {RCNKeyFetchTime, 1000.5},
                    {RCNKeyDigestPerNamespace, value::data("{}")},
                    {RCNKeyDeviceContext, value::data(R"({"app_version":"1.0"})")},
                    {RCNKeyAppContext, value::data("not json")},
                    {RCNKeySuccessFetchTime, value::data("[1, 2]")},
                    {RCNKeyFailureFetchTime, value::data("[]")},
                    {RCNKeyLastFetchStatus, "1"},
                    {RCNKeyLastFetchError, "8001"},
                    {RCNKeyLastApplyTime, 5.0},
                    {RCNKeyLastSetDefaultsTime, 6.0}};
  manager->insertMetadataTableWithValues(metadata, nullptr);
  Value loaded = manager->loadMetadataWithBundleIdentifier("bundle", "ns:app");
  EXPECT_EQ(loaded[RCNKeyBundleIdentifier], "bundle");
  EXPECT_EQ(loaded[RCNKeyFetchTime], 1000.5);
  EXPECT_EQ(loaded[RCNKeyDeviceContext]["app_version"], "1.0");
  EXPECT_FALSE(loaded.contains(RCNKeyAppContext));  // a column that does not parse is left out
  EXPECT_EQ(loaded[RCNKeySuccessFetchTime], Value::array({1, 2}));
  EXPECT_EQ(loaded[RCNKeyLastFetchStatus], 1);
  EXPECT_EQ(loaded[RCNKeyLastFetchError], 8001);
  EXPECT_EQ(loaded[RCNKeyLastApplyTime], 5.0);
  EXPECT_TRUE(manager->loadMetadataWithBundleIdentifier("bundle", "other:app").empty());

  std::optional<bool> updated;
  manager->updateMetadataWithOption(RCNUpdateOptionApplyTime, "ns:app", {Value(50.0)}, [&](bool ok) { updated = ok; });
  ASSERT_TRUE(testsupport::waitFor([&] { return updated.has_value(); }, 10));
  EXPECT_TRUE(*updated);
  manager->updateMetadataWithOption(RCNUpdateOptionDefaultTime, "ns:app", {Value(60.0)}, nullptr);
  manager->updateMetadataWithOption(RCNUpdateOptionFetchStatus, "ns:app", {Value(3), Value(8002)}, nullptr);
  loaded = manager->loadMetadataWithBundleIdentifier("bundle", "ns:app");
  EXPECT_EQ(loaded[RCNKeyLastApplyTime], 50.0);
  EXPECT_EQ(loaded[RCNKeyLastSetDefaultsTime], 60.0);
  EXPECT_EQ(loaded[RCNKeyLastFetchStatus], 3);
  EXPECT_EQ(loaded[RCNKeyLastFetchError], 8002);

  // An unknown option answers NO; a wrong count matches no row and changes nothing.
  bool unknown = true, wrongCount = false;
  manager->databaseOperationQueue()->sync([&] {
    unknown = manager->updateMetadataTableWithOption(3, "ns:app", {Value(1)});
    wrongCount = manager->updateMetadataTableWithOption(RCNUpdateOptionApplyTime, "ns:app", {Value(1), Value(2)});
  });
  EXPECT_FALSE(unknown);
  EXPECT_TRUE(wrongCount);
  EXPECT_EQ(manager->loadMetadataWithBundleIdentifier("bundle", "ns:app")[RCNKeyLastApplyTime], 50.0);

  manager->deleteRecordWithBundleIdentifier("bundle", "ns:app", false);
  EXPECT_TRUE(manager->loadMetadataWithBundleIdentifier("bundle", "ns:app").empty());
}

TEST_F(ConfigDatabase, InternalMetadataKeepsEveryRowAndTheLastOfAKeyWins) {
  auto manager = open();
  manager->insertInternalMetadataTableWithValues(Value::array({"bundle.key", value::data("first")}), nullptr);
  manager->insertInternalMetadataTableWithValues(Value::array({"bundle.key", value::data("second")}), nullptr);
  std::optional<bool> refused;
  manager->insertInternalMetadataTableWithValues(Value::array({"only-one"}), [&](bool ok) { refused = ok; });
  auto table = manager->loadInternalMetadataTable();
  EXPECT_EQ(table["bundle.key"], Bytes({'s', 'e', 'c', 'o', 'n', 'd'}));
  EXPECT_EQ(countRows(path, "SELECT count(*) FROM internal_metadata"), 2);
  ASSERT_TRUE(testsupport::waitFor([&] { return refused.has_value(); }, 10));
  EXPECT_FALSE(*refused);
  manager->deleteRecordWithBundleIdentifier("bundle.key", "", true);
  EXPECT_TRUE(manager->loadInternalMetadataTable().empty());
}

TEST_F(ConfigDatabase, PersonalizationKeepsOneRowPerSource) {
  auto manager = open();
  EXPECT_TRUE(manager->insertOrUpdatePersonalizationConfig(Value{{"p", 1}}, RCNDBSourceFetched));
  EXPECT_TRUE(manager->insertOrUpdatePersonalizationConfig(Value{{"p", 2}}, RCNDBSourceFetched));
  EXPECT_TRUE(manager->insertOrUpdatePersonalizationConfig(Value{{"q", 3}}, RCNDBSourceActive));
  EXPECT_EQ(countRows(path, "SELECT count(*) FROM personalization WHERE key = 2"), 1);
  auto [fetched, active] = loadPersonalization(*manager);
  EXPECT_EQ(fetched, (Value{{"p", 2}}));
  EXPECT_EQ(active, (Value{{"q", 3}}));
  // A row that is not a JSON dictionary reads as an empty one, and says so.
  runSQL(path, "UPDATE personalization SET value = x'5b315d' WHERE key = 0");
  EXPECT_EQ(loadPersonalization(*manager).second, Value::object());
  EXPECT_TRUE(logs.contains("the personalization row of key 0 is not a JSON dictionary"));
  // Written compactly: a dictionary nested deep takes no more room than in the answer it came in.
  Value deep = Value::array({1, 2});
  for (int level = 0; level < 40; ++level) deep = Value::array({deep});
  EXPECT_TRUE(manager->insertOrUpdatePersonalizationConfig(Value{{"p", deep}}, RCNDBSourceFetched));
  EXPECT_EQ(countRows(path, "SELECT length(value) FROM personalization WHERE key = 2"),
            static_cast<int64_t>(value::toJSON(Value{{"p", deep}}).size()));
  EXPECT_EQ(loadPersonalization(*manager).first, (Value{{"p", deep}}));
}

TEST_F(ConfigDatabase, ExperimentPayloadsAndTheirMetadataRow) {
  auto manager = open();
  manager->replaceExperimentPayloads({Bytes{'{', '}'}, Bytes{'[', ']'}});
  manager->insertExperimentTableWithKey(RCNExperimentTableKeyMetadata, Bytes{'{', '"', 'a', '"', ':', '1', '}'}, nullptr);
  manager->insertExperimentTableWithKey(RCNExperimentTableKeyMetadata, Bytes{'{', '"', 'a', '"', ':', '2', '}'}, nullptr);
  Value stored = loadExperiments(*manager);
  ASSERT_EQ(stored[RCNExperimentTableKeyPayload].size(), 2u);
  EXPECT_EQ(value::dataBytes(stored[RCNExperimentTableKeyPayload][1]), (Bytes{'[', ']'}));
  EXPECT_EQ(stored[RCNExperimentTableKeyMetadata], (Value{{"a", 2}}));
  EXPECT_EQ(countRows(path, "SELECT count(*) FROM experiment WHERE key = 'experiment_metadata'"), 1);
  manager->replaceExperimentPayloads({});
  EXPECT_TRUE(loadExperiments(*manager)[RCNExperimentTableKeyPayload].empty());
  manager->insertExperimentTableWithKey(RCNExperimentTableKeyPayload, Bytes{'1'}, nullptr);
  manager->deleteExperimentTableForKey(RCNExperimentTableKeyPayload);
  EXPECT_TRUE(loadExperiments(*manager)[RCNExperimentTableKeyPayload].empty());
}

TEST_F(ConfigDatabase, RowsOfAnOlderVersionMoveToTheDefaultAppsNamespace) {
  open().reset();  // the schema
  runSQL(path,
         "INSERT INTO main_active (bundle_identifier, namespace, key, value) VALUES ('bundle', 'zirezize', 'k', x'76');"
         "INSERT INTO main_active (bundle_identifier, namespace, key, value) VALUES ('bundle', 'zirezize', 'j', x'77');"
         "INSERT INTO main (bundle_identifier, namespace, key, value) VALUES ('bundle', 'other:app', 'k', x'78');");
  auto manager = open();
  auto layers = load(*manager);
  EXPECT_FALSE(layers.active.count("zirezize"));
  EXPECT_EQ(textOf(layers.active["zirezize:__ZAVADA_DEFAULT"]["k"]), "v");
  EXPECT_EQ(textOf(layers.active["zirezize:__ZAVADA_DEFAULT"]["j"]), "w");
  EXPECT_EQ(textOf(layers.fetched["other:app"]["k"]), "x");
}

TEST_F(ConfigDatabase, TheOlderLayoutFileInDocumentsIsDeleted) {
  const std::string old = RCNConfigDBManager::oldDatabasePath();
  ASSERT_TRUE(ns::createDirectory(NSDocumentDirectory()));
  std::ofstream(old) << "older layout";
  open();
  EXPECT_FALSE(std::filesystem::exists(old));
  EXPECT_TRUE(logs.contains("I-RCN000009] Old database V0 exists, removed it and replace with the new one."));
}

TEST_F(ConfigDatabase, ADamagedFileIsDeletedAndCreatedAgain) {
  ASSERT_TRUE(ns::createDirectory(std::filesystem::path(path).parent_path().string()));
  std::ofstream(path, std::ios::binary) << std::string(4096, '\x5a') << "not a database";
  auto manager = open();
  EXPECT_TRUE(logs.contains("I-RCN000010] Failed to create table."));
  EXPECT_TRUE(manager->isNewDatabase());  // the user-defaults record is reset along with it
  EXPECT_TRUE(insert(*manager, row("bundle", "ns:app", "k", "v"), RCNDBSourceActive));
  EXPECT_EQ(textOf(load(*manager).active["ns:app"]["k"]), "v");
  EXPECT_EQ(countRows(path, "SELECT count(*) FROM main_active"), 1);
}

TEST_F(ConfigDatabase, AForeignDatabaseWithOtherTablesIsReplaced) {
  ASSERT_TRUE(ns::createDirectory(std::filesystem::path(path).parent_path().string()));
  runSQL(path, "CREATE TABLE main (name TEXT, size INTEGER); INSERT INTO main VALUES ('x', 1);"
               "CREATE TABLE notes (body TEXT);");
  auto manager = open();
  EXPECT_TRUE(logs.contains("table main does not have the expected columns"));
  EXPECT_TRUE(logs.contains("I-RCN000010] Failed to create table."));
  EXPECT_EQ(countRows(path, "SELECT count(*) FROM sqlite_master WHERE name = 'notes'"), 0);
  EXPECT_TRUE(insert(*manager, row("bundle", "ns:app", "k", "v"), RCNDBSourceFetched));
  EXPECT_EQ(textOf(load(*manager).fetched["ns:app"]["k"]), "v");
}

TEST_F(ConfigDatabase, RowsOfTheWrongShapeAreSkipped) {
  open().reset();
  runSQL(path,
         "INSERT INTO main (bundle_identifier, namespace, key, value) VALUES ('bundle', NULL, 'k', x'61');"
         "INSERT INTO main (bundle_identifier, namespace, key, value) VALUES ('bundle', 'ns:app', NULL, x'62');"
         "INSERT INTO main (bundle_identifier, namespace, key, value) VALUES ('bundle', 'ns:app', 'n', 42);"
         "INSERT INTO main (bundle_identifier, namespace, key, value) VALUES ('bundle', 'ns:app', 'e', NULL);"
         "INSERT INTO experiment (key, value) VALUES ('experiment_metadata', 'not json');");
  auto manager = open();
  auto layers = load(*manager);
  ASSERT_EQ(layers.fetched.size(), 1u);
  EXPECT_EQ(layers.fetched["ns:app"].size(), 2u);
  EXPECT_EQ(textOf(layers.fetched["ns:app"]["n"]), "42");
  EXPECT_EQ(textOf(layers.fetched["ns:app"]["e"]), "");
  EXPECT_EQ(loadExperiments(*manager)[RCNExperimentTableKeyMetadata], Value::object());
}

TEST_F(ConfigDatabase, WhenItsFolderCannotBeMadeEveryStatementFailsAndLoadsAreEmpty) {
  ASSERT_TRUE(ns::createDirectory(NSApplicationSupportDirectory()));
  std::ofstream(NSApplicationSupportDirectory() + "/Deruru") << "a file where the folder should be";
  auto manager = open();
  EXPECT_TRUE(logs.contains("I-RCN000019] Failed to create subdirectory for database file"));
  EXPECT_FALSE(insert(*manager, row("bundle", "ns:app", "k", "v"), RCNDBSourceFetched));
  EXPECT_TRUE(logs.contains("I-RCN000015] Error message: no open database."));
  auto layers = load(*manager);
  EXPECT_TRUE(layers.fetched.empty() && layers.active.empty() && layers.defaults.empty());
  EXPECT_TRUE(manager->loadMetadataWithBundleIdentifier("bundle", "ns:app").empty());
  auto [fetched, active] = loadPersonalization(*manager);
  EXPECT_EQ(fetched, Value::object());
  EXPECT_TRUE(loadExperiments(*manager)[RCNExperimentTableKeyPayload].empty());
}

TEST_F(ConfigDatabase, RemovingTheDatabaseClosesItAndDeletesTheFile) {
  auto manager = open();
  manager->removeDatabaseOnDatabaseQueueAtPath(path);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(insert(*manager, row("bundle", "ns:app", "k", "v"), RCNDBSourceFetched));
}

TEST_F(ConfigDatabase, AFileAnotherConnectionHoldsLockedIsNotTakenForDamaged) {
  {
    auto manager = open();
    EXPECT_TRUE(insert(*manager, row("bundle", "ns:app", "k", "kept"), RCNDBSourceActive));
  }
  // Another process is writing: it holds the file's exclusive lock all through this opening.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  auto manager = open();
  EXPECT_TRUE(logs.contains("I-RCN000015] Error message: database is locked."));
  EXPECT_FALSE(logs.contains("I-RCN000010] Failed to create table."));
  EXPECT_FALSE(manager->isNewDatabase());
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  // The file and its rows are still there, and the connection writes once the other lets go.
  EXPECT_EQ(countRows(path, "SELECT count(*) FROM main_active"), 1);
  EXPECT_TRUE(insert(*manager, row("bundle", "ns:app", "k2", "later"), RCNDBSourceActive));
  EXPECT_EQ(countRows(path, "SELECT count(*) FROM main_active"), 2);
  manager.reset();
  EXPECT_EQ(textOf(load(*open()).active["ns:app"]["k"]), "kept");
}

TEST_F(ConfigDatabase, TablesWithFurtherColumnsOfALaterVersionAreKept) {
  open().reset();
  // A later version added a column; this one names its columns in every statement.
  runSQL(path, "ALTER TABLE main_active ADD COLUMN added_later TEXT;"
               "INSERT INTO main_active (bundle_identifier, namespace, key, value, added_later) "
               "VALUES ('bundle', 'ns:app', 'k', x'6b657074', 'x');");
  auto manager = open();
  EXPECT_FALSE(logs.contains("I-RCN000010] Failed to create table."));
  EXPECT_FALSE(manager->isNewDatabase());
  EXPECT_EQ(textOf(load(*manager).active["ns:app"]["k"]), "kept");
  EXPECT_TRUE(insert(*manager, row("bundle", "ns:app", "j", "new"), RCNDBSourceActive));
  EXPECT_EQ(countRows(path, "SELECT count(*) FROM main_active"), 2);
}
