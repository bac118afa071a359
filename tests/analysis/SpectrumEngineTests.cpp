// A spectrum view on its own audio engine: frames arrive from the test input through the view's
// engine, the frame timer (on a stepped clock) turns them into reports, and parameter changes and
// stops reach the engine.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <unistd.h>

#include "analysis/BufferManager.h"
#include "analysis/SAudioController.h"
#include "analysis/UISpectrumView.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/TestAudioInput.h"
#include "platform/audio/TestAudioOutput.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/uikit/UIScreen.h"
#include "tests/analysis/CaptureSupport.h"

namespace {

using capturetest::firstWindow;

std::vector<float> sine(size_t count, double hz, double amplitude) {
  std::vector<float> samples(count);
  for (size_t i = 0; i < count; ++i) samples[i] = float(amplitude * std::sin(2 * M_PI * hz * double(i) / 44100.0));
  return samples;
}

struct Report {
  std::vector<Value> maximus, holdedMax, holdedMin;
  float dba = 0, dbb = 0, dbc = 0, dbz = 0;
};

class ReportingDelegate : public MaximusDelegate {
 public:
  std::vector<Report> reports;
  int octaveReports = 0;
  void setMaximus(const std::vector<Value>& maximus, const std::vector<Value>& holdedMax,
                  const std::vector<Value>& holdedMin, float dba, float dbb, float dbc, float dbz) override {
    reports.push_back({maximus, holdedMax, holdedMin, dba, dbb, dbc, dbz});
  }
  void setFullOctaveOutput(const std::vector<float>&) override { ++octaveReports; }
};

class SpectrumEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIScreen::mainScreen().configure({568, 320}, 1);
    input = TestAudioInput::create();
    output = TestAudioOutput::create();
    AVAudioSession::sharedInstance().setInputBackend(input);
    AVAudioSession::sharedInstance().setOutputBackend(output);
    Clock::setManual(true);
    // The analysis does not depend on drawing; without GL the view reports just the same.
    EAGLContext::setAvailableForTesting(false);
    view = UISpectrumView::create(CGRectMake(0, 0, 100, 50));
    EAGLContext::setAvailableForTesting(true);
    delegate = std::make_shared<ReportingDelegate>();
    view->maximusDelegate = delegate;
  }
  void TearDown() override {
    view.reset();
    Clock::setManual(false);
    AVAudioSession::sharedInstance().setInputBackend(nullptr);
    AVAudioSession::sharedInstance().setOutputBackend(nullptr);
  }
  // One period of the frame timer on the stepped clock.
  void tick() { NSRunLoop::main().runFor(view->animationInterval()); }

  std::shared_ptr<TestAudioInput> input;
  std::shared_ptr<TestAudioOutput> output;
  std::shared_ptr<UISpectrumView> view;
  std::shared_ptr<ReportingDelegate> delegate;
};

TEST_F(SpectrumEngineTest, EveryViewRunsItsOwnEngineFromItsCreation) {
  auto engine = view->audioController();
  ASSERT_NE(engine, nullptr);
  EXPECT_TRUE(view->isAnimating());
  EXPECT_TRUE(remoteio::isRunning(engine->rioUnit()));
  EXPECT_EQ(engine->mathParams().frameSize, 512);
  EXPECT_EQ(view->frameSource(), engine->getBufferManagerInstance());
  EAGLContext::setAvailableForTesting(false);
  auto other = UISpectrumView::create(CGRectMake(0, 0, 100, 50));
  EAGLContext::setAvailableForTesting(true);
  EXPECT_NE(other->audioController(), engine);
  EXPECT_EQ(input->sinkCount(), 2) << "both engines listen to the one input";
  EXPECT_EQ(input->startCount(), 1);
}

TEST_F(SpectrumEngineTest, APushedSineIsReportedAtItsFrequencyWithTheWeightedTotals) {
  tick();
  EXPECT_TRUE(delegate->reports.empty()) << "no frame, no report";
  input->pushSamples(sine(firstWindow(512), 1000, 0.5));
  tick();
  ASSERT_EQ(delegate->reports.size(), 1u);
  EXPECT_EQ(delegate->octaveReports, 1);
  const Report& loud = delegate->reports[0];
  ASSERT_EQ(loud.maximus.size(), 1u);
  EXPECT_NEAR(loud.maximus[0]["frequency"].get<float>(), 1000.0f, 22050.0f / 256);
  EXPECT_TRUE(loud.holdedMax.empty());
  EXPECT_TRUE(loud.holdedMin.empty());
  // Near 1 kHz every weighting is about 0 dB: the four totals agree within a decibel.
  ASSERT_TRUE(std::isfinite(loud.dbz));
  EXPECT_NEAR(loud.dba, loud.dbz, 1.0f);
  EXPECT_NEAR(loud.dbb, loud.dbz, 1.0f);
  EXPECT_NEAR(loud.dbc, loud.dbz, 1.0f);
  // The timer consumed the frame: the next tick reports nothing.
  tick();
  EXPECT_EQ(delegate->reports.size(), 1u);

  // The same tone 20 dB quieter, in a fresh view (the spectrum averages over frames).
  EAGLContext::setAvailableForTesting(false);
  auto quietView = UISpectrumView::create(CGRectMake(0, 0, 100, 50));
  EAGLContext::setAvailableForTesting(true);
  auto quietDelegate = std::make_shared<ReportingDelegate>();
  quietView->maximusDelegate = quietDelegate;
  view->stopAnimation();
  input->pushSamples(sine(firstWindow(512), 1000, 0.05));
  tick();
  ASSERT_EQ(quietDelegate->reports.size(), 1u);
  EXPECT_NEAR(loud.dba - quietDelegate->reports[0].dba, 20.0f, 0.5f);
  EXPECT_NEAR(loud.dbz - quietDelegate->reports[0].dbz, 20.0f, 0.5f);
}

TEST_F(SpectrumEngineTest, ANewFrameSizeRebuildsTheEnginesBufferManager) {
  auto engine = view->audioController();
  ASSERT_NE(engine->getBufferManagerInstance(), nullptr);
  AudioUnit oldUnit = engine->rioUnit();
  view->setMathParams(MathParams{1, 2048});
  BufferManager* after = engine->getBufferManagerInstance();
  ASSERT_NE(after, nullptr);
  EXPECT_NE(engine->rioUnit(), oldUnit);
  EXPECT_EQ(after->mFFTInputBufferLen, 2048u);
  EXPECT_EQ(engine->mathParams().window, 1);
  EXPECT_EQ(engine->mathParams().frameSize, 2048);
  EXPECT_TRUE(remoteio::isRunning(engine->rioUnit())) << "the rebuilt chain is started again";
  EXPECT_EQ(input->sinkCount(), 1) << "the old unit left the input";
  // The rebuilt chain feeds the view: a 2048-point frame gives 1024 bins 10.8 Hz apart.
  input->pushSamples(sine(firstWindow(2048), 1000, 0.5));
  tick();
  ASSERT_EQ(delegate->reports.size(), 1u);
  EXPECT_EQ(view->l_fftData.size(), 1024u);
  EXPECT_NEAR(delegate->reports[0].maximus[0]["frequency"].get<float>(), 1000.0f, 22050.0f / 1024);
}

TEST_F(SpectrumEngineTest, StoppingTheViewStopsItsEngineAndItsFrames) {
  auto engine = view->audioController();
  view->stopAnimation();
  EXPECT_FALSE(view->isAnimating());
  EXPECT_FALSE(remoteio::isRunning(engine->rioUnit()));
  EXPECT_EQ(input->sinkCount(), 0);
  input->pushSamples(sine(firstWindow(512), 1000, 0.5));
  EXPECT_EQ(engine->getBufferManagerInstance()->mFFTFramesReady.load(), 0);
  view->invalidate();
  tick();
  EXPECT_TRUE(delegate->reports.empty());
  // Started again, the frames flow again. A new interval changes the timer's pace alone: the
  // capture goes on, as the same input.
  view->startAnimation();
  const uint64_t measured = engine->getBufferManagerInstance()->measurement();
  view->setAnimationInterval(0.1);
  EXPECT_TRUE(view->isAnimating());
  EXPECT_DOUBLE_EQ(view->animationInterval(), 0.1);
  EXPECT_TRUE(remoteio::isRunning(engine->rioUnit()));
  EXPECT_EQ(engine->getBufferManagerInstance()->measurement(), measured);
  input->pushSamples(sine(firstWindow(512), 1000, 0.5));
  tick();
  EXPECT_EQ(delegate->reports.size(), 1u);
}

TEST_F(SpectrumEngineTest, StopAllActionsReachesTheEngine) {
  auto engine = view->audioController();
  auto& session = AVAudioSession::sharedInstance();
  view->setStopAllActions(true);
  EXPECT_TRUE(view->stopAllActions);
  EXPECT_TRUE(engine->stopAllActions());
  session.postInterruption(AVAudioSessionInterruptionTypeBegan);
  EXPECT_TRUE(remoteio::isRunning(engine->rioUnit())) << "the engine ignores the session while all actions stop";
  view->setStopAllActions(false);
  EXPECT_FALSE(engine->stopAllActions());
  session.postInterruption(AVAudioSessionInterruptionTypeBegan);
  EXPECT_FALSE(remoteio::isRunning(engine->rioUnit()));
  input->pushSamples(sine(firstWindow(512), 1000, 0.5));
  tick();
  EXPECT_TRUE(delegate->reports.empty()) << "an interrupted engine delivers no frames";
  session.postInterruption(AVAudioSessionInterruptionTypeEnded);
  input->pushSamples(sine(firstWindow(512), 1000, 0.5));
  tick();
  EXPECT_EQ(delegate->reports.size(), 1u);
}

TEST_F(SpectrumEngineTest, RecordingIsForwardedToTheEngine) {
  auto engine = view->audioController();
  view->startFileRecord("");
  EXPECT_EQ(engine->recorder(), nullptr);
  const std::string path =
      (std::filesystem::temp_directory_path() / ("view-record-" + std::to_string(::getpid()) + ".m4a")).string();
  view->startFileRecord(path);
  ASSERT_NE(engine->recorder(), nullptr);
  EXPECT_TRUE(engine->recorder()->isRecording());
  view->pauseFileRecord();
  EXPECT_FALSE(engine->recorder()->isRecording());
  engine->recorder()->record();
  view->stopFileRecord();
  EXPECT_FALSE(engine->recorder()->isRecording());
  std::filesystem::remove(path);
}

TEST_F(SpectrumEngineTest, ABufferManagerOfTheCallersOwnReplacesTheEngines) {
  auto own = BufferManager::create(256);
  view->setBufferManager(own.get());
  EXPECT_EQ(view->frameSource(), own.get());
  input->pushSamples(sine(firstWindow(512), 1000, 0.5));  // fills the engine's buffers, which are not read now
  tick();
  EXPECT_TRUE(delegate->reports.empty());
  auto s = sine(256, 3000, 0.5);
  own->CopyAudioToFFTInput(s.data(), 256);
  tick();
  ASSERT_EQ(delegate->reports.size(), 1u);
  EXPECT_EQ(view->l_fftData.size(), 128u);
  view->setBufferManager(nullptr);
  EXPECT_EQ(view->frameSource(), view->audioController()->getBufferManagerInstance());
}

}  // namespace
