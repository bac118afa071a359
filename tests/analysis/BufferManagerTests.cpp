#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numeric>
#include <thread>
#include <vector>

#include "analysis/BufferManager.h"
#include "analysis/DCRejectionFilter.h"
#include "tests/support/LogCapture.h"
#include "tests/support/allocations/AllocationCounter.h"

namespace {
std::vector<float> ramp(float start, size_t count) {
  std::vector<float> v(count);
  std::iota(v.begin(), v.end(), start);
  return v;
}
std::vector<float> latest(const BufferManager& manager) {
  std::vector<float> frame(manager.mFFTInputBufferLen);
  manager.CopyLatestFrame(frame.data());
  return frame;
}
}  // namespace

TEST(BufferManager, SlidingWindowFillsThenSlidesAndCountsDeliveriesUpToTheBound) {
  BufferManager manager(512);
  EXPECT_EQ(manager.mFFTDataWanted.load(), 1);
  EXPECT_EQ(manager.mFFTFramesReady.load(), 0);

  manager.CopyAudioToFFTInput(ramp(0, 256).data(), 256);
  EXPECT_EQ(manager.mFFTInputBufferFrameIndex(), 256u);
  EXPECT_EQ(manager.mFFTFramesReady.load(), 0);
  std::vector<float> frame = latest(manager);
  EXPECT_EQ(frame[255], 255.0f);
  EXPECT_EQ(frame[256], 0.0f);  // the rest of a filling window is still zero

  manager.CopyAudioToFFTInput(ramp(256, 256).data(), 256);
  EXPECT_EQ(manager.mFFTFramesReady.load(), 1);
  EXPECT_EQ(latest(manager), ramp(0, 512));

  manager.CopyAudioToFFTInput(ramp(512, 256).data(), 256);
  EXPECT_EQ(manager.mFFTFramesReady.load(), 2);
  EXPECT_EQ(latest(manager), ramp(256, 512));  // the latest 512 samples, oldest first

  // Windows beyond the bound are not counted: taking more would take the latest window again.
  manager.CopyAudioToFFTInput(ramp(1000, 512).data(), 512);  // exactly N replaces the window
  EXPECT_EQ(latest(manager), ramp(1000, 512));
  EXPECT_EQ(manager.mFFTFramesReady.load(), BufferManager::kMaxFramesReady);
  EXPECT_EQ(manager.samplesReceived(), 1280u);

  manager.CopyAudioToFFTInput(nullptr, 256);
  manager.CopyAudioToFFTInput(ramp(0, 4).data(), 0);
  EXPECT_EQ(manager.mFFTFramesReady.load(), 2);
  EXPECT_EQ(latest(manager), ramp(1000, 512));
  EXPECT_EQ(manager.samplesReceived(), 1280u);

  // Taken and delivered again: one new window is one frame.
  std::vector<float> spectrum(256);
  manager.ComputeFFTOutput(spectrum.data(), MathParams{0, 512});
  manager.ComputeFFTOutput(spectrum.data(), MathParams{0, 512});
  EXPECT_EQ(manager.mFFTFramesReady.load(), 0);
  manager.CopyAudioToFFTInput(ramp(2000, 64).data(), 64);
  EXPECT_EQ(manager.mFFTFramesReady.load(), 1);
}

TEST(BufferManager, DeliveryLongerThanTheFrameKeepsItsLastSamples) {
  BufferManager manager(256);
  manager.CopyAudioToFFTInput(ramp(0, 700).data(), 700);
  EXPECT_EQ(manager.mFFTFramesReady.load(), 1);  // a frame is ready even while the window was filling
  EXPECT_EQ(latest(manager), ramp(444, 256));
  manager.CopyAudioToFFTInput(ramp(5000, 1024).data(), 1024);
  EXPECT_EQ(latest(manager), ramp(5000 + 768, 256));
  EXPECT_EQ(manager.mFFTFramesReady.load(), 2);
}

// After a reset no frame is ready until a whole window of new samples has come: a reader never
// takes the zeros a restart refills from as a level. A frozen window counts nothing either.
TEST(BufferManager, ResetZeroesTheWindowAndTheCounterFreezeStopsChanges) {
  BufferManager manager(256);
  manager.CopyAudioToFFTInput(ramp(1, 256).data(), 256);
  manager.CopyAudioToFFTInput(ramp(300, 128).data(), 128);
  ASSERT_EQ(manager.mFFTFramesReady.load(), 2);

  manager.ResetFFTInput();
  EXPECT_EQ(manager.mFFTFramesReady.load(), 0);
  EXPECT_EQ(manager.mFFTInputBufferFrameIndex(), 0u);
  EXPECT_EQ(latest(manager), std::vector<float>(256, 0.0f));
  manager.CopyAudioToFFTInput(ramp(7, 100).data(), 100);  // refilling starts at position 0
  std::vector<float> expected(256, 0.0f);
  std::iota(expected.begin(), expected.begin() + 100, 7.0f);
  EXPECT_EQ(latest(manager), expected);
  EXPECT_EQ(manager.mFFTFramesReady.load(), 0) << "a window partly zeros is no frame";
  manager.CopyAudioToFFTInput(ramp(107, 156).data(), 156);
  EXPECT_EQ(latest(manager), ramp(7, 256));
  EXPECT_EQ(manager.mFFTFramesReady.load(), 1);

  manager.FreezeFFTInput();
  manager.CopyAudioToFFTInput(ramp(9000, 64).data(), 64);
  EXPECT_EQ(latest(manager), ramp(7, 256));
  EXPECT_EQ(manager.mFFTFramesReady.load(), 1);
  EXPECT_EQ(manager.samplesReceived(), 640u);
}

TEST(BufferManager, RefusedFrameLengthsGiveNoManagerAndALogLine) {
  testsupport::LogCapture log;
  EXPECT_EQ(BufferManager::create(1000), nullptr);
  EXPECT_EQ(BufferManager::create(128), nullptr);
  EXPECT_EQ(BufferManager::create(32768), nullptr);
  EXPECT_TRUE(log.contains("frame length 1000 refused"));
  EXPECT_TRUE(log.contains("frame length 32768 refused"));
  EXPECT_THROW(BufferManager(300), std::invalid_argument);
  auto manager = BufferManager::create(16384);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(manager->mFFTInputBufferLen, 16384u);
}

// The window is applied to the reader's copy: taking the same window twice gives the same spectrum,
// and the samples in the sliding window stay as they were captured.
TEST(BufferManager, ComputeFFTOutputWindowsAPrivateCopyAndConsumesOneFrame) {
  BufferManager manager(1024);
  std::vector<float> signal(1024);
  for (size_t i = 0; i < signal.size(); ++i) signal[i] = static_cast<float>(std::sin(0.3 * i) + 0.2);
  manager.CopyAudioToFFTInput(signal.data(), 1024);
  manager.CopyAudioToFFTInput(signal.data(), 1024);
  ASSERT_EQ(manager.mFFTFramesReady.load(), 2);

  std::vector<float> first(512), second(512);
  manager.ComputeFFTOutput(first.data(), MathParams{6, 1024});
  EXPECT_EQ(manager.mFFTFramesReady.load(), 1);
  EXPECT_EQ(latest(manager), signal);
  manager.ComputeFFTOutput(second.data(), MathParams{6, 1024});
  EXPECT_EQ(manager.mFFTFramesReady.load(), 0);
  for (size_t k = 0; k < first.size(); ++k) ASSERT_NEAR(first[k], second[k], 1e-3) << k;

  manager.ComputeFFTOutput(nullptr, MathParams{});
  EXPECT_EQ(manager.mFFTFramesReady.load(), 0);
}

TEST(BufferManager, RenderPathAndFrameComputationAllocateNothing) {
  BufferManager manager(4096);
  DCRejectionFilter filter;
  std::vector<float> delivery(220, 0.25f), output(2048);
  manager.CopyAudioToFFTInput(delivery.data(), 220);
  manager.ComputeFFTOutput(output.data(), MathParams{1, 4096});  // first use of a window table
  const long probe = testsupport::allocationsOnThisThread();
  std::vector<float>* volatile scratch = new std::vector<float>(16);
  delete scratch;
  ASSERT_GT(testsupport::allocationsOnThisThread(), probe) << "the allocation counter must see allocations";
  const long before = testsupport::allocationsOnThisThread();
  for (int i = 0; i < 50; ++i) {
    filter.FilterInPlace(delivery.data(), 220);
    manager.CopyAudioToFFTInput(delivery.data(), 220);
  }
  manager.ComputeFFTOutput(output.data(), MathParams{1, 4096});
  manager.ComputeFFTOutput(output.data(), MathParams{1, 4096});
  EXPECT_EQ(testsupport::allocationsOnThisThread() - before, 0);
}

// A producer delivers a running count while the reader takes frames: every frame must be N
// consecutive values, never a mix of two slides.
TEST(BufferManager, ReaderNeverSeesATornWindowWhileTheRenderThreadSlides) {
  BufferManager manager(256);
  std::atomic<bool> stop{false};
  std::thread producer([&] {
    std::vector<float> block(64);
    float next = 1.0f;
    while (!stop.load()) {
      for (float& v : block) v = next++;
      manager.CopyAudioToFFTInput(block.data(), 64);
      if (next > 8.0e6f) next = 1.0f;  // stay exact in float
    }
  });
  while (manager.mFFTFramesReady.load() == 0) std::this_thread::yield();
  // The producer runs flat out, far faster than any audio clock, and on a busy machine the reader
  // is often descheduled in the middle of a copy: both make laps as likely as they can be.
  std::vector<float> frame(256);
  int checked = 0;
  int torn = -1;
  for (int i = 0; i < 3000 && torn < 0; ++i) {
    manager.CopyLatestFrame(frame.data());
    if (frame[0] == 0.0f || frame[255] < frame[0]) continue;  // still filling, or the count wrapped
    for (size_t k = 1; k < frame.size() && torn < 0; ++k) {
      if (frame[k] != frame[k - 1] + 1.0f) torn = i;
    }
    ++checked;
  }
  stop = true;
  producer.join();
  EXPECT_EQ(torn, -1) << "frame " << torn << " mixes two slides";
  EXPECT_GT(checked, 0);
}

TEST(DCRejectionFilter, StepDecaysByThePoleAndStateCarriesAcrossDeliveries) {
  DCRejectionFilter filter;
  std::vector<float> step(5, 1.0f);
  filter.FilterInPlace(step.data(), 5);
  EXPECT_EQ(step[0], 1.0f);
  EXPECT_EQ(step[1], 0.975f);
  EXPECT_EQ(step[2], 0.975f * 0.975f);
  EXPECT_LT(step[4], step[3]);

  std::vector<float> signal(1000);
  for (size_t i = 0; i < signal.size(); ++i) signal[i] = static_cast<float>(0.5 + std::sin(0.01 * i * i));
  std::vector<float> whole = signal, pieces = signal;
  DCRejectionFilter one, split;
  one.FilterInPlace(whole.data(), 1000);
  size_t at = 0;
  for (uint32_t size : {1u, 7u, 256u, 3u, 500u, 233u}) {
    split.FilterInPlace(pieces.data() + at, size);
    at += size;
  }
  ASSERT_EQ(at, 1000u);
  EXPECT_EQ(whole, pieces);
  split.FilterInPlace(nullptr, 10);
  EXPECT_EQ(split.lastOutput(), one.lastOutput());

  // A constant input is removed: after a long run the output is near zero.
  DCRejectionFilter dc;
  std::vector<float> constant(2000, 0.8f);
  dc.FilterInPlace(constant.data(), 2000);
  EXPECT_NEAR(constant.back(), 0.0f, 1e-6);
}

// The snapshot is read from the ring in one run, or two where the window wraps round its end;
// with deliveries of uneven sizes the window starts at every kind of offset.
TEST(BufferManager, SnapshotIsTheLatestSamplesWhereverTheWindowWrapsTheRing) {
  BufferManager manager(256);
  std::vector<float> all;
  float next = 1.0f;
  for (uint32_t size : {37u, 101u, 256u, 3u, 199u, 255u, 64u, 1u, 250u, 129u, 77u, 256u, 13u, 240u, 100u, 5u}) {
    for (int repeat = 0; repeat < 3; ++repeat) {
      const std::vector<float> delivery = ramp(next, size);
      next += static_cast<float>(size);
      manager.CopyAudioToFFTInput(delivery.data(), size);
      all.insert(all.end(), delivery.begin(), delivery.end());
      std::vector<float> expected(256, 0.0f);
      const size_t filled = std::min<size_t>(all.size(), 256);
      std::copy(all.end() - static_cast<long>(filled), all.end(), expected.begin());
      if (all.size() < 256) std::copy(all.begin(), all.end(), expected.begin());
      ASSERT_EQ(latest(manager), expected) << "after " << all.size() << " samples";
    }
  }
  EXPECT_GT(all.size(), 4u * 256u * 2u);  // round the ring more than twice
}

// The frame's spectrum goes from the ring straight into the transform's split input, windowed on the
// way: it must be, to the bit, the spectrum of the window as CopyLatestFrame sees it, windowed and
// transformed by a helper of its own, for every window, while the window still fills (its zeros
// weighed too) and wherever the ring wraps (at odd positions as well as even ones).
TEST(BufferManager, FrameSpectrumIsTheHelpersSpectrumOfTheSnapshotBitForBit) {
  BufferManager manager(256);
  FFTHelper reference(256);
  std::vector<float> output(128), expected(128);
  uint32_t seed = 5;
  int frames = 0;
  for (uint32_t size : {37u, 101u, 64u, 3u, 199u, 255u, 1u, 250u, 129u, 77u, 256u, 13u, 240u, 100u, 5u, 300u}) {
    std::vector<float> delivery(size);
    for (float& x : delivery) {
      seed = seed * 1664525u + 1013904223u;
      x = static_cast<float>(seed >> 8) / static_cast<float>(1u << 24) - 0.5f;
    }
    manager.CopyAudioToFFTInput(delivery.data(), size);
    // The same window each time, so that both averagers see the same frames in the same order.
    const MathParams params{frames % 7, 256};
    if (manager.mFFTInputBufferFrameIndex() < 256) {
      // A window still filling is part zeros: no frame.
      EXPECT_FALSE(manager.ComputeFFTOutput(output.data(), params));
      continue;
    }
    std::vector<float> window = latest(manager);
    reference.ComputeFFT(window.data(), expected.data(), params);
    ASSERT_TRUE(manager.ComputeFFTOutput(output.data(), params));
    ASSERT_EQ(std::memcmp(output.data(), expected.data(), output.size() * sizeof(float)), 0)
        << "frame " << frames << " window " << params.window;
    ++frames;
  }
  EXPECT_GT(frames, 10);
}

namespace {

// Delivers samples as a render callback does: BeginDelivery with the delivery's time stamp, then the
// copy. Returns whether the delivery began a new input.
bool deliver(BufferManager& manager, const std::vector<float>& samples, double sampleTime) {
  AudioTimeStamp stamp;
  stamp.mSampleTime = sampleTime;
  stamp.mFlags = kAudioTimeStampSampleTimeValid;
  const bool fresh = manager.BeginDelivery(&stamp, uint32_t(samples.size()));
  manager.CopyAudioToFFTInput(samples.data(), uint32_t(samples.size()));
  return fresh;
}

std::vector<float> tone(double hz, size_t count, uint64_t first) {
  std::vector<float> v(count);
  for (size_t i = 0; i < count; ++i) v[i] = float(0.3 * std::sin(2 * M_PI * hz * double(first + i) / 44100));
  return v;
}

enum class NewInput { Reset, Request, TimeJump };

void PrintTo(NewInput cause, std::ostream* os) {
  *os << (cause == NewInput::Reset ? "reset" : cause == NewInput::Request ? "request" : "time jump");
}

class BufferManagerNewInput : public ::testing::TestWithParam<NewInput> {};

}  // namespace

// Whatever begins a new input (a stop and start, a capture that came back after delivering nothing,
// a capture moved to another source), the first frame after it is that of a new buffer manager
// given the same samples: no sample, and no averaged frame, from before it.
TEST_P(BufferManagerNewInput, TheFirstFrameAfterItIsANewManagersBitForBit) {
  BufferManager manager(512);
  const MathParams params{1, 512};
  std::vector<float> output(256), expected(256);
  double time = 1000;
  uint64_t phase = 0;
  // A 1 kHz tone long enough to fill the average.
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(deliver(manager, tone(1000, 256, phase), time), i == 0) << i;
    phase += 256;
    time += 256;
    if (manager.mFFTFramesReady.load() > 0) {
      EXPECT_TRUE(manager.ComputeFFTOutput(output.data(), params));
    }
  }
  const uint64_t toneInput = manager.measurement();
  EXPECT_EQ(manager.frameMeasurement(), toneInput);

  switch (GetParam()) {
    case NewInput::Reset:
      manager.ResetFFTInput();
      EXPECT_NE(manager.measurement(), toneInput);
      break;
    case NewInput::Request:
      manager.RequestNewInput();
      EXPECT_NE(manager.measurement(), toneInput) << "the input ends when asked, not at the next delivery";
      EXPECT_FALSE(manager.ComputeFFTOutput(output.data(), params)) << "a frame of the window that ended";
      break;
    case NewInput::TimeJump:
      time += 44100;
      break;
  }
  // Another tone from here, in deliveries of another size.
  const std::vector<float> first = tone(3000, 384, 0), second = tone(3000, 128, 384);
  EXPECT_TRUE(deliver(manager, first, time));
  const uint64_t newInput = manager.measurement();
  EXPECT_NE(newInput, toneInput);
  EXPECT_EQ(manager.mFFTFramesReady.load(), 0) << "no frame before a whole window of the new input";
  EXPECT_FALSE(manager.ComputeFFTOutput(output.data(), params));
  EXPECT_FALSE(deliver(manager, second, time + 384)) << "what continues it is the same input";
  ASSERT_EQ(manager.mFFTFramesReady.load(), 1);
  ASSERT_TRUE(manager.ComputeFFTOutput(output.data(), params));
  EXPECT_EQ(manager.measurement(), newInput);
  EXPECT_EQ(manager.frameMeasurement(), newInput);

  BufferManager reference(512);
  deliver(reference, first, 0);
  deliver(reference, second, 384);
  ASSERT_TRUE(reference.ComputeFFTOutput(expected.data(), params));
  EXPECT_EQ(std::memcmp(output.data(), expected.data(), output.size() * sizeof(float)), 0);
  EXPECT_EQ(manager.fftHelper().averager().filledCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(EveryCause, BufferManagerNewInput,
                         ::testing::Values(NewInput::Reset, NewInput::Request, NewInput::TimeJump),
                         [](const ::testing::TestParamInfo<NewInput>& info) {
                           return info.param == NewInput::Reset     ? "Reset"
                                  : info.param == NewInput::Request ? "Request"
                                                                    : "TimeJump";
                         });

// A new input that begins between a reader's look at the count and its take: the take gives no
// frame, the count stays at zero (not below), and the new input's first window counts as before.
TEST(BufferManager, ATakeOvertakenByANewInputGivesNoFrameAndCountsNothing) {
  BufferManager manager(256);
  std::vector<float> output(128);
  deliver(manager, tone(1000, 256, 0), 0);
  ASSERT_EQ(manager.mFFTFramesReady.load(), 1);
  AudioTimeStamp jump;
  jump.mSampleTime = 99999;
  jump.mFlags = kAudioTimeStampSampleTimeValid;
  EXPECT_TRUE(manager.BeginDelivery(&jump, 0));
  EXPECT_EQ(manager.mFFTFramesReady.load(), 0);
  EXPECT_FALSE(manager.ComputeFFTOutput(output.data(), MathParams{0, 256}));
  EXPECT_EQ(manager.mFFTFramesReady.load(), 0);
  deliver(manager, tone(1000, 256, 0), 99999);
  EXPECT_EQ(manager.mFFTFramesReady.load(), 1);
  EXPECT_TRUE(manager.ComputeFFTOutput(output.data(), MathParams{0, 256}));
  // Time stamps without a sample time say nothing of continuity; a frozen window begins nothing.
  AudioTimeStamp none;
  EXPECT_FALSE(manager.BeginDelivery(&none, 256));
  EXPECT_FALSE(manager.BeginDelivery(nullptr, 256));
  const uint64_t input = manager.measurement();
  manager.FreezeFFTInput();
  manager.RequestNewInput();
  EXPECT_FALSE(manager.BeginDelivery(&jump, 256));
  EXPECT_EQ(manager.measurement(), input);
  // Every buffer manager's inputs are numbered apart from every other's.
  BufferManager other(256);
  EXPECT_NE(other.measurement(), input);
  EXPECT_NE(other.measurement(), 0u);
}

// A chain built again for a new setting goes on with the input of the one it replaces, but only
// when that input was not ending, and only when its own deliveries continue that input's: its
// first one follows on exactly from the other's last.
TEST(BufferManager, AReplacingWindowTakesTheInputOnlyWhereItsDeliveriesContinueIt) {
  auto running = [] {
    auto manager = std::make_unique<BufferManager>(256);
    deliver(*manager, tone(1000, 256, 0), 1000);
    deliver(*manager, tone(1000, 256, 256), 1256);
    manager->FreezeFFTInput();
    return manager;
  };
  {
    SCOPED_TRACE("the old window's deliveries went on, frozen, and the new one's follow on");
    auto old = running();
    deliver(*old, tone(1000, 220, 512), 1512);
    const auto continuation = old->continuation();
    ASSERT_TRUE(continuation);
    EXPECT_EQ(continuation->measurement, old->measurement());
    EXPECT_EQ(continuation->nextSampleTime, 1732);
    BufferManager next(512);
    next.ContinueMeasurement(*continuation);
    EXPECT_EQ(next.measurement(), old->measurement()) << "taken at once, before any delivery";
    deliver(next, tone(1000, 220, 732), 1732);
    EXPECT_EQ(next.measurement(), old->measurement()) << "its first delivery follows on";
  }
  {
    SCOPED_TRACE("the new window's first deliveries came before the call");
    auto old = running();
    BufferManager next(512);
    deliver(*old, tone(1000, 220, 512), 1512);
    deliver(next, tone(1000, 220, 732), 1732);
    deliver(next, tone(1000, 220, 952), 1952);
    next.ContinueMeasurement(*old->continuation());
    EXPECT_EQ(next.measurement(), old->measurement());
  }
  {
    SCOPED_TRACE("samples went to neither: the new window's first delivery is later than the old one's next");
    auto old = running();
    BufferManager next(512);
    const uint64_t own = next.measurement();
    next.ContinueMeasurement(*old->continuation());
    EXPECT_EQ(next.measurement(), old->measurement());
    deliver(next, tone(1000, 220, 512 + 44100), 1512 + 44100);
    EXPECT_NE(next.measurement(), old->measurement()) << "the first delivery did not follow on";
    EXPECT_NE(next.measurement(), own);
    BufferManager late(512);
    deliver(late, tone(1000, 220, 512 + 44100), 1512 + 44100);
    late.ContinueMeasurement(*old->continuation());
    EXPECT_NE(late.measurement(), old->measurement()) << "the same, with the delivery before the call";
    BufferManager earlier(512);
    deliver(earlier, tone(1000, 220, 292), 1292);
    earlier.ContinueMeasurement(*old->continuation());
    EXPECT_NE(earlier.measurement(), old->measurement()) << "a first delivery of another timeline";
  }
  {
    SCOPED_TRACE("the new window began a new input of its own before the call");
    auto old = running();
    BufferManager next(512);
    deliver(next, tone(1000, 256, 512), 1512);
    deliver(next, tone(1000, 256, 768), 99999);
    const uint64_t begun = next.measurement();
    next.ContinueMeasurement(*old->continuation());
    EXPECT_EQ(next.measurement(), begun);
  }
  {
    SCOPED_TRACE("the old window's input was ending");
    auto jumped = running();
    deliver(*jumped, tone(1000, 220, 512), 50000);  // frozen, but its times are still followed
    EXPECT_FALSE(jumped->continuation()) << "a jump after the freeze";
    auto requested = running();
    requested->RequestNewInput();
    EXPECT_FALSE(requested->continuation()) << "a new input asked for (a stall)";
    auto reset = std::make_unique<BufferManager>(256);
    deliver(*reset, tone(1000, 256, 0), 0);
    reset->ResetFFTInput();
    EXPECT_FALSE(reset->continuation()) << "a stop";
    deliver(*reset, tone(1000, 256, 0), 5000);
    EXPECT_TRUE(reset->continuation()) << "the new input began";
  }
  {
    SCOPED_TRACE("a chain replaced before any delivery passes on what it was to continue");
    auto old = running();
    BufferManager middle(512);
    middle.ContinueMeasurement(*old->continuation());
    middle.FreezeFFTInput();
    const auto passed = middle.continuation();
    ASSERT_TRUE(passed);
    EXPECT_EQ(passed->measurement, old->measurement());
    EXPECT_EQ(passed->nextSampleTime, 1512);
    BufferManager last(1024);
    last.ContinueMeasurement(*passed);
    deliver(last, tone(1000, 220, 512), 1512);
    EXPECT_EQ(last.measurement(), old->measurement());
  }
}

// The render thread's first delivery and the main thread's offer of a continuation meet in every
// order: whichever comes second checks the first delivery against the offer, so a continuous
// input always keeps its number and one with a gap never does.
TEST(BufferManager, TheFirstDeliveryAndTheContinuationAgreeWhicheverComesFirst) {
  for (bool gap : {false, true}) {
    int kept = 0;
    for (int i = 0; i < 300; ++i) {
      auto old = std::make_unique<BufferManager>(256);
      deliver(*old, tone(1000, 256, 0), 0);
      old->FreezeFFTInput();
      const auto continuation = old->continuation();
      ASSERT_TRUE(continuation);
      BufferManager next(256);
      std::atomic<bool> go{false};
      std::thread render([&] {
        while (!go.load()) {
        }
        deliver(next, tone(1000, 128, 256), gap ? 256 + 4096 : 256);
      });
      go.store(true);
      next.ContinueMeasurement(*continuation);
      render.join();
      kept += next.measurement() == continuation->measurement;
    }
    EXPECT_EQ(kept, gap ? 0 : 300) << (gap ? "with a gap" : "continuous");
  }
}

TEST(DCRejectionFilter, SaysHowManyLeadingSamplesItIsStillSettlingOn) {
  DCRejectionFilter filter;
  std::vector<float> samples(300, 0.5f);
  EXPECT_EQ(filter.FilterInPlace(samples.data(), 300), 300u);
  EXPECT_EQ(filter.FilterInPlace(samples.data(), 300), DCRejectionFilter::kSettlingFrames - 300);
  EXPECT_EQ(filter.FilterInPlace(samples.data(), 300), 0u);
  EXPECT_EQ(filter.FilterInPlace(nullptr, 300), 0u);
  filter.Reset();
  EXPECT_EQ(filter.settlingLeft(), DCRejectionFilter::kSettlingFrames);
  EXPECT_EQ(filter.FilterInPlace(samples.data(), 10), 10u);
  // By the end of its settling, a step's transient is below what a frame resolves.
  DCRejectionFilter step;
  std::vector<float> ones(DCRejectionFilter::kSettlingFrames + 1, 1.0f);
  step.FilterInPlace(ones.data(), uint32_t(ones.size()));
  EXPECT_LT(std::abs(ones.back()), 1e-4f);
}
