// The per-app, per-namespace fetch facts kept in the user-defaults suite.
#include <gtest/gtest.h>

#include "platform/foundation/NSUserDefaults.h"
#include "sdk/remote_config/RCNUserDefaultsManager.h"
#include "tests/sdk/remote_config/RemoteConfigTestSupport.h"

namespace {

class UserDefaultsMetadata : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::useFreshApplicationHome();
    NSUserDefaults::resetForTesting();
    RCNUserDefaultsManager::resetSharedUserDefaultsForTesting();
  }
  // As a relaunched process would: the suite is read from its file again.
  static void relaunch() {
    NSUserDefaults::resetForTesting();
    RCNUserDefaultsManager::resetSharedUserDefaultsForTesting();
  }
  rc_test::LogLines logs;
};

}  // namespace

TEST_F(UserDefaultsMetadata, AFreshSuiteReadsEmpty) {
  RCNUserDefaultsManager manager("app", "com.example.bundle", "zirezize:app");
  EXPECT_FALSE(manager.lastETag());
  EXPECT_EQ(manager.lastETagUpdateTime(), 0);
  EXPECT_EQ(manager.lastFetchTime(), 0);
  EXPECT_FALSE(manager.lastFetchStatus());
  EXPECT_FALSE(manager.isClientThrottledWithExponentialBackoff());
  EXPECT_EQ(manager.throttleEndTime(), 0);
  EXPECT_EQ(manager.currentThrottlingRetryIntervalSeconds(), 0);
  EXPECT_EQ(RCNUserDefaultsManager::userDefaultsSuiteNameForBundleIdentifier("com.example.bundle"),
            "group.com.example.bundle.zirezize");
}

TEST_F(UserDefaultsMetadata, ValuesSurviveARelaunchAndAbsentOrZeroValuesAreIgnored) {
  {
    RCNUserDefaultsManager manager("app", "com.example.bundle", "zirezize:app");
    manager.setLastETag(std::string("etag-1"));
    manager.setLastETagUpdateTime(100);
    manager.setLastFetchTime(200);
    manager.setLastFetchStatus(std::string("Success"));
    manager.setIsClientThrottledWithExponentialBackoff(true);
    manager.setThrottleEndTime(300);
    manager.setCurrentThrottlingRetryIntervalSeconds(120);
    manager.setLastETag(std::nullopt);
    manager.setLastETagUpdateTime(0);
    manager.setLastFetchStatus(std::nullopt);
  }
  relaunch();
  RCNUserDefaultsManager manager("app", "com.example.bundle", "zirezize:app");
  EXPECT_EQ(manager.lastETag(), std::string("etag-1"));
  EXPECT_EQ(manager.lastETagUpdateTime(), 100);
  EXPECT_EQ(manager.lastFetchTime(), 200);
  EXPECT_EQ(manager.lastFetchStatus(), std::string("Success"));
  EXPECT_TRUE(manager.isClientThrottledWithExponentialBackoff());
  EXPECT_EQ(manager.throttleEndTime(), 300);
  EXPECT_EQ(manager.currentThrottlingRetryIntervalSeconds(), 120);
}

TEST_F(UserDefaultsMetadata, NamesHoldingDotsAreReadWithTheKeysTheyWereWrittenWith) {
  RCNUserDefaultsManager manager("my.app", "com.example.bundle", "config.v2:my.app");
  manager.setLastETag(std::string("etag-dotted"));
  manager.setLastFetchTime(42);
  manager.setLastETagUpdateTime(7);
  // Every write keeps the record's other keys.
  EXPECT_EQ(manager.lastETag(), std::string("etag-dotted"));
  EXPECT_EQ(manager.lastFetchTime(), 42);
  EXPECT_EQ(manager.lastETagUpdateTime(), 7);
  auto stored = NSUserDefaults::suiteNamed("group.com.example.bundle.zirezize")->objectForKey("my.app");
  ASSERT_TRUE(stored);
  EXPECT_EQ((*stored)["config.v2"]["lastETag"], "etag-dotted");
  relaunch();
  RCNUserDefaultsManager again("my.app", "com.example.bundle", "config.v2:my.app");
  EXPECT_EQ(again.lastETag(), std::string("etag-dotted"));
  EXPECT_EQ(again.lastFetchTime(), 42);
}

TEST_F(UserDefaultsMetadata, NamespacesOfOneAppKeepSeparateRecords) {
  RCNUserDefaultsManager first("app", "com.example.bundle", "one:app");
  RCNUserDefaultsManager second("app", "com.example.bundle", "two:app");
  first.setLastETag(std::string("first"));
  second.setLastETag(std::string("second"));
  EXPECT_EQ(first.lastETag(), std::string("first"));
  EXPECT_EQ(second.lastETag(), std::string("second"));
  EXPECT_EQ(first.appUserDefaults().size(), 2u);
  first.resetUserDefaults();
  EXPECT_FALSE(first.lastETag());
  EXPECT_EQ(second.lastETag(), std::string("second"));
  EXPECT_TRUE(first.instanceUserDefaults().empty());
}

TEST_F(UserDefaultsMetadata, AnUnqualifiedNamespaceIsLoggedAndUsedWhole) {
  RCNUserDefaultsManager manager("app", "com.example.bundle", "plain");
  EXPECT_TRUE(logs.contains("I-RCN000064] Error: Namespace plain is not fully qualified app:namespace."));
  EXPECT_EQ(manager.zirezizeNamespace(), "plain");
  manager.setLastETag(std::string("x"));
  EXPECT_TRUE(manager.appUserDefaults().contains("plain"));
}

TEST_F(UserDefaultsMetadata, ValuesOfTheWrongKindReadAsAbsent) {
  auto suite = NSUserDefaults::suiteNamed("group.com.example.bundle.zirezize");
  suite->setObject(Value{{"zirezize", {{"lastETag", 17}, {"lastSuccessfulFetchTime", "soon"}, {"throttleEndTime", true}}}},
                   "app");
  RCNUserDefaultsManager manager("app", "com.example.bundle", "zirezize:app");
  EXPECT_FALSE(manager.lastETag());
  EXPECT_EQ(manager.lastFetchTime(), 0);
  EXPECT_EQ(manager.throttleEndTime(), 1);
  suite->setObject(Value("not a record"), "app");
  EXPECT_TRUE(manager.instanceUserDefaults().empty());
  manager.setLastETag(std::string("mended"));
  EXPECT_EQ(manager.lastETag(), std::string("mended"));
}
