// The new-input popup: its choices for different microphones and what each does, and the start-up
// step, which the switched-off automatic profile logic leaves doing nothing.
#include <gtest/gtest.h>

#include "app/UIViewController+InputsPopup.h"
#include "overlays/StatusOverlay.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIKeyInput.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/FakeDeviceInputDescription.h"
#include "profiles/InputProfilesService.h"
#include "tests/app/ProfileScreensHarness.h"

namespace {

class NewInputPopup : public ProfileScreensHarness {
 protected:
  void SetUp() override {
    ProfileScreensHarness::SetUp();
    launchApp();
  }
  InputProfilesService& service() { return InputProfilesService::sharedService(); }
  std::shared_ptr<UIAlertController> show(const DeviceInputDescriptionRef& microphone) {
    NSNotification n;
    n.name = DeviceInputsService::kNewExternalInput;
    if (microphone) n.userObjects[DeviceInputsService::kExternalInputKey] = microphone;
    InputsPopup::newInputDeviceDetected(screen(), n);
    settle();
    return std::dynamic_pointer_cast<UIAlertController>(screen()->presentedViewController());
  }
  std::vector<std::string> titles(const std::shared_ptr<UIAlertController>& alert) {
    std::vector<std::string> t;
    for (const auto& a : alert->actions()) t.push_back(a->title());
    return t;
  }
  void choose(const std::shared_ptr<UIAlertController>& alert, size_t index) {
    tap(alert->buttonForAction(*alert->actions()[index]));
    settle();
  }
  DeviceInputDescriptionRef wired = std::make_shared<DeviceInputDescription>("wired", "Headset Microphone",
                                                                             AVAudioSessionPortHeadsetMic);
};

TEST_F(NewInputPopup, AWiredMicrophoneWithAProfileGetsTheThreeChoices) {
  service().addProfile(profileFor(1, "Stage", wired));
  auto alert = show(wired);
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->alertTitle(), "Headset Microphone connected");
  EXPECT_EQ(titles(alert), (std::vector<std::string>{"Create a new profile", "Use the built-in microphone", "Use Stage"}));
  for (const auto& a : alert->actions()) EXPECT_EQ(a->style(), UIAlertActionStyle::Default);
  EXPECT_EQ(events(), std::vector<std::string>{"microphone_popup_shown"});
  choose(alert, 2);
  EXPECT_EQ(service().selectedProfileId(), 1);
  EXPECT_EQ(StatusOverlay::kind(), StatusOverlay::Kind::Success);
  EXPECT_EQ(events().back(), "microphone_popup_enable_defined_profile");
}

// The popup offers choices of equal standing and no cancel: neither Return nor Escape takes one
// (Return took "Create a new profile" and opened the naming dialog). A tap still does.
TEST_F(NewInputPopup, ReturnAndEscapeTakeNoChoice) {
  service().addProfile(profileFor(1, "Stage", wired));
  auto alert = show(wired);
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->preferredAction(), nullptr);
  const auto enabled = service().selectedProfileId();
  for (void (*key)() : {UIKeyInput::typeReturn, UIKeyInput::typeEscape, UIKeyInput::typeReturn}) {
    key();
    settle();
    EXPECT_EQ(screen()->presentedViewController(), alert) << "the popup stays, and nothing is presented over it";
  }
  EXPECT_EQ(service().selectedProfileId(), enabled);
  EXPECT_EQ(service().profiles().size(), 1u);
  EXPECT_EQ(events(), std::vector<std::string>{"microphone_popup_shown"});
  choose(alert, 2);
  EXPECT_EQ(service().selectedProfileId(), 1);
}

TEST_F(NewInputPopup, AnAirPodsMicrophoneIsOfferedNoNewProfile) {
  auto airPods = std::make_shared<DeviceInputDescription>("bt", "Anna's AirPods", AVAudioSessionPortBluetoothHFP);
  auto alert = show(airPods);
  ASSERT_TRUE(alert);
  EXPECT_EQ(titles(alert), (std::vector<std::string>{"Use the built-in microphone", "Use AirPods"}))
      << "the last of the headset profiles that equals it";
}

TEST_F(NewInputPopup, UsingTheCurrentInputEnablesTheBuiltInDefaultProfile) {
  auto alert = show(wired);
  ASSERT_EQ(titles(alert), (std::vector<std::string>{"Create a new profile", "Use the built-in microphone"}));
  choose(alert, 1);
  EXPECT_EQ(service().selectedProfileId(), service().defaultConnectedProfile()->profileId());
  EXPECT_EQ(StatusOverlay::kind(), StatusOverlay::Kind::Success);
  EXPECT_EQ(events().back(), "microphone_popup_use_current_tap");
}

TEST_F(NewInputPopup, ANewProfileIsNamedStoredAndOpenedInTheTuningScreen) {
  auto alert = show(wired);
  choose(alert, 0);
  auto dialog = std::dynamic_pointer_cast<UIAlertController>(screen()->presentedViewController());
  ASSERT_TRUE(dialog) << "the naming dialog follows the popup";
  settle();  // its field takes the keyboard once it has appeared
  UIKeyInput::typeText("Vocal mic");
  choose(dialog, 0);
  auto tuning = std::dynamic_pointer_cast<MicProfileSetupViewController>(top());
  ASSERT_TRUE(tuning);
  EXPECT_EQ(tuning->inputProfile()->displayName(), "Vocal mic");
  EXPECT_EQ(service().profiles().size(), 1u);
  EXPECT_EQ(events()[1], "microphone_popup_new_profile");
}

TEST_F(NewInputPopup, ANotificationWithoutAMicrophoneIsIgnored) {
  EXPECT_EQ(show(nullptr), nullptr);
  EXPECT_TRUE(events().empty());
}

TEST_F(NewInputPopup, TheOfferedProfilesFollowTheRules) {
  auto make = [](int64_t id, DeviceInputDescriptionRef d) { return profileFor(id, "p" + std::to_string(id), d); };
  auto other = std::make_shared<DeviceInputDescription>("other", "Other", AVAudioSessionPortHeadsetMic);
  auto airPods = std::make_shared<FakeDeviceInputDescription>("FakeIdAirPods", "AirPods", AVAudioSessionPortBluetoothHFP);
  // Of two, only the second belongs to the microphone: that one.
  auto first = make(1, other), second = make(2, wired);
  EXPECT_EQ(InputsPopup::profilesToOffer({first, second}, wired), std::vector<InputProfileRef>{second});
  // None belongs to it: the first.
  EXPECT_EQ(InputsPopup::profilesToOffer({first, make(3, other)}, wired), std::vector<InputProfileRef>{first});
  // Three whose first and last are AirPods, for a microphone that is none: all three.
  const std::vector<InputProfileRef> three{make(4, airPods), make(5, wired), make(6, airPods)};
  EXPECT_EQ(InputsPopup::profilesToOffer(three, wired), three);
  EXPECT_TRUE(InputsPopup::profilesToOffer({}, wired).empty());
}

TEST_F(NewInputPopup, TheStartUpStepChangesNothingWhileTheAutomaticLogicIsOff) {
  settle(3);
  EXPECT_EQ(service().selectedProfileId(), std::nullopt);
  EXPECT_TRUE(screen()->vInputPlank->isHidden()) << "no profile was enabled at start-up";
}

TEST_F(NewInputPopup, WhileTheAutomaticLogicIsOffNeitherARouteChangeNorAnAnnouncementShowsThePopup) {
  setPorts({profilestest::phoneMicrophone(), profilestest::port("usb", "USB Mic", AVAudioSessionPortUSBAudio)});
  auto& inputs = DeviceInputsService::sharedService();
  NSNotificationCenter::defaultCenter().postNotificationName(
      AVAudioSessionRouteChangeNotification, nullptr,
      Value{{AVAudioSessionRouteChangeReasonKey, int64_t(AVAudioSessionRouteChangeReasonNewDeviceAvailable)}});
  settle(3);
  EXPECT_TRUE(inputs.connectedExternalInputs().empty()) << "the service observes no route change";
  // An announcement made all the same is not observed by the analyser screen.
  NSNotification n;
  n.name = DeviceInputsService::kNewExternalInput;
  n.userObjects[DeviceInputsService::kExternalInputKey] = wired;
  NSNotificationCenter::defaultCenter().postNotification(n);
  settle();
  EXPECT_EQ(screen()->presentedViewController(), nullptr);
  EXPECT_TRUE(events().empty());
  EXPECT_TRUE(screen()->vInputPlank->isHidden());
}

}  // namespace
