// The remote I/O unit over the hand-driven test input: property checks, render cycles, fan-out.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/audio/AVAudioSession.h"
#include "platform/audio/AudioUnit.h"
#include "platform/audio/TestAudioInput.h"
#include "tests/support/RemoteIOUnit.h"

namespace {

struct Capture {
  AudioUnit unit = nullptr;
  std::vector<float> received;
  OSStatus lastRender = noErr;
  uint32_t maxFrames = 0;
};

OSStatus captureCallback(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts, uint32_t,
                         uint32_t frames, AudioBufferList* io) {
  auto* c = static_cast<Capture*>(refCon);
  c->lastRender = AudioUnitRender(c->unit, flags, ts, 1, frames, io);
  c->maxFrames = std::max(c->maxFrames, frames);
  if (c->lastRender == noErr) {
    auto* s = static_cast<float*>(io->mBuffers[0].mData);
    c->received.insert(c->received.end(), s, s + frames);
  }
  return c->lastRender;
}

AudioUnit makeUnit(Capture* capture, uint32_t maxFrames = 512) {
  capture->unit = testsupport::makeRemoteIOUnit(captureCallback, capture, {.input = true, .output = std::nullopt, .channels = 1, .maxFrames = maxFrames});
  return capture->unit;
}

class RemoteIOTest : public ::testing::Test {
 protected:
  void SetUp() override {
    input = TestAudioInput::create();
    AVAudioSession::sharedInstance().setInputBackend(input);
  }
  void TearDown() override { AVAudioSession::sharedInstance().setInputBackend(nullptr); }
  std::shared_ptr<TestAudioInput> input;
};

TEST(RemoteIOComponent, OnlyTheRemoteIOUnitIsFound) {
  AudioComponentDescription wrong{kAudioUnitType_Output, FourCC("vpio"), kAudioUnitManufacturer_System, 0, 0};
  EXPECT_EQ(AudioComponentFindNext(nullptr, &wrong), nullptr);
  AudioComponentDescription right{kAudioUnitType_Output, kAudioUnitSubType_RemoteIO, kAudioUnitManufacturer_System, 0, 0};
  EXPECT_NE(AudioComponentFindNext(nullptr, &right), nullptr);
  EXPECT_EQ(AudioComponentFindNext(nullptr, nullptr), nullptr);
}

TEST(RemoteIOComponent, RefusesBadPropertiesWithAStatus) {
  AudioComponentDescription d{kAudioUnitType_Output, kAudioUnitSubType_RemoteIO, kAudioUnitManufacturer_System, 0, 0};
  AudioUnit unit = nullptr;
  ASSERT_EQ(AudioComponentInstanceNew(AudioComponentFindNext(nullptr, &d), &unit), noErr);
  auto f = MakeFloatNonInterleavedFormat(1);
  f.mSampleRate = 48000;
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1, &f, sizeof f),
            kAudioUnitErr_FormatNotSupported);
  f = MakeFloatNonInterleavedFormat(3);
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1, &f, sizeof f),
            kAudioUnitErr_FormatNotSupported);
  uint32_t one = 1;
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Input, 0, &one, 4),
            kAudioUnitErr_InvalidElement);
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Input, 1, &one, 2),
            kAudio_ParamError);
  uint32_t zero = 0;
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, &zero, 4),
            kAudioUnitErr_InvalidPropertyValue);
  // A slice larger than the unit can take is lowered, and the lowered value reads back.
  uint32_t huge = 65536, readBack = 0, size = 4;
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, &huge, 4), noErr);
  EXPECT_EQ(AudioUnitGetProperty(unit, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, &readBack, &size),
            noErr);
  EXPECT_EQ(readBack, kRemoteIOMaxFramesPerSliceLimit);
  // Starting before initialising, and rendering outside a render cycle, fail.
  EXPECT_EQ(AudioOutputUnitStart(unit), kAudioUnitErr_Uninitialized);
  AudioBufferList list;
  AudioTimeStamp ts;
  EXPECT_EQ(AudioUnitRender(unit, nullptr, &ts, 1, 16, &list), kAudioUnitErr_CannotDoInCurrentContext);
  EXPECT_EQ(AudioUnitSetProperty(nullptr, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, &huge, 4),
            kAudio_ParamError);
  EXPECT_EQ(AudioComponentInstanceDispose(unit), noErr);
}

TEST_F(RemoteIOTest, RenderCyclesNeverExceedTheSliceAndCarryTheInput) {
  Capture c;
  AudioUnit unit = makeUnit(&c, 256);
  ASSERT_EQ(AudioOutputUnitStart(unit), noErr);
  std::vector<float> samples(1000);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = float(i);
  input->pushSamples(samples);
  EXPECT_EQ(c.received, samples);
  EXPECT_EQ(c.maxFrames, 256u);
  ASSERT_EQ(AudioOutputUnitStop(unit), noErr);
  input->pushSamples(samples);
  EXPECT_EQ(c.received.size(), 1000u) << "a stopped unit renders nothing";
  AudioComponentInstanceDispose(unit);
}

TEST_F(RemoteIOTest, OneInputFansOutToEveryStartedUnit) {
  Capture a, b;
  AudioUnit ua = makeUnit(&a), ub = makeUnit(&b);
  ASSERT_EQ(AudioOutputUnitStart(ua), noErr);
  ASSERT_EQ(AudioOutputUnitStart(ub), noErr);
  EXPECT_EQ(input->sinkCount(), 2);
  EXPECT_EQ(input->startCount(), 1) << "both units share one capture stream";
  input->pushSamples(std::vector<float>(300, 0.25f));
  EXPECT_EQ(a.received.size(), 300u);
  EXPECT_EQ(b.received.size(), 300u);
  // Disposing one (running) unit leaves the other fed.
  EXPECT_EQ(AudioComponentInstanceDispose(ua), noErr);
  input->pushSamples(std::vector<float>(100, 0.5f));
  EXPECT_EQ(b.received.size(), 400u);
  EXPECT_EQ(input->sinkCount(), 1);
  AudioComponentInstanceDispose(ub);
  EXPECT_EQ(input->sinkCount(), 0);
}

// A unit started in the place of a running one takes over its deliveries from one to the next:
// the capture goes on without a stop, and the one it replaced is stopped.
TEST_F(RemoteIOTest, AUnitStartedInTheRunningOnesPlaceTakesOverItsInput) {
  Capture a, b, c;
  AudioUnit ua = makeUnit(&a), ub = makeUnit(&b), uc = makeUnit(&c);
  ASSERT_EQ(AudioOutputUnitStart(ua), noErr);
  input->pushSamples(std::vector<float>(100, 0.25f));
  bool inPlace = false;
  ASSERT_EQ(AudioOutputUnitStartInPlaceOf(ub, ua, &inPlace), noErr);
  EXPECT_TRUE(inPlace);
  EXPECT_FALSE(remoteio::isRunning(ua));
  EXPECT_TRUE(remoteio::isRunning(ub));
  EXPECT_EQ(input->sinkCount(), 1);
  EXPECT_EQ(input->startCount(), 1);
  EXPECT_EQ(input->stopCount(), 0) << "the capture went on";
  input->pushSamples(std::vector<float>(50, 0.5f));
  EXPECT_EQ(a.received.size(), 100u);
  EXPECT_EQ(b.received.size(), 50u);
  // In the place of a stopped unit, or of none, it is a plain start.
  ASSERT_EQ(AudioOutputUnitStartInPlaceOf(uc, ua, &inPlace), noErr);
  EXPECT_FALSE(inPlace);
  EXPECT_EQ(input->sinkCount(), 2);
  AudioOutputUnitStop(uc);
  // The one replaced on another input than the session's now: the new one joins the session's.
  auto other = TestAudioInput::create("other");
  AVAudioSession::sharedInstance().setInputBackend(other);
  ASSERT_EQ(AudioOutputUnitStartInPlaceOf(uc, ub, &inPlace), noErr);
  EXPECT_FALSE(inPlace);
  EXPECT_FALSE(remoteio::isRunning(ub));
  EXPECT_EQ(input->sinkCount(), 0);
  EXPECT_FALSE(input->isCapturing());
  EXPECT_EQ(other->sinkCount(), 1);
  // Without a unit to start, the running one is still stopped.
  EXPECT_EQ(AudioOutputUnitStartInPlaceOf(nullptr, uc, &inPlace), kAudio_ParamError);
  EXPECT_FALSE(remoteio::isRunning(uc));
  EXPECT_FALSE(other->isCapturing());
  for (AudioUnit unit : {ua, ub, uc}) AudioComponentInstanceDispose(unit);
}

// While another thread delivers flat out, units take each other's place again and again: every
// delivery reaches exactly one of them, in order, and the capture never stops.
TEST_F(RemoteIOTest, TakingOverWhileDeliveriesRunLosesAndDoublesNone) {
  Capture a, b;
  AudioUnit ua = makeUnit(&a), ub = makeUnit(&b);
  ASSERT_EQ(AudioOutputUnitStart(ua), noErr);
  std::atomic<bool> stop{false};
  std::atomic<uint32_t> pushed{0};
  std::thread render([&] {
    std::vector<float> block(64);
    float next = 0;
    // At most 20,000 blocks: the running count stays exact in a float.
    while (!stop.load() && pushed.load() < 20000) {
      for (float& x : block) x = next++;
      input->pushSamples(block);
      pushed.fetch_add(1);
    }
  });
  AudioUnit running = ua, idle = ub;
  for (int i = 0; i < 200; ++i) {
    while (pushed.load() < uint32_t(i) * 3) std::this_thread::yield();
    bool inPlace = false;
    ASSERT_EQ(AudioOutputUnitStartInPlaceOf(idle, running, &inPlace), noErr);
    ASSERT_TRUE(inPlace);
    std::swap(running, idle);
  }
  stop.store(true);
  render.join();
  AudioOutputUnitStop(running);
  EXPECT_EQ(input->stopCount(), 1) << "the capture ran until the last unit stopped";
  // Every sample once, in order, across the two.
  std::vector<float> all(a.received);
  all.insert(all.end(), b.received.begin(), b.received.end());
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), size_t(pushed.load()) * 64);
  for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], float(i)) << i;
  for (const Capture* c : {&a, &b})
    EXPECT_TRUE(std::is_sorted(c->received.begin(), c->received.end()));
  for (AudioUnit unit : {ua, ub}) AudioComponentInstanceDispose(unit);
}

// A unit whose callback stops it leaves the input from inside the delivery, where the capture
// cannot end; it ends at the owner's stop, which the unit's own stop always leads to.
TEST_F(RemoteIOTest, ACaptureLeftFromInsideItsDeliveryEndsAtTheOwnersStop) {
  struct SelfStop {
    AudioUnit unit = nullptr;
    int cycles = 0;
  } context;
  AURenderCallback stopItself = [](void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, uint32_t,
                                   uint32_t, AudioBufferList*) -> OSStatus {
    auto* c = static_cast<SelfStop*>(refCon);
    ++c->cycles;
    return AudioOutputUnitStop(c->unit);
  };
  context.unit = testsupport::makeRemoteIOUnit(stopItself, &context, {.input = true, .output = std::nullopt, .channels = 1, .maxFrames = 512});
  ASSERT_EQ(AudioOutputUnitStart(context.unit), noErr);
  input->pushSamples(std::vector<float>(64, 0.1f));
  EXPECT_EQ(context.cycles, 1);
  EXPECT_EQ(input->sinkCount(), 0);
  EXPECT_TRUE(input->isCapturing()) << "not ended under its own delivery";
  EXPECT_EQ(AudioOutputUnitStop(context.unit), noErr);
  EXPECT_FALSE(input->isCapturing());
  EXPECT_EQ(input->stopCount(), 1);
  AudioComponentInstanceDispose(context.unit);
}

TEST_F(RemoteIOTest, InjectedRenderErrorReachesTheCallback) {
  Capture c;
  AudioUnit unit = makeUnit(&c);
  ASSERT_EQ(AudioOutputUnitStart(unit), noErr);
  input->setRenderError(kAudioUnitErr_NoConnection);
  input->pushSamples(std::vector<float>(64, 1.0f));
  EXPECT_EQ(c.lastRender, kAudioUnitErr_NoConnection);
  EXPECT_TRUE(c.received.empty());
  AudioComponentInstanceDispose(unit);
}

TEST(OSStatusFormat, FourCharacterCodesDecimalAndHex) {
  EXPECT_EQ(FormatOSStatus(FourCC("fmt?")), "'fmt?'");
  EXPECT_EQ(FormatOSStatus(-10868), "-10868");
  EXPECT_EQ(FormatOSStatus(199999), "199999");
  EXPECT_EQ(FormatOSStatus(200000), "0x30d40");
  EXPECT_EQ(FormatOSStatus(-200000), "0xfffcf2c0");
  EXPECT_EQ(FourCCString(FourCC("wht?")), "wht?");
}

TEST(OSStatusFormat, StatusesAreDescribedInWordsWithTheCodeInParentheses) {
  EXPECT_EQ(AudioStatusDescription(kAudio_FileNotFoundError), "no such file (-43)");
  EXPECT_EQ(AudioStatusDescription(kAudioFileUnsupportedFileTypeError), "not an audio file ('typ?')");
  EXPECT_EQ(AudioStatusDescription(kAudioUnitErr_NoConnection), "audio server unavailable (-10876)");
  EXPECT_EQ(AudioStatusDescription(kAudioFilePermissionsError), "permission denied ('prm?')");
  EXPECT_EQ(AudioStatusDescription(kAudioHardwareBadDeviceError), "no such audio source ('!dev')");
  EXPECT_EQ(AudioStatusDescription(kAudioConverterErr_FormatNotSupported), "audio format not supported ('fmt?')");
  EXPECT_EQ(AudioStatusDescription(-12345), "audio error (-12345)");
}

}  // namespace
