// The profile service: enabling (the shared chart's calibration and gain, the input, the change
// notification), the current profile, saving and removing, ids of new profiles, the naming dialog,
// profiles per input, user profiles with their connection state and the default profile.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "analysis/SpectrumWrapper.h"
#include "analysis/vlxSpectrum.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIKeyInput.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIWindow.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/InputProfilesService.h"
#include "tests/profiles/ProfilesHarness.h"
#include "tests/support/ManualClock.h"

namespace {

using namespace profilestest;

DeviceInputDescriptionRef frontMic() {
  auto d = std::make_shared<DeviceInputDescription>("built-in-mic", "iPhone Microphone", AVAudioSessionPortBuiltInMic,
                                                    "Front", 2, AVAudioSessionOrientationFront);
  return d;
}

class ProfileService : public ProfilesTest {
 protected:
  InputProfilesService& service() { return InputProfilesService::sharedService(); }
  // The notifications of profile changes, by the profile they name.
  std::vector<InputProfileRef> changes;
  NSObserverTokenRef observer = NSNotificationCenter::defaultCenter().addObserverForName(
      InputProfilesService::kCurrentProfileChanged, nullptr, nullptr, [this](const NSNotification& n) {
        EXPECT_TRUE(NSRunLoop::isMainThread());
        changes.push_back(n.userObject<InputProfile>(InputProfilesService::kNewProfileKey));
      });
};

TEST_F(ProfileService, EnablingHandsTheCorrectionsAndGainToTheSharedChartAndAnnouncesItAfterwards) {
  auto p = profileWith(1, "Front tuned", frontMic(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, -4);
  EXPECT_TRUE(service().enableProfile(p, "mic_profile_setup"));
  auto chart = SpectrumWrapper::spectrumObject();
  ASSERT_TRUE(chart);
  EXPECT_EQ(chart->currentCalibrationValues(), p->calibrationValues());
  EXPECT_EQ(chart->globalCalibrationCoefficient(), -4);
  EXPECT_EQ(chart->spectrumView()->calibrationOffset, -4.0f) << "the gain moves this chart's levels";
  EXPECT_EQ(service().selectedProfileId(), 1);
  EXPECT_EQ(DeviceInputsService::sharedService().currentDevice()->dataSourceName(), "Front") << "its input is selected";
  EXPECT_TRUE(changes.empty()) << "announced after the call has returned";
  NSRunLoop::main().runOnce();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], p) << "the very object that was enabled";
  NSRunLoop::main().runOnce();
  EXPECT_EQ(changes.size(), 1u) << "once per call";
  // A profile without a main gain resets the chart's gain, and an unknown source enables all the same.
  auto flat = profileWith(2, "No gain", frontMic(), std::vector<int64_t>(11, 0), std::nullopt);
  EXPECT_TRUE(service().enableProfile(flat, "who knows"));
  EXPECT_EQ(chart->globalCalibrationCoefficient(), std::nullopt);
  EXPECT_EQ(chart->spectrumView()->calibrationOffset, 0.0f);
}

TEST_F(ProfileService, TheCurrentProfileIsTheEnabledOneWhileItsInputAndCorrectionsHold) {
  auto p = profileWith(1, "Front tuned", frontMic(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  service().addProfile(p);
  EXPECT_EQ(service().currentProfile(), nullptr) << "nothing enabled";
  service().enableProfile(p, ProfileEnableSource::selectedFromTable);
  EXPECT_EQ(service().currentProfile(), p);
  SpectrumWrapper::spectrumObject()->setLinearCalibrationValues(Value::array());
  EXPECT_EQ(service().currentProfile(), nullptr) << "another calibration is on the chart";
  EXPECT_EQ(service().selectedProfileId(), 1);
  service().enableProfile(p, ProfileEnableSource::selectedFromTable);
  DeviceInputsService::sharedService().setCurrentDevice(
      std::make_shared<DeviceInputDescription>("usb", "USB", AVAudioSessionPortUSBAudio));
  EXPECT_EQ(service().currentProfile(), nullptr) << "another input is in use";
}

TEST_F(ProfileService, SavingReplacesTheFirstProfileOfTheIdAndMovesItToTheEnd) {
  auto a = profileWith(5, "A", frontMic(), std::vector<int64_t>(11, 0));
  auto b = profileWith(5, "B", frontMic(), std::vector<int64_t>(11, 0));
  auto c = profileWith(6, "C", frontMic(), std::vector<int64_t>(11, 0));
  service().addProfile(a);
  service().addProfile(b);
  service().addProfile(c);
  auto edited = profileWith(5, "A edited", frontMic(), std::vector<int64_t>(11, 3));
  service().saveProfile(edited);
  ASSERT_EQ(service().profiles().size(), 3u);
  EXPECT_EQ(service().profiles()[0], b) << "only the first one of the id goes";
  EXPECT_EQ(service().profiles()[2], edited);
  service().saveProfile(profileWith(9, "New", frontMic(), std::vector<int64_t>(11, 0)));
  EXPECT_EQ(service().profiles().size(), 4u) << "an unknown id is appended";
  // Removing goes by identity: an equal copy is not the stored object.
  const Value stored = *NSUserDefaults::standardUserDefaults()->objectForKey(InputProfilesService::kStorageKey);
  service().removeProfile(profileWith(6, "C", frontMic(), std::vector<int64_t>(11, 0)));
  EXPECT_EQ(service().profiles().size(), 4u);
  EXPECT_EQ(*NSUserDefaults::standardUserDefaults()->objectForKey(InputProfilesService::kStorageKey), stored)
      << "nothing written";
  service().removeProfile(c);
  EXPECT_EQ(service().profiles().size(), 3u);
}

TEST_F(ProfileService, SavingAPredefinedProfileAgainAfterARestartReplacesItsStoredCopy) {
  auto airPods = service().internalPredefinedProfiles()[5];
  airPods->tuneBands()[0]->setFixValue(-10);
  service().saveProfile(airPods);
  relaunch();
  auto& again = InputProfilesService::sharedService();
  ASSERT_EQ(again.profiles().size(), 1u);
  auto rebuilt = again.internalPredefinedProfiles()[5];
  EXPECT_EQ(again.profiles()[0]->profileId(), rebuilt->profileId()) << "the same id in the new run";
  again.saveProfile(rebuilt);
  EXPECT_EQ(again.profiles().size(), 1u) << "replaced, not duplicated";
}

TEST_F(ProfileService, NewProfilesWithinOneSecondGetIdsOfTheirOwn) {
  testsupport::ManualClock clock;
  Clock::setNow(1700000000.25);
  const int64_t first = service().newProfileId();
  EXPECT_EQ(first, 1700000000);
  service().addProfile(profileWith(first, "One", frontMic(), std::vector<int64_t>(11, 1)));
  const int64_t second = service().newProfileId();
  EXPECT_EQ(second, 1700000001) << "the next free value";
  auto two = profileWith(second, "Two", frontMic(), std::vector<int64_t>(11, 2));
  service().addProfile(two);
  service().saveProfile(two);
  EXPECT_EQ(service().profiles().size(), 2u) << "saving the second keeps the first";
}

TEST_F(ProfileService, ProfilesForInputsListUserProfilesBeforePredefinedOnes) {
  auto bottom = std::make_shared<DeviceInputDescription>("built-in-mic", "iPhone Microphone",
                                                         AVAudioSessionPortBuiltInMic, "Bottom", 1,
                                                         AVAudioSessionOrientationBottom);
  auto mine = profileWith(1, "Mine", bottom, std::vector<int64_t>(11, 0));
  service().addProfile(mine);
  service().addProfile(profileWith(2, "USB", std::make_shared<DeviceInputDescription>("usb", "USB", "USBAudio"),
                                   std::vector<int64_t>(11, 0)));
  EXPECT_TRUE(service().profilesForInputs({}).empty());
  auto found = service().profilesForInputs({bottom});
  ASSERT_EQ(found.size(), 4u) << "the user's one and the three built-in ones (one port id)";
  EXPECT_EQ(found[0], mine);
  EXPECT_TRUE(found[1]->isPredefined());
}

TEST_F(ProfileService, UserProfilesAreListedConnectedOrNotAndTheDefaultIsTheFirstBuiltInOne) {
  auto usb = std::make_shared<DeviceInputDescription>("usb", "USB", AVAudioSessionPortUSBAudio);
  service().addProfile(profileWith(1, "USB", usb, std::vector<int64_t>(11, 0)));
  auto listed = service().userDefinedProfiles();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_FALSE(listed[0]->inputDevice()->inputDeviceConnected());
  DeviceInputsService::sharedService().setConnectedExternalInputs(
      {std::make_shared<DeviceInputDescription>("usb", "USB", AVAudioSessionPortUSBAudio)});
  EXPECT_TRUE(service().userDefinedProfiles()[0]->inputDevice()->inputDeviceConnected());
  auto def = service().defaultConnectedProfile();
  ASSERT_TRUE(def);
  EXPECT_EQ(def, service().internalPredefinedProfiles()[0]);
  setPorts({port("mic", "Microphone", AVAudioSessionPortBuiltInMic, {{"Front", AVAudioSessionOrientationFront}})});
  EXPECT_EQ(service().defaultConnectedProfile(), nullptr) << "no bottom-facing source";
}

// ---- The naming dialog ----

class NamingDialog : public ProfileService {
 protected:
  void SetUp() override {
    ProfileService::SetUp();
    UIScreen::mainScreen().configure({568, 320}, 2);
    window = std::make_shared<UIWindow>();
    screen = std::make_shared<UIViewController>();
    window->setRootViewController(screen);
    window->makeKeyAndVisible();
    setenv("TZ", "UTC", 1);
    tzset();
  }
  std::shared_ptr<UIAlertController> dialog() {
    return std::dynamic_pointer_cast<UIAlertController>(screen->presentedViewController());
  }
  void press(const std::string& title) {
    auto d = dialog();
    ASSERT_TRUE(d);
    for (const auto& a : d->actions())
      if (a->title() == title) d->performAction(a);
    clock.step(0.5);
  }
  testsupport::ManualClock clock;
  std::shared_ptr<UIWindow> window;
  std::shared_ptr<UIViewController> screen;
};

TEST_F(NamingDialog, AnEmptyNameBecomesTheInputAndTheShortDate) {
  Clock::setNow(1704196800);  // 2 January 2024, noon UTC
  auto usb = std::make_shared<DeviceInputDescription>("usb", "USB Mic", AVAudioSessionPortUSBAudio);
  InputProfileRef made;
  bool called = false;
  service().createNewProfileForInputDescription(usb, screen, [&](InputProfileRef p) {
    called = true;
    made = p;
  });
  clock.step(0.5);
  auto d = dialog();
  ASSERT_TRUE(d);
  EXPECT_EQ(d->alertTitle(), "New profile for USB Mic");
  ASSERT_EQ(d->textFields().size(), 1u);
  auto field = d->textFields()[0];
  EXPECT_EQ(field->text(), "USB Mic") << "a USB input names the field";
  EXPECT_EQ(field->placeholder(), "Profile name");
  EXPECT_EQ(field->clearButtonMode(), UITextFieldViewMode::WhileEditing);
  field->setText("");
  press("Save");
  ASSERT_TRUE(called);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->displayName(), "USB Mic 1/2/24");
  EXPECT_EQ(made->profileId(), 1704196800);
  EXPECT_EQ(made->inputDevice(), usb);
  EXPECT_EQ(service().profiles().back(), made) << "stored";
  EXPECT_NE(service().selectedProfileId(), made->profileId()) << "not enabled: the caller decides";
}

TEST_F(NamingDialog, ATypedNameIsTakenAndCancelMakesNothing) {
  auto headset = std::make_shared<DeviceInputDescription>("wired", "Headset", AVAudioSessionPortHeadsetMic);
  int calls = 0;
  InputProfileRef made;
  auto record = [&](InputProfileRef p) {
    ++calls;
    made = p;
  };
  service().createNewProfileForInputDescription(headset, screen, record);
  clock.step(0.5);
  EXPECT_EQ(dialog()->textFields()[0]->text(), "") << "a wired headset leaves the field empty";
  UIKeyInput::typeText("Studio headset");
  press("Save");
  ASSERT_EQ(calls, 1);
  EXPECT_EQ(made->displayName(), "Studio headset");
  service().createNewProfileForInputDescription(headset, nullptr, record);
  clock.step(0.5);
  EXPECT_FALSE(dialog()) << "without a controller and an application window nothing is shown";
  service().createNewProfileForInputDescription(headset, screen, record);
  clock.step(0.5);
  press("Cancel");
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(service().profiles().size(), 1u);
}

// An input whose names are as long as a stored description may hold: the name made from them and
// the date is longer than a stored profile's, and is cut (at a character) so that it reads back.
TEST_F(NamingDialog, ANameMadeFromLongInputNamesIsCutToWhatAStoredProfileReadsBack) {
  // "Headset (" and the data source's name, whose é stands across the limit.
  const std::string start = "Headset (" + std::string(InputProfile::kMaxTextBytes - 10, 's');
  auto headset = std::make_shared<DeviceInputDescription>("wired", "Headset", AVAudioSessionPortHeadsetMic,
                                                          start.substr(9) + "é!");
  InputProfileRef made;
  service().createNewProfileForInputDescription(headset, screen, [&](InputProfileRef p) { made = p; });
  clock.step(0.5);
  press("Save");
  ASSERT_TRUE(made);
  EXPECT_EQ(made->displayName(), start) << "cut before the character that does not fit";
  relaunch();
  ASSERT_EQ(InputProfilesService::sharedService().profiles().size(), 1u) << "stored and read back";
  EXPECT_EQ(InputProfilesService::sharedService().profiles()[0]->displayName(), made->displayName());
}

TEST_F(NamingDialog, ReturnSavesTheTypedNameAndEscapeCancels) {
  auto headset = std::make_shared<DeviceInputDescription>("wired", "Headset", AVAudioSessionPortHeadsetMic);
  std::vector<InputProfileRef> made;
  auto record = [&](InputProfileRef p) { made.push_back(p); };
  service().createNewProfileForInputDescription(headset, screen, record);
  clock.step(0.5);
  UIKeyInput::typeText("Desk headset");
  UIKeyInput::typeReturn();
  clock.step(0.5);
  EXPECT_FALSE(dialog()) << "Return is Save: the dialog goes";
  ASSERT_EQ(made.size(), 1u);
  ASSERT_TRUE(made[0]);
  EXPECT_EQ(made[0]->displayName(), "Desk headset");

  service().createNewProfileForInputDescription(headset, screen, record);
  clock.step(0.5);
  UIKeyInput::typeText("Not this one");
  UIKeyInput::typeEscape();
  clock.step(0.5);
  EXPECT_FALSE(dialog()) << "Escape is Cancel: the dialog goes";
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(made[1], nullptr);
  EXPECT_EQ(service().profiles().size(), 1u);
}

// The name offered for a USB microphone is corrected anywhere in it, not only from its end.
TEST_F(NamingDialog, TheOfferedNameIsCorrectedWhereTheCaretIsMovedAndReturnSavesIt) {
  auto usb = std::make_shared<DeviceInputDescription>("usb", "USB Mic", AVAudioSessionPortUSBAudio);
  InputProfileRef made;
  service().createNewProfileForInputDescription(usb, screen, [&](InputProfileRef p) { made = p; });
  clock.step(0.5);
  ASSERT_TRUE(dialog());
  for (int i = 0; i < 4; ++i) UIKeyInput::typeCaretMove(UITextCaretMove::Left);
  UIKeyInput::typeText(" desk");
  UIKeyInput::typeCaretMove(UITextCaretMove::Home);
  for (int i = 0; i < 4; ++i) UIKeyInput::typeDelete();
  UIKeyInput::typeCaretMove(UITextCaretMove::End);
  UIKeyInput::typeBackspace();
  UIKeyInput::typeBackspace();
  UIKeyInput::typeText("ic");
  EXPECT_EQ(dialog()->textFields()[0]->text(), "desk Mic");
  UIKeyInput::typeReturn();
  clock.step(0.5);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->displayName(), "desk Mic");
}

}  // namespace
