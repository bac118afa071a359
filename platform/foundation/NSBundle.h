#pragma once
// The main bundle over the resources folder: resources by name and type, Info.plist values and
// localized strings (<resources>/<lang>.lproj/<table>.strings, "en" first, then Base).
// The folder is $SPECTRUM_ANALYSER_RESOURCES, else the source tree's resources/.
// Info.plist is read within the property-list limits (PlistValue.h), strings files within
// ns::kMaxStringsFileBytes (StringsFile.h); a file past its limit is logged and not used.
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class NSBundle {
 public:
  static NSBundle& mainBundle();
  // Points the main bundle at another folder (tests). Empty restores the default.
  static void setMainBundlePathForTesting(const std::string& path);

  std::string bundlePath() const;
  // The full path of "<name>.<type>" (type may be empty or already part of the name), searched in
  // the bundle folder and its language folders; nullopt when absent.
  std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;
  std::optional<std::string> bundleIdentifier() const;  // CFBundleIdentifier
  Value infoDictionary() const;                         // Info.plist, an empty dictionary if none
  std::optional<Value> objectForInfoDictionaryKey(const std::string& key) const;
  // Overrides an Info.plist value for this process (tests, deployment switches). Null removes.
  void setInfoValueForTesting(const std::string& key, const Value& value);
  // Drops every override made by setInfoValueForTesting.
  static void resetInfoValuesForTesting();
  // The translation of `key` in table (default "Localizable"); else `value` when it is non-empty;
  // else the key itself.
  std::string localizedStringForKey(const std::string& key, const std::string& value = "",
                                    const std::string& table = "") const;

 private:
  NSBundle() = default;
};

// The platform macro: the key's translation in the main bundle's default table.
inline std::string NSLocalizedString(const std::string& key) {
  return NSBundle::mainBundle().localizedStringForKey(key, "", "");
}
