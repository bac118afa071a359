// The chart container: its layout, the settings it forwards, calibration, the order of the frame
// reports, the data tick and the touch markers.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "analysis/BufferManager.h"
#include "analysis/FrequencyWeighting.h"
#include "analysis/NoAudioInputView.h"
#include "analysis/SAudioController.h"
#include "analysis/UISpectrumContainerView.h"
#include "analysis/UISpectrumSonogramScaleView.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/TestAudioInput.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/graphics/EAGLContext.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIWindow.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TextInk.h"

namespace {

// Records every report as a short line, in the order received.
class Recorder : public DataProvideDelegate {
 public:
  std::vector<std::string> events;
  std::vector<Value> lastProvided;
  std::vector<Value> lastTouch;
  std::optional<std::vector<Value>> lastSelected;
  std::vector<float> lastLevels;
  std::vector<Value> lastMaximus;
  float lastPadding = -1;

  void fftValues(const std::vector<float>& levels) override {
    events.push_back("fftValues");
    lastLevels = levels;
  }
  void provideData(const std::vector<Value>& values) override {
    events.push_back("provideData");
    lastProvided = values;
  }
  void maximusArray(const std::vector<Value>& maximus, const std::vector<Value>&, const std::vector<Value>&) override {
    events.push_back("maximusArray");
    lastMaximus = maximus;
  }
  void onTouch(const std::vector<Value>& values) override {
    events.push_back("onTouch");
    lastTouch = values;
  }
  void onTouchEnd() override { events.push_back("onTouchEnd"); }
  void onRemoveMarker() override { events.push_back("onRemoveMarker"); }
  void dbaValue(float) override { events.push_back("dba"); }
  void dbbValue(float) override { events.push_back("dbb"); }
  void dbcValue(float) override { events.push_back("dbc"); }
  void dbzValue(float) override { events.push_back("dbz"); }
  void selectedValues(const std::optional<std::vector<Value>>& values) override {
    events.push_back(values ? "selectedValues" : "selectedValues(none)");
    lastSelected = values;
  }
  void currentLeftPaddingChanged(float padding) override {
    events.push_back("padding");
    lastPadding = padding;
  }
  size_t count(const std::string& name) const { return std::count(events.begin(), events.end(), name); }
};

class LevelsOnly : public FFTValuesDelegate {
 public:
  std::vector<std::string> events;
  void fftValues(const std::vector<float>&) override { events.push_back("fftValues"); }
  void dbaValue(float) override { events.push_back("dba"); }
  void dbcValue(float) override { events.push_back("dbc"); }
};

class ContainerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIScreen::mainScreen().configure({568, 320}, 1);
    EAGLContext::setAvailableForTesting(false);
    input = TestAudioInput::create();
    AVAudioSession::sharedInstance().setInputBackend(input);
    UISpectrumContainerView::resetProvidedLevelMaxima();
  }
  void TearDown() override {
    if (container) {
      container->stopDataProvide();
      container.reset();
    }
    AVAudioSession::sharedInstance().setInputBackend(nullptr);
    EAGLContext::setAvailableForTesting(true);
  }
  void make(double width = 568, double height = 320) {
    container = UISpectrumContainerView::create(CGRectMake(0, 0, width, height));
    recorder = std::make_shared<Recorder>();
  }
  BufferManager* manager() {
    auto controller = container->audioController();
    return controller ? controller->getBufferManagerInstance() : nullptr;
  }
  // Delivers `frames` full frames of a sine at `frequency` into the engine's buffer manager.
  void feed(int frames, double frequency = 1000, double amplitude = 0.1) {
    BufferManager* bm = manager();
    ASSERT_NE(bm, nullptr);
    const uint32_t n = bm->mFFTInputBufferLen;
    std::vector<float> samples(n);
    for (int f = 0; f < frames; ++f) {
      for (uint32_t i = 0; i < n; ++i) {
        samples[i] = static_cast<float>(amplitude * std::sin(2 * M_PI * frequency * (phase_++) / 44100.0));
      }
      input->pushSamples(samples);
    }
  }
  // A flat synthetic spectrum of n bins at `level` dB with one louder bin.
  static std::vector<float> spectrum(size_t n, float level, size_t loudBin, float loud) {
    std::vector<float> s(n, level);
    if (loudBin < n) s[loudBin] = loud;
    return s;
  }

  std::shared_ptr<TestAudioInput> input;
  std::shared_ptr<UISpectrumContainerView> container;
  std::shared_ptr<Recorder> recorder;
  uint64_t phase_ = 0;
};

TEST_F(ContainerTest, GraphModeLayoutOfANarrowContainer) {
  make(300, 200);
  container->setDelegate(recorder);
  container->layoutIfNeeded();
  EXPECT_EQ(container->currentLeftPadding(), 58);
  CGRect r = container->spectrumView()->frame();
  EXPECT_EQ(r, CGRectMake(59, 1, 240, 178));
  EXPECT_EQ(container->sonogramScaleView()->frame(), r);
  EXPECT_EQ(recorder->lastPadding, 58);
  // Told on every computation, changed or not.
  container->getUpdatedSpectrumRect();
  EXPECT_EQ(recorder->count("padding"), 2u);
}

TEST_F(ContainerTest, NewContainerDefaultsAndSonogramLayout) {
  make();
  EXPECT_TRUE(container->needShowScale());
  EXPECT_TRUE(container->sonogramScaleView()->isHidden());
  EXPECT_EQ(container->scaleType(), 1);
  EXPECT_EQ(container->spectrumView()->scaleType(), 1);
  EXPECT_EQ(container->mathParams().window, 0);
  EXPECT_EQ(container->mathParams().frameSize, 0);
  EXPECT_FLOAT_EQ(container->areaParams().minVal, -130);
  EXPECT_TRUE(container->isDataProvideRunning());
  EXPECT_DOUBLE_EQ(container->dataProvideInterval(), 0.05);
  EXPECT_FALSE(container->isStarted());
  EXPECT_EQ(container->spectrumView()->sonogramColors.size(), 4u);
  // The data buffer starts at N/2 of the engine's frames.
  ASSERT_NE(manager(), nullptr);
  EXPECT_EQ(container->fftData().size(), manager()->mFFTInputBufferLen / 2);
  auto bg = container->backgroundColor();
  EXPECT_DOUBLE_EQ(bg->red(), 40 / 255.0);

  container->setSonogramMode(CGSizeMake(45, 5));
  container->layoutIfNeeded();
  EXPECT_FALSE(container->needShowScale());
  EXPECT_FALSE(container->sonogramScaleView()->isHidden());
  EXPECT_EQ(container->spectrumView()->spectrumMode, 1u);
  EXPECT_EQ(container->spectrumView()->frame(), CGRectMake(45, 5, 568, 290));
  container->setGraphMode();
  container->layoutIfNeeded();
  EXPECT_EQ(container->spectrumView()->spectrumMode, 0u);
  EXPECT_TRUE(container->sonogramScaleView()->isHidden());
}

TEST_F(ContainerTest, AContainerNarrowerThanItsAxesGetsAnEmptyChart) {
  make(20, 10);
  container->layoutIfNeeded();
  CGRect r = container->spectrumView()->frame();
  EXPECT_EQ(r.size.width, 0);
  EXPECT_EQ(r.size.height, 0);
}

TEST_F(ContainerTest, SettingsReachTheSpectrumView) {
  make();
  auto view = container->spectrumView();
  container->setAreaParams({-100, 0});
  EXPECT_FLOAT_EQ(view->areaParams().minVal, -100);
  EXPECT_FLOAT_EQ(view->areaParams().maxVal, 0);
  container->setScaleType(3);
  EXPECT_EQ(view->scaleType(), 3);
  container->setGraphType(1);
  EXPECT_EQ(view->graphType(), 1);
  container->setHoldMaximus(true);
  container->setHoldMinimus(true);
  EXPECT_TRUE(view->isHoldMaximum());
  EXPECT_TRUE(view->isHoldMinimum());
  container->setNeedHold(false);  // the same as setHoldMaximus: NO
  EXPECT_FALSE(view->isHoldMaximum());
  EXPECT_TRUE(view->isHoldMinimum());
  auto red = UIColor::redColor();
  container->setMainChartColor(red, 3);
  container->setSupportChartColor(UIColor::greenColor(), 4);
  container->setMarkerColor(UIColor::blueColor(), 5);
  container->setPeakMarkerColor(red, 6);
  container->setMainChartFill(UIColor::blueColor());
  container->setSupportChartFill(red);
  EXPECT_EQ(view->mainChartColor, red);
  EXPECT_FLOAT_EQ(view->mainChartWidth, 3);
  EXPECT_FLOAT_EQ(view->supportChartWidth, 4);
  EXPECT_FLOAT_EQ(view->markerWidth, 5);
  EXPECT_EQ(view->peakMarkerWidth, 6.0f);
  EXPECT_EQ(*view->mainFillColor, *UIColor::blueColor());
  EXPECT_EQ(view->supportFillColor, red);
  container->setNeedFill(true);
  container->setNeedSpline(false);
  container->setNeedPeakMarker(true);
  EXPECT_TRUE(view->needFill);
  EXPECT_FALSE(view->needSpline);
  EXPECT_TRUE(view->needPeakMarker);
  container->setAnimationInterval(0.1);
  EXPECT_DOUBLE_EQ(view->animationInterval(), 0.1);
  container->setSonogramUpdateInterval(0.5);
  EXPECT_DOUBLE_EQ(view->sonogramMinimumUpdateInterval, 0.5);
  container->setSonogramColors({});
  EXPECT_TRUE(view->sonogramColors.empty());
}

TEST_F(ContainerTest, MathParamsRebuildTheEngineAndTheDataBuffer) {
  make();
  container->setMathParams({2, 1024});
  EXPECT_EQ(container->mathParams().window, 2);
  EXPECT_EQ(container->spectrumView()->mathParams().frameSize, 1024);
  ASSERT_NE(manager(), nullptr);
  EXPECT_EQ(manager()->mFFTInputBufferLen, 1024u);
  EXPECT_EQ(container->fftData().size(), 1024u);

  // An absurd frame size is stored and passed on, but allocates nothing here and breaks no tick.
  container->setDelegate(recorder);
  container->setMathParams({0, INT32_MAX});
  EXPECT_EQ(container->mathParams().frameSize, INT32_MAX);
  EXPECT_TRUE(container->fftData().empty());
  if (manager()) {
    feed(2);
    container->provideData();
    EXPECT_EQ(container->fftData().size(), manager()->mFFTInputBufferLen / 2);
  }
}

TEST_F(ContainerTest, CalibrationFromValuesAndFiles) {
  make();
  EXPECT_FALSE(container->currentCalibrationValues().has_value());
  Value points = Value::array({Value{{"frequency", 100.0}, {"volume", 2.0}}, Value{{"frequency", 1000.0}, {"volume", 4.0}}});
  container->setLinearCalibrationValues(points);
  ASSERT_TRUE(container->currentCalibrationValues().has_value());
  EXPECT_EQ(*container->currentCalibrationValues(), points);
  EXPECT_NEAR(container->spectrumView()->currentCalibration->getCorrectionForFrequency(550), 3.0, 1e-4);

  auto path = std::filesystem::temp_directory_path() / "chart-calibration.txt";
  {
    std::ofstream out(path);
    out << "100 1\n1000 3\n10000 2\n";
  }
  container->setSplineCalibrationFile(path.string());
  auto spline = container->currentCalibrationValues();
  ASSERT_TRUE(spline.has_value());
  EXPECT_EQ(spline->size(), 3u);
  EXPECT_NEAR(container->spectrumView()->currentCalibration->getCorrectionForFrequency(1000), 3.0, 1e-3);
  container->setLinearCalibrationFile(path.string());
  EXPECT_NEAR(container->spectrumView()->currentCalibration->getCorrectionForFrequency(5500), 2.5, 1e-3);
  // An unreadable file leaves a calibration that corrects nothing, not a crash.
  container->setLinearCalibrationFile((std::filesystem::temp_directory_path() / "no-such-calibration.txt").string());
  EXPECT_EQ(container->currentCalibrationValues()->size(), 0u);
  EXPECT_EQ(container->spectrumView()->currentCalibration->getCorrectionForFrequency(1000), 0);
  std::filesystem::remove(path);
}

TEST_F(ContainerTest, FrameReportsGoOutInOrder) {
  make();
  container->setDelegate(recorder);
  auto levels = std::make_shared<LevelsOnly>();
  container->setFftDelegate(levels);
  container->spectrumView()->processSpectrum(spectrum(256, -90, 12, -30));
  std::vector<std::string> expected{"fftValues", "selectedValues", "maximusArray", "dba", "dbb", "dbc", "dbz"};
  EXPECT_EQ(recorder->events, expected);
  EXPECT_EQ(levels->events, (std::vector<std::string>{"fftValues", "dba", "dbc"}));
  EXPECT_EQ(recorder->lastLevels.size(), 10u);
  ASSERT_EQ(recorder->lastMaximus.size(), 1u);
  EXPECT_NEAR(recorder->lastMaximus[0]["frequency"].get<double>(), 12 * 86.1328125, 1e-3);
}

TEST_F(ContainerTest, LevelsOnlyListenerGetsLevelsAndNothingElseIsSent) {
  make();
  auto levels = std::make_shared<LevelsOnly>();
  container->setFftDelegate(levels);
  container->spectrumView()->processSpectrum(spectrum(256, -90, 12, -30));
  container->spectrumView()->processSpectrum(spectrum(256, -90, 12, -30));
  EXPECT_EQ(levels->events, (std::vector<std::string>{"fftValues", "dba", "dbc", "fftValues", "dba", "dbc"}));
  // Without a delegate the data tick takes no frame.
  feed(3);
  const int ready = manager()->mFFTFramesReady.load();
  ASSERT_GT(ready, 0);
  container->provideData();
  EXPECT_EQ(manager()->mFFTFramesReady.load(), ready);
}

TEST_F(ContainerTest, DataTickSendsRunningMaximaOfEveryBin) {
  make();
  container->stopDataProvide();
  container->setDelegate(recorder);
  container->provideData();  // nothing ready: nothing sent
  EXPECT_EQ(recorder->count("provideData"), 0u);

  feed(2, 1000, 0.5);
  const int ready = manager()->mFFTFramesReady.load();
  container->provideData();
  EXPECT_EQ(manager()->mFFTFramesReady.load(), ready - 1);
  ASSERT_EQ(recorder->count("provideData"), 1u);
  const size_t half = manager()->mFFTInputBufferLen / 2;
  ASSERT_EQ(recorder->lastProvided.size(), half);
  EXPECT_NEAR(recorder->lastProvided[1]["frequency"].get<double>(), 22050.0 / half, 1e-4);
  const auto loudFrame = UISpectrumContainerView::providedLevelMaxima();
  ASSERT_EQ(loudFrame.size(), half);
  const size_t bin1k = static_cast<size_t>(std::round(1000 / (22050.0 / half)));

  // A quieter tone later: the maxima keep the loud frame's level.
  while (manager()->mFFTFramesReady.load() > 0) container->provideData();
  feed(2, 1000, 0.001);
  container->provideData();
  const auto& maxima = UISpectrumContainerView::providedLevelMaxima();
  EXPECT_FLOAT_EQ(maxima[bin1k], loudFrame[bin1k]);
  EXPECT_FLOAT_EQ(recorder->lastProvided[bin1k]["volume"].get<float>(), loudFrame[bin1k]);
  for (size_t i = 0; i < half; ++i) ASSERT_GE(maxima[i], loudFrame[i]) << i;

  // Maxima started afresh from a quiet frame: the tick's list carries them, record for record, and
  // no level of an earlier tick.
  UISpectrumContainerView::resetProvidedLevelMaxima();
  while (manager()->mFFTFramesReady.load() > 0) container->provideData();
  UISpectrumContainerView::resetProvidedLevelMaxima();
  feed(2, 1000, 0.001);
  container->provideData();
  ASSERT_LT(maxima[bin1k], loudFrame[bin1k] - 20);
  ASSERT_EQ(recorder->lastProvided.size(), half);
  for (size_t i = 0; i < half; ++i) {
    const Value expected{{"frequency", FrequencyWeighting::binFrequency(i, half)}, {"volume", maxima[i]}};
    ASSERT_EQ(recorder->lastProvided[i], expected) << i;
  }
}

TEST_F(ContainerTest, DataTickSizesItsBufferFromTheFrameItTakes) {
  make();
  container->stopDataProvide();
  container->setDelegate(recorder);
  container->setMathParams({0, 512});
  feed(2);
  container->provideData();
  EXPECT_EQ(UISpectrumContainerView::providedLevelMaxima().size(), 256u);
  // The stored frame size says 512 floats; the frame taken has 256 values, and so has the buffer.
  EXPECT_EQ(container->fftData().size(), 256u);

  // A new frame length replaces the maxima with fresh entries of the new length.
  container->setMathParams({0, 1024});
  feed(2);
  container->provideData();
  EXPECT_EQ(UISpectrumContainerView::providedLevelMaxima().size(), 512u);
  EXPECT_EQ(recorder->lastProvided.size(), 512u);
}

TEST_F(ContainerTest, DataTimerRunsOnTheMainRunLoop) {
  testsupport::ManualClock clock;
  make();
  container->setDelegate(recorder);
  container->startDataProvide();  // restarted on the manual clock
  // The view's frame timer takes frames too (whichever timer finds one first), one between two
  // data ticks here: new windows come before every tick.
  feed(20);
  clock.step(0.049);
  EXPECT_EQ(recorder->count("provideData"), 0u);
  clock.step(0.002);
  EXPECT_EQ(recorder->count("provideData"), 1u);
  for (int tick = 0; tick < 2; ++tick) {
    feed(20);
    clock.step(0.05);
  }
  EXPECT_EQ(recorder->count("provideData"), 3u);

  container->setDataProvideInterval(0.2);  // restarts the timer with the new period
  clock.step(0.19);
  feed(20);
  EXPECT_EQ(recorder->count("provideData"), 3u);
  clock.step(0.02);
  EXPECT_EQ(recorder->count("provideData"), 4u);
  container->setDataProvideInterval(-1);  // refused
  EXPECT_DOUBLE_EQ(container->dataProvideInterval(), 0.2);

  container->stopDataProvide();
  feed(2);
  clock.step(1);
  EXPECT_EQ(recorder->count("provideData"), 4u);
}

TEST_F(ContainerTest, ADroppedContainerStopsTicking) {
  testsupport::ManualClock clock;
  make();
  container->setDelegate(recorder);
  container->startDataProvide();
  std::weak_ptr<UISpectrumContainerView> weak = container;
  container.reset();
  EXPECT_TRUE(weak.expired());
  clock.step(0.2);  // the timer finds no container and ends itself
  EXPECT_EQ(recorder->count("provideData"), 0u);
}

TEST_F(ContainerTest, NoAudioInputIsShownOverTheChartWhichKeepsDrawingUntilTheInputReturns) {
  testsupport::ManualClock clock;
  input->setStartError(kAudioUnitErr_NoConnection);  // no audio server
  make();
  container->setDelegate(recorder);
  container->startAnimation("");
  container->layoutIfNeeded();
  const auto overlay = container->noAudioInputView();
  ASSERT_NE(overlay, nullptr);
  EXPECT_FALSE(overlay->isHidden());
  EXPECT_EQ(overlay->frame(), container->spectrumView()->frame()) << "over the plot, not the axes";
  EXPECT_EQ(container->subviews().back(), overlay) << "above the plot and the sonogram scale";
  EXPECT_EQ(overlay->reason(), container->audioInputProblem());
  EXPECT_NE(overlay->reason().find("audio server unavailable (-10876)"), std::string::npos) << overlay->reason();

  // Drawn: the plot area is dimmed and the title is white text in its middle.
  auto image = UICompositor::render(container);
  ASSERT_NE(image, nullptr);
  const CGRect plot = overlay->frame();
  const auto title = overlay->titleLine();
  EXPECT_EQ(title.text, "No audio input");
  int white = 0;
  for (int x = int(title.origin.x); x < int(title.origin.x + title.size.width); ++x)
    for (int y = int(title.origin.y); y < int(title.origin.y + title.size.height); ++y)
      white += image->pixel(int(plot.origin.x) + x, int(plot.origin.y) + y).r > 200;
  EXPECT_GT(white, 30);
  const auto corner = image->pixel(int(plot.origin.x) + 3, int(plot.origin.y) + 3);
  const auto axes = image->pixel(2, 2);  // the container's own background, not dimmed
  EXPECT_LT(corner.r, axes.r);

  // The chart keeps its timers (it keeps drawing); the engine keeps trying.
  EXPECT_TRUE(container->spectrumView()->isAnimating());
  EXPECT_TRUE(container->isDataProvideRunning());
  clock.step(2.5);
  EXPECT_FALSE(overlay->isHidden());

  input->setStartError(noErr);  // the server answers again
  clock.step(1.0);
  EXPECT_FALSE(overlay->isHidden()) << "until its first samples";
  feed(2);
  clock.step(0.25);
  EXPECT_TRUE(overlay->isHidden());
  EXPECT_TRUE(container->audioInputProblem().empty());
  feed(2);
  clock.step(0.2);
  EXPECT_GT(recorder->count("maximusArray"), 0u) << "frames are analysed again";
}

// The reason is centred by the width it is drawn with on the screen (two pixels a point): a reason
// of CJK characters, an emoji and a character no font has is wider there than at a scale of 1.
TEST(NoAudioInputLines, TheReasonIsCentredByTheWidthItIsDrawnWith) {
  UIScreen::mainScreen().configure({568, 320}, 2);
  // "a中文z中🦋", U+10FFFD, "b", twice.
  const std::string mixed = "a\xE4\xB8\xAD\xE6\x96\x87z\xE4\xB8\xAD\xF0\x9F\xA6\x8B\xF4\x8F\xBF\xBD" "b";
  const std::string reason = mixed + " " + mixed;
  auto view = std::make_shared<NoAudioInputView>(CGRectMake(0, 0, 400, 200));
  view->setReason(reason);
  const auto line = view->reasonLine();
  NSAttributes a;
  a.font = UIFont::systemFontOfSize(11);  // the reason's font
  a.foregroundColor = UIColor::whiteColor();
  const NSAttributedString text(reason, a);
  auto bitmap = CGBitmapContext::create(1, 1, 2);
  const double drawnWidth = text.size(0, bitmap->context()).width;
  EXPECT_EQ(line.size.width, drawnWidth) << "measured as drawn at the view's scale";

  auto image = UICompositor::render(view, 2);
  ASSERT_TRUE(image);
  // The reason's light ink over the dimmed plot, on the reason's rows only.
  auto light = [](const CGBitmapContext::RGBA& p) { return p.r >= 100; };
  const textink::Ink drawn = textink::inkIn(*image, 0, int(line.origin.y * 2), image->width(),
                                            int(std::ceil(line.size.height * 2)), light);
  const textink::Ink whole = textink::unclippedInk(text, 2);
  ASSERT_FALSE(whole.empty());
  EXPECT_NEAR(drawn.columns.size(), whole.columns.size(), 1);
  EXPECT_NEAR(drawn.columns.first, (400 - drawnWidth) + whole.columns.first, 1.5) << "centred in the view";
}

TEST_F(ContainerTest, StartAndStopMarkTheContainer) {
  make();
  container->startAnimation("");
  EXPECT_TRUE(container->isStarted());
  EXPECT_TRUE(container->spectrumView()->isAnimating());
  container->pauseAnimation();
  EXPECT_FALSE(container->isStarted());
  EXPECT_FALSE(container->spectrumView()->isAnimating());
  container->startAnimation("");
  container->stopAnimation();
  EXPECT_FALSE(container->isStarted());
  // A relayout restarts the frame timer only while started.
  container->setNeedsLayout();
  container->layoutIfNeeded();
  EXPECT_FALSE(container->spectrumView()->isAnimating());
  container->startAnimation("");
  container->setNeedsLayout();
  container->layoutIfNeeded();
  EXPECT_TRUE(container->spectrumView()->isAnimating());
  // No file player: the position reads as the engine says and setting it changes nothing.
  container->setCurrentPositionPercent(50);
  EXPECT_EQ(container->getCurrentPositionPercent(), -1.0f);
}

class ContainerTouchTest : public ContainerTest {
 protected:
  void SetUp() override {
    ContainerTest::SetUp();
    window = std::make_shared<UIWindow>(CGRectMake(0, 0, 568, 320));
    make();
    window->addSubview(container);
    window->layoutPass();
    container->setDelegate(recorder);
    view = container->spectrumView();
    // The renderbuffer size the mapping uses; without GL the view keeps none of its own.
    view->backingWidth = static_cast<int32_t>(view->frame().size.width);
    view->backingHeight = static_cast<int32_t>(view->frame().size.height);
  }
  void TearDown() override {
    window.reset();
    ContainerTest::TearDown();
  }
  void frame() { view->processSpectrum(spectrum(256, -80, 40, -20)); }
  std::shared_ptr<UIWindow> window;
  std::shared_ptr<UISpectrumView> view;
};

TEST_F(ContainerTouchTest, TouchWithNoSeriesSendsAnEmptyListAndStillSetsTheMarker) {
  const float L = container->currentLeftPadding();
  window->touchDown({L + 100, 100});
  ASSERT_EQ(recorder->events, (std::vector<std::string>{"onTouch"}));
  EXPECT_TRUE(recorder->lastTouch.empty());
  EXPECT_FLOAT_EQ(view->getCurrentX(), 100);
}

TEST_F(ContainerTouchTest, ReadingsAtTheTouchAndEveryFrameAfter) {
  frame();
  frame();
  recorder->events.clear();
  // Odd pixels: the line trace has a display point on every even one, between which it snaps.
  const float L = container->currentLeftPadding();
  window->touchDown({L + 201, 100});
  ASSERT_EQ(recorder->count("onTouch"), 1u);
  ASSERT_EQ(recorder->lastTouch.size(), 1u);
  EXPECT_TRUE(view->isMarkerVisible());
  EXPECT_FLOAT_EQ(recorder->lastTouch[0]["volume"].get<float>(), -80);

  container->setHoldMaximus(true);
  frame();
  frame();
  window->touchMove({L + 201, 100});
  ASSERT_EQ(recorder->lastTouch.size(), 2u);  // current, then held maximum
  EXPECT_FLOAT_EQ(recorder->lastTouch[1]["volume"].get<float>(), -80);
  window->touchUp({L + 201, 100});
  EXPECT_EQ(recorder->events.back(), "onTouchEnd");

  recorder->events.clear();
  frame();
  ASSERT_TRUE(recorder->lastSelected.has_value());
  EXPECT_EQ(recorder->lastSelected->size(), 2u);
  EXPECT_EQ(recorder->events[1], "selectedValues");
  EXPECT_FLOAT_EQ(view->getCurrentX(), 201);
}

TEST_F(ContainerTouchTest, MovingLeftOfTheAxisRemovesTheMarker) {
  frame();
  frame();
  const float L = container->currentLeftPadding();
  window->touchDown({L + 101, 100});
  ASSERT_TRUE(view->isMarkerVisible());
  recorder->events.clear();
  window->touchMove({L - 20, 100});
  EXPECT_LT(view->getCurrentX(), 0);
  EXPECT_FALSE(view->isMarkerVisible());
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"onTouch", "onRemoveMarker"}));
}

TEST_F(ContainerTouchTest, FrameWithoutAValueAtTheMarkerSendsNone) {
  // No series yet: nothing can be read at the marker.
  EXPECT_FALSE(container->getCurrentValues().has_value());
  container->setMaximus({}, {}, {}, 0, 0, 0, 0);
  ASSERT_FALSE(recorder->events.empty());
  EXPECT_EQ(recorder->events.front(), "selectedValues(none)");
}

}  // namespace
