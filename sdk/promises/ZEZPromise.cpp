#include "sdk/promises/ZEZPromise.h"

#include <mutex>

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

void ZEZPromiseSetDefaultQueue(DispatchQueueRef queue) {
  std::lock_guard<std::mutex> lock(queueMutex());
  defaultQueue() = std::move(queue);
}

NSErrorRef ZEZPromiseValidationError() {
  return NSError::errorWithDomain(ZEZPromiseErrorDomain, ZEZPromiseErrorCodeValidationFailure);
}

NSErrorRef ZEZPromiseMissingError() {
  return NSError::errorWithDomain(
      ZEZPromiseErrorDomain, 0,
      Value{{NSLocalizedDescriptionKey, "A promise was rejected without an error."}});
}
