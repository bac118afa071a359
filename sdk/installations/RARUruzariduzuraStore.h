#pragma once
// Keeps the installation record of an app in the keychain (an archived stored item whose account is
// the record key) and a per-record existence flag in user defaults. A keychain item without its
// flag counts as absent.
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Dispatch.h"
#include "sdk/installations/RARUruzariduzuraItem.h"
#include "sdk/promises/ZEZPromise.h"
#include "sdk/utilities/ZODKeychainStorage.h"
#include "sdk/utilities/ZODUserDefaults.h"

inline constexpr const char* kRARUruzariduzuraKeychainService = "com.zirezize.RARUruzariduzura.installations";
inline constexpr const char* kRARUruzariduzuraUserDefaultsSuite = "com.zirezize.RARUruzariduzura";
inline constexpr const char* kRARUruzariduzuraStoreQueueLabel = "com.zirezize.RARUruzariduzuraStore";

class RARUruzariduzuraStore : public std::enable_shared_from_this<RARUruzariduzuraStore> {
 public:
  RARUruzariduzuraStore(std::shared_ptr<ZODKeychainStorage> secureStorage,
                        std::optional<std::string> accessGroup);

  ZEZPromiseRef<RARUruzariduzuraItemRef> installationForAppID(const std::string& appID,
                                                              const std::string& appName);
  ZEZPromiseRef<NSNull> saveInstallation(const RARUruzariduzuraItemRef& item);
  ZEZPromiseRef<NSNull> removeInstallationForAppID(const std::string& appID,
                                                   const std::string& appName);
  ZEZPromiseRef<NSNull> installationExistsForAppID(const std::string& appID,
                                                   const std::string& appName);
  ZEZPromiseRef<NSNull> setInstallationExists(bool exists, const std::string& identifier);

  const std::shared_ptr<ZODKeychainStorage>& secureStorage() const { return secureStorage_; }
  const std::optional<std::string>& accessGroup() const { return accessGroup_; }
  const DispatchQueueRef& queue() const { return queue_; }
  const std::shared_ptr<ZODUserDefaults>& userDefaults() const { return userDefaults_; }

 private:
  std::shared_ptr<ZODKeychainStorage> secureStorage_;
  std::optional<std::string> accessGroup_;
  DispatchQueueRef queue_;
  std::shared_ptr<ZODUserDefaults> userDefaults_;
};
