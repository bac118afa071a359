// Persistence across a real restart: a child process writes offline with persistence on and ends
// without closing anything; this process opens the same application home, finds the writes in
// order with the next write id after them, and sends them once the server is reachable. A damaged
// cache folder or a stored write that does not decode is reported and does not stop the client.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/foundation/NSPathUtilities.h"
#include "sdk/database/persistence/FLevelDBStorageEngine.h"
#include "sdk/database/persistence/FPersistenceManager.h"
#include "tests/sdk/database/persistence/PersistenceTestSupport.h"
#include "tests/sdk/database/repo/RepoTestSupport.h"
#include "tests/support/ChildProcess.h"

using namespace repotest;
using persistencetest::LoggedLines;

namespace {

constexpr const char* kName = "restart";
constexpr const char* kDamagedRecordName = "damaged-record";
constexpr const char* kDamagedFolderName = "damaged-folder";

class RestartTest : public RepoTest {
 protected:
  static std::string folder(const std::string& name) {
    return FLevelDBStorageEngine::storageRoot() + "/" + name + "/test.example.com_testns";
  }
  std::vector<int64_t> storedWriteIds(const std::shared_ptr<ZIRDatabase>& database) {
    std::vector<int64_t> ids;
    onWorkQueue([&] {
      for (const FWriteRecordRef& write : database->repo()->persistenceManager()->userWrites()) {
        ids.push_back(write->writeId());
      }
    });
    return ids;
  }
  // Writes three records offline through the public objects.
  void writeOffline(const std::shared_ptr<ZIRDatabase>& database) {
    auto notes = database->referenceWithPath("notes");
    notes->child("a")->setValue(Value("first"));
    notes->updateChildValues(Value{{"b", "second"}, {"c", Value{{"text", "third"}}}});
    notes->child("a")->setValue(Value("first, edited"));
    settle();
  }
};

}  // namespace

// The child half: writes offline and ends without closing the database, as a killed process would.
TEST_F(RestartTest, DISABLED_ChildWritesOfflineAndEnds) {
  const std::string ownHome = NSHomeDirectory();
  ASSERT_TRUE(testsupport::adoptSharedApplicationHome()) << "runs only as the child of the restart test";
  auto database = makeDatabase({.name = kName, .online = false, .persistence = true});
  writeOffline(database);
  ASSERT_EQ(storedWriteIds(database), (std::vector<int64_t>{0, 1, 2}));
  std::error_code ec;
  std::filesystem::remove_all(ownHome, ec);
  std::_Exit(0);
}

TEST_F(RestartTest, WritesMadeOfflineBeforeARestartAreRestoredInOrderAndSentOnceConnected) {
  const auto child = testsupport::runTestInChildProcess("RestartTest.DISABLED_ChildWritesOfflineAndEnds",
                                                        {{testsupport::kSharedHomeVariable, NSHomeDirectory()}});
  ASSERT_EQ(child.exitCode, 0) << child.output;

  server_->setAcceptingConnections(false);
  auto database = makeDatabase({.name = kName, .online = true, .persistence = true});
  auto events = std::make_shared<Recorder>();
  recordChildren(database->referenceWithPath("notes"), events);
  settle();
  // Restored before anything reached the server: shown locally, the next id after them.
  EXPECT_EQ(storedWriteIds(database), (std::vector<int64_t>{0, 1, 2}));
  EXPECT_EQ(database->repo()->writeIdCounter(), 3);
  ASSERT_TRUE(waitFor([&] { return events->size() == 3; })) << ::testing::PrintToString(events->all());
  EXPECT_EQ(events->all(), (Strings{R"(added a "first, edited")", R"(added b "second" prev=a)",
                                    R"(added c {"text":"third"} prev=b)"}));
  EXPECT_TRUE(server_->requests().empty());

  server_->setAcceptingConnections(true);
  ASSERT_TRUE(waitFor([&] { return storedWriteIds(database).empty(); }, 20.0));
  EXPECT_EQ(server_->valueAt("/notes"), Value::parse(R"({"a": "first, edited", "b": "second", "c": {"text": "third"}})"));
  Strings sent;
  for (const Value& request : server_->requests()) {
    const std::string action = request["frame"].value("a", "");
    if (action == "p" || action == "m") sent.push_back(action + " " + request["frame"]["b"]["p"].get<std::string>());
  }
  EXPECT_EQ(sent, (Strings{"p /notes/a", "m /notes", "p /notes/a"}));
  // A new write follows the restored ones.
  auto done = std::make_shared<Recorder>();
  database->referenceWithPath("notes/d")->setValue(Value("after"), recordCompletion(done));
  settle();
  EXPECT_EQ(database->repo()->writeIdCounter(), 4);
  ASSERT_TRUE(waitFor([&] { return done->size() == 1; }));
}

TEST_F(RestartTest, AStoredWriteThatDoesNotDecodeIsReportedAndTheOthersAreRestored) {
  {
    auto database = makeDatabase({.name = kDamagedRecordName, .online = false, .persistence = true});
    writeOffline(database);
    FRepoManager::disposeRepos(database->config());
  }
  persistencetest::putRaw(folder(kDamagedRecordName), FLevelDBStorageEngine::writeRecordKey(1),
                          "{\"id\": 1, \"path\": \"/notes\", \"m\": [");

  LoggedLines log;
  auto database = makeDatabase({.name = kDamagedRecordName, .online = true, .persistence = true});
  auto values = watchValues(database, "notes");
  ASSERT_TRUE(waitFor([&] { return server_->valueAt("/notes/a") == Value("first, edited"); }, 20.0));
  EXPECT_TRUE(log.contains("cannot be read"));
  EXPECT_EQ(server_->valueAt("/notes"), Value::parse(R"({"a": "first, edited"})"));
  EXPECT_EQ(database->repo()->writeIdCounter(), 3);
  ASSERT_TRUE(waitFor([&] { return values->last() == R"(value {"a":"first, edited"})"; }))
      << ::testing::PrintToString(values->all());
}

TEST_F(RestartTest, ADamagedCacheFolderIsRepairedOrSetAsideAndTheClientRuns) {
  {
    auto database = makeDatabase({.name = kDamagedFolderName, .online = false, .persistence = true});
    writeOffline(database);
    FRepoManager::disposeRepos(database->config());
  }
  // Every file of the folder overwritten with noise: nothing can be read back.
  for (const auto& entry : std::filesystem::directory_iterator(folder(kDamagedFolderName))) {
    if (entry.path().filename() == "LOCK") continue;
    std::ofstream(entry.path(), std::ios::trunc | std::ios::binary) << std::string(512, '\x5a');
  }
  LoggedLines log;
  auto database = makeDatabase({.name = kDamagedFolderName, .online = true, .persistence = true});
  auto values = watchValues(database, "fresh");
  database->referenceWithPath("fresh")->setValue(Value("works"));
  ASSERT_TRUE(waitFor([&] { return server_->valueAt("/fresh") == Value("works"); }, 20.0));
  EXPECT_TRUE(log.contains("is damaged"));
  ASSERT_TRUE(waitFor([&] { return values->last() == R"(value "works")"; }));
  // The client keeps a cache again.
  onWorkQueue([&] { EXPECT_NE(database->repo()->persistenceManager(), nullptr); });
}
