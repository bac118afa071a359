#pragma once
// A small publish-subscribe utility: listeners observe named events of a fixed allowed set, get
// the event's initial value when they are added, and every later value the owner triggers.
// Listeners are added and removed on the database's work queue; triggerEventType is to be called
// there too. Blocks run asynchronously on the emitter's queue. A subclass supplies the initial
// value of each event.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Value.h"

struct FEventListener {
  std::function<void(const Value& data)> userCallback;
  uint64_t handle = 0;
};

class FEventEmitter : public std::enable_shared_from_this<FEventEmitter> {
 public:
  // Raises "AllowedEventsValidation" for an empty list of allowed events.
  FEventEmitter(std::vector<std::string> allowedEvents, DispatchQueueRef queue);
  virtual ~FEventEmitter() = default;

  // Raises "InvalidEventType" for an event that is not allowed. Every public operation checks.
  void validateEventType(const std::string& eventType) const;
  // Returns the new listener's handle at once; the listener is added on the work queue.
  uint64_t observeEventType(const std::string& eventType, std::function<void(const Value&)> block);
  // The handle 9223372036854775807 removes every listener of the event.
  void removeObserverForEventType(const std::string& eventType, uint64_t handle);
  void triggerEventType(const std::string& eventType, const Value& data);

  // The value a new listener gets first. The base raises NSInternalInconsistencyException.
  virtual Value getInitialEventForType(const std::string& eventType);

 protected:
  void addEventListener(const FEventListener& listener, const std::string& eventType);
  void removeEventListenerWithHandle(uint64_t handle, const std::string& eventType);
  void triggerListener(const FEventListener& listener, const Value& data) const;

 private:
  std::vector<std::string> allowedEvents_;
  std::map<std::string, std::vector<FEventListener>> listeners_;
  DispatchQueueRef queue_;
};
