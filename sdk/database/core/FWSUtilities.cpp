#include "sdk/database/core/FWSUtilities.h"

#include "platform/foundation/NSString.h"

std::string FWSUtilities::base64EncodedStringFromData(const std::vector<uint8_t>& data) {
  return ns::base64Encode(data);
}
