// The sync tree: user writes and acknowledgements, server data (plain and tagged), listens sent
// and withdrawn, listeners added and removed, kept-synced queries and reads.
#include <gtest/gtest.h>

#include <map>

#include "EngineTestSupport.h"
#include "InMemoryPersistence.h"
#include "platform/foundation/NSException.h"
#include "sdk/database/core/FListenContainer.h"
#include "sdk/database/core/FOffsetClock.h"
#include "sdk/database/core/FSyncTree.h"
#include "sdk/database/core/FSystemClock.h"

using namespace enginetest;

namespace {

class FixedClock : public FClock {
 public:
  double currentTime() const override { return 1000.5; }
};

struct SyncTreeFixture : ::testing::Test {
  Strings listens;  // "listen /p {} tag=-" and "unlisten /p {} tag=1", in order
  std::map<std::string, std::shared_ptr<const FListenContainer>> containers;  // by query name
  std::shared_ptr<InMemoryPersistence> persistence = std::make_shared<InMemoryPersistence>();
  std::shared_ptr<FSyncTree> tree;

  void SetUp() override { tree = std::make_shared<FSyncTree>(persistence, provider()); }

  FListenProvider provider() {
    FListenProvider p;
    p.startListening = [this](const FQuerySpecRef& q, std::optional<uint64_t> tag, const FSyncTreeHashRef& hash,
                              const FListenProvider::Completion&) {
      listens.push_back("listen " + InMemoryPersistence::name(q) + " tag=" + (tag ? std::to_string(*tag) : "-"));
      containers[InMemoryPersistence::name(q)] = std::static_pointer_cast<const FListenContainer>(hash);
      return FEventList{};
    };
    p.stopListening = [this](const FQuerySpecRef& q, std::optional<uint64_t> tag) {
      listens.push_back("unlisten " + InMemoryPersistence::name(q) + " tag=" + (tag ? std::to_string(*tag) : "-"));
    };
    return p;
  }
  // The server answers the listen of the query named `name`.
  FEventList answer(const std::string& name, const std::string& status) { return containers.at(name)->onComplete()(status); }
  Strings takeListens() {
    Strings out;
    out.swap(listens);
    return out;
  }
  FixedClock clock;
};

}  // namespace

TEST_F(SyncTreeFixture, HiddenWritesRaiseNothingAndTheirAcknowledgementDoesNothing) {
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, defaultQuery("a"));
  EXPECT_TRUE(tree->applyUserOverwriteAtPath(path("a"), node("1"), 1, false).empty());
  ASSERT_TRUE(tree->pendingWriteTree()->writeForId(1));
  persistence->log.clear();
  EXPECT_TRUE(tree->ackUserWriteWithWriteId(1, false, true, clock).empty());
  EXPECT_EQ(tree->pendingWriteTree()->writeForId(1), nullptr);
  EXPECT_TRUE(persistence->log.empty());
  EXPECT_TRUE(tree->removeAllWrites().empty());
}

TEST_F(SyncTreeFixture, AcknowledgingAShadowedWriteAppliesNothing) {
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, defaultQuery("a"));
  tree->applyUserOverwriteAtPath(path("a/b"), node("1"), 1, true);
  tree->applyUserOverwriteAtPath(path("a"), node(R"({"b":2})"), 2, true);
  EXPECT_TRUE(tree->ackUserWriteWithWriteId(1, false, true, clock).empty());
  EXPECT_EQ(describe(tree->ackUserWriteWithWriteId(2, true, true, clock)), Strings{});  // nothing known to fall back to
}

TEST_F(SyncTreeFixture, WritesAndTheirAcknowledgementReachPersistenceResolved) {
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, defaultQuery("a"));
  auto events = tree->applyUserOverwriteAtPath(path("a"), node(R"({"t":{".sv":"timestamp"}})"), 1, true);
  persistence->log.clear();
  tree->ackUserWriteWithWriteId(1, false, true, clock);
  EXPECT_EQ(persistence->log, (Strings{"removeUserWrite 1", R"(applyUserWrite /a {"t":1000500})"}));
  persistence->log.clear();
  tree->applyUserMergeAtPath(path("m"), FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"x":1})")), 2);
  tree->ackUserWriteWithWriteId(2, true, false, clock);  // reverted, not persisted
  EXPECT_TRUE(persistence->log.empty());
  EXPECT_THROW(tree->ackUserWriteWithWriteId(77, false, true, clock), NSException);
}

TEST_F(SyncTreeFixture, RevertingAWriteBelowAnEarlierWriteShowsThatWriteAgain) {
  auto atB = valueRegistration(1);
  tree->addEventRegistration(atB, defaultQuery("a/b"));
  tree->applyUserOverwriteAtPath(path("a"), node(R"({"b":2})"), 1, true);
  EXPECT_EQ(describe(tree->applyUserOverwriteAtPath(path("a/b"), node("1"), 2, true)), (Strings{"value /a/b 1"}));
  EXPECT_EQ(describe(tree->ackUserWriteWithWriteId(2, true, true, clock)), (Strings{"value /a/b 2"}));
}

TEST_F(SyncTreeFixture, ServerDataFlowsToListenersAndListenCompletion) {
  auto value = valueRegistration(1);
  auto child = allChildRegistration(2);
  EXPECT_TRUE(tree->addEventRegistration(value, defaultQuery("a")).empty());
  EXPECT_EQ(takeListens(), (Strings{"listen /a {} tag=-"}));
  EXPECT_EQ(describe(tree->addEventRegistration(child, defaultQuery("a"))), Strings{});
  EXPECT_TRUE(takeListens().empty());  // a second listener of a view sends nothing

  EXPECT_EQ(describe(tree->applyServerOverwriteAtPath(path("a"), node(R"({"x":1})"))),
            (Strings{"added /a/x 1", R"(value /a {"x":1})"}));
  EXPECT_EQ(describe(tree->applyServerMergeAtPath(
                path("a"), FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"y":2})")))),
            (Strings{"added /a/y 2 prev=x", R"(value /a {"x":1,"y":2})"}));
  EXPECT_TRUE(answer("/a {}", "ok").empty());
  EXPECT_EQ(describe(tree->addEventRegistration(valueRegistration(3), defaultQuery("a"))),
            (Strings{R"(value /a {"x":1,"y":2})"}));

  std::vector<FRangeMerge> merges{FRangeMerge(path("x"), nullptr, node(R"({"z":3})"))};
  EXPECT_EQ(describe(tree->applyServerRangeMergeAtPath(path("a"), merges)),
            (Strings{"removed /a/y 2", "added /a/z 3 prev=x", R"(value /a {"x":1,"z":3})", R"(value /a {"x":1,"z":3})"}));
  EXPECT_TRUE(tree->applyServerRangeMergeAtPath(path("elsewhere"), merges).empty());
}

TEST_F(SyncTreeFixture, AnEmptyLocationBecomesNullOnceItsListenCompletes) {
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, defaultQuery("nothing"));
  EXPECT_EQ(describe(answer("/nothing {}", "ok")), (Strings{"value /nothing null"}));
  EXPECT_EQ(persistence->log.back(), "complete /nothing {}");
}

TEST_F(SyncTreeFixture, DefaultListensCoverEverythingBelowThem) {
  tree->addEventRegistration(valueRegistration(1), query("a/b", params()->limitToFirst(1)));
  tree->addEventRegistration(valueRegistration(2), defaultQuery("a/c"));
  tree->addEventRegistration(valueRegistration(3), query("a/c/d", params()->limitToLast(2)));
  EXPECT_EQ(takeListens(), (Strings{R"(listen /a/b {"l":1,"vf":"l"} tag=1)", "listen /a/c {} tag=-"}));

  tree->addEventRegistration(valueRegistration(4), defaultQuery("a"));
  EXPECT_EQ(takeListens(), (Strings{"listen /a {} tag=-", R"(unlisten /a/b {"l":1,"vf":"l"} tag=1)",
                                    "unlisten /a/c {} tag=-"}));
  tree->addEventRegistration(valueRegistration(5), defaultQuery("a/b/deeper"));
  EXPECT_TRUE(takeListens().empty());
}

TEST_F(SyncTreeFixture, RemovingTheLastDefaultListenerResendsTheListensBelow) {
  tree->addEventRegistration(valueRegistration(1), defaultQuery("a"));
  tree->addEventRegistration(valueRegistration(2), query("a/b", params()->limitToFirst(1)));
  tree->addEventRegistration(valueRegistration(3), defaultQuery("a/c"));
  takeListens();
  EXPECT_TRUE(tree->removeEventRegistration(valueRegistration(1), defaultQuery("a"), nullptr).empty());
  EXPECT_EQ(takeListens(), (Strings{R"(listen /a/b {"l":1,"vf":"l"} tag=1)", "listen /a/c {} tag=-",
                                    "unlisten /a {} tag=-"}));
  EXPECT_EQ(persistence->log.back(), "inactive /a {}");
}

TEST_F(SyncTreeFixture, IndexOnlyQueriesAreListenedToAsTheDefaultQuery) {
  auto byKey = query("a", params()->orderBy(FKeyIndex::keyIndex()));
  tree->addEventRegistration(valueRegistration(1), byKey);
  EXPECT_FALSE(tree->tagForQuery(byKey));
  EXPECT_EQ(takeListens(), (Strings{"listen /a {} tag=-"}));
  tree->removeEventRegistration(valueRegistration(1), byKey, nullptr);
  EXPECT_EQ(takeListens(), (Strings{"unlisten /a {} tag=-"}));
}

TEST_F(SyncTreeFixture, RemovingListeners) {
  auto limited = query("a", params()->limitToFirst(2));
  auto ranged = query("a", params()->startAt(node("1")));
  EXPECT_TRUE(tree->removeEventRegistration(valueRegistration(1), limited, nullptr).empty());
  tree->addEventRegistration(valueRegistration(1), limited);
  tree->addEventRegistration(valueRegistration(1), ranged);
  tree->addEventRegistration(valueRegistration(2), ranged);
  EXPECT_TRUE(tree->removeEventRegistration(valueRegistration(9), query("a", params()->limitToLast(3)), nullptr).empty());
  takeListens();
  // The default query takes the registration out of every view at the path.
  tree->removeEventRegistration(valueRegistration(1), defaultQuery("a"), nullptr);
  EXPECT_EQ(takeListens(), (Strings{R"(unlisten /a {"l":2,"vf":"l"} tag=1)"}));
  EXPECT_FALSE(tree->tagForQuery(limited));
  ASSERT_TRUE(tree->tagForQuery(ranged));

  auto cancelled = valueRegistration(3, true);
  tree->addEventRegistration(cancelled, ranged);
  auto events = tree->removeEventRegistration(nullptr, ranged, FUtilities::errorForStatus("permission_denied", std::nullopt));
  EXPECT_EQ(describe(events), (Strings{"cancel /a"}));
  EXPECT_TRUE(takeListens().empty());  // with an error the server has dropped the listen already
}

TEST_F(SyncTreeFixture, AFailedListenCancelsEveryListenerOfTheQuery) {
  auto q = query("a", params()->limitToFirst(1));
  tree->addEventRegistration(valueRegistration(1, true), q);
  tree->addEventRegistration(childRegistration(2, {FEventTypeChildAdded}, true), q);
  auto events = answer(R"(/a {"l":1,"vf":"l"})", "permission_denied");
  ASSERT_EQ(events.size(), 2u);
  auto cancel = std::static_pointer_cast<const FCancelEvent>(events[0]);
  EXPECT_EQ(cancel->error()->code(), 1);
  EXPECT_EQ(takeListens(), (Strings{R"(listen /a {"l":1,"vf":"l"} tag=1)"}));
  EXPECT_TRUE(tree->syncPointTree()->isEmpty());
}

TEST_F(SyncTreeFixture, TagsStartAtOneAndAreNeverReused) {
  auto first = query("a", params()->limitToFirst(1));
  tree->addEventRegistration(valueRegistration(1), first);
  EXPECT_EQ(tree->tagForQuery(first), std::optional<uint64_t>(1));
  tree->removeEventRegistration(valueRegistration(1), first, nullptr);
  EXPECT_EQ(tree->queryForTag(1), nullptr);
  tree->addEventRegistration(valueRegistration(1), first);
  EXPECT_EQ(tree->tagForQuery(first), std::optional<uint64_t>(2));
  // Data for the forgotten tag is ignored without touching persistence.
  persistence->log.clear();
  EXPECT_TRUE(tree->applyTaggedQueryOverwriteAtPath(path("a"), node("1"), 1).empty());
  EXPECT_TRUE(persistence->log.empty());
}

TEST_F(SyncTreeFixture, TaggedDataGoesToItsQueryAndIsPersistedWhereItLies) {
  auto limited = query("a", params()->limitToFirst(2));
  auto limitedValue = valueRegistration(1);
  auto other = valueRegistration(2);
  tree->addEventRegistration(limitedValue, limited);
  tree->addEventRegistration(other, query("a", params()->startAt(node("5"))));
  persistence->log.clear();
  auto events = tree->applyTaggedQueryOverwriteAtPath(path("a"), node(R"({"x":1,"y":2})"), 1);
  EXPECT_EQ(describeFor(events, limitedValue), (Strings{R"(value /a {"x":1,"y":2})"}));
  EXPECT_TRUE(describeFor(events, other).empty());
  events = tree->applyTaggedQueryOverwriteAtPath(path("a/y"), node("3"), 1);
  EXPECT_EQ(describe(events), (Strings{R"(value /a {"x":1,"y":3})"}));
  EXPECT_EQ(persistence->log, (Strings{R"(server /a {"l":2,"vf":"l"} {"x":1,"y":2})",
                                       R"(keys /a {"l":2,"vf":"l"} +[x,y] -[])", "server /a/y {} 3"}));
  persistence->log.clear();
  try {
    tree->applyTaggedQueryOverwriteAtPath(path("b"), node("1"), 1);
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "ZirezizeDatabaseInternalError");
  }
  EXPECT_THROW(tree->applyTaggedQueryMergeAtPath(path("/"), FCompoundWrite::emptyWrite(), 1), NSException);
  EXPECT_THROW(tree->applyTaggedServerRangeMergeAtPath(path("a/y"), {}, 1), NSException);
  EXPECT_TRUE(persistence->log.empty());

  std::vector<FRangeMerge> merges{FRangeMerge(nullptr, nullptr, node(R"({"q":0})"))};
  EXPECT_EQ(describe(tree->applyTaggedServerRangeMergeAtPath(path("a"), merges, 1)), (Strings{R"(value /a {"q":0})"}));
  EXPECT_TRUE(describe(tree->applyTaggedListenCompleteAtPath(path("a"), 1)).empty());
}

TEST_F(SyncTreeFixture, AQueryWithALimitOutOfRangeIsRefusedBeforeAnythingChanges) {
  for (int64_t limit : {int64_t{0}, int64_t{-3}, int64_t{1} << 31}) {
    auto bad = query("a", params()->limitToFirst(limit));
    EXPECT_THROW(tree->addEventRegistration(valueRegistration(1), bad), NSException);
    EXPECT_THROW(tree->getServerValue(bad), NSException);
    EXPECT_THROW(tree->keepQuery(bad, true), NSException);
  }
  EXPECT_TRUE(tree->syncPointTree()->isEmpty());
  EXPECT_TRUE(listens.empty());
  EXPECT_TRUE(persistence->log.empty());
  tree->addEventRegistration(valueRegistration(1), query("a", params()->limitToFirst(1)));
  EXPECT_EQ(tree->tagForQuery(query("a", params()->limitToFirst(1))), std::optional<uint64_t>(1));
}

TEST_F(SyncTreeFixture, KeptSyncedQueriesListenWithoutEvents) {
  auto q = defaultQuery("k");
  tree->keepQuery(q, true);
  tree->keepQuery(q, true);
  EXPECT_EQ(takeListens(), (Strings{"listen /k {} tag=-"}));
  EXPECT_TRUE(tree->applyServerOverwriteAtPath(path("k"), node(R"({"a":1})")).empty());
  EXPECT_TRUE(answer("/k {}", "ok").empty());
  EXPECT_EQ(json(tree->getServerValue(q)), R"({"a":1})");
  // Removing every user listener leaves the keep-synced one.
  tree->addEventRegistration(valueRegistration(5), q);
  tree->removeEventRegistration(valueRegistration(kFEventRegistrationAllHandles), q, nullptr);
  EXPECT_TRUE(takeListens().empty());
  tree->keepQuery(q, false);
  EXPECT_EQ(takeListens(), (Strings{"unlisten /k {} tag=-"}));
}

TEST_F(SyncTreeFixture, ServerValueAtAPathBelowAListenerAnswersThatPath) {
  tree->addEventRegistration(valueRegistration(1), defaultQuery("a"));
  tree->applyServerOverwriteAtPath(path("a"), node(R"({"b":{"c":1,"d":2},"x":5})"));
  EXPECT_EQ(json(tree->getServerValue(defaultQuery("a/b"))), R"({"c":1,"d":2})");
  EXPECT_EQ(json(tree->getServerValue(query("a/b", params()->limitToLast(1)))), R"({"d":2})");
  EXPECT_EQ(json(tree->getServerValue(defaultQuery("a"))), R"({"b":{"c":1,"d":2},"x":5})");
  // A limited query at the listener's own path gets its window, not the listener's data.
  EXPECT_EQ(json(tree->getServerValue(query("a", params()->limitToFirst(1)))), R"({"b":{"c":1,"d":2}})");
  EXPECT_EQ(tree->getServerValue(defaultQuery("unknown")), nullptr);
  tree->applyUserOverwriteAtPath(path("unknown"), node("7"), 1, true);
  EXPECT_EQ(json(tree->getServerValue(defaultQuery("unknown"))), "7");
}

TEST_F(SyncTreeFixture, CompleteEventCacheForTransactionsLeavesOutExcludedWrites) {
  tree->addEventRegistration(valueRegistration(1), defaultQuery("t"));
  tree->applyServerOverwriteAtPath(path("t"), node("1"));
  tree->applyUserOverwriteAtPath(path("t"), node("2"), 1, true);
  tree->applyUserOverwriteAtPath(path("t"), node("3"), 2, false);
  EXPECT_EQ(json(tree->calcCompleteEventCacheAtPath(path("t"), std::nullopt)), "3");
  EXPECT_EQ(json(tree->calcCompleteEventCacheAtPath(path("t"), std::vector<int64_t>{2})), "2");
  EXPECT_EQ(json(tree->calcCompleteEventCacheAtPath(path("t"), std::vector<int64_t>{1, 2})), "1");
}

TEST_F(SyncTreeFixture, NewViewsStartFromWhatIsAlreadyKnown) {
  tree->addEventRegistration(valueRegistration(1), defaultQuery("a/b"));
  tree->applyServerOverwriteAtPath(path("a/b"), node(R"({"c":1})"));
  // A new listener above sees the deeper sync point's data as a child, not yet complete.
  auto parent = allChildRegistration(2);
  EXPECT_EQ(describe(tree->addEventRegistration(parent, defaultQuery("a"))), (Strings{R"(added /a/b {"c":1})"}));

  // Persisted complete data serves a new view at once.
  persistence->serverCache = node(R"({"p":{"q":1}})");
  persistence->setQueryComplete(defaultQuery("p"));
  EXPECT_EQ(json(tree->persistenceServerCache(defaultQuery("p"))), R"({"q":1})");
  EXPECT_EQ(describe(tree->addEventRegistration(valueRegistration(3), defaultQuery("p"))), (Strings{R"(value /p {"q":1})"}));
  EXPECT_EQ(tree->persistenceServerCache(defaultQuery("none")), nullptr);
}

TEST_F(SyncTreeFixture, RemoveAllWritesRevertsEveryPendingWrite) {
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, defaultQuery("a"));
  tree->applyServerOverwriteAtPath(path("a"), node("1"));
  tree->applyUserOverwriteAtPath(path("a"), node("2"), 1, true);
  tree->applyUserMergeAtPath(path("a"), FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"x":3})")), 2);
  persistence->log.clear();
  EXPECT_EQ(describe(tree->removeAllWrites()), (Strings{"value /a 1"}));
  EXPECT_EQ(persistence->log, (Strings{"removeAllUserWrites"}));
}

TEST(SyncTreeWithoutPersistenceTest, WorksWithoutAPersistenceManagerOrListenBlocks) {
  auto tree = std::make_shared<FSyncTree>(FListenProvider{});
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, defaultQuery(".info"));
  EXPECT_EQ(describe(tree->applyListenCompleteAtPath(path(".info"))), (Strings{"value /.info null"}));
  EXPECT_EQ(describe(tree->applyServerOverwriteAtPath(path(".info/connected"), node("true"))),
            (Strings{R"(value /.info {"connected":true})"}));
  EXPECT_EQ(tree->persistenceServerCache(defaultQuery(".info")), nullptr);
  FixedClock clock;
  tree->applyUserOverwriteAtPath(path("x"), node("1"), 1, true);
  EXPECT_TRUE(tree->ackUserWriteWithWriteId(1, false, true, clock).empty());
  tree->removeEventRegistration(value, defaultQuery(".info"), nullptr);
  EXPECT_TRUE(tree->syncPointTree()->isEmpty());
}

TEST_F(SyncTreeFixture, AWindowBelowADefaultListenerMovesWithTheServerDataItIsGiven) {
  // The limited view's complete-child source is handed the data of the default view above; that
  // data must already hold the change being applied, or a stale child moves into the window.
  tree->addEventRegistration(valueRegistration(1), defaultQuery("/"));
  auto lastTwo = valueRegistration(2);
  tree->addEventRegistration(lastTwo, query("b", params()->orderBy(FValueIndex::valueIndex())->limitToLast(2)));
  tree->applyServerOverwriteAtPath(FPath::empty(), node(R"({"b":{"a":"y","c":"x","d":"z"}})"));
  answer("/ {}", "ok");
  auto events = tree->applyServerMergeAtPath(
      path("b"), FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"b":4,"c":2,"d":1})")));
  EXPECT_EQ(describeFor(events, lastTwo), (Strings{R"(value /b {"a":"y","b":4})"}));
}

TEST_F(SyncTreeFixture, ServerChildrenReplacingALeafChangeTheValueEvenUnderAPendingWrite) {
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, defaultQuery("/"));
  tree->applyServerOverwriteAtPath(FPath::empty(), node(R"("x")"));
  answer("/ {}", "ok");
  tree->applyUserMergeAtPath(FPath::empty(), FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"b":null})")), 1);
  auto events = tree->applyServerMergeAtPath(
      path("b"), FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"a":"x"})")));
  EXPECT_EQ(describe(events), (Strings{"value / null"}));
}

TEST_F(SyncTreeFixture, AcknowledgingAWriteBelowWhatTheServerHoldsAsALeafShowsTheLeafAgain) {
  // A write below a location is acknowledged while the server holds a plain value there (a later
  // write of the same put replaced it): the location shows the server's value, not nothing.
  auto value = valueRegistration(1);
  auto children = allChildRegistration(2);
  tree->addEventRegistration(value, defaultQuery("r"));
  tree->addEventRegistration(children, defaultQuery("r"));
  tree->applyServerOverwriteAtPath(path("r"), node(R"({"a":1,"x":{"n":0}})"));
  answer("/r {}", "ok");
  tree->applyUserOverwriteAtPath(path("r/x/n"), node("2"), 1, true);
  tree->applyUserMergeAtPath(path("r"), FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"a/m/k":3})")), 2);
  tree->applyServerOverwriteAtPath(path("r/x"), node("1"));
  tree->applyServerOverwriteAtPath(path("r/a"), node("1"));
  EXPECT_EQ(describe(tree->ackUserWriteWithWriteId(1, false, true, clock)),
            (Strings{"changed /r/x 1 prev=a", R"(value /r {"a":{"m":{"k":3}},"x":1})"}));
  EXPECT_EQ(describe(tree->ackUserWriteWithWriteId(2, false, true, clock)),
            (Strings{"changed /r/a 1", R"(value /r {"a":1,"x":1})"}));
  // The same at the view's own location: the plain value is all the view shows.
  tree->applyUserMergeAtPath(path("r"), FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"d/b":5})")), 3);
  EXPECT_EQ(describe(tree->applyServerOverwriteAtPath(path("r"), node(R"("y")"))),
            (Strings{"removed /r/a 1", "removed /r/x 1", R"(value /r {"d":{"b":5}})"}));
  EXPECT_EQ(describe(tree->ackUserWriteWithWriteId(3, false, true, clock)),
            (Strings{R"(removed /r/d {"b":5})", R"(value /r "y")"}));
}

TEST_F(SyncTreeFixture, AChildMadeByADeepWriteEntersAWindowBelowADefaultListener) {
  // The window first had a listen of its own, then a default listener came: the default listen's
  // data reaches it, also where a child it does not hold comes into being by a write below it.
  auto lastTwo = valueRegistration(1);
  tree->addEventRegistration(lastTwo, query("r", params()->limitToLast(2)));
  tree->applyTaggedQueryOverwriteAtPath(path("r"), node(R"({"a":1,"b":2})"), 1);
  tree->addEventRegistration(valueRegistration(2), defaultQuery("r"));
  EXPECT_EQ(takeListens(), (Strings{R"(listen /r {"l":2,"vf":"r"} tag=1)", "listen /r {} tag=-",
                                    R"(unlisten /r {"l":2,"vf":"r"} tag=1)"}));
  tree->applyServerOverwriteAtPath(path("r"), node(R"({"0":0,"a":1,"b":2})"));
  answer("/r {}", "ok");
  // The window's own data, sent before its listen was withdrawn, arrives late.
  tree->applyTaggedQueryOverwriteAtPath(path("r"), node(R"({"a":1,"b":2})"), 1);
  EXPECT_EQ(describeFor(tree->applyServerOverwriteAtPath(path("r/c/n"), node("3")), lastTwo),
            (Strings{R"(value /r {"b":2,"c":{"n":3}})"}));
  EXPECT_EQ(describeFor(tree->applyServerMergeAtPath(path("r"), FCompoundWrite::compoundWriteWithValueDictionary(
                                                                    Value::parse(R"({"d/n":4})"))),
                        lastTwo),
            (Strings{R"(value /r {"c":{"n":3},"d":{"n":4}})"}));
  // Below a child outside the window nothing changes for it.
  EXPECT_EQ(describeFor(tree->applyServerOverwriteAtPath(path("r/a/n"), node("5")), lastTwo), Strings{});
}

TEST_F(SyncTreeFixture, ServerChildrenReplacingALeafBelowTheViewUnderAPendingRemovalShowWithTheRemoval) {
  // The leaf is a child of one view and a grandchild of the other; the pending removal below it
  // hides the server's change at its own path, not the leaf turning into children.
  auto root = valueRegistration(1);
  auto lfp = valueRegistration(2);
  tree->addEventRegistration(root, defaultQuery("/"));
  tree->addEventRegistration(lfp, defaultQuery("lfp"));
  tree->applyServerOverwriteAtPath(FPath::empty(), node(R"({"lfp":{"a":8,"k":1}})"));
  answer("/ {}", "ok");
  EXPECT_TRUE(tree->applyUserOverwriteAtPath(path("lfp/a/n"), empty(), 1, true).empty());
  EXPECT_EQ(describe(tree->applyServerOverwriteAtPath(path("lfp/a/n"), node("8"))),
            (Strings{R"(value /lfp {"k":1})", R"(value / {"lfp":{"k":1}})"}));
  // The server takes the removal: nothing changes any more.
  EXPECT_EQ(describe(tree->applyServerOverwriteAtPath(path("lfp/a/n"), empty())), Strings{});
  EXPECT_TRUE(tree->ackUserWriteWithWriteId(1, false, true, clock).empty());
}

TEST_F(SyncTreeFixture, AcknowledgementsShowTheServersDataWithTheRemainingWritesLaidOverInTheOrderMade) {
  // The server takes each write before its acknowledgement comes; between them the listener shows
  // what the writes showed, priority included. A removal that empties the location before a new
  // child comes drops the priority, on the server as here; one that comes after the new child
  // does not.
  auto shown = [&](const char* at) {
    return value::toJSON(tree->calcCompleteEventCacheAtPath(path(at), std::vector<int64_t>{})->valForExport(true));
  };
  for (bool removalFirst : {false, true}) {
    SCOPED_TRACE(removalFirst ? "removal first" : "new child first");
    const char* at = removalFirst ? "q" : "p";
    const std::string base = at;
    auto value = valueRegistration(removalFirst ? 2 : 1);
    tree->addEventRegistration(value, defaultQuery(at));
    answer(("/" + base + " {}").c_str(), "ok");
    const int64_t first = removalFirst ? 10 : 1;
    std::vector<std::pair<std::string, FNodeRef>> writes{{base, node(R"({".priority":2,"x":1})")},
                                                         {base + "/y", node("1")},
                                                         {base + "/x", empty()}};
    if (removalFirst) std::swap(writes[1], writes[2]);
    FNodeRef server = empty();
    for (size_t i = 0; i < writes.size(); ++i) {
      tree->applyUserOverwriteAtPath(path(writes[i].first.c_str()), writes[i].second, first + int64_t(i), true);
    }
    const std::string expected = removalFirst ? R"({"y":1})" : R"({".priority":2,"y":1})";
    EXPECT_EQ(shown(at), expected);
    for (size_t i = 0; i < writes.size(); ++i) {
      const FPathRef below = FPath::relativePathFrom(*path(at), *path(writes[i].first.c_str()));
      server = server->updateChild(below, writes[i].second);
      EXPECT_TRUE(tree->applyServerOverwriteAtPath(path(at), server).empty());
      EXPECT_EQ(describe(tree->ackUserWriteWithWriteId(first + int64_t(i), false, true, clock)), Strings{}) << i;
      EXPECT_EQ(shown(at), expected) << i;
    }
    EXPECT_EQ(value::toJSON(server->valForExport(true)), expected);
  }
}

TEST_F(SyncTreeFixture, ALeafOfAWindowReplacedByChildrenOutsideTheWindowLeavesIt) {
  // The window's server data holds only its own children; a change below one of them that moves
  // it out is untagged (another listen brought it), so the child is gone from that data.
  auto ranged = valueRegistration(1);
  auto children = allChildRegistration(2);
  auto window = query("r", params()->orderBy(FValueIndex::valueIndex())->startAt(node("3"))->endAt(node("7")));
  tree->addEventRegistration(ranged, window);
  tree->addEventRegistration(children, window);
  const uint64_t tag = *tree->tagForQuery(window);
  tree->applyTaggedQueryOverwriteAtPath(path("r"), node(R"({"1":{".value":6,".priority":1},"b":4})"), tag);
  tree->applyTaggedListenCompleteAtPath(path("r"), tag);
  EXPECT_EQ(describe(tree->applyServerOverwriteAtPath(path("r/1/n"), node("1"))),
            (Strings{"removed /r/1 6", R"(value /r {"b":4})"}));
}

// The values that value events carry, in export form (with priorities).
static Strings exported(const FEventList& events) {
  Strings out;
  for (const auto& event : events) {
    auto data = std::static_pointer_cast<const FDataEvent>(event);
    if (data->eventType() == FEventTypeValue) out.push_back(value::toJSON(data->snapshot()->valueInExportFormat()));
  }
  return out;
}
// The events of one registration.
static FEventList eventsOf(const FEventList& events, const FEventRegistrationRef& registration) {
  FEventList out;
  for (const auto& event : events) {
    if (std::static_pointer_cast<const FDataEvent>(event)->eventRegistration() == registration) out.push_back(event);
  }
  return out;
}

TEST_F(SyncTreeFixture, AServerChildArrivingWhileARemovalWaitsDecidesWhetherTheLocationKeepsItsPriority) {
  // Removing the only child empties the location on the way, which drops its priority; once the
  // server holds another child there, the removal no longer empties it.
  tree->addEventRegistration(valueRegistration(1), defaultQuery("r"));
  tree->applyServerOverwriteAtPath(path("r"), node(R"({".priority":1,"a":9})"));
  answer("/r {}", "ok");
  EXPECT_EQ(exported(tree->applyUserOverwriteAtPath(path("r/a"), empty(), 1, true)), (Strings{"null"}));
  EXPECT_EQ(exported(tree->applyUserOverwriteAtPath(path("r/b"), node("2"), 2, true)), (Strings{R"({"b":2})"}));
  EXPECT_EQ(exported(tree->applyServerOverwriteAtPath(path("r/c"), node("5"))),
            (Strings{R"({".priority":1,"b":2,"c":5})"}));
  // The server takes the writes after that child: nothing changes any more.
  EXPECT_TRUE(tree->applyServerOverwriteAtPath(path("r/a"), empty()).empty());
  EXPECT_TRUE(tree->ackUserWriteWithWriteId(1, false, true, clock).empty());
  EXPECT_TRUE(tree->applyServerOverwriteAtPath(path("r/b"), node("2")).empty());
  EXPECT_TRUE(tree->ackUserWriteWithWriteId(2, false, true, clock).empty());
}

TEST_F(SyncTreeFixture, AMergeThatReplacesTheOnlyChildKeepsTheLocationsPriority) {
  // A merge is one change: removing the only child before adding the new one would empty the
  // location on the way and drop its priority, from the user's merge and from the server's.
  tree->addEventRegistration(valueRegistration(1), defaultQuery("r"));
  tree->applyServerOverwriteAtPath(path("r"), node(R"({".priority":2,"a":1})"));
  answer("/r {}", "ok");
  auto replace = FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"a":null,"b":1})"));
  EXPECT_EQ(exported(tree->applyUserMergeAtPath(path("r"), replace, 1)), (Strings{R"({".priority":2,"b":1})"}));
  EXPECT_TRUE(tree->applyServerMergeAtPath(path("r"), replace).empty());
  EXPECT_TRUE(tree->ackUserWriteWithWriteId(1, false, true, clock).empty());
  // The server's merge alone, another client's.
  auto back = FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"a":3,"b":null})"));
  EXPECT_EQ(exported(tree->applyServerMergeAtPath(path("r"), back)), (Strings{R"({".priority":2,"a":3})"}));
}

TEST_F(SyncTreeFixture, AnAcknowledgedWriteLeavesAWindowAsTheServersWindowHoldsIt) {
  // The server's window arrives before the answer to the write (its data, and another client's
  // later change, come first): once the write is answered, a child it alone showed leaves the
  // window, and the child the server's window holds instead comes in. Both for a merge and a set.
  auto window = query("r", params()->orderBy(FKeyIndex::keyIndex())->limitToFirst(2));
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, window);
  const uint64_t tag = *tree->tagForQuery(window);
  tree->applyTaggedQueryOverwriteAtPath(path("r"), node(R"({"a":1,"c":3})"), tag);
  tree->applyTaggedListenCompleteAtPath(path("r"), tag);

  auto merge = FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"b":2})"));
  EXPECT_EQ(exported(tree->applyUserMergeAtPath(path("r"), merge, 1)), (Strings{R"({"a":1,"b":2})"}));
  EXPECT_EQ(exported(tree->applyUserOverwriteAtPath(path("r/0"), node("0"), 2, true)), (Strings{R"({"0":0,"a":1})"}));
  // The server took both, then another client removed them again.
  EXPECT_TRUE(tree->applyTaggedQueryOverwriteAtPath(path("r"), node(R"({"a":1,"c":3})"), tag).empty());
  EXPECT_EQ(exported(tree->ackUserWriteWithWriteId(1, false, true, clock)), Strings{});
  EXPECT_EQ(exported(tree->ackUserWriteWithWriteId(2, false, true, clock)), (Strings{R"({"a":1,"c":3})"}));
}

TEST_F(SyncTreeFixture, AWindowUnderADefaultListenerKeepsItsServerDataWhenAChildLeavesIt) {
  // A window listened to on its own, then covered by a default listener's listen: its server data
  // comes from the location's changes alone from then on, the window's data kept as it was. A
  // child that leaves the window gives its place to the next child of the complete data, which an
  // answered write then shows.
  auto window = query("r", params()->orderBy(std::make_shared<const FPathIndex>(path("n")))->limitToFirst(2));
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, window);
  const uint64_t tag = *tree->tagForQuery(window);
  tree->applyTaggedQueryOverwriteAtPath(path("r"), node(R"({"2":5,"c":6})"), tag);
  tree->applyTaggedListenCompleteAtPath(path("r"), tag);
  // The default view starts complete from the local cache; the server has nothing new to send.
  persistence->serverCache = node(R"({"r":{"2":5,"10":{"n":0},"c":6}})");
  persistence->setQueryComplete(defaultQuery("r"));
  tree->addEventRegistration(valueRegistration(2), defaultQuery("r"));
  answer("/r {}", "ok");
  EXPECT_EQ(exported(tree->applyUserOverwriteAtPath(path("r/c"), node(R"({"n":7})"), 1, true)).front(),
            R"({"10":{"n":0},"2":5})");
  tree->applyServerOverwriteAtPath(path("r/c"), node(R"({"n":7})"));
  EXPECT_TRUE(describeFor(tree->ackUserWriteWithWriteId(1, false, true, clock), value).empty());
  EXPECT_EQ(json(tree->getServerValue(window)), R"({"10":{"n":0},"2":5})");
}

TEST_F(SyncTreeFixture, AServerChangeThatEmptiesALocationTakesItsPriorityAlsoUnderPendingWrites) {
  // The server's location has no children left and so no priority; the writes below it that the
  // user still sees do not bring that priority back, whether they hide the change or not.
  tree->addEventRegistration(valueRegistration(1), defaultQuery("r"));
  tree->applyServerOverwriteAtPath(path("r"), node(R"({".priority":"p2","x":1,"c":{".priority":1,"n":9}})"));
  answer("/r {}", "ok");
  tree->applyUserOverwriteAtPath(path("r/c/n"), node("8"), 1, true);
  EXPECT_EQ(exported(tree->applyUserOverwriteAtPath(path("r/b/n"), node("1"), 2, true)),
            (Strings{R"({".priority":"p2","b":{"n":1},"c":{".priority":1,"n":8},"x":1})"}));
  // Hidden by the write at r/c/n, it empties r/c.
  EXPECT_EQ(exported(tree->applyServerOverwriteAtPath(path("r/c/n"), empty())),
            (Strings{R"({".priority":"p2","b":{"n":1},"c":{"n":8},"x":1})"}));
  // It empties the view's own location.
  EXPECT_EQ(exported(tree->applyServerOverwriteAtPath(path("r/x"), empty())),
            (Strings{R"({"b":{"n":1},"c":{"n":8}})"}));
  tree->applyServerOverwriteAtPath(path("r/c/n"), node("8"));
  EXPECT_TRUE(tree->ackUserWriteWithWriteId(1, false, true, clock).empty());
  tree->applyServerOverwriteAtPath(path("r/b/n"), node("1"));
  EXPECT_TRUE(tree->ackUserWriteWithWriteId(2, false, true, clock).empty());
}

TEST_F(SyncTreeFixture, AWindowIsWorkedOutAgainFromTheCompleteDataOfAListenThatCompletesAboveIt) {
  // A pending write below a child the window's own data does not hold brings that child into the
  // window, which the client cannot tell until it holds all the data of the location. A listen at
  // the root then completes without sending anything (the cache it started from was the server's).
  auto window = query("r", params()->orderBy(std::make_shared<const FPathIndex>(path("m")))
                               ->startAt(node("\"s1\""))
                               ->limitToFirst(2));
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, window);
  const uint64_t tag = *tree->tagForQuery(window);
  tree->applyTaggedQueryOverwriteAtPath(path("r"), node(R"({"1":{"m":"s3"}})"), tag);
  tree->applyTaggedListenCompleteAtPath(path("r"), tag);
  EXPECT_TRUE(describeFor(tree->applyUserOverwriteAtPath(path("r/2/m"), node("\"s3\""), 1, true), value).empty());

  persistence->serverCache = node(R"({"r":{"1":{"m":"s3"},"2":{"n":1},"3":{"m":"s0"}}})");
  tree->addEventRegistration(valueRegistration(2), defaultQuery("/"));
  EXPECT_EQ(exported(eventsOf(answer("/ {}", "ok"), value)), (Strings{R"({"1":{"m":"s3"},"2":{"m":"s3","n":1}})"}));
}

TEST_F(SyncTreeFixture, AChildThatAServerChangeTakesOutOfAWindowUnderAPendingWriteLeavesIt) {
  // The window's own data no longer holds the child the server moved out of it; the data of the
  // location, which a view of all of it holds, tells the child with the write below it laid over.
  auto window = query("r", params()->orderBy(std::make_shared<const FPathIndex>(path("n")))->limitToFirst(2));
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, window);
  const uint64_t tag = *tree->tagForQuery(window);
  tree->applyTaggedQueryOverwriteAtPath(path("r"), node(R"({"10":{"n":3},"a":{"n":4}})"), tag);
  tree->applyTaggedListenCompleteAtPath(path("r"), tag);
  persistence->serverCache = node(R"({"r":{"10":{"n":3},"a":{"n":4},"2":{"n":5}}})");
  persistence->setQueryComplete(defaultQuery("r"));
  tree->addEventRegistration(valueRegistration(2), defaultQuery("r"));
  answer("/r {}", "ok");
  EXPECT_EQ(exported(eventsOf(tree->applyUserOverwriteAtPath(path("r/10/m"), node("\"s1\""), 1, true), value)),
            (Strings{R"({"10":{"m":"s1","n":3},"a":{"n":4}})"}));
  EXPECT_EQ(exported(eventsOf(tree->applyServerOverwriteAtPath(path("r/10"), node(R"({"m":"s2","n":6})")), value)),
            (Strings{R"({"2":{"n":5},"a":{"n":4}})"}));
}

TEST_F(SyncTreeFixture, AWindowsOwnDataUnderAViewOfAllTheDataIsWorkedOutWithThatData) {
  // Data for the window alone (the answer to a read of the query) arrives while a pending write
  // below a child outside the window's data brings that child in: the view of all the data above
  // tells that child.
  auto window = query("r", params()->orderBy(FPriorityIndex::priorityIndex())->limitToFirst(2));
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, window);
  const uint64_t tag = *tree->tagForQuery(window);
  tree->addEventRegistration(valueRegistration(2), defaultQuery("/"));
  tree->applyServerOverwriteAtPath(path("/"), node(R"({"r":{"10":{"n":8},"b":{"n":6},"c":{".priority":1,"n":2}}})"));
  answer("/ {}", "ok");
  EXPECT_EQ(exported(eventsOf(tree->applyUserOverwriteAtPath(path("r/2/m"), node("\"s1\""), 1, true), value)),
            (Strings{R"({"10":{"n":8},"2":{"m":"s1"}})"}));
  FEventList events = tree->applyTaggedQueryOverwriteAtPath(path("r"), node(R"({"10":{"n":8},"b":{"n":6}})"), tag);
  EXPECT_TRUE(eventsOf(events, value).empty());
}

TEST_F(SyncTreeFixture, AcknowledgingASetKeepsALaterUpdateThatWritesBelowIt) {
  // The update writes below the set's path (a1/1/n), not at it: its value must survive the set
  // leaving the pending writes, until the update itself is answered.
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, defaultQuery("a1"));
  tree->applyServerOverwriteAtPath(path("a1"), node(R"({"1":{"n":1},"b":"s2"})"));
  answer("/a1 {}", "ok");
  FNodeRef set = node(R"({"m":"s2","n":5})");
  tree->applyUserOverwriteAtPath(path("a1/1"), set, 1, true);
  auto update = FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"1/n":9,"b":0})"));
  EXPECT_EQ(describeFor(tree->applyUserMergeAtPath(path("a1"), update, 2), value),
            (Strings{R"(value /a1 {"1":{"m":"s2","n":9},"b":0})"}));
  // The server takes the set and answers it; the update waits.
  tree->applyServerOverwriteAtPath(path("a1/1"), set);
  EXPECT_EQ(describeFor(tree->ackUserWriteWithWriteId(1, false, true, clock), value), Strings{});
  EXPECT_EQ(json(tree->calcCompleteEventCacheAtPath(path("a1"), std::nullopt)), R"({"1":{"m":"s2","n":9},"b":0})");
  // Refused instead, the set leaves the update's values over the server's data.
  tree->applyUserOverwriteAtPath(path("a1/1"), node(R"({"m":"t","n":6})"), 3, true);
  tree->applyUserMergeAtPath(path("a1"), FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"1/n":7})")), 4);
  EXPECT_EQ(describeFor(tree->ackUserWriteWithWriteId(3, true, true, clock), value),
            (Strings{R"(value /a1 {"1":{"m":"s2","n":7},"b":0})"}));
}

TEST_F(SyncTreeFixture, RefusingAWriteBelowALeafLeavesListenersAtEveryDepthAgreeing) {
  // b = 5, then b/c = {"a":1} turns the leaf into children, then b/c is removed. Refused, the
  // second write leaves b = 5 with a removal below a leaf, which changes nothing: b stays 5.
  auto root = valueRegistration(1);
  auto atB = valueRegistration(2);
  tree->addEventRegistration(root, defaultQuery("/"));
  tree->addEventRegistration(atB, defaultQuery("b"));
  answer("/ {}", "ok");
  tree->applyUserOverwriteAtPath(path("b"), node("5"), 1, true);
  tree->applyUserOverwriteAtPath(path("b/c"), node(R"({"a":1})"), 2, true);
  tree->applyUserOverwriteAtPath(path("b/c"), empty(), 3, true);
  EXPECT_EQ(json(tree->calcCompleteEventCacheAtPath(path("b"), std::nullopt)), "null");
  FEventList events = tree->ackUserWriteWithWriteId(2, true, true, clock);
  EXPECT_EQ(describeFor(events, root), (Strings{R"(value / {"b":5})"}));
  EXPECT_EQ(describeFor(events, atB), (Strings{"value /b 5"}));
}

TEST_F(SyncTreeFixture, AcknowledgingAWriteBelowALeafUnderALaterRemovalShowsWhatTheServerNowHolds) {
  // The set below the leaf b turned it into children and the later removal emptied it. The server
  // takes the set, then another client makes b a plain value again: once the set is answered, the
  // removal below that value changes nothing and the value shows.
  auto root = valueRegistration(1);
  tree->addEventRegistration(root, defaultQuery("/"));
  tree->applyServerOverwriteAtPath(FPath::empty(), node(R"({"b":5})"));
  answer("/ {}", "ok");
  tree->applyUserOverwriteAtPath(path("b/c"), node(R"({"a":1})"), 1, true);
  EXPECT_EQ(describe(tree->applyUserOverwriteAtPath(path("b/c"), empty(), 2, true)), (Strings{"value / null"}));
  tree->applyServerOverwriteAtPath(path("b/c"), node(R"({"a":1})"));
  EXPECT_EQ(describe(tree->applyServerOverwriteAtPath(path("b"), node("7"))), Strings{});
  EXPECT_EQ(describe(tree->ackUserWriteWithWriteId(1, false, true, clock)), (Strings{R"(value / {"b":7})"}));
}

TEST_F(SyncTreeFixture, AcknowledgingARemovalUnderALaterWriteShowsThePriorityItNoLongerDrops) {
  // The removal below the plain value a changes nothing on the server; the update then gives a
  // children, keeping its priority. Laid again over the server's data, the removal empties a and
  // drops the priority; once it is answered it no longer does, though the update covers its path.
  auto root = valueRegistration(1);
  auto atA = valueRegistration(2);
  tree->addEventRegistration(root, defaultQuery("/"));
  tree->addEventRegistration(atA, defaultQuery("a"));
  tree->applyServerOverwriteAtPath(FPath::empty(), node(R"({"a":{".priority":0,".value":3}})"));
  answer("/ {}", "ok");
  tree->applyUserOverwriteAtPath(path("a/d"), empty(), 1, true);
  auto update = FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"d":9})"));
  EXPECT_EQ(exported(eventsOf(tree->applyUserMergeAtPath(path("a"), update, 2), atA)), (Strings{R"({".priority":0,"d":9})"}));
  EXPECT_EQ(exported(eventsOf(tree->applyServerMergeAtPath(path("a"), update), atA)), (Strings{R"({"d":9})"}));
  FEventList events = tree->ackUserWriteWithWriteId(1, false, true, clock);
  EXPECT_EQ(exported(eventsOf(events, root)), (Strings{R"({"a":{".priority":0,"d":9}})"}));
  EXPECT_EQ(exported(eventsOf(events, atA)), (Strings{R"({".priority":0,"d":9})"}));
}

TEST_F(SyncTreeFixture, AServerChangeThatGivesALocationAboveItAnotherPriorityShowsThereUnderPendingWrites) {
  // The server's removal of a's only child empties a, which loses its priority; the user's
  // pending child keeps a with data, now without a priority: at the view's own location and below.
  auto root = valueRegistration(1);
  auto atA = valueRegistration(2);
  tree->addEventRegistration(root, defaultQuery("/"));
  tree->addEventRegistration(atA, defaultQuery("a"));
  tree->applyServerOverwriteAtPath(FPath::empty(), node(R"({"a":{".priority":1,"x":1}})"));
  answer("/ {}", "ok");
  tree->applyUserOverwriteAtPath(path("a/y"), node("2"), 1, true);
  FEventList events = tree->applyServerOverwriteAtPath(path("a/x"), empty());
  EXPECT_EQ(exported(eventsOf(events, root)), (Strings{R"({"a":{"y":2}})"}));
  EXPECT_EQ(exported(eventsOf(events, atA)), (Strings{R"({"y":2})"}));
  // Hidden by a write, the change still empties the location above it on the server.
  tree->applyServerOverwriteAtPath(path("b"), node(R"({".priority":3,"x":1})"));
  tree->applyUserOverwriteAtPath(path("b/x"), node("5"), 2, true);
  EXPECT_EQ(exported(eventsOf(tree->applyServerOverwriteAtPath(path("b/x"), empty()), root)),
            (Strings{R"({"a":{"y":2},"b":{"x":5}})"}));
  // While a removal waits, a change that a write hides decides whether the removal empties the
  // location: with another child there, c keeps its priority.
  tree->applyServerOverwriteAtPath(path("c"), node(R"({".priority":4,"a":1})"));
  tree->applyUserOverwriteAtPath(path("c/a"), empty(), 3, true);
  tree->applyUserOverwriteAtPath(path("c/x"), node("5"), 4, true);
  EXPECT_EQ(exported(eventsOf(tree->applyServerOverwriteAtPath(path("c/x"), node("9")), root)),
            (Strings{R"({"a":{"y":2},"b":{"x":5},"c":{".priority":4,"x":5}})"}));
}

TEST_F(SyncTreeFixture, RevertingARemovalGivesTheLocationAboveItItsPriorityBack) {
  auto root = valueRegistration(1);
  tree->addEventRegistration(root, defaultQuery("/"));
  tree->applyServerOverwriteAtPath(FPath::empty(), node(R"({".priority":1,"x":1})"));
  answer("/ {}", "ok");
  // The removal emptied the view's own location on the way; the later child came after.
  tree->applyUserOverwriteAtPath(path("x"), empty(), 1, true);
  EXPECT_EQ(exported(tree->applyUserOverwriteAtPath(path("y"), node("2"), 2, true)), (Strings{R"({"y":2})"}));
  EXPECT_EQ(exported(tree->ackUserWriteWithWriteId(1, true, true, clock)), (Strings{R"({".priority":1,"x":1,"y":2})"}));
  // Below an earlier write that holds the location, and under a later write at the removal's own
  // path, which does not undo what the removal did above it.
  auto update = FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"b":{".priority":5,"c":1}})"));
  tree->applyUserMergeAtPath(FPath::empty(), update, 3);
  tree->applyUserOverwriteAtPath(path("b/c"), empty(), 4, true);
  EXPECT_EQ(exported(tree->applyUserOverwriteAtPath(path("b/c"), node("2"), 5, true)),
            (Strings{R"({".priority":1,"b":{"c":2},"x":1,"y":2})"}));
  EXPECT_EQ(exported(tree->ackUserWriteWithWriteId(4, true, true, clock)),
            (Strings{R"({".priority":1,"b":{".priority":5,"c":2},"x":1,"y":2})"}));
  // The other way round: a write that kept a location from being emptied by a later removal,
  // reverted under a later write at its own path, takes the location's priority with it.
  auto atP = valueRegistration(2);
  tree->addEventRegistration(atP, defaultQuery("p"));
  tree->applyServerOverwriteAtPath(path("p"), node(R"({".priority":2,"x":1})"));
  tree->applyUserOverwriteAtPath(path("p/d"), node("1"), 6, true);
  tree->applyUserOverwriteAtPath(path("p/x"), empty(), 7, true);
  EXPECT_EQ(exported(eventsOf(tree->applyUserOverwriteAtPath(path("p/d"), node("7"), 8, true), atP)),
            (Strings{R"({".priority":2,"d":7})"}));
  EXPECT_EQ(exported(eventsOf(tree->ackUserWriteWithWriteId(6, true, true, clock), atP)), (Strings{R"({"d":7})"}));
}

TEST_F(SyncTreeFixture, AnUpdateWritingAPriorityBesideTheDataBelowItShowsThatPriority) {
  // The update is one change: its priorities land once its data is there, as the write tree (and
  // the server) lay them, also where the location had no data before. From the user's update and
  // from the server's, below the listener's location and at it.
  auto atR = valueRegistration(1);
  tree->addEventRegistration(atR, defaultQuery("r"));
  tree->applyServerOverwriteAtPath(path("r"), node(R"({"a":"z","b":1})"));
  answer("/r {}", "ok");
  auto below = FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"10/.priority":0,"10/2":0})"));
  EXPECT_EQ(exported(tree->applyUserMergeAtPath(path("r/a"), below, 1)),
            (Strings{R"({"a":{"10":{".priority":0,"2":0}},"b":1})"}));
  EXPECT_EQ(json(tree->calcCompleteEventCacheAtPath(path("r/a/10/.priority"), std::nullopt)), "0");
  EXPECT_TRUE(tree->applyServerMergeAtPath(path("r/a"), below).empty());
  EXPECT_TRUE(tree->ackUserWriteWithWriteId(1, false, true, clock).empty());

  auto own = FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({".priority":3,"x":2})"));
  auto atP = valueRegistration(2);
  tree->addEventRegistration(atP, defaultQuery("p"));
  answer("/p {}", "ok");
  EXPECT_EQ(exported(tree->applyUserMergeAtPath(path("p"), own, 2)), (Strings{R"({".priority":3,"x":2})"}));
  auto atQ = valueRegistration(3);
  tree->addEventRegistration(atQ, defaultQuery("q"));
  answer("/q {}", "ok");
  EXPECT_EQ(exported(tree->applyServerMergeAtPath(path("q"), own)), (Strings{R"({".priority":3,"x":2})"}));
}

TEST_F(SyncTreeFixture, AWindowsDataIsNotWorkedOutWithTheDataOfAnotherWindowAboveIt) {
  // Each window's data comes with its own listen, and the server pushes a change to one listen
  // after another: the window above holds the location as it was before the change until its own
  // push arrives, which is no reason for the window below to show it.
  auto above = query("/", params()->orderBy(FKeyIndex::keyIndex())->limitToFirst(1));
  auto below = query("d", params()->orderBy(FKeyIndex::keyIndex())->startAt(node(R"("b")"))->limitToFirst(1));
  auto aboveValue = valueRegistration(1);
  auto belowValue = valueRegistration(2);
  tree->addEventRegistration(aboveValue, above);
  tree->addEventRegistration(belowValue, below);
  const uint64_t aboveTag = *tree->tagForQuery(above);
  const uint64_t belowTag = *tree->tagForQuery(below);
  tree->applyTaggedQueryOverwriteAtPath(FPath::empty(), node(R"({"d":{"b":{"x":"y"},"c":1}})"), aboveTag);
  tree->applyTaggedListenCompleteAtPath(FPath::empty(), aboveTag);
  tree->applyTaggedQueryOverwriteAtPath(path("d"), node(R"({"b":{"x":"y"}})"), belowTag);
  tree->applyTaggedListenCompleteAtPath(path("d"), belowTag);
  EXPECT_EQ(exported(eventsOf(tree->applyTaggedQueryOverwriteAtPath(path("d"), node(R"({"b":{"x":"z"}})"), belowTag),
                              belowValue)),
            (Strings{R"({"b":{"x":"z"}})"}));
  EXPECT_EQ(exported(tree->applyTaggedQueryOverwriteAtPath(FPath::empty(), node(R"({"d":{"b":{"x":"z"},"c":1}})"),
                                                           aboveTag)),
            (Strings{R"({"d":{"b":{"x":"z"},"c":1}})"}));
}

TEST_F(SyncTreeFixture, AListenOfAllTheDataReportsItsCacheOnlyWhenTheViewsBelowItHoldNothingElse) {
  // The listen covers the views below it: the server, finding the reported cache its own, would
  // send nothing, and leave them holding what it may no longer have.
  auto window = query("r", params()->orderBy(std::make_shared<const FPathIndex>(path("n")))->limitToFirst(2));
  tree->addEventRegistration(valueRegistration(1), window);
  const uint64_t tag = *tree->tagForQuery(window);
  tree->applyTaggedQueryOverwriteAtPath(path("r"), node(R"({"a":{"n":1},"b":{"n":2}})"), tag);
  tree->applyTaggedListenCompleteAtPath(path("r"), tag);
  tree->addEventRegistration(valueRegistration(2), defaultQuery("s/a"));
  tree->applyServerOverwriteAtPath(path("s/a"), node(R"({"n":1})"));
  answer("/s/a {}", "ok");

  // Added while the link is down: its cache is what the client already knows of the root.
  persistence->serverCache = node(R"({"r":{"a":{"n":1}},"s":{"a":{"n":1}}})");
  tree->addEventRegistration(valueRegistration(3), defaultQuery("/"));
  EXPECT_FALSE(containers.at("/ {}")->describesDataBelow());  // the window's child b is left out
  tree->removeEventRegistration(nullptr, defaultQuery("/"), nullptr);
  persistence->serverCache = node(R"({"r":{"a":{"n":1},"b":{"n":2}},"s":{"a":{"n":5}}})");
  tree->addEventRegistration(valueRegistration(4), defaultQuery("/"));
  auto root = containers.at("/ {}");
  EXPECT_FALSE(root->describesDataBelow());  // s/a holds all of its data, another than the cache's
  // Once the server's data is there, every view holds part of it.
  tree->applyServerOverwriteAtPath(FPath::empty(), node(R"({"r":{"a":{"n":1},"b":{"n":2}},"s":{"a":{"n":5}}})"));
  EXPECT_TRUE(root->describesDataBelow());
  // A window's listen covers no other view.
  EXPECT_TRUE(containers.at("/r {\"i\":\"n\",\"l\":2,\"vf\":\"l\"}")->describesDataBelow());
}

TEST_F(SyncTreeFixture, AListenCompletingAboveAWindowLeavesTheWindowsServerDataWhatItsQuerySelectsOfTheServers) {
  // The listen reported a cache the server held already, so it completes with no data. The
  // window's own data lacked the child that the server's data puts first in it: once the listen
  // completes, a revert worked out from the window's data must not bring back the child that left.
  auto window = query("r", params()->orderBy(std::make_shared<const FPathIndex>(path("n")))->limitToFirst(1));
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, window);
  const uint64_t tag = *tree->tagForQuery(window);
  tree->applyTaggedQueryOverwriteAtPath(path("r"), node(R"({"b":{"n":2}})"), tag);
  tree->applyTaggedListenCompleteAtPath(path("r"), tag);
  persistence->serverCache = node(R"({"r":{"a":{"n":1},"b":{"n":2}}})");
  tree->addEventRegistration(valueRegistration(2), defaultQuery("/"));
  EXPECT_TRUE(containers.at("/ {}")->describesDataBelow());
  EXPECT_EQ(exported(eventsOf(answer("/ {}", "ok"), value)), (Strings{R"({"a":{"n":1}})"}));
  tree->applyUserOverwriteAtPath(path("x"), node("1"), 1, true);
  EXPECT_TRUE(eventsOf(tree->removeAllWrites(), value).empty());
  EXPECT_EQ(json(tree->getServerValue(window)), R"({"a":{"n":1}})");
}

TEST_F(SyncTreeFixture, RevertingAWriteBelowAPlainValueAnEarlierWriteGaveShowsThatValueBeforeTheServerAnswers) {
  // The listener's location is a plain value by an earlier write of a location above it, which
  // the later write below it replaced with children: reverting the later write shows the plain
  // value again, also while the server has not answered the listen yet.
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, defaultQuery("c"));
  tree->applyUserOverwriteAtPath(FPath::empty(), node(R"({"b":"z","c":"z"})"), 1, true);
  EXPECT_EQ(exported(tree->applyUserOverwriteAtPath(path("c/a"), node(R"("z")"), 2, true)), (Strings{R"({"a":"z"})"}));
  EXPECT_EQ(exported(tree->ackUserWriteWithWriteId(2, true, true, clock)), (Strings{R"("z")"}));
  tree->applyServerOverwriteAtPath(path("c"), empty());
  EXPECT_TRUE(tree->applyListenCompleteAtPath(path("c")).empty());
}

TEST_F(SyncTreeFixture, AcknowledgementsUnderAWindowMoveOnlyTheChildrenTheirWritesSet) {
  // A window of the first three of thirty children by "n", with a listener of all the data above
  // it or on the window's own data. Each acknowledgement shows what the server's data and the
  // remaining writes give, in child events of the children that move and no others: a child the
  // write alone brought in leaves and the one it pushed out comes back; a write the server took as
  // it was changes nothing.
  for (bool withAllTheData : {true, false}) {
    SCOPED_TRACE(withAllTheData ? "under a listener of all the data" : "on the window's own data");
    persistence = std::make_shared<InMemoryPersistence>();
    containers.clear();
    SetUp();
    Value all = Value::object();
    for (int i = 0; i < 30; ++i) all[(i < 10 ? "c0" : "c") + std::to_string(i)] = Value{{"n", i}};
    auto window = query("r", params()->orderBy(std::make_shared<const FPathIndex>(path("n")))->limitToFirst(3));
    auto children = childRegistration(1, {FEventTypeChildAdded, FEventTypeChildRemoved, FEventTypeChildChanged});
    tree->addEventRegistration(children, window);
    std::optional<uint64_t> tag;
    // What the server sends of a change: the location's data, or the window's when only it listens.
    auto serverWindow = [&](const char* json) {
      return withAllTheData ? FEventList{} : tree->applyTaggedQueryOverwriteAtPath(path("r"), node(json), *tag);
    };
    auto serverChild = [&](const char* at, const char* json) {
      return withAllTheData ? tree->applyServerOverwriteAtPath(path(at), node(json)) : FEventList{};
    };
    if (withAllTheData) {
      tree->addEventRegistration(valueRegistration(2), defaultQuery("r"));
      tree->applyServerOverwriteAtPath(path("r"), FSnapshotUtilities::nodeFrom(all));
      answer("/r {}", "ok");
    } else {
      tag = tree->tagForQuery(window);
      ASSERT_TRUE(tag.has_value());
      tree->applyTaggedQueryOverwriteAtPath(path("r"), node(R"({"c00":{"n":0},"c01":{"n":1},"c02":{"n":2}})"), *tag);
      tree->applyTaggedListenCompleteAtPath(path("r"), *tag);
    }
    EXPECT_EQ(json(tree->getServerValue(window)), R"({"c00":{"n":0},"c01":{"n":1},"c02":{"n":2}})");

    // Brought in by the write; the server takes it and another client moves it out at once.
    EXPECT_EQ(describeFor(tree->applyUserOverwriteAtPath(path("r/c10"), node(R"({"n":-1})"), 1, true), children),
              (Strings{R"(removed /r/c02 {"n":2})", R"(added /r/c10 {"n":-1})"}));
    EXPECT_TRUE(describeFor(serverChild("r/c10", R"({"n":-1})"), children).empty());
    EXPECT_TRUE(describeFor(serverChild("r/c10", R"({"n":50})"), children).empty());
    EXPECT_TRUE(describeFor(serverWindow(R"({"c00":{"n":0},"c01":{"n":1},"c02":{"n":2}})"), children).empty());
    EXPECT_EQ(describeFor(tree->ackUserWriteWithWriteId(1, false, true, clock), children),
              (Strings{R"(removed /r/c10 {"n":-1})", R"(added /r/c02 {"n":2} prev=c01)"}));

    // Taken as it was: the acknowledgement changes nothing.
    EXPECT_EQ(describeFor(tree->applyUserOverwriteAtPath(path("r/c05"), node(R"({"n":1.5})"), 2, true), children),
              (Strings{R"(removed /r/c02 {"n":2})", R"(added /r/c05 {"n":1.5} prev=c01)"}));
    serverChild("r/c05", R"({"n":1.5})");
    serverWindow(R"({"c00":{"n":0},"c01":{"n":1},"c05":{"n":1.5}})");
    EXPECT_TRUE(describeFor(tree->ackUserWriteWithWriteId(2, false, true, clock), children).empty());

    // A removal: the next child takes the place, at once where the client holds all the data,
    // else when the server's window brings it; the answer changes nothing.
    const Strings removed{R"(removed /r/c00 {"n":0})"};
    const Strings next{R"(added /r/c02 {"n":2} prev=c05)"};
    Strings shown = describeFor(tree->applyUserOverwriteAtPath(path("r/c00"), empty(), 3, true), children);
    EXPECT_EQ(shown, withAllTheData ? (Strings{removed[0], next[0]}) : removed);
    serverChild("r/c00", "null");
    EXPECT_EQ(describeFor(serverWindow(R"({"c01":{"n":1},"c02":{"n":2},"c05":{"n":1.5}})"), children),
              withAllTheData ? Strings{} : next);
    EXPECT_TRUE(describeFor(tree->ackUserWriteWithWriteId(3, false, true, clock), children).empty());
    EXPECT_EQ(json(tree->getServerValue(window)), R"({"c01":{"n":1},"c02":{"n":2},"c05":{"n":1.5}})");
  }
}

TEST_F(SyncTreeFixture, RevertingAWriteThatEmptiedALocationAnEarlierWriteGaveShowsItsPriorityBeforeTheServerAnswers) {
  // The set gives the listener's whole location, priority included; the update empties it on the
  // way, which drops the priority. Reverting the update shows the priority again, also while the
  // server has not answered the listen yet, and the server's answer (which the set hides) changes
  // nothing.
  auto value = valueRegistration(1);
  tree->addEventRegistration(value, defaultQuery("/"));
  const char* written = R"({".priority":2,"a":{"c":{"c":9}}})";
  EXPECT_EQ(exported(tree->applyUserOverwriteAtPath(FPath::empty(), node(written), 1, true)), (Strings{written}));
  auto removal = FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"c":null})"));
  EXPECT_EQ(exported(tree->applyUserMergeAtPath(path("a"), removal, 2)), (Strings{"null"}));
  EXPECT_EQ(exported(tree->ackUserWriteWithWriteId(2, true, true, clock)), (Strings{written}));
  EXPECT_TRUE(tree->applyServerOverwriteAtPath(FPath::empty(), node(R"({"b":{"c":{"b":4}}})")).empty());
  EXPECT_TRUE(answer("/ {}", "ok").empty());
}
