#include "sdk/remote_config/RCNConfigSettings.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSString.h"
#include "platform/security/Crypto.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/remote_config/RCNConfigConstants.h"
#include "sdk/remote_config/RCNDevice.h"
#include "sdk/utilities/ZODAppEnvironmentUtil.h"

namespace {

constexpr double kRCNExponentialBackoffMinimumInterval = 120;     // 2 minutes
constexpr double kRCNExponentialBackoffMaximumInterval = 14400;   // 4 hours

std::vector<double> numbersOf(const Value& list) {
  std::vector<double> out;
  if (!list.is_array()) return out;
  for (const auto& item : list) {
    if (item.is_number()) out.push_back(item.get<double>());
  }
  return out;
}

Value listOf(const std::vector<double>& numbers) {
  Value list = Value::array();
  for (double n : numbers) list.push_back(n);
  return list;
}

// Pretty-printed JSON bytes of a value, or nullopt when it cannot be written as JSON.
std::optional<Bytes> prettyJSONBytes(const Value& v) {
  try {
    const std::string text = value::toJSON(v, /*pretty=*/true);
    return Bytes(text.begin(), text.end());
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

double numberIn(const Value& row, const char* key, double fallback) {
  auto it = row.find(key);
  if (it == row.end() || !it->is_number()) return fallback;
  return it->get<double>();
}

std::string quoted(const std::optional<std::string>& v) { return v ? *v : "(null)"; }

}  // namespace

RCNConfigSettings::RCNConfigSettings(std::shared_ptr<RCNConfigDBManager> manager, std::string fullyQualifiedNamespace,
                                     const std::string& zirezizeAppName, std::optional<std::string> deruruAppID)
    : DBManager_(std::move(manager)), ZIRNamespace_(std::move(fullyQualifiedNamespace)), deruruAppID_(std::move(deruruAppID)) {
  auto identifier = NSBundle::mainBundle().bundleIdentifier();
  if (!identifier) {
    ZIRLogNotice(kRCNLoggerService, "I-RCN000038", "Main bundle identifier is missing. Remote Config might not work properly.");
  }
  bundleIdentifier_ = identifier.value_or("");
  if (DBManager_) {
    for (auto& [key, bytes] : DBManager_->loadInternalMetadataTable()) internalMetadata_[key] = value::data(bytes);
  }
  userDefaultsManager_ = std::make_shared<RCNUserDefaultsManager>(zirezizeAppName, bundleIdentifier_, ZIRNamespace_);
  if (DBManager_ && DBManager_->isNewDatabase()) {
    ZIRLogNotice(kRCNLoggerService, "I-RCN000072", "New config database created. Resetting user defaults.");
    userDefaultsManager_->resetUserDefaults();
  }
  fetchFacts_->facts.etag = userDefaultsManager_->lastETag();
  fetchFacts_->facts.etagUpdateTime = userDefaultsManager_->lastETagUpdateTime();
  fetchFacts_->facts.fetchTime = userDefaultsManager_->lastFetchTime();
  isFetchInProgress_ = false;
}

Value RCNConfigSettings::loadConfigFromMetadataTable() {
  if (!DBManager_) return Value::object();
  Value row = DBManager_->loadMetadataWithBundleIdentifier(bundleIdentifier_, ZIRNamespace_);
  if (!row.is_object()) return Value::object();
  if (auto it = row.find(RCNKeyDeviceContext); it != row.end() && it->is_object()) {
    std::lock_guard<std::mutex> lock(deviceContextMutex_);
    deviceContext_ = *it;
  }
  if (auto it = row.find(RCNKeyAppContext); it != row.end() && it->is_object()) customVariables_ = *it;
  if (auto it = row.find(RCNKeySuccessFetchTime); it != row.end()) successFetchTimes_ = numbersOf(*it);
  if (auto it = row.find(RCNKeyFailureFetchTime); it != row.end()) failureFetchTimes_ = numbersOf(*it);
  lastFetchStatus_ = static_cast<int64_t>(numberIn(row, RCNKeyLastFetchStatus, static_cast<double>(lastFetchStatus_)));
  lastFetchError_ = static_cast<int64_t>(numberIn(row, RCNKeyLastFetchError, static_cast<double>(lastFetchError_)));
  lastApplyTimeInterval_ = numberIn(row, RCNKeyLastApplyTime, lastApplyTimeInterval_);
  lastSetDefaultsTimeInterval_ = numberIn(row, RCNKeyLastSetDefaultsTime, lastSetDefaultsTimeInterval_);
  return row;
}

void RCNConfigSettings::updateMetadataWithFetchSuccessStatus(bool fetchSuccess) {
  ZIRLogDebug(kRCNLoggerService, "I-RCN000056", "Updating metadata with fetch result.");
  // The back-off step reads the previous fetch's status, so it runs before the status changes.
  if (!fetchSuccess) updateExponentialBackoffTime();
  updateFetchTimeWithSuccessFetch(fetchSuccess);
  lastFetchStatus_ = fetchSuccess ? static_cast<int64_t>(ZIRRemoteConfigFetchStatus::Success)
                                  : static_cast<int64_t>(ZIRRemoteConfigFetchStatus::Failure);
  lastFetchError_ = fetchSuccess ? kZIRRemoteConfigErrorUnknown : kZIRRemoteConfigErrorInternalError;
  if (fetchSuccess) {
    updateLastFetchTimeInterval(ns::timeIntervalSince1970());
    Value context = ZIRRemoteConfigDeviceContext(deruruAppID_);
    std::lock_guard<std::mutex> lock(deviceContextMutex_);
    deviceContext_ = std::move(context);
  }
  updateMetadataTable();
}

void RCNConfigSettings::updateFetchTimeWithSuccessFetch(bool isSuccessfulFetch) {
  const double now = ns::timeIntervalSince1970();
  (isSuccessfulFetch ? successFetchTimes_ : failureFetchTimes_).push_back(now);
}

void RCNConfigSettings::updateMetadataTable() {
  if (!DBManager_) return;
  if (bundleIdentifier_.empty()) {
    DBManager_->replaceMetadataTableRecordWithBundleIdentifier(bundleIdentifier_, ZIRNamespace_, std::nullopt);
    return;
  }
  struct Part {
    const Value& value;
    const char* code;
    const char* message;
    std::optional<Bytes> bytes;
  };
  const Value context = deviceContext();
  const Value successTimes = listOf(successFetchTimes_);
  const Value failureTimes = listOf(failureFetchTimes_);
  Part parts[] = {
      {customVariables_, "I-RCN000028", "Invalid custom variables to be serialized.", std::nullopt},
      {context, "I-RCN000029", "Invalid device context to be serialized.", std::nullopt},
      {successTimes, "I-RCN000031", "Invalid success fetch times to be serialized.", std::nullopt},
      {failureTimes, "I-RCN000032", "Invalid failure fetch times to be serialized.", std::nullopt},
  };
  for (auto& part : parts) {
    part.bytes = prettyJSONBytes(part.value);
    if (!part.bytes) {
      ZIRLogError(kRCNLoggerService, part.code, "%s", part.message);
      DBManager_->replaceMetadataTableRecordWithBundleIdentifier(bundleIdentifier_, ZIRNamespace_, std::nullopt);
      return;
    }
  }
  Value row = Value::object();
  row[RCNKeyBundleIdentifier] = bundleIdentifier_;
  row[RCNKeyNamespace] = ZIRNamespace_;
  row[RCNKeyFetchTime] = lastFetchTimeInterval();
  row[RCNKeyDigestPerNamespace] = value::data(*prettyJSONBytes(Value::object()));
  row[RCNKeyDeviceContext] = value::data(*parts[1].bytes);
  row[RCNKeyAppContext] = value::data(*parts[0].bytes);
  row[RCNKeySuccessFetchTime] = value::data(*parts[2].bytes);
  row[RCNKeyFailureFetchTime] = value::data(*parts[3].bytes);
  row[RCNKeyLastFetchStatus] = ns::format("%ld", static_cast<long>(lastFetchStatus_));
  row[RCNKeyLastFetchError] = ns::format("%ld", static_cast<long>(lastFetchError_));
  row[RCNKeyLastApplyTime] = lastApplyTimeInterval_;
  row[RCNKeyLastSetDefaultsTime] = lastSetDefaultsTimeInterval_;
  DBManager_->replaceMetadataTableRecordWithBundleIdentifier(bundleIdentifier_, ZIRNamespace_, std::move(row));
}

void RCNConfigSettings::updateExponentialBackoffTime() {
  if (lastFetchStatus_ == static_cast<int64_t>(ZIRRemoteConfigFetchStatus::Success)) {
    ZIRLogDebug(kRCNLoggerService, "I-RCN000057", "Throttling: Entering exponential backoff mode.");
    exponentialBackoffRetryInterval_ = kRCNExponentialBackoffMinimumInterval;
  } else {
    ZIRLogDebug(kRCNLoggerService, "I-RCN000057", "Throttling: Updating throttling interval.");
    const double doubled = exponentialBackoffRetryInterval_ * 2;
    if (doubled < kRCNExponentialBackoffMaximumInterval) exponentialBackoffRetryInterval_ = doubled;
  }
  // Half the interval is added or taken away at random, so that clients do not retry in step.
  const double sign = security::randomUniform(2) == 1 ? 1 : -1;
  exponentialBackoffThrottleEndTime_ =
      ns::timeIntervalSince1970() + exponentialBackoffRetryInterval_ + 0.5 * exponentialBackoffRetryInterval_ * sign;
}

bool RCNConfigSettings::hasMinimumFetchIntervalElapsed(double minimumFetchInterval) const {
  const double last = lastFetchTimeInterval();
  if (last == 0) return true;
  return ns::timeIntervalSince1970() - last > minimumFetchInterval;
}

bool RCNConfigSettings::shouldThrottle() const {
  return lastFetchTimeInterval() > 0 &&
         lastFetchStatus_ != static_cast<int64_t>(ZIRRemoteConfigFetchStatus::Success) &&
         exponentialBackoffThrottleEndTime_ - ns::timeIntervalSince1970() > 0;
}

std::string RCNConfigSettings::nextRequestWithUserProperties(const std::optional<Value>& userProperties) const {
  // The service reads this brace text as it is: values are put in quotes unescaped.
  std::string body = "{";
  body += "app_instance_id:'" + quoted(configInstallationsIdentifier_) + "'";
  body += ", app_instance_id_token:'" + quoted(configInstallationsToken_) + "'";
  body += ", app_id:'" + quoted(deruruAppID_) + "'";
  body += ", country_code:'" + quoted(ZIRRemoteConfigDeviceCountry()) + "'";
  body += ", language_code:'" + ZIRRemoteConfigDeviceLocale() + "'";
  body += ", platform_version:'" + ZODAppEnvironmentUtil::systemVersion() + "'";
  body += ", time_zone:'" + ZIRRemoteConfigTimeZoneName() + "'";
  body += ", package_name:'" + bundleIdentifier_ + "'";
  body += ", app_version:'" + quoted(ZIRRemoteConfigAppVersion()) + "'";
  body += ", app_build:'" + quoted(ZIRRemoteConfigAppBuild()) + "'";
  body += ", sdk_version:'" + ZIRRemoteConfigSDKVersion() + "'";
  if (userProperties && userProperties->is_object() && !userProperties->empty()) {
    try {
      body += ", analytics_user_properties:" + value::toJSON(*userProperties);
    } catch (const std::exception&) {
      // User properties that cannot be written as JSON are left out.
    }
  }
  body += "}";
  return body;
}

void RCNConfigSettings::setCustomVariables(const Value& customVariables) {
  customVariables_ = customVariables.is_object() ? customVariables : Value::object();
  updateMetadataTable();
}

void RCNConfigSettings::updateInternalContentWithResponse(const Value& response) {
  if (!DBManager_) return;
  DBManager_->deleteRecordWithBundleIdentifier(bundleIdentifier_, ZIRNamespace_, /*isInternalDB=*/true);
  for (auto it = internalMetadata_.begin(); it != internalMetadata_.end();) {
    if (ns::hasPrefix(it.key(), bundleIdentifier_)) {
      it = internalMetadata_.erase(it);
    } else {
      ++it;
    }
  }
  if (!response.is_object()) return;
  for (const auto& [key, v] : response.items()) {
    if (!v.is_string()) continue;
    const std::string& text = v.get_ref<const std::string&>();
    internalMetadata_[key] = text;
    DBManager_->insertInternalMetadataTableWithValues(Value::array({key, value::data(text)}), nullptr);
  }
}

void RCNConfigSettings::setLastFetchError(int64_t error) {
  if (lastFetchError_ == error) return;
  lastFetchError_ = error;
  if (DBManager_) {
    DBManager_->updateMetadataWithOption(RCNUpdateOptionFetchStatus, ZIRNamespace_,
                                         {Value(lastFetchStatus_), Value(lastFetchError_)}, nullptr);
  }
}

void RCNConfigSettings::setLastApplyTimeInterval(double time) {
  lastApplyTimeInterval_ = time;
  if (DBManager_) DBManager_->updateMetadataWithOption(RCNUpdateOptionApplyTime, ZIRNamespace_, {Value(time)}, nullptr);
}

void RCNConfigSettings::setLastSetDefaultsTimeInterval(double time) {
  lastSetDefaultsTimeInterval_ = time;
  if (DBManager_) DBManager_->updateMetadataWithOption(RCNUpdateOptionDefaultTime, ZIRNamespace_, {Value(time)}, nullptr);
}

void RCNConfigSettings::setMinimumFetchInterval(double seconds) { minimumFetchInterval_ = seconds < 0 ? 0 : seconds; }

void RCNConfigSettings::setFetchTimeout(double seconds) { fetchTimeout_ = seconds <= 0 ? 60 : seconds; }

std::optional<std::string> RCNConfigSettings::lastETag() const {
  std::lock_guard<std::mutex> lock(fetchFacts_->mutex);
  return fetchFacts_->facts.etag;
}

void RCNConfigSettings::setLastETag(const std::optional<std::string>& etag) {
  setLastETagUpdateTime(ns::timeIntervalSince1970());
  if (!etag) return;  // an answer without a tag keeps the stored one
  {
    std::lock_guard<std::mutex> lock(fetchFacts_->mutex);
    fetchFacts_->facts.etag = etag;
  }
  if (answerOpen_) {
    answerChangedETag_ = true;
  } else {
    userDefaultsManager_->setLastETag(etag);
  }
}

double RCNConfigSettings::lastETagUpdateTime() const {
  std::lock_guard<std::mutex> lock(fetchFacts_->mutex);
  return fetchFacts_->facts.etagUpdateTime;
}

void RCNConfigSettings::setLastETagUpdateTime(double time) {
  if (time == 0) return;  // as the user defaults keep it
  {
    std::lock_guard<std::mutex> lock(fetchFacts_->mutex);
    fetchFacts_->facts.etagUpdateTime = time;
  }
  if (answerOpen_) {
    answerChangedETagUpdateTime_ = true;
  } else {
    userDefaultsManager_->setLastETagUpdateTime(time);
  }
}

double RCNConfigSettings::lastFetchTimeInterval() const {
  std::lock_guard<std::mutex> lock(fetchFacts_->mutex);
  return fetchFacts_->facts.fetchTime;
}

void RCNConfigSettings::updateLastFetchTimeInterval(double time) {
  {
    std::lock_guard<std::mutex> lock(fetchFacts_->mutex);
    fetchFacts_->facts.fetchTime = time;
  }
  if (answerOpen_) {
    answerChangedFetchTime_ = true;
  } else {
    userDefaultsManager_->setLastFetchTime(time);
  }
}

void RCNConfigSettings::beginAnswer() {
  answerOpen_ = true;
  answerChangedETag_ = answerChangedETagUpdateTime_ = answerChangedFetchTime_ = false;
  failedStatementsBeforeAnswer_ = std::make_shared<uint64_t>(0);
  if (DBManager_) {
    DBManager_->afterQueuedWork([before = failedStatementsBeforeAnswer_](uint64_t failed) { *before = failed; });
  }
}

void RCNConfigSettings::endAnswer(std::function<void()> stored) {
  answerOpen_ = false;
  const bool changedETag = answerChangedETag_, changedETagUpdateTime = answerChangedETagUpdateTime_,
             changedFetchTime = answerChangedFetchTime_;
  FetchFacts facts;
  {
    std::lock_guard<std::mutex> lock(fetchFacts_->mutex);
    facts = fetchFacts_->facts;
  }
  auto store = [userDefaults = userDefaultsManager_, facts, changedETag, changedETagUpdateTime, changedFetchTime] {
    if (changedETag) userDefaults->setLastETag(facts.etag);
    if (changedETagUpdateTime) userDefaults->setLastETagUpdateTime(facts.etagUpdateTime);
    if (changedFetchTime) userDefaults->setLastFetchTime(facts.fetchTime);
  };
  if (!DBManager_) {
    store();
    if (stored) stored();
    return;
  }
  DBManager_->afterQueuedWork([before = failedStatementsBeforeAnswer_, state = fetchFacts_, facts, store,
                               stored = std::move(stored), ns = ZIRNamespace_](uint64_t failed) {
    if (failed == *before) {
      store();
    } else {
      // The database keeps the template it had, and the user defaults the facts that describe it.
      // This process goes on with the answer it holds in memory, but without its tag: a tag sent
      // for a template that is not stored could be answered "no change".
      ZIRLogError(kRCNLoggerService, "I-RCN000079",
                  "The fetched config of %s could not be stored; it is fetched whole next time.", ns.c_str());
      std::lock_guard<std::mutex> lock(state->mutex);
      if (state->facts.etag == facts.etag) state->facts.etag.reset();
    }
    if (stored) stored();
  });
}
