// What the analyser screen shows while its chart measures nothing. Whatever keeps a start from its
// input, and an input that stops delivering, the chart says why over its plot and every level on
// the screen reads "--" beside it: the dB-A, peak, touch and max/min readouts. That holds however
// many windows the chart had counted before it stopped, and until it measures again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

#include "analysis/NoAudioInputView.h"
#include "analysis/SAudioController.h"
#include "analysis/UISpectrumView.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/AudioUnit.h"
#include "platform/graphics/EAGLContext.h"
#include "platform/uikit/UIScreen.h"
#include "tests/app/AppHarness.h"
#include "tests/support/ManualClock.h"

namespace {

class NoMeasurement : public AppHarness {
 public:
  // What the failures below use.
  using AppHarness::input;
  void press(const std::shared_ptr<UIView>& button) { tap(button); }

 protected:
  // Whether the chart draws with GL (off: it analyses and reports without drawing).
  virtual bool drawsWithGL() const { return false; }
  void SetUp() override {
    AppHarness::SetUp();
    if (drawsWithGL() && !EAGLContext::isAvailable()) GTEST_SKIP() << "no GL on this machine";
    clock.emplace();
    launch({568, 320}, drawsWithGL());
    s = screen();
    ASSERT_TRUE(s);
    chart = s->spectrumView;
  }
  void TearDown() override {
    AppHarness::TearDown();
    clock.reset();
  }

  std::string text(const std::shared_ptr<UILabel>& label) { return label->text().value_or("<none>"); }
  // "Peak: 1001Hz" of a peak readout.
  static std::string frequencyOf(const std::string& peak) { return peak.substr(0, peak.find(',')); }
  // Plays a tone of `hz` into `into` (the test input by default) in real time for the seconds
  // given, 10 ms at a time.
  void play(double seconds, TestAudioInput* into = nullptr, double hz = 1000) {
    TestAudioInput& target = into ? *into : *input;
    std::vector<float> block(441);
    for (int i = 0; i < int(seconds * 100 + 0.5); ++i) {
      for (auto& x : block) x = float(0.1 * std::sin(2 * M_PI * hz * double(phase++) / 44100));
      target.pushSamples(block);
      clock->step(0.01);
    }
  }
  // Windows delivered without a frame taken: what a chart counted while its timers were busy.
  void deliverUnread(int windows) {
    std::vector<float> block(chart->mathParams().frameSize > 0 ? size_t(chart->mathParams().frameSize) : 512, 0.05f);
    for (int i = 0; i < windows; ++i) input->pushSamples(block);
  }
  // Every readout showing a measured level: dB-A, peak, and the touch and max/min readouts.
  void showEveryReadout() {
    play(1.0);
    tap(chart);
    play(0.5);
    ASSERT_NE(text(s->lblFloatingRight), ViewController::kNoLevelReadout);
    ASSERT_NE(text(s->lblFloatingLeft), ViewController::kNoPeakReadout);
    ASSERT_FALSE(s->lblCurrentReadings->isHidden());
    ASSERT_FALSE(s->lblMaxMin->isHidden());
    ASSERT_EQ(text(s->lblCurrentReadings).find("--"), std::string::npos) << text(s->lblCurrentReadings);
    ASSERT_EQ(text(s->lblMaxMin).find("--"), std::string::npos) << text(s->lblMaxMin);
  }

 public:
  void restart() {
    tap(s->btnStartStop);
    ASSERT_FALSE(chart->isStarted());
    tap(s->btnStartStop);
    ASSERT_TRUE(chart->isStarted());
  }
  // The notice over the plot, and "--" for every level beside it.
  void expectNoLevels(const std::string& why) {
    SCOPED_TRACE(why);
    EXPECT_FALSE(chart->audioInputProblem().empty());
    EXPECT_FALSE(chart->noAudioInputView()->isHidden());
    EXPECT_EQ(text(s->lblFloatingRight), "-- dB-A");
    EXPECT_EQ(text(s->lblFloatingLeft), "Peak: --");
    const std::string reading = text(s->lblCurrentReadings);
    EXPECT_NE(reading.find(" Hz, -- dB"), std::string::npos) << reading;
    EXPECT_NE(std::isdigit(static_cast<unsigned char>(reading[0])), 0) << "the place touched is still named: " << reading;
    EXPECT_EQ(text(s->lblMaxMin), "Max: -- dB");
  }

  std::optional<testsupport::ManualClock> clock;
  std::shared_ptr<ViewController> s;
  std::shared_ptr<UISpectrumContainerView> chart;
  uint64_t phase = 0;
};

// An input as a server that does not answer, or a source that is not there, leaves it.
std::shared_ptr<TestAudioInput> failingInput(OSStatus status) {
  auto failing = TestAudioInput::create("failing");
  failing->setStartError(status);
  return failing;
}

struct StartFailure {
  const char* name;
  // Makes the chart's next start fail (and starts it, when the failure comes with a start of its own).
  std::function<void(NoMeasurement&)> fail;
};

void PrintTo(const StartFailure& failure, std::ostream* os) { *os << failure.name; }

class EveryFailedStart : public NoMeasurement, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(EveryFailedStart, LeavesNoLevelBesideTheNotice) {
  showEveryReadout();
  // Windows counted but never taken: before, a restart took them, refilled from zeros, as levels.
  deliverUnread(8);
  GetParam().fail(*this);
  clock->step(0.5);
  expectNoLevels(GetParam().name);
  // More time and timer ticks change nothing.
  clock->step(1.5);
  expectNoLevels(std::string(GetParam().name) + ", later");
}

INSTANTIATE_TEST_SUITE_P(
    NoMeasurement, EveryFailedStart,
    ::testing::Values(
        StartFailure{"the audio server does not answer",
                     [](NoMeasurement& t) {
                       AVAudioSession::sharedInstance().setInputBackend(failingInput(kAudioUnitErr_NoConnection));
                       t.restart();
                     }},
        StartFailure{"the source is not on the server",
                     [](NoMeasurement& t) {
                       AVAudioSession::sharedInstance().setInputBackend(failingInput(kAudioHardwareBadDeviceError));
                       t.restart();
                     }},
        StartFailure{"the input names a file that is not there",
                     [](NoMeasurement& t) {
                       auto& session = AVAudioSession::sharedInstance();
                       session.setInputBackend(nullptr);
                       session.setInputSpec("file:/nonexistent/no-such-recording.wav");
                       t.restart();
                     }},
        StartFailure{"every place on the input is taken",
                     [](NoMeasurement& t) {
                       t.press(t.s->btnStartStop);
                       struct Idle : AudioInputSink {
                         void audioInputDidCapture(const float*, uint32_t, const AudioTimeStamp&) override {}
                       };
                       static Idle idle[AudioInputBackend::kMaxSinks];
                       for (auto& sink : idle) t.input->addSink(&sink);
                       t.press(t.s->btnStartStop);
                       for (auto& sink : idle) t.input->removeSink(&sink);
                     }},
        StartFailure{"the capture unit cannot be made",
                     [](NoMeasurement& t) {
                       remoteio::failNextInstanceNew(kAudio_MemFullError);
                       t.press(t.s->btnFFT);  // a new frame size: the chain is built again
                     }},
        StartFailure{"the capture unit cannot be initialised",
                     [](NoMeasurement& t) {
                       remoteio::failNextInitialize(kAudioUnitErr_FormatNotSupported);
                       t.press(t.s->btnFFT);
                     }},
        StartFailure{"the capture unit does not start",
                     [](NoMeasurement& t) {
                       t.press(t.s->btnStartStop);
                       remoteio::failNextStart(kAudioUnitErr_CannotDoInCurrentContext);
                       t.press(t.s->btnStartStop);
                     }},
        StartFailure{"the server is lost and the new one does not answer",
                     [](NoMeasurement& t) {
                       AVAudioSession::sharedInstance().setInputBackend(failingInput(kAudioUnitErr_NoConnection));
                       AVAudioSession::sharedInstance().postMediaServicesReset();
                     }},
        StartFailure{"an interruption ends while the input is gone",
                     [](NoMeasurement& t) {
                       auto& session = AVAudioSession::sharedInstance();
                       session.postInterruption(AVAudioSessionInterruptionTypeBegan);
                       session.setInputBackend(failingInput(kAudioHardwareBadDeviceError));
                       session.postInterruption(AVAudioSessionInterruptionTypeEnded);
                     }},
        StartFailure{"the input delivers nothing after the start",
                     [](NoMeasurement& t) {
                       t.restart();
                       t.clock->step(SAudioController::kFirstInputLimit + 0.5);
                     }},
        StartFailure{"the input stops delivering while the chart runs",
                     [](NoMeasurement& t) { t.clock->step(SAudioController::kInputSilenceLimit + 0.5); }}),
    [](const ::testing::TestParamInfo<StartFailure>& info) {
      std::string name;
      for (const char* c = info.param.name; *c; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
      return name;
    });

// The stall the chart reports goes with the samples' return, and the levels with it.
TEST_F(NoMeasurement, AnInputThatDeliversAgainIsMeasuredAgain) {
  showEveryReadout();
  clock->step(SAudioController::kInputSilenceLimit + 0.5);
  expectNoLevels("stalled");
  EXPECT_EQ(chart->audioInputProblem(), SAudioController::kInputDeliversNothing);
  play(1.0);
  EXPECT_TRUE(chart->audioInputProblem().empty());
  EXPECT_TRUE(chart->noAudioInputView()->isHidden());
  EXPECT_EQ(text(s->lblFloatingRight).find("--"), std::string::npos) << text(s->lblFloatingRight);
  EXPECT_EQ(text(s->lblFloatingLeft).find("--"), std::string::npos) << text(s->lblFloatingLeft);
  EXPECT_EQ(text(s->lblCurrentReadings).find("--"), std::string::npos) << text(s->lblCurrentReadings);
}

// A chart stopped by the user is not an input gone: its last readings, measured, stay.
TEST_F(NoMeasurement, AStoppedChartKeepsItsLastMeasuredReadings) {
  showEveryReadout();
  const std::string dba = text(s->lblFloatingRight), peak = text(s->lblFloatingLeft);
  tap(s->btnStartStop);
  clock->step(SAudioController::kFirstInputLimit + 1);
  EXPECT_TRUE(chart->noAudioInputView()->isHidden());
  EXPECT_EQ(text(s->lblFloatingRight), dba);
  EXPECT_EQ(text(s->lblFloatingLeft), peak);
}

// A restarted chart measures nothing until a whole window of new samples has come: not the zeros it
// refills from, nor a window counted before the stop. What it showed before the start goes with
// the start, without a notice: the chart has an input, it has just not measured it yet.
TEST_F(NoMeasurement, ARestartShowsNoLevelUntilAWholeNewWindowCame) {
  showEveryReadout();
  deliverUnread(8);
  tap(s->btnStartStop);
  tap(s->btnStartStop);
  EXPECT_EQ(text(s->lblFloatingRight), "-- dB-A");
  EXPECT_EQ(text(s->lblFloatingLeft), "Peak: --");
  EXPECT_TRUE(chart->noAudioInputView()->isHidden());
  EXPECT_TRUE(chart->spectrumView()->l_fftData.empty()) << "the plot shows no level of before the start";
  clock->step(0.5);
  EXPECT_EQ(text(s->lblFloatingRight), "-- dB-A") << "no frame of zeros or of old windows was reported";
  play(0.1);  // 4,410 samples: a 512-sample window several times over
  EXPECT_NE(text(s->lblFloatingRight), "-- dB-A");
  EXPECT_FALSE(chart->spectrumView()->l_fftData.empty());
}

// Touching the chart while it measures nothing names the place touched, with no level.
TEST_F(NoMeasurement, ATouchWhileNothingIsMeasuredNamesThePlaceWithoutALevel) {
  play(1.0);
  AVAudioSession::sharedInstance().setInputBackend(failingInput(kAudioUnitErr_NoConnection));
  restart();
  ASSERT_FALSE(chart->noAudioInputView()->isHidden());
  ASSERT_TRUE(s->lblCurrentReadings->isHidden());
  tap(chart);
  EXPECT_FALSE(s->lblCurrentReadings->isHidden());
  EXPECT_NE(text(s->lblCurrentReadings).find(" Hz, -- dB"), std::string::npos) << text(s->lblCurrentReadings);
}

// What a start shows first, with the sound heard since it began: its first readings are of that
// sound alone, and until then the readouts read "--".
class FirstReadings : public NoMeasurement {
 protected:
  struct Readings {
    std::string dba, peak;
  };
  // Stops and starts the chart, then plays `hz` (0: silence) for a second, 10 ms at a time: the
  // first readings the screen shows after the start, and the last.
  std::pair<Readings, Readings> restartAndPlay(double hz) {
    restart();
    EXPECT_EQ(text(s->lblFloatingRight), "-- dB-A");
    EXPECT_EQ(text(s->lblFloatingLeft), "Peak: --");
    std::optional<Readings> first;
    std::vector<float> block(441);
    for (int i = 0; i < 100; ++i) {
      for (auto& x : block) x = hz > 0 ? float(0.1 * std::sin(2 * M_PI * hz * double(phase++) / 44100)) : 0.0f;
      input->pushSamples(block);
      clock->step(0.01);
      if (!first && text(s->lblFloatingRight) != "-- dB-A") {
        first = Readings{text(s->lblFloatingRight), text(s->lblFloatingLeft)};
        EXPECT_NE(first->peak, "Peak: --") << "the readouts come with one frame";
        // One whole window after the start, never later (512 samples here: 20 ms).
        EXPECT_LE(i, 4);
      }
    }
    EXPECT_TRUE(first) << "a reading came";
    return {first.value_or(Readings{}), Readings{text(s->lblFloatingRight), text(s->lblFloatingLeft)}};
  }
};

TEST_F(FirstReadings, AStartOnSilenceAfterAToneReadsSilenceFirst) {
  play(1.0);
  const auto [first, last] = restartAndPlay(0);
  EXPECT_EQ(first.dba, last.dba);
  EXPECT_EQ(first.peak, last.peak);
}

TEST_F(FirstReadings, AStartAfterTheToneChangedNamesTheNewToneFirst) {
  play(1.0);
  const std::string before = frequencyOf(text(s->lblFloatingLeft));
  const auto [first, last] = restartAndPlay(2000);
  ASSERT_NE(frequencyOf(last.peak), before) << "the two tones are told apart";
  EXPECT_EQ(frequencyOf(first.peak), frequencyOf(last.peak)) << first.peak << " then " << last.peak;
}

// A setting changed on a running chart (the FFT size, the window) builds its capture chain again,
// and a layout (the maximise button) moves it; neither is a new input. The chart shows what it
// measured until its first frame at the new setting, and that frame is of the sound after the
// change alone. (A stop and a start still begin afresh: see ARestartShowsNoLevel… above.)
class SettingChanges : public NoMeasurement {
 protected:
  struct Shown {
    std::string dba, peak, reading, maxMin;
    bool operator==(const Shown&) const = default;
  };
  Shown shown() {
    return {text(s->lblFloatingRight), text(s->lblFloatingLeft), text(s->lblCurrentReadings), text(s->lblMaxMin)};
  }
  // The chart shows levels: every readout has one, the plot has its series, and no notice is up.
  void expectLevels(const std::string& when) {
    SCOPED_TRACE(when);
    const Shown now = shown();
    EXPECT_EQ(now.dba.find("--"), std::string::npos) << now.dba;
    EXPECT_EQ(now.peak.find("--"), std::string::npos) << now.peak;
    if (!s->lblCurrentReadings->isHidden()) {
      EXPECT_EQ(now.reading.find("--"), std::string::npos) << now.reading;
    }
    if (!s->lblMaxMin->isHidden()) {
      EXPECT_EQ(now.maxMin.find("--"), std::string::npos) << now.maxMin;
    }
    EXPECT_TRUE(chart->hasCurrentLevels());
    EXPECT_FALSE(chart->spectrumView()->l_fftData.empty()) << "the plot shows its series";
    EXPECT_FALSE(chart->spectrumView()->l_mainData.empty()) << "the plot shows its series";
    EXPECT_TRUE(chart->noAudioInputView()->isHidden());
  }

  // Taps `button` while `tone` plays and then plays the other tone: every 10 ms the chart shows the
  // readings it showed before the tap, until its first frame at the new setting, which is of the
  // new tone alone and has the frame size now in use.
  void tapAndFollow(const std::shared_ptr<UIView>& button, const std::string& what) {
    SCOPED_TRACE(what);
    const Shown before = shown();
    tap(button);
    EXPECT_EQ(shown(), before) << "the tap itself changes no reading";
    expectLevels("at the tap");
    tone = tone == 1000 ? 2000 : 1000;
    const size_t bins = size_t(chart->spectrumView()->mathParams().frameSize / 2);
    std::optional<Shown> first;
    for (int i = 0; i < 60 && !first; ++i) {
      play(0.01, nullptr, tone);
      expectLevels("10 ms step " + std::to_string(i));
      if (shown() == before) continue;
      first = shown();
      ASSERT_TRUE(chart->spectrumView()->sonogramData);
      EXPECT_EQ(chart->spectrumView()->sonogramData->size(), bins) << "a frame at the new setting";
    }
    ASSERT_TRUE(first) << "a reading at the new setting came";
    play(1.0, nullptr, tone);
    EXPECT_EQ(frequencyOf(first->peak), frequencyOf(text(s->lblFloatingLeft)))
        << "the first reading after the tap is of the sound after it: " << first->peak << " then "
        << text(s->lblFloatingLeft);
    EXPECT_NE(frequencyOf(first->peak), frequencyOf(before.peak)) << "the two tones are told apart";
  }

  // Plays the tone until every readout shows a level, the touch and max/min readouts included.
  void measureWithAMarker(const std::string& when) {
    play(1.0, nullptr, tone);
    tap(chart);
    play(0.5, nullptr, tone);
    expectLevels(when);
  }
  void SetUp() override {
    NoMeasurement::SetUp();
    measureWithAMarker("before the first tap");
  }
  double tone = 1000;
};

TEST_F(SettingChanges, EveryFFTSizeKeepsTheOctaveChartUntilItsFirstFrame) {
  ASSERT_EQ(defaults()->stringForKey("CURRENT_TYPE").value_or(""), "octave");
  const size_t cycle = ViewController::fftSizeCycle(true, 568).size();
  for (size_t i = 0; i < cycle; ++i) {
    tapAndFollow(s->btnFFT, "FFT SIZE, tap " + std::to_string(i + 1));
    if (HasFatalFailure()) return;
  }
}

TEST_F(SettingChanges, EveryFFTSizeAndWindowKeepsTheFFTPlotUntilItsFirstFrame) {
  s->switchToFFTMode();
  measureWithAMarker("in FFT mode");
  for (size_t i = 0; i < ViewController::fftSizeCycle(false, 568).size(); ++i) {
    tapAndFollow(s->btnFFT, "FFT SIZE, tap " + std::to_string(i + 1));
    if (HasFatalFailure()) return;
  }
  for (int i = 0; i < 6; ++i) {
    tapAndFollow(s->btnGraph, "WINDOW, tap " + std::to_string(i + 1));
    if (HasFatalFailure()) return;
  }
}

// The maximise button lays the chart out again, twice: its capture goes on, and so do its readings.
TEST_F(SettingChanges, MaximisingLaysTheChartOutWithoutAGapInItsReadings) {
  auto maximise = s->btnMaximizeMinimize.lock();
  ASSERT_TRUE(maximise);
  const uint64_t measured = chart->spectrumView()->shownMeasurement();
  for (int i = 0; i < 2; ++i) {
    tap(maximise);
    for (int step = 0; step < 50; ++step) {
      play(0.01, nullptr, tone);
      layout();
      expectLevels("tap " + std::to_string(i + 1) + ", 10 ms step " + std::to_string(step));
    }
  }
  EXPECT_EQ(chart->spectrumView()->shownMeasurement(), measured);
}

// A meter listens only while it measures: the stop button leaves the input, so that nothing of
// the application captures; the setting buttons of a running chart keep its capture going (no
// stop, no new start), and those of a stopped one start none.
TEST_F(SettingChanges, OnlyARunningChartKeepsTheInputCapturing) {
  ASSERT_TRUE(input->isCapturing());
  const int starts = input->startCount();
  s->switchToFFTMode();
  tap(s->btnFFT);
  tap(s->btnGraph);
  tap(s->btnFFT);
  EXPECT_TRUE(input->isCapturing());
  EXPECT_EQ(input->startCount(), starts) << "the settings kept the capture";
  const int stops = input->stopCount();
  tap(s->btnStartStop);
  ASSERT_FALSE(chart->isStarted());
  EXPECT_FALSE(input->isCapturing()) << "a stopped chart holds the microphone";
  EXPECT_EQ(input->stopCount(), stops + 1);
  tap(s->btnFFT);
  tap(s->btnGraph);
  EXPECT_FALSE(input->isCapturing());
  tap(s->btnStartStop);
  EXPECT_TRUE(input->isCapturing());
  EXPECT_EQ(input->startCount(), starts + 1);
  play(1.0, nullptr, tone);
  expectLevels("measuring again");
}

// The maximise button, drawn: every frame after each of its layouts shows the plot for the new
// layout, made from what the chart measured (no frame of the old size's picture, and no empty
// plot), however far the next frame of the capture is: the curve, the held maximum and minimum,
// the peak line and the bars stand where the axes the container draws put the levels the
// readouts give, and the marker stays on the trace.
class MaximisedPlot : public SettingChanges {
 protected:
  bool drawsWithGL() const override { return true; }
  UISpectrumView& plot() { return *chart->spectrumView(); }
  static float top(const std::vector<DisplayPoint>& points) {
    float y = -1;
    for (const auto& p : points) y = std::max(y, p.y);
    return y;
  }
  static float volume(const std::vector<Value>& records) { return records.at(0).at("volume").get<float>(); }
  // Where the plot's vertical mapping puts a level, at the framebuffer's height.
  float heightOf(float level) {
    const AreaParams range = plot().areaParams();
    return (level - range.minVal) * static_cast<float>(plot().backingHeight) / (range.maxVal - range.minVal);
  }
  // The row of the plot's picture (from its top) where the container's axis puts a level: between
  // its first and last level labels, in the plot's pixels.
  double axisRowOf(double level) {
    const auto labels = chart->computeScale(chart->bounds()).levelLabels;
    EXPECT_GE(labels.size(), 2u);
    if (labels.size() < 2) return -1;
    const auto& low = labels.front();
    const auto& high = labels.back();
    const double y = low.y + (level - low.value) * (high.y - low.y) / (high.value - low.value);
    return (y - plot().frame().origin.y) * UIScreen::mainScreen().scale();
  }
  // The level of the peak readout ("Peak: 1001Hz, -27 dB").
  double readoutLevel() {
    const std::string peak = text(s->lblFloatingLeft);
    const size_t comma = peak.find(", ");
    EXPECT_NE(comma, std::string::npos) << peak;
    return comma == std::string::npos ? NAN : std::stod(peak.substr(comma + 2));
  }
  const CAEAGLLayer::Presented& picture() { return plot().eaglLayer()->presented(); }
  // A pixel of the picture drawn, not the marker's line (the chart's marker colour, pale yellow).
  static bool drawn(const uint8_t* px) { return px[3] > 200 && !(px[0] > 200 && px[1] > 200 && px[2] > 100); }
  // The row (from the top) that holds the most of the peak line's colour (cyan), and how many.
  std::pair<int, int> peakLineRow() {
    const auto& p = picture();
    std::pair<int, int> best{-1, 0};
    for (int y = 0; y < p.height; ++y) {
      int count = 0;
      for (int x = 0; x < p.width; ++x) {
        const uint8_t* px = p.row(y) + 4 * x;
        count += px[1] > 120 && px[2] > 120 && 2 * px[0] < px[1];
      }
      if (count > best.second) best = {y, count};
    }
    return best;
  }
  // The row (from the top) of the tallest bar's top: the highest drawn pixel with three more drawn
  // under it (a hold plate is a thinner line; one lying on a bar's top counts as its top).
  int tallestBarRow() {
    const auto& p = picture();
    int best = p.height;
    for (int x = 0; x < p.width; ++x) {
      for (int y = 0; y + 3 < std::min(best, p.height); ++y) {
        if (drawn(p.row(y) + 4 * x) && drawn(p.row(y + 1) + 4 * x) && drawn(p.row(y + 2) + 4 * x) &&
            drawn(p.row(y + 3) + 4 * x)) {
          best = y;
          break;
        }
      }
    }
    return best;
  }
  int drawnPixels() {
    const auto& p = picture();
    int count = 0;
    for (size_t i = 3; i < p.rgba.size(); i += 4) count += p.rgba[i] != 0;
    return count;
  }

  // What the plot shows now is drawn for its layout now.
  void expectDrawnForTheLayout(const std::string& when) {
    SCOPED_TRACE(when);
    UISpectrumView& view = plot();
    const double scale = UIScreen::mainScreen().scale();
    const CGSize size = view.bounds().size;
    ASSERT_EQ(view.backingWidth, std::lround(size.width * scale));
    ASSERT_EQ(view.backingHeight, std::lround(size.height * scale));
    ASSERT_EQ(picture().width, view.backingWidth) << "the picture is of the plot's size";
    ASSERT_EQ(picture().height, view.backingHeight) << "the picture is of the plot's size";
    ASSERT_GT(drawnPixels(), 5000) << "the plot is not empty";
    // The points: the trace's peak and the held series' at the heights of their levels.
    EXPECT_NEAR(top(view.l_mainData), heightOf(volume(view.l_localMaximus)), 0.5) << "the trace";
    EXPECT_NEAR(top(view.l_maxesData), heightOf(volume(view.l_holdedMaximus)), 0.5) << "the held maximum";
    if (view.isHoldMinimum()) {
      EXPECT_NEAR(top(view.l_minsData), heightOf(volume(view.l_holdedMinimus)), 0.5) << "the held minimum";
    }
    ASSERT_TRUE(view.isMarkerVisible());
    const float marker = view.l_markerPosition;
    EXPECT_TRUE(std::any_of(view.l_mainData.begin(), view.l_mainData.end(),
                            [&](const DisplayPoint& p) { return p.x == marker; }))
        << "the marker stands on a point of the trace";
    // The pixels: the peak line, or the tallest bar's top, where the axis puts the readout's level
    // (within the half dB the readout rounds to and the point the plot's edge lies inside the axes).
    const double expected = axisRowOf(readoutLevel());
    if (view.isBarsType()) {
      EXPECT_NEAR(tallestBarRow(), expected, 2 * scale) << "the tallest bar's top against the axis";
    } else {
      const auto [row, count] = peakLineRow();
      EXPECT_GT(count, view.backingWidth / 2) << "the peak line across the plot";
      EXPECT_NEAR(row, expected, 2 * scale) << "the peak line against the axis";
    }
  }

  // Plays until the plot shows the tone with a marker and the aim's peak line, then taps maximise
  // and restores, reading the plot at the tap and every 10 ms of the stepped clock after it.
  void maximiseAndRestore() {
    measureWithAMarker("before the taps");
    tap(s->btnAim);  // the touch turned the aim off
    ASSERT_TRUE(s->btnAim->isSelected());
    play(0.5, nullptr, tone);
    const uint64_t measured = plot().shownMeasurement();
    expectDrawnForTheLayout("before the taps");
    if (HasFatalFailure()) return;
    auto maximise = s->btnMaximizeMinimize.lock();
    ASSERT_TRUE(maximise);
    for (const char* tapped : {"maximised", "restored"}) {
      const double height = plot().bounds().size.height;
      tap(maximise);
      ASSERT_NE(plot().bounds().size.height, height) << tapped;
      expectDrawnForTheLayout(std::string(tapped) + ", at the tap");
      for (int step = 0; step < 40 && !HasFatalFailure(); ++step) {
        play(0.01, nullptr, tone);
        layout();
        expectDrawnForTheLayout(std::string(tapped) + ", 10 ms step " + std::to_string(step));
        expectLevels(std::string(tapped) + ", 10 ms step " + std::to_string(step));
      }
    }
    EXPECT_EQ(plot().shownMeasurement(), measured) << "the same measurement throughout";
    EXPECT_TRUE(chart->isStarted());
  }
};

TEST_F(MaximisedPlot, TheFFTPlotAt8192IsDrawnForEachLayoutFromItsFirstFrame) {
  s->switchToFFTMode();
  for (int i = 0; i < 8 && plot().mathParams().frameSize != 8192; ++i) tap(s->btnFFT);
  ASSERT_EQ(plot().mathParams().frameSize, 8192);
  for (int i = 0; i < 4 && !(plot().isHoldMaximum() && plot().isHoldMinimum()); ++i) tap(s->btnHold);
  ASSERT_TRUE(plot().isHoldMaximum() && plot().isHoldMinimum());
  ASSERT_TRUE(plot().needFill);
  maximiseAndRestore();
}

TEST_F(MaximisedPlot, TheOctaveBarsAreDrawnForEachLayoutFromItsFirstFrame) {
  ASSERT_EQ(defaults()->stringForKey("CURRENT_TYPE").value_or(""), "octave");
  ASSERT_TRUE(plot().isBarsType());
  ASSERT_TRUE(plot().isHoldMaximum());
  maximiseAndRestore();
}

// An input that delivers nothing still delivers nothing with another setting: the notice stays
// up through the taps (it neither goes nor comes again), and goes when samples come.
TEST_F(SettingChanges, TheNoticeOfAStalledInputStaysUpThroughEveryTap) {
  s->switchToFFTMode();
  measureWithAMarker("in FFT mode");
  clock->step(SAudioController::kInputSilenceLimit + 0.5);
  expectNoLevels("stalled");
  const auto engine = chart->audioController();
  int posted = 0;
  auto observer = NSNotificationCenter::defaultCenter().addObserverForName(
      SAudioController::kAudioInputDidChangeNotification, nullptr, nullptr, [&](const NSNotification& n) {
        if (n.object == engine.get()) ++posted;
      });
  for (const auto& button : {s->btnFFT, s->btnGraph, s->btnFFT}) {
    tap(button);
    EXPECT_EQ(posted, 0) << "the notice neither went nor came";
    for (int step = 0; step < 20; ++step) {
      clock->step(0.01);
      ASSERT_FALSE(chart->noAudioInputView()->isHidden()) << "10 ms step " << step;
    }
    expectNoLevels("after a tap");
  }
  EXPECT_EQ(posted, 0);
  EXPECT_EQ(chart->audioInputProblem(), SAudioController::kInputDeliversNothing);
  play(1.0, nullptr, tone);
  EXPECT_EQ(posted, 1);
  expectLevels("delivering again");
  ASSERT_TRUE(chart->spectrumView()->sonogramData);
  EXPECT_EQ(chart->spectrumView()->sonogramData->size(), size_t(chart->spectrumView()->mathParams().frameSize / 2));
}

// A stopped chart stays stopped through a setting: it captures nothing, says nothing of its input
// and keeps the readings its run measured; its next start begins afresh.
TEST_F(SettingChanges, ASettingOnAStoppedChartStartsNoCapture) {
  tap(s->btnStartStop);
  ASSERT_FALSE(chart->isStarted());
  const int sinks = input->sinkCount();
  const Shown last = shown();
  s->switchToFFTMode();
  tap(s->btnFFT);
  tap(s->btnGraph);
  EXPECT_EQ(input->sinkCount(), sinks) << "no capture for a stopped chart";
  EXPECT_FALSE(remoteio::isRunning(chart->audioController()->rioUnit()));
  clock->step(SAudioController::kFirstInputLimit + 1);
  EXPECT_TRUE(chart->noAudioInputView()->isHidden());
  EXPECT_TRUE(chart->audioInputProblem().empty());
  EXPECT_EQ(text(s->lblFloatingRight), last.dba);
  tap(s->btnStartStop);
  EXPECT_EQ(text(s->lblFloatingRight), "-- dB-A") << "a start is a new input";
  play(0.5, nullptr, tone);
  expectLevels("started");
}

// A stopped chart watches no input and says nothing of it: the notice goes with the stop, whatever
// its reason, and the readouts keep what the run measured last ("--": it measured nothing at its
// end). A start says it again at once while the input still delivers nothing, and not at all once
// it delivers.
TEST_F(NoMeasurement, AStoppedChartShowsNoNoticeAndAStartShowsItAgainAtOnceIfStillMissing) {
  showEveryReadout();
  clock->step(SAudioController::kInputSilenceLimit + 0.5);
  expectNoLevels("stalled");
  tap(s->btnStartStop);
  ASSERT_FALSE(chart->isStarted());
  auto stoppedShowsNothing = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_TRUE(chart->noAudioInputView()->isHidden());
    EXPECT_TRUE(chart->audioInputProblem().empty());
    EXPECT_EQ(text(s->lblFloatingRight), "-- dB-A");
    EXPECT_EQ(text(s->lblFloatingLeft), "Peak: --");
  };
  stoppedShowsNothing("stopped");
  clock->step(SAudioController::kFirstInputLimit + 1);
  stoppedShowsNothing("stopped, later");

  tap(s->btnStartStop);
  clock->step(SAudioController::kStalledInputRecheck + 0.05);
  expectNoLevels("started while it still delivers nothing");

  tap(s->btnStartStop);
  tap(s->btnStartStop);
  for (int i = 0; i < 40; ++i) {
    play(0.05);
    ASSERT_TRUE(chart->noAudioInputView()->isHidden()) << "no notice for an input that delivers, at " << i;
  }
  EXPECT_TRUE(chart->audioInputProblem().empty());
  EXPECT_NE(text(s->lblFloatingRight), "-- dB-A");
}

}  // namespace
