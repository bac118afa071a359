#pragma once
// Delivers events and completion callbacks to user code: every callback is scheduled
// asynchronously on the callback queue, never run on the caller's thread. On a serial queue the
// callbacks run in the order they were raised. Lives as long as its repository.
//
// The hand-offs made while a queue's task runs (the database's work queue) are collected and made
// when that queue has no more work queued right behind (at most about a millisecond later, and
// always before a sync caller of the queue goes on), or else when the task ends; the callbacks
// bound for one queue go in one batch: a serial callback queue wakes once for a run of writes
// instead of once per callback, and still runs each, in the order raised, on its own thread,
// exactly where it would have run had each been queued at once (every hand-off of the engine goes
// through here, and code that could queue work of its own is preceded by handOffPending()).
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

  // Schedules one callback on `queue` (what the registrations do for each event): at once outside
  // a task, else with the other hand-offs held back as described above.
  static void handOff(const DispatchQueueRef& queue, DispatchBlock callback);
  // Makes the hand-offs collected so far in the running task now: before the task runs code that
  // may itself queue work onto a callback queue (a user's transaction block).
  static void handOffPending();

 private:
  DispatchQueueRef queue_;
};
