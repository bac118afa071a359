#pragma once
// The built-in profiles with fixed correction values: one per data source of the device's built-in
// microphone, with the table chosen by the direction the data source faces, and one per known
// headset model ("AirPods Max", "AirPods Pro", "AirPods"), offered whether or not the headset is
// connected. Built once by the profile service.
//
// A predefined profile's id is a hash of its input's display name that is the same in every run,
// so that a predefined profile the user saved (it is then stored with the user's profiles, under
// this class's name "Tarn.PredefinedInputProfile") is found again after a restart.
#include <vector>

#include "profiles/InputProfile.h"

class PredefinedInputProfile : public InputProfile {
 public:
  static constexpr const char* kClassName = "Tarn.PredefinedInputProfile";
  using InputProfile::InputProfile;

  std::string className() const override { return kClassName; }
  bool isPredefined() const override { return true; }

  // The correction tables: values in dB for the eleven default bands, and the main gain.
  struct Table {
    std::vector<int64_t> bands;
    int64_t mainGain;
  };
  static const Table& builtInBackTable();
  static const Table& builtInFrontTable();
  static const Table& builtInOtherTable();
  static const Table& airPodsMaxAndProTable();
  static const Table& airPodsTable();

  // Replaces the band list with eleven new bands of the table and the main gain with its value.
  void applyTable(const Table& table);

  // The list, in order: a profile per data source of every built-in port the audio session lists
  // (a port without data sources gives one profile with zero corrections), then the three headset
  // profiles.
  static std::vector<InputProfileRef> buildPredefinedProfiles();
};
