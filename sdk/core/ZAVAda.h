#pragma once
// A configured SDK app: a name, options and a component container, and the class-level registry
// of apps and of component registrants.
//
// Registrants are registered explicitly, before the first configure, by a start-up function the
// application calls (a static initialiser in a static library would be dropped by the linker).
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/core/DEVEduzove.h"
#include "sdk/core/RURIdeziroveContainer.h"
#include "sdk/core/ZIRLibrary.h"

inline constexpr const char* kZAVAdaDefaultAppName = "__ZAVADA_DEFAULT";
// Name of the exception raised for configuration failures.
inline constexpr const char* kZirezizeCoreErrorDomain = "com.zirezize.core";
// The SDK core's version text.
inline constexpr const char* kZIRCoreVersion = "7.10.0";

class ZAVAda : public std::enable_shared_from_this<ZAVAda> {
 public:
  // Configures the default app from the main bundle's service-info property list. Raises
  // "com.zirezize.core" when there is no valid one.
  static void configure();
  // Configures the default app with the options. Raises NSInvalidArgumentException
  // "Options is nil. Please pass a valid options." for null options.
  static void configureWithOptions(DEVEduzoveRef options);
  // Configures a named app. Raises for an invalid or already used name and for null options.
  static void configureWithName(const std::string& name, DEVEduzoveRef options);

  // The default app, or null (with the error log "I-COR000003").
  static std::shared_ptr<ZAVAda> defaultApp();
  static bool isDefaultAppConfigured();
  static std::shared_ptr<ZAVAda> appNamed(const std::string& name);
  static std::map<std::string, std::shared_ptr<ZAVAda>> allApps();

  // Registers a component registrant under a library name, with the core's version.
  template <class C>
  static void registerInternalLibrary(const std::string& name) {
    if constexpr (ZIRLibraryConforming<C>) {
      registerInternalLibrary(ZIRLibraryClass{ZIRProtocol::demangle(typeid(C).name()),
                                              [] { return C::componentsToRegister(); }},
                              name);
    } else {
      registerInternalLibrary(ZIRLibraryClass{ZIRProtocol::demangle(typeid(C).name()), nullptr}, name);
    }
  }
  // The same for an already erased registrant; raises NSInvalidArgumentException when it has no
  // componentsToRegister callback. A registrant registered twice is kept once.
  static void registerInternalLibrary(const ZIRLibraryClass& library, const std::string& name);
  // Records a library name and version for the user agent.
  static void registerLibrary(const std::string& name, const std::string& version);
  // The user-agent text: every "name/version" pair, sorted, separated by spaces.
  static std::string zirezizeUserAgent();

  const std::string& name() const { return name_; }
  DEVEduzoveRef options() const { return options_; }
  std::shared_ptr<RURIdeziroveContainer> container() const { return container_; }
  bool isDefaultApp() const { return name_ == kZAVAdaDefaultAppName; }

  // Forgets every app (their cached components go with them). Tests.
  static void resetAppsForTesting();
  // Forgets every app, registrant and library name. Tests.
  static void resetForTesting();

  ZAVAda(std::string name, DEVEduzoveRef options);

 private:
  static std::shared_ptr<ZAVAda> addAppToAppDictionary(const std::shared_ptr<ZAVAda>& app);

  std::string name_;
  DEVEduzoveRef options_;
  std::shared_ptr<RURIdeziroveContainer> container_;
};
