#include "sdk/promises/ZEZPromise.h"

#include <exception>
#include <mutex>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSLog.h"

namespace {
std::mutex& queueMutex() {
  static std::mutex m;
  return m;
}
DispatchQueueRef& defaultQueue() {
  static DispatchQueueRef q;
  return q;
}
}  // namespace

DispatchQueueRef ZEZPromiseDefaultQueue() {
  std::lock_guard<std::mutex> lock(queueMutex());
  if (!defaultQueue()) defaultQueue() = DispatchQueue::main();
  return defaultQueue();
}

NSErrorRef ZEZPromiseValidationError() {
  return NSError::errorWithDomain(ZEZPromiseErrorDomain, ZEZPromiseErrorCodeValidationFailure);
}

NSErrorRef ZEZPromiseMissingError() {
  return NSError::errorWithDomain(
      ZEZPromiseErrorDomain, 0,
      Value{{NSLocalizedDescriptionKey, "A promise was rejected without an error."}});
}

NSErrorRef ZEZPromiseErrorWithCurrentException() {
  std::string text;
  try {
    throw;
  } catch (const NSException& e) {
    text = e.name() + ": " + e.reason();
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
    text = "an unknown exception";
  }
  NSLog("A promise's work threw (%s); the promise is rejected", text.c_str());
  return NSError::errorWithDomain(
      ZEZPromiseErrorDomain, ZEZPromiseErrorCodeException,
      Value{{NSLocalizedDescriptionKey, "The promise's work threw: " + text},
            {NSLocalizedFailureReasonErrorKey, text}});
}
