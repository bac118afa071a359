// What a remote I/O unit plays: output-driven units (no input) render on the output's demand, or
// on a real-time clock when there is nowhere to play; capturing units hand their rendered output
// to the playback stream through the ring. (That the output reaches the audio server's sink is
// checked in AudioServerTests.cpp.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/AudioUnit.h"
#include "platform/audio/TestAudioInput.h"
#include "platform/audio/TestAudioOutput.h"
#include "tests/support/RemoteIOUnit.h"
#include "tests/support/TestAudioBackends.h"

namespace {

// A render callback that writes a counting ramp (output-driven) or passes the input through.
struct Player {
  AudioUnit unit = nullptr;
  bool passInput = false;
  std::atomic<int> cycles{0};
  std::atomic<uint32_t> maxFrames{0};
  float next = 0;
};

OSStatus playerCallback(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts, uint32_t,
                        uint32_t frames, AudioBufferList* io) {
  auto* p = static_cast<Player*>(refCon);
  p->cycles.fetch_add(1);
  if (frames > p->maxFrames.load()) p->maxFrames.store(frames);
  if (p->passInput) return AudioUnitRender(p->unit, flags, ts, 1, frames, io);
  for (uint32_t i = 0; i < frames; ++i) {
    for (uint32_t b = 0; b < io->mNumberBuffers; ++b) static_cast<float*>(io->mBuffers[b].mData)[i] = p->next;
    p->next += 1;
  }
  return noErr;
}

AudioUnit makeUnit(Player* player, bool input, bool output, uint32_t channels, uint32_t maxFrames = 512) {
  player->unit = testsupport::makeRemoteIOUnit(
      playerCallback, player, {.input = input, .output = output, .channels = channels, .maxFrames = maxFrames});
  return player->unit;
}

class PlaybackTest : public testsupport::TestAudioBackendsTest {
 protected:
  void SetUp() override {
    TestAudioBackendsTest::SetUp();
    NSErrorRef error;
    AVAudioSession::sharedInstance().setPreferredIOBufferDuration(0.005, &error);  // 221 frames per pull
  }
};

TEST_F(PlaybackTest, AUnitWithoutInputRendersOnTheOutputsDemand) {
  Player p;
  AudioUnit unit = makeUnit(&p, false, true, 2, 128);
  ASSERT_EQ(AudioOutputUnitStart(unit), noErr);
  EXPECT_TRUE(remoteio::isRunning(unit));
  EXPECT_EQ(input->sinkCount(), 0) << "no input is opened for an output-only unit";
  ASSERT_EQ(output->streamCount(), 1);
  std::vector<float> heard = output->pull(1000);
  // Every frame arrives once, in order, in cycles no longer than the slice.
  for (size_t i = 0; i < heard.size(); ++i) ASSERT_EQ(heard[i], float(i)) << i;
  EXPECT_EQ(p.maxFrames.load(), 128u);
  ASSERT_EQ(AudioOutputUnitStop(unit), noErr);
  EXPECT_EQ(output->streamCount(), 0) << "stopping closes the playback stream";
  const int cycles = p.cycles.load();
  EXPECT_EQ(output->pull(256), std::vector<float>(256, 0.0f));
  EXPECT_EQ(p.cycles.load(), cycles);
  // Restarting continues where the callback left off; disposal closes the stream.
  ASSERT_EQ(AudioOutputUnitStart(unit), noErr);
  EXPECT_EQ(output->pull(1)[0], 1000.0f);
  EXPECT_EQ(AudioComponentInstanceDispose(unit), noErr);
  EXPECT_EQ(output->streamCount(), 0);
}

TEST_F(PlaybackTest, AUnitWithNeitherInputNorOutputDoesNotStart) {
  Player p;
  AudioUnit unit = makeUnit(&p, false, false, 1);
  EXPECT_EQ(AudioOutputUnitStart(unit), kAudioUnitErr_NoConnection);
  EXPECT_FALSE(remoteio::isRunning(unit));
  EXPECT_EQ(output->streamCount(), 0);
  AudioComponentInstanceDispose(unit);
}

TEST_F(PlaybackTest, ACapturingUnitsRenderedOutputIsPlayedThroughTheRing) {
  Player p;
  p.passInput = true;
  AudioUnit unit = makeUnit(&p, true, true, 1);
  ASSERT_EQ(AudioOutputUnitStart(unit), noErr);
  std::vector<float> samples(300);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = 0.001f * float(i);
  input->pushSamples(samples);
  const int cycles = p.cycles.load();
  std::vector<float> heard = output->pull(400);
  EXPECT_EQ(p.cycles.load(), cycles) << "the output does not drive a capturing unit";
  EXPECT_EQ(std::vector<float>(heard.begin(), heard.begin() + 300), samples);
  // An underrun plays silence instead of stale samples.
  EXPECT_EQ(std::vector<float>(heard.begin() + 300, heard.end()), std::vector<float>(100, 0.0f));
  EXPECT_EQ(output->pull(64), std::vector<float>(64, 0.0f));
  AudioComponentInstanceDispose(unit);
}

TEST_F(PlaybackTest, ACallbackErrorPlaysSilence) {
  Player p;
  p.passInput = true;
  AudioUnit unit = makeUnit(&p, true, true, 1);
  ASSERT_EQ(AudioOutputUnitStart(unit), noErr);
  input->setRenderError(kAudioUnitErr_CannotDoInCurrentContext);
  input->pushSamples(std::vector<float>(128, 0.9f));
  EXPECT_EQ(output->pull(128), std::vector<float>(128, 0.0f));
  AudioComponentInstanceDispose(unit);
}

TEST_F(PlaybackTest, WithNowhereToPlayAnOutputOnlyUnitRunsOnARealTimeClock) {
  output->failNextOpen(kAudioUnitErr_NoConnection);
  Player p;
  AudioUnit unit = makeUnit(&p, false, true, 2);
  ASSERT_EQ(AudioOutputUnitStart(unit), noErr);
  EXPECT_EQ(output->streamCount(), 0);
  // The clock thread pulls about 5 ms of frames per period: wait (bounded) for its first pulls.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (p.cycles.load() < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_GE(p.cycles.load(), 3);
  EXPECT_LE(p.maxFrames.load(), 221u);
  ASSERT_EQ(AudioOutputUnitStop(unit), noErr);
  const int cycles = p.cycles.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(p.cycles.load(), cycles) << "stopping ends the clock's pulls";
  AudioComponentInstanceDispose(unit);
}

TEST_F(PlaybackTest, WithNowhereToPlayACapturingUnitStillCaptures) {
  output->failNextOpen(kAudioUnitErr_NoConnection);
  Player p;
  p.passInput = true;
  AudioUnit unit = makeUnit(&p, true, true, 1);
  ASSERT_EQ(AudioOutputUnitStart(unit), noErr);
  input->pushSamples(std::vector<float>(100, 0.5f));
  EXPECT_EQ(p.cycles.load(), 1);
  AudioComponentInstanceDispose(unit);
}

}  // namespace
