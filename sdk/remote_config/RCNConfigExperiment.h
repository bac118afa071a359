#pragma once
// Keeps the experiment descriptions of the last successful fetch as payload JSON bytes, persists
// them and the last experiment start time in the configuration database's experiment table, and
// at activation hands them to the experiment controller under the origin "frc".
//
// One per remote-configuration instance, used on the remote-configuration queue; the stored
// payloads arrive from the database's load on a global queue and are applied under a lock. The
// experiment update of an activation waits for them (at most the content's 30 s), so that an
// activation at launch hands over the stored payloads and start time, not empty ones.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "sdk/experiments/ZIRExperimentController.h"
#include "sdk/remote_config/RCNConfigDBManager.h"

inline constexpr const char* kRCNExperimentOrigin = "frc";
inline constexpr const char* kRCNExperimentLastStartTimeKey = "last_experiment_start_time";

class RCNConfigExperiment : public std::enable_shared_from_this<RCNConfigExperiment> {
 public:
  static constexpr double kLoadTimeoutSeconds = 30;

  static std::shared_ptr<RCNConfigExperiment> initWithDBManager(
      std::shared_ptr<RCNConfigDBManager> DBManager, std::shared_ptr<ZIRExperimentController> experimentController,
      double loadTimeoutSeconds = kLoadTimeoutSeconds);

  // Reads the stored payloads and metadata (applied when the database answers).
  void loadExperimentFromTable();
  // Replaces the payloads by the fetch answer's "experimentDescriptions" (an array of objects, or
  // null for an answer without them, which empties the payloads).
  void updateExperimentsWithResponse(const Value& experimentDescriptions);
  // Hands the payloads to the experiment controller and advances the stored start time. The
  // handler always runs, also when no experiment controller exists.
  void updateExperimentsWithHandler(std::function<void(NSErrorRef)> handler);
  void updateExperimentStartTime();

  std::vector<Bytes> experimentPayloads() const;
  Value experimentMetadata() const;

 private:
  RCNConfigExperiment(std::shared_ptr<RCNConfigDBManager> DBManager,
                      std::shared_ptr<ZIRExperimentController> experimentController, double loadTimeoutSeconds);
  void applyLoadedExperiments(const Value& result);
  // Waits for the stored payloads and metadata, at most the load time-out (logged when it passes).
  void waitForLoad();
  double lastStartTime() const;

  std::shared_ptr<RCNConfigDBManager> DBManager_;
  std::shared_ptr<ZIRExperimentController> experimentController_;
  double loadTimeoutSeconds_;
  mutable std::mutex mutex_;  // guards the fields below
  std::condition_variable loadedCondition_;
  bool loaded_ = false;  // the stored payloads and metadata have arrived (or there is no database)
  std::vector<Bytes> experimentPayloads_;
  Value experimentMetadata_ = Value::object();
  // What changed before the stored payloads and metadata arrived, which the load leaves alone.
  bool payloadsUpdatedBeforeLoad_ = false;
  bool metadataUpdatedBeforeLoad_ = false;
};
