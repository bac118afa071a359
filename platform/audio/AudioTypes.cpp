#include "platform/audio/AudioTypes.h"

#include <cctype>
#include <cstdio>

namespace {
void bytesOf(OSStatus status, char out[4]) {
  const uint32_t v = uint32_t(status);
  out[0] = char(v >> 24);
  out[1] = char(v >> 16);
  out[2] = char(v >> 8);
  out[3] = char(v);
}
}  // namespace

std::string FormatOSStatus(OSStatus status) {
  char b[4];
  bytesOf(status, b);
  bool printable = true;
  for (char c : b) printable = printable && std::isprint(static_cast<unsigned char>(c));
  char text[16];
  if (printable) std::snprintf(text, sizeof text, "'%c%c%c%c'", b[0], b[1], b[2], b[3]);
  else if (status >= -199999 && status <= 199999) std::snprintf(text, sizeof text, "%d", int(status));
  else std::snprintf(text, sizeof text, "0x%x", unsigned(status));
  return text;
}

std::string FourCCString(OSStatus status) {
  char b[4];
  bytesOf(status, b);
  std::string s(b, 4);
  for (char& c : s)
    if (!std::isprint(static_cast<unsigned char>(c))) c = '?';
  return s;
}
