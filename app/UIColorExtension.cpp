#include "app/UIColorExtension.h"

#include <cstdlib>

UIColorRef UIColorExtension::colorWithHex(uint32_t hex) { return colorWithHexAndAlpha(hex, 1.0f); }

UIColorRef UIColorExtension::colorWithHexAndAlpha(uint32_t hex, float alpha) {
  // Single precision, as the components are computed on the phone.
  float r = static_cast<float>((hex >> 16) & 0xFF) / 255.0f;
  float g = static_cast<float>((hex >> 8) & 0xFF) / 255.0f;
  float b = static_cast<float>(hex & 0xFF) / 255.0f;
  return UIColor::colorWithRed(r, g, b, alpha);
}

uint32_t UIColorExtension::hexValueOfString(const std::string& hex) {
  // An empty string has no first character to skip: read nothing, not past the end.
  if (hex.empty()) return 0;
  // The string's own bytes are null-terminated, so strtol stops at the end at the latest.
  const char* digits = hex.c_str() + 1;
  long value = std::strtol(digits, nullptr, 16);
  return static_cast<uint32_t>(static_cast<unsigned long>(value));
}

UIColorRef UIColorExtension::colorWithHexString(const std::string& hex) { return colorWithHex(hexValueOfString(hex)); }

UIColorRef UIColorExtension::colorWithHexStringAndAlpha(const std::string& hex, float alpha) {
  return colorWithHexAndAlpha(hexValueOfString(hex), alpha);
}
