// The bottom bar: every button's cycle in every mode, driven by taps through the window, the
// FFT sizes per screen, start/stop, maximise and the aim.
#include "analysis/UISpectrumView.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIWindow.h"
#include "tests/app/AppHarness.h"
#include "tests/support/ManualClock.h"

namespace {

std::string secondLine(const std::shared_ptr<UIButtonWithTwoLabels>& button) {
  auto title = button->currentAttributedTitle();
  if (!title) return "";
  auto nl = title->string().find('\n');
  return nl == std::string::npos ? "" : title->string().substr(nl + 1);
}

class ControlsTest : public AppHarness {
 protected:
  void launchIn(const char* mode, CGSize size = {568, 320}) {
    defaults()->setObject(Value(mode), "CURRENT_TYPE");
    defaults()->synchronize();
    launch(size);
  }
  std::string str(const char* key) { return defaults()->stringForKey(key).value_or("<none>"); }
  // The stored value after the write: read back from disk, as the next launch would.
  Value onDisk(const char* key) {
    NSUserDefaults::resetForTesting();
    return defaults()->objectForKey(key).value_or(Value());
  }
};

TEST_F(ControlsTest, WindowButtonCyclesTheSixWindowsInFFTAndSonogramMode) {
  for (const char* mode : {"fft", "sonogram"}) {
    SCOPED_TRACE(mode);
    launchIn(mode);
    auto s = screen();
    const std::pair<const char*, int> cycle[] = {{"Hanning", 1}, {"Hamming", 2}, {"Cosine", 4},
                                                 {"Lanczos", 5}, {"Blackman", 6}, {"Rectangle", 0}};
    for (const auto& [name, number] : cycle) {
      tap(s->btnGraph);
      EXPECT_EQ(onDisk("FFT_WINDOW"), Value(name));
      EXPECT_EQ(s->spectrumView->mathParams().window, number);
      EXPECT_EQ(s->spectrumView->mathParams().frameSize, 512);
      EXPECT_EQ(secondLine(s->btnGraph), name);
    }
    relaunchState();
  }
}

TEST_F(ControlsTest, AWindowNameOutsideTheCycleIsLeftAloneButTheTapIsRecorded) {
  defaults()->setObject(Value("Kaiser"), "FFT_WINDOW");
  launchIn("fft");
  auto s = screen();
  auto before = s->spectrumView->mathParams();
  tap(s->btnGraph);
  EXPECT_EQ(onDisk("FFT_WINDOW"), Value("Kaiser"));
  EXPECT_EQ(s->spectrumView->mathParams().window, before.window);
  EXPECT_EQ(s->btnGraph->currentAttributedTitle(), nullptr);
  EXPECT_NE(str("eventsStack").find("/Change_Graph_Tap/"), std::string::npos);
}

TEST_F(ControlsTest, OctaveModeGraphOctaveAndPeaksButtons) {
  launchIn("octave");
  auto s = screen();
  tap(s->btnGraph);
  EXPECT_EQ(onDisk("OCTAVE_GRAPH_TYPE"), Value("line"));
  EXPECT_EQ(s->spectrumView->graphType(), 0);
  EXPECT_TRUE(s->spectrumView->spectrumView()->needSpline);
  EXPECT_EQ(secondLine(s->btnGraph), "Line");
  tap(s->btnGraph);
  EXPECT_EQ(onDisk("OCTAVE_GRAPH_TYPE"), Value("bars"));
  EXPECT_EQ(s->spectrumView->graphType(), 1);

  const std::tuple<const char*, int, const char*> octaves[] = {
      {"octave6", 4, "1/6"}, {"octaveFull", 2, "Full"}, {"octave3", 3, "1/3"}};
  for (const auto& [stored, scale, title] : octaves) {
    tap(s->btnOctaves);
    EXPECT_EQ(onDisk("OCTAVE_TYPE"), Value(stored));
    EXPECT_EQ(s->spectrumView->scaleType(), scale);
    EXPECT_EQ(secondLine(s->btnOctaves), title);
  }
  tap(s->btnHold);
  EXPECT_EQ(onDisk("OCTAVE_HOLD_PEAKS"), Value("Off"));
  EXPECT_FALSE(s->spectrumView->spectrumView()->isHoldMaximum());
  tap(s->btnHold);
  EXPECT_EQ(onDisk("OCTAVE_HOLD_PEAKS"), Value("Hold"));
  EXPECT_TRUE(s->spectrumView->spectrumView()->isHoldMaximum());
}

TEST_F(ControlsTest, ScaleButtonInFFTMode) {
  launchIn("fft");
  auto s = screen();
  tap(s->btnOctaves);
  EXPECT_EQ(onDisk("FFT_SCALE"), Value("logarithm"));
  EXPECT_EQ(s->spectrumView->scaleType(), 1);
  EXPECT_EQ(secondLine(s->btnOctaves), "Logarithm");
  tap(s->btnOctaves);
  EXPECT_EQ(onDisk("FFT_SCALE"), Value("linear"));
  EXPECT_EQ(s->spectrumView->scaleType(), 0);
}

TEST_F(ControlsTest, FFTPeaksCycleSwitchesFillingOffOnlyForLine) {
  launchIn("fft");
  auto s = screen();
  auto inner = s->spectrumView->spectrumView();
  const std::tuple<const char*, bool, bool, bool, const char*> rows[] = {
      {"MaxMin", true, true, true, "Max + Min"}, {"Line", false, false, false, "Line"},
      {"Off", false, false, true, "Off"},        {"Max", true, false, true, "Max"}};
  for (const auto& [stored, max, min, fill, title] : rows) {
    tap(s->btnHold);
    EXPECT_EQ(onDisk("FFT_HOLD_PEAKS"), Value(stored));
    EXPECT_EQ(inner->isHoldMaximum(), max);
    EXPECT_EQ(inner->isHoldMinimum(), min);
    EXPECT_EQ(inner->needFill, fill);
    EXPECT_EQ(secondLine(s->btnHold), title);
    EXPECT_EQ(inner->supportChartWidth, 1);
  }
}

TEST_F(ControlsTest, PaletteButtonInSonogramMode) {
  launchIn("sonogram");
  auto s = screen();
  const std::pair<const char*, const char*> steps[] = {{"heat", "Heat"}, {"bw", "B&W"}, {"lava", "Lava"}};
  for (const auto& [stored, title] : steps) {
    tap(s->btnHold);
    EXPECT_EQ(onDisk("SPECTROGRAM_PALETTE"), Value(stored));
    EXPECT_EQ(secondLine(s->btnHold), title);
  }
  // Lava's middle stop is 0x58BBEE.
  auto stops = s->spectrumView->spectrumView()->sonogramColors;
  ASSERT_EQ(stops.size(), 4u);
  EXPECT_NEAR(stops[2].color->red(), 0x58 / 255.0, 1e-6);
  EXPECT_NEAR(stops[2].color->blue(), 0xEE / 255.0, 1e-6);
}

TEST_F(ControlsTest, FFTSizeCyclesPerModeAndScreen) {
  using V = std::vector<int32_t>;
  EXPECT_EQ(ViewController::fftSizeCycle(true, 667), (V{2048, 4096, 8192, 16384}));
  EXPECT_EQ(ViewController::fftSizeCycle(true, 568), (V{512, 1024, 2048, 4096}));
  EXPECT_EQ(ViewController::fftSizeCycle(true, 480), (V{256, 512, 1024, 2048}));
  EXPECT_EQ(ViewController::fftSizeCycle(false, 667), (V{512, 1024, 2048, 4096, 8192, 16384}));
  EXPECT_EQ(ViewController::fftSizeCycle(false, 568), (V{512, 1024, 2048, 4096, 8192}));
  EXPECT_EQ(ViewController::nextFFTSize(true, 667, 16384), 2048);
  EXPECT_EQ(ViewController::nextFFTSize(true, 568, 4096), 512);
  EXPECT_EQ(ViewController::nextFFTSize(false, 568, 8192), 512);
  EXPECT_EQ(ViewController::nextFFTSize(false, 667, 16384), 512);
  // The narrow FFT cycle offers 256 only until its first wrap.
  EXPECT_EQ(ViewController::nextFFTSize(false, 480, 256), 512);
  EXPECT_EQ(ViewController::nextFFTSize(false, 480, 2048), 512);
  EXPECT_EQ(ViewController::nextFFTSize(true, 480, 2048), 256);
  bool onCycle = true;
  EXPECT_EQ(ViewController::nextFFTSize(false, 568, 16384, &onCycle), 16384);
  EXPECT_FALSE(onCycle);
}

TEST_F(ControlsTest, FFTSizeButtonStepsTheModesOwnKeyAndKeepsTheWindow) {
  launchIn("fft", {480, 320});  // 2048 by default on this screen
  auto s = screen();
  tap(s->btnGraph);  // Hanning
  tap(s->btnFFT);
  EXPECT_EQ(onDisk("FFT_FFT_SIZE"), Value(int64_t(512)));
  EXPECT_EQ(onDisk("OCTAVE_FFT_SIZE"), Value(int64_t(2048)));
  EXPECT_EQ(s->spectrumView->mathParams().frameSize, 512);
  EXPECT_EQ(s->spectrumView->mathParams().window, 1);
  EXPECT_EQ(secondLine(s->btnFFT), "512");
  s->switchToOctaveMode();
  tap(s->btnFFT);
  EXPECT_EQ(onDisk("OCTAVE_FFT_SIZE"), Value(int64_t(256)));
  EXPECT_EQ(s->spectrumView->mathParams().window, 0);  // the octave restore's window
}

TEST_F(ControlsTest, AStoredSizeOffTheCycleStaysAndIsApplied) {
  defaults()->setObject(Value(int64_t(16384)), "FFT_FFT_SIZE");
  launchIn("fft", {480, 320});
  auto s = screen();
  tap(s->btnFFT);
  EXPECT_EQ(onDisk("FFT_FFT_SIZE"), Value(int64_t(16384)));
  EXPECT_EQ(s->spectrumView->mathParams().frameSize, 16384);
  EXPECT_EQ(secondLine(s->btnFFT), "16384");
}

TEST_F(ControlsTest, AnUnusableStoredSizeStaysUntilTheButtonStepsFromTheSizeInUse) {
  defaults()->setObject(Value(int64_t(3000)), "OCTAVE_FFT_SIZE");
  launchIn("octave");
  auto s = screen();
  EXPECT_EQ(s->spectrumView->mathParams().frameSize, 512);
  EXPECT_EQ(onDisk("OCTAVE_FFT_SIZE"), Value(int64_t(3000)));
  tap(s->btnFFT);
  EXPECT_EQ(onDisk("OCTAVE_FFT_SIZE"), Value(int64_t(1024)));
  EXPECT_EQ(s->spectrumView->mathParams().frameSize, 1024);
}

TEST_F(ControlsTest, StartStopStopsAndStartsTheChartAndRecordsAfterActing) {
  launchIn("octave");
  auto s = screen();
  ASSERT_TRUE(s->btnStartStop->isSelected());
  tap(s->btnStartStop);
  EXPECT_FALSE(s->btnStartStop->isSelected());
  EXPECT_FALSE(s->spectrumView->isStarted());
  tap(s->btnStartStop);
  EXPECT_TRUE(s->btnStartStop->isSelected());
  EXPECT_TRUE(s->spectrumView->isStarted());
  const std::string trace = str("eventsStack");
  EXPECT_LT(trace.find("/Stop_Tap/"), trace.find("/Start_Tap/"));
}

TEST_F(ControlsTest, MaximiseSlidesBothBarsAwayOverAThirdOfASecondAndTheChartGrows) {
  testsupport::ManualClock clock;
  launchIn("octave");
  auto s = screen();
  auto maximize = s->btnMaximizeMinimize.lock();
  auto bar = s->viewBottom.lock();
  const double chartHeight = s->spectrumView->frame().size.height;
  const double barTop = bar->frame().origin.y;
  tap(maximize);
  EXPECT_TRUE(maximize->isSelected());
  EXPECT_EQ(s->lcBottomBarIndent->constant(), -69);
  EXPECT_EQ(s->lcBottomBarWithButtonsIndent->constant(), -69);
  // The model moved at once; what is on screen follows the ease-out curve.
  EXPECT_EQ(bar->frame().origin.y, barTop + 69);
  EXPECT_GT(s->spectrumView->frame().size.height, chartHeight);
  EXPECT_LE(CGRectGetMaxY(s->spectrumView->frame()), 320);
  clock.step(0.1);
  double mid = bar->presentationFrame().origin.y;
  EXPECT_GT(mid, barTop);
  EXPECT_LT(mid, barTop + 69);
  clock.step(0.3);
  EXPECT_EQ(bar->presentationFrame().origin.y, barTop + 69);
  tap(maximize);
  EXPECT_FALSE(maximize->isSelected());
  EXPECT_EQ(bar->frame().origin.y, barTop);
  EXPECT_EQ(s->spectrumView->frame().size.height, chartHeight);
}

TEST_F(ControlsTest, TheSonogramBringsBackTheBarOfAMaximisedChartWhoseButtonItHides) {
  launchIn("fft");
  auto s = screen();
  auto maximize = s->btnMaximizeMinimize.lock();
  auto bar = s->btnHold->superview();
  const double barTop = bar->frame().origin.y;
  tap(maximize);
  ASSERT_EQ(bar->frame().origin.y, barTop + 69);
  s->switchToSpectrographMode();
  EXPECT_TRUE(maximize->isHidden());
  EXPECT_FALSE(maximize->isSelected());
  EXPECT_EQ(str("eventsStack").find("Maximize_Minimize_Tap", str("eventsStack").find("Maximize_Minimize_Tap") + 1),
            std::string::npos);  // the user tapped it once
  EXPECT_EQ(s->lcBottomBarIndent->constant(), 0);
  EXPECT_EQ(s->lcBottomBarWithButtonsIndent->constant(), 0);
  layout();
  EXPECT_EQ(bar->frame().origin.y, barTop);
  tap(s->btnHold);  // the palette button is within reach again
  EXPECT_EQ(onDisk("SPECTROGRAM_PALETTE"), Value("heat"));
  // Back in FFT mode the chart starts at its normal size.
  s->switchToFFTMode();
  EXPECT_FALSE(maximize->isHidden());
  EXPECT_FALSE(maximize->isSelected());
}

TEST_F(ControlsTest, TheAimIsStoredInOctaveModeOnlyWhenTurnedOn) {
  defaults()->setBool(false, "AIM_ENABLED");
  launchIn("fft");
  auto s = screen();
  ASSERT_FALSE(s->btnAim->isSelected());
  tap(s->btnAim);
  EXPECT_TRUE(s->btnAim->isSelected());
  EXPECT_TRUE(s->spectrumView->spectrumView()->needPeakMarker);
  EXPECT_EQ(onDisk("AIM_ENABLED"), Value(false));  // turned on in FFT mode: not stored
  s->switchToOctaveMode();
  tap(s->btnAim);  // off: stored
  EXPECT_EQ(onDisk("AIM_ENABLED"), Value(false));
  EXPECT_EQ(*s->spectrumView->spectrumView()->maxBarColor, *s->spectrumView->spectrumView()->barsColor);
  tap(s->btnAim);  // on in octave mode: stored, yellow maximum bar
  EXPECT_EQ(onDisk("AIM_ENABLED"), Value(true));
  EXPECT_NEAR(s->spectrumView->spectrumView()->maxBarColor->green(), 0xFD / 255.0, 1e-6);
  EXPECT_NE(str("eventsStack").find("/aimTap/"), std::string::npos);
}

// At both reference screens every control is inside the screen and none covers another.
TEST_F(ControlsTest, NoControlsOverlapAt568And480Points) {
  for (CGSize size : {CGSize{568, 320}, CGSize{480, 320}}) {
    SCOPED_TRACE(size.width);
    launchIn("octave", size);
    auto s = screen();
    std::vector<UIViewRef> controls{s->btnStartStop, s->btnGraph, s->btnOctaves, s->btnFFT, s->btnHold,
                                    s->btnAim, s->btnMaximizeMinimize.lock(), s->btnDBAHelp.lock(),
                                    s->lblFloatingLeft, s->lblFloatingRight, s->lblCurrentReadings, s->lblMaxMin};
    // The side-menu button: the remaining round button of the right column.
    for (const auto& v : s->view()->subviews()) {
      if (std::dynamic_pointer_cast<UIButton>(v) && std::find(controls.begin(), controls.end(), v) == controls.end()) {
        controls.push_back(v);
      }
    }
    const CGRect screenRect = CGRectMake(0, 0, size.width, size.height);
    std::vector<CGRect> frames;
    for (const auto& c : controls) {
      CGRect f = c->convertRectToView(c->bounds(), nullptr);
      EXPECT_GT(f.size.width, 0);
      EXPECT_TRUE(CGRectIntersection(f, screenRect) == f) << f.origin.x << "," << f.origin.y;
      frames.push_back(f);
    }
    for (size_t i = 0; i < frames.size(); ++i) {
      for (size_t j = i + 1; j < frames.size(); ++j) {
        CGRect overlap = CGRectIntersection(frames[i], frames[j]);
        EXPECT_TRUE(overlap.size.width <= 0 || overlap.size.height <= 0) << i << " overlaps " << j;
      }
    }
    EXPECT_GE(s->btnGraph->frame().size.width, 100);  // room for the background's caps
    relaunchState();
  }
}

}  // namespace
