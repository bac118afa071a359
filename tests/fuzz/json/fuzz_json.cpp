// JSON text from outside the program (server answers, stored files) into a Value and back out.
#include "platform/foundation/Value.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto text = fuzzsupport::asText(data, size);
  for (bool fragments : {false, true}) {
    std::string error;
    if (auto parsed = value::parseJSON(text, fragments, &error)) {
      // Every consumer walks the whole value: writing, reading back and comparing.
      const std::string written = value::toJSON(*parsed);
      if (auto again = value::parseJSON(written, true)) (void)(*again == *parsed);
    }
  }
  return 0;
}
