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

  // On the work queue: lets go of the events the callback queue has delivered.
  void releaseDelivered() const;

 private:
  // An event fired on the work queue, held there until the callback queue has delivered it.
  struct HeldEvent {
    explicit HeldEvent(std::shared_ptr<const FDataEvent> e) : event(std::move(e)) {}
    std::shared_ptr<const FDataEvent> event;
    std::atomic<bool> delivered{false};  // set by the callback queue, last of all it does here
  };

  // On the callback queue, after a held event's callback: marks it delivered.
  void delivered(HeldEvent& held) const;

  FValueEventCallback callback_;
  FCancelEventCallback cancelCallback_;
  uint64_t handle_;
  std::weak_ptr<FRepo> repo_;

  // Each version of the data a value event carries is made on the work queue, and once its event
  // is delivered and a newer version replaced it, nothing holds it any more. Dropped on the
  // callback queue, the event would be released there: its snapshot, the snapshot's reference and
  // that version's nodes, every reference count of which was just written by the work queue (the
  // newer versions share all but one path with it, the reference shares the repository and the
  // path with every other), so each one moves a cache line from one core to the other and back,
  // and their blocks return to the work queue's allocator through the other thread. The work
  // queue holds every event it fires on its own thread until the event is delivered, and lets it
  // go there: the callback queue only reads it and marks it delivered. A held event keeps the
  // registration (and so this list) alive until it is let go; an entry is let go only once marked, in order, so
  // that a callback queue that runs blocks side by side never meets an entry let go under it.
  // held_ and heldCount_ are the work queue's alone; an entry does not move while it is held.
  mutable std::deque<HeldEvent> held_;
  mutable uint64_t heldCount_ = 0;  // events held so far, for the stride of releaseDelivered
};
