#include "sdk/database/core/FUtilities.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/foundation/NSString.h"
#include "platform/security/Crypto.h"
#include "sdk/database/core/FStringUtilities.h"

namespace {

std::atomic<int> gLogLevel{kFLogLevelInfo};

// Number of bytes of the UTF-8 sequence starting with `lead`, and its UTF-16 units; an invalid or
// truncated sequence counts as one byte and one unit.
void utf8Sequence(std::string_view s, size_t i, size_t* bytes, size_t* units) {
  auto lead = static_cast<unsigned char>(s[i]);
  size_t n = 1;
  if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
  } else if (lead >= 0xE0) {
    n = 3;
  } else if (lead >= 0xC2 && lead < 0xE0) {
    n = 2;
  }
  if (lead >= 0xF5 || (lead >= 0x80 && lead < 0xC2)) n = 1;
  if (i + n > s.size()) n = 1;
  for (size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
      n = 1;
      break;
    }
  }
  *bytes = n;
  *units = n == 4 ? 2 : 1;
}

// Literal order by UTF-16 code units. Bytes that are not UTF-8 read as replacement characters, so
// two different such texts can tie; their bytes then decide, so that different keys never compare
// equal (one child would silently take the place of the other).
int literalCompare(const std::string& a, const std::string& b) {
  // Where the texts first differ in two ASCII bytes, the bytes decide: the same bytes before them
  // decode alike in both (an ASCII byte never continues a sequence), and ASCII code units order
  // as their bytes. Keys are mostly ASCII, and the trees compare keys on every step down.
  const size_t shorter = std::min(a.size(), b.size());
  size_t at = 0;
  while (at < shorter && a[at] == b[at]) ++at;
  if (at < shorter) {
    const auto x = static_cast<unsigned char>(a[at]);
    const auto y = static_cast<unsigned char>(b[at]);
    if (x < 0x80 && y < 0x80) return x < y ? -1 : 1;
  } else if (a.size() == b.size()) {
    return 0;
  }
  const int c = ns::utf16Compare(a, b);
  if (c != 0 || a == b) return c;
  return a < b ? -1 : 1;
}

}  // namespace

bool FUtilitiesLogLevelEnabled(int level) { return gLogLevel.load(std::memory_order_relaxed) <= level; }

void FUtilities::setLoggingEnabled(bool enabled) {
  gLogLevel.store(enabled ? kFLogLevelDebug : kFLogLevelInfo, std::memory_order_relaxed);
}

bool FUtilities::getLoggingEnabled() { return gLogLevel.load(std::memory_order_relaxed) == kFLogLevelDebug; }

FUtilities& FUtilities::singleton() {
  static FUtilities* instance = new FUtilities();  // lives for the process
  return *instance;
}

uint64_t FUtilities::LUIDGenerator() { return singleton().localUid().getAndIncrement(); }

std::vector<std::string> FUtilities::splitString(std::string_view str, uint32_t maxSize) {
  if (maxSize == 0 || ns::utf16Length(str) <= maxSize) return {std::string(str)};
  std::vector<std::string> pieces;
  std::string current;
  size_t currentUnits = 0;
  size_t i = 0;
  while (i < str.size()) {
    size_t bytes = 0;
    size_t units = 0;
    utf8Sequence(str, i, &bytes, &units);
    // A surrogate pair stays whole: cutting it would corrupt the character in both pieces.
    if (currentUnits > 0 && currentUnits + units > maxSize) {
      pieces.push_back(std::move(current));
      current.clear();
      currentUnits = 0;
    }
    current.append(str.substr(i, bytes));
    currentUnits += units;
    i += bytes;
  }
  if (!current.empty()) pieces.push_back(std::move(current));
  return pieces;
}

std::string FUtilities::decodePath(std::string_view pathString) {
  std::string out;
  for (const std::string& piece : ns::split(pathString, "/")) {
    if (piece.empty()) continue;
    out += "/";
    out += FStringUtilities::urlDecoded(piece);
  }
  return out.empty() ? "/" : out;
}

std::string FUtilities::jsonText(const Value& root) { return value::toJSON(root); }

std::string FUtilities::extractPathFromUrlString(std::string_view url) {
  std::string_view rest = url;
  size_t scheme = rest.find("//");
  if (scheme != std::string_view::npos) rest = rest.substr(scheme + 2);
  size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return "";
  rest = rest.substr(slash + 1);
  size_t query = rest.find('?');
  if (query != std::string_view::npos) rest = rest.substr(0, query);
  return std::string(rest);
}

const std::string& FUtilities::getJavascriptType(const Value& value) {
  static const std::string& kObject = *new std::string("object");
  static const std::string& kString = *new std::string("string");
  static const std::string& kBoolean = *new std::string("boolean");
  static const std::string& kNumber = *new std::string("number");
  static const std::string& kNull = *new std::string("null");
  if (value.is_object()) return kObject;
  if (value.is_string()) return kString;
  if (value.is_boolean()) return kBoolean;
  if (value.is_number()) return kNumber;
  return kNull;
}

NSErrorRef FUtilities::errorForStatus(std::string_view status,
                                      const std::optional<std::string>& reason) {
  if (status == "ok") return nullptr;
  static const std::map<std::string, std::string, std::less<>> kMessages = {
      {"permission_denied", "Permission Denied"},
      {"unavailable", "Service is unavailable"},
      {"write_canceled", "Write cancelled by user"}};
  static const std::map<std::string, int64_t, std::less<>> kCodes = {
      {"permission_denied", 1}, {"unavailable", 2}, {"write_canceled", 3}};
  auto code = kCodes.find(status);
  std::string description;
  if (reason) {
    description = *reason;
  } else if (auto message = kMessages.find(status); message != kMessages.end()) {
    description = message->second;
  } else {
    description = std::string(status);
  }
  return NSError::errorWithDomain("com.zirezize", code == kCodes.end() ? 9999 : code->second,
                                  Value{{NSLocalizedDescriptionKey, description}});
}

std::optional<int64_t> FUtilities::intForString(std::string_view str) {
  if (str.empty()) return std::nullopt;
  int64_t value = 0;
  for (char c : str) {
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (INT64_MAX - (c - '0')) / 10) return std::nullopt;  // does not scan as an integer
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string FUtilities::ieee754StringForNumber(double number) {
  uint64_t bits = 0;
  std::memcpy(&bits, &number, sizeof bits);
  static const char* kHex = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i) {
    out[static_cast<size_t>(i)] = kHex[bits & 0xF];
    bits >>= 4;
  }
  return out;
}

std::string FUtilities::ieee754StringForNumber(const Value& number) {
  double d = 0;
  if (number.is_boolean()) {
    d = number.get<bool>() ? 1.0 : 0.0;
  } else if (number.is_number()) {
    d = number.get<double>();
  }
  return ieee754StringForNumber(d);
}

bool FUtilities::tryParseString(std::string_view str, int64_t* integer) {
  // Only ASCII characters can make an int-like key, so bytes and UTF-16 units agree here.
  if (str.empty() || str.size() > 11) return false;
  size_t i = 0;
  bool negative = false;
  if (str[0] == '-') {
    if (str.size() == 1) return false;
    negative = true;
    i = 1;
  }
  int64_t value = 0;
  for (; i < str.size(); ++i) {
    char c = str[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < int32min() || value > int32max()) return false;
  if (integer) *integer = value;
  return true;
}

int FUtilities::compareKey(const std::string& a, const std::string& b) {
  if (&a == &b) return 0;
  // Most keys start with a letter: such a key is neither int-like (which takes a digit or a minus
  // first) nor one of the two bounds (which begin with a bracket), so its text decides.
  auto plain = [](const std::string& key) {
    if (key.empty()) return false;
    const char c = key[0];
    return (c < '0' || c > '9') && c != '-' && c != '[';
  };
  if (plain(a) && plain(b)) return literalCompare(a, b);
  if (isMinName(a) || isMaxName(b)) return -1;
  if (isMinName(b) || isMaxName(a)) return 1;
  int64_t ia = 0;
  int64_t ib = 0;
  const bool aInt = tryParseString(a, &ia);
  const bool bInt = tryParseString(b, &ib);
  if (aInt && bInt) {
    if (ia != ib) return ia < ib ? -1 : 1;
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    // Different texts of the same value and length ("-0", "00") stay different keys.
    return literalCompare(a, b);
  }
  if (aInt) return -1;
  if (bInt) return 1;
  return literalCompare(a, b);
}

const FUtilities::KeyComparator& FUtilities::keyComparator() {
  static const KeyComparator comparator = [](const std::string& a, const std::string& b) {
    return compareKey(a, b);
  };
  return comparator;
}

const FUtilities::KeyComparator& FUtilities::stringComparator() {
  static const KeyComparator comparator = [](const std::string& a, const std::string& b) {
    return literalCompare(a, b);
  };
  return comparator;
}

namespace {
std::mutex& randomSourceMutex() {
  static std::mutex* mutex = new std::mutex();
  return *mutex;
}
std::function<double()>& randomSourceForTests() {
  static auto* source = new std::function<double()>();
  return *source;
}
}  // namespace

void FUtilities::setRandomDoubleSourceForTests(std::function<double()> source) {
  std::lock_guard<std::mutex> lock(randomSourceMutex());
  randomSourceForTests() = std::move(source);
}

double FUtilities::randomDouble() {
  {
    std::lock_guard<std::mutex> lock(randomSourceMutex());
    if (randomSourceForTests()) return randomSourceForTests()();
  }
  std::vector<uint8_t> bytes = security::randomBytes(4);
  uint32_t r = 0;
  for (uint8_t b : bytes) r = (r << 8) | b;
  return static_cast<double>(r) * (1.0 / 4294967296.0);
}
