// Launch: the settings defaults per screen, the forced landscape, restoring every mode from the
// stored settings (also wrong ones) and drawing off in the background.
#include <fstream>

#include "analysis/NoAudioInputView.h"
#include "analysis/UISpectrumView.h"
#include "app/AnalyserSettings.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/NSBundle.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIWindow.h"
#include "tests/app/AppHarness.h"
#include "tests/support/ManualClock.h"

namespace {

std::string secondLine(const std::shared_ptr<UIButtonWithTwoLabels>& button) {
  auto title = button->currentAttributedTitle();
  if (!title) return "";
  const std::string& s = title->string();
  auto nl = s.find('\n');
  return nl == std::string::npos ? "" : s.substr(nl + 1);
}

std::string firstLine(const std::shared_ptr<UIButtonWithTwoLabels>& button) {
  auto title = button->currentAttributedTitle();
  return title ? title->string().substr(0, title->string().find('\n')) : "";
}

class LaunchTest : public AppHarness {};

TEST_F(LaunchTest, FirstLaunchPicksTheFFTSizeFromTheScreenAsHeldAtLaunch) {
  struct Case {
    CGSize screen;
    int64_t size;
    CGSize landscape;
  } cases[] = {{{320, 480}, 256, {480, 320}},
               {{568, 320}, 512, {568, 320}},
               {{480, 320}, 2048, {480, 320}},
               {{667, 375}, 2048, {667, 375}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    launch(c.screen);
    EXPECT_EQ(defaults()->integerForKey("OCTAVE_FFT_SIZE"), c.size);
    EXPECT_EQ(defaults()->integerForKey("FFT_FFT_SIZE"), c.size);
    // Start-up turns the interface to landscape: portrait bounds swap, and the window follows.
    EXPECT_EQ(UIScreen::mainScreen().bounds().size, c.landscape);
    EXPECT_EQ(delegate->window()->bounds().size, c.landscape);
    EXPECT_EQ(screen()->view()->bounds().size, c.landscape);
    EXPECT_EQ(screen()->spectrumView->mathParams().frameSize, c.size);
    relaunchState();
    for (const char* key : {"OCTAVE_FFT_SIZE", "FFT_FFT_SIZE"}) defaults()->removeObjectForKey(key);
    defaults()->synchronize();
  }
}

// First use without an audio server: the screen opens and says so over its chart, and picks the
// input up once the server answers.
TEST_F(LaunchTest, WithoutAnAudioServerTheScreenSaysNoAudioInputUntilTheServerAnswers) {
  testsupport::ManualClock clock;
  input->setStartError(kAudioUnitErr_NoConnection);
  launch();
  auto chart = screen()->spectrumView;
  ASSERT_NE(chart, nullptr);
  ASSERT_NE(chart->noAudioInputView(), nullptr);
  EXPECT_FALSE(chart->noAudioInputView()->isHidden());
  EXPECT_EQ(chart->noAudioInputView()->titleLine().text, "No audio input");
  EXPECT_NE(chart->audioInputProblem().find("audio server unavailable"), std::string::npos) << chart->audioInputProblem();
  input->setStartError(noErr);
  clock.step(1.5);
  input->pushSamples(std::vector<float>(64, 0.0f));  // the notice goes with the first samples
  clock.step(0.25);
  EXPECT_TRUE(chart->noAudioInputView()->isHidden());
  EXPECT_TRUE(chart->audioInputProblem().empty());
}

// The server goes away while the screen shows readouts: they do not stand as if they were current.
TEST_F(LaunchTest, ALostAudioServerClearsTheReadoutsWhileTheChartSaysNoAudioInput) {
  testsupport::ManualClock clock;
  launch();
  auto chart = screen()->spectrumView;
  measureAFrame();
  screen()->dbaValue(-30);
  screen()->maximusArray({Value{{"frequency", 1000.0}, {"volume", -20.0}}}, {}, {});
  ASSERT_NE(screen()->lblFloatingRight->text(), "-- dB-A");
  ASSERT_NE(screen()->lblFloatingLeft->text(), "Peak: --");
  auto next = TestAudioInput::create();  // the new connection's input, while no server answers
  next->setStartError(kAudioUnitErr_NoConnection);
  AVAudioSession::sharedInstance().setInputBackend(next);
  AVAudioSession::sharedInstance().postMediaServicesReset();
  clock.step(0.1);
  EXPECT_FALSE(chart->noAudioInputView()->isHidden());
  EXPECT_EQ(screen()->lblFloatingRight->text(), "-- dB-A");
  EXPECT_EQ(screen()->lblFloatingLeft->text(), "Peak: --");
}

TEST_F(LaunchTest, FirstLaunchWritesEveryDefaultAndComesUpInThirdOctaveBarsWithTheAimOn) {
  launch();
  const std::pair<const char*, Value> expected[] = {
      {"CURRENT_TYPE", "octave"},      {"FFT_WINDOW", "Rectangle"},     {"FFT_SCALE", "linear"},
      {"FFT_HOLD_PEAKS", "Max"},       {"FFT_GRAPH_TYPE", "line"},      {"OCTAVE_TYPE", "octave3"},
      {"OCTAVE_GRAPH_TYPE", "bars"},   {"OCTAVE_HOLD_PEAKS", "Hold"},   {"SPECTROGRAM_PALETTE", "lava"},
      {"SPECTROGRAM_SPEED", "medium"}, {"SPECTROGRAM_FILL", "half"},    {"AIM_ENABLED", true},
      {"OCTAVE_FFT_SIZE", int64_t(512)}, {"FFT_FFT_SIZE", int64_t(512)}};
  for (const auto& [key, value] : expected) EXPECT_EQ(defaults()->objectForKey(key), value) << key;
  EXPECT_FALSE(defaults()->objectForKey("eventsStack"));

  auto s = screen();
  auto chart = s->spectrumView;
  EXPECT_EQ(chart->scaleType(), 3);
  EXPECT_EQ(chart->graphType(), 1);
  EXPECT_TRUE(chart->spectrumView()->isHoldMaximum());
  EXPECT_EQ(chart->mathParams().window, 0);
  EXPECT_EQ(chart->mathParams().frameSize, 512);
  EXPECT_TRUE(s->btnAim->isSelected());
  EXPECT_TRUE(chart->spectrumView()->needPeakMarker);
  EXPECT_EQ(*chart->spectrumView()->maxBarColor, UIColor(0xFF / 255.0f, 0xFD / 255.0f, 0, 1));
  EXPECT_EQ(firstLine(s->btnGraph), "GRAPH");
  EXPECT_EQ(secondLine(s->btnGraph), "Bars");
  EXPECT_EQ(secondLine(s->btnOctaves), "1/3");
  EXPECT_EQ(secondLine(s->btnFFT), "512");
  EXPECT_EQ(secondLine(s->btnHold), "Hold");
  // Shown, the chart runs and the start/stop button says so; the screen is the chart's delegate.
  EXPECT_TRUE(chart->isStarted());
  EXPECT_TRUE(s->btnStartStop->isSelected());
  EXPECT_EQ(chart->delegate().lock().get(), static_cast<DataProvideDelegate*>(s.get()));
  EXPECT_EQ(delegate->analyzerVC(), s);
}

TEST_F(LaunchTest, ASecondLaunchKeepsWhatTheUserStored) {
  launch();
  defaults()->setObject(Value("Hanning"), "FFT_WINDOW");
  defaults()->setObject(Value("fft"), "CURRENT_TYPE");
  defaults()->setBool(false, "AIM_ENABLED");
  defaults()->synchronize();
  relaunchState();
  launch({480, 320});
  EXPECT_EQ(defaults()->stringForKey("FFT_WINDOW"), "Hanning");
  EXPECT_EQ(defaults()->integerForKey("FFT_FFT_SIZE"), 512);  // not the 480-point default
  EXPECT_EQ(screen()->spectrumView->mathParams().window, 1);
  EXPECT_EQ(screen()->spectrumView->scaleType(), 0);
  EXPECT_FALSE(screen()->btnAim->isSelected());
  EXPECT_FALSE(screen()->spectrumView->spectrumView()->needPeakMarker);
}

class RestoreTest : public AppHarness {
 protected:
  // Stores the values (a null Value removes the key), then launches.
  void launchWith(std::initializer_list<std::pair<const char*, Value>> values) {
    for (const auto& [key, value] : values) defaults()->setObject(value, key);
    defaults()->synchronize();
    launch();
  }
};

TEST_F(RestoreTest, SonogramModeRestoresPaletteWindowScaleAndSizeAndHidesTheGraphControls) {
  launchWith({{"CURRENT_TYPE", "sonogram"}, {"SPECTROGRAM_PALETTE", "bw"}, {"FFT_WINDOW", "Blackman"},
              {"FFT_SCALE", "logarithm"}, {"FFT_FFT_SIZE", int64_t(4096)}});
  auto s = screen();
  auto chart = s->spectrumView;
  EXPECT_EQ(defaults()->stringForKey("CURRENT_TYPE"), "sonogram");
  EXPECT_EQ(chart->spectrumView()->spectrumMode, 1u);
  EXPECT_EQ(chart->paddings(), (CGSize{0, 10}));
  EXPECT_EQ(chart->mathParams().window, 6);
  EXPECT_EQ(chart->mathParams().frameSize, 4096);
  EXPECT_EQ(chart->scaleType(), 1);
  EXPECT_EQ(firstLine(s->btnHold), "PALETTE");
  EXPECT_EQ(secondLine(s->btnHold), "B&W");
  EXPECT_EQ(secondLine(s->btnGraph), "Blackman");
  EXPECT_EQ(secondLine(s->btnOctaves), "Logarithm");
  const auto& stops = chart->spectrumView()->sonogramColors;
  ASSERT_EQ(stops.size(), 4u);
  EXPECT_EQ(*stops[0].color, UIColor(0, 0, 0, 0));  // transparent black, not opaque
  EXPECT_FLOAT_EQ(stops[1].level, 0.333f);
  EXPECT_EQ(*stops[3].color, UIColor(1, 1, 1, 1));
  for (const auto& v : std::vector<UIViewRef>{s->lblFloatingLeft, s->lblFloatingRight, s->lblCurrentReadings,
                                              s->lblMaxMin, s->btnAim, s->btnMaximizeMinimize.lock()}) {
    EXPECT_TRUE(v->isHidden());
  }
}

TEST_F(RestoreTest, AnUnknownModeRunsTheFFTRestoreAndIsNotRewritten) {
  launchWith({{"CURRENT_TYPE", "waterfall"}, {"FFT_HOLD_PEAKS", "MaxMin"}, {"FFT_WINDOW", "Hamming"}});
  auto chart = screen()->spectrumView;
  EXPECT_EQ(defaults()->stringForKey("CURRENT_TYPE"), "waterfall");
  EXPECT_EQ(chart->spectrumView()->spectrumMode, 0u);
  EXPECT_EQ(chart->graphType(), 0);
  EXPECT_EQ(chart->mathParams().window, 2);
  EXPECT_TRUE(chart->spectrumView()->isHoldMaximum());
  EXPECT_TRUE(chart->spectrumView()->isHoldMinimum());
  EXPECT_EQ(secondLine(screen()->btnHold), "Max + Min");
}

TEST_F(RestoreTest, FFTPeaksSettingsSetHoldsAndFilling) {
  struct Case {
    const char* stored;
    bool max, min, fill;
    const char* title;
  } cases[] = {{"Max", true, false, true, "Max"},
               {"MaxMin", true, true, true, "Max + Min"},
               {"Line", false, false, false, "Line"},
               {"Maxx", false, false, true, "Off"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    launchWith({{"CURRENT_TYPE", "fft"}, {"FFT_HOLD_PEAKS", c.stored}});
    auto inner = screen()->spectrumView->spectrumView();
    EXPECT_EQ(inner->isHoldMaximum(), c.max);
    EXPECT_EQ(inner->isHoldMinimum(), c.min);
    EXPECT_EQ(inner->needFill, c.fill);
    EXPECT_EQ(secondLine(screen()->btnHold), c.title);
    relaunchState();
  }
}

TEST_F(RestoreTest, AnUnknownWindowNameLeavesTheWindowAndTitleAsTheyWere) {
  launchWith({{"CURRENT_TYPE", "fft"}, {"FFT_WINDOW", "hanning"}, {"FFT_FFT_SIZE", int64_t(2048)}});
  auto s = screen();
  // The chart keeps what set-up gave it: window 0 and, from the octave default, no new frame size.
  EXPECT_EQ(s->spectrumView->mathParams().window, 0);
  EXPECT_NE(s->spectrumView->mathParams().frameSize, 2048);
  EXPECT_EQ(s->btnGraph->currentAttributedTitle(), nullptr);
  EXPECT_EQ(secondLine(s->btnFFT), "2048");
}

TEST_F(RestoreTest, OctaveLineGraphAndOtherBandSettings) {
  launchWith({{"OCTAVE_GRAPH_TYPE", "line"}, {"OCTAVE_TYPE", "octave6"}, {"OCTAVE_HOLD_PEAKS", "Off"}});
  auto chart = screen()->spectrumView;
  EXPECT_EQ(chart->graphType(), 0);
  EXPECT_TRUE(chart->spectrumView()->needSpline);
  EXPECT_EQ(chart->scaleType(), 4);
  EXPECT_FALSE(chart->spectrumView()->isHoldMaximum());
  relaunchState();
  launchWith({{"OCTAVE_TYPE", "octave12"}});
  EXPECT_EQ(screen()->spectrumView->scaleType(), 2);
  EXPECT_EQ(secondLine(screen()->btnOctaves), "Full");
}

// A defaults file edited by hand or by another version: wrong types under every key.
TEST_F(RestoreTest, WrongTypesUnderEveryKeyStartWithSoundValuesAndLoseNothing) {
  launchWith({{"CURRENT_TYPE", int64_t(5)},
              {"FFT_WINDOW", 1.5},
              {"FFT_FFT_SIZE", "big"},
              {"FFT_SCALE", Value::array({1, 2})},
              {"FFT_HOLD_PEAKS", Value::object()},
              {"FFT_GRAPH_TYPE", false},
              {"OCTAVE_TYPE", int64_t(3)},
              {"OCTAVE_FFT_SIZE", int64_t(3000)},
              {"OCTAVE_GRAPH_TYPE", 2.0},
              {"OCTAVE_HOLD_PEAKS", true},
              {"SPECTROGRAM_PALETTE", int64_t(0)},
              {"SPECTROGRAM_SPEED", Value::array()},
              {"SPECTROGRAM_FILL", int64_t(1)},
              {"AIM_ENABLED", "maybe"},
              {"unrelated", "kept"}});
  auto s = screen();
  // "5" is no mode: the FFT restore; its size "big" is unusable: the launch default for the screen.
  EXPECT_EQ(s->spectrumView->spectrumView()->spectrumMode, 0u);
  EXPECT_EQ(s->spectrumView->scaleType(), 1);
  EXPECT_EQ(secondLine(s->btnFFT), "512");
  EXPECT_EQ(secondLine(s->btnHold), "Off");
  EXPECT_FALSE(s->btnAim->isSelected());
  // Nothing was rewritten or lost.
  EXPECT_EQ(defaults()->objectForKey("CURRENT_TYPE"), Value(int64_t(5)));
  EXPECT_EQ(defaults()->objectForKey("FFT_FFT_SIZE"), Value("big"));
  EXPECT_EQ(defaults()->objectForKey("OCTAVE_FFT_SIZE"), Value(int64_t(3000)));
  EXPECT_EQ(defaults()->objectForKey("FFT_SCALE"), Value::array({1, 2}));
  EXPECT_EQ(defaults()->objectForKey("unrelated"), Value("kept"));
  // Switching to the other modes reads the other wrong values soundly too.
  s->switchToOctaveMode();
  EXPECT_EQ(s->spectrumView->mathParams().frameSize, 512);  // 3000 is not a power of two
  EXPECT_EQ(s->spectrumView->scaleType(), 2);
  EXPECT_EQ(s->spectrumView->graphType(), 0);
  s->switchToSpectrographMode();
  EXPECT_EQ(secondLine(s->btnHold), "Heat");
  EXPECT_EQ(s->spectrumView->mathParams().frameSize, 512);
}

TEST_F(RestoreTest, ANumericStringCountsByItsNumberAndOtherSizesFallBack) {
  for (auto [stored, used] : std::initializer_list<std::pair<Value, int>>{
           {Value("1024"), 1024}, {Value(int64_t(0)), 512}, {Value(int64_t(-2048)), 512},
           {Value(int64_t(32768)), 512}, {Value(int64_t(128)), 512}, {Value(8192.0), 8192}}) {
    SCOPED_TRACE(stored.dump());
    launchWith({{"CURRENT_TYPE", "octave"}, {"OCTAVE_FFT_SIZE", stored}});
    EXPECT_EQ(screen()->spectrumView->mathParams().frameSize, used);
    EXPECT_EQ(secondLine(screen()->btnFFT), std::to_string(used));
    EXPECT_EQ(defaults()->objectForKey("OCTAVE_FFT_SIZE"), stored);
    relaunchState();
  }
}

class LifeCycleTest : public AppHarness {};

TEST_F(LifeCycleTest, TheBackgroundStopsDrawingAndTheForegroundResumesIt) {
  launch();
  auto inner = screen()->spectrumView->spectrumView();
  auto& app = UIApplication::sharedApplication();
  EXPECT_EQ(app.applicationState(), UIApplicationState::Active);
  app.enterBackground();
  EXPECT_EQ(app.applicationState(), UIApplicationState::Background);
  EXPECT_FALSE(inner->needDrawPlot);
  EXPECT_TRUE(inner->isAnimating());  // analysis and audio go on
  EXPECT_TRUE(screen()->spectrumView->isStarted());
  app.enterForeground();
  EXPECT_TRUE(inner->needDrawPlot);
  EXPECT_EQ(app.applicationState(), UIApplicationState::Active);
}

TEST_F(LifeCycleTest, TheBackgroundBeforeTheScreenLoadedChangesNothing) {
  auto lonely = std::make_shared<AppDelegate>();
  auto& app = UIApplication::sharedApplication();
  app.resetForTesting();
  app.setDelegate(lonely);
  app.enterBackground();
  app.enterForeground();
  EXPECT_EQ(lonely->analyzerVC(), nullptr);
  app.resetForTesting();
}

}  // namespace
