#include "sdk/remote_config/RCNConfigContent.h"

#include <charconv>
#include <chrono>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSDate.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/remote_config/RCNConfigConstants.h"

namespace {

std::mutex gSharedMutex;
std::shared_ptr<RCNConfigContent> gShared;

std::string numberText(const Value& number) {
  // Unsigned first: an unsigned number also counts as an integer, and above the signed range its
  // signed reading is negative.
  if (number.is_number_unsigned()) return std::to_string(number.get<uint64_t>());
  if (number.is_number_integer()) return std::to_string(number.get<int64_t>());
  // The shortest text that reads back as the same double ("2.5", "0.1", "3").
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, number.get<double>());
  return std::string(buffer, result.ptr);
}

Bytes textBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Where a copy into toSource from a source that exists or not may go: the source its values then
// have, or nothing (said in the log) when there is nothing to copy or no such destination.
std::optional<ZIRRemoteConfigSource> copyDestination(bool fromExists, RCNDBSource toSource) {
  if (!fromExists) {
    ZIRLogError(kRCNLoggerService, "I-RCN000007", "The source dictionary to copy from does not exist.");
    return std::nullopt;
  }
  if (toSource != RCNDBSourceActive && toSource != RCNDBSourceDefault) {
    ZIRLogWarning(kRCNLoggerService, "I-RCN000008",
                  "This shouldn't happen. Destination dictionary should never be pending type.");
    return std::nullopt;
  }
  return toSource == RCNDBSourceDefault ? ZIRRemoteConfigSource::Default : ZIRRemoteConfigSource::Remote;
}

}  // namespace

// ---- Creation and the initial load ----

std::shared_ptr<RCNConfigContent> RCNConfigContent::sharedInstance() {
  std::lock_guard<std::mutex> lock(gSharedMutex);
  if (!gShared) gShared = initWithDBManager(RCNConfigDBManager::sharedInstance());
  return gShared;
}

void RCNConfigContent::resetSharedInstanceForTesting() {
  std::lock_guard<std::mutex> lock(gSharedMutex);
  gShared.reset();
}

std::shared_ptr<RCNConfigContent> RCNConfigContent::initWithDBManager(std::shared_ptr<RCNConfigDBManager> DBManager,
                                                                     double loadTimeoutSeconds) {
  std::shared_ptr<RCNConfigContent> content(new RCNConfigContent(std::move(DBManager), loadTimeoutSeconds));
  content->loadConfigFromMainTable();
  return content;
}

RCNConfigContent::RCNConfigContent(std::shared_ptr<RCNConfigDBManager> DBManager, double loadTimeoutSeconds)
    : DBManager_(std::move(DBManager)),
      loadTimeoutSeconds_(loadTimeoutSeconds),
      activePersonalization_(std::make_shared<const Value>(Value::object())),
      fetchedPersonalization_(std::make_shared<const Value>(Value::object())) {
  auto identifier = NSBundle::mainBundle().bundleIdentifier();
  if (!identifier) {
    ZIRLogNotice(kRCNLoggerService, "I-RCN000038", "Main bundle identifier is missing. Remote Config might not work properly.");
  }
  bundleIdentifier_ = identifier.value_or("");
  // Without a database there is no load to wait for.
  valuesLoaded_ = personalizationLoaded_ = !DBManager_;
}

void RCNConfigContent::loadConfigFromMainTable() {
  if (!DBManager_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    isDatabaseLoadAlreadyInitiated_ = true;
  }
  std::weak_ptr<RCNConfigContent> weakSelf = weak_from_this();
  DBManager_->loadMainWithBundleIdentifier(
      bundleIdentifier_, [weakSelf](bool, RCNConfigLayer fetched, RCNConfigLayer active, RCNConfigLayer defaults) {
        if (auto self = weakSelf.lock()) self->applyLoadedLayers(std::move(fetched), std::move(active), std::move(defaults));
      });
  // Both loads answer on a global queue rather than the main one: the first read waits for them
  // on the remote-configuration queue, and the main thread may itself be waiting for that queue.
  DBManager_->loadPersonalizationWithCompletionHandler(
      [weakSelf](bool, Value fetched, Value active) {
        if (auto self = weakSelf.lock()) self->applyLoadedPersonalization(fetched, active);
      },
      DispatchQueue::global(DispatchQoS::Default));
}

void RCNConfigContent::applyLoadedLayers(RCNConfigLayer fetched, RCNConfigLayer active, RCNConfigLayer defaults) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    RCNConfigLayer* loaded[3] = {&active, &defaults, &fetched};
    for (int source = RCNDBSourceActive; source <= RCNDBSourceFetched; ++source) {
      RCNConfigLayer& target = layer(static_cast<RCNDBSource>(source));
      for (auto& [namespace_, values] : *loaded[source]) {
        if (writtenBeforeLoad_[source].count(namespace_)) continue;
        target[namespace_] = std::move(values);
      }
      writtenBeforeLoad_[source].clear();
    }
    valuesLoaded_ = true;
  }
  loaded_.notify_all();
}

void RCNConfigContent::applyLoadedPersonalization(const Value& fetched, const Value& active) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fetchedPersonalizationWrittenBeforeLoad_) fetchedPersonalization_ = std::make_shared<const Value>(fetched);
    if (!activePersonalizationWrittenBeforeLoad_) activePersonalization_ = std::make_shared<const Value>(active);
    personalizationLoaded_ = true;
  }
  loaded_.notify_all();
}

bool RCNConfigContent::checkAndWaitForInitialDatabaseLoad() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (isConfigLoadFromDBCompleted_) return true;
  // Both loads: an activation must copy the stored fetched personalization, not the empty one
  // that stands in for it until its load arrives.
  if (loaded_.wait_for(lock, std::chrono::duration<double>(loadTimeoutSeconds_),
                       [this] { return valuesLoaded_ && personalizationLoaded_; })) {
    isConfigLoadFromDBCompleted_ = true;
    return true;
  }
  lock.unlock();
  ZIRLogError(kRCNLoggerService, "I-RCN000048", "Timed out waiting for fetched config to be loaded from DB");
  return false;
}

RCNConfigLayer& RCNConfigContent::layer(RCNDBSource source) {
  switch (source) {
    case RCNDBSourceActive:
      return activeConfig_;
    case RCNDBSourceDefault:
      return defaultConfig_;
    default:
      return fetchedConfig_;
  }
}

// ---- Reads ----

RCNConfigLayer RCNConfigContent::fetchedConfig() {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(mutex_);
  return fetchedConfig_;
}

RCNConfigLayer RCNConfigContent::activeConfig() {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(mutex_);
  return activeConfig_;
}

RCNConfigLayer RCNConfigContent::defaultConfig() {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(mutex_);
  return defaultConfig_;
}

ZIRRemoteConfigValueRef RCNConfigContent::valueForKey(const std::string& namespace_, const std::string& key,
                                                      RCNDBSource source) {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(mutex_);
  const RCNConfigLayer& values = layer(source);
  auto ns = values.find(namespace_);
  if (ns == values.end()) return nullptr;
  auto it = ns->second.find(key);
  return it == ns->second.end() ? nullptr : it->second;
}

std::optional<std::vector<std::string>> RCNConfigContent::keysForNamespace(const std::string& namespace_,
                                                                           RCNDBSource source) {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(mutex_);
  const RCNConfigLayer& values = layer(source);
  auto ns = values.find(namespace_);
  if (ns == values.end()) return std::nullopt;
  std::vector<std::string> keys;
  keys.reserve(ns->second.size());
  for (const auto& [key, value] : ns->second) keys.push_back(key);
  return keys;
}

RCNConfigAndMetadata RCNConfigContent::getConfigAndMetadataForNamespace(const std::string& namespace_) {
  checkAndWaitForInitialDatabaseLoad();
  std::lock_guard<std::mutex> lock(mutex_);
  RCNConfigAndMetadata result;
  auto ns = activeConfig_.find(namespace_);
  if (ns != activeConfig_.end()) result.entries = ns->second;
  result.personalizationMetadata = activePersonalization_;
  return result;
}

std::shared_ptr<const Value> RCNConfigContent::activePersonalization() {
  std::lock_guard<std::mutex> lock(mutex_);
  return activePersonalization_;
}

std::shared_ptr<const Value> RCNConfigContent::fetchedPersonalization() {
  std::lock_guard<std::mutex> lock(mutex_);
  return fetchedPersonalization_;
}

// ---- Writes ----

void RCNConfigContent::replaceNamespace(RCNDBSource source, const std::string& namespace_, RCNNamespaceConfig values) {
  std::vector<Value> rows;
  rows.reserve(values.size());
  for (const auto& [key, value] : values) {
    rows.push_back(Value::array({bundleIdentifier_, namespace_, key, value::data(value->dataValue())}));
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    layer(source)[namespace_] = std::move(values);
    if (!valuesLoaded_) writtenBeforeLoad_[source].insert(namespace_);
  }
  if (DBManager_) DBManager_->replaceMainTableRecordsWithNamespace(namespace_, bundleIdentifier_, source, std::move(rows));
}

std::optional<Bytes> RCNConfigContent::defaultValueBytes(const Value& v) {
  if (value::isData(v)) return value::dataBytes(v);
  if (value::isDate(v)) {
    // A date the calendar cannot write (far beyond any real one) is dropped like other odd kinds.
    const std::string text = ns::formatDate(value::dateSeconds(v), "yyyy-MM-dd HH:mm:ss", false);
    if (text.empty()) return std::nullopt;
    return textBytes(text);
  }
  if (v.is_string()) return textBytes(v.get<std::string>());
  if (v.is_boolean()) return textBytes(v.get<bool>() ? "1" : "0");
  if (v.is_number()) return textBytes(numberText(v));
  return std::nullopt;  // arrays, dictionaries, null
}

void RCNConfigContent::copyFromDictionary(const Value& fromDictionary, RCNDBSource toSource,
                                          const std::string& namespace_) {
  checkAndWaitForInitialDatabaseLoad();
  const auto source = copyDestination(!fromDictionary.is_null(), toSource);
  if (!source) return;
  RCNNamespaceConfig values;
  if (fromDictionary.is_object()) {
    auto entry = fromDictionary.find(namespace_);
    if (entry != fromDictionary.end() && entry->is_object()) {
      for (const auto& [key, value] : entry->items()) {
        if (auto bytes = defaultValueBytes(value)) {
          values[key] = ZIRRemoteConfigValue::initWithData(std::move(*bytes), *source);
        }
      }
    }
  }
  replaceNamespace(toSource, namespace_, std::move(values));
}

void RCNConfigContent::copyFromLayer(const std::optional<RCNConfigLayer>& fromLayer, RCNDBSource toSource,
                                     const std::string& namespace_) {
  checkAndWaitForInitialDatabaseLoad();
  const auto source = copyDestination(fromLayer.has_value(), toSource);
  if (!source) return;
  RCNNamespaceConfig values;
  auto entry = fromLayer->find(namespace_);
  if (entry != fromLayer->end()) {
    for (const auto& [key, value] : entry->second) {
      values[key] = ZIRRemoteConfigValue::initWithData(value->dataValue(), *source);
    }
  }
  replaceNamespace(toSource, namespace_, std::move(values));
}

void RCNConfigContent::updateConfigContentWithResponse(const Value& response, const std::string& namespace_) {
  checkAndWaitForInitialDatabaseLoad();
  auto state = response.is_object() ? response.find(kRCNFetchResponseKeyState) : response.end();
  if (!response.is_object() || state == response.end() || state->is_null()) {
    ZIRLogError(kRCNLoggerService, "I-RCN000049", "State field in fetch response is nil.");
    return;
  }
  if (!state->is_string()) {
    ZIRLogError(kRCNLoggerService, "I-RCN000049", "State field in fetch response is not text.");
    return;
  }
  const std::string& stateText = state->get_ref<const std::string&>();
  ZIRLogDebug(kRCNLoggerService, "I-RCN000059", "Updating config content from Response for namespace:%s with state: %s",
              namespace_.c_str(), stateText.c_str());
  if (stateText == kRCNFetchResponseKeyStateNoChange) {
    handleNoChangeStateForConfigNamespace(namespace_);
  } else if (stateText == kRCNFetchResponseKeyStateEmptyConfig) {
    handleEmptyConfigStateForConfigNamespace(namespace_);
  } else if (stateText == kRCNFetchResponseKeyStateNoTemplate) {
    handleNoTemplateStateForConfigNamespace(namespace_);
  } else if (stateText == kRCNFetchResponseKeyStateUpdate) {
    Value entries = Value::object();
    if (auto it = response.find(kRCNFetchResponseKeyEntries); it != response.end() && !it->is_null()) entries = *it;
    auto metadata = response.find(kRCNFetchResponseKeyPersonalizationMetadata);
    const bool hasMetadata = metadata != response.end() && !metadata->is_null();
    // Nothing changes unless every field read below has its kind.
    bool wellFormed = entries.is_object() && (!hasMetadata || metadata->is_object());
    for (const auto& [key, value] : entries.items()) wellFormed = wellFormed && value.is_string();
    if (!wellFormed) {
      ZIRLogError(kRCNLoggerService, "I-RCN000049", "Fetch response for namespace %s has fields of the wrong kind.",
                  namespace_.c_str());
      return;
    }
    handleUpdateStateForConfigNamespace(namespace_, entries);
    if (hasMetadata) handleUpdatePersonalization(*metadata);
  }
}

void RCNConfigContent::handleNoChangeStateForConfigNamespace(const std::string& namespace_) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The stored rows stay as they are, so a load that arrives later may still fill the map with
  // them: the empty map made here is not a write it must leave alone.
  if (!fetchedConfig_.count(namespace_)) fetchedConfig_[namespace_] = RCNNamespaceConfig();
}

void RCNConfigContent::handleEmptyConfigStateForConfigNamespace(const std::string& namespace_) {
  replaceNamespace(RCNDBSourceFetched, namespace_, RCNNamespaceConfig());
}

void RCNConfigContent::handleNoTemplateStateForConfigNamespace(const std::string& namespace_) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fetchedConfig_.erase(namespace_);
    if (!valuesLoaded_) writtenBeforeLoad_[RCNDBSourceFetched].insert(namespace_);
  }
  if (DBManager_) DBManager_->deleteRecordFromMainTableWithNamespace(namespace_, bundleIdentifier_, RCNDBSourceFetched);
}

void RCNConfigContent::handleUpdateStateForConfigNamespace(const std::string& namespace_, const Value& entries) {
  ZIRLogDebug(kRCNLoggerService, "I-RCN000058", "Update config in DB for namespace:%s", namespace_.c_str());
  RCNNamespaceConfig values;
  for (const auto& [key, value] : entries.items()) {
    values[key] = ZIRRemoteConfigValue::initWithData(textBytes(value.get<std::string>()), ZIRRemoteConfigSource::Remote);
  }
  replaceNamespace(RCNDBSourceFetched, namespace_, std::move(values));
}

void RCNConfigContent::handleUpdatePersonalization(const Value& metadata) {
  auto shared = std::make_shared<const Value>(metadata);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fetchedPersonalization_ = shared;
    if (!personalizationLoaded_) fetchedPersonalizationWrittenBeforeLoad_ = true;
  }
  if (DBManager_) DBManager_->insertOrUpdatePersonalizationConfig(*shared, RCNDBSourceFetched);
}

void RCNConfigContent::activatePersonalization() {
  checkAndWaitForInitialDatabaseLoad();
  std::shared_ptr<const Value> active;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    activePersonalization_ = fetchedPersonalization_;
    active = activePersonalization_;
    if (!personalizationLoaded_) activePersonalizationWrittenBeforeLoad_ = true;
  }
  if (DBManager_) DBManager_->insertOrUpdatePersonalizationConfig(*active, RCNDBSourceActive);
}
