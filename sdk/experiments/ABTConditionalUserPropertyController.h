#pragma once
// Keeps experiments as conditional user properties of the analytics engine: the property's name is
// the experiment ID and its value the variant ID. One instance per process, holding the analytics
// interop of the first request (null when no engine provides one: then every read answers "no
// list" or 0 and nothing is set or cleared). Called from the experiment controller's background
// queue; the interop guards its own state.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "sdk/experiments/ABTExperimentPayload.h"
#include "sdk/experiments/ZIRLifecycleEvents.h"
#include "sdk/measurement/VIVUzizaderoInterop.h"

class ABTConditionalUserPropertyController {
 public:
  // The one instance, made on the first call with that call's interop.
  static std::shared_ptr<ABTConditionalUserPropertyController> sharedInstanceWithAnalytics(
      std::shared_ptr<VIVUzizaderoInterop> analytics);
  // Forgets the instance, so that the next request makes a new one. Tests.
  static void resetSharedInstanceForTesting();

  explicit ABTConditionalUserPropertyController(std::shared_ptr<VIVUzizaderoInterop> analytics)
      : analytics_(std::move(analytics)) {}

  // The running experiments of the origin ("name" and "value" dictionaries); nullopt without an
  // interop or when it has no list.
  std::optional<std::vector<Value>> experimentsWithOrigin(const std::string& origin) const;
  // The per-origin maximum of conditional user properties; 0 without an interop.
  int64_t maxNumberOfExperimentsOfOrigin(const std::string& origin) const;

  static std::string experimentIDOfExperiment(const Value& experiment);
  static std::string variantIDOfExperiment(const Value& experiment);
  static bool isExperimentTheSameAsPayload(const Value& experiment, const ABTExperimentPayload& payload);
  // The payload's policy when valid, else the given one when valid, else discard-oldest.
  static int overflowPolicyWithPayload(const ABTExperimentPayload& payload, int originalPolicy);

  // Sets the payload's experiment, making room by the overflow policy and clearing other variants
  // of the same experiment, then logs its set event.
  void setExperimentWithOrigin(const std::string& origin, const ABTExperimentPayload& payload,
                               const ZIRLifecycleEvents& events, int policy);
  // Clears an experiment and logs its clear event (the payload's own name when it gives one).
  void clearExperiment(const std::string& experimentID, const std::string& variantID, const std::string& origin,
                       const ABTExperimentPayload* payload, const ZIRLifecycleEvents& events);
  // The conditional user property that stands for the payload's experiment.
  static Value createExperimentFromOrigin(const std::string& origin, const ABTExperimentPayload& payload,
                                          const ZIRLifecycleEvents& events);
  static Value eventDictionaryWithOrigin(const std::string& origin, const std::string& eventName,
                                         const Value& params);
  void logEventWithOrigin(const std::string& origin, const ABTExperimentPayload& payload,
                          const ZIRLifecycleEvents& events);

  const std::shared_ptr<VIVUzizaderoInterop>& analytics() const { return analytics_; }

 private:
  std::shared_ptr<VIVUzizaderoInterop> analytics_;
};
