#pragma once
// A listener for the value of a query: one callback with the snapshot of the whole location, and
// an optional cancel callback. The repository is held weakly, as by child registrations.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>

#include "sdk/database/realtime/FChildEventRegistration.h"
#include "sdk/database/snapshot/FIndexedNode.h"

using FValueEventCallback = std::function<void(const ZIRDataSnapshotRef&)>;

class FDataEvent;

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

  // On the work queue: lets go of the data of the events the callback queue has delivered.
  void releaseDelivered() const;

 private:
  // On the callback queue, after a held event's callback: lets the event go and counts it.
  void delivered(std::shared_ptr<const FDataEvent>& event) const;

  FValueEventCallback callback_;
  FCancelEventCallback cancelCallback_;
  uint64_t handle_;
  std::weak_ptr<FRepo> repo_;

  // Each version of the data a value event carries is made on the work queue, and once its event
  // is delivered and a newer version replaced it, nothing holds it any more. Dropped on the
  // callback queue, that version's nodes would be released there: every reference count it drops
  // is on a node the work queue has just written (the newer versions share all but one path with
  // it), so each one moves a cache line from one core to the other and back. The work queue holds
  // the data of every event it fires on its own thread until the event is delivered, and lets it
  // go there: the callback queue only drops the snapshot's reference, never the last one.
  // held_ and heldFrom_ are the work queue's alone; delivered_ counts the held events whose
  // snapshot the callback queue has let go.
  mutable std::deque<FIndexedNodeRef> held_;
  mutable uint64_t heldFrom_ = 0;  // how many held events were let go before held_.front()
  mutable std::atomic<uint64_t> delivered_{0};
};
