#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSNotificationCenter.h"

namespace {

// A queue that keeps its blocks until drain() runs them, so a test controls when delivery happens.
// It is foundation's own kind of queue, not a dispatch queue: the center needs nothing of the
// dispatch library (which is built on foundation).
class HeldQueue : public AsyncQueue {
 public:
  void async(std::function<void()> block) override {
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_.push_back(std::move(block));
  }
  size_t drain() {
    std::deque<std::function<void()>> run;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      run.swap(blocks_);
    }
    for (auto& b : run) b();
    return run.size();
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> blocks_;
};

}  // namespace

TEST(NotificationCenter, FiltersByNameAndSender) {
  NSNotificationCenter center;
  int senderA = 0, senderB = 0;
  int named = 0, fromA = 0, every = 0;
  Value lastInfo;
  auto t1 = center.addObserverForName("Changed", nullptr, nullptr, [&](const NSNotification& n) {
    ++named;
    lastInfo = n.userInfo;
  });
  auto t2 = center.addObserverForName("Changed", &senderA, nullptr, [&](const NSNotification&) { ++fromA; });
  auto t3 = center.addObserverForName("", nullptr, nullptr, [&](const NSNotification&) { ++every; });

  center.postNotificationName("Changed", &senderA, {{"k", 1}});
  center.postNotificationName("Changed", &senderB);
  center.postNotificationName("Other", &senderA);
  EXPECT_EQ(named, 2);
  EXPECT_EQ(fromA, 1);
  EXPECT_EQ(every, 3);
  EXPECT_TRUE(lastInfo.is_null());
}

TEST(NotificationCenter, AnObserverStopsOnceItsTokenIsGone) {
  NSNotificationCenter center;
  int calls = 0;
  auto token = center.addObserverForName("N", nullptr, nullptr, [&](const NSNotification&) { ++calls; });
  auto removed = center.addObserverForName("N", nullptr, nullptr, [&](const NSNotification&) { calls += 100; });
  center.postNotificationName("N");
  EXPECT_EQ(calls, 101);
  center.removeObserver(removed);
  token.reset();  // destroying the token ends the observation too
  center.postNotificationName("N");
  EXPECT_EQ(calls, 101);
}

TEST(NotificationCenter, AnObserverMayRemoveItselfAndThrowingDoesNotStopOthers) {
  NSNotificationCenter center;
  NSObserverTokenRef self;
  int selfCalls = 0, otherCalls = 0;
  self = center.addObserverForName("N", nullptr, nullptr, [&](const NSNotification&) {
    ++selfCalls;
    self->remove();  // from inside its own delivery: must not wait for itself
  });
  auto thrower = center.addObserverForName("N", nullptr, nullptr,
                                           [](const NSNotification&) { throw std::runtime_error("boom"); });
  auto other = center.addObserverForName("N", nullptr, nullptr, [&](const NSNotification&) { ++otherCalls; });
  auto previous = ns::setLogSink([](const std::string&) {});
  center.postNotificationName("N");
  center.postNotificationName("N");
  ns::setLogSink(previous);
  EXPECT_EQ(selfCalls, 1);
  EXPECT_EQ(otherCalls, 2);
}

TEST(NotificationCenter, RemovalRacingPostsFromAnotherThreadIsFinal) {
  NSNotificationCenter center;
  for (int round = 0; round < 20; ++round) {
    std::atomic<bool> removedReturned{false};
    std::atomic<bool> lateCall{false};
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};
    // Once remove() has returned, the block is neither entered nor still running.
    auto token = center.addObserverForName("Tick", nullptr, nullptr, [&](const NSNotification&) {
      if (removedReturned.load()) lateCall = true;
      ++calls;
      for (int i = 0; i < 50; ++i) std::this_thread::yield();
      if (removedReturned.load()) lateCall = true;
    });
    std::thread poster([&] {
      while (!stop.load()) center.postNotificationName("Tick");
    });
    while (calls.load() < 5) std::this_thread::yield();
    token->remove();
    removedReturned = true;
    const int atRemoval = calls.load();
    for (int i = 0; i < 200; ++i) std::this_thread::yield();
    stop = true;
    poster.join();
    EXPECT_FALSE(lateCall.load()) << "round " << round;
    EXPECT_EQ(calls.load(), atRemoval);
  }
}

TEST(NotificationCenter, QueueDeliveryIsAsynchronousAndHonoursRemoval) {
  NSNotificationCenter center;
  auto queue = std::make_shared<HeldQueue>();
  int calls = 0;
  Value info;
  auto token = center.addObserverForName("Q", nullptr, queue, [&](const NSNotification& n) {
    ++calls;
    info = n.userInfo;
  });
  center.postNotificationName("Q", nullptr, {{"n", 1}});
  EXPECT_EQ(calls, 0);  // not on the posting thread
  EXPECT_EQ(queue->drain(), 1u);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(info["n"], 1);

  center.postNotificationName("Q");
  token.reset();  // removed while the delivery waits in the queue
  queue->drain();
  EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, DeliversOnARealSerialQueueThread) {
  NSNotificationCenter center;
  auto queue = DispatchQueue::serial("test.notifications");
  std::atomic<bool> onQueue{false};
  auto delivered = std::make_shared<DispatchSemaphore>(0);
  const auto poster = std::this_thread::get_id();
  auto token = center.addObserverForName("S", nullptr, queue, [&, delivered](const NSNotification&) {
    onQueue = queue->isCurrent() && std::this_thread::get_id() != poster;
    delivered->signal();
  });
  center.postNotificationName("S");
  ASSERT_TRUE(delivered->wait(10));
  EXPECT_TRUE(onQueue.load());
  token.reset();
}

TEST(NotificationCenter, SenderIsKeptAliveForTheDelivery) {
  NSNotificationCenter center;
  auto queue = std::make_shared<HeldQueue>();
  std::weak_ptr<const void> seen;
  bool alive = false;
  auto token = center.addObserverForName("K", nullptr, queue, [&](const NSNotification& n) {
    alive = n.sender != nullptr && n.sender.get() == n.object;
  });
  {
    auto sender = std::make_shared<int>(5);
    NSNotification note;
    note.name = "K";
    note.object = sender.get();
    note.sender = sender;
    seen = sender;
    center.postNotification(note);
  }
  EXPECT_FALSE(seen.expired());
  queue->drain();
  EXPECT_TRUE(alive);
}
