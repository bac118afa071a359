#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSRunLoop.h"

namespace {

// The queue whose task this thread runs (innermost), and every queue this thread is inside of:
// the queues of the tasks it runs plus, for a task that arrived by sync, the queues its waiting
// caller was inside of. A sync onto any serial queue of that chain could never finish.
thread_local DispatchQueue* tCurrent = nullptr;
thread_local std::vector<const DispatchQueue*> tChain;
// The blocks deferred to the end of the innermost task this thread runs (null outside a task).
thread_local std::vector<DispatchBlock>* tDeferred = nullptr;

// The blocks a serial queue's worker holds until its queue has no task waiting right behind the
// one it ran (null on every other thread, and on a worker between tasks).
struct BusyDeferral {
  std::vector<DispatchBlock> blocks;
  std::chrono::steady_clock::time_point since;  // when the first of them was deferred
};
thread_local BusyDeferral* tBusy = nullptr;
// Held back at most this long, so that a queue that never runs dry still hands them on.
constexpr std::chrono::microseconds kBusyDeferralLimit{1000};

using Chain = std::vector<const DispatchQueue*>;

// The chain a sync caller blocks: the main thread always blocks the main queue.
Chain blockedChain() {
  Chain chain = tChain;
  if (NSRunLoop::isMainThread()) chain.push_back(DispatchQueue::main().get());
  return chain;
}

bool chainContains(const DispatchQueue* q) {
  if (std::find(tChain.begin(), tChain.end(), q) != tChain.end()) return true;
  return q == DispatchQueue::main().get() && NSRunLoop::isMainThread();
}

// Runs `body` with the thread's chain replaced by `chain`, then puts the old one back.
template <class F>
void withChain(Chain chain, F&& body) {
  if (chain.empty() && tChain.empty()) {
    // A task queued by async on a worker between tasks: the thread's own empty list serves, and
    // keeps its storage from one task to the next.
    body();
    return;
  }
  Chain saved = std::move(tChain);
  tChain = std::move(chain);
  body();
  tChain = std::move(saved);
}

// Lets a sync caller wait for its block.
struct Completion {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  void signal() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      done = true;
    }
    cv.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&] { return done; });
  }
};

void refuseSelfSync(const DispatchQueue& q) {
  NSLog("DispatchQueue %s: sync onto a queue the caller is running on was refused (it would deadlock)",
        q.label().c_str());
}

// ---------------------------------------------------------------------------------------------
// Serial queues: one worker thread each.

class SerialQueue final : public DispatchQueue {
 public:
  explicit SerialQueue(std::string label)
      : DispatchQueue(std::move(label), true), impl_(std::make_shared<Impl>()) {}

  ~SerialQueue() override {
    std::thread thread;
    {
      std::lock_guard<std::mutex> lock(impl_->mutex);
      impl_->stop = true;
      thread = std::move(impl_->thread);
    }
    impl_->cv.notify_all();
    if (!thread.joinable()) return;
    // Queued tasks hold the queue, so it can only end on its own worker (the last task let go of
    // it) or while the worker is idle. The worker owns the shared state and ends by itself.
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();
    } else {
      thread.join();
    }
  }

  bool isCurrent() const override { return chainContains(this); }

  void async(DispatchBlock block) override {
    enqueue(Item{std::move(block), shared_from_this(), {}, nullptr});
  }

  bool sync(DispatchBlock block) override {
    if (chainContains(this)) {
      refuseSelfSync(*this);
      return false;
    }
    auto done = std::make_shared<Completion>();
    enqueue(Item{std::move(block), shared_from_this(), blockedChain(), done});
    done->wait();
    return true;
  }

 private:
  struct Item {
    DispatchBlock block;
    DispatchQueueRef keep;  // a queue with work left is not destroyed
    Chain chain;            // the waiting caller's chain, for a sync
    std::shared_ptr<Completion> done;
  };
  struct Impl {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Item> items;
    bool stop = false;
    std::thread thread;
  };

  // Nothing of the queue is touched once the lock is let go: the worker may run the item at
  // once, and if it held the last reference the queue (and then its worker's state) is gone.
  void enqueue(Item item) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->items.push_back(std::move(item));
    if (!impl_->thread.joinable() && !impl_->stop) {
      impl_->thread = std::thread(&SerialQueue::work, impl_);
    }
    impl_->cv.notify_one();
  }

  static void work(std::shared_ptr<Impl> impl) {
    BusyDeferral busy;
    for (;;) {
      Item item;
      {
        std::unique_lock<std::mutex> lock(impl->mutex);
        impl->cv.wait(lock, [&] { return impl->stop || !impl->items.empty(); });
        if (impl->items.empty()) return;
        item = std::move(impl->items.front());
        impl->items.pop_front();
      }
      auto* queue = static_cast<SerialQueue*>(item.keep.get());
      tBusy = &busy;
      withChain(std::move(item.chain), [&] { queue->runTask(item.block); });
      tBusy = nullptr;
      if (!busy.blocks.empty()) {
        bool nextWaits = false;  // an async task is queued right behind this one
        if (!item.done) {
          std::lock_guard<std::mutex> lock(impl->mutex);
          nextWaits = !impl->items.empty() && !impl->items.front().done;
        }
        // A sync caller goes on only after them, and a sync task finds none held back when it
        // starts (the check above sees it queued next).
        if (!nextWaits || std::chrono::steady_clock::now() - busy.since >= kBusyDeferralLimit) {
          runBusyDeferred(*queue, busy);
        }
      }
      if (item.done) item.done->signal();
      item.block = nullptr;
      // May destroy the queue (on this thread): nothing of it is touched after this line.
      item.keep.reset();
    }
  }

  static void runBusyDeferred(SerialQueue& queue, BusyDeferral& busy) {
    // Taken out first; they run outside any task of the queue's run, so what one of them defers
    // runs at the end of its own block.
    std::vector<DispatchBlock> blocks;
    blocks.swap(busy.blocks);
    for (const DispatchBlock& block : blocks) queue.runTask(block);
  }

  std::shared_ptr<Impl> impl_;
};

// ---------------------------------------------------------------------------------------------
// The main queue: blocks run on the main thread from the main run loop.

class MainQueue final : public DispatchQueue {
 public:
  MainQueue() : DispatchQueue("main", true) {}

  bool isCurrent() const override { return NSRunLoop::isMainThread(); }

  void async(DispatchBlock block) override {
    NSRunLoop::main().performBlock([this, block = std::move(block)] { runOnMain(block); });
  }

  bool sync(DispatchBlock block) override {
    if (chainContains(this)) {
      refuseSelfSync(*this);
      return false;
    }
    auto done = std::make_shared<Completion>();
    NSRunLoop::main().performBlock([this, block = std::move(block), chain = blockedChain(), done] {
      withChain(chain, [&] { runOnMain(block); });
      done->signal();
    });
    done->wait();
    return true;
  }

  void runOnMain(const DispatchBlock& block) { runTask(block); }
};

// ---------------------------------------------------------------------------------------------
// Global concurrent queues: a small pool of threads per priority, started as work arrives.

class GlobalQueue final : public DispatchQueue {
 public:
  GlobalQueue(std::string label, size_t maxThreads)
      : DispatchQueue(std::move(label), false), maxThreads_(maxThreads) {}

  bool isCurrent() const override { return chainContains(this); }

  void async(DispatchBlock block) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      items_.push_back(std::move(block));
      // Idle threads that have not yet woken still count as idle: compare with the backlog.
      if (items_.size() > idle_ && threads_ < maxThreads_) {
        ++threads_;
        // The global queues live as long as the process; their threads are never joined.
        std::thread([this] { work(); }).detach();
      }
    }
    cv_.notify_one();
  }

  // A concurrent queue lets the caller run the block itself: no pool thread can be starved.
  bool sync(DispatchBlock block) override {
    runTask(block);
    return true;
  }

 private:
  void work() {
    for (;;) {
      DispatchBlock block;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ++idle_;
        cv_.wait(lock, [&] { return !items_.empty(); });
        --idle_;
        block = std::move(items_.front());
        items_.pop_front();
      }
      runTask(block);
    }
  }

  const size_t maxThreads_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<DispatchBlock> items_;
  size_t threads_ = 0;
  size_t idle_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Delayed blocks for queues other than the main one: one thread waits for the earliest deadline
// on the platform clock (a stepped clock wakes it through its listener).

class AfterTimer {
 public:
  static AfterTimer& shared() {
    static AfterTimer* timer = new AfterTimer();  // never destroyed: pending blocks may remain at exit
    return *timer;
  }

  void add(double deadline, DispatchQueueRef queue, DispatchBlock block) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending_.emplace(deadline, Entry{std::move(queue), std::move(block)});
      woken_ = true;
      if (!started_) {
        started_ = true;
        std::thread([this] { work(); }).detach();
      }
    }
    cv_.notify_all();
  }

 private:
  struct Entry {
    DispatchQueueRef queue;
    DispatchBlock block;
  };

  AfterTimer() {
    Clock::addListener([this] {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
      }
      cv_.notify_all();
    });
  }

  void work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      woken_ = false;
      std::vector<Entry> due;
      const double now = Clock::monotonic();
      while (!pending_.empty() && pending_.begin()->first <= now + 1e-9) {
        due.push_back(std::move(pending_.begin()->second));
        pending_.erase(pending_.begin());
      }
      if (!due.empty()) {
        lock.unlock();
        for (auto& e : due) e.queue->async(std::move(e.block));
        due.clear();
        lock.lock();
        continue;
      }
      if (pending_.empty() || Clock::isManual()) {
        cv_.wait(lock, [&] { return woken_; });
      } else {
        // Cut into hours so a far deadline cannot overflow the wait.
        const double wait = std::min(pending_.begin()->first - now, 3600.0);
        cv_.wait_for(lock, std::chrono::duration<double>(wait), [&] { return woken_; });
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::multimap<double, Entry> pending_;  // equal deadlines keep their order
  bool woken_ = false;
  bool started_ = false;
};

DispatchQueueRef makeGlobal(DispatchQoS qos) {
  const char* name = "global.default";
  switch (qos) {
    case DispatchQoS::Background: name = "global.background"; break;
    case DispatchQoS::Utility: name = "global.utility"; break;
    case DispatchQoS::Low: name = "global.low"; break;
    case DispatchQoS::Default: name = "global.default"; break;
    case DispatchQoS::UserInitiated: name = "global.user-initiated"; break;
    case DispatchQoS::High: name = "global.high"; break;
  }
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  return std::make_shared<GlobalQueue>(name, std::clamp<size_t>(cores, 2, 4));
}

}  // namespace

DispatchQueueRef DispatchQueue::serial(std::string label) {
  return std::make_shared<SerialQueue>(std::move(label));
}

DispatchQueueRef DispatchQueue::main() {
  static DispatchQueueRef* queue = new DispatchQueueRef(std::make_shared<MainQueue>());
  return *queue;
}

DispatchQueueRef DispatchQueue::global(DispatchQoS qos) {
  static std::mutex mutex;
  static auto* queues = new std::map<DispatchQoS, DispatchQueueRef>();
  std::lock_guard<std::mutex> lock(mutex);
  auto& q = (*queues)[qos];
  if (!q) q = makeGlobal(qos);
  return q;
}

DispatchQueueRef DispatchQueue::current() {
  if (tCurrent) return tCurrent->shared_from_this();
  if (NSRunLoop::isMainThread()) return main();
  return nullptr;
}

void DispatchQueue::after(double seconds, DispatchBlock block) {
  if (!(seconds > 0)) {  // zero, negative or NaN: at once
    async(std::move(block));
    return;
  }
  if (this == main().get()) {
    // Main-queue delays are run-loop timers, so stepping the main loop's clock fires them in turn.
    NSTimer::scheduledTimerWithTimeInterval(
        seconds, false, [this, block = std::move(block)](NSTimer&) { runTask(block); });
    return;
  }
  AfterTimer::shared().add(Clock::monotonic() + seconds, shared_from_this(), std::move(block));
}

namespace {

void runGuarded(const std::string& label, const DispatchBlock& block) {
  try {
    if (block) block();
  } catch (const NSException& e) {
    NSLog("DispatchQueue %s: a task threw %s: %s", label.c_str(), e.name().c_str(), e.reason().c_str());
  } catch (const std::exception& e) {
    NSLog("DispatchQueue %s: a task threw: %s", label.c_str(), e.what());
  } catch (...) {
    NSLog("DispatchQueue %s: a task threw an unknown exception", label.c_str());
  }
}

}  // namespace

void DispatchQueue::runTask(const DispatchBlock& block) {
  DispatchQueue* savedCurrent = tCurrent;
  std::vector<DispatchBlock>* savedDeferred = tDeferred;
  std::vector<DispatchBlock> deferred;
  tCurrent = this;
  tChain.push_back(this);
  tDeferred = &deferred;
  runGuarded(label_, block);
  // A deferred block may defer more: they join the end of the list.
  for (size_t i = 0; i < deferred.size(); ++i) {
    DispatchBlock next = std::move(deferred[i]);
    runGuarded(label_, next);
  }
  tDeferred = savedDeferred;
  tChain.pop_back();
  tCurrent = savedCurrent;
}

bool DispatchQueue::deferToEndOfCurrentTask(DispatchBlock block) {
  if (!tDeferred) return false;
  tDeferred->push_back(std::move(block));
  return true;
}

bool DispatchQueue::deferWhileBusy(DispatchBlock block) {
  if (!tBusy) return false;
  if (tBusy->blocks.empty()) tBusy->since = std::chrono::steady_clock::now();
  tBusy->blocks.push_back(std::move(block));
  return true;
}

void DispatchQueue::asyncBatch(std::vector<DispatchBlock> blocks) {
  if (blocks.empty()) return;
  if (!serial_) {
    for (DispatchBlock& block : blocks) async(std::move(block));
    return;
  }
  if (blocks.size() == 1) {
    async(std::move(blocks.front()));
    return;
  }
  // The task keeps the queue alive while it waits and runs (as every queued task does).
  async([this, blocks = std::move(blocks)] {
    for (const DispatchBlock& block : blocks) runTask(block);
  });
}
