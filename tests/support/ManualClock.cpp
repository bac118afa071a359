#include "tests/support/ManualClock.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSRunLoop.h"

namespace testsupport {

ManualClock::ManualClock() : wasManual_(Clock::isManual()) { Clock::setManual(true); }

ManualClock::~ManualClock() { Clock::setManual(wasManual_); }

void ManualClock::step(double seconds) { stepMainRunLoop(seconds); }

void ManualClock::advance(double seconds) { Clock::advance(seconds); }

void stepMainRunLoop(double seconds) { NSRunLoop::main().runFor(seconds); }

}  // namespace testsupport
