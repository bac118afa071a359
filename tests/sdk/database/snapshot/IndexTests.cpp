#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/snapshot/FIndex.h"
#include "sdk/database/snapshot/FNamedNode.h"
#include "tests/sdk/database/snapshot/TestNodes.h"

using namespace testnodes;

namespace {

std::vector<std::string> sortedKeys(const FIndex& index, const FNodeRef& parent) {
  std::vector<FNamedNodeRef> children;
  parent->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    children.push_back(FNamedNode::nodeWithName(key, child));
  });
  std::sort(children.begin(), children.end(),
            [&](const FNamedNodeRef& a, const FNamedNodeRef& b) { return index.compareNamedNode(*a, *b) < 0; });
  std::vector<std::string> keys;
  for (const auto& c : children) keys.push_back(c->name());
  return keys;
}

}  // namespace

TEST(ChildOrderingTest, QueryDefinitions) {
  EXPECT_EQ(FIndex::indexFromQueryDefinition(".key"), FKeyIndex::keyIndex());
  EXPECT_EQ(FIndex::indexFromQueryDefinition(".value"), FValueIndex::valueIndex());
  EXPECT_EQ(FIndex::indexFromQueryDefinition(".priority"), FPriorityIndex::priorityIndex());
  FIndexRef a = FIndex::indexFromQueryDefinition("a/b");
  FIndexRef b = FIndex::indexFromQueryDefinition("/a/b/");
  EXPECT_EQ(a->queryDefinition(), "a/b");
  EXPECT_EQ(b->queryDefinition(), "a/b");
  EXPECT_TRUE(a->isEqual(*b));
  EXPECT_EQ(a->hash(), b->hash());
  EXPECT_EQ(a->description(), "FPathIndex(/a/b)");
  EXPECT_FALSE(FKeyIndex::keyIndex()->isEqual(*std::make_shared<FKeyIndex>()));
  try {
    FIndex::indexFromQueryDefinition(".priority/x");
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.reason(), "Invalid path for PathIndex: /.priority/x");
  }
  EXPECT_THROW(FIndex::indexFromQueryDefinition("/"), NSException);
}

TEST(ChildOrderingTest, PriorityIndexOrder) {
  FNodeRef parent = node(R"({"a":1,"b":{".value":1,".priority":5},"c":{".value":1,".priority":"x"},
                             "d":{".value":1,".priority":2},"e":{".value":1,".priority":2}})");
  EXPECT_EQ(sortedKeys(*FPriorityIndex::priorityIndex(), parent),
            (std::vector<std::string>{"a", "d", "e", "b", "c"}));
  EXPECT_TRUE(FPriorityIndex::priorityIndex()->isDefinedOn(*parent->getImmediateChild("b")));
  EXPECT_FALSE(FPriorityIndex::priorityIndex()->isDefinedOn(*parent->getImmediateChild("a")));
  EXPECT_TRUE(FPriorityIndex::priorityIndex()->indexedValueChangedBetween(*leaf(1, 1), *leaf(1, 2)));
  EXPECT_FALSE(FPriorityIndex::priorityIndex()->indexedValueChangedBetween(*leaf(1, 1), *leaf(2, 1)));
}

TEST(ChildOrderingTest, ValueIndexOrder) {
  FNodeRef parent = node(R"({"a":true,"b":3,"c":"3","d":false,"e":{"x":1},"f":{"y":1}})");
  EXPECT_EQ(sortedKeys(*FValueIndex::valueIndex(), parent),
            (std::vector<std::string>{"d", "a", "b", "c", "e", "f"}));
}

TEST(ChildOrderingTest, PathIndexOrder) {
  FPathIndex index(path("score"));
  FNodeRef parent = node(R"({"a":{"score":5},"b":{"other":1},"c":{"score":1},"d":3})");
  EXPECT_EQ(sortedKeys(index, parent), (std::vector<std::string>{"b", "d", "c", "a"}));
  EXPECT_TRUE(index.indexedValueChangedBetween(*node(R"({"score":1})"), *node(R"({"score":2})")));
  EXPECT_FALSE(index.indexedValueChangedBetween(*node(R"({"score":1,"x":1})"), *node(R"({"score":1})")));
}

TEST(ChildOrderingTest, ReverseAndTieBreak) {
  const FIndex& index = *FPriorityIndex::priorityIndex();
  FNodeRef x = leaf(1, 3);
  FNodeRef y = leaf(1, 4);
  EXPECT_EQ(index.compare("a", *x, "b", *y), -1);
  EXPECT_EQ(index.compare("a", *x, "b", *y, true), 1);
  EXPECT_EQ(FKeyIndex::keyIndex()->compare("2", *x, "10", *y), -1);
}

TEST(ChildOrderingTest, PostsBoundEveryChild) {
  FNodeRef child = node(R"({"score":{".value":"zzz",".priority":"zzz"}})");
  for (const FIndexRef& index : {FKeyIndex::keyIndex(), FPriorityIndex::priorityIndex(), FValueIndex::valueIndex(),
                                 FIndexRef(std::make_shared<const FPathIndex>(path("score")))}) {
    EXPECT_LT(index->compareNamedNode(*index->minPost(), *FNamedNode::nodeWithName("zzz", child)), 0)
        << index->description();
    EXPECT_GT(index->compareNamedNode(*index->maxPost(), *FNamedNode::nodeWithName("zzz", child)), 0)
        << index->description();
    EXPECT_TRUE(FUtilities::isMinName(index->minPost()->name()));
  }
  // The key index's post is named by the value; the name argument is ignored.
  FNamedNodeRef post = FKeyIndex::keyIndex()->makePost(leaf("k"), "ignored");
  EXPECT_EQ(post->name(), "k");
  EXPECT_TRUE(post->node()->isEmpty());
  // A priority post carries the value as its priority.
  FNamedNodeRef priorityPost = FPriorityIndex::priorityIndex()->makePost(leaf(5), "m");
  EXPECT_EQ(priorityPost->node()->getPriority()->val(), Value(5));
  EXPECT_EQ(FPriorityIndex::priorityIndex()->compareNamedNode(*priorityPost, *FNamedNode::nodeWithName("a", leaf(1, 5))), 1);
  FNamedNodeRef pathPost = FPathIndex(path("a/b")).makePost(leaf(2), "k");
  EXPECT_EQ(pathPost->node()->val(), Value::parse(R"({"a":{"b":2}})"));
  // A copy of the sentinel text is an ordinary key.
  EXPECT_FALSE(FUtilities::isMinName(FNamedNode::nodeWithName(std::string("[MIN_NAME]"), leaf(1))->name()));
}

TEST(ChildOrderingTest, NamedNodes) {
  EXPECT_TRUE(FNamedNode::nodeWithName("a", leaf(1))->isEqual(*FNamedNode::nodeWithName("a", leaf(1.0))));
  EXPECT_FALSE(FNamedNode::nodeWithName("a", leaf(1))->isEqual(*FNamedNode::nodeWithName("b", leaf(1))));
  EXPECT_EQ(FNamedNode::nodeWithName("a", leaf(1))->description(), "NamedNode[a] 1");
  EXPECT_EQ(FNamedNode::min(), FNamedNode::min());
  EXPECT_EQ(FNamedNode::max()->node(), FMaxNode::maxNode());
}
