#include "sdk/promises/ZEZPromise.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSRunLoop.h"

namespace {

NSErrorRef testError(int64_t code) { return NSError::errorWithDomain("test.domain", code); }

// Serves the main queue until the promise settles.
template <class T>
bool settle(const ZEZPromiseRef<T>& p, double timeout = 5) {
  return NSRunLoop::main().runUntil([&] { return !p->isPending(); }, timeout);
}

struct Record {
  std::string name;
};

TEST(ZEZPromiseTest, SettlesOnceAndContinuesOnTheMainQueueByDefault) {
  auto p = ZEZPromise<int>::pendingPromise();
  std::atomic<bool> onMain{false};
  auto next = p->then([&](int v) {
    onMain = NSRunLoop::isMainThread();
    return std::to_string(v * 2);
  });
  EXPECT_TRUE(p->isPending());
  p->fulfill(21);
  p->reject(testError(1));  // ignored: already fulfilled
  p->fulfill(5);            // ignored
  ASSERT_TRUE(settle(next));
  EXPECT_TRUE(p->isFulfilled());
  EXPECT_EQ(p->value(), 21);
  EXPECT_EQ(next->value(), std::optional<std::string>("42"));
  EXPECT_TRUE(onMain);

  auto r = ZEZPromise<int>::pendingPromise();
  r->reject(testError(7));
  r->fulfill(1);
  EXPECT_TRUE(r->isRejected());
  EXPECT_EQ(r->error()->code(), 7);
}

TEST(ZEZPromiseTest, ResolvedWithValueErrorOrPromise) {
  auto v = ZEZPromise<std::shared_ptr<Record>>::resolvedWith(std::make_shared<Record>(Record{"a"}));
  ASSERT_TRUE(v->isFulfilled());
  EXPECT_EQ((*v->value())->name, "a");

  auto e = ZEZPromise<NSNull>::resolvedWith(testError(3));
  ASSERT_TRUE(e->isRejected());
  EXPECT_EQ(e->error()->code(), 3);

  auto inner = ZEZPromise<int>::pendingPromise();
  auto follower = ZEZPromise<int>::resolvedWith(inner);
  EXPECT_TRUE(follower->isPending());
  inner->fulfill(9);
  EXPECT_EQ(follower->value(), 9);

  // A rejection always carries an error, even when the caller passed none.
  auto nullReject = ZEZPromise<int>::pendingPromise();
  nullReject->reject(nullptr);
  ASSERT_TRUE(nullReject->error());
  EXPECT_EQ(nullReject->error()->domain(), ZEZPromiseErrorDomain);
}

TEST(ZEZPromiseTest, DoRunsOnTheGivenQueueAndHandlesEachKindOfResult) {
  auto queue = DispatchQueue::serial("test.promise.do");
  std::atomic<bool> onQueue{false};
  auto value = ZEZPromise<int>::onQueueDo(queue, [&]() -> ZEZResult<int> {
    onQueue = queue->isCurrent();
    return 4;
  });
  ASSERT_TRUE(settle(value));
  EXPECT_EQ(value->value(), 4);
  EXPECT_TRUE(onQueue);

  auto error = ZEZPromise<int>::onQueueDo(queue, [] { return ZEZResult<int>(testError(11)); });
  ASSERT_TRUE(settle(error));
  EXPECT_EQ(error->error()->code(), 11);

  auto later = ZEZPromise<int>::pendingPromise();
  auto chained = ZEZPromise<int>::do_([later] { return ZEZResult<int>(later); });
  NSRunLoop::main().runUntil([] { return false; }, 0.05);
  EXPECT_TRUE(chained->isPending());
  later->fulfill(12);
  ASSERT_TRUE(settle(chained));
  EXPECT_EQ(chained->value(), 12);
}

TEST(ZEZPromiseTest, MissingWorkRejectsAndANullQueueMeansTheDefaultQueue) {
  auto noWork = ZEZPromise<int>::do_(nullptr);
  ASSERT_TRUE(noWork->isRejected());
  EXPECT_EQ(noWork->error()->domain(), ZEZPromiseErrorDomain);
  auto noRetryWork = ZEZPromise<int>::attempts(2, 1.0, nullptr, nullptr);
  EXPECT_TRUE(noRetryWork->isRejected());
  std::atomic<bool> onMain{false};
  auto p = ZEZPromise<int>::onQueueDo(nullptr, [&]() -> ZEZResult<int> {
    onMain = NSRunLoop::isMainThread();
    return 1;
  });
  ASSERT_TRUE(settle(p));
  EXPECT_TRUE(onMain);
}

TEST(ZEZPromiseTest, AsyncSettlesByWhicheverBlockIsCalled) {
  auto ok = ZEZPromise<std::string>::async([](auto fulfill, auto) { fulfill("done"); });
  auto bad = ZEZPromise<std::string>::async([](auto, auto reject) { reject(testError(5)); });
  ASSERT_TRUE(settle(ok));
  ASSERT_TRUE(settle(bad));
  EXPECT_EQ(ok->value(), std::optional<std::string>("done"));
  EXPECT_EQ(bad->error()->code(), 5);
}

TEST(ZEZPromiseTest, ThenChainsSkipAfterAnErrorCatchObservesRecoverRepairs) {
  std::vector<std::string> steps;
  auto p = ZEZPromise<int>::resolvedWith(1);
  auto failed = p->then([&](int v) -> ZEZResult<int> {
                   steps.push_back("first");
                   return testError(v + 40);
                 })
                    ->then([&](int v) {
                      steps.push_back("skipped");
                      return v;
                    });
  std::atomic<int64_t> caught{0};
  auto observed = failed->catch_([&](const NSErrorRef& e) { caught = e->code(); });
  ASSERT_TRUE(settle(observed));
  EXPECT_EQ(steps, std::vector<std::string>{"first"});
  EXPECT_EQ(caught.load(), 41);
  EXPECT_TRUE(observed->isRejected());  // catch leaves it rejected
  EXPECT_EQ(observed->error()->code(), 41);

  auto repaired = observed->recover([](const NSErrorRef& e) -> ZEZResult<int> {
    return static_cast<int>(e->code()) * 10;
  });
  ASSERT_TRUE(settle(repaired));
  EXPECT_EQ(repaired->value(), 410);

  // Recovering with a promise follows it; recover leaves fulfilled promises alone.
  auto viaPromise = ZEZPromise<int>::resolvedWith(testError(1))->recover(
      [](const NSErrorRef&) -> ZEZResult<int> { return ZEZPromise<int>::resolvedWith(77); });
  auto untouched = ZEZPromise<int>::resolvedWith(3)->recover(
      [](const NSErrorRef&) -> ZEZResult<int> { return -1; });
  ASSERT_TRUE(settle(viaPromise));
  ASSERT_TRUE(settle(untouched));
  EXPECT_EQ(viaPromise->value(), 77);
  EXPECT_EQ(untouched->value(), 3);
}

TEST(ZEZPromiseTest, ThenOnAQueueAndVoidContinuations) {
  auto queue = DispatchQueue::serial("test.promise.then");
  std::atomic<bool> onQueue{false};
  auto p = ZEZPromise<int>::resolvedWith(2)->onQueueThen(queue, [&](int v) {
    onQueue = queue->isCurrent();
    return ZEZPromise<double>::resolvedWith(v * 1.5);
  });
  auto done = p->then([](double) {});  // a continuation returning nothing gives NSNull
  ASSERT_TRUE(settle(done));
  EXPECT_TRUE(onQueue);
  EXPECT_EQ(p->value(), 3.0);
  EXPECT_TRUE(done->isFulfilled());
}

TEST(ZEZPromiseTest, ValidateRejectsWithTheValidationError) {
  auto good = ZEZPromise<int>::resolvedWith(5)->validate([](int v) { return v > 0; });
  auto bad = ZEZPromise<int>::resolvedWith(-5)->validate([](int v) { return v > 0; });
  auto passthrough = ZEZPromise<int>::resolvedWith(testError(9))->validate([](int) { return true; });
  ASSERT_TRUE(settle(good));
  ASSERT_TRUE(settle(bad));
  ASSERT_TRUE(settle(passthrough));
  EXPECT_EQ(good->value(), 5);
  ASSERT_TRUE(bad->isRejected());
  EXPECT_EQ(bad->error()->domain(), "com.deruru.ZEZPromises.Error");
  EXPECT_EQ(bad->error()->code(), 2);
  EXPECT_EQ(passthrough->error()->code(), 9);
}

TEST(ZEZPromiseTest, AllKeepsTheOrderOfThePromisesAndRejectsWithTheFirstError) {
  auto a = ZEZPromise<int>::pendingPromise();
  auto b = ZEZPromise<int>::pendingPromise();
  auto c = ZEZPromise<int>::pendingPromise();
  auto all = ZEZPromise<int>::all({a, b, c});
  c->fulfill(3);
  a->fulfill(1);
  NSRunLoop::main().runUntil([] { return false; }, 0.05);
  EXPECT_TRUE(all->isPending());
  b->fulfill(2);
  ASSERT_TRUE(settle(all));
  EXPECT_EQ(*all->value(), (std::vector<int>{1, 2, 3}));

  auto x = ZEZPromise<int>::pendingPromise();
  auto y = ZEZPromise<int>::pendingPromise();
  auto failing = ZEZPromise<int>::all({x, y});
  y->reject(testError(21));
  ASSERT_TRUE(settle(failing));
  EXPECT_EQ(failing->error()->code(), 21);
  x->reject(testError(22));
  NSRunLoop::main().runUntil([] { return false; }, 0.05);
  EXPECT_EQ(failing->error()->code(), 21);

  auto empty = ZEZPromise<int>::all({});
  EXPECT_TRUE(empty->isFulfilled());
  EXPECT_TRUE(empty->value()->empty());

  auto mixed = ZEZPromiseAll(ZEZPromise<std::string>::resolvedWith(std::string("id")),
                             ZEZPromise<int>::resolvedWith(4));
  ASSERT_TRUE(settle(mixed));
  EXPECT_EQ(std::get<0>(*mixed->value()), "id");
  EXPECT_EQ(std::get<1>(*mixed->value()), 4);
  auto mixedFail = ZEZPromiseAll(ZEZPromise<std::string>::pendingPromise(),
                                 ZEZPromise<int>::resolvedWith(testError(8)));
  ASSERT_TRUE(settle(mixedFail));
  EXPECT_EQ(mixedFail->error()->code(), 8);
}

// Whatever a block of a promise throws rejects the promise it was to settle, with the thrown
// text in the error; nothing stays pending.
TEST(ZEZPromiseTest, WorkThatThrowsRejectsInsteadOfLeavingThePromisePending) {
  auto expectThrown = [](const auto& p, const std::string& text) {
    ASSERT_TRUE(settle(p)) << text;
    ASSERT_TRUE(p->isRejected()) << text;
    EXPECT_EQ(p->error()->domain(), ZEZPromiseErrorDomain);
    EXPECT_EQ(p->error()->code(), ZEZPromiseErrorCodeException);
    EXPECT_NE(p->error()->localizedDescription().find(text), std::string::npos)
        << p->error()->description();
  };
  auto queue = DispatchQueue::serial("test.throwing");
  expectThrown(ZEZPromise<int>::onQueueDo(queue, []() -> ZEZResult<int> { throw std::runtime_error("do threw"); }),
               "do threw");
  expectThrown(ZEZPromise<int>::onQueueAsync(queue, [](auto, auto) { throw std::out_of_range("async threw"); }),
               "async threw");
  expectThrown(ZEZPromise<int>::resolvedWith(1)->then([](int) -> int {
    NSException::raise(NSInternalInconsistencyException, "then raised");
  }), "then raised");
  expectThrown(ZEZPromise<int>::resolvedWith(1)->then([](int) { throw 42; }), "unknown");
  expectThrown(ZEZPromise<int>::resolvedWith(testError(1))->recover([](const NSErrorRef&) -> ZEZResult<int> {
    throw std::runtime_error("recover threw");
  }), "recover threw");
  expectThrown(ZEZPromise<int>::resolvedWith(testError(1))->catch_([](const NSErrorRef&) {
    throw std::runtime_error("catch threw");
  }), "catch threw");
  expectThrown(ZEZPromise<int>::resolvedWith(1)->validate([](const int&) -> bool {
    throw std::runtime_error("validate threw");
  }), "validate threw");
  expectThrown(ZEZPromise<int>::attempts(0, 0, nullptr, []() -> ZEZResult<int> {
    throw std::runtime_error("attempt threw");
  }), "attempt threw");
  // A retry condition that throws ends the attempts with its error.
  expectThrown(ZEZPromise<int>::attempts(2, 0, [](int64_t, const NSErrorRef&) -> bool {
    throw std::runtime_error("condition threw");
  }, []() -> ZEZResult<int> { return testError(500); }), "condition threw");
  // Work that settled before throwing keeps its settlement.
  auto settled = ZEZPromise<int>::onQueueAsync(queue, [](auto fulfill, auto) {
    fulfill(7);
    throw std::runtime_error("late");
  });
  ASSERT_TRUE(settle(settled));
  EXPECT_EQ(settled->value(), 7);
}

class ZEZPromiseRetryTest : public ::testing::Test {
 protected:
  void SetUp() override { Clock::setManual(true); }
  void TearDown() override { Clock::setManual(false); }
  // Serves the main queue briefly (for work already due).
  void drain() { NSRunLoop::main().runUntil([] { return false; }, 0.05); }
};

TEST_F(ZEZPromiseRetryTest, RetriesAfterTheDelayOnTheSteppedClock) {
  std::atomic<int> runs{0};
  std::vector<int64_t> remaining;
  auto p = ZEZPromise<std::string>::attempts(
      2, 1.0,
      [&](int64_t left, const NSErrorRef& e) {
        remaining.push_back(left);
        return e->code() == 500;
      },
      [&]() -> ZEZResult<std::string> {
        int n = ++runs;
        if (n < 3) return ZEZPromise<std::string>::resolvedWith(testError(500));
        return std::string("ok");
      });
  drain();
  EXPECT_EQ(runs.load(), 1);
  Clock::advance(0.5);
  drain();
  EXPECT_EQ(runs.load(), 1);  // the delay has not passed
  Clock::advance(0.6);
  ASSERT_TRUE(NSRunLoop::main().runUntil([&] { return runs.load() == 2; }, 5));
  drain();  // the failed second attempt schedules the third
  EXPECT_TRUE(p->isPending());
  Clock::advance(1.0);
  ASSERT_TRUE(settle(p));
  EXPECT_EQ(runs.load(), 3);
  EXPECT_EQ(p->value(), std::optional<std::string>("ok"));
  EXPECT_EQ(remaining, (std::vector<int64_t>{2, 1}));
}

TEST_F(ZEZPromiseRetryTest, StopsWhenTheConditionFailsOrAttemptsRunOut) {
  std::atomic<int> runs{0};
  auto notRetried = ZEZPromise<int>::attempts(
      3, 1.0, [](int64_t, const NSErrorRef& e) { return e->code() == 500; },
      [&]() -> ZEZResult<int> {
        ++runs;
        return testError(503);
      });
  ASSERT_TRUE(settle(notRetried));
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(notRetried->error()->code(), 503);

  std::atomic<int> runs2{0};
  auto exhausted = ZEZPromise<int>::attempts(1, 1.0, nullptr, [&]() -> ZEZResult<int> {
    return testError(500 + ++runs2);
  });
  drain();
  EXPECT_EQ(runs2.load(), 1);
  Clock::advance(1.0);
  ASSERT_TRUE(settle(exhausted));
  EXPECT_EQ(runs2.load(), 2);  // one further attempt, then the last error
  EXPECT_EQ(exhausted->error()->code(), 502);
}

}  // namespace
