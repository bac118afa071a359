#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk/database/core/FImmutableTree.h"

namespace {
using Tree = FImmutableTree<int>;
FPathRef P(const char* text) { return FPath::pathWithString(text); }
Tree::Ref build(std::initializer_list<std::pair<const char*, int>> values) {
  Tree::Ref t = Tree::empty();
  for (auto& [path, v] : values) t = t->setValue(v, *P(path));
  return t;
}
}  // namespace

TEST(ImmutableTreeUpdates, SetAndRemoveValues) {
  auto t = build({{"a", 1}, {"a/b", 2}});
  auto rootSet = t->setValue(9, *FPath::empty());
  EXPECT_EQ(*rootSet->value(), 9);
  EXPECT_EQ(*rootSet->valueAtPath(*P("a/b")), 2);  // children stay

  auto only = build({{"x/y", 5}});
  EXPECT_EQ(only->removeValueAtPath(*P("x/y")), Tree::empty());
  auto keepsChildren = t->removeValueAtPath(*P("a"));
  EXPECT_FALSE(keepsChildren->valueAtPath(*P("a")).has_value());
  EXPECT_EQ(*keepsChildren->valueAtPath(*P("a/b")), 2);
  EXPECT_EQ(t->removeValueAtPath(*P("zz/q")), t);  // no child: the very same tree
  EXPECT_EQ(*t->valueAtPath(*P("a")), 1);          // the old version is unchanged

  // Setting nullopt keeps the (now empty) child in place.
  auto nulled = build({{"k", 1}})->setValue(std::nullopt, *P("k"));
  EXPECT_EQ(nulled->children()->count(), 1);
  EXPECT_FALSE(nulled->isEmpty());
}

TEST(ImmutableTreeUpdates, SetTreeAndSubtrees) {
  auto t = build({{"a/b", 1}, {"a/c", 2}, {"d", 3}});
  auto pruned = t->setTree(Tree::empty(), *P("a"));
  EXPECT_FALSE(pruned->children()->contains("a"));
  EXPECT_EQ(*pruned->valueAtPath(*P("d")), 3);
  EXPECT_EQ(t->subtreeAtPath(*P("missing/x")), Tree::empty());
  EXPECT_EQ(*t->subtreeAtPath(*P("a"))->valueAtPath(*P("c")), 2);
  auto grafted = Tree::empty()->setTree(t->subtreeAtPath(*P("a")), *P("n/m"));
  EXPECT_EQ(*grafted->valueAtPath(*P("n/m/b")), 1);
  EXPECT_EQ(t->setTree(t, *FPath::empty()), t);
}

TEST(ImmutableTreeSearch, RootMostAndLeafMost) {
  auto t = build({{"a", 1}, {"a/b/c", 3}});
  auto found = t->findRootMostValueAndPath(*P("a/b/c/d"));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->path->toString(), "/a");
  EXPECT_EQ(found->value, 1);
  auto matching = t->findRootMostMatchingPath(*P("a/b/c"), [](const int& v) { return v > 2; });
  ASSERT_TRUE(matching);
  EXPECT_EQ(matching->path->toString(), "/a/b/c");
  EXPECT_FALSE(t->findRootMostMatchingPath(*P("a/b"), [](const int& v) { return v > 2; }));
  EXPECT_EQ(t->rootMostValueOnPath(*P("a/b/c")), 1);
  EXPECT_EQ(t->rootMostValueOnPath(*P("a/b/c"), [](const int& v) { return v == 3; }), 3);
  EXPECT_FALSE(t->rootMostValueOnPath(*P("q")).has_value());
  EXPECT_EQ(t->leafMostValueOnPath(*P("a/b/c/d")), 3);
  EXPECT_EQ(t->leafMostValueOnPath(*P("a/b")), 1);
  EXPECT_FALSE(build({{"x/y", 1}})->leafMostValueOnPath(*P("x")).has_value());
  EXPECT_TRUE(t->containsValueMatching([](const int& v) { return v == 3; }));
  EXPECT_FALSE(t->containsValueMatching([](const int& v) { return v == 2; }));
}

TEST(ImmutableTreeWalks, ForEachOrderIsChildrenFirstByPlainStringOrder) {
  auto t = build({{"", 0}, {"a", 1}, {"a/b", 2}, {"9", 9}, {"10", 10}});
  std::vector<std::string> visited;
  t->forEach([&](const FPathRef& p, const int&) { visited.push_back(p->toString()); });
  EXPECT_EQ(visited, (std::vector<std::string>{"/10", "/9", "/a/b", "/a", "/"}));
  std::vector<std::string> children;
  t->forEachChild([&](const std::string& k, const int&) { children.push_back(k); });
  EXPECT_EQ(children, (std::vector<std::string>{"10", "9", "a"}));
}

TEST(ImmutableTreeWalks, OnPathWalks) {
  auto t = build({{"", 0}, {"a", 1}, {"a/b", 2}});
  auto stopped = t->forEachOnPathWhileBlock(*P("a/b"), [](const FPathRef&, const int&) { return false; });
  EXPECT_TRUE(stopped->isEmpty());
  std::vector<int> seen;
  auto end = t->forEachOnPathWhileBlock(*P("a/b/c"), [&](const FPathRef&, const int& v) {
    seen.push_back(v);
    return true;
  });
  EXPECT_EQ(end->toString(), "/a/b");
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));

  int calls = 0;
  EXPECT_EQ(t->forEachOnPathPerformBlock(*FPath::empty(), [&](const FPathRef&, const int&) { ++calls; }), t);
  EXPECT_EQ(calls, 0);
  std::vector<std::string> above;
  auto sub = t->forEachOnPathPerformBlock(*P("a/b"), [&](const FPathRef& p, const int&) { above.push_back(p->toString()); });
  EXPECT_EQ(above, (std::vector<std::string>{"/", "/a"}));
  EXPECT_EQ(*sub->value(), 2);
  EXPECT_EQ(t->forEachOnPathPerformBlock(*P("z/y"), [](const FPathRef&, const int&) {}), Tree::empty());

  auto hit = t->findOnPath<std::string>(*P("a/b"), [](const FPathRef& p, const int& v) -> std::optional<std::string> {
    if (v >= 1) return p->toString();
    return std::nullopt;
  });
  EXPECT_EQ(hit, "/a");
}

TEST(ImmutableTreeWalks, FoldIsPostOrder) {
  auto t = build({{"a", 1}, {"a/b", 2}, {"c", 3}});
  auto sum = t->foldWithBlock<int>([](const FPathRef&, const std::optional<int>& v,
                                      const std::unordered_map<std::string, int>& children) -> std::optional<int> {
    int s = v.value_or(0);
    for (auto& [k, c] : children) s += c;
    return s;
  });
  EXPECT_EQ(sum, 6);
}

TEST(ImmutableTreeValue, EqualityHashDescription) {
  auto a = build({{"a", 1}, {"b/c", 2}});
  auto b = build({{"b/c", 2}, {"a", 1}});
  EXPECT_TRUE(a->isEqual(*b));
  EXPECT_EQ(a->hash(), b->hash());
  EXPECT_FALSE(a->isEqual(*b->setValue(3, *P("b/c"))));
  EXPECT_FALSE(a->isEqual(*b->setValue(0, *FPath::empty())));
  EXPECT_EQ(a->description(), "FImmutableTree { value=<nil>, children={ a=1 b=<nil> } }");
  EXPECT_EQ(Tree::empty()->debugDescription(), "FImmutableTree { value=<nil>, children={ } }");
  EXPECT_TRUE(Tree::empty()->isEmpty());
}
