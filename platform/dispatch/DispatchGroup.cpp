#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSLog.h"

struct DispatchGroup::State {
  std::mutex mutex;
  std::condition_variable cv;
  long count = 0;
  std::vector<std::pair<DispatchQueueRef, DispatchBlock>> notifications;
};

std::shared_ptr<DispatchGroup> DispatchGroup::create() {
  std::shared_ptr<DispatchGroup> group(new DispatchGroup());
  group->state_ = std::make_shared<State>();
  return group;
}

void DispatchGroup::enter() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  ++state_->count;
}

void DispatchGroup::leave() {
  std::vector<std::pair<DispatchQueueRef, DispatchBlock>> ready;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->count == 0) {
      NSLog("DispatchGroup: leave without a matching enter; ignored");
      return;
    }
    if (--state_->count > 0) return;
    ready.swap(state_->notifications);
    // Before the unlock: a waiter that sees the group empty may destroy it at once.
    state_->cv.notify_all();
  }
  for (auto& [queue, block] : ready) queue->async(std::move(block));
}

void DispatchGroup::async(const DispatchQueueRef& queue, DispatchBlock block) {
  if (!queue) {
    NSLog("DispatchGroup: async onto a null queue; ignored");
    return;
  }
  enter();
  queue->async([self = shared_from_this(), block = std::move(block)] {
    // Leaves even when the block throws (the queue logs the exception).
    struct Leave {
      DispatchGroup* group;
      ~Leave() { group->leave(); }
    } leave{self.get()};
    if (block) block();
  });
}

void DispatchGroup::notify(const DispatchQueueRef& queue, DispatchBlock block) {
  if (!queue) {
    NSLog("DispatchGroup: notify onto a null queue; ignored");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->count > 0) {
      state_->notifications.emplace_back(queue, std::move(block));
      return;
    }
  }
  queue->async(std::move(block));
}

bool DispatchGroup::wait(double timeoutSeconds) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  auto empty = [&] { return state_->count == 0; };
  if (timeoutSeconds < 0) {
    state_->cv.wait(lock, empty);
    return true;
  }
  using namespace std::chrono;
  const double seconds = timeoutSeconds > 86400.0 ? 86400.0 : (timeoutSeconds >= 0 ? timeoutSeconds : 0.0);
  return state_->cv.wait_until(
      lock, steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(seconds)), empty);
}
