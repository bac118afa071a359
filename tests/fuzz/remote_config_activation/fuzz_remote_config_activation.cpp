// A fetch answer as two fetch-and-activates in a row handle it: read as the fetch reads it, its
// experiment descriptions become the payloads, and each activation hands them to the experiment
// controller and advances the last start time. The analytics engine keeps no running experiment,
// so the second activation weighs every payload against the time the first one left behind.
#include <future>

#include "sdk/experiments/ABTConditionalUserPropertyController.h"
#include "sdk/experiments/ZIRExperimentController.h"
#include "sdk/remote_config/RCNConfigExperiment.h"
#include "sdk/remote_config/RCNConfigFetch.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

class ForgetfulAnalytics : public VIVUzizaderoInterop {
 public:
  void setConditionalUserProperty(const Value& property) override { (void)value::toJSON(property); }
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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::privateHome();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const RCNFetchAnswer answer = RCNConfigFetch::readAnswerBody(Bytes(data, data + size));
  if (answer.kind != RCNFetchAnswer::Kind::Response) return 0;
  const Value& response = *answer.response;
  auto descriptions = response.find("experimentDescriptions");

  ABTConditionalUserPropertyController::resetSharedInstanceForTesting();
  auto controller = std::make_shared<ZIRExperimentController>(std::make_shared<ForgetfulAnalytics>());
  // In memory only: each answer starts from no stored payloads and a last start time of 0.
  auto experiment = RCNConfigExperiment::initWithDBManager(nullptr, controller);
  experiment->updateExperimentsWithResponse(descriptions != response.end() ? *descriptions : Value());
  for (int activation = 0; activation < 2; ++activation) {
    std::promise<void> done;
    experiment->updateExperimentsWithHandler([&done](NSErrorRef) { done.set_value(); });
    done.get_future().wait();
  }
  if (experiment->experimentMetadata().value(kRCNExperimentLastStartTimeKey, 0.0) < 0) {
    fuzzsupport::broken("the last start time went below its start");
  }
  return 0;
}
