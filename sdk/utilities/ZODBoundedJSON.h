#pragma once
// JSON parsing of bytes that come from outside the program (a server answer, a stored blob) with
// a size and a nesting limit, so that hostile input is refused with an error instead of
// exhausting memory or the stack of a later recursive walk.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

struct ZODJSONLimits {
  size_t maxBytes;  // longer text is refused before parsing
  int maxDepth;     // arrays and objects nested deeper than this are refused
};

// The parsed value, or nullopt with the reason in *error: malformed JSON, invalid UTF-8, text
// beyond the limits, or (without allowFragments) a top level that is neither object nor array.
// *exceededLimits (when given) tells text beyond the limits from text that is not JSON.
std::optional<Value> zod_parseJSONWithLimits(std::string_view text, const ZODJSONLimits& limits,
                                             bool allowFragments = false, std::string* error = nullptr,
                                             bool* exceededLimits = nullptr);
std::optional<Value> zod_parseJSONWithLimits(const Bytes& data, const ZODJSONLimits& limits,
                                             bool allowFragments = false, std::string* error = nullptr,
                                             bool* exceededLimits = nullptr);
