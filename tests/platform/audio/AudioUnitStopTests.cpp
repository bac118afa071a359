// Stopping a remote I/O unit from inside its own render callback, from its owner, and from both at
// once: the owner's stop or disposal returns only when no callback of the unit runs, the
// callback's own stop never waits for itself, and neither order deadlocks or frees what a running
// callback still uses.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "platform/audio/AudioUnit.h"
#include "tests/support/RemoteIOUnit.h"
#include "tests/support/TestAudioBackends.h"
#include "tests/support/WaitFor.h"

using testsupport::waitFor;

namespace {

constexpr uint32_t kSliceFrames = 256;

// The callback's context. On the cycle after `stopOnNextCycle` is set, the callback stops its own
// unit, then holds the cycle (until `release`, or until `ownerStopping` and a further pause) before
// it returns, so that the owner's call can be made to land while the callback still runs.
struct SelfStopper {
  AudioUnit unit = nullptr;
  std::atomic<bool> stopOnNextCycle{false};
  std::atomic<bool> inStoppingCycle{false};
  // Hold-before-stop mode: wait for the owner to start stopping, then pause this long, then stop.
  std::atomic<bool> waitForOwnerFirst{false};
  std::atomic<bool> ownerStopping{false};
  std::atomic<int> pauseMicroseconds{0};
  std::atomic<bool> stoppedInside{false};
  std::atomic<OSStatus> insideStatus{noErr};
  std::atomic<bool> release{false};
  std::atomic<bool> ended{false};  // the stopping cycle's callback has returned (about to)
  std::atomic<int> cyclesAfterStop{0};
};

// Waits, without a lock, for a flag the test thread sets; bounded so a broken test cannot hang.
void holdUntil(const std::atomic<bool>& flag) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!flag.load() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

OSStatus selfStoppingCallback(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, uint32_t,
                              uint32_t frames, AudioBufferList* io) {
  auto* s = static_cast<SelfStopper*>(refCon);
  if (s->stoppedInside.load()) s->cyclesAfterStop.fetch_add(1);
  for (uint32_t b = 0; b < io->mNumberBuffers; ++b)
    for (uint32_t i = 0; i < frames; ++i) static_cast<float*>(io->mBuffers[b].mData)[i] = 0.25f;
  if (!s->stopOnNextCycle.exchange(false)) return noErr;
  s->inStoppingCycle.store(true);
  if (s->waitForOwnerFirst.load()) {
    holdUntil(s->ownerStopping);
    std::this_thread::sleep_for(std::chrono::microseconds(s->pauseMicroseconds.load()));
  }
  s->insideStatus.store(AudioOutputUnitStop(s->unit));
  s->stoppedInside.store(true);
  if (!s->waitForOwnerFirst.load()) holdUntil(s->release);
  s->ended.store(true);
  return noErr;
}

class RemoteIOStopTest : public testsupport::TestAudioBackendsTest {
 protected:
  // A started unit that captures (rendering on the test input's deliveries) or only plays
  // (rendering on the test output's pulls).
  AudioUnit startUnit(SelfStopper* s, bool capturing) {
    s->unit = testsupport::makeRemoteIOUnit(
        selfStoppingCallback, s,
        {.input = capturing, .output = !capturing, .channels = 1, .maxFrames = kSliceFrames});
    EXPECT_EQ(AudioOutputUnitStart(s->unit), noErr);
    return s->unit;
  }
  // Runs render cycles of the unit on a thread of their own: two slices of the input, or two pulls
  // of the output.
  std::thread driveCycles(bool capturing) {
    if (capturing) return std::thread([in = input] { in->pushSamples(std::vector<float>(2 * kSliceFrames, 0.5f)); });
    return std::thread([out = output] { out->pull(2 * kSliceFrames); });
  }

};

// A stop inside the callback, then the owner's stop or disposal while that callback still runs:
// the owner's call returns only after the callback has, and the stopped unit is not called again.
TEST_F(RemoteIOStopTest, AnOwnersStopAfterTheCallbacksOwnWaitsForThatCallbackToReturn) {
  const int liveBefore = remoteio::liveInstanceCount();
  for (bool capturing : {true, false}) {
    for (bool dispose : {false, true}) {
      SCOPED_TRACE(std::string(capturing ? "capturing" : "playing") + (dispose ? ", disposed" : ", stopped"));
      auto s = std::make_unique<SelfStopper>();
      AudioUnit unit = startUnit(s.get(), capturing);
      s->stopOnNextCycle = true;
      std::thread cycles = driveCycles(capturing);
      ASSERT_TRUE(waitFor([&] { return s->stoppedInside.load(); }));
      EXPECT_EQ(s->insideStatus.load(), noErr) << "a stop from inside the callback returns at once";
      EXPECT_FALSE(remoteio::isRunning(unit));

      std::atomic<bool> ownerReturned{false};
      bool callbackEndedFirst = false;
      OSStatus ownerStatus = -1;
      std::thread owner([&] {
        ownerStatus = dispose ? AudioComponentInstanceDispose(unit) : AudioOutputUnitStop(unit);
        callbackEndedFirst = s->ended.load();
        ownerReturned = true;
      });
      // An owner that did not wait would return now, while the callback is still held.
      waitFor([&] { return ownerReturned.load(); }, 0.2);
      s->release = true;
      owner.join();
      cycles.join();
      EXPECT_EQ(ownerStatus, noErr);
      EXPECT_TRUE(callbackEndedFirst) << "the owner's call returned while the callback still ran";
      EXPECT_EQ(s->cyclesAfterStop.load(), 0) << "a unit that stopped itself was called again";
      EXPECT_EQ(input->sinkCount(), 0);
      EXPECT_EQ(output->streamCount(), 0);
      if (!dispose) {
        EXPECT_EQ(AudioComponentInstanceDispose(unit), noErr);
      }
    }
  }
  EXPECT_EQ(remoteio::liveInstanceCount(), liveBefore);
}

// The owner stops while the callback is about to stop the unit itself: the owner is already waiting
// for the cycle when the callback's stop comes. Neither waits for the other, for any timing.
TEST_F(RemoteIOStopTest, TheOwnersStopAndTheCallbacksOwnAtTheSameMomentDoNotDeadlock) {
  for (bool capturing : {true, false}) {
    for (int pause : {0, 1000, 20000}) {
      SCOPED_TRACE(std::string(capturing ? "capturing" : "playing") + ", pause " + std::to_string(pause) + " us");
      auto s = std::make_unique<SelfStopper>();
      AudioUnit unit = startUnit(s.get(), capturing);
      s->waitForOwnerFirst = true;
      s->pauseMicroseconds = pause;
      s->stopOnNextCycle = true;
      std::thread cycles = driveCycles(capturing);
      ASSERT_TRUE(waitFor([&] { return s->inStoppingCycle.load(); }));

      auto ownerReturned = std::make_shared<std::atomic<bool>>(false);
      auto callbackEndedFirst = std::make_shared<std::atomic<bool>>(false);
      std::thread owner([s = s.get(), unit, ownerReturned, callbackEndedFirst] {
        s->ownerStopping = true;
        AudioOutputUnitStop(unit);
        callbackEndedFirst->store(s->ended.load());
        ownerReturned->store(true);
      });
      if (!waitFor([&] { return ownerReturned->load() && s->stoppedInside.load(); }, 20.0)) {
        // Both threads are stuck for good: report and end the program instead of hanging it.
        std::fprintf(stderr, "DEADLOCK: the owner's stop and the callback's own stop wait for each other\n");
        std::fflush(stderr);
        std::_Exit(1);
      }
      owner.join();
      cycles.join();
      EXPECT_EQ(s->insideStatus.load(), noErr);
      EXPECT_TRUE(callbackEndedFirst->load()) << "the owner's stop returned while the callback still ran";
      EXPECT_EQ(s->cyclesAfterStop.load(), 0);
      EXPECT_FALSE(remoteio::isRunning(unit));
      EXPECT_EQ(AudioComponentInstanceDispose(unit), noErr);
      EXPECT_EQ(input->sinkCount(), 0);
    }
  }
}

// The context of a randomised run: the callback counts its cycles, stops its unit at a chosen
// cycle (lingering a moment after it), and notes any cycle that begins after the owner's stop
// returned.
struct RacingContext {
  AudioUnit unit = nullptr;
  std::atomic<int> cycles{0};
  int stopAtCycle = -1;
  std::atomic<bool> ownerStopReturned{false};
  std::atomic<int> cyclesAfterOwnerStop{0};
};

OSStatus racingCallback(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts, uint32_t,
                        uint32_t frames, AudioBufferList* io) {
  auto* c = static_cast<RacingContext*>(refCon);
  if (c->ownerStopReturned.load()) c->cyclesAfterOwnerStop.fetch_add(1);
  const int cycle = c->cycles.fetch_add(1);
  const OSStatus status = AudioUnitRender(c->unit, flags, ts, 1, frames, io);
  if (cycle == c->stopAtCycle) {
    AudioOutputUnitStop(c->unit);
    // Linger after the stop, as a callback with more work would: an owner's call must wait.
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  return status;
}

// Randomised: a capture thread delivers while the callback stops the unit at a random cycle (or
// never) and the owner stops or disposes of it at a random moment, over many seeds. After the
// owner's call returns no cycle begins, and every unit is freed.
TEST_F(RemoteIOStopTest, RandomlyTimedStopsFromTheCallbackAndTheOwnerLeaveNoCycleRunning) {
  const int liveBefore = remoteio::liveInstanceCount();
  for (uint32_t seed = 1; seed <= 150; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    auto context = std::make_unique<RacingContext>();
    context->stopAtCycle = int(random() % 12) - 2;  // sometimes never
    const bool dispose = random() % 2 == 0;
    const auto ownerDelay = std::chrono::microseconds(random() % 3000);
    context->unit = testsupport::makeRemoteIOUnit(racingCallback, context.get(),
                                                  {.input = true, .output = false, .channels = 1, .maxFrames = 64});
    ASSERT_EQ(AudioOutputUnitStart(context->unit), noErr);
    std::atomic<bool> stopCapture{false};
    std::thread capture([&, in = input] {
      const std::vector<float> samples(150, 0.5f);  // three cycles per delivery
      while (!stopCapture.load()) in->pushSamples(samples);
    });
    std::this_thread::sleep_for(ownerDelay);
    const OSStatus status =
        dispose ? AudioComponentInstanceDispose(context->unit) : AudioOutputUnitStop(context->unit);
    context->ownerStopReturned = true;
    EXPECT_EQ(status, noErr);
    // Let the capture run on a little past the owner's call before it ends.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    stopCapture = true;
    capture.join();
    EXPECT_EQ(context->cyclesAfterOwnerStop.load(), 0);
    EXPECT_EQ(input->sinkCount(), 0);
    if (!dispose) {
      EXPECT_EQ(AudioComponentInstanceDispose(context->unit), noErr);
    }
  }
  EXPECT_EQ(remoteio::liveInstanceCount(), liveBefore);
}

}  // namespace
