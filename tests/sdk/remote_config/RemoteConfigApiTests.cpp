// Remote configuration through its public class against the loopback fetch and installations
// servers, with no measurement engine in the process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "platform/foundation/NSDate.h"
#include "platform/foundation/PlistValue.h"
#include "platform/security/Crypto.h"
#include "sdk/remote_config/RCNDevice.h"
#include "sdk/utilities/ZODAppEnvironmentUtil.h"
#include "tests/sdk/remote_config/RemoteConfigTestSupport.h"
#include "tests/support/ManualClock.h"
#include "tests/support/ScopedEnvironment.h"

using namespace rc_test;
using testsupport::RemoteConfigServer;
using Status = ZIRRemoteConfigFetchStatus;
using Source = ZIRRemoteConfigSource;

namespace {

// The back-off's random half step: +1 (odd draw) or -1 (even draw), fixed for a scope.
class FixedBackoffSign {
 public:
  explicit FixedBackoffSign(bool plus) {
    security::setRandomUniformSourceForTesting([plus](uint32_t) { return plus ? 1u : 0u; });
  }
  ~FixedBackoffSign() { security::setRandomUniformSourceForTesting(nullptr); }
};

std::string authTokenOf(const std::string& appName = kZAVAdaDefaultAppName) {
  auto installations = RARUruzariduzura::installationsWithApp(*ZAVAda::appNamed(appName));
  std::string token;
  bool done = false;
  installations->authTokenWithCompletion([&](RARUruzariduzuraAuthTokenResultRef result, NSErrorRef) {
    token = result ? result->authToken : "";
    done = true;
  });
  EXPECT_TRUE(testsupport::waitFor([&] { return done; }, 15));
  return token;
}

std::string installationIDOf(const std::string& appName = kZAVAdaDefaultAppName) {
  auto installations = RARUruzariduzura::installationsWithApp(*ZAVAda::appNamed(appName));
  std::string fid;
  bool done = false;
  installations->installationIDWithCompletion([&](std::optional<std::string> id, NSErrorRef) {
    fid = id.value_or("");
    done = true;
  });
  EXPECT_TRUE(testsupport::waitFor([&] { return done; }, 15));
  return fid;
}

std::vector<std::string> sorted(std::vector<std::string> keys) {
  std::sort(keys.begin(), keys.end());
  return keys;
}

}  // namespace

class RemoteConfigApi : public RemoteConfigFixture {};

TEST_F(RemoteConfigApi, DefaultsFromADictionaryAnswerTypedValuesWithTheirSource) {
  auto rc = configure();
  ASSERT_TRUE(rc);
  Value defaults = {{"text", "hello"},
                    {"int", 42},
                    {"real", 2.5},
                    {"flag", true},
                    {"off", false},
                    {"bytes", value::data(std::string("\x01\x02\xff", 3))},
                    {"json", R"({"a":[1,2]})"},
                    {"list", Value::array({1, 2})},
                    {"when", value::date(86400 * 365)}};
  rc->setDefaults(defaults);

  // A read after setDefaults on the same thread sees the new defaults.
  auto hello = rc->configValueForKey("text");
  EXPECT_EQ(text(hello), "hello");
  EXPECT_EQ(hello->source(), Source::Default);
  EXPECT_EQ(rc->configValueForKey("int")->numberValue(), 42.0);
  EXPECT_TRUE(rc->configValueForKey("int")->boolValue());
  EXPECT_EQ(text(rc->configValueForKey("real")), "2.5");
  EXPECT_EQ(rc->configValueForKey("real")->numberValue(), 2.5);
  EXPECT_EQ(text(rc->configValueForKey("flag")), "1");
  EXPECT_TRUE(rc->configValueForKey("flag")->boolValue());
  EXPECT_FALSE(rc->configValueForKey("off")->boolValue());
  EXPECT_EQ(rc->configValueForKey("bytes")->dataValue(), Bytes({0x01, 0x02, 0xff}));
  EXPECT_FALSE(rc->configValueForKey("bytes")->stringValue());  // not UTF-8
  auto json = rc->configValueForKey("json")->JSONValue();
  ASSERT_TRUE(json);
  EXPECT_EQ((*json)["a"], Value::array({1, 2}));
  EXPECT_TRUE(std::regex_match(text(rc->configValueForKey("when")),
                               std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));

  // Arrays are not kept as defaults: the key reads as the static empty value.
  auto list = rc->configValueForKey("list");
  EXPECT_EQ(list->source(), Source::Static);
  EXPECT_EQ(text(list), "");
  EXPECT_FALSE(list->boolValue());
  EXPECT_EQ(list->numberValue(), 0);

  EXPECT_EQ(text(rc->defaultValueForKey("text")), "hello");
  EXPECT_FALSE(rc->defaultValueForKey("missing"));
  EXPECT_FALSE(rc->configValueForKey("text", Source::Remote));
  EXPECT_EQ(rc->configValueForKey("text", Source::Static)->source(), Source::Static);
  EXPECT_EQ(sorted(rc->allKeysFromSource(Source::Default)),
            (std::vector<std::string>{"bytes", "flag", "int", "json", "off", "real", "text", "when"}));
  EXPECT_TRUE(rc->allKeysFromSource(Source::Static).empty());
  EXPECT_TRUE(rc->allKeysFromSource(Source::Remote).empty());
  EXPECT_GT(rc->settings()->lastSetDefaultsTimeInterval(), 0);

  rc->setDefaults(Value());  // null clears the namespace's defaults
  EXPECT_TRUE(rc->allKeysFromSource(Source::Default).empty());
  EXPECT_EQ(rc->configValueForKey("text")->source(), Source::Static);
}

TEST_F(RemoteConfigApi, DefaultsFromAPropertyListFileOfTheMainBundle) {
  // A bundle folder of its own: the application's Info.plist and three defaults files.
  const std::string bundle = testsupport::useFreshApplicationHome() + "-bundle";
  std::filesystem::create_directories(bundle);
  std::filesystem::copy_file(NSBundle::mainBundle().bundlePath() + "/Info.plist", bundle + "/Info.plist");
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(bundle + "/" + name, std::ios::binary) << bytes;
  };
  write("RemoteConfigDefaults.plist", *ns::plistSerialize(Value{{"welcome", "Hi"}, {"level", 7}, {"beta", true}}, false));
  write("NotADictionary.plist", *ns::plistSerialize(Value::array({"a", "b"}), false));
  write("Broken.plist", "<plist><dict><key>x</key>");
  NSBundle::setMainBundlePathForTesting(bundle);
  struct RestoreBundle {
    ~RestoreBundle() { NSBundle::setMainBundlePathForTesting(""); }
  } restore;

  auto rc = configure();
  rc->setDefaultsFromPlistFileName("RemoteConfigDefaults");
  EXPECT_EQ(text(rc->configValueForKey("welcome")), "Hi");
  EXPECT_EQ(rc->configValueForKey("level")->numberValue(), 7);
  EXPECT_TRUE(rc->configValueForKey("beta")->boolValue());
  EXPECT_EQ(rc->configValueForKey("welcome")->source(), Source::Default);

  // Files that are missing or not a dictionary change nothing and say why.
  rc->setDefaultsFromPlistFileName("Missing");
  EXPECT_TRUE(logs->contains("I-RCN000037] The plist file 'Missing' could not be found by Remote Config."));
  rc->setDefaultsFromPlistFileName(std::string());
  EXPECT_TRUE(logs->contains("The plist file '' could not be found"));
  rc->setDefaultsFromPlistFileName("NotADictionary");
  rc->setDefaultsFromPlistFileName("Broken");
  EXPECT_EQ(logs->count("I-RCN000077"), 2u);
  EXPECT_EQ(sorted(rc->allKeysFromSource(Source::Default)), (std::vector<std::string>{"beta", "level", "welcome"}));
}

TEST_F(RemoteConfigApi, AFetchSendsTheRequestAndActivationMakesItsValuesRemote) {
  auto rc = configure();
  rc->setDefaults({{"greeting", "hi"}, {"limit", 3}});
  server->script({RemoteConfigServer::update({{"greeting", "hello"}, {"color", "blue"}, {"empty", ""}}, "etag-1")});

  auto fetched = fetch(*rc);
  ASSERT_EQ(fetched.status, Status::Success);
  EXPECT_FALSE(fetched.error);
  EXPECT_EQ(rc->lastFetchStatus(), Status::Success);
  EXPECT_NEAR(rc->lastFetchTime(), ns::timeIntervalSince1970(), 60);
  // Fetched values wait for activation.
  EXPECT_EQ(text(rc->configValueForKey("greeting")), "hi");
  EXPECT_EQ(rc->configValueForKey("greeting")->source(), Source::Default);

  auto requests = server->requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.raw.method, "POST");
  EXPECT_EQ(r.raw.path, server->fetchPath("zirezize"));
  EXPECT_EQ(r.raw.query, std::string("key=") + kAPIKey);
  EXPECT_EQ(r.raw.header("Content-Type"), std::string("application/json"));
  EXPECT_EQ(r.raw.header("Content-Encoding"), std::string("gzip"));
  EXPECT_EQ(r.raw.header("Accept-Encoding"), std::string("gzip"));
  EXPECT_EQ(r.raw.header("X-Ios-Bundle-Identifier"), NSBundle::mainBundle().bundleIdentifier());
  EXPECT_EQ(r.raw.header("x-deruru-zirezize-installations-auth"), authTokenOf());
  EXPECT_FALSE(r.raw.header("if-none-match"));
  ASSERT_TRUE(r.body) << r.raw.body;
  const auto& fields = r.body->fields;
  EXPECT_EQ(r.body->order,
            (std::vector<std::string>{"app_instance_id", "app_instance_id_token", "app_id", "country_code",
                                      "language_code", "platform_version", "time_zone", "package_name", "app_version",
                                      "app_build", "sdk_version"}));
  EXPECT_EQ(fields.at("app_instance_id"), installationIDOf());
  EXPECT_EQ(fields.at("app_instance_id_token"), authTokenOf());
  EXPECT_EQ(fields.at("app_id"), kAppID);
  EXPECT_EQ(fields.at("country_code"), ZIRRemoteConfigDeviceCountry().value_or("(null)"));
  EXPECT_EQ(fields.at("language_code"), ZIRRemoteConfigDeviceLocale());
  EXPECT_EQ(fields.at("platform_version"), ZODAppEnvironmentUtil::systemVersion());
  EXPECT_EQ(fields.at("time_zone"), ns::timeZoneName());
  EXPECT_EQ(fields.at("package_name"), *NSBundle::mainBundle().bundleIdentifier());
  EXPECT_EQ(fields.at("app_version"), "1.0");
  EXPECT_EQ(fields.at("app_build"), "1");
  EXPECT_EQ(fields.at("sdk_version"), "ZIRRemoteConfig_VERSION");
  EXPECT_FALSE(r.body->analyticsUserProperties);  // no measurement engine

  auto activated = activate(*rc);
  EXPECT_TRUE(activated.changed);
  EXPECT_FALSE(activated.error);
  EXPECT_EQ(text(rc->configValueForKey("greeting")), "hello");
  EXPECT_EQ(rc->configValueForKey("greeting")->source(), Source::Remote);
  EXPECT_EQ(text(rc->configValueForKey("empty")), "");
  EXPECT_EQ(rc->configValueForKey("empty")->source(), Source::Remote);
  EXPECT_EQ(rc->configValueForKey("limit")->numberValue(), 3);  // defaults still answer other keys
  EXPECT_EQ(text((*rc)["color"]), "blue");
  EXPECT_EQ(sorted(rc->allKeysFromSource(Source::Remote)), (std::vector<std::string>{"color", "empty", "greeting"}));
  EXPECT_EQ(rc->keysWithPrefix("gr"), (std::set<std::string>{"greeting"}));
  EXPECT_EQ(rc->keysWithPrefix(std::string()).size(), 3u);
  EXPECT_EQ(rc->keysWithPrefix(std::nullopt).size(), 3u);
  EXPECT_EQ(rc->keyEnumerator(), (std::vector<std::string>{"color", "empty", "greeting"}));

  // Without a new fetch there is nothing to activate.
  auto again = activate(*rc);
  EXPECT_FALSE(again.changed);
  EXPECT_FALSE(again.error);
  EXPECT_TRUE(logs->contains("Most recently fetched config is already activated."));
}

TEST_F(RemoteConfigApi, ActivatingBeforeAnyFetchChangesNothing) {
  auto rc = configure();
  auto activated = activate(*rc);
  EXPECT_FALSE(activated.changed);
  EXPECT_FALSE(activated.error);
  EXPECT_EQ(server->requestCount(), 0u);
  EXPECT_EQ(rc->lastFetchStatus(), Status::NoFetchYet);
  EXPECT_EQ(rc->lastFetchTime(), 0);
}

TEST_F(RemoteConfigApi, TheMinimumIntervalAnswersFromCacheAndTheETagIsSentBack) {
  testsupport::ManualClock clock;
  auto rc = configure();
  server->script({RemoteConfigServer::update({{"k", "1"}}, "etag-1"), RemoteConfigServer::update({{"k", "2"}}, "etag-2"),
                  RemoteConfigServer::update({{"k", "3"}}, "etag-3")});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_EQ(server->requestCount(), 1u);

  // Inside the twelve hours the cached result answers.
  auto cached = fetch(*rc);
  EXPECT_EQ(cached.status, Status::Success);
  EXPECT_FALSE(cached.error);
  EXPECT_TRUE(logs->contains("Returning cached data."));
  clock.advance(43200);  // exactly the interval is not past it
  EXPECT_EQ(fetch(*rc).status, Status::Success);
  EXPECT_EQ(server->requestCount(), 1u);

  clock.advance(1);
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_EQ(server->requestCount(), 2u);
  EXPECT_EQ(server->requests()[1].raw.header("if-none-match"), std::string("etag-1"));

  // A shorter interval asked for by the caller goes to the network as soon as any time passed.
  clock.advance(0.5);
  ASSERT_EQ(fetch(*rc, 0).status, Status::Success);
  ASSERT_EQ(server->requestCount(), 3u);
  EXPECT_EQ(server->requests()[2].raw.header("if-none-match"), std::string("etag-2"));
  EXPECT_EQ(rc->settings()->lastETag(), std::string("etag-3"));
  EXPECT_EQ(rc->settings()->successFetchTimes().size(), 3u);
}

TEST_F(RemoteConfigApi, ANotModifiedAnswerCountsAsAFailureAndStartsTheBackOff) {
  testsupport::ManualClock clock;
  FixedBackoffSign plus(true);
  auto rc = configure();
  server->script({RemoteConfigServer::update({{"k", "v"}}, "etag-1"), RemoteConfigServer::notModified("etag-1")});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);

  clock.advance(1);
  const double now = ns::timeIntervalSince1970();
  auto notModified = fetch(*rc, 0);
  EXPECT_EQ(notModified.status, Status::Failure);
  ASSERT_TRUE(notModified.error);
  EXPECT_EQ(notModified.error->domain(), kZIRRemoteConfigErrorDomain);
  EXPECT_EQ(notModified.error->code(), kZIRRemoteConfigErrorInternalError);
  EXPECT_EQ(notModified.error->localizedDescription(), "Internal Error. Status code: 304");
  EXPECT_EQ(rc->lastFetchStatus(), Status::Failure);
  EXPECT_EQ(rc->settings()->exponentialBackoffRetryInterval(), 120);
  EXPECT_EQ(rc->settings()->exponentialBackoffThrottleEndTime(), now + 180);
  EXPECT_EQ(text(rc->configValueForKey("k")), "v");  // the active values stay

  // The next fetch inside the back-off window is throttled without going out.
  auto throttled = fetch(*rc, 0);
  EXPECT_EQ(throttled.status, Status::Throttled);
  ASSERT_TRUE(throttled.error);
  EXPECT_EQ(throttled.error->code(), kZIRRemoteConfigErrorThrottled);
  EXPECT_EQ(throttled.error->userInfo()[kZIRRemoteConfigThrottledEndTimeInSecondsKey], now + 180);
  EXPECT_EQ(server->requestCount(), 2u);
  clock.advance(181);
  EXPECT_EQ(fetch(*rc, 0).status, Status::Success);
  EXPECT_EQ(server->requestCount(), 3u);
}

TEST_F(RemoteConfigApi, ServerOverloadThrottlesWithAnExponentialBackOffOnTheSteppedClock) {
  testsupport::ManualClock clock;
  FixedBackoffSign minus(false);
  auto rc = configure();
  server->script({RemoteConfigServer::update({{"k", "v"}}, "etag-1")});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  server->setDefaultAnswer(RemoteConfigServer::raw(503, R"({"error":{"code":503}})"));

  const std::vector<double> intervals = {120, 240, 480, 960, 1920, 3840, 7680, 7680};
  size_t requests = 1;
  for (double interval : intervals) {
    clock.advance(1);
    const double now = ns::timeIntervalSince1970();
    auto overloaded = fetch(*rc, 0);
    EXPECT_EQ(overloaded.status, Status::Throttled);
    ASSERT_TRUE(overloaded.error);
    EXPECT_EQ(overloaded.error->code(), kZIRRemoteConfigErrorThrottled);
    EXPECT_EQ(overloaded.error->userInfo()[kZIRRemoteConfigThrottledEndTimeInSecondsKey], now + interval / 2);
    EXPECT_EQ(rc->settings()->exponentialBackoffRetryInterval(), interval);
    EXPECT_EQ(server->requestCount(), ++requests);
    // Until the end time passes, fetches stay home.
    clock.advance(interval / 2 - 1);
    EXPECT_EQ(fetch(*rc, 0).status, Status::Throttled);
    EXPECT_EQ(server->requestCount(), requests);
    clock.advance(2);
  }
  // A success ends the back-off; the next failure starts it again at two minutes.
  for (int status : {429, 500, 504}) {
    server->script({RemoteConfigServer::update({{"k", "w"}}, "etag-2"), RemoteConfigServer::raw(status, "{}")});
    ASSERT_EQ(fetch(*rc, 0).status, Status::Success);
    clock.advance(1);
    EXPECT_EQ(fetch(*rc, 0).status, Status::Throttled) << status;
    EXPECT_EQ(rc->settings()->exponentialBackoffRetryInterval(), 120);
    clock.advance(61);
  }
  EXPECT_EQ(rc->settings()->failureFetchTimes().size(), intervals.size() + 3);
}

TEST_F(RemoteConfigApi, FailuresBeforeAnySuccessAreNotThrottled) {
  auto rc = configure();
  server->setDefaultAnswer(RemoteConfigServer::raw(503, "{}"));
  for (int i = 1; i <= 3; ++i) {
    auto failed = fetch(*rc, 0);
    EXPECT_EQ(failed.status, Status::Failure);
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->code(), kZIRRemoteConfigErrorInternalError);
    EXPECT_EQ(failed.error->localizedDescription(), "Internal Error. Status code: 503");
    EXPECT_EQ(server->requestCount(), static_cast<size_t>(i));
  }
  // The back-off interval never left 0: nothing is throttled.
  EXPECT_EQ(rc->settings()->exponentialBackoffRetryInterval(), 0);
  EXPECT_EQ(rc->lastFetchStatus(), Status::Failure);
}

TEST_F(RemoteConfigApi, AChangedDeviceContextForcesAFetchThroughIntervalAndThrottling) {
  testsupport::ScopedEnvironment environment;
  environment.set("LC_ALL", std::nullopt);
  environment.set("LC_MESSAGES", std::nullopt);
  environment.set("LANG", "en_US.UTF-8");
  environment.set("LANGUAGE", "en");
  testsupport::ManualClock clock;
  auto rc = configure();
  server->script({RemoteConfigServer::update({{"k", "v"}}, "etag-1")});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  EXPECT_EQ(rc->settings()->deviceContext()[RCNDeviceContextKeyDeviceLocale], "en");
  EXPECT_EQ(fetch(*rc).status, Status::Success);
  EXPECT_EQ(server->requestCount(), 1u);

  environment.set("LANGUAGE", "fr");
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_EQ(server->requestCount(), 2u);
  EXPECT_EQ(server->requests()[1].body->fields.at("language_code"), "fr");
  EXPECT_EQ(rc->settings()->deviceContext()[RCNDeviceContextKeyDeviceLocale], "fr");

  // Inside a throttle window a changed context still goes out.
  server->script({RemoteConfigServer::raw(503, "{}")});
  clock.advance(1);
  EXPECT_EQ(fetch(*rc, 0).status, Status::Throttled);
  EXPECT_EQ(fetch(*rc, 0).status, Status::Throttled);
  EXPECT_EQ(server->requestCount(), 3u);
  environment.set("LANGUAGE", "de");
  EXPECT_EQ(fetch(*rc, 0).status, Status::Success);
  EXPECT_EQ(server->requestCount(), 4u);
}

TEST_F(RemoteConfigApi, FetchAndActivateReportsItsOutcome) {
  auto rc = configure();
  server->script({RemoteConfigServer::update({{"k", "v"}}, "etag-1"), RemoteConfigServer::raw(503, "{}")});
  auto first = fetchAndActivate(*rc);
  EXPECT_EQ(first.status, ZIRRemoteConfigFetchAndActivateStatus::SuccessFetchedFromRemote);
  EXPECT_FALSE(first.error);
  EXPECT_EQ(text(rc->configValueForKey("k")), "v");

  // From the cache: fetched data already active, still a success.
  auto cached = fetchAndActivate(*rc);
  EXPECT_EQ(cached.status, ZIRRemoteConfigFetchAndActivateStatus::SuccessFetchedFromRemote);
  EXPECT_EQ(server->requestCount(), 1u);

  rc->setConfigSettings(ZIRRemoteConfigSettings{0, 60});
  auto overloaded = fetchAndActivate(*rc);
  EXPECT_EQ(overloaded.status, ZIRRemoteConfigFetchAndActivateStatus::Error);
  ASSERT_TRUE(overloaded.error);
  EXPECT_EQ(overloaded.error->code(), kZIRRemoteConfigErrorThrottled);
}

TEST_F(RemoteConfigApi, ASecondFetchWhileOneIsUnderWayDoesNotDisturbIt) {
  auto rc = configure();
  server->hold();
  auto first = startFetch(*rc, 0);
  ASSERT_TRUE(testsupport::waitFor([&] { return server->requestCount() >= 1; }, 15));
  // No fetch has succeeded yet: the duplicate is refused.
  auto duplicate = fetch(*rc, 0);
  EXPECT_EQ(duplicate.status, Status::Failure);
  ASSERT_TRUE(duplicate.error);
  EXPECT_EQ(duplicate.error->code(), kRCNErrorDuplicateRequest);
  EXPECT_EQ(duplicate.error->localizedDescription(), "FetchError: Duplicate request while the previous one is pending");
  server->release();
  ASSERT_TRUE(testsupport::waitFor([first] { return first->done; }, 30));
  EXPECT_EQ(first->status, Status::Success);

  // After a success the duplicate gets the last status.
  server->hold();
  auto second = startFetch(*rc, 0);
  ASSERT_TRUE(testsupport::waitFor([&] { return server->requestCount() >= 2; }, 15));
  auto again = fetch(*rc, 0);
  EXPECT_EQ(again.status, Status::Success);
  EXPECT_FALSE(again.error);
  server->release();
  ASSERT_TRUE(testsupport::waitFor([second] { return second->done; }, 30));
  EXPECT_EQ(server->requestCount(), 2u);
}

TEST_F(RemoteConfigApi, ReadingOrReplacingTheSettingsLetsARunningFetchFinish) {
  auto rc = configure();
  server->script({RemoteConfigServer::update({{"k", "fetched"}}, "etag-1")});
  server->hold();
  auto running = startFetch(*rc, 0);
  ASSERT_TRUE(testsupport::waitFor([&] { return server->requestCount() >= 1; }, 15));
  auto sessionBefore = rc->configFetch()->currentNetworkSession();

  const ZIRRemoteConfigSettings read = rc->configSettings();
  EXPECT_EQ(read.minimumFetchInterval, 43200);
  EXPECT_EQ(read.fetchTimeout, 60);
  EXPECT_EQ(rc->configFetch()->currentNetworkSession(), sessionBefore);  // a read leaves the session alone

  rc->setConfigSettings(ZIRRemoteConfigSettings{-5, 0});
  drainQueues();
  auto sessionAfter = rc->configFetch()->currentNetworkSession();
  EXPECT_NE(sessionAfter, sessionBefore);
  EXPECT_EQ(rc->configSettings().minimumFetchInterval, 0);  // negative becomes 0
  EXPECT_EQ(rc->configSettings().fetchTimeout, 60);         // 0 becomes the default

  server->release();
  ASSERT_TRUE(testsupport::waitFor([running] { return running->done; }, 30));
  drainQueues();
  EXPECT_EQ(running->status, Status::Success);
  EXPECT_FALSE(running->error);
  EXPECT_EQ(rc->lastFetchStatus(), Status::Success);
  EXPECT_TRUE(rc->settings()->failureFetchTimes().empty());
  EXPECT_EQ(rc->settings()->exponentialBackoffRetryInterval(), 0);
  ASSERT_TRUE(activate(*rc).changed);
  EXPECT_EQ(text(rc->configValueForKey("k")), "fetched");

  // Later fetches use the new session.
  rc->setConfigSettings(ZIRRemoteConfigSettings{0, 7});
  drainQueues();
  EXPECT_EQ(rc->configFetch()->currentNetworkSession()->configuration().timeoutIntervalForRequest, 7);
  EXPECT_EQ(fetch(*rc).status, Status::Success);
  EXPECT_EQ(server->requestCount(), 2u);
}

TEST_F(RemoteConfigApi, OneInstancePerNamespaceAndPerApp) {
  auto rc = configure();
  EXPECT_EQ(rc, ZIRRemoteConfig::remoteConfig());
  EXPECT_EQ(rc->FIRNamespace(), "zirezize:__ZAVADA_DEFAULT");
  auto other = ZIRRemoteConfig::remoteConfigWithFIRNamespace("other");
  EXPECT_NE(other, rc);
  EXPECT_EQ(other, ZIRRemoteConfig::remoteConfigWithFIRNamespace("other"));
  auto second = configure("second");
  ASSERT_TRUE(second);
  EXPECT_NE(second, rc);
  EXPECT_EQ(second->FIRNamespace(), "zirezize:second");
  EXPECT_EQ(second, ZIRRemoteConfig::remoteConfigWithApp(ZAVAda::appNamed("second")));
  EXPECT_EQ(rc->fullyQualifiedNamespace("abc"), "abc:__ZAVADA_DEFAULT");
  EXPECT_EQ(rc->fullyQualifiedNamespace("abc:x"), "abc:x");

  // Each reads and writes its own maps.
  rc->setDefaults({{"who", "default app"}});
  second->setDefaults({{"who", "second app"}});
  other->setDefaults({{"who", "other namespace"}});
  EXPECT_EQ(text(rc->configValueForKey("who")), "default app");
  EXPECT_EQ(text(second->configValueForKey("who")), "second app");
  EXPECT_EQ(text(other->configValueForKey("who")), "other namespace");

  server->script({RemoteConfigServer::update({{"who", "fetched for second"}}, "e")});
  ASSERT_EQ(fetch(*second).status, Status::Success);
  ASSERT_TRUE(activate(*second).changed);
  EXPECT_EQ(text(second->configValueForKey("who")), "fetched for second");
  EXPECT_EQ(text(rc->configValueForKey("who")), "default app");
  EXPECT_EQ(server->requests()[0].namespace_, "zirezize");
  EXPECT_EQ(server->requests()[0].raw.header("x-deruru-zirezize-installations-auth"), authTokenOf("second"));
}

TEST_F(RemoteConfigApi, AnAppWithoutASenderIDIsRefused) {
  DEVEduzove options = testOptions();
  options.setZCMSenderID(std::string());
  ZAVAda::configureWithName("nosender", std::make_shared<const DEVEduzove>(options));
  try {
    ZIRRemoteConfig::remoteConfigWithApp(ZAVAda::appNamed("nosender"));
    FAIL() << "no exception";
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "com.zirezize.config");
    EXPECT_NE(e.reason().find("missing the required ZCMSenderID property"), std::string::npos);
  }
  auto provider = RURIdeziroveType::instanceForProtocol<ZIRRemoteConfigProvider>(ZAVAda::appNamed("nosender")->container());
  ASSERT_TRUE(provider);
  EXPECT_TRUE(provider->instances().empty());
  EXPECT_FALSE(provider->remoteConfigForNamespace(std::nullopt));
}

TEST_F(RemoteConfigApi, WithoutADefaultAppThereIsNoInstance) {
  EXPECT_FALSE(ZIRRemoteConfig::remoteConfig());
  EXPECT_TRUE(logs->contains("I-RCN000047] ZAVAda not configured. Please make sure you have called [ZAVAda configure]"));
}

TEST_F(RemoteConfigApi, EnsureInitializedReportsTheLoadedDatabase) {
  auto rc = configure();
  std::atomic<bool> done{false};
  NSErrorRef error = NSError::errorWithDomain("unset", 1);
  rc->ensureInitializedWithCompletionHandler([&](NSErrorRef e) {
    error = e;
    done = true;
  });
  ASSERT_TRUE(testsupport::waitFor([&] { return done.load(); }, 40));
  EXPECT_FALSE(error);
}

TEST_F(RemoteConfigApi, TheAnswerStateDecidesWhatActivationFinds) {
  auto rc = configure();
  rc->setDefaults({{"a", "default"}});
  server->script({RemoteConfigServer::update({{"a", "1"}, {"b", "2"}}, "e1"),
                  RemoteConfigServer::state("NO_CHANGE", "e2"), RemoteConfigServer::state("EMPTY_CONFIG", "e3"),
                  RemoteConfigServer::update({{"c", "3"}}, "e4"), RemoteConfigServer::state("NO_TEMPLATE", "e5"),
                  RemoteConfigServer::state("SOMETHING_NEW", "e6")});
  auto fetchAndActivateOnce = [&] {
    EXPECT_EQ(fetch(*rc, 0).status, Status::Success);
    EXPECT_TRUE(activate(*rc).changed);
    return sorted(rc->allKeysFromSource(Source::Remote));
  };
  EXPECT_EQ(fetchAndActivateOnce(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(fetchAndActivateOnce(), (std::vector<std::string>{"a", "b"}));  // NO_CHANGE keeps what was fetched
  EXPECT_EQ(fetchAndActivateOnce(), std::vector<std::string>{});           // EMPTY_CONFIG
  EXPECT_EQ(text(rc->configValueForKey("a")), "default");
  EXPECT_EQ(fetchAndActivateOnce(), std::vector<std::string>{"c"});
  EXPECT_EQ(fetchAndActivateOnce(), std::vector<std::string>{});  // NO_TEMPLATE
  EXPECT_EQ(fetchAndActivateOnce(), std::vector<std::string>{});  // an unknown state changes nothing
}

TEST_F(RemoteConfigApi, AnotherNamespaceGetsItsContentButNotTheExperiments) {
  auto rc = configure(kZAVAdaDefaultAppName, "other");
  server->script({RemoteConfigServer::update({{"k", "v"}}, "e1", Value::array({{{"experimentId", "x"}, {"variantId", "1"}}}))});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  ASSERT_TRUE(activate(*rc).changed);
  EXPECT_EQ(text(rc->configValueForKey("k")), "v");
  EXPECT_EQ(server->requests()[0].raw.path, server->fetchPath("other"));
  bool loaded = false;
  Value stored;
  RCNConfigDBManager::sharedInstance()->loadExperimentWithCompletionHandler([&](bool, Value result) {
    stored = result;
    loaded = true;
  });
  ASSERT_TRUE(testsupport::waitFor([&] { return loaded; }, 10));
  EXPECT_TRUE(stored[RCNExperimentTableKeyPayload].empty());
}

TEST_F(RemoteConfigApi, WithoutAnAPIKeyTheRequestURLEndsAtTheMethod) {
  auto rc = configure();
  DEVEduzove options = testOptions();
  options.setAPIKey(std::nullopt);
  auto fetcher = RCNConfigFetch::create(RCNConfigContent::sharedInstance(), RCNConfigDBManager::sharedInstance(),
                                        rc->settings(), nullptr, nullptr, ZIRRemoteConfig::sharedRemoteConfigSerialQueue(),
                                        "zirezize:__ZAVADA_DEFAULT", options);
  EXPECT_EQ(fetcher->constructServerURL(), server->origin() + server->fetchPath("zirezize") + "?");
  EXPECT_TRUE(logs->contains("I-RCN000071] Missing `APIKey`"));
}

TEST_F(RemoteConfigApi, WithoutAMeasurementEngineExperimentsAreKeptButNothingIsSet) {
  auto rc = configure();
  const nlohmann::json experiment = {{"experimentId", "exp_1"}, {"variantId", "1"},
                                     {"experimentStartTime", "2024-03-01T10:00:00.000Z"}};
  server->script({RemoteConfigServer::update({{"k", "v"}}, "e1", nlohmann::json::array({experiment}),
                                             nlohmann::json{{"k", {{"choiceId", "c1"}}}})});
  ASSERT_EQ(fetch(*rc).status, Status::Success);
  EXPECT_FALSE(ZIRExperimentController::sharedInstance()->analytics());
  // Activation completes; the experiment update reports that there is no engine to keep them.
  auto activated = activate(*rc);
  EXPECT_TRUE(activated.changed);
  EXPECT_FALSE(activated.error);
  EXPECT_TRUE(logs->contains("I-ABT000003] Failed to get conditional user properties from Zirezize Analytics."));
  EXPECT_EQ(text(rc->configValueForKey("k")), "v");
  EXPECT_EQ(storedState(*rc)["experimentPayloads"], Value::array({experiment.dump()}));
}

TEST_F(RemoteConfigApi, InstancesAskedForFromManyThreadsAreOnePerNamespace) {
  configure();
  auto app = ZAVAda::defaultApp();
  constexpr int kThreads = 8;
  std::vector<std::shared_ptr<ZIRRemoteConfig>> got(kThreads * 4);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 4; ++i) got[t * 4 + i] = ZIRRemoteConfig::remoteConfigWithFIRNamespace("ns" + std::to_string(i), app);
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < 4; ++i) EXPECT_EQ(got[t * 4 + i], got[i]) << t << " " << i;
  }
  auto provider = RURIdeziroveType::instanceForProtocol<ZIRRemoteConfigProvider>(app->container());
  EXPECT_EQ(provider->instances().size(), 5u);  // the four and the default namespace
}

TEST_F(RemoteConfigApi, ReadsFromManyThreadsDuringFetchesAndActivationsSeeWholeValues) {
  auto rc = configure();
  rc->setConfigSettings(ZIRRemoteConfigSettings{0, 60});
  rc->setDefaults({{"k", "default"}, {"d", "default"}});
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::mutex seenMutex;
  std::set<std::string> seen;
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        const std::string k = text(rc->configValueForKey("k"));
        const std::string d = text(rc->configValueForKey("d"));
        const size_t keys = rc->allKeysFromSource(ZIRRemoteConfigSource::Remote).size();
        (void)rc->keysWithPrefix(std::string("k"));
        (void)rc->lastFetchStatus();
        {
          std::lock_guard<std::mutex> lock(seenMutex);
          seen.insert("k=" + k);
          seen.insert("d=" + d);
          seen.insert("keys=" + std::to_string(keys));
        }
        ++reads;
      }
    });
  }
  for (int round = 1; round <= 5; ++round) {
    const std::string v = "v" + std::to_string(round);
    server->script({RemoteConfigServer::update({{"k", v}, {"d", v}}, "etag-" + v)});
    EXPECT_EQ(fetchAndActivate(*rc).status, ZIRRemoteConfigFetchAndActivateStatus::SuccessFetchedFromRemote);
    rc->setDefaults({{"k", "default"}, {"d", "default " + v}});
  }
  EXPECT_TRUE(testsupport::waitFor([&] { return reads.load() > 20; }, 30));
  stop = true;
  for (auto& reader : readers) reader.join();
  // Every read found a value some step wrote, never a torn or missing one.
  std::set<std::string> possible = {"k=default", "d=default", "keys=0", "keys=2"};
  for (int r = 1; r <= 5; ++r) {
    const std::string v = "v" + std::to_string(r);
    possible.insert({"k=" + v, "d=" + v, "d=default " + v});
  }
  for (const auto& state : seen) EXPECT_TRUE(possible.count(state)) << state;
  EXPECT_EQ(text(rc->configValueForKey("k")), "v5");
  EXPECT_EQ(text(rc->configValueForKey("d")), "v5");
}
