#include "sdk/utilities/ZODBoundedJSON.h"

namespace {
// The deepest nesting of arrays and objects in the text, counting brackets outside strings; stops
// counting as soon as the limit is passed.
int nestingDepth(std::string_view text, int limit) {
  int depth = 0, deepest = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > deepest) deepest = depth;
      if (deepest > limit) return deepest;
    } else if (c == ']' || c == '}') {
      if (depth > 0) --depth;
    }
  }
  return deepest;
}
}  // namespace

std::optional<Value> zod_parseJSONWithLimits(std::string_view text, const ZODJSONLimits& limits,
                                             bool allowFragments, std::string* error, bool* exceededLimits) {
  if (exceededLimits) *exceededLimits = false;
  if (text.size() > limits.maxBytes) {
    if (exceededLimits) *exceededLimits = true;
    if (error) {
      *error = "JSON text of " + std::to_string(text.size()) + " bytes is larger than the limit of " +
               std::to_string(limits.maxBytes) + " bytes.";
    }
    return std::nullopt;
  }
  if (nestingDepth(text, limits.maxDepth) > limits.maxDepth) {
    if (exceededLimits) *exceededLimits = true;
    if (error) *error = "JSON text nests deeper than " + std::to_string(limits.maxDepth) + " levels.";
    return std::nullopt;
  }
  return value::parseJSON(text, allowFragments, error);
}

std::optional<Value> zod_parseJSONWithLimits(const Bytes& data, const ZODJSONLimits& limits,
                                             bool allowFragments, std::string* error, bool* exceededLimits) {
  return zod_parseJSONWithLimits(
      std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), limits, allowFragments,
      error, exceededLimits);
}
