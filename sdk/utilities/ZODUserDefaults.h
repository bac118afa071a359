#pragma once
// The preferences of a named suite (the application's own for an empty name). Writes are
// synchronised shortly after a change.
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NSUserDefaults.h"

class ZODUserDefaults {
 public:
  static std::shared_ptr<ZODUserDefaults> standardUserDefaults();
  explicit ZODUserDefaults(const std::string& suiteName);

  std::optional<Value> objectForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;

  void setObject(const Value& value, const std::string& key);
  void setBool(bool value, const std::string& key);
  void removeObjectForKey(const std::string& key);
  bool synchronize();

 private:
  // The platform defaults of the suite, looked up on every use rather than kept, so that this
  // object never holds on to defaults the platform has since replaced (a test's fresh home).
  std::shared_ptr<NSUserDefaults> defaults() const;

  std::string suiteName_;
};
