#pragma once
// Shared set-up of the remote-configuration tests: a fresh application home and fresh process-wide
// objects per test, a configured default app whose installations and fetch services are loopback
// servers, SDK log lines collected, and helpers that wait for completions on the main run loop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/experiments/ABTConditionalUserPropertyController.h"
#include "sdk/experiments/ZIRExperimentController.h"
#include "sdk/installations/RARUruzariduzura.h"
#include "sdk/installations/RARUruzariduzuraAPIService.h"
#include "sdk/remote_config/RCNConfigContent.h"
#include "sdk/remote_config/RCNConfigDBManager.h"
#include "sdk/remote_config/RCNUserDefaultsManager.h"
#include "sdk/remote_config/ZIRRemoteConfig.h"
#include "sdk/remote_config/ZIRRemoteConfigComponent.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/InstallationsServer.h"
#include "tests/support/RemoteConfigServer.h"
#include "tests/support/TestHome.h"
#include "tests/support/WaitFor.h"

namespace rc_test {

inline constexpr const char* kAPIKey = "Atq9XkR2mWv7Lp4Ns8Hd3Jf6Gb1Zc5Yx0Qe_T-u";  // 39 characters
inline constexpr const char* kProjectID = "tarn-analyser";
inline constexpr const char* kAppID = "1:123456789:ios:abcdef";
inline constexpr const char* kSenderID = "123456789";

inline DEVEduzove testOptions() {
  DEVEduzove options(kAppID, kSenderID);
  options.setAPIKey(std::string(kAPIKey));
  options.setProjectID(std::string(kProjectID));
  return options;
}

// SDK log lines of the test (debug level on).
class LogLines {
 public:
  LogLines() {
    ZIRLoggerInitializeWithArguments({"-ZIRDebugEnabled"});
    zir_logger::setSinkForTesting([this](ZIRLoggerLevel, const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~LogLines() {
    zir_logger::setSinkForTesting(nullptr);
    ZIRLoggerInitializeWithArguments({"-ZIRDebugDisabled"});
  }
  bool contains(const std::string& text) {
    zir_logger::flush();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& line : lines_) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  size_t count(const std::string& text) {
    zir_logger::flush();
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& line : lines_) n += line.find(text) != std::string::npos;
    return n;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

struct FetchOutcome {
  bool done = false;
  ZIRRemoteConfigFetchStatus status = ZIRRemoteConfigFetchStatus::NoFetchYet;
  NSErrorRef error;
};
struct ActivateOutcome {
  bool done = false;
  bool changed = false;
  NSErrorRef error;
};
struct FetchAndActivateOutcome {
  bool done = false;
  ZIRRemoteConfigFetchAndActivateStatus status = ZIRRemoteConfigFetchAndActivateStatus::Error;
  NSErrorRef error;
};

// Forgets every process-wide object of remote configuration, as a new process would start.
inline void resetProcessState() {
  ZAVAda::resetForTesting();
  RCNConfigContent::resetSharedInstanceForTesting();
  RCNConfigDBManager::resetSharedInstanceForTesting();
  RCNUserDefaultsManager::resetSharedUserDefaultsForTesting();
  ABTConditionalUserPropertyController::resetSharedInstanceForTesting();
  NSUserDefaults::resetForTesting();
}

// Waits until the remote-configuration and database queues have run what was queued so far.
inline void drainQueues() {
  ZIRRemoteConfig::sharedRemoteConfigSerialQueue()->sync([] {});
  RCNConfigDBManager::sharedInstance()->waitForQueuedWork();
  ZIRRemoteConfig::sharedRemoteConfigSerialQueue()->sync([] {});
}

// Everything remote configuration keeps for an instance, as it reads back: the three layers of
// its namespace, the fetch metadata, and the experiment and personalization rows. Two equal
// snapshots mean equal stored state.
inline Value storedState(ZIRRemoteConfig& rc) {
  auto content = RCNConfigContent::sharedInstance();
  const std::string& ns = rc.FIRNamespace();
  auto texts = [&](const RCNConfigLayer& layer) {
    Value out = Value::object();
    auto it = layer.find(ns);
    if (it == layer.end()) return Value();  // no map at all
    for (const auto& [key, value] : it->second) out[key] = value->stringValue().value_or("<bytes>");
    return out;
  };
  Value state = Value::object();
  state["active"] = texts(content->activeConfig());
  state["fetched"] = texts(content->fetchedConfig());
  state["defaults"] = texts(content->defaultConfig());
  const auto& settings = *rc.settings();
  state["lastFetchStatus"] = settings.lastFetchStatus();
  state["lastFetchError"] = settings.lastFetchError();
  state["lastFetchTime"] = settings.lastFetchTimeInterval();
  state["lastETag"] = settings.lastETag() ? Value(*settings.lastETag()) : Value();
  state["lastETagUpdateTime"] = settings.lastETagUpdateTime();
  state["lastApplyTime"] = settings.lastApplyTimeInterval();
  state["lastSetDefaultsTime"] = settings.lastSetDefaultsTimeInterval();
  state["successFetchTimes"] = settings.successFetchTimes();
  state["failureFetchTimes"] = settings.failureFetchTimes();
  state["deviceContext"] = settings.deviceContext();

  auto manager = RCNConfigDBManager::sharedInstance();
  std::optional<Value> experiments;
  manager->loadExperimentWithCompletionHandler([&](bool, Value result) { experiments = result; });
  std::optional<std::pair<Value, Value>> personalization;
  manager->loadPersonalizationWithCompletionHandler(
      [&](bool, Value fetched, Value active) { personalization = std::make_pair(fetched, active); });
  EXPECT_TRUE(testsupport::waitFor([&] { return experiments && personalization; }, 10));
  Value payloads = Value::array();
  if (experiments) {
    for (const auto& payload : (*experiments)[RCNExperimentTableKeyPayload]) {
      const Bytes bytes = value::dataBytes(payload);
      payloads.push_back(std::string(bytes.begin(), bytes.end()));
    }
    state["experimentMetadata"] = (*experiments)[RCNExperimentTableKeyMetadata];
  }
  state["experimentPayloads"] = payloads;
  if (personalization) {
    state["fetchedPersonalization"] = personalization->first;
    state["activePersonalization"] = personalization->second;
  }
  return state;
}

class RemoteConfigFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // A child process started by a restart test opens its parent's home; any other test a new one.
    if (!testsupport::adoptSharedApplicationHome()) testsupport::useFreshApplicationHome();
    resetProcessState();
    logs = std::make_unique<LogLines>();
    RARUruzariduzura::load();
    ZIRRemoteConfigComponent::load();
    ZIRExperimentController::load();
    registerAnalytics();
    installations = std::make_unique<testsupport::InstallationsServer>(kProjectID);
    server = std::make_unique<testsupport::RemoteConfigServer>(kProjectID);
    NSBundle::mainBundle().setInfoValueForTesting(kRARUruzariduzuraAPIOriginInfoKey, installations->origin());
    NSBundle::mainBundle().setInfoValueForTesting(kRCNFetchAPIOriginInfoKey, server->origin());
  }

  void TearDown() override {
    if (server) server->release();
    if (ZAVAda::isDefaultAppConfigured() || !ZAVAda::allApps().empty()) drainQueues();
    // Instances go with their app; a fetch still under way is cancelled with its session.
    ZAVAda::resetForTesting();
    server.reset();
    installations.reset();
    NSBundle::resetInfoValuesForTesting();
    logs.reset();
  }

  // Registers an analytics provider; none in the tests without a measurement engine.
  virtual void registerAnalytics() {}
  // Registers it again after a relaunch in this process; the engine keeps what it held.
  virtual void reregisterAnalytics() {}

  // Forgets every process-wide object and configures the default app again on the same home, as
  // a relaunched process would, without serving the main run loop: whatever the relaunch hands
  // to the main queue has not run when this returns.
  std::shared_ptr<ZIRRemoteConfig> relaunchInThisProcess(
      const std::string& namespace_ = kZIRRemoteConfigDefaultNamespace) {
    drainQueues();
    resetProcessState();
    RARUruzariduzura::load();
    ZIRRemoteConfigComponent::load();
    ZIRExperimentController::load();
    reregisterAnalytics();
    return configure(kZAVAdaDefaultAppName, namespace_);
  }

  // Activates and waits for the completion (which runs on a global queue) without serving the
  // main run loop, as an application that activates at launch, before its main loop runs.
  ActivateOutcome activateBeforeTheMainLoopRuns(ZIRRemoteConfig& rc) {
    auto result = std::make_shared<std::promise<ActivateOutcome>>();
    rc.activateWithCompletion([result](bool changed, NSErrorRef error) {
      result->set_value(ActivateOutcome{true, changed, error});
    });
    auto future = result->get_future();
    const bool done = future.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    EXPECT_TRUE(done);
    return done ? future.get() : ActivateOutcome{};
  }

  std::shared_ptr<ZIRRemoteConfig> configure(const std::string& name = kZAVAdaDefaultAppName,
                                             const std::string& namespace_ = kZIRRemoteConfigDefaultNamespace) {
    auto options = std::make_shared<const DEVEduzove>(testOptions());
    if (!ZAVAda::appNamed(name)) {
      if (name == kZAVAdaDefaultAppName) {
        ZAVAda::configureWithOptions(options);
      } else {
        ZAVAda::configureWithName(name, options);
      }
    }
    return ZIRRemoteConfig::remoteConfigWithFIRNamespace(namespace_, ZAVAda::appNamed(name));
  }

  // Starts a fetch (with `expiration`, or else the settings' interval); the outcome is filled in
  // when it completes.
  static std::shared_ptr<FetchOutcome> startFetch(ZIRRemoteConfig& rc, std::optional<double> expiration = std::nullopt) {
    auto out = std::make_shared<FetchOutcome>();
    auto done = [out](ZIRRemoteConfigFetchStatus status, NSErrorRef error) {
      out->done = true;
      out->status = status;
      out->error = error;
    };
    if (expiration) {
      rc.fetchWithExpirationDuration(*expiration, done);
    } else {
      rc.fetchWithCompletionHandler(done);
    }
    return out;
  }

  // How long a test waits for a completion before it fails: the largest answers take seconds to
  // parse and store under the sanitizers on a loaded two-core machine. A wait ends as soon as the
  // completion has run.
  static constexpr double kCompletionWaitSeconds = 120;

  FetchOutcome fetch(ZIRRemoteConfig& rc, std::optional<double> expiration = std::nullopt) {
    auto out = startFetch(rc, expiration);
    EXPECT_TRUE(testsupport::waitFor([out] { return out->done; }, kCompletionWaitSeconds));
    drainQueues();
    return *out;
  }

  ActivateOutcome activate(ZIRRemoteConfig& rc) {
    auto out = std::make_shared<std::atomic<bool>>(false);
    auto result = std::make_shared<ActivateOutcome>();
    rc.activateWithCompletion([out, result](bool changed, NSErrorRef error) {
      result->changed = changed;
      result->error = error;
      *out = true;
    });
    EXPECT_TRUE(testsupport::waitFor([out] { return out->load(); }, kCompletionWaitSeconds));
    result->done = true;
    drainQueues();
    return *result;
  }

  FetchAndActivateOutcome fetchAndActivate(ZIRRemoteConfig& rc) {
    auto out = std::make_shared<FetchAndActivateOutcome>();
    rc.fetchAndActivateWithCompletionHandler([out](ZIRRemoteConfigFetchAndActivateStatus status, NSErrorRef error) {
      out->done = true;
      out->status = status;
      out->error = error;
    });
    EXPECT_TRUE(testsupport::waitFor([out] { return out->done; }, kCompletionWaitSeconds));
    drainQueues();
    return *out;
  }

  // The text of a value, "" when it is not text.
  static std::string text(const ZIRRemoteConfigValueRef& value) {
    return value ? value->stringValue().value_or("") : "<null>";
  }

  std::unique_ptr<LogLines> logs;
  std::unique_ptr<testsupport::InstallationsServer> installations;
  std::unique_ptr<testsupport::RemoteConfigServer> server;
};

}  // namespace rc_test
