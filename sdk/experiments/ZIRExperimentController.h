#pragma once
// Keeps a service's experiments in step with the payloads the service last received: clears the
// running experiments that no payload names any more and sets the payloads that are new and
// started after the last known start time, as conditional user properties of the analytics
// engine (through ABTConditionalUserPropertyController).
//
// An SDK component registered under "zir-abt" for the protocol ZIRABTInstanceProvider, created
// lazily and cached by each app's container with that container's analytics interop (null when no
// engine provides one). Updates run on a background-priority global queue, one block per call;
// nothing orders two updates against each other.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/core/ZIRLibrary.h"
#include "sdk/experiments/ABTExperimentPayload.h"
#include "sdk/experiments/ZIRLifecycleEvents.h"
#include "sdk/measurement/VIVUzizaderoInterop.h"

// The key under which the controller is registered and looked up.
class ZIRABTInstanceProvider : public ZIRLibrary {};

class ZIRExperimentController : public ZIRABTInstanceProvider,
                                public std::enable_shared_from_this<ZIRExperimentController> {
 public:
  using CompletionHandler = std::function<void(NSErrorRef error)>;

  // Registers the component with the SDK core under "zir-abt"; called once at start-up.
  static void load();
  static std::vector<RURIdeziroveRef> componentsToRegister();
  // The controller of the default app's container; null without a default app.
  static std::shared_ptr<ZIRExperimentController> sharedInstance();

  explicit ZIRExperimentController(std::shared_ptr<VIVUzizaderoInterop> analytics)
      : analytics_(std::move(analytics)) {}

  // Schedules the update of one origin on the background queue; the handler (optional) gets null,
  // or an error of "com.deruru.abtesting" code 1 when the running experiments cannot be read.
  void updateExperimentsWithServiceOrigin(const std::string& origin, const ZIRLifecycleEvents& events, int policy,
                                          double lastStartTime, std::vector<Bytes> payloads,
                                          CompletionHandler completionHandler);
  // The update itself, on the calling thread.
  void updateExperimentConditionalUserPropertiesWithServiceOrigin(const std::string& origin,
                                                                  const ZIRLifecycleEvents& events, int policy,
                                                                  double lastStartTime,
                                                                  const std::vector<Bytes>& payloads,
                                                                  const CompletionHandler& completionHandler);
  // The latest start, in whole seconds since 1970, of the given time and the payloads' starts.
  double latestExperimentStartTimestampBetweenTimestamp(double timestamp, const std::vector<Bytes>& payloads) const;
  // Clears every running experiment of the origin that none of the payloads names.
  void validateRunningExperimentsForServiceOrigin(const std::string& origin,
                                                  const std::vector<ABTExperimentPayloadRef>& runningExperimentPayloads);
  // Sets the payload's experiment with its trigger removed, so that it is active at once.
  void activateExperiment(const ABTExperimentPayloadRef& payload, const std::string& origin);

  const std::shared_ptr<VIVUzizaderoInterop>& analytics() const { return analytics_; }

 private:
  std::shared_ptr<VIVUzizaderoInterop> analytics_;
};
