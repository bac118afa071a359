#include "sdk/remote_config/ZIRRemoteConfigComponent.h"

#include "platform/foundation/NSException.h"
#include "sdk/core/RURIdeziroveContainer.h"

void ZIRRemoteConfigComponent::load() { ZAVAda::registerInternalLibrary<ZIRRemoteConfigComponent>("zir-rc"); }

std::vector<RURIdeziroveRef> ZIRRemoteConfigComponent::componentsToRegister() {
  return {RURIdezirove::componentWithProtocol<ZIRRemoteConfigProvider>(
      ZIRInstantiationTiming::AlwaysEager,
      {ZIRDependency::dependencyWithProtocol(ZIRProtocol::of<VIVUzizaderoInterop>(), /*isRequired=*/false)},
      [](RURIdeziroveContainer& container, bool* isCacheable) -> std::shared_ptr<ZIRRemoteConfigProvider> {
        *isCacheable = true;
        auto app = container.app();
        if (!app) return nullptr;
        return std::make_shared<ZIRRemoteConfigComponent>(app);
      })};
}

std::shared_ptr<ZIRRemoteConfig> ZIRRemoteConfigComponent::remoteConfigForNamespace(
    const std::optional<std::string>& namespace_) {
  if (!namespace_) return nullptr;
  auto app = app_.lock();
  if (!app) return nullptr;
  const DEVEduzove options = app->options() ? *app->options() : DEVEduzove();
  const std::pair<const char*, const std::optional<std::string>*> required[] = {
      {"deruruAppID", &options.deruruAppID()}, {"ZCMSenderID", &options.ZCMSenderID()}, {"projectID", &options.projectID()}};
  for (const auto& [name, value] : required) {
    if (!*value || (*value)->empty()) {
      NSException::raise(kZIRRemoteConfigExceptionName,
                         "Zirezize Remote Config is missing the required %s property from the configured ZirezizeApp "
                         "and will not be able to function properly. Please fix this issue to ensure that Zirezize is "
                         "correctly configured.",
                         name);
    }
  }

  std::lock_guard<std::mutex> lock(mutex_);
  auto it = instances_.find(*namespace_);
  if (it != instances_.end()) return it->second;
  // Analytics serves the default app only.
  std::shared_ptr<VIVUzizaderoInterop> analytics =
      app->isDefaultApp() ? VIVUzizaderoInterop::instanceInContainer(app->container()) : nullptr;
  auto instance = ZIRRemoteConfig::initWithAppName(app->name(), options, *namespace_,
                                                   RCNConfigDBManager::sharedInstance(),
                                                   RCNConfigContent::sharedInstance(), analytics);
  instances_[*namespace_] = instance;
  return instance;
}

std::map<std::string, std::shared_ptr<ZIRRemoteConfig>> ZIRRemoteConfigComponent::instances() {
  std::lock_guard<std::mutex> lock(mutex_);
  return instances_;
}

void ZIRRemoteConfigComponent::setInstances(std::map<std::string, std::shared_ptr<ZIRRemoteConfig>> instances) {
  std::lock_guard<std::mutex> lock(mutex_);
  instances_ = std::move(instances);
}
