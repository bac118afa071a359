// Strings files of the bundle's localized tables.
#include <cstdlib>

#include "platform/foundation/StringsFile.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error = "unset";
  auto entries = ns::parseStringsFile(fuzzsupport::asText(data, size), &error);
  // The entries read before a fault are kept; a fault names its line.
  if (!error.empty() && error.rfind("line ", 0) != 0) std::abort();
  for (const auto& [key, value] : entries) (void)(key.size() + value.size());
  return 0;
}
