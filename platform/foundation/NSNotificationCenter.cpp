#include "platform/foundation/NSNotificationCenter.h"

#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/NSLog.h"

namespace {

// One observation. Calls into the block are counted per thread so that removal can wait for
// calls running on other threads (after remove() returns the block is never entered again) while
// a block may still remove its own observation without waiting for itself.
struct Observer {
  std::string name;
  const void* object = nullptr;
  std::shared_ptr<AsyncQueue> queue;
  std::function<void(const NSNotification&)> block;

  std::mutex mutex;
  std::condition_variable idle;
  bool removed = false;
  std::map<std::thread::id, int> running;

  void deliver(const NSNotification& note) {
    const auto self = std::this_thread::get_id();
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (removed) return;
      ++running[self];
    }
    try {
      block(note);
    } catch (const std::exception& e) {
      NSLog("An observer of %s threw: %s", note.name.c_str(), e.what());
    } catch (...) {
      NSLog("An observer of %s threw an unknown exception", note.name.c_str());
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (--running[self] == 0) running.erase(self);
    }
    idle.notify_all();
  }

  void end() {
    const auto self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mutex);
    removed = true;
    idle.wait(lock, [&] {
      for (const auto& [thread, count] : running)
        if (thread != self && count > 0) return false;
      return true;
    });
  }
};

}  // namespace

struct NSNotificationCenter::State {
  std::mutex mutex;
  uint64_t nextId = 1;
  std::map<uint64_t, std::shared_ptr<Observer>> observers;

  void remove(uint64_t id) {
    std::shared_ptr<Observer> observer;
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto it = observers.find(id);
      if (it == observers.end()) return;
      observer = std::move(it->second);
      observers.erase(it);
    }
    observer->end();
  }
};

NSNotificationCenter::NSNotificationCenter() : state_(std::make_shared<State>()) {}

NSNotificationCenter::~NSNotificationCenter() {
  std::map<uint64_t, std::shared_ptr<Observer>> observers;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    observers.swap(state_->observers);
  }
  for (auto& [id, observer] : observers) observer->end();
}

NSNotificationCenter& NSNotificationCenter::defaultCenter() {
  // Never destroyed: observers and posts may still arrive from threads during process exit.
  static auto* center = new NSNotificationCenter();
  return *center;
}

NSObserverTokenRef NSNotificationCenter::addObserverForName(
    const std::string& name, const void* object, std::shared_ptr<AsyncQueue> queue,
    std::function<void(const NSNotification&)> block) {
  auto observer = std::make_shared<Observer>();
  observer->name = name;
  observer->object = object;
  observer->queue = std::move(queue);
  observer->block = std::move(block);
  NSObserverTokenRef token(new NSObserverToken());
  token->center_ = state_;
  std::lock_guard<std::mutex> lock(state_->mutex);
  token->id_ = state_->nextId++;
  if (observer->block) state_->observers.emplace(token->id_, std::move(observer));
  return token;
}

void NSNotificationCenter::removeObserver(const NSObserverTokenRef& token) {
  if (token) token->remove();
}

void NSNotificationCenter::postNotification(const NSNotification& notification) {
  std::vector<std::shared_ptr<Observer>> targets;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (const auto& [id, observer] : state_->observers) {
      if (!observer->name.empty() && observer->name != notification.name) continue;
      if (observer->object && observer->object != notification.object) continue;
      targets.push_back(observer);
    }
  }
  for (const auto& observer : targets) {
    if (observer->queue) {
      auto note = std::make_shared<const NSNotification>(notification);
      observer->queue->async([observer, note] { observer->deliver(*note); });
    } else {
      observer->deliver(notification);
    }
  }
}

void NSNotificationCenter::postNotificationName(const std::string& name, const void* object,
                                                Value userInfo) {
  NSNotification note;
  note.name = name;
  note.object = object;
  note.userInfo = std::move(userInfo);
  postNotification(note);
}

NSObserverToken::~NSObserverToken() { remove(); }

// The link to the center is only read, never cleared, so removal from two threads at once is
// safe; the center forgets an id once.
void NSObserverToken::remove() {
  if (auto center = center_.lock()) center->remove(id_);
}
