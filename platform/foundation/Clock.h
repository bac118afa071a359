#pragma once
// The platform clock. Wall time (seconds since 1970) and monotonic time (seconds) come from the
// system, unless a test switched the clock to manual: then both stand still until advanced by
// hand, and timers, dispatch_after and run-loop deadlines follow the stepped time.
#include <functional>

class Clock {
 public:
  static double now();        // seconds since 1970
  static double monotonic();  // seconds on a steady clock

  static bool isManual();
  // Switches to a manual clock that starts at the current readings.
  static void setManual(bool manual);
  // Moves the manual clock forward (both readings) and wakes everything waiting on a deadline.
  static void advance(double seconds);
  // Sets the manual wall time without moving the monotonic reading.
  static void setNow(double secondsSince1970);

  // Called after every advance; used by the run loop and the dispatch timer thread.
  using Listener = std::function<void()>;
  static int addListener(Listener listener);
};
