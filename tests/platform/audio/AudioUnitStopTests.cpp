// Stopping a remote I/O unit from inside its own render callback, from its owner, and from both at
// once, for capturing, playing and duplex units: the owner's stop, disposal or change of the
// callback returns only when no callback of the unit runs, the callback's own stop never waits for
// itself, and neither order deadlocks or frees what a running callback still uses. A callback may
// read its unit's properties while the owner stops it; a start or a callback change from inside
// the callback is refused. A deadlock ends the program with a message (a watchdog), so that it
// shows as a failure in bounded time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/AudioUnit.h"
#include "tests/support/RemoteIOUnit.h"
#include "tests/support/TestAudioBackends.h"
#include "tests/support/WaitFor.h"

using testsupport::waitFor;

namespace {

constexpr uint32_t kSliceFrames = 256;

// How a unit's render cycles are driven: by its input's deliveries (capturing), by its output's
// pulls (playing), or by its input while its output drains what the cycles rendered (duplex).
enum class UnitKind { capturing, playing, duplex };
constexpr UnitKind kAllKinds[] = {UnitKind::capturing, UnitKind::playing, UnitKind::duplex};

bool hasInput(UnitKind kind) { return kind != UnitKind::playing; }
bool hasOutput(UnitKind kind) { return kind != UnitKind::capturing; }
std::string kindName(UnitKind kind) {
  switch (kind) {
    case UnitKind::capturing: return "capturing";
    case UnitKind::playing: return "playing";
    case UnitKind::duplex: return "duplex";
  }
  return "?";
}

// Waits for `done`; when it does not come within 20 s, two threads wait for each other for good:
// report and end the program instead of hanging it.
void failIfStuck(const std::function<bool()>& done, const char* what) {
  if (testsupport::waitFor(done, 20.0)) return;
  std::fprintf(stderr, "DEADLOCK: %s\n", what);
  std::fflush(stderr);
  std::_Exit(1);
}

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
  // A started unit of the kind, with the callback and its context, which holds the unit before
  // the first cycle can run (the real-time clock may start one at once).
  template <class Context>
  AudioUnit startUnit(AURenderCallback callback, Context* context, UnitKind kind) {
    context->unit = testsupport::makeRemoteIOUnit(
        callback, context,
        {.input = hasInput(kind), .output = hasOutput(kind), .channels = 1, .maxFrames = kSliceFrames});
    EXPECT_EQ(AudioOutputUnitStart(context->unit), noErr);
    return context->unit;
  }
  AudioUnit startUnit(SelfStopper* s, UnitKind kind) { return startUnit(selfStoppingCallback, s, kind); }
  // Runs `slices` render cycles of the unit on a thread of their own: slices of the input, or
  // pulls of the output.
  std::thread driveCycles(UnitKind kind, uint32_t slices = 2) {
    if (hasInput(kind))
      return std::thread([in = input, slices] { in->pushSamples(std::vector<float>(slices * kSliceFrames, 0.5f)); });
    return std::thread([out = output, slices] { out->pull(slices * kSliceFrames); });
  }

};

// A stop inside the callback, then the owner's stop or disposal while that callback still runs:
// the owner's call returns only after the callback has, and the stopped unit is not called again.
TEST_F(RemoteIOStopTest, AnOwnersStopAfterTheCallbacksOwnWaitsForThatCallbackToReturn) {
  const int liveBefore = remoteio::liveInstanceCount();
  for (UnitKind kind : kAllKinds) {
    for (bool dispose : {false, true}) {
      SCOPED_TRACE(kindName(kind) + (dispose ? ", disposed" : ", stopped"));
      auto s = std::make_unique<SelfStopper>();
      AudioUnit unit = startUnit(s.get(), kind);
      s->stopOnNextCycle = true;
      std::thread cycles = driveCycles(kind);
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
  for (UnitKind kind : kAllKinds) {
    for (int pause : {0, 1000, 20000}) {
      SCOPED_TRACE(kindName(kind) + ", pause " + std::to_string(pause) + " us");
      auto s = std::make_unique<SelfStopper>();
      AudioUnit unit = startUnit(s.get(), kind);
      s->waitForOwnerFirst = true;
      s->pauseMicroseconds = pause;
      s->stopOnNextCycle = true;
      std::thread cycles = driveCycles(kind);
      ASSERT_TRUE(waitFor([&] { return s->inStoppingCycle.load(); }));

      auto ownerReturned = std::make_shared<std::atomic<bool>>(false);
      auto callbackEndedFirst = std::make_shared<std::atomic<bool>>(false);
      std::thread owner([s = s.get(), unit, ownerReturned, callbackEndedFirst] {
        s->ownerStopping = true;
        AudioOutputUnitStop(unit);
        callbackEndedFirst->store(s->ended.load());
        ownerReturned->store(true);
      });
      failIfStuck([&] { return ownerReturned->load() && s->stoppedInside.load(); },
                  "the owner's stop and the callback's own stop wait for each other");
      owner.join();
      cycles.join();
      EXPECT_EQ(s->insideStatus.load(), noErr);
      EXPECT_TRUE(callbackEndedFirst->load()) << "the owner's stop returned while the callback still ran";
      EXPECT_EQ(s->cyclesAfterStop.load(), 0);
      EXPECT_FALSE(remoteio::isRunning(unit));
      EXPECT_EQ(AudioComponentInstanceDispose(unit), noErr);
      EXPECT_EQ(input->sinkCount(), 0);
      EXPECT_EQ(output->streamCount(), 0);
    }
  }
}

// -- Calls a callback makes on its own unit --------------------------------------------------------

// The context of a callback that, in a chosen cycle, waits until the owner has begun to stop the
// unit, pauses, then calls its own unit's property functions, as a callback that reads its format
// or frame limit would.
struct PropertyCaller {
  AudioUnit unit = nullptr;
  std::atomic<bool> callOnNextCycle{false};
  std::atomic<bool> inCallingCycle{false};
  std::atomic<bool> ownerStopping{false};
  std::atomic<int> pauseMicroseconds{0};
  std::atomic<bool> called{false};
  // Written by the callback before `called`.
  OSStatus getMaxFrames = -1;
  uint32_t maxFrames = 0;
  OSStatus getCallback = -1;
  AURenderCallbackStruct callbackRead{};
  OSStatus setFormat = -1;
  OSStatus setCallback = -1;
  OSStatus initialize = -1;
};

OSStatus silentCallback(void*, AudioUnitRenderActionFlags*, const AudioTimeStamp*, uint32_t, uint32_t frames,
                        AudioBufferList* io) {
  for (uint32_t b = 0; b < io->mNumberBuffers; ++b)
    for (uint32_t i = 0; i < frames; ++i) static_cast<float*>(io->mBuffers[b].mData)[i] = 0.0f;
  return noErr;
}

OSStatus propertyCallingCallback(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, uint32_t,
                                 uint32_t frames, AudioBufferList* io) {
  auto* p = static_cast<PropertyCaller*>(refCon);
  for (uint32_t b = 0; b < io->mNumberBuffers; ++b)
    for (uint32_t i = 0; i < frames; ++i) static_cast<float*>(io->mBuffers[b].mData)[i] = 0.25f;
  if (!p->callOnNextCycle.exchange(false)) return noErr;
  p->inCallingCycle = true;
  holdUntil(p->ownerStopping);
  std::this_thread::sleep_for(std::chrono::microseconds(p->pauseMicroseconds.load()));
  uint32_t size = sizeof p->maxFrames;
  p->getMaxFrames = AudioUnitGetProperty(p->unit, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0,
                                         &p->maxFrames, &size);
  size = sizeof p->callbackRead;
  p->getCallback = AudioUnitGetProperty(p->unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                                        &p->callbackRead, &size);
  const AudioStreamBasicDescription format = MakeFloatNonInterleavedFormat(1);
  p->setFormat =
      AudioUnitSetProperty(p->unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &format, sizeof format);
  const AURenderCallbackStruct other{silentCallback, nullptr};
  p->setCallback =
      AudioUnitSetProperty(p->unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &other, sizeof other);
  p->initialize = AudioUnitInitialize(p->unit);
  p->called = true;
  return noErr;
}

// The owner stops the unit while its callback reads and sets the unit's properties: the owner's
// stop waits for that cycle without holding what the property calls need, so both return; the
// callback reads what was set and its settings are refused (the unit is initialised, and the
// callback that runs is not replaced from inside itself).
TEST_F(RemoteIOStopTest, ACallbackReadsAndSetsItsOwnUnitsPropertiesWhileTheOwnerStopsIt) {
  for (UnitKind kind : kAllKinds) {
    for (int pause : {0, 1000, 20000}) {
      SCOPED_TRACE(kindName(kind) + ", pause " + std::to_string(pause) + " us");
      auto p = std::make_unique<PropertyCaller>();
      startUnit(propertyCallingCallback, p.get(), kind);
      p->pauseMicroseconds = pause;
      p->callOnNextCycle = true;
      std::thread cycles = driveCycles(kind);
      ASSERT_TRUE(waitFor([&] { return p->inCallingCycle.load(); }));

      auto ownerReturned = std::make_shared<std::atomic<bool>>(false);
      std::thread owner([p = p.get(), ownerReturned] {
        p->ownerStopping = true;
        AudioOutputUnitStop(p->unit);
        ownerReturned->store(true);
      });
      failIfStuck([&] { return ownerReturned->load() && p->called.load(); },
                  "the owner's stop and the callback's property call wait for each other");
      owner.join();
      cycles.join();
      EXPECT_EQ(p->getMaxFrames, noErr);
      EXPECT_EQ(p->maxFrames, kSliceFrames);
      EXPECT_EQ(p->getCallback, noErr);
      EXPECT_EQ(p->callbackRead.inputProc, &propertyCallingCallback);
      EXPECT_EQ(p->callbackRead.inputProcRefCon, p.get());
      EXPECT_EQ(p->setFormat, kAudioUnitErr_Initialized);
      EXPECT_EQ(p->setCallback, kAudioUnitErr_CannotDoInCurrentContext);
      EXPECT_EQ(p->initialize, noErr) << "the unit is initialised";
      EXPECT_FALSE(remoteio::isRunning(p->unit));
      EXPECT_EQ(AudioComponentInstanceDispose(p->unit), noErr);
      EXPECT_EQ(input->sinkCount(), 0);
      EXPECT_EQ(output->streamCount(), 0);
    }
  }
}

// The context of a callback that stops its unit in a chosen cycle and then tries to start it
// again, to replace itself, to uninitialise and to dispose of the unit.
struct Restarter {
  AudioUnit unit = nullptr;
  int restartAtCycle = 2;
  std::atomic<int> cycles{0};
  std::atomic<bool> done{false};
  std::atomic<int> cyclesAfterDone{0};
  // Written by the callback before `done`.
  OSStatus stop = -1;
  OSStatus start = -1;
  OSStatus setCallback = -1;
  OSStatus uninitialize = -1;
  OSStatus dispose = -1;
  bool runningAfter = true;
};

OSStatus restartingCallback(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, uint32_t,
                            uint32_t frames, AudioBufferList* io) {
  auto* r = static_cast<Restarter*>(refCon);
  if (r->done.load()) r->cyclesAfterDone.fetch_add(1);
  for (uint32_t b = 0; b < io->mNumberBuffers; ++b)
    for (uint32_t i = 0; i < frames; ++i) static_cast<float*>(io->mBuffers[b].mData)[i] = 0.25f;
  if (r->cycles.fetch_add(1) != r->restartAtCycle) return noErr;
  r->stop = AudioOutputUnitStop(r->unit);
  r->start = AudioOutputUnitStart(r->unit);
  const AURenderCallbackStruct other{silentCallback, nullptr};
  r->setCallback =
      AudioUnitSetProperty(r->unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &other, sizeof other);
  r->uninitialize = AudioUnitUninitialize(r->unit);
  r->dispose = AudioComponentInstanceDispose(r->unit);
  r->runningAfter = remoteio::isRunning(r->unit);
  r->done = true;
  return noErr;
}

// A callback that stops its unit and starts it again at once, or replaces itself, is refused the
// start and the change (the start would close the output that runs the callback, from its own
// thread): the unit stays stopped, its callback is not called again, and the owner can start it
// afterwards. Also when the unit plays on the real-time clock of a machine with nowhere to play.
TEST_F(RemoteIOStopTest, ACallbackThatStopsItsUnitCannotStartItAgainOrReplaceItselfFromInside) {
  struct Case {
    UnitKind kind;
    bool onTheClock;
  };
  for (Case c : {Case{UnitKind::playing, true}, Case{UnitKind::playing, false}, Case{UnitKind::capturing, false},
                 Case{UnitKind::duplex, false}}) {
    SCOPED_TRACE(kindName(c.kind) + (c.onTheClock ? " on the clock" : ""));
    if (c.onTheClock) output->failNextOpen(kAudioUnitErr_NoConnection);
    auto r = std::make_unique<Restarter>();
    startUnit(restartingCallback, r.get(), c.kind);
    // The clock pulls by itself; the test's input or output is driven on a thread of its own.
    std::thread cycles = c.onTheClock ? std::thread() : driveCycles(c.kind, 4);
    failIfStuck([&] { return r->done.load(); }, "a start from inside the callback waits for the callback");
    if (cycles.joinable()) cycles.join();
    EXPECT_EQ(r->stop, noErr);
    EXPECT_EQ(r->start, kAudioUnitErr_CannotDoInCurrentContext);
    EXPECT_EQ(r->setCallback, kAudioUnitErr_CannotDoInCurrentContext);
    EXPECT_EQ(r->uninitialize, kAudioUnitErr_CannotDoInCurrentContext);
    EXPECT_EQ(r->dispose, kAudioUnitErr_CannotDoInCurrentContext);
    EXPECT_FALSE(r->runningAfter);
    if (c.onTheClock) std::this_thread::sleep_for(std::chrono::milliseconds(30));  // several clock periods
    else driveCycles(c.kind).join();
    EXPECT_EQ(r->cyclesAfterDone.load(), 0) << "a unit that stopped itself was called again";

    // The owner starts it again: the callback runs again.
    const int cycles0 = r->cycles.load();
    if (c.onTheClock) output->failNextOpen(kAudioUnitErr_NoConnection);
    ASSERT_EQ(AudioOutputUnitStart(r->unit), noErr);
    if (c.onTheClock) EXPECT_TRUE(waitFor([&] { return r->cycles.load() > cycles0; }));
    else driveCycles(c.kind).join();
    EXPECT_GT(r->cycles.load(), cycles0);
    EXPECT_EQ(AudioComponentInstanceDispose(r->unit), noErr);
    EXPECT_EQ(input->sinkCount(), 0);
    EXPECT_EQ(output->streamCount(), 0);
  }
}

// A counting callback that replaces one whose cycle is still running.
OSStatus countingCallback(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, uint32_t,
                          uint32_t frames, AudioBufferList* io) {
  static_cast<std::atomic<int>*>(refCon)->fetch_add(1);
  return silentCallback(nullptr, nullptr, nullptr, 0, frames, io);
}

// The owner replaces the render callback while a cycle whose callback stopped the unit still runs:
// the change waits for that cycle to return, as the owner's stop would, and the next start calls
// the new callback only.
TEST_F(RemoteIOStopTest, TheOwnersNewCallbackWaitsForACycleThatStoppedItselfAndStillRuns) {
  for (UnitKind kind : kAllKinds) {
    SCOPED_TRACE(kindName(kind));
    auto s = std::make_unique<SelfStopper>();
    AudioUnit unit = startUnit(s.get(), kind);
    s->stopOnNextCycle = true;
    std::thread cycles = driveCycles(kind);
    ASSERT_TRUE(waitFor([&] { return s->stoppedInside.load(); }));

    std::atomic<int> newCycles{0};
    std::atomic<bool> ownerReturned{false};
    bool callbackEndedFirst = false;
    OSStatus ownerStatus = -1;
    std::thread owner([&] {
      const AURenderCallbackStruct replacement{countingCallback, &newCycles};
      ownerStatus = AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0,
                                         &replacement, sizeof replacement);
      callbackEndedFirst = s->ended.load();
      ownerReturned = true;
    });
    // An owner that did not wait would return now, while the callback is still held.
    waitFor([&] { return ownerReturned.load(); }, 0.2);
    s->release = true;
    owner.join();
    cycles.join();
    EXPECT_EQ(ownerStatus, noErr);
    EXPECT_TRUE(callbackEndedFirst) << "the callback was replaced while it still ran";

    ASSERT_EQ(AudioOutputUnitStart(unit), noErr);
    driveCycles(kind).join();
    EXPECT_GT(newCycles.load(), 0);
    EXPECT_EQ(s->cyclesAfterStop.load(), 0) << "the replaced callback was called again";
    EXPECT_EQ(AudioComponentInstanceDispose(unit), noErr);
    EXPECT_EQ(input->sinkCount(), 0);
    EXPECT_EQ(output->streamCount(), 0);
  }
}

// -- Randomised ------------------------------------------------------------------------------------

// The context of a randomised run: the callback counts its cycles, may read a property of its unit
// in each, stops its unit at a chosen cycle (lingering a moment after it), and notes any cycle
// that begins after the owner's stop returned.
struct RacingContext {
  AudioUnit unit = nullptr;
  bool capturing = true;
  bool readsProperties = false;
  std::atomic<int> cycles{0};
  int stopAtCycle = -1;
  std::atomic<bool> ownerStopReturned{false};
  std::atomic<int> cyclesAfterOwnerStop{0};
  std::atomic<int> failedPropertyReads{0};
};

OSStatus racingCallback(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts, uint32_t,
                        uint32_t frames, AudioBufferList* io) {
  auto* c = static_cast<RacingContext*>(refCon);
  if (c->ownerStopReturned.load()) c->cyclesAfterOwnerStop.fetch_add(1);
  const int cycle = c->cycles.fetch_add(1);
  if (c->readsProperties) {
    uint32_t maxFrames = 0;
    uint32_t size = sizeof maxFrames;
    if (AudioUnitGetProperty(c->unit, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0, &maxFrames,
                             &size) != noErr ||
        maxFrames < frames)
      c->failedPropertyReads.fetch_add(1);
  }
  const OSStatus status = c->capturing ? AudioUnitRender(c->unit, flags, ts, 1, frames, io)
                                       : silentCallback(nullptr, flags, ts, 0, frames, io);
  if (cycle == c->stopAtCycle) {
    AudioOutputUnitStop(c->unit);
    // Linger after the stop, as a callback with more work would: an owner's call must wait.
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  return status;
}

// Randomised: capturing, playing and duplex units render (a capture thread delivers, an output
// thread pulls, or both) while the callback stops the unit at a random cycle (or never), may read
// its properties, and the owner stops or disposes of it at a random moment, over many seeds. After
// the owner's call returns no cycle begins, and every unit is freed.
TEST_F(RemoteIOStopTest, RandomlyTimedStopsFromTheCallbackAndTheOwnerLeaveNoCycleRunning) {
  const int liveBefore = remoteio::liveInstanceCount();
  for (UnitKind kind : kAllKinds) {
    for (uint32_t seed = 1; seed <= 150; ++seed) {
      SCOPED_TRACE(kindName(kind) + ", seed " + std::to_string(seed));
      std::mt19937 random(seed);
      auto context = std::make_unique<RacingContext>();
      context->capturing = hasInput(kind);
      context->stopAtCycle = int(random() % 12) - 2;  // sometimes never
      context->readsProperties = random() % 2 == 0;
      const bool dispose = random() % 2 == 0;
      const auto ownerDelay = std::chrono::microseconds(random() % 3000);
      context->unit = testsupport::makeRemoteIOUnit(
          racingCallback, context.get(),
          {.input = hasInput(kind), .output = hasOutput(kind), .channels = 1, .maxFrames = 64});
      ASSERT_EQ(AudioOutputUnitStart(context->unit), noErr);
      std::atomic<bool> stopDriving{false};
      std::vector<std::thread> drivers;
      if (hasInput(kind)) {
        drivers.emplace_back([&, in = input] {
          const std::vector<float> samples(150, 0.5f);  // three cycles per delivery
          while (!stopDriving.load()) in->pushSamples(samples);
        });
      }
      if (hasOutput(kind)) {
        // Pulls three cycles' worth of a playing unit at a time; a duplex unit's pulls only drain
        // what its captures rendered.
        drivers.emplace_back([&, out = output] {
          while (!stopDriving.load()) {
            out->pull(150);
            std::this_thread::yield();
          }
        });
      }
      std::this_thread::sleep_for(ownerDelay);
      std::atomic<bool> ownerReturned{false};
      OSStatus status = -1;
      std::thread owner([&] {
        status = dispose ? AudioComponentInstanceDispose(context->unit) : AudioOutputUnitStop(context->unit);
        context->ownerStopReturned = true;
        ownerReturned = true;
      });
      failIfStuck([&] { return ownerReturned.load(); }, "the owner's stop waits for a callback that waits for it");
      owner.join();
      EXPECT_EQ(status, noErr);
      // Let the drivers run on a little past the owner's call before they end.
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      stopDriving = true;
      for (std::thread& driver : drivers) driver.join();
      EXPECT_EQ(context->cyclesAfterOwnerStop.load(), 0);
      EXPECT_EQ(context->failedPropertyReads.load(), 0);
      EXPECT_EQ(input->sinkCount(), 0);
      EXPECT_EQ(output->streamCount(), 0);
      if (!dispose) {
        EXPECT_EQ(AudioComponentInstanceDispose(context->unit), noErr);
      }
    }
  }
  EXPECT_EQ(remoteio::liveInstanceCount(), liveBefore);
}

}  // namespace
