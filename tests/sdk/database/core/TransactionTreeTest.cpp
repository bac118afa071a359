#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "sdk/database/core/FTree.h"

namespace {
using Tree = FTree<int>;
FPathRef P(const char* text) { return FPath::pathWithString(text); }
}  // namespace

TEST(TransactionTree, SubTreeAttachesOnlyWhenSet) {
  auto root = std::make_shared<Tree>();
  auto view = root->subTree(*P("a/b"));
  EXPECT_FALSE(view->getValue().has_value());
  EXPECT_FALSE(root->hasChildren());
  view->setValue(7);
  EXPECT_EQ(root->node()->childCount, 1);
  EXPECT_EQ(*root->subTree(*P("a/b"))->getValue(), 7);
  EXPECT_EQ(root->subTree(*P("a"))->node()->childCount, 1);
  EXPECT_EQ(view->path()->toString(), "/a/b");
  EXPECT_TRUE(root->path()->isEmpty());
  EXPECT_EQ(root->subTree(*FPath::empty()), root);
}

TEST(TransactionTree, ClearingDetachesUpToTheFirstNonEmptyAncestor) {
  auto root = std::make_shared<Tree>();
  root->subTree(*P("a"))->setValue(1);
  root->subTree(*P("a/b/c"))->setValue(2);
  root->subTree(*P("x/y"))->setValue(3);
  root->subTree(*P("a/b/c"))->setValue(std::nullopt);
  auto a = root->subTree(*P("a"));
  EXPECT_FALSE(a->hasChildren());
  EXPECT_EQ(*a->getValue(), 1);
  root->subTree(*P("x/y"))->clear();
  EXPECT_EQ(root->node()->childCount, 1);
  EXPECT_EQ(root->node()->children.count("x"), 0u);
}

TEST(TransactionTree, DescendantAndAncestorWalks) {
  auto root = std::make_shared<Tree>();
  root->setValue(0);
  root->subTree(*P("a/b"))->setValue(2);
  root->subTree(*P("a"))->setValue(1);
  std::vector<std::string> order;
  root->forEachDescendant([&](const Tree::Ref& t) { order.push_back(t->path()->toString()); }, true, true);
  EXPECT_EQ(order, (std::vector<std::string>{"/a/b", "/a", "/"}));
  order.clear();
  root->forEachDescendant([&](const Tree::Ref& t) { order.push_back(t->path()->toString()); });
  EXPECT_EQ(order, (std::vector<std::string>{"/a", "/a/b"}));

  int calls = 0;
  EXPECT_FALSE(root->forEachAncestor([&](const Tree::Ref&) { ++calls; return false; }));
  EXPECT_EQ(calls, 0);
  auto deep = root->subTree(*P("a/b"));
  std::vector<std::string> ancestors;
  EXPECT_TRUE(deep->forEachAncestor([&](const Tree::Ref& t) {
    ancestors.push_back(t->name());
    return t->name().empty();
  }, true));
  EXPECT_EQ(ancestors, (std::vector<std::string>{"b", "a", ""}));

  std::vector<std::string> nearest;
  auto other = std::make_shared<Tree>();
  other->subTree(*P("p/q"))->setValue(1);
  other->subTree(*P("p/q/r"))->setValue(2);
  other->subTree(*P("s"))->setValue(3);
  other->forEachImmediateDescendantWithValue([&](const Tree::Ref& t) { nearest.push_back(t->path()->toString()); });
  EXPECT_EQ(std::set<std::string>(nearest.begin(), nearest.end()), (std::set<std::string>{"/p/q", "/s"}));

  EXPECT_TRUE(other->valueExistsAtOrAbove(*P("p/q/zz")));
  EXPECT_TRUE(other->valueExistsAtOrAbove(*P("p/q")));
  EXPECT_FALSE(other->valueExistsAtOrAbove(*P("p")));
  EXPECT_FALSE(other->valueExistsAtOrAbove(*P("t/u")));
}

TEST(TransactionTree, MutationSafeWalkSurvivesRemovals) {
  auto root = std::make_shared<Tree>();
  for (const char* k : {"a", "b", "c"}) root->subTree(*P(k))->setValue(1);
  int visited = 0;
  root->forEachChildMutationSafe([&](const Tree::Ref& child) {
    ++visited;
    for (const char* k : {"a", "b", "c"}) root->subTree(*P(k))->setValue(std::nullopt);
    (void)child;
  });
  EXPECT_EQ(visited, 3);
  EXPECT_FALSE(root->hasChildren());
  EXPECT_TRUE(root->isEmpty());
}
