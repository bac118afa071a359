// JSON text from outside the program (server answers, stored files) into a Value and back out.
#include <cstdlib>

#include "platform/foundation/Value.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
// The nesting of a value, walked without recursion.
size_t depthOf(const Value& root) {
  size_t deepest = 0;
  std::vector<std::pair<const Value*, size_t>> pending{{&root, 0}};
  while (!pending.empty()) {
    auto [v, depth] = pending.back();
    pending.pop_back();
    if (!v->is_array() && !v->is_object()) continue;
    deepest = std::max(deepest, depth + 1);
    for (const auto& item : *v) pending.emplace_back(&item, depth + 1);
  }
  return deepest;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto text = fuzzsupport::asText(data, size);
  for (bool fragments : {false, true}) {
    std::string error;
    auto parsed = value::parseJSON(text, fragments, &error);
    if (!parsed) {
      // A refusal always says why.
      if (error.empty()) std::abort();
      continue;
    }
    // Nothing deeper than the limit is ever built.
    if (depthOf(*parsed) > value::kMaxJSONDepth) std::abort();
    // Every consumer walks the whole value: writing, reading back, copying and comparing.
    const std::string written = value::toJSON(*parsed);
    const std::string pretty = value::toJSON(*parsed, true);
    auto again = value::parseJSON(written, true);
    if (!again || *again != *parsed) std::abort();
    Value copy = *parsed;
    if (!(copy == *parsed) || !value::parseJSON(pretty, true)) std::abort();
  }
  return 0;
}
