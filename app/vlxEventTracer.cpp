#include "app/vlxEventTracer.h"

#include <cmath>
#include <limits>
#include <optional>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"

namespace {
// The monotonic time of the previous event; none until the process records its first one.
std::optional<double> previousEventTime;
}  // namespace

void vlxEventTracer::addEvent(const std::string& name) {
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
  trace = ns::format("%s/%d/%s/", trace.c_str(), seconds, name.c_str());
  defaults->setObject(Value(trace), kEventsStackKey);
  defaults->synchronize();
  previousEventTime = now;
}

void vlxEventTracer::resetForTesting() { previousEventTime.reset(); }
