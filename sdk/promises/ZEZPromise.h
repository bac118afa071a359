#pragma once
// Promises of the SDK's asynchronous flows. A promise is pending, then fulfilled with a value of
// type T or rejected with an NSError, once; later attempts to settle it are ignored. Every
// operation returns a new promise; callbacks run on the queue given, else on the default queue
// (the main queue, served by the main run loop).
//
// A callback that continues a chain returns a ZEZResult<U>: a value (fulfils), an error (rejects)
// or another promise of U (followed). A plain U, an NSErrorRef wrapped in ZEZResult<U>, or a
// ZEZPromiseRef<U> can all be returned directly.
//
// A block that throws (work, continuation, recovery, observer of a rejection, validation, retry
// condition) rejects the promise it was to settle with ZEZPromiseErrorWithCurrentException(): a
// promise never stays pending because its work failed in an unforeseen way.
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSError.h"

inline constexpr const char* ZEZPromiseErrorDomain = "com.deruru.ZEZPromises.Error";
inline constexpr int64_t ZEZPromiseErrorCodeTimedOut = 1;
inline constexpr int64_t ZEZPromiseErrorCodeValidationFailure = 2;
inline constexpr int64_t ZEZPromiseErrorCodeException = 3;

// The value of a promise that carries nothing but its success.
struct NSNull {};

// The queue that callbacks given without a queue run on: the main queue.
DispatchQueueRef ZEZPromiseDefaultQueue();

// The queue itself, or the default queue for a null one.
inline DispatchQueueRef ZEZPromiseQueueOrDefault(const DispatchQueueRef& queue) {
  return queue ? queue : ZEZPromiseDefaultQueue();
}

// The error that rejects a promise whose validation predicate answered NO.
NSErrorRef ZEZPromiseValidationError();
// Substituted when a caller rejects with a null error, so that a rejection always has an error.
NSErrorRef ZEZPromiseMissingError();
// Inside a catch block: the exception in flight as an error of code ZEZPromiseErrorCodeException
// whose description carries the exception's text (an NSException's name and reason). Logged.
NSErrorRef ZEZPromiseErrorWithCurrentException();

template <class T>
class ZEZPromise;
template <class T>
using ZEZPromiseRef = std::shared_ptr<ZEZPromise<T>>;

// What a continuation hands back: exactly one of a value, an error or a promise to follow.
template <class T>
class ZEZResult {
 public:
  ZEZResult(T value) : content_(std::in_place_index<kValue>, std::move(value)) {}
  ZEZResult(NSErrorRef error)
      : content_(std::in_place_index<kError>, error ? std::move(error) : ZEZPromiseMissingError()) {}
  // A null promise is a missing error: there is nothing to follow.
  ZEZResult(ZEZPromiseRef<T> promise)
      : content_(promise ? Content(std::in_place_index<kPromise>, std::move(promise))
                         : Content(std::in_place_index<kError>, ZEZPromiseMissingError())) {}

  bool isError() const { return content_.index() == kError; }
  bool isPromise() const { return content_.index() == kPromise; }
  // Each accessor is for the kind its predicate confirmed; value() for a result that is neither.
  const T& value() const { return std::get<kValue>(content_); }
  const NSErrorRef& error() const { return std::get<kError>(content_); }
  const ZEZPromiseRef<T>& promise() const { return std::get<kPromise>(content_); }

 private:
  static constexpr size_t kValue = 0, kError = 1, kPromise = 2;
  using Content = std::variant<T, NSErrorRef, ZEZPromiseRef<T>>;
  Content content_;
};

namespace zez_detail {
// The value type a continuation's return type stands for.
template <class R>
struct ResultValue {
  using type = R;
};
template <class U>
struct ResultValue<ZEZResult<U>> {
  using type = U;
};
template <class U>
struct ResultValue<std::shared_ptr<ZEZPromise<U>>> {
  using type = U;
};
template <>
struct ResultValue<void> {
  using type = NSNull;
};
}  // namespace zez_detail

template <class T>
class ZEZPromise : public std::enable_shared_from_this<ZEZPromise<T>> {
 public:
  using Ref = ZEZPromiseRef<T>;
  using FulfillBlock = std::function<void(T value)>;
  using RejectBlock = std::function<void(NSErrorRef error)>;
  using WorkBlock = std::function<ZEZResult<T>()>;

  // +pendingPromise
  static Ref pendingPromise() { return Ref(new ZEZPromise()); }
  // +resolvedWith: a settled promise: rejected for an error, following a promise, else fulfilled.
  static Ref resolvedWith(ZEZResult<T> result) {
    Ref p = pendingPromise();
    p->settleWith(std::move(result));
    return p;
  }

  // fulfill: / reject: — the first settlement wins.
  void fulfill(T value) {
    settle([&] { value_.emplace(std::move(value)); });
  }
  void reject(NSErrorRef error) {
    if (!error) error = ZEZPromiseMissingError();
    settle([&] { error_ = std::move(error); });
  }

  bool isPending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !settled_;
  }
  bool isFulfilled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settled_ && !error_;
  }
  bool isRejected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settled_ && error_ != nullptr;
  }
  std::optional<T> value() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value_;
  }
  NSErrorRef error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }

  // +do: / +onQueue:do:
  static Ref do_(WorkBlock work) { return onQueueDo(ZEZPromiseDefaultQueue(), std::move(work)); }
  static Ref onQueueDo(const DispatchQueueRef& queue, WorkBlock work) {
    if (!work) return resolvedWith(ZEZPromiseMissingError());
    Ref p = pendingPromise();
    ZEZPromiseQueueOrDefault(queue)->async([p, work = std::move(work)] {
      guarded([&] { p->settleWith(work()); }, p);
    });
    return p;
  }

  // +async: / +onQueue:async: — the work settles the promise through whichever block it calls.
  static Ref async(std::function<void(FulfillBlock, RejectBlock)> work) {
    return onQueueAsync(ZEZPromiseDefaultQueue(), std::move(work));
  }
  static Ref onQueueAsync(const DispatchQueueRef& queue,
                          std::function<void(FulfillBlock, RejectBlock)> work) {
    if (!work) return resolvedWith(ZEZPromiseMissingError());
    Ref p = pendingPromise();
    ZEZPromiseQueueOrDefault(queue)->async([p, work = std::move(work)] {
      guarded(
          [&] {
            work([p](T value) { p->fulfill(std::move(value)); },
                 [p](NSErrorRef error) { p->reject(std::move(error)); });
          },
          p);
    });
    return p;
  }

  // then: / onQueue:then: — F takes the value and returns U, ZEZResult<U>, ZEZPromiseRef<U> or void.
  template <class F>
  auto then(F&& f) {
    return onQueueThen(ZEZPromiseDefaultQueue(), std::forward<F>(f));
  }
  template <class F>
  auto onQueueThen(const DispatchQueueRef& queue, F&& f) {
    using R = std::invoke_result_t<F&, const T&>;
    using U = typename zez_detail::ResultValue<R>::type;
    auto next = ZEZPromise<U>::pendingPromise();
    observeOnQueue(
        queue,
        [next, f = std::forward<F>(f)](const T& value) mutable {
          ZEZPromise<U>::guarded(
              [&] {
                if constexpr (std::is_void_v<R>) {
                  f(value);
                  next->fulfill(NSNull{});
                } else {
                  next->settleWith(ZEZResult<U>(f(value)));
                }
              },
              next);
        },
        [next](const NSErrorRef& error) { next->reject(error); });
    return next;
  }

  // catch: — observes a rejection; the returned promise settles as this one did.
  Ref catch_(std::function<void(const NSErrorRef&)> f) {
    return onQueueCatch(ZEZPromiseDefaultQueue(), std::move(f));
  }
  Ref onQueueCatch(const DispatchQueueRef& queue, std::function<void(const NSErrorRef&)> f) {
    Ref next = pendingPromise();
    observeOnQueue(
        queue, [next](const T& value) { next->fulfill(value); },
        [next, f = std::move(f)](const NSErrorRef& error) {
          guarded(
              [&] {
                f(error);
                next->reject(error);
              },
              next);
        });
    return next;
  }

  // recover: — turns a rejection into a value, an error or a promise.
  Ref recover(std::function<ZEZResult<T>(const NSErrorRef&)> f) {
    return onQueueRecover(ZEZPromiseDefaultQueue(), std::move(f));
  }
  Ref onQueueRecover(const DispatchQueueRef& queue,
                     std::function<ZEZResult<T>(const NSErrorRef&)> f) {
    Ref next = pendingPromise();
    observeOnQueue(
        queue, [next](const T& value) { next->fulfill(value); },
        [next, f = std::move(f)](const NSErrorRef& error) {
          guarded([&] { next->settleWith(f(error)); }, next);
        });
    return next;
  }

  // validate: — rejects with the validation error when the predicate answers NO.
  Ref validate(std::function<bool(const T&)> predicate) {
    return onQueueValidate(ZEZPromiseDefaultQueue(), std::move(predicate));
  }
  Ref onQueueValidate(const DispatchQueueRef& queue, std::function<bool(const T&)> predicate) {
    Ref next = pendingPromise();
    observeOnQueue(
        queue,
        [next, predicate = std::move(predicate)](const T& value) {
          guarded(
              [&] {
                if (predicate(value)) {
                  next->fulfill(value);
                } else {
                  next->reject(ZEZPromiseValidationError());
                }
              },
              next);
        },
        [next](const NSErrorRef& error) { next->reject(error); });
    return next;
  }

  // +all: — the values in the order of the promises once all fulfil; the first error otherwise.
  // An empty list fulfils at once with an empty list.
  static ZEZPromiseRef<std::vector<T>> all(const std::vector<Ref>& promises) {
    return onQueueAll(ZEZPromiseDefaultQueue(), promises);
  }
  static ZEZPromiseRef<std::vector<T>> onQueueAll(const DispatchQueueRef& queue,
                                                  const std::vector<Ref>& promises) {
    auto result = ZEZPromise<std::vector<T>>::pendingPromise();
    if (promises.empty()) {
      result->fulfill({});
      return result;
    }
    struct Gather {
      std::mutex mutex;
      std::vector<std::optional<T>> values;
      size_t remaining;
    };
    auto gather = std::make_shared<Gather>();
    gather->values.resize(promises.size());
    gather->remaining = promises.size();
    for (size_t i = 0; i < promises.size(); ++i) {
      if (!promises[i]) {
        result->reject(ZEZPromiseMissingError());
        return result;
      }
    }
    for (size_t i = 0; i < promises.size(); ++i) {
      promises[i]->observeOnQueue(
          queue,
          [gather, result, i](const T& value) {
            std::vector<T> done;
            {
              std::lock_guard<std::mutex> lock(gather->mutex);
              gather->values[i] = value;
              if (--gather->remaining != 0) return;
              done.reserve(gather->values.size());
              for (auto& v : gather->values) done.push_back(std::move(*v));
            }
            result->fulfill(std::move(done));
          },
          [result](const NSErrorRef& error) { result->reject(error); });
    }
    return result;
  }

  // +attempts:delay:condition:retry: — runs the work; on an error, while retries remain (count
  // further attempts after the first) and the condition (remaining attempts, error) holds, waits
  // `delay` seconds on the platform clock and runs it again; otherwise rejects with the error.
  // A null condition always allows a retry.
  using RetryCondition = std::function<bool(int64_t remainingAttempts, const NSErrorRef& error)>;
  static Ref attempts(int64_t count, double delay, RetryCondition condition, WorkBlock work) {
    return onQueueAttempts(ZEZPromiseDefaultQueue(), count, delay, std::move(condition),
                           std::move(work));
  }
  static Ref onQueueAttempts(const DispatchQueueRef& queue, int64_t count, double delay,
                             RetryCondition condition, WorkBlock work) {
    if (!work) return resolvedWith(ZEZPromiseMissingError());
    Ref p = pendingPromise();
    auto shared = std::make_shared<RetryState>(RetryState{
        ZEZPromiseQueueOrDefault(queue), delay, std::move(condition), std::move(work)});
    shared->queue->async([p, shared, count] { retryAttempt(p, shared, count); });
    return p;
  }

  // Runs the blocks on the queue once the promise settles (at once, queued, when it already has).
  void observeOnQueue(const DispatchQueueRef& queue, std::function<void(const T&)> onFulfill,
                      std::function<void(const NSErrorRef&)> onReject) {
    observe([queue = ZEZPromiseQueueOrDefault(queue), onFulfill = std::move(onFulfill),
             onReject = std::move(onReject)](const Ref& settled) {
      queue->async([settled, onFulfill, onReject] {
        // A settled promise never changes again, so its fields are read without the lock.
        if (settled->error_) {
          if (onReject) onReject(settled->error_);
        } else {
          if (onFulfill) onFulfill(*settled->value_);
        }
      });
    });
  }

  // Settles this promise from a continuation's result: a promise is followed without a hop.
  void settleWith(ZEZResult<T> result) {
    if (result.isPromise()) {
      Ref self = this->shared_from_this();
      const Ref& other = result.promise();
      if (other.get() == this) {
        // Following itself would never settle.
        reject(ZEZPromiseMissingError());
        return;
      }
      other->observe([self](const Ref& settled) {
        if (settled->error_) {
          self->reject(settled->error_);
        } else {
          self->fulfill(*settled->value_);
        }
      });
    } else if (result.isError()) {
      reject(result.error());
    } else {
      fulfill(result.value());
    }
  }

 private:
  ZEZPromise() = default;

  struct RetryState {
    DispatchQueueRef queue;
    double delay;
    RetryCondition condition;
    WorkBlock work;
  };

  static void retryAttempt(const Ref& p, const std::shared_ptr<RetryState>& state, int64_t count) {
    auto onError = [p, state, count](const NSErrorRef& error) {
      guarded(
          [&] {
            if (count <= 0 || (state->condition && !state->condition(count, error))) {
              p->reject(error);
              return;
            }
            state->queue->after(state->delay, [p, state, count] { retryAttempt(p, state, count - 1); });
          },
          p);
    };
    // Work that throws failed this attempt like work that returned an error.
    std::optional<ZEZResult<T>> attempt;
    try {
      attempt.emplace(state->work());
    } catch (...) {
      attempt.emplace(ZEZPromiseErrorWithCurrentException());
    }
    ZEZResult<T>& result = *attempt;
    if (result.isPromise()) {
      result.promise()->observeOnQueue(
          state->queue, [p](const T& value) { p->fulfill(value); }, onError);
    } else if (result.isError()) {
      onError(result.error());
    } else {
      p->fulfill(result.value());
    }
  }

  // Runs a block that is to settle `p`; whatever it throws rejects `p` (a no-op once settled).
  template <class F>
  static void guarded(F&& block, const Ref& p) {
    try {
      block();
    } catch (...) {
      p->reject(ZEZPromiseErrorWithCurrentException());
    }
  }

  // Calls the observer (on the settling thread) once the promise is settled.
  void observe(std::function<void(const Ref&)> observer) {
    Ref self = this->shared_from_this();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!settled_) {
        observers_.push_back(std::move(observer));
        return;
      }
    }
    observer(self);
  }

  // Stores the outcome (the block sets the value or the error, under the lock) unless the promise
  // is already settled, then tells the observers.
  template <class StoreOutcome>
  void settle(StoreOutcome&& storeOutcome) {
    std::vector<std::function<void(const Ref&)>> observers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (settled_) return;
      storeOutcome();
      settled_ = true;
      observers.swap(observers_);
    }
    if (observers.empty()) return;
    Ref self = this->shared_from_this();
    for (auto& o : observers) o(self);
  }

  template <class U>
  friend class ZEZPromise;

  mutable std::mutex mutex_;
  bool settled_ = false;
  std::optional<T> value_;
  NSErrorRef error_;
  std::vector<std::function<void(const Ref&)>> observers_;
};

// +all: for two promises of different types: a promise of both values.
template <class A, class B>
ZEZPromiseRef<std::tuple<A, B>> ZEZPromiseAll(const ZEZPromiseRef<A>& a, const ZEZPromiseRef<B>& b,
                                              DispatchQueueRef queue = nullptr) {
  if (!queue) queue = ZEZPromiseDefaultQueue();
  auto result = ZEZPromise<std::tuple<A, B>>::pendingPromise();
  if (!a || !b) {
    result->reject(ZEZPromiseMissingError());
    return result;
  }
  a->observeOnQueue(
      queue,
      [result, b, queue](const A& va) {
        b->observeOnQueue(
            queue, [result, va](const B& vb) { result->fulfill(std::make_tuple(va, vb)); },
            [result](const NSErrorRef& e) { result->reject(e); });
      },
      [result](const NSErrorRef& e) { result->reject(e); });
  // B's rejection must win even while A is still pending.
  b->observeOnQueue(queue, nullptr, [result](const NSErrorRef& e) { result->reject(e); });
  return result;
}
