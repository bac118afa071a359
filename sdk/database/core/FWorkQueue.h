#pragma once
// The database client's one serial work queue ("ZirezizeWorker"), made once on first use. All
// work of the synchronisation engine runs on it; the public layer hands it out as
// ZIRDatabaseQuery::sharedQueue.
#include "platform/dispatch/Dispatch.h"

class FWorkQueue {
 public:
  static DispatchQueueRef sharedQueue();
  // Whether the calling thread runs a task of the work queue (without a copy of its reference).
  static bool isCurrent();
};
