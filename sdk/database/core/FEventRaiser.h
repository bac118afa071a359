#pragma once
// Delivers events and completion callbacks to user code: every callback is scheduled
// asynchronously on the callback queue, never run on the caller's thread. On a serial queue the
// callbacks run in the order they were raised. Lives as long as its repository.
#include <functional>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "sdk/database/core/FEvent.h"

class FEventRaiser {
 public:
  // initWithQueue:; a null queue raises NSInternalInconsistencyException "Can't use default
  // constructor".
  explicit FEventRaiser(DispatchQueueRef queue);

  const DispatchQueueRef& queue() const { return queue_; }

  void raiseEvents(const FEventList& events) const;
  void raiseCallback(DispatchBlock callback) const;
  void raiseCallbacks(const std::vector<DispatchBlock>& callbacks) const;
  static void raiseCallbacks(const std::vector<DispatchBlock>& callbacks, const DispatchQueueRef& queue);

 private:
  DispatchQueueRef queue_;
};
