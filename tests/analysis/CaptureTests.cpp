// The capture engine and the file player, driven by the hand-driven test input (deterministic
// render cycles), and end to end through the virtual file input. (Capture through the shared audio
// server is checked in AudioServerCaptureTests.cpp.)
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "analysis/AUFilePlayer.h"
#include "analysis/BufferManager.h"
#include "analysis/DCRejectionFilter.h"
#include "analysis/SAudioController.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/FileAudioInput.h"
#include "platform/audio/TestAudioInput.h"
#include "platform/audio/TestAudioOutput.h"
#include "platform/foundation/NSRunLoop.h"
#include "tests/analysis/CaptureSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TestAudioBackends.h"

namespace {

using capturetest::firstWindow;
using capturetest::peakFrequency;
using capturetest::tempPath;
using capturetest::writeSine;

std::vector<float> latest(BufferManager* m) {
  std::vector<float> frame(m->mFFTInputBufferLen);
  m->CopyLatestFrame(frame.data());
  return frame;
}

using EngineTest = testsupport::TestAudioBackendsTest;

TEST_F(EngineTest, NewEngineIsMutedWithDefaultParamsAndNotStarted) {
  auto engine = SAudioController::create();
  EXPECT_EQ(engine->mathParams().window, 0);
  EXPECT_EQ(engine->mathParams().frameSize, 512);
  EXPECT_TRUE(engine->muteAudio());
  ASSERT_NE(engine->getBufferManagerInstance(), nullptr);
  EXPECT_EQ(engine->getBufferManagerInstance()->mFFTInputBufferLen, 512u);
  EXPECT_FALSE(remoteio::isRunning(engine->rioUnit()));
  EXPECT_TRUE(remoteio::isInitialized(engine->rioUnit()));
  EXPECT_EQ(AVAudioSession::sharedInstance().mode(), AVAudioSessionModeMeasurement);
  EXPECT_EQ(AVAudioSession::sharedInstance().categoryOptions(), 13u);
  EXPECT_EQ(engine->currentPositionInPercent(), -1.0f);
  EXPECT_EQ(engine->getFileDuration(), -1.0f);
  engine->startFileRecord("");
  EXPECT_EQ(engine->recorder(), nullptr);
  EXPECT_EQ(engine->getRecorderPeakPowerForChannel(), 0);
}

TEST_F(EngineTest, CapturedSamplesAreDcFilteredIntoTheBufferManager) {
  auto engine = SAudioController::create();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  std::vector<float> in(firstWindow(512));
  for (size_t i = 0; i < in.size(); ++i) in[i] = 0.5f + 0.25f * std::sin(0.1f * float(i));
  input->pushSamples(std::vector<float>(in.begin(), in.begin() + 256));
  input->pushSamples(std::vector<float>(in.begin() + 256, in.end()));
  BufferManager* m = engine->getBufferManagerInstance();
  EXPECT_EQ(m->mFFTFramesReady.load(), 1);
  // The window holds the filtered samples after the filter settled on the first ones.
  std::vector<float> expected = in;
  DCRejectionFilter reference;
  EXPECT_EQ(reference.FilterInPlace(expected.data(), uint32_t(expected.size())), DCRejectionFilter::kSettlingFrames);
  auto got = latest(m);
  for (size_t i = 0; i < 512; ++i) ASSERT_FLOAT_EQ(got[i], expected[DCRejectionFilter::kSettlingFrames + i]) << i;
  // Stopping resets the input window to zeros.
  EXPECT_EQ(engine->stopIOUnit(), noErr);
  EXPECT_EQ(m->mFFTInputBufferFrameIndex(), 0u);
}

TEST_F(EngineTest, TwoEnginesEachFillTheirOwnBufferFromOneInput) {
  auto a = SAudioController::create();
  auto b = SAudioController::create();
  ASSERT_NE(a->getBufferManagerInstance(), b->getBufferManagerInstance());
  ASSERT_EQ(a->startIOUnit(), noErr);
  ASSERT_EQ(b->startIOUnit(), noErr);
  EXPECT_EQ(input->startCount(), 1);
  input->pushSamples(std::vector<float>(firstWindow(512), 0.3f));
  EXPECT_EQ(a->getBufferManagerInstance()->mFFTFramesReady.load(), 1);
  EXPECT_EQ(b->getBufferManagerInstance()->mFFTFramesReady.load(), 1);
  // Each engine's context points at its own buffers.
  EXPECT_EQ(a->callbackData().bufferManager, a->getBufferManagerInstance());
  EXPECT_EQ(b->callbackData().bufferManager, b->getBufferManagerInstance());
  // Dropping one engine (running) disposes of its unit; the other keeps capturing.
  const int units = remoteio::liveInstanceCount();
  a.reset();
  EXPECT_EQ(remoteio::liveInstanceCount(), units - 1);
  input->pushSamples(std::vector<float>(256, 0.3f));
  EXPECT_EQ(b->getBufferManagerInstance()->mFFTFramesReady.load(), 2);
}

TEST_F(EngineTest, RenderErrorHandsNothingOn) {
  auto engine = SAudioController::create();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  input->setRenderError(kAudioUnitErr_CannotDoInCurrentContext);
  input->pushSamples(std::vector<float>(512, 0.9f));
  EXPECT_EQ(engine->getBufferManagerInstance()->mFFTInputBufferFrameIndex(), 0u);
  EXPECT_EQ(engine->getBufferManagerInstance()->mFFTFramesReady.load(), 0);
  input->setRenderError(noErr);
  input->pushSamples(std::vector<float>(firstWindow(512), 0.9f));
  EXPECT_EQ(engine->getBufferManagerInstance()->mFFTFramesReady.load(), 1);
}

TEST_F(EngineTest, RenderCallbackZeroesOnErrorAndWhenMuted) {
  auto engine = SAudioController::create();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  // Drive the callback directly with stale data in its buffer: outside a render cycle the unit's
  // render fails, and the buffer must come back silent.
  std::vector<float> stale(64, 0.7f);
  AudioBufferList list;
  list.mNumberBuffers = 1;
  list.mBuffers[0].mDataByteSize = 64 * 4;
  list.mBuffers[0].mData = stale.data();
  AudioTimeStamp ts;
  AudioUnitRenderActionFlags flags = 0;
  OSStatus status = SAudioController::micRenderCallback(const_cast<CallbackData*>(&engine->callbackData()), &flags,
                                                        &ts, 0, 64, &list);
  EXPECT_NE(status, noErr);
  for (float v : stale) ASSERT_EQ(v, 0.0f);
  EXPECT_EQ(engine->getBufferManagerInstance()->mFFTInputBufferFrameIndex(), 0u);
}

TEST_F(EngineTest, FailedSetupLeavesNoBufferManagerAndNoCrash) {
  remoteio::failNextInstanceNew(kAudio_MemFullError);
  auto engine = SAudioController::create();
  EXPECT_EQ(engine->rioUnit(), nullptr);
  EXPECT_EQ(engine->getBufferManagerInstance(), nullptr);
  EXPECT_NE(engine->startIOUnit(), noErr);
  EXPECT_NE(engine->stopIOUnit(), noErr);
  input->pushSamples(std::vector<float>(512, 0.1f));  // nobody listens: nothing happens
  // A failure after the buffer manager exists keeps it, but the unit is not initialised.
  remoteio::failNextInitialize(kAudio_ParamError);
  engine->reinitIOUnit();
  EXPECT_NE(engine->getBufferManagerInstance(), nullptr);
  EXPECT_FALSE(remoteio::isInitialized(engine->rioUnit()));
}

TEST_F(EngineTest, RebuildUsesTheAcceptedSliceAndDisposesTheOldUnit) {
  auto engine = SAudioController::create();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  const int units = remoteio::liveInstanceCount();
  AudioUnit old = engine->rioUnit();
  engine->stopIOUnit();
  engine->setMathParams({0, 32768});
  engine->reinitIOUnit();
  EXPECT_EQ(remoteio::liveInstanceCount(), units);
  EXPECT_EQ(input->sinkCount(), 0) << "the old unit left the input";
  ASSERT_NE(engine->getBufferManagerInstance(), nullptr);
  EXPECT_EQ(engine->getBufferManagerInstance()->mFFTInputBufferLen, kRemoteIOMaxFramesPerSliceLimit);
  (void)old;
}

TEST_F(EngineTest, InterruptionsStopAndRestartUnlessAllActionsAreStopped) {
  auto engine = SAudioController::create();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  auto& session = AVAudioSession::sharedInstance();
  session.postInterruption(AVAudioSessionInterruptionTypeBegan);
  EXPECT_FALSE(remoteio::isRunning(engine->rioUnit()));
  session.postInterruption(AVAudioSessionInterruptionTypeEnded);
  EXPECT_TRUE(remoteio::isRunning(engine->rioUnit()));
  session.postRouteChange(AVAudioSessionRouteChangeReasonOldDeviceUnavailable, "previous");
  EXPECT_TRUE(remoteio::isRunning(engine->rioUnit())) << "a route change never stops capture";
  engine->setStopAllActions(true);
  session.postInterruption(AVAudioSessionInterruptionTypeBegan);
  EXPECT_TRUE(remoteio::isRunning(engine->rioUnit()));
  AudioUnit unit = engine->rioUnit();
  session.postMediaServicesReset();
  EXPECT_FALSE(engine->audioChainIsBeingReconstructed());
  NSRunLoop::main().runUntil([] { return false; }, 0.05);
  EXPECT_EQ(engine->rioUnit(), unit);
}

TEST_F(EngineTest, MediaResetRebuildsOnTheMainThread) {
  auto engine = SAudioController::create();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  const int units = remoteio::liveInstanceCount();
  AVAudioSession::sharedInstance().postMediaServicesReset();
  EXPECT_TRUE(engine->audioChainIsBeingReconstructed());
  // While the flag is up the callback leaves the buffers alone.
  input->pushSamples(std::vector<float>(512, 0.2f));
  EXPECT_EQ(engine->getBufferManagerInstance()->mFFTInputBufferFrameIndex(), 0u);
  ASSERT_TRUE(NSRunLoop::main().runUntil([&] { return !engine->audioChainIsBeingReconstructed(); }, 5.0));
  EXPECT_EQ(remoteio::liveInstanceCount(), units) << "the old unit was disposed of";
  EXPECT_TRUE(remoteio::isRunning(engine->rioUnit()));
  EXPECT_EQ(input->sinkCount(), 1);
  input->pushSamples(std::vector<float>(firstWindow(512), 0.2f));
  EXPECT_EQ(engine->getBufferManagerInstance()->mFFTFramesReady.load(), 1);
}

// Counts the lines of the log that contain `text`.
size_t linesWith(const testsupport::LogCapture& log, const std::string& text) {
  size_t n = 0;
  for (const auto& line : log.lines()) n += line.find(text) != std::string::npos;
  return n;
}

TEST_F(EngineTest, AnInputThatCannotStartIsReportedOnceAndTriedAgainUntilItStarts) {
  testsupport::ManualClock clock;
  testsupport::LogCapture log;
  int changes = 0;
  auto observer = NSNotificationCenter::defaultCenter().addObserverForName(
      SAudioController::kAudioInputDidChangeNotification, nullptr, nullptr, [&](const NSNotification&) { ++changes; });
  input->setStartError(kAudioUnitErr_NoConnection);  // the audio server does not answer
  auto engine = SAudioController::create();
  EXPECT_TRUE(engine->hasAudioInput()) << "nothing was started yet";
  EXPECT_EQ(engine->startIOUnit(), kAudioUnitErr_NoConnection);
  EXPECT_FALSE(engine->hasAudioInput());
  EXPECT_NE(engine->audioInputProblem().find("audio server unavailable (-10876)"), std::string::npos)
      << engine->audioInputProblem();
  EXPECT_TRUE(engine->isWaitingForAudioInput());
  EXPECT_EQ(changes, 1);

  const int starts = input->startCount();
  clock.step(3 * SAudioController::kInputRetryInterval + 0.5);
  EXPECT_EQ(input->startCount(), starts + 3) << "one try a second";
  EXPECT_FALSE(engine->hasAudioInput());
  EXPECT_EQ(changes, 1) << "the same problem is not posted again";
  EXPECT_EQ(linesWith(log, "No audio input"), 1u) << ::testing::PrintToString(log.lines());
  EXPECT_EQ(linesWith(log, "couldn't start AURemoteIO"), 1u);
  // A stopped engine watches no input and so says nothing of it, nor waits for it.
  engine->stopIOUnit();
  EXPECT_TRUE(engine->hasAudioInput());
  EXPECT_FALSE(engine->isWaitingForAudioInput());
  EXPECT_EQ(changes, 2);
  clock.step(2 * SAudioController::kInputRetryInterval);
  EXPECT_EQ(input->startCount(), starts + 3) << "a stopped engine does not try";
  // A layout restarts the chart: the start says again, at once, that there is no input, but the
  // same failure is not logged again.
  EXPECT_EQ(engine->startIOUnit(), kAudioUnitErr_NoConnection);
  EXPECT_FALSE(engine->hasAudioInput());
  EXPECT_EQ(linesWith(log, "couldn't start AURemoteIO"), 1u);
  EXPECT_EQ(linesWith(log, "No audio input"), 1u);
  EXPECT_TRUE(engine->isWaitingForAudioInput());
  EXPECT_EQ(changes, 3);

  input->setStartError(noErr);  // the server is back
  clock.step(SAudioController::kInputRetryInterval);
  EXPECT_FALSE(engine->isWaitingForAudioInput());
  EXPECT_FALSE(engine->hasAudioInput()) << "until samples come";
  input->pushSamples(std::vector<float>(firstWindow(512), 0.2f));
  EXPECT_EQ(engine->getBufferManagerInstance()->mFFTFramesReady.load(), 1) << "capturing again";
  clock.step(SAudioController::kInputWatchInterval);
  EXPECT_TRUE(engine->hasAudioInput());
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(linesWith(log, "Audio input is back"), 1u);
  const int after = input->startCount();
  clock.step(3 * SAudioController::kInputRetryInterval);
  EXPECT_EQ(input->startCount(), after) << "no more tries once it runs";

  // Once it ran, the same failure again is news again.
  engine->stopIOUnit();
  auto away = TestAudioInput::create("away");
  away->setStartError(kAudioUnitErr_NoConnection);
  AVAudioSession::sharedInstance().setInputBackend(away);
  EXPECT_EQ(engine->startIOUnit(), kAudioUnitErr_NoConnection);
  EXPECT_EQ(linesWith(log, "couldn't start AURemoteIO"), 2u) << ::testing::PrintToString(log.lines());
  EXPECT_EQ(linesWith(log, "No audio input: away: audio server unavailable"), 1u);
  engine->stopIOUnit();
}

TEST_F(EngineTest, AStoppedEngineStopsTryingAndAProblemThatCannotPassIsNotRetried) {
  testsupport::ManualClock clock;
  input->setStartError(kAudioHardwareBadDeviceError);  // the source is not there (yet)
  auto engine = SAudioController::create();
  EXPECT_NE(engine->startIOUnit(), noErr);
  EXPECT_TRUE(engine->isWaitingForAudioInput());
  engine->stopIOUnit();
  EXPECT_FALSE(engine->isWaitingForAudioInput());
  const int starts = input->startCount();
  clock.step(5 * SAudioController::kInputRetryInterval);
  EXPECT_EQ(input->startCount(), starts);

  input->setStartError(kAudioFileUnsupportedFileTypeError);  // waiting will not mend this one
  EXPECT_NE(engine->startIOUnit(), noErr);
  EXPECT_FALSE(engine->hasAudioInput());
  EXPECT_NE(engine->audioInputProblem().find("not an audio file ('typ?')"), std::string::npos)
      << engine->audioInputProblem();
  EXPECT_FALSE(engine->isWaitingForAudioInput());
}

TEST_F(EngineTest, ALostServerLeavesTheEngineWithoutInputUntilTheServerReturns) {
  testsupport::ManualClock clock;
  auto engine = SAudioController::create();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  ASSERT_TRUE(engine->hasAudioInput());
  // The server goes away: the session drops the input of the old server, posts the media-services
  // reset, and the input of the new connection cannot start while no server answers.
  auto next = TestAudioInput::create();
  next->setStartError(kAudioUnitErr_NoConnection);
  AVAudioSession::sharedInstance().setInputBackend(next);
  AVAudioSession::sharedInstance().postMediaServicesReset();
  clock.step(0.01);  // the rebuild runs on the main queue
  EXPECT_FALSE(engine->audioChainIsBeingReconstructed());
  EXPECT_FALSE(engine->hasAudioInput());
  EXPECT_TRUE(engine->isWaitingForAudioInput());
  clock.step(2 * SAudioController::kInputRetryInterval);
  EXPECT_FALSE(engine->hasAudioInput());
  next->setStartError(noErr);
  clock.step(SAudioController::kInputRetryInterval);
  EXPECT_EQ(input->sinkCount(), 0);
  EXPECT_EQ(next->sinkCount(), 1);
  next->pushSamples(std::vector<float>(firstWindow(512), 0.2f));
  EXPECT_EQ(engine->getBufferManagerInstance()->mFFTFramesReady.load(), 1);
  clock.step(SAudioController::kInputWatchInterval);
  EXPECT_TRUE(engine->hasAudioInput());
}

class FilePlayerTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    path = writeSine(tempPath("player"), 44100, 0.1, 2000, 0.5);  // 4,410 packets
  }
  void TearDown() override {
    std::filesystem::remove(path);
    EngineTest::TearDown();
  }
  std::string path;
};

TEST_F(FilePlayerTest, MissingFileReturnsAnErrorAndKeepsTheMicrophone) {
  auto engine = SAudioController::create();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  BufferManager* before = engine->getBufferManagerInstance();
  engine->setFileUrl("/nonexistent/input.wav");
  NSErrorRef error;
  EXPECT_FALSE(engine->setupFileIOUnit(&error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kAudio_FileNotFoundError);
  EXPECT_EQ(engine->auFilePlayer(), nullptr);
  EXPECT_EQ(engine->getBufferManagerInstance(), before);
  input->pushSamples(std::vector<float>(firstWindow(512), 0.1f));
  EXPECT_EQ(before->mFFTFramesReady.load(), 1) << "the microphone chain still runs";
}

TEST_F(FilePlayerTest, PlaysTheFileIntoTheBufferManagerAndStopsAtTheEndOnTheMainThread) {
  auto engine = SAudioController::create();
  engine->setFileUrl(path);
  NSErrorRef error;
  ASSERT_TRUE(engine->setupFileIOUnit(&error)) << (error ? error->description() : "");
  auto player = engine->auFilePlayer();
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(engine->rioUnit(), nullptr) << "the microphone unit was disposed of";
  EXPECT_NEAR(engine->getFileDuration(), 0.1f, 1e-4f);
  EXPECT_EQ(player->totalPacketCount(), 4409u);
  ASSERT_EQ(engine->startIOUnit(), noErr);
  output->pull(512);  // the output's demand drives the player
  BufferManager* m = engine->getBufferManagerInstance();
  EXPECT_EQ(m->mFFTFramesReady.load(), 1);
  EXPECT_NEAR(peakFrequency(m), 2000.0, 44100.0 / 512);
  EXPECT_EQ(player->currentPosition() > 0, true);
  // Position by percent, clamped.
  player->setCurrentPositionPercent(50);
  EXPECT_EQ(player->currentPosition(), 2205u);
  EXPECT_FLOAT_EQ(player->currentPositionInPercent(), 50.0f);
  player->setCurrentPositionPercent(250);
  EXPECT_EQ(player->currentPosition(), 4410u);
  player->setCurrentPositionPercent(-5);
  EXPECT_EQ(player->currentPosition(), 0u);
  // Play to the end: the callback only flags it; the main thread stops the player.
  for (int i = 0; i < 12 && !player->endOfFilePending(); ++i) output->pull(512);
  EXPECT_TRUE(player->endOfFilePending());
  EXPECT_TRUE(player->isPlaying());
  EXPECT_EQ(player->currentPosition(), 0u);
  ASSERT_TRUE(NSRunLoop::main().runUntil([&] { return !player->isPlaying(); }, 5.0));
  // setupIOUnit returns to the microphone.
  engine->setupIOUnit();
  EXPECT_EQ(engine->auFilePlayer(), nullptr);
  EXPECT_NE(engine->rioUnit(), nullptr);
}

// The file is the chain's input: a player that cannot play leaves the engine without one, and a
// player that plays gives it back.
TEST_F(FilePlayerTest, AFileThatCannotPlayIsNoInput) {
  auto engine = SAudioController::create();
  engine->setFileUrl(path);
  NSErrorRef error;
  ASSERT_TRUE(engine->setupFileIOUnit(&error)) << (error ? error->description() : "");
  remoteio::failNextStart(kAudioUnitErr_NoConnection);
  EXPECT_EQ(engine->startIOUnit(), kAudioUnitErr_NoConnection);
  EXPECT_FALSE(engine->hasAudioInput());
  EXPECT_NE(engine->audioInputProblem().find("the audio file cannot be played"), std::string::npos)
      << engine->audioInputProblem();
  EXPECT_EQ(engine->startIOUnit(), noErr);
  EXPECT_TRUE(engine->hasAudioInput());
}

TEST_F(FilePlayerTest, LoopingContinuesFromTheStart) {
  CallbackData data;
  auto manager = BufferManager::create(512);
  data.bufferManager = manager.get();
  NSErrorRef error;
  auto player = AUFilePlayer::create(path, data, &error);
  ASSERT_NE(player, nullptr);
  player->setIsLoop(true);
  ASSERT_EQ(player->play(), noErr);
  for (int i = 0; i < 30; ++i) output->pull(512);
  EXPECT_FALSE(player->endOfFilePending());
  EXPECT_TRUE(player->isPlaying());
  EXPECT_GE(manager->samplesReceived(), 30u * 512u) << "every pull after the end went on from the start";
  EXPECT_EQ(manager->mFFTFramesReady.load(), BufferManager::kMaxFramesReady);
  player.reset();  // disposes of its unit before the buffer manager goes
  EXPECT_EQ(output->streamCount(), 0);
}

TEST_F(FilePlayerTest, AnEmptyOrCorruptFileNeverDividesByZero) {
  std::string empty = tempPath("empty");
  writeSine(empty, 44100, 0.0, 1000, 0.5);
  NSErrorRef error;
  auto player = AUFilePlayer::create(empty, CallbackData{}, &error);
  ASSERT_NE(player, nullptr);
  EXPECT_EQ(player->currentPositionInPercent(), 0.0f);
  EXPECT_EQ(player->totalPacketCount(), 0u);
  player->setCurrentPositionPercent(50);
  EXPECT_EQ(player->currentPosition(), 0u);
  std::filesystem::remove(empty);
  std::string corrupt = tempPath("corrupt");
  FILE* f = std::fopen(corrupt.c_str(), "w");
  std::fputs("definitely not audio", f);
  std::fclose(f);
  EXPECT_EQ(AUFilePlayer::create(corrupt, CallbackData{}, &error), nullptr);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kAudioFileUnsupportedFileTypeError);
  EXPECT_EQ(error->localizedDescription(), "AudioFileOpen failed for \"" + corrupt + "\": not an audio file ('typ?')");
  std::filesystem::remove(corrupt);
  EXPECT_TRUE(initWithFloatBuffer(nullptr, 0).empty());
  float values[2] = {1.5f, -2.0f};
  EXPECT_EQ(initWithFloatBuffer(values, 2), Value::parse("[1.5,-2.0]"));
}

TEST(VirtualFileInput, CapturesTheFileInRealTime) {
  std::string path = writeSine(tempPath("virtual"), 48000, 1.0, 3000, 0.3);
  OSStatus status = noErr;
  auto input = FileAudioInput::create(path, &status);
  ASSERT_NE(input, nullptr) << status;
  AVAudioSession::sharedInstance().setInputBackend(input);
  auto engine = SAudioController::create();
  engine->setMathParams({0, 2048});
  engine->reinitIOUnit();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  BufferManager* m = engine->getBufferManagerInstance();
  ASSERT_TRUE(NSRunLoop::main().runUntil([&] { return m->mFFTFramesReady.load() > 0; }, 10.0));
  EXPECT_NEAR(peakFrequency(m), 3000.0, 44100.0 / 2048);
  engine.reset();
  AVAudioSession::sharedInstance().setInputBackend(nullptr);
  input.reset();
  std::filesystem::remove(path);
}

}  // namespace

namespace {

// A tone with a DC offset, so that the filter's state carries it from one delivery to the next.
std::vector<float> offsetTone(double hz, size_t count, uint64_t& phase) {
  std::vector<float> v(count);
  for (auto& x : v) x = float(0.2 + 0.3 * std::sin(2 * M_PI * hz * double(phase++) / 44100));
  return v;
}

// The first frame a new engine's chain makes of `deliveries`, each filtered as the capture filters
// it, at the frame size and window of `params` (empty when they make no whole window).
std::vector<float> firstFrameOfANewChain(const std::vector<std::vector<float>>& deliveries, MathParams params) {
  BufferManager manager(uint32_t(params.frameSize));
  DCRejectionFilter filter;
  for (std::vector<float> delivery : deliveries) {
    const uint32_t settling = filter.FilterInPlace(delivery.data(), uint32_t(delivery.size()));
    manager.CopyAudioToFFTInput(delivery.data() + settling, uint32_t(delivery.size()) - settling);
  }
  std::vector<float> frame(size_t(params.frameSize / 2));
  if (!manager.ComputeFFTOutput(frame.data(), params)) frame.clear();
  return frame;
}

// Delivers a new tone to `into` in two parts, the first a quarter of a window short of the
// samples a new input takes for its first whole window of `m`: `m` has no frame after the first,
// and after the second one frame, the one a new chain makes of the same deliveries, averaged with
// nothing before it.
// `delivered`: the new input's samples that `into` already delivered (zeros).
void expectTheFirstFrameIsANewChains(TestAudioInput& into, BufferManager& m, MathParams params, size_t delivered = 0) {
  const size_t n = m.mFFTInputBufferLen;
  uint64_t phase = 7;
  const std::vector<float> first = offsetTone(3000, firstWindow(n) - n / 4 - delivered, phase);
  const std::vector<float> second = offsetTone(3000, n / 4, phase);
  std::vector<float> output(n / 2);
  into.pushSamples(first);
  EXPECT_EQ(m.mFFTFramesReady.load(), 0) << "no frame before a whole window";
  EXPECT_FALSE(m.ComputeFFTOutput(output.data(), params));
  into.pushSamples(second);
  ASSERT_EQ(m.mFFTFramesReady.load(), 1);
  ASSERT_TRUE(m.ComputeFFTOutput(output.data(), params));
  EXPECT_EQ(output, firstFrameOfANewChain({std::vector<float>(delivered, 0.0f), first, second}, params));
  EXPECT_EQ(m.fftHelper().averager().filledCount(), 1);
}

// One way a capture starts or comes to read another input, applied to a running engine on the
// test input; it returns the input the engine reads afterwards.
struct InputChange {
  const char* name;
  std::function<TestAudioInput*(SAudioController&, TestAudioInput&, testsupport::ManualClock&)> apply;
  size_t delivered = 0;  // zeros of the new input that the change itself delivers
};

void PrintTo(const InputChange& change, std::ostream* os) { *os << change.name; }

class EveryInputChange : public EngineTest, public ::testing::WithParamInterface<InputChange> {};

}  // namespace

// However the capture starts or changes input, its first frame afterwards is the one a new engine
// would compute from the same deliveries: nothing of the sound before it (not in the window, the
// filter's state or the spectrum average), and no frame at all before a whole window of it.
TEST_P(EveryInputChange, TheFirstFrameAfterItCarriesNothingFromBefore) {
  testsupport::ManualClock clock;
  auto engine = SAudioController::create();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  const MathParams params{1, 512};
  std::vector<float> output(256);
  uint64_t phase = 0;
  for (int i = 0; i < 40; ++i) {
    input->pushSamples(offsetTone(1000, 256, phase));
    BufferManager* m = engine->getBufferManagerInstance();
    if (m->mFFTFramesReady.load() > 0) {
      ASSERT_TRUE(m->ComputeFFTOutput(output.data(), params));
    }
  }
  ASSERT_EQ(engine->getBufferManagerInstance()->fftHelper().averager().filledCount(), 15);

  TestAudioInput* now = GetParam().apply(*engine, *input, clock);
  ASSERT_TRUE(now);
  ASSERT_TRUE(engine->hasAudioInput()) << engine->audioInputProblem();
  BufferManager* m = engine->getBufferManagerInstance();
  ASSERT_TRUE(m);
  const uint64_t before = m->frameMeasurement();
  expectTheFirstFrameIsANewChains(*now, *m, params, GetParam().delivered);
  EXPECT_NE(m->frameMeasurement(), before);
}

INSTANTIATE_TEST_SUITE_P(
    EngineTest, EveryInputChange,
    ::testing::Values(
        InputChange{"a stop and a start",
                    [](SAudioController& engine, TestAudioInput& input, testsupport::ManualClock&) {
                      engine.stopIOUnit();
                      EXPECT_EQ(engine.startIOUnit(), noErr);
                      return &input;
                    }},
        InputChange{"an interruption that ends",
                    [](SAudioController&, TestAudioInput& input, testsupport::ManualClock&) {
                      AVAudioSession::sharedInstance().postInterruption(AVAudioSessionInterruptionTypeBegan);
                      AVAudioSession::sharedInstance().postInterruption(AVAudioSessionInterruptionTypeEnded);
                      return &input;
                    }},
        InputChange{"a retry that picks the input up",
                    [](SAudioController& engine, TestAudioInput&, testsupport::ManualClock& clock) {
                      // Stopped, then started while the server does not answer.
                      engine.stopIOUnit();
                      static std::shared_ptr<TestAudioInput> waited;
                      waited = TestAudioInput::create("waited");
                      waited->setStartError(kAudioUnitErr_NoConnection);
                      AVAudioSession::sharedInstance().setInputBackend(waited);
                      EXPECT_NE(engine.startIOUnit(), noErr);
                      waited->setStartError(noErr);
                      clock.step(SAudioController::kInputRetryInterval + 0.1);
                      EXPECT_FALSE(engine.isWaitingForAudioInput());
                      // What was said of the input goes with its first samples.
                      waited->pushSamples(std::vector<float>(64, 0.0f));
                      clock.step(SAudioController::kInputWatchInterval);
                      return waited.get();
                    },
                    64},
        InputChange{"a server that comes back",
                    [](SAudioController& engine, TestAudioInput&, testsupport::ManualClock& clock) {
                      static std::shared_ptr<TestAudioInput> next;
                      next = TestAudioInput::create("next");
                      next->setStartError(kAudioUnitErr_NoConnection);
                      AVAudioSession::sharedInstance().setInputBackend(next);
                      AVAudioSession::sharedInstance().postMediaServicesReset();
                      clock.step(0.01);
                      EXPECT_FALSE(engine.hasAudioInput());
                      next->setStartError(noErr);
                      clock.step(SAudioController::kInputRetryInterval);
                      next->pushSamples(std::vector<float>(64, 0.0f));
                      clock.step(SAudioController::kInputWatchInterval);
                      return next.get();
                    },
                    64},
        InputChange{"the capture moved to another source",
                    [](SAudioController&, TestAudioInput& input, testsupport::ManualClock&) {
                      input.startNewTimeline();
                      return &input;
                    }},
        InputChange{"samples lost in the capture",
                    [](SAudioController&, TestAudioInput& input, testsupport::ManualClock&) {
                      input.setRenderError(kAudioUnitErr_CannotDoInCurrentContext);
                      input.pushSamples(std::vector<float>(300, 0.9f));
                      input.setRenderError(noErr);
                      return &input;
                    }},
        InputChange{"an input that delivered nothing delivers again",
                    [](SAudioController& engine, TestAudioInput& input, testsupport::ManualClock& clock) {
                      clock.step(SAudioController::kInputSilenceLimit + 0.5);
                      EXPECT_EQ(engine.audioInputProblem(), SAudioController::kInputDeliversNothing);
                      // Samples come again: the engine says so at its next look.
                      input.pushSamples(std::vector<float>(64, 0.0f));
                      clock.step(SAudioController::kInputWatchInterval);
                      EXPECT_TRUE(engine.hasAudioInput());
                      return &input;
                    },
                    64}),
    [](const ::testing::TestParamInfo<InputChange>& info) {
      std::string name;
      for (const char* c = info.param.name; *c; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
      return name;
    });

namespace {

// Another microphone chosen in the application: the route reads it from now on (the session
// moves every capture there, and tells of the change). None: back to no choice and no such port.
void chooseAnotherMicrophone(bool another = true) {
  auto& session = AVAudioSession::sharedInstance();
  NSErrorRef error;
  if (!another) {
    session.setPreferredInput(nullptr, &error);
    session.setPortsForTesting(std::nullopt);
    return;
  }
  auto usb = std::make_shared<AVAudioSessionPortDescription>("test:usb", "USB Microphone", AVAudioSessionPortUSBAudio);
  session.setPortsForTesting(std::vector<AVAudioSessionPortDescriptionRef>{usb});
  EXPECT_TRUE(session.setPreferredInput(usb, &error)) << (error ? error->description() : "");
}

// `seconds` of a quiet tone into `input`, 10 ms at a time, with the main run loop stepped along.
void deliverFor(TestAudioInput& input, testsupport::ManualClock& clock, double seconds) {
  uint64_t phase = 0;
  for (int i = 0; i < int(seconds * 100 + 0.5); ++i) {
    input.pushSamples(offsetTone(440, 441, phase));
    clock.step(0.01);
  }
}

}  // namespace

// A new frame size or window builds the chain again, but the microphone and the sound are the
// same: the input keeps its number, nothing is said of it again, and the first frame of the new
// chain is the one a new engine computes from the deliveries after the change. A stopped engine
// stays stopped, and its next start is a new input.
TEST_F(EngineTest, ANewSettingGoesOnMeasuringTheSameInputFromTheSamplesAfterIt) {
  testsupport::ManualClock clock;
  int posted = 0;
  auto observer = NSNotificationCenter::defaultCenter().addObserverForName(
      SAudioController::kAudioInputDidChangeNotification, nullptr, nullptr, [&](const NSNotification&) { ++posted; });
  auto engine = SAudioController::create();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  uint64_t phase = 0;
  std::vector<float> output(512);
  for (int i = 0; i < 40; ++i) {
    input->pushSamples(offsetTone(1000, 256, phase));
    BufferManager* m = engine->getBufferManagerInstance();
    if (m->mFFTFramesReady.load() > 0) {
      ASSERT_TRUE(m->ComputeFFTOutput(output.data(), {0, 512}));
    }
  }
  const uint64_t measured = engine->getBufferManagerInstance()->frameMeasurement();
  ASSERT_NE(measured, 0u);

  const MathParams params{1, 1024};
  engine->applyMathParams(params);
  EXPECT_EQ(engine->mathParams().window, 1);
  BufferManager* m = engine->getBufferManagerInstance();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->mFFTInputBufferLen, 1024u);
  EXPECT_TRUE(remoteio::isRunning(engine->rioUnit())) << "a capturing engine captures again";
  EXPECT_EQ(input->sinkCount(), 1) << "the old unit left the input";
  EXPECT_EQ(m->measurement(), measured) << "the same input";
  EXPECT_TRUE(engine->hasAudioInput());

  expectTheFirstFrameIsANewChains(*input, *m, params);
  EXPECT_EQ(m->frameMeasurement(), measured);
  clock.step(1.0);
  EXPECT_TRUE(engine->hasAudioInput()) << engine->audioInputProblem();
  EXPECT_EQ(posted, 0) << "nothing was said of the input";

  engine->stopIOUnit();
  engine->applyMathParams({0, 512});
  EXPECT_FALSE(remoteio::isRunning(engine->rioUnit())) << "a stopped engine stays stopped";
  EXPECT_EQ(input->sinkCount(), 0);
  clock.step(SAudioController::kFirstInputLimit + 1);
  EXPECT_TRUE(engine->hasAudioInput()) << "a stopped engine says nothing of its input";
  ASSERT_EQ(engine->startIOUnit(), noErr);
  m = engine->getBufferManagerInstance();
  input->pushSamples(offsetTone(3000, firstWindow(512), phase));
  ASSERT_TRUE(m->ComputeFFTOutput(output.data(), {0, 512}));
  EXPECT_NE(m->frameMeasurement(), measured) << "a start after a stop is a new input";
}

// The quick recheck a start makes of an input that stalled before the stop is for that start's
// first samples: once they came, a change of input has the first-input limit, as it has without
// the stall before. A route change that leaves the capture where it was (a microphone plugged in,
// not chosen) changes nothing of its input's watch.
TEST_F(EngineTest, AfterAStartThatFoundAStallAChangeOfInputHasTheFirstInputLimit) {
  for (bool stalledBefore : {false, true}) {
    SCOPED_TRACE(stalledBefore ? "after a stall" : "without a stall");
    testsupport::ManualClock clock;
    auto engine = SAudioController::create();
    ASSERT_EQ(engine->startIOUnit(), noErr);
    deliverFor(*input, clock, 0.5);
    if (stalledBefore) {
      clock.step(2.5);
      ASSERT_EQ(engine->audioInputProblem(), SAudioController::kInputDeliversNothing);
    }
    engine->stopIOUnit();
    ASSERT_EQ(engine->startIOUnit(), noErr);
    deliverFor(*input, clock, 1.0);
    ASSERT_TRUE(engine->hasAudioInput()) << engine->audioInputProblem();
    chooseAnotherMicrophone();
    clock.step(SAudioController::kFirstInputLimit - SAudioController::kInputWatchInterval);
    EXPECT_TRUE(engine->hasAudioInput()) << engine->audioInputProblem();
    clock.step(2 * SAudioController::kInputWatchInterval);
    EXPECT_EQ(engine->audioInputProblem(), SAudioController::kInputDeliversNothing);
    engine->stopIOUnit();
    chooseAnotherMicrophone(false);
  }
  {
    SCOPED_TRACE("a microphone plugged in, not chosen");
    testsupport::ManualClock clock;
    auto engine = SAudioController::create();
    ASSERT_EQ(engine->startIOUnit(), noErr);
    deliverFor(*input, clock, 1.0);
    AVAudioSession::sharedInstance().postRouteChange(AVAudioSessionRouteChangeReasonNewDeviceAvailable, "previous");
    clock.step(SAudioController::kInputSilenceLimit + SAudioController::kInputWatchInterval);
    EXPECT_EQ(engine->audioInputProblem(), SAudioController::kInputDeliversNothing);
    engine->stopIOUnit();
  }
}

// What the engine remembers of an input that stalled belongs to that input: a start on another
// one has the first-input limit. The input that stalled is still looked at again at once.
TEST_F(EngineTest, AStartOnAnotherInputThanTheOneThatStalledHasTheFirstInputLimit) {
  const std::string file = capturetest::writeSine(tempPath("other-input"), 44100, 0.2, 1000, 0.5);
  struct Change {
    const char* name;
    bool anotherInput;
    std::function<void(SAudioController&)> apply;
  };
  const Change changes[] = {
      {"none: the input that stalled", false, [](SAudioController&) {}},
      {"a new frame size", false, [](SAudioController& engine) { engine.applyMathParams({0, 1024}); }},
      {"another microphone chosen", true, [](SAudioController&) { chooseAnotherMicrophone(); }},
      {"another source captured with no route change told (the desktop's default input)", true,
       [](SAudioController&) {
         static std::shared_ptr<TestAudioInput> other;
         other = TestAudioInput::create("test:other");
         AVAudioSession::sharedInstance().setInputBackend(other);
       }},
      {"the audio server reset", true,
       [](SAudioController&) {
         AVAudioSession::sharedInstance().postMediaServicesReset();
         NSRunLoop::main().runFor(0.01);  // the rebuild runs on the main queue
       }},
      {"the file chain in the microphone's place, and the microphone back", true,
       [&file](SAudioController& engine) {
         engine.setFileUrl(file);
         NSErrorRef error;
         ASSERT_TRUE(engine.setupFileIOUnit(&error)) << (error ? error->description() : "");
         ASSERT_EQ(engine.startIOUnit(), noErr);
         engine.stopIOUnit();
         engine.reinitIOUnit();
       }},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    testsupport::ManualClock clock;
    auto engine = SAudioController::create();
    ASSERT_EQ(engine->startIOUnit(), noErr);
    deliverFor(*input, clock, 0.5);
    clock.step(2.5);
    ASSERT_EQ(engine->audioInputProblem(), SAudioController::kInputDeliversNothing);
    engine->stopIOUnit();
    change.apply(*engine);
    ASSERT_EQ(engine->startIOUnit(), noErr);
    clock.step(SAudioController::kStalledInputRecheck + 0.05);
    if (!change.anotherInput) {
      EXPECT_EQ(engine->audioInputProblem(), SAudioController::kInputDeliversNothing) << "looked at again at once";
    } else {
      EXPECT_TRUE(engine->hasAudioInput()) << engine->audioInputProblem();
      clock.step(SAudioController::kFirstInputLimit - 0.5);
      EXPECT_TRUE(engine->hasAudioInput()) << engine->audioInputProblem();
      clock.step(0.5);
      EXPECT_EQ(engine->audioInputProblem(), SAudioController::kInputDeliversNothing);
    }
    engine->stopIOUnit();
    AVAudioSession::sharedInstance().setInputBackend(input);
    chooseAnotherMicrophone(false);
  }
  std::filesystem::remove(file);
}

// A start that the audio server answers later: the unit runs at once, and when its input turns out
// not to capture after all (no answer in time) the engine says why and tries again. The notice
// stays up through the tries that still wait for their answer, and goes once samples come.
TEST_F(EngineTest, AnInputThatFailsAfterItsStartIsReportedAndTriedAgainWithoutTheNoticeComingAndGoing) {
  testsupport::ManualClock clock;
  testsupport::LogCapture log;
  auto engine = SAudioController::create();
  std::vector<std::string> said;
  auto observer = NSNotificationCenter::defaultCenter().addObserverForName(
      SAudioController::kAudioInputDidChangeNotification, engine.get(), nullptr,
      [&](const NSNotification&) { said.push_back(engine->audioInputProblem()); });
  ASSERT_EQ(engine->startIOUnit(), noErr);
  EXPECT_TRUE(engine->hasAudioInput()) << "nothing is known yet";
  input->endCapture(kAudioUnitErr_NoConnection);
  EXPECT_FALSE(remoteio::isRunning(engine->rioUnit()));
  clock.step(SAudioController::kInputWatchInterval);
  const std::string unavailable = engine->audioInputProblem();
  EXPECT_NE(unavailable.find("audio server unavailable (-10876)"), std::string::npos) << unavailable;
  EXPECT_TRUE(engine->isWaitingForAudioInput());
  for (int attempt = 0; attempt < 3; ++attempt) {
    SCOPED_TRACE(attempt);
    const int starts = input->startCount();
    clock.step(SAudioController::kInputRetryInterval);
    ASSERT_EQ(input->startCount(), starts + 1) << "tried again";
    EXPECT_TRUE(remoteio::isRunning(engine->rioUnit()));
    EXPECT_EQ(engine->audioInputProblem(), unavailable) << "while the answer is awaited";
    clock.step(2 * SAudioController::kInputWatchInterval);
    EXPECT_EQ(input->startCount(), starts + 1) << "one try at a time";
    input->endCapture(kAudioUnitErr_NoConnection);
    clock.step(SAudioController::kInputWatchInterval);
    EXPECT_EQ(engine->audioInputProblem(), unavailable);
  }
  EXPECT_EQ(said, std::vector<std::string>{unavailable}) << "said once, never taken back meanwhile";
  EXPECT_EQ(linesWith(log, "couldn't start AURemoteIO"), 1u) << ::testing::PrintToString(log.lines());
  EXPECT_EQ(linesWith(log, "No audio input"), 1u);

  // The server answers: the try that runs captures, and the notice goes with its first samples.
  clock.step(SAudioController::kInputRetryInterval);
  ASSERT_TRUE(remoteio::isRunning(engine->rioUnit()));
  EXPECT_FALSE(engine->hasAudioInput());
  deliverFor(*input, clock, 0.5);
  EXPECT_TRUE(engine->hasAudioInput()) << engine->audioInputProblem();
  EXPECT_FALSE(engine->isWaitingForAudioInput());
  EXPECT_EQ(linesWith(log, "Audio input is back"), 1u);
  engine->stopIOUnit();
}

// A chart the user stopped stays stopped when the audio server comes back: it captures nothing
// and says nothing of its input until it is started.
TEST_F(EngineTest, AMediaResetLeavesAStoppedEngineStopped) {
  testsupport::ManualClock clock;
  auto engine = SAudioController::create();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  engine->stopIOUnit();
  AVAudioSession::sharedInstance().postMediaServicesReset();
  clock.step(0.01);
  EXPECT_FALSE(engine->audioChainIsBeingReconstructed());
  EXPECT_FALSE(remoteio::isRunning(engine->rioUnit()));
  EXPECT_EQ(input->sinkCount(), 0);
  clock.step(SAudioController::kFirstInputLimit + 1);
  EXPECT_TRUE(engine->hasAudioInput());
  ASSERT_EQ(engine->startIOUnit(), noErr);
  input->pushSamples(std::vector<float>(firstWindow(512), 0.2f));
  EXPECT_EQ(engine->getBufferManagerInstance()->mFFTFramesReady.load(), 1);
}

namespace {

// A tone of `hz` at 0.1 with no offset, continuing at `phase`.
std::vector<float> plainTone(double hz, size_t count, uint64_t& phase) {
  std::vector<float> v(count);
  for (auto& x : v) x = float(0.1 * std::sin(2 * M_PI * hz * double(phase++) / 44100));
  return v;
}

// The mean level (dB) of the upper half of a spectrum: leakage and transients, never the tone.
double upperBandLevel(const std::vector<float>& spectrum) {
  double sum = 0;
  for (size_t i = spectrum.size() / 2; i < spectrum.size(); ++i) sum += spectrum[i];
  return sum / double(spectrum.size() - spectrum.size() / 2);
}

// Pushes 220-frame deliveries of a 1 kHz tone until the engine's buffer manager has a frame; true
// with *frame its spectrum (rectangular window).
bool firstFrameOf(SAudioController& engine, TestAudioInput& input, uint64_t& phase, std::vector<float>* frame) {
  for (int i = 0; i < 200; ++i) {
    input.pushSamples(plainTone(1000, 220, phase));
    BufferManager* m = engine.getBufferManagerInstance();
    frame->resize(m->mFFTInputBufferLen / 2);
    if (m->mFFTFramesReady.load() > 0 && m->ComputeFFTOutput(frame->data(), {0, int32_t(m->mFFTInputBufferLen)}))
      return true;
  }
  return false;
}

}  // namespace

// A meter listens only while it measures: a stopped engine leaves its input, whose capture then
// stops; a start begins it again. A new setting builds the chain again on the running capture,
// which neither stops nor starts for it, and a stopped engine's setting starts nothing.
TEST_F(EngineTest, OnlyARunningEngineKeepsItsInputCapturing) {
  auto engine = SAudioController::create();
  EXPECT_FALSE(input->isCapturing()) << "made, not started";
  ASSERT_EQ(engine->startIOUnit(), noErr);
  EXPECT_TRUE(input->isCapturing());
  EXPECT_EQ(input->startCount(), 1);
  engine->applyMathParams({1, 1024});
  engine->applyMathParams({0, 8192});
  EXPECT_TRUE(input->isCapturing());
  EXPECT_EQ(input->startCount(), 1) << "the capture went on through the settings";
  EXPECT_EQ(input->stopCount(), 0);
  EXPECT_EQ(input->sinkCount(), 1);

  engine->stopIOUnit();
  EXPECT_FALSE(input->isCapturing()) << "a stopped engine holds no capture";
  EXPECT_EQ(input->stopCount(), 1);
  engine->applyMathParams({0, 512});
  EXPECT_FALSE(input->isCapturing()) << "nor does its new setting";
  ASSERT_EQ(engine->startIOUnit(), noErr);
  EXPECT_TRUE(input->isCapturing());
  EXPECT_EQ(input->startCount(), 2);

  // With two engines on the input the capture runs until both stopped; dropping one is a stop.
  auto other = SAudioController::create();
  ASSERT_EQ(other->startIOUnit(), noErr);
  engine->stopIOUnit();
  EXPECT_TRUE(input->isCapturing());
  other.reset();
  EXPECT_FALSE(input->isCapturing());
  EXPECT_EQ(input->startCount(), 2);
  EXPECT_EQ(input->stopCount(), 2);
}

// The capture runs while a sink listens: the last one to leave stops it, also when sinks leave
// all at once, and a capture started ahead of a sink that never joined stops when asked idle.
TEST_F(EngineTest, TheLastSinkToLeaveStopsTheCapture) {
  struct Idle : AudioInputSink {
    void audioInputDidCapture(const float*, uint32_t, const AudioTimeStamp&) override {}
  };
  std::vector<Idle> idle(AudioInputBackend::kMaxSinks);
  for (auto& sink : idle) ASSERT_EQ(input->addSink(&sink), noErr);
  EXPECT_EQ(input->startCount(), 1);
  for (size_t i = 0; i + 1 < idle.size(); ++i) input->removeSink(&idle[i]);
  EXPECT_TRUE(input->isCapturing());
  input->removeSink(&idle.back());
  EXPECT_FALSE(input->isCapturing());
  EXPECT_EQ(input->stopCount(), 1);
  input->removeSink(&idle.back());
  EXPECT_EQ(input->stopCount(), 1) << "stopped once";
  ASSERT_EQ(input->startCapturing(), noErr);
  EXPECT_TRUE(input->isCapturing());
  Idle joined;
  ASSERT_EQ(input->addSink(&joined), noErr);
  input->stopCapturingIfIdle();
  EXPECT_TRUE(input->isCapturing()) << "a sink listens";
  input->removeSink(&joined);
  ASSERT_EQ(input->startCapturing(), noErr);
  input->stopCapturingIfIdle();
  EXPECT_FALSE(input->isCapturing()) << "started for a sink that never came";
  EXPECT_EQ(input->stopCount(), 3);
}

// A setting changed while the input's number was about to change is not the same input: the
// stall that ended, and a jump in the times right at the change, each begin a new one.
TEST_F(EngineTest, ASettingChangedAsTheInputEndsBeginsANewInput) {
  {
    SCOPED_TRACE("the input delivered nothing, and comes back after the change");
    testsupport::ManualClock clock;
    auto engine = SAudioController::create();
    ASSERT_EQ(engine->startIOUnit(), noErr);
    deliverFor(*input, clock, 0.5);
    const uint64_t measured = engine->getBufferManagerInstance()->measurement();
    clock.step(SAudioController::kInputSilenceLimit + 0.5);
    ASSERT_EQ(engine->audioInputProblem(), SAudioController::kInputDeliversNothing);
    engine->applyMathParams({0, 1024});
    EXPECT_EQ(engine->audioInputProblem(), SAudioController::kInputDeliversNothing) << "still nothing";
    deliverFor(*input, clock, 0.5);
    EXPECT_TRUE(engine->hasAudioInput());
    EXPECT_NE(engine->getBufferManagerInstance()->measurement(), measured) << "what came back is a new input";
    engine->stopIOUnit();
  }
  for (bool moved : {true, false}) {
    SCOPED_TRACE(moved ? "the capture moved to another source as the chain was built again" : "the input goes on");
    auto engine = SAudioController::create();
    ASSERT_EQ(engine->startIOUnit(), noErr);
    uint64_t phase = 0;
    input->pushSamples(plainTone(1000, 2048, phase));
    const uint64_t measured = engine->getBufferManagerInstance()->measurement();
    engine->applyMathParams({0, 1024});
    EXPECT_EQ(engine->getBufferManagerInstance()->measurement(), measured) << "the same input so far";
    if (moved) input->startNewTimeline();
    input->pushSamples(plainTone(1000, 220, phase));
    engine->applyMathParams({1, 1024});
    engine->applyMathParams({1, 2048});
    input->pushSamples(plainTone(1000, 4096, phase));
    if (moved) {
      EXPECT_NE(engine->getBufferManagerInstance()->measurement(), measured) << "its first samples are another's";
    } else {
      EXPECT_EQ(engine->getBufferManagerInstance()->measurement(), measured);
    }
  }
}

// The chain is built again while the render thread delivers: whichever chain each delivery
// reaches, the input is never taken for a new one, and frames come at the new setting.
TEST_F(EngineTest, ASettingChangedWhileSamplesFlowKeepsTheInput) {
  auto engine = SAudioController::create();
  ASSERT_EQ(engine->startIOUnit(), noErr);
  uint64_t phase = 0;
  input->pushSamples(plainTone(1000, 1024, phase));
  const uint64_t measured = engine->getBufferManagerInstance()->measurement();
  std::atomic<bool> stop{false};
  std::thread render([&] {
    uint64_t at = phase;
    while (!stop.load()) input->pushSamples(plainTone(1000, 220, at));
  });
  int kept = 0;
  for (int i = 0; i < 100; ++i) {
    engine->applyMathParams({i % 2, i % 3 == 0 ? 512 : 1024});
    kept += engine->getBufferManagerInstance()->measurement() == measured;
  }
  const auto framesAfter = [&] { return engine->getBufferManagerInstance()->mFFTFramesReady.load() > 0; };
  for (int i = 0; i < 10000 && !framesAfter(); ++i) std::this_thread::sleep_for(std::chrono::microseconds(100));
  stop.store(true);
  render.join();
  EXPECT_EQ(kept, 100);
  EXPECT_EQ(engine->getBufferManagerInstance()->measurement(), measured);
  EXPECT_TRUE(framesAfter());
}

// The first frame of a new chain, or of a new input, shows the sound alone: the DC filter starting
// from rest puts a transient of its own into the first samples, and those are left out, so the
// frame is the one a long-running chain takes of the same samples. A rectangular window hides no
// transient: it would show as a column lit up to the top of the spectrograph.
TEST_F(EngineTest, TheFirstFrameOfANewChainOrInputIsOfTheSoundAlone) {
  auto engine = SAudioController::create();
  engine->applyMathParams({0, 512});
  ASSERT_EQ(engine->startIOUnit(), noErr);
  uint64_t phase = 0;
  std::vector<float> frame;
  ASSERT_TRUE(firstFrameOf(*engine, *input, phase, &frame));
  // A long-running filter over the whole tone: the reference for any window of it.
  std::vector<float> settled;
  for (uint64_t i = 0; i < 44100 * 4; ++i) settled.push_back(float(0.1 * std::sin(2 * M_PI * 1000 * double(i) / 44100)));
  DCRejectionFilter reference;
  reference.FilterInPlace(settled.data(), uint32_t(settled.size()));
  double worst = 0;
  for (int i = 0; i < 24; ++i) {
    // Another setting (a new chain), or a new input: every few tries, at every phase of the tone.
    if (i % 3 == 2) {
      input->startNewTimeline();
    } else {
      engine->applyMathParams({0, 512});
    }
    input->pushSamples(plainTone(1000, 17 * size_t(i + 1), phase));  // moves the phase on
    ASSERT_TRUE(firstFrameOf(*engine, *input, phase, &frame)) << i;
    ASSERT_EQ(engine->getBufferManagerInstance()->fftHelper().averager().filledCount(), 1);
    // The same 512 samples out of the long-running filter.
    ASSERT_LE(phase, settled.size());
    BufferManager alone(512);
    alone.CopyAudioToFFTInput(settled.data() + phase - 512, 512);
    std::vector<float> expected(256);
    ASSERT_TRUE(alone.ComputeFFTOutput(expected.data(), {0, 512}));
    worst = std::max(worst, std::abs(upperBandLevel(frame) - upperBandLevel(expected)));
  }
  EXPECT_LT(worst, 0.5) << "dB between a first frame's upper band and a long-running chain's";
}
