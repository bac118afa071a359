// Experiment payloads read from their JSON bytes, and the names of lifecycle events.
#include <gtest/gtest.h>

#include "sdk/experiments/ABTConstants.h"
#include "sdk/experiments/ABTExperimentPayload.h"
#include "sdk/experiments/ZIRLifecycleEvents.h"

namespace {
ABTExperimentPayloadRef parse(const std::string& json) {
  return ABTExperimentPayload::parseFromData(Bytes(json.begin(), json.end()));
}
}  // namespace

TEST(ExperimentPayload, ReadsEveryFieldOfADescription) {
  auto payload = parse(R"({"experimentId":"exp_1","variantId":"2","experimentStartTime":"2024-03-01T10:00:00.250Z",
    "triggerEvent":"level_up","triggerTimeoutMillis":"15552000000","timeToLiveMillis":7776000000,
    "overflowPolicy":"IGNORE_NEWEST","setEventToLog":"_s","activateEventToLog":"_a","clearEventToLog":"_c",
    "timeoutEventToLog":"_t","ttlExpiryEventToLog":"_e",
    "ongoingExperiments":[{"experimentId":"exp_0"},{"variantId":"x"},3]})");
  ASSERT_TRUE(payload);
  EXPECT_EQ(payload->experimentId(), "exp_1");
  EXPECT_EQ(payload->variantId(), "2");
  EXPECT_EQ(payload->experimentStartTimeMillis(), 1709287200250);
  EXPECT_EQ(payload->triggerEvent(), std::string("level_up"));
  EXPECT_EQ(payload->triggerTimeoutMillis(), 15552000000);  // 64-bit integers arrive as text too
  EXPECT_EQ(payload->timeToLiveMillis(), 7776000000);
  EXPECT_EQ(payload->overflowPolicy(), kABTOverflowPolicyIgnoreNewest);
  EXPECT_TRUE(payload->overflowPolicyIsValid());
  EXPECT_EQ(payload->setEventToLog(), std::string("_s"));
  EXPECT_EQ(payload->ttlExpiryEventToLog(), std::string("_e"));
  ASSERT_EQ(payload->ongoingExperiments().size(), 1u);
  EXPECT_EQ(payload->ongoingExperiments()[0].experimentId, "exp_0");
  payload->clearTriggerEvent();
  EXPECT_FALSE(payload->triggerEvent());
}

TEST(ExperimentPayload, OverflowPoliciesFromTextOrNumber) {
  auto policy = [](const std::string& field) {
    auto payload = parse(R"({"experimentId":"e","variantId":"v")" + field + "}");
    return payload ? payload->overflowPolicy() : -1;
  };
  EXPECT_EQ(policy(R"(,"overflowPolicy":"DISCARD_OLDEST")"), kABTOverflowPolicyDiscardOldest);
  EXPECT_EQ(policy(R"(,"overflowPolicy":"IGNORE_NEWEST")"), kABTOverflowPolicyIgnoreNewest);
  EXPECT_EQ(policy(R"(,"overflowPolicy":"SOMETHING")"), kABTOverflowPolicyUnrecognized);
  EXPECT_EQ(policy(R"(,"overflowPolicy":2)"), kABTOverflowPolicyIgnoreNewest);
  EXPECT_EQ(policy(""), kABTOverflowPolicyUnspecified);
  EXPECT_EQ(policy(R"(,"overflowPolicy":1e30)"), kABTOverflowPolicyUnrecognized);
}

TEST(ExperimentPayload, StartTimesFromTheDateTextOrMilliseconds) {
  auto start = [](const std::string& field) {
    auto payload = parse(R"({"experimentId":"e","variantId":"v")" + field + "}");
    return payload ? payload->experimentStartTimeMillis() : -1;
  };
  EXPECT_EQ(start(R"(,"experimentStartTime":"1970-01-01T00:00:01.000Z")"), 1000);
  EXPECT_EQ(start(R"(,"experimentStartTimeMillis":"123456")"), 123456);
  // The date text wins when present, even when it does not read.
  EXPECT_EQ(start(R"(,"experimentStartTime":"2024-02-30T00:00:00.000Z","experimentStartTimeMillis":5)"), 0);
  EXPECT_EQ(start(R"(,"experimentStartTime":"2024-03-01 10:00:00")"), 0);
  EXPECT_EQ(start(R"(,"experimentStartTime":17)"), 0);
  EXPECT_EQ(start(""), 0);
  EXPECT_EQ(ABTExperimentPayload::experimentStartTimeMillisFromText("2024-02-29T23:59:59.999Z"), 1709251199999);
  EXPECT_FALSE(ABTExperimentPayload::experimentStartTimeMillisFromText("2023-02-29T00:00:00.000Z"));
}

TEST(ExperimentPayload, BytesThatCannotNameAnExperimentGiveNoPayload) {
  EXPECT_FALSE(parse("not json"));
  EXPECT_FALSE(parse("[1,2]"));
  EXPECT_FALSE(parse("\"text\""));
  EXPECT_FALSE(parse("17"));
  EXPECT_FALSE(parse(R"({"experimentId":"e"})"));
  EXPECT_FALSE(parse(R"({"experimentId":"e","variantId":3})"));
  EXPECT_FALSE(parse(std::string(100, '[') + std::string(100, ']')));
  EXPECT_TRUE(parse(R"({"experimentId":"e","variantId":"v","triggerEvent":5})"));  // odd optional fields are dropped
}

TEST(LifecycleEvents, NamesMustBeginWithAnUnderscore) {
  ZIRLifecycleEvents events;
  EXPECT_EQ(events.setExperimentEventName(), "_exp_set");
  EXPECT_EQ(events.activateExperimentEventName(), "_exp_activate");
  EXPECT_EQ(events.clearExperimentEventName(), "_exp_clear");
  EXPECT_EQ(events.timeoutExperimentEventName(), "_exp_timeout");
  EXPECT_EQ(events.expireExperimentEventName(), "_exp_expire");
  events.setSetExperimentEventName(std::string("_custom"));
  EXPECT_EQ(events.setExperimentEventName(), "_custom");
  events.setSetExperimentEventName(std::string("exp_set"));
  EXPECT_EQ(events.setExperimentEventName(), "_exp_set");
  events.setClearExperimentEventName(std::nullopt);
  EXPECT_EQ(events.clearExperimentEventName(), "_exp_clear");
  events.setExpireExperimentEventName(std::string(""));
  EXPECT_EQ(events.expireExperimentEventName(), "_exp_expire");
}
