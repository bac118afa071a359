#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FImmutableSortedDictionary.h"
#include "sdk/database/core/FUtilities.h"

namespace {

using Dict = FImmutableSortedDictionary<std::string, int>;
using Array = FArraySortedDictionary<std::string, int>;
using Tree = FTreeSortedDictionary<std::string, int>;

int intCompare(const int& a, const int& b) { return a < b ? -1 : (a > b ? 1 : 0); }
using IntDict = FImmutableSortedDictionary<int, int>;
using IntTree = FTreeSortedDictionary<int, int>;

IntDict::Ref intDict(int n, int step = 1) {
  auto d = IntDict::dictionaryWithComparator(intCompare);
  for (int i = 0; i < n; ++i) d = d->insertKey(i * step, i * 100);
  return d;
}

bool isArray(const IntDict::Ref& d) { return dynamic_cast<const FArraySortedDictionary<int, int>*>(d.get()); }
bool isTree(const IntDict::Ref& d) { return dynamic_cast<const IntTree*>(d.get()); }

std::vector<int> drain(const NSEnumeratorRef<int>& e) {
  std::vector<int> out;
  while (auto k = e->nextObject()) out.push_back(*k);
  EXPECT_FALSE(e->nextObject().has_value());  // stays dry
  return out;
}

std::vector<int> range(int from, int to, int step = 1) {
  std::vector<int> out;
  for (int i = from; step > 0 ? i < to : i > to; i += step) out.push_back(i);
  return out;
}

// Case-insensitive order: distinct texts that compare as the same key.
int caseless(const std::string& a, const std::string& b) {
  return FUtilities::stringComparator()(ns::lowercase(a), ns::lowercase(b));
}

}  // namespace

TEST(SortedDictionaryForms, ArrayBecomesTreeAtTheTwentySixthKey) {
  auto d = intDict(25);
  EXPECT_TRUE(isArray(d));
  EXPECT_EQ(d->count(), 25);
  auto replaced = d->insertKey(10, -1);
  EXPECT_TRUE(isArray(replaced));
  EXPECT_EQ(replaced->count(), 25);
  EXPECT_EQ(*replaced->get(10), -1);
  std::vector<int> replacedKeys;
  replaced->enumerateKeysAndObjectsUsingBlock([&](const int& k, const int&, bool*) { replacedKeys.push_back(k); });
  EXPECT_EQ(replacedKeys, range(0, 25));
  EXPECT_EQ(*d->get(10), 1000);  // the version replaced keeps its value
  auto grown = d->insertKey(25, 2500);
  EXPECT_TRUE(isTree(grown));
  EXPECT_EQ(grown->count(), 26);
  std::vector<int> keys;
  grown->enumerateKeysAndObjectsUsingBlock([&](const int& k, const int& v, bool*) {
    EXPECT_EQ(v, k * 100);
    keys.push_back(k);
  });
  EXPECT_EQ(keys, range(0, 26));
  // The older version is untouched.
  EXPECT_EQ(d->count(), 25);
  EXPECT_FALSE(d->contains(25));
}

TEST(SortedDictionaryForms, BuildFromMapChoosesFormBySize) {
  std::map<int, int> m;
  for (int i = 0; i < 25; ++i) m[i] = i;
  EXPECT_TRUE(isArray(IntDict::fromDictionary(m, intCompare)));
  m[25] = 25;
  auto tree = IntDict::fromDictionary(m, intCompare);
  ASSERT_TRUE(isTree(tree));
  EXPECT_EQ(tree->count(), 26);
  std::vector<int> keys;
  tree->enumerateKeysAndObjectsUsingBlock([&](const int& k, const int&, bool*) { keys.push_back(k); });
  EXPECT_EQ(keys, range(0, 26));
  EXPECT_NO_THROW(std::static_pointer_cast<const IntTree>(tree)->root()->check());
}

TEST(SortedDictionaryForms, TreeNeverShrinksBackToArray) {
  auto d = intDict(30);
  for (int i = 29; i > 0; --i) d = d->removeKey(i);
  EXPECT_TRUE(isTree(d));
  EXPECT_EQ(d->count(), 1);
  auto empty = d->removeKey(0);
  EXPECT_TRUE(isTree(empty));
  EXPECT_TRUE(empty->isEmpty());
  EXPECT_EQ(empty->count(), 0);
  EXPECT_FALSE(empty->minKey().has_value());
  EXPECT_FALSE(empty->maxKey().has_value());
}

TEST(SortedDictionaryForms, RemovingAnAbsentKeyReturnsTheSameObject) {
  for (int n : {3, 30}) {
    auto d = intDict(n);
    EXPECT_EQ(d->removeKey(1000), d);
    EXPECT_EQ(d->removeObjectForKey(-1), d);
    EXPECT_NE(d->removeKey(1), d);
  }
}

TEST(SortedDictionaryForms, DuplicateOrderingIsRejected) {
  std::map<std::string, int> m{{"a", 1}, {"A", 2}};
  try {
    Dict::fromDictionary(m, caseless);
    FAIL() << "no exception";
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), NSInvalidArgumentException);
    EXPECT_EQ(e.reason(), "Can't create FImmutableSortedDictionary with keys with same ordering!");
  }
  std::map<std::string, int> big;
  for (int i = 0; i < 30; ++i) big["k" + std::to_string(i)] = i;
  big["K3"] = 99;
  EXPECT_THROW(Dict::fromDictionary(big, caseless), NSException);
}

TEST(SortedDictionaryForms, ReplacedKeyObjectDiffersBetweenForms) {
  // The array form stores the new key object; the tree form keeps the stored one.
  auto array = Dict::dictionaryWithComparator(caseless)->insertKey("a", 1)->insertKey("A", 2);
  EXPECT_EQ(array->count(), 1);
  EXPECT_EQ(*array->minKey(), "A");
  EXPECT_EQ(*array->get("a"), 2);
  std::map<std::string, int> m;
  for (int i = 0; i < 30; ++i) m["k" + std::to_string(i)] = i;
  auto tree = Dict::fromDictionary(m, caseless)->insertKey("K5", 500);
  EXPECT_EQ(tree->count(), 30);
  EXPECT_EQ(*tree->get("k5"), 500);
  EXPECT_TRUE(tree->keyEnumeratorFrom("k5")->nextObject() == std::optional<std::string>("k5"));
}

TEST(SortedDictionaryLookup, PredecessorKeys) {
  for (int n : {5, 40}) {
    auto d = intDict(n, 2);
    EXPECT_FALSE(d->getPredecessorKey(0).has_value());
    for (int i = 1; i < n; ++i) EXPECT_EQ(*d->getPredecessorKey(i * 2), (i - 1) * 2) << n << " " << i;
  }
  try {
    intDict(5, 2)->getPredecessorKey(3);
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), NSInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "Can't get predecessor key for non-existent key");
  }
  try {
    intDict(40, 2)->getPredecessorKey(3);
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "NonexistentKey");
    EXPECT_EQ(e.reason(), "getPredecessorKey called with nonexistent key.");
    EXPECT_EQ(e.userInfo()["key"], "3");
  }
}

TEST(SortedDictionaryLookup, TheEntryAfterABoundThatNeedNotBeAKey) {
  // Keys 0, 3, ..., in both forms; every bound from before the first key to after the last, keys
  // and the gaps between them, both ways.
  for (int n : {0, 1, 7, 25, 26, 100}) {
    auto d = intDict(n, 3);
    for (int bound = -2; bound <= n * 3 + 1; ++bound) {
      auto [key, value] = d->entryAfter(bound, false);
      const int next = bound < 0 ? 0 : (bound / 3 + 1) * 3;
      if (next < n * 3) {
        ASSERT_NE(key, nullptr) << n << " after " << bound;
        EXPECT_EQ(*key, next);
        EXPECT_EQ(*value, next / 3 * 100);
      } else {
        EXPECT_EQ(key, nullptr) << n << " after " << bound;
      }
      auto [before, beforeValue] = d->entryAfter(bound, true);
      const int previous = bound <= 0 ? -1 : std::min((bound - 1) / 3 * 3, (n - 1) * 3);
      if (previous >= 0 && n > 0) {
        ASSERT_NE(before, nullptr) << n << " before " << bound;
        EXPECT_EQ(*before, previous);
        EXPECT_EQ(*beforeValue, previous / 3 * 100);
      } else {
        EXPECT_EQ(before, nullptr) << n << " before " << bound;
      }
    }
  }
}

TEST(SortedDictionaryForms, BuildFromSortedEntriesMatchesTheBuildThatSorts) {
  for (int n : {0, 3, 25, 26, 300}) {
    std::vector<std::pair<int, int>> entries;
    std::map<int, int> map;
    for (int i = 0; i < n; ++i) {
      entries.emplace_back(i * 2, i);
      map[i * 2] = i;
    }
    auto sorted = IntDict::fromSortedEntries(entries, intCompare);
    auto built = IntDict::fromDictionary(map, intCompare);
    EXPECT_TRUE(sorted->isEqual(*built)) << n;
    EXPECT_EQ(isTree(sorted), n > 25) << n;
    if (isTree(sorted)) {
      EXPECT_NO_THROW(std::static_pointer_cast<const IntTree>(sorted)->root()->check());
    }
    // It goes on as any other.
    auto more = sorted->insertKey(-1, 7)->removeKey(0);
    EXPECT_EQ(*more->minKey(), -1);
    EXPECT_EQ(more->count(), n == 0 ? 1 : n);
  }
}

TEST(SortedDictionaryLookup, GetContainsMinMax) {
  for (int n : {0, 7, 100}) {
    auto d = intDict(n, 3);
    for (int k = -1; k < n * 3 + 2; ++k) {
      bool present = k >= 0 && k % 3 == 0 && k < n * 3;
      EXPECT_EQ(d->contains(k), present);
      EXPECT_EQ(d->get(k).has_value(), present);
      if (present) {
        EXPECT_EQ(*d->objectForKey(k), k / 3 * 100);
      }
    }
    if (n > 0) {
      EXPECT_EQ(*d->minKey(), 0);
      EXPECT_EQ(*d->maxKey(), (n - 1) * 3);
    }
  }
}

TEST(SortedDictionaryEnumeration, EnumeratorsFromKeys) {
  for (int n : {10, 30}) {  // keys 0, 2, ..., 2(n-1)
    auto d = intDict(n, 2);
    const int last = 2 * (n - 1);
    EXPECT_EQ(drain(d->keyEnumerator()), range(0, last + 1, 2));
    EXPECT_EQ(drain(d->reverseKeyEnumerator()), range(last, -1, -2));
    EXPECT_TRUE(drain(d->keyEnumeratorFrom(last + 1)).empty());
    EXPECT_TRUE(drain(d->reverseKeyEnumeratorFrom(-1)).empty());
    EXPECT_EQ(drain(d->keyEnumeratorFrom(5)), range(6, last + 1, 2));
    EXPECT_EQ(drain(d->keyEnumeratorFrom(6)), range(6, last + 1, 2));
    EXPECT_EQ(drain(d->reverseKeyEnumeratorFrom(5)), range(4, -1, -2));
    EXPECT_EQ(drain(d->reverseKeyEnumeratorFrom(6)), range(6, -1, -2));
    EXPECT_EQ(drain(d->reverseKeyEnumeratorFrom(last + 10)), range(last, -1, -2));
    EXPECT_EQ(drain(d->keyEnumeratorFrom(-10)), range(0, last + 1, 2));
  }
  auto empty = intDict(0);
  EXPECT_TRUE(drain(empty->keyEnumerator()).empty());
  EXPECT_TRUE(drain(empty->reverseKeyEnumeratorFrom(3)).empty());
}

TEST(SortedDictionaryEnumeration, StopFlagEndsRightAfterTheCall) {
  for (int n : {5, 50}) {
    auto d = intDict(n);
    for (bool reverse : {false, true}) {
      std::vector<int> seen;
      d->enumerateKeysAndObjectsReverse(reverse, [&](const int& k, const int&, bool* stop) {
        seen.push_back(k);
        *stop = true;
      });
      EXPECT_EQ(seen, std::vector<int>{reverse ? n - 1 : 0});
      seen.clear();
      d->enumerateKeysAndObjectsReverse(reverse, [&](const int& k, const int&, bool* stop) {
        seen.push_back(k);
        if (seen.size() == 3) *stop = true;
      });
      EXPECT_EQ(seen.size(), 3u);
    }
  }
}

TEST(SortedDictionaryShared, DescriptionHashEquality) {
  auto empty = Dict::dictionaryWithComparator(FUtilities::keyComparator());
  EXPECT_EQ(empty->description(), "{  }");
  EXPECT_EQ(empty->hash(), 0u);
  auto d = empty->insertKey("b", 2)->insertKey("a", 1)->insertKey("10", 3);
  EXPECT_EQ(d->description(), "{ 10: 3, a: 1, b: 2 }");

  std::map<std::string, int> m;
  for (int i = 0; i < 30; ++i) m["k" + std::to_string(i)] = i;
  auto tree = Dict::fromDictionary(m, FUtilities::keyComparator());
  auto array = empty;
  for (auto& [k, v] : m) {
    if (array->count() < 25) array = array->insertKey(k, v);
  }
  auto tree25 = tree;
  for (auto it = m.rbegin(); tree25->count() > 25; ++it) tree25 = tree25->removeKey(it->first);
  ASSERT_TRUE(dynamic_cast<const Tree*>(tree25.get()));
  ASSERT_TRUE(dynamic_cast<const Array*>(array.get()));
  EXPECT_TRUE(array->isEqual(*tree25));
  EXPECT_TRUE(tree25->isEqual(*array));
  EXPECT_EQ(array->hash(), tree25->hash());
  EXPECT_FALSE(array->isEqual(*array->insertKey("k0", 7)));
  EXPECT_FALSE(array->isEqual(*tree));
  EXPECT_NE(array->hash(), array->insertKey("k0", 7)->hash());
}

TEST(SortedDictionaryShared, AbstractBaseAsksForOverrides) {
  struct Bare : IntDict {};
  auto bare = std::make_shared<const Bare>();
  try {
    bare->insertKey(1, 1);
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), NSInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "You must override insertKey:withValue: in a subclass");
  }
  EXPECT_THROW(bare->reverseKeyEnumeratorFrom(1), NSException);
  EXPECT_THROW(bare->description(), NSException);
}

TEST(SortedDictionaryTree, BalancedBuildOfFourKeys) {
  std::map<int, int> m{{0, 0}, {1, 1}, {2, 2}, {3, 3}};
  std::vector<std::pair<int, int>> entries(m.begin(), m.end());
  auto root = IntTree::rootFrom12List(entries);
  EXPECT_EQ(root->key(), 2);
  EXPECT_FALSE(root->isRed());
  EXPECT_EQ(root->right()->key(), 3);
  EXPECT_FALSE(root->right()->isRed());
  EXPECT_EQ(root->left()->key(), 1);
  EXPECT_FALSE(root->left()->isRed());
  EXPECT_EQ(root->left()->left()->key(), 0);
  EXPECT_TRUE(root->left()->left()->isRed());
  EXPECT_EQ(root->count(), 4);
  EXPECT_EQ(root->check(), 2);
}

TEST(SortedDictionaryTree, BalancedBuildIsValidForEverySize) {
  for (int n = 0; n <= 300; ++n) {
    std::vector<std::pair<int, int>> entries;
    for (int i = 0; i < n; ++i) entries.emplace_back(i * 2, i);
    auto dict = IntTree::fromDictionary(entries, intCompare);
    auto tree = std::static_pointer_cast<const IntTree>(dict);
    ASSERT_EQ(dict->count(), n);
    ASSERT_FALSE(tree->root()->isRed());
    ASSERT_NO_THROW(tree->root()->check()) << n;
    if (n > 0) {
      const auto& top = static_cast<const FLLRBValueNode<int, int>&>(*tree->root());
      ASSERT_TRUE(top.checkMaxDepth());
    }
    int expected = 0;
    dict->enumerateKeysAndObjectsUsingBlock([&](const int& k, const int& v, bool*) {
      EXPECT_EQ(k, expected * 2);
      EXPECT_EQ(v, expected);
      ++expected;
    });
    ASSERT_EQ(expected, n);
    // Inserting into a built tree keeps it valid.
    auto more = dict->insertKey(1, -1)->insertKey(n * 2 + 1, -1);
    ASSERT_NO_THROW(std::static_pointer_cast<const IntTree>(more)->root()->check()) << n;
  }
}

TEST(SortedDictionaryTree, NodeDescriptionsAndCheckFailures) {
  auto red = std::make_shared<const FLLRBValueNode<int, int>>(1, 10);
  EXPECT_EQ(red->description(), "[key=1 val=10 color=true]");
  auto black = red->copyWith(nullptr, nullptr, false, nullptr, nullptr);
  EXPECT_EQ(black->description(), "[key=1 val=10 color=false]");
  const auto& emptyNode = FLLRBEmptyNode<int, int>::emptyNode();
  EXPECT_EQ(emptyNode->description(), "[key=(null) val=(null) color=false]");
  // A red right child is reported by the consistency check.
  auto bad = FLLRBValueNode<int, int>::make(1, 1, false, nullptr, red->copyWith(nullptr, nullptr, true, nullptr, nullptr));
  try {
    bad->check();
    FAIL();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "check");
    EXPECT_EQ(e.reason(), "Right child is red");
  }
  auto unbalanced = FLLRBValueNode<int, int>::make(5, 5, false, black, nullptr);
  EXPECT_THROW(unbalanced->check(), NSException);
}

// Nodes made by hand with an empty node of their own, not the shared one: the tree's lookups,
// inserts and removals still end their paths there rather than read it as a value node.
TEST(SortedDictionaryTree, NodesMadeWithAnotherEmptyNodeEndThePath) {
  using Node = FLLRBValueNode<int, int>;
  const FLLRBNode<int, int>::Ref other = std::make_shared<const FLLRBEmptyNode<int, int>>();
  auto low = Node::make(1, 10, false, other, other);
  auto high = Node::make(3, 30, false, other, other);
  auto tree = std::make_shared<const IntTree>(std::make_shared<const IntDict::Comparator>(intCompare),
                                              Node::make(2, 20, false, low, high));
  EXPECT_EQ(*tree->get(1), 10);
  EXPECT_EQ(*tree->get(3), 30);
  EXPECT_FALSE(tree->get(0).has_value());
  EXPECT_FALSE(tree->get(4).has_value());
  auto more = tree->insertKey(4, 40)->removeKey(1);
  EXPECT_EQ(more->description(), "{ 2: 20, 3: 30, 4: 40 }");
  auto empty = std::make_shared<const IntTree>(std::make_shared<const IntDict::Comparator>(intCompare), other);
  EXPECT_TRUE(empty->isEmpty());
  EXPECT_FALSE(empty->get(1).has_value());
  EXPECT_EQ(*empty->insertKey(1, 10)->get(1), 10);
}

TEST(SortedDictionaryTree, InsertingAnExistingKeyKeepsCount) {
  auto d = intDict(40);
  auto replaced = d->insertKey(17, 1);
  EXPECT_EQ(replaced->count(), 40);
  EXPECT_EQ(*replaced->get(17), 1);
  EXPECT_EQ(*d->get(17), 1700);
}
