#pragma once
// A listener for the value of a query: one callback with the snapshot of the whole location, and
// an optional cancel callback. The repository is held weakly, as by child registrations.
#include <functional>

#include "sdk/database/realtime/FChildEventRegistration.h"

using FValueEventCallback = std::function<void(const ZIRDataSnapshotRef&)>;

class FValueEventRegistration : public FEventRegistration {
 public:
  // initWithRepo:handle:callback:cancelCallback:
  FValueEventRegistration(const std::shared_ptr<FRepo>& repo, uint64_t handle, FValueEventCallback callback,
                          FCancelEventCallback cancelCallback);

  const FValueEventCallback& callback() const { return callback_; }
  const FCancelEventCallback& cancelCallback() const { return cancelCallback_; }
  std::shared_ptr<FRepo> repo() const { return repo_.lock(); }

  bool responseTo(FEventType eventType) const override { return eventType == FEventTypeValue; }
  // A value event for the query's own path.
  FEventRef createEventFrom(const FChange& change, const FQuerySpecRef& query) const override;
  void fireEvent(const FEventRef& event, const DispatchQueueRef& queue) const override;
  std::shared_ptr<const FCancelEvent> createCancelEventFromError(const NSErrorRef& error,
                                                                 const FPathRef& path) const override;
  bool matches(const FEventRegistration& other) const override;
  uint64_t handle() const override { return handle_; }

 private:
  FValueEventCallback callback_;
  FCancelEventCallback cancelCallback_;
  uint64_t handle_;
  std::weak_ptr<FRepo> repo_;
};
