// A restart: a second process opens the same application home and finds what the first left.
// The first process records the state it reached (through the public API and the store) in the
// home; the second reads its own state back and compares.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "platform/foundation/NSPathUtilities.h"
#include "tests/sdk/remote_config/RemoteConfigTestSupport.h"
#include "tests/support/ManualClock.h"

using namespace rc_test;
using testsupport::RemoteConfigServer;
using Status = ZIRRemoteConfigFetchStatus;

namespace {

constexpr const char* kDottedNamespace = "config.v2";
constexpr const char* kChildTest = "RemoteConfigRestart.DISABLED_ASecondProcessFindsTheStoredState";

std::string expectationPath() { return NSHomeDirectory() + "/expected-state.json"; }

// A process that ends abruptly during a fetch: where it ends is named in this variable.
constexpr const char* kEndedChildTest = "RemoteConfigRestart.DISABLED_AProcessEndsAbruptlyDuringAFetch";
constexpr const char* kEndPointVariable = "SA_TEST_FETCH_END_POINT";
// The answer has been handled and its rows are still queued for the database.
constexpr const char* kEndBeforeCommit = "before-the-rows-are-committed";
// In the fetch's completion.
constexpr const char* kEndAtCompletion = "at-the-completion";
constexpr size_t kLargeTemplateKeys = 2000;

nlohmann::json largeTemplate() {
  nlohmann::json entries = nlohmann::json::object();
  for (size_t i = 0; i < kLargeTemplateKeys; ++i) {
    char key[32];
    std::snprintf(key, sizeof key, "key-%04zu", i);
    entries[key] = std::string("value of ") + key + std::string(64, 'x');
  }
  return entries;
}

[[noreturn]] void endProcessNow(const char* point) {
  std::printf("ended %s\n", point);
  std::fflush(stdout);
  std::_Exit(0);
}

const nlohmann::json kExperimentA = {{"experimentId", "exp_a"}, {"variantId", "1"},
                                     {"experimentStartTime", "2024-03-01T10:00:00.000Z"}};
const nlohmann::json kExperimentB = {{"experimentId", "exp_b"}, {"variantId", "2"},
                                     {"experimentStartTime", "2024-04-01T10:00:00.000Z"}};

class RemoteConfigRestart : public RemoteConfigFixture {
 protected:
  // Writes the expected state into the home and runs the second process on it.
  void restartAndCompare(const Value& expected) {
    drainQueues();
    std::ofstream(expectationPath()) << value::toJSON(expected, true);
    auto child = testsupport::runTestInChildProcess(kChildTest, {{testsupport::kSharedHomeVariable, NSHomeDirectory()}});
    EXPECT_EQ(child.exitCode, 0) << child.output;
    EXPECT_NE(child.output.find("[  PASSED  ] 1 test"), std::string::npos) << child.output;
  }
};

}  // namespace

TEST_F(RemoteConfigRestart, ASecondProcessFindsActiveFetchedAndDefaultContentMetadataAndPayloads) {
  auto rc = configure();
  auto dotted = configure(kZAVAdaDefaultAppName, kDottedNamespace);
  rc->setDefaults({{"d", "default"}});
  server->script({RemoteConfigServer::update({{"a", "1"}, {"b", "2"}}, "etag-1", nlohmann::json::array({kExperimentA}),
                                             nlohmann::json{{"a", {{"choiceId", "c1"}}}}),
                  RemoteConfigServer::update({{"a", "3"}}, "etag-2", nlohmann::json::array({kExperimentB})),
                  RemoteConfigServer::raw(503, "{}"), RemoteConfigServer::update({{"x", "dotted"}}, "dot-1")});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  ASSERT_EQ(fetch(*rc, 0).status, Status::Success);  // fetched, not activated
  ASSERT_EQ(fetch(*rc, 0).status, Status::Throttled);
  ASSERT_EQ(fetch(*dotted).status, Status::Success);  // fetched, not activated
  rc->setConfigSettings(ZIRRemoteConfigSettings{10, 5});
  drainQueues();
  ASSERT_EQ(rc->settings()->exponentialBackoffRetryInterval(), 120);

  Value expected = {{"default", storedState(*rc)}, {"dotted", storedState(*dotted)}};
  EXPECT_EQ(expected["default"]["active"], (Value{{"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(expected["default"]["fetched"], (Value{{"a", "3"}}));
  EXPECT_EQ(expected["default"]["defaults"], (Value{{"d", "default"}}));
  EXPECT_EQ(expected["default"]["lastFetchStatus"], 3);
  EXPECT_EQ(expected["default"]["experimentPayloads"], Value::array({kExperimentB.dump()}));
  EXPECT_EQ(expected["dotted"]["lastETag"], "dot-1");
  restartAndCompare(expected);
}

TEST_F(RemoteConfigRestart, AfterMalformedAnswersTheStoredContentIsTheLastGoodOne) {
  auto rc = configure();
  server->script({RemoteConfigServer::update({{"k", "good"}}, "etag-good", nlohmann::json::array({kExperimentA}))});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  const Value good = storedState(*rc);
  server->script({RemoteConfigServer::json({{"state", "UPDATE"}, {"entries", {{"k", 1}}}}),
                  RemoteConfigServer::json({{"state", "UPDATE"}, {"entries", {{"k", "x"}}}, {"experimentDescriptions", "no"}}),
                  RemoteConfigServer::json({{"state", "UPDATE"}, {"entries", {{"k", "x"}}}, {"personalizationMetadata", 1}}),
                  RemoteConfigServer::serverError({{"code", 400}}), RemoteConfigServer::raw(200, "[[[")});
  for (int i = 0; i < 5; ++i) fetch(*rc, 0);
  Value after = storedState(*rc);
  // The body that is not JSON counted as a success: only its fetch time and tag time moved.
  for (const char* moved : {"lastETagUpdateTime", "lastFetchTime", "successFetchTimes"}) {
    after.erase(moved);
  }
  Value unchanged = good;
  for (const char* moved : {"lastETagUpdateTime", "lastFetchTime", "successFetchTimes"}) unchanged.erase(moved);
  EXPECT_EQ(after, unchanged);
  restartAndCompare({{"default", storedState(*rc)}});
}

TEST_F(RemoteConfigRestart, AnActivationAtLaunchFindsTheStoredPersonalizationAndExperimentStartTime) {
  // Relaunched in this process, so that the main run loop is held back until the activation has
  // completed, as in an application that activates at launch.
  testsupport::ManualClock clock;
  const nlohmann::json personalization = {{"a", {{"choiceId", "c2"}}}};
  auto rc = configure();
  server->script({RemoteConfigServer::update({{"a", "1"}}, "etag-1", nlohmann::json::array({kExperimentA})),
                  RemoteConfigServer::update({{"a", "2"}}, "etag-2", nlohmann::json::array({kExperimentA, kExperimentB}),
                                             personalization)});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  clock.advance(10);
  ASSERT_EQ(fetch(*rc, 0).status, Status::Success);  // fetched, not activated
  const double startOfA = 1709287200;                // 2024-03-01T10:00:00Z
  const double startOfB = 1711965600;                // 2024-04-01T10:00:00Z
  ASSERT_EQ(storedState(*rc)["experimentMetadata"], (Value{{"last_experiment_start_time", startOfA}}));

  rc = relaunchInThisProcess();
  clock.advance(10);
  auto activated = activateBeforeTheMainLoopRuns(*rc);
  EXPECT_TRUE(activated.changed);
  EXPECT_FALSE(activated.error);
  const Value after = storedState(*rc);
  EXPECT_EQ(after["activePersonalization"], personalization);
  EXPECT_EQ(after["experimentMetadata"], (Value{{"last_experiment_start_time", startOfB}}));
  EXPECT_EQ(after["experimentPayloads"], Value::array({kExperimentA.dump(), kExperimentB.dump()}));
  EXPECT_EQ(text(rc->configValueForKey("a")), "2");
}

// A process ends at the worst moment of a fetch of a large template: the next one must find the
// rows of the answer together with its tag and fetch time, or neither.
class RemoteConfigAfterAnEndedProcess : public RemoteConfigRestart {
 protected:
  void runChildEndingAt(const char* point) {
    auto child = testsupport::runTestInChildProcess(
        kEndedChildTest, {{testsupport::kSharedHomeVariable, NSHomeDirectory()}, {kEndPointVariable, point}});
    ASSERT_EQ(child.exitCode, 0) << child.output;
    ASSERT_NE(child.output.find(std::string("ended ") + point), std::string::npos) << child.output;
  }
};

TEST_F(RemoteConfigAfterAnEndedProcess, BeforeTheRowsAreCommittedNeitherTheRowsNorTheirTagAndTimeAreKept) {
  runChildEndingAt(kEndBeforeCommit);
  auto rc = configure();
  const Value state = storedState(*rc);
  EXPECT_EQ(state["fetched"], Value());
  EXPECT_EQ(state["lastETag"], Value());
  EXPECT_EQ(state["lastFetchTime"], 0);
  EXPECT_EQ(state["lastETagUpdateTime"], 0);
  EXPECT_EQ(state["experimentPayloads"], Value::array());

  // So the next fetch goes to the service without a tag, and the template arrives whole.
  server->script({RemoteConfigServer::update(largeTemplate(), "etag-large")});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_EQ(server->requestCount(), 1u);
  EXPECT_FALSE(server->requests()[0].raw.header("if-none-match"));
  ASSERT_TRUE(activate(*rc).changed);
  EXPECT_EQ(rc->allKeysFromSource(ZIRRemoteConfigSource::Remote).size(), kLargeTemplateKeys);
}

TEST_F(RemoteConfigAfterAnEndedProcess, AtTheCompletionTheRowsAreKeptWithTheirTagAndTime) {
  runChildEndingAt(kEndAtCompletion);
  auto rc = configure();
  const Value state = storedState(*rc);
  EXPECT_EQ(state["fetched"].size(), kLargeTemplateKeys);
  EXPECT_TRUE(state["fetched"] == largeTemplate());
  EXPECT_EQ(state["lastETag"], "etag-large");
  EXPECT_GT(state["lastFetchTime"].get<double>(), 0);
  EXPECT_GT(state["lastETagUpdateTime"].get<double>(), 0);
  EXPECT_EQ(state["experimentPayloads"], Value::array({kExperimentA.dump()}));

  // Inside the interval the kept answer serves, and it can be activated.
  EXPECT_EQ(fetch(*rc).status, Status::Success);
  EXPECT_EQ(server->requestCount(), 0u);
  ASSERT_TRUE(activate(*rc).changed);
  EXPECT_EQ(text(rc->configValueForKey("key-1999")), largeTemplate()["key-1999"].get<std::string>());
}

// Runs only as the child of the tests above: fetches the large template and ends without any
// clean-up, at the point the parent names.
TEST_F(RemoteConfigRestart, DISABLED_AProcessEndsAbruptlyDuringAFetch) {
  const char* point = std::getenv(kEndPointVariable);
  ASSERT_TRUE(point) << "run by the tests of an ended process only";
  auto rc = configure();
  rc->allKeysFromSource(ZIRRemoteConfigSource::Remote);  // the stored content has been read
  drainQueues();
  server->script({RemoteConfigServer::update(largeTemplate(), "etag-large", nlohmann::json::array({kExperimentA}))});
  if (std::string(point) == kEndAtCompletion) {
    rc->fetchWithCompletionHandler([](ZIRRemoteConfigFetchStatus, NSErrorRef) { endProcessNow(kEndAtCompletion); });
    EXPECT_TRUE(testsupport::waitFor([] { return false; }, 60)) << "the fetch did not complete";
    return;
  }
  ASSERT_EQ(std::string(point), kEndBeforeCommit);
  // The database queue is held from here on: nothing queued after this task runs.
  RCNConfigDBManager::sharedInstance()->databaseOperationQueue()->async([] {
    for (;;) pause();
  });
  startFetch(*rc);
  // The status changes when the answer has been handled on the remote-configuration queue.
  ASSERT_TRUE(testsupport::waitFor([&] { return rc->lastFetchStatus() == Status::Success; }, 60));
  endProcessNow(kEndBeforeCommit);
}

// Runs only as the second process of the tests above.
TEST_F(RemoteConfigRestart, DISABLED_ASecondProcessFindsTheStoredState) {
  std::ifstream in(expectationPath());
  ASSERT_TRUE(in) << "run by the restart tests only";
  std::stringstream stored;
  stored << in.rdbuf();
  const Value expected = Value::parse(stored.str());

  auto rc = configure();
  EXPECT_EQ(storedState(*rc), expected["default"]);
  std::shared_ptr<ZIRRemoteConfig> dotted;
  if (expected.contains("dotted")) {
    dotted = configure(kZAVAdaDefaultAppName, kDottedNamespace);
    EXPECT_EQ(storedState(*dotted), expected["dotted"]);
  }
  // The interval, time-out and back-off are not kept.
  EXPECT_EQ(rc->configSettings().minimumFetchInterval, 43200);
  EXPECT_EQ(rc->configSettings().fetchTimeout, 60);
  EXPECT_EQ(rc->settings()->exponentialBackoffRetryInterval(), 0);
  EXPECT_FALSE(rc->settings()->shouldThrottle());
  // Inside the interval, with the same device, a fetch answers from what was kept.
  EXPECT_EQ(fetch(*rc).status, Status::Success);
  EXPECT_EQ(server->requestCount(), 0u);

  // What was fetched after the last activation can be activated now.
  const bool pending = expected["default"]["lastETagUpdateTime"].get<double>() >
                       expected["default"]["lastApplyTime"].get<double>();
  EXPECT_EQ(activate(*rc).changed, pending);
  for (const auto& [key, value] : expected["default"]["fetched"].items()) {
    EXPECT_EQ(text(rc->configValueForKey(key)), value.get<std::string>());
  }
  if (dotted) {
    EXPECT_TRUE(activate(*dotted).changed);
    EXPECT_EQ(text(dotted->configValueForKey("x")), "dotted");
  }
}
