#pragma once
// The main run loop: serves main-queue blocks and timers on the main thread.
#include <functional>
#include <memory>

class NSTimer;
using NSTimerRef = std::shared_ptr<NSTimer>;

class NSTimer : public std::enable_shared_from_this<NSTimer> {
 public:
  // Scheduled on the main run loop; the first fire is `interval` from now (Clock::monotonic()).
  // A repeating timer keeps its phase: fires at start + k*interval (missed fires are skipped, not
  // bunched). The run loop holds the timer until it is invalidated (or fires once, if not repeating).
  static NSTimerRef scheduledTimerWithTimeInterval(double interval, bool repeats,
                                                   std::function<void(NSTimer&)> block);
  void invalidate();
  bool isValid() const;
  void fire();  // fires now without changing the schedule
  ~NSTimer();

 private:
  NSTimer() = default;
  struct State;
  std::shared_ptr<State> state_;
  friend class NSRunLoop;
};

class NSRunLoop {
 public:
  // The main run loop (the loop of the thread that started the process).
  static NSRunLoop& main();
  static bool isMainThread();

  // Runs due main-queue blocks and timers once; returns how many were run. Main thread only.
  int runOnce();
  // Serves the loop until `seconds` have passed on the clock (with a manual clock: steps the clock
  // to each due timer in turn, then to the end) or until stop() is called.
  void runFor(double seconds);
  // Serves the loop until predicate() is true or `timeoutSeconds` of real time have passed.
  // Returns the last value of predicate().
  bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds);
  // Serves the loop until stop().
  void run();
  void stop();

  // Used by the main dispatch queue: enqueue a block and wake the loop.
  void performBlock(std::function<void()> block);
  // Wakes a waiting loop.
  void wakeUp();
};
