#include "sdk/database/core/FWorkQueue.h"

DispatchQueueRef FWorkQueue::sharedQueue() {
  static const DispatchQueueRef queue = DispatchQueue::serial("ZirezizeWorker");
  return queue;
}
