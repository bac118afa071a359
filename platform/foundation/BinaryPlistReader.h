#pragma once
// A bounds-checked reader of binary property lists ("bplist00"). Every offset, count and
// reference is checked against the data, cycles and runaway nesting are refused, so damaged or
// hostile bytes give an error and never a crash.
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace ns {
std::optional<Value> readBinaryPlist(std::string_view bytes, std::string* error);
}  // namespace ns
