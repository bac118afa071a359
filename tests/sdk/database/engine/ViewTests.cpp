// Views: creation from initial caches, registrations, initial events and complete caches.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "sdk/database/core/FKeepSyncedEventRegistration.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/core/FView.h"
#include "sdk/database/core/FWriteTree.h"

using namespace enginetest;

namespace {
FViewCacheRef caches(const char* event, bool eventComplete, const char* server, bool serverComplete) {
  return std::make_shared<const FViewCache>(std::make_shared<const FCacheNode>(indexed(event), eventComplete, false),
                                            std::make_shared<const FCacheNode>(indexed(server), serverComplete, false));
}
}  // namespace

TEST(ViewTest, AnIncompleteViewGivesChildEventsAndNoValue) {
  FView view(defaultQuery("p"), caches(R"({"b":2,"a":1})", false, "{}", false));
  auto child = allChildRegistration(1);
  auto value = valueRegistration(2);
  view.addEventRegistration(child);
  view.addEventRegistration(value);
  EXPECT_EQ(describe(view.initialEvents(child)), (Strings{"added /p/a 1", "added /p/b 2 prev=a"}));
  EXPECT_TRUE(view.initialEvents(value).empty());

  FView complete(defaultQuery("p"), caches(R"({"a":1})", true, R"({"a":1})", true));
  EXPECT_EQ(describe(complete.initialEvents(value)), (Strings{R"(value /p {"a":1})"}));
  EXPECT_EQ(complete.description(), R"(FView (FQuerySpec (path: /p, params: {})))");
}

TEST(ViewTest, ALimitedViewKeepsItsWindowWhileTheServerCacheKeepsEverything) {
  FView view(query("p", params()->limitToFirst(2)), caches(R"({"a":1,"b":2,"c":3})", true, R"({"a":1,"b":2,"c":3})", true));
  EXPECT_EQ(json(view.eventCache()), R"({"a":1,"b":2})");
  EXPECT_EQ(json(view.serverCache()), R"({"a":1,"b":2,"c":3})");
  EXPECT_TRUE(view.viewCache()->cachedEventSnap()->isFiltered());
  EXPECT_FALSE(view.viewCache()->cachedServerSnap()->isFiltered());
}

TEST(ViewTest, RemovingRegistrations) {
  FView view(defaultQuery("p"), caches("{}", true, "{}", true));
  auto twice = valueRegistration(1, true);
  auto quiet = valueRegistration(2);
  auto other = childRegistration(3, {FEventTypeChildAdded}, true);
  view.addEventRegistration(twice);
  view.addEventRegistration(quiet);
  view.addEventRegistration(twice);
  view.addEventRegistration(other);
  EXPECT_TRUE(view.removeEventRegistration(valueRegistration(1), nullptr).empty());
  ASSERT_EQ(view.eventRegistrations().size(), 2u);
  EXPECT_EQ(view.eventRegistrations()[0], quiet);
  EXPECT_EQ(view.eventRegistrations()[1], other);

  view.addEventRegistration(twice);
  auto error = FUtilities::errorForStatus("permission_denied", std::nullopt);
  auto cancels = view.removeEventRegistration(nullptr, error);
  ASSERT_EQ(cancels.size(), 2u);  // quiet has no cancel callback
  EXPECT_EQ(cancels[0]->eventRegistration(), other);
  EXPECT_EQ(cancels[1]->eventRegistration(), twice);
  EXPECT_EQ(cancels[0]->path()->toString(), "/p");
  EXPECT_TRUE(view.isEmpty());
}

TEST(ViewTest, CompleteServerCacheOfAFilteredViewOnlyBelowAChildItHolds) {
  FView filtered(query("p", params()->limitToFirst(5)), caches(R"({"a":{"x":1}})", true, R"({"a":{"x":1}})", true));
  EXPECT_EQ(filtered.completeServerCacheFor(FPath::empty()), nullptr);
  EXPECT_EQ(filtered.completeServerCacheFor(path("b")), nullptr);
  EXPECT_EQ(json(filtered.completeServerCacheFor(path("a/x"))), "1");
  EXPECT_EQ(json(filtered.completeEventCacheFor(path("a"))), R"({"x":1})");

  FView unknown(query("p", params()->limitToFirst(5)), caches(R"({"a":1})", false, R"({"a":1})", false));
  EXPECT_EQ(unknown.completeServerCacheFor(path("a")), nullptr);
  EXPECT_EQ(unknown.completeEventCache(), nullptr);

  FView all(defaultQuery("p"), caches("{}", true, R"({"a":1})", true));
  EXPECT_EQ(json(all.completeServerCacheFor(FPath::empty())), R"({"a":1})");
  EXPECT_TRUE(all.completeServerCacheFor(path("zz"))->isEmpty());
}

TEST(ViewTest, OperationsYieldEventsForEveryRegistration) {
  auto writes = std::make_shared<FWriteTree>();
  FView view(defaultQuery("p"), caches(R"({"a":1})", true, R"({"a":1})", true));
  auto child = allChildRegistration(1);
  auto value = valueRegistration(2);
  view.addEventRegistration(child);
  view.addEventRegistration(value);
  writes->addOverwriteAtPath(path("p/b"), node("2"), 1, true);
  auto result = view.applyOperation(FOverwrite(FOperationSource::userInstance(), path("b"), node("2")),
                                    writes->childWritesForPath(path("p")), nullptr);
  EXPECT_EQ(describe(result.events), (Strings{"added /p/b 2 prev=a", R"(value /p {"a":1,"b":2})"}));
  ASSERT_EQ(result.changes.size(), 2u);
}

TEST(ViewTest, TheWildcardHandleTakesUserRegistrationsButNotTheKeepSyncedOne) {
  FView view(defaultQuery("p"), caches("{}", true, "{}", true));
  const FEventRegistrationRef keepSynced = FKeepSyncedEventRegistration::instance();
  view.addEventRegistration(valueRegistration(1));
  view.addEventRegistration(keepSynced);
  view.addEventRegistration(childRegistration(2, {FEventTypeChildAdded}));
  view.removeEventRegistration(valueRegistration(kFEventRegistrationAllHandles), nullptr);
  ASSERT_EQ(view.eventRegistrations().size(), 1u);
  EXPECT_EQ(view.eventRegistrations()[0], keepSynced);
  EXPECT_TRUE(view.initialEvents(keepSynced).empty());

  view.addEventRegistration(valueRegistration(3));
  view.removeEventRegistration(keepSynced, nullptr);
  ASSERT_EQ(view.eventRegistrations().size(), 1u);
  EXPECT_EQ(view.eventRegistrations()[0]->handle(), 3u);
}
