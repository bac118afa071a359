#include "sdk/database/core/FCancelEvent.h"

FCancelEvent::FCancelEvent(FEventRegistrationRef eventRegistration, NSErrorRef error, FPathRef path)
    : eventRegistration_(std::move(eventRegistration)), error_(std::move(error)), path_(std::move(path)) {}

void FCancelEvent::fireEventOnQueue(const DispatchQueueRef& queue) const {
  eventRegistration_->fireEvent(shared_from_this(), queue);
}
