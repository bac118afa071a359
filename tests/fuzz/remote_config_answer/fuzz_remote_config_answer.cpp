// A remote-configuration fetch answer (the body of a 200 answer) read as the fetch reads it, then
// everything a later read touches: the content update, typed values, experiment payloads built
// from the descriptions, and personalization logging over the activated template.
#include "sdk/experiments/ABTConditionalUserPropertyController.h"
#include "sdk/experiments/ABTExperimentPayload.h"
#include "sdk/remote_config/RCNConfigContent.h"
#include "sdk/remote_config/RCNConfigFetch.h"
#include "sdk/remote_config/RCNPersonalization.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

constexpr const char* kNamespace = "zirezize:app";

// Takes whatever the personalization logger hands an analytics engine and drops it.
class DiscardingAnalytics : public VIVUzizaderoInterop {
 public:
  void setConditionalUserProperty(const Value&) override {}
  void clearConditionalUserProperty(const std::string&, const std::string&, const std::string&, const Value&) override {}
  std::optional<std::vector<Value>> conditionalUserProperties(const std::string&, const std::string&) override {
    return std::vector<Value>();
  }
  int64_t maxUserProperties(const std::string&) override { return 25; }
  void logEventWithOrigin(const std::string&, const std::string&, const Value& parameters) override {
    (void)value::toJSON(parameters);
  }
  void getUserPropertiesWithCallback(std::function<void(const Value&)> callback) override { callback(Value::object()); }
};

void touch(const ZIRRemoteConfigValueRef& value) {
  (void)value->stringValue();
  (void)value->numberValue();
  (void)value->boolValue();
  (void)value->JSONValue();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::privateHome();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const RCNFetchAnswer answer = RCNConfigFetch::readAnswerBody(Bytes(data, data + size));
  if (answer.kind != RCNFetchAnswer::Kind::Response) return 0;
  const Value& response = *answer.response;

  // A content of its own, in memory only: each answer starts from nothing.
  auto content = RCNConfigContent::initWithDBManager(nullptr);
  content->updateConfigContentWithResponse(response, kNamespace);
  content->activatePersonalization();
  content->copyFromLayer(content->fetchedConfig(), RCNDBSourceActive, kNamespace);
  const RCNConfigAndMetadata config = content->getConfigAndMetadataForNamespace(kNamespace);
  RCNPersonalization personalization(std::make_shared<DiscardingAnalytics>());
  for (const auto& [key, value] : config.entries) {
    touch(value);
    personalization.logArmActive(key, config);
  }

  auto descriptions = response.find("experimentDescriptions");
  if (descriptions != response.end() && descriptions->is_array()) {
    for (const auto& description : *descriptions) {
      const std::string json = value::toJSON(description);
      auto payload = ABTDeserializeExperimentPayload(Bytes(json.begin(), json.end()));
      if (payload) (void)ABTConditionalUserPropertyController::createExperimentFromOrigin("frc", *payload, ZIRLifecycleEvents());
    }
  }
  return 0;
}
