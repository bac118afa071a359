// Charts on an audio server of the test's own with a built-in microphone hearing 1 kHz and a USB
// microphone hearing 440 Hz: what a chart measures, or says it cannot, when the input it reads goes
// away, and when a start races the news of that.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>

#include "analysis/BufferManager.h"
#include "analysis/NoAudioInputView.h"
#include "analysis/SAudioController.h"
#include "analysis/UISpectrumContainerView.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/AudioInputBackend.h"
#include "platform/audio/PulseAudioConnection.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/graphics/EAGLContext.h"
#include "platform/uikit/UIScreen.h"
#include "tests/support/TwoMicrophoneServer.h"
#include "tests/support/WaitFor.h"

namespace {

using testsupport::TwoMicrophoneServer;

// What a chart reports: the frequency of its latest peak, and any level it reports while it says
// it has no input (there must be none).
class Readings : public DataProvideDelegate {
 public:
  std::weak_ptr<UISpectrumContainerView> chart;
  double peakHz = 0;
  int unavailable = 0;
  int levelsBesideTheNotice = 0;
  // Every frame's full-octave levels, in the order reported.
  std::vector<std::vector<float>> octaves;

  void provideData(const std::vector<Value>&) override {}
  void maximusArray(const std::vector<Value>& peaks, const std::vector<Value>&, const std::vector<Value>&) override {
    if (!peaks.empty()) peakHz = peaks.front().value("frequency", 0.0);
  }
  void onTouch(const std::vector<Value>&) override {}
  void onTouchEnd() override {}
  void onRemoveMarker() override {}
  void dbaValue(float) override {
    if (auto c = chart.lock(); c && !c->hasAudioInput()) ++levelsBesideTheNotice;
  }
  void dbbValue(float) override {}
  void dbcValue(float) override {}
  void dbzValue(float) override {}
  void selectedValues(const std::optional<std::vector<Value>>&) override {}
  void currentLeftPaddingChanged(float) override {}
  void fftValues(const std::vector<float>& levels) override {
    octaves.push_back(levels);
    shown.push_back(int(octaves.size()) - 1);
  }
  void levelsUnavailable() override {
    ++unavailable;
    peakHz = 0;
    shown.push_back(kDashes);
  }
  // What the chart showed, in order: the index of a frame's levels in `octaves`, or kDashes.
  static constexpr int kDashes = -1;
  std::vector<int> shown;
};

class ChartInputRoute : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::PrivateAudioServer::available()) GTEST_SKIP() << "pulseaudio is not installed";
    server = std::make_unique<TwoMicrophoneServer>();
    server->start();
    UIScreen::mainScreen().configure({568, 320}, 1);
    EAGLContext::setAvailableForTesting(false);  // the analysis runs without drawing GL
    problemsObserver = NSNotificationCenter::defaultCenter().addObserverForName(
        SAudioController::kAudioInputDidChangeNotification, nullptr, nullptr, [this](const NSNotification& n) {
          if (chart && n.object == chart->audioController().get() && !chart->hasAudioInput())
            problems.push_back(chart->audioInputProblem());
        });
  }
  void TearDown() override {
    problemsObserver.reset();
    if (chart) {
      chart->stopAnimation();
      chart->stopDataProvide();
      chart.reset();
    }
    server.reset();
    session().setInputSpec("pulse");
    EAGLContext::setAvailableForTesting(true);
  }
  static AVAudioSession& session() { return AVAudioSession::sharedInstance(); }

  // A running FFT chart, reporting to `readings`; the default size tells 440 Hz from 1 kHz.
  void startChart(int fftSize = 4096) {
    chart = UISpectrumContainerView::create(CGRectMake(0, 0, 568, 320));
    chart->setMathParams({1, fftSize});  // Hanning: the two tones far apart in every band
    readings->chart = chart;
    chart->setDelegate(readings);
    chart->startAnimation("");
  }
  bool hears(double hz) {
    return testsupport::waitFor([&] { return chart->hasAudioInput() && std::abs(readings->peakHz - hz) < 25; }, 15);
  }
  AVAudioSessionPortDescriptionRef usbPort() {
    AVAudioSessionPortDescriptionRef found;
    testsupport::waitFor([&] {
      for (const auto& port : session().availableInputs())
        if (port->UID() == std::string("pulse:") + TwoMicrophoneServer::kUSB) found = port;
      return found != nullptr;
    }, 10);
    return found;
  }

  // The 500 Hz octave band (354 to 708 Hz, where the USB microphone's 440 Hz lies) of the frame
  // reported last, once the average holds nothing but what the chart hears now.
  float steady500HzBand() {
    testsupport::waitFor([] { return false; }, 1.0);
    return readings->octaves.empty() ? 0.0f : readings->octaves.back()[k500HzBand];
  }
  static constexpr size_t k500HzBand = 4;
  // Chooses the USB microphone and starts the chart on it; *level is its steady 500 Hz band.
  void startChartOnTheChosenUSBMicrophone(float* level) {
    auto usb = usbPort();
    ASSERT_TRUE(usb);
    NSErrorRef error;
    ASSERT_TRUE(session().setPreferredInput(usb, &error)) << (error ? error->localizedDescription() : "");
    startChart();
    ASSERT_TRUE(hears(TwoMicrophoneServer::kUSBHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
    *level = steady500HzBand();
  }

  // When the desktop makes the USB microphone its default input, relative to the chart's stop.
  enum class MadeDefault { WhileStopped, JustBeforeTheStop, WhileRunning };
  void startOnTheWakingUSBMicrophoneAfterAStall(MadeDefault when);
  void moveARunningChartToTheWakingUSBMicrophone(const std::function<void()>& move);
  void makeTheWakingUSBMicrophoneTheDefault() {
    server->stallUSB(true);  // it is waking up: nothing yet
    server->server().pactl(std::string("set-default-source ") + TwoMicrophoneServer::kUSB);
  }

  std::unique_ptr<TwoMicrophoneServer> server;
  std::shared_ptr<UISpectrumContainerView> chart;
  std::shared_ptr<Readings> readings = std::make_shared<Readings>();
  std::vector<std::string> problems;
  NSObserverTokenRef problemsObserver;
};

// A source named as the input is the only one measured: when it goes, a running chart and one
// started again both say so, with no level, until it is back; neither measures the other microphone.
TEST_F(ChartInputRoute, ANamedSourceThatGoesIsNoInputRunningOrRestartedUntilItReturns) {
  session().setInputSpec(std::string("pulse:") + TwoMicrophoneServer::kUSB);
  startChart();
  ASSERT_TRUE(hears(TwoMicrophoneServer::kUSBHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();

  const std::string gone = "no audio source \"test_usb\" on the audio server ('!dev')";
  server->unplugUSB();
  ASSERT_TRUE(testsupport::waitFor([&] { return chart->audioInputProblem() == gone; }, 10))
      << "running: " << chart->audioInputProblem();
  EXPECT_FALSE(chart->noAudioInputView()->isHidden());
  EXPECT_GE(readings->unavailable, 1);
  testsupport::waitFor([] { return false; }, 1.5);
  EXPECT_EQ(readings->peakHz, 0) << "the built-in microphone is not measured instead";

  chart->stopAnimation();
  chart->startAnimation("");
  EXPECT_EQ(chart->audioInputProblem(), gone) << "restarted";
  testsupport::waitFor([] { return false; }, 1.5);
  EXPECT_EQ(readings->peakHz, 0);

  server->plugInUSB();
  EXPECT_TRUE(hears(TwoMicrophoneServer::kUSBHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  EXPECT_TRUE(chart->noAudioInputView()->isHidden());
  EXPECT_EQ(readings->levelsBesideTheNotice, 0);
}

// The chosen microphone is unplugged, and the chart is started before the news reaches the main
// thread: the start finds the source gone, forgets the choice and measures the input then in
// effect at once, saying nothing of the microphone that went.
TEST_F(ChartInputRoute, AStartWhileTheRemovalIsOnItsWayTakesTheInputInEffectAtOnce) {
  float usbLevel = 0;
  ASSERT_NO_FATAL_FAILURE(startChartOnTheChosenUSBMicrophone(&usbLevel));

  chart->stopAnimation();
  server->unplugUSB();
  // The connection's thread has had the removal (the server's list in memory lacks the source),
  // while the main loop, not served until the start, has had none of it.
  ASSERT_TRUE(testsupport::waitPolling([] {
    const auto sources = pulse::listSources();
    return std::none_of(sources.begin(), sources.end(), [](const PulseSourceInfo& s) { return s.name == TwoMicrophoneServer::kUSB; });
  }, 10, 0.01));
  const size_t reportedBefore = readings->octaves.size();
  chart->startAnimation("");
  // The start's own: nothing measured yet.
  const int unavailableAtStart = readings->unavailable;
  EXPECT_TRUE(chart->hasAudioInput()) << chart->audioInputProblem();
  EXPECT_EQ(session().preferredInput(), nullptr) << "a chosen input that has gone is chosen no more";

  EXPECT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  testsupport::waitFor([] { return false; }, 1.0);  // the news arrives meanwhile
  EXPECT_TRUE(chart->hasAudioInput()) << chart->audioInputProblem();
  EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
  EXPECT_EQ(readings->unavailable, unavailableAtStart);
  // From its first reading the chart measures the built-in microphone alone: not an average that
  // still holds the USB microphone's 440 Hz from before the stop.
  const float builtInLevel = steady500HzBand();
  ASSERT_GT(usbLevel - builtInLevel, 20) << "the two microphones are told apart";
  ASSERT_GT(readings->octaves.size(), reportedBefore);
  for (size_t i = reportedBefore; i < readings->octaves.size(); ++i)
    EXPECT_LT(readings->octaves[i][k500HzBand], builtInLevel + 6) << "reading " << i - reportedBefore;
}

// The chosen microphone is unplugged while the chart runs: the capture moves to the built-in one
// at once, and the chart begins measuring anew. Each reading is of one microphone alone: never an
// average of frames of both.
TEST_F(ChartInputRoute, AMicrophoneUnpluggedWhileRunningIsFollowedWithoutAReadingOfBoth) {
  float usbLevel = 0;
  ASSERT_NO_FATAL_FAILURE(startChartOnTheChosenUSBMicrophone(&usbLevel));
  const size_t reportedBefore = readings->octaves.size();
  const int unavailable = readings->unavailable;

  server->unplugUSB();
  ASSERT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  const float builtInLevel = steady500HzBand();
  ASSERT_GT(usbLevel - builtInLevel, 20) << "the two microphones are told apart";
  EXPECT_GT(readings->unavailable, unavailable) << "the move began a new measurement";
  EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
  for (size_t i = reportedBefore; i < readings->octaves.size(); ++i) {
    const float level = readings->octaves[i][k500HzBand];
    EXPECT_TRUE(level > usbLevel - 6 || level < builtInLevel + 6)
        << "reading " << i - reportedBefore << " mixes the two: " << level << " dB between " << builtInLevel
        << " and " << usbLevel;
  }
}

// A server that stops delivering (its process frozen, its socket open) is no input until it
// delivers again: the chart says so and reports no level meanwhile.
TEST_F(ChartInputRoute, AServerThatStopsDeliveringIsNoInputUntilItDeliversAgain) {
  startChart();
  ASSERT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  server->server().freeze();
  const bool said = testsupport::waitFor(
      [&] { return chart->audioInputProblem() == SAudioController::kInputDeliversNothing; }, 10);
  const bool notice = !chart->noAudioInputView()->isHidden();
  const int unavailable = readings->unavailable;
  server->server().thaw();
  ASSERT_TRUE(said) << chart->audioInputProblem();
  EXPECT_TRUE(notice);
  EXPECT_GE(unavailable, 1);
  EXPECT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  EXPECT_EQ(readings->levelsBesideTheNotice, 0);
}

// A stopped chart makes no claim about an input it no longer watches: the stall's notice goes with
// the stop, and comes back at once with a start while the microphone still delivers nothing (within
// half a second of when the capture could deliver), but not with a start after it delivers again,
// also when the server takes longer to make the capture's stream than the quick look's time.
TEST_F(ChartInputRoute, AStoppedChartSaysNothingOfAMicrophoneThatStoppedDelivering) {
  startChart();
  ASSERT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  server->stallBuiltIn(true);
  const bool said = testsupport::waitFor(
      [&] { return chart->audioInputProblem() == SAudioController::kInputDeliversNothing; }, 10);
  chart->stopAnimation();
  const bool hiddenWhenStopped = chart->noAudioInputView()->isHidden();
  const bool claimWhenStopped = !chart->hasAudioInput();
  testsupport::waitFor([] { return false; }, SAudioController::kInputSilenceLimit + 0.5);
  const bool hiddenLater = chart->noAudioInputView()->isHidden();
  chart->startAnimation("");
  double saidAt = 0;
  const bool saidAgain = testsupport::waitFor([&] {
    saidAt = Clock::monotonic();
    return chart->audioInputProblem() == SAudioController::kInputDeliversNothing;
  }, 1.0);
  const auto deliverable = session().currentInputDeliverableSince();
  chart->stopAnimation();
  server->stallBuiltIn(false);
  ASSERT_TRUE(said) << chart->audioInputProblem();
  EXPECT_TRUE(hiddenWhenStopped);
  EXPECT_FALSE(claimWhenStopped);
  EXPECT_TRUE(hiddenLater);
  EXPECT_TRUE(saidAgain) << "a start while it still delivers nothing: " << chart->audioInputProblem();
  ASSERT_TRUE(deliverable) << "the server made the capture's stream";
  EXPECT_LE(saidAt - *deliverable, 0.5) << "said " << saidAt - *deliverable << " s after the capture could deliver";
  EXPECT_FALSE(readings->peakHz > 0) << "no level beside it";

  testsupport::waitFor([] { return false; }, 1.0);  // the microphone delivers again
  EXPECT_TRUE(chart->noAudioInputView()->isHidden());
  problems.clear();
  // The server answers the start half a second late, as a busy one may.
  server->server().freeze();
  chart->startAnimation("");
  testsupport::waitFor([] { return false; }, 0.5);
  server->server().thaw();
  EXPECT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  testsupport::waitFor([] { return false; }, 0.5);
  EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
  EXPECT_EQ(readings->levelsBesideTheNotice, 0);
}

// The longest stretch without a delivery that the capture's deliveries showed while it listened:
// how long the pause the test asked its server for really was (the server and the tools that ask
// it take their time on a busy machine).
class DeliveryGaps : public AudioInputSink {
 public:
  explicit DeliveryGaps(std::shared_ptr<AudioInputBackend> capture) : capture_(std::move(capture)) {
    listening_ = capture_ && capture_->addSink(this) == noErr;
  }
  ~DeliveryGaps() override {
    if (listening_) capture_->removeSink(this);
  }
  bool listening() const { return listening_; }
  void audioInputDidCapture(const float*, uint32_t, const AudioTimeStamp&) override {
    const double now = Clock::monotonic();
    if (last_ > 0 && now - last_ > longest_.load()) longest_.store(now - last_);
    last_ = now;
    lastDelivery_.store(now);
  }
  double longest() const { return longest_.load(); }
  double lastDelivery() const { return lastDelivery_.load(); }
  void reset() { longest_.store(0); }

 private:
  std::shared_ptr<AudioInputBackend> capture_;
  bool listening_ = false;
  double last_ = 0;  // the capture's thread alone
  std::atomic<double> longest_{0}, lastDelivery_{0};
};

// A microphone that stops delivering for a moment, too short for the notice, resumes as a new
// input: no window is made of the sound before the pause and the sound after it. The pause is a
// second long; one that a busy machine stretched to the notice's time is tried again.
TEST_F(ChartInputRoute, AMicrophoneThatPausesBrieflyResumesAsANewMeasurement) {
  startChart();
  ASSERT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  OSStatus status = noErr;
  DeliveryGaps gaps(session().inputBackend(&status));
  ASSERT_TRUE(gaps.listening()) << status;
  std::vector<double> paused;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const uint64_t before = chart->spectrumView()->shownMeasurement();
    const int unavailable = readings->unavailable;
    problems.clear();
    gaps.reset();
    server->stallBuiltIn(true);
    testsupport::waitFor([] { return false; }, 1.0);
    server->stallBuiltIn(false);
    const double resumed = Clock::monotonic();
    ASSERT_TRUE(testsupport::waitFor([&] { return gaps.lastDelivery() > resumed; }, 10)) << "the microphone delivers again";
    EXPECT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
    paused.push_back(gaps.longest());
    // A microphone silent for the notice's time is said to deliver nothing: the pause was not brief.
    if (paused.back() >= SAudioController::kInputSilenceLimit - 0.05) continue;
    EXPECT_GE(paused.back(), 0.5) << "the pause was too short to be one";
    EXPECT_TRUE(testsupport::waitFor([&] { return chart->spectrumView()->shownMeasurement() != before; }, 2.0))
        << "the sound after the pause was measured as the one before";
    EXPECT_GT(readings->unavailable, unavailable);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems) << " after a pause of " << paused.back() << " s";
    return;
  }
  FAIL() << "the server paused the microphone for no less than the notice's time each time: "
         << ::testing::PrintToString(paused) << " s";
}

// The quick look again is for the microphone that stalled. Another one made the desktop's default
// input is given the time a new input has for its first samples, also when it takes a while to
// deliver them: when it was made the default while the chart was stopped (no route change tells
// the chart of that), and when it was made the default while the chart still ran on the one that
// stalled, so that the server moved the capture there: whether or not the chart has looked at its
// input since (it is stopped as soon as the capture reads the new one, or a second later).
void ChartInputRoute::startOnTheWakingUSBMicrophoneAfterAStall(MadeDefault when) {
  startChart();
  ASSERT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  server->stallBuiltIn(true);
  ASSERT_TRUE(testsupport::waitFor(
      [&] { return chart->audioInputProblem() == SAudioController::kInputDeliversNothing; }, 10))
      << chart->audioInputProblem();
  const std::string usb = std::string("pulse:") + TwoMicrophoneServer::kUSB;
  switch (when) {
    case MadeDefault::JustBeforeTheStop:
      makeTheWakingUSBMicrophoneTheDefault();
      // Not serving the main loop: the chart has no look at its input before the stop.
      ASSERT_TRUE(testsupport::waitPolling([&] { return session().currentInputUID() == usb; }, 10, 0.001))
          << "the server moves the capture that follows its default input";
      chart->stopAnimation();
      break;
    case MadeDefault::WhileRunning:
      makeTheWakingUSBMicrophoneTheDefault();
      // The chart looks at its input meanwhile: the stall was the microphone before's, and is not
      // said of the new one before its time.
      EXPECT_TRUE(testsupport::waitFor([&] { return chart->hasAudioInput(); }, 0.5)) << chart->audioInputProblem();
      testsupport::waitFor([] { return false; }, 0.5);
      ASSERT_EQ(session().currentInputUID(), usb);
      chart->stopAnimation();
      testsupport::waitFor([] { return false; }, 0.5);
      break;
    case MadeDefault::WhileStopped:
      chart->stopAnimation();
      makeTheWakingUSBMicrophoneTheDefault();
      break;
  }
  problems.clear();
  chart->startAnimation("");
  testsupport::waitFor([] { return false; }, 1.5);
  const bool quiet = chart->hasAudioInput() && problems.empty();
  server->stallUSB(false);
  server->stallBuiltIn(false);
  EXPECT_TRUE(quiet) << ::testing::PrintToString(problems);
  EXPECT_TRUE(hears(TwoMicrophoneServer::kUSBHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

TEST_F(ChartInputRoute, AStartOnAnotherDefaultMicrophoneThanTheOneThatStalledWaitsForItsFirstSamples) {
  startOnTheWakingUSBMicrophoneAfterAStall(MadeDefault::WhileStopped);
}

TEST_F(ChartInputRoute, AStopJustAfterTheServerMovedTheCaptureToANewDefaultGivesThatMicrophoneItsTime) {
  startOnTheWakingUSBMicrophoneAfterAStall(MadeDefault::JustBeforeTheStop);
}

TEST_F(ChartInputRoute, AStopAfterTheChartSawItsCaptureMovedToANewDefaultGivesThatMicrophoneItsTime) {
  startOnTheWakingUSBMicrophoneAfterAStall(MadeDefault::WhileRunning);
}

// A running chart whose capture moves to another microphone, one that takes seconds to wake: from
// the move it shows nothing of the microphone before as current (its readouts read "--" at once),
// and it gives the new one a new input's time for its first samples, counting none of the
// microphone before's as its own; one that is still silent then is said to deliver nothing, and
// once it wakes the chart measures it.
void ChartInputRoute::moveARunningChartToTheWakingUSBMicrophone(const std::function<void()>& move) {
  startChart();
  ASSERT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  const int unavailable = readings->unavailable;
  problems.clear();
  move();
  const auto moved = std::chrono::steady_clock::now();
  auto since = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - moved).count(); };
  const bool dashes = testsupport::waitFor([&] { return readings->unavailable > unavailable; }, 0.5);
  bool levelAfterTheMove = false;
  testsupport::waitFor([&] {
    levelAfterTheMove = levelAfterTheMove || readings->peakHz > 0;
    return !problems.empty() || since() >= SAudioController::kFirstInputLimit - 0.1;
  }, 10);
  const double quietFor = since();
  const bool said = testsupport::waitFor([&] { return !problems.empty(); }, 5.5 - since());
  const double saidAfter = since();
  server->stallUSB(false);
  EXPECT_TRUE(dashes) << "the microphone before's level was shown as current after the move";
  EXPECT_FALSE(levelAfterTheMove) << "a level before the new microphone delivered";
  EXPECT_GE(quietFor, SAudioController::kFirstInputLimit - 0.1) << ::testing::PrintToString(problems);
  EXPECT_TRUE(said) << "a new microphone that stays silent";
  EXPECT_LE(saidAfter, 5.5);
  EXPECT_EQ(problems, std::vector<std::string>{SAudioController::kInputDeliversNothing});
  EXPECT_TRUE(hears(TwoMicrophoneServer::kUSBHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  EXPECT_EQ(readings->levelsBesideTheNotice, 0);
}

TEST_F(ChartInputRoute, ARunningChartMovedToANewDefaultMicrophoneMeasuresItAsANewInput) {
  moveARunningChartToTheWakingUSBMicrophone([&] { makeTheWakingUSBMicrophoneTheDefault(); });
}

TEST_F(ChartInputRoute, ARunningChartMovedToAChosenMicrophoneMeasuresItAsANewInput) {
  moveARunningChartToTheWakingUSBMicrophone([&] {
    auto usb = usbPort();
    ASSERT_TRUE(usb);
    server->stallUSB(true);
    NSErrorRef error;
    ASSERT_TRUE(session().setPreferredInput(usb, &error)) << (error ? error->localizedDescription() : "");
  });
}

// A running chart whose capture the server moves to the desktop's new default microphone, one that
// delivers, back and forth: each move is one new input. From the move the readouts read "--"
// once, until the new microphone's first window, which is made of its own samples alone (not of
// what the server still sent of the microphone before); and that input goes on (it is not begun
// again when the chart's next look at its input finds the move). The window is short, so that the
// new microphone's first reading comes before that look.
TEST_F(ChartInputRoute, EachMoveToADefaultMicrophoneThatDeliversIsOneNewInputOfItsOwnSamples) {
  startChart(256);
  ASSERT_TRUE(testsupport::waitFor([&] { return chart->hasAudioInput() && !readings->octaves.empty(); }, 15))
      << chart->audioInputProblem();
  // Which microphone a frame heard: the USB one's 440 Hz lies in the 500 Hz band, the built-in
  // one's 1 kHz in the next.
  auto usbHeard = [&](int frame) { return readings->octaves[frame][k500HzBand] > readings->octaves[frame][k500HzBand + 1]; };
  for (int move = 0; move < 4; ++move) {
    const bool toUSB = move % 2 == 0;
    const size_t from = readings->shown.size();
    server->server().pactl(std::string("set-default-source ") +
                           (toUSB ? TwoMicrophoneServer::kUSB : TwoMicrophoneServer::kBuiltIn));
    // Long enough for the chart to look at its input again, and for a second new input to show.
    testsupport::waitFor([] { return false; }, 1.0);
    const std::vector<int> shown(readings->shown.begin() + from, readings->shown.end());
    const auto dashes = std::find(shown.begin(), shown.end(), Readings::kDashes);
    ASSERT_NE(dashes, shown.end()) << "move " << move << " began no new input";
    const auto first = std::find_if(dashes, shown.end(), [](int s) { return s != Readings::kDashes; });
    ASSERT_NE(first, shown.end()) << "move " << move << ": nothing measured after it";
    for (auto s = first; s != shown.end(); ++s) {
      ASSERT_NE(*s, Readings::kDashes) << "move " << move << " began a second new input, "
                                       << (s - first) << " frames after the first reading of the new one";
      EXPECT_EQ(usbHeard(*s), toUSB) << "move " << move << ", frame " << (s - first) << " of the new input";
    }
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
  }
}

// The chart may learn of a move only after the new microphone delivered (its thread was busy
// meanwhile): the new input began with that microphone's first samples, and learning of the move
// does not begin it again.
TEST_F(ChartInputRoute, AMoveTheChartLearnsOfAfterTheNewMicrophoneDeliveredIsOneNewInput) {
  startChart(256);
  ASSERT_TRUE(testsupport::waitFor([&] { return chart->hasAudioInput() && !readings->octaves.empty(); }, 15))
      << chart->audioInputProblem();
  BufferManager* window = chart->audioController()->getBufferManagerInstance();
  ASSERT_NE(window, nullptr);
  const uint64_t before = window->measurement();

  // The main loop is not served (waitPolling) from the move until the new microphone has delivered.
  server->server().pactl(std::string("set-default-source ") + TwoMicrophoneServer::kUSB);
  auto delivered = [&] {
    const uint64_t frames = window->framesDelivered();
    return window->measurement() != before && !session().currentInputAwaitsNewSource() &&
           testsupport::waitPolling([&] { return window->framesDelivered() > frames; }, 2, 0.005);
  };
  ASSERT_TRUE(testsupport::waitPolling(delivered, 5, 0.005)) << "the new microphone delivered";
  const uint64_t newInput = window->measurement();

  testsupport::waitFor([] { return false; }, 0.5);
  EXPECT_EQ(window->measurement(), newInput) << "the move began a second new input once the chart learnt of it";
  EXPECT_TRUE(chart->hasAudioInput()) << chart->audioInputProblem();
}

// A meter listens only while it measures: a stopped chart holds no capture stream on the server
// (the desktop does not show the microphone in use), a start opens one, and a new setting or a
// second chart goes on with that one. However quickly the chart is stopped and started, there is
// at most one, and none once it is stopped.
TEST_F(ChartInputRoute, OnlyAChartThatRunsHoldsACaptureStreamAndOnlyOne) {
  auto streams = [&] { return server->clientCaptureStreams(); };
  auto settlesAt = [&](size_t count) { return testsupport::waitFor([&] { return streams().size() == count; }, 1.0); };
  startChart();
  ASSERT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  ASSERT_EQ(streams().size(), 1u);
  const std::string stream = streams().front();

  chart->setMathParams({1, 8192});
  chart->setMathParams({6, 8192});
  chart->setMathParams({0, 1024});
  EXPECT_EQ(streams(), std::vector<std::string>{stream}) << "the settings keep the stream";
  auto other = UISpectrumContainerView::create(CGRectMake(0, 0, 568, 320));
  other->startAnimation("");
  EXPECT_EQ(streams(), std::vector<std::string>{stream}) << "a second chart shares it";
  other->stopAnimation();
  EXPECT_EQ(streams(), std::vector<std::string>{stream}) << "the first chart still listens";

  chart->stopAnimation();
  EXPECT_TRUE(settlesAt(0)) << "a stopped chart holds no stream: " << ::testing::PrintToString(streams());
  chart->setMathParams({1, 4096});
  EXPECT_TRUE(streams().empty()) << "a setting of a stopped chart opens none";
  chart->startAnimation("");
  EXPECT_TRUE(settlesAt(1)) << ::testing::PrintToString(streams());
  EXPECT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();

  for (int i = 0; i < 20; ++i) {
    chart->stopAnimation();
    chart->startAnimation("");
    EXPECT_LE(streams().size(), 1u) << "burst " << i;
  }
  chart->stopAnimation();
  EXPECT_TRUE(settlesAt(0)) << ::testing::PrintToString(streams());
  other.reset();
}

}  // namespace
