#pragma once
// Shared set-up of the installations tests: a configured app whose service speaks to a loopback
// installations server.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/installations/RARUruzariduzura.h"
#include "tests/support/InstallationsServer.h"
#include "tests/support/WaitFor.h"

namespace installations_test {

inline constexpr const char* kAPIKey = "Atq9XkR2mWv7Lp4Ns8Hd3Jf6Gb1Zc5Yx0Qe_T-u";  // 39 characters
inline constexpr const char* kProjectID = "tarn-analyser";
inline constexpr const char* kAppID = "1:123456789:ios:abcdef";

inline DEVEduzove testOptions() {
  DEVEduzove options(kAppID, "123456789");
  options.setAPIKey(std::string(kAPIKey));
  options.setProjectID(std::string(kProjectID));
  return options;
}

// How long a call may take before the test gives up on it. Only a hang comes near it: a call takes
// well under a second, but a sanitizer build on a machine whose every core is busy several times
// over can make one that decodes a hostile record take over fifteen.
inline constexpr double kCallDeadlineSeconds = 60;

// Waits for a completion on the main run loop and hands its results back.
template <class T>
struct Outcome {
  bool done = false;
  T value{};
  NSErrorRef error;
};

class InstallationsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ZAVAda::resetForTesting();
    RARUruzariduzura::load();
    server = std::make_unique<testsupport::InstallationsServer>(kProjectID);
    NSBundle::mainBundle().setInfoValueForTesting(kRARUruzariduzuraAPIOriginInfoKey, server->origin());
    changes = 0;
    observer = NSNotificationCenter::defaultCenter().addObserverForName(
        kRARUruzariduzuraIDDidChangeNotification, nullptr, nullptr, [this](const NSNotification& n) {
          ++changes;
          lastChangeInfo = n.userInfo;
        });
  }
  void TearDown() override {
    observer.reset();
    ZAVAda::resetForTesting();
    EXPECT_TRUE(waitUntilServicesAreGone()) << "a service of this test still had work running";
    NSBundle::mainBundle().setInfoValueForTesting(kRARUruzariduzuraAPIOriginInfoKey, Value());
  }

  std::shared_ptr<RARUruzariduzura> configure(const std::string& name = kZAVAdaDefaultAppName) {
    auto options = std::make_shared<const DEVEduzove>(testOptions());
    if (name == kZAVAdaDefaultAppName) {
      ZAVAda::configureWithOptions(options);
    } else {
      ZAVAda::configureWithName(name, options);
    }
    auto service = RARUruzariduzura::installationsWithApp(*ZAVAda::appNamed(name));
    if (service) made_.push_back(service->installationsIDController());
    return service;
  }

  // A service goes on working after the call that started it has answered: a get starts the
  // registration in the background, and its record is saved when the server has answered. The
  // keychain and user defaults are those of the current home when a write runs, so work left over
  // from one test would land in the next test's home and overwrite what that test stored. Serves
  // the main queue until no service made by configure() is held by anything (no request, no
  // continuation, no write of it left to run); the caller has released its own references and the
  // apps first. False if one is still held when the deadline passes.
  bool waitUntilServicesAreGone(double timeoutSeconds = 30) {
    const bool gone = testsupport::waitFor(
        [this] {
          for (const auto& controller : made_) {
            if (!controller.expired()) return false;
          }
          return true;
        },
        timeoutSeconds);
    if (gone) made_.clear();
    return gone;
  }

  Outcome<std::string> installationID(RARUruzariduzura& service) {
    auto out = std::make_shared<Outcome<std::string>>();
    service.installationIDWithCompletion([out](std::optional<std::string> fid, NSErrorRef error) {
      out->done = true;
      out->value = fid.value_or("");
      out->error = error;
    });
    EXPECT_TRUE(testsupport::waitFor([out] { return out->done; }, kCallDeadlineSeconds));
    return *out;
  }

  Outcome<RARUruzariduzuraAuthTokenResultRef> authToken(RARUruzariduzura& service, bool force = false) {
    auto out = std::make_shared<Outcome<RARUruzariduzuraAuthTokenResultRef>>();
    service.authTokenForcingRefresh(force, [out](RARUruzariduzuraAuthTokenResultRef token, NSErrorRef error) {
      out->done = true;
      out->value = token;
      out->error = error;
    });
    EXPECT_TRUE(testsupport::waitFor([out] { return out->done; }, kCallDeadlineSeconds));
    return *out;
  }

  NSErrorRef deleteInstallation(RARUruzariduzura& service, bool* done = nullptr) {
    auto out = std::make_shared<Outcome<int>>();
    service.deleteWithCompletion([out](NSErrorRef error) {
      out->done = true;
      out->error = error;
    });
    EXPECT_TRUE(testsupport::waitFor([out] { return out->done; }, kCallDeadlineSeconds));
    if (done) *done = out->done;
    return out->error;
  }

  // Serves the main loop a little so that background work (registration after a get) settles.
  void settle(double seconds = 0.3) {
    testsupport::waitFor([] { return false; }, seconds);
  }

  std::unique_ptr<testsupport::InstallationsServer> server;
  NSObserverTokenRef observer;
  int changes = 0;
  Value lastChangeInfo;

 private:
  std::vector<std::weak_ptr<RARUruzariduzuraIDController>> made_;
};

}  // namespace installations_test
