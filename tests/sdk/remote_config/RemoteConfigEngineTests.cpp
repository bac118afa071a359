// Remote configuration with a measurement engine in the process: a recording analytics interop is
// provided through the component container. Experiments of a fetch become conditional user
// properties at activation; personalization choices are logged when parameters are read; user
// properties travel with the request.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tests/sdk/measurement/RecordingAnalytics.h"
#include "tests/sdk/remote_config/RemoteConfigTestSupport.h"
#include "tests/support/ManualClock.h"

using namespace rc_test;
using testsupport::RecordingAnalytics;
using testsupport::RecordingAnalyticsLibrary;
using testsupport::RemoteConfigServer;
using Status = ZIRRemoteConfigFetchStatus;

namespace {

const nlohmann::json kExperimentOne = {{"experimentId", "exp_1"},
                                       {"variantId", "1"},
                                       {"experimentStartTime", "2024-03-01T10:00:00.000Z"},
                                       {"triggerEvent", "level_up"},
                                       {"triggerTimeoutMillis", "15552000000"},
                                       {"timeToLiveMillis", "7776000000"}};
const nlohmann::json kExperimentTwo = {{"experimentId", "exp_2"},
                                       {"variantId", "0"},
                                       {"experimentStartTime", "2024-03-02T10:00:00.000Z"},
                                       {"setEventToLog", "_custom_set"},
                                       {"activateEventToLog", ""}};

const nlohmann::json kPersonalization = {
    {"greeting", {{"choiceId", "c1"}, {"personalizationId", "p1"}, {"armIndex", 0}, {"group", "BASELINE"}}},
    {"partial", {{"choiceId", "c9"}}},
    {"nochoice", {{"personalizationId", "p2"}, {"armIndex", 1}, {"group", "P13N"}}}};

class RemoteConfigWithEngine : public RemoteConfigFixture {
 protected:
  void registerAnalytics() override { analytics = RecordingAnalyticsLibrary::install(); }
  // The engine of a relaunched process still holds the conditional user properties it had.
  void reregisterAnalytics() override {
    ZAVAda::registerInternalLibrary<RecordingAnalyticsLibrary>("test-analytics");
  }
  std::shared_ptr<RecordingAnalytics> analytics;
};

}  // namespace

TEST_F(RemoteConfigWithEngine, ExperimentsBecomeConditionalUserPropertiesAtActivation) {
  auto rc = configure();
  server->script({RemoteConfigServer::update({{"k", "v"}}, "e1", nlohmann::json::array({kExperimentOne, kExperimentTwo})),
                  RemoteConfigServer::update({{"k", "v"}}, "e2", nlohmann::json::array({kExperimentOne, kExperimentTwo})),
                  RemoteConfigServer::update({{"k", "v"}}, "e3")});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  EXPECT_TRUE(analytics->sets().empty());  // payloads wait for activation
  ASSERT_TRUE(activate(*rc).changed);

  EXPECT_EQ(analytics->running("frc"),
            (std::vector<std::pair<std::string, std::string>>{{"exp_1", "1"}, {"exp_2", "0"}}));
  auto sets = analytics->sets();
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0]["origin"], "frc");
  EXPECT_EQ(sets[0]["creationTimestamp"], 1709287200.0);
  EXPECT_EQ(sets[0]["triggerEventName"], "level_up");
  EXPECT_EQ(sets[0]["triggerTimeout"], 15552000.0);
  EXPECT_EQ(sets[0]["timeToLive"], 7776000.0);
  EXPECT_EQ(sets[0]["timedOutEvent"]["name"], "_exp_timeout");
  EXPECT_EQ(sets[0]["expiredEvent"]["parameters"], (Value{{"exp_1", "1"}}));
  EXPECT_EQ(sets[1]["triggeredEvent"]["name"], "_exp_activate");  // an empty name falls back
  EXPECT_FALSE(sets[1].contains("triggerEventName"));
  EXPECT_EQ(analytics->eventsNamed("_exp_set").size(), 1u);
  EXPECT_EQ(analytics->eventsNamed("_custom_set").size(), 1u);
  EXPECT_EQ(rc->settings()->lastApplyTimeInterval() > 0, true);

  // The same descriptions again set nothing: they are running and started before the new last start.
  ASSERT_EQ(fetch(*rc, 0).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  EXPECT_EQ(analytics->sets().size(), 2u);
  EXPECT_TRUE(analytics->clears().empty());

  // A fetch without descriptions empties the payloads; activation clears every running experiment.
  ASSERT_EQ(fetch(*rc, 0).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  EXPECT_TRUE(analytics->running("frc").empty());
  ASSERT_EQ(analytics->clears().size(), 2u);
  EXPECT_EQ(analytics->clears()[0].eventName, "_exp_clear");
  EXPECT_EQ(analytics->eventsNamed("_exp_clear").size(), 2u);
}

TEST_F(RemoteConfigWithEngine, AnActivationAtLaunchKeepsTheRunningExperimentsOfTheStoredPayloads) {
  testsupport::ManualClock clock;
  auto rc = configure();
  server->script({RemoteConfigServer::update({{"k", "v"}}, "e1", nlohmann::json::array({kExperimentOne, kExperimentTwo})),
                  RemoteConfigServer::update({{"k", "w"}}, "e2", nlohmann::json::array({kExperimentOne, kExperimentTwo}))});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  clock.advance(10);
  ASSERT_EQ(fetch(*rc, 0).status, Status::Success);  // the same experiments, fetched, not activated
  const auto running = analytics->running("frc");
  ASSERT_EQ(running.size(), 2u);

  // Relaunched, the application activates before its main loop runs: the stored payloads are
  // still the running experiments, so nothing is cleared or set again.
  rc = relaunchInThisProcess();
  clock.advance(10);
  // Activation completes once the experiment controller has updated the experiments.
  ASSERT_TRUE(activateBeforeTheMainLoopRuns(*rc).changed);
  EXPECT_EQ(analytics->running("frc"), running);
  EXPECT_TRUE(analytics->clears().empty());
  EXPECT_EQ(analytics->sets().size(), 2u);
}

TEST_F(RemoteConfigWithEngine, ANewVariantStartedBeforeTheLastStartIsNotSet) {
  auto rc = configure();
  nlohmann::json earlierVariant = kExperimentOne;
  earlierVariant["variantId"] = "2";
  earlierVariant["experimentStartTime"] = "2024-02-01T10:00:00.000Z";
  nlohmann::json later = {{"experimentId", "exp_3"}, {"variantId", "1"}, {"experimentStartTime", "2024-05-01T00:00:00.000Z"}};
  server->script({RemoteConfigServer::update({}, "e1", nlohmann::json::array({kExperimentOne})),
                  RemoteConfigServer::update({}, "e2", nlohmann::json::array({earlierVariant, later}))});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  ASSERT_EQ(fetch(*rc, 0).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  // exp_1/1 matched no payload and went; exp_1/2 started before the last start; exp_3 is new.
  EXPECT_EQ(analytics->running("frc"), (std::vector<std::pair<std::string, std::string>>{{"exp_3", "1"}}));
  EXPECT_TRUE(logs->contains("Not setting experiment ID exp_1, variant ID 2 due to the last update time 1709287200000."));
}

TEST_F(RemoteConfigWithEngine, UserPropertiesTravelWithTheRequest) {
  analytics->setUserProperties(Value{{"tier", "gold"}, {"visits", 12}});
  auto rc = configure();
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  auto requests = server->requests();
  ASSERT_EQ(requests.size(), 1u);
  ASSERT_TRUE(requests[0].body);
  ASSERT_TRUE(requests[0].body->analyticsUserProperties);
  EXPECT_EQ(*requests[0].body->analyticsUserProperties, (nlohmann::json{{"tier", "gold"}, {"visits", 12}}));
}

TEST_F(RemoteConfigWithEngine, APersonalizedParameterIsLoggedOncePerChoiceAndTemplate) {
  auto rc = configure();
  nlohmann::json changed = kPersonalization;
  changed["greeting"]["choiceId"] = "c2";
  server->script({RemoteConfigServer::update({{"greeting", "hello"}, {"partial", "x"}, {"nochoice", "y"}, {"plain", "z"}},
                                             "e1", std::nullopt, kPersonalization),
                  RemoteConfigServer::update({{"greeting", "hello"}}, "e2", std::nullopt, kPersonalization),
                  RemoteConfigServer::update({{"greeting", "hi"}}, "e3", std::nullopt, changed)});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  for (int i = 0; i < 2; ++i) {
    for (const char* key : {"greeting", "partial", "nochoice", "plain", "missing"}) rc->configValueForKey(key);
  }
  drainQueues();
  auto assignments = analytics->eventsNamed("personalization_assignment");
  ASSERT_EQ(assignments.size(), 1u);
  EXPECT_EQ(assignments[0].origin, "fp");
  EXPECT_EQ(assignments[0].parameters, (Value{{"arm_key", "greeting"},
                                              {"arm_value", "hello"},
                                              {"personalization_id", "p1"},
                                              {"arm_index", 0},
                                              {"group", "BASELINE"}}));
  auto choices = analytics->eventsNamed("_fpc");
  ASSERT_EQ(choices.size(), 1u);
  EXPECT_EQ(choices[0].parameters, (Value{{"_fpid", "c1"}}));

  // A newly received template with the same choice counts as new.
  ASSERT_EQ(fetch(*rc, 0).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  rc->configValueForKey("greeting");
  drainQueues();
  EXPECT_EQ(analytics->eventsNamed("_fpc").size(), 2u);
  // A different choice is logged with the new arm value.
  ASSERT_EQ(fetch(*rc, 0).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  rc->configValueForKey("greeting");
  rc->configValueForKey("greeting");
  drainQueues();
  assignments = analytics->eventsNamed("personalization_assignment");
  ASSERT_EQ(assignments.size(), 3u);
  EXPECT_EQ(assignments[2].parameters["arm_value"], "hi");
  EXPECT_EQ(analytics->eventsNamed("_fpc").back().parameters, (Value{{"_fpid", "c2"}}));
}

TEST_F(RemoteConfigWithEngine, TheChoiceAndArmIndexAreLoggedAsTheAnswerGivesThem) {
  auto rc = configure();
  const nlohmann::json personalization = {
      {"text-arm", {{"choiceId", "c5"}, {"personalizationId", "p1"}, {"armIndex", "3"}, {"group", "P13N"}}},
      {"number-choice", {{"choiceId", 42}, {"personalizationId", "p2"}, {"armIndex", 1}, {"group", "P13N"}}},
      {"object-choice",
       {{"choiceId", {{"id", "c7"}}}, {"personalizationId", "p3"}, {"armIndex", {1, 2}}, {"group", "BASELINE"}}},
      {"null-choice", {{"choiceId", nullptr}, {"personalizationId", "p4"}, {"armIndex", 0}, {"group", "P13N"}}},
      {"null-arm", {{"choiceId", "c8"}, {"personalizationId", "p5"}, {"armIndex", nullptr}, {"group", "P13N"}}}};
  server->script({RemoteConfigServer::update(
      {{"text-arm", "a"}, {"number-choice", "b"}, {"object-choice", "c"}, {"null-choice", "d"}, {"null-arm", "e"}},
      "e1", std::nullopt, personalization)});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  for (int i = 0; i < 2; ++i) {
    for (const char* key : {"text-arm", "number-choice", "object-choice", "null-choice", "null-arm"}) {
      rc->configValueForKey(key);
    }
  }
  drainQueues();
  std::map<std::string, Value> armIndexByKey;
  for (const auto& event : analytics->eventsNamed("personalization_assignment")) {
    EXPECT_FALSE(armIndexByKey.count(event.parameters["arm_key"])) << "logged twice";
    armIndexByKey[event.parameters["arm_key"]] = event.parameters["arm_index"];
  }
  EXPECT_EQ(armIndexByKey, (std::map<std::string, Value>{
                               {"text-arm", "3"}, {"number-choice", 1}, {"object-choice", Value::array({1, 2})}}));
  std::vector<Value> choices;
  for (const auto& event : analytics->eventsNamed("_fpc")) choices.push_back(event.parameters["_fpid"]);
  EXPECT_EQ(choices.size(), 3u);
  for (const Value& expected : {Value("c5"), Value(42), Value{{"id", "c7"}}}) {
    EXPECT_NE(std::find(choices.begin(), choices.end(), expected), choices.end()) << expected.dump();
  }
}

TEST_F(RemoteConfigWithEngine, OnlyTheDefaultAppSpeaksToTheEngine) {
  analytics->setUserProperties(Value{{"tier", "gold"}});
  auto second = configure("second");
  server->script({RemoteConfigServer::update({{"greeting", "hello"}}, "e1", std::nullopt, kPersonalization)});
  ASSERT_EQ(fetch(*second).status, Status::Success);
  ASSERT_TRUE(activate(*second).changed);
  second->configValueForKey("greeting");
  drainQueues();
  EXPECT_FALSE(server->requests()[0].body->analyticsUserProperties);
  EXPECT_TRUE(analytics->events().empty());
}
