// End to end through the shared audio server of the test run (scripts/test-services): a tone
// played into its null sink is captured from the sink's monitor by an engine, and the file
// player's tone reaches the sink. The program holds the server alone while a test runs (sa_test
// AUDIO_SERVER); the tests skip without a server.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "analysis/BufferManager.h"
#include "analysis/SAudioController.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/NSRunLoop.h"
#include "tests/analysis/CaptureSupport.h"

namespace {

using capturetest::peakFrequency;
using capturetest::tempPath;
using capturetest::writeSine;

// The null sink of the test run's audio server.
std::string testSinkName() {
  const char* sink = std::getenv("SA_TEST_PULSE_SINK");
  return sink ? sink : "sa_test_sink";
}

// Waits up to 15 s until the window's peak lies within a bin of `hz`; returns the last peak found
// (0 when no window was ready).
double waitForPeakNear(BufferManager* m, double hz) {
  double peak = 0;
  NSRunLoop::main().runUntil(
      [&] {
        if (m->mFFTFramesReady.load() <= 0) return false;
        peak = peakFrequency(m);
        return std::fabs(peak - hz) <= 44100.0 / 4096;
      },
      15.0);
  return peak;
}

TEST(PulseCapture, ASinePlayedIntoTheNullSinkIsFoundAt1kHz) {
  if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "no private PulseAudio server (PULSE_SERVER unset)";
  const std::string sinkName = testSinkName();
  std::string path = writeSine(tempPath("tone"), 44100, 10.0, 1000, 0.1);  // -20 dBFS
  AVAudioSession::sharedInstance().setInputSpec("pulse:" + sinkName + ".monitor");
  auto engine = SAudioController::create();
  engine->setMathParams({0, 4096});
  engine->reinitIOUnit();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  const std::string device = "--device=" + sinkName;
  char* argv[] = {const_cast<char*>("paplay"), const_cast<char*>(device.c_str()), const_cast<char*>(path.c_str()),
                  nullptr};
  pid_t player = 0;
  ASSERT_EQ(posix_spawnp(&player, "paplay", nullptr, nullptr, argv, environ), 0);
  BufferManager* m = engine->getBufferManagerInstance();
  // Real audio needs real time: wait until the window holds the tone.
  const double peak = waitForPeakNear(m, 1000.0);
  EXPECT_NEAR(peak, 1000.0, 44100.0 / 4096);
  engine.reset();
  kill(player, SIGTERM);
  waitpid(player, nullptr, 0);
  std::filesystem::remove(path);
}

TEST(PulsePlayback, TheFilePlayersToneReachesTheNullSink) {
  if (!std::getenv("PULSE_SERVER")) GTEST_SKIP() << "no private PulseAudio server (PULSE_SERVER unset)";
  const std::string sinkName = testSinkName();
  auto& session = AVAudioSession::sharedInstance();
  session.setInputBackend(nullptr);
  session.setOutputBackend(nullptr);  // the server's default sink
  std::string path = writeSine(tempPath("heard"), 44100, 1.0, 1500, 0.3);

  // The listener records the sink's monitor.
  session.setInputSpec("pulse:" + sinkName + ".monitor");
  auto listener = SAudioController::create();
  listener->setMathParams({1, 4096});
  listener->reinitIOUnit();
  ASSERT_EQ(listener->startIOUnit(), noErr);

  auto playerEngine = SAudioController::create();
  playerEngine->setFileUrl(path);
  NSErrorRef error;
  ASSERT_TRUE(playerEngine->setupFileIOUnit(&error)) << (error ? error->description() : "");
  playerEngine->auFilePlayer()->setIsLoop(true);
  ASSERT_EQ(playerEngine->startIOUnit(), noErr);

  BufferManager* m = listener->getBufferManagerInstance();
  // Real playback needs real time: wait until the monitor's window holds the tone.
  const double peak = waitForPeakNear(m, 1500.0);
  EXPECT_NEAR(peak, 1500.0, 44100.0 / 4096);
  playerEngine.reset();
  listener.reset();
  std::filesystem::remove(path);
}

}  // namespace
