#pragma once
// What the fuzz targets of database values share.
#include <vector>

#include "platform/foundation/Value.h"

namespace fuzzsupport {

// Whether a mapping with ".sv" (a server-value placeholder) appears anywhere in the value, walked
// without recursion so that any depth of nesting is safe.
inline bool holdsPlaceholder(const Value& root) {
  std::vector<const Value*> pending{&root};
  while (!pending.empty()) {
    const Value* v = pending.back();
    pending.pop_back();
    if (v->is_object() && v->contains(".sv")) return true;
    if (v->is_structured()) {
      for (const auto& element : *v) pending.push_back(&element);
    }
  }
  return false;
}

}  // namespace fuzzsupport
