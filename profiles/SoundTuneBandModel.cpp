#include "profiles/SoundTuneBandModel.h"

#include <string>

void SoundTuneBandModel::encodeWithCoder(NSCoder& coder) const {
  coder.encodeInteger(frequency_, "frequency");
  coder.encodeInteger(fixValue_, "fixValue");
  coder.encodeInteger(currentValue_, "currentValue");
}

namespace {

NSErrorRef damaged(const std::string& reason) {
  return NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderReadCorruptError,
                                  Value{{NSLocalizedDescriptionKey, "A tuning band in the archive is damaged."},
                                        {NSLocalizedFailureReasonErrorKey, reason}});
}

// An integer field within [low, high]; absent reads as 0. A value of another type (a fraction, an
// infinity, a text) or out of range fails the decode.
std::optional<int64_t> bounded(NSCoder& coder, const char* key, int64_t low, int64_t high) {
  auto kind = coder.kindForKey(key);
  if (!kind) return 0;
  if (*kind != NSCoder::Kind::Integer) {
    coder.failWithError(damaged(std::string("\"") + key + "\" is not a whole number."));
    return std::nullopt;
  }
  auto value = coder.decodeInteger(key);
  if (!value) return std::nullopt;
  if (*value < low || *value > high) {
    coder.failWithError(damaged(std::string("\"") + key + "\" is " + std::to_string(*value) + ", outside " +
                                std::to_string(low) + " to " + std::to_string(high) + "."));
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<SoundTuneBandModel::Values> SoundTuneBandModel::decodeValues(NSCoder& coder) {
  Values v;
  auto frequency = bounded(coder, "frequency", 0, kMaxFrequency);
  if (!frequency) return std::nullopt;
  auto fix = bounded(coder, "fixValue", -kMaxCorrectionDb, kMaxCorrectionDb);
  if (!fix) return std::nullopt;
  auto current = bounded(coder, "currentValue", -kMaxCurrentValue, kMaxCurrentValue);
  if (!current) return std::nullopt;
  v.frequency = *frequency;
  v.fixValue = *fix;
  v.currentValue = *current;
  return v;
}

void SoundTuneBandModel::registerCodingClasses() {
  NSRegisterCodingClass(kClassName, [](NSCoder& coder) -> NSCodingRef {
    auto v = decodeValues(coder);
    if (!v) return nullptr;
    return std::make_shared<SoundTuneBandModel>(v->frequency, v->fixValue, v->currentValue);
  });
  NSRegisterCodingClass(MainGainTuneModel::kClassName, [](NSCoder& coder) -> NSCodingRef {
    auto v = decodeValues(coder);
    if (!v) return nullptr;
    return std::make_shared<MainGainTuneModel>(v->frequency, v->fixValue, v->currentValue);
  });
}
