#pragma once
// The three layers of remote-configuration values of every fully qualified namespace, held in
// memory for the whole process: fetched (the last template received), active (what reads return)
// and default (what the application supplied), plus the fetched and active personalization
// metadata. Loads them from the database once at creation, applies fetch answers to the fetched
// layer, copies layers on activation and on setting defaults, and mirrors every change into the
// database tables.
//
// One shared instance, created with the first remote-configuration instance. Its callers run on
// the remote-configuration queue; the layers are guarded by the content's own lock as well,
// because the initial load arrives on the database's completion queues. A load that arrives late
// (after a wait for it timed out) fills only the namespaces nothing has written since, so it
// never replaces newer values.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "sdk/remote_config/RCNConfigDBManager.h"
#include "sdk/remote_config/ZIRRemoteConfigValue.h"

// The active values of a namespace with the active personalization metadata, as handed to
// value-read listeners. The metadata object is shared, not copied: the personalization logger
// tells a newly received template apart by the object's identity.
struct RCNConfigAndMetadata {
  RCNNamespaceConfig entries;
  std::shared_ptr<const Value> personalizationMetadata;
};

class RCNConfigContent : public std::enable_shared_from_this<RCNConfigContent> {
 public:
  // How long the first read waits for the initial load.
  static constexpr double kDatabaseLoadTimeoutSeconds = 30;

  static std::shared_ptr<RCNConfigContent> sharedInstance();
  // Forgets the shared instance (tests).
  static void resetSharedInstanceForTesting();
  // A new content over the database; starts the initial load, which the first read waits for at
  // most loadTimeoutSeconds.
  static std::shared_ptr<RCNConfigContent> initWithDBManager(std::shared_ptr<RCNConfigDBManager> DBManager,
                                                             double loadTimeoutSeconds = kDatabaseLoadTimeoutSeconds);

  // Whether the initial load has finished (waits for it, at most 30 s).
  bool initializationSuccessful() { return checkAndWaitForInitialDatabaseLoad(); }
  bool checkAndWaitForInitialDatabaseLoad();

  // Copies of the layers, after the wait.
  RCNConfigLayer fetchedConfig();
  RCNConfigLayer activeConfig();
  RCNConfigLayer defaultConfig();
  // One value of a layer (null when absent), after the wait.
  ZIRRemoteConfigValueRef valueForKey(const std::string& namespace_, const std::string& key, RCNDBSource layer);
  // The keys of a namespace's map in a layer; nullopt when the layer has no map for it.
  std::optional<std::vector<std::string>> keysForNamespace(const std::string& namespace_, RCNDBSource layer);

  // Replaces the default (source 1) layer of the namespace with the namespace's entry of
  // `fromDictionary` ({namespace: {key: value}}); texts, data, numbers and dates become bytes,
  // other kinds are dropped. A null dictionary is refused with an error line, the fetched layer as
  // destination with a warning.
  void copyFromDictionary(const Value& fromDictionary, RCNDBSource toSource, const std::string& namespace_);
  // Replaces the active (source 0) or default layer of the namespace with the namespace's map of
  // `fromLayer` (activation copies the fetched layer); nullopt stands for no source at all.
  void copyFromLayer(const std::optional<RCNConfigLayer>& fromLayer, RCNDBSource toSource,
                     const std::string& namespace_);
  // Applies a fetch answer to the fetched layer by its "state". The answer's fields must have been
  // checked by the caller; fields of the wrong kind are refused here too, changing nothing.
  void updateConfigContentWithResponse(const Value& response, const std::string& namespace_);
  // The fetched personalization becomes the active one.
  void activatePersonalization();
  RCNConfigAndMetadata getConfigAndMetadataForNamespace(const std::string& namespace_);
  std::shared_ptr<const Value> activePersonalization();
  std::shared_ptr<const Value> fetchedPersonalization();

  // The bytes a default value is stored as; nullopt for kinds that are not kept.
  static std::optional<Bytes> defaultValueBytes(const Value& value);

  const std::string& bundleIdentifier() const { return bundleIdentifier_; }

 private:
  RCNConfigContent(std::shared_ptr<RCNConfigDBManager> DBManager, double loadTimeoutSeconds);
  void loadConfigFromMainTable();
  void applyLoadedLayers(RCNConfigLayer fetched, RCNConfigLayer active, RCNConfigLayer defaults);
  void applyLoadedPersonalization(const Value& fetched, const Value& active);
  RCNConfigLayer& layer(RCNDBSource source);
  // Replaces a namespace's map in a layer and queues the same for its table.
  void replaceNamespace(RCNDBSource source, const std::string& namespace_, RCNNamespaceConfig values);

  void handleNoChangeStateForConfigNamespace(const std::string& namespace_);
  void handleEmptyConfigStateForConfigNamespace(const std::string& namespace_);
  void handleNoTemplateStateForConfigNamespace(const std::string& namespace_);
  void handleUpdateStateForConfigNamespace(const std::string& namespace_, const Value& entries);
  void handleUpdatePersonalization(const Value& metadata);

  std::shared_ptr<RCNConfigDBManager> DBManager_;
  std::string bundleIdentifier_;
  double loadTimeoutSeconds_;

  std::mutex mutex_;  // guards everything below
  std::condition_variable loaded_;
  RCNConfigLayer activeConfig_;
  RCNConfigLayer fetchedConfig_;
  RCNConfigLayer defaultConfig_;
  std::shared_ptr<const Value> activePersonalization_;
  std::shared_ptr<const Value> fetchedPersonalization_;
  bool valuesLoaded_ = false;             // the value tables have been read
  bool personalizationLoaded_ = false;    // the personalization rows have been read
  bool isConfigLoadFromDBCompleted_ = false;  // a wait for the load has succeeded
  bool isDatabaseLoadAlreadyInitiated_ = false;
  // What was written before the load arrived, which the load must leave alone.
  std::set<std::string> writtenBeforeLoad_[3];
  bool activePersonalizationWrittenBeforeLoad_ = false;
  bool fetchedPersonalizationWrittenBeforeLoad_ = false;
};
