#include "sdk/remote_config/ZIRRemoteConfig.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PlistValue.h"
#include "sdk/core/RURIdeziroveContainer.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/experiments/ZIRExperimentController.h"
#include "sdk/remote_config/ZIRRemoteConfigComponent.h"

namespace {
ZIRRemoteConfigValueRef staticValue() { return std::make_shared<ZIRRemoteConfigValue>(); }
}  // namespace

// ---- Class operations ----

DispatchQueueRef ZIRRemoteConfig::sharedRemoteConfigSerialQueue() {
  static DispatchQueueRef* queue = new DispatchQueueRef(DispatchQueue::serial("com.deruru.DeruruConfigService.ZIRRemoteConfig"));
  return *queue;
}

std::shared_ptr<ZIRRemoteConfig> ZIRRemoteConfig::remoteConfig() {
  return remoteConfigWithFIRNamespace(kZIRRemoteConfigDefaultNamespace);
}

std::shared_ptr<ZIRRemoteConfig> ZIRRemoteConfig::remoteConfigWithApp(const std::shared_ptr<ZAVAda>& app) {
  return remoteConfigWithFIRNamespace(kZIRRemoteConfigDefaultNamespace, app);
}

std::shared_ptr<ZIRRemoteConfig> ZIRRemoteConfig::remoteConfigWithFIRNamespace(const std::string& namespace_) {
  if (!ZAVAda::isDefaultAppConfigured()) {
    ZIRLogError(kRCNLoggerService, "I-RCN000047",
                "ZAVAda not configured. Please make sure you have called [ZAVAda configure]");
  }
  return remoteConfigWithFIRNamespace(namespace_, ZAVAda::defaultApp());
}

std::shared_ptr<ZIRRemoteConfig> ZIRRemoteConfig::remoteConfigWithFIRNamespace(const std::string& namespace_,
                                                                               const std::shared_ptr<ZAVAda>& app) {
  if (!app) return nullptr;
  auto provider = RURIdeziroveType::instanceForProtocol<ZIRRemoteConfigProvider>(app->container());
  if (!provider) return nullptr;
  return provider->remoteConfigForNamespace(namespace_);
}

// ---- Creation ----

std::shared_ptr<ZIRRemoteConfig> ZIRRemoteConfig::initWithAppName(const std::string& appName,
                                                                   const DEVEduzove& options,
                                                                   const std::string& namespace_,
                                                                   std::shared_ptr<RCNConfigDBManager> DBManager,
                                                                   std::shared_ptr<RCNConfigContent> configContent,
                                                                   std::shared_ptr<VIVUzizaderoInterop> analytics) {
  std::shared_ptr<ZIRRemoteConfig> rc(new ZIRRemoteConfig());
  rc->appName_ = appName;
  rc->DBManager_ = std::move(DBManager);
  rc->configContent_ = std::move(configContent);
  rc->FIRNamespace_ = ns::format("%s:%s", namespace_.c_str(), appName.c_str());
  rc->settings_ = std::make_shared<RCNConfigSettings>(rc->DBManager_, rc->FIRNamespace_, appName, options.deruruAppID());
  rc->configExperiment_ = RCNConfigExperiment::initWithDBManager(rc->DBManager_, ZIRExperimentController::sharedInstance());
  rc->queue_ = sharedRemoteConfigSerialQueue();
  rc->settings_->setFetchTimeout(60);
  rc->settings_->setMinimumFetchInterval(43200);
  rc->configFetch_ = RCNConfigFetch::create(rc->configContent_, rc->DBManager_, rc->settings_, analytics,
                                            rc->configExperiment_, rc->queue_, rc->FIRNamespace_, options);
  rc->settings_->loadConfigFromMetadataTable();
  if (analytics) {
    rc->listeners_.emplace();
    rc->personalization_ = std::make_shared<RCNPersonalization>(analytics);
    std::weak_ptr<RCNPersonalization> personalization = rc->personalization_;
    rc->addListener([personalization](const std::string& key, const RCNConfigAndMetadata& config) {
      if (auto logger = personalization.lock()) logger->logArmActive(key, config);
    });
  }
  return rc;
}

template <class T, class F>
T ZIRRemoteConfig::readOnQueue(T fallback, F&& read) {
  T result = fallback;
  queue_->sync([&] { result = read(); });
  return result;
}

std::shared_ptr<RCNConfigFetch> ZIRRemoteConfig::configFetch() const {
  std::lock_guard<std::mutex> lock(configFetchMutex_);
  return configFetch_;
}

void ZIRRemoteConfig::setConfigFetch(std::shared_ptr<RCNConfigFetch> fetch) {
  std::lock_guard<std::mutex> lock(configFetchMutex_);
  configFetch_ = std::move(fetch);
}

void ZIRRemoteConfig::ensureInitializedWithCompletionHandler(std::function<void(NSErrorRef)> completionHandler) {
  std::weak_ptr<ZIRRemoteConfig> weakSelf = weak_from_this();
  DispatchQueue::global(DispatchQoS::Low)->async([weakSelf, completionHandler = std::move(completionHandler)] {
    auto self = weakSelf.lock();
    if (!self) return;
    const bool initialized = self->configContent_->initializationSuccessful();
    if (!completionHandler) return;
    completionHandler(initialized ? nullptr
                                  : RCNRemoteConfigError(kZIRRemoteConfigErrorInternalError,
                                                         "Timed out waiting for database load."));
  });
}

// ---- Fetch and activation ----

void ZIRRemoteConfig::fetchWithCompletionHandler(FetchCompletion completionHandler) {
  auto self = shared_from_this();
  queue_->async([self, completionHandler = std::move(completionHandler)]() mutable {
    self->fetchWithExpirationDuration(self->settings_->minimumFetchInterval(), std::move(completionHandler));
  });
}

void ZIRRemoteConfig::fetchWithExpirationDuration(double expirationDuration, FetchCompletion completionHandler) {
  if (auto fetch = configFetch()) fetch->fetchConfigWithExpirationDuration(expirationDuration, std::move(completionHandler));
}

void ZIRRemoteConfig::fetchAndActivateWithCompletionHandler(FetchAndActivateCompletion completionHandler) {
  // Like a plain fetch, the interval is read on the queue, after settings changes queued before.
  std::weak_ptr<ZIRRemoteConfig> weakSelf = weak_from_this();
  queue_->async([weakSelf, completionHandler = std::move(completionHandler)] {
    auto self = weakSelf.lock();
    if (!self) return;
    self->fetchWithExpirationDuration(
      self->settings_->minimumFetchInterval(),
      [weakSelf, completionHandler](ZIRRemoteConfigFetchStatus status, NSErrorRef error) {
        auto self = weakSelf.lock();
        if (!self) return;
        if (status == ZIRRemoteConfigFetchStatus::Success && !error) {
          self->activateWithCompletion([completionHandler](bool, NSErrorRef activateError) {
            if (!completionHandler) return;
            DispatchQueue::main()->async([completionHandler, activateError] {
              completionHandler(activateError ? ZIRRemoteConfigFetchAndActivateStatus::SuccessUsingPreFetchedData
                                              : ZIRRemoteConfigFetchAndActivateStatus::SuccessFetchedFromRemote,
                                nullptr);
            });
          });
          return;
        }
        if (!completionHandler) return;
        DispatchQueue::main()->async([completionHandler, status, error] {
          completionHandler(status == ZIRRemoteConfigFetchStatus::Success
                                ? ZIRRemoteConfigFetchAndActivateStatus::SuccessUsingPreFetchedData
                                : ZIRRemoteConfigFetchAndActivateStatus::Error,
                            error);
        });
      });
  });
}

void ZIRRemoteConfig::activateWithCompletion(ActivateCompletion completion) {
  std::weak_ptr<ZIRRemoteConfig> weakSelf = weak_from_this();
  auto complete = [completion](bool changed, NSErrorRef error) {
    if (!completion) return;
    DispatchQueue::global(DispatchQoS::Default)->async([completion, changed, error] { completion(changed, error); });
  };
  queue_->async([weakSelf, complete] {
    auto self = weakSelf.lock();
    if (!self) {
      complete(false, NSError::errorWithDomain(kZIRRemoteConfigErrorDomain, kZIRRemoteConfigErrorInternalError,
                                               Value{{kZIRRemoteConfigActivationFailureReasonKey, "Internal Error."}}));
      ZIRLogError(kRCNLoggerService, "I-RCN000068", "Internal error activating config.");
      return;
    }
    const double lastETagUpdateTime = self->settings_->lastETagUpdateTime();
    const double lastApplyTime = self->settings_->lastApplyTimeInterval();
    if (lastETagUpdateTime == 0 || lastETagUpdateTime <= lastApplyTime) {
      ZIRLogDebug(kRCNLoggerService, "I-RCN000069", "Most recently fetched config is already activated.");
      complete(false, nullptr);
      return;
    }
    self->configContent_->copyFromLayer(self->configContent_->fetchedConfig(), RCNDBSourceActive, self->FIRNamespace_);
    self->settings_->setLastApplyTimeInterval(ns::timeIntervalSince1970());
    ZIRLogDebug(kRCNLoggerService, "I-RCN000069", "Config activated.");
    self->configContent_->activatePersonalization();
    self->configExperiment_->updateExperimentsWithHandler([complete](NSErrorRef) { complete(true, nullptr); });
  });
}

// ---- Reads ----

ZIRRemoteConfigValueRef ZIRRemoteConfig::configValueForKey(const std::optional<std::string>& key) {
  if (!key) return staticValue();
  return readOnQueue<ZIRRemoteConfigValueRef>(staticValue(), [&]() -> ZIRRemoteConfigValueRef {
    if (auto active = configContent_->valueForKey(FIRNamespace_, *key, RCNDBSourceActive)) {
      if (active->source() != ZIRRemoteConfigSource::Remote) {
        ZIRLogError(kRCNLoggerService, "I-RCN000001", "Key %s should come from source:%zd instead coming from source: %zd.",
                    key->c_str(), static_cast<ssize_t>(ZIRRemoteConfigSource::Remote),
                    static_cast<ssize_t>(active->source()));
      }
      bool hasListeners;
      {
        std::lock_guard<std::mutex> lock(listenersMutex_);
        hasListeners = listeners_ && !listeners_->empty();
      }
      if (hasListeners) callListeners(*key, configContent_->getConfigAndMetadataForNamespace(FIRNamespace_));
      return active;
    }
    if (auto fallback = configContent_->valueForKey(FIRNamespace_, *key, RCNDBSourceDefault)) return fallback;
    return staticValue();
  });
}

ZIRRemoteConfigValueRef ZIRRemoteConfig::configValueForKey(const std::optional<std::string>& key,
                                                           ZIRRemoteConfigSource source) {
  if (!key) return staticValue();
  return readOnQueue<ZIRRemoteConfigValueRef>(staticValue(), [&]() -> ZIRRemoteConfigValueRef {
    switch (source) {
      case ZIRRemoteConfigSource::Remote:
        return configContent_->valueForKey(FIRNamespace_, *key, RCNDBSourceActive);
      case ZIRRemoteConfigSource::Default:
        return configContent_->valueForKey(FIRNamespace_, *key, RCNDBSourceDefault);
      default:
        return staticValue();
    }
  });
}

ZIRRemoteConfigValueRef ZIRRemoteConfig::defaultValueForKey(const std::optional<std::string>& key) {
  if (!key) return nullptr;
  return readOnQueue<ZIRRemoteConfigValueRef>(nullptr, [&]() -> ZIRRemoteConfigValueRef {
    auto value = configContent_->valueForKey(FIRNamespace_, *key, RCNDBSourceDefault);
    if (value && value->source() != ZIRRemoteConfigSource::Default) {
      ZIRLogError(kRCNLoggerService, "I-RCN000002", "Key %s should come from source:%zd instead coming from source: %zd",
                  key->c_str(), static_cast<ssize_t>(ZIRRemoteConfigSource::Default),
                  static_cast<ssize_t>(value->source()));
    }
    return value;
  });
}

std::vector<std::string> ZIRRemoteConfig::allKeysFromSource(ZIRRemoteConfigSource source) {
  return readOnQueue<std::vector<std::string>>({}, [&]() -> std::vector<std::string> {
    if (source != ZIRRemoteConfigSource::Remote && source != ZIRRemoteConfigSource::Default) return {};
    const RCNDBSource layer = source == ZIRRemoteConfigSource::Remote ? RCNDBSourceActive : RCNDBSourceDefault;
    return configContent_->keysForNamespace(FIRNamespace_, layer).value_or(std::vector<std::string>());
  });
}

std::set<std::string> ZIRRemoteConfig::keysWithPrefix(const std::optional<std::string>& prefix) {
  return readOnQueue<std::set<std::string>>({}, [&]() -> std::set<std::string> {
    std::set<std::string> keys;
    for (const auto& key : configContent_->keysForNamespace(FIRNamespace_, RCNDBSourceActive).value_or(
             std::vector<std::string>())) {
      if (!prefix || prefix->empty() || ns::hasPrefix(key, *prefix)) keys.insert(key);
    }
    return keys;
  });
}

std::vector<std::string> ZIRRemoteConfig::keyEnumerator() {
  return readOnQueue<std::vector<std::string>>({}, [&] {
    return configContent_->keysForNamespace(FIRNamespace_, RCNDBSourceActive).value_or(std::vector<std::string>());
  });
}

// ---- Defaults ----

void ZIRRemoteConfig::setDefaults(const Value& defaults) {
  const Value copy = defaults.is_null() ? Value::object() : defaults;
  auto self = shared_from_this();
  queue_->async([self, copy] {
    Value fullyQualified = Value::object();
    fullyQualified[self->FIRNamespace_] = copy;
    self->configContent_->copyFromDictionary(fullyQualified, RCNDBSourceDefault, self->FIRNamespace_);
    self->settings_->setLastSetDefaultsTimeInterval(ns::timeIntervalSince1970());
  });
}

std::optional<Value> ZIRRemoteConfig::defaultsFromPlistData(const std::string& bytes, std::string* error) {
  if (bytes.size() > kRCNMaxDefaultsFileBytes) {
    if (error) *error = ns::format("the file is larger than %zu bytes", kRCNMaxDefaultsFileBytes);
    return std::nullopt;
  }
  std::string parseError;
  auto parsed = ns::plistParse(bytes, &parseError);
  if (!parsed) {
    if (error) *error = parseError;
    return std::nullopt;
  }
  if (!parsed->is_object()) {
    if (error) *error = "the property list is not a dictionary";
    return std::nullopt;
  }
  return parsed;
}

void ZIRRemoteConfig::setDefaultsFromPlistFileName(const std::optional<std::string>& fileName) {
  std::optional<std::string> path;
  if (fileName && !fileName->empty()) path = NSBundle::mainBundle().pathForResource(*fileName, "plist");
  if (!path) {
    ZIRLogWarning(kRCNLoggerService, "I-RCN000037", "The plist file '%s' could not be found by Remote Config.",
                  fileName.value_or("(null)").c_str());
    return;
  }
  std::string error;
  std::optional<Value> defaults;
  std::string bytes;
  if (ns::readFile(*path, kRCNMaxDefaultsFileBytes, &bytes) != ns::FileRead::Read) {
    error = ns::format("the file cannot be read or is larger than %zu bytes", kRCNMaxDefaultsFileBytes);
  } else {
    defaults = defaultsFromPlistData(bytes, &error);
  }
  if (!defaults) {
    ZIRLogError(kRCNLoggerService, "I-RCN000077", "The plist file '%s' could not be read as defaults by Remote Config: %s.",
                fileName->c_str(), error.c_str());
    return;
  }
  setDefaults(*defaults);
}

// ---- Settings and fetch facts ----

ZIRRemoteConfigSettings ZIRRemoteConfig::configSettings() {
  ZIRRemoteConfigSettings result;
  queue_->sync([&] {
    result.minimumFetchInterval = settings_->minimumFetchInterval();
    result.fetchTimeout = settings_->fetchTimeout();
  });
  ZIRLogDebug(kRCNLoggerService, "I-RCN000066",
              "Successfully read configSettings. Minimum Fetch Interval:%f, Fetch timeout: %f",
              result.minimumFetchInterval, result.fetchTimeout);
  // Reading leaves the fetch session alone: a fetch under way is not cancelled by a read.
  return result;
}

void ZIRRemoteConfig::setConfigSettings(const std::optional<ZIRRemoteConfigSettings>& settings) {
  auto self = shared_from_this();
  queue_->async([self, settings] {
    if (!settings) return;
    self->settings_->setMinimumFetchInterval(settings->minimumFetchInterval);
    self->settings_->setFetchTimeout(settings->fetchTimeout);
    if (auto fetch = self->configFetch()) fetch->recreateNetworkSession();
    ZIRLogDebug(kRCNLoggerService, "I-RCN000067",
                "Successfully set configSettings. Minimum Fetch Interval:%f, Fetch timeout:%f",
                settings->minimumFetchInterval, settings->fetchTimeout);
  });
}

double ZIRRemoteConfig::lastFetchTime() {
  return readOnQueue<double>(0, [&] { return settings_->lastFetchTimeInterval(); });
}

ZIRRemoteConfigFetchStatus ZIRRemoteConfig::lastFetchStatus() {
  return readOnQueue<ZIRRemoteConfigFetchStatus>(ZIRRemoteConfigFetchStatus::NoFetchYet, [&] {
    return static_cast<ZIRRemoteConfigFetchStatus>(settings_->lastFetchStatus());
  });
}

// ---- Listeners ----

void ZIRRemoteConfig::addListener(Listener listener) {
  std::lock_guard<std::mutex> lock(listenersMutex_);
  if (listeners_) listeners_->push_back(std::move(listener));
}

void ZIRRemoteConfig::callListeners(const std::string& key, const RCNConfigAndMetadata& config) {
  std::lock_guard<std::mutex> lock(listenersMutex_);
  if (!listeners_) return;
  for (const auto& listener : *listeners_) {
    queue_->async([listener, key, config] { listener(key, config); });
  }
}

std::string ZIRRemoteConfig::fullyQualifiedNamespace(const std::string& namespace_) const {
  if (namespace_.find(':') != std::string::npos) return namespace_;
  return ns::format("%s:%s", namespace_.c_str(), appName_.c_str());
}
