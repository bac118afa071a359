// The pending write tree: layering, shadowing, removal, and what the user sees at a path.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "platform/foundation/NSException.h"
#include "sdk/database/core/FWriteTree.h"
#include "sdk/database/core/FWriteTreeRef.h"

using namespace enginetest;

namespace {

std::shared_ptr<FWriteTree> tree() { return std::make_shared<FWriteTree>(); }
FCompoundWriteRef merge(const char* jsonText) {
  return FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(jsonText));
}
// What the user sees at the path with no server data, as JSON, or "none".
std::string seenAt(const FWriteTree& writes, const char* at, const char* server = nullptr) {
  FNodeRef result = writes.calculateCompleteEventCacheAtPath(path(at), server ? node(server) : nullptr, std::nullopt, false);
  return result ? json(result) : "none";
}

}  // namespace

// A new write changes the visible writes in place while the tree holds them alone: what a caller
// kept of them (the compound write, or a child of it) answers as before, and writes under a value
// already written and at a child written before still layer as they did.
TEST(WriteTreeTest, AWriteLeavesTheVisibleWritesACallerKeptAsTheyWere) {
  auto writes = tree();
  for (int i = 0; i < 60; ++i) writes->addOverwriteAtPath(path(("loc/c" + std::to_string(i)).c_str()), node(std::to_string(i).c_str()), i + 1, true);
  const FCompoundWriteRef kept = writes->visibleWrites();
  const FCompoundWriteRef keptChild = kept->childCompoundWriteAtPath(path("loc"));
  const std::string keptSeen = json(kept->completeNodeAtPath(path("loc/c7")));
  writes->addOverwriteAtPath(path("loc/c7"), node("\"seven\""), 61, true);
  writes->addOverwriteAtPath(path("loc/new"), node("{\"a\":1}"), 62, true);
  writes->addOverwriteAtPath(path("loc/new/b"), node("2"), 63, true);  // under a value written before
  EXPECT_EQ(keptSeen, "7");
  EXPECT_EQ(json(kept->completeNodeAtPath(path("loc/c7"))), "7");
  EXPECT_EQ(kept->completeNodeAtPath(path("loc/new")), nullptr);
  EXPECT_EQ(keptChild->completeNodeAtPath(path("new")), nullptr);
  EXPECT_EQ(json(keptChild->completeNodeAtPath(path("c7"))), "7");
  EXPECT_EQ(seenAt(*writes, "loc/c7"), "\"seven\"");
  EXPECT_EQ(seenAt(*writes, "loc/new"), "{\"a\":1,\"b\":2}");
  EXPECT_EQ(seenAt(*writes, "loc/c59"), "59");
  // Held alone again, the visible writes take further writes in place and keep every one of them.
  for (int i = 0; i < 60; ++i) writes->addOverwriteAtPath(path(("loc/c" + std::to_string(i)).c_str()), node(std::to_string(100 + i).c_str()), 64 + i, true);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(seenAt(*writes, ("loc/c" + std::to_string(i)).c_str()), std::to_string(100 + i));
  EXPECT_EQ(json(kept->completeNodeAtPath(path("loc/c59"))), "59");
}

TEST(WriteTreeTest, RemovingAHiddenWriteChangesNothingVisible) {
  auto writes = tree();
  writes->addOverwriteAtPath(path("a"), node("1"), 1, true);
  writes->addOverwriteAtPath(path("b"), node("2"), 2, false);
  auto before = writes->visibleWrites();
  EXPECT_FALSE(writes->removeWriteId(2));
  EXPECT_EQ(writes->visibleWrites(), before);
  EXPECT_EQ(writes->allWrites().size(), 1u);
}

TEST(WriteTreeTest, RemovingAWriteHiddenByALaterOneAtTheSameOrAHigherPathChangesNothing) {
  auto writes = tree();
  writes->addOverwriteAtPath(path("a/b"), node("1"), 1, true);
  writes->addOverwriteAtPath(path("a"), node(R"({"b":5})"), 2, true);
  EXPECT_FALSE(writes->removeWriteId(1));
  EXPECT_EQ(seenAt(*writes, "a/b"), "5");

  writes->addOverwriteAtPath(path("m"), node("1"), 3, true);
  writes->addMergeAtPath(path("/"), merge(R"({"m":2})"), 4);
  EXPECT_FALSE(writes->removeWriteId(3));
}

TEST(WriteTreeTest, RemovingAWriteOverADeeperLaterOneKeepsTheDeeperValue) {
  auto writes = tree();
  writes->addOverwriteAtPath(path("a"), node(R"({"x":1,"y":2})"), 1, true);
  writes->addOverwriteAtPath(path("a/y"), node("3"), 2, true);
  EXPECT_TRUE(writes->removeWriteId(1));
  EXPECT_EQ(seenAt(*writes, "a/y"), "3");
  EXPECT_EQ(seenAt(*writes, "a/x"), "none");
  EXPECT_EQ(seenAt(*writes, "a", R"({"x":9})"), R"({"x":9,"y":3})");
}

TEST(WriteTreeTest, RevertingAWriteBelowAnEarlierAncestorWriteShowsTheAncestorValueAgain) {
  auto writes = tree();
  writes->addOverwriteAtPath(path("a"), node(R"({"b":2})"), 1, true);
  writes->addOverwriteAtPath(path("a/b"), node("1"), 2, true);
  EXPECT_EQ(seenAt(*writes, "a/b"), "1");
  EXPECT_TRUE(writes->removeWriteId(2));
  EXPECT_EQ(seenAt(*writes, "a/b"), "2");
  EXPECT_EQ(seenAt(*writes, "a"), R"({"b":2})");

  // The same below an earlier merge.
  auto merged = tree();
  merged->addMergeAtPath(path("p"), merge(R"({"q":{"r":7}})"), 1);
  merged->addOverwriteAtPath(path("p/q/r"), node("8"), 2, true);
  EXPECT_TRUE(merged->removeWriteId(2));
  EXPECT_EQ(seenAt(*merged, "p/q/r"), "7");
}

TEST(WriteTreeTest, ARebuildNeverMakesAHiddenWriteVisible) {
  auto writes = tree();
  writes->addOverwriteAtPath(path("a"), node(R"({"b":1})"), 1, true);
  writes->addOverwriteAtPath(path("h"), node(R"("hidden")"), 2, false);
  writes->addOverwriteAtPath(path("a/b"), node("2"), 3, true);
  EXPECT_TRUE(writes->removeWriteId(1));  // overlaps write 3: rebuilt
  EXPECT_EQ(writes->shadowingWriteAtPath(path("h")), nullptr);
  EXPECT_EQ(seenAt(*writes, "h"), "none");
  EXPECT_EQ(seenAt(*writes, "a/b"), "2");
  // Transactions still see the hidden write when they ask for it.
  FNodeRef withHidden = writes->calculateCompleteEventCacheAtPath(path("h"), nullptr, std::nullopt, true);
  ASSERT_TRUE(withHidden);
  EXPECT_EQ(json(withHidden), R"("hidden")");
  EXPECT_EQ(writes->lastWriteId(), 3);
}

TEST(WriteTreeTest, RemovingAMergeWithoutOverlapRemovesEachOfItsPaths) {
  auto writes = tree();
  writes->addOverwriteAtPath(path("other"), node("1"), 1, true);
  writes->addMergeAtPath(path("m"), merge(R"({"a":1,"b/c":2})"), 2);
  EXPECT_EQ(seenAt(*writes, "m/b/c"), "2");
  EXPECT_TRUE(writes->removeWriteId(2));
  EXPECT_EQ(writes->shadowingWriteAtPath(path("m/a")), nullptr);
  EXPECT_EQ(writes->shadowingWriteAtPath(path("m/b/c")), nullptr);
  EXPECT_EQ(seenAt(*writes, "other"), "1");
  EXPECT_THROW(writes->removeWriteId(99), NSException);
}

TEST(WriteTreeTest, RemoveAllWritesReturnsThemInOrderAndKeepsTheLastId) {
  auto writes = tree();
  writes->addOverwriteAtPath(path("a"), node("1"), 4, true);
  writes->addMergeAtPath(path("b"), merge(R"({"c":1})"), 5);
  auto removed = writes->removeAllWrites();
  ASSERT_EQ(removed.size(), 2u);
  EXPECT_EQ(removed[0]->writeId(), 4);
  EXPECT_EQ(removed[1]->writeId(), 5);
  EXPECT_EQ(writes->lastWriteId(), 5);
  EXPECT_TRUE(writes->visibleWrites()->isEmpty());
  EXPECT_EQ(writes->writeForId(4), nullptr);
}

TEST(WriteTreeTest, CompleteEventCacheNeedsAWriteOrServerDataThatDeterminesThePath) {
  auto writes = tree();
  EXPECT_EQ(seenAt(*writes, "a"), "none");
  EXPECT_EQ(seenAt(*writes, "a", R"({"x":1})"), R"({"x":1})");
  writes->addOverwriteAtPath(path("a/deep"), node("1"), 1, true);
  EXPECT_EQ(seenAt(*writes, "a"), "none");  // a deep write alone does not determine a
  writes->addOverwriteAtPath(path("a"), node(R"({"k":"v"})"), 2, true);
  EXPECT_EQ(seenAt(*writes, "a"), R"({"k":"v"})");
  EXPECT_EQ(seenAt(*writes, "a/k"), R"("v")");
}

TEST(WriteTreeTest, ExcludedWritesAreLeftOut) {
  auto writes = tree();
  writes->addOverwriteAtPath(path("a"), node("1"), 1, true);
  writes->addOverwriteAtPath(path("a"), node("2"), 2, true);
  FNodeRef without2 = writes->calculateCompleteEventCacheAtPath(path("a"), nullptr, std::vector<int64_t>{2}, false);
  ASSERT_TRUE(without2);
  EXPECT_EQ(json(without2), "1");
  FNodeRef withoutAll =
      writes->calculateCompleteEventCacheAtPath(path("a"), node("0"), std::vector<int64_t>{1, 2}, false);
  EXPECT_EQ(json(withoutAll), "0");
}

TEST(WriteTreeTest, ALeafWrittenAtThePathHasNoCompleteChildren) {
  auto writes = tree();
  writes->addOverwriteAtPath(path("a"), node("5"), 1, true);
  EXPECT_TRUE(writes->calculateCompleteEventChildrenAtPath(path("a"), node(R"({"x":1})"))->isEmpty());

  auto other = tree();
  other->addOverwriteAtPath(path("a/y"), node("2"), 1, true);
  other->addOverwriteAtPath(path("a/x/z"), node("3"), 2, true);
  EXPECT_EQ(json(other->calculateCompleteEventChildrenAtPath(path("a"), node(R"({"x":{"w":1}})"))),
            R"({"x":{"w":1,"z":3},"y":2})");
}

TEST(WriteTreeTest, LayeringAMergeAboveTheRootContributesWhatItWritesAtAndBelowTheRoot) {
  std::vector<FWriteRecordRef> records{
      std::make_shared<const FWriteRecord>(path("a"), merge(R"({"b":{"c":{"v":1}}})"), 1)};
  auto layered = FWriteTree::layerTreeFromWrites(records, FWriteTree::defaultFilter(), path("a/b/c"));
  ASSERT_TRUE(layered->rootWrite());
  EXPECT_EQ(json(layered->rootWrite()), R"({"v":1})");

  // Writes of the merge deeper than the root hold data of the root's value too.
  auto writes = tree();
  writes->addMergeAtPath(path("a"), merge(R"({"b/c/d":1})"), 1);
  writes->addOverwriteAtPath(path("z"), node("0"), 2, false);
  FNodeRef seen = writes->calculateCompleteEventCacheAtPath(path("a/b"), node(R"({"c":{"e":2}})"), std::nullopt, true);
  EXPECT_EQ(json(seen), R"({"c":{"d":1,"e":2}})");
}

TEST(WriteTreeTest, ServerOverwritesHiddenByAWriteAndCompleteChildren) {
  auto writes = tree();
  writes->addOverwriteAtPath(path("a/b"), node("1"), 1, true);
  EXPECT_EQ(writes->calculateEventCacheAfterServerOverwriteAtPath(path("a"), path("b"), empty(), node(R"({"b":9})")),
            nullptr);
  writes->addOverwriteAtPath(path("a/c/d"), node("4"), 2, true);
  EXPECT_EQ(json(writes->calculateEventCacheAfterServerOverwriteAtPath(path("a"), path("c"), empty(),
                                                                       node(R"({"c":{"e":5}})"))),
            R"({"d":4,"e":5})");

  FCacheNode partial(indexed(R"({"c":{"e":5}})"), false, false);
  EXPECT_EQ(json(writes->calculateCompleteChildAtPath(path("a"), "b", partial)), "1");
  EXPECT_EQ(json(writes->calculateCompleteChildAtPath(path("a"), "c", partial)), R"({"d":4,"e":5})");
  EXPECT_EQ(writes->calculateCompleteChildAtPath(path("a"), "x", partial), nullptr);
}

TEST(WriteTreeTest, NextNodeAfterAPostSeesTheWritesOverServerData) {
  auto writes = tree();
  writes->addOverwriteAtPath(path("list/b"), node("2"), 1, true);
  auto server = node(R"({"a":1,"c":3})");
  auto index = FValueIndex::valueIndex();
  auto next = writes->calculateNextNodeAfterPost(FNamedNode::nodeWithName("a", node("1")), path("list"), server,
                                                 false, index);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->name(), "b");
  auto previous = writes->calculateNextNodeAfterPost(FNamedNode::nodeWithName("c", node("3")), path("list"), server,
                                                     true, index);
  ASSERT_TRUE(previous);
  EXPECT_EQ(previous->name(), "b");
  EXPECT_EQ(writes->calculateNextNodeAfterPost(FNamedNode::nodeWithName("c", node("3")), path("list"), server, false,
                                               index),
            nullptr);
  EXPECT_EQ(writes->calculateNextNodeAfterPost(FNamedNode::min(), path("list"), nullptr, false, index), nullptr);

  auto ref = writes->childWritesForPath(path("list"));
  EXPECT_EQ(json(ref->shadowingWriteAtPath(path("b"))), "2");
  EXPECT_EQ(ref->childWriteTreeRef("b")->path()->toString(), "/list/b");
}

namespace {
std::string exported(const FNodeRef& n) { return n ? value::toJSON(n->valForExport(true)) : "none"; }
}  // namespace

TEST(WriteTreeTest, WritesThatEmptyALocationOnTheWayAreLaidOverTheServerDataInTheOrderMade) {
  const char* server = R"({"p":{".priority":2,"x":1}})";
  auto seen = [&](const FWriteTree& writes) {
    return exported(writes.calculateCompleteEventCacheAtPath(path("p"), node(server)->getChild(path("p")),
                                                             std::nullopt, false));
  };
  // The new child comes first: p never empties and keeps its priority.
  auto childFirst = tree();
  childFirst->addOverwriteAtPath(path("p/y"), node("1"), 1, true);
  childFirst->addOverwriteAtPath(path("p/x"), empty(), 2, true);
  EXPECT_EQ(seen(*childFirst), R"({".priority":2,"y":1})");
  // Every other way of asking lays them in the same order.
  FCacheNode serverCache(indexed(server), true, false);
  EXPECT_EQ(exported(childFirst->calculateCompleteChildAtPath(FPath::empty(), "p", serverCache)),
            R"({".priority":2,"y":1})");
  EXPECT_EQ(exported(childFirst->calculateEventCacheAfterServerOverwriteAtPath(FPath::empty(), path("p"), empty(),
                                                                               node(server))),
            R"({".priority":2,"y":1})");
  EXPECT_EQ(exported(childFirst->calculateCompleteEventChildrenAtPath(FPath::empty(), node(server))),
            R"({"p":{".priority":2,"y":1}})");
  EXPECT_EQ(exported(childFirst->calculateCompleteEventCacheAtPath(FPath::empty(), node(server), std::vector<int64_t>{},
                                                                   true)),
            R"({"p":{".priority":2,"y":1}})");
  // Removed first, p is empty for a moment and loses its priority, as the server's data will.
  auto removalFirst = tree();
  removalFirst->addOverwriteAtPath(path("p/x"), empty(), 1, true);
  removalFirst->addMergeAtPath(path("p"), merge(R"({"y":1})"), 2);
  EXPECT_EQ(seen(*removalFirst), R"({"y":1})");
  EXPECT_EQ(exported(removalFirst->calculateCompleteEventCacheAtPath(path("p"), node(server)->getChild(path("p")),
                                                                     std::vector<int64_t>{}, true)),
            R"({"y":1})");
  // Once the removal is gone the remaining writes are laid over as one again.
  EXPECT_TRUE(removalFirst->removeWriteId(1));
  EXPECT_EQ(seen(*removalFirst), R"({".priority":2,"x":1,"y":1})");
}

TEST(WriteTreeTest, ARemovalAfterAWriteBelowALeafLeavesNothingThere) {
  // The first write turned the leaf into children; removing them leaves nothing, not the leaf.
  auto writes = tree();
  writes->addOverwriteAtPath(path("a/n"), node("1"), 1, true);
  writes->addOverwriteAtPath(path("a/n"), empty(), 2, true);
  EXPECT_EQ(seenAt(*writes, "a", "8"), "null");
  EXPECT_EQ(seenAt(*writes, "", R"({"a":8,"k":1})"), R"({"k":1})");
}

TEST(WriteTreeTest, APriorityWrittenWhileTheLocationIsEmptyDoesNotHold) {
  auto before = tree();
  before->addOverwriteAtPath(path("p/.priority"), node("3"), 1, true);
  before->addOverwriteAtPath(path("p/a"), node("1"), 2, true);
  EXPECT_EQ(exported(before->calculateCompleteEventCacheAtPath(path("p"), empty(), std::nullopt, false)), R"({"a":1})");
  auto after = tree();
  after->addOverwriteAtPath(path("p/a"), node("1"), 1, true);
  after->addOverwriteAtPath(path("p/.priority"), node("3"), 2, true);
  EXPECT_EQ(exported(after->calculateCompleteEventCacheAtPath(path("p"), empty(), std::nullopt, false)),
            R"({".priority":3,"a":1})");
}
