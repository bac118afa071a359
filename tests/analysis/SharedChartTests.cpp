// The shared chart reached by class name: one per process, its preset, its calibration apart from
// every other chart, its overall gain, and the recorder bridge that finds no recorder.
#include <gtest/gtest.h>

#include <cmath>

#include "analysis/BufferManager.h"
#include "analysis/RecorderWrapper.h"
#include "analysis/SAudioController.h"
#include "analysis/SpectrumWrapper.h"
#include "analysis/vlxSpectrum.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/TestAudioInput.h"
#include "platform/graphics/EAGLContext.h"
#include "platform/uikit/UIScreen.h"

namespace {

class SharedChart : public ::testing::Test {
 protected:
  void SetUp() override {
    EAGLContext::setAvailableForTesting(false);
    input = TestAudioInput::create("shared-chart");
    AVAudioSession::sharedInstance().setInputBackend(input);
    vlxSpectrum::resetForTesting();
  }
  void TearDown() override {
    vlxSpectrum::resetForTesting();
    AVAudioSession::sharedInstance().setInputBackend(nullptr);
    EAGLContext::setAvailableForTesting(true);
    UIScreen::mainScreen().configure({568, 320}, 2);
  }
  std::shared_ptr<TestAudioInput> input;
};

class Levels : public FFTValuesDelegate {
 public:
  std::vector<float> octaves;
  float dba = NAN;
  void fftValues(const std::vector<float>& levels) override { octaves = levels; }
  void dbaValue(float value) override { dba = value; }
};

TEST_F(SharedChart, OneChartIsMadeOnFirstUseAndFoundByName) {
  auto a = SpectrumWrapper::spectrumObject();
  auto b = SpectrumWrapper::spectrumObject();
  ASSERT_TRUE(a);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, vlxSpectrum::sharedInstance());
  EXPECT_EQ(a->frame(), CGRectMake(0, 0, 568, 100));
  EXPECT_EQ(a->window(), nullptr) << "never placed in a window";
  EXPECT_TRUE(a->spectrumView()->isAnimating()) << "its analysis runs from its making";
  // A new initWithFrame: makes a new shared instance.
  auto c = vlxSpectrum::initWithFrame(CGRectMake(0, 0, 10, 10));
  EXPECT_EQ(vlxSpectrum::sharedInstance(), c);
  EXPECT_NE(c, a);
}

TEST_F(SharedChart, ThePresetStylesTheChartAndSetsTheFrameSizeOnlyOnTheSmallPhones) {
  UIScreen::mainScreen().configure({320, 568}, 2);
  auto chart = vlxSpectrum::sharedInstance();
  EXPECT_EQ(chart->mathParams().frameSize, 512);
  EXPECT_EQ(chart->mathParams().window, 0);
  EXPECT_EQ(chart->scaleType(), 1);
  EXPECT_EQ(chart->graphType(), 0);
  EXPECT_TRUE(chart->spectrumView()->isHoldMaximum());
  EXPECT_FALSE(chart->spectrumView()->isHoldMinimum());
  EXPECT_FALSE(chart->spectrumView()->needSpline);
  EXPECT_TRUE(chart->spectrumView()->needFill);
  EXPECT_EQ(*chart->spectrumView()->barsColor, UIColor(0xC9 / 255.0, 0x36 / 255.0, 0x42 / 255.0, 1));
  EXPECT_EQ(chart->axisLablesFont->fontName(), "HelveticaNeueCyr-UltraLight");
  EXPECT_EQ(chart->axisVerticalLablesFont->pointSize(), 10);
  EXPECT_EQ(chart->backgroundColor()->alpha(), 0);
  vlxSpectrum::resetForTesting();
  UIScreen::mainScreen().configure({375, 812}, 3);
  auto tall = vlxSpectrum::sharedInstance();
  EXPECT_EQ(tall->mathParams().frameSize, 0) << "the container's own default";
  EXPECT_EQ(tall->spectrumView()->mathParams().frameSize, 512) << "the view keeps its set-up";
}

TEST_F(SharedChart, ItsCalibrationComesBackUnchangedAndLeavesOtherChartsAlone) {
  auto other = UISpectrumContainerView::create(CGRectMake(0, 0, 568, 320));
  auto chart = SpectrumWrapper::spectrumObject();
  const Value values = Value::array({Value{{"frequency", 1000}, {"volume", 3}, {"phase", 0}},
                                     Value{{"frequency", 2000}, {"volume", -2}, {"phase", 0}}});
  chart->setLinearCalibrationValues(values);
  EXPECT_EQ(chart->currentCalibrationValues(), values);
  EXPECT_EQ(other->currentCalibrationValues(), std::nullopt);
  other->stopAnimation();
  other->stopDataProvide();
}

TEST_F(SharedChart, TheOverallGainMovesEveryLevelOfThisChartOnly) {
  auto chart = SpectrumWrapper::spectrumObject();
  auto levels = std::make_shared<Levels>();
  chart->setFftDelegate(levels);
  auto frame = [&] {
    BufferManager* bm = chart->audioController()->getBufferManagerInstance();
    std::vector<float> samples(bm->mFFTInputBufferLen);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = float(0.1 * std::sin(2 * M_PI * 1000 * double(i) / 44100));
    for (int k = 0; k < 20; ++k) {  // past the averaging of the last spectra
      input->pushSamples(samples);
      chart->spectrumView()->invalidate();
    }
    return levels->octaves;
  };
  const auto plain = frame();
  ASSERT_EQ(plain.size(), 10u);
  chart->setGlobalCalibrationCoefficient(-12);
  const auto lowered = frame();
  for (size_t k = 0; k < plain.size(); ++k) EXPECT_NEAR(lowered[k], plain[k] - 12, 0.01) << k;
  chart->resetGlobalCalibrationCoefficient();
  EXPECT_EQ(chart->globalCalibrationCoefficient(), std::nullopt);
  EXPECT_NEAR(frame()[5], plain[5], 0.01);
}

TEST_F(SharedChart, TurningActsOnTheSharedChartAndTheWatchFlagIsKept) {
  auto chart = vlxSpectrum::sharedInstance();
  vlxSpectrum stranger(CGRectZero);
  stranger.rotateRightWithFrame(CGRectMake(0, 0, 100, 300));
  const CGAffineTransform t = chart->transform(), turned = CGAffineTransformMakeRotation(-M_PI / 2);
  EXPECT_DOUBLE_EQ(t.a, turned.a);
  EXPECT_DOUBLE_EQ(t.b, turned.b);
  EXPECT_EQ(chart->spectrumView()->frame(), CGRectMake(0, 0, 100, 300));
  EXPECT_FALSE(vlxSpectrum::isWatchSession());
  vlxSpectrum::setupIsWatchSession();
  EXPECT_TRUE(vlxSpectrum::isWatchSession());
  vlxSpectrum::setupIsForeground();
  EXPECT_FALSE(vlxSpectrum::isWatchSession());
}

TEST(RecorderBridge, ThereIsNoRecorderToFind) {
  EXPECT_EQ(RecorderWrapper::recorderObject(), nullptr);
  EXPECT_EQ(RecorderWrapper::calibratedValue(), 0);
  RecorderWrapper::sendFixesArray(Value::array({1, 2}));
}

}  // namespace
