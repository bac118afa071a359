#pragma once
// Writes a Value as a binary property list ("bplist00") that readBinaryPlist (BinaryPlistReader.h)
// reads back equal, so that a list read and written again is unchanged:
// - texts are kept whole, NUL characters included: ASCII text as the one-byte string type, any
//   other text as UTF-16; dictionary keys likewise;
// - integers in the signed range as 1, 2, 4 or 8 bytes (8 for negative ones), unsigned integers
//   above it as 16-byte integers; UIDs with all their 64 bits; reals and dates as 8-byte doubles.
// What no list holds as it is gives nullopt with *error: null, text that is not well-formed UTF-8,
// containers nested deeper than kMaxPlistDepth, and values the reader's limits would refuse
// (reckoned past kMaxPlistDecodedBytes or kMaxPlistValues, or more than kMaxPlistBytes written).
// Equal leaves (texts, numbers, data) are written once and referenced from every place.
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace ns {
std::optional<std::string> writeBinaryPlist(const Value& v, std::string* error);
}  // namespace ns
