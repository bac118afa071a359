// Transactions end to end against the in-process server: committing, aborting, rerunning on stale
// data, giving up after 25 sends, sets and purges that cut in, several transactions sent as one
// put, results hidden from local listeners, server values in results, and the persistence note.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/foundation/Clock.h"
#include "tests/sdk/database/persistence/PersistenceTestSupport.h"
#include "tests/sdk/database/repo/RepoTestSupport.h"
#include "tests/support/LogCapture.h"

using namespace repotest;

namespace {

class TransactionTest : public RepoTest {
 protected:
  // An update block that adds `step` to the number there (0 for no data), counting its runs.
  static ZIRDatabaseReference::TransactionUpdateBlock increment(std::shared_ptr<std::atomic<int>> runs,
                                                                int64_t step = 1) {
    return [runs, step](const ZIRMutableDataRef& data) {
      ++*runs;
      const Value current = data->value();
      data->setValue(Value((current.is_number() ? current.get<int64_t>() : 0) + step));
      return ZIRTransactionResult::successWithValue(data);
    };
  }
  // "<error or none> <committed> <snapshot value or ->".
  static ZIRDatabaseReference::TransactionCompletionBlock recordResult(const RecorderRef& recorder) {
    return [recorder](const NSErrorRef& error, bool committed, const ZIRDataSnapshotRef& snapshot) {
      recorder->add(errorText(error) + " " + (committed ? "YES" : "NO") + " " +
                    (snapshot ? json(snapshot->value()) : std::string("-")));
    };
  }
  // Runs increment(runs, step) at `path`; returns the recorder of its completion.
  static RecorderRef runIncrement(const std::shared_ptr<ZIRDatabase>& database, const char* path,
                                  std::shared_ptr<std::atomic<int>> runs, int64_t step = 1) {
    auto results = std::make_shared<Recorder>();
    database->referenceWithPath(path)->runTransactionBlock(increment(std::move(runs), step), recordResult(results));
    return results;
  }
  // A transaction at `path` that leaves the data as it is, its result hidden from local listeners.
  static void runHiddenUnchanged(const std::shared_ptr<ZIRDatabase>& database, const char* path) {
    database->referenceWithPath(path)->runTransactionBlock(
        [](const ZIRMutableDataRef& data) { return ZIRTransactionResult::successWithValue(data); }, nullptr,
        /*localEvents=*/false);
  }
  // A transaction at `path` whose block writes how often it has run.
  static void runWritingRunCount(const std::shared_ptr<ZIRDatabase>& database, const char* path,
                                 std::shared_ptr<std::atomic<int>> runs) {
    database->referenceWithPath(path)->runTransactionBlock([runs](const ZIRMutableDataRef& data) {
      data->setValue(Value(++*runs));
      return ZIRTransactionResult::successWithValue(data);
    });
  }
  std::vector<Value> puts(const std::string& path) {
    std::vector<Value> out;
    for (const Value& request : server_->requestsWithAction("p")) {
      if (request["frame"]["b"].value("p", "") == path) out.push_back(request["frame"]["b"]);
    }
    return out;
  }
  bool hasSyncPointAt(const std::shared_ptr<ZIRDatabase>& database, const char* path) {
    bool found = false;
    onWorkQueue([&] {
      found = database->repo()->serverSyncTree()->syncPointTree()->valueAtPath(*FPath::pathWithString(path)).has_value();
    });
    return found;
  }
  bool transactionsPending(const std::shared_ptr<ZIRDatabase>& database) {
    bool pending = true;
    onWorkQueue([&] { pending = !database->repo()->transactionQueueTree()->isEmpty(); });
    return pending;
  }
};

}  // namespace

TEST_F(TransactionTest, ACommittedTransactionReachesTheServerAndTheCompletion) {
  server_->setValue("/counter", Value(5));
  auto database = makeDatabase();
  auto runs = std::make_shared<std::atomic<int>>(0);
  auto results = runIncrement(database, "counter", runs);
  ASSERT_TRUE(waitFor([&] { return results->size() == 1; }, 20.0));
  EXPECT_EQ(results->all(), (Strings{"none YES 6"}));
  EXPECT_EQ(server_->valueAt("/counter"), Value(6));
  EXPECT_FALSE(transactionsPending(database));
}

TEST_F(TransactionTest, AnUpdateBlockThatAbortsAtOnceSendsNothingAndStopsListening) {
  server_->setValue("/counter", Value(5));
  auto database = makeDatabase();
  auto values = std::make_shared<Recorder>();
  ZIRDatabaseHandle handle = recordValues(database->referenceWithPath("counter"), values);
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }, 20.0));
  auto results = std::make_shared<Recorder>();
  database->referenceWithPath("counter")->runTransactionBlock(
      [](const ZIRMutableDataRef&) { return ZIRTransactionResult::abort(); }, recordResult(results));
  ASSERT_TRUE(waitFor([&] { return results->size() == 1; }));
  EXPECT_EQ(results->all(), (Strings{"none NO 5"}));
  settle();
  EXPECT_TRUE(puts("/counter").empty());
  // Its temporary listener is gone: with the user's listener removed too, nothing listens there.
  database->referenceWithPath("counter")->removeObserverWithHandle(handle);
  settle();
  EXPECT_FALSE(hasSyncPointAt(database, "/counter"));
}

TEST_F(TransactionTest, AnUpdateBlockThatThrowsCountsAsAnAbort) {
  auto database = makeDatabase({.online = false});
  auto results = std::make_shared<Recorder>();
  persistencetest::LoggedLines log;
  database->referenceWithPath("boom")->runTransactionBlock(
      [](const ZIRMutableDataRef&) -> ZIRTransactionResultRef { throw std::runtime_error("broken block"); },
      recordResult(results));
  ASSERT_TRUE(waitFor([&] { return results->size() == 1; }));
  EXPECT_EQ(results->all(), (Strings{"none NO null"}));
  EXPECT_TRUE(log.contains("the update block at /boom threw (broken block)"));
  EXPECT_FALSE(transactionsPending(database));
}

TEST_F(TransactionTest, StaleDataRerunsTheBlockOnTheNewValue) {
  RecorderRef values;
  auto database = databaseSeeing("counter", Value(1), values);
  ASSERT_TRUE(database);
  server_->makeConditionalPutsStale("/counter", 1);  // another client makes it 2 first
  auto runs = std::make_shared<std::atomic<int>>(0);
  auto results = runIncrement(database, "counter", runs);
  ASSERT_TRUE(waitFor([&] { return results->size() == 1; }));
  EXPECT_EQ(results->all(), (Strings{"none YES 3"}));
  EXPECT_EQ(runs->load(), 2);
  EXPECT_EQ(puts("/counter").size(), 2u);
  EXPECT_EQ(server_->valueAt("/counter"), Value(3));
  settle();
  EXPECT_EQ(values->last(), "value 3");
}

TEST_F(TransactionTest, DataThatStaysStaleStopsTheTransactionAfterTwentyFiveSends) {
  server_->setValue("/hot", Value(0));
  server_->makeConditionalPutsStale("/hot", 1000);
  auto database = makeDatabase();
  auto values = watchValues(database, "hot");
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }, 20.0));
  auto runs = std::make_shared<std::atomic<int>>(0);
  auto results = runIncrement(database, "hot", runs, 100);
  ASSERT_TRUE(waitFor([&] { return results->size() == 1; }, 30.0));
  EXPECT_EQ(runs->load(), 25);
  EXPECT_EQ(puts("/hot").size(), 25u);
  // The completion shows the value the block last ran on; locally the server's value stays.
  EXPECT_EQ(results->all(), (Strings{"maxretry NO 24"}));
  settle();
  EXPECT_EQ(values->last(), "value 25");
  EXPECT_FALSE(transactionsPending(database));
}

TEST_F(TransactionTest, ARefusedTransactionIsRevertedWithTheServersError) {
  server_->setValue("/locked", Value(1));
  server_->denyPath("/locked/inner");
  auto database = makeDatabase();
  auto values = watchValues(database, "locked");
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }, 20.0));
  auto runs = std::make_shared<std::atomic<int>>(0);
  auto results = runIncrement(database, "locked/inner", runs);
  ASSERT_TRUE(waitFor([&] { return results->size() == 1; }));
  EXPECT_EQ(results->all(), (Strings{"Permission denied at /locked/inner NO null"}));
  settle();
  EXPECT_EQ(values->all(), (Strings{"value 1", R"(value {"inner":1})", "value 1"}));
}

TEST_F(TransactionTest, ATransactionBelowAnUnansweredOneWaitsAndThenBothGoAsOnePutOldestFirst) {
  RecorderRef values;
  auto database = databaseSeeing("a", Value{{"n", 1}}, values);
  ASSERT_TRUE(database);

  server_->holdRequests(true, "p");
  auto results = std::make_shared<Recorder>();
  database->referenceWithPath("a")->runTransactionBlock(
      [](const ZIRMutableDataRef& data) {
        data->childDataByAppendingPath("n")->setValue(Value(10));
        data->childDataByAppendingPath("b")->setValue(Value("outer"));
        return ZIRTransactionResult::successWithValue(data);
      },
      recordResult(results));
  ASSERT_TRUE(waitFor([&] { return puts("/a").size() == 1; }));
  database->referenceWithPath("a/b")->runTransactionBlock(
      [](const ZIRMutableDataRef& data) {
        data->setValue(Value(data->value().get<std::string>() + "+inner"));
        return ZIRTransactionResult::successWithValue(data);
      },
      recordResult(results));
  settle();
  EXPECT_TRUE(puts("/a/b").empty()) << "sent while the put above it was unanswered";

  // The first put finds the data changed: both rerun and go out together as one put at /a.
  server_->makeConditionalPutsStale("/a", 1);
  server_->holdRequests(false, "p");
  ASSERT_TRUE(waitFor([&] { return results->size() == 2; }));
  EXPECT_EQ(results->all(), (Strings{R"(none YES {"b":"outer","n":10})", R"(none YES "outer+inner")"}));
  std::vector<Value> sent = puts("/a");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1]["d"], Value::parse(R"({"b": "outer+inner", "n": 10})"));
  EXPECT_TRUE(puts("/a/b").empty());
  EXPECT_EQ(server_->valueAt("/a"), Value::parse(R"({"b": "outer+inner", "n": 10})"));
}

TEST_F(TransactionTest, ASetCutsInAbortingUnsentTransactionsAtOnceAndSentOnesOnlyIfTheirPutFails) {
  RecorderRef values;
  auto database = databaseSeeing("t", Value{{"x", 1}}, values);
  ASSERT_TRUE(database);

  server_->holdRequests(true, "p");
  auto sentResult = std::make_shared<Recorder>();
  auto unsentResult = std::make_shared<Recorder>();
  auto runs = std::make_shared<std::atomic<int>>(0);
  database->referenceWithPath("t/x")->runTransactionBlock(increment(runs), recordResult(sentResult));
  ASSERT_TRUE(waitFor([&] { return puts("/t/x").size() == 1; }));
  // A second one at the same location waits behind the sent one.
  database->referenceWithPath("t/x")->runTransactionBlock(increment(runs, 10), recordResult(unsentResult));
  settle();

  database->referenceWithPath("t")->setValue(Value{{"x", 100}});
  ASSERT_TRUE(waitFor([&] { return unsentResult->size() == 1; }));
  EXPECT_EQ(unsentResult->all(), (Strings{"set NO -"}));
  EXPECT_TRUE(sentResult->all().empty());
  settle();
  EXPECT_EQ(values->last(), R"(value {"x":100})");

  // The sent one's put is answered "ok" first: it commits all the same.
  server_->holdRequests(false, "p");
  ASSERT_TRUE(waitFor([&] { return sentResult->size() == 1; }));
  EXPECT_EQ(sentResult->all(), (Strings{"none YES 2"}));
  ASSERT_TRUE(waitFor([&] { return server_->valueAt("/t") == Value{{"x", 100}}; }));
  settle();
  EXPECT_EQ(values->last(), R"(value {"x":100})");
}

TEST_F(TransactionTest, ASetBelowAWaitingTransactionAbortsItToo) {
  RecorderRef values;
  auto database = databaseSeeing("up", Value{{"x", 1}}, values);
  ASSERT_TRUE(database);
  server_->holdRequests(true, "p");
  auto first = std::make_shared<Recorder>();
  auto waiting = std::make_shared<Recorder>();
  auto replace = [](const ZIRMutableDataRef& data) {
    data->setValue(Value{{"x", 2}, {"y", 2}});
    return ZIRTransactionResult::successWithValue(data);
  };
  database->referenceWithPath("up")->runTransactionBlock(replace, recordResult(first));
  ASSERT_TRUE(waitFor([&] { return puts("/up").size() == 1; }));
  database->referenceWithPath("up")->runTransactionBlock(replace, recordResult(waiting));
  database->referenceWithPath("up/x")->setValue(Value(100));
  ASSERT_TRUE(waitFor([&] { return waiting->size() == 1; }));
  EXPECT_EQ(waiting->all(), (Strings{"set NO -"}));
  server_->holdRequests(false, "p");
  ASSERT_TRUE(waitFor([&] { return first->size() == 1; }));
  EXPECT_EQ(first->all(), (Strings{R"(none YES {"x":2,"y":2})"}));
  ASSERT_TRUE(waitFor([&] { return server_->valueAt("/up") == Value{{"x", 100}, {"y", 2}}; }));
}

TEST_F(TransactionTest, ASentTransactionThatASetMarkedAbortsWhenItsPutComesBackStale) {
  RecorderRef values;
  auto database = databaseSeeing("t", Value(1), values);
  ASSERT_TRUE(database);
  server_->holdRequests(true, "p");
  auto runs = std::make_shared<std::atomic<int>>(0);
  auto results = runIncrement(database, "t", runs);
  ASSERT_TRUE(waitFor([&] { return puts("/t").size() == 1; }));
  // Two sets in a row: the second finds the transaction already marked and must keep it queued.
  database->referenceWithPath("t")->setValue(Value("first set"));
  database->referenceWithPath("t")->setValue(Value("second set"));
  settle();
  EXPECT_TRUE(results->all().empty());
  server_->makeConditionalPutsStale("/t", 1);
  server_->holdRequests(false, "p");
  ASSERT_TRUE(waitFor([&] { return results->size() == 1; }));
  EXPECT_EQ(results->all(), (Strings{"set NO 1"}));
  EXPECT_EQ(runs->load(), 1);
  ASSERT_TRUE(waitFor([&] { return server_->valueAt("/t") == Value("second set"); }));
  settle();
  EXPECT_EQ(values->last(), R"(value "second set")");
  EXPECT_FALSE(transactionsPending(database));
}

TEST_F(TransactionTest, APurgeCancelsSentAndUnsentTransactionsOnceEach) {
  auto database = makeDatabase({.online = false});
  auto sent = std::make_shared<Recorder>();
  auto unsent = std::make_shared<Recorder>();
  auto runs = std::make_shared<std::atomic<int>>(0);
  database->referenceWithPath("p")->runTransactionBlock(increment(runs), recordResult(sent));
  database->referenceWithPath("p/child")->runTransactionBlock(increment(runs), recordResult(unsent));
  settle();
  testsupport::LogCapture queueLog;
  persistencetest::LoggedLines log;
  database->purgeOutstandingWrites();
  ASSERT_TRUE(waitFor([&] { return sent->size() == 1 && unsent->size() == 1; }));
  EXPECT_EQ(unsent->all(), (Strings{"Write cancelled by user NO -"}));
  EXPECT_EQ(sent->all(), (Strings{"Write cancelled by user NO null"}));
  settle();
  // A write reverted twice would raise for an unknown write id.
  EXPECT_FALSE(log.contains("threw"));
  EXPECT_FALSE(queueLog.contains("threw"));
  EXPECT_FALSE(transactionsPending(database));
}

TEST_F(TransactionTest, ResultsHiddenFromLocalListenersStayHiddenThroughRerunsAndRebuilds) {
  RecorderRef values;
  auto database = databaseSeeing("h", Value(1), values);
  ASSERT_TRUE(database);

  server_->holdRequests(true, "p");
  auto runs = std::make_shared<std::atomic<int>>(0);
  auto results = std::make_shared<Recorder>();
  database->referenceWithPath("h")->runTransactionBlock(
      [runs](const ZIRMutableDataRef& data) {
        ++*runs;
        data->setValue(Value(data->value().get<int64_t>() * 10));
        return ZIRTransactionResult::successWithValue(data);
      },
      recordResult(results), /*localEvents=*/false);
  ASSERT_TRUE(waitFor([&] { return puts("/h").size() == 1; }));
  // Two overlapping updates elsewhere: acknowledging the first rebuilds the visible writes.
  auto done = std::make_shared<Recorder>();
  database->referenceWithPath("g")->updateChildValues(Value{{"a", Value{{"x", 1}}}}, recordCompletion(done));
  database->referenceWithPath("g/a")->updateChildValues(Value{{"x", 2}}, recordCompletion(done));
  ASSERT_TRUE(waitFor([&] { return done->size() == 2; }));
  // Another client changes /h while the transaction's put waits: the hidden result must not show.
  server_->setValue("/h", Value(5));
  ASSERT_TRUE(waitFor([&] { return values->size() == 2; }));
  EXPECT_EQ(values->last(), "value 5");

  server_->holdRequests(false, "p");  // stale: reruns on 5
  ASSERT_TRUE(waitFor([&] { return results->size() == 1; }));
  EXPECT_EQ(results->all(), (Strings{"none YES 50"}));
  ASSERT_TRUE(waitFor([&] { return values->last() == "value 50"; }));
  EXPECT_EQ(values->all(), (Strings{"value 1", "value 5", "value 50"}));
}

TEST_F(TransactionTest, AServerValueInAResultIsSentAsAPlaceholderAndShownResolved) {
  auto database = makeDatabase();
  waitUntilConnected(database);
  server_->holdRequests(true, "p");
  auto seen = std::make_shared<std::atomic<double>>(0);
  database->referenceWithPath("stamp")->observeEventType(ZIRDataEventTypeValue, [seen](const ZIRDataSnapshotRef& s) {
    if (s->value().is_number()) *seen = s->value().get<double>();
  });
  const double before = Clock::now() * 1000.0;
  database->referenceWithPath("stamp")->runTransactionBlock([](const ZIRMutableDataRef& data) {
    data->setValue(Value{{".sv", "timestamp"}});
    return ZIRTransactionResult::successWithValue(data);
  });
  ASSERT_TRUE(waitFor([&] { return seen->load() != 0 && puts("/stamp").size() == 1; }));
  // The server clock is the local clock corrected by the offset the handshake measured, which is
  // off by the handshake's travel time.
  EXPECT_GE(seen->load(), before - 2000);
  EXPECT_LE(seen->load(), Clock::now() * 1000.0 + 2000);
  EXPECT_EQ(puts("/stamp")[0]["d"], (Value{{".sv", "timestamp"}}));
  server_->holdRequests(false, "p");
}

TEST_F(TransactionTest, WithPersistenceTheFirstTransactionNotesThatTransactionsAreNotKept) {
  auto database = makeDatabase({.online = false, .persistence = true});
  persistencetest::LoggedLines log;
  auto runs = std::make_shared<std::atomic<int>>(0);
  database->referenceWithPath("a")->runTransactionBlock(increment(runs));
  settle();
  EXPECT_TRUE(log.contains("I-RDB038020"));
  EXPECT_TRUE(log.contains("transactions *will not* be persisted across app restarts"));
}

TEST_F(TransactionTest, WithPersistenceOnlyTheFirstTransactionLogsTheNote) {
  auto database = makeDatabase({.online = false, .persistence = true});
  auto runs = std::make_shared<std::atomic<int>>(0);
  database->referenceWithPath("a")->runTransactionBlock(increment(runs));
  settle();
  persistencetest::LoggedLines log;
  database->referenceWithPath("b")->runTransactionBlock(increment(runs));
  settle();
  EXPECT_EQ(runs->load(), 2);
  EXPECT_FALSE(log.contains("I-RDB038020"));
}

TEST_F(TransactionTest, ServerDataThatRerunsAWaitingTransactionReachesListenersBeforeTheRerunsResult) {
  RecorderRef values;
  auto database = databaseSeeing("r/b", Value{{"n", 0}}, values);
  ASSERT_TRUE(database);

  // A hidden transaction at /r/b waits for its put; one below it waits to be sent, and reruns on
  // every change there. Its block writes how often it has run.
  server_->holdRequests(true, "p");
  runHiddenUnchanged(database, "r/b");
  ASSERT_TRUE(waitFor([&] { return puts("/r/b").size() == 1; }));
  auto runs = std::make_shared<std::atomic<int>>(0);
  runWritingRunCount(database, "r/b/n", runs);
  ASSERT_TRUE(waitFor([&] { return values->last() == R"(value {"n":1})"; }));

  // Another client's change shows with the first result and reruns the block: the listener must
  // see the rerun's result last.
  server_->setValue("/r/b/m", Value("x"));
  ASSERT_TRUE(waitFor([&] { return runs->load() == 2; }));
  settle();
  EXPECT_EQ(values->all(), (Strings{R"(value {"n":0})", R"(value {"n":1})", R"(value {"m":"x","n":1})",
                                    R"(value {"m":"x","n":2})"}));
  server_->holdRequests(false, "p");
}

TEST_F(TransactionTest, WhatAnUpdateBlockQueuesOnTheCallbackQueueComesAfterTheEventsRaisedBeforeIt) {
  // The server's change raises a value event and reruns the block in one go on the work queue;
  // the block queues a line onto the callback queue itself. The event was raised first, so its
  // listener must hear it first.
  server_->setValue("/r/b", Value{{"n", 0}});
  auto database = makeDatabase();
  auto lines = watchValues(database, "r/b");
  ASSERT_TRUE(waitFor([&] { return lines->size() == 1; }, 20.0));
  server_->holdRequests(true, "p");
  runHiddenUnchanged(database, "r/b");
  ASSERT_TRUE(waitFor([&] { return puts("/r/b").size() == 1; }));
  auto runs = std::make_shared<std::atomic<int>>(0);
  DispatchQueueRef callbacks = callbacks_;
  database->referenceWithPath("r/b/n")->runTransactionBlock([runs, lines, callbacks](const ZIRMutableDataRef& data) {
    const int run = ++*runs;
    callbacks->async([lines, run] { lines->add("block ran " + std::to_string(run)); });
    data->setValue(Value(run));
    return ZIRTransactionResult::successWithValue(data);
  });
  ASSERT_TRUE(waitFor([&] { return lines->contains(R"(value {"n":1})"); }));

  server_->setValue("/r/b/m", Value("x"));
  ASSERT_TRUE(waitFor([&] { return runs->load() == 2; }));
  settle();
  EXPECT_EQ(lines->all(), (Strings{R"(value {"n":0})", "block ran 1", R"(value {"n":1})", R"(value {"m":"x","n":1})",
                                   "block ran 2", R"(value {"m":"x","n":2})"}));
  server_->holdRequests(false, "p");
}

TEST_F(TransactionTest, ARefusedWriteThatRerunsAWaitingTransactionRevertsForListenersBeforeTheRerunsResult) {
  server_->setValue("/r/b", Value{{"n", 0}});
  server_->denyPath("/r/b/m");
  auto database = makeDatabase();
  auto values = watchValues(database, "r/b");
  ASSERT_TRUE(waitFor([&] { return values->size() == 1; }, 20.0));
  server_->holdRequests(true, "p");
  runHiddenUnchanged(database, "r/b");
  ASSERT_TRUE(waitFor([&] { return puts("/r/b").size() == 1; }));
  auto runs = std::make_shared<std::atomic<int>>(0);
  runWritingRunCount(database, "r/b/n", runs);
  ASSERT_TRUE(waitFor([&] { return values->last() == R"(value {"n":1})"; }));

  // The update reruns the block at once; its refusal reverts it and reruns the block again.
  auto done = std::make_shared<Recorder>();
  database->referenceWithPath("r/b")->updateChildValues(Value{{"m", "x"}}, recordCompletion(done));
  ASSERT_TRUE(waitFor([&] { return done->size() == 1 && runs->load() == 3; }))
      << runs->load() << " " << ::testing::PrintToString(done->all()) << ::testing::PrintToString(values->all());
  settle();
  EXPECT_EQ(done->all(), (Strings{"done Permission denied at /r/b/m"}));
  EXPECT_EQ(values->all(), (Strings{R"(value {"n":0})", R"(value {"n":1})", R"(value {"m":"x","n":1})",
                                    R"(value {"m":"x","n":2})", R"(value {"n":2})", R"(value {"n":3})"}));
  server_->holdRequests(false, "p");
}

TEST_F(TransactionTest, ATransactionTheServerCommittedBeforeAPurgeStillCompletesOnce) {
  // The server's "ok" waits in the connection while a listen is unanswered; a purge in between
  // has already removed the transaction's write locally.
  auto database = makeDatabase();
  waitUntilConnected(database);
  server_->holdRequests(true, "q");
  auto values = watchValues(database, "watched");
  auto runs = std::make_shared<std::atomic<int>>(0);
  auto results = runIncrement(database, "counter", runs);
  ASSERT_TRUE(waitFor([&] { return server_->valueAt("/counter") == Value(1); }));
  settle();
  database->purgeOutstandingWrites();
  settle();
  EXPECT_TRUE(results->all().empty());
  server_->holdRequests(false, "q");
  ASSERT_TRUE(waitFor([&] { return results->size() == 1; }));
  settle();
  EXPECT_EQ(results->all(), (Strings{"none YES 1"}));
  EXPECT_FALSE(transactionsPending(database));
}

TEST_F(TransactionTest, ATransactionTheServerRefusedBeforeAPurgeStillCompletesOnceWithTheRefusal) {
  server_->denyPath("/counter");
  auto database = makeDatabase();
  waitUntilConnected(database);
  server_->holdRequests(true, "q");
  auto values = watchValues(database, "watched");
  auto runs = std::make_shared<std::atomic<int>>(0);
  auto results = runIncrement(database, "counter", runs);
  ASSERT_TRUE(waitFor([&] { return puts("/counter").size() == 1; }));
  settle();
  database->purgeOutstandingWrites();
  settle();
  EXPECT_TRUE(results->all().empty());
  server_->holdRequests(false, "q");
  ASSERT_TRUE(waitFor([&] { return results->size() == 1; }));
  settle();
  EXPECT_EQ(results->all(), (Strings{"Permission denied at /counter NO null"}));
  EXPECT_FALSE(transactionsPending(database));
}
