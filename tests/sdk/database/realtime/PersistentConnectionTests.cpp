// The persistent connection against the in-process server: connecting and the server time,
// queued writes, purge, interrupt and resume, reconnection with back-off on a stepped clock,
// listens with their hashes, the one-time read's offline timeout, server refusals, onDisconnect
// requests, and server input that is malformed, too deep, or throws while applied.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "platform/foundation/Clock.h"
#include "sdk/database/core/FCompoundHash.h"
#include "sdk/database/core/FSyncTreeHash.h"
#include "sdk/database/realtime/FPersistentConnection.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/sdk/database/persistence/PersistenceTestSupport.h"
#include "tests/support/ManualClock.h"
#include "tests/support/WaitFor.h"
#include "tests/support/database/DatabaseTestServer.h"

using testsupport::DatabaseTestServer;
using testsupport::waitFor;

namespace {

// Everything the connection reports, in order.
class RecordingDelegate : public FPersistentConnectionDelegate {
 public:
  void onDataUpdate(FPersistentConnection&, const std::string& path, const Value& message, bool isMerge,
                    std::optional<uint64_t> tagId) override {
    if (path == throwAtPath()) throw std::runtime_error("data outside its query");
    Value event{{"event", isMerge ? "merge" : "data"}, {"path", path}, {"data", message}};
    if (tagId) event["tag"] = *tagId;
    record(event);
  }
  void onRangeMerge(const std::vector<FRangeMerge>& ranges, const std::string& path,
                    std::optional<uint64_t>) override {
    record(Value{{"event", "rangeMerge"}, {"path", path}, {"count", ranges.size()}});
  }
  void onConnect(FPersistentConnection&) override { record(Value{{"event", "connect"}}); }
  void onDisconnect(FPersistentConnection&) override { record(Value{{"event", "disconnect"}}); }
  void onServerInfoUpdate(FPersistentConnection&, const Value& updates) override {
    record(Value{{"event", "info"}, {"updates", updates}});
  }

  std::vector<Value> events(const std::string& kind = "") const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Value> out;
    for (const Value& e : events_) {
      if (kind.empty() || e["event"] == kind) out.push_back(e);
    }
    return out;
  }
  size_t count(const std::string& kind) const { return events(kind).size(); }

  // Data for this path makes onDataUpdate throw. Set by the test thread, read on the work queue.
  void setThrowAtPath(std::string path) {
    std::lock_guard<std::mutex> lock(mutex_);
    throwAtPath_ = std::move(path);
  }

 private:
  std::string throwAtPath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return throwAtPath_;
  }
  void record(Value event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
  }
  mutable std::mutex mutex_;
  std::vector<Value> events_;
  std::string throwAtPath_;
};

class NodeHash : public FSyncTreeHash {
 public:
  explicit NodeHash(FNodeRef node, bool describesDataBelow = true)
      : node_(std::move(node)), describesDataBelow_(describesDataBelow) {}
  std::string simpleHash() const override { return node_->dataHash(); }
  FCompoundHashRef compoundHash() const override { return FCompoundHash::fromNode(node_); }
  bool includeCompoundHash() const override { return FSnapshotUtilities::estimateSerializedNodeSize(node_) > 1024; }
  bool describesDataBelow() const override { return describesDataBelow_; }

 private:
  FNodeRef node_;
  bool describesDataBelow_;
};

// Answers handed to the connection's callbacks, collected across threads, in the order they came.
// Every callback holds the Answers it writes into by a shared pointer: the connection lives until
// TearDown, so a callback may still come after a failed wait has ended the test body, and what it
// reaches must still be alive then (never a local of the test body's frame).
class Answers {
 public:
  struct Answer {
    std::string label;  // which request (tests that follow several)
    std::string status;
    std::optional<std::string> reason;
    std::optional<Value> data;  // one-time reads
  };

  void add(Answer answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.push_back(std::move(answer));
  }
  std::vector<Answer> all() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return answers_;
  }
  size_t size() const { return all().size(); }
  std::vector<std::string> statuses() const {
    std::vector<std::string> out;
    for (const Answer& a : all()) out.push_back(a.status);
    return out;
  }
  // "label:status", with ":reason" after it when one was given and asked for.
  std::vector<std::string> notes(bool withReasons = true) const {
    std::vector<std::string> out;
    for (const Answer& a : all())
      out.push_back(a.label + ":" + a.status + (withReasons && a.reason ? ":" + *a.reason : ""));
    return out;
  }
  // The answer of the request with this label; none before it came.
  std::optional<Answer> find(const std::string& label) const {
    for (const Answer& a : all())
      if (a.label == label) return a;
    return std::nullopt;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Answer> answers_;
};
using AnswersRef = std::shared_ptr<Answers>;

AnswersRef makeAnswers() { return std::make_shared<Answers>(); }

// Callbacks of each kind that add what they are handed to `answers`, under `label`.
FPersistentConnection::StatusCallback onWritten(AnswersRef answers, std::string label = "") {
  return [answers = std::move(answers), label = std::move(label)](const std::string& status,
                                                                  const std::optional<std::string>& reason) {
    answers->add({label, status, reason, std::nullopt});
  };
}
FPersistentConnection::ListenCallback onListened(AnswersRef answers, std::string label = "") {
  return [answers = std::move(answers), label = std::move(label)](const std::string& status) {
    answers->add({label, status, std::nullopt, std::nullopt});
  };
}
FPersistentConnection::GetCallback onRead(AnswersRef answers, std::string label = "") {
  return [answers = std::move(answers), label = std::move(label)](
             const std::string& status, const std::optional<Value>& data, const std::optional<std::string>& reason) {
    answers->add({label, status, reason, data});
  };
}

class PersistentConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = DatabaseTestServer::create();
    config_ = std::make_shared<ZIRDatabaseConfig>("default");
    config_->setTransportFactory(server_->transportFactory());
    queue_ = DispatchQueue::serial("ZirezizeWorker");
    repoInfo_ = std::make_shared<const FRepoInfo>("test.example.com", true, "ns");
    connection_ = std::make_shared<FPersistentConnection>(repoInfo_, queue_, config_);
    delegate_ = std::make_shared<RecordingDelegate>();
    connection_->setDelegate(delegate_);
  }
  void TearDown() override {
    onQueue([&] { connection_.reset(); });
  }

  void onQueue(const std::function<void()>& work) { queue_->sync(work); }
  void open() { onQueue([&] { connection_->open(); }); }
  bool connected() {
    bool result = false;
    onQueue([&] { result = connection_->isConnected(); });
    return result;
  }
  void openAndWaitUntilConnected() {
    open();
    ASSERT_TRUE(waitFor([&] { return connected(); }));
  }
  // Moves the stepped clock and waits until every timer of the work queue that came due has run:
  // work already queued runs first (so timers it sets count from now), then a probe due at the
  // end of the step, then a second probe due a microsecond later, which the timer thread hands
  // over only after it has handed over everything due with the first.
  void stepClock(double seconds) {
    onQueue([] {});
    for (double step : {seconds, 1e-6}) {
      auto ran = std::make_shared<std::atomic<bool>>(false);
      queue_->after(step, [ran] { *ran = true; });
      Clock::advance(step);
      ASSERT_TRUE(waitFor([&] { return ran->load(); }));
    }
    onQueue([] {});
  }
  FQuerySpecRef query(const char* path, const char* params = "{}") {
    return std::make_shared<const FQuerySpec>(FPath::pathWithString(path),
                                              FQueryParams::fromQueryObject(Value::parse(params)));
  }

  std::shared_ptr<DatabaseTestServer> server_;
  ZIRDatabaseConfigRef config_;
  DispatchQueueRef queue_;
  FRepoInfoRef repoInfo_;
  std::shared_ptr<FPersistentConnection> connection_;
  std::shared_ptr<RecordingDelegate> delegate_;
};

}  // namespace

// -- Connecting -----------------------------------------------------------------------------------

TEST_F(PersistentConnectionTest, ConnectsAndReportsTheServerTimeOffsetThenTheConnection) {
  testsupport::ManualClock clock;
  server_->setServerTimeOffsetMs(5000);
  openAndWaitUntilConnected();
  ASSERT_TRUE(waitFor([&] { return delegate_->count("connect") == 1; }));
  std::vector<Value> events = delegate_->events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[0]["event"], "info");
  EXPECT_DOUBLE_EQ(events[0]["updates"]["serverTimeOffset"].get<double>(), 5000.0);
  EXPECT_EQ(events[1]["event"], "connect");
  EXPECT_EQ(server_->connectionAttempts(), (std::vector<std::string>{"wss://test.example.com/.ws?v=5&ns=ns"}));
}

TEST_F(PersistentConnectionTest, WithoutATransportTheClientStaysOfflineAndKeepsItsWrites) {
  config_ = std::make_shared<ZIRDatabaseConfig>("default");
  connection_ = std::make_shared<FPersistentConnection>(repoInfo_, queue_, config_);
  connection_->setDelegate(delegate_);
  AnswersRef answers = makeAnswers();
  onQueue([&] {
    connection_->open();
    connection_->putData(Value(1), "/a", std::nullopt, onWritten(answers));
  });
  EXPECT_FALSE(connected());
  onQueue([&] { connection_->purgeOutstandingWrites(); });
  EXPECT_EQ(answers->statuses(), (std::vector<std::string>{"write_canceled"}));
  EXPECT_TRUE(server_->connectionAttempts().empty());
}

TEST_F(PersistentConnectionTest, ARedirectedHostIsUsedAndForgottenWhenItCannotBeReached) {
  server_->setHandshakeHost(std::string("s1.example.com"));
  openAndWaitUntilConnected();
  EXPECT_EQ(repoInfo_->internalHost(), "s1.example.com");
  server_->setAcceptingConnections(false);
  server_->dropConnections();
  // The attempt to the redirected host never opens: back to the configured host.
  ASSERT_TRUE(waitFor([&] { return server_->connectionAttempts().size() >= 2; }));
  ASSERT_TRUE(waitFor([&] { return repoInfo_->internalHost() == "test.example.com"; }));
  EXPECT_EQ(server_->connectionAttempts()[1], "wss://s1.example.com/.ws?v=5&ns=ns&ls=session-1");
}

TEST_F(PersistentConnectionTest, ReconnectsWithAGrowingJitteredBackOffOnTheSteppedClock) {
  testsupport::ManualClock clock;
  server_->setAcceptingConnections(false);
  open();
  ASSERT_TRUE(waitFor([&] { return server_->connectionAttempts().size() == 1; }));  // the first is immediate

  // Step in 50 ms slices and note after how long each failed attempt is followed by the next.
  std::vector<double> waits;
  double waited = 0;
  size_t seen = 1;
  while (waits.size() < 6) {
    stepClock(0.05);
    waited += 0.05;
    size_t attempts = server_->connectionAttempts().size();
    ASSERT_LE(attempts, seen + 1) << "two attempts within one slice";
    if (attempts > seen) {
      waits.push_back(waited);
      waited = 0;
      seen = attempts;
    }
    ASSERT_LT(waited, 31.0);
  }
  double delay = FRetryHelper::kMinRetryDelayAfterFailure;
  for (double wait : waits) {
    EXPECT_GE(wait, 0.3 * delay - 1e-3);
    EXPECT_LE(wait, delay + 0.05 + 1e-3);
    delay = std::min(delay * FRetryHelper::kRetryExponent, FRetryHelper::kMaxRetryDelay);
  }

  // Once the server accepts again, the next attempt connects.
  server_->setAcceptingConnections(true);
  for (int i = 0; i < 400 && !connected(); ++i) stepClock(0.05);
  EXPECT_TRUE(connected());
}

TEST(RetryHelper, DelaysGrowByTheExponentUpToTheMaximumAndStartOverAfterASuccess) {
  double random = 0.5;
  FRetryHelper retry([&] { return random; });
  EXPECT_EQ(retry.nextDelay(), 0);
  EXPECT_DOUBLE_EQ(retry.nextDelay(), 0.3 + 0.7 * 0.5);
  random = 0;
  EXPECT_DOUBLE_EQ(retry.nextDelay(), 0.3 * 1.3);
  random = 0.999999;
  for (int i = 0; i < 30; ++i) retry.nextDelay();
  EXPECT_DOUBLE_EQ(retry.currentDelay(), 30.0);
  EXPECT_LE(retry.nextDelay(), 30.0);
  retry.signalSuccess();
  EXPECT_EQ(retry.nextDelay(), 0);
  random = 1.0 - 1e-12;
  EXPECT_NEAR(retry.nextDelay(), 1.0, 1e-9);
}

TEST_F(PersistentConnectionTest, InterruptClosesAndHoldsTheConnectionUntilEveryReasonIsGone) {
  openAndWaitUntilConnected();
  onQueue([&] {
    connection_->interruptForReason("repo_interrupt");
    connection_->interruptForReason("other");
  });
  EXPECT_FALSE(connected());
  EXPECT_EQ(delegate_->count("disconnect"), 1u);
  ASSERT_TRUE(waitFor([&] { return server_->openLinkCount() == 0; }));
  onQueue([&] { connection_->resumeForReason("repo_interrupt"); });
  EXPECT_EQ(server_->connectionAttempts().size(), 1u);
  onQueue([&] {
    EXPECT_TRUE(connection_->isInterruptedForReason("other"));
    connection_->resumeForReason("other");
  });
  ASSERT_TRUE(waitFor([&] { return connected(); }));
  EXPECT_EQ(delegate_->count("connect"), 2u);
}

// -- Writes ---------------------------------------------------------------------------------------

TEST_F(PersistentConnectionTest, WritesWaitForTheConnectionAndAreSentInOrder) {
  testsupport::ManualClock clock;
  server_->setAcceptingConnections(false);
  AnswersRef answers = makeAnswers();
  onQueue([&] {
    connection_->open();
    connection_->putData(Value(1), "/a", std::nullopt, onWritten(answers));
    connection_->mergeData(Value{{"b", 2}, {"c/d", 3}}, "/m", onWritten(answers));
    connection_->putData(Value("two"), "/a", std::nullopt, onWritten(answers));
  });
  ASSERT_TRUE(waitFor([&] { return server_->connectionAttempts().size() == 1; }));
  EXPECT_TRUE(server_->requests().empty());
  server_->setAcceptingConnections(true);
  for (int i = 0; i < 40 && !connected(); ++i) stepClock(0.05);
  ASSERT_TRUE(waitFor([&] { return answers->size() == 3; }));
  ASSERT_EQ(answers->statuses(), (std::vector<std::string>{"ok", "ok", "ok"}));
  EXPECT_EQ(server_->valueAt("/a"), Value("two"));
  EXPECT_EQ(server_->valueAt("/m"), Value::parse(R"({"b": 2, "c": {"d": 3}})"));
  std::vector<Value> puts = server_->requests();
  ASSERT_EQ(puts.size(), 3u);
  EXPECT_EQ(puts[0]["frame"]["a"], "p");
  EXPECT_EQ(puts[1]["frame"]["a"], "m");
  EXPECT_EQ(puts[2]["frame"]["b"]["d"], "two");
}

TEST_F(PersistentConnectionTest, WritesSentButUnansweredWhenTheLinkDropsAreSentAgain) {
  openAndWaitUntilConnected();
  server_->holdRequests(true);
  AnswersRef answers = makeAnswers();
  onQueue([&] { connection_->putData(Value(7), "/x", std::nullopt, onWritten(answers)); });
  ASSERT_TRUE(waitFor([&] { return server_->requestsWithAction("p").size() == 1; }));
  server_->dropConnections();  // the held put is lost with the link
  server_->holdRequests(false);
  ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }));
  EXPECT_EQ(answers->statuses()[0], "ok");
  EXPECT_EQ(server_->requestsWithAction("p").size(), 2u);
  EXPECT_EQ(server_->valueAt("/x"), Value(7));
}

TEST_F(PersistentConnectionTest, PurgeCancelsEveryOutstandingWriteInRequestOrderAndQueuedOnDisconnects) {
  openAndWaitUntilConnected();
  server_->holdRequests(true);
  AnswersRef answers = makeAnswers();
  onQueue([&] {
    connection_->putData(Value(1), "/a", std::nullopt, onWritten(answers, "put1"));
    connection_->mergeData(Value{{"x", 1}}, "/b", onWritten(answers, "merge2"));
    connection_->onDisconnectPutData(Value(3), FPath::pathWithString("/c"), onWritten(answers, "od3"));
    connection_->putData(Value(4), "/d", std::nullopt, onWritten(answers, "put4"));
    connection_->purgeOutstandingWrites();
  });
  EXPECT_EQ(answers->notes(), (std::vector<std::string>{"put1:write_canceled", "merge2:write_canceled",
                                                        "put4:write_canceled", "od3:write_canceled"}));
  // Answers the server gives afterwards find nothing to call.
  server_->holdRequests(false);
  onQueue([] {});
  ASSERT_TRUE(waitFor([&] { return server_->valueAt("/d") == Value(4); }));
  onQueue([] {});
  EXPECT_EQ(answers->size(), 4u);
}

TEST_F(PersistentConnectionTest, AStalePutAndADeniedPathAreRefusedWithTheServersStatus) {
  openAndWaitUntilConnected();
  server_->setValue("/counter", Value(1));
  server_->denyPath("/secret");
  AnswersRef answers = makeAnswers();
  const std::string currentHash = FSnapshotUtilities::nodeFrom(Value(1))->dataHash();
  const std::string staleHash = FSnapshotUtilities::nodeFrom(Value(0))->dataHash();
  onQueue([&] {
    connection_->putData(Value(2), "/counter", staleHash, onWritten(answers));
    connection_->putData(Value(2), "/counter", currentHash, onWritten(answers));
    connection_->putData(Value(3), "/secret/x", std::nullopt, onWritten(answers));
  });
  ASSERT_TRUE(waitFor([&] { return answers->size() == 3; }));
  EXPECT_EQ(answers->statuses(), (std::vector<std::string>{"datastale", "ok", "permission_denied"}));
  EXPECT_EQ(answers->all()[2].reason, std::optional<std::string>("Permission denied at /secret/x"));
  EXPECT_EQ(server_->valueAt("/counter"), Value(2));
  EXPECT_TRUE(server_->valueAt("/secret").is_null());
}

TEST_F(PersistentConnectionTest, OnDisconnectRequestsAreQueuedUntilConnectedAndRunByTheServerWhenTheLinkGoes) {
  testsupport::ManualClock clock;
  server_->setAcceptingConnections(false);
  AnswersRef answers = makeAnswers();
  onQueue([&] {
    connection_->open();
    connection_->onDisconnectPutData(Value("gone"), FPath::pathWithString("/presence"), onWritten(answers));
    connection_->onDisconnectMergeData(Value{{"a", 1}, {"b", 2}}, FPath::pathWithString("/m"), onWritten(answers));
    connection_->onDisconnectCancelPath(FPath::pathWithString("/m"), onWritten(answers));
  });
  ASSERT_TRUE(waitFor([&] { return server_->connectionAttempts().size() == 1; }));
  server_->setAcceptingConnections(true);
  for (int i = 0; i < 40 && !connected(); ++i) stepClock(0.05);
  ASSERT_TRUE(waitFor([&] { return answers->size() == 3; }));
  ASSERT_EQ(answers->statuses(), (std::vector<std::string>{"ok", "ok", "ok"}));
  server_->dropConnections();
  EXPECT_EQ(server_->valueAt("/presence"), Value("gone"));
  EXPECT_TRUE(server_->valueAt("/m").is_null());  // cancelled before the link went
}

// -- Listens --------------------------------------------------------------------------------------

TEST_F(PersistentConnectionTest, ListensCarryTagHashAndCompoundHashAndAreAnsweredAfterTheirData) {
  server_->setValue("/big", Value{{"text", std::string(2000, 'x')}});
  server_->setValue("/list", Value{{"a", 1}, {"b", 2}, {"c", 3}});
  openAndWaitUntilConnected();
  AnswersRef answers = makeAnswers();
  FNodeRef cached = FSnapshotUtilities::nodeFrom(Value{{"text", std::string(1500, 'y')}});
  onQueue([&] {
    connection_->listen(query("/big"), std::nullopt, std::make_shared<NodeHash>(cached),
                        onListened(answers));
    connection_->listen(query("/list", R"({"l": 2, "vf": "r", "i": ".value"})"), 7,
                        std::make_shared<NodeHash>(FSnapshotUtilities::nodeFrom(Value())),
                        onListened(answers));
  });
  ASSERT_TRUE(waitFor([&] { return answers->size() == 2; }));
  EXPECT_EQ(answers->statuses(), (std::vector<std::string>{"ok", "ok"}));

  std::vector<Value> listens = server_->requestsWithAction("q");
  ASSERT_EQ(listens.size(), 2u);
  const Value& big = listens[0]["frame"]["b"];
  EXPECT_EQ(big["h"], cached->dataHash());
  FCompoundHashRef compound = FCompoundHash::fromNode(cached);
  ASSERT_TRUE(big.contains("ch"));
  EXPECT_EQ(big["ch"]["hs"], Value(compound->hashes()));
  EXPECT_EQ(big["ch"]["ps"].size(), compound->posts().size());
  const Value& list = listens[1]["frame"]["b"];
  EXPECT_EQ(list["t"], 7);
  EXPECT_FALSE(list.contains("ch"));

  // The data came first, the tagged data filtered by the query.
  std::vector<Value> data = delegate_->events("data");
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[0]["path"], "/big");
  EXPECT_EQ(data[1]["tag"], 7);
  EXPECT_EQ(data[1]["data"], Value::parse(R"({"b": 2, "c": 3})"));
  Value dump;
  onQueue([&] { dump = connection_->dumpListens(); });
  EXPECT_EQ(dump.size(), 2u);

  // Later changes are pushed; an unlisten stops them.
  server_->setValue("/big/text", Value("short"));
  ASSERT_TRUE(waitFor([&] { return delegate_->count("data") == 3; }));
  EXPECT_EQ(delegate_->events("data")[2]["path"], "/big/text");
  onQueue([&] { connection_->unlisten(query("/big"), std::nullopt); });
  ASSERT_TRUE(waitFor([&] { return server_->activeListens().size() == 1; }));
}

TEST_F(PersistentConnectionTest, AListenWhoseHashesDoNotDescribeTheDataBelowCarriesNoneAndGetsTheServersData) {
  const Value big{{"text", std::string(2000, 'x')}};
  server_->setValue("/same", big);
  openAndWaitUntilConnected();
  AnswersRef answers = makeAnswers();
  // The cached node is the server's own: with its hashes the server would send nothing.
  onQueue([&] {
    connection_->listen(query("/same"), std::nullopt,
                        std::make_shared<NodeHash>(FSnapshotUtilities::nodeFrom(big), false), onListened(answers));
  });
  ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }));
  std::vector<Value> listens = server_->requestsWithAction("q");
  ASSERT_EQ(listens.size(), 1u);
  EXPECT_FALSE(listens[0]["frame"]["b"].contains("h"));
  EXPECT_FALSE(listens[0]["frame"]["b"].contains("ch"));
  std::vector<Value> data = delegate_->events("data");
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0]["path"], "/same");
}

TEST_F(PersistentConnectionTest, ListensAreSentAgainAfterAReconnectAndRevokedOnesFail) {
  openAndWaitUntilConnected();
  AnswersRef answers = makeAnswers();
  onQueue([&] {
    connection_->listen(query("/a"), std::nullopt, nullptr,
                        onListened(answers));
  });
  ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }));
  server_->dropConnections();
  ASSERT_TRUE(waitFor([&] { return server_->requestsWithAction("q").size() == 2; }));
  ASSERT_TRUE(waitFor([&] { return answers->size() == 2; }));
  server_->revokeListens("/a");
  ASSERT_TRUE(waitFor([&] { return answers->size() == 3; }));
  EXPECT_EQ(answers->statuses()[2], "permission_denied");
  Value dump;
  onQueue([&] { dump = connection_->dumpListens(); });
  EXPECT_TRUE(dump.empty());
}

TEST_F(PersistentConnectionTest, APutAnsweredWhileAListenIsUnansweredIsHeldBackUntilTheListenIsAnswered) {
  openAndWaitUntilConnected();
  AnswersRef answers = makeAnswers();
  server_->holdRequests(true, "q");
  onQueue([&] {
    connection_->listen(query("/l"), std::nullopt, nullptr, onListened(answers, "listen"));
    connection_->putData(Value(1), "/p", std::nullopt, onWritten(answers, "put"));
  });
  // The server answers the put while the listen waits; the answer has reached the connection.
  ASSERT_TRUE(waitFor([&] { return server_->valueAt("/p") == Value(1); }));
  onQueue([] {});
  EXPECT_EQ(answers->size(), 0u);
  server_->holdRequests(false, "q");
  ASSERT_TRUE(waitFor([&] { return answers->size() == 2; }));
  EXPECT_EQ(answers->notes(false), (std::vector<std::string>{"listen:ok", "put:ok"}));
}

// -- One-time reads -------------------------------------------------------------------------------

TEST_F(PersistentConnectionTest, AOneTimeReadOfflineFailsAfterThreeSecondsOnTheSteppedClock) {
  testsupport::ManualClock clock;
  server_->setAcceptingConnections(false);
  AnswersRef answers = makeAnswers();
  onQueue([&] {
    connection_->open();
    connection_->getDataAtPath("/a", Value::object(), onRead(answers));
  });
  stepClock(2.95);
  EXPECT_EQ(answers->size(), 0u);
  stepClock(0.05);
  ASSERT_EQ(answers->size(), 1u);
  const Answers::Answer answer = answers->all()[0];
  EXPECT_EQ(answer.status, "failed");
  EXPECT_EQ(answer.reason, std::optional<std::string>("Client is offline."));
  EXPECT_FALSE(answer.data.has_value());
}

TEST_F(PersistentConnectionTest, AOneTimeReadWhileConnectedGetsTheQuerysData) {
  server_->setValue("/list", Value{{"a", 3}, {"b", 1}, {"c", 2}});
  openAndWaitUntilConnected();
  AnswersRef answers = makeAnswers();
  onQueue([&] {
    connection_->getDataAtPath("/list", Value::parse(R"({"l": 1, "vf": "l", "i": ".value"})"), onRead(answers));
  });
  ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }));
  const Answers::Answer answer = answers->all()[0];
  EXPECT_EQ(answer.status, "ok");
  EXPECT_EQ(answer.data, std::optional<Value>(Value::parse(R"({"b": 1})")));
}

// -- Server input ---------------------------------------------------------------------------------

TEST_F(PersistentConnectionTest, MalformedFramesAndInputThatThrowsWhileAppliedAreDroppedAndTheConnectionCarriesOn) {
  openAndWaitUntilConnected();
  delegate_->setThrowAtPath("/poison");
  for (const std::string& frame : {std::string("not json"), std::string("[1,2]"), std::string(R"({"t": 5})"),
                                   std::string(R"({"t": "p", "a": "d"})"), std::string(R"({"t": "p", "a": "d", "b": {"p": 1}})"),
                                   std::string(R"({"t": "p", "a": "d", "b": {"p": "/x", "t": -1}})"),
                                   std::string(R"({"t": "p", "a": "m", "b": {"p": "/x", "d": 5}})"),
                                   std::string(R"({"t": "p", "a": "rm", "b": {"p": "/x", "d": [{"s": 5, "m": 1}]}})"),
                                   std::string(R"({"t": "p", "a": "d", "b": {"p": "/poison", "d": 1}})"),
                                   std::string(R"({"t": "r", "r": 999999, "s": "ok"})"),
                                   std::string(R"({"t": "r", "r": "x"})"), std::string(R"({"t": "p", "a": "zz", "b": {}})"),
                                   std::string(5000, '[')}) {
    server_->sendRawFrame(frame);
  }
  server_->sendRawFrame(R"({"t": "p", "a": "rm", "b": {"p": "/r", "d": [{"s": "a", "e": null, "m": {"b": 1}}]}})");
  server_->sendRawFrame(R"({"t": "p", "a": "d", "b": {"p": "/fine", "d": 1}})");
  ASSERT_TRUE(waitFor([&] { return delegate_->count("data") == 1; }));
  EXPECT_EQ(delegate_->events("data")[0]["path"], "/fine");
  EXPECT_EQ(delegate_->count("rangeMerge"), 1u);
  EXPECT_TRUE(connected());
  AnswersRef answers = makeAnswers();
  onQueue([&] { connection_->putData(Value(1), "/still", std::nullopt, onWritten(answers)); });
  ASSERT_TRUE(waitFor([&] { return answers->size() == 1; }));
}

namespace {

// "/k/k/.../k" with `keys` keys; without the leading "/" for a merge key or range bound.
std::string keysPath(size_t keys, bool leadingSlash = true) {
  std::string text;
  for (size_t i = 0; i < keys; ++i) text += (i || leadingSlash) ? "/k" : "k";
  return text;
}

// {"a": {"a": ... leaf ...}} with the leaf `keys` keys below the top.
Value nested(size_t keys, const Value& leaf) {
  Value value = leaf;
  for (size_t i = 0; i < keys; ++i) value = Value{{"a", std::move(value)}};
  return value;
}

std::string push(const std::string& action, const std::string& path, const Value& data) {
  return Value{{"t", "p"}, {"a", action}, {"b", Value{{"p", path}, {"d", data}}}}.dump();
}

}  // namespace

TEST_F(PersistentConnectionTest, ServerMessagesWithPathsOrDataDeeperThanTheLimitsAreDroppedWithAnErrorAndTheRestIsDelivered) {
  openAndWaitUntilConnected();
  persistencetest::LoggedLines log;
  const Value leafWithPriority{{".value", 1}, {".priority", 2}};
  // Dropped: walks along these paths, or a node of this data, would exceed what the engine takes.
  server_->sendRawFrame(push("d", keysPath(5000), 1));
  server_->sendRawFrame(push("d", keysPath(1001), 1));
  server_->sendRawFrame(push("m", keysPath(600), Value{{"x", 1}, {keysPath(401, false), 1}}));
  server_->sendRawFrame(push("rm", keysPath(600), Value::array({Value{{"s", keysPath(401, false)}, {"m", 1}}})));
  server_->sendRawFrame(push("rm", keysPath(600), Value::array({Value{{"e", keysPath(401, false)}, {"m", 1}}})));
  server_->sendRawFrame(push("d", "/v", nested(1001, 1)));
  server_->sendRawFrame(push("m", "/v", Value{{"x", nested(1001, 1)}}));
  server_->sendRawFrame(push("rm", "/v", Value::array({Value{{"s", "a"}, {"m", nested(1001, 1)}}})));
  // Delivered: right at the limits (a leaf's priority adds no level).
  server_->sendRawFrame(push("d", keysPath(1000), 1));
  server_->sendRawFrame(push("m", keysPath(600), Value{{keysPath(400, false), 1}}));
  server_->sendRawFrame(push("rm", keysPath(600), Value::array({Value{{"s", keysPath(400, false)}, {"e", keysPath(400, false)}, {"m", 1}}})));
  server_->sendRawFrame(push("d", "/v", nested(1000, leafWithPriority)));
  server_->sendRawFrame(push("d", "/fine", 1));
  ASSERT_TRUE(waitFor([&] { return delegate_->count("data") == 3; }));
  std::vector<Value> data = delegate_->events("data");
  EXPECT_EQ(data[0]["path"], keysPath(1000));
  EXPECT_EQ(data[1]["path"], "/v");
  EXPECT_EQ(data[2]["path"], "/fine");
  EXPECT_EQ(delegate_->count("merge"), 1u);
  EXPECT_EQ(delegate_->count("rangeMerge"), 1u);
  EXPECT_TRUE(log.contains("its path has more than 1000 keys"));
  EXPECT_TRUE(log.contains("a merge key below it makes a path of more than 1000 keys"));
  EXPECT_TRUE(log.contains("a range bound below it makes a path of more than 1000 keys"));
  EXPECT_TRUE(log.contains("its data is nested more than 1000 levels deep"));
  EXPECT_FALSE(log.contains(keysPath(200)));  // long paths are cut in the log
  EXPECT_TRUE(connected());
}

TEST_F(PersistentConnectionTest, AReadAnsweredWithDataDeeperThanANodeMayHoldFailsInsteadOfWaiting) {
  server_->setValue("/deep/a", nested(1000, 1));
  openAndWaitUntilConnected();
  AnswersRef answers = makeAnswers();
  for (const char* at : {"/deep", "/deep/a"}) {
    onQueue([&, path = std::string(at)] { connection_->getDataAtPath(path, Value::object(), onRead(answers, path)); });
  }
  ASSERT_TRUE(waitFor([&] { return answers->size() == 2; }));
  // A leaf 1,001 keys below "/deep" is too deep for one node; 1,000 below "/deep/a" is not.
  const std::optional<Answers::Answer> deep = answers->find("/deep"), deepA = answers->find("/deep/a");
  ASSERT_TRUE(deep && deepA);
  EXPECT_EQ(deep->status, "invalid_data");
  EXPECT_FALSE(deep->data.has_value());
  EXPECT_EQ(deep->reason, std::optional<std::string>("The server's answer is nested more than 1000 levels deep."));
  EXPECT_EQ(deepA->status, "ok");
  EXPECT_TRUE(deepA->data.has_value());
}

TEST_F(PersistentConnectionTest, AuthenticatesBeforeRestoringAndReconnectsWhenTheTokenIsRefused) {
  onQueue([&] { connection_->refreshAuthToken(std::string("token-1")); });
  openAndWaitUntilConnected();
  std::vector<Value> auths = server_->requestsWithAction("auth");
  ASSERT_EQ(auths.size(), 1u);
  EXPECT_EQ(auths[0]["frame"]["b"]["cred"], "token-1");
  onQueue([&] { connection_->refreshAuthToken(std::nullopt); });
  ASSERT_TRUE(waitFor([&] { return server_->requestsWithAction("unauth").size() == 1; }));

  server_->setAuthFailure(std::string("invalid_token"));
  onQueue([&] { connection_->refreshAuthToken(std::string("token-2")); });
  ASSERT_TRUE(waitFor([&] { return delegate_->count("disconnect") == 1; }));
}
