#pragma once
// The usage trace: every tap the screens report is appended, with the whole seconds since the
// previous one, to one string in the standard user defaults under "eventsStack". The first event
// of each process is preceded by "/NextLaunch/". The trace is never shortened.
//
// The tracer can also write records to the realtime database of the default app, each as a new
// child with a push identifier under a fixed child of the root: the trace after a purchase or a
// restore ("data", "restore"), an error value ("error"), and the whole trace as a story once it
// is long enough ("stories"). The database applies each write locally, keeps it in its local
// cache (persistence is switched on when the tracer first makes the root reference) and sends it
// when connected; the tracer does not wait for it. Nothing in the application calls these yet.
//
// Seconds are measured on the monotonic clock, so changing the wall clock between two events
// never writes a negative number. Class operations only; main thread (the screens' actions).
#include <cstddef>
#include <string>

#include "platform/foundation/Value.h"

inline constexpr const char* kEventsStackKey = "eventsStack";

class vlxEventTracer {
 public:
  // Children of the database root that the records go under.
  static constexpr const char* kPurchaseChild = "data";
  static constexpr const char* kRestoreChild = "restore";
  static constexpr const char* kErrorChild = "error";
  static constexpr const char* kStoriesChild = "stories";

  // addEvent: — appends "/<seconds>/<name>/" (after "/NextLaunch/" for the first event of the
  // process) and synchronises the defaults. The name is stored as it is, "/" included.
  static void addEvent(const std::string& name);

  // tracePurchase: / traceRestore: — append "/<seconds>/Purchase_<identifier>" and write the new
  // trace under "data" / "restore". The database raises "ZAVAdaNotConfigured" when the SDK's
  // default app is not configured.
  static void tracePurchase(const std::string& productIdentifier);
  static void traceRestore(const std::string& productIdentifier);
  // traceError: — writes the value (a string, number, dictionary or array) under "error"; the
  // trace is not touched.
  static void traceError(const Value& error);
  // Writes the trace under "stories" when story pushing is on and the trace is longer than the
  // threshold (UTF-16 code units). The trace is kept.
  static void pushInfoIfNeeded();

  // Story pushing is a deployment setting: off, with a threshold of 2,000 characters, unless the
  // deployment says otherwise.
  static void configureStoryPushing(bool enabled, size_t thresholdCharacters);

  // Forgets the previous event's time and the database root reference, as a new process would
  // (tests of several launches).
  static void resetForTesting();
};
