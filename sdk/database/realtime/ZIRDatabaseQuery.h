#pragma once
// The database client's one serial work queue, "ZirezizeWorker": every operation of the
// synchronisation engine runs on it. Made once, on first use.
#include "platform/dispatch/Dispatch.h"

class ZIRDatabaseQuery {
 public:
  static DispatchQueueRef sharedQueue() {
    static const DispatchQueueRef queue = DispatchQueue::serial("ZirezizeWorker");
    return queue;
  }
};
