// Fetch settings: the minimum interval, throttling with exponential back-off on the stepped clock,
// the request body, and the metadata kept in the database and the user defaults.
#include <gtest/gtest.h>

#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/security/Crypto.h"
#include "sdk/remote_config/RCNConfigSettings.h"
#include "sdk/remote_config/RCNDevice.h"
#include "tests/sdk/remote_config/RemoteConfigTestSupport.h"
#include "tests/support/ManualClock.h"

namespace {

constexpr const char* kNamespace = "zirezize:app";

class ConfigSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::useFreshApplicationHome();
    NSUserDefaults::resetForTesting();
    RCNUserDefaultsManager::resetSharedUserDefaultsForTesting();
    // The database file exists already, as after an earlier run: opening it is not a new database.
    RCNConfigDBManager::create()->waitForQueuedWork();
    manager = RCNConfigDBManager::create();
    settings = make();
  }
  void TearDown() override { security::setRandomUniformSourceForTesting(nullptr); }

  std::shared_ptr<RCNConfigSettings> make() {
    return std::make_shared<RCNConfigSettings>(manager, kNamespace, "app", std::string("1:1:ios:1"));
  }
  // The back-off adds (odd draw) or takes away (even draw) half its interval.
  static void drawOdd(bool odd) {
    security::setRandomUniformSourceForTesting([odd](uint32_t) { return odd ? 1u : 0u; });
  }

  rc_test::LogLines logs;
  std::shared_ptr<RCNConfigDBManager> manager;
  std::shared_ptr<RCNConfigSettings> settings;
};

}  // namespace

TEST_F(ConfigSettings, TheBackOffEntersAtTwoMinutesAndDoublesUpToItsCeiling) {
  testsupport::ManualClock clock;
  drawOdd(true);
  settings->updateMetadataWithFetchSuccessStatus(true);
  const std::vector<double> expected = {120, 240, 480, 960, 1920, 3840, 7680, 7680, 7680};
  for (size_t i = 0; i < expected.size(); ++i) {
    drawOdd(i % 2 == 0);
    const double now = ns::timeIntervalSince1970();
    settings->updateMetadataWithFetchSuccessStatus(false);
    EXPECT_EQ(settings->exponentialBackoffRetryInterval(), expected[i]);
    EXPECT_EQ(settings->exponentialBackoffThrottleEndTime(), now + expected[i] * (i % 2 == 0 ? 1.5 : 0.5));
    EXPECT_EQ(settings->lastFetchStatus(), 2);
    EXPECT_EQ(settings->lastFetchError(), kZIRRemoteConfigErrorInternalError);
    EXPECT_TRUE(settings->shouldThrottle());
    clock.advance(expected[i] * 2);
    EXPECT_FALSE(settings->shouldThrottle());
  }
  // A success, then a failure: two minutes again.
  settings->updateMetadataWithFetchSuccessStatus(true);
  EXPECT_FALSE(settings->shouldThrottle());
  settings->updateMetadataWithFetchSuccessStatus(false);
  EXPECT_EQ(settings->exponentialBackoffRetryInterval(), 120);
  EXPECT_EQ(settings->successFetchTimes().size(), 2u);
  EXPECT_EQ(settings->failureFetchTimes().size(), expected.size() + 1);
}

TEST_F(ConfigSettings, FailuresWithoutAPreviousSuccessKeepTheIntervalAtZero) {
  testsupport::ManualClock clock;
  settings->setLastFetchStatus(2);
  for (int i = 0; i < 3; ++i) {
    settings->updateMetadataWithFetchSuccessStatus(false);
    EXPECT_EQ(settings->exponentialBackoffRetryInterval(), 0);
    EXPECT_EQ(settings->exponentialBackoffThrottleEndTime(), ns::timeIntervalSince1970());
    EXPECT_FALSE(settings->shouldThrottle());  // no success was ever recorded
  }
  EXPECT_TRUE(settings->hasMinimumFetchIntervalElapsed(43200));  // no success: the interval has passed
}

TEST_F(ConfigSettings, TheMinimumIntervalCountsFromTheLastSuccess) {
  testsupport::ManualClock clock;
  settings->updateMetadataWithFetchSuccessStatus(true);
  EXPECT_EQ(settings->lastFetchTimeInterval(), ns::timeIntervalSince1970());
  EXPECT_FALSE(settings->hasMinimumFetchIntervalElapsed(100));
  clock.advance(100);
  EXPECT_FALSE(settings->hasMinimumFetchIntervalElapsed(100));
  clock.advance(0.001);
  EXPECT_TRUE(settings->hasMinimumFetchIntervalElapsed(100));
  settings->setMinimumFetchInterval(-5);
  EXPECT_EQ(settings->minimumFetchInterval(), 0);
  settings->setFetchTimeout(0);
  EXPECT_EQ(settings->fetchTimeout(), 60);
  settings->setFetchTimeout(-1);
  EXPECT_EQ(settings->fetchTimeout(), 60);
  settings->setFetchTimeout(5);
  EXPECT_EQ(settings->fetchTimeout(), 5);
}

TEST_F(ConfigSettings, TheRequestBodyIsTheServicesBraceText) {
  const std::string withoutIdentity = settings->nextRequestWithUserProperties(std::nullopt);
  EXPECT_EQ(withoutIdentity.rfind("{app_instance_id:'(null)', app_instance_id_token:'(null)', app_id:'1:1:ios:1', ", 0), 0u)
      << withoutIdentity;
  EXPECT_EQ(withoutIdentity.find("analytics_user_properties"), std::string::npos);
  EXPECT_EQ(settings->nextRequestWithUserProperties(Value::object()).find("analytics_user_properties"), std::string::npos);

  settings->setConfigInstallationsIdentifier(std::string("fid-1"));
  settings->setConfigInstallationsToken(std::string("it's a token"));  // sent as it is, unescaped
  const std::string body = settings->nextRequestWithUserProperties(Value{{"tier", "gold"}});
  auto parsed = testsupport::parseFetchRequestBody(body);
  ASSERT_TRUE(parsed) << body;
  EXPECT_EQ(parsed->fields.at("app_instance_id"), "fid-1");
  EXPECT_EQ(parsed->fields.at("app_instance_id_token"), "it's a token");
  EXPECT_EQ(parsed->fields.at("sdk_version"), "ZIRRemoteConfig_VERSION");
  EXPECT_EQ(parsed->fields.at("app_version"), "1.0");
  ASSERT_TRUE(parsed->analyticsUserProperties);
  EXPECT_EQ(*parsed->analyticsUserProperties, (nlohmann::json{{"tier", "gold"}}));
  EXPECT_EQ(parsed->order.back(), "analytics_user_properties");
  const std::string tail = R"(, analytics_user_properties:{"tier":"gold"}})";
  EXPECT_EQ(body.substr(body.size() - tail.size()), tail);
}

TEST_F(ConfigSettings, TheMetadataRowCarriesEveryFieldToTheNextInstance) {
  testsupport::ManualClock clock;
  settings->updateMetadataWithFetchSuccessStatus(true);
  clock.advance(10);
  settings->updateMetadataWithFetchSuccessStatus(false);
  settings->setLastApplyTimeInterval(111);
  settings->setLastSetDefaultsTimeInterval(222);
  settings->setCustomVariables(Value{{"variant", "b"}});
  manager->waitForQueuedWork();

  auto next = make();
  EXPECT_EQ(next->lastFetchStatus(), 0);  // not read until asked
  Value row = next->loadConfigFromMetadataTable();
  EXPECT_EQ(row[RCNKeyLastFetchStatus], 2);
  EXPECT_EQ(next->lastFetchStatus(), 2);
  EXPECT_EQ(next->lastFetchError(), kZIRRemoteConfigErrorInternalError);
  EXPECT_EQ(next->lastApplyTimeInterval(), 111);
  EXPECT_EQ(next->lastSetDefaultsTimeInterval(), 222);
  EXPECT_EQ(next->successFetchTimes(), settings->successFetchTimes());
  EXPECT_EQ(next->failureFetchTimes(), settings->failureFetchTimes());
  EXPECT_EQ(next->deviceContext(), settings->deviceContext());
  EXPECT_EQ(next->deviceContext()[RCNDeviceContextKeyGMPProjectIdentifier], "1:1:ios:1");
  EXPECT_EQ(next->customVariables(), (Value{{"variant", "b"}}));
  EXPECT_EQ(next->lastFetchTimeInterval(), settings->lastFetchTimeInterval());
  // The back-off is not kept.
  EXPECT_EQ(next->exponentialBackoffRetryInterval(), 0);
  EXPECT_FALSE(next->shouldThrottle());
}

TEST_F(ConfigSettings, AnUnchangedErrorCodeWritesNothing) {
  settings->updateMetadataWithFetchSuccessStatus(true);  // row: status 1, error 8001
  settings->setLastFetchStatus(3);
  settings->setLastFetchError(kZIRRemoteConfigErrorUnknown);  // the stored code: nothing written
  manager->waitForQueuedWork();
  EXPECT_EQ(make()->loadConfigFromMetadataTable()[RCNKeyLastFetchStatus], 1);
  settings->setLastFetchError(kZIRRemoteConfigErrorThrottled);
  manager->waitForQueuedWork();
  Value row = make()->loadConfigFromMetadataTable();
  EXPECT_EQ(row[RCNKeyLastFetchStatus], 3);
  EXPECT_EQ(row[RCNKeyLastFetchError], kZIRRemoteConfigErrorThrottled);
}

TEST_F(ConfigSettings, TheETagIsStampedWhenStored) {
  testsupport::ManualClock clock;
  EXPECT_FALSE(settings->lastETag());
  EXPECT_EQ(settings->lastETagUpdateTime(), 0);
  settings->setLastETag(std::string("e1"));
  EXPECT_EQ(settings->lastETag(), std::string("e1"));
  EXPECT_EQ(settings->lastETagUpdateTime(), ns::timeIntervalSince1970());
  clock.advance(5);
  settings->setLastETag(std::nullopt);  // an answer without a tag: stamped, the tag stays
  EXPECT_EQ(settings->lastETag(), std::string("e1"));
  EXPECT_EQ(settings->lastETagUpdateTime(), ns::timeIntervalSince1970());
}

TEST_F(ConfigSettings, ANewDatabaseResetsTheUserDefaultsRecord) {
  settings->setLastETag(std::string("from an earlier database"));
  settings->updateLastFetchTimeInterval(1234);
  manager->waitForQueuedWork();
  // The same database file opened again: the record stays.
  manager = RCNConfigDBManager::create();
  EXPECT_EQ(make()->lastETag(), std::string("from an earlier database"));

  manager->removeDatabaseOnDatabaseQueueAtPath(RCNConfigDBManager::remoteConfigPathForDatabase());
  manager = RCNConfigDBManager::create();
  auto fresh = make();
  EXPECT_TRUE(logs.contains("I-RCN000072] New config database created. Resetting user defaults."));
  EXPECT_FALSE(fresh->lastETag());
  EXPECT_EQ(fresh->lastFetchTimeInterval(), 0);
}

TEST_F(ConfigSettings, InternalContentReplacesTheBundlesKeys) {
  const std::string bundle = settings->bundleIdentifier();
  manager->insertInternalMetadataTableWithValues(Value::array({bundle + ".old", value::data("x")}), nullptr);
  manager->insertInternalMetadataTableWithValues(Value::array({"foreign.key", value::data("y")}), nullptr);
  auto withStored = make();
  EXPECT_TRUE(withStored->internalMetadata().contains(bundle + ".old"));
  withStored->updateInternalContentWithResponse(Value{{bundle + ".new", "z"}, {"count", 3}});
  Value internal = withStored->internalMetadata();
  EXPECT_FALSE(internal.contains(bundle + ".old"));
  EXPECT_EQ(internal[bundle + ".new"], "z");
  EXPECT_TRUE(internal.contains("foreign.key"));
  EXPECT_FALSE(internal.contains("count"));  // only text values are kept
  auto table = manager->loadInternalMetadataTable();
  EXPECT_FALSE(table.count(bundle + ".old"));
  EXPECT_EQ(table[bundle + ".new"], Bytes({'z'}));
}
