#include "sdk/database/realtime/FValueEventRegistration.h"

#include "sdk/database/core/FCancelEvent.h"
#include "sdk/database/core/FEventRaiser.h"
#include "sdk/database/core/FFLog.h"
#include "sdk/database/core/FNodeAllocator.h"
#include "sdk/database/realtime/FDataEvent.h"

FValueEventRegistration::FValueEventRegistration(const std::shared_ptr<FRepo>& repo, uint64_t handle,
                                                 FValueEventCallback callback, FCancelEventCallback cancelCallback)
    : callback_(std::move(callback)), cancelCallback_(std::move(cancelCallback)), handle_(handle), repo_(repo) {}

FEventRef FValueEventRegistration::createEventFrom(const FChange& change, const FQuerySpecRef& query) const {
  // The reference and the snapshot are let go on the callback queue: from the node allocator, their
  // blocks come back to this thread in chains instead of through the other thread's heap.
  auto ref = std::allocate_shared<const ZIRDatabaseReference>(FNodeAllocator<ZIRDatabaseReference>(), repo_.lock(),
                                                              query->path());
  auto snapshot =
      std::allocate_shared<const ZIRDataSnapshot>(FNodeAllocator<ZIRDataSnapshot>(), ref, change.indexedNode());
  return std::make_shared<const FDataEvent>(FEventTypeValue, shared_from_this(), snapshot);
}

void FValueEventRegistration::fireEvent(const FEventRef& event, const DispatchQueueRef& queue) const {
  if (event->isCancelEvent()) {
    auto cancel = std::static_pointer_cast<const FCancelEvent>(event);
    FFLogDebug("I-RDB065001", "Raising cancel value event on %s", cancel->path()->toString().c_str());
    if (!cancelCallback_) return;
    FCancelEventCallback callback = cancelCallback_;
    FEventRaiser::handOff(queue, [callback, error = cancel->error()] { callback(error); });
    return;
  }
  if (!callback_) return;
  auto data = std::static_pointer_cast<const FDataEvent>(event);
  FFLogDebug("I-RDB065002", "Raising value event on %s", data->snapshot()->key().value_or("(null)").c_str());
  // The block holds the registration rather than a copy of its callback: copying the callback
  // copies every closure it wraps, one allocation each, for every event.
  auto self = std::static_pointer_cast<const FValueEventRegistration>(shared_from_this());
  FEventRaiser::handOff(queue, [self = std::move(self), snapshot = data->snapshot()] { self->callback_(snapshot); });
}

std::shared_ptr<const FCancelEvent> FValueEventRegistration::createCancelEventFromError(const NSErrorRef& error,
                                                                                        const FPathRef& path) const {
  if (!cancelCallback_) return nullptr;
  return std::make_shared<const FCancelEvent>(shared_from_this(), error, path);
}

bool FValueEventRegistration::matches(const FEventRegistration& other) const {
  return handle_ == kFEventRegistrationAllHandles || other.handle() == kFEventRegistrationAllHandles ||
         handle_ == other.handle();
}
