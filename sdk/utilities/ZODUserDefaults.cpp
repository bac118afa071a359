#include "sdk/utilities/ZODUserDefaults.h"

std::shared_ptr<ZODUserDefaults> ZODUserDefaults::standardUserDefaults() {
  static auto instance = std::make_shared<ZODUserDefaults>("");
  return instance;
}

ZODUserDefaults::ZODUserDefaults(const std::string& suiteName)
    : defaults_(suiteName.empty() ? NSUserDefaults::standardUserDefaults()
                                  : NSUserDefaults::suiteNamed(suiteName)) {}

std::optional<Value> ZODUserDefaults::objectForKey(const std::string& key) const {
  return defaults_->objectForKey(key);
}
std::optional<std::string> ZODUserDefaults::stringForKey(const std::string& key) const {
  return defaults_->stringForKey(key);
}
int64_t ZODUserDefaults::integerForKey(const std::string& key) const {
  return defaults_->integerForKey(key);
}
double ZODUserDefaults::doubleForKey(const std::string& key) const {
  return defaults_->doubleForKey(key);
}
bool ZODUserDefaults::boolForKey(const std::string& key) const { return defaults_->boolForKey(key); }
std::optional<Value> ZODUserDefaults::arrayForKey(const std::string& key) const {
  return defaults_->arrayForKey(key);
}
std::optional<Value> ZODUserDefaults::dictionaryForKey(const std::string& key) const {
  return defaults_->dictionaryForKey(key);
}
void ZODUserDefaults::setObject(const Value& value, const std::string& key) {
  defaults_->setObject(value, key);
}
void ZODUserDefaults::setInteger(int64_t value, const std::string& key) {
  defaults_->setInteger(value, key);
}
void ZODUserDefaults::setDouble(double value, const std::string& key) {
  defaults_->setDouble(value, key);
}
void ZODUserDefaults::setBool(bool value, const std::string& key) { defaults_->setBool(value, key); }
void ZODUserDefaults::removeObjectForKey(const std::string& key) {
  defaults_->removeObjectForKey(key);
}
bool ZODUserDefaults::synchronize() { return defaults_->synchronize(); }
