#include "platform/foundation/NSBundle.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/foundation/ApplicationName.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/PlistValue.h"
#include "platform/foundation/StringsFile.h"

#ifndef SA_DEFAULT_RESOURCES_DIR
#define SA_DEFAULT_RESOURCES_DIR "resources"
#endif

namespace fs = std::filesystem;

namespace {

struct BundleState {
  std::mutex mutex;
  std::string testingPath;
  std::map<std::string, Value> infoOverrides;  // a null value hides the key
  std::string cachedInfoPath;
  std::optional<Value> cachedInfo;
  std::map<std::string, std::map<std::string, std::string>> stringTables;  // by file path
};

BundleState& bundleState() {
  static auto* s = new BundleState();
  return *s;
}

std::string currentBundlePath(BundleState& s) {
  if (!s.testingPath.empty()) return s.testingPath;
  if (const char* env = std::getenv(kResourcesEnvironmentVariable); env && *env) return env;
  return SA_DEFAULT_RESOURCES_DIR;
}

// The file's bytes when it is there, readable and within the limit (larger ones are logged).
std::optional<std::string> readFile(const std::string& path, size_t limit) {
  std::string bytes;
  switch (ns::readFile(path, limit, &bytes)) {
    case ns::FileRead::Read:
      return bytes;
    case ns::FileRead::TooLarge:
      NSLog("The bundle file %s is not read: it is larger than %zu bytes", path.c_str(), limit);
      return std::nullopt;
    case ns::FileRead::Unreadable:
      NSLog("The bundle file %s cannot be read", path.c_str());
      return std::nullopt;
    case ns::FileRead::Missing:
      break;
  }
  return std::nullopt;
}

// Language folders in the order they are searched.
std::vector<std::string> languageFolders(const std::string& root) {
  std::vector<std::string> out = {"en.lproj", "Base.lproj"};
  std::error_code ec;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() > 6 && name.compare(name.size() - 6, 6, ".lproj") == 0 && name != "en.lproj" &&
        name != "Base.lproj")
      out.push_back(name);
  }
  std::sort(out.begin() + 2, out.end());
  return out;
}

Value loadInfo(BundleState& s, const std::string& root) {
  if (s.cachedInfo && s.cachedInfoPath == root) return *s.cachedInfo;
  Value info = Value::object();
  const std::string path = root + "/Info.plist";
  if (auto bytes = readFile(path, ns::kMaxPlistBytes)) {
    std::string error;
    auto parsed = ns::plistParse(*bytes, &error);
    if (parsed && parsed->is_object())
      info = std::move(*parsed);
    else
      NSLog("The bundle's Info.plist %s cannot be read: %s", path.c_str(),
            parsed ? "the top level is not a dictionary" : error.c_str());
  }
  s.cachedInfoPath = root;
  s.cachedInfo = info;
  return info;
}

}  // namespace

NSBundle& NSBundle::mainBundle() {
  static auto* bundle = new NSBundle();
  return *bundle;
}

void NSBundle::setMainBundlePathForTesting(const std::string& path) {
  BundleState& s = bundleState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.testingPath = path;
  s.cachedInfo.reset();
  s.stringTables.clear();
}

std::string NSBundle::bundlePath() const {
  BundleState& s = bundleState();
  std::lock_guard<std::mutex> lock(s.mutex);
  return currentBundlePath(s);
}

std::optional<std::string> NSBundle::pathForResource(const std::string& name,
                                                     const std::string& type) const {
  if (name.empty()) return std::nullopt;
  std::string file = name;
  if (!type.empty()) {
    const std::string suffix = "." + type;
    if (file.size() < suffix.size() || file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
      file += suffix;
  }
  // A resource name never leaves the bundle.
  const fs::path rel(file);
  if (rel.is_absolute()) return std::nullopt;
  for (const auto& part : rel)
    if (part == "..") return std::nullopt;

  const std::string root = bundlePath();
  std::error_code ec;
  std::vector<std::string> candidates = {root + "/" + file};
  for (const auto& lang : languageFolders(root)) candidates.push_back(root + "/" + lang + "/" + file);
  for (const auto& c : candidates)
    if (fs::exists(c, ec)) return c;
  return std::nullopt;
}

std::optional<std::string> NSBundle::bundleIdentifier() const {
  auto v = objectForInfoDictionaryKey("CFBundleIdentifier");
  if (v && v->is_string()) return v->get<std::string>();
  return std::nullopt;
}

Value NSBundle::infoDictionary() const {
  BundleState& s = bundleState();
  std::lock_guard<std::mutex> lock(s.mutex);
  Value info = loadInfo(s, currentBundlePath(s));
  for (const auto& [key, value] : s.infoOverrides) {
    if (value.is_null())
      info.erase(key);
    else
      info[key] = value;
  }
  return info;
}

std::optional<Value> NSBundle::objectForInfoDictionaryKey(const std::string& key) const {
  Value info = infoDictionary();
  auto it = info.find(key);
  if (it == info.end()) return std::nullopt;
  return *it;
}

void NSBundle::setInfoValueForTesting(const std::string& key, const Value& value) {
  BundleState& s = bundleState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.infoOverrides[key] = value;
}

void NSBundle::resetInfoValuesForTesting() {
  BundleState& s = bundleState();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.infoOverrides.clear();
}

std::string NSBundle::localizedStringForKey(const std::string& key, const std::string& value,
                                            const std::string& table) const {
  const std::string tableName = table.empty() ? "Localizable" : table;
  BundleState& s = bundleState();
  std::lock_guard<std::mutex> lock(s.mutex);
  const std::string root = currentBundlePath(s);
  for (const char* lang : {"en.lproj", "Base.lproj"}) {
    const std::string path = root + "/" + lang + "/" + tableName + ".strings";
    auto cached = s.stringTables.find(path);
    if (cached == s.stringTables.end()) {
      std::map<std::string, std::string> entries;
      if (auto bytes = readFile(path, ns::kMaxStringsFileBytes)) {
        std::string error;
        auto parsed = ns::parseStringsFile(*bytes, &error);
        if (!error.empty()) NSLog("The strings file %s cannot be read fully: %s", path.c_str(), error.c_str());
        entries = std::move(parsed);
      }
      cached = s.stringTables.emplace(path, std::move(entries)).first;
    }
    auto hit = cached->second.find(key);
    if (hit != cached->second.end()) return hit->second;
  }
  return value.empty() ? key : value;
}
