#include "sdk/database/core/FEventRaiser.h"

#include <utility>

#include "platform/foundation/NSException.h"

namespace {

// A slice is short enough that the callback queue delivers a value listener's events while the
// versions of the data they carry are still in the work queue's cache: it lets them go once
// delivered (see FValueEventRegistration).
constexpr size_t kHandOffSlice = 64;

// The hand-offs of the task this thread runs, in the order they were made.
struct PendingHandOffs {
  std::vector<std::pair<DispatchQueueRef, DispatchBlock>> callbacks;
  bool madeAtTaskEnd = false;  // the task will make them when it ends
};
thread_local PendingHandOffs tPending;
thread_local std::vector<std::pair<DispatchQueueRef, DispatchBlock>> tSpare;

void handOffAtTaskEnd() {
  FEventRaiser::handOffPending();
  tPending.madeAtTaskEnd = false;
}

}  // namespace

FEventRaiser::FEventRaiser(DispatchQueueRef queue) : queue_(std::move(queue)) {
  if (!queue_) NSException::raise(NSInternalInconsistencyException, "Can't use default constructor");
}

void FEventRaiser::handOff(const DispatchQueueRef& queue, DispatchBlock callback) {
  if (!tPending.madeAtTaskEnd) {
    if (!DispatchQueue::deferWhileBusy(handOffAtTaskEnd) && !DispatchQueue::deferToEndOfCurrentTask(handOffAtTaskEnd)) {
      queue->async(std::move(callback));
      return;
    }
    tPending.madeAtTaskEnd = true;
  }
  tPending.callbacks.emplace_back(queue, std::move(callback));
  // A long task hands off in slices, so that the callback queue works through the first ones
  // while the task goes on, instead of receiving everything at its end.
  if (tPending.callbacks.size() >= kHandOffSlice) handOffPending();
}

void FEventRaiser::handOffPending() {
  // Taken out first, in case a queue runs code that hands off again; the two lists trade their
  // storage, so that a long task does not grow a new one for every slice.
  std::vector<std::pair<DispatchQueueRef, DispatchBlock>> callbacks;
  callbacks.swap(tSpare);
  callbacks.swap(tPending.callbacks);
  for (size_t i = 0; i < callbacks.size();) {
    // Each run of callbacks bound for one queue goes in one batch; the runs keep their order.
    const DispatchQueueRef queue = callbacks[i].first;
    std::vector<DispatchBlock> batch;
    size_t end = i;
    while (end < callbacks.size() && callbacks[end].first == queue) ++end;
    batch.reserve(end - i);
    for (; i < end; ++i) batch.push_back(std::move(callbacks[i].second));
    queue->asyncBatch(std::move(batch));
  }
  callbacks.clear();
  if (tSpare.capacity() == 0) tSpare.swap(callbacks);
}

void FEventRaiser::raiseEvents(const FEventList& events) const {
  for (const FEventRef& event : events) event->fireEventOnQueue(queue_);
}

void FEventRaiser::raiseCallback(DispatchBlock callback) const { handOff(queue_, std::move(callback)); }

void FEventRaiser::raiseCallbacks(const std::vector<DispatchBlock>& callbacks) const {
  raiseCallbacks(callbacks, queue_);
}

void FEventRaiser::raiseCallbacks(const std::vector<DispatchBlock>& callbacks, const DispatchQueueRef& queue) {
  for (const DispatchBlock& callback : callbacks) handOff(queue, callback);
}
