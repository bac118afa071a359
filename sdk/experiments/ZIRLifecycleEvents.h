#pragma once
// The names of the five experiment lifecycle events (set, activate, clear, time-out, expiry). A
// name must begin with "_"; a setter given anything else puts the default back. A value object,
// owned by whoever builds it; not shared between threads while being changed.
#include <optional>
#include <string>

inline constexpr const char* kZIRSetExperimentEventName = "_exp_set";
inline constexpr const char* kZIRActivateExperimentEventName = "_exp_activate";
inline constexpr const char* kZIRClearExperimentEventName = "_exp_clear";
inline constexpr const char* kZIRTimeoutExperimentEventName = "_exp_timeout";
inline constexpr const char* kZIRExpireExperimentEventName = "_exp_expire";

class ZIRLifecycleEvents {
 public:
  const std::string& setExperimentEventName() const { return set_; }
  const std::string& activateExperimentEventName() const { return activate_; }
  const std::string& clearExperimentEventName() const { return clear_; }
  const std::string& timeoutExperimentEventName() const { return timeout_; }
  const std::string& expireExperimentEventName() const { return expire_; }

  void setSetExperimentEventName(const std::optional<std::string>& name);
  void setActivateExperimentEventName(const std::optional<std::string>& name);
  void setClearExperimentEventName(const std::optional<std::string>& name);
  void setTimeoutExperimentEventName(const std::optional<std::string>& name);
  void setExpireExperimentEventName(const std::optional<std::string>& name);

 private:
  std::string set_ = kZIRSetExperimentEventName;
  std::string activate_ = kZIRActivateExperimentEventName;
  std::string clear_ = kZIRClearExperimentEventName;
  std::string timeout_ = kZIRTimeoutExperimentEventName;
  std::string expire_ = kZIRExpireExperimentEventName;
};
