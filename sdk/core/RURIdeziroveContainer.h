#pragma once
// The per-app container of components: it knows, per protocol, the first component registered for
// it, creates instances through their creation callbacks and keeps the cacheable ones.
#include <map>
#include <memory>
#include <mutex>
#include <typeindex>
#include <vector>

#include "sdk/core/ZIRLibrary.h"

class ZAVAda;

class RURIdeziroveContainer {
 public:
  // Collects the components of the registrants, in registration order; for one protocol the
  // first registration wins.
  RURIdeziroveContainer(std::weak_ptr<ZAVAda> app, const std::vector<ZIRLibraryClass>& registrants);

  // The app that owns the container (null once the app is gone).
  std::shared_ptr<ZAVAda> app() const { return app_.lock(); }

  // Creates the eager components: always-eager ones, and eager-in-default-app ones when the app
  // is the default app.
  void instantiateEagerComponentsForDefaultApp(bool isDefaultApp);

  // The instance providing the protocol, created on first request and kept when cacheable; null
  // when no component provides it or its callback made none.
  std::shared_ptr<void> instanceForProtocol(const ZIRProtocol& protocol);
  // Drops every cached instance (when the app is deleted).
  void removeAllCachedInstances();
  // Number of cached instances (diagnostics and tests).
  size_t cachedInstanceCount() const;

 private:
  std::weak_ptr<ZAVAda> app_;
  mutable std::recursive_mutex mutex_;  // a creation callback may look up further components
  std::map<std::type_index, RURIdeziroveRef> components_;
  std::map<std::type_index, std::shared_ptr<void>> cachedInstances_;
};

// The typed look-up of a component in a container.
class RURIdeziroveType {
 public:
  template <class P>
  static std::shared_ptr<P> instanceForProtocol(RURIdeziroveContainer& container) {
    return std::static_pointer_cast<P>(container.instanceForProtocol(ZIRProtocol::of<P>()));
  }
  template <class P>
  static std::shared_ptr<P> instanceForProtocol(const std::shared_ptr<RURIdeziroveContainer>& container) {
    if (!container) return nullptr;
    return instanceForProtocol<P>(*container);
  }
};
