#pragma once
// Keeps at most one operation of a kind in flight: callers that arrive while it runs share its
// promise; once it settles the next caller starts a new one.
#include <functional>
#include <mutex>

#include "platform/foundation/NSException.h"
#include "sdk/promises/ZEZPromise.h"

template <class T>
class RARUruzariduzuraSingleOperationPromiseCache
    : public std::enable_shared_from_this<RARUruzariduzuraSingleOperationPromiseCache<T>> {
 public:
  using Handler = std::function<ZEZPromiseRef<T>()>;

  explicit RARUruzariduzuraSingleOperationPromiseCache(Handler newOperationHandler)
      : newOperationHandler_(std::move(newOperationHandler)) {
    if (!newOperationHandler_)
      NSException::raise(NSInvalidArgumentException, "`newOperationHandler` must not be `nil`.");
  }

  ZEZPromiseRef<T> getExistingPendingOrCreateNewPromise() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!pendingPromise_) {
      pendingPromise_ = newOperationHandler_();
      if (!pendingPromise_) return nullptr;
      std::weak_ptr<RARUruzariduzuraSingleOperationPromiseCache> weak = this->shared_from_this();
      ZEZPromiseRef<T> started = pendingPromise_;
      auto clear = [weak, started] {
        if (auto self = weak.lock()) {
          std::lock_guard<std::recursive_mutex> lock(self->mutex_);
          if (self->pendingPromise_ == started) self->pendingPromise_ = nullptr;
        }
      };
      pendingPromise_->observeOnQueue(
          ZEZPromiseDefaultQueue(), [clear](const T&) { clear(); },
          [clear](const NSErrorRef&) { clear(); });
    }
    return pendingPromise_;
  }

  ZEZPromiseRef<T> getExistingPendingPromise() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return pendingPromise_;
  }

 private:
  Handler newOperationHandler_;
  // Recursive: a handler may settle synchronously and a caller may ask again from within.
  std::recursive_mutex mutex_;
  ZEZPromiseRef<T> pendingPromise_;
};
