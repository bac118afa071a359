#pragma once
// Editing a keyed archive's object table, to make the damaged archives a user's defaults may hold.
#include <functional>
#include <string>

#include "platform/foundation/PlistValue.h"
#include "platform/foundation/Value.h"

namespace profilestest {

// Parses the archive, lets `edit` change the object entries of the class (each entry with its
// index among that class's entries), and writes the archive again.
inline Bytes editObjects(const Bytes& archive, const std::string& className,
                         const std::function<void(Value& entry, int index)>& edit) {
  auto plist = ns::plistParse(std::string(archive.begin(), archive.end()));
  if (!plist) return {};
  Value& objects = (*plist)["$objects"];
  int index = 0;
  for (auto& entry : objects) {
    if (!entry.is_object() || !entry.contains("$class")) continue;
    const Value& cls = objects[ns::plistUIDValue(entry["$class"])];
    if (cls.value("$classname", "") != className) continue;
    edit(entry, index++);
  }
  auto bytes = ns::plistSerialize(*plist, true);
  return bytes ? Bytes(bytes->begin(), bytes->end()) : Bytes{};
}

// The names of the classes the archive's objects are stored under, in table order.
inline std::vector<std::string> storedClassNames(const Bytes& archive) {
  std::vector<std::string> names;
  auto plist = ns::plistParse(std::string(archive.begin(), archive.end()));
  if (!plist) return names;
  for (const auto& entry : (*plist)["$objects"]) {
    if (entry.is_object() && entry.contains("$classname")) names.push_back(entry["$classname"].get<std::string>());
  }
  return names;
}

}  // namespace profilestest
