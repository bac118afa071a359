#include "sdk/remote_config/RCNConfigExperiment.h"

#include "sdk/core/ZIRLogger.h"
#include "sdk/experiments/ABTConstants.h"
#include "sdk/remote_config/RCNConfigConstants.h"

std::shared_ptr<RCNConfigExperiment> RCNConfigExperiment::initWithDBManager(
    std::shared_ptr<RCNConfigDBManager> DBManager, std::shared_ptr<ZIRExperimentController> experimentController) {
  std::shared_ptr<RCNConfigExperiment> experiment(
      new RCNConfigExperiment(std::move(DBManager), std::move(experimentController)));
  experiment->loadExperimentFromTable();
  return experiment;
}

RCNConfigExperiment::RCNConfigExperiment(std::shared_ptr<RCNConfigDBManager> DBManager,
                                         std::shared_ptr<ZIRExperimentController> experimentController)
    : DBManager_(std::move(DBManager)), experimentController_(std::move(experimentController)) {}

void RCNConfigExperiment::loadExperimentFromTable() {
  if (!DBManager_) return;
  std::weak_ptr<RCNConfigExperiment> weakSelf = weak_from_this();
  DBManager_->loadExperimentWithCompletionHandler([weakSelf](bool, Value result) {
    if (auto self = weakSelf.lock()) self->applyLoadedExperiments(result);
  });
}

void RCNConfigExperiment::applyLoadedExperiments(const Value& result) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!result.is_object()) return;
  auto payloads = result.find(RCNExperimentTableKeyPayload);
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
  auto metadata = result.find(RCNExperimentTableKeyMetadata);
  if (metadata != result.end() && metadata->is_object() && !metadataUpdatedBeforeLoad_) experimentMetadata_ = *metadata;
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
