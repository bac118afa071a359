#include "sdk/database/persistence/FBoundedJSON.h"

#include "platform/foundation/NSString.h"

std::optional<Value> FReadBoundedJSON(std::string_view text, const FJSONLimits& limits, std::string* error) {
  bool exceededLimits = false;
  std::optional<Value> parsed =
      zod_parseJSONWithLimits(text, limits, /*allowFragments=*/true, /*error=*/nullptr, &exceededLimits);
  if (parsed) return parsed;
  if (error) {
    if (text.size() > limits.maxBytes) {
      *error = ns::format("%zu bytes, more than the limit of %zu", text.size(), limits.maxBytes);
    } else if (exceededLimits) {
      *error = ns::format("nested more than %d levels deep", limits.maxDepth);
    } else {
      *error = "not a JSON text";
    }
  }
  return std::nullopt;
}

std::optional<std::string> FWriteJSON(const Value& value, std::string* error) {
  try {
    return value.dump();
  } catch (const nlohmann::json::exception& e) {
    if (error) *error = e.what();
    return std::nullopt;
  }
}
