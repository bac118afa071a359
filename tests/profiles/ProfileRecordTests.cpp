// Profile records (bands, the 20 kHz completion, calibration values and their matching, the small
// enumerations) and the predefined profiles per data-source orientation and headset model.
#include <gtest/gtest.h>

#include "profiles/DeviceInputsService.h"
#include "profiles/FakeDeviceInputDescription.h"
#include "profiles/InputProfilesService.h"
#include "profiles/PredefinedInputProfile.h"
#include "profiles/ProfilesSupport.h"
#include "tests/profiles/ProfilesHarness.h"

namespace {

using namespace profilestest;

DeviceInputDescriptionRef usbMic() {
  return std::make_shared<DeviceInputDescription>("usb", "USB Mic", AVAudioSessionPortUSBAudio);
}

std::vector<int64_t> frequencies(const InputProfile& p) {
  std::vector<int64_t> f;
  for (const auto& b : p.tuneBands()) f.push_back(b->frequency());
  return f;
}
std::vector<int64_t> corrections(const InputProfile& p) {
  std::vector<int64_t> c;
  for (const auto& b : p.tuneBands()) c.push_back(b->fixValue());
  return c;
}

using ProfileRecords = ProfilesTest;

TEST_F(ProfileRecords, AMissing20kHzBandIsAddedFromTheLast16kHzBandAtTheEnd) {
  std::vector<SoundTuneBandModelRef> tenBands;
  for (int64_t f : {30, 60, 125, 250, 500, 1000, 2000, 4000, 8000, 16000})
    tenBands.push_back(std::make_shared<SoundTuneBandModel>(f, f == 16000 ? 7 : 1, 5));
  tenBands.insert(tenBands.begin(), std::make_shared<SoundTuneBandModel>(16000, -3, 0));  // the last one wins
  InputProfile profile(1, "ten", usbMic(), tenBands, nullptr);
  ASSERT_EQ(profile.tuneBands().size(), 12u);
  EXPECT_EQ(profile.tuneBands().back()->frequency(), 20000);
  EXPECT_EQ(profile.tuneBands().back()->fixValue(), 7);
  EXPECT_EQ(profile.tuneBands().back()->currentValue(), 0);
  EXPECT_EQ(profile.mainGain(), nullptr);
  // With a 20 kHz band nothing is added or reordered.
  std::vector<SoundTuneBandModelRef> shuffled{std::make_shared<SoundTuneBandModel>(20000, 1, 0),
                                              std::make_shared<SoundTuneBandModel>(30, 2, 0)};
  InputProfile kept(2, "kept", usbMic(), shuffled, nullptr);
  EXPECT_EQ(frequencies(kept), (std::vector<int64_t>{20000, 30}));
  // Without a 16 kHz band the new band corrects by 0.
  InputProfile none(3, "none", usbMic(), {std::make_shared<SoundTuneBandModel>(30, 9, 0)}, nullptr);
  EXPECT_EQ(corrections(none), (std::vector<int64_t>{9, 0}));
}

TEST_F(ProfileRecords, ADefaultProfileHasElevenFlatBandsAGainOfZeroAndIsEditable) {
  InputProfile p(5, "Mine", usbMic());
  EXPECT_EQ(frequencies(p), InputProfile::defaultBandFrequencies());
  EXPECT_EQ(corrections(p), std::vector<int64_t>(11, 0));
  ASSERT_TRUE(p.mainGain());
  EXPECT_EQ(p.mainGain()->frequency(), 0);
  EXPECT_EQ(p.mainGain()->fixValue(), 0);
  EXPECT_TRUE(p.editable());
  EXPECT_EQ(p.bandsCount(), BandsCount::ten);
  const Value values = p.calibrationValues();
  ASSERT_EQ(values.size(), 11u);
  EXPECT_EQ(values[5], (Value{{"frequency", 1000}, {"volume", 0}, {"phase", 0}}));
  EXPECT_TRUE(values[5]["volume"].is_number_integer());
}

TEST_F(ProfileRecords, MatchingCalibrationValuesWantsElevenRecordsOfTheBandsWithPhaseZero) {
  auto p = profileWith(1, "p", usbMic(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  Value values = p->calibrationValues();
  EXPECT_TRUE(p->matchesCalibrationValues(values));
  Value ten = values;
  ten.erase(ten.size() - 1);
  EXPECT_FALSE(p->matchesCalibrationValues(ten));
  Value phase = values;
  phase[3]["phase"] = 1;
  EXPECT_FALSE(p->matchesCalibrationValues(phase));
  Value stranger = values;
  stranger[3]["frequency"] = 777;
  EXPECT_FALSE(p->matchesCalibrationValues(stranger));
  Value missing = values;
  missing[3].erase("phase");
  EXPECT_FALSE(p->matchesCalibrationValues(missing));
  Value other = values;
  other[0]["volume"] = 2;
  EXPECT_FALSE(p->matchesCalibrationValues(other));
  EXPECT_FALSE(p->matchesCalibrationValues(Value("not a list")));
  // Two bands of one frequency: the first one is compared.
  auto doubled = profileWith(2, "d", usbMic(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  auto bands = doubled->tuneBands();
  bands.insert(bands.begin(), std::make_shared<SoundTuneBandModel>(1000, 42, 0));
  doubled->setTuneBands(bands);
  Value expected = values;
  expected[5]["volume"] = 42;
  EXPECT_TRUE(doubled->matchesCalibrationValues(expected));
  EXPECT_FALSE(doubled->matchesCalibrationValues(values));
}

TEST_F(ProfileRecords, EnumerationsComeFromTheirRawValuesOnly) {
  EXPECT_EQ(BandsCountFromRawValue(10), BandsCount::ten);
  EXPECT_EQ(BandsCountFromRawValue(11), std::nullopt);
  EXPECT_EQ(CalibrationKeysFromRawValue("volume"), CalibrationKeys::levelKey);
  EXPECT_EQ(CalibrationKeysFromRawValue("Volume"), std::nullopt);
  EXPECT_EQ(ProfileEnableSourceFromRawValue("selected_by_user.from_table"), ProfileEnableSource::selectedFromTable);
  EXPECT_STREQ(ProfileEnableSourceRawValue(ProfileEnableSource::newDevicePopup), "popup");
  EXPECT_EQ(ProfileEnableSourceFromRawValue("anything"), std::nullopt);
}

TEST_F(ProfileRecords, TheCalibrationTextListsTheInputAndEveryBand) {
  auto p = profileWith(1, "p", usbMic(), {1, -2, 0, 0, 0, 0, 0, 0, 0, 0, 3});
  testing::internal::CaptureStdout();
  p->printCalibrationText();
  const std::string text = testing::internal::GetCapturedStdout();
  EXPECT_EQ(text.substr(0, 25), "USB Mic\n30 1 0\n60 -2 0\n12");
  EXPECT_EQ(text.substr(text.size() - 11), "20000 3 0\n\n");
}

// ---- Predefined profiles ----

using PredefinedProfiles = ProfilesTest;

std::vector<std::string> names(const std::vector<InputProfileRef>& list) {
  std::vector<std::string> n;
  for (const auto& p : list) n.push_back(p->displayName());
  return n;
}

TEST_F(PredefinedProfiles, OnePerDataSourceByItsOrientationThenTheThreeHeadsets) {
  auto& list = InputProfilesService::sharedService().internalPredefinedProfiles();
  EXPECT_EQ(names(list), (std::vector<std::string>{"Built-in Microphone (Bottom)", "Built-in Microphone (Front)",
                                                   "Built-in Microphone (Back)", "AirPods Max", "AirPods Pro",
                                                   "AirPods"}));
  EXPECT_EQ(corrections(*list[0]), PredefinedInputProfile::builtInOtherTable().bands);
  EXPECT_EQ(corrections(*list[1]), PredefinedInputProfile::builtInFrontTable().bands);
  EXPECT_EQ(corrections(*list[2]), PredefinedInputProfile::builtInBackTable().bands);
  EXPECT_EQ(list[2]->mainGain()->fixValue(), -6);
  EXPECT_EQ(corrections(*list[5]), (std::vector<int64_t>{-17, 12, 19, 6, 8, 4, 0, -2, 0, 0, 0}));
  EXPECT_EQ(list[5]->mainGain()->fixValue(), -8);
  EXPECT_EQ(corrections(*list[3]), corrections(*list[4])) << "the Max and the Pro share a table";
  EXPECT_EQ(list[3]->mainGain()->fixValue(), list[4]->mainGain()->fixValue());
  EXPECT_TRUE(list[0]->inputDevice()->connectedMarker());
  EXPECT_TRUE(list[3]->inputDevice()->isFake());
  EXPECT_EQ(list[3]->inputDevice()->portId(), "FakeIdAirPodsMax");
  for (const auto& p : list) {
    EXPECT_TRUE(p->isPredefined());
    EXPECT_EQ(p->tuneBands().size(), 11u);
    EXPECT_EQ(p->mainGain()->frequency(), 0);
  }
}

TEST_F(PredefinedProfiles, APortWithoutDataSourcesGetsFlatCorrectionsAndNoInputsLeaveTheHeadsets) {
  setPorts({port("mic", "Microphone", AVAudioSessionPortBuiltInMic), port("usb", "USB", AVAudioSessionPortUSBAudio)});
  auto& list = InputProfilesService::sharedService().internalPredefinedProfiles();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0]->displayName(), "Microphone");
  EXPECT_EQ(corrections(*list[0]), std::vector<int64_t>(11, 0));
  EXPECT_EQ(list[0]->mainGain()->fixValue(), 0);
  EXPECT_FALSE(list[0]->inputDevice()->connectedMarker());
  InputProfilesService::resetForTesting();
  setPorts({});
  EXPECT_EQ(names(InputProfilesService::sharedService().internalPredefinedProfiles()),
            (std::vector<std::string>{"AirPods Max", "AirPods Pro", "AirPods"}));
}

TEST_F(PredefinedProfiles, TheListIsBuiltOnceAndItsIdsAreTheSameInEveryRun) {
  auto& service = InputProfilesService::sharedService();
  const auto first = service.internalPredefinedProfiles();
  setPorts({});
  EXPECT_EQ(service.internalPredefinedProfiles(), first) << "the same objects, not rebuilt for another route";
  EXPECT_EQ(first[0]->profileId(), tarn::stableHash("Built-in Microphone (Bottom)"));
  EXPECT_EQ(first[3]->profileId(), tarn::stableHash("AirPods Max"));
  EXPECT_EQ(tarn::stableHash("AirPods Max"), int64_t(0xeaaffeb27aa1a9f9ull)) << "fixed, whatever the run";
}

}  // namespace
