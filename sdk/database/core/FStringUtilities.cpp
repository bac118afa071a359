#include "sdk/database/core/FStringUtilities.h"

#include <array>
#include <regex>
#include <vector>

#include "platform/foundation/NSString.h"
#include "platform/security/Crypto.h"
#include "sdk/database/core/FWSUtilities.h"

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool FStringUtilities::isValidUTF8(std::string_view s) { return ns::isValidUTF8(s); }

std::string FStringUtilities::base64EncodedSha1(std::string_view str) {
  // Every byte counts: a text with a zero byte must not hash like its prefix.
  std::array<uint8_t, 20> digest = security::sha1(str);
  return FWSUtilities::base64EncodedStringFromData(std::vector<uint8_t>(digest.begin(), digest.end()));
}

std::string FStringUtilities::urlDecoded(std::string_view url) {
  std::string plus(url);
  for (char& c : plus) {
    if (c == '+') c = ' ';
  }
  std::string out;
  out.reserve(plus.size());
  for (size_t i = 0; i < plus.size(); ++i) {
    if (plus[i] != '%') {
      out += plus[i];
      continue;
    }
    if (i + 2 >= plus.size()) return plus;
    int hi = hexDigit(plus[i + 1]);
    int lo = hexDigit(plus[i + 2]);
    if (hi < 0 || lo < 0) return plus;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (!isValidUTF8(out)) return plus;
  return out;
}

std::string FStringUtilities::urlEncoded(std::string_view url) {
  static const std::string_view kAllowed =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_~";
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (char c : url) {
    if (kAllowed.find(c) != std::string_view::npos) {
      out += c;
    } else {
      auto b = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    }
  }
  return out;
}

std::string FStringUtilities::sanitizedForUserAgent(std::string_view str) {
  static const std::regex kPattern("/|_");
  return std::regex_replace(std::string(str), kPattern, "|");
}
