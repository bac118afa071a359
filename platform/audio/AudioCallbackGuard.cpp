#include "platform/audio/AudioCallbackGuard.h"

#include <exception>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSLog.h"

namespace audio {

namespace {
constexpr int kMaxLoggedExceptions = 20;
std::atomic<int> logged{0};
}  // namespace

void logCallbackException(const char* where) noexcept {
  const int n = logged.fetch_add(1);
  if (n >= kMaxLoggedExceptions) return;
  try {
    const char* more = n + 1 == kMaxLoggedExceptions ? " (no more of these are logged)" : "";
    try {
      throw;
    } catch (const NSException& e) {
      NSLog("%s threw %s: %s; carrying on%s", where, e.name().c_str(), e.reason().c_str(), more);
    } catch (const std::exception& e) {
      NSLog("%s threw: %s; carrying on%s", where, e.what(), more);
    } catch (...) {
      NSLog("%s threw an unknown exception; carrying on%s", where, more);
    }
  } catch (...) {
    // Logging itself failed (no memory): nothing more can be done here.
  }
}

}  // namespace audio
