#include "sdk/remote_config/RCNUserDefaultsManager.h"

#include "platform/foundation/NSString.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/remote_config/RCNConfigConstants.h"

namespace {

constexpr const char* kLastETag = "lastETag";
constexpr const char* kLastETagUpdateTime = "lastETagUpdateTime";
constexpr const char* kLastSuccessfulFetchTime = "lastSuccessfulFetchTime";
constexpr const char* kLastFetchStatus = "lastFetchStatus";
constexpr const char* kIsClientThrottled = "isClientThrottledWithExponentialBackoff";
constexpr const char* kThrottleEndTime = "throttleEndTime";
constexpr const char* kCurrentThrottlingRetryInterval = "currentThrottlingRetryInterval";

struct SharedSuite {
  std::mutex mutex;  // serialises the read-modify-write of every manager
  std::shared_ptr<NSUserDefaults> defaults;
};

SharedSuite& sharedSuite() {
  static SharedSuite* suite = new SharedSuite();
  return *suite;
}

// The instance record held in an app record, or an empty dictionary.
Value instanceRecordIn(const Value& app, const std::string& instanceNamespace) {
  auto it = app.find(instanceNamespace);
  if (it == app.end() || !it->is_object()) return Value::object();
  return *it;
}

}  // namespace

RCNUserDefaultsManager::RCNUserDefaultsManager(std::string appName, std::string bundleIdentifier,
                                               const std::string& fullyQualifiedNamespace)
    : appName_(std::move(appName)), bundleIdentifier_(std::move(bundleIdentifier)) {
  const size_t colon = fullyQualifiedNamespace.find(':');
  if (colon == std::string::npos) {
    ZIRLogError(kRCNLoggerService, "I-RCN000064", "Error: Namespace %s is not fully qualified app:namespace.",
                fullyQualifiedNamespace.c_str());
    namespace_ = fullyQualifiedNamespace;
  } else {
    namespace_ = fullyQualifiedNamespace.substr(0, colon);
  }
  userDefaults_ = sharedUserDefaultsForBundleIdentifier(bundleIdentifier_);
}

std::string RCNUserDefaultsManager::userDefaultsSuiteNameForBundleIdentifier(const std::string& bundleIdentifier) {
  return ns::format("%s.%s.%s", "group", bundleIdentifier.c_str(), "zirezize");
}

std::shared_ptr<NSUserDefaults> RCNUserDefaultsManager::sharedUserDefaultsForBundleIdentifier(
    const std::string& bundleIdentifier) {
  SharedSuite& suite = sharedSuite();
  std::lock_guard<std::mutex> lock(suite.mutex);
  if (!suite.defaults) {
    suite.defaults = NSUserDefaults::suiteNamed(userDefaultsSuiteNameForBundleIdentifier(bundleIdentifier));
  }
  return suite.defaults;
}

void RCNUserDefaultsManager::resetSharedUserDefaultsForTesting() {
  SharedSuite& suite = sharedSuite();
  std::lock_guard<std::mutex> lock(suite.mutex);
  suite.defaults.reset();
}

Value RCNUserDefaultsManager::appUserDefaults() const {
  auto record = userDefaults_->objectForKey(appName_);
  if (!record || !record->is_object()) return Value::object();
  return *record;
}

Value RCNUserDefaultsManager::instanceUserDefaults() const { return instanceRecordIn(appUserDefaults(), namespace_); }

template <class F>
void RCNUserDefaultsManager::changeInstanceRecord(F&& change) {
  std::lock_guard<std::mutex> lock(sharedSuite().mutex);
  Value app = appUserDefaults();
  Value instance = instanceRecordIn(app, namespace_);
  change(instance);
  app[namespace_] = std::move(instance);
  userDefaults_->setObject(app, appName_);
  userDefaults_->synchronize();
}

void RCNUserDefaultsManager::setInstanceUserDefaultsValue(const Value& value, const std::string& key) {
  changeInstanceRecord([&](Value& instance) { instance[key] = value; });
}

void RCNUserDefaultsManager::resetInstanceUserDefaults() {
  changeInstanceRecord([](Value& instance) { instance = Value::object(); });
}

double RCNUserDefaultsManager::numberForKey(const char* key) const {
  Value instance = instanceUserDefaults();
  auto it = instance.find(key);
  if (it == instance.end()) return 0;
  if (it->is_number()) return it->get<double>();
  if (it->is_boolean()) return it->get<bool>() ? 1 : 0;
  if (it->is_string()) return ns::doubleValue(it->get<std::string>());
  return 0;
}

std::optional<std::string> RCNUserDefaultsManager::textForKey(const char* key) const {
  Value instance = instanceUserDefaults();
  auto it = instance.find(key);
  if (it == instance.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<std::string> RCNUserDefaultsManager::lastETag() const { return textForKey(kLastETag); }

void RCNUserDefaultsManager::setLastETag(const std::optional<std::string>& etag) {
  if (etag) setInstanceUserDefaultsValue(*etag, kLastETag);
}

double RCNUserDefaultsManager::lastETagUpdateTime() const { return numberForKey(kLastETagUpdateTime); }

void RCNUserDefaultsManager::setLastETagUpdateTime(double time) {
  if (time != 0) setInstanceUserDefaultsValue(time, kLastETagUpdateTime);
}

double RCNUserDefaultsManager::lastFetchTime() const { return numberForKey(kLastSuccessfulFetchTime); }

void RCNUserDefaultsManager::setLastFetchTime(double time) { setInstanceUserDefaultsValue(time, kLastSuccessfulFetchTime); }

std::optional<std::string> RCNUserDefaultsManager::lastFetchStatus() const { return textForKey(kLastFetchStatus); }

void RCNUserDefaultsManager::setLastFetchStatus(const std::optional<std::string>& status) {
  if (status) setInstanceUserDefaultsValue(*status, kLastFetchStatus);
}

bool RCNUserDefaultsManager::isClientThrottledWithExponentialBackoff() const {
  return numberForKey(kIsClientThrottled) != 0;
}

void RCNUserDefaultsManager::setIsClientThrottledWithExponentialBackoff(bool throttled) {
  setInstanceUserDefaultsValue(throttled, kIsClientThrottled);
}

double RCNUserDefaultsManager::throttleEndTime() const { return numberForKey(kThrottleEndTime); }

void RCNUserDefaultsManager::setThrottleEndTime(double time) { setInstanceUserDefaultsValue(time, kThrottleEndTime); }

double RCNUserDefaultsManager::currentThrottlingRetryIntervalSeconds() const {
  return numberForKey(kCurrentThrottlingRetryInterval);
}

void RCNUserDefaultsManager::setCurrentThrottlingRetryIntervalSeconds(double seconds) {
  setInstanceUserDefaultsValue(seconds, kCurrentThrottlingRetryInterval);
}
