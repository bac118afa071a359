// View caches and the complete-child sources that filters consult.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "sdk/database/core/FViewCache.h"
#include "sdk/database/core/FWriteTree.h"
#include "sdk/database/core/FWriteTreeCompleteChildSource.h"

using namespace enginetest;

namespace {
FCacheNodeRef cache(const char* jsonText, bool complete, bool filtered) {
  return std::make_shared<const FCacheNode>(indexed(jsonText), complete, filtered);
}
}  // namespace

TEST(ViewCacheTest, CompleteSnapsOnlyWhenFullyInitialised) {
  FViewCache partial(cache(R"({"a":1})", false, false), cache(R"({"a":1})", true, false));
  EXPECT_EQ(partial.completeEventSnap(), nullptr);
  ASSERT_TRUE(partial.completeServerSnap());
  auto updated = partial.updateEventSnap(indexed(R"({"b":2})"), true, true);
  EXPECT_EQ(json(updated->completeEventSnap()), R"({"b":2})");
  EXPECT_TRUE(updated->cachedEventSnap()->isFiltered());
  EXPECT_EQ(updated->cachedServerSnap(), partial.cachedServerSnap());
  auto server = partial.updateServerSnap(indexed("1"), false, false);
  EXPECT_EQ(server->completeServerSnap(), nullptr);
  EXPECT_EQ(server->cachedEventSnap(), partial.cachedEventSnap());
}

TEST(CompleteChildSourceTest, PrefersTheEventCacheAndFillsGapsFromServerAndWrites) {
  auto writes = std::make_shared<FWriteTree>();
  writes->addOverwriteAtPath(path("q/c/x"), node("9"), 1, true);
  auto viewCache = std::make_shared<const FViewCache>(cache(R"({"a":1})", true, true),
                                                      cache(R"({"a":100,"c":{"y":3}})", true, false));
  FWriteTreeCompleteChildSource source(writes->childWritesForPath(path("q")), viewCache, nullptr);
  EXPECT_EQ(json(source.completeChild("a")), "1");  // from the event cache
  EXPECT_EQ(json(source.completeChild("c")), R"({"x":9,"y":3})");
  EXPECT_TRUE(source.completeChild("missing")->isEmpty());  // the server cache is complete

  auto partialServer = std::make_shared<const FViewCache>(cache(R"({"a":1})", true, true), cache("{}", false, false));
  FWriteTreeCompleteChildSource unknown(writes->childWritesForPath(path("q")), partialServer, nullptr);
  EXPECT_EQ(unknown.completeChild("missing"), nullptr);
  FWriteTreeCompleteChildSource withServer(writes->childWritesForPath(path("q")), partialServer, node(R"({"d":4})"));
  EXPECT_EQ(json(withServer.completeChild("d")), "4");

  auto next = source.childByIndex(FPriorityIndex::priorityIndex(), FNamedNode::nodeWithName("a", node("100")), false);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->name(), "c");
  EXPECT_EQ(unknown.childByIndex(FPriorityIndex::priorityIndex(), FNamedNode::min(), false), nullptr);
  EXPECT_EQ(FNoCompleteChildSource::instance()->completeChild("a"), nullptr);
}
