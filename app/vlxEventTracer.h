#pragma once
// The usage trace: every tap the screens report is appended, with the whole seconds since the
// previous one, to one string in the standard user defaults under "eventsStack". The first event
// of each process is preceded by "/NextLaunch/". The trace is never shortened.
//
// Seconds are measured on the monotonic clock, so changing the wall clock between two events
// never writes a negative number. Class operations only; main thread (the screens' actions).
#include <string>

inline constexpr const char* kEventsStackKey = "eventsStack";

class vlxEventTracer {
 public:
  // addEvent: — appends "/<seconds>/<name>/" (after "/NextLaunch/" for the first event of the
  // process) and synchronises the defaults. The name is stored as it is, "/" included.
  static void addEvent(const std::string& name);

  // Forgets the previous event's time, as a new process would (tests of several launches).
  static void resetForTesting();
};
