#pragma once
// The invisible listener that keeps a query synchronised without ever producing an event. One
// shared instance for the process; it matches only itself, so removing user listeners by the
// wildcard handle never takes it.
#include "sdk/database/core/FEventRegistration.h"

class FKeepSyncedEventRegistration : public FEventRegistration {
 public:
  static const std::shared_ptr<const FKeepSyncedEventRegistration>& instance();

  bool responseTo(FEventType) const override { return false; }
  // Both raise NSInternalInconsistencyException: the registration takes no change.
  FEventRef createEventFrom(const FChange& change, const FQuerySpecRef& query) const override;
  void fireEvent(const FEventRef& event, const DispatchQueueRef& queue) const override;
  std::shared_ptr<const FCancelEvent> createCancelEventFromError(const NSErrorRef&, const FPathRef&) const override {
    return nullptr;
  }
  bool matches(const FEventRegistration& other) const override { return this == &other; }
  uint64_t handle() const override { return kFKeepSyncedHandle; }
};
