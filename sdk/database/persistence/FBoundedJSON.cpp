#include "sdk/database/persistence/FBoundedJSON.h"

#include "platform/foundation/NSString.h"

namespace {

// The deepest nesting of arrays and objects in the text, counting brackets outside strings. Stops
// early once `limit` is passed.
int nestingDepth(std::string_view text, int limit) {
  int depth = 0;
  int deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        if (++depth > deepest) {
          deepest = depth;
          if (deepest > limit) return deepest;
        }
        break;
      case ']':
      case '}':
        --depth;
        break;
      default:
        break;
    }
  }
  return deepest;
}

}  // namespace

std::optional<Value> FReadBoundedJSON(std::string_view text, const FJSONLimits& limits, std::string* error) {
  if (text.size() > limits.maxBytes) {
    if (error) *error = ns::format("%zu bytes, more than the limit of %zu", text.size(), limits.maxBytes);
    return std::nullopt;
  }
  if (nestingDepth(text, limits.maxDepth) > limits.maxDepth) {
    if (error) *error = ns::format("nested more than %d levels deep", limits.maxDepth);
    return std::nullopt;
  }
  Value parsed = Value::parse(text.begin(), text.end(), nullptr, false, false);
  if (parsed.is_discarded()) {
    if (error) *error = "not a JSON text";
    return std::nullopt;
  }
  return parsed;
}

std::optional<std::string> FWriteJSON(const Value& value, std::string* error) {
  try {
    return value.dump();
  } catch (const nlohmann::json::exception& e) {
    if (error) *error = e.what();
    return std::nullopt;
  }
}
