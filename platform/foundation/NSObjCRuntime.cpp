#include "platform/foundation/NSObjCRuntime.h"

#include <map>
#include <mutex>

namespace {
std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, NSClassInfo>& registry() {
  static std::map<std::string, NSClassInfo> r;
  return r;
}
}  // namespace

void NSRegisterClass(const NSClassInfo& info) {
  std::lock_guard<std::mutex> lock(registryMutex());
  registry()[info.name] = info;
}

void NSUnregisterClass(const std::string& name) {
  std::lock_guard<std::mutex> lock(registryMutex());
  registry().erase(name);
}

std::optional<NSClassInfo> NSClassFromString(const std::string& name) {
  std::lock_guard<std::mutex> lock(registryMutex());
  auto it = registry().find(name);
  if (it == registry().end()) return std::nullopt;
  return it->second;
}
