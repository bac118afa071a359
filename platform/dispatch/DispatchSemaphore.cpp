#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/dispatch/Dispatch.h"

struct DispatchSemaphore::State {
  std::mutex mutex;
  std::condition_variable cv;
  long value = 0;
};

DispatchSemaphore::DispatchSemaphore(long value) : state_(std::make_unique<State>()) {
  state_->value = value;
}

DispatchSemaphore::~DispatchSemaphore() = default;

void DispatchSemaphore::signal() {
  // Notified before the lock is let go: a waiter that sees the count may return and destroy the
  // semaphore at once, so nothing of it may be touched after the unlock.
  std::lock_guard<std::mutex> lock(state_->mutex);
  ++state_->value;
  state_->cv.notify_one();
}

bool DispatchSemaphore::wait(double timeoutSeconds) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  auto ready = [&] { return state_->value > 0; };
  if (timeoutSeconds < 0) {
    state_->cv.wait(lock, ready);
  } else {
    using namespace std::chrono;
    // Cut to a day so the deadline cannot overflow; NaN is treated as no wait.
    const double seconds = timeoutSeconds > 86400.0 ? 86400.0 : (timeoutSeconds >= 0 ? timeoutSeconds : 0.0);
    const auto deadline = steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(seconds));
    if (!state_->cv.wait_until(lock, deadline, ready)) return false;
  }
  --state_->value;
  return true;
}
