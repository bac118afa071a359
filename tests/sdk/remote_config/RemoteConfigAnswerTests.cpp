// Fetch answers that are not what a client hopes for: server error objects, bodies that are not
// JSON, fields of the wrong kind, answers beyond the reader's limits, transport failures.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include "platform/foundation/NSString.h"
#include "tests/sdk/remote_config/RemoteConfigTestSupport.h"

using namespace rc_test;
using testsupport::RemoteConfigServer;
using Status = ZIRRemoteConfigFetchStatus;

namespace {

const nlohmann::json kExperiment = {{"experimentId", "exp_1"},
                                    {"variantId", "1"},
                                    {"experimentStartTime", "2024-03-01T10:00:00.000Z"}};

class RemoteConfigAnswers : public RemoteConfigFixture {
 protected:
  // A good fetch, activated, with an experiment: the state later answers must leave alone.
  std::shared_ptr<ZIRRemoteConfig> configureWithGoodState() {
    auto rc = configure();
    rc->setDefaults({{"d", "default"}});
    server->script({RemoteConfigServer::update({{"k", "good"}}, "etag-good", nlohmann::json::array({kExperiment}),
                                               nlohmann::json{{"k", {{"choiceId", "c1"}}}})});
    EXPECT_EQ(fetch(*rc).status, Status::Success);
    EXPECT_TRUE(activate(*rc).changed);
    return rc;
  }
};

}  // namespace

TEST_F(RemoteConfigAnswers, AServerErrorObjectInsideA200IsAFailureThatChangesNothing) {
  auto rc = configureWithGoodState();
  const Value before = storedState(*rc);
  server->script({RemoteConfigServer::serverError({{"code", 403}, {"status", "PERMISSION_DENIED"}, {"message", "nope"}}),
                  RemoteConfigServer::serverError({{"code", 500}}),
                  RemoteConfigServer::serverError("just text")});
  auto full = fetch(*rc, 0);
  EXPECT_EQ(full.status, Status::Failure);
  ASSERT_TRUE(full.error);
  EXPECT_EQ(full.error->code(), kZIRRemoteConfigErrorInternalError);
  EXPECT_EQ(full.error->localizedDescription(),
            "RCN Fetch Failure: Server returned error:code: 403. Status: PERMISSION_DENIED. Message: nope");
  EXPECT_TRUE(logs->contains("I-RCN000044] RCN Fetch Failure: Server returned error:code: 403."));
  auto partial = fetch(*rc, 0);
  EXPECT_EQ(partial.error->localizedDescription(), "RCN Fetch Failure: Server returned error:code: 500");
  auto bare = fetch(*rc, 0);
  EXPECT_EQ(bare.error->localizedDescription(), "RCN Fetch Failure: Server returned error:");
  // No status, metadata, back-off or tag changed.
  EXPECT_EQ(storedState(*rc), before);
  EXPECT_EQ(rc->lastFetchStatus(), Status::Success);
  EXPECT_EQ(rc->settings()->exponentialBackoffRetryInterval(), 0);
}

TEST_F(RemoteConfigAnswers, ABodyThatIsNotJSONCountsAsASuccessThatLeavesTheContent) {
  auto rc = configureWithGoodState();
  const Value before = storedState(*rc);
  server->script({RemoteConfigServer::raw(200, "<html>maintenance</html>", "text/html"),
                  RemoteConfigServer::raw(200, ""), RemoteConfigServer::raw(200, "42")});
  for (int i = 0; i < 3; ++i) {
    auto answer = fetch(*rc, 0);
    EXPECT_EQ(answer.status, Status::Success);
    EXPECT_FALSE(answer.error);
  }
  EXPECT_TRUE(logs->contains("I-RCN000042] RCN Fetch failure:"));
  EXPECT_TRUE(logs->contains("Empty response with no fetched config."));
  Value after = storedState(*rc);
  EXPECT_EQ(after["fetched"], before["fetched"]);
  EXPECT_EQ(after["experimentPayloads"], before["experimentPayloads"]);
  EXPECT_EQ(after["lastETag"], "etag-good");  // no tag in the answer: the stored one stays
  EXPECT_GT(after["lastETagUpdateTime"].get<double>(), before["lastETagUpdateTime"].get<double>());
  EXPECT_EQ(after["successFetchTimes"].size(), 4u);
  // The update time moved on, so activation runs (and finds the same values).
  EXPECT_TRUE(activate(*rc).changed);
  EXPECT_EQ(text(rc->configValueForKey("k")), "good");
}

TEST_F(RemoteConfigAnswers, FieldsOfTheWrongKindAreRefusedBeforeAnythingChanges) {
  auto rc = configureWithGoodState();
  const Value before = storedState(*rc);
  const std::vector<nlohmann::json> malformed = {
      {{"state", "UPDATE"}, {"entries", {{"k", 1}}}},
      {{"state", "UPDATE"}, {"entries", {{"k", "new"}, {"other", nullptr}}}},
      {{"state", "UPDATE"}, {"entries", nlohmann::json::array({"k"})}},
      {{"state", "UPDATE"}, {"entries", {{"k", "new"}}}, {"personalizationMetadata", "p"}},
      {{"state", "UPDATE"}, {"entries", {{"k", "new"}}}, {"experimentDescriptions", {{"x", 1}}}},
      {{"state", "UPDATE"}, {"entries", {{"k", "new"}}}, {"experimentDescriptions", nlohmann::json::array({1})}},
      {{"state", 7}, {"entries", {{"k", "new"}}}},
      nlohmann::json::array({1, 2, 3}),
  };
  for (const auto& answer : malformed) {
    server->script({RemoteConfigServer::json(answer, "etag-bad")});
    auto result = fetch(*rc, 0);
    EXPECT_EQ(result.status, Status::Failure) << answer.dump();
    ASSERT_TRUE(result.error) << answer.dump();
    EXPECT_EQ(result.error->code(), kZIRRemoteConfigErrorInternalError);
    EXPECT_EQ(result.error->localizedDescription().rfind("RCN Fetch failure: malformed answer: ", 0), 0u)
        << result.error->localizedDescription();
    EXPECT_EQ(storedState(*rc), before) << answer.dump();
  }
  EXPECT_EQ(server->requestCount(), malformed.size() + 1);
  EXPECT_EQ(rc->lastFetchStatus(), Status::Success);
  EXPECT_FALSE(activate(*rc).changed);  // nothing new was fetched
  EXPECT_EQ(text(rc->configValueForKey("k")), "good");
}

TEST_F(RemoteConfigAnswers, AnswersBeyondTheReadersLimitsAreRefused) {
  auto rc = configureWithGoodState();
  const Value before = storedState(*rc);
  std::string deep = R"({"state":"UPDATE","entries":{"k":"new"},"extra":)";
  deep += std::string(200, '[') + std::string(200, ']') + "}";
  std::string huge = R"({"state":"UPDATE","entries":{"k":")" + std::string(9u << 20, 'x') + R"("}})";
  server->script({RemoteConfigServer::raw(200, deep), RemoteConfigServer::raw(200, huge)});
  auto tooDeep = fetch(*rc, 0);
  EXPECT_EQ(tooDeep.status, Status::Failure);
  EXPECT_NE(tooDeep.error->localizedDescription().find("nests deeper than 64 levels"), std::string::npos);
  auto tooLarge = fetch(*rc, 0);
  EXPECT_EQ(tooLarge.status, Status::Failure);
  EXPECT_NE(tooLarge.error->localizedDescription().find("larger than the limit"), std::string::npos);
  EXPECT_EQ(storedState(*rc), before);
}

TEST_F(RemoteConfigAnswers, MoreEntriesThanTheStoreReadsBackAreRefused) {
  auto rc = configureWithGoodState();
  const Value before = storedState(*rc);
  // Small enough for the reader, but a launch would read back only the first rows of the table.
  std::string answer = R"({"state":"UPDATE","entries":{)";
  for (size_t i = 0; i <= kRCNMaxRowsPerLoad; ++i) answer += (i ? ",\"" : "\"") + std::to_string(i) + "\":\"\"";
  server->script({RemoteConfigServer::raw(200, answer + "}}")});
  auto result = fetch(*rc, 0);
  EXPECT_EQ(result.status, Status::Failure);
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->localizedDescription(),
            ns::format("RCN Fetch failure: malformed answer: \"entries\" holds more than %zu values.", kRCNMaxRowsPerLoad));
  EXPECT_EQ(storedState(*rc), before);
}

TEST_F(RemoteConfigAnswers, ATransportFailureIsAFailureWithItsDescription) {
  auto rc = configureWithGoodState();
  server.reset();  // nobody listens on the port any more
  auto result = fetch(*rc, 0);
  EXPECT_EQ(result.status, Status::Failure);
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->domain(), kZIRRemoteConfigErrorDomain);
  EXPECT_EQ(result.error->code(), kZIRRemoteConfigErrorInternalError);
  EXPECT_FALSE(result.error->localizedDescription().empty());
  EXPECT_TRUE(logs->contains("I-RCN000026] RCN Fetch failure:"));
  EXPECT_EQ(rc->settings()->exponentialBackoffRetryInterval(), 120);
  EXPECT_EQ(text(rc->configValueForKey("k")), "good");
}

TEST_F(RemoteConfigAnswers, WithoutAnInstallationTokenNothingIsSent) {
  auto rc = configure();
  installations.reset();  // the installations service cannot be reached
  auto result = fetch(*rc);
  EXPECT_EQ(result.status, Status::Failure);
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->code(), kZIRRemoteConfigErrorInternalError);
  EXPECT_EQ(result.error->localizedDescription().rfind("Failed to get installations token. Error : ", 0), 0u);
  EXPECT_EQ(server->requestCount(), 0u);
  EXPECT_FALSE(rc->settings()->isFetchInProgress());
  EXPECT_EQ(rc->lastFetchStatus(), Status::NoFetchYet);  // failures before sending change no metadata
}

TEST_F(RemoteConfigAnswers, PersonalizationWithinTheAnswerLimitsIsStoredSoThatItReadsBack) {
  auto rc = configure();
  // Small in the answer, but every item sits deep in the nesting: written with an indentation per
  // level, it would be many times its size.
  nlohmann::json deep = nlohmann::json::array();
  for (int i = 0; i < 90000; ++i) deep.push_back(1);
  for (int level = 0; level < 55; ++level) deep = nlohmann::json::array({deep});
  const nlohmann::json metadata = {{"k", {{"choiceId", "c1"}, {"arms", deep}}}};
  server->script({RemoteConfigServer::update({{"k", "v"}}, "etag-1", nlohmann::json::array(), metadata)});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  const Value stored = storedState(*rc);
  EXPECT_EQ(stored["fetchedPersonalization"], metadata);
  EXPECT_EQ(stored["activePersonalization"], metadata);
  // A relaunch finds both again.
  auto relaunched = relaunchInThisProcess();
  const Value reread = storedState(*relaunched);
  EXPECT_EQ(reread["fetchedPersonalization"], metadata);
  EXPECT_EQ(reread["activePersonalization"], metadata);
  EXPECT_EQ(*RCNConfigContent::sharedInstance()->activePersonalization(), metadata);
}

TEST_F(RemoteConfigAnswers, AnOriginThatNeverAnswersTimesOutWhileReadsGoOn) {
  auto rc = configureWithGoodState();
  rc->setConfigSettings(ZIRRemoteConfigSettings{0, 1});
  server->hold();  // the request is taken in and never answered
  auto out = std::make_shared<FetchAndActivateOutcome>();
  rc->fetchAndActivateWithCompletionHandler([out](ZIRRemoteConfigFetchAndActivateStatus status, NSErrorRef error) {
    out->status = status;
    out->error = error;
    out->done = true;
  });
  // The installations service answers on the main queue: the wait serves it.
  ASSERT_TRUE(testsupport::waitFor([&] { return server->requestCount() >= 2; }, 15));
  // While the request hangs, values, defaults and facts still answer.
  EXPECT_EQ(text(rc->configValueForKey("k")), "good");
  EXPECT_EQ(text(rc->configValueForKey("d")), "default");
  ASSERT_TRUE(testsupport::waitFor([out] { return out->done; }, 30));
  EXPECT_EQ(out->status, ZIRRemoteConfigFetchAndActivateStatus::Error);
  ASSERT_TRUE(out->error);
  EXPECT_EQ(out->error->code(), kZIRRemoteConfigErrorInternalError);
  drainQueues();
  EXPECT_EQ(rc->lastFetchStatus(), Status::Failure);
  EXPECT_FALSE(rc->settings()->isFetchInProgress());
  EXPECT_EQ(text(rc->configValueForKey("k")), "good");
  server->release();
}

TEST_F(RemoteConfigAnswers, AnAppThatGoesAwayWhileAFetchHangsLeavesTheStoreWhole) {
  auto rc = configureWithGoodState();
  const Value before = storedState(*rc);
  server->hold();
  auto out = startFetch(*rc, 0);
  ASSERT_TRUE(testsupport::waitFor([&] { return server->requestCount() >= 2; }, 15));
  // The app and its instances go; the request is cancelled with their session.
  std::weak_ptr<ZIRRemoteConfig> gone = rc;
  rc.reset();
  drainQueues();
  ZAVAda::resetForTesting();
  server->release();
  EXPECT_TRUE(testsupport::waitFor([&] { return gone.expired(); }, 15));
  // A relaunch finds the last good state.
  auto relaunched = relaunchInThisProcess();
  Value after = storedState(*relaunched);
  EXPECT_EQ(after["fetched"], before["fetched"]);
  EXPECT_EQ(after["active"], before["active"]);
  EXPECT_EQ(after["lastFetchStatus"], before["lastFetchStatus"]);
  EXPECT_EQ(text(relaunched->configValueForKey("k")), "good");
}

TEST_F(RemoteConfigAnswers, AnETagThatIsNotUTF8IsKeptWithoutHarmingTheRecord) {
  auto rc = configure();
  server->script({RemoteConfigServer::update({{"k", "v"}}, std::string("etag-\xff\xfe-\xc3"))});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  const Value before = storedState(*rc);
  // Whatever becomes of the header's bytes, the rest of the record is saved and read back.
  auto relaunched = relaunchInThisProcess();
  const Value after = storedState(*relaunched);
  EXPECT_GT(after["lastFetchTime"].get<double>(), 0);
  EXPECT_EQ(after["lastApplyTime"], before["lastApplyTime"]);
  EXPECT_EQ(after["lastETagUpdateTime"], before["lastETagUpdateTime"]);
  EXPECT_FALSE(activate(*relaunched).changed);
}

TEST_F(RemoteConfigAnswers, AnAnswerTheStoreCannotKeepLeavesTheStoredTagAndIsFetchedWholeAgain) {
  auto rc = configureWithGoodState();
  const auto stored = rc->settings()->userDefaultsManager();
  const double goodFetchTime = stored->lastFetchTime();
  // Another connection holds the database file through the next answer: none of its rows commit.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(RCNConfigDBManager::remoteConfigPathForDatabase().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  server->script({RemoteConfigServer::update({{"k", "new"}}, "etag-new")});
  ASSERT_EQ(fetch(*rc, 0).status, Status::Success);
  EXPECT_TRUE(logs->contains("I-RCN000079]"));
  // The user defaults still describe the rows the database kept.
  EXPECT_EQ(stored->lastETag(), std::string("etag-good"));
  EXPECT_EQ(stored->lastFetchTime(), goodFetchTime);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  // This process goes on with the answer it holds.
  ASSERT_TRUE(activate(*rc).changed);
  EXPECT_EQ(text(rc->configValueForKey("k")), "new");

  // The next fetch sends no tag, so the whole template comes again, and is stored this time.
  server->script({RemoteConfigServer::update({{"k", "new"}}, "etag-new")});
  ASSERT_EQ(fetch(*rc, 0).status, Status::Success);
  ASSERT_EQ(server->requestCount(), 3u);
  EXPECT_FALSE(server->requests()[2].raw.header("if-none-match"));
  EXPECT_EQ(stored->lastETag(), std::string("etag-new"));
  rc = relaunchInThisProcess();
  const Value after = storedState(*rc);
  EXPECT_EQ(after["fetched"], (Value{{"k", "new"}}));
  EXPECT_EQ(after["lastETag"], "etag-new");
}
