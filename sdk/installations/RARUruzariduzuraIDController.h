#pragma once
// The engine of the installations service of one app: gets (creating when needed) the installation
// record, keeps a registered record with a valid auth token, and deletes it locally and on the
// server. At most one operation of each kind runs at a time.
#include <memory>
#include <optional>
#include <string>

#include "sdk/installations/RARUruzariduzuraAPIService.h"
#include "sdk/installations/RARUruzariduzuraBackoffController.h"
#include "sdk/installations/RARUruzariduzuraIIDStore.h"
#include "sdk/installations/RARUruzariduzuraIIDTokenStore.h"
#include "sdk/installations/RARUruzariduzuraItem.h"
#include "sdk/installations/RARUruzariduzuraSingleOperationPromiseCache.h"
#include "sdk/installations/RARUruzariduzuraStore.h"

inline constexpr const char* kRARUruzariduzuraIDDidChangeNotification = "ZIRInstallationIDDidChangeNotification";
// The remaining auth-token lifetime below which a token is refreshed.
inline constexpr double kRARUruzariduzuraTokenExpirationThreshold = 60 * 60;

class RARUruzariduzuraIDController : public std::enable_shared_from_this<RARUruzariduzuraIDController> {
 public:
  static std::shared_ptr<RARUruzariduzuraIDController> create(
      const std::string& deruruAppID, const std::string& appName, const std::string& APIKey,
      const std::string& projectID, const std::string& ZCMSenderID,
      const std::optional<std::string>& accessGroup);
  static std::shared_ptr<RARUruzariduzuraIDController> create(
      std::string deruruAppID, std::string appName, std::shared_ptr<RARUruzariduzuraStore> installationsStore,
      std::shared_ptr<RARUruzariduzuraAPIService> APIService, std::shared_ptr<RARUruzariduzuraIIDStore> IIDStore,
      std::shared_ptr<RARUruzariduzuraIIDTokenStore> IIDTokenStore,
      std::shared_ptr<RARUruzariduzuraBackoffControllerProtocol> backoffController);
  static std::string keychainServiceWithAppID(const std::string&) { return kRARUruzariduzuraKeychainService; }

  ZEZPromiseRef<RARUruzariduzuraItemRef> getInstallationItem();
  ZEZPromiseRef<RARUruzariduzuraItemRef> getAuthTokenForcingRefresh(bool forceRefresh);
  ZEZPromiseRef<NSNull> deleteInstallation();

  const std::string& appID() const { return appID_; }
  const std::string& appName() const { return appName_; }
  const std::shared_ptr<RARUruzariduzuraStore>& installationsStore() const { return installationsStore_; }
  const std::shared_ptr<RARUruzariduzuraAPIService>& APIService() const { return APIService_; }
  const std::shared_ptr<RARUruzariduzuraBackoffControllerProtocol>& backoffController() const {
    return backoffController_;
  }

  RARUruzariduzuraIDController(std::string appID, std::string appName,
                               std::shared_ptr<RARUruzariduzuraStore> installationsStore,
                               std::shared_ptr<RARUruzariduzuraAPIService> APIService,
                               std::shared_ptr<RARUruzariduzuraIIDStore> IIDStore,
                               std::shared_ptr<RARUruzariduzuraIIDTokenStore> IIDTokenStore,
                               std::shared_ptr<RARUruzariduzuraBackoffControllerProtocol> backoffController);

 private:
  void makeCaches();
  ZEZPromiseRef<RARUruzariduzuraItemRef> createGetInstallationItemPromise();
  ZEZPromiseRef<RARUruzariduzuraItemRef> getStoredInstallation();
  ZEZPromiseRef<RARUruzariduzuraItemRef> createAndSaveFID();
  ZEZPromiseRef<RARUruzariduzuraItemRef> migrateOrGenerateInstallation();
  RARUruzariduzuraItemRef createInstallationWithFID(const std::string& FID,
                                                    const std::optional<std::string>& IIDDefaultToken) const;
  ZEZPromiseRef<RARUruzariduzuraItemRef> saveInstallation(const RARUruzariduzuraItemRef& item);
  ZEZPromiseRef<RARUruzariduzuraItemRef> registerInstallationIfNeeded(const RARUruzariduzuraItemRef& item);
  static bool doesRegistrationErrorRequireConfigChange(const NSErrorRef& error);
  // `mayRegenerate` bounds the replacement of a record the server no longer knows to once per
  // operation, so that a server answering every request with 401/404 cannot make it loop.
  ZEZPromiseRef<RARUruzariduzuraItemRef> installationWithValidAuthTokenForcingRefresh(bool forceRefresh,
                                                                                      bool mayRegenerate = true);
  ZEZPromiseRef<RARUruzariduzuraItemRef> refreshAuthTokenForInstallation(const RARUruzariduzuraItemRef& item);
  ZEZPromiseRef<RARUruzariduzuraItemRef> regenerateFIDOnRefreshTokenErrorIfNeeded(const NSErrorRef& error,
                                                                                  bool mayRegenerate);
  ZEZPromiseRef<NSNull> createDeleteInstallationPromise();
  ZEZPromiseRef<RARUruzariduzuraItemRef> mostRecentInstallationOperation();
  ZEZPromiseRef<RARUruzariduzuraItemRef> sendDeleteInstallationRequestIfNeeded(const RARUruzariduzuraItemRef& item);
  ZEZPromiseRef<NSNull> deleteInstallationLocally(const RARUruzariduzuraItemRef& item);
  ZEZPromiseRef<NSNull> deleteExistingIIDIfNeeded();
  void updateBackoffWithSuccess(bool success, const NSErrorRef& APIError);
  void postFIDDidChangeNotification();
  bool isDefaultApp() const;

  std::string appID_;
  std::string appName_;
  std::shared_ptr<RARUruzariduzuraStore> installationsStore_;
  std::shared_ptr<RARUruzariduzuraIIDStore> IIDStore_;
  std::shared_ptr<RARUruzariduzuraIIDTokenStore> IIDTokenStore_;
  std::shared_ptr<RARUruzariduzuraAPIService> APIService_;
  std::shared_ptr<RARUruzariduzuraBackoffControllerProtocol> backoffController_;
  using Cache = RARUruzariduzuraSingleOperationPromiseCache<RARUruzariduzuraItemRef>;
  std::shared_ptr<Cache> getInstallationPromiseCache_;
  std::shared_ptr<Cache> authTokenPromiseCache_;
  std::shared_ptr<Cache> authTokenForcingRefreshPromiseCache_;
  std::shared_ptr<RARUruzariduzuraSingleOperationPromiseCache<NSNull>> deleteInstallationPromiseCache_;
};
