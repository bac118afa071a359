#pragma once
// A bounds-checked reader of binary property lists ("bplist00"). Every offset, count and
// reference is checked against the data, cycles and runaway nesting are refused, so damaged or
// hostile bytes give an error and never a crash. Containers nest at most kMaxPlistDepth deep; an
// object referenced from several places is decoded once and copied into each, and the whole
// decoded value may take at most kMaxPlistDecodedBytes (reckoned), so that a small file whose
// containers reference each other over and over cannot expand without bound (see PlistValue.h).
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace ns {
std::optional<Value> readBinaryPlist(std::string_view bytes, std::string* error);
}  // namespace ns
