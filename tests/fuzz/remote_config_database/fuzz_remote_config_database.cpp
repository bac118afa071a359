// Bytes as the remote-configuration database file: the store opens it (deleting and creating it
// again when it is damaged or foreign), every table is read as the content, the settings and the
// experiments read it at start, and the stored payloads and last start time go through an
// activation's experiment update.
#include <filesystem>
#include <fstream>
#include <future>

#include "platform/foundation/NSRunLoop.h"
#include "sdk/experiments/ABTConditionalUserPropertyController.h"
#include "sdk/experiments/ABTExperimentPayload.h"
#include "sdk/experiments/ZIRExperimentController.h"
#include "sdk/remote_config/RCNConfigDBManager.h"
#include "sdk/remote_config/RCNConfigExperiment.h"
#include "sdk/remote_config/RCNConfigSettings.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
constexpr const char* kBundle = "com.tarn.spectrum-analyser";
constexpr const char* kNamespace = "zirezize:__ZAVADA_DEFAULT";

// An analytics engine without running experiments, so that every stored payload is weighed
// against the stored last start time.
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
  const std::string path = RCNConfigDBManager::remoteConfigPathForDatabase();
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  for (const char* suffix : {"-journal", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                 static_cast<std::streamsize>(size));

  auto manager = RCNConfigDBManager::create();
  auto answered = std::make_shared<std::atomic<int>>(0);
  manager->loadMainWithBundleIdentifier(kBundle, [answered](bool, RCNConfigLayer fetched, RCNConfigLayer active,
                                                     RCNConfigLayer defaults) {
    for (const RCNConfigLayer* layer : {&fetched, &active, &defaults}) {
      for (const auto& [ns, values] : *layer) {
        for (const auto& [key, value] : values) {
          (void)value->stringValue();
          (void)value->numberValue();
          (void)value->boolValue();
          (void)value->JSONValue();
        }
      }
    }
    ++*answered;
  });
  manager->loadExperimentWithCompletionHandler([answered](bool, Value result) {
    for (const auto& payload : result["experiment_payload"]) (void)ABTDeserializeExperimentPayload(value::dataBytes(payload));
    ++*answered;
  });
  manager->loadPersonalizationWithCompletionHandler([answered](bool, Value, Value) { ++*answered; });
  {
    RCNConfigSettings settings(manager, kNamespace, "__ZAVADA_DEFAULT", std::string("1:1:ios:1"));
    settings.loadConfigFromMetadataTable();
    (void)settings.nextRequestWithUserProperties(std::nullopt);
    settings.updateMetadataTable();
  }
  NSRunLoop::main().runUntil([&] { return answered->load() == 3; }, 60);

  ABTConditionalUserPropertyController::resetSharedInstanceForTesting();
  auto experiment = RCNConfigExperiment::initWithDBManager(
      manager, std::make_shared<ZIRExperimentController>(std::make_shared<ForgetfulAnalytics>()));
  std::promise<void> activated;
  experiment->updateExperimentsWithHandler([&activated](NSErrorRef) { activated.set_value(); });
  activated.get_future().wait();
  manager->waitForQueuedWork();
  return 0;
}
