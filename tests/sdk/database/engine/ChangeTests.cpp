// Folding child changes, generating ordered events, and raising them.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "CountingQueue.h"
#include "EngineTestSupport.h"
#include "platform/foundation/NSException.h"
#include "sdk/database/core/FChildChangeAccumulator.h"
#include "sdk/database/core/FEventGenerator.h"
#include "sdk/database/core/FEventRaiser.h"

using namespace enginetest;

namespace {
FChange added(const char* key, const char* value) { return FChange(FEventTypeChildAdded, indexed(value), key); }
FChange removed(const char* key, const char* value) { return FChange(FEventTypeChildRemoved, indexed(value), key); }
FChange changed(const char* key, const char* value, const char* old) {
  return FChange(FEventTypeChildChanged, indexed(value), key, indexed(old));
}
}  // namespace

TEST(ChildChangeAccumulatorTest, AddedThenRemovedLeavesNothingAndRemovedThenAddedIsOneChange) {
  FChildChangeAccumulator accumulator;
  accumulator.trackChildChange(added("a", "1"));
  accumulator.trackChildChange(removed("a", "1"));
  EXPECT_TRUE(accumulator.changes().empty());

  accumulator.trackChildChange(removed("b", "1"));
  accumulator.trackChildChange(added("b", "2"));
  auto changes = accumulator.changes();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].type(), FEventTypeChildChanged);
  EXPECT_EQ(json(changes[0].indexedNode()->node()), "2");
  EXPECT_EQ(json(changes[0].oldIndexedNode()->node()), "1");
}

TEST(ChildChangeAccumulatorTest, ChangesFoldToTheDifferenceBetweenFirstAndLast) {
  FChildChangeAccumulator accumulator;
  accumulator.trackChildChange(changed("a", "2", "1"));
  accumulator.trackChildChange(changed("a", "3", "2"));
  auto changes = accumulator.changes();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(json(changes[0].indexedNode()->node()), "3");
  EXPECT_EQ(json(changes[0].oldIndexedNode()->node()), "1");

  accumulator.trackChildChange(removed("a", "3"));
  changes = accumulator.changes();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].type(), FEventTypeChildRemoved);
  EXPECT_EQ(json(changes[0].indexedNode()->node()), "1");  // the node from before the first change

  FChildChangeAccumulator addedThenChanged;
  addedThenChanged.trackChildChange(added("k", "1"));
  addedThenChanged.trackChildChange(changed("k", "5", "1"));
  changes = addedThenChanged.changes();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].type(), FEventTypeChildAdded);
  EXPECT_EQ(json(changes[0].indexedNode()->node()), "5");
}

TEST(ChildChangeAccumulatorTest, ImpossibleSequencesRaise) {
  FChildChangeAccumulator accumulator;
  accumulator.trackChildChange(added("a", "1"));
  try {
    accumulator.trackChildChange(added("a", "2"));
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "ZirezizeDatabaseInternalError");
    EXPECT_EQ(e.reason(), "Illegal combination of changes: event: 0, data: 2 occurred after event: 0, data: 1");
  }
  FChildChangeAccumulator other;
  other.trackChildChange(removed("a", "1"));
  EXPECT_THROW(other.trackChildChange(changed("a", "2", "1")), NSException);
}

TEST(EventGeneratorTest, OrdersByKindThenIndexAndAddsMovesOnlyWhenTheSortValueChanges) {
  // Ordered by priority: b's priority changes (a move), d's value changes but not its priority.
  FEventGenerator generator(defaultQuery("list"));
  auto cache = indexed(R"({"a":{".value":1,".priority":1},"b":{".value":5,".priority":4},)"
                       R"("c":{".value":3,".priority":3},"d":{".value":9,".priority":9}})");
  auto registration = allChildRegistration(1);
  auto value = valueRegistration(2);
  std::vector<FChange> changes{
      FChange(FEventTypeValue, cache),
      changed("d", R"({".value":9,".priority":9})", R"({".value":8,".priority":9})"),
      changed("b", R"({".value":5,".priority":4})", R"({".value":5,".priority":0})"),
      added("c", R"({".value":3,".priority":3})"),
      added("a", R"({".value":1,".priority":1})"),
      removed("z", "7"),
  };
  auto events = generator.generateEventsForChanges(changes, cache, {registration, value});
  EXPECT_EQ(describe(events), (Strings{"removed /list/z 7", "added /list/a 1", "added /list/c 3 prev=a",
                                       "moved /list/b 5 prev=c", "changed /list/b 5 prev=c",
                                       "changed /list/d 9 prev=b", R"(value /list {"a":1,"b":5,"c":3,"d":9})"}));
}

TEST(EventGeneratorTest, RegistrationsAlternatePerChangeAndFirstChildHasNoPreviousKey) {
  FEventGenerator generator(defaultQuery("p"));
  auto cache = indexed(R"({"x":1,"y":2})");
  auto first = childRegistration(1, {FEventTypeChildAdded});
  auto second = childRegistration(2, {FEventTypeChildAdded});
  auto events = generator.generateEventsForChanges({added("y", "2"), added("x", "1")}, cache, {first, second});
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(describe(events), (Strings{"added /p/x 1", "added /p/x 1", "added /p/y 2 prev=x", "added /p/y 2 prev=x"}));
  EXPECT_EQ(std::static_pointer_cast<const FDataEvent>(events[0])->eventRegistration(), first);
  EXPECT_EQ(std::static_pointer_cast<const FDataEvent>(events[1])->eventRegistration(), second);
  EXPECT_EQ(std::static_pointer_cast<const FDataEvent>(events[2])->eventRegistration(), first);
  // A child event belongs to the listened location, a value event to its own.
  EXPECT_EQ(events[0]->path()->toString(), "/p");
}

TEST(EventGeneratorTest, TwoChangesWithoutKeysCannotBeOrdered) {
  FEventGenerator generator(defaultQuery("p"));
  auto cache = indexed("1");
  try {
    generator.generateEventsForChanges({FChange(FEventTypeValue, cache), FChange(FEventTypeValue, cache)}, cache,
                                       {valueRegistration(1)});
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "InternalInconsistencyError");
    EXPECT_EQ(e.reason(), "Should only compare child_ events");
  }
}

TEST(EventRaiserTest, SchedulesEachCallbackInOrderAndNothingForNoEvents) {
  auto queue = CountingQueue::make();
  FEventRaiser raiser(queue);
  raiser.raiseEvents({});
  EXPECT_TRUE(queue->pending.empty());

  std::vector<std::string> seen;
  auto registration = std::make_shared<const FValueEventRegistration>(
      nullptr, 7, [&](const ZIRDataSnapshotRef& snapshot) { seen.push_back(value::toJSON(snapshot->value())); },
      nullptr);
  FEventGenerator generator(defaultQuery("a"));
  auto events = generator.generateEventsForChanges({FChange(FEventTypeValue, indexed("1"))}, indexed("1"), {registration});
  auto more = generator.generateEventsForChanges({FChange(FEventTypeValue, indexed("2"))}, indexed("2"), {registration});
  events.insert(events.end(), more.begin(), more.end());
  raiser.raiseEvents(events);
  EXPECT_TRUE(seen.empty());  // nothing runs on the raising thread
  EXPECT_EQ(queue->drain(), 2u);
  EXPECT_EQ(seen, (Strings{"1", "2"}));

  int calls = 0;
  raiser.raiseCallbacks({[&] { calls += 1; }, [&] { calls += 10; }});
  raiser.raiseCallback([&] { calls += 100; });
  EXPECT_EQ(queue->drain(), 3u);
  EXPECT_EQ(calls, 111);
  EXPECT_THROW(FEventRaiser(nullptr), NSException);
}

namespace {
// A value event for `registration` whose snapshot holds `json`.
FEventList valueEvent(const FEventRegistrationRef& registration, const char* json) {
  FEventGenerator generator(defaultQuery("a"));
  return generator.generateEventsForChanges({FChange(FEventTypeValue, indexed(json))}, indexed(json), {registration});
}
}  // namespace

TEST(EventRaiserTest, WhatATaskRaisesIsHandedOffOnceWhenTheTaskEndsInTheOrderRaised) {
  auto callbacks = CountingQueue::make();
  auto work = DispatchQueue::serial("test.work");
  FEventRaiser raiser(callbacks);
  std::vector<std::string> seen;
  auto registration = std::make_shared<const FValueEventRegistration>(
      nullptr, 7, [&](const ZIRDataSnapshotRef& snapshot) { seen.push_back(value::toJSON(snapshot->value())); },
      nullptr);
  size_t queuedDuringTheTask = 99;
  work->sync([&] {
    raiser.raiseEvents(valueEvent(registration, "1"));
    raiser.raiseCallback([&] { seen.push_back("callback"); });
    raiser.raiseEvents(valueEvent(registration, "2"));
    raiser.raiseCallbacks({[&] { seen.push_back("callback 2"); }});
    queuedDuringTheTask = callbacks->pending.size();
  });
  EXPECT_EQ(queuedDuringTheTask, 0u);
  // One hand-off for the four, made before the sync caller went on.
  ASSERT_EQ(callbacks->pending.size(), 1u);
  callbacks->drain();
  EXPECT_EQ(seen, (Strings{"1", "callback", "2", "callback 2"}));

  // Outside a task each is handed off at once.
  seen.clear();
  raiser.raiseEvents(valueEvent(registration, "3"));
  raiser.raiseCallback([&] { seen.push_back("callback 3"); });
  EXPECT_EQ(callbacks->pending.size(), 2u);
  callbacks->drain();
  EXPECT_EQ(seen, (Strings{"3", "callback 3"}));
}

TEST(EventRaiserTest, CallbacksRunOnTheirQueueAfterWhatCameBeforeAndBeforeWhatTheTaskQueuesAfterAHandOff) {
  auto work = DispatchQueue::serial("test.work");
  auto callbacks = DispatchQueue::serial("test.callbacks");
  auto other = DispatchQueue::serial("test.other");
  FEventRaiser raiser(callbacks);
  std::mutex mutex;
  std::vector<std::string> seen;
  auto record = [&](const std::string& line, const DispatchQueueRef& expected) {
    return [&, line, expected] {
      std::lock_guard<std::mutex> lock(mutex);
      seen.push_back(expected->isCurrent() ? line : line + " on the wrong queue");
    };
  };
  callbacks->async(record("queued before", callbacks));
  work->sync([&] {
    raiser.raiseCallback(record("first", callbacks));
    raiser.raiseCallback([] { throw std::runtime_error("a callback threw"); });
    FEventRaiser::raiseCallbacks({record("elsewhere", other)}, other);
    raiser.raiseCallback(record("second", callbacks));
    // Code about to queue onto the callback queue itself hands off what is pending first.
    FEventRaiser::handOffPending();
    callbacks->async(record("queued by the task", callbacks));
    raiser.raiseCallback(record("third", callbacks));
  });
  callbacks->sync([] {});
  other->sync([] {});
  std::lock_guard<std::mutex> lock(mutex);
  Strings onCallbacks;
  for (const std::string& line : seen) {
    if (line != "elsewhere") onCallbacks.push_back(line);
  }
  EXPECT_EQ(onCallbacks, (Strings{"queued before", "first", "second", "queued by the task", "third"}));
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "elsewhere"), 1);
}
