// Binary and XML property lists from outside the program (user defaults, bundle and service-info
// lists, keyed archives) into a Value, and written back as the program would write it.
#include <cstdlib>

#include "platform/foundation/PlistValue.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  auto parsed = ns::plistParse(fuzzsupport::asText(data, size), &error);
  if (!parsed) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  (void)value::toJSON(*parsed);
  (void)ns::plistSerialize(*parsed, false, &error);
  // What was read is written as user defaults are (binary), and what is written reads back.
  if (auto bytes = ns::plistSerialize(*parsed, true, &error)) {
    if (!ns::plistParse(*bytes, &error)) std::abort();
  }
  return 0;
}
