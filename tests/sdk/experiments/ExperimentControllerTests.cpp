// The experiment controller keeping an origin's experiments as conditional user properties of a
// recording analytics interop.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/NSDate.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/experiments/ABTConditionalUserPropertyController.h"
#include "sdk/experiments/ABTConstants.h"
#include "sdk/experiments/ZIRExperimentController.h"
#include "tests/sdk/measurement/RecordingAnalytics.h"
#include "tests/support/WaitFor.h"

using testsupport::RecordingAnalytics;

namespace {

constexpr const char* kOrigin = "frc";

Bytes payload(const std::string& experiment, const std::string& variant, const std::string& start,
              const std::string& extra = "") {
  std::string json = R"({"experimentId":")" + experiment + R"(","variantId":")" + variant +
                     R"(","experimentStartTime":")" + start + "\"" + extra + "}";
  return Bytes(json.begin(), json.end());
}

// 2024-03-01T10:00:00.000Z and later days, in seconds.
constexpr double kMarch1 = 1709287200;

class ExperimentController : public ::testing::Test {
 protected:
  void SetUp() override {
    ABTConditionalUserPropertyController::resetSharedInstanceForTesting();
    analytics = std::make_shared<RecordingAnalytics>();
    controller = std::make_shared<ZIRExperimentController>(analytics);
  }
  void TearDown() override { ABTConditionalUserPropertyController::resetSharedInstanceForTesting(); }

  NSErrorRef update(const std::vector<Bytes>& payloads, double lastStartTime = 0, int policy = 1,
                    const ZIRLifecycleEvents& events = ZIRLifecycleEvents()) {
    NSErrorRef result = NSError::errorWithDomain("not called", 0);
    controller->updateExperimentConditionalUserPropertiesWithServiceOrigin(
        kOrigin, events, policy, lastStartTime, payloads, [&](NSErrorRef error) { result = error; });
    return result;
  }

  std::shared_ptr<RecordingAnalytics> analytics;
  std::shared_ptr<ZIRExperimentController> controller;
};

}  // namespace

TEST_F(ExperimentController, NewPayloadsBecomeConditionalUserPropertiesWithTheirEvents) {
  const double before = ns::timeIntervalSince1970();
  EXPECT_FALSE(update({payload("exp_1", "1", "2024-03-01T10:00:00.000Z",
                               R"(,"triggerEvent":"level_up","triggerTimeoutMillis":"15552000999",)"
                               R"("timeToLiveMillis":7776000000,"timeoutEventToLog":"_custom_timeout")"),
                       payload("exp_2", "0", "2024-03-02T10:00:00.000Z", R"(,"setEventToLog":"_custom_set")")}));
  EXPECT_EQ(analytics->running(kOrigin),
            (std::vector<std::pair<std::string, std::string>>{{"exp_1", "1"}, {"exp_2", "0"}}));
  auto sets = analytics->sets();
  ASSERT_EQ(sets.size(), 2u);
  const Value& first = sets[0];
  EXPECT_EQ(first["origin"], kOrigin);
  EXPECT_EQ(first["creationTimestamp"], kMarch1);
  EXPECT_EQ(first["name"], "exp_1");
  EXPECT_EQ(first["value"], "1");
  EXPECT_EQ(first["triggerEventName"], "level_up");
  EXPECT_EQ(first["triggerTimeout"], 15552000.0);  // whole seconds
  EXPECT_EQ(first["timeToLive"], 7776000.0);
  EXPECT_EQ(first["timedOutEvent"]["name"], "_custom_timeout");
  EXPECT_EQ(first["triggeredEvent"]["name"], "_exp_activate");
  EXPECT_EQ(first["expiredEvent"]["name"], "_exp_expire");
  for (const char* event : {"timedOutEvent", "triggeredEvent", "expiredEvent"}) {
    EXPECT_EQ(first[event]["origin"], kOrigin);
    EXPECT_EQ(first[event]["parameters"], (Value{{"exp_1", "1"}}));
    EXPECT_GE(first[event]["timestamp"].get<double>(), before);
  }
  EXPECT_FALSE(sets[1].contains("triggerEventName"));  // no trigger: active at once
  auto setEvents = analytics->eventsNamed("_exp_set");
  ASSERT_EQ(setEvents.size(), 1u);
  EXPECT_EQ(setEvents[0].parameters, (Value{{"exp_1", "1"}}));
  ASSERT_EQ(analytics->eventsNamed("_custom_set").size(), 1u);
  EXPECT_EQ(analytics->eventsNamed("_custom_set")[0].origin, kOrigin);
}

TEST_F(ExperimentController, RunningExperimentsThatNoPayloadNamesAreCleared) {
  analytics->addRunningExperiment(kOrigin, "exp_1", "1");
  analytics->addRunningExperiment(kOrigin, "exp_gone", "3");
  analytics->addRunningExperiment("other", "exp_gone", "3");
  // The same experiment and variant as running: nothing to do for it.
  EXPECT_FALSE(update({payload("exp_1", "1", "2024-03-01T10:00:00.000Z")}));
  EXPECT_TRUE(analytics->sets().empty());
  ASSERT_EQ(analytics->clears().size(), 1u);
  EXPECT_EQ(analytics->clears()[0].name, "exp_gone");
  EXPECT_EQ(analytics->clears()[0].eventName, "_exp_clear");
  EXPECT_EQ(analytics->clears()[0].parameters, (Value{{"exp_gone", "3"}}));
  EXPECT_EQ(analytics->running("other").size(), 1u);  // another origin is left alone
  // No payloads at all: every running experiment of the origin goes.
  EXPECT_FALSE(update({}));
  EXPECT_TRUE(analytics->running(kOrigin).empty());
}

TEST_F(ExperimentController, AnotherVariantReplacesTheRunningOneWhenItStartedLater) {
  analytics->addRunningExperiment(kOrigin, "exp_1", "1");
  EXPECT_FALSE(update({payload("exp_1", "2", "2024-03-02T10:00:00.000Z")}, kMarch1));
  EXPECT_EQ(analytics->running(kOrigin), (std::vector<std::pair<std::string, std::string>>{{"exp_1", "2"}}));
  ASSERT_EQ(analytics->clears().size(), 1u);  // cleared once, as matching no payload
  EXPECT_EQ(analytics->clears()[0].parameters, (Value{{"exp_1", "1"}}));
}

TEST_F(ExperimentController, APayloadThatStartedAtOrBeforeTheLastStartIsNotSet) {
  EXPECT_FALSE(update({payload("exp_1", "1", "2024-03-01T10:00:00.000Z")}, kMarch1));  // equal: not after
  EXPECT_FALSE(update({payload("exp_2", "1", "2024-02-01T10:00:00.000Z")}, kMarch1));
  EXPECT_TRUE(analytics->sets().empty());
  EXPECT_FALSE(update({payload("exp_3", "1", "2024-03-01T10:00:00.001Z")}, kMarch1));
  EXPECT_EQ(analytics->sets().size(), 1u);
  EXPECT_EQ(controller->latestExperimentStartTimestampBetweenTimestamp(
                kMarch1, {payload("a", "1", "2024-03-05T10:00:00.900Z"), payload("b", "1", "2024-03-04T10:00:00.000Z"),
                          Bytes{'x'}}),
            kMarch1 + 4 * 86400);
  EXPECT_EQ(controller->latestExperimentStartTimestampBetweenTimestamp(kMarch1 + 86400 * 10,
                                                                      {payload("a", "1", "2024-03-05T10:00:00.000Z")}),
            kMarch1 + 86400 * 10);
}

TEST_F(ExperimentController, ALastStartTimeBeyondAnyClockIsLoggedWithoutOverflow) {
  std::mutex mutex;
  std::vector<std::string> lines;
  ZIRLoggerInitializeWithArguments({"-ZIRDebugEnabled"});
  zir_logger::setSinkForTesting([&](ZIRLoggerLevel, const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  });
  auto notSetLine = [&](const std::string& experiment) {
    zir_logger::flush();
    std::lock_guard<std::mutex> lock(mutex);
    const std::string prefix = "Not setting experiment ID " + experiment + ", variant ID 1 due to the last update time ";
    for (const auto& line : lines) {
      const size_t at = line.find(prefix);
      if (at != std::string::npos) return line.substr(at + prefix.size());
    }
    return std::string("(no line)");
  };
  // A stored time far beyond the range of the logged milliseconds, and the time that a start of
  // 2^63-1 ms leaves behind (its milliseconds overflow), log the nearest number that can be printed.
  EXPECT_FALSE(update({payload("exp_1", "1", "2024-03-01T10:00:00.000Z")}, 1e30));
  EXPECT_EQ(notSetLine("exp_1"), "9223372036854775807.");
  const std::string json = R"({"experimentId":"exp_2","variantId":"1","experimentStartTimeMillis":9223372036854775807})";
  const Bytes latest(json.begin(), json.end());
  const double lastStart = controller->latestExperimentStartTimestampBetweenTimestamp(0, {latest});
  EXPECT_GT(lastStart, 9.2e15);
  EXPECT_FALSE(update({latest}, lastStart));
  EXPECT_EQ(notSetLine("exp_2"), "9223372036854775807.");
  // An ordinary time is whole seconds times 1000.
  EXPECT_FALSE(update({payload("exp_4", "1", "2024-03-01T10:00:00.000Z")}, kMarch1 + 0.75));
  EXPECT_EQ(notSetLine("exp_4"), "1709287200000.");
  EXPECT_TRUE(analytics->sets().empty());
  zir_logger::setSinkForTesting(nullptr);
  ZIRLoggerInitializeWithArguments({"-ZIRDebugDisabled"});
}

TEST_F(ExperimentController, AtTheLimitTheOverflowPolicyDecides) {
  analytics->setMaxUserProperties(2);
  analytics->addRunningExperiment(kOrigin, "old_1", "1");
  analytics->addRunningExperiment(kOrigin, "old_2", "1");
  const Bytes oldOne = payload("old_1", "1", "2024-01-01T00:00:00.000Z");
  const Bytes oldTwo = payload("old_2", "1", "2024-01-01T00:00:00.000Z");

  // Ignore the newest: nothing set, nothing cleared for room.
  EXPECT_FALSE(update({oldOne, oldTwo, payload("new", "1", "2024-03-02T10:00:00.000Z", R"(,"overflowPolicy":2)")}));
  EXPECT_TRUE(analytics->sets().empty());
  EXPECT_TRUE(analytics->clears().empty());

  // Discard the oldest (also the fallback for a policy text it does not know): the first listed goes.
  EXPECT_FALSE(update({oldOne, oldTwo, payload("new", "1", "2024-03-02T10:00:00.000Z", R"(,"overflowPolicy":"X")")},
                      0, kABTOverflowPolicyIgnoreNewest));
  EXPECT_TRUE(analytics->sets().empty());  // the caller's valid policy holds for an unknown text
  EXPECT_FALSE(update({oldOne, oldTwo, payload("new", "1", "2024-03-02T10:00:00.000Z", R"(,"overflowPolicy":"X")")},
                      0, 999));
  ASSERT_EQ(analytics->clears().size(), 1u);
  EXPECT_EQ(analytics->clears()[0].name, "old_1");
  EXPECT_EQ(analytics->running(kOrigin),
            (std::vector<std::pair<std::string, std::string>>{{"old_2", "1"}, {"new", "1"}}));

  // Far past the limit, still exactly one is cleared for room.
  analytics->setMaxUserProperties(1);
  EXPECT_FALSE(update({payload("old_2", "1", "2024-01-01T00:00:00.000Z"), payload("new", "1", "2024-03-02T10:00:00.000Z"),
                       payload("newer", "1", "2024-03-03T10:00:00.000Z")}));
  EXPECT_EQ(analytics->clears().size(), 2u);
  EXPECT_EQ(analytics->running(kOrigin).size(), 2u);
  // A negative maximum sets nothing.
  analytics->setMaxUserProperties(-1);
  EXPECT_FALSE(update({payload("neg", "1", "2024-03-04T10:00:00.000Z")}));
  EXPECT_EQ(analytics->eventsNamed("_exp_set").size(), 2u);
}

TEST_F(ExperimentController, ADroppedExperimentOfThePayloadsOwnIDIsClearedOnce) {
  analytics->setMaxUserProperties(1);
  analytics->addRunningExperiment(kOrigin, "exp_1", "1");
  controller->updateExperimentConditionalUserPropertiesWithServiceOrigin(
      kOrigin, ZIRLifecycleEvents(), 1, 0, {payload("exp_1", "1", "2024-01-01T00:00:00.000Z")}, nullptr);
  // Setting exp_1/2 directly: at the limit the oldest (exp_1/1) goes for room, and is not cleared again.
  auto second = ABTExperimentPayload::parseFromData(payload("exp_1", "2", "2024-03-02T10:00:00.000Z"));
  ABTConditionalUserPropertyController::sharedInstanceWithAnalytics(nullptr)->setExperimentWithOrigin(
      kOrigin, *second, ZIRLifecycleEvents(), 1);
  EXPECT_EQ(analytics->clears().size(), 1u);
  EXPECT_EQ(analytics->running(kOrigin), (std::vector<std::pair<std::string, std::string>>{{"exp_1", "2"}}));
}

TEST_F(ExperimentController, UndeserialisablePayloadsAreSkipped) {
  analytics->addRunningExperiment(kOrigin, "exp_1", "1");
  EXPECT_FALSE(update({Bytes{'{'}, Bytes{'[', ']'}, payload("exp_2", "1", "2024-03-02T10:00:00.000Z")}));
  EXPECT_EQ(analytics->running(kOrigin), (std::vector<std::pair<std::string, std::string>>{{"exp_2", "1"}}));
}

TEST_F(ExperimentController, WithoutAnalyticsNothingIsSetAndTheHandlerHearsWhy) {
  ABTConditionalUserPropertyController::resetSharedInstanceForTesting();
  auto alone = std::make_shared<ZIRExperimentController>(nullptr);
  NSErrorRef result;
  bool called = false;
  alone->updateExperimentConditionalUserPropertiesWithServiceOrigin(
      kOrigin, ZIRLifecycleEvents(), 1, 0, {payload("exp_1", "1", "2024-03-02T10:00:00.000Z")}, [&](NSErrorRef error) {
        result = error;
        called = true;
      });
  ASSERT_TRUE(called);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->domain(), "com.deruru.abtesting");
  EXPECT_EQ(result->code(), 1);
  EXPECT_EQ(result->localizedDescription(), "Failed to get conditional user properties from Zirezize Analytics.");
}

TEST_F(ExperimentController, UpdatesRunOnABackgroundQueueAndActivationClearsTheTrigger) {
  std::atomic<bool> done{false};
  controller->updateExperimentsWithServiceOrigin(kOrigin, ZIRLifecycleEvents(), 1, 0,
                                                 {payload("exp_1", "1", "2024-03-02T10:00:00.000Z")},
                                                 [&](NSErrorRef) { done = true; });
  ASSERT_TRUE(testsupport::waitFor([&] { return done.load(); }, 10));
  EXPECT_EQ(analytics->running(kOrigin).size(), 1u);

  auto triggered = ABTExperimentPayload::parseFromData(
      payload("exp_2", "1", "2024-03-02T10:00:00.000Z", R"(,"triggerEvent":"purchase")"));
  controller->activateExperiment(triggered, kOrigin);
  EXPECT_FALSE(analytics->sets().back().contains("triggerEventName"));
  controller->validateRunningExperimentsForServiceOrigin(kOrigin, {triggered});
  EXPECT_EQ(analytics->running(kOrigin), (std::vector<std::pair<std::string, std::string>>{{"exp_2", "1"}}));
}
