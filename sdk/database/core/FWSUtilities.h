#pragma once
// Helpers of the websocket layer that the data model shares.
#include <cstdint>
#include <string>
#include <vector>

class FWSUtilities {
 public:
  // Standard base64 with "=" padding.
  static std::string base64EncodedStringFromData(const std::vector<uint8_t>& data);
};
