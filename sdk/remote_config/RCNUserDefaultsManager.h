#pragma once
// A few facts about the fetches of one app and namespace, kept in a user-defaults suite apart from
// the configuration database: the last entity tag, when it was stored, the last successful fetch
// time, and (offered, unused by the fetch) throttling facts.
//
// One suite per process, "group.<bundle identifier>.zirezize". Inside it the app name keys the app
// record, whose namespace key holds the instance record. Names are plain keys, read and written
// alike, so an app name or namespace holding "." is one key like any other.
//
// One manager per remote-configuration instance, used on the remote-configuration queue. Writes of
// all managers are serialised by one lock around the suite; each write reaches the disk at once.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Value.h"

class RCNUserDefaultsManager {
 public:
  // fullyQualifiedNamespace is "namespace:app"; its part before the first ":" names the record.
  RCNUserDefaultsManager(std::string appName, std::string bundleIdentifier,
                         const std::string& fullyQualifiedNamespace);

  static std::shared_ptr<NSUserDefaults> sharedUserDefaultsForBundleIdentifier(const std::string& bundleIdentifier);
  static std::string userDefaultsSuiteNameForBundleIdentifier(const std::string& bundleIdentifier);
  // Forgets the process's suite, so that the next manager takes it anew (tests).
  static void resetSharedUserDefaultsForTesting();

  std::optional<std::string> lastETag() const;
  void setLastETag(const std::optional<std::string>& etag);  // nullopt is ignored
  double lastETagUpdateTime() const;
  void setLastETagUpdateTime(double time);  // 0 is ignored
  double lastFetchTime() const;
  void setLastFetchTime(double time);
  std::optional<std::string> lastFetchStatus() const;
  void setLastFetchStatus(const std::optional<std::string>& status);  // nullopt is ignored
  bool isClientThrottledWithExponentialBackoff() const;
  void setIsClientThrottledWithExponentialBackoff(bool throttled);
  double throttleEndTime() const;
  void setThrottleEndTime(double time);
  double currentThrottlingRetryIntervalSeconds() const;
  void setCurrentThrottlingRetryIntervalSeconds(double seconds);

  // The app record, or an empty dictionary.
  Value appUserDefaults() const;
  // The instance record, or an empty dictionary.
  Value instanceUserDefaults() const;
  void setInstanceUserDefaultsValue(const Value& value, const std::string& key);
  void resetInstanceUserDefaults();
  void resetUserDefaults() { resetInstanceUserDefaults(); }

  const std::string& zirezizeNamespace() const { return namespace_; }

 private:
  // Replaces the instance record by what `change` makes of it, under the suite's lock.
  template <class F>
  void changeInstanceRecord(F&& change);
  double numberForKey(const char* key) const;
  std::optional<std::string> textForKey(const char* key) const;

  std::shared_ptr<NSUserDefaults> userDefaults_;
  std::string appName_;
  std::string namespace_;
  std::string bundleIdentifier_;
};
