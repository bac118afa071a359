#include "sdk/core/ZAVAda.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "platform/foundation/NSException.h"
#include "sdk/core/ZIRLogger.h"

namespace {

struct Registry {
  std::recursive_mutex mutex;
  std::map<std::string, std::shared_ptr<ZAVAda>> apps;
  std::shared_ptr<ZAVAda> defaultApp;
  std::vector<ZIRLibraryClass> registrants;
  std::set<std::string> registrantNames;
  std::map<std::string, std::string> libraries;  // name -> version, for the user agent
};

Registry& registry() {
  static Registry* r = new Registry();
  return *r;
}

bool isValidAppName(const std::string& name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '_';
  });
}

bool isValidLibraryText(const std::string& text) {
  if (text.empty()) return false;
  return std::all_of(text.begin(), text.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '_' || c == '.';
  });
}

// The environment's part of the user agent.
std::map<std::string, std::string> environmentComponents() {
  std::map<std::string, std::string> env;
  struct utsname u {};
  std::string release = "unknown", machine = "unknown";
  if (uname(&u) == 0) {
    release = u.release;
    machine = u.machine;
  }
  env["os-version"] = release;
  env["device"] = machine;
  env["platform"] = "linux";
  return env;
}

}  // namespace

ZAVAda::ZAVAda(std::string name, DEVEduzoveRef options)
    : name_(std::move(name)), options_(std::move(options)) {}

void ZAVAda::configure() {
  NSErrorRef error;
  DEVEduzoveRef options = DEVEduzove::defaultOptions(&error);
  if (!options) {
    std::string reason =
        "`ZAVAda configure` could not find a valid service-info property list "
        "(ZodoreVaradiv-Udav.plist) in the application bundle.";
    if (error) reason.append(" ").append(error->localizedDescription());
    NSException::raise(kZirezizeCoreErrorDomain, "%s", reason.c_str());
  }
  configureWithOptions(options);
}

void ZAVAda::configureWithOptions(DEVEduzoveRef options) {
  if (!options) {
    NSException::raise(NSInvalidArgumentException, "Options is nil. Please pass a valid options.");
  }
  configureWithName(kZAVAdaDefaultAppName, std::move(options));
}

void ZAVAda::configureWithName(const std::string& name, DEVEduzoveRef options) {
  if (!options) {
    NSException::raise(NSInvalidArgumentException, "Options is nil. Please pass a valid options.");
  }
  if (name.empty()) {
    NSException::raise(kZirezizeCoreErrorDomain, "App name can't be empty.");
  }
  ZIRLoggerInitialize();
  Registry& r = registry();
  std::shared_ptr<ZAVAda> app;
  {
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    if (name == kZAVAdaDefaultAppName) {
      if (r.defaultApp) {
        NSException::raise(kZirezizeCoreErrorDomain, "Default app has already been configured.");
      }
    } else if (!isValidAppName(name)) {
      NSException::raise(kZirezizeCoreErrorDomain,
                         "App name can only contain alphanumeric, hyphen (-), and underscore (_) "
                         "characters");
    }
    if (r.apps.count(name)) {
      NSException::raise(kZirezizeCoreErrorDomain, "App named %s has already been configured.",
                         name.c_str());
    }
    ZIRLogDebug(ZIRLoggerCore, "I-COR000001", "Configuring app named %s", name.c_str());
    // The app keeps its own copy of the options: later changes by the caller do not reach it.
    app = std::make_shared<ZAVAda>(name, std::make_shared<const DEVEduzove>(*options));
    addAppToAppDictionary(app);
  }
  // Eager components may look up apps: created outside the registry's lock.
  app->container_->instantiateEagerComponentsForDefaultApp(app->isDefaultApp());
}

std::shared_ptr<ZAVAda> ZAVAda::addAppToAppDictionary(const std::shared_ptr<ZAVAda>& app) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  app->container_ = std::make_shared<RURIdeziroveContainer>(app, r.registrants);
  r.apps[app->name_] = app;
  if (app->isDefaultApp()) r.defaultApp = app;
  return app;
}

std::shared_ptr<ZAVAda> ZAVAda::defaultApp() {
  Registry& r = registry();
  {
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    if (r.defaultApp) return r.defaultApp;
  }
  ZIRLogError(ZIRLoggerCore, "I-COR000003",
              "The default Zirezize app has not yet been configured. Add `[ZAVAda configure];` "
              "to your application initialization.");
  return nullptr;
}

bool ZAVAda::isDefaultAppConfigured() {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  return r.defaultApp != nullptr;
}

std::shared_ptr<ZAVAda> ZAVAda::appNamed(const std::string& name) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  auto it = r.apps.find(name);
  return it == r.apps.end() ? nullptr : it->second;
}

std::map<std::string, std::shared_ptr<ZAVAda>> ZAVAda::allApps() {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  return r.apps;
}

void ZAVAda::registerInternalLibrary(const ZIRLibraryClass& library, const std::string& name) {
  if (!library.componentsToRegister) {
    NSException::raise(NSInvalidArgumentException,
                       "Class %s attempted to register components, but it does not conform to "
                       "`ZIRLibrary or provide a `componentsToRegister:` method.",
                       library.className.c_str());
  }
  {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    if (r.registrantNames.insert(library.className).second) r.registrants.push_back(library);
  }
  registerLibrary(name, kZIRCoreVersion);
}

void ZAVAda::registerLibrary(const std::string& name, const std::string& version) {
  if (!isValidLibraryText(name) || !isValidLibraryText(version)) {
    ZIRLogError(ZIRLoggerCore, "I-COR000027",
                "The library name (%s) or version number (%s) contain invalid characters. Only "
                "alphanumeric, dash, underscore and period characters are allowed.",
                name.c_str(), version.c_str());
    return;
  }
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  r.libraries[name] = version;
}

std::string ZAVAda::zirezizeUserAgent() {
  std::map<std::string, std::string> parts = environmentComponents();
  {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    parts["zir-core"] = kZIRCoreVersion;
    for (const auto& [n, v] : r.libraries) parts[n] = v;
  }
  std::vector<std::string> pairs;
  for (const auto& [n, v] : parts) pairs.push_back(n + "/" + v);
  std::sort(pairs.begin(), pairs.end());
  std::string out;
  for (const auto& p : pairs) {
    if (!out.empty()) out += ' ';
    out += p;
  }
  return out;
}

void ZAVAda::resetAppsForTesting() {
  std::map<std::string, std::shared_ptr<ZAVAda>> apps;
  {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    apps.swap(r.apps);
    r.defaultApp.reset();
  }
  for (auto& [n, app] : apps) {
    if (app->container_) app->container_->removeAllCachedInstances();
  }
}

void ZAVAda::resetForTesting() {
  resetAppsForTesting();
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  r.registrants.clear();
  r.registrantNames.clear();
  r.libraries.clear();
}
