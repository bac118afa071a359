#include "sdk/database/core/FEventRaiser.h"

#include "platform/foundation/NSException.h"

FEventRaiser::FEventRaiser(DispatchQueueRef queue) : queue_(std::move(queue)) {
  if (!queue_) NSException::raise(NSInternalInconsistencyException, "Can't use default constructor");
}

void FEventRaiser::raiseEvents(const FEventList& events) const {
  for (const FEventRef& event : events) event->fireEventOnQueue(queue_);
}

void FEventRaiser::raiseCallback(DispatchBlock callback) const { queue_->async(std::move(callback)); }

void FEventRaiser::raiseCallbacks(const std::vector<DispatchBlock>& callbacks) const {
  raiseCallbacks(callbacks, queue_);
}

void FEventRaiser::raiseCallbacks(const std::vector<DispatchBlock>& callbacks, const DispatchQueueRef& queue) {
  for (const DispatchBlock& callback : callbacks) queue->async(callback);
}
