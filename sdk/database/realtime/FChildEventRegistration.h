#pragma once
// A listener for child events (added, removed, changed, moved) of a query, with one callback per
// event type it wants and an optional cancel callback. The repository is held weakly: the
// repository owns the views that own registrations.
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "sdk/database/core/FEventRegistration.h"
#include "sdk/database/realtime/ZIRDataSnapshot.h"

class FRepo;

using FChildEventCallback = std::function<void(const ZIRDataSnapshotRef&, const std::optional<std::string>& prevKey)>;
using FChildEventCallbacks = std::map<FEventType, FChildEventCallback>;
using FCancelEventCallback = std::function<void(const NSErrorRef&)>;

class FChildEventRegistration : public FEventRegistration {
 public:
  // initWithRepo:handle:callbacks:cancelCallback:; no callbacks map means no events at all.
  FChildEventRegistration(const std::shared_ptr<FRepo>& repo, uint64_t handle,
                          std::optional<FChildEventCallbacks> callbacks, FCancelEventCallback cancelCallback);

  const std::optional<FChildEventCallbacks>& callbacks() const { return callbacks_; }
  const FCancelEventCallback& cancelCallback() const { return cancelCallback_; }
  std::shared_ptr<FRepo> repo() const { return repo_.lock(); }

  bool responseTo(FEventType eventType) const override;
  // A data event for the child at the query's path extended by the change's key.
  FEventRef createEventFrom(const FChange& change, const FQuerySpecRef& query) const override;
  void fireEvent(const FEventRef& event, const DispatchQueueRef& queue) const override;
  std::shared_ptr<const FCancelEvent> createCancelEventFromError(const NSErrorRef& error,
                                                                 const FPathRef& path) const override;
  bool matches(const FEventRegistration& other) const override;
  uint64_t handle() const override { return handle_; }

 private:
  std::optional<FChildEventCallbacks> callbacks_;
  FCancelEventCallback cancelCallback_;
  uint64_t handle_;
  std::weak_ptr<FRepo> repo_;
};
