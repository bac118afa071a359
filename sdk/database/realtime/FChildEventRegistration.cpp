#include "sdk/database/realtime/FChildEventRegistration.h"

#include "sdk/database/core/FCancelEvent.h"
#include "sdk/database/core/FEventRaiser.h"
#include "sdk/database/core/FFLog.h"
#include "sdk/database/realtime/FDataEvent.h"

FChildEventRegistration::FChildEventRegistration(const std::shared_ptr<FRepo>& repo, uint64_t handle,
                                                 std::optional<FChildEventCallbacks> callbacks,
                                                 FCancelEventCallback cancelCallback)
    : callbacks_(std::move(callbacks)), cancelCallback_(std::move(cancelCallback)), handle_(handle), repo_(repo) {}

bool FChildEventRegistration::responseTo(FEventType eventType) const {
  if (!callbacks_) return false;
  auto found = callbacks_->find(eventType);
  return found != callbacks_->end() && found->second != nullptr;
}

FEventRef FChildEventRegistration::createEventFrom(const FChange& change, const FQuerySpecRef& query) const {
  auto ref = std::make_shared<const ZIRDatabaseReference>(repo_.lock(),
                                                          query->path()->childFromString(change.childKey().value_or("")));
  auto snapshot = std::make_shared<const ZIRDataSnapshot>(ref, change.indexedNode());
  return std::make_shared<const FDataEvent>(change.type(), shared_from_this(), snapshot, change.prevKey());
}

void FChildEventRegistration::fireEvent(const FEventRef& event, const DispatchQueueRef& queue) const {
  if (event->isCancelEvent()) {
    auto cancel = std::static_pointer_cast<const FCancelEvent>(event);
    FFLogDebug("I-RDB061001", "Raising cancel value event on %s", cancel->path()->toString().c_str());
    if (!cancelCallback_) return;
    FCancelEventCallback callback = cancelCallback_;
    FEventRaiser::handOff(queue, [callback, error = cancel->error()] { callback(error); });
    return;
  }
  if (!callbacks_) return;
  auto data = std::static_pointer_cast<const FDataEvent>(event);
  FFLogDebug("I-RDB061002", "Raising event callback (%ld) on %s", static_cast<long>(data->eventType()),
             data->path()->toString().c_str());
  auto found = callbacks_->find(data->eventType());
  if (found == callbacks_->end() || !found->second) return;
  // The block holds the registration and the event rather than a copy of the callback: copying
  // the callback copies every closure it wraps, one allocation each, for every event.
  auto self = std::static_pointer_cast<const FChildEventRegistration>(shared_from_this());
  FEventRaiser::handOff(queue, [self = std::move(self), data = std::move(data)] {
    self->callbacks_->find(data->eventType())->second(data->snapshot(), data->prevName());
  });
}

std::shared_ptr<const FCancelEvent> FChildEventRegistration::createCancelEventFromError(const NSErrorRef& error,
                                                                                        const FPathRef& path) const {
  if (!cancelCallback_) return nullptr;
  return std::make_shared<const FCancelEvent>(shared_from_this(), error, path);
}

bool FChildEventRegistration::matches(const FEventRegistration& other) const {
  return handle_ == kFEventRegistrationAllHandles || other.handle() == kFEventRegistrationAllHandles ||
         handle_ == other.handle();
}
