#pragma once
// Look-up of classes by name at run time: a small registry in which a class is present when some
// code registered it, with the names of the class methods it answers to.
#include <optional>
#include <set>
#include <string>

struct NSClassInfo {
  std::string name;
  std::set<std::string> classMethods;
  bool respondsToSelector(const std::string& selector) const { return classMethods.count(selector) > 0; }
};

void NSRegisterClass(const NSClassInfo& info);
void NSUnregisterClass(const std::string& name);
std::optional<NSClassInfo> NSClassFromString(const std::string& name);
