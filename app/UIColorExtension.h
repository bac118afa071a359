#pragma once
// Colours from hexadecimal numbers (0xRRGGBB) and strings ("#RRGGBB"), the application's colour
// category. Class operations only; every call gives a new colour.
#include <cstdint>
#include <string>

#include "platform/graphics/UIColor.h"

struct UIColorExtension {
  // Red from bits 16-23, green 8-15, blue 0-7, each over 255; bits above 23 are ignored.
  static UIColorRef colorWithHex(uint32_t hex);
  static UIColorRef colorWithHexAndAlpha(uint32_t hex, float alpha);  // colorWithHex:andAlpha:
  // Skips the first character (the "#"), then reads the rest as strtol does in base 16 (leading
  // white space, a sign and "0x" allowed, stopping at the first other character, 0 when nothing
  // is read). So "39F2E3" without "#" loses its first digit. An empty string gives the colour of 0.
  static UIColorRef colorWithHexString(const std::string& hex);
  static UIColorRef colorWithHexStringAndAlpha(const std::string& hex, float alpha);
  // The number colorWithHexString reads from the text.
  static uint32_t hexValueOfString(const std::string& hex);
};
