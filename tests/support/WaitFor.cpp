#include "tests/support/WaitFor.h"

#include "platform/foundation/NSRunLoop.h"

namespace testsupport {

bool waitFor(const std::function<bool()>& predicate, double timeoutSeconds) {
  return NSRunLoop::main().runUntil(predicate, timeoutSeconds);
}

}  // namespace testsupport
