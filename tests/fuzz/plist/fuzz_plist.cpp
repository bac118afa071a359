// Binary and XML property lists from outside the program (user defaults, bundle and service-info
// lists, keyed archives) into a Value, and written back as the program would write it: what is
// read writes back and reads again the same (or the write is refused with a reason), never a
// changed copy.
#include <cstdlib>

#include "platform/foundation/PlistValue.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/PlistFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  auto parsed = ns::plistParse(fuzzsupport::asText(data, size), &error);
  if (!parsed) {
    if (error.empty()) fuzzsupport::broken("a refusal without a reason");
    return 0;
  }
  (void)value::toJSON(*parsed);
  error.clear();
  if (auto xml = ns::plistSerialize(*parsed, false, &error)) {
    if (!ns::plistParse(*xml, &error)) fuzzsupport::broken("the XML written does not read back");
  } else if (error.empty()) {
    fuzzsupport::broken("an XML write refused without a reason");
  }
  // What was read is written as user defaults are (binary), and reads back the same: the writer
  // reckons a value as the readers do, so what they took it writes.
  error.clear();
  auto bytes = ns::plistSerialize(*parsed, true, &error);
  if (!bytes) fuzzsupport::broken("a list that was read cannot be written back");
  auto again = ns::plistParse(*bytes, &error);
  if (!again) fuzzsupport::broken("the binary list written does not read back");
  if (!fuzzsupport::samePlistValue(*parsed, *again)) fuzzsupport::broken("a list read and written back changed");
  return 0;
}
