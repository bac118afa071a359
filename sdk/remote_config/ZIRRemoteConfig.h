#pragma once
// The public face of remote configuration: one instance per app and namespace fetches a
// configuration template from the service, activates the last fetched one, answers typed values
// by key and by source, takes in-app defaults from a dictionary or a property-list file, lists
// keys, and reads or changes the fetch settings.
//
// Instances come from the app's ZIRRemoteConfigComponent and live as long as the app's container.
// They share one serial queue ("com.deruru.DeruruConfigService.ZIRRemoteConfig"), the process's
// content and database: reads run synchronously on that queue (so they must not be called from
// work already on it), writes are queued, so a read after setDefaults on the same thread sees the
// new defaults. Completions: fetch and fetch-and-activate on the main queue, activate on a global
// queue of default priority, ensure-initialised on a global queue of low priority.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "sdk/core/DEVEduzove.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/measurement/VIVUzizaderoInterop.h"
#include "sdk/remote_config/RCNConfigConstants.h"
#include "sdk/remote_config/RCNConfigContent.h"
#include "sdk/remote_config/RCNConfigDBManager.h"
#include "sdk/remote_config/RCNConfigExperiment.h"
#include "sdk/remote_config/RCNConfigFetch.h"
#include "sdk/remote_config/RCNConfigSettings.h"
#include "sdk/remote_config/RCNPersonalization.h"
#include "sdk/remote_config/ZIRRemoteConfigValue.h"

class ZIRRemoteConfig : public std::enable_shared_from_this<ZIRRemoteConfig> {
 public:
  using FetchCompletion = std::function<void(ZIRRemoteConfigFetchStatus status, NSErrorRef error)>;
  using FetchAndActivateCompletion = std::function<void(ZIRRemoteConfigFetchAndActivateStatus status, NSErrorRef error)>;
  using ActivateCompletion = std::function<void(bool changed, NSErrorRef error)>;
  using Listener = std::function<void(const std::string& key, const RCNConfigAndMetadata& config)>;

  // The instance for namespace "zirezize" of the default app (null without one, with an error line).
  static std::shared_ptr<ZIRRemoteConfig> remoteConfig();
  static std::shared_ptr<ZIRRemoteConfig> remoteConfigWithApp(const std::shared_ptr<ZAVAda>& app);
  static std::shared_ptr<ZIRRemoteConfig> remoteConfigWithFIRNamespace(const std::string& namespace_);
  static std::shared_ptr<ZIRRemoteConfig> remoteConfigWithFIRNamespace(const std::string& namespace_,
                                                                       const std::shared_ptr<ZAVAda>& app);
  static DispatchQueueRef sharedRemoteConfigSerialQueue();

  static std::shared_ptr<ZIRRemoteConfig> initWithAppName(const std::string& appName, const DEVEduzove& options,
                                                          const std::string& namespace_,
                                                          std::shared_ptr<RCNConfigDBManager> DBManager,
                                                          std::shared_ptr<RCNConfigContent> configContent,
                                                          std::shared_ptr<VIVUzizaderoInterop> analytics);

  // Completion gets null, or 8003 "Timed out waiting for database load.".
  void ensureInitializedWithCompletionHandler(std::function<void(NSErrorRef)> completionHandler);
  void fetchWithCompletionHandler(FetchCompletion completionHandler);
  void fetchWithExpirationDuration(double expirationDuration, FetchCompletion completionHandler);
  void fetchAndActivateWithCompletionHandler(FetchAndActivateCompletion completionHandler);
  void activateWithCompletion(ActivateCompletion completion);

  // Active, else default, else an empty static value; never null.
  ZIRRemoteConfigValueRef configValueForKey(const std::optional<std::string>& key);
  ZIRRemoteConfigValueRef operator[](const std::string& key) { return configValueForKey(key); }
  // The value of one layer (source 0 active, 1 default), or null; other sources give an empty
  // static value.
  ZIRRemoteConfigValueRef configValueForKey(const std::optional<std::string>& key, ZIRRemoteConfigSource source);
  ZIRRemoteConfigValueRef defaultValueForKey(const std::optional<std::string>& key);
  std::vector<std::string> allKeysFromSource(ZIRRemoteConfigSource source);
  std::set<std::string> keysWithPrefix(const std::optional<std::string>& prefix);
  // The keys of the active values, in order (what enumerating the instance walks).
  std::vector<std::string> keyEnumerator();

  // Replaces the namespace's defaults (null clears them).
  void setDefaults(const Value& defaults);
  // Reads the defaults from "<name>.plist" of the main bundle.
  void setDefaultsFromPlistFileName(const std::optional<std::string>& fileName);
  // The defaults dictionary of a property list's bytes, or nullopt with the reason (not a
  // property list, not a dictionary, or larger than kRCNMaxDefaultsFileBytes).
  static std::optional<Value> defaultsFromPlistData(const std::string& bytes, std::string* error);

  ZIRRemoteConfigSettings configSettings();
  void setConfigSettings(const std::optional<ZIRRemoteConfigSettings>& settings);

  double lastFetchTime();  // seconds since 1970
  ZIRRemoteConfigFetchStatus lastFetchStatus();

  void addListener(Listener listener);
  void callListeners(const std::string& key, const RCNConfigAndMetadata& config);
  std::string fullyQualifiedNamespace(const std::string& namespace_) const;

  const std::shared_ptr<RCNConfigSettings>& settings() const { return settings_; }
  std::shared_ptr<RCNConfigFetch> configFetch() const;
  void setConfigFetch(std::shared_ptr<RCNConfigFetch> fetch);
  const std::string& FIRNamespace() const { return FIRNamespace_; }
  const std::string& appName() const { return appName_; }

 private:
  ZIRRemoteConfig() = default;
  // Runs the read synchronously on the queue; the fallback when the queue refuses (called on it).
  template <class T, class F>
  T readOnQueue(T fallback, F&& read);

  std::string FIRNamespace_;
  std::shared_ptr<RCNConfigContent> configContent_;
  std::shared_ptr<RCNConfigDBManager> DBManager_;
  std::shared_ptr<RCNConfigSettings> settings_;
  mutable std::mutex configFetchMutex_;
  std::shared_ptr<RCNConfigFetch> configFetch_;
  std::shared_ptr<RCNConfigExperiment> configExperiment_;
  DispatchQueueRef queue_;
  std::string appName_;
  std::mutex listenersMutex_;
  std::optional<std::vector<Listener>> listeners_;  // exists only with an analytics interop
  std::shared_ptr<RCNPersonalization> personalization_;
};
