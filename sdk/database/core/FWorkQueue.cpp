#include "sdk/database/core/FWorkQueue.h"

namespace {
const DispatchQueueRef& workQueue() {
  static const DispatchQueueRef queue = DispatchQueue::serial("ZirezizeWorker");
  return queue;
}
}  // namespace

DispatchQueueRef FWorkQueue::sharedQueue() { return workQueue(); }

bool FWorkQueue::isCurrent() { return workQueue()->isCurrent(); }
