#include "app/vlxEventTracer.h"

#include <cmath>
#include <limits>
#include <memory>
#include <optional>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "sdk/database/realtime/ZIRDatabase.h"
#include "sdk/database/realtime/ZIRDatabaseReference.h"

namespace {
// The monotonic time of the previous event; none until the process records its first one.
std::optional<double> previousEventTime;
// The root of the default database, made on the first database write.
ZIRDatabaseReferenceRef rootReference;
bool storyPushingEnabled = false;
size_t storyPushThreshold = 2000;

enum class RecordKind { Event, Purchase };

// Appends one record to the stored trace and answers the new trace.
std::string appendRecord(RecordKind kind, const std::string& text) {
  auto defaults = NSUserDefaults::standardUserDefaults();
  std::string trace = defaults->stringForKey(kEventsStackKey).value_or("");
  const double now = Clock::monotonic();
  if (!previousEventTime) {
    previousEventTime = now;
    trace = ns::format("%s/NextLaunch/", trace.c_str());
  }
  double elapsed = now - *previousEventTime;
  // The monotonic clock never runs back; the bound only keeps the conversion defined.
  if (!(elapsed >= 0)) elapsed = 0;
  if (elapsed > std::numeric_limits<int>::max()) elapsed = std::numeric_limits<int>::max();
  const int seconds = static_cast<int>(elapsed);  // truncated toward zero
  if (kind == RecordKind::Event) {
    trace = ns::format("%s/%d/%s/", trace.c_str(), seconds, text.c_str());
  } else {
    trace = ns::format("%s/%d/Purchase_%s", trace.c_str(), seconds, text.c_str());
  }
  defaults->setObject(Value(trace), kEventsStackKey);
  defaults->synchronize();
  previousEventTime = now;
  return trace;
}

const ZIRDatabaseReferenceRef& root() {
  if (!rootReference) {
    std::shared_ptr<ZIRDatabase> database = ZIRDatabase::database();
    // The records must outlive the process while no server can be reached. The tracer is the
    // database's only user, so the setting can still change here.
    if (!database->persistenceEnabled()) database->setPersistenceEnabled(true);
    rootReference = database->reference();
  }
  return rootReference;
}

void writeRecord(const char* child, const Value& value) { root()->child(child)->childByAutoId()->setValue(value); }

}  // namespace

void vlxEventTracer::addEvent(const std::string& name) { appendRecord(RecordKind::Event, name); }

void vlxEventTracer::tracePurchase(const std::string& productIdentifier) {
  const std::string trace = appendRecord(RecordKind::Purchase, productIdentifier);
  writeRecord(kPurchaseChild, Value(trace));
}

void vlxEventTracer::traceRestore(const std::string& productIdentifier) {
  const std::string trace = appendRecord(RecordKind::Purchase, productIdentifier);
  writeRecord(kRestoreChild, Value(trace));
}

void vlxEventTracer::traceError(const Value& error) { writeRecord(kErrorChild, error); }

void vlxEventTracer::pushInfoIfNeeded() {
  const std::string trace = NSUserDefaults::standardUserDefaults()->stringForKey(kEventsStackKey).value_or("");
  if (ns::utf16Length(trace) > storyPushThreshold && storyPushingEnabled) writeRecord(kStoriesChild, Value(trace));
}

void vlxEventTracer::configureStoryPushing(bool enabled, size_t thresholdCharacters) {
  storyPushingEnabled = enabled;
  storyPushThreshold = thresholdCharacters;
}

void vlxEventTracer::resetForTesting() {
  previousEventTime.reset();
  rootReference.reset();
}
