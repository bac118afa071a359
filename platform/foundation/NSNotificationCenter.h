#pragma once
// Named notifications with an optional sender and user info. Observers are tokens: an observer
// stops receiving when its token is removed or destroyed.
#include <cstdint>
#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/foundation/AsyncQueue.h"
#include "platform/foundation/Value.h"

struct NSNotification {
  std::string name;
  const void* object = nullptr;        // the sender's identity (may be null)
  std::shared_ptr<const void> sender;  // the sender, kept alive for the delivery, when given
  Value userInfo;                      // a dictionary or null
  // Objects of the user info that are not plain values, by key: each a std::shared_ptr<T>.
  std::map<std::string, std::any> userObjects;

  // The object under `key` when it is a std::shared_ptr<T> (T exactly as it was stored); none when
  // the key is absent or holds something else.
  template <class T>
  std::shared_ptr<T> userObject(const std::string& key) const {
    auto it = userObjects.find(key);
    if (it == userObjects.end()) return nullptr;
    const auto* object = std::any_cast<std::shared_ptr<T>>(&it->second);
    return object ? *object : nullptr;
  }
};

class NSObserverToken;
using NSObserverTokenRef = std::shared_ptr<NSObserverToken>;

class NSNotificationCenter {
 public:
  static NSNotificationCenter& defaultCenter();
  NSNotificationCenter();
  ~NSNotificationCenter();
  NSNotificationCenter(const NSNotificationCenter&) = delete;
  NSNotificationCenter& operator=(const NSNotificationCenter&) = delete;

  // Observes `name` (empty: every name) from `object` (null: any sender). The block runs on the
  // posting thread, or asynchronously on `queue` when one is given (a dispatch queue, such as the
  // main queue). Keep the returned token: the observation ends when it is destroyed or passed to
  // removeObserver.
  [[nodiscard]] NSObserverTokenRef addObserverForName(
      const std::string& name, const void* object, std::shared_ptr<AsyncQueue> queue,
      std::function<void(const NSNotification&)> block);
  void removeObserver(const NSObserverTokenRef& token);

  void postNotification(const NSNotification& notification);
  void postNotificationName(const std::string& name, const void* object = nullptr,
                            Value userInfo = Value());

  struct State;

 private:
  std::shared_ptr<State> state_;
};

class NSObserverToken {
 public:
  ~NSObserverToken();
  void remove();

 private:
  friend class NSNotificationCenter;
  NSObserverToken() = default;
  uint64_t id_ = 0;
  std::weak_ptr<NSNotificationCenter::State> center_;
};
