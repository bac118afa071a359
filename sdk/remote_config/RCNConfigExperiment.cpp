#include "sdk/remote_config/RCNConfigExperiment.h"

#include <chrono>

#include "sdk/core/ZIRLogger.h"
#include "sdk/experiments/ABTConstants.h"
#include "sdk/remote_config/RCNConfigConstants.h"

std::shared_ptr<RCNConfigExperiment> RCNConfigExperiment::initWithDBManager(
    std::shared_ptr<RCNConfigDBManager> DBManager, std::shared_ptr<ZIRExperimentController> experimentController,
    double loadTimeoutSeconds) {
  std::shared_ptr<RCNConfigExperiment> experiment(
      new RCNConfigExperiment(std::move(DBManager), std::move(experimentController), loadTimeoutSeconds));
  experiment->loadExperimentFromTable();
  return experiment;
}

RCNConfigExperiment::RCNConfigExperiment(std::shared_ptr<RCNConfigDBManager> DBManager,
                                         std::shared_ptr<ZIRExperimentController> experimentController,
                                         double loadTimeoutSeconds)
    : DBManager_(std::move(DBManager)),
      experimentController_(std::move(experimentController)),
      loadTimeoutSeconds_(loadTimeoutSeconds),
      loaded_(!DBManager_) {}

void RCNConfigExperiment::loadExperimentFromTable() {
  if (!DBManager_) return;
  std::weak_ptr<RCNConfigExperiment> weakSelf = weak_from_this();
  // Answered on a global queue: the activation that waits for it runs on the remote-configuration
  // queue, which the main thread may be waiting for.
  DBManager_->loadExperimentWithCompletionHandler(
      [weakSelf](bool, Value result) {
        if (auto self = weakSelf.lock()) self->applyLoadedExperiments(result);
      },
      DispatchQueue::global(DispatchQoS::Default));
}

void RCNConfigExperiment::waitForLoad() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (loadedCondition_.wait_for(lock, std::chrono::duration<double>(loadTimeoutSeconds_), [this] { return loaded_; })) {
    return;
  }
  lock.unlock();
  ZIRLogError(kRCNLoggerService, "I-RCN000078", "Timed out waiting for experiments to be loaded from DB");
}

void RCNConfigExperiment::applyLoadedExperiments(const Value& result) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto payloads = result.is_object() ? result.find(RCNExperimentTableKeyPayload) : result.end();
    if (payloads != result.end() && payloads->is_array() && !payloadsUpdatedBeforeLoad_) {
      experimentPayloads_.clear();
      for (const auto& item : *payloads) {
        const Bytes bytes = value::dataBytes(item);
        if (!zod_parseJSONWithLimits(bytes, kABTExperimentPayloadLimits, /*allowFragments=*/true)) {
          ZIRLogWarning(kRCNLoggerService, "I-RCN000031", "Experiment payload could not be parsed as JSON.");
          continue;
        }
        experimentPayloads_.push_back(bytes);
      }
    }
    auto metadata = result.is_object() ? result.find(RCNExperimentTableKeyMetadata) : result.end();
    if (metadata != result.end() && metadata->is_object() && !metadataUpdatedBeforeLoad_) {
      experimentMetadata_ = *metadata;
    }
    loaded_ = true;
  }
  loadedCondition_.notify_all();
}

void RCNConfigExperiment::updateExperimentsWithResponse(const Value& experimentDescriptions) {
  std::vector<Bytes> payloads;
  if (experimentDescriptions.is_array()) {
    for (const auto& description : experimentDescriptions) {
      try {
        const std::string json = value::toJSON(description);
        payloads.emplace_back(json.begin(), json.end());
      } catch (const std::exception&) {
        ZIRLogError(kRCNLoggerService, "I-RCN000030", "Invalid experiment payload to be serialized.");
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    experimentPayloads_ = payloads;
    payloadsUpdatedBeforeLoad_ = true;
  }
  if (DBManager_) DBManager_->replaceExperimentPayloads(std::move(payloads));
}

double RCNConfigExperiment::lastStartTime() const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = experimentMetadata_.find(kRCNExperimentLastStartTimeKey);
  return it != experimentMetadata_.end() && it->is_number() ? it->get<double>() : 0;
}

void RCNConfigExperiment::updateExperimentsWithHandler(std::function<void(NSErrorRef)> handler) {
  waitForLoad();
  ZIRLifecycleEvents events;
  const double lastStart = lastStartTime();
  updateExperimentStartTime();
  if (!experimentController_) {
    // Without an experiment controller there is nothing to update; activation still completes.
    if (handler) handler(nullptr);
    return;
  }
  experimentController_->updateExperimentsWithServiceOrigin(kRCNExperimentOrigin, events,
                                                           kABTOverflowPolicyDiscardOldest, lastStart,
                                                           experimentPayloads(), std::move(handler));
}

void RCNConfigExperiment::updateExperimentStartTime() {
  const double existing = lastStartTime();
  const double latest = experimentController_
                            ? experimentController_->latestExperimentStartTimestampBetweenTimestamp(existing,
                                                                                                    experimentPayloads())
                            : existing;
  Value metadata;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    experimentMetadata_[kRCNExperimentLastStartTimeKey] = latest;
    metadataUpdatedBeforeLoad_ = true;
    metadata = experimentMetadata_;
  }
  std::string json;
  try {
    json = value::toJSON(metadata, /*pretty=*/true);
  } catch (const std::exception&) {
    ZIRLogError(kRCNLoggerService, "I-RCN000028", "Invalid fetched experiment metadata to be serialized.");
    return;
  }
  if (DBManager_) DBManager_->insertExperimentTableWithKey(RCNExperimentTableKeyMetadata, Bytes(json.begin(), json.end()), nullptr);
}

std::vector<Bytes> RCNConfigExperiment::experimentPayloads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return experimentPayloads_;
}

Value RCNConfigExperiment::experimentMetadata() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return experimentMetadata_;
}
