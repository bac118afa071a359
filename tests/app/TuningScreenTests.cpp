// The tuning screen driven by touches: band sliders change the corrections and the live levels at
// once; saving keeps the bands across a restart; readouts, layout by screen type, route changes and
// removing.
#include <gtest/gtest.h>

#include <cmath>

#include "analysis/SAudioController.h"
#include "analysis/SpectrumWrapper.h"
#include "analysis/vlxSpectrum.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIKeyInput.h"
#include "profiles/InputProfilesService.h"
#include "tests/app/ProfileScreensHarness.h"
#include "tests/support/TextInk.h"

namespace {

class TuningScreen : public ProfileScreensHarness {
 protected:
  void SetUp() override {
    ProfileScreensHarness::SetUp();
    launchApp();
    mine = profileFor(40, "Bench mic", DeviceInputDescription::withPort(*profilestest::phoneMicrophone()),
                      {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0);
    InputProfilesService::sharedService().addProfile(mine);
  }
  InputProfilesService& service() { return InputProfilesService::sharedService(); }
  // Plays a 1 kHz tone into the test input, a frame at a time, for the seconds given.
  void play(double seconds) {
    const int frames = int(seconds * 24);
    std::vector<float> block(2048);
    for (int f = 0; f < frames; ++f) {
      for (auto& s : block) s = float(0.1 * std::sin(2 * M_PI * 1000 * double(phase++) / 44100));
      input->pushSamples(block);
      clock.step(1.0 / 24);
    }
    clock.step(0.01);  // the labels are set from the main queue
  }
  int level(const std::shared_ptr<MicProfileSetupViewController>& tuning, size_t band) {
    auto text = tuning->bandsView->bandSliders()[band]->lblCurrentValue()->text().value_or("");
    return std::atoi(text.c_str());
  }
  // Drags the band's slider from its thumb by dy points.
  void dragBand(const std::shared_ptr<MicProfileSetupViewController>& tuning, size_t band, double dy) {
    auto slider = tuning->bandsView->bandSliders()[band]->slider();
    layout();
    const CGRect thumb = slider->convertRectToView(slider->thumbRect(), nullptr);
    const CGPoint from{CGRectGetMidX(thumb), CGRectGetMidY(thumb)};
    auto window = delegate->window();
    window->touchDown(from);
    window->touchMove({from.x, from.y + dy / 2});
    window->touchMove({from.x, from.y + dy});
    window->touchUp({from.x, from.y + dy});
  }
  InputProfileRef mine;
  uint64_t phase = 0;
};

TEST_F(TuningScreen, ItFillsItselfFromTheProfileAndEnablesIt) {
  auto tuning = openTuning(mine);
  EXPECT_EQ(tuning->lblCurrentInput->text(), "Bench mic");
  EXPECT_EQ(tuning->lblSampleRate->text(), "44100");
  EXPECT_EQ(tuning->bandsView->freqBands(), mine->tuneBands()) << "the profile's own band objects";
  EXPECT_EQ(service().selectedProfileId(), 40);
  EXPECT_FALSE(nav()->isNavigationBarHidden());
  EXPECT_EQ(tuning->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);
  // The 568 × 320-point phone is the 1136-pixel class: the short spacings.
  EXPECT_EQ(tuning->lcTopConstraint->constant(), 8);
  EXPECT_EQ(tuning->lcButtonTopConstraint->constant(), 16);
  EXPECT_EQ(tuning->lcBottomConstraint->constant(), 16);
}

// A profile named with CJK characters, an emoji and a character no font has shows its whole name in
// the screen's title: the label takes the width the name is drawn with on the screen (two pixels a
// point), not the narrower width it has at one.
TEST_F(TuningScreen, ANameOfCJKAnEmojiAndACharacterNoFontHasShowsWholeInTheTitle) {
  // "a中文z中🦋", U+10FFFD, "b".
  const std::string name = "a\xE4\xB8\xAD\xE6\x96\x87z\xE4\xB8\xAD\xF0\x9F\xA6\x8B\xF4\x8F\xBF\xBD" "b";
  auto named = profileFor(41, name, DeviceInputDescription::withPort(*profilestest::phoneMicrophone()));
  service().addProfile(named);
  auto tuning = openTuning(named);
  layout();
  auto title = tuning->lblCurrentInput;
  ASSERT_EQ(title->text(), name);
  ASSERT_EQ(title->contentScaleFactor(), 2);
  NSAttributes a;
  a.font = title->font();
  a.foregroundColor = UIColor::whiteColor();
  const textink::Ink whole = textink::unclippedInk(NSAttributedString(name, a), 2);
  ASSERT_FALSE(whole.empty());
  EXPECT_GE(title->bounds().size.width * 2, whole.columns.last + 1) << "the label is as wide as the name's ink";
  auto image = UICompositor::render(title, 2);
  ASSERT_TRUE(image);
  const textink::Ink drawn = textink::inkIn(*image, 0, 0, image->width(), image->height(), textink::opaqueInk);
  EXPECT_NEAR(drawn.columns.size(), whole.columns.size(), 1) << "the name is drawn whole, its last letter too";
}

TEST_F(TuningScreen, DraggingABandSliderChangesTheCorrectionAndTheLiveLevelsAtOnce) {
  auto tuning = openTuning(mine);
  tap(tuning->btnStartSignal);
  EXPECT_TRUE(tuning->btnStartSignal->isSelected());
  EXPECT_FALSE(tuning->lblDba->isHidden());
  play(1.0);
  const int before = level(tuning, 5);
  const std::string dbaBefore = tuning->lblDba->text().value_or("");
  EXPECT_NE(dbaBefore, "--") << "the dB-A readout follows the shared chart";
  ASSERT_NE(before, 0) << "the 1 kHz band shows the tone's level";
  // Up by a good part of the slider: the 1 kHz correction rises, and so does its level.
  dragBand(tuning, 5, -40);
  const int64_t correction = mine->tuneBands()[5]->fixValue();
  EXPECT_GE(correction, 10);
  EXPECT_EQ(tuning->bandsView->bandSliders()[5]->lblFixValue()->text(), "+" + std::to_string(correction));
  EXPECT_EQ((*SpectrumWrapper::spectrumObject()->currentCalibrationValues())[5]["volume"], correction);
  play(1.0);
  const int after = level(tuning, 5);
  EXPECT_GE(after - before, correction / 2) << "before " << before << ", after " << after;
  EXPECT_LE(after - before, correction + 1);
  // The gain moves every level by its value.
  const int other = level(tuning, 3);
  auto gainSlider = tuning->bandsView->mainGainView()->slider();
  layout();
  const CGRect thumb = gainSlider->convertRectToView(gainSlider->thumbRect(), nullptr);
  auto window = delegate->window();
  window->touchDown({CGRectGetMidX(thumb), CGRectGetMidY(thumb)});
  window->touchMove({CGRectGetMidX(thumb), CGRectGetMidY(thumb) - 30});
  window->touchUp({CGRectGetMidX(thumb), CGRectGetMidY(thumb) - 30});
  const int64_t gain = mine->mainGain()->fixValue();
  ASSERT_GT(gain, 5);
  play(1.0);
  EXPECT_NEAR(level(tuning, 3) - other, gain, 1.5);
  // Off: the level labels hide and the chart stops reporting to the screen.
  tap(tuning->btnStartSignal);
  EXPECT_TRUE(tuning->lblDba->isHidden());
  EXPECT_TRUE(tuning->bandsView->bandSliders()[5]->lblCurrentValue()->isHidden());
  EXPECT_EQ(SpectrumWrapper::spectrumObject()->fftDelegate().lock(), nullptr);
}

TEST_F(TuningScreen, SavingKeepsTheBandsAcrossARestart) {
  auto tuning = openTuning(mine);
  dragBand(tuning, 2, -30);
  dragBand(tuning, 8, 25);
  const int64_t b2 = mine->tuneBands()[2]->fixValue(), b8 = mine->tuneBands()[8]->fixValue();
  ASSERT_GT(b2, 0);
  ASSERT_LT(b8, 0);
  tap(nav()->rightBarButton());  // Save
  settle();
  auto saved = std::dynamic_pointer_cast<UIAlertController>(nav()->presentedViewController());
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->alertTitle(), "Profile saved");
  tap(saved->buttonForAction(*saved->actions()[0]));
  settle();
  EXPECT_EQ(events().back(), "profiles_table_save_profile");
  EXPECT_EQ(service().selectedProfileId(), 40);

  relaunchState();
  InputProfilesService::resetForTesting();
  launchApp();
  auto& again = InputProfilesService::sharedService();
  ASSERT_EQ(again.profiles().size(), 1u);
  EXPECT_EQ(again.profiles()[0]->tuneBands()[2]->fixValue(), b2);
  EXPECT_EQ(again.profiles()[0]->tuneBands()[8]->fixValue(), b8);
}

// The "Profile saved" alert has one OK, and no text field: Return and Escape both close it.
TEST_F(TuningScreen, TheProfileSavedAlertClosesWithReturnOrEscape) {
  openTuning(mine);
  for (void (*key)() : {UIKeyInput::typeReturn, UIKeyInput::typeEscape}) {
    tap(nav()->rightBarButton());  // Save
    settle();
    auto saved = std::dynamic_pointer_cast<UIAlertController>(nav()->presentedViewController());
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->alertTitle(), "Profile saved");
    key();
    settle();
    EXPECT_EQ(nav()->presentedViewController(), nullptr);
  }
}

TEST_F(TuningScreen, ReadoutsAreWholeDecibelsAndOnlyWhileTheSignalIsOn) {
  auto tuning = openTuning(mine);
  tuning->lblDba->setText("--");
  tuning->lblDba->setHidden(true);
  tuning->dbaValue(72.5f);
  settle(0.05);
  EXPECT_EQ(tuning->lblDba->text(), "--") << "off: nothing changes";
  tuning->lblDba->setHidden(false);
  tuning->dbaValue(-0.7f);
  tuning->dbcValue(85.9f);
  settle(0.05);
  EXPECT_EQ(tuning->lblDba->text(), "0");
  EXPECT_EQ(tuning->lblDbc->text(), "85");
  tuning->dbaValue(std::nanf(""));
  settle(0.05);
  EXPECT_EQ(tuning->lblDba->text(), "-130") << "no level reads as the chart's floor";
}

// While the shared chart measures nothing, every live level of the screen reads "--": when its
// input stops delivering, when its server is lost and the new one does not answer, and when the
// signal is turned on in the meantime. The levels come back with the input.
TEST_F(TuningScreen, TheLiveLevelsReadNoLevelWhileTheSharedChartMeasuresNothing) {
  auto tuning = openTuning(mine);
  const auto bands = tuning->bandsView->bandSliders();
  auto expectLevels = [&](bool measured, const char* when) {
    SCOPED_TRACE(when);
    for (const auto& label : {tuning->lblDba, tuning->lblDbc})
      EXPECT_EQ(label->text() == "--", !measured) << label->text().value_or("<none>");
    for (size_t band = 0; band < bands.size(); ++band) {
      const auto shown = bands[band]->lblCurrentValue()->text();
      EXPECT_EQ(shown == "--", !measured || band >= 10) << band << ": " << shown.value_or("<none>");
    }
  };
  tap(tuning->btnStartSignal);
  expectLevels(false, "on, before the first frame");
  play(1.0);
  expectLevels(true, "playing");

  clock.step(SAudioController::kInputSilenceLimit + 0.5);
  expectLevels(false, "the input delivers nothing");
  play(1.0);
  expectLevels(true, "delivering again");

  auto silent = TestAudioInput::create("lost");
  silent->setStartError(kAudioUnitErr_NoConnection);
  AVAudioSession::sharedInstance().setInputBackend(silent);
  AVAudioSession::sharedInstance().postMediaServicesReset();
  clock.step(0.1);
  expectLevels(false, "the server lost");

  // Off, the input back and lost again, on: the screen hears of it as it turns on.
  tap(tuning->btnStartSignal);
  AVAudioSession::sharedInstance().setInputBackend(input);
  AVAudioSession::sharedInstance().postMediaServicesReset();
  play(1.0);
  tuning->lblDba->setText("71");  // what an earlier frame would have left
  AVAudioSession::sharedInstance().setInputBackend(silent);
  AVAudioSession::sharedInstance().postMediaServicesReset();
  clock.step(0.1);
  tap(tuning->btnStartSignal);
  clock.step(0.01);
  expectLevels(false, "turned on while the server is lost");
}

// The levels the screen showed when it last listened are not of now: turned on again, it shows
// none until the shared chart's next frame, and then that frame's. The shared chart itself measures
// on (it was never stopped): its first frame is current.
TEST_F(TuningScreen, TurnedOnAgainItShowsNoLevelUntilTheChartsNextFrame) {
  auto tuning = openTuning(mine);
  const auto bands = tuning->bandsView->bandSliders();
  tap(tuning->btnStartSignal);
  play(1.0);
  ASSERT_NE(tuning->lblDba->text(), "--");
  ASSERT_NE(bands[5]->lblCurrentValue()->text(), "--");
  clock.step(0.2);  // the chart takes the windows counted so far; no sample comes from here
  tap(tuning->btnStartSignal);
  tap(tuning->btnStartSignal);
  clock.step(0.2);
  EXPECT_EQ(tuning->lblDba->text(), "--");
  EXPECT_EQ(tuning->lblDbc->text(), "--");
  for (size_t band = 0; band < bands.size(); ++band)
    EXPECT_EQ(bands[band]->lblCurrentValue()->text(), "--") << band;
  play(0.1);
  EXPECT_NE(tuning->lblDba->text(), "--");
  EXPECT_NE(bands[5]->lblCurrentValue()->text(), "--");
}

TEST_F(TuningScreen, SavingAPredefinedProfileStoresItOnceAtTheEnd) {
  auto front = service().internalPredefinedProfiles()[1];
  auto tuning = openTuning(front);
  tuning->saveProfile();
  settle();
  nav()->presentedViewController()->dismissViewControllerAnimated(false);
  tuning->saveProfile();
  settle();
  ASSERT_EQ(service().profiles().size(), 2u);
  EXPECT_EQ(service().profiles()[0], mine);
  EXPECT_EQ(service().profiles()[1], front);
}

TEST_F(TuningScreen, RouteChangesThatBringOrTakeADeviceLeaveTheScreenAndOverridesDoNot) {
  auto tuning = openTuning(mine);
  auto& session = AVAudioSession::sharedInstance();
  for (auto reason : {AVAudioSessionRouteChangeReasonOverride, AVAudioSessionRouteChangeReasonWakeFromSleep}) {
    session.postRouteChange(reason, "");
    settle();
    EXPECT_EQ(top(), tuning) << reason;
  }
  session.postRouteChange(AVAudioSessionRouteChangeReasonNewDeviceAvailable, "");
  settle();
  EXPECT_NE(top(), tuning);
}

TEST_F(TuningScreen, RemovingDeletesTheProfileAndLeavesAndLeavingKeepsTheChangesInMemory) {
  auto tuning = openTuning(mine);
  dragBand(tuning, 4, -30);
  const int64_t changed = mine->tuneBands()[4]->fixValue();
  nav()->popViewControllerAnimated(false);
  settle();
  EXPECT_EQ(mine->tuneBands()[4]->fixValue(), changed) << "leaving does not restore the corrections";
  EXPECT_EQ((*SpectrumWrapper::spectrumObject()->currentCalibrationValues())[4]["volume"], changed);
  auto predefined = openTuning(service().internalPredefinedProfiles()[0]);
  predefined->removeProfile();
  settle();
  EXPECT_EQ(service().profiles().size(), 1u) << "a predefined profile is not stored";
  EXPECT_NE(top(), predefined);
  auto again = openTuning(mine);
  again->removeProfile();
  settle();
  EXPECT_TRUE(service().profiles().empty());
  EXPECT_EQ(top(), screen());
}

// A phone of 375 × 667 points (1334 pixels) is not below the 6-class.
class TuningScreenOnALargerPhone : public ProfileScreensHarness {
 protected:
  void SetUp() override {
    ProfileScreensHarness::SetUp();
    launchApp({667, 375});
  }
};

TEST_F(TuningScreenOnALargerPhone, TheStoryboardsSpacingsStay) {
  auto tuning = openTuning(profileFor(1, "p", DeviceInputDescription::withPort(*profilestest::phoneMicrophone())));
  EXPECT_EQ(tuning->lcTopConstraint->constant(), 20);
  EXPECT_EQ(tuning->lcButtonTopConstraint->constant(), 30);
  EXPECT_EQ(tuning->lcBottomConstraint->constant(), 30);
}

// A phone of 480 × 320 points (960 pixels) is of no known class: its spacings stay as loaded, and
// they leave the band sliders room to move through the whole range.
class TuningScreenOnASmallerPhone : public ProfileScreensHarness {
 protected:
  void SetUp() override {
    ProfileScreensHarness::SetUp();
    launchApp({480, 320});
  }
};

TEST_F(TuningScreenOnASmallerPhone, TheBandSlidersHaveRoomToMove) {
  auto profile = profileFor(2, "p", DeviceInputDescription::withPort(*profilestest::phoneMicrophone()));
  InputProfilesService::sharedService().addProfile(profile);
  auto tuning = openTuning(profile);
  layout();
  layout();
  auto slider = tuning->bandsView->bandSliders()[5]->slider();
  const double travel = slider->bounds().size.height - slider->thumbSize().height;
  EXPECT_GE(travel, 30) << "a point of travel for every two decibels at least";
  // From the thumb to above the top and to below the bottom: +30 and -30.
  auto window = delegate->window();
  auto drag = [&](double to) {
    const CGRect thumb = slider->convertRectToView(slider->thumbRect(), nullptr);
    const CGPoint from{CGRectGetMidX(thumb), CGRectGetMidY(thumb)};
    const CGRect track = slider->convertRectToView(slider->bounds(), nullptr);
    const double y = to < 0 ? CGRectGetMinY(track) + 1 : CGRectGetMaxY(track) - 1;
    window->touchDown(from);
    window->touchMove({from.x, (from.y + y) / 2});
    window->touchMove({from.x, y});
    window->touchUp({from.x, y});
    layout();
  };
  drag(-1);
  EXPECT_EQ(profile->tuneBands()[5]->fixValue(), 30);
  drag(1);
  EXPECT_EQ(profile->tuneBands()[5]->fixValue(), -30);
}

}  // namespace
