#include "sdk/experiments/ABTConditionalUserPropertyController.h"

#include <mutex>

#include "platform/foundation/NSDate.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/experiments/ABTConstants.h"

namespace {
std::mutex gSharedMutex;
std::shared_ptr<ABTConditionalUserPropertyController> gShared;

std::string textOf(const Value& experiment, const char* key) {
  if (!experiment.is_object()) return "";
  auto it = experiment.find(key);
  return it != experiment.end() && it->is_string() ? it->get<std::string>() : "";
}

// A non-empty name from the payload, else the events object's name.
std::string chosenName(const std::optional<std::string>& fromPayload, const std::string& fallback) {
  return fromPayload && !fromPayload->empty() ? *fromPayload : fallback;
}

Value experimentParameters(const ABTExperimentPayload& payload) {
  Value params = Value::object();
  params[payload.experimentId()] = payload.variantId();
  return params;
}
}  // namespace

std::shared_ptr<ABTConditionalUserPropertyController> ABTConditionalUserPropertyController::sharedInstanceWithAnalytics(
    std::shared_ptr<VIVUzizaderoInterop> analytics) {
  std::lock_guard<std::mutex> lock(gSharedMutex);
  if (!gShared) gShared = std::make_shared<ABTConditionalUserPropertyController>(std::move(analytics));
  return gShared;
}

void ABTConditionalUserPropertyController::resetSharedInstanceForTesting() {
  std::lock_guard<std::mutex> lock(gSharedMutex);
  gShared.reset();
}

std::optional<std::vector<Value>> ABTConditionalUserPropertyController::experimentsWithOrigin(
    const std::string& origin) const {
  if (!analytics_) return std::nullopt;
  return analytics_->conditionalUserProperties(origin, "");
}

int64_t ABTConditionalUserPropertyController::maxNumberOfExperimentsOfOrigin(const std::string& origin) const {
  if (!analytics_) return 0;
  return analytics_->maxUserProperties(origin);
}

std::string ABTConditionalUserPropertyController::experimentIDOfExperiment(const Value& experiment) {
  return textOf(experiment, "name");
}

std::string ABTConditionalUserPropertyController::variantIDOfExperiment(const Value& experiment) {
  return textOf(experiment, "value");
}

bool ABTConditionalUserPropertyController::isExperimentTheSameAsPayload(const Value& experiment,
                                                                       const ABTExperimentPayload& payload) {
  return experimentIDOfExperiment(experiment) == payload.experimentId() &&
         variantIDOfExperiment(experiment) == payload.variantId();
}

int ABTConditionalUserPropertyController::overflowPolicyWithPayload(const ABTExperimentPayload& payload,
                                                                    int originalPolicy) {
  if (payload.overflowPolicyIsValid()) return payload.overflowPolicy();
  if (originalPolicy == kABTOverflowPolicyDiscardOldest || originalPolicy == kABTOverflowPolicyIgnoreNewest) {
    return originalPolicy;
  }
  return kABTOverflowPolicyDiscardOldest;
}

void ABTConditionalUserPropertyController::setExperimentWithOrigin(const std::string& origin,
                                                                   const ABTExperimentPayload& payload,
                                                                   const ZIRLifecycleEvents& events, int policy) {
  const int64_t maximum = maxNumberOfExperimentsOfOrigin(origin);
  if (maximum < 0) return;
  auto running = experimentsWithOrigin(origin);
  if (!running) {
    ZIRLogInfo(kABTLoggerService, "I-ABT000003", "Failed to get conditional user properties from Zirezize Analytics.");
    return;
  }

  // The experiment dropped to make room, so that it is not cleared a second time below.
  std::optional<size_t> droppedForRoom;
  if (static_cast<int64_t>(running->size()) >= maximum) {
    const int resolved = overflowPolicyWithPayload(payload, policy);
    if (resolved == kABTOverflowPolicyDiscardOldest && !running->empty()) {
      const Value& oldest = running->front();
      const std::string oldestID = experimentIDOfExperiment(oldest);
      const std::string oldestVariant = variantIDOfExperiment(oldest);
      clearExperiment(oldestID, oldestVariant, origin, &payload, events);
      droppedForRoom = 0;
      ZIRLogDebug(kABTLoggerService, "I-ABT000016", "Clear experiment ID %s variant ID %s due to overflow policy.",
                  oldestID.c_str(), oldestVariant.c_str());
    } else {
      ZIRLogDebug(kABTLoggerService, "I-ABT000017", "Experiment ID %s variant ID %s won't be set due to overflow policy.",
                  payload.experimentId().c_str(), payload.variantId().c_str());
      return;
    }
  }

  // Only one variant of an experiment may run at a time.
  for (size_t i = 0; i < running->size(); ++i) {
    if (droppedForRoom == i) continue;
    const Value& experiment = (*running)[i];
    const std::string experimentID = experimentIDOfExperiment(experiment);
    const std::string variantID = variantIDOfExperiment(experiment);
    if (experimentID == payload.experimentId() && variantID != payload.variantId()) {
      ZIRLogDebug(kABTLoggerService, "I-ABT000018",
                  "Clear experiment ID %s with variant ID %s because only one variant ID can be existed at any time.",
                  experimentID.c_str(), variantID.c_str());
      clearExperiment(experimentID, variantID, origin, &payload, events);
    }
  }

  analytics_->setConditionalUserProperty(createExperimentFromOrigin(origin, payload, events));
  ZIRLogDebug(kABTLoggerService, "I-ABT000019",
              "Set conditional user property, experiment ID %s with variant ID %s triggered event %s.",
              payload.experimentId().c_str(), payload.variantId().c_str(),
              payload.triggerEvent().value_or("(null)").c_str());
  logEventWithOrigin(origin, payload, events);
}

void ABTConditionalUserPropertyController::clearExperiment(const std::string& experimentID,
                                                           const std::string& variantID, const std::string& origin,
                                                           const ABTExperimentPayload* payload,
                                                           const ZIRLifecycleEvents& events) {
  if (!analytics_) return;
  const std::string eventName =
      chosenName(payload ? payload->clearEventToLog() : std::nullopt, events.clearExperimentEventName());
  Value params = Value::object();
  params[experimentID] = variantID;
  analytics_->clearConditionalUserProperty(experimentID, origin, eventName, params);
  ZIRLogDebug(kABTLoggerService, "I-ABT000015", "Clear Experiment ID %s, variant ID %s.", experimentID.c_str(),
              variantID.c_str());
}

Value ABTConditionalUserPropertyController::createExperimentFromOrigin(const std::string& origin,
                                                                       const ABTExperimentPayload& payload,
                                                                       const ZIRLifecycleEvents& events) {
  const Value params = experimentParameters(payload);
  Value property = Value::object();
  property[kVIVConditionalUserPropertyOrigin] = origin;
  property[kVIVConditionalUserPropertyCreationTimestamp] =
      static_cast<double>(payload.experimentStartTimeMillis() / 1000);
  property[kVIVConditionalUserPropertyName] = payload.experimentId();
  property[kVIVConditionalUserPropertyValue] = payload.variantId();
  if (payload.triggerEvent() && !payload.triggerEvent()->empty()) {
    property[kVIVConditionalUserPropertyTriggerEventName] = *payload.triggerEvent();
  }
  property[kVIVConditionalUserPropertyTimedOutEvent] = eventDictionaryWithOrigin(
      origin, chosenName(payload.timeoutEventToLog(), events.timeoutExperimentEventName()), params);
  property[kVIVConditionalUserPropertyTriggerTimeout] = static_cast<double>(payload.triggerTimeoutMillis() / 1000);
  property[kVIVConditionalUserPropertyTriggeredEvent] = eventDictionaryWithOrigin(
      origin, chosenName(payload.activateEventToLog(), events.activateExperimentEventName()), params);
  property[kVIVConditionalUserPropertyTimeToLive] = static_cast<double>(payload.timeToLiveMillis() / 1000);
  property[kVIVConditionalUserPropertyExpiredEvent] = eventDictionaryWithOrigin(
      origin, chosenName(payload.ttlExpiryEventToLog(), events.expireExperimentEventName()), params);
  return property;
}

Value ABTConditionalUserPropertyController::eventDictionaryWithOrigin(const std::string& origin,
                                                                      const std::string& eventName,
                                                                      const Value& params) {
  Value event = Value::object();
  event[kVIVEventOrigin] = origin;
  event[kVIVEventName] = eventName;
  event[kVIVEventTimestamp] = ns::timeIntervalSince1970();
  event[kVIVEventParameters] = params;
  return event;
}

void ABTConditionalUserPropertyController::logEventWithOrigin(const std::string& origin,
                                                              const ABTExperimentPayload& payload,
                                                              const ZIRLifecycleEvents& events) {
  if (!analytics_) return;
  const std::string name = chosenName(payload.setEventToLog(), events.setExperimentEventName());
  Value params = payload.experimentId().empty() ? Value::object() : experimentParameters(payload);
  analytics_->logEventWithOrigin(origin, name, params);
}
