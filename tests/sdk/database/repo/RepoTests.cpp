// The repository through the public objects against the in-process server (and offline): the
// ".info" location and the server time, writes with their acknowledgement, refusal and purge,
// listeners on default and filtered queries with their events in order, onDisconnect writes,
// one-time reads, going offline and online, restoring persisted writes, and server input that
// cannot be applied.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/database/persistence/FLevelDBStorageEngine.h"
#include "sdk/database/persistence/FPersistenceManager.h"
#include "sdk/database/snapshot/FIndexedNode.h"
#include "tests/sdk/database/persistence/PersistenceTestSupport.h"
#include "tests/sdk/database/repo/RepoTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualClock.h"

using namespace repotest;
using persistencetest::LoggedLines;

namespace {

// The debug lines of the database while it lives (database logging on).
class DebugLines {
 public:
  DebugLines() {
    previousLevel_ = ZIRLoggerCurrentLevel();
    ZIRSetLoggerLevel(ZIRLoggerLevel::Debug);
    FUtilities::setLoggingEnabled(true);
    zir_logger::setSinkForTesting([this](ZIRLoggerLevel, const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~DebugLines() {
    zir_logger::setSinkForTesting(nullptr);
    FUtilities::setLoggingEnabled(false);
    ZIRSetLoggerLevel(previousLevel_);
  }
  bool contains(const std::string& text) const {
    zir_logger::flush();
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

 private:
  ZIRLoggerLevel previousLevel_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

size_t countRequests(DatabaseTestServer& server, const std::string& action, const std::string& path) {
  size_t n = 0;
  for (const Value& request : server.requestsWithAction(action)) {
    if (request["frame"]["b"].value("p", "") == path) ++n;
  }
  return n;
}

// A one-time read's callback that records "<error or none> <json or ->".
auto recordRead(const RecorderRef& answers) {
  return [answers](const NSErrorRef& error, const ZIRDataSnapshotRef& snapshot) {
    answers->add(errorText(error) + " " + (snapshot ? json(snapshot->value()) : "-"));
  };
}

}  // namespace

// -- The ".info" location and the server clock --------------------------------------------------

TEST_F(RepoTest, InfoConnectedIsFalseFromTheStartAndTrueOnceTheConnectionIsUp) {
  server_->setAcceptingConnections(false);
  auto database = makeDatabase();
  auto events = watchValues(database, ".info/connected");
  ASSERT_TRUE(waitFor([&] { return events->size() == 1; }));
  EXPECT_EQ(events->all(), (Strings{"value false"}));

  server_->setAcceptingConnections(true);
  ASSERT_TRUE(waitFor([&] { return events->last() == "value true"; }, 20.0));
  server_->setAcceptingConnections(false);
  server_->dropConnections();
  ASSERT_TRUE(waitFor([&] { return events->last() == "value false"; }));
  EXPECT_EQ(events->all(), (Strings{"value false", "value true", "value false"}));
}

TEST_F(RepoTest, AnInfoLocationNeverSetIsNotAnsweredUntilItIsWritten) {
  auto database = makeDatabase({.online = false});
  auto events = watchValues(database, ".info/neverSet");
  settle();
  EXPECT_TRUE(events->all().empty());
  onWorkQueue([&] { database->repo()->updateInfo("neverSet", Value(5)); });
  ASSERT_TRUE(waitFor([&] { return events->size() == 1; }));
  EXPECT_EQ(events->all(), (Strings{"value 5"}));
}

TEST_F(RepoTest, TheServerTimeOffsetMovesServerTimeAndTimestampsAhead) {
  server_->setServerTimeOffsetMs(5000);
  auto database = makeDatabase();
  auto offsets = watchValues(database, ".info/serverTimeOffset");
  ASSERT_TRUE(waitFor([&] { return !offsets->all().empty(); }, 20.0));
  const double ahead = database->repo()->serverTime() - Clock::now();
  EXPECT_NEAR(ahead, 5.0, 1.5);  // less the handshake's travel time

  // The local copy of a timestamp placeholder uses the corrected clock; the server gets the
  // placeholder itself.
  server_->holdRequests(true, "p");
  auto ts = database->referenceWithPath("ts");
  std::shared_ptr<std::atomic<double>> seen = std::make_shared<std::atomic<double>>(0);
  ts->observeEventType(ZIRDataEventTypeValue, [seen](const ZIRDataSnapshotRef& snapshot) {
    if (snapshot->value().is_number()) *seen = snapshot->value().get<double>();
  });
  const double before = Clock::now() * 1000.0;
  ts->setValue(Value{{".sv", "timestamp"}});
  ASSERT_TRUE(waitFor([&] { return seen->load() != 0; }));
  const double after = Clock::now() * 1000.0;
  EXPECT_GE(seen->load(), before + 3500);
  EXPECT_LE(seen->load(), after + 6500);
  ASSERT_TRUE(waitFor([&] { return !server_->requestsWithAction("p").empty(); }));
  EXPECT_EQ(server_->requestsWithAction("p").back()["frame"]["b"]["d"], (Value{{".sv", "timestamp"}}));
}

TEST_F(RepoTest, AnIncrementAddsToTheValueShownAtTheLocation) {
  RecorderRef values;
  auto database = databaseSeeing("count", Value(10), values);
  ASSERT_TRUE(database);
  server_->holdRequests(true, "p");
  database->referenceWithPath("count")->setValue(Value{{".sv", Value{{"increment", 5}}}});
  database->referenceWithPath("fresh")->setValue(Value{{".sv", Value{{"increment", 5}}}});
  auto fresh = watchValues(database, "fresh");
  ASSERT_TRUE(waitFor([&] { return values->size() == 2 && fresh->size() == 1; }));
  EXPECT_EQ(values->last(), "value 15");
  EXPECT_EQ(fresh->last(), "value 5");  // nothing known there: the increment itself
}

// -- Writes -------------------------------------------------------------------------------------

TEST_F(RepoTest, SetUpdateAndRemoveReachTheServerAndTheListenersWithTheirCompletions) {
  auto database = makeDatabase();
  waitUntilConnected(database);
  auto items = database->referenceWithPath("items");
  auto values = std::make_shared<Recorder>();
  auto done = std::make_shared<Recorder>();
  recordValues(items, values);
  ASSERT_TRUE(waitFor([&] { return values->all() == Strings{"value null"}; }));

  items->setValue(Value{{"a", 1}, {"b", 2}}, recordCompletion(done));
  items->updateChildValues(Value{{"b", 3}, {"c/d", "x"}}, recordCompletion(done));
  items->child("a")->removeValue(recordCompletion(done));
  ASSERT_TRUE(waitFor([&] { return done->size() == 3; }));
  EXPECT_EQ(done->all(), (Strings{"done none", "done none", "done none"}));
  EXPECT_EQ(server_->valueAt("/items"), Value::parse(R"({"b": 3, "c": {"d": "x"}})"));
  settle();
  EXPECT_EQ(values->all(), (Strings{"value null", R"(value {"a":1,"b":2})", R"(value {"a":1,"b":3,"c":{"d":"x"}})",
                                    R"(value {"b":3,"c":{"d":"x"}})"}));
  EXPECT_EQ(countRequests(*server_, "p", "/items"), 1u);
  EXPECT_EQ(countRequests(*server_, "m", "/items"), 1u);
}

TEST_F(RepoTest, AnEmptyUpdateUsesNoWriteIdSendsNothingAndSucceeds) {
  auto database = makeDatabase();
  waitUntilConnected(database);
  auto done = std::make_shared<Recorder>();
  settle();
  const int64_t before = database->repo()->writeIdCounter();
  database->referenceWithPath("x")->updateChildValues(Value::object(), recordCompletion(done));
  database->referenceWithPath("x")->onDisconnectUpdateChildValues(Value::object(), recordCompletion(done));
  ASSERT_TRUE(waitFor([&] { return done->size() == 2; }));
  EXPECT_EQ(done->all(), (Strings{"done none", "done none"}));
  EXPECT_EQ(database->repo()->writeIdCounter(), before);
  EXPECT_TRUE(server_->requestsWithAction("m").empty());
  EXPECT_TRUE(server_->requestsWithAction("om").empty());
}

TEST_F(RepoTest, ARefusedSetShowsAtOnceThenRevertsAndTheCompletionGetsTheError) {
  server_->setValue("/shared", Value{{"keep", 1}});
  server_->denyPath("/shared/locked");
  auto database = makeDatabase();
  auto values = std::make_shared<Recorder>();
  auto done = std::make_shared<Recorder>();
  recordValues(database->referenceWithPath("shared"), values);
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }, 20.0));
  LoggedLines log;
  database->referenceWithPath("shared/locked")->setValue(Value(1), recordCompletion(done));
  ASSERT_TRUE(waitFor([&] { return done->size() == 1; }));
  settle();
  EXPECT_EQ(done->all(), (Strings{"done Permission denied at /shared/locked"}));
  EXPECT_EQ(values->all(), (Strings{R"(value {"keep":1})", R"(value {"keep":1,"locked":1})", R"(value {"keep":1})"}));
  EXPECT_TRUE(log.contains("setValue: or removeValue: at /shared/locked failed: permission_denied"));
}

TEST_F(RepoTest, PurgingCancelsPendingWritesWhichRevertLocally) {
  server_->setValue("/pending", Value("server"));
  auto database = makeDatabase();
  auto ref = database->referenceWithPath("pending");
  auto values = std::make_shared<Recorder>();
  auto done = std::make_shared<Recorder>();
  recordValues(ref, values);
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }, 20.0));
  server_->holdRequests(true, "p");
  ref->setValue(Value("local"), recordCompletion(done));
  settle();
  EXPECT_EQ(values->all(), (Strings{R"(value "server")", R"(value "local")"}));
  database->purgeOutstandingWrites();
  ASSERT_TRUE(waitFor([&] { return done->size() == 1; }));
  settle();
  EXPECT_EQ(done->all(), (Strings{"done Write cancelled by user"}));
  EXPECT_EQ(values->all(), (Strings{R"(value "server")", R"(value "local")", R"(value "server")"}));
}

TEST_F(RepoTest, AWriteTheServerAcceptedBeforeAPurgeStillCompletesOnceWithItsAnswer) {
  // The server's "ok" waits in the connection while a listen is unanswered; a purge in between
  // has already removed the write locally.
  auto database = makeDatabase();
  waitUntilConnected(database);
  server_->holdRequests(true, "q");
  auto values = watchValues(database, "watched");
  auto done = std::make_shared<Recorder>();
  database->referenceWithPath("written")->setValue(Value(1), recordCompletion(done));
  ASSERT_TRUE(waitFor([&] { return server_->valueAt("/written") == Value(1); }));
  settle();
  database->purgeOutstandingWrites();
  settle();
  EXPECT_TRUE(done->all().empty());
  server_->holdRequests(false, "q");
  ASSERT_TRUE(waitFor([&] { return done->size() == 1; }));
  settle();
  EXPECT_EQ(done->all(), (Strings{"done none"}));
}

TEST_F(RepoTest, GoingOfflineKeepsWritesPendingAndGoingOnlineSendsThem) {
  auto database = makeDatabase();
  waitUntilConnected(database);
  database->goOffline();
  ASSERT_TRUE(waitFor([&] { return !connected(database); }));
  auto done = std::make_shared<Recorder>();
  database->referenceWithPath("later")->setValue(Value("sent when online"), recordCompletion(done));
  settle();
  EXPECT_TRUE(done->all().empty());
  EXPECT_TRUE(server_->valueAt("/later").is_null());

  database->goOnline();
  ASSERT_TRUE(waitFor([&] { return done->size() == 1; }, 20.0));
  EXPECT_EQ(server_->valueAt("/later"), Value("sent when online"));

  // The class-wide calls reach every repository.
  ZIRDatabaseReference::goOffline();
  ASSERT_TRUE(waitFor([&] { return !connected(database); }));
  ZIRDatabaseReference::goOnline();
  waitUntilConnected(database);
}

// -- Pending writes while the server's data changes ---------------------------------------------

TEST_F(RepoTest, APriorityStaysWhenTheOnlyChildIsReplacedBeforeTheFirstWriteIsAcknowledged) {
  auto database = makeDatabase();
  waitUntilConnected(database);
  auto p = database->referenceWithPath("p");
  auto values = std::make_shared<Recorder>();
  p->observeEventType(ZIRDataEventTypeValue, [values](const ZIRDataSnapshotRef& snapshot) {
    values->add("value " + json(snapshot->valueInExportFormat()));
  });
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }));
  const auto shown = [](const char* text) { return "value " + json(Value::parse(text)); };

  server_->holdRequests(true, "p");
  auto done = std::make_shared<Recorder>();
  p->setValueAndPriority(Value{{"x", 1}}, Value(2), recordCompletion(done));
  p->child("y")->setValue(Value(1), recordCompletion(done));
  p->child("x")->removeValue(recordCompletion(done));
  settle();
  const Strings written{"value null", shown(R"({".priority":2,"x":1})"), shown(R"({".priority":2,"x":1,"y":1})"),
                        shown(R"({".priority":2,"y":1})")};
  EXPECT_EQ(values->all(), written);

  // The server takes the writes in order and acknowledges each: none of the acknowledgements
  // changes what the listener shows, since the server's data with the remaining writes laid over
  // it is what the writes showed.
  server_->holdRequests(false, "p");
  ASSERT_TRUE(waitFor([&] { return done->size() == 3; }));
  settle();
  EXPECT_EQ(done->all(), (Strings{"done none", "done none", "done none"}));
  EXPECT_EQ(server_->valueAt("/p"), Value::parse(R"({".priority":2,"y":1})"));
  EXPECT_EQ(values->all(), written);
}

TEST_F(RepoTest, AnUpdateReplacingTheOnlyChildKeepsThePriorityForTheWriterAndTheOtherListeners) {
  server_->setValue("/u", Value::parse(R"({".priority":2,"a":1})"));
  auto writer = makeDatabase({.name = "writer"});
  auto reader = makeDatabase({.name = "reader"});
  auto seen = [](const std::shared_ptr<ZIRDatabase>& database) {
    auto values = std::make_shared<Recorder>();
    database->referenceWithPath("u")->observeEventType(
        ZIRDataEventTypeValue,
        [values](const ZIRDataSnapshotRef& snapshot) { values->add(json(snapshot->valueInExportFormat())); });
    return values;
  };
  auto writerValues = seen(writer);
  auto readerValues = seen(reader);
  ASSERT_TRUE(waitFor([&] { return writerValues->size() == 1 && readerValues->size() == 1; }, 20.0));
  auto done = std::make_shared<Recorder>();
  writer->referenceWithPath("u")->updateChildValues(Value::parse(R"({"a":null,"b":1})"), recordCompletion(done));
  ASSERT_TRUE(waitFor([&] { return done->size() == 1 && readerValues->size() == 2; }));
  settle();
  const Strings expected{json(Value::parse(R"({".priority":2,"a":1})")),
                         json(Value::parse(R"({".priority":2,"b":1})"))};
  EXPECT_EQ(writerValues->all(), expected);
  EXPECT_EQ(readerValues->all(), expected);
  EXPECT_EQ(server_->valueAt("/u"), Value::parse(R"({".priority":2,"b":1})"));
}

TEST_F(RepoTest, AnUpdateWritingAPriorityBesideDataBelowItShowsThePriorityToListenersReadsAndTheServerAlike) {
  // The update writes the priority of a location that holds nothing yet, beside that location's
  // data: the priority lands once the data is there, for the writer's listener at once, in the
  // data the client reads for itself, after an unrelated refusal, for another client and on the
  // server.
  server_->setValue("/", Value{{"a", "z"}, {"b", 1}});
  server_->denyPath("/b");
  auto writer = makeDatabase({.name = "writer"});
  auto reader = makeDatabase({.name = "reader"});
  auto seen = [](const std::shared_ptr<ZIRDatabase>& database) {
    auto values = std::make_shared<Recorder>();
    database->reference()->observeEventType(ZIRDataEventTypeValue, [values](const ZIRDataSnapshotRef& snapshot) {
      values->add(json(snapshot->valueInExportFormat()));
    });
    return values;
  };
  auto writerValues = seen(writer);
  auto readerValues = seen(reader);
  ASSERT_TRUE(waitFor([&] { return writerValues->size() == 1 && readerValues->size() == 1; }, 20.0));
  const std::string withPriority = json(Value::parse(R"({"a":{"10":{".priority":0,"2":0}},"b":1})"));

  server_->holdRequests(true, "m");
  auto done = std::make_shared<Recorder>();
  writer->referenceWithPath("a")->updateChildValues(Value{{"10/.priority", 0}, {"10/2", 0}}, recordCompletion(done));
  settle();
  EXPECT_EQ(writerValues->last(), withPriority);
  FNodeRef read;
  onWorkQueue([&] { read = writer->repo()->serverSyncTree()->calcCompleteEventCacheAtPath(FPath::pathWithString("/a/10"), std::vector<int64_t>{}); });
  ASSERT_TRUE(read);
  EXPECT_EQ(json(read->valForExport(true)), json(Value::parse(R"({".priority":0,"2":0})")));

  auto refused = std::make_shared<Recorder>();
  writer->referenceWithPath("b")->setValue(Value(2), recordCompletion(refused));
  ASSERT_TRUE(waitFor([&] { return refused->size() == 1; }));
  settle();
  EXPECT_EQ(writerValues->last(), withPriority);

  server_->holdRequests(false, "m");
  ASSERT_TRUE(waitFor([&] { return done->size() == 1 && readerValues->size() == 2; }));
  settle();
  EXPECT_EQ(done->all(), Strings{"done none"});
  EXPECT_EQ(json(server_->valueAt("/")), withPriority);
  EXPECT_EQ(writerValues->last(), withPriority);
  EXPECT_EQ(readerValues->last(), withPriority);
}

TEST_F(RepoTest, ServerChildrenReplacingALeafBelowAPendingRemovalShowWithTheRemovalLaidOverThem) {
  server_->setValue("/lfp", Value{{"a", 8}, {"k", 1}});
  auto database = makeDatabase();
  auto lfp = database->referenceWithPath("lfp");
  auto values = std::make_shared<Recorder>();
  auto children = std::make_shared<Recorder>();
  recordValues(lfp, values);
  recordChildren(lfp, children);
  auto root = watchValues(database, "/");  // the leaf lies two keys below this one
  ASSERT_TRUE(waitFor([&] { return values->size() == 1 && root->size() == 1; }, 20.0));
  EXPECT_EQ(values->all(), (Strings{R"(value {"a":8,"k":1})"}));

  server_->holdRequests(true, "p");
  auto done = std::make_shared<Recorder>();
  lfp->child("a/n")->setValue(Value(), recordCompletion(done));
  settle();
  EXPECT_EQ(values->all(), (Strings{R"(value {"a":8,"k":1})"}));  // nothing below a plain value to remove

  // Another client's write turns the leaf into children while this client's removal is unanswered.
  server_->setValue("/lfp/a/n", Value(8));
  ASSERT_TRUE(waitFor([&] { return values->size() == 2 && root->size() == 2; }))
      << ::testing::PrintToString(values->all()) << ::testing::PrintToString(root->all());
  EXPECT_EQ(values->last(), R"(value {"k":1})");
  EXPECT_EQ(root->last(), R"(value {"lfp":{"k":1}})");
  EXPECT_EQ(children->all(), (Strings{"added a 8", "added k 1 prev=a", "removed a 8"}));

  server_->holdRequests(false, "p");
  ASSERT_TRUE(waitFor([&] { return done->size() == 1; }));
  settle();
  EXPECT_EQ(done->all(), (Strings{"done none"}));
  EXPECT_EQ(server_->valueAt("/lfp"), (Value{{"k", 1}}));
  EXPECT_EQ(values->all(), (Strings{R"(value {"a":8,"k":1})", R"(value {"k":1})"}));
  EXPECT_EQ(root->size(), 2u);
}

// -- Listeners ----------------------------------------------------------------------------------

TEST_F(RepoTest, ChildEventsComeRemovedAddedMovedChangedThenValue) {
  server_->setValue("/scores", Value{{"a", 1}, {"b", 2}, {"c", 3}});
  auto database = makeDatabase();
  auto byValue = database->referenceWithPath("scores")->queryOrderedByValue();
  auto events = std::make_shared<Recorder>();
  recordChildren(byValue, events);
  recordValues(byValue, events);
  ASSERT_TRUE(waitFor([&] { return events->size() == 4; }, 20.0));
  EXPECT_EQ(events->all(), (Strings{"added a 1", "added b 2 prev=a", "added c 3 prev=b", R"(value {"a":1,"b":2,"c":3})"}));

  events->clear();
  // One change that removes a, adds d and moves c to the front.
  server_->setValue("/scores", Value{{"b", 2}, {"c", -1}, {"d", 0}});
  ASSERT_TRUE(waitFor([&] { return events->size() == 5; }));
  EXPECT_EQ(events->all(), (Strings{"removed a 1", "added d 0 prev=c", "moved c -1", "changed c -1",
                                    R"(value {"b":2,"c":-1,"d":0})"}));
}

TEST_F(RepoTest, ALimitedQueryKeepsItsWindowAsChildrenComeAndGo) {
  server_->setValue("/list", Value{{"b", 2}, {"c", 3}, {"d", 4}});
  auto database = makeDatabase();
  auto firstTwo = database->referenceWithPath("list")->queryOrderedByKey()->queryLimitedToFirst(2);
  auto events = std::make_shared<Recorder>();
  recordChildren(firstTwo, events);
  recordValues(firstTwo, events);
  ASSERT_TRUE(waitFor([&] { return events->size() == 3; }, 20.0));
  EXPECT_EQ(events->all(), (Strings{"added b 2", "added c 3 prev=b", R"(value {"b":2,"c":3})"}));

  events->clear();
  server_->setValue("/list/a", Value(1));  // enters the window, pushing c out
  ASSERT_TRUE(waitFor([&] { return events->size() == 3; })) << ::testing::PrintToString(events->all());
  EXPECT_EQ(events->all(), (Strings{"removed c 3", "added a 1", R"(value {"a":1,"b":2})"}));

  events->clear();
  // A local removal: the window knows only its own children, so c comes back with the server's
  // answer.
  database->referenceWithPath("list/b")->removeValue();
  ASSERT_TRUE(waitFor([&] { return events->size() == 4; })) << ::testing::PrintToString(events->all());
  EXPECT_EQ(events->all(), (Strings{"removed b 2", R"(value {"a":1})", "added c 3 prev=a", R"(value {"a":1,"c":3})"}));
}

TEST_F(RepoTest, ARangedQuerySeesOnlyChildrenInItsRange) {
  server_->setValue("/temps", Value{{"mon", 12}, {"tue", 18}, {"wed", 25}, {"thu", 30}});
  auto database = makeDatabase();
  auto mild = database->referenceWithPath("temps")->queryOrderedByValue()->queryStartingAtValue(Value(15))
                  ->queryEndingAtValue(Value(26));
  auto values = std::make_shared<Recorder>();
  recordValues(mild, values);
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }, 20.0));
  EXPECT_EQ(values->last(), R"(value {"tue":18,"wed":25})");
  server_->setValue("/temps/thu", Value(20));
  ASSERT_TRUE(waitFor([&] { return values->size() == 2; }));
  EXPECT_EQ(values->last(), R"(value {"thu":20,"tue":18,"wed":25})");
  server_->setValue("/temps/mon", Value(13));  // stays outside: no event
  database->referenceWithPath("temps/tue")->setValue(Value(40));
  ASSERT_TRUE(waitFor([&] { return values->size() == 3; }));
  settle();
  EXPECT_EQ(values->all().back(), R"(value {"thu":20,"wed":25})");
  EXPECT_EQ(values->size(), 3u);
}

TEST_F(RepoTest, TheDataOfADeliveredValueEventGoesOnceANewerValueReplacesIt) {
  // The work queue keeps each value event's data until the callback queue has delivered it; what
  // it keeps must go once delivered, also after a callback that throws, not at the next event.
  auto database = makeDatabase({.online = false});
  auto location = database->referenceWithPath("location");
  auto versions = std::make_shared<std::vector<std::weak_ptr<const FIndexedNode>>>();
  location->observeEventType(ZIRDataEventTypeValue, [versions](const ZIRDataSnapshotRef& snapshot) {
    versions->push_back(snapshot->indexedNode());  // the callback queue's alone, read after a settle
    if (versions->size() <= 2) throw std::runtime_error("a listener that fails");
  });
  for (int set = 0; set < 5; ++set) {
    location->setValue(Value{{"a", set}, {"b", set * 2}});
    settle();
    ASSERT_EQ(versions->size(), static_cast<size_t>(set + 1));
    EXPECT_FALSE(versions->back().expired()) << "the location's current value";
    for (int older = 0; older < set; ++older) EXPECT_TRUE((*versions)[older].expired()) << older << " after " << set;
  }
}

TEST_F(RepoTest, AValueEventHeldUpOnACallbackQueueOfManyThreadsStaysWholeUntilItsCallbackEnds) {
  // The work queue keeps each value event it fires until the callback queue has delivered it. On
  // a queue that runs callbacks side by side, events delivered after one still running must not
  // take it with them when they are let go.
  callbacks_ = DispatchQueue::global();
  auto database = makeDatabase({.online = false});
  auto location = database->referenceWithPath("location");
  struct Seen {
    std::mutex mutex;
    Strings values;
    DispatchSemaphore release;
  };
  auto seen = std::make_shared<Seen>();
  location->observeEventType(ZIRDataEventTypeValue, [seen](const ZIRDataSnapshotRef& snapshot) {
    if (snapshot->value() == Value{{"n", 0}}) seen->release.wait(20.0);  // the first set's event
    const std::string value = json(snapshot->value());
    std::lock_guard<std::mutex> lock(seen->mutex);
    seen->values.push_back(value);
  });
  constexpr int kSets = 41;
  for (int set = 0; set < kSets; ++set) location->setValue(Value{{"n", set}});
  auto count = [&] {
    std::lock_guard<std::mutex> lock(seen->mutex);
    return seen->values.size();
  };
  ASSERT_TRUE(waitFor([&] { return count() == kSets - 1; }, 20.0)) << "the later callbacks ran";
  onWorkQueue([] {});  // the work queue has let go of what it was told was delivered
  onWorkQueue([] {});
  seen->release.signal();
  ASSERT_TRUE(waitFor([&] { return count() == kSets; }, 20.0));
  std::lock_guard<std::mutex> lock(seen->mutex);
  EXPECT_EQ(seen->values.back(), R"({"n":0})") << "the first event, delivered last, kept its snapshot";
}

TEST_F(RepoTest, RemovingAListenerStopsItsEventsAndWithdrawsTheListen) {
  auto database = makeDatabase();
  auto ref = database->referenceWithPath("watched");
  auto values = std::make_shared<Recorder>();
  ZIRDatabaseHandle handle = recordValues(ref, values);
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }, 20.0));
  ref->removeObserverWithHandle(handle);
  settle();
  ASSERT_TRUE(waitFor([&] { return server_->activeListens().empty(); }));
  server_->setValue("/watched", Value(1));
  settle();
  EXPECT_EQ(values->all(), (Strings{"value null"}));
}

// -- onDisconnect -------------------------------------------------------------------------------

TEST_F(RepoTest, AListenerAddedWhileOfflineAboveOthersBringsThemTheServersDataOnReconnecting) {
  // The window and the listener below are listened to on their own; the root's listener, added
  // while offline, covers them, and its listen replaces theirs on reconnecting. Meanwhile the
  // server lost the children they show, so that it holds what the client knows of the root.
  server_->setValue("/r", Value{{"a", {{"n", 1}}}, {"b", {{"n", 2}}}, {"c", {{"n", 3}}}});
  auto database = makeDatabase({.persistence = true});
  auto window = std::make_shared<Recorder>();
  auto below = std::make_shared<Recorder>();
  recordValues(database->referenceWithPath("r")->queryOrderedByChild("n")->queryLimitedToFirst(2), window);
  recordValues(database->referenceWithPath("r/a"), below);
  ASSERT_TRUE(waitFor([&] { return window->size() == 1 && below->size() == 1; }, 20.0));
  database->goOffline();
  ASSERT_TRUE(waitFor([&] { return !connected(database); }));
  auto root = std::make_shared<Recorder>();
  recordValues(database->reference(), root);
  server_->setValue("/r", Value());
  database->goOnline();
  waitUntilConnected(database);
  ASSERT_TRUE(waitFor([&] { return root->last() == "value null"; }));
  settle();
  EXPECT_EQ(window->last(), "value null");
  EXPECT_EQ(below->last(), "value null");
  // A write the client takes back (a purge) works the window out again from what it holds.
  server_->holdRequests(true, "p");
  database->referenceWithPath("w")->setValue(Value(1));
  settle();
  database->purgeOutstandingWrites();
  settle();
  server_->holdRequests(false, "p");
  settle();
  EXPECT_EQ(window->last(), "value null");
  EXPECT_EQ(below->last(), "value null");
}

TEST_F(RepoTest, OnDisconnectWritesApplyLocallyWhenTheConnectionDropsAndOnlyOnce) {
  auto database = makeDatabase();
  waitUntilConnected(database);
  auto status = database->referenceWithPath("status");
  auto seen = database->referenceWithPath("seen");
  auto statusValues = std::make_shared<Recorder>();
  auto seenAt = std::make_shared<std::atomic<double>>(0);
  recordValues(status, statusValues);
  seen->observeEventType(ZIRDataEventTypeValue, [seenAt](const ZIRDataSnapshotRef& snapshot) {
    const Value at = snapshot->value().is_object() ? snapshot->value().value("at", Value()) : Value();
    if (at.is_number()) *seenAt = at.get<double>();
  });
  auto done = std::make_shared<Recorder>();
  status->setValue(Value("online"), recordCompletion(done));
  status->onDisconnectSetValue(Value("offline"), recordCompletion(done));
  seen->onDisconnectUpdateChildValues(Value{{"at", Value{{".sv", "timestamp"}}}}, recordCompletion(done));
  ASSERT_TRUE(waitFor([&] { return done->size() == 3; }));
  EXPECT_EQ(done->all(), (Strings{"done none", "done none", "done none"}));

  server_->setAcceptingConnections(false);
  const double before = Clock::now() * 1000.0;
  server_->dropConnections();
  ASSERT_TRUE(waitFor([&] { return statusValues->last() == R"(value "offline")"; }));
  ASSERT_TRUE(waitFor([&] { return seenAt->load() != 0; }));
  // The server clock is the local clock corrected by the offset the handshake measured, which is
  // off by the handshake's travel time.
  EXPECT_GE(seenAt->load(), before - 2000);
  EXPECT_LE(seenAt->load(), Clock::now() * 1000.0 + 2000);

  // The store is empty now: a later disconnection applies nothing.
  status->setValue(Value("back"));
  settle();
  onWorkQueue([&] { database->repo()->runOnDisconnectEvents(); });
  settle();
  EXPECT_EQ(statusValues->last(), R"(value "back")");
}

TEST_F(RepoTest, AnOnDisconnectUpdateWritingAPriorityBesideItsDataAppliesLocallyAsTheServerAppliesIt) {
  auto database = makeDatabase();
  waitUntilConnected(database);
  auto values = std::make_shared<Recorder>();
  database->referenceWithPath("o")->observeEventType(ZIRDataEventTypeValue, [values](const ZIRDataSnapshotRef& snapshot) {
    values->add(json(snapshot->valueInExportFormat()));
  });
  auto done = std::make_shared<Recorder>();
  database->referenceWithPath("o")->onDisconnectUpdateChildValues(Value{{"10/.priority", 0}, {"10/2", 0}},
                                                                  recordCompletion(done));
  ASSERT_TRUE(waitFor([&] { return done->size() == 1 && values->size() == 1; }));
  server_->setAcceptingConnections(false);
  server_->dropConnections();
  const std::string withPriority = json(Value::parse(R"({"10":{".priority":0,"2":0}})"));
  EXPECT_TRUE(waitFor([&] { return values->last() == withPriority; })) << ::testing::PrintToString(values->all());
  EXPECT_EQ(json(server_->valueAt("/o")), withPriority);
}

TEST_F(RepoTest, CancellingOnDisconnectAtAParentForgetsTheWritesBelow) {
  auto database = makeDatabase();
  waitUntilConnected(database);
  auto room = database->referenceWithPath("room");
  auto values = std::make_shared<Recorder>();
  recordValues(room, values);
  auto done = std::make_shared<Recorder>();
  room->child("a")->onDisconnectSetValue(Value(1), recordCompletion(done));
  room->child("b")->onDisconnectSetValue(Value(2), recordCompletion(done));
  room->cancelDisconnectOperations(recordCompletion(done));
  ASSERT_TRUE(waitFor([&] { return done->size() == 3; }));
  server_->setAcceptingConnections(false);
  server_->dropConnections();
  ASSERT_TRUE(waitFor([&] { return !connected(database); }));
  settle();
  EXPECT_EQ(values->all(), (Strings{"value null"}));
  EXPECT_TRUE(server_->valueAt("/room").is_null());
}

// -- One-time reads -----------------------------------------------------------------------------

TEST_F(RepoTest, AReadOfDataAListenerHoldsAnswersAtOnceWithoutTheServer) {
  RecorderRef values;
  auto database = databaseSeeing("held", Value{{"x", 1}}, values);
  ASSERT_TRUE(database);
  auto answers = std::make_shared<Recorder>();
  database->referenceWithPath("held/x")->getData(recordRead(answers));
  ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }));
  EXPECT_EQ(answers->all(), (Strings{"none 1"}));
  EXPECT_TRUE(server_->requestsWithAction("g").empty());
}

TEST_F(RepoTest, AReadGoesToTheServerWhenNoListenerHoldsTheData) {
  server_->setValue("/remote", Value{{"y", 2}});
  auto database = makeDatabase();
  auto answers = std::make_shared<Recorder>();
  database->referenceWithPath("remote")->getData(recordRead(answers));
  ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }, 20.0));
  EXPECT_EQ(answers->all(), (Strings{R"(none {"y":2})"}));
  EXPECT_EQ(server_->requestsWithAction("g").size(), 1u);
}

TEST_F(RepoTest, AnOfflineReadFallsBackToThePersistedCacheOrFailsWithCodeOne) {
  server_->setValue("/cached", Value{{"z", 3}});
  {
    // A first session listens once, which leaves the data in the local cache.
    auto first = makeDatabase({.name = "cache", .online = true, .persistence = true});
    auto values = std::make_shared<Recorder>();
    ZIRDatabaseHandle handle = recordValues(first->referenceWithPath("cached"), values);
    ASSERT_TRUE(waitFor([&] { return values->size() == 1; }, 20.0));
    first->referenceWithPath("cached")->removeObserverWithHandle(handle);
    settle();
    FRepoManager::disposeRepos(first->config());
  }
  auto offline = makeDatabase({.name = "cache", .online = false, .persistence = true});
  auto answers = std::make_shared<Recorder>();
  auto record = [answers](const NSErrorRef& error, const ZIRDataSnapshotRef& snapshot) {
    answers->add(error ? std::to_string(error->code()) + " " + error->domain() + " " + error->localizedDescription() +
                             " (" + error->localizedFailureReason().value_or("") + ")"
                       : "none " + json(snapshot->value()));
  };
  offline->referenceWithPath("cached")->getData(record);
  offline->referenceWithPath("never")->getData(record);
  ASSERT_TRUE(waitFor([&] { return answers->size() == 2; }, 20.0));
  EXPECT_EQ(answers->all()[0], R"(none {"z":3})");
  EXPECT_EQ(answers->all()[1],
            "1 com.zirezize.core Unable to get latest value for query FQuerySpec (path: /never, params: {}), client "
            "offline with no active "
            "listeners and no matching disk cache entries (Client is offline.)");
}

TEST_F(RepoTest, ALimitedReadIsNotShownToTheLocationsListenersAsTheWholeLocation) {
  server_->setValue("/list", Value{{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}});
  auto database = makeDatabase();
  waitUntilConnected(database);
  // The location's listener is waiting for its data when the read of the first two arrives.
  server_->holdRequests(true, "q");
  auto values = watchValues(database, "list");
  auto answers = std::make_shared<Recorder>();
  database->referenceWithPath("list")->queryOrderedByKey()->queryLimitedToFirst(2)->getData(recordRead(answers));
  ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }, 20.0));
  EXPECT_EQ(answers->all(), (Strings{R"(none {"a":1,"b":2})"}));
  settle();
  EXPECT_TRUE(values->all().empty()) << "the location's listener saw the read's window as the whole location";

  server_->holdRequests(false, "q");
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }));
  EXPECT_EQ(values->all(), (Strings{R"(value {"a":1,"b":2,"c":3,"d":4})"}));
}

TEST_F(RepoTest, ALimitedReadKeepsTheLocationsCachedChildren) {
  server_->setValue("/list", Value{{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}});
  auto database = makeDatabase({.persistence = true});
  auto list = database->referenceWithPath("list");
  auto values = std::make_shared<Recorder>();
  ZIRDatabaseHandle handle = recordValues(list, values);
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }, 20.0));
  list->removeObserverWithHandle(handle);
  settle();

  auto answers = std::make_shared<Recorder>();
  list->queryOrderedByKey()->queryLimitedToFirst(2)->getData(recordRead(answers));
  ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }, 20.0));
  EXPECT_EQ(answers->all(), (Strings{R"(none {"a":1,"b":2})"}));
  Value cached;
  onWorkQueue([&] {
    cached = database->repo()->serverSyncTree()->persistenceServerCache(list->querySpec())->val();
  });
  EXPECT_EQ(cached, Value::parse(R"({"a": 1, "b": 2, "c": 3, "d": 4})"));
}

TEST_F(RepoTest, ALimitedReadWithPersistenceGivesALaterListenerOfTheQueryItsWindowAtOnce) {
  server_->setValue("/lq", Value{{"a", 1}, {"b", 2}, {"c", 3}});
  auto database = makeDatabase({.name = "limited-read", .persistence = true});
  auto last = database->referenceWithPath("lq")->queryOrderedByKey()->queryLimitedToLast(1);
  auto answers = std::make_shared<Recorder>();
  last->getData(recordRead(answers));
  ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }, 20.0));
  EXPECT_EQ(answers->all(), (Strings{R"(none {"c":3})"}));

  auto values = std::make_shared<Recorder>();
  recordValues(last, values);
  ASSERT_TRUE(waitFor([&] { return values->contains(R"(value {"c":3})"); }));
  // The listen has been answered: whatever it brought has been shown.
  ASSERT_TRUE(waitFor([&] { return server_->activeListens().size() == 1; }));
  settle();
  EXPECT_EQ(values->all(), (Strings{R"(value {"c":3})"}));
}

TEST_F(RepoTest, ALimitedReadWithPersistenceAnswersOfflineAfterARestart) {
  server_->setValue("/lq", Value{{"a", 1}, {"b", 2}, {"c", 3}});
  const DatabaseOptions online{.name = "limited-restart", .online = true, .persistence = true};
  {
    auto first = makeDatabase(online);
    auto answers = std::make_shared<Recorder>();
    first->referenceWithPath("lq")->queryOrderedByKey()->queryLimitedToLast(1)->getData(recordRead(answers));
    ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }, 20.0));
    EXPECT_EQ(answers->all(), (Strings{R"(none {"c":3})"}));
    settle();
    FRepoManager::disposeRepos(first->config());
  }
  auto offline = makeDatabase({.name = "limited-restart", .online = false, .persistence = true});
  auto last = offline->referenceWithPath("lq")->queryOrderedByKey()->queryLimitedToLast(1);
  auto answers = std::make_shared<Recorder>();
  last->getData(recordRead(answers));
  ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }, 20.0));
  EXPECT_EQ(answers->all(), (Strings{R"(none {"c":3})"}));
  auto values = std::make_shared<Recorder>();
  recordValues(last, values);
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }));
  settle();
  EXPECT_EQ(values->all(), (Strings{R"(value {"c":3})"}));
}

TEST_F(RepoTest, AnOfflineReadAnswersWhatItsQuerySelectsOnlyFromDataStoredCompleteForIt) {
  server_->setValue("/m", Value{{"a", 1}, {"b", 2}, {"c", 3}});
  auto firstTwo = [](const std::shared_ptr<ZIRDatabase>& d) {
    return d->referenceWithPath("m")->queryLimitedToFirst(2);
  };
  auto reads = [](const std::shared_ptr<ZIRDatabase>& d) {
    auto m = d->referenceWithPath("m");
    return std::vector<ZIRDatabaseQueryRef>{m->queryLimitedToLast(1),
                                            m->queryOrderedByKey()->queryStartingAtValue(Value("c")),
                                            m->queryOrderedByKey()->queryStartingAtValue(Value("z")), m,
                                            m->queryLimitedToFirst(2)};
  };
  // The connection gives an offline read up after 3 s of the clock.
  testsupport::ManualClock clock;
  auto readAll = [&](const std::shared_ptr<ZIRDatabase>& d) {
    auto answers = std::make_shared<Recorder>();
    for (const ZIRDatabaseQueryRef& query : reads(d)) {
      // One at a time: the answers come in the order of the reads.
      const size_t expected = answers->size() + 1;
      query->getData(recordRead(answers));
      settle();
      clock.advance(3.0);
      EXPECT_TRUE(waitFor([&] { return answers->size() == expected; }, 20.0));
    }
    return answers->all();
  };
  {
    auto first = makeDatabase({.name = "windows", .online = true, .persistence = true});
    auto answers = std::make_shared<Recorder>();
    firstTwo(first)->getData(recordRead(answers));
    ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }, 20.0));
    EXPECT_EQ(answers->all(), (Strings{R"(none {"a":1,"b":2})"}));
    settle();
    FRepoManager::disposeRepos(first->config());
  }
  {
    // Only the first two are stored: no other query's answer is known.
    auto offline = makeDatabase({.name = "windows", .online = false, .persistence = true});
    Strings answers = readAll(offline);
    ASSERT_EQ(answers.size(), 5u);
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_NE(answers[i].find("Unable to get latest value for query FQuerySpec (path: /m"), std::string::npos)
          << answers[i];
      EXPECT_NE(answers[i].find("client offline with no active listeners and no matching disk cache entries -"),
                std::string::npos)
          << answers[i];
    }
    EXPECT_EQ(answers[4], R"(none {"a":1,"b":2})");
    auto values = std::make_shared<Recorder>();
    recordValues(firstTwo(offline), values);
    ASSERT_TRUE(waitFor([&] { return values->size() == 1; }));
    EXPECT_EQ(values->all(), (Strings{R"(value {"a":1,"b":2})"}));
    FRepoManager::disposeRepos(offline->config());
  }
  {
    auto online = makeDatabase({.name = "windows", .online = true, .persistence = true});
    auto values = watchValues(online, "m");
    ASSERT_TRUE(waitFor([&] { return values->size() == 1; }, 20.0));
    settle();
    FRepoManager::disposeRepos(online->config());
  }
  // The whole location is stored: each read gets its own window of it.
  auto offline = makeDatabase({.name = "windows", .online = false, .persistence = true});
  EXPECT_EQ(readAll(offline), (Strings{R"(none {"c":3})", R"(none {"c":3})", "none null", R"(none {"a":1,"b":2,"c":3})",
                                       R"(none {"a":1,"b":2})"}));
}

// -- Restoring persisted writes -----------------------------------------------------------------

namespace {

constexpr const char* kRestoreFolder = "restore/test.example.com_testns";

// Hands the stored writes back in an order of its own, as a broken store could.
class ReorderingEngine : public FLevelDBStorageEngine {
 public:
  enum class Fault { Reverse, Duplicate, IdsBeyondTheRange };
  ReorderingEngine(const std::string& folder, Fault fault) : FLevelDBStorageEngine(folder), fault_(fault) {}
  std::vector<FWriteRecordRef> userWrites() override {
    std::vector<FWriteRecordRef> writes = FLevelDBStorageEngine::userWrites();
    if (fault_ == Fault::Reverse) {
      std::reverse(writes.begin(), writes.end());
    } else if (fault_ == Fault::IdsBeyondTheRange) {
      // Below and above every id a client hands out: the first would read as "nothing seen yet",
      // the last leaves no id after it.
      auto at = [](const char* path, int64_t id) {
        return std::make_shared<const FWriteRecord>(FPath::pathWithString(path),
                                                    FSnapshotUtilities::nodeFrom(Value("beyond")), id, true);
      };
      writes.insert(writes.begin(), at("/lowest", INT64_MIN));
      writes.push_back(at("/highest", INT64_MAX));
    } else if (!writes.empty()) {
      writes.push_back(writes.back());
    }
    return writes;
  }

 private:
  Fault fault_;
};

void storeWrites(const std::vector<std::pair<int64_t, const char*>>& writes) {
  FLevelDBStorageEngine engine(kRestoreFolder);
  for (const auto& [id, path] : writes) {
    engine.saveUserOverwrite(FSnapshotUtilities::nodeFrom(Value(std::string("w") + std::to_string(id))),
                             FPath::pathWithString(path), id);
  }
}

}  // namespace

TEST_F(RepoTest, StoredWritesAreReplayedAndResentInOrderAndTheNextIdFollowsThem) {
  storeWrites({{7, "/first"}, {9, "/second"}});
  auto database = makeDatabase({.name = "restore", .online = true, .persistence = true});
  ASSERT_TRUE(waitFor([&] { return server_->valueAt("/second") == Value("w9"); }, 20.0));
  EXPECT_EQ(server_->valueAt("/first"), Value("w7"));
  std::vector<Value> puts = server_->requestsWithAction("p");
  ASSERT_EQ(puts.size(), 2u);
  EXPECT_EQ(puts[0]["frame"]["b"]["p"], "/first");
  EXPECT_EQ(puts[1]["frame"]["b"]["p"], "/second");
  EXPECT_EQ(database->repo()->writeIdCounter(), 10);
  // Acknowledged, they leave the store.
  ASSERT_TRUE(waitFor([&] {
    size_t stored = 1;
    onWorkQueue([&] { stored = database->repo()->persistenceManager()->userWrites().size(); });
    return stored == 0;
  }));
}

TEST_F(RepoTest, StoredWritesOutOfOrderStopTheStartUp) {
  for (auto fault : {ReorderingEngine::Fault::Reverse, ReorderingEngine::Fault::Duplicate}) {
    storeWrites({{7, "/first"}, {9, "/second"}});
    testsupport::LogCapture log;
    auto engine = std::make_shared<ReorderingEngine>(kRestoreFolder, fault);
    auto database = makeDatabase({.name = fault == ReorderingEngine::Fault::Reverse ? "reverse" : "duplicate",
                                  .online = false,
                                  .persistence = true,
                                  .storageEngine = engine});
    settle();
    EXPECT_TRUE(log.contains("Restored writes were not in order!"));
    FRepoManager::disposeRepos(database->config());
    settle();
  }
}

TEST_F(RepoTest, AStoredWriteWhoseIdLeavesNoRoomAfterItIsSkippedAndTheOthersAreRestoredInOrder) {
  // From the leveldb store, which sets the record aside with its bytes...
  storeWrites({{7, "/first"}, {9, "/second"}});
  persistencetest::putRaw(FLevelDBStorageEngine::storageRoot() + "/" + kRestoreFolder,
                          FLevelDBStorageEngine::writeRecordKey(INT64_MAX),
                          R"({"id": 9223372036854775807, "path": "/highest", "o": "beyond"})");
  {
    LoggedLines log;
    auto database = makeDatabase({.name = "restore", .online = false, .persistence = true});
    auto values = watchValues(database, "second");
    settle();
    EXPECT_TRUE(log.contains("lies beyond the ids a client hands out"));
    EXPECT_EQ(values->all(), (Strings{R"(value "w9")"}));
    EXPECT_EQ(database->repo()->writeIdCounter(), 10);
    database->referenceWithPath("third")->setValue(Value("w10"));
    settle();
    std::vector<int64_t> stored;
    onWorkQueue([&] {
      for (const FWriteRecordRef& write : database->repo()->persistenceManager()->userWrites()) {
        stored.push_back(write->writeId());
      }
    });
    EXPECT_EQ(stored, (std::vector<int64_t>{7, 9, 10}));
    FRepoManager::disposeRepos(database->config());
    settle();
  }
  EXPECT_EQ(persistencetest::rawRecords(FLevelDBStorageEngine::storageRoot() + "/" + kRestoreFolder, "x:").size(), 1u);

  // ...and from a storage engine of the application's own, which hands back anything.
  LoggedLines log;
  auto engine = std::make_shared<ReorderingEngine>(kRestoreFolder, ReorderingEngine::Fault::IdsBeyondTheRange);
  auto database = makeDatabase({.name = "beyond", .online = true, .persistence = true, .storageEngine = engine});
  ASSERT_TRUE(waitFor([&] { return server_->valueAt("/third") == Value("w10"); }, 20.0));
  EXPECT_TRUE(log.contains("Skipping the stored write -9223372036854775808 at /lowest"));
  EXPECT_TRUE(log.contains("Skipping the stored write 9223372036854775807 at /highest"));
  std::vector<std::string> puts;
  for (const Value& put : server_->requestsWithAction("p")) puts.push_back(put["frame"]["b"]["p"].get<std::string>());
  EXPECT_EQ(puts, (std::vector<std::string>{"/first", "/second", "/third"}));
  EXPECT_EQ(database->repo()->writeIdCounter(), 11);
}

// -- Input that cannot be applied ---------------------------------------------------------------

TEST_F(RepoTest, ServerDataThatCannotBeAppliedIsLoggedAndDroppedAndTheClientKeepsServing) {
  server_->setValue("/q", Value{{"a", 1}, {"b", 2}});
  auto database = makeDatabase();
  auto limited = database->referenceWithPath("q")->queryOrderedByKey()->queryLimitedToFirst(1);
  auto values = std::make_shared<Recorder>();
  recordValues(limited, values);
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }, 20.0));
  std::optional<uint64_t> tag;
  onWorkQueue([&] { tag = database->repo()->serverSyncTree()->tagForQuery(limited->querySpec()); });
  ASSERT_TRUE(tag);

  LoggedLines log;
  // Data tagged for the query at /q but lying elsewhere.
  server_->sendRawFrame(R"({"t":"p","a":"d","b":{"p":"/elsewhere","d":5,"t":)" + std::to_string(*tag) + "}}");
  settle();
  ASSERT_TRUE(waitFor([&] { return log.contains("Dropping the server's data at /elsewhere"); }));

  auto done = std::make_shared<Recorder>();
  database->referenceWithPath("q/0a")->setValue(Value(0), recordCompletion(done));
  ASSERT_TRUE(waitFor([&] { return done->size() == 1 && values->last() == R"(value {"0a":0})"; }))
      << ::testing::PrintToString(values->all()) << ::testing::PrintToString(done->all());
  EXPECT_EQ(done->all(), (Strings{"done none"}));
}

// -- Background ---------------------------------------------------------------------------------

TEST_F(RepoTest, TheBackgroundNotificationWaitsForQueuedWorkOnlyWithPersistence) {
  auto without = makeDatabase({.name = "plain", .online = false});
  {
    DebugLines lines;
    settle();
    NSNotificationCenter::defaultCenter().postNotificationName("UIApplicationDidEnterBackgroundNotification");
    settle();
    EXPECT_FALSE(lines.contains("Entering background."));
  }
  auto with = makeDatabase({.name = "persisted", .online = false, .persistence = true});
  settle();
  DebugLines lines;
  NSNotificationCenter::defaultCenter().postNotificationName("UIApplicationDidEnterBackgroundNotification");
  settle();
  EXPECT_TRUE(lines.contains("Entering background.  Starting background task to finish work."));
  EXPECT_TRUE(lines.contains("Background task completed.  Queue time:"));
}
