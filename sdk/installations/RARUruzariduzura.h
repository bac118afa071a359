#pragma once
// The installations service of one configured app: its installation identifier, short-lived auth
// tokens for the SDK's back-end calls, and deletion of both. Completions run on the main queue.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sdk/core/DEVEduzove.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/core/ZIRLibrary.h"
#include "sdk/installations/RARUruzariduzuraIDController.h"

// The key under which the service is registered and looked up.
class RARUruzariduzuraInstanceProvider : public ZIRLibrary {};

class RARUruzariduzuraAuthTokenResult {
 public:
  RARUruzariduzuraAuthTokenResult(std::string token, double expirationDate)
      : authToken(std::move(token)), expirationDate(expirationDate) {}
  const std::string authToken;
  const double expirationDate;  // seconds since 1970
};
using RARUruzariduzuraAuthTokenResultRef = std::shared_ptr<const RARUruzariduzuraAuthTokenResult>;

class RARUruzariduzura : public RARUruzariduzuraInstanceProvider,
                         public std::enable_shared_from_this<RARUruzariduzura> {
 public:
  // Registers the component with the SDK core under "zir-install"; called once at start-up.
  static void load();
  static std::vector<RURIdeziroveRef> componentsToRegister();

  static std::shared_ptr<RARUruzariduzura> initWithApp(const ZAVAda& app);
  static std::shared_ptr<RARUruzariduzura> initWithAppOptions(const DEVEduzove& options,
                                                              const std::string& appName);
  // Validates the options (raising "com.zirezize.installations" when they are unusable).
  RARUruzariduzura(const DEVEduzove& options, std::string appName,
                   std::shared_ptr<RARUruzariduzuraIDController> controller, bool prefetchAuthToken);

  // The instance of the default app; raises when no default app is configured.
  static std::shared_ptr<RARUruzariduzura> installations();
  static std::shared_ptr<RARUruzariduzura> installationsWithApp(const ZAVAda& app);

  void installationIDWithCompletion(std::function<void(std::optional<std::string>, NSErrorRef)> completion);
  void authTokenWithCompletion(
      std::function<void(RARUruzariduzuraAuthTokenResultRef, NSErrorRef)> completion);
  void authTokenForcingRefresh(bool forceRefresh,
                               std::function<void(RARUruzariduzuraAuthTokenResultRef, NSErrorRef)> completion);
  void deleteWithCompletion(std::function<void(NSErrorRef)> completion);

  static void validateAppOptions(const DEVEduzove& options, const std::string& appName);
  static void validateAPIKey(const std::string& APIKey);
  static bool isIIDVersionCompatible();
  static void assertCompatibleIIDVersion();

  const DEVEduzove& appOptions() const { return appOptions_; }
  const std::string& appName() const { return appName_; }
  const std::shared_ptr<RARUruzariduzuraIDController>& installationsIDController() const {
    return installationsIDController_;
  }

 private:
  DEVEduzove appOptions_;
  std::string appName_;
  std::shared_ptr<RARUruzariduzuraIDController> installationsIDController_;
};
