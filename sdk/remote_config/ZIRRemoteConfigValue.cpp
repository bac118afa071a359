#include "sdk/remote_config/ZIRRemoteConfigValue.h"

#include <cctype>
#include <cstdio>

#include "platform/foundation/NSString.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/remote_config/RCNConfigConstants.h"

namespace {

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isValidUTF8(const Bytes& b) {
  size_t i = 0, n = b.size();
  while (i < n) {
    uint8_t c = b[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((b[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b[i + k] & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)) return false;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

// A JSON value small enough for a description line.
std::string describeJSON(const std::optional<Value>& json) {
  if (!json) return "(null)";
  return value::toJSON(*json);
}

}  // namespace

ZIRRemoteConfigValue::ZIRRemoteConfigValue()
    : data_(std::make_shared<const Bytes>()), source_(ZIRRemoteConfigSource::Static) {}

ZIRRemoteConfigValue::ZIRRemoteConfigValue(Bytes data, ZIRRemoteConfigSource source)
    : data_(std::make_shared<const Bytes>(std::move(data))), source_(source) {}

std::optional<std::string> ZIRRemoteConfigValue::stringValue() const {
  if (!isValidUTF8(*data_)) return std::nullopt;
  return std::string(data_->begin(), data_->end());
}

double ZIRRemoteConfigValue::numberValue() const { return ns::doubleValue(stringValue().value_or("")); }

bool ZIRRemoteConfigValue::boolValue() const {
  const std::string text = stringValue().value_or("");
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  while (i < text.size() && text[i] == '0') ++i;
  if (i >= text.size()) return false;
  const char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::optional<Value> ZIRRemoteConfigValue::JSONValue() const {
  if (data_->empty()) {
    ZIRLogDebug(kRCNLoggerService, "I-RCN000065", "Error parsing data as JSON.");
    return std::nullopt;
  }
  // A value is at most one stored row or one fetched entry, so the answer's limits hold for it.
  auto parsed = zod_parseJSONWithLimits(*data_, kRCNFetchResponseLimits, /*allowFragments=*/true);
  if (!parsed) ZIRLogDebug(kRCNLoggerService, "I-RCN000065", "Error parsing data as JSON.");
  return parsed;
}

std::string ZIRRemoteConfigValue::debugDescription() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  char number[64];
  std::snprintf(number, sizeof number, "%g", numberValue());
  const std::string details = ns::format(
      "Boolean: %d, String: %s, Number: %s, JSON:%s, Data: <%zu bytes>, Source: %lld", boolValue() ? 1 : 0,
      stringValue().value_or("(null)").c_str(), number, describeJSON(JSONValue()).c_str(), data_->size(),
      static_cast<long long>(source()));
  return ns::format("<%s: %s, %s>", "ZIRRemoteConfigValue", address, details.c_str());
}

ZIRRemoteConfigValueRef ZIRRemoteConfigValue::copy() const {
  auto value = std::make_shared<ZIRRemoteConfigValue>();
  value->data_ = data_;  // bytes never change, so the copy shares them
  value->source_ = source();
  return value;
}
