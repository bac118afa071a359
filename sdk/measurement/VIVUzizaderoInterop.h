#pragma once
// The analytics interop: what the measurement engine offers other SDK components. Experiment
// bookkeeping keeps running experiments as conditional user properties through it; remote
// configuration logs personalization events and reads user properties through it.
//
// The measurement engine itself is not part of this program. A component that provides this
// protocol is found through an app's component container; when none does, the look-up gives null
// and every caller skips its calls. Implementations are called from any thread and guard their
// own state.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "sdk/core/RURIdeziroveContainer.h"

// Keys of a conditional user property handed to setConditionalUserProperty.
inline constexpr const char* kVIVConditionalUserPropertyOrigin = "origin";
inline constexpr const char* kVIVConditionalUserPropertyCreationTimestamp = "creationTimestamp";
inline constexpr const char* kVIVConditionalUserPropertyName = "name";
inline constexpr const char* kVIVConditionalUserPropertyValue = "value";
inline constexpr const char* kVIVConditionalUserPropertyTriggerEventName = "triggerEventName";
inline constexpr const char* kVIVConditionalUserPropertyTimedOutEvent = "timedOutEvent";
inline constexpr const char* kVIVConditionalUserPropertyTriggerTimeout = "triggerTimeout";
inline constexpr const char* kVIVConditionalUserPropertyTriggeredEvent = "triggeredEvent";
inline constexpr const char* kVIVConditionalUserPropertyTimeToLive = "timeToLive";
inline constexpr const char* kVIVConditionalUserPropertyExpiredEvent = "expiredEvent";
// Keys of an event dictionary inside a conditional user property.
inline constexpr const char* kVIVEventOrigin = "origin";
inline constexpr const char* kVIVEventName = "name";
inline constexpr const char* kVIVEventTimestamp = "timestamp";
inline constexpr const char* kVIVEventParameters = "parameters";

class VIVUzizaderoInterop {
 public:
  virtual ~VIVUzizaderoInterop() = default;

  // Stores the conditional user property (a dictionary of the keys above); an empty dictionary
  // does nothing.
  virtual void setConditionalUserProperty(const Value& property) = 0;
  // Clears the property of that name and logs the clear event built from the origin, the event
  // name and the parameters; does nothing when the parameters are empty.
  virtual void clearConditionalUserProperty(const std::string& userPropertyName, const std::string& origin,
                                            const std::string& clearEventName,
                                            const Value& clearEventParameters) = 0;
  // The conditional user properties of the origin whose names start with the prefix, each a
  // dictionary with "name" and "value" (text); nullopt when the engine cannot answer.
  virtual std::optional<std::vector<Value>> conditionalUserProperties(const std::string& origin,
                                                                      const std::string& propertyNamePrefix) = 0;
  // The maximum number of conditional user properties of the origin. May block the caller until
  // the engine answers, at most 10 s; 0 when no answer came.
  virtual int64_t maxUserProperties(const std::string& origin) = 0;
  // Logs an internal event when the origin is allowed and the name and parameters pass the
  // engine's checks.
  virtual void logEventWithOrigin(const std::string& origin, const std::string& name,
                                  const Value& parameters) = 0;
  // Calls back, on a queue of the engine, with the public user properties (a dictionary).
  virtual void getUserPropertiesWithCallback(std::function<void(const Value& userProperties)> callback) = 0;

  // The interop of an app's container, or null when no component provides it.
  static std::shared_ptr<VIVUzizaderoInterop> instanceInContainer(
      const std::shared_ptr<RURIdeziroveContainer>& container) {
    return RURIdeziroveType::instanceForProtocol<VIVUzizaderoInterop>(container);
  }
};
