// The installations service end to end through its public class, against a loopback server.
#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/foundation/NSString.h"
#include "platform/security/Keychain.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/installations/RARUruzariduzuraErrorUtil.h"
#include "sdk/utilities/ZODKeychainUtils.h"
#include "tests/platform/foundation/PlistBuilders.h"
#include "tests/sdk/installations/InstallationsTestSupport.h"
#include "tests/support/ManualClock.h"

using namespace installations_test;
using Endpoint = testsupport::InstallationsServer::Endpoint;

namespace {

// Stores a registered record for the app directly, as an earlier run would have left it.
void storeRegisteredRecord(RARUruzariduzura& service, const std::string& fid, const std::string& refresh,
                           double expiresAt) {
  auto controller = service.installationsIDController();
  auto item = std::make_shared<RARUruzariduzuraItem>(controller->appID(), controller->appName());
  item->zirezizeInstallationID = fid;
  item->refreshToken = refresh;
  item->authToken = std::make_shared<RARUruzariduzuraStoredAuthToken>(1, "stored-token", expiresAt);
  item->registrationStatus = RARUruzariduzuraStatusRegistered;
  bool saved = false;
  controller->installationsStore()->saveInstallation(item)->observeOnQueue(
      ZEZPromiseDefaultQueue(), [&saved](const NSNull&) { saved = true; }, nullptr);
  ASSERT_TRUE(testsupport::waitFor([&] { return saved; }, 10));
}

// Overwrites the app's record in the keychain with bytes that do not decode, as damage would, and
// starts a new process's worth of objects (nothing cached in memory).
std::shared_ptr<RARUruzariduzura> damageStoredRecord(std::shared_ptr<RARUruzariduzura> service, const Bytes& bytes,
                                                     const std::function<std::shared_ptr<RARUruzariduzura>()>& relaunch) {
  auto controller = service->installationsIDController();
  const Value query = {
      {kSecClass, kSecClassGenericPassword},
      {kSecAttrService, RARUruzariduzuraIDController::keychainServiceWithAppID(controller->appID())},
      {kSecAttrAccount, RARUruzariduzuraItem::identifierWithAppID(controller->appID(), controller->appName())}};
  NSErrorRef error;
  EXPECT_TRUE(ZODKeychainUtils::getItemWithQuery(query, &error)) << "no record to damage";
  EXPECT_TRUE(ZODKeychainUtils::setItem(bytes, query, &error));
  service.reset();
  ZAVAda::resetAppsForTesting();
  return relaunch();
}

const Bytes kNotAnArchive = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'};

// Counts the service's "unexpected answer" lines, which are written just before a retry is
// scheduled, so that a test can step the clock only once the retry waits for it.
class AnswerWatcher {
 public:
  AnswerWatcher() {
    ZIRLoggerInitializeWithArguments({"-ZIRDebugEnabled"});
    zir_logger::setSinkForTesting([this](ZIRLoggerLevel, const std::string& line) {
      if (line.find("I-FIS001004") != std::string::npos) ++unexpected_;
    });
  }
  ~AnswerWatcher() {
    zir_logger::flush();
    zir_logger::setSinkForTesting(nullptr);
    ZIRLoggerInitializeWithArguments({"-ZIRDebugDisabled"});
  }
  // Waits until `count` unexpected answers were handled and the main queue has nothing left.
  bool waitForUnexpectedAnswers(int count) {
    bool seen = testsupport::waitFor([&] {
      zir_logger::flush();
      return unexpected_.load() >= count;
    });
    while (NSRunLoop::main().runOnce() > 0) {
    }
    return seen;
  }

 private:
  std::atomic<int> unexpected_{0};
};

}  // namespace

class InstallationsService : public InstallationsFixture {};

TEST_F(InstallationsService, NewInstallationRegistersAndGetsItsIdentifierAndToken) {
  auto service = configure();
  ASSERT_TRUE(service);
  EXPECT_EQ(service, RARUruzariduzura::installations());  // one instance per app, kept by the container

  auto id = installationID(*service);
  ASSERT_FALSE(id.error) << id.error->description();
  EXPECT_EQ(id.value.size(), 22u);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(lastChangeInfo[kRARUruzariduzuraIDDidChangeNotification], kZAVAdaDefaultAppName);

  auto token = authToken(*service);
  ASSERT_FALSE(token.error) << token.error->description();
  EXPECT_FALSE(token.value->authToken.empty());
  EXPECT_NEAR(token.value->expirationDate, Clock::now() + 604800, 60);

  // One registration: the background one started by the get, joined by the token request.
  auto registrations = server->requestsTo(Endpoint::Register);
  ASSERT_EQ(registrations.size(), 1u);
  const auto& r = registrations[0];
  auto body = value::parseJSON(r.body);
  ASSERT_TRUE(body);
  EXPECT_EQ((*body)["fid"], id.value);
  EXPECT_EQ((*body)["authVersion"], "FIS_v2");
  EXPECT_EQ((*body)["appId"], kAppID);
  EXPECT_EQ((*body)["sdkVersion"], "i:7.10.0");
  EXPECT_EQ(r.header("X-Deruru-Api-Key"), std::string(kAPIKey));
  EXPECT_EQ(r.header("X-Ios-Bundle-Identifier"), NSBundle::mainBundle().bundleIdentifier());
  EXPECT_EQ(r.header("Content-Type"), std::string("application/json"));
  EXPECT_FALSE(r.header("Authorization"));
  EXPECT_TRUE(r.header("X-zirezize-client"));
  EXPECT_TRUE(r.header("X-zirezize-client-log-type"));

  // The identifier is kept: asking again gives the same one without a new registration.
  EXPECT_EQ(installationID(*service).value, id.value);
  EXPECT_EQ(authToken(*service).value->authToken, token.value->authToken);
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 1u);
}

TEST_F(InstallationsService, ConcurrentRequestsShareOneOperation) {
  auto service = configure();
  std::vector<std::shared_ptr<Outcome<RARUruzariduzuraAuthTokenResultRef>>> outcomes;
  for (int i = 0; i < 5; ++i) {
    auto out = std::make_shared<Outcome<RARUruzariduzuraAuthTokenResultRef>>();
    outcomes.push_back(out);
    service->authTokenWithCompletion([out](RARUruzariduzuraAuthTokenResultRef t, NSErrorRef e) {
      out->done = true;
      out->value = t;
      out->error = e;
    });
  }
  ASSERT_TRUE(testsupport::waitFor([&] {
    for (auto& o : outcomes) if (!o->done) return false;
    return true;
  }, 15));
  for (auto& o : outcomes) {
    ASSERT_FALSE(o->error);
    EXPECT_EQ(o->value->authToken, outcomes[0]->value->authToken);
  }
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 1u);
  EXPECT_EQ(server->requestsTo(Endpoint::GenerateToken).size(), 0u);
}

TEST_F(InstallationsService, TokenIsRefreshedOnlyWhenLessThanAnHourRemains) {
  testsupport::ManualClock clock;
  auto service = configure();
  // Register once so that the server knows the identifier and its refresh token.
  ASSERT_FALSE(authToken(*service).error);
  const std::string fid = installationID(*service).value;
  const auto issued = server->refreshTokenFor(fid);
  ASSERT_TRUE(issued) << "the server issued no refresh token for " << fid;
  const std::string refresh = *issued;

  storeRegisteredRecord(*service, fid, refresh, Clock::now() + 3600);
  auto kept = authToken(*service);
  ASSERT_FALSE(kept.error);
  EXPECT_EQ(kept.value->authToken, "stored-token");
  EXPECT_EQ(server->requestsTo(Endpoint::GenerateToken).size(), 0u);

  storeRegisteredRecord(*service, fid, refresh, Clock::now() + 3599);
  auto refreshed = authToken(*service);
  ASSERT_FALSE(refreshed.error) << refreshed.error->description();
  EXPECT_NE(refreshed.value->authToken, "stored-token");
  auto generate = server->requestsTo(Endpoint::GenerateToken);
  ASSERT_EQ(generate.size(), 1u);
  EXPECT_EQ(generate[0].header("Authorization"), "FIS_v2 " + refresh);
  auto body = value::parseJSON(generate[0].body);
  EXPECT_EQ((*body)["installation"]["sdkVersion"], "i:7.10.0");

  // A forced refresh always asks the server.
  ASSERT_FALSE(authToken(*service, true).error);
  EXPECT_EQ(server->requestsTo(Endpoint::GenerateToken).size(), 2u);
}

TEST_F(InstallationsService, ServerIdentifierIsAdoptedWithTheChangeNotification) {
  server->setServerFID("fServerAssignedFID0001");
  auto service = configure();
  const std::string local = installationID(*service).value;
  EXPECT_EQ(changes, 1);
  ASSERT_FALSE(authToken(*service).error);
  EXPECT_EQ(changes, 2);  // the registration answered with another identifier
  EXPECT_NE(local, "fServerAssignedFID0001");
  EXPECT_EQ(installationID(*service).value, "fServerAssignedFID0001");
}

TEST_F(InstallationsService, SameIdentifierFromTheServerPostsNothing) {
  auto service = configure();
  installationID(*service);
  ASSERT_FALSE(authToken(*service).error);
  EXPECT_EQ(changes, 1);
}

TEST_F(InstallationsService, NotFoundOnRefreshMakesANewIdentifier) {
  auto service = configure();
  ASSERT_FALSE(authToken(*service).error);
  const std::string first = installationID(*service).value;
  server->scriptStatuses(Endpoint::GenerateToken, {404});
  const int changesBefore = changes;

  auto token = authToken(*service, true);
  ASSERT_FALSE(token.error) << token.error->description();
  const std::string second = installationID(*service).value;
  EXPECT_NE(first, second);
  EXPECT_EQ(second.size(), 22u);
  // Deleted locally (one notification), then created anew (another).
  EXPECT_EQ(changes, changesBefore + 2);
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 2u);
}

TEST_F(InstallationsService, RegenerationHappensAtMostOncePerOperation) {
  auto service = configure();
  installationID(*service);
  // Every registration is answered "unauthorized": without a bound this would loop for ever.
  server->scriptStatuses(Endpoint::Register, std::vector<int>(10, 401));
  auto token = authToken(*service);
  ASSERT_TRUE(token.error);
  EXPECT_EQ(token.error->domain(), kRARUruzariduzuraErrorDomain);
  // The background registration and the joined token request: the first attempt and one
  // regeneration, nothing more.
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 2u);
}

TEST_F(InstallationsService, BadRequestStopsRegistrationForADayWhileDeleteStillWorks) {
  testsupport::ManualClock clock;
  server->scriptStatuses(Endpoint::Register, {400});
  auto service = configure();
  auto first = authToken(*service);
  ASSERT_TRUE(first.error);
  EXPECT_EQ(first.error->code(), 0);
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 1u);

  auto held = authToken(*service);
  ASSERT_TRUE(held.error);
  EXPECT_EQ(held.error->code(), 2);
  EXPECT_EQ(held.error->localizedFailureReason(), std::string("Too many server requests."));
  clock.advance(86399);
  EXPECT_EQ(authToken(*service).error->code(), 2);
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 1u);

  // Deletion is not held back (the record is unregistered: it goes without a request).
  EXPECT_FALSE(deleteInstallation(*service));

  clock.advance(1);
  auto after = authToken(*service);
  EXPECT_FALSE(after.error);
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 2u);
}

TEST_F(InstallationsService, ServerErrorIsRetriedOnceASecondLater) {
  testsupport::ManualClock clock;
  AnswerWatcher watcher;
  server->scriptStatuses(Endpoint::Register, {500, 200});
  auto service = configure();
  auto out = std::make_shared<Outcome<RARUruzariduzuraAuthTokenResultRef>>();
  service->authTokenWithCompletion([out](RARUruzariduzuraAuthTokenResultRef t, NSErrorRef e) {
    out->done = true;
    out->value = t;
    out->error = e;
  });
  ASSERT_TRUE(watcher.waitForUnexpectedAnswers(1));
  // Nothing more until the clock has moved a second.
  clock.step(0.9);
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 1u);
  clock.step(0.1);
  ASSERT_TRUE(testsupport::waitFor([&] { return out->done; }, 10));
  EXPECT_FALSE(out->error);
  auto registrations = server->requestsTo(Endpoint::Register);
  ASSERT_EQ(registrations.size(), 2u);
  EXPECT_DOUBLE_EQ(registrations[1].time - registrations[0].time, 1.0);
}

TEST_F(InstallationsService, TwoServerErrorsFailAndUnavailableIsNotRetried) {
  testsupport::ManualClock clock;
  AnswerWatcher watcher;
  server->scriptStatuses(Endpoint::Register, {500, 500});
  auto service = configure();
  auto out = std::make_shared<Outcome<RARUruzariduzuraAuthTokenResultRef>>();
  service->authTokenWithCompletion([out](RARUruzariduzuraAuthTokenResultRef, NSErrorRef e) {
    out->done = true;
    out->error = e;
  });
  ASSERT_TRUE(watcher.waitForUnexpectedAnswers(1));
  clock.step(1.0);
  ASSERT_TRUE(testsupport::waitFor([&] { return out->done; }, 10));
  ASSERT_TRUE(out->error);
  auto http = RARUruzariduzuraErrorUtil::asAPIError(out->error);
  ASSERT_TRUE(http);
  EXPECT_EQ(http->HTTPResponse()->statusCode(), 500);
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 2u);

  // A recoverable failure holds requests back for 2 s and more; after that 503 is not retried.
  clock.advance(3);
  server->scriptStatuses(Endpoint::Register, {503});
  auto unavailable = authToken(*service);
  ASSERT_TRUE(unavailable.error);
  EXPECT_TRUE(RARUruzariduzuraErrorUtil::isAPIError(unavailable.error, 503));
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 3u);
}

TEST_F(InstallationsService, DeleteOfAnUnregisteredInstallationSendsNothing) {
  server->scriptStatuses(Endpoint::Register, {503});
  auto service = configure();
  installationID(*service);
  // The registration fails and leaves the record unregistered.
  EXPECT_TRUE(authToken(*service).error);
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 1u);
  const int before = changes;
  EXPECT_FALSE(deleteInstallation(*service));
  EXPECT_EQ(server->requestsTo(Endpoint::Delete).size(), 0u);
  EXPECT_EQ(changes, before + 1);
}

TEST_F(InstallationsService, DeleteOfARegisteredInstallationRemovesItEverywhere) {
  auto service = configure();
  ASSERT_FALSE(authToken(*service).error);
  const std::string first = installationID(*service).value;
  const auto issued = server->refreshTokenFor(first);
  ASSERT_TRUE(issued) << "the server issued no refresh token for " << first;
  const std::string refresh = *issued;
  EXPECT_FALSE(deleteInstallation(*service));
  auto deletes = server->requestsTo(Endpoint::Delete);
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0].body, "{}");
  EXPECT_EQ(deletes[0].header("Content-Type"), std::string("application/json"));
  EXPECT_EQ(deletes[0].header("Authorization"), "FIS_v2 " + refresh);
  EXPECT_FALSE(server->refreshTokenFor(first));

  // A new identifier follows; notifications for the deletion and for the creation.
  const int before = changes;
  const std::string second = installationID(*service).value;
  EXPECT_NE(first, second);
  EXPECT_EQ(changes, before + 1);
}

TEST_F(InstallationsService, DeleteSucceedsWhenTheServerCopyIsAlreadyGone) {
  auto service = configure();
  ASSERT_FALSE(authToken(*service).error);
  server->scriptStatuses(Endpoint::Delete, {404});
  EXPECT_FALSE(deleteInstallation(*service));
}

TEST_F(InstallationsService, AFailingKeychainDoesNotReplaceARegisteredIdentity) {
  auto service = configure();
  ASSERT_FALSE(authToken(*service).error);
  const std::string fid = installationID(*service).value;
  // A new process: nothing cached in memory, the record in the keychain.
  ZAVAda::resetAppsForTesting();
  service = configure();
  const int before = changes;

  security::injectKeychainFailure(security::KeychainOperation::CopyMatching, errSecInteractionNotAllowed, 1);
  auto failed = installationID(*service);
  ASSERT_TRUE(failed.error);
  EXPECT_EQ(failed.error->domain(), kRARUruzariduzuraErrorDomain);
  EXPECT_EQ(failed.error->code(), 0);
  ASSERT_TRUE(failed.error->underlyingError());
  EXPECT_EQ(changes, before);  // no new identifier was made

  auto again = installationID(*service);
  ASSERT_FALSE(again.error);
  EXPECT_EQ(again.value, fid);
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 1u);
}

TEST_F(InstallationsService, DeeplyNestedAnswersFailTheRequestWithAnError) {
  // About 120 KB of brackets, as a hostile or broken server might send, with debug lines off and on.
  const std::string deep = std::string(60000, '[') + std::string(60000, ']');
  int app = 0;
  for (bool debug : {false, true}) {
    ZIRLoggerInitializeWithArguments({debug ? "-ZIRDebugEnabled" : "-ZIRDebugDisabled"});
    for (int status : {200, 400}) {
      server->scriptAnswers(Endpoint::Register, {testsupport::ScriptedResponse::json(status, deep)});
      auto service = configure("deep" + std::to_string(++app));
      auto token = authToken(*service);
      ASSERT_TRUE(token.error) << status;
      EXPECT_EQ(token.error->domain(), kRARUruzariduzuraErrorDomain);
      if (status == 400) {
        EXPECT_TRUE(RARUruzariduzuraErrorUtil::isAPIError(token.error, 400));
      }
    }
  }
  zir_logger::flush();
  ZIRLoggerInitializeWithArguments({"-ZIRDebugDisabled"});
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 4u);
}

// No request of the test ever carried a header line that a token smuggled in.
static void expectNoInjectedHeader(const testsupport::InstallationsServer& server) {
  for (const auto& request : server.requests()) {
    for (const auto& [name, value] : request.headers) {
      EXPECT_EQ(name.find("Injected"), std::string::npos) << name << ": " << value;
      EXPECT_EQ(value.find("Injected"), std::string::npos) << name << ": " << value;
    }
  }
}

// A token or identifier with a line break would become header lines of the server's choosing in
// the next request: such an answer is refused like any other invalid answer.
TEST_F(InstallationsService, AnAnswerWithALineBreakInATokenIsRefused) {
  server->scriptAnswers(Endpoint::Register, {testsupport::ScriptedResponse::json(
      200, R"({"refreshToken":"rt-x\r\nX-Injected: 1","authToken":{"token":"t","expiresIn":"604800s"}})")});
  auto service = configure();
  auto refused = authToken(*service);
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->domain(), kRARUruzariduzuraErrorDomain);
  EXPECT_EQ(refused.error->code(), RARUruzariduzuraErrorCodeUnknown);
  EXPECT_NE(refused.error->localizedFailureReason().value_or("").find("refreshToken"), std::string::npos);

  // The next registration is answered properly; a token refresh answered with a line break in the
  // auth token fails and leaves the token the service had.
  auto registered = authToken(*service);
  ASSERT_FALSE(registered.error) << registered.error->description();
  server->scriptAnswers(Endpoint::GenerateToken, {testsupport::ScriptedResponse::json(
      200, R"({"token":"at-y\nX-Injected-By-LF: 1","expiresIn":"3600s"})")});
  auto refreshed = authToken(*service, true);
  ASSERT_TRUE(refreshed.error);
  EXPECT_EQ(refreshed.error->domain(), kRARUruzariduzuraErrorDomain);
  EXPECT_EQ(refreshed.error->code(), RARUruzariduzuraErrorCodeUnknown);
  EXPECT_EQ(authToken(*service).value->authToken, registered.value->authToken);
  ASSERT_FALSE(authToken(*service, true).error);  // and the one after is sent as usual
  expectNoInjectedHeader(*server);
}

// A stored record holding such a token (an earlier version accepted them) counts as invalid, as an
// undecodable one does: it is replaced, and the token is never sent.
TEST_F(InstallationsService, AStoredRecordWithALineBreakInItsTokenIsReplaced) {
  auto service = configure();
  ASSERT_FALSE(authToken(*service).error);
  const std::string first = installationID(*service).value;
  storeRegisteredRecord(*service, first, "rt-x\r\nX-Injected: 1", Clock::now() + 60);  // due for refresh
  service.reset();
  ZAVAda::resetAppsForTesting();
  service = configure();

  auto id = installationID(*service);
  ASSERT_FALSE(id.error) << id.error->description();
  EXPECT_NE(id.value, first);
  EXPECT_EQ(id.value.size(), 22u);
  auto token = authToken(*service);
  ASSERT_FALSE(token.error) << token.error->description();
  EXPECT_NE(token.value->authToken, "stored-token");
  EXPECT_EQ(server->requestsTo(Endpoint::GenerateToken).size(), 0u);
  expectNoInjectedHeader(*server);
}

// A record that will never decode holds no identity to protect: it is replaced like an invalid one.
TEST_F(InstallationsService, AnUndecodableRecordIsReplacedByANewIdentifier) {
  auto service = configure();
  ASSERT_FALSE(authToken(*service).error);
  const std::string first = installationID(*service).value;
  service = damageStoredRecord(service, kNotAnArchive, [this] { return configure(); });
  const int before = changes;

  auto id = installationID(*service);
  ASSERT_FALSE(id.error) << id.error->description();
  EXPECT_NE(id.value, first);
  EXPECT_EQ(id.value.size(), 22u);
  EXPECT_EQ(changes, before + 1);
  auto token = authToken(*service);
  ASSERT_FALSE(token.error) << token.error->description();
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 2u);
  // The new record is kept: a later process finds it.
  ZAVAda::resetAppsForTesting();
  service = configure();
  EXPECT_EQ(installationID(*service).value, id.value);

  // A record whose lists reference each other over and over decodes no faster than it is
  // refused: it is replaced in the same way.
  service = damageStoredRecord(
      service,
      plist_test::keyedArchiveListBomb(RARUruzariduzuraStoredItem::kClassName, "zirezizeInstallationID", 40),
      [this] { return configure(); });
  auto third = installationID(*service);
  ASSERT_FALSE(third.error) << third.error->description();
  EXPECT_NE(third.value, id.value);
  EXPECT_EQ(third.value.size(), 22u);
}

TEST_F(InstallationsService, DeleteClearsAnUndecodableRecord) {
  auto service = configure();
  ASSERT_FALSE(authToken(*service).error);
  const std::string first = installationID(*service).value;
  service = damageStoredRecord(service, kNotAnArchive, [this] { return configure(); });
  const int before = changes;

  EXPECT_FALSE(deleteInstallation(*service));
  EXPECT_EQ(changes, before + 1);
  EXPECT_EQ(server->requestsTo(Endpoint::Delete).size(), 0u);  // nothing known to name on the server
  const std::string second = installationID(*service).value;
  EXPECT_NE(second, first);
  EXPECT_EQ(second.size(), 22u);
}

// A get answers before the registration it started in the background is done. Once nothing holds
// the service any more, that registration is stored: the fixture relies on this to keep a test's
// leftover work out of the next test's home.
TEST_F(InstallationsService, ARegistrationStartedByAGetIsStoredBeforeTheServiceIsGone) {
  auto service = configure();
  const std::string fid = installationID(*service).value;
  ASSERT_EQ(fid.size(), 22u);
  service.reset();
  ZAVAda::resetAppsForTesting();
  ASSERT_TRUE(waitUntilServicesAreGone());
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 1u);

  // A later process finds the identifier registered: its token needs no second registration.
  service = configure();
  auto token = authToken(*service);
  ASSERT_FALSE(token.error) << token.error->description();
  EXPECT_EQ(installationID(*service).value, fid);
  EXPECT_EQ(server->requestsTo(Endpoint::Register).size(), 1u);
}

TEST_F(InstallationsService, InvalidOptionsRaiseWithTheMissingNames) {
  DEVEduzove options(kAppID, "1");
  options.setAPIKey(std::string(""));
  try {
    RARUruzariduzura::initWithAppOptions(options, "app");
    FAIL() << "expected an exception";
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "com.zirezize.installations");
    EXPECT_NE(e.reason().find("The following parameters are nil or empty: `ZirezizeOptions.APIKey`, "
                              "`ZirezizeOptions.projectID`."),
              std::string::npos)
        << e.reason();
    EXPECT_EQ(e.reason().rfind("[Zirezize/Installations][I-FIS008000] Could not configure", 0), 0u);
  }
}

TEST_F(InstallationsService, APIKeyFormatIsChecked) {
  auto reasonFor = [](const std::string& key) -> std::string {
    try {
      RARUruzariduzura::validateAPIKey(key);
    } catch (const NSException& e) {
      return e.reason();
    }
    return "";
  };
  const std::string b39 = "B" + std::string(38, 'x');
  std::string reason = reasonFor(b39);
  EXPECT_NE(reason.find("expected format: API Key must start with `A`. If you use"), std::string::npos) << reason;
  const std::string bad38 = "a+" + std::string(36, 'x');
  reason = reasonFor(bad38);
  EXPECT_NE(reason.find("expected format: API Key length must be 39 characters, API Key must start with `A`, "
                        "API Key must contain only base64 url-safe characters characters."),
            std::string::npos)
      << reason;
  EXPECT_EQ(reasonFor(kAPIKey), "");

  // Letters, marks and digits of every script are allowed; the length counts UTF-16 units.
  const std::string unicodeLetters = "A\u00e9\u00df\u0436\u05d0\u4e2d\u0663\u0966e\u0301\U0001D400";  // 12 units
  ASSERT_EQ(ns::toUTF16(unicodeLetters).size(), 12u);
  EXPECT_EQ(reasonFor(unicodeLetters + std::string(27, 'x')), "");
  for (const char* outside : {"\u20ac", " ", "+", "\u00b7", "\U0001F600"}) {  // a symbol, space, punctuation, emoji
    const std::string key = "A" + std::string(outside) + std::string(39 - ns::toUTF16(outside).size() - 1, 'x');
    ASSERT_EQ(ns::toUTF16(key).size(), 39u);
    EXPECT_NE(reasonFor(key).find("API Key must contain only base64 url-safe characters characters"), std::string::npos)
        << outside;
  }
}

TEST_F(InstallationsService, InstallationsWithoutADefaultAppRaises) {
  EXPECT_THROW(RARUruzariduzura::installations(), NSException);
}

TEST_F(InstallationsService, OtherAppsNeverTouchLegacyData) {
  auto service = configure("second");
  auto id = installationID(*service);
  ASSERT_FALSE(id.error);
  EXPECT_EQ(lastChangeInfo[kRARUruzariduzuraIDDidChangeNotification], "second");
  EXPECT_FALSE(deleteInstallation(*service));
}

TEST_F(InstallationsService, DebugLinesNeverCarryCredentials) {
  std::vector<std::string> lines;
  std::mutex m;
  ZIRLoggerInitializeWithArguments({"-ZIRDebugEnabled"});
  zir_logger::setSinkForTesting([&](ZIRLoggerLevel, const std::string& line) {
    std::lock_guard<std::mutex> lock(m);
    lines.push_back(line);
  });
  auto service = configure();
  ASSERT_FALSE(authToken(*service).error);
  const std::string fid = installationID(*service).value;
  ASSERT_FALSE(authToken(*service, true).error);
  zir_logger::flush();
  zir_logger::setSinkForTesting(nullptr);
  ZIRLoggerInitializeWithArguments({"-ZIRDebugDisabled"});

  const auto issued = server->refreshTokenFor(fid);
  ASSERT_TRUE(issued) << "the server issued no refresh token for " << fid;
  const std::string refresh = *issued;
  std::lock_guard<std::mutex> lock(m);
  bool sawRequestLine = false;
  for (const auto& line : lines) {
    if (line.find("I-FIS001001") != std::string::npos) sawRequestLine = true;
    EXPECT_EQ(line.find(refresh), std::string::npos) << line;
    EXPECT_EQ(line.find("auth-"), std::string::npos) << line;
  }
  EXPECT_TRUE(sawRequestLine);
}
