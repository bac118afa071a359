#include <gtest/gtest.h>

#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FLeafNode.h"
#include "sdk/database/snapshot/FNamedNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/support/database/DatabaseTestValues.h"

namespace {
using testsupport::node;
using testsupport::path;
const FCompoundWriteRef& empty() { return FCompoundWrite::emptyWrite(); }
}  // namespace

TEST(CompoundWriteTest, DeeperWritesGoIntoTheShallowerNode) {
  auto w = empty()->addWrite(node(R"({"b":1,"c":2})"), path("a"))->addWrite(node("9"), path("a/b"));
  EXPECT_EQ(w->valForExport(false), Value::parse(R"({"a":{"b":9,"c":2}})"));
  EXPECT_EQ(w->completeNodeAtPath(path("a/c"))->val(), Value(2));
  EXPECT_TRUE(w->completeNodeAtPath(path("a/zz"))->isEmpty());
  EXPECT_EQ(w->completeNodeAtPath(path("b")), nullptr);
  EXPECT_FALSE(w->hasCompleteWriteAtPath(path("b")));

  auto shadowed = empty()->addWrite(node("1"), path("a/b"))->addWrite(node("2"), path("a"));
  EXPECT_EQ(shadowed->valForExport(false), Value::parse(R"({"a":2})"));
  auto root = shadowed->addWrite(node("3"), path("x"))->addWrite(node(R"({"r":1})"), FPath::empty());
  EXPECT_EQ(root->valForExport(false), Value::parse(R"({"/":{"r":1}})"));
  EXPECT_EQ(root->rootWrite()->val(), Value::parse(R"({"r":1})"));
}

TEST(CompoundWriteTest, RemovingBelowAWriteKeepsIt) {
  auto w = empty()->addWrite(node(R"({"b":1})"), path("a"));
  auto removed = w->removeWriteAtPath(path("a/b"));
  EXPECT_TRUE(removed->hasCompleteWriteAtPath(path("a/b")));
  EXPECT_EQ(removed->completeNodeAtPath(path("a/b"))->val(), Value(1));
  EXPECT_TRUE(w->removeWriteAtPath(path("a"))->isEmpty());
  EXPECT_EQ(w->removeWriteAtPath(FPath::empty()), empty());
}

TEST(CompoundWriteTest, ApplyingPriorities) {
  auto priorityOnly = empty()->addWrite(node("5"), path(".priority"));
  EXPECT_TRUE(priorityOnly->applyToNode(FEmptyNode::emptyNode())->isEmpty());
  FNodeRef applied = priorityOnly->applyToNode(node(R"("v")"));
  EXPECT_EQ(applied->valForExport(true), Value::parse(R"({".value":"v",".priority":5})"));
  // A priority for a location that ends up empty is dropped.
  auto both = empty()->addWrite(FEmptyNode::emptyNode(), path("a/x"))->addWrite(node("1"), path("a/.priority"));
  EXPECT_TRUE(both->applyToNode(node(R"({"a":{"x":1}})"))->isEmpty());
  // Where data remains, the priority is applied after the other writes.
  FNodeRef kept = both->applyToNode(node(R"({"a":{"x":1,"y":2}})"));
  EXPECT_EQ(kept->getChild(path("a/.priority"))->val(), Value(1));
  auto merge = empty()->addWrite(node("1"), path("a/x"))->addWrite(node("2"), path("b"));
  EXPECT_EQ(merge->applyToNode(node(R"({"a":{"y":0},"c":3})"))->val(), Value::parse(R"({"a":{"x":1,"y":0},"b":2,"c":3})"));
}

TEST(CompoundWriteTest, WritesAreOneChangeSoALocationTheyLeaveWithDataKeepsItsPriority) {
  // The removal sorts before the new child: applied first it would empty the location on the way.
  auto replace = FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"a":null,"b":1})"));
  EXPECT_EQ(replace->applyToNode(node(R"({".priority":2,"a":1})"))->valForExport(true),
            Value::parse(R"({".priority":2,"b":1})"));
  // Deeper too, and a location left with nothing still loses its priority.
  auto deep = FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"p/a":null,"p/b":1,"q/x":null})"));
  EXPECT_EQ(deep->applyToNode(node(R"({"p":{".priority":3,"a":1},"q":{".priority":4,"x":1}})"))->valForExport(true),
            Value::parse(R"({"p":{".priority":3,"b":1}})"));
  // Laid into an earlier write that holds the location, they go in the same order.
  auto earlier = empty()->addWrite(node(R"({"b":{".priority":2,"a":7}})"), path("c"));
  auto layered = earlier->addCompoundWrite(*replace, path("c/b"));
  EXPECT_EQ(layered->completeNodeAtPath(path("c/b"))->valForExport(true), Value::parse(R"({".priority":2,"b":1})"));
  // Removing the only child of a plain value's replacement leaves nothing, whatever the order.
  EXPECT_TRUE(FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"a":null})"))
                  ->applyToNode(node(R"({".priority":2,"a":1})"))
                  ->isEmpty());
}

TEST(CompoundWriteTest, ChildrenAndChildWrites) {
  auto w = empty()->addWrite(node("1"), path("a"))->addWrite(node("2"), path("b/c"));
  auto children = w->completeChildren();
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(children[0]->name(), "a");
  EXPECT_EQ(w->childCompoundWrites().size(), 2u);
  EXPECT_EQ(w->childCompoundWrites().at("b")->valForExport(false), Value::parse(R"({"c":2})"));

  auto rooted = empty()->addWrite(node(R"({"b":{"x":1},"c":2})"), path("a"));
  auto child = rooted->childCompoundWriteAtPath(path("a/b"));
  EXPECT_EQ(child->rootWrite()->val(), Value::parse(R"({"x":1})"));
  auto rootChildren = empty()->addWrite(node(R"({"b":1,"c":2})"), FPath::empty())->completeChildren();
  EXPECT_EQ(rootChildren.size(), 2u);
  EXPECT_EQ(w->childCompoundWriteAtPath(FPath::empty()), w);
  EXPECT_EQ(w->childCompoundWriteAtPath(path("b"))->valForExport(false), Value::parse(R"({"c":2})"));
}

TEST(CompoundWriteTest, EqualityIgnoresBuildOrder) {
  auto x = empty()->addWrite(node("1"), path("a"))->addWrite(node("2.0"), path("b/c"));
  auto y = empty()->addWrite(node("2"), path("b/c"))->addWrite(node("1"), path("a"));
  EXPECT_TRUE(x->isEqual(*y));
  EXPECT_EQ(x->hash(), y->hash());
  EXPECT_FALSE(x->isEqual(*empty()));

  auto combined = empty()->addCompoundWrite(*x, path("p"));
  EXPECT_EQ(combined->valForExport(false), Value::parse(R"({"p/a":1,"p/b/c":2.0})"));
  std::vector<std::string> order;
  combined->enumerateWrites([&](const FPathRef& p, const FNodeRef&, bool* stop) {
    order.push_back(p->toString());
    *stop = true;
  });
  EXPECT_EQ(order.size(), 1u);
}

TEST(CompoundWriteTest, BuiltFromDictionaries) {
  // Entries are not merged: a deeper entry after a shallower one stays a separate write.
  auto w = FCompoundWrite::compoundWriteWithNodeDictionary({{"a", node("1")}, {"a/b", node("2")}});
  EXPECT_EQ(w->valForExport(false), Value::parse(R"({"a":1,"a/b":2})"));
  auto v = FCompoundWrite::compoundWriteWithValueDictionary(Value::parse(R"({"x":{"y":1}})"));
  EXPECT_EQ(v->completeNodeAtPath(path("x/y"))->val(), Value(1));
}
