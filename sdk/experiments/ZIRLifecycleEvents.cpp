#include "sdk/experiments/ZIRLifecycleEvents.h"

namespace {
// The name when it is present and begins with "_", else the default.
std::string validNameOrDefault(const std::optional<std::string>& name, const char* fallback) {
  if (name && !name->empty() && (*name)[0] == '_') return *name;
  return fallback;
}
}  // namespace

void ZIRLifecycleEvents::setSetExperimentEventName(const std::optional<std::string>& name) {
  set_ = validNameOrDefault(name, kZIRSetExperimentEventName);
}
void ZIRLifecycleEvents::setActivateExperimentEventName(const std::optional<std::string>& name) {
  activate_ = validNameOrDefault(name, kZIRActivateExperimentEventName);
}
void ZIRLifecycleEvents::setClearExperimentEventName(const std::optional<std::string>& name) {
  clear_ = validNameOrDefault(name, kZIRClearExperimentEventName);
}
void ZIRLifecycleEvents::setTimeoutExperimentEventName(const std::optional<std::string>& name) {
  timeout_ = validNameOrDefault(name, kZIRTimeoutExperimentEventName);
}
void ZIRLifecycleEvents::setExpireExperimentEventName(const std::optional<std::string>& name) {
  expire_ = validNameOrDefault(name, kZIRExpireExperimentEventName);
}
