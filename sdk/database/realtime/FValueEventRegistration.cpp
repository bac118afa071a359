#include "sdk/database/realtime/FValueEventRegistration.h"

#include "sdk/database/core/FCancelEvent.h"
#include "sdk/database/core/FEventRaiser.h"
#include "sdk/database/core/FFLog.h"
#include "sdk/database/core/FNodeAllocator.h"
#include "sdk/database/core/FWorkQueue.h"
#include "sdk/database/realtime/FDataEvent.h"

FValueEventRegistration::FValueEventRegistration(const std::shared_ptr<FRepo>& repo, uint64_t handle,
                                                 FValueEventCallback callback, FCancelEventCallback cancelCallback)
    : callback_(std::move(callback)), cancelCallback_(std::move(cancelCallback)), handle_(handle), repo_(repo) {}

FEventRef FValueEventRegistration::createEventFrom(const FChange& change, const FQuerySpecRef& query) const {
  // The reference and the snapshot are let go on the callback queue: from the node allocator, their
  // blocks come back to this thread in chains instead of through the other thread's heap.
  auto ref = std::allocate_shared<const ZIRDatabaseReference>(FNodeAllocator<ZIRDatabaseReference>(), repo_.lock(),
                                                              query->path());
  auto snapshot =
      std::allocate_shared<const ZIRDataSnapshot>(FNodeAllocator<ZIRDataSnapshot>(), ref, change.indexedNode());
  return std::allocate_shared<const FDataEvent>(FNodeAllocator<FDataEvent>(), FEventTypeValue, shared_from_this(),
                                                snapshot);
}

namespace {

constexpr size_t kReleaseStride = 16;

const FValueEventRegistration& registrationOf(const FDataEvent& event) {
  return static_cast<const FValueEventRegistration&>(*event.eventRegistration());
}

}  // namespace

void FValueEventRegistration::fireEvent(const FEventRef& event, const DispatchQueueRef& queue) const {
  if (event->isCancelEvent()) {
    auto cancel = std::static_pointer_cast<const FCancelEvent>(event);
    FFLogDebug("I-RDB065001", "Raising cancel value event on %s", cancel->path()->toString().c_str());
    if (!cancelCallback_) return;
    FCancelEventCallback callback = cancelCallback_;
    FEventRaiser::handOff(queue, [callback, error = cancel->error()] { callback(error); });
    return;
  }
  if (!callback_) return;
  auto data = std::static_pointer_cast<const FDataEvent>(event);
  FFLogDebug("I-RDB065002", "Raising value event on %s", data->snapshot()->key().value_or("(null)").c_str());
  // The block holds the event alone (or, on the work queue, the registration and the held
  // event): the registration's callback is not copied (that copies every closure it wraps, one
  // allocation each).
  if (!FWorkQueue::isCurrent()) {
    FEventRaiser::handOff(queue, [data = std::move(data)] { registrationOf(*data).callback_(data->snapshot()); });
    return;
  }
  HeldEvent& held = held_.emplace_back(std::move(data));
  // The count of delivered events is written by the other thread: read once in a while only.
  if (++heldCount_ % kReleaseStride == 0) releaseDelivered();
  // The block holds the entry's address alone: the held event holds the registration until it is
  // delivered, and a pointer is kept in the block itself, where a reference count would be another
  // allocation and a count that both threads write.
  FEventRaiser::handOff(queue, [entry = &held] {
    const FValueEventRegistration& registration = registrationOf(*entry->event);
    // Marked even when the callback throws, or the work queue would hold this event for good.
    struct Delivery {
      const FValueEventRegistration& registration;
      HeldEvent& held;
      ~Delivery() { registration.delivered(held); }
    } delivery{registration, *entry};
    registration.callback_(entry->event->snapshot());
  });
}

namespace {

// The registrations whose held events this callback thread has delivered since it last told the
// work queue; told once the callback queue has nothing more to run right away.
thread_local std::vector<std::shared_ptr<const FValueEventRegistration>> tDelivered;

void tellWorkQueue() {
  std::vector<std::shared_ptr<const FValueEventRegistration>> registrations;
  registrations.swap(tDelivered);
  FWorkQueue::sharedQueue()->async([registrations = std::move(registrations)] {
    for (const auto& registration : registrations) registration->releaseDelivered();
  });
}

}  // namespace

void FValueEventRegistration::delivered(HeldEvent& held) const {
  // Without a later event of this registration the work queue would hold the event until the next
  // one: it is told when this queue runs out of callbacks (or at the end of this task on a queue
  // that cannot say). The list keeps the registration alive for that.
  bool tellNow = false;
  if (tDelivered.empty() || tDelivered.back().get() != this) {
    const bool first = tDelivered.empty();
    tDelivered.push_back(std::static_pointer_cast<const FValueEventRegistration>(shared_from_this()));
    tellNow = first && !DispatchQueue::deferWhileBusy(tellWorkQueue) &&
              !DispatchQueue::deferToEndOfCurrentTask(tellWorkQueue);
  }
  held.delivered.store(true, std::memory_order_release);  // the entry is not touched after this
  if (tellNow) tellWorkQueue();
}

void FValueEventRegistration::releaseDelivered() const {
  while (!held_.empty() && held_.front().delivered.load(std::memory_order_acquire)) held_.pop_front();
}

std::shared_ptr<const FCancelEvent> FValueEventRegistration::createCancelEventFromError(const NSErrorRef& error,
                                                                                        const FPathRef& path) const {
  if (!cancelCallback_) return nullptr;
  return std::make_shared<const FCancelEvent>(shared_from_this(), error, path);
}

bool FValueEventRegistration::matches(const FEventRegistration& other) const {
  return handle_ == kFEventRegistrationAllHandles || other.handle() == kFEventRegistrationAllHandles ||
         handle_ == other.handle();
}
