#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "platform/foundation/NSException.h"
#include "sdk/database/snapshot/FIndexedNode.h"
#include "sdk/database/snapshot/FNamedNode.h"
#include "tests/sdk/database/snapshot/TestNodes.h"

using namespace testnodes;

namespace {
std::vector<std::string> orderOf(const FIndexedNode& n, bool reverse = false) {
  std::vector<std::string> keys;
  n.enumerateChildrenReverse(reverse, [&](const std::string& k, const FNodeRef&, bool*) { keys.push_back(k); });
  return keys;
}
}  // namespace

TEST(IndexedNodeTest, KeyIndexUsesTheNodeOrder) {
  auto n = FIndexedNode::indexedNodeWithNode(node(R"({"b":1,"a":2})"), FKeyIndex::keyIndex());
  EXPECT_EQ(n->indexed(), nullptr);
  EXPECT_EQ(n->firstChild()->name(), "a");
  EXPECT_EQ(n->indexed(), FIndexedNode::fallbackIndex());
  EXPECT_EQ(orderOf(*n), (std::vector<std::string>{"a", "b"}));
}

TEST(IndexedNodeTest, PriorityIndexBuildsWhenNeeded) {
  auto n = FIndexedNode::indexedNodeWithNode(node(R"({"a":1,"b":2,"c":3})"));
  EXPECT_EQ(orderOf(*n), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(n->indexed(), FIndexedNode::fallbackIndex());
  // A child with a priority drops the fallback; the next read sorts it last.
  auto updated = n->updateChild("a", leaf(1, 9));
  EXPECT_EQ(updated->indexed(), nullptr);
  EXPECT_EQ(orderOf(*updated), (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_NE(updated->indexed(), FIndexedNode::fallbackIndex());
  EXPECT_EQ(updated->lastChild()->name(), "a");
  EXPECT_EQ(orderOf(*updated, true), (std::vector<std::string>{"a", "c", "b"}));
  // Without a priority the fallback is kept.
  EXPECT_EQ(n->updateChild("d", leaf(4))->indexed(), FIndexedNode::fallbackIndex());

  // Updating a built set: remove and re-add one pair.
  auto moved = updated->updateChild("b", leaf(2, 10));
  EXPECT_EQ(orderOf(*moved), (std::vector<std::string>{"c", "a", "b"}));
  auto removed = moved->updateChild("b", FEmptyNode::emptyNode());
  EXPECT_EQ(orderOf(*removed), (std::vector<std::string>{"c", "a"}));
  EXPECT_EQ(removed->firstChild()->name(), "c");
  EXPECT_EQ(removed->lastChild()->name(), "a");
  auto e = removed->childEnumerator();
  EXPECT_EQ((*e->nextObject())->name(), "c");
}

TEST(IndexedNodeTest, Predecessors) {
  auto n = FIndexedNode::indexedNodeWithNode(node(R"({"a":{".value":1,".priority":3},"b":{".value":1,".priority":1}})"));
  FNodeRef a = n->node()->getImmediateChild("a");
  FNodeRef b = n->node()->getImmediateChild("b");
  EXPECT_EQ(*n->predecessorForChildKey("a", a, *FPriorityIndex::priorityIndex()), "b");
  EXPECT_FALSE(n->predecessorForChildKey("b", b, *FPriorityIndex::priorityIndex()).has_value());
  try {
    n->predecessorForChildKey("a", a, *FKeyIndex::keyIndex());
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.reason(), "Index not available in IndexedNode!");
  }
  auto byKey = FIndexedNode::indexedNodeWithNode(n->node(), FKeyIndex::keyIndex());
  EXPECT_EQ(*byKey->predecessorForChildKey("b", b, *FKeyIndex::keyIndex()), "a");
}

TEST(IndexedNodeTest, LeafAndPriorityUpdate) {
  auto l = FIndexedNode::indexedNodeWithNode(leaf(1));
  EXPECT_EQ(l->firstChild(), nullptr);
  EXPECT_EQ(l->lastChild(), nullptr);
  auto n = FIndexedNode::indexedNodeWithNode(node(R"({"a":{".value":1,".priority":3}})"));
  n->firstChild();
  auto p = n->updatePriority(leaf(7));
  EXPECT_EQ(p->indexed(), n->indexed());
  EXPECT_EQ(p->node()->getPriority()->val(), Value(7));
}

TEST(IndexedNodeTest, ConcurrentReadersShareOneOrder) {
  Value v = Value::object();
  for (int i = 0; i < 500; ++i) v["k" + std::to_string(i)] = Value{{".value", i}, {".priority", 500 - i}};
  auto n = FIndexedNode::indexedNodeWithNode(FSnapshotUtilities::nodeFrom(v));
  std::vector<FNamedNodeSetRef> seen(8);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] {
      n->firstChild();
      seen[t] = n->indexed();
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& s : seen) EXPECT_EQ(s, seen[0]);
  EXPECT_EQ(n->firstChild()->name(), "k499");
  EXPECT_EQ(seen[0]->count(), 500u);
}

TEST(IndexedNodeTest, TheChildrenWithAPriorityAreCountedThroughEveryKindOfUpdate) {
  // The count decides, without a walk, whether a priority order must be built: one too low would
  // show children with a priority in key order.
  auto recount = [](const FNodeRef& n) {
    int32_t count = 0;
    n->enumerateChildrenUsingBlock([&](const std::string&, const FNodeRef& child, bool*) {
      if (!child->getPriority()->isEmpty()) ++count;
    });
    return count;
  };
  auto countOf = [](const FNodeRef& n) { return static_cast<const FChildrenNode&>(*n).numChildrenWithPriority(); };

  EXPECT_EQ(countOf(node(R"({"a":{".value":1,".priority":2},"b":2,"c":{"x":1,".priority":"p"}})")), 2);
  EXPECT_EQ(countOf(FEmptyNode::emptyNode()), 0);
  // A leaf that takes a child keeps its own priority, which is not a child's.
  EXPECT_EQ(countOf(leaf(1, 5)->updateImmediateChild("a", leaf(2))), 0);
  EXPECT_EQ(countOf(leaf(1)->updateImmediateChild("a", leaf(2, 3))), 1);

  std::mt19937 random(7);
  FNodeRef n = FEmptyNode::emptyNode();
  for (int step = 0; step < 2000; ++step) {
    const std::string key = "k" + std::to_string(random() % 12);
    switch (random() % 5) {
      case 0: n = n->updateImmediateChild(key, leaf(1, static_cast<int>(random() % 3))); break;
      case 1: n = n->updateImmediateChild(key, leaf(1)); break;
      case 2: n = n->updateImmediateChild(key, FEmptyNode::emptyNode()); break;
      case 3: n = n->updateChild(FPath::pathWithString(key + "/.priority"), leaf(4)); break;
      default: n = n->updatePriority(random() % 2 ? leaf(9) : FEmptyNode::emptyNode()); break;
    }
    if (n->isLeafNode()) continue;
    ASSERT_EQ(countOf(n), recount(n)) << "step " << step;
  }
}

TEST(IndexedNodeTest, TheKeyOrderIsUsedAgainOnceNoChildHasAPriority) {
  auto n = FIndexedNode::indexedNodeWithNode(node(R"({"a":1,"b":2,"c":3})"));
  auto withPriority = n->updateChild("a", leaf(1, 9));
  EXPECT_EQ(orderOf(*withPriority), (std::vector<std::string>{"b", "c", "a"}));
  // The write that takes the priority away leaves a node whose priority order is its key order.
  auto without = FIndexedNode::indexedNodeWithNode(withPriority->node()->updateImmediateChild("a", leaf(1)));
  EXPECT_EQ(orderOf(*without), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(without->indexed(), FIndexedNode::fallbackIndex());
  // A child with a priority that arrives by a deep write is seen too.
  auto deep = FIndexedNode::indexedNodeWithNode(n->node()->updateChild(FPath::pathWithString("a/.priority"), leaf(1)));
  EXPECT_EQ(orderOf(*deep), (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_NE(deep->indexed(), FIndexedNode::fallbackIndex());
}

TEST(IndexedNodeTest, AnUpdateThatFindsTheOldChildOnItsWayMatchesTheLookupAndTheUpdate) {
  // The view's cache takes a set through one walk that also hands back the replaced child: what it
  // makes, what it reports as replaced and when it declines must be what a lookup and an update say.
  auto countOf = [](const FNodeRef& n) {
    return n->isLeafNode() ? 0 : static_cast<const FChildrenNode&>(*n).numChildrenWithPriority();
  };
  std::mt19937 random(11);
  for (const FIndexRef& index : {FPriorityIndex::priorityIndex(), FKeyIndex::keyIndex()}) {
    FIndexedNodeRef n = FIndexedNode::indexedNodeWithNode(FEmptyNode::emptyNode(), index);
    for (int step = 0; step < 3000; ++step) {
      const bool priority = step % 50 == 7 && !n->node()->isEmpty();
      const std::string key = priority ? ".priority" : "k" + std::to_string(random() % 40);
      FNodeRef child;
      switch (priority ? 1 : random() % 4) {
        case 0: child = leaf(static_cast<int>(random() % 3), static_cast<int>(random() % 3)); break;
        case 1: child = leaf(static_cast<int>(random() % 3)); break;
        case 2: child = FEmptyNode::emptyNode(); break;
        default: child = node(R"({"x":1})"); break;
      }
      if (random() % 3 == 0) n->firstChild();  // builds the index's order now and then
      if (step % 700 == 0) n = FIndexedNode::indexedNodeWithNode(leaf(5), index);
      const FNodeRef before = n->node()->getImmediateChild(key);
      FNodeRef oldChild;
      FIndexedNodeRef updated = n->updateChildUnlessEqual(key, child, oldChild);
      ASSERT_TRUE(oldChild->isEqual(*before)) << "step " << step;
      if (before->isEqual(*child)) {
        ASSERT_EQ(updated, nullptr) << "step " << step;
        continue;
      }
      ASSERT_NE(updated, nullptr) << "step " << step;
      FIndexedNodeRef expected = n->updateChild(key, child);
      ASSERT_TRUE(updated->node()->isEqual(*expected->node())) << "step " << step;
      ASSERT_EQ(countOf(updated->node()), countOf(expected->node())) << "step " << step;
      ASSERT_EQ(orderOf(*updated), orderOf(*expected)) << "step " << step;
      n = updated;
    }
  }
}

namespace {

// The child after `post` found by looking at every child.
FNamedNodeRef childAfterByWalk(const FNode& node, const FNamedNode& post, const FIndex& index, bool reverse) {
  FNamedNodeRef best;
  node.enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    if (index.compare(key, *child, post.name(), *post.node(), reverse) <= 0) return;
    if (!best || index.compare(key, *child, best->name(), *best->node(), reverse) < 0) {
      best = FNamedNode::nodeWithName(key, child);
    }
  });
  return best;
}

std::string nameOf(const FNamedNodeRef& named) { return named ? named->name() : "(none)"; }

}  // namespace

TEST(ChildrenInOrderTest, TheChildAfterAPostIsTheOneAWalkFindsThroughEveryKindOfUpdate) {
  // Windows ask a location for the child after their boundary as it changes: the order a node
  // keeps, and hands on to the nodes its updates make, must answer what a walk over the children
  // answers, for every ordering, every post (children, values between them, the ends) and both
  // directions.
  const std::vector<FIndexRef> indexes = {
      FKeyIndex::keyIndex(), FPriorityIndex::priorityIndex(), FValueIndex::valueIndex(),
      std::make_shared<const FPathIndex>(path("n")), std::make_shared<const FPathIndex>(path("a/b"))};
  std::mt19937 random(23);
  auto randomChild = [&]() -> FNodeRef {
    switch (random() % 5) {
      case 0: return leaf(static_cast<int>(random() % 4), static_cast<int>(random() % 3));
      case 1: return leaf("s" + std::to_string(random() % 3));
      case 2: return node(R"({"n":)" + std::to_string(random() % 4) + "}");
      case 3: return node(R"({"a":{"b":)" + std::to_string(random() % 4) + R"(},"n":"x"})");
      default: return leaf(true);
    }
  };
  FNodeRef current = FEmptyNode::emptyNode();
  for (int i = 0; i < 40; ++i) current = current->updateImmediateChild("k" + std::to_string(i), randomChild());
  for (int step = 0; step < 400; ++step) {
    ASSERT_EQ(current->kind(), FNode::Kind::Children);
    const auto& children = static_cast<const FChildrenNode&>(*current);
    for (const FIndexRef& index : indexes) {
      std::vector<FNamedNodeRef> posts = {index->minPost(), index->maxPost(),
                                          index->makePost(leaf(static_cast<int>(random() % 5)), "k1" + std::to_string(random() % 5))};
      current->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
        if (random() % 4 == 0) posts.push_back(FNamedNode::nodeWithName(key, child));
      });
      for (const FNamedNodeRef& post : posts) {
        for (bool reverse : {false, true}) {
          ASSERT_EQ(nameOf(children.childAfter(*post, index, reverse)),
                    nameOf(childAfterByWalk(*current, *post, *index, reverse)))
              << "step " << step << " index " << index->description() << " post " << post->description()
              << (reverse ? " reverse" : "");
        }
      }
    }
    const std::string key = "k" + std::to_string(random() % 45);
    FNodeRef next;
    switch (random() % 6) {
      case 0: next = current->updateImmediateChild(key, randomChild()); break;
      case 1: next = current->updateImmediateChild(key, FEmptyNode::emptyNode()); break;
      case 2: {
        FNodeRef replaced;
        next = static_cast<const FChildrenNode&>(*current).updateImmediateChildUnlessEqual(key, randomChild(), replaced);
        if (!next) next = current;
        break;
      }
      case 3: next = current->updateChild(FPath::pathWithString(key + "/a/b"), leaf(static_cast<int>(random() % 4))); break;
      case 4: next = current->updateChild(FPath::pathWithString(key + "/.priority"), leaf(static_cast<int>(random() % 3))); break;
      default: next = current->updatePriority(random() % 2 ? leaf(9) : FEmptyNode::emptyNode()); break;
    }
    if (next->isEmpty() || next->isLeafNode()) continue;
    current = next;
  }
}

TEST(ChildrenInOrderTest, AnOrderIsSortedOnceAndHandedOnToTheNodesUpdatesMake) {
  Value v = Value::object();
  for (int i = 0; i < 300; ++i) v["c" + std::to_string(i)] = Value{{"n", 300 - i}};
  const FNodeRef data = FSnapshotUtilities::nodeFrom(v);
  const auto& children = static_cast<const FChildrenNode&>(*data);
  std::vector<FIndexRef> indexes;
  for (const char* child : {"n", "m", "x", "y", "z"}) indexes.push_back(std::make_shared<const FPathIndex>(path(child)));
  EXPECT_EQ(children.childrenInOrderIfKept(*indexes[0]), nullptr);  // nothing sorted before it is asked

  // Threads that ask at once share one order per index.
  std::vector<FNamedNodeSetRef> seen(8);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] { seen[t] = children.childrenInOrder(indexes[t % 2]); });
  }
  for (auto& t : threads) t.join();
  for (size_t t = 0; t < seen.size(); ++t) EXPECT_EQ(seen[t], seen[t % 2]);
  EXPECT_EQ((*seen[0]->firstObject())->name(), "c299");

  // An update moves its child in the orders it hands on: the four asked last, not the first.
  const FNodeRef fresh = FSnapshotUtilities::nodeFrom(v);
  for (const FIndexRef& index : indexes) static_cast<const FChildrenNode&>(*fresh).childrenInOrder(index);
  FNodeRef updated = fresh->updateImmediateChild("c299", node(R"({"n":1000})"));
  const auto& after = static_cast<const FChildrenNode&>(*updated);
  EXPECT_EQ(after.childrenInOrderIfKept(*indexes[0]), nullptr);
  for (size_t i = 1; i < indexes.size(); ++i) ASSERT_NE(after.childrenInOrderIfKept(*indexes[i]), nullptr) << i;
  EXPECT_EQ(after.childrenInOrderIfKept(*indexes[1])->count(), 300u);
  // The node's own priority leaves the orders as they are; a removal takes its child out.
  FNodeRef removed = updated->updatePriority(leaf(3))->updateImmediateChild("c0", FEmptyNode::emptyNode());
  const auto& last = static_cast<const FChildrenNode&>(*removed);
  EXPECT_EQ(last.childrenInOrderIfKept(*indexes[2])->count(), 299u);
  // A window that builds its view of the node takes the order the node keeps.
  auto indexed = FIndexedNode::indexedNodeWithNode(removed, indexes[1]);
  indexed->firstChild();
  EXPECT_EQ(indexed->indexed(), last.childrenInOrderIfKept(*indexes[1]));
}
