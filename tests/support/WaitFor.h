#pragma once
// Waiting in tests for work done on other threads, without sleeping a fixed time.
#include <functional>

namespace testsupport {

// Waits until predicate() is true or `timeoutSeconds` of real time have passed, serving the main
// run loop meanwhile when called on the main thread (so main-queue blocks and due timers run).
// Returns the last value of predicate().
bool waitFor(const std::function<bool()>& predicate, double timeoutSeconds = 5.0);

}  // namespace testsupport
