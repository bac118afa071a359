// A chart whose audio server goes away and comes back, or hangs and answers again, against a
// PulseAudio server of the test's own that it kills, freezes and starts again (never the shared
// server of the test run).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "analysis/BufferManager.h"
#include "analysis/NoAudioInputView.h"
#include "analysis/SAudioController.h"
#include "analysis/UISpectrumContainerView.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/graphics/EAGLContext.h"
#include "platform/uikit/UIScreen.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PrivateAudioServer.h"
#include "tests/support/WaitFor.h"
#include "tests/support/serverwaits/MainThreadServerWaits.h"

namespace {

bool capturing(const std::shared_ptr<UISpectrumContainerView>& chart) {
  auto engine = chart->audioController();
  BufferManager* frames = engine ? engine->getBufferManagerInstance() : nullptr;
  return engine && engine->hasAudioInput() && frames && frames->mFFTFramesReady.load() > 0;
}

TEST(AudioServerLoss, TheChartSaysItHasNoInputKeepsDrawingAndPicksTheServerUpWhenItReturns) {
  if (!testsupport::PrivateAudioServer::available()) GTEST_SKIP() << "pulseaudio is not installed";
  testsupport::PrivateAudioServer server;
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  UIScreen::mainScreen().configure({568, 320}, 1);
  EAGLContext::setAvailableForTesting(false);  // the analysis runs without drawing GL
  AVAudioSession::sharedInstance().setInputSpec("pulse:" + server.monitorName());
  testsupport::LogCapture log;

  auto chart = UISpectrumContainerView::create(CGRectMake(0, 0, 568, 320));
  chart->setMathParams({0, 1024});
  chart->startAnimation("");
  ASSERT_TRUE(testsupport::waitFor([&] { return capturing(chart); }, 20)) << chart->audioInputProblem();
  EXPECT_TRUE(chart->noAudioInputView()->isHidden());

  server.kill();
  ASSERT_TRUE(testsupport::waitFor([&] { return !chart->audioInputProblem().empty(); }, 20));
  EXPECT_NE(chart->audioInputProblem().find("audio server unavailable"), std::string::npos)
      << chart->audioInputProblem();
  EXPECT_FALSE(chart->noAudioInputView()->isHidden());
  EXPECT_TRUE(chart->audioController()->isWaitingForAudioInput());
  EXPECT_TRUE(chart->spectrumView()->isAnimating()) << "the chart keeps drawing";
  // A few retries later it still waits, and says so once.
  testsupport::waitFor([] { return false; }, 2.5 * SAudioController::kInputRetryInterval);
  EXPECT_FALSE(chart->noAudioInputView()->isHidden());
  size_t said = 0;
  for (const auto& line : log.lines()) said += line.find("No audio input: audio server unavailable") != std::string::npos;
  EXPECT_EQ(said, 1u) << ::testing::PrintToString(log.lines());

  ASSERT_TRUE(server.start(&error)) << error;
  EXPECT_TRUE(testsupport::waitFor([&] { return capturing(chart); }, 20)) << chart->audioInputProblem();
  EXPECT_TRUE(chart->noAudioInputView()->isHidden());
  EXPECT_TRUE(log.contains("Audio input is back"));

  chart->stopAnimation();
  chart->stopDataProvide();
  chart.reset();
  EAGLContext::setAvailableForTesting(true);
}

// How long the calling thread has run on a processor, and waited for one while it had work, in
// seconds (none when the kernel does not say).
struct ThreadTimes {
  double running = 0, kept = 0;
};
std::optional<ThreadTimes> threadTimes() {
  std::ifstream stat("/proc/thread-self/schedstat");
  double running = 0, runnable = 0;
  if (!(stat >> running >> runnable)) return std::nullopt;
  return ThreadTimes{running / 1e9, runnable / 1e9};
}

// A server that hangs (its process stopped, its socket open): the window must go on. The main
// thread never waits for the server, however briefly: every such wait is counted, and there must
// be none. The main run loop is served as the application's is, and every turn of it is timed as
// well, for a thread kept busy or held up otherwise: what counts is the time a turn took but for
// the time a loaded machine kept the thread, which had work, from a processor. A turn held up by the
// server would take seconds (its answers are awaited for kReadyTimeoutMilliseconds); one on a
// machine loaded twice over was seen to take up to 0.12 s (its own work stretched, a lock held by a
// thread kept from a processor), which is no wait for the server, and a turn busy for 0.9 s of the
// clock counted 0.54 s there: kLongestTurn lies between the two.
class AudioServerHang : public ::testing::Test {
 protected:
  static constexpr double kLongestTurn = 0.25;
  void SetUp() override {
    if (!testsupport::PrivateAudioServer::available()) GTEST_SKIP() << "pulseaudio is not installed";
    server = std::make_unique<testsupport::PrivateAudioServer>("hung_sink");
    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    UIScreen::mainScreen().configure({568, 320}, 1);
    EAGLContext::setAvailableForTesting(false);  // the analysis runs without drawing GL
    AVAudioSession::sharedInstance().setInputSpec("pulse:" + server->monitorName());
    serverWaitsBefore = testsupport::mainThreadServerWaits();
  }
  // The main thread's waits for the server since the test began.
  uint64_t serverWaits() const { return testsupport::mainThreadServerWaits() - serverWaitsBefore; }
  void TearDown() override {
    if (chart) {
      chart->stopAnimation();
      chart->stopDataProvide();
      chart.reset();
    }
    if (server) server->thaw();
    server.reset();
    EAGLContext::setAvailableForTesting(true);
  }

  // Serves the main loop until `done` or `seconds` pass; the longest turn is kept in longestTurn.
  bool serve(const std::function<bool()>& done, double seconds) {
    auto last = std::chrono::steady_clock::now();
    auto before = threadTimes();
    return testsupport::waitFor([&] {
      const auto now = std::chrono::steady_clock::now();
      const auto times = threadTimes();
      const double wall = std::chrono::duration<double>(now - last).count();
      if (const double took = counted(wall, before, times); took > longestTurn) {
        longestTurn = took;
        const ThreadTimes spent = times && before ? ThreadTimes{times->running - before->running, times->kept - before->kept}
                                                  : ThreadTimes{};
        std::ostringstream text;
        text << "the longest turn: " << wall << " s, of which running " << spent.running << " s, kept from a processor "
             << spent.kept << " s";
        longestTurnMakeUp = text.str();
      }
      last = now;
      before = times;
      return done();
    }, seconds);
  }
  // How long `action` took, but for the time the thread was kept from a processor.
  static double timeIn(const std::function<void()>& action) {
    const auto start = std::chrono::steady_clock::now();
    const auto before = threadTimes();
    action();
    return counted(since(start), before, threadTimes());
  }
  // What counts of `wall` seconds between two readings: all but the time kept from a processor.
  static double counted(double wall, const std::optional<ThreadTimes>& before,
                        const std::optional<ThreadTimes>& after) {
    return before && after ? wall - (after->kept - before->kept) : wall;
  }
  static double since(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
  }
  bool unavailable() const { return chart->audioInputProblem().find("audio server unavailable") != std::string::npos; }
  uint64_t delivered() const {
    BufferManager* frames = chart->audioController()->getBufferManagerInstance();
    return frames ? frames->framesDelivered() : 0;
  }

  // The chart was started on the hung server: for 10 s the loop keeps turning and the chart says,
  // within 4 s, that the server is unavailable; once the server answers again the chart measures,
  // on one capture stream, and a stop leaves none.
  void expectTheHangToBeSaidAndTheServerPickedUp(std::chrono::steady_clock::time_point started) {
    double saidAfter = -1;
    serve([&] {
      if (saidAfter < 0 && unavailable()) saidAfter = since(started);
      return false;
    }, 10 - since(started));
    EXPECT_EQ(serverWaits(), 0u) << "the main thread waited for the hung server";
    EXPECT_LT(longestTurn, kLongestTurn) << "the main loop waited for the server; " << longestTurnMakeUp;
    EXPECT_GE(saidAfter, 0) << chart->audioInputProblem();
    EXPECT_LE(saidAfter, 4.0);
    EXPECT_FALSE(chart->noAudioInputView()->isHidden());

    const uint64_t before = delivered();
    server->thaw();
    const auto thawed = std::chrono::steady_clock::now();
    EXPECT_TRUE(serve([&] { return chart->hasAudioInput() && delivered() > before; }, 10))
        << chart->audioInputProblem();
    EXPECT_LE(since(thawed), 4.0) << "measuring again after the server answered";
    EXPECT_LT(longestTurn, kLongestTurn) << longestTurnMakeUp;
    EXPECT_TRUE(chart->noAudioInputView()->isHidden());
    auto streams = [&] { return server->clientCaptureStreams().size(); };
    // Whatever the hung server was asked meanwhile, it ends up with the one stream that captures.
    serve([] { return false; }, 1.0);
    EXPECT_EQ(streams(), 1u);
    chart->stopAnimation();
    EXPECT_TRUE(testsupport::waitFor([&] { return streams() == 0; }, 1.5)) << streams() << " capture streams";
    EXPECT_EQ(serverWaits(), 0u) << "the main thread waited for the server";
  }

  std::unique_ptr<testsupport::PrivateAudioServer> server;
  uint64_t serverWaitsBefore = 0;
  std::shared_ptr<UISpectrumContainerView> chart;
  double longestTurn = 0;
  std::string longestTurnMakeUp;
};

TEST_F(AudioServerHang, AFirstStartOnAHungServerKeepsTheLoopTurningAndCapturesOnceItAnswers) {
  server->freeze();
  chart = UISpectrumContainerView::create(CGRectMake(0, 0, 568, 320));
  chart->setMathParams({0, 1024});
  const auto started = std::chrono::steady_clock::now();
  EXPECT_LT(timeIn([&] { chart->startAnimation(""); }), kLongestTurn) << "the start waited for the server";
  expectTheHangToBeSaidAndTheServerPickedUp(started);
}

TEST_F(AudioServerHang, AStopAndAStartOnAServerThatHungKeepTheLoopTurningAndCaptureOnceItAnswers) {
  chart = UISpectrumContainerView::create(CGRectMake(0, 0, 568, 320));
  chart->setMathParams({0, 1024});
  chart->startAnimation("");
  ASSERT_TRUE(testsupport::waitFor([&] { return capturing(chart); }, 20)) << chart->audioInputProblem();
  server->freeze();
  const auto started = std::chrono::steady_clock::now();
  EXPECT_LT(timeIn([&] {
    chart->stopAnimation();
    chart->startAnimation("");
  }), kLongestTurn) << "the stop and the start waited for the server";
  expectTheHangToBeSaidAndTheServerPickedUp(started);
}

// A server that answers late (here half a second, well within the time it has before it is taken
// for hung) gets every request at once then: the streams of starts that were stopped meanwhile are
// let go of as the server makes them, and one that a stop let go of before it was made is not
// taken up by the capture. However often the chart was stopped and started meanwhile, it ends up
// with no stream when stopped and one when running.
TEST_F(AudioServerHang, StopsAndStartsThatTheServerAnswersLateLeaveOneStreamRunningAndNoneStopped) {
  auto streams = [&] { return server->clientCaptureStreams().size(); };
  chart = UISpectrumContainerView::create(CGRectMake(0, 0, 568, 320));
  chart->setMathParams({0, 1024});
  chart->startAnimation("");
  ASSERT_TRUE(testsupport::waitFor([&] { return capturing(chart); }, 20)) << chart->audioInputProblem();

  server->freeze();
  for (int i = 0; i < 20; ++i) {
    chart->stopAnimation();
    chart->startAnimation("");
  }
  chart->stopAnimation();
  serve([] { return false; }, 0.5);
  server->thaw();
  serve([] { return false; }, 1.5);
  EXPECT_EQ(streams(), 0u) << "capture streams on a stopped chart";

  server->freeze();
  chart->startAnimation("");
  serve([] { return false; }, 0.5);
  server->thaw();
  const uint64_t before = delivered();
  EXPECT_TRUE(serve([&] { return chart->hasAudioInput() && delivered() > before; }, 4)) << chart->audioInputProblem();
  serve([] { return false; }, 1.0);
  EXPECT_EQ(streams(), 1u);
  chart->stopAnimation();
  EXPECT_TRUE(testsupport::waitFor([&] { return streams() == 0; }, 1.5)) << streams() << " capture streams";
  EXPECT_EQ(serverWaits(), 0u) << "the main thread waited for the server";
  EXPECT_LT(longestTurn, kLongestTurn) << "the main loop waited for the server; " << longestTurnMakeUp;
}

}  // namespace
