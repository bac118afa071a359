// The profile archive under "profilesStorage": what it keeps, what a launch reads back, and what
// happens with stored bytes that cannot be read (kept aside before they are written over).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/audio/AVAudioSessionPorts.h"
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
      {"a profile list that is no list", value::data(editObjects(good, "Tarn.InputProfilesStorage", [](Value& e, int) {
         e["profiles"] = "not a list";
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
  EXPECT_TRUE(fine.skippedProfileReasons().empty());
}

// One profile that cannot be read costs only itself: the others are read, and the stored bytes
// are kept aside before the next write replaces them.
TEST_F(ProfileArchive, ADamagedProfileCostsOnlyItselfAndTheStoredBytesAreKeptAside) {
  const Bytes good = archive(threeProfiles());
  struct Case {
    const char* what;
    Bytes stored;
    const char* reason;
  };
  const Case cases[] = {
      {"a profile without a name", editObjects(good, "Tarn.InputProfile", [](Value& e, int i) {
         if (i == 1) e.erase("displayName");
       }), "displayName"},
      {"a name longer than a profile's", editObjects(good, "Tarn.InputProfile", [](Value& e, int i) {
         if (i == 1) e["displayName"] = std::string(InputProfile::kMaxTextBytes + 1, 'n');
       }), "displayName"},
      {"an id above 2^63-1", editObjects(good, "Tarn.InputProfile", [](Value& e, int i) {
         if (i == 1) e["id"] = std::numeric_limits<uint64_t>::max();
       }), "id"},
      {"a band beyond +100 dB", editObjects(good, "Tarn.SoundTuneBandModel", [](Value& e, int i) {
         if (i == 12) e["fixValue"] = 101;
       }), "fixValue"},
      {"a main gain below -100 dB", editObjects(good, "Tarn.MainGainTuneModel", [](Value& e, int i) {
         if (i == 1) e["fixValue"] = -101;
       }), "fixValue"},
      {"a correction that is not a number", editObjects(good, "Tarn.SoundTuneBandModel", [](Value& e, int i) {
         if (i == 13) e["fixValue"] = std::numeric_limits<double>::infinity();
       }), "fixValue"},
      {"a fractional correction", editObjects(good, "Tarn.SoundTuneBandModel", [](Value& e, int i) {
         if (i == 13) e["fixValue"] = 2.5;
       }), "fixValue"},
      {"a port name longer than a description's", editObjects(good, "Tarn.DeviceInputDescription", [](Value& e, int i) {
         if (i == 1) e["portName"] = std::string(DeviceInputDescription::kMaxTextBytes + 1, 'p');
       }), "portName"},
      {"a description without a port type", editObjects(good, "Tarn.DeviceInputDescription", [](Value& e, int i) {
         if (i == 1) e.erase("portType");
       }), "portType"},
  };
  for (const auto& c : cases) {
    testsupport::LogCapture log;
    auto& service = launchWithStored(value::data(c.stored));
    ASSERT_EQ(service.profiles().size(), 2u) << c.what;
    EXPECT_EQ(service.profiles()[0]->displayName(), "First") << c.what;
    EXPECT_EQ(service.profiles()[1]->displayName(), "Third") << c.what;
    EXPECT_FALSE(service.unreadableArchiveReason()) << c.what;
    ASSERT_EQ(service.skippedProfileReasons().size(), 1u) << c.what;
    EXPECT_NE(service.skippedProfileReasons()[0].find(c.reason), std::string::npos)
        << c.what << ": " << service.skippedProfileReasons()[0];
    EXPECT_TRUE(log.contains("1 of the stored input profiles cannot be read")) << c.what;
    EXPECT_EQ(defaults()->objectForKey(InputProfilesService::kStorageKey), value::data(c.stored)) << c.what;

    service.addProfile(profileWith(300, "Added", wiredMic(), std::vector<int64_t>(11, 2)));
    EXPECT_EQ(defaults()->objectForKey(InputProfilesService::kBackupKey), value::data(c.stored)) << c.what;
    relaunch();
    auto& again = InputProfilesService::sharedService();
    ASSERT_EQ(again.profiles().size(), 3u) << c.what;
    EXPECT_EQ(again.profiles()[2]->displayName(), "Added");
    EXPECT_TRUE(again.skippedProfileReasons().empty());
    defaults()->removeObjectForKey(InputProfilesService::kBackupKey);
  }
}

TEST_F(ProfileArchive, TheBytesOfAnUnreadableArchiveAreKeptAsideBeforeTheNextWrite) {
  const Bytes damaged = editObjects(archive(threeProfiles()), "Tarn.InputProfilesStorage", [](Value& e, int) {
    e.erase("profiles");
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

// A microphone whose server names are longer than a stored description may hold: its profile is
// stored and read back at the next launch, with the others.
TEST_F(ProfileArchive, AProfileOfAMicrophoneWithLongServerNamesReadsBack) {
  PulseSourceInfo source;
  source.name = "alsa_input.usb-measurement";
  source.description = std::string(3000, 'D');
  source.bus = "usb";
  source.portNames = {"analog-input-mic", "analog-input-linein"};
  source.portDescriptions = {std::string(5000, 'M'), "Line In"};
  source.activePort = "analog-input-mic";
  auto port = AVAudioSessionPortForSource(source);
  ASSERT_TRUE(port);
  auto device = DeviceInputDescription::withPort(*port);
  auto& service = InputProfilesService::sharedService();
  service.addProfile(profileWith(1, "Kept", wiredMic(), std::vector<int64_t>(11, 0)));
  const std::string name = device->displayName() + " 1/2/24";  // as the naming dialog makes it
  service.addProfile(std::make_shared<InputProfile>(2, name, device));
  relaunch();
  auto& again = InputProfilesService::sharedService();
  EXPECT_FALSE(again.unreadableArchiveReason());
  EXPECT_TRUE(again.skippedProfileReasons().empty());
  ASSERT_EQ(again.profiles().size(), 2u);
  EXPECT_EQ(again.profiles()[0]->displayName(), "Kept");
  EXPECT_EQ(again.profiles()[1]->displayName(), name);
  EXPECT_EQ(again.profiles()[1]->inputDevice()->portName(), port->portName());
  EXPECT_EQ(again.profiles()[1]->inputDevice()->dataSourceName(), port->selectedDataSource()->dataSourceName());
}

// What the writer stores, the reader reads: a list holding a profile the reader would refuse is
// not stored, the write says why, and the stored list stays as it was.
TEST_F(ProfileArchive, ProfilesThatWouldNotReadBackAreNotStoredAndTheWriteSaysWhy) {
  auto& service = InputProfilesService::sharedService();
  service.addProfile(profileWith(1, "Kept", wiredMic(), std::vector<int64_t>(11, 0)));
  const auto before = defaults()->objectForKey(InputProfilesService::kStorageKey);
  testsupport::LogCapture log;
  service.addProfile(profileWith(2, std::string(InputProfile::kMaxTextBytes + 1, 'n'), wiredMic(),
                                 std::vector<int64_t>(11, 0)));
  EXPECT_EQ(service.profiles().size(), 2u) << "the list in memory keeps the change";
  EXPECT_TRUE(log.contains("The input profiles were not stored: They would not read back"));
  EXPECT_TRUE(log.contains("displayName"));
  EXPECT_EQ(defaults()->objectForKey(InputProfilesService::kStorageKey), before);
  relaunch();
  auto& again = InputProfilesService::sharedService();
  ASSERT_EQ(again.profiles().size(), 1u);
  EXPECT_FALSE(again.unreadableArchiveReason());
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
