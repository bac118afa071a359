#pragma once
// Plugs remote configuration into the SDK's component registry: registered as "zir-rc", it
// provides ZIRRemoteConfigProvider, is created eagerly for every configured app, holds that app's
// instances by namespace (guarded by its own lock) and refuses an app whose options lack what the
// service needs.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sdk/core/ZAVAda.h"
#include "sdk/core/ZIRLibrary.h"
#include "sdk/remote_config/ZIRRemoteConfig.h"

// Name of the exception raised for an app that cannot use remote configuration.
inline constexpr const char* kZIRRemoteConfigExceptionName = "com.zirezize.config";

// The protocol under which the component is registered and looked up.
class ZIRRemoteConfigProvider : public ZIRLibrary {
 public:
  // The instance of the namespace (made on first request); null for a null namespace. Raises
  // "com.zirezize.config" when the app's options lack the app ID, sender ID or project ID.
  virtual std::shared_ptr<ZIRRemoteConfig> remoteConfigForNamespace(const std::optional<std::string>& namespace_) = 0;
  virtual std::map<std::string, std::shared_ptr<ZIRRemoteConfig>> instances() = 0;
  virtual void setInstances(std::map<std::string, std::shared_ptr<ZIRRemoteConfig>> instances) = 0;
};

class ZIRRemoteConfigComponent : public ZIRRemoteConfigProvider {
 public:
  // Registers the component with the SDK core under "zir-rc"; called once at start-up.
  static void load();
  static std::vector<RURIdeziroveRef> componentsToRegister();

  explicit ZIRRemoteConfigComponent(const std::shared_ptr<ZAVAda>& app) : app_(app) {}

  std::shared_ptr<ZIRRemoteConfig> remoteConfigForNamespace(const std::optional<std::string>& namespace_) override;
  std::map<std::string, std::shared_ptr<ZIRRemoteConfig>> instances() override;
  void setInstances(std::map<std::string, std::shared_ptr<ZIRRemoteConfig>> instances) override;

  std::shared_ptr<ZAVAda> app() const { return app_.lock(); }

 private:
  std::weak_ptr<ZAVAda> app_;
  std::mutex mutex_;  // guards instances_, which callers may reach from any thread
  std::map<std::string, std::shared_ptr<ZIRRemoteConfig>> instances_;
};
