#pragma once
// Everything one remote-configuration instance knows about its fetches: the minimum fetch interval
// and time-out, the last fetch status and error, success and failure times, the device context of
// the last successful fetch, the entity tag, the installation identifier and token to send, and
// the exponential back-off state. Decides whether a fetch is due or throttled, builds the request
// body, and persists its metadata in the configuration database (one row per bundle and
// namespace) and in the user-defaults record (entity tag, its time, last successful fetch time).
//
// One per remote-configuration instance, used on the remote-configuration queue; the in-progress
// flag alone is also written from the network callback and is atomic. The back-off interval and
// end time live only in memory, as do the minimum interval and time-out.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "sdk/remote_config/RCNConfigDBManager.h"
#include "sdk/remote_config/RCNUserDefaultsManager.h"

class RCNConfigSettings {
 public:
  RCNConfigSettings(std::shared_ptr<RCNConfigDBManager> manager, std::string fullyQualifiedNamespace,
                    const std::string& zirezizeAppName, std::optional<std::string> deruruAppID);

  // Reads the metadata row and applies every field it holds; returns a copy of the row.
  Value loadConfigFromMetadataTable();

  // After a network answer: back-off step (on failure), fetch time lists, status and error,
  // last fetch time and device context (on success), then the metadata row.
  void updateMetadataWithFetchSuccessStatus(bool fetchSuccess);
  void updateMetadataTable();
  void updateExponentialBackoffTime();

  bool hasMinimumFetchIntervalElapsed(double minimumFetchInterval) const;
  bool shouldThrottle() const;
  std::string nextRequestWithUserProperties(const std::optional<Value>& userProperties) const;

  void setCustomVariables(const Value& customVariables);
  void updateInternalContentWithResponse(const Value& response);

  // Fetch status and error.
  int64_t lastFetchStatus() const { return lastFetchStatus_; }
  void setLastFetchStatus(int64_t status) { lastFetchStatus_ = status; }
  int64_t lastFetchError() const { return lastFetchError_; }
  // Stores the code and, when it changed, writes status and error to the metadata row.
  void setLastFetchError(int64_t error);

  double lastApplyTimeInterval() const { return lastApplyTimeInterval_; }
  void setLastApplyTimeInterval(double time);
  double lastSetDefaultsTimeInterval() const { return lastSetDefaultsTimeInterval_; }
  void setLastSetDefaultsTimeInterval(double time);

  double minimumFetchInterval() const { return minimumFetchInterval_; }
  void setMinimumFetchInterval(double seconds);  // negative becomes 0
  double fetchTimeout() const { return fetchTimeout_; }
  void setFetchTimeout(double seconds);  // 0 or less becomes 60

  // Kept in the user defaults (read from them at creation).
  std::optional<std::string> lastETag() const;
  void setLastETag(const std::optional<std::string>& etag);  // stamps the update time first
  double lastETagUpdateTime() const;
  void setLastETagUpdateTime(double time);
  double lastFetchTimeInterval() const;
  void updateLastFetchTimeInterval(double time);

  // The entity tag and the fetch times describe the fetched template the database holds, so those
  // of an answer are stored only behind its rows. Between beginAnswer() and endAnswer() the three
  // setters above change them for this process only; endAnswer() stores what changed in the user
  // defaults on the database queue once the answer's writes have run, and only when none of them
  // failed (the tag is then forgotten, so that the next fetch brings the whole template to store
  // again). `stored` runs after that, on the database queue. Outside an answer they store at once.
  void beginAnswer();
  void endAnswer(std::function<void()> stored);

  bool isFetchInProgress() const { return isFetchInProgress_.load(); }
  void setIsFetchInProgress(bool inProgress) { isFetchInProgress_ = inProgress; }

  const std::optional<std::string>& configInstallationsIdentifier() const { return configInstallationsIdentifier_; }
  void setConfigInstallationsIdentifier(std::optional<std::string> v) { configInstallationsIdentifier_ = std::move(v); }
  const std::optional<std::string>& configInstallationsToken() const { return configInstallationsToken_; }
  void setConfigInstallationsToken(std::optional<std::string> v) { configInstallationsToken_ = std::move(v); }

  double exponentialBackoffRetryInterval() const { return exponentialBackoffRetryInterval_; }
  double exponentialBackoffThrottleEndTime() const { return exponentialBackoffThrottleEndTime_; }

  // Copies.
  std::vector<double> successFetchTimes() const { return successFetchTimes_; }
  std::vector<double> failureFetchTimes() const { return failureFetchTimes_; }
  Value customVariables() const { return customVariables_; }
  Value internalMetadata() const { return internalMetadata_; }
  // Read by the fetch entry on the caller's thread, so guarded by its own lock.
  Value deviceContext() const {
    std::lock_guard<std::mutex> lock(deviceContextMutex_);
    return deviceContext_;
  }

  const std::string& bundleIdentifier() const { return bundleIdentifier_; }
  const std::string& fullyQualifiedNamespace() const { return ZIRNamespace_; }
  const std::optional<std::string>& deruruAppID() const { return deruruAppID_; }
  const std::shared_ptr<RCNUserDefaultsManager>& userDefaultsManager() const { return userDefaultsManager_; }

 private:
  void updateFetchTimeWithSuccessFetch(bool isSuccessfulFetch);

  std::vector<double> successFetchTimes_;
  std::vector<double> failureFetchTimes_;
  mutable std::mutex deviceContextMutex_;
  Value deviceContext_ = Value::object();
  Value customVariables_ = Value::object();
  Value internalMetadata_ = Value::object();
  int64_t lastFetchStatus_ = 0;
  int64_t lastFetchError_ = 0;
  double lastApplyTimeInterval_ = 0;
  double lastSetDefaultsTimeInterval_ = 0;
  std::shared_ptr<RCNConfigDBManager> DBManager_;
  std::string ZIRNamespace_;
  std::optional<std::string> deruruAppID_;
  std::shared_ptr<RCNUserDefaultsManager> userDefaultsManager_;
  std::atomic<bool> isFetchInProgress_{false};
  // Read by the public API on the caller's thread, so atomic.
  std::atomic<double> minimumFetchInterval_{43200};
  std::atomic<double> fetchTimeout_{60};
  std::optional<std::string> configInstallationsIdentifier_;
  std::optional<std::string> configInstallationsToken_;
  std::string bundleIdentifier_;
  double exponentialBackoffRetryInterval_ = 0;
  double exponentialBackoffThrottleEndTime_ = 0;

  // The user-defaults facts as this process uses them; shared with the store task of an answer.
  struct FetchFacts {
    std::optional<std::string> etag;
    double etagUpdateTime = 0;
    double fetchTime = 0;
  };
  struct FetchFactsState {
    std::mutex mutex;
    FetchFacts facts;
  };
  std::shared_ptr<FetchFactsState> fetchFacts_ = std::make_shared<FetchFactsState>();
  // Touched on the remote-configuration queue only: whether an answer is open, which facts it
  // changed, and the failed-statement count of the database before its writes (filled in on the
  // database queue, read there by the store task).
  bool answerOpen_ = false;
  bool answerChangedETag_ = false;
  bool answerChangedETagUpdateTime_ = false;
  bool answerChangedFetchTime_ = false;
  std::shared_ptr<uint64_t> failedStatementsBeforeAnswer_;
};
