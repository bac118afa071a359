#include "sdk/database/realtime/FDataEvent.h"

#include "platform/foundation/NSString.h"

FDataEvent::FDataEvent(FEventType eventType, FEventRegistrationRef eventRegistration, ZIRDataSnapshotRef snapshot,
                       std::optional<std::string> prevName)
    : eventType_(eventType),
      eventRegistration_(std::move(eventRegistration)),
      snapshot_(std::move(snapshot)),
      prevName_(std::move(prevName)) {}

FPathRef FDataEvent::path() const {
  const FPathRef& own = snapshot_->ref()->path();
  if (eventType_ == FEventTypeValue) return own;
  FPathRef parent = own->parent();
  return parent ? parent : own;
}

void FDataEvent::fireEventOnQueue(const DispatchQueueRef& queue) const {
  eventRegistration_->fireEvent(shared_from_this(), queue);
}

std::string FDataEvent::description() const {
  return ns::format("event %d, data: %s", static_cast<int>(eventType_), value::toJSON(snapshot_->value()).c_str());
}
