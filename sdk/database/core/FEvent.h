#pragma once
// An event for one listener, made by the event generator on the work queue and raised by the
// event raiser: it hands itself to its registration, which schedules the user's callback on the
// callback queue. Immutable.
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "sdk/database/core/FPath.h"

class FEvent : public std::enable_shared_from_this<FEvent> {
 public:
  virtual ~FEvent() = default;
  // The listened-to location the event belongs to.
  virtual FPathRef path() const = 0;
  virtual void fireEventOnQueue(const DispatchQueueRef& queue) const = 0;
  virtual bool isCancelEvent() const = 0;
  virtual std::string description() const = 0;
};

using FEventRef = std::shared_ptr<const FEvent>;
using FEventList = std::vector<FEventRef>;
