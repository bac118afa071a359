#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSRunLoop.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualClock.h"
#include "tests/support/WaitFor.h"

namespace {

TEST(RunLoop, RepeatingTimersFireOncePerIntervalOverASteppedSecondAndStopWhenInvalidated) {
  testsupport::ManualClock clock;
  const double start = Clock::monotonic();
  std::vector<double> frameFires;
  int meterFires = 0;
  auto frame = NSTimer::scheduledTimerWithTimeInterval(
      1.0 / 24, true, [&](NSTimer&) { frameFires.push_back(Clock::monotonic() - start); });
  auto meter = NSTimer::scheduledTimerWithTimeInterval(0.05, true, [&](NSTimer&) { ++meterFires; });

  testsupport::stepMainRunLoop(1.0);
  ASSERT_EQ(frameFires.size(), 24u);
  EXPECT_EQ(meterFires, 20);
  // Each fire happens at its own instant, not bunched at the end of the step.
  for (size_t k = 0; k < frameFires.size(); ++k) {
    EXPECT_NEAR(frameFires[k], (k + 1) / 24.0, 1e-6) << "fire " << k;
  }

  // In small steps the count is the same: the schedule keeps its phase.
  for (int i = 0; i < 10; ++i) testsupport::stepMainRunLoop(0.1);
  EXPECT_EQ(frameFires.size(), 48u);
  EXPECT_EQ(meterFires, 40);

  frame->invalidate();
  meter->invalidate();
  EXPECT_FALSE(frame->isValid());
  testsupport::stepMainRunLoop(1.0);
  EXPECT_EQ(frameFires.size(), 48u);
  EXPECT_EQ(meterFires, 40);
}

TEST(RunLoop, MissedFiresAreSkippedNotBunched) {
  testsupport::ManualClock clock;
  int fires = 0;
  auto timer = NSTimer::scheduledTimerWithTimeInterval(0.1, true, [&](NSTimer&) { ++fires; });
  // The loop was busy for a second: one late fire, then back on the original phase.
  Clock::advance(1.05);
  NSRunLoop::main().runOnce();
  EXPECT_EQ(fires, 1);
  testsupport::stepMainRunLoop(0.04);
  EXPECT_EQ(fires, 1);
  testsupport::stepMainRunLoop(0.02);  // reaches 1.1
  EXPECT_EQ(fires, 2);
  timer->invalidate();
}

TEST(RunLoop, OneShotTimerFiresOnceAndATimerMayInvalidateItselfFromItsBlock) {
  testsupport::ManualClock clock;
  int oneShot = 0;
  auto once = NSTimer::scheduledTimerWithTimeInterval(0.2, false, [&](NSTimer&) { ++oneShot; });
  int selfStopping = 0;
  NSTimer::scheduledTimerWithTimeInterval(0.1, true, [&](NSTimer& t) {
    if (++selfStopping == 3) t.invalidate();
  });
  testsupport::stepMainRunLoop(0.19);
  EXPECT_EQ(oneShot, 0);
  testsupport::stepMainRunLoop(2.0);
  EXPECT_EQ(oneShot, 1);
  EXPECT_FALSE(once->isValid());
  EXPECT_EQ(selfStopping, 3);
}

// An owner that ends its timer when it ends, kept alive only by the timer's block: invalidating
// the timer releases the block, which ends the owner, which invalidates the same timer again.
struct TimerOwner {
  NSTimer* timer = nullptr;
  std::shared_ptr<std::atomic<bool>> ended;
  ~TimerOwner() {
    if (timer) timer->invalidate();
    ended->store(true);
  }
};

// Invalidates the timer on a thread of its own and waits a bounded time for it: a hang is reported
// as a failure (the stuck thread is left behind) instead of holding up the whole run.
bool invalidateReturnsInTime(NSTimer* timer) {
  auto returned = std::make_shared<std::atomic<bool>>(false);
  std::thread([timer, returned] {
    timer->invalidate();
    returned->store(true);
  }).detach();
  return testsupport::waitFor([&] { return returned->load(); }, 20.0);
}

TEST(RunLoop, InvalidatingATimerWhoseBlockHoldsItsOwnerEndsTheOwnerWithoutHanging) {
  testsupport::ManualClock clock;
  // Someone else still holds the timer.
  {
    auto ended = std::make_shared<std::atomic<bool>>(false);
    auto owner = std::make_shared<TimerOwner>();
    owner->ended = ended;
    NSTimerRef timer = NSTimer::scheduledTimerWithTimeInterval(0.1, true, [owner](NSTimer&) {});
    owner->timer = timer.get();
    owner.reset();  // the timer's block now holds the last reference to the owner
    ASSERT_TRUE(invalidateReturnsInTime(timer.get())) << "invalidate() hung";
    EXPECT_TRUE(ended->load());
    EXPECT_FALSE(timer->isValid());
  }
  // Only the run loop holds the timer: it must outlive the invalidate() that lets it go.
  {
    auto ended = std::make_shared<std::atomic<bool>>(false);
    auto owner = std::make_shared<TimerOwner>();
    owner->ended = ended;
    NSTimer* timer =
        NSTimer::scheduledTimerWithTimeInterval(0.1, true, [owner](NSTimer&) {}).get();
    owner->timer = timer;
    owner.reset();
    ASSERT_TRUE(invalidateReturnsInTime(timer)) << "invalidate() hung";
    EXPECT_TRUE(ended->load());
  }
  // A one-shot timer whose block holds the last reference to its owner ends it after firing.
  {
    auto ended = std::make_shared<std::atomic<bool>>(false);
    auto owner = std::make_shared<TimerOwner>();
    owner->ended = ended;
    int fired = 0;
    owner->timer =
        NSTimer::scheduledTimerWithTimeInterval(0.1, false, [owner, &fired](NSTimer&) { ++fired; }).get();
    owner.reset();
    testsupport::stepMainRunLoop(0.2);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(ended->load());
  }
}

TEST(RunLoop, ATimerBlockThatThrowsIsLoggedAndTheLoopGoesOn) {
  testsupport::ManualClock clock;
  testsupport::LogCapture log;
  int throwing = 0;
  int other = 0;
  auto bad = NSTimer::scheduledTimerWithTimeInterval(0.1, true, [&](NSTimer&) {
    ++throwing;
    throw std::runtime_error("meter failed");
  });
  auto good = NSTimer::scheduledTimerWithTimeInterval(0.1, true, [&](NSTimer&) { ++other; });
  NSRunLoop::main().performBlock([] { throw std::logic_error("block failed"); });
  testsupport::stepMainRunLoop(0.5);
  EXPECT_EQ(throwing, 5);  // still scheduled after throwing
  EXPECT_EQ(other, 5);
  EXPECT_TRUE(log.contains("meter failed"));
  EXPECT_TRUE(log.contains("block failed"));
  bad->invalidate();
  good->invalidate();
}

TEST(RunLoop, BlocksFromOtherThreadsRunOnTheMainThreadInOrder) {
  std::vector<int> seen;
  std::atomic<bool> offMain{false};
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) {
      NSRunLoop::main().performBlock([&, i] {
        if (!NSRunLoop::isMainThread()) offMain = true;
        seen.push_back(i);
      });
    }
  });
  poster.join();
  EXPECT_TRUE(testsupport::waitFor([&] { return seen.size() == 100; }));
  EXPECT_FALSE(offMain.load());
  for (int i = 0; i < 100; ++i) ASSERT_EQ(seen[i], i);
}

TEST(RunLoop, StopEndsRunAndRunOnceOffTheMainThreadIsRefused) {
  NSRunLoop::main().performBlock([] { NSRunLoop::main().stop(); });
  NSRunLoop::main().run();  // returns only because of stop()

  testsupport::LogCapture log;
  int ran = -1;
  bool flag = false;
  NSRunLoop::main().performBlock([&] { flag = true; });
  std::thread other([&] { ran = NSRunLoop::main().runOnce(); });
  other.join();
  EXPECT_EQ(ran, 0);
  EXPECT_FALSE(flag);
  EXPECT_TRUE(log.contains("off the main thread"));
  EXPECT_EQ(NSRunLoop::main().runOnce(), 1);
  EXPECT_TRUE(flag);
}

TEST(RunLoop, ManualClockIsSteadyUntilAdvancedAndNeverRunsBackwards) {
  double before = Clock::monotonic();
  double after = 0;
  {
    testsupport::ManualClock clock;
    const double wall = Clock::now();
    const double mono = Clock::monotonic();
    EXPECT_GE(mono, before);
    EXPECT_EQ(Clock::monotonic(), mono);
    Clock::advance(100);
    EXPECT_DOUBLE_EQ(Clock::now(), wall + 100);
    EXPECT_DOUBLE_EQ(Clock::monotonic(), mono + 100);
    Clock::setNow(1000);
    EXPECT_EQ(Clock::now(), 1000);
    EXPECT_DOUBLE_EQ(Clock::monotonic(), mono + 100);
    after = Clock::monotonic();
    Clock::advance(-5);  // refused
    EXPECT_EQ(Clock::monotonic(), after);
  }
  EXPECT_FALSE(Clock::isManual());
  EXPECT_GE(Clock::monotonic(), after);
}

}  // namespace
