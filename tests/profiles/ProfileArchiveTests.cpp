// The profile archive under "profilesStorage": what it keeps, what a launch reads back, and what
// happens with stored bytes that cannot be read (kept aside before they are written over).
#include <gtest/gtest.h>

#include <cmath>

#include "platform/foundation/NSUserDefaults.h"
#include "profiles/FakeDeviceInputDescription.h"
#include "profiles/InputProfilesService.h"
#include "profiles/InputProfilesStorage.h"
#include "profiles/PredefinedInputProfile.h"
#include "tests/profiles/ArchiveEditing.h"
#include "tests/profiles/ProfilesHarness.h"
#include "tests/support/LogCapture.h"

namespace {

using namespace profilestest;

DeviceInputDescriptionRef wiredMic() {
  return std::make_shared<DeviceInputDescription>("wired", "Headset Microphone", AVAudioSessionPortHeadsetMic);
}

std::vector<InputProfileRef> threeProfiles() {
  return {profileWith(101, "First", wiredMic(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, -3),
          profileWith(102, "Second", wiredMic(), std::vector<int64_t>(11, -100), 100),
          profileWith(103, "Third", wiredMic(), std::vector<int64_t>(11, 0), std::nullopt)};
}

Bytes archive(const std::vector<InputProfileRef>& profiles) {
  NSErrorRef error;
  auto data = InputProfilesStorage::archiveProfiles(profiles, &error);
  EXPECT_TRUE(data);
  return data.value_or(Bytes{});
}

std::shared_ptr<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }

class ProfileArchive : public ProfilesTest {
 protected:
  // Stores the value as a previous launch would have, then starts the service anew.
  InputProfilesService& launchWithStored(const Value& stored) {
    defaults()->setObject(stored, InputProfilesService::kStorageKey);
    defaults()->synchronize();
    relaunch();
    return InputProfilesService::sharedService();
  }
};

TEST_F(ProfileArchive, ProfilesComeBackAsTheyWereStoredWithTheirClasses) {
  auto& service = InputProfilesService::sharedService();
  for (const auto& p : threeProfiles()) service.addProfile(p);
  auto predefined = service.internalPredefinedProfiles()[3];  // AirPods Max, with a fake input
  service.saveProfile(predefined);
  const Bytes stored = value::dataBytes(*defaults()->objectForKey(InputProfilesService::kStorageKey));
  const auto classes = storedClassNames(stored);
  EXPECT_NE(std::find(classes.begin(), classes.end(), "Tarn.PredefinedInputProfile"), classes.end());
  EXPECT_NE(std::find(classes.begin(), classes.end(), "Tarn.FakeDeviceInputDescription"), classes.end());
  int counts = 0;
  editObjects(stored, "Tarn.InputProfile", [&](Value& entry, int) {
    EXPECT_EQ(entry["bandsCount"], 10);
    ++counts;
  });
  EXPECT_EQ(counts, 3);

  relaunch();
  auto& again = InputProfilesService::sharedService();
  ASSERT_EQ(again.profiles().size(), 4u);
  const auto& first = again.profiles()[0];
  EXPECT_EQ(first->profileId(), 101);
  EXPECT_EQ(first->displayName(), "First");
  EXPECT_EQ(first->inputDevice()->portId(), "wired");
  EXPECT_EQ(first->tuneBands().size(), 11u);
  EXPECT_EQ(first->tuneBands()[10]->fixValue(), 11);
  EXPECT_EQ(first->mainGain()->fixValue(), -3);
  EXPECT_TRUE(first->editable());
  EXPECT_EQ(again.profiles()[1]->mainGain()->fixValue(), 100) << "the largest gain is readable";
  EXPECT_EQ(again.profiles()[2]->mainGain(), nullptr) << "no main gain stays none";
  EXPECT_TRUE(again.profiles()[3]->isPredefined());
  EXPECT_TRUE(again.profiles()[3]->inputDevice()->isFake());
}

TEST_F(ProfileArchive, AnArchivedTenBandProfileGainsIts20kHzBandAndMissingIntegersReadAsZero) {
  auto p = profileWith(7, "Ten", wiredMic(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 4, 99});
  auto bands = p->tuneBands();
  bands.pop_back();  // without 20 kHz
  p->setTuneBands(bands);
  Bytes data = editObjects(archive({p}), "Tarn.SoundTuneBandModel", [](Value& entry, int) { entry.erase("currentValue"); });
  data = editObjects(data, "Tarn.InputProfile", [](Value& entry, int) { entry.erase("id"); });
  NSErrorRef error;
  auto back = InputProfilesStorage::unarchiveProfiles(data, &error);
  ASSERT_TRUE(back) << (error ? error->localizedDescription() : "");
  const auto& q = (*back)[0];
  EXPECT_EQ(q->profileId(), 0);
  ASSERT_EQ(q->tuneBands().size(), 11u);
  EXPECT_EQ(q->tuneBands()[10]->frequency(), 20000);
  EXPECT_EQ(q->tuneBands()[10]->fixValue(), 4) << "from the 16 kHz band";
  for (const auto& b : q->tuneBands()) EXPECT_EQ(b->currentValue(), 0);
}

TEST_F(ProfileArchive, UnreadableValuesGiveNoProfilesAndSayWhy) {
  const Bytes good = archive(threeProfiles());
  NSErrorRef error;
  struct Case {
    const char* what;
    Value stored;
  };
  auto otherRoot = [&] {
    NSErrorRef e;
    return *NSKeyedArchiver::archivedDataWithRootObject(*threeProfiles()[0], &e);
  }();
  const Case cases[] = {
      {"text, not data", Value("profiles")},
      {"bytes that are no archive", value::data(Bytes{'n', 'o', 't', 0, 1, 2})},
      {"an archive of another class", value::data(otherRoot)},
      {"a profile without a name", value::data(editObjects(good, "Tarn.InputProfile", [](Value& e, int i) {
         if (i == 1) e.erase("displayName");
       }))},
      {"a band beyond +100 dB", value::data(editObjects(good, "Tarn.SoundTuneBandModel", [](Value& e, int i) {
         if (i == 12) e["fixValue"] = 101;
       }))},
      {"a main gain below -100 dB", value::data(editObjects(good, "Tarn.MainGainTuneModel", [](Value& e, int i) {
         if (i == 0) e["fixValue"] = -101;
       }))},
      {"a correction that is not a number", value::data(editObjects(good, "Tarn.SoundTuneBandModel", [](Value& e, int i) {
         if (i == 3) e["fixValue"] = std::numeric_limits<double>::infinity();
       }))},
      {"a fractional correction", value::data(editObjects(good, "Tarn.SoundTuneBandModel", [](Value& e, int i) {
         if (i == 3) e["fixValue"] = 2.5;
       }))},
      {"a description without a port type", value::data(editObjects(good, "Tarn.DeviceInputDescription", [](Value& e, int) {
         e.erase("portType");
       }))},
      {"more data than an archive may hold", value::data(Bytes(InputProfilesStorage::kMaxArchiveBytes + 1, 0))},
  };
  for (const auto& c : cases) {
    testsupport::LogCapture log;
    auto& service = launchWithStored(c.stored);
    EXPECT_TRUE(service.profiles().empty()) << c.what;
    ASSERT_TRUE(service.unreadableArchiveReason()) << c.what;
    EXPECT_FALSE(service.unreadableArchiveReason()->empty());
    EXPECT_TRUE(log.contains("The stored input profiles cannot be read")) << c.what;
    EXPECT_EQ(defaults()->objectForKey(InputProfilesService::kStorageKey), c.stored) << "kept until the next write";
  }
  auto& fine = launchWithStored(value::data(good));
  EXPECT_EQ(fine.profiles().size(), 3u);
  EXPECT_FALSE(fine.unreadableArchiveReason());
}

TEST_F(ProfileArchive, TheBytesOfAnUnreadableArchiveAreKeptAsideBeforeTheNextWrite) {
  const Bytes damaged = editObjects(archive(threeProfiles()), "Tarn.InputProfile", [](Value& e, int i) {
    if (i == 2) e["tuneBands"] = "not a list";
  });
  auto& service = launchWithStored(value::data(damaged));
  EXPECT_TRUE(service.profiles().empty());
  EXPECT_FALSE(defaults()->objectForKey(InputProfilesService::kBackupKey)) << "nothing is copied before a write";
  testsupport::LogCapture log;
  service.addProfile(profileWith(200, "New", wiredMic(), std::vector<int64_t>(11, 1)));
  EXPECT_EQ(defaults()->objectForKey(InputProfilesService::kBackupKey), value::data(damaged));
  EXPECT_TRUE(log.contains("kept under \"profilesStorage.unreadable\""));
  // The new archive holds the new profile, and survives a relaunch with the copy beside it.
  relaunch();
  ASSERT_EQ(InputProfilesService::sharedService().profiles().size(), 1u);
  EXPECT_EQ(defaults()->objectForKey(InputProfilesService::kBackupKey), value::data(damaged));
  // A second unreadable archive does not replace the first copy.
  auto& later = launchWithStored(Value("garbage"));
  later.addProfile(profileWith(201, "Newer", wiredMic(), std::vector<int64_t>(11, 1)));
  EXPECT_EQ(defaults()->objectForKey(InputProfilesService::kBackupKey), value::data(damaged));
  EXPECT_EQ(defaults()->objectForKey(std::string(InputProfilesService::kBackupKey) + ".2"), Value("garbage"));
}

// An input whose description cannot be archived.
class Unarchivable : public DeviceInputDescription {
 public:
  using DeviceInputDescription::DeviceInputDescription;
  void encodeWithCoder(NSCoder&) const override { throw std::runtime_error("no disk for this one"); }
};

TEST_F(ProfileArchive, AFailedWriteIsLoggedWithItsReasonAndTheListKeepsTheChange) {
  auto& service = InputProfilesService::sharedService();
  service.addProfile(profileWith(1, "Kept", wiredMic(), std::vector<int64_t>(11, 0)));
  const auto before = defaults()->objectForKey(InputProfilesService::kStorageKey);
  testsupport::LogCapture log;
  service.addProfile(std::make_shared<InputProfile>(
      2, "Broken", std::make_shared<Unarchivable>("x", "X", AVAudioSessionPortUSBAudio)));
  EXPECT_EQ(service.profiles().size(), 2u);
  EXPECT_TRUE(log.contains("The input profiles were not stored: Encoding an object failed: no disk for this one"));
  EXPECT_EQ(defaults()->objectForKey(InputProfilesService::kStorageKey), before) << "nothing half-written";
}

}  // namespace
