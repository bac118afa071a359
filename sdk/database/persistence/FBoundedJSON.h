#pragma once
// Reads JSON text that comes from outside this process's memory (a record of the local cache, a
// frame from the server) within stated limits, so that a damaged or hostile text can neither
// exhaust memory nor run a recursive consumer out of stack. Refusals are values, not exceptions.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"
#include "sdk/utilities/ZODBoundedJSON.h"

// maxBytes: the text's length; maxDepth: nesting of arrays and objects, the top level counting 1.
using FJSONLimits = ZODJSONLimits;

// The parsed value, or nullopt with *error set: too long, nested too deeply, or not JSON.
// Scalars at the top level are accepted.
std::optional<Value> FReadBoundedJSON(std::string_view text, const FJSONLimits& limits, std::string* error);

// The compact JSON text of a value; nullopt with *error set when it cannot be written (a string
// that is not UTF-8).
std::optional<std::string> FWriteJSON(const Value& value, std::string* error);
