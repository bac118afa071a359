#include "sdk/database/core/FEventEmitter.h"

#include <algorithm>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FEventRaiser.h"
#include "sdk/database/core/FEventRegistration.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/core/FWorkQueue.h"

FEventEmitter::FEventEmitter(std::vector<std::string> allowedEvents, DispatchQueueRef queue)
    : allowedEvents_(std::move(allowedEvents)), queue_(std::move(queue)) {
  if (allowedEvents_.empty()) {
    NSException::raise("AllowedEventsValidation", "FEventEmitters must be initialized with at least one valid event.");
  }
}

void FEventEmitter::validateEventType(const std::string& eventType) const {
  if (std::find(allowedEvents_.begin(), allowedEvents_.end(), eventType) != allowedEvents_.end()) return;
  Value list = Value::array();
  for (const std::string& allowed : allowedEvents_) list.push_back(allowed);
  NSException::raise("InvalidEventType", "%s is not a valid event type. %s is the list of valid events.",
                     eventType.c_str(), value::toJSON(list).c_str());
}

uint64_t FEventEmitter::observeEventType(const std::string& eventType, std::function<void(const Value&)> block) {
  validateEventType(eventType);
  FEventListener listener{std::move(block), FUtilities::LUIDGenerator()};
  auto self = shared_from_this();
  FWorkQueue::sharedQueue()->async([self, listener, eventType] { self->addEventListener(listener, eventType); });
  return listener.handle;
}

void FEventEmitter::removeObserverForEventType(const std::string& eventType, uint64_t handle) {
  validateEventType(eventType);
  auto self = shared_from_this();
  FWorkQueue::sharedQueue()->async(
      [self, handle, eventType] { self->removeEventListenerWithHandle(handle, eventType); });
}

void FEventEmitter::triggerEventType(const std::string& eventType, const Value& data) {
  validateEventType(eventType);
  auto found = listeners_.find(eventType);
  if (found == listeners_.end()) return;
  for (const FEventListener& listener : found->second) triggerListener(listener, data);
}

Value FEventEmitter::getInitialEventForType(const std::string&) {
  NSException::raise(NSInternalInconsistencyException, "You must override getInitialEvent: when subclassing FEventEmitter");
}

void FEventEmitter::addEventListener(const FEventListener& listener, const std::string& eventType) {
  validateEventType(eventType);
  listeners_[eventType].push_back(listener);
  triggerListener(listener, getInitialEventForType(eventType));
}

void FEventEmitter::removeEventListenerWithHandle(uint64_t handle, const std::string& eventType) {
  validateEventType(eventType);
  auto found = listeners_.find(eventType);
  if (found == listeners_.end()) return;
  std::erase_if(found->second, [handle](const FEventListener& listener) {
    return handle == kFEventRegistrationAllHandles || listener.handle == handle;
  });
}

void FEventEmitter::triggerListener(const FEventListener& listener, const Value& data) const {
  if (!listener.userCallback) return;
  auto callback = listener.userCallback;
  FEventRaiser::handOff(queue_, [callback, data] { callback(data); });
}
