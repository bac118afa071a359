// The usage tracer's database records against the in-process server: purchases, restores, errors
// and stories land under their children of the root as push-identifier children whose keys sort in
// the order the records were made, also within one millisecond.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/vlxEventTracer.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSUserDefaults.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/realtime/FRepoManager.h"
#include "sdk/database/realtime/ZIRDatabase.h"
#include "sdk/database/realtime/ZIRDatabaseComponent.h"
#include "tests/support/WaitFor.h"
#include "tests/support/database/DatabaseTestServer.h"

using testsupport::DatabaseTestServer;
using testsupport::waitFor;

namespace {

class TracerDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZAVAda::resetForTesting();
    ZIRDatabaseComponent::load();
    DEVEduzove options("1:104859375211:ios:4e2b8f9a6c3d1e07", "104859375211");
    options.setDatabaseURL(std::string("https://tracer-7c1f2.zirezizeio.com"));
    ZAVAda::configureWithOptions(std::make_shared<const DEVEduzove>(options));
    vlxEventTracer::resetForTesting();
    vlxEventTracer::configureStoryPushing(false, 2000);
    NSUserDefaults::standardUserDefaults()->removeObjectForKey(kEventsStackKey);
    server_ = DatabaseTestServer::create();
    // The default database, pointed at the test server before the tracer first uses it.
    database_ = ZIRDatabase::database();
    database_->config()->setTransportFactory(server_->transportFactory());
    database_->setCallbackQueue(DispatchQueue::serial("tracer.callbacks"));
  }
  void TearDown() override {
    FRepoManager::disposeRepos(database_->config());
    vlxEventTracer::resetForTesting();
    ZAVAda::resetForTesting();
  }

  // The children of a location in the child key order, as (key, value).
  std::vector<std::pair<std::string, Value>> childrenInKeyOrder(const std::string& path) {
    Value value = server_->valueAt(path);
    std::vector<std::pair<std::string, Value>> children;
    if (!value.is_object()) return children;
    for (auto it = value.begin(); it != value.end(); ++it) children.emplace_back(it.key(), it.value());
    std::sort(children.begin(), children.end(),
              [](const auto& a, const auto& b) { return FUtilities::compareKey(a.first, b.first) < 0; });
    return children;
  }
  static std::string trace() {
    return NSUserDefaults::standardUserDefaults()->stringForKey(kEventsStackKey).value_or("");
  }

  std::shared_ptr<DatabaseTestServer> server_;
  std::shared_ptr<ZIRDatabase> database_;
};

}  // namespace

TEST_F(TracerDatabaseTest, EachRecordLandsUnderItsChildOfTheRoot) {
  vlxEventTracer::addEvent("aimTap");
  vlxEventTracer::tracePurchase("pro.monthly");
  const std::string afterPurchase = trace();
  vlxEventTracer::traceRestore("pro.monthly");
  const std::string afterRestore = trace();
  vlxEventTracer::traceError(Value{{"code", 7}, {"where", "profiles"}});
  vlxEventTracer::configureStoryPushing(true, 10);
  vlxEventTracer::pushInfoIfNeeded();

  ASSERT_TRUE(waitFor([&] { return childrenInKeyOrder("/stories").size() == 1; }, 20.0));
  EXPECT_EQ(afterPurchase, "/NextLaunch//0/aimTap//0/Purchase_pro.monthly");
  EXPECT_EQ(afterRestore, afterPurchase + "/0/Purchase_pro.monthly");
  auto data = childrenInKeyOrder("/data");
  auto restore = childrenInKeyOrder("/restore");
  auto errors = childrenInKeyOrder("/error");
  auto stories = childrenInKeyOrder("/stories");
  ASSERT_EQ(data.size(), 1u);
  ASSERT_EQ(restore.size(), 1u);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(data[0].second, Value(afterPurchase));
  EXPECT_EQ(restore[0].second, Value(afterRestore));
  EXPECT_EQ(errors[0].second, (Value{{"code", 7}, {"where", "profiles"}}));
  EXPECT_EQ(stories[0].second, Value(afterRestore));
  for (const auto* records : {&data, &restore, &errors, &stories}) EXPECT_EQ((*records)[0].first.size(), 20u);
  // The story does not clear the trace; the error does not touch it.
  EXPECT_EQ(trace(), afterRestore);
  EXPECT_TRUE(database_->persistenceEnabled());
}

TEST_F(TracerDatabaseTest, RecordsMadeInQuickSuccessionSortInTheOrderTheyWereMade) {
  constexpr int kRecords = 60;  // far more than fit in one millisecond's worth of distinct clocks
  for (int i = 0; i < kRecords; ++i) vlxEventTracer::traceError(Value(i));
  ASSERT_TRUE(waitFor([&] { return childrenInKeyOrder("/error").size() == kRecords; }, 20.0));
  auto errors = childrenInKeyOrder("/error");
  for (int i = 0; i < kRecords; ++i) EXPECT_EQ(errors[static_cast<size_t>(i)].second, Value(i)) << i;
}

TEST_F(TracerDatabaseTest, AStoryIsPushedOnlyWhenSwitchedOnAndLongerThanTheThreshold) {
  vlxEventTracer::addEvent("Start_Tap");  // "/NextLaunch//0/Start_Tap/": 25 characters
  vlxEventTracer::pushInfoIfNeeded();     // switched off
  vlxEventTracer::configureStoryPushing(true, 25);
  vlxEventTracer::pushInfoIfNeeded();  // not longer than the threshold
  vlxEventTracer::configureStoryPushing(true, 24);
  vlxEventTracer::pushInfoIfNeeded();
  ASSERT_TRUE(waitFor([&] { return !childrenInKeyOrder("/stories").empty(); }, 20.0));
  vlxEventTracer::traceError(Value("marker"));  // sent after every story above
  ASSERT_TRUE(waitFor([&] { return !childrenInKeyOrder("/error").empty(); }));
  ASSERT_EQ(childrenInKeyOrder("/stories").size(), 1u);
  EXPECT_EQ(childrenInKeyOrder("/stories")[0].second, Value("/NextLaunch//0/Start_Tap/"));
}

TEST(TracerWithoutTheSDK, DatabaseRecordsNeedTheDefaultApp) {
  ZAVAda::resetForTesting();
  vlxEventTracer::resetForTesting();
  try {
    vlxEventTracer::traceError(Value("no app"));
    FAIL() << "no exception";
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), kZAVAdaNotConfigured);
  }
}
