#pragma once
// Stepping time in tests: a manual platform clock for the life of a scope, and stepping the main
// run loop through it (timers fire at their own instants; dispatch after() blocks become due).

namespace testsupport {

class ManualClock {
 public:
  ManualClock();   // switches the platform clock to manual
  ~ManualClock();  // puts back the clock that was in use
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  // Steps the main run loop (and so the clock) forward by `seconds`. Main thread only.
  void step(double seconds);
  // Moves the clock without running the main loop (other threads' deadlines still wake).
  void advance(double seconds);

 private:
  bool wasManual_;
};

// Serves the main run loop for `seconds` on the platform clock: with a manual clock, steps it
// from timer to timer; with the system clock, really waits. Main thread only.
void stepMainRunLoop(double seconds);

}  // namespace testsupport
