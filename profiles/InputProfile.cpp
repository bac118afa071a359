#include "profiles/InputProfile.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "profiles/PredefinedInputProfile.h"

std::optional<BandsCount> BandsCountFromRawValue(int64_t raw) {
  if (raw == 10) return BandsCount::ten;
  return std::nullopt;
}

const char* CalibrationKeysRawValue(CalibrationKeys key) {
  switch (key) {
    case CalibrationKeys::frequencyKey: return "frequency";
    case CalibrationKeys::levelKey: return "volume";
    case CalibrationKeys::phaseKey: return "phase";
  }
  return "";
}

std::optional<CalibrationKeys> CalibrationKeysFromRawValue(const std::string& raw) {
  for (auto key : {CalibrationKeys::frequencyKey, CalibrationKeys::levelKey, CalibrationKeys::phaseKey})
    if (raw == CalibrationKeysRawValue(key)) return key;
  return std::nullopt;
}

const std::vector<int64_t>& InputProfile::defaultBandFrequencies() {
  static const std::vector<int64_t> bands{30, 60, 125, 250, 500, 1000, 2000, 4000, 8000, 16000, 20000};
  return bands;
}

InputProfile::InputProfile(int64_t profileId, std::string displayName, DeviceInputDescriptionRef inputDevice,
                           std::vector<SoundTuneBandModelRef> bands, MainGainTuneModelRef mainGain)
    : profileId_(profileId),
      displayName_(std::move(displayName)),
      inputDevice_(std::move(inputDevice)),
      tuneBands_(std::move(bands)),
      mainGain_(std::move(mainGain)) {
  int64_t at16k = 0;
  bool has20k = false;
  for (const auto& band : tuneBands_) {
    if (!band) continue;
    if (band->frequency() == 16000) at16k = band->fixValue();
    if (band->frequency() == 20000) has20k = true;
  }
  if (!has20k) tuneBands_.push_back(std::make_shared<SoundTuneBandModel>(20000, at16k, 0));
}

namespace {
std::vector<SoundTuneBandModelRef> zeroBands() {
  std::vector<SoundTuneBandModelRef> bands;
  for (int64_t f : InputProfile::defaultBandFrequencies()) bands.push_back(std::make_shared<SoundTuneBandModel>(f, 0, 0));
  return bands;
}
}  // namespace

InputProfile::InputProfile(int64_t profileId, std::string displayName, DeviceInputDescriptionRef inputDevice)
    : InputProfile(profileId, std::move(displayName), std::move(inputDevice), zeroBands(),
                   std::make_shared<MainGainTuneModel>(0, 0, 0)) {}

Value InputProfile::calibrationValues() const {
  Value list = Value::array();
  for (const auto& band : tuneBands_) {
    if (!band) continue;
    list.push_back(Value{{"frequency", band->frequency()}, {"volume", band->fixValue()}, {"phase", int64_t(0)}});
  }
  return list;
}

namespace {
// A record's number as an integer (truncated toward zero); none for a non-number or one out of range.
std::optional<int64_t> integerOf(const Value& record, const char* key) {
  auto it = record.find(key);
  if (it == record.end()) return std::nullopt;
  if (it->is_number_integer()) return it->get<int64_t>();
  if (it->is_number_float()) {
    const double d = it->get<double>();
    if (!std::isfinite(d) || std::fabs(d) >= 9.2e18) return std::nullopt;
    return static_cast<int64_t>(d);
  }
  return std::nullopt;
}
}  // namespace

bool InputProfile::matchesCalibrationValues(const Value& list) const {
  if (!list.is_array() || list.size() != 11) return false;
  for (const auto& record : list) {
    if (!record.is_object() || !record.contains("frequency") || !record.contains("volume") || !record.contains("phase")) {
      return false;
    }
    auto frequency = integerOf(record, "frequency");
    auto volume = integerOf(record, "volume");
    auto phase = integerOf(record, "phase");
    if (!frequency || !volume || !phase) return false;
    SoundTuneBandModelRef band;
    for (const auto& b : tuneBands_) {
      if (b && b->frequency() == *frequency) {
        band = b;
        break;
      }
    }
    if (!band || *volume != band->fixValue() || *phase != 0) return false;
  }
  return true;
}

void InputProfile::printCalibrationText() const {
  std::ostringstream text;
  text << (inputDevice_ ? inputDevice_->displayName() : "") << "\n";
  for (const auto& band : tuneBands_) {
    if (band) text << band->frequency() << " " << band->fixValue() << " 0\n";
  }
  text << "\n";
  std::fputs(text.str().c_str(), stdout);
  std::fflush(stdout);
}

// ---- Archive ----

void InputProfile::encodeWithCoder(NSCoder& coder) const {
  coder.encodeInteger(profileId_, "id");
  coder.encodeString(displayName_, "displayName");
  coder.encodeObject(inputDevice_.get(), "inputDevice");
  coder.encodeInteger(static_cast<int64_t>(BandsCount::ten), "bandsCount");
  std::vector<const NSCoding*> bands;
  for (const auto& band : tuneBands_)
    if (band) bands.push_back(band.get());
  coder.encodeObjectList(bands, "tuneBands");
  coder.encodeObject(mainGain_.get(), "mainGain");
}

namespace {
NSErrorRef damaged(const std::string& reason) {
  return NSError::errorWithDomain(NSCocoaErrorDomain, NSCoderReadCorruptError,
                                  Value{{NSLocalizedDescriptionKey, "A profile in the archive is damaged."},
                                        {NSLocalizedFailureReasonErrorKey, reason}});
}
}  // namespace

std::optional<InputProfile::Fields> InputProfile::decodeFields(NSCoder& coder) {
  Fields f;
  if (auto kind = coder.kindForKey("id")) {
    if (*kind != NSCoder::Kind::Integer) {
      coder.failWithError(damaged("\"id\" is not a whole number."));
      return std::nullopt;
    }
    f.profileId = coder.decodeInteger("id").value_or(0);
  }
  if (coder.kindForKey("displayName") != NSCoder::Kind::String) {
    coder.failWithError(damaged("\"displayName\" is missing or is not a text."));
    return std::nullopt;
  }
  auto name = coder.decodeString("displayName");
  if (!name) return std::nullopt;
  if (name->size() > kMaxTextBytes) {
    coder.failWithError(damaged("\"displayName\" is longer than a profile's name may be."));
    return std::nullopt;
  }
  f.displayName = std::move(*name);

  if (coder.kindForKey("inputDevice") != NSCoder::Kind::Object) {
    coder.failWithError(damaged("\"inputDevice\" is missing or is not an input description."));
    return std::nullopt;
  }
  f.inputDevice = std::dynamic_pointer_cast<DeviceInputDescription>(coder.decodeObject("inputDevice"));
  if (!f.inputDevice) {
    if (!coder.error()) coder.failWithError(damaged("\"inputDevice\" is not an input description."));
    return std::nullopt;
  }

  if (coder.kindForKey("tuneBands") != NSCoder::Kind::List) {
    coder.failWithError(damaged("\"tuneBands\" is missing or is not a list."));
    return std::nullopt;
  }
  auto bands = coder.decodeObjectList("tuneBands");
  if (!bands) return std::nullopt;
  if (bands->size() > kMaxBands) {
    coder.failWithError(damaged("\"tuneBands\" holds more bands than a profile may have."));
    return std::nullopt;
  }
  for (const auto& item : *bands) {
    auto band = std::dynamic_pointer_cast<SoundTuneBandModel>(item);
    if (!band) {
      coder.failWithError(damaged("\"tuneBands\" holds something other than tuning bands."));
      return std::nullopt;
    }
    f.bands.push_back(std::move(band));
  }

  // Optional: anything but a main gain reads as none.
  if (coder.kindForKey("mainGain") == NSCoder::Kind::Object) {
    auto gain = coder.decodeObject("mainGain");
    if (coder.error()) return std::nullopt;
    f.mainGain = std::dynamic_pointer_cast<MainGainTuneModel>(gain);
  }
  return f;
}

void InputProfile::registerCodingClasses() {
  DeviceInputDescription::registerCodingClasses();
  SoundTuneBandModel::registerCodingClasses();
  NSRegisterCodingClass(kClassName, [](NSCoder& coder) -> NSCodingRef {
    auto f = decodeFields(coder);
    if (!f) return nullptr;
    return std::make_shared<InputProfile>(f->profileId, f->displayName, f->inputDevice, f->bands, f->mainGain);
  });
  NSRegisterCodingClass(PredefinedInputProfile::kClassName, [](NSCoder& coder) -> NSCodingRef {
    auto f = decodeFields(coder);
    if (!f) return nullptr;
    return std::make_shared<PredefinedInputProfile>(f->profileId, f->displayName, f->inputDevice, f->bands, f->mainGain);
  });
}
