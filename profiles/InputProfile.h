#pragma once
// An input profile: correction values for one measuring input (a port, with its data source where
// it has several): eleven bands (30 Hz to 20 kHz) with a correction in whole dB each, and a main
// gain. Enabling a profile hands its band corrections to the shared chart as calibration values
// (calibrationValues) and its main gain as the chart's overall gain.
//
// Profiles are plain shared objects: the service, the screens and the lists hold the same object,
// and the tuning screen edits its bands in place. PredefinedInputProfile (the built-in profiles) is
// the same record under another class.
//
// Archive: "Tarn.InputProfile" (and "Tarn.PredefinedInputProfile") with the keys "id" (integer,
// absent reads as 0), "displayName" (required text, at most kMaxTextBytes), "inputDevice"
// (required DeviceInputDescription), "bandsCount" (written as 10, read and ignored), "tuneBands"
// (required list of SoundTuneBandModel, at most kMaxBands) and "mainGain" (a MainGainTuneModel or
// a null reference; anything else reads as none). The editable flag is not archived. A profile
// read back is built with the full initialiser, so a missing 20 kHz band is added. Main thread only.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/Value.h"
#include "profiles/DeviceInputDescription.h"
#include "profiles/SoundTuneBandModel.h"

// How many bands a profile says it has: only ten (while it holds eleven; the count is only ever
// written to the archive).
enum class BandsCount : int64_t { ten = 10 };
std::optional<BandsCount> BandsCountFromRawValue(int64_t raw);

// The keys of a calibration-values record.
enum class CalibrationKeys { frequencyKey, levelKey, phaseKey };
const char* CalibrationKeysRawValue(CalibrationKeys key);
std::optional<CalibrationKeys> CalibrationKeysFromRawValue(const std::string& raw);

class InputProfile;
using InputProfileRef = std::shared_ptr<InputProfile>;

class InputProfile : public NSCoding, public std::enable_shared_from_this<InputProfile> {
 public:
  static constexpr const char* kClassName = "Tarn.InputProfile";
  static constexpr size_t kMaxTextBytes = 1024;
  static constexpr size_t kMaxBands = 64;
  // The default band set, in Hz.
  static const std::vector<int64_t>& defaultBandFrequencies();

  // The full initialiser: completes a missing 20 kHz band from the last 16 kHz band's correction
  // (appended at the end; nothing is sorted or removed); editable.
  InputProfile(int64_t profileId, std::string displayName, DeviceInputDescriptionRef inputDevice,
               std::vector<SoundTuneBandModelRef> bands, MainGainTuneModelRef mainGain);
  // The default initialiser: the eleven default bands at 0 dB and a main gain of 0.
  InputProfile(int64_t profileId, std::string displayName, DeviceInputDescriptionRef inputDevice);
  ~InputProfile() override = default;

  int64_t profileId() const { return profileId_; }
  void setProfileId(int64_t id) { profileId_ = id; }
  const std::string& displayName() const { return displayName_; }
  void setDisplayName(std::string name) { displayName_ = std::move(name); }
  const DeviceInputDescriptionRef& inputDevice() const { return inputDevice_; }
  void setInputDevice(DeviceInputDescriptionRef device) { inputDevice_ = std::move(device); }
  BandsCount bandsCount() const { return bandsCount_; }
  void setBandsCount(BandsCount count) { bandsCount_ = count; }
  const std::vector<SoundTuneBandModelRef>& tuneBands() const { return tuneBands_; }
  void setTuneBands(std::vector<SoundTuneBandModelRef> bands) { tuneBands_ = std::move(bands); }
  const MainGainTuneModelRef& mainGain() const { return mainGain_; }
  void setMainGain(MainGainTuneModelRef gain) { mainGain_ = std::move(gain); }
  bool editable() const { return editable_; }
  void setEditable(bool editable) { editable_ = editable; }

  // One record per band, in band order: {"frequency", "volume" (the fixValue), "phase": 0}, all
  // integers. The main gain is not part of it.
  Value calibrationValues() const;
  // Whether the list is exactly 11 records, each with the three keys, whose frequency names a band
  // (the first of that frequency) with the same fixValue, and whose phase is 0.
  bool matchesCalibrationValues(const Value& list) const;
  // The device's display name and "frequency fixValue 0" per band, on standard output.
  void printCalibrationText() const;

  std::string className() const override { return kClassName; }
  void encodeWithCoder(NSCoder& coder) const override;
  // Registers the decoders of InputProfile and PredefinedInputProfile (and of the classes they
  // hold).
  static void registerCodingClasses();
  virtual bool isPredefined() const { return false; }

 protected:
  struct Fields {
    int64_t profileId = 0;
    std::string displayName;
    DeviceInputDescriptionRef inputDevice;
    std::vector<SoundTuneBandModelRef> bands;
    MainGainTuneModelRef mainGain;
  };
  static std::optional<Fields> decodeFields(NSCoder& coder);

 private:
  int64_t profileId_;
  std::string displayName_;
  DeviceInputDescriptionRef inputDevice_;
  BandsCount bandsCount_ = BandsCount::ten;
  std::vector<SoundTuneBandModelRef> tuneBands_;
  MainGainTuneModelRef mainGain_;
  bool editable_ = true;
};
