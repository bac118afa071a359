#include "sdk/utilities/ZODUserDefaults.h"

std::shared_ptr<ZODUserDefaults> ZODUserDefaults::standardUserDefaults() {
  static auto instance = std::make_shared<ZODUserDefaults>("");
  return instance;
}

ZODUserDefaults::ZODUserDefaults(const std::string& suiteName) : suiteName_(suiteName) {}

std::shared_ptr<NSUserDefaults> ZODUserDefaults::defaults() const {
  return suiteName_.empty() ? NSUserDefaults::standardUserDefaults() : NSUserDefaults::suiteNamed(suiteName_);
}

std::optional<Value> ZODUserDefaults::objectForKey(const std::string& key) const {
  return defaults()->objectForKey(key);
}
bool ZODUserDefaults::boolForKey(const std::string& key) const { return defaults()->boolForKey(key); }
void ZODUserDefaults::setObject(const Value& value, const std::string& key) {
  defaults()->setObject(value, key);
}
void ZODUserDefaults::setBool(bool value, const std::string& key) { defaults()->setBool(value, key); }
void ZODUserDefaults::removeObjectForKey(const std::string& key) {
  defaults()->removeObjectForKey(key);
}
bool ZODUserDefaults::synchronize() { return defaults()->synchronize(); }
