#include "sdk/core/RURIdeziroveContainer.h"

#include "sdk/core/ZIRLogger.h"

RURIdeziroveContainer::RURIdeziroveContainer(std::weak_ptr<ZAVAda> app,
                                             const std::vector<ZIRLibraryClass>& registrants)
    : app_(std::move(app)) {
  for (const auto& library : registrants) {
    if (!library.componentsToRegister) continue;
    for (const auto& component : library.componentsToRegister()) {
      if (!component || !component->creationBlock()) continue;
      auto key = component->protocol().type;
      if (components_.count(key)) {
        // The first registration for a protocol wins; later ones are ignored.
        ZIRLogDebug(ZIRLoggerCore, "I-COR000029",
                    "A component for %s is already registered; the one of %s is ignored.",
                    component->protocol().name.c_str(), library.className.c_str());
        continue;
      }
      components_.emplace(key, component);
    }
  }
}

void RURIdeziroveContainer::instantiateEagerComponentsForDefaultApp(bool isDefaultApp) {
  std::vector<RURIdeziroveRef> eager;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (const auto& [key, component] : components_) {
      auto timing = component->instantiationTiming();
      if (timing == ZIRInstantiationTiming::AlwaysEager ||
          (timing == ZIRInstantiationTiming::EagerInDefaultApp && isDefaultApp)) {
        eager.push_back(component);
      }
    }
  }
  for (const auto& component : eager) instanceForProtocol(component->protocol());
}

std::shared_ptr<void> RURIdeziroveContainer::instanceForProtocol(const ZIRProtocol& protocol) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto cached = cachedInstances_.find(protocol.type);
  if (cached != cachedInstances_.end()) return cached->second;
  auto it = components_.find(protocol.type);
  if (it == components_.end()) return nullptr;
  bool isCacheable = false;
  // Copy the callback: it may register nothing, but it may look up other protocols re-entrantly.
  auto block = it->second->creationBlock();
  std::shared_ptr<void> instance = block(*this, &isCacheable);
  if (instance && isCacheable) cachedInstances_[protocol.type] = instance;
  return instance;
}

void RURIdeziroveContainer::removeAllCachedInstances() {
  std::map<std::type_index, std::shared_ptr<void>> dropped;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    dropped.swap(cachedInstances_);
  }
  // Instances are destroyed outside the lock: their destructors may use the container.
}

size_t RURIdeziroveContainer::cachedInstanceCount() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return cachedInstances_.size();
}
