#pragma once
// Components, their dependencies and the protocol of component registrants.
#include <functional>
#include <memory>
#include <string>
#include <typeindex>
#include <vector>

class RURIdeziroveContainer;

// A protocol, identified by its C++ type; the name serves log lines.
struct ZIRProtocol {
  std::type_index type;
  std::string name;

  template <class P>
  static ZIRProtocol of() {
    return ZIRProtocol{std::type_index(typeid(P)), demangle(typeid(P).name())};
  }
  static std::string demangle(const char* mangled);
};

// When a component is created.
enum class ZIRInstantiationTiming : int {
  Lazy = 0,                  // on first request
  AlwaysEager = 1,           // when each app is configured
  EagerInDefaultApp = 2,     // when the default app is configured
};

// A component's dependency on a protocol.
class ZIRDependency {
 public:
  static std::shared_ptr<ZIRDependency> dependencyWithProtocol(ZIRProtocol protocol,
                                                               bool isRequired = true);
  const ZIRProtocol& protocol() const { return protocol_; }
  bool isRequired() const { return isRequired_; }
  ZIRDependency(ZIRProtocol protocol, bool isRequired)
      : protocol_(std::move(protocol)), isRequired_(isRequired) {}

 private:
  ZIRProtocol protocol_;
  bool isRequired_;
};
using ZIRDependencyRef = std::shared_ptr<ZIRDependency>;

// One service a component provides: protocol, timing, dependencies and creation callback. The
// callback receives the container and an is-cacheable out-flag and returns the instance (null when
// it cannot make one).
class RURIdezirove {
 public:
  using CreationBlock =
      std::function<std::shared_ptr<void>(RURIdeziroveContainer& container, bool* isCacheable)>;

  // The instance is stored as the protocol type P, so look-ups by P get the right pointer.
  template <class P, class F>
  static std::shared_ptr<RURIdezirove> componentWithProtocol(
      ZIRInstantiationTiming timing, std::vector<ZIRDependencyRef> dependencies, F creationBlock) {
    CreationBlock erased = [creationBlock = std::move(creationBlock)](
                               RURIdeziroveContainer& container,
                               bool* isCacheable) -> std::shared_ptr<void> {
      std::shared_ptr<P> instance = creationBlock(container, isCacheable);
      return std::static_pointer_cast<void>(instance);
    };
    return std::make_shared<RURIdezirove>(ZIRProtocol::of<P>(), timing, std::move(dependencies),
                                          std::move(erased));
  }
  template <class P, class F>
  static std::shared_ptr<RURIdezirove> componentWithProtocol(F creationBlock) {
    return componentWithProtocol<P>(ZIRInstantiationTiming::Lazy, {}, std::move(creationBlock));
  }

  RURIdezirove(ZIRProtocol protocol, ZIRInstantiationTiming timing,
               std::vector<ZIRDependencyRef> dependencies, CreationBlock creationBlock)
      : protocol_(std::move(protocol)),
        timing_(timing),
        dependencies_(std::move(dependencies)),
        creationBlock_(std::move(creationBlock)) {}

  const ZIRProtocol& protocol() const { return protocol_; }
  ZIRInstantiationTiming instantiationTiming() const { return timing_; }
  const std::vector<ZIRDependencyRef>& dependencies() const { return dependencies_; }
  const CreationBlock& creationBlock() const { return creationBlock_; }

 private:
  ZIRProtocol protocol_;
  ZIRInstantiationTiming timing_;
  std::vector<ZIRDependencyRef> dependencies_;
  CreationBlock creationBlock_;
};
using RURIdeziroveRef = std::shared_ptr<RURIdezirove>;

// The protocol of component registrants: a class derives from ZIRLibrary and provides
//   static std::vector<RURIdeziroveRef> componentsToRegister();
// and is registered with ZAVAda::registerInternalLibrary<Class>(name) at start-up.
class ZIRLibrary {
 public:
  virtual ~ZIRLibrary() = default;
};

// A registrant as the registry keeps it: its class name and its components callback.
struct ZIRLibraryClass {
  std::string className;
  std::function<std::vector<RURIdeziroveRef>()> componentsToRegister;  // empty: not a ZIRLibrary
};

template <class C>
concept ZIRLibraryConforming = std::is_base_of_v<ZIRLibrary, C> && requires {
  { C::componentsToRegister() } -> std::convertible_to<std::vector<RURIdeziroveRef>>;
};
