#include "platform/foundation/NSRunLoop.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSLog.h"

namespace {

// Two readings this close are the same instant: stepped clocks and start + k*interval schedules
// are computed by different sums of the same numbers.
constexpr double kTimeEpsilon = 1e-9;
// The shortest interval a timer accepts, so a zero interval cannot spin the loop.
constexpr double kMinimumInterval = 0.0001;
// How often runUntil looks at a predicate that nothing wakes the loop for.
constexpr double kPollSeconds = 0.005;

// A scheduled timer and its schedule (guarded by the loop's mutex).
struct TimerEntry {
  NSTimerRef timer;
  double interval = 0;
  bool repeats = false;
  double start = 0;
  int64_t fireIndex = 1;
  double nextFire = 0;
};

struct LoopState {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<std::function<void()>> blocks;
  std::vector<TimerEntry> timers;
  bool woken = false;
  std::atomic<bool> stopRequested{false};
};

// Never destroyed: other threads may post blocks while the process exits.
LoopState& loopState() {
  static LoopState* s = [] {
    auto* st = new LoopState();
    // A stepped clock may make a timer due, and a switch between clocks changes every deadline.
    Clock::addListener([st] {
      std::lock_guard<std::mutex> lock(st->mutex);
      st->woken = true;
      st->cv.notify_all();
    });
    return st;
  }();
  return *s;
}

// The thread that started the process has the process id as its thread id; unlike a recorded
// std::thread::id this does not depend on the order of static initialisers.
pid_t currentTid() {
  thread_local pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
  return tid;
}

void logThrown(const char* what, const std::exception_ptr& ex) {
  try {
    std::rethrow_exception(ex);
  } catch (const NSException& e) {
    NSLog("%s threw %s: %s", what, e.name().c_str(), e.reason().c_str());
  } catch (const std::exception& e) {
    NSLog("%s threw: %s", what, e.what());
  } catch (...) {
    NSLog("%s threw an unknown exception", what);
  }
}

bool consumeStop() { return loopState().stopRequested.exchange(false); }

// Waits on the loop until woken or until `seconds` of real time have passed.
void waitForWake(double seconds) {
  LoopState& s = loopState();
  std::unique_lock<std::mutex> lock(s.mutex);
  if (!s.woken && !s.stopRequested.load() && s.blocks.empty()) {
    if (seconds == std::numeric_limits<double>::infinity()) {
      s.cv.wait(lock, [&] { return s.woken || s.stopRequested.load() || !s.blocks.empty(); });
    } else if (seconds > 0) {
      // Long waits are cut into hours: the loop looks again, and the duration cannot overflow.
      s.cv.wait_for(lock, std::chrono::duration<double>(std::min(seconds, 3600.0)),
                    [&] { return s.woken || s.stopRequested.load() || !s.blocks.empty(); });
    }
  }
  s.woken = false;
}

}  // namespace

struct NSTimer::State {
  double interval = 0;
  bool repeats = false;
  std::atomic<bool> valid{true};
  // Released on invalidate, so a block that captures its owner does not keep it alive; a copy
  // is taken for each fire so the block may invalidate its own timer. The mutex guards only the
  // pointer: no block is run or destroyed while it is held.
  std::mutex blockMutex;
  std::shared_ptr<std::function<void(NSTimer&)>> block;
};

NSTimerRef NSTimer::scheduledTimerWithTimeInterval(double interval, bool repeats,
                                                   std::function<void(NSTimer&)> block) {
  NSTimerRef timer(new NSTimer());
  timer->state_ = std::make_shared<State>();
  State& st = *timer->state_;
  st.interval = (std::isnan(interval) || interval < kMinimumInterval) ? kMinimumInterval : interval;
  st.repeats = repeats;
  st.block = std::make_shared<std::function<void(NSTimer&)>>(std::move(block));
  LoopState& s = loopState();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    TimerEntry e;
    e.timer = timer;
    e.interval = st.interval;
    e.repeats = repeats;
    e.start = Clock::monotonic();
    e.nextFire = e.start + e.interval;
    s.timers.push_back(std::move(e));
    s.woken = true;
  }
  s.cv.notify_all();
  return timer;
}

void NSTimer::invalidate() {
  if (!state_) return;
  // Letting go of the block may end an owner that held the only other reference to this timer.
  const NSTimerRef self = weak_from_this().lock();
  state_->valid.store(false);
  std::shared_ptr<std::function<void(NSTimer&)>> block;
  {
    std::lock_guard<std::mutex> lock(state_->blockMutex);
    block.swap(state_->block);
  }
  // Released outside the lock: the block may hold the last reference to an owner whose
  // destructor invalidates this timer again.
  block.reset();
  NSTimerRef keep;  // released after the lock: the timer may be destroyed with it
  LoopState& s = loopState();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = std::find_if(s.timers.begin(), s.timers.end(),
                           [this](const TimerEntry& e) { return e.timer.get() == this; });
    if (it != s.timers.end()) {
      keep = std::move(it->timer);
      s.timers.erase(it);
    }
  }
}

bool NSTimer::isValid() const { return state_ && state_->valid.load(); }


void NSTimer::fire() {
  if (!isValid()) return;
  // Keeps the timer alive while its block runs, even if the block invalidates it, and until the
  // copy of the block below (perhaps the last reference to the timer's owner) is let go of.
  NSTimerRef self = shared_from_this();
  std::shared_ptr<std::function<void(NSTimer&)>> block;
  {
    std::lock_guard<std::mutex> lock(state_->blockMutex);
    block = state_->block;
  }
  if (block && *block) {
    try {
      (*block)(*this);
    } catch (...) {
      logThrown("NSTimer: a timer's block", std::current_exception());
    }
  }
  if (!state_->repeats) invalidate();
}

NSTimer::~NSTimer() = default;

NSRunLoop& NSRunLoop::main() {
  static NSRunLoop loop;
  loopState();
  return loop;
}

bool NSRunLoop::isMainThread() { return currentTid() == ::getpid(); }

int NSRunLoop::runOnce() {
  if (!isMainThread()) {
    NSLog("NSRunLoop: runOnce called off the main thread; ignored");
    return 0;
  }
  LoopState& s = loopState();
  int ran = 0;

  // Only the blocks already queued: a block that queues another must not starve the timers.
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    batch.swap(s.blocks);
  }
  for (auto& block : batch) {
    try {
      if (block) block();
    } catch (...) {
      logThrown("NSRunLoop: a main-queue block", std::current_exception());
    }
    ++ran;
  }
  batch.clear();

  const double now = Clock::monotonic();
  std::vector<std::pair<double, NSTimerRef>> due;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto& e : s.timers) {
      if (!e.timer->isValid() || e.nextFire > now + kTimeEpsilon) continue;
      due.emplace_back(e.nextFire, e.timer);
      if (!e.repeats) continue;
      // Keeps the phase; fires missed while the loop was busy are skipped, not bunched.
      const double elapsed = (now - e.start) / e.interval;
      const int64_t caughtUp = static_cast<int64_t>(std::floor(elapsed + kTimeEpsilon)) + 1;
      e.fireIndex = std::max(e.fireIndex + 1, caughtUp);
      e.nextFire = e.start + static_cast<double>(e.fireIndex) * e.interval;
    }
  }
  std::stable_sort(due.begin(), due.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [when, t] : due) {
    if (!t->isValid()) continue;  // invalidated by an earlier timer of this pass
    t->fire();
    ++ran;
  }
  return ran;
}

namespace {

// The earliest fire time of a valid timer, or +infinity.
double nextTimerFire();

}  // namespace

void NSRunLoop::runFor(double seconds) {
  if (!isMainThread()) {
    NSLog("NSRunLoop: runFor called off the main thread; ignored");
    return;
  }
  if (!(seconds >= 0)) seconds = 0;
  const double end = Clock::monotonic() + seconds;
  for (;;) {
    runOnce();
    if (consumeStop()) return;
    const double now = Clock::monotonic();
    if (now >= end) return;
    const double next = std::min(end, nextTimerFire());
    if (Clock::isManual()) {
      // Steps time from timer to timer, so every fire happens at its own instant.
      Clock::advance(std::max(0.0, next - now));
    } else {
      waitForWake(next - now);
    }
  }
}

bool NSRunLoop::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
  using namespace std::chrono;
  const bool onMain = isMainThread();
  const auto deadline = steady_clock::now() + duration_cast<steady_clock::duration>(
                                                  duration<double>(std::max(0.0, timeoutSeconds)));
  for (;;) {
    if (predicate()) return true;
    if (onMain) {
      runOnce();
      if (predicate()) return true;
      if (consumeStop()) return predicate();
    }
    const auto realNow = steady_clock::now();
    if (realNow >= deadline) return predicate();
    double wait = std::min(kPollSeconds, duration<double>(deadline - realNow).count());
    if (onMain) {
      if (!Clock::isManual()) wait = std::min(wait, std::max(0.0, nextTimerFire() - Clock::monotonic()));
      waitForWake(wait);
    } else {
      std::this_thread::sleep_for(duration<double>(wait));
    }
  }
}

void NSRunLoop::run() {
  if (!isMainThread()) {
    NSLog("NSRunLoop: run called off the main thread; ignored");
    return;
  }
  for (;;) {
    runOnce();
    if (consumeStop()) return;
    // A manual clock is not stepped here: time moves only when someone advances it, which wakes us.
    double wait = std::numeric_limits<double>::infinity();
    if (!Clock::isManual()) {
      const double next = nextTimerFire();
      if (next != std::numeric_limits<double>::infinity()) wait = std::max(0.0, next - Clock::monotonic());
    }
    waitForWake(wait);
  }
}

void NSRunLoop::stop() {
  LoopState& s = loopState();
  s.stopRequested.store(true);
  wakeUp();
}

void NSRunLoop::performBlock(std::function<void()> block) {
  LoopState& s = loopState();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.blocks.push_back(std::move(block));
    s.woken = true;
  }
  s.cv.notify_all();
}

void NSRunLoop::wakeUp() {
  LoopState& s = loopState();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.woken = true;
  }
  s.cv.notify_all();
}

namespace {

double nextTimerFire() {
  LoopState& s = loopState();
  std::lock_guard<std::mutex> lock(s.mutex);
  double next = std::numeric_limits<double>::infinity();
  for (auto& e : s.timers) {
    if (e.timer->isValid()) next = std::min(next, e.nextFire);
  }
  return next;
}

}  // namespace
