#pragma once
// What the property-list targets share: whether a list read back holds what was written.
#include <cmath>
#include <cstring>

#include "platform/foundation/PlistValue.h"
#include "platform/foundation/Value.h"

namespace fuzzsupport {

// Whether two values read from property lists are the same: equal texts, data, UIDs, integers
// (signed and unsigned apart) and booleans, reals equal to the bit (NaN to NaN), dates holding the
// same bits (the seconds since 2001 the list stores, a NaN's payload and all).
inline bool samePlistValue(const Value& a, const Value& b) {
  if (a.type() != b.type()) return false;
  if (a.is_number_float()) {
    const double x = a.get<double>(), y = b.get<double>();
    return (std::isnan(x) && std::isnan(y)) || std::memcmp(&x, &y, sizeof x) == 0;
  }
  if (a.is_array() || a.is_object()) {
    if (a.size() != b.size()) return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
      if (a.is_object() && i.key() != j.key()) return false;
      if (!samePlistValue(i.value(), j.value())) return false;
    }
    return true;
  }
  return a == b;
}

}  // namespace fuzzsupport
