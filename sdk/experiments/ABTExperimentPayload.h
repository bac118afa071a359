#pragma once
// One experiment description as the remote-configuration service sends it: experiment and variant
// identifiers, start time, trigger, time-to-live, overflow policy and the names of the events to
// log. Read from the payload's JSON bytes; immutable afterwards except for the trigger event and
// the overflow policy, which its owner may change before handing it on.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "sdk/utilities/ZODBoundedJSON.h"

// Payload bytes come from the fetch answer or the configuration database: at most 1 MiB of JSON,
// nested at most 32 levels.
inline constexpr ZODJSONLimits kABTExperimentPayloadLimits{1u << 20, 32};

class ABTExperimentLite {
 public:
  explicit ABTExperimentLite(std::string experimentId) : experimentId(std::move(experimentId)) {}
  const std::string experimentId;
};

class ABTExperimentPayload;
using ABTExperimentPayloadRef = std::shared_ptr<ABTExperimentPayload>;

class ABTExperimentPayload {
 public:
  // The payload of JSON bytes (top-level fragments are read, and refused below). Null when the
  // bytes are not JSON within the limits, the top level is not an object, or the object lacks a
  // text "experimentId" or "variantId": such a payload could not name its experiment.
  static ABTExperimentPayloadRef parseFromData(const Bytes& data);
  // The payload of a dictionary; null under the same conditions.
  static ABTExperimentPayloadRef initWithDictionary(const Value& dictionary);

  // Reads "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" in UTC as milliseconds since 1970; nullopt when the text
  // does not have that form or names no real date.
  static std::optional<int64_t> experimentStartTimeMillisFromText(const std::string& text);

  int overflowPolicy() const { return overflowPolicy_; }
  const std::string& experimentId() const { return experimentId_; }
  const std::string& variantId() const { return variantId_; }
  int64_t experimentStartTimeMillis() const { return experimentStartTimeMillis_; }
  const std::optional<std::string>& triggerEvent() const { return triggerEvent_; }
  int64_t triggerTimeoutMillis() const { return triggerTimeoutMillis_; }
  int64_t timeToLiveMillis() const { return timeToLiveMillis_; }
  const std::optional<std::string>& setEventToLog() const { return setEventToLog_; }
  const std::optional<std::string>& activateEventToLog() const { return activateEventToLog_; }
  const std::optional<std::string>& clearEventToLog() const { return clearEventToLog_; }
  const std::optional<std::string>& timeoutEventToLog() const { return timeoutEventToLog_; }
  const std::optional<std::string>& ttlExpiryEventToLog() const { return ttlExpiryEventToLog_; }
  const std::vector<ABTExperimentLite>& ongoingExperiments() const { return ongoingExperiments_; }

  // Removes the trigger event, so that the experiment is active as soon as it is set.
  void clearTriggerEvent() { triggerEvent_.reset(); }
  // Whether the policy is discard-oldest (1) or ignore-newest (2).
  bool overflowPolicyIsValid() const;
  void setOverflowPolicy(int policy) { overflowPolicy_ = policy; }

 private:
  ABTExperimentPayload() = default;

  int overflowPolicy_ = 0;
  std::string experimentId_;
  std::string variantId_;
  int64_t experimentStartTimeMillis_ = 0;
  std::optional<std::string> triggerEvent_;
  int64_t triggerTimeoutMillis_ = 0;
  int64_t timeToLiveMillis_ = 0;
  std::optional<std::string> setEventToLog_;
  std::optional<std::string> activateEventToLog_;
  std::optional<std::string> clearEventToLog_;
  std::optional<std::string> timeoutEventToLog_;
  std::optional<std::string> ttlExpiryEventToLog_;
  std::vector<ABTExperimentLite> ongoingExperiments_;
};

// Checks that the bytes are strict JSON (logging "I-ABT000001" when not) and returns the payload
// they hold, or null.
ABTExperimentPayloadRef ABTDeserializeExperimentPayload(const Bytes& data);
