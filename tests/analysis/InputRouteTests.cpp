// Charts on an audio server of the test's own with a built-in microphone hearing 1 kHz and a USB
// microphone hearing 440 Hz: what a chart measures, or says it cannot, when the input it reads goes
// away, and when a start races the news of that.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "analysis/NoAudioInputView.h"
#include "analysis/SAudioController.h"
#include "analysis/UISpectrumContainerView.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/PulseAudioConnection.h"
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
  void fftValues(const std::vector<float>&) override {}
  void levelsUnavailable() override {
    ++unavailable;
    peakHz = 0;
  }
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

  // A running FFT chart fine enough to tell 440 Hz from 1 kHz, reporting to `readings`.
  void startChart() {
    chart = UISpectrumContainerView::create(CGRectMake(0, 0, 568, 320));
    chart->setMathParams({0, 4096});
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
  auto usb = usbPort();
  ASSERT_TRUE(usb);
  NSErrorRef error;
  ASSERT_TRUE(session().setPreferredInput(usb, &error)) << (error ? error->localizedDescription() : "");
  startChart();
  ASSERT_TRUE(hears(TwoMicrophoneServer::kUSBHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();

  chart->stopAnimation();
  server->unplugUSB();
  // A round trip to the server: the connection's thread has had every word of the removal before
  // its answer (the capture knows it has left the source), while the main loop, not served until
  // the start, has had none.
  pulse::listSources();
  chart->startAnimation("");
  EXPECT_TRUE(chart->hasAudioInput()) << chart->audioInputProblem();
  EXPECT_EQ(session().preferredInput(), nullptr) << "a chosen input that has gone is chosen no more";

  EXPECT_TRUE(hears(TwoMicrophoneServer::kBuiltInHz)) << readings->peakHz << " Hz; " << chart->audioInputProblem();
  testsupport::waitFor([] { return false; }, 1.0);  // the news arrives meanwhile
  EXPECT_TRUE(chart->hasAudioInput()) << chart->audioInputProblem();
  EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
  EXPECT_EQ(readings->unavailable, 0);
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

}  // namespace
