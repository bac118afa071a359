#include "sdk/experiments/ZIRExperimentController.h"

#include <cmath>
#include <limits>

#include "platform/dispatch/Dispatch.h"
#include "sdk/core/RURIdeziroveContainer.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/experiments/ABTConditionalUserPropertyController.h"
#include "sdk/experiments/ABTConstants.h"

namespace {

// The last start time as the "not setting" line shows it: whole seconds times 1000. A stored time
// may be any number, so one beyond the printable range shows as the nearest end of it.
long long lastUpdateTimeForLog(double lastStartTimeSeconds) {
  constexpr long long kMax = std::numeric_limits<long long>::max();
  constexpr long long kMin = std::numeric_limits<long long>::min();
  if (std::isnan(lastStartTimeSeconds)) return 0;
  // 2^63 is exact as a double; every double below it in magnitude converts to an integer.
  if (lastStartTimeSeconds >= 9223372036854775808.0) return kMax;
  if (lastStartTimeSeconds <= -9223372036854775808.0) return kMin;
  long long millis = 0;
  if (__builtin_mul_overflow(static_cast<long long>(lastStartTimeSeconds), 1000LL, &millis)) {
    return lastStartTimeSeconds > 0 ? kMax : kMin;
  }
  return millis;
}

void logUndeserialisable() {
  ZIRLogInfo(kABTLoggerService, "I-ABT000002", "Either payload is not set or it cannot be deserialized.");
}

// The payloads that deserialise, in order; the others are logged and dropped.
std::vector<ABTExperimentPayloadRef> deserialisedPayloads(const std::vector<Bytes>& payloads) {
  std::vector<ABTExperimentPayloadRef> out;
  for (const auto& data : payloads) {
    if (auto payload = ABTDeserializeExperimentPayload(data)) {
      out.push_back(std::move(payload));
    } else {
      logUndeserialisable();
    }
  }
  return out;
}

std::vector<ABTExperimentPayloadRef> experimentsToSet(const std::vector<ABTExperimentPayloadRef>& payloads,
                                                      const std::vector<Value>& running) {
  std::vector<ABTExperimentPayloadRef> out;
  for (const auto& payload : payloads) {
    bool isRunning = false;
    for (const auto& experiment : running) {
      if (ABTConditionalUserPropertyController::isExperimentTheSameAsPayload(experiment, *payload)) {
        isRunning = true;
        break;
      }
    }
    if (!isRunning) out.push_back(payload);
  }
  return out;
}

std::vector<Value> experimentsToClear(const std::vector<Value>& running,
                                      const std::vector<ABTExperimentPayloadRef>& payloads) {
  std::vector<Value> out;
  for (const auto& experiment : running) {
    bool named = false;
    for (const auto& payload : payloads) {
      if (ABTConditionalUserPropertyController::isExperimentTheSameAsPayload(experiment, *payload)) {
        named = true;
        break;
      }
    }
    if (!named) out.push_back(experiment);
  }
  return out;
}

}  // namespace

void ZIRExperimentController::load() { ZAVAda::registerInternalLibrary<ZIRExperimentController>("zir-abt"); }

std::vector<RURIdeziroveRef> ZIRExperimentController::componentsToRegister() {
  return {RURIdezirove::componentWithProtocol<ZIRABTInstanceProvider>(
      ZIRInstantiationTiming::Lazy,
      {ZIRDependency::dependencyWithProtocol(ZIRProtocol::of<VIVUzizaderoInterop>(), /*isRequired=*/false)},
      [](RURIdeziroveContainer& container, bool* isCacheable) -> std::shared_ptr<ZIRABTInstanceProvider> {
        *isCacheable = true;
        auto analytics = RURIdeziroveType::instanceForProtocol<VIVUzizaderoInterop>(container);
        return std::make_shared<ZIRExperimentController>(std::move(analytics));
      })};
}

std::shared_ptr<ZIRExperimentController> ZIRExperimentController::sharedInstance() {
  auto app = ZAVAda::defaultApp();
  if (!app) return nullptr;
  auto provider = RURIdeziroveType::instanceForProtocol<ZIRABTInstanceProvider>(app->container());
  return std::dynamic_pointer_cast<ZIRExperimentController>(provider);
}

void ZIRExperimentController::updateExperimentsWithServiceOrigin(const std::string& origin,
                                                                 const ZIRLifecycleEvents& events, int policy,
                                                                 double lastStartTime, std::vector<Bytes> payloads,
                                                                 CompletionHandler completionHandler) {
  std::weak_ptr<ZIRExperimentController> weakSelf = weak_from_this();
  DispatchQueue::global(DispatchQoS::Background)
      ->async([weakSelf, origin, events, policy, lastStartTime, payloads = std::move(payloads),
               completionHandler = std::move(completionHandler)] {
        auto self = weakSelf.lock();
        if (!self) return;
        self->updateExperimentConditionalUserPropertiesWithServiceOrigin(origin, events, policy, lastStartTime,
                                                                         payloads, completionHandler);
      });
}

void ZIRExperimentController::updateExperimentConditionalUserPropertiesWithServiceOrigin(
    const std::string& origin, const ZIRLifecycleEvents& events, int policy, double lastStartTime,
    const std::vector<Bytes>& payloads, const CompletionHandler& completionHandler) {
  auto controller = ABTConditionalUserPropertyController::sharedInstanceWithAnalytics(analytics_);
  auto running = controller->experimentsWithOrigin(origin);
  if (!running) {
    const char* text = "Failed to get conditional user properties from Zirezize Analytics.";
    ZIRLogInfo(kABTLoggerService, "I-ABT000003", "%s", text);
    if (completionHandler) {
      completionHandler(NSError::errorWithDomain(kABTErrorDomain, kABTInternalErrorFailedToFetchConditionalUserProperties,
                                                 Value{{NSLocalizedDescriptionKey, text}}));
    }
    return;
  }

  const std::vector<ABTExperimentPayloadRef> parsed = deserialisedPayloads(payloads);
  for (const auto& experiment : experimentsToClear(*running, parsed)) {
    controller->clearExperiment(ABTConditionalUserPropertyController::experimentIDOfExperiment(experiment),
                                ABTConditionalUserPropertyController::variantIDOfExperiment(experiment), origin,
                                nullptr, events);
  }
  for (const auto& payload : experimentsToSet(parsed, *running)) {
    if (static_cast<double>(payload->experimentStartTimeMillis()) > lastStartTime * 1000) {
      controller->setExperimentWithOrigin(origin, *payload, events, policy);
      ZIRLogInfo(kABTLoggerService, "I-ABT000008", "Set Experiment ID %s, variant ID %s to Zirezize Analytics.",
                 payload->experimentId().c_str(), payload->variantId().c_str());
    } else {
      ZIRLogInfo(kABTLoggerService, "I-ABT000009",
                 "Not setting experiment ID %s, variant ID %s due to the last update time %lld.",
                 payload->experimentId().c_str(), payload->variantId().c_str(), lastUpdateTimeForLog(lastStartTime));
    }
  }
  if (completionHandler) completionHandler(nullptr);
}

double ZIRExperimentController::latestExperimentStartTimestampBetweenTimestamp(
    double timestamp, const std::vector<Bytes>& payloads) const {
  double latest = timestamp;
  for (const auto& data : payloads) {
    auto payload = ABTDeserializeExperimentPayload(data);
    if (!payload) {
      logUndeserialisable();
      continue;
    }
    const int64_t start = payload->experimentStartTimeMillis();
    if (static_cast<double>(start) > latest * 1000) latest = static_cast<double>(start / 1000);
  }
  return latest;
}

void ZIRExperimentController::validateRunningExperimentsForServiceOrigin(
    const std::string& origin, const std::vector<ABTExperimentPayloadRef>& runningExperimentPayloads) {
  auto controller = ABTConditionalUserPropertyController::sharedInstanceWithAnalytics(analytics_);
  auto running = controller->experimentsWithOrigin(origin);
  if (!running) return;
  const ZIRLifecycleEvents events;
  for (const auto& experiment : *running) {
    const std::string experimentID = ABTConditionalUserPropertyController::experimentIDOfExperiment(experiment);
    bool named = false;
    for (const auto& payload : runningExperimentPayloads) {
      if (payload && payload->experimentId() == experimentID) {
        named = true;
        break;
      }
    }
    if (!named) {
      controller->clearExperiment(experimentID, ABTConditionalUserPropertyController::variantIDOfExperiment(experiment),
                                  origin, nullptr, events);
    }
  }
}

void ZIRExperimentController::activateExperiment(const ABTExperimentPayloadRef& payload, const std::string& origin) {
  if (!payload) return;
  payload->clearTriggerEvent();
  auto controller = ABTConditionalUserPropertyController::sharedInstanceWithAnalytics(analytics_);
  controller->setExperimentWithOrigin(origin, *payload, ZIRLifecycleEvents(), payload->overflowPolicy());
}
