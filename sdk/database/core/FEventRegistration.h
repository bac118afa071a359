#pragma once
// One listener that user code attached to a query: which event types it takes, how it turns a
// change into an event, how it delivers the event, and the handle by which it is removed. Views
// hold registrations; everything but fireEvent runs on the work queue.
#include <cstdint>
#include <memory>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSError.h"
#include "sdk/database/core/FChange.h"
#include "sdk/database/core/FEvent.h"
#include "sdk/database/core/FQueryParams.h"

class FCancelEvent;

// A registration with this handle matches every handle: it removes all user listeners of a query.
inline constexpr uint64_t kFEventRegistrationAllHandles = 9223372036854775807ULL;
// The keep-synced registration's handle, one below, so the wildcard never takes it.
inline constexpr uint64_t kFKeepSyncedHandle = 9223372036854775806ULL;

class FEventRegistration : public std::enable_shared_from_this<FEventRegistration> {
 public:
  virtual ~FEventRegistration() = default;
  virtual bool responseTo(FEventType eventType) const = 0;
  virtual FEventRef createEventFrom(const FChange& change, const FQuerySpecRef& query) const = 0;
  // Schedules the user's callback for the event on the queue; never calls it on this thread.
  virtual void fireEvent(const FEventRef& event, const DispatchQueueRef& queue) const = 0;
  // A cancel event carrying the error, or null when the registration has no cancel callback.
  virtual std::shared_ptr<const FCancelEvent> createCancelEventFromError(const NSErrorRef& error,
                                                                         const FPathRef& path) const = 0;
  virtual bool matches(const FEventRegistration& other) const = 0;
  virtual uint64_t handle() const = 0;
};

using FEventRegistrationRef = std::shared_ptr<const FEventRegistration>;
