// Child, value and keep-synced registrations: which changes they take, the events and cancel
// events they build, how they deliver them, and the generic event emitter.
#include <gtest/gtest.h>

#include <mutex>

#include "CountingQueue.h"
#include "EngineTestSupport.h"
#include "platform/foundation/NSException.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/database/core/FEventEmitter.h"
#include "sdk/database/core/FKeepSyncedEventRegistration.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/realtime/ZIRDatabaseQuery.h"

using namespace enginetest;

TEST(EventRegistrationTest, ChildRegistrationTakesOnlyTheTypesItHasCallbacksFor) {
  auto addedOnly = childRegistration(1, {FEventTypeChildAdded});
  EXPECT_TRUE(addedOnly->responseTo(FEventTypeChildAdded));
  for (FEventType type : {FEventTypeChildRemoved, FEventTypeChildChanged, FEventTypeChildMoved, FEventTypeValue}) {
    EXPECT_FALSE(addedOnly->responseTo(type)) << type;
  }
  FChildEventRegistration noCallbacks(nullptr, 2, std::nullopt, nullptr);
  EXPECT_FALSE(noCallbacks.responseTo(FEventTypeChildAdded));
  auto value = valueRegistration(3);
  EXPECT_TRUE(value->responseTo(FEventTypeValue));
  EXPECT_FALSE(value->responseTo(FEventTypeChildAdded));
  EXPECT_FALSE(FKeepSyncedEventRegistration::instance()->responseTo(FEventTypeValue));
}

TEST(EventRegistrationTest, SnapshotsAreForTheQueryPathOrTheChildPath) {
  auto q = defaultQuery("rooms/r1");
  auto child = allChildRegistration(1);
  auto event = child->createEventFrom(FChange(FEventTypeChildAdded, indexed("5"), "m").changeWithPrevKey("k"), q);
  auto data = std::static_pointer_cast<const FDataEvent>(event);
  EXPECT_EQ(data->snapshot()->ref()->path()->toString(), "/rooms/r1/m");
  EXPECT_EQ(data->snapshot()->key(), std::optional<std::string>("m"));
  EXPECT_EQ(data->prevName(), std::optional<std::string>("k"));
  EXPECT_EQ(event->path()->toString(), "/rooms/r1");
  EXPECT_EQ(event->description(), "event 0, data: 5");

  auto valueEvent = valueRegistration(2)->createEventFrom(FChange(FEventTypeValue, indexed(R"({"m":5})")), q);
  auto valueData = std::static_pointer_cast<const FDataEvent>(valueEvent);
  EXPECT_EQ(valueData->snapshot()->ref()->path()->toString(), "/rooms/r1");
  EXPECT_EQ(valueEvent->path()->toString(), "/rooms/r1");
  EXPECT_FALSE(valueData->prevName());
}

TEST(EventRegistrationTest, CancelEventsOnlyWithACancelCallback) {
  auto error = FUtilities::errorForStatus("permission_denied", std::nullopt);
  EXPECT_EQ(valueRegistration(1)->createCancelEventFromError(error, path("a")), nullptr);
  EXPECT_EQ(childRegistration(1, {FEventTypeChildAdded})->createCancelEventFromError(error, path("a")), nullptr);
  auto cancel = valueRegistration(1, true)->createCancelEventFromError(error, path("a/b"));
  ASSERT_TRUE(cancel);
  EXPECT_EQ(cancel->error(), error);
  EXPECT_EQ(cancel->path()->toString(), "/a/b");
  EXPECT_TRUE(cancel->isCancelEvent());
  EXPECT_EQ(cancel->description(), "/a/b: cancel");
  EXPECT_EQ(FKeepSyncedEventRegistration::instance()->createCancelEventFromError(error, path("a")), nullptr);
}

TEST(EventRegistrationTest, HandlesMatchEqualOrWildcardAndKeepSyncedOnlyItself) {
  auto one = valueRegistration(1);
  auto oneAgain = childRegistration(1, {FEventTypeChildAdded});
  auto two = valueRegistration(2);
  auto all = valueRegistration(kFEventRegistrationAllHandles);
  const auto& keepSynced = *FKeepSyncedEventRegistration::instance();
  EXPECT_TRUE(one->matches(*oneAgain));
  EXPECT_FALSE(one->matches(*two));
  EXPECT_TRUE(one->matches(*all));
  EXPECT_TRUE(all->matches(*two));
  EXPECT_FALSE(keepSynced.matches(*all));
  EXPECT_FALSE(one->matches(keepSynced));
  EXPECT_TRUE(keepSynced.matches(keepSynced));
  EXPECT_EQ(keepSynced.handle(), 9223372036854775806ULL);
  EXPECT_THROW(keepSynced.createEventFrom(FChange(FEventTypeValue, indexed("1")), defaultQuery("a")), NSException);
}

TEST(EventRegistrationTest, FiringSchedulesTheCallbackWithSnapshotAndPreviousKey) {
  auto queue = CountingQueue::make();
  std::vector<std::string> seen;
  FChildEventCallbacks callbacks;
  callbacks[FEventTypeChildChanged] = [&](const ZIRDataSnapshotRef& snapshot, const std::optional<std::string>& prev) {
    seen.push_back(*snapshot->key() + "=" + value::toJSON(snapshot->value()) + " after " + prev.value_or("-"));
  };
  NSErrorRef cancelled;
  auto registration = std::make_shared<const FChildEventRegistration>(
      nullptr, 1, callbacks, [&](const NSErrorRef& error) { cancelled = error; });
  auto event = registration->createEventFrom(
      FChange(FEventTypeChildChanged, indexed("2"), "b", indexed("1")).changeWithPrevKey("a"), defaultQuery("x"));
  event->fireEventOnQueue(queue);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(queue->drain(), 1u);
  EXPECT_EQ(seen, (Strings{"b=2 after a"}));

  auto error = FUtilities::errorForStatus("unavailable", std::nullopt);
  registration->createCancelEventFromError(error, path("x"))->fireEventOnQueue(queue);
  EXPECT_EQ(queue->drain(), 1u);
  EXPECT_EQ(cancelled, error);
  EXPECT_THROW(FKeepSyncedEventRegistration::instance()->fireEvent(event, queue), NSException);
}

TEST(EventRegistrationTest, CancelOnAChildRegistrationIsLoggedAsACancelValueEvent) {
  std::mutex mutex;
  std::vector<std::string> lines;
  zir_logger::setSinkForTesting([&](ZIRLoggerLevel, const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(line);
  });
  ZIRSetLoggerLevel(ZIRLoggerLevel::Debug);
  FUtilities::setLoggingEnabled(true);
  auto queue = CountingQueue::make();
  auto registration = childRegistration(1, {FEventTypeChildAdded}, true);
  registration->createCancelEventFromError(FUtilities::errorForStatus("x", std::nullopt), path("p/q"))
      ->fireEventOnQueue(queue);
  zir_logger::flush();
  FUtilities::setLoggingEnabled(false);
  ZIRSetLoggerLevel(ZIRLoggerLevel::Notice);
  zir_logger::setSinkForTesting(nullptr);
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("[Zirezize/Database][I-RDB061001] Raising cancel value event on /p/q"), std::string::npos)
      << lines[0];
}

namespace {
class CountingEmitter : public FEventEmitter {
 public:
  using FEventEmitter::FEventEmitter;
  Value getInitialEventForType(const std::string& type) override { return Value("initial " + type); }
};
}  // namespace

TEST(EventEmitterTest, ListenersGetTheInitialValueThenTriggeredOnesUntilRemoved) {
  EXPECT_THROW(FEventEmitter({}, CountingQueue::make()), NSException);
  auto queue = CountingQueue::make();
  auto emitter = std::make_shared<CountingEmitter>(std::vector<std::string>{"connected"}, queue);
  try {
    emitter->observeEventType("nope", [](const Value&) {});
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "InvalidEventType");
  }
  std::vector<std::string> seen;
  uint64_t handle = emitter->observeEventType("connected", [&](const Value& v) { seen.push_back(v.get<std::string>()); });
  ZIRDatabaseQuery::sharedQueue()->sync([] {});
  queue->drain();
  EXPECT_EQ(seen, (Strings{"initial connected"}));

  ZIRDatabaseQuery::sharedQueue()->sync([&] { emitter->triggerEventType("connected", Value("later")); });
  queue->drain();
  emitter->removeObserverForEventType("connected", handle);
  ZIRDatabaseQuery::sharedQueue()->sync([&] { emitter->triggerEventType("connected", Value("gone")); });
  EXPECT_EQ(queue->drain(), 0u);
  EXPECT_EQ(seen, (Strings{"initial connected", "later"}));

  auto base = std::make_shared<FEventEmitter>(std::vector<std::string>{"e"}, queue);
  EXPECT_THROW(base->getInitialEventForType("e"), NSException);
}
