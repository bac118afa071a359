// The vertical slider's arithmetic and touches, the band sliders' scale and titles, and the tuning
// view's layout and live calibration of the shared chart.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "analysis/SpectrumWrapper.h"
#include "analysis/vlxSpectrum.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSException.h"
#include "platform/uikit/UIWindow.h"
#include "profiles/BandsTuneView.h"
#include "tests/profiles/ProfilesHarness.h"

namespace {

using namespace profilestest;

// A window holding one view at a frame, to touch it through.
struct Stage {
  std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRectMake(0, 0, 700, 400));
  explicit Stage(const UIViewRef& view) {
    window->addSubview(view);
    window->layoutPass();
    window->layoutPass();
  }
  CGPoint at(const UIViewRef& view, double x, double y) { return view->convertPointToView({x, y}, nullptr); }
};

using VerticalSliders = ProfilesTest;

TEST_F(VerticalSliders, PositionsFollowTheValueOverTheTravelOfTheThumb) {
  auto slider = std::make_shared<VerticalSlider>(CGRectMake(0, 0, 40, 200));
  EXPECT_EQ(slider->thumbOffset(), 16);
  EXPECT_EQ(slider->yForValue(0.5), 100);
  EXPECT_EQ(slider->yForValue(1.0), 16);
  EXPECT_EQ(slider->yForValue(0.0), 184);
  EXPECT_EQ(slider->valueForY(100), 0.5);
  slider->setValue(0.5);
  EXPECT_EQ(slider->thumbRect(), CGRectMake(4, 84, 32, 32));
  slider->setValue(2.0);
  EXPECT_EQ(slider->value(), 1.0);
  slider->setValue(-1);
  EXPECT_EQ(slider->value(), 0.0);
  slider->setValue(NAN);
  EXPECT_EQ(slider->value(), 0.0) << "a non-finite value is not taken";
  // minValue does not enter the mapping: 0.2 stands at a fifth of the travel from the bottom.
  slider->setMinValue(0.2);
  slider->setValue(0.2);
  EXPECT_NEAR(CGRectGetMidY(slider->thumbRect()), 184 - 0.2 * 168, 1e-9);
  // The offset is fixed the first time it is read: a bigger thumb draws bigger on the same travel.
  slider->setThumbSize({40, 40});
  slider->updateThumbRect();
  EXPECT_EQ(slider->thumbOffset(), 16);
  EXPECT_EQ(slider->thumbRect().size, CGSizeMake(40, 40));
  EXPECT_EQ(slider->yForValue(1.0), 16);
}

TEST_F(VerticalSliders, TouchesSetTheValuePinItAtTheEndsAndAlwaysSendAnEvent) {
  auto slider = std::make_shared<VerticalSlider>(CGRectMake(10, 10, 40, 200));
  Stage stage(slider);
  int events = 0;
  slider->addAction([&](UIControl&) { ++events; }, UIControlEventValueChanged);
  stage.window->touchDown(stage.at(slider, 20, 100));
  EXPECT_EQ(slider->value(), 0.5);
  stage.window->touchMove(stage.at(slider, 20, -50));
  EXPECT_EQ(slider->value(), 1.0) << "above the top: held at the top";
  stage.window->touchMove(stage.at(slider, 20, 400));
  EXPECT_EQ(slider->value(), 0.0) << "below the bottom: held at the bottom";
  stage.window->touchMove(stage.at(slider, 20, 16));  // exactly the top: nothing changes
  EXPECT_EQ(slider->value(), 0.0);
  stage.window->touchUp(stage.at(slider, 20, 16));
  EXPECT_EQ(events, 4) << "a touch-down and three moves";
}

TEST_F(VerticalSliders, WithoutRoomToMoveOrARangeTheValueStays) {
  auto flat = std::make_shared<VerticalSlider>(CGRectMake(10, 10, 40, 32));  // height = two offsets
  Stage stage(flat);
  flat->setValue(0.3);
  int events = 0;
  flat->addAction([&](UIControl&) { ++events; }, UIControlEventValueChanged);
  stage.window->touchDown(stage.at(flat, 20, 5));
  stage.window->touchUp(stage.at(flat, 20, 5));
  EXPECT_EQ(flat->value(), 0.3);
  EXPECT_EQ(events, 1);
  EXPECT_EQ(flat->valueForY(5), std::nullopt);
  auto zero = std::make_shared<VerticalSlider>(CGRectMake(0, 0, 40, 200));
  zero->setMaxValue(0);
  EXPECT_EQ(zero->yForValue(0), std::nullopt);
  zero->updateThumbRect();
  EXPECT_TRUE(std::isfinite(zero->thumbRect().origin.y));
  EXPECT_EQ(zero->valueForY(50), 0.0) << "a zero range maps every height to 0, the bottom";
}

TEST_F(VerticalSliders, ASliderNeedsItsNamedColours) {
  const std::string dir = std::filesystem::temp_directory_path() / "sa-no-colours";
  std::filesystem::create_directories(dir);
  NSBundle::setMainBundlePathForTesting(dir);
  EXPECT_THROW(VerticalSlider(), NSException);
  NSBundle::setMainBundlePathForTesting("");
  EXPECT_NO_THROW(VerticalSlider());
}

// ---- Band sliders ----

using BandSliders = ProfilesTest;

TEST_F(BandSliders, TitlesNameTheFrequencyInHertzOrThousands) {
  const std::pair<int64_t, const char*> cases[] = {{30, "30"},   {999, "999"},   {1000, "1k"},   {2000, "2k"},
                                                   {16000, "16k"}, {20000, "20k"}, {1250, "1,2k"}, {1500, "1,5k"}};
  for (const auto& [f, title] : cases) {
    BandSliderView view(CGRectZero, std::make_shared<SoundTuneBandModel>(f, 0, 0));
    EXPECT_EQ(view.bandTitle(), title);
  }
  EXPECT_EQ(BandSliderView().bandTitle(), "");
  EXPECT_EQ(MainBandSliderView().bandTitle(), "GAIN");
}

TEST_F(BandSliders, EveryWholeCorrectionSurvivesTheSliderScale) {
  for (int64_t c = -30; c <= 30; ++c) {
    EXPECT_EQ(BandSliderView::correctionForSliderValue(BandSliderView::sliderValueForCorrection(c)), c);
  }
  EXPECT_EQ(BandSliderView::correctionForSliderValue(0.51), 0) << "truncated toward zero";
  EXPECT_EQ(BandSliderView::correctionForSliderValue(0.49), 0);
  EXPECT_EQ(BandSliderView::correctionForSliderValue(NAN), 0);
}

class Recorder : public BandSliderViewDelegate {
 public:
  std::vector<int64_t> corrections;
  void bandSliderValueChanged(BandSliderView&, int64_t c) override { corrections.push_back(c); }
};

TEST_F(BandSliders, DraggingWritesTheCorrectionIntoTheBandTheLabelAndTheDelegate) {
  auto band = std::make_shared<SoundTuneBandModel>(1000, 5, 0);
  auto view = std::make_shared<BandSliderView>(CGRectMake(0, 0, 50, 260), band);
  auto recorder = std::make_shared<Recorder>();
  view->delegate = recorder;
  view->setSliderCorrection(band->fixValue());
  Stage stage(view);
  EXPECT_EQ(view->lblFixValue()->text(), "+5") << "the first layout applies the band's correction";
  EXPECT_EQ(recorder->corrections, std::vector<int64_t>{5});
  auto slider = view->slider();
  const CGRect s = slider->frame();
  stage.window->touchDown(stage.at(view, 25, CGRectGetMidY(s)));  // on the slider
  stage.window->touchMove(stage.at(view, 25, s.origin.y - 30));    // up past its top
  EXPECT_EQ(band->fixValue(), 30);
  EXPECT_EQ(view->lblFixValue()->text(), "+30");
  stage.window->touchMove(stage.at(view, 25, CGRectGetMaxY(s) + 30));
  EXPECT_EQ(band->fixValue(), -30);
  EXPECT_EQ(view->lblFixValue()->text(), "-30");
  stage.window->touchMove(stage.at(view, 25, CGRectGetMidY(s)));
  stage.window->touchUp(stage.at(view, 25, CGRectGetMidY(s)));
  EXPECT_EQ(band->fixValue(), 0);
  EXPECT_EQ(view->lblFixValue()->text(), "0");
  EXPECT_EQ(recorder->corrections.back(), 0);
  // The level label shows levels only while it is visible, and no level before one is measured.
  view->showCurrentValue(72);
  EXPECT_EQ(view->lblCurrentValue()->text(), "--");
  view->setCurrentValueHidden(false);
  view->showCurrentValue(72);
  EXPECT_EQ(view->lblCurrentValue()->text(), "72");
}

// ---- The tuning view ----

class TuningView : public ProfilesTest {
 protected:
  std::shared_ptr<BandsTuneView> tuned(double width, std::vector<int64_t> corrections, int64_t gain) {
    auto view = std::make_shared<BandsTuneView>(CGRectMake(0, 0, width, 260));
    profile = profileWith(1, "p", nullptr, corrections, gain);
    view->setBands(profile->tuneBands(), profile->mainGain());
    return view;
  }
  InputProfileRef profile;
};

TEST_F(TuningView, SlidersAreAsWideAsTheViewAllowsAndTheStackScrollsBelow47Points) {
  auto wide = tuned(600, std::vector<int64_t>(11, 0), 0);
  Stage stage(wide);
  auto sliders = wide->bandSliders();
  ASSERT_EQ(sliders.size(), 11u);
  EXPECT_EQ(sliders[0]->frame().size.width, 50);
  EXPECT_EQ(wide->mainGainView()->frame().size.width, 47);
  auto narrow = tuned(400, std::vector<int64_t>(11, 0), 0);
  Stage other(narrow);
  EXPECT_EQ(narrow->bandSliders()[0]->frame().size.width, 47);
  EXPECT_EQ(narrow->scrollView()->contentSize().width, 11 * 47);
  EXPECT_GT(narrow->scrollView()->maximumContentOffset().x, 0) << "it scrolls";
}

TEST_F(TuningView, CorrectionsAndGainReachTheSharedChartAndSurviveRebuilds) {
  auto view = tuned(600, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, -7);
  Stage stage(view);
  auto chart = SpectrumWrapper::spectrumObject();
  EXPECT_EQ(chart->currentCalibrationValues(), profile->calibrationValues());
  EXPECT_EQ(chart->globalCalibrationCoefficient(), -7);
  // Moving the gain changes only the gain.
  auto gain = view->mainGainView();
  const CGRect track = gain->slider()->convertRectToView(gain->slider()->bounds(), nullptr);
  stage.window->touchDown({CGRectGetMidX(track), CGRectGetMidY(track)});
  stage.window->touchMove({CGRectGetMidX(track), track.origin.y - 20});
  stage.window->touchUp({CGRectGetMidX(track), track.origin.y - 20});
  EXPECT_EQ(profile->mainGain()->fixValue(), 30);
  EXPECT_EQ(chart->globalCalibrationCoefficient(), 30);
  EXPECT_EQ(chart->currentCalibrationValues(), profile->calibrationValues());
  // A band's move changes the profile's own band and the chart's values.
  auto band = view->bandSliders()[5]->slider();
  const CGRect t = band->convertRectToView(band->bounds(), nullptr);
  stage.window->touchDown({CGRectGetMidX(t), CGRectGetMidY(t)});
  stage.window->touchMove({CGRectGetMidX(t), CGRectGetMaxY(t) + 20});
  stage.window->touchUp({CGRectGetMidX(t), CGRectGetMaxY(t) + 20});
  EXPECT_EQ(profile->tuneBands()[5]->fixValue(), -30);
  EXPECT_EQ((*chart->currentCalibrationValues())[5]["volume"], -30);
  // A rebuild makes new sliders from the same bands.
  view->reloadSliders();
  stage.window->layoutPass();
  EXPECT_EQ(view->bandSliders()[5]->lblFixValue()->text(), "-30");
  EXPECT_EQ(view->freqBands()[5], profile->tuneBands()[5]);
}

TEST_F(TuningView, LevelsFillTheFirstTenSlidersWhileTheirLabelsShow) {
  auto view = tuned(600, std::vector<int64_t>(11, 0), 0);
  Stage stage(view);
  view->setValuesFieldsIsHidden(false);
  view->setCurrentValues({60, 61, 62, 63, 64, 65, 66, 67, 68, 69});
  auto sliders = view->bandSliders();
  EXPECT_EQ(sliders[0]->lblCurrentValue()->text(), "60");
  EXPECT_EQ(sliders[9]->lblCurrentValue()->text(), "69");
  EXPECT_EQ(sliders[10]->lblCurrentValue()->text(), "--") << "the 20 kHz band never shows a level";
  EXPECT_TRUE(view->mainGainView()->lblCurrentValue()->isHidden());
  view->setCurrentValues({1, 2});
  EXPECT_EQ(sliders[1]->lblCurrentValue()->text(), "2");
  EXPECT_EQ(sliders[2]->lblCurrentValue()->text(), "62") << "a shorter list fills only its entries";
  view->showNoCurrentValues();
  for (const auto& slider : sliders) EXPECT_EQ(slider->lblCurrentValue()->text(), "--");
  view->setSlidersEnabled(false);
  EXPECT_FALSE(sliders[3]->isUserInteractionEnabled());
  EXPECT_TRUE(view->mainGainView()->isUserInteractionEnabled());
}

TEST_F(TuningView, WithoutBandsThereIsNoGainSliderAndNothingReachesTheChart) {
  auto view = std::make_shared<BandsTuneView>(CGRectMake(0, 0, 600, 260));
  view->setBands({}, nullptr);
  Stage stage(view);
  EXPECT_TRUE(view->bandSliders().empty());
  EXPECT_EQ(view->mainGainView(), nullptr);
  EXPECT_EQ(view->mainGainBand(), nullptr);
  auto chart = SpectrumWrapper::spectrumObject();
  EXPECT_EQ(chart->globalCalibrationCoefficient(), std::nullopt);
}

}  // namespace
