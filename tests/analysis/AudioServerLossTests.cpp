// A chart whose audio server goes away and comes back, against a PulseAudio server of the test's
// own that it kills and starts again (never the shared server of the test run).
#include <gtest/gtest.h>

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

}  // namespace
