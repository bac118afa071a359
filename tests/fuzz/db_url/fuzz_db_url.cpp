// Database URLs as a configuration file or a caller hands them over: parsing either gives a
// database and a location or raises the named failure; nothing else may happen.
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSURLComponents.h"
#include "sdk/database/core/FRepoInfo.h"
#include "sdk/database/core/FUtilities.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::privateHome();
  const auto text = fuzzsupport::asText(data, size);
  (void)NSURLComponents::componentsWithString(text);
  try {
    FParsedUrlRef parsed = FUtilities::parseUrl(text);
    const std::string& ns = parsed->repoInfo()->ns();
    if (ns.find('/') != std::string::npos || ns.find("..") != std::string::npos || ns.find('\0') != std::string::npos) {
      __builtin_trap();  // a namespace that could leave the storage root got through
    }
    (void)parsed->repoInfo()->connectionURL();
  } catch (const NSException& e) {
    if (e.name() != "Failed to parse database URL") __builtin_trap();
  }
  return 0;
}
