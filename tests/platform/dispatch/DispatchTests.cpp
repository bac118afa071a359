#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSRunLoop.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualClock.h"
#include "tests/support/WaitFor.h"

namespace {

TEST(SerialQueue, KeepsOrderAndRunsOneTaskAtATimeUnderLoadFromSeveralThreads) {
  auto queue = DispatchQueue::serial("test.order");
  constexpr int kProducers = 4;
  constexpr int kTasks = 400;
  std::vector<std::vector<int>> seen(kProducers);
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::atomic<bool> notCurrent{false};
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kTasks; ++i) {
        queue->async([&, p, i] {
          if (running.fetch_add(1) != 0) overlapped = true;
          if (!queue->isCurrent() || DispatchQueue::current() != queue) notCurrent = true;
          seen[p].push_back(i);  // unguarded on purpose: the queue is the only writer
          running.fetch_sub(1);
        });
      }
    });
  }
  for (auto& t : producers) t.join();
  ASSERT_TRUE(queue->sync([] {}));  // after every task above
  EXPECT_FALSE(overlapped.load());
  EXPECT_FALSE(notCurrent.load());
  for (int p = 0; p < kProducers; ++p) {
    ASSERT_EQ(seen[p].size(), static_cast<size_t>(kTasks));
    for (int i = 0; i < kTasks; ++i) ASSERT_EQ(seen[p][i], i) << "producer " << p;
  }
  EXPECT_FALSE(queue->isCurrent());
}

TEST(SerialQueue, RefusesASyncThatWouldDeadlockInsteadOfHanging) {
  testsupport::LogCapture log;
  auto a = DispatchQueue::serial("test.a");
  auto b = DispatchQueue::serial("test.b");
  bool selfSync = true, selfRan = false;
  bool nestedSync = true, nestedRan = false;
  bool otherSync = false, otherRan = false;
  a->sync([&] {
    selfSync = a->sync([&] { selfRan = true; });
    otherSync = b->sync([&] {
      otherRan = b->isCurrent();
      // b's task runs while a waits for it: a sync back onto a would never finish.
      nestedSync = a->sync([&] { nestedRan = true; });
    });
  });
  EXPECT_FALSE(selfSync);
  EXPECT_FALSE(selfRan);
  EXPECT_TRUE(otherSync);
  EXPECT_TRUE(otherRan);
  EXPECT_FALSE(nestedSync);
  EXPECT_FALSE(nestedRan);
  EXPECT_TRUE(log.contains("test.a"));

  // The queues still work afterwards.
  bool later = false;
  EXPECT_TRUE(a->sync([&] { later = true; }));
  EXPECT_TRUE(later);
}

TEST(MainQueue, SyncFromTheMainThreadIsRefusedAndFromAnotherThreadWaitsForTheLoop) {
  testsupport::LogCapture log;
  bool ran = false;
  EXPECT_FALSE(DispatchQueue::main()->sync([&] { ran = true; }));
  EXPECT_FALSE(ran);
  EXPECT_TRUE(DispatchQueue::main()->isCurrent());
  EXPECT_EQ(DispatchQueue::current(), DispatchQueue::main());

  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> returned{false};
  std::thread other([&] {
    EXPECT_EQ(DispatchQueue::current(), nullptr);
    EXPECT_FALSE(DispatchQueue::main()->isCurrent());
    bool ok = DispatchQueue::main()->sync([&] { ranOnMain = NSRunLoop::isMainThread(); });
    EXPECT_TRUE(ok);
    returned = true;
  });
  EXPECT_TRUE(testsupport::waitFor([&] { return returned.load(); }));
  other.join();
  EXPECT_TRUE(ranOnMain.load());

  // A serial queue's task that was synced from the main thread cannot sync back onto main.
  auto q = DispatchQueue::serial("test.from-main");
  bool back = true;
  q->sync([&] { back = DispatchQueue::main()->sync([] {}); });
  EXPECT_FALSE(back);
}

TEST(Dispatch, AfterFiresOnlyWhenTheSteppedClockPassesTheDeadline) {
  testsupport::ManualClock clock;
  auto queue = DispatchQueue::serial("test.after");
  std::mutex m;
  std::vector<std::string> order;
  DispatchSemaphore early, late;
  queue->after(1.0, [&] {
    std::lock_guard<std::mutex> lock(m);
    order.push_back("late");
    late.signal();
  });
  dispatch_after(0.5, queue, [&] {
    std::lock_guard<std::mutex> lock(m);
    order.push_back("early");
    early.signal();
  });
  clock.advance(0.5);
  ASSERT_TRUE(early.wait(10));
  {
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(order, std::vector<std::string>{"early"});  // 1.0 has not been reached
  }
  clock.advance(0.5);
  ASSERT_TRUE(late.wait(10));
  std::lock_guard<std::mutex> lock(m);
  EXPECT_EQ(order, (std::vector<std::string>{"early", "late"}));
}

TEST(Dispatch, MainQueueAfterFiresWhileTheMainLoopIsStepped) {
  testsupport::ManualClock clock;
  std::vector<double> fired;
  const double start = Clock::monotonic();
  DispatchQueue::main()->after(0.5, [&] {
    EXPECT_TRUE(NSRunLoop::isMainThread());
    fired.push_back(Clock::monotonic() - start);
  });
  DispatchQueue::main()->after(0, [&] { fired.push_back(-1); });  // at once, as async
  testsupport::stepMainRunLoop(0.4);
  ASSERT_EQ(fired.size(), 1u);
  EXPECT_EQ(fired[0], -1);
  testsupport::stepMainRunLoop(0.2);
  ASSERT_EQ(fired.size(), 2u);
  EXPECT_NEAR(fired[1], 0.5, 1e-9);
}

TEST(Dispatch, SemaphoresCountAndTimeOut) {
  DispatchSemaphore none;
  EXPECT_FALSE(none.wait(0.02));
  EXPECT_FALSE(none.wait(0));

  DispatchSemaphore two(2);
  EXPECT_TRUE(two.wait(0));
  EXPECT_TRUE(two.wait(0));
  EXPECT_FALSE(two.wait(0));

  DispatchSemaphore signalled;
  std::thread t([&] { signalled.signal(); });
  EXPECT_TRUE(signalled.wait(10));
  t.join();
  EXPECT_FALSE(signalled.wait(0));  // one signal, one wait
}

// A waiter that has returned may destroy what it waited on at once: the thread that woke it must
// not touch it afterwards (the thread sanitizer reports any such touch).
TEST(Dispatch, ASemaphoreOrGroupMayBeDestroyedAsSoonAsItsWaiterReturns) {
  for (int i = 0; i < 100; ++i) {
    auto semaphore = std::make_unique<DispatchSemaphore>();
    std::thread signaller([s = semaphore.get()] { s->signal(); });
    ASSERT_TRUE(semaphore->wait(10));
    semaphore.reset();  // the signaller may still be inside signal()
    signaller.join();
  }
  for (int i = 0; i < 100; ++i) {
    auto group = DispatchGroup::create();
    group->enter();
    std::thread leaver([g = group.get()] { g->leave(); });
    ASSERT_TRUE(group->wait(10));
    group.reset();  // the leaver may still be inside leave()
    leaver.join();
  }
}

TEST(Dispatch, GroupNotifiesOnceEveryTaskHasLeft) {
  auto group = DispatchGroup::create();
  auto worker = DispatchQueue::global(DispatchQoS::Utility);
  auto collector = DispatchQueue::serial("test.group");
  std::atomic<int> finished{0};
  DispatchSemaphore gate;
  for (int i = 0; i < 3; ++i) {
    group->async(worker, [&] {
      gate.wait(10);
      ++finished;
    });
  }
  group->enter();  // a manual piece of work
  std::atomic<int> seenAtNotify{-1};
  DispatchSemaphore notified;
  group->notify(collector, [&] {
    seenAtNotify = finished.load();
    notified.signal();
  });
  EXPECT_FALSE(group->wait(0.01));
  for (int i = 0; i < 3; ++i) gate.signal();
  EXPECT_FALSE(notified.wait(0.05));  // the manual piece is still in
  group->leave();
  ASSERT_TRUE(notified.wait(10));
  EXPECT_EQ(seenAtNotify.load(), 3);
  EXPECT_TRUE(group->wait(0));

  // An empty group notifies at once; a leave without enter is reported, not fatal.
  testsupport::LogCapture log;
  DispatchSemaphore emptyNotified;
  group->notify(collector, [&] { emptyNotified.signal(); });
  EXPECT_TRUE(emptyNotified.wait(10));
  group->leave();
  EXPECT_TRUE(log.contains("leave without a matching enter"));
  EXPECT_TRUE(group->wait(0));
}

TEST(Dispatch, AThrowingTaskIsLoggedAndTheQueueGoesOn) {
  testsupport::LogCapture log;
  auto queue = DispatchQueue::serial("test.throwing");
  queue->async([] { throw std::runtime_error("task exploded"); });
  queue->async([] { NSException::raise(NSInternalInconsistencyException, "bad state %d", 7); });
  bool after = false;
  EXPECT_TRUE(queue->sync([&] { after = true; }));
  EXPECT_TRUE(after);
  EXPECT_TRUE(log.contains("task exploded"));
  EXPECT_TRUE(log.contains("bad state 7"));

  // A group task that throws still leaves the group.
  auto group = DispatchGroup::create();
  group->async(DispatchQueue::global(), [] { throw 42; });
  EXPECT_TRUE(group->wait(10));

  bool mainRan = false;
  DispatchQueue::main()->async([] { throw std::runtime_error("main task exploded"); });
  DispatchQueue::main()->async([&] { mainRan = true; });
  EXPECT_TRUE(testsupport::waitFor([&] { return mainRan; }));
  EXPECT_TRUE(log.contains("main task exploded"));
}

TEST(SerialQueue, EndsCleanlyWhenDestroyedFromItsOwnTaskAndRunsWorkLeftBehind) {
  // The only reference is dropped by the queue's own task.
  auto holder = std::make_shared<DispatchQueueRef>(DispatchQueue::serial("test.self-destroy"));
  std::weak_ptr<DispatchQueue> weak = *holder;
  DispatchSemaphore done;
  (*holder)->async([holder, &done] {
    holder->reset();
    done.signal();
  });
  holder.reset();
  ASSERT_TRUE(done.wait(10));
  EXPECT_TRUE(testsupport::waitFor([&] { return weak.expired(); }));

  // Work queued before the last reference is dropped still runs, in order.
  std::vector<int> ran;
  DispatchSemaphore last;
  {
    auto q = DispatchQueue::serial("test.dropped");
    for (int i = 0; i < 50; ++i) q->async([&ran, i] { ran.push_back(i); });
    q->async([&] { last.signal(); });
  }
  ASSERT_TRUE(last.wait(10));
  ASSERT_EQ(ran.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(ran[i], i);

  // An idle queue destroyed from another thread joins its worker.
  auto idle = DispatchQueue::serial("test.idle");
  EXPECT_TRUE(idle->sync([] {}));
  idle.reset();
}

TEST(SerialQueue, MayBeDestroyedByTheTaskItWasJustGiven) {
  // The caller hands its only reference to the queue over inside the task and touches nothing of
  // the queue afterwards: async() must not touch the queue once the task is queued, for the
  // worker may already have run it and ended the queue. The window is short, so several threads
  // hand queues over many times at once.
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        auto queue = DispatchQueue::serial("test.handed-over");
        std::weak_ptr<DispatchQueue> weak = queue;
        auto ran = std::make_shared<DispatchSemaphore>();
        DispatchQueue* raw = queue.get();
        raw->async([queue = std::move(queue), ran]() mutable {
          queue.reset();
          ran->signal();
        });
        if (!ran->wait(10)) ++failures;
        // The queue ends on its own worker right after the task.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!weak.expired() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        if (!weak.expired()) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST(GlobalQueue, RunsTasksConcurrentlyAndKnowsItIsCurrent) {
  auto global = DispatchQueue::global(DispatchQoS::Default);
  EXPECT_EQ(global, DispatchQueue::global());
  EXPECT_NE(global, DispatchQueue::global(DispatchQoS::Background));
  EXPECT_FALSE(global->isSerial());
  // Two tasks that each wait for the other can only finish if they run at the same time.
  DispatchSemaphore a, b, done;
  global->async([&] {
    b.signal();
    if (a.wait(10)) done.signal();
  });
  global->async([&] {
    a.signal();
    if (b.wait(10)) done.signal();
  });
  EXPECT_TRUE(done.wait(10));
  EXPECT_TRUE(done.wait(10));

  bool current = false;
  EXPECT_TRUE(global->sync([&] { current = global->isCurrent() && DispatchQueue::current() == global; }));
  EXPECT_TRUE(current);
}

TEST(Dispatch, OnceRunsExactlyOnceAcrossThreads) {
  dispatch_once_t token;
  std::atomic<int> runs{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { dispatch_once(token, [&] { ++runs; }); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(runs.load(), 1);
}

}  // namespace

namespace {

TEST(Dispatch, ABlockDeferredToTheEndOfATaskRunsBeforeItsSyncCallerGoesOn) {
  auto queue = DispatchQueue::serial("test.defer");
  std::vector<std::string> order;  // written on the queue only
  bool outside = true;
  EXPECT_TRUE(queue->sync([&] {
    order.push_back("body start");
    EXPECT_TRUE(DispatchQueue::deferToEndOfCurrentTask([&] {
      order.push_back("first deferred");
      // Still a task of the queue, and may defer once more: that one joins the end.
      if (!queue->isCurrent()) order.push_back("not current");
      DispatchQueue::deferToEndOfCurrentTask([&] { order.push_back("deferred by a deferred block"); });
    }));
    DispatchQueue::deferToEndOfCurrentTask([&] { order.push_back("second deferred"); });
    order.push_back("body end");
  }));
  // The sync returned only after every deferred block ran.
  EXPECT_EQ(order, (std::vector<std::string>{"body start", "body end", "first deferred", "second deferred",
                                             "deferred by a deferred block"}));
  // No task on this thread: nothing is kept.
  EXPECT_FALSE(DispatchQueue::deferToEndOfCurrentTask([&] { outside = false; }));
  queue->sync([] {});
  EXPECT_TRUE(outside);
}

TEST(Dispatch, ABlockDeferredByATaskRunsBeforeTheQueuesNextTaskAndAThrowingOneIsLogged) {
  testsupport::LogCapture log;
  auto queue = DispatchQueue::serial("test.defer-order");
  std::vector<int> order;
  queue->async([&] {
    DispatchQueue::deferToEndOfCurrentTask([] { throw std::runtime_error("deferred exploded"); });
    DispatchQueue::deferToEndOfCurrentTask([&] { order.push_back(2); });
    order.push_back(1);
  });
  queue->async([&] { order.push_back(3); });
  queue->sync([] {});
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(log.contains("deferred exploded"));

  // A nested task (a sync onto a concurrent queue runs in the caller's thread) ends first.
  std::vector<std::string> nested;
  queue->sync([&] {
    DispatchQueue::global()->sync([&] {
      DispatchQueue::deferToEndOfCurrentTask([&] { nested.push_back("inner deferred"); });
      nested.push_back("inner body");
    });
    nested.push_back("outer body");
  });
  EXPECT_EQ(nested, (std::vector<std::string>{"inner body", "inner deferred", "outer body"}));
}

TEST(Dispatch, ABlockHeldWhileTheQueueIsBusyRunsBeforeAnySyncCallerGoesOnAndIsNeverLost) {
  auto queue = DispatchQueue::serial("test.defer-busy");
  std::mutex mutex;
  std::vector<std::string> order;
  auto note = [&](const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex);
    order.push_back(what);
  };
  auto position = [&](const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex);
    return std::find(order.begin(), order.end(), what) - order.begin();
  };
  // The worker is held at a gate while a run of tasks and a sync caller queue up behind it.
  DispatchSemaphore gate(0);
  queue->async([&] { gate.wait(10); });
  queue->async([&] {
    note("first task");
    EXPECT_TRUE(DispatchQueue::deferWhileBusy([&] { note("held by the first task"); }));
  });
  queue->async([&] {
    note("second task");
    EXPECT_TRUE(DispatchQueue::deferWhileBusy([&] { note("held by the second task"); }));
  });
  std::thread caller([&] {
    queue->sync([&] {
      note("sync task");
      EXPECT_TRUE(DispatchQueue::deferWhileBusy([&] { note("held by the sync task"); }));
    });
    note("sync caller goes on");
  });
  // Lets the caller queue its task (if it has not yet, the order below holds all the same).
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  gate.signal();
  caller.join();
  // Whether the first task's block waited for the second task depends on the clock (it is held a
  // millisecond at most); what never varies: each runs after its task, in the order held, all of
  // them before the sync task starts or its caller goes on.
  EXPECT_LT(position("first task"), position("held by the first task"));
  EXPECT_LT(position("held by the first task"), position("held by the second task"));
  EXPECT_LT(position("held by the second task"), position("sync task"));
  EXPECT_LT(position("sync task"), position("held by the sync task"));
  EXPECT_LT(position("held by the sync task"), position("sync caller goes on"));

  // A block held by the last task of a run runs when the queue runs dry: nobody has to sync.
  std::atomic<bool> ran{false};
  queue->async([&] { DispatchQueue::deferWhileBusy([&] { ran = true; }); });
  EXPECT_TRUE(testsupport::waitFor([&] { return ran.load(); }));
  // No serial queue's worker on this thread: the block is refused and never runs.
  bool outside = false;
  EXPECT_FALSE(DispatchQueue::deferWhileBusy([&] { outside = true; }));
  bool onGlobal = true;
  DispatchQueue::global()->sync([&] { onGlobal = DispatchQueue::deferWhileBusy([] {}); });
  EXPECT_FALSE(onGlobal);
  queue->sync([] {});
  EXPECT_FALSE(outside);
}

TEST(Dispatch, ABatchRunsInOrderAfterWhatWasQueuedBeforeItEachBlockLikeATask) {
  testsupport::LogCapture log;
  auto queue = DispatchQueue::serial("test.batch");
  std::vector<int> order;
  queue->async([&] { order.push_back(0); });
  std::vector<DispatchBlock> batch;
  batch.emplace_back([&] { order.push_back(1); });
  batch.emplace_back([] { throw std::runtime_error("batched block exploded"); });
  batch.emplace_back([&] {
    order.push_back(queue->isCurrent() && DispatchQueue::current() == queue ? 2 : -2);
    // A block of a batch defers to its own end, as a task of its own would.
    DispatchQueue::deferToEndOfCurrentTask([&] { order.push_back(3); });
  });
  batch.emplace_back([&] { order.push_back(4); });
  queue->asyncBatch(std::move(batch));
  queue->async([&] { order.push_back(5); });
  queue->asyncBatch({});
  queue->sync([] {});
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_TRUE(log.contains("batched block exploded"));

  // On a concurrent queue the blocks stay separate tasks: they may run side by side. Each block
  // holds what it uses, so nothing is destroyed under a pool thread still leaving the group.
  struct Shared {
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    DispatchSemaphore release;
  };
  auto shared = std::make_shared<Shared>();
  auto group = DispatchGroup::create();
  std::vector<DispatchBlock> side;
  for (int i = 0; i < 2; ++i) {
    group->enter();
    side.emplace_back([shared, group] {
      const int now = ++shared->running;
      int seen = shared->most.load();
      while (now > seen && !shared->most.compare_exchange_weak(seen, now)) {
      }
      if (now == 2) shared->release.signal(), shared->release.signal();
      shared->release.wait(10);
      --shared->running;
      group->leave();
    });
  }
  DispatchQueue::global()->asyncBatch(std::move(side));
  EXPECT_TRUE(group->wait(20));
  EXPECT_EQ(shared->most.load(), 2);
}

}  // namespace
