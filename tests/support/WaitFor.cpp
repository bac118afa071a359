#include "tests/support/WaitFor.h"

#include <chrono>
#include <thread>

#include "platform/foundation/NSRunLoop.h"

namespace testsupport {

bool waitFor(const std::function<bool()>& predicate, double timeoutSeconds) {
  return NSRunLoop::main().runUntil(predicate, timeoutSeconds);
}

bool waitPolling(const std::function<bool()>& predicate, double timeoutSeconds, double pollSeconds) {
  using namespace std::chrono;
  const auto end = steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(timeoutSeconds));
  while (steady_clock::now() < end) {
    if (predicate()) return true;
    std::this_thread::sleep_for(duration<double>(pollSeconds));
  }
  return predicate();
}

}  // namespace testsupport
