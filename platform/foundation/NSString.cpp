#include "platform/foundation/NSString.h"

#include <unicode/uchar.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace ns {

bool isAlphanumeric(char32_t codePoint) {
  if (codePoint > 0x10FFFF) return false;
  return (U_GET_GC_MASK(static_cast<UChar32>(codePoint)) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

namespace {

// Decodes one code point from UTF-8 at i; advances i. Invalid bytes yield U+FFFD and advance one.
char32_t decodeOne(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  auto cont = [&](size_t k) -> int {
    if (i + k >= s.size()) return -1;
    const auto b = static_cast<unsigned char>(s[i + k]);
    return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
  };
  if (b0 < 0x80) { i += 1; return b0; }
  if ((b0 & 0xE0) == 0xC0) {
    int c1 = cont(1);
    char32_t cp = ((b0 & 0x1F) << 6) | c1;
    if (c1 >= 0 && cp >= 0x80) { i += 2; return cp; }
  } else if ((b0 & 0xF0) == 0xE0) {
    int c1 = cont(1), c2 = c1 >= 0 ? cont(2) : -1;
    char32_t cp = ((b0 & 0x0F) << 12) | (c1 << 6) | c2;
    if (c1 >= 0 && c2 >= 0 && cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) { i += 3; return cp; }
  } else if ((b0 & 0xF8) == 0xF0) {
    int c1 = cont(1), c2 = c1 >= 0 ? cont(2) : -1, c3 = c2 >= 0 ? cont(3) : -1;
    char32_t cp = ((b0 & 0x07) << 18) | (c1 << 12) | (c2 << 6) | c3;
    if (c1 >= 0 && c2 >= 0 && c3 >= 0 && cp >= 0x10000 && cp <= 0x10FFFF) { i += 4; return cp; }
  }
  i += 1;
  return 0xFFFD;
}

}  // namespace

void appendUTF8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

namespace {
// Decodes one character at i like decodeOne; false (i moved past one byte) for a byte that does not
// start a well-formed character, which decodeOne reports as a U+FFFD of one byte.
bool decodeValid(std::string_view s, size_t& i, char32_t& cp) {
  const size_t start = i;
  cp = decodeOne(s, i);
  return cp != 0xFFFD || i - start == 3;
}
}  // namespace

bool isValidUTF8(std::string_view s) {
  char32_t cp;
  for (size_t i = 0; i < s.size();)
    if (!decodeValid(s, i, cp)) return false;
  return true;
}

std::string validUTF8(std::string_view s) {
  if (isValidUTF8(s)) return std::string(s);
  std::string out;
  char32_t cp;
  for (size_t i = 0; i < s.size();) {
    decodeValid(s, i, cp);
    appendUTF8(out, cp);
  }
  return out;
}

std::string_view prefixUTF8(std::string_view s, size_t maxBytes) {
  if (s.size() <= maxBytes) return s;
  size_t end = maxBytes;
  // Step back over continuation bytes to the start of the character that would be cut (at most
  // three: a character takes four bytes at most).
  for (int k = 0; k < 3 && end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80; ++k) --end;
  return s.substr(0, end);
}

size_t utf16Length(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size();) n += decodeOne(s, i) >= 0x10000 ? 2 : 1;
  return n;
}

std::u16string toUTF16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t cp = decodeOne(s, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string fromUTF16(std::u16string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    appendUTF8(out, c);
  }
  return out;
}

int utf16Compare(std::string_view a, std::string_view b) {
  // Byte order of valid UTF-8 equals code point order, which differs from UTF-16 unit order only
  // for code points at or above U+E000 against supplementary ones. Walk both by code point and
  // map each to its first UTF-16 unit when they differ.
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t ca = decodeOne(a, i), cb = decodeOne(b, j);
    if (ca == cb) continue;
    auto firstUnit = [](char32_t c) -> uint32_t {
      return c >= 0x10000 ? 0xD800 + ((c - 0x10000) >> 10) : c;
    };
    uint32_t ua = firstUnit(ca), ub = firstUnit(cb);
    if (ua == ub) {  // both supplementary with the same high surrogate: low surrogates decide
      return ca < cb ? -1 : 1;
    }
    return ua < ub ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

double doubleValue(std::string_view text) {
  std::string s(text);
  const char* p = s.c_str();
  while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
  // Only decimal forms, as the platform reads them (no hexadecimal, no inf/nan words).
  const char* q = p;
  if (*q == '+' || *q == '-') ++q;
  if (!std::isdigit(static_cast<unsigned char>(*q)) &&
      !(*q == '.' && std::isdigit(static_cast<unsigned char>(q[1]))))
    return 0;
  if (q[0] == '0' && (q[1] == 'x' || q[1] == 'X')) return 0;
  char* end = nullptr;
  double v = std::strtod(p, &end);
  return end == p ? 0 : v;
}

float floatValue(std::string_view text) {
  // A number beyond the float range reads as an infinity, as the platform's parse gives it; the
  // plain conversion of such a double is undefined.
  const double v = doubleValue(text);
  if (v > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (v < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);
}

int64_t integerValue(std::string_view text) {
  std::string s(text);
  const char* p = s.c_str();
  while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
  char* end = nullptr;
  long long v = std::strtoll(p, &end, 10);
  return end == p ? 0 : v;
}

std::string uppercase(std::string_view text) {
  std::string out(text);
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string lowercase(std::string_view text) {
  std::string out(text);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::vector<std::string> split(std::string_view text, std::string_view sep) {
  std::vector<std::string> out;
  if (sep.empty()) {
    out.emplace_back(text);
    return out;
  }
  size_t start = 0;
  while (true) {
    size_t pos = text.find(sep, start);
    if (pos == std::string_view::npos) {
      out.emplace_back(text.substr(start));
      return out;
    }
    out.emplace_back(text.substr(start, pos - start));
    start = pos + sep.size();
  }
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  size_t start = 0;
  while (true) {
    size_t pos = text.find(from, start);
    if (pos == std::string_view::npos) break;
    out.append(text.substr(start, pos - start));
    out.append(to);
    start = pos + from.size();
  }
  out.append(text.substr(start));
  return out;
}

bool hasPrefix(std::string_view t, std::string_view p) { return t.substr(0, p.size()) == p; }
bool hasSuffix(std::string_view t, std::string_view s) {
  return t.size() >= s.size() && t.substr(t.size() - s.size()) == s;
}

std::string vformat(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), fmt, args);
    out.resize(static_cast<size_t>(n));
  }
  return out;
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = vformat(fmt, args);
  va_end(args);
  return out;
}

namespace {
const char kStd[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kUrl[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
}  // namespace

std::string base64Encode(std::string_view in, bool urlSafe) {
  const char* tbl = urlSafe ? kUrl : kStd;
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
    out += tbl[v >> 18];
    out += tbl[(v >> 12) & 63];
    out += tbl[(v >> 6) & 63];
    out += tbl[v & 63];
  }
  if (i < in.size()) {
    uint32_t v = uint8_t(in[i]) << 16;
    if (i + 1 < in.size()) v |= uint8_t(in[i + 1]) << 8;
    out += tbl[v >> 18];
    out += tbl[(v >> 12) & 63];
    out += i + 1 < in.size() ? tbl[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string base64Encode(const std::vector<uint8_t>& bytes, bool urlSafe) {
  return base64Encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                      urlSafe);
}

std::optional<std::vector<uint8_t>> base64Decode(std::string_view text) {
  auto val = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+' || c == '-') return 62;
    if (c == '/' || c == '_') return 63;
    return -1;
  };
  size_t len = text.size();
  while (len > 0 && text[len - 1] == '=') --len;
  if (text.size() - len > 2) return std::nullopt;
  if (len % 4 == 1) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(len * 3 / 4);
  uint32_t acc = 0;
  int bits = 0;
  for (size_t i = 0; i < len; ++i) {
    int v = val(text[i]);
    if (v < 0) return std::nullopt;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

}  // namespace ns
