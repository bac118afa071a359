#include "sdk/experiments/ABTExperimentPayload.h"

#include <cctype>
#include <cmath>
#include <ctime>
#include <limits>

#include "platform/foundation/NSString.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/experiments/ABTConstants.h"

namespace {

std::optional<std::string> textMember(const Value& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// An integer member given as a number or as decimal text (64-bit integers travel as text in JSON).
int64_t integerMember(const Value& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end()) return 0;
  if (it->is_number_integer()) return it->get<int64_t>();
  if (it->is_number_unsigned()) {
    uint64_t u = it->get<uint64_t>();
    return u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                           : static_cast<int64_t>(u);
  }
  if (it->is_number_float()) {
    double d = it->get<double>();
    if (!std::isfinite(d)) return 0;
    if (d >= 9.2e18) return std::numeric_limits<int64_t>::max();
    if (d <= -9.2e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(d);
  }
  if (it->is_string()) return ns::integerValue(it->get<std::string>());
  return 0;
}

int overflowPolicyOf(const Value& object) {
  auto it = object.find("overflowPolicy");
  if (it == object.end()) return kABTOverflowPolicyUnspecified;
  if (it->is_string()) {
    const std::string& text = it->get_ref<const std::string&>();
    if (text == "DISCARD_OLDEST") return kABTOverflowPolicyDiscardOldest;
    if (text == "IGNORE_NEWEST") return kABTOverflowPolicyIgnoreNewest;
    return kABTOverflowPolicyUnrecognized;
  }
  if (it->is_number()) {
    int64_t v = integerMember(object, "overflowPolicy");
    if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min()) {
      return kABTOverflowPolicyUnrecognized;
    }
    return static_cast<int>(v);
  }
  return kABTOverflowPolicyUnspecified;
}

bool readDigits(const std::string& text, size_t at, size_t count, int* out) {
  if (at + count > text.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    v = v * 10 + (text[i] - '0');
  }
  *out = v;
  return true;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

std::optional<int64_t> ABTExperimentPayload::experimentStartTimeMillisFromText(const std::string& text) {
  // yyyy-MM-ddTHH:mm:ss.SSSZ: 24 characters exactly.
  if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != '.' || text[23] != 'Z') {
    return std::nullopt;
  }
  int year, month, day, hour, minute, second, millis;
  if (!readDigits(text, 0, 4, &year) || !readDigits(text, 5, 2, &month) || !readDigits(text, 8, 2, &day) ||
      !readDigits(text, 11, 2, &hour) || !readDigits(text, 14, 2, &minute) ||
      !readDigits(text, 17, 2, &second) || !readDigits(text, 20, 3, &millis)) {
    return std::nullopt;
  }
  static const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  int monthDays = kDaysInMonth[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
  if (day > monthDays) return std::nullopt;
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  time_t seconds = timegm(&t);
  return static_cast<int64_t>(seconds) * 1000 + millis;
}

ABTExperimentPayloadRef ABTExperimentPayload::parseFromData(const Bytes& data) {
  auto parsed = zod_parseJSONWithLimits(data, kABTExperimentPayloadLimits, /*allowFragments=*/true);
  if (!parsed) return nullptr;
  return initWithDictionary(*parsed);
}

ABTExperimentPayloadRef ABTExperimentPayload::initWithDictionary(const Value& dictionary) {
  if (!dictionary.is_object()) return nullptr;
  auto experimentId = textMember(dictionary, "experimentId");
  auto variantId = textMember(dictionary, "variantId");
  if (!experimentId || !variantId) return nullptr;

  ABTExperimentPayloadRef payload(new ABTExperimentPayload());
  payload->overflowPolicy_ = overflowPolicyOf(dictionary);
  payload->experimentId_ = *experimentId;
  payload->variantId_ = *variantId;
  if (dictionary.contains("experimentStartTime")) {
    auto text = textMember(dictionary, "experimentStartTime");
    payload->experimentStartTimeMillis_ = text ? experimentStartTimeMillisFromText(*text).value_or(0) : 0;
  } else {
    payload->experimentStartTimeMillis_ = integerMember(dictionary, "experimentStartTimeMillis");
  }
  payload->triggerEvent_ = textMember(dictionary, "triggerEvent");
  payload->triggerTimeoutMillis_ = integerMember(dictionary, "triggerTimeoutMillis");
  payload->timeToLiveMillis_ = integerMember(dictionary, "timeToLiveMillis");
  payload->setEventToLog_ = textMember(dictionary, "setEventToLog");
  payload->activateEventToLog_ = textMember(dictionary, "activateEventToLog");
  payload->clearEventToLog_ = textMember(dictionary, "clearEventToLog");
  payload->timeoutEventToLog_ = textMember(dictionary, "timeoutEventToLog");
  payload->ttlExpiryEventToLog_ = textMember(dictionary, "ttlExpiryEventToLog");
  auto ongoing = dictionary.find("ongoingExperiments");
  if (ongoing != dictionary.end() && ongoing->is_array()) {
    for (const auto& item : *ongoing) {
      if (!item.is_object()) continue;
      if (auto id = textMember(item, "experimentId")) payload->ongoingExperiments_.emplace_back(*id);
    }
  }
  return payload;
}

bool ABTExperimentPayload::overflowPolicyIsValid() const {
  return overflowPolicy_ == kABTOverflowPolicyDiscardOldest || overflowPolicy_ == kABTOverflowPolicyIgnoreNewest;
}

ABTExperimentPayloadRef ABTDeserializeExperimentPayload(const Bytes& data) {
  std::string error;
  if (!zod_parseJSONWithLimits(data, kABTExperimentPayloadLimits, /*allowFragments=*/false, &error)) {
    ZIRLogError(kABTLoggerService, "I-ABT000001", "Failed to parse experiment payload: %s", error.c_str());
  }
  return ABTExperimentPayload::parseFromData(data);
}
