#pragma once
// One tuning band of an input profile: its centre frequency in Hz, the stored correction in whole
// dB (fixValue) and a working value of the tuning screen (currentValue, 0 in every band the system
// makes). MainGainTuneModel is a profile's overall correction, a band at frequency 0.
//
// Archived as "Tarn.SoundTuneBandModel" / "Tarn.MainGainTuneModel" with the integer keys
// "frequency", "fixValue" and "currentValue" (an absent key reads as 0). A decoded band must hold
// integers, a frequency from 0 to kMaxFrequency Hz and a correction within ±kMaxCorrectionDb dB
// (a current value within ±kMaxCurrentValue); anything else makes the record, and so the profile
// holding it, unreadable. Main thread only.
#include <cstdint>
#include <memory>

#include "platform/foundation/NSKeyedArchiver.h"

class SoundTuneBandModel : public NSCoding {
 public:
  static constexpr const char* kClassName = "Tarn.SoundTuneBandModel";
  static constexpr int64_t kMaxFrequency = 1000000;
  static constexpr int64_t kMaxCorrectionDb = 100;
  static constexpr int64_t kMaxCurrentValue = 1000000;

  SoundTuneBandModel(int64_t frequency, int64_t fixValue, int64_t currentValue)
      : frequency_(frequency), fixValue_(fixValue), currentValue_(currentValue) {}

  int64_t frequency() const { return frequency_; }
  void setFrequency(int64_t frequency) { frequency_ = frequency; }
  int64_t fixValue() const { return fixValue_; }
  void setFixValue(int64_t value) { fixValue_ = value; }
  int64_t currentValue() const { return currentValue_; }
  void setCurrentValue(int64_t value) { currentValue_ = value; }

  std::string className() const override { return kClassName; }
  void encodeWithCoder(NSCoder& coder) const override;
  // Registers the decoders of both band classes.
  static void registerCodingClasses();

 protected:
  struct Values {
    int64_t frequency = 0, fixValue = 0, currentValue = 0;
  };
  static std::optional<Values> decodeValues(NSCoder& coder);

 private:
  int64_t frequency_, fixValue_, currentValue_;
};
using SoundTuneBandModelRef = std::shared_ptr<SoundTuneBandModel>;

class MainGainTuneModel : public SoundTuneBandModel {
 public:
  static constexpr const char* kClassName = "Tarn.MainGainTuneModel";
  using SoundTuneBandModel::SoundTuneBandModel;
  std::string className() const override { return kClassName; }
};
using MainGainTuneModelRef = std::shared_ptr<MainGainTuneModel>;
