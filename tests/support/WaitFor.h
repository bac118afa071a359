#pragma once
// Waiting in tests for work done on other threads, without sleeping a fixed time.
#include <functional>

namespace testsupport {

// Waits until predicate() is true or `timeoutSeconds` of real time have passed, serving the main
// run loop meanwhile when called on the main thread (so main-queue blocks and due timers run).
// Returns the last value of predicate().
bool waitFor(const std::function<bool()>& predicate, double timeoutSeconds = 5.0);

// Waits until predicate() is true or `timeoutSeconds` of real time have passed, looking every
// `pollSeconds`: for work another process does, where each look costs something (a query to that
// process or its server). Returns the last value of predicate().
bool waitPolling(const std::function<bool()>& predicate, double timeoutSeconds, double pollSeconds);

}  // namespace testsupport
