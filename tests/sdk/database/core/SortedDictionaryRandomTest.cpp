#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "sdk/database/core/FImmutableSortedDictionary.h"

namespace {

using Dict = FImmutableSortedDictionary<int, int>;
using Tree = FTreeSortedDictionary<int, int>;
using Node = FLLRBNode<int, int>;

int intCompare(const int& a, const int& b) { return a < b ? -1 : (a > b ? 1 : 0); }

// Left-leaning red-black shape: no red right child, no red node with a red left child, equal
// black height on every path, sizes recorded in the nodes equal to the real subtree sizes.
int checkShape(const Node& n, int* size) {
  if (n.isEmpty()) {
    *size = 0;
    return 0;
  }
  EXPECT_FALSE(n.right()->isRed());
  if (n.isRed()) {
    EXPECT_FALSE(n.left()->isRed());
  }
  int ls = 0;
  int rs = 0;
  int lh = checkShape(*n.left(), &ls);
  int rh = checkShape(*n.right(), &rs);
  EXPECT_EQ(lh, rh);
  *size = ls + rs + 1;
  EXPECT_EQ(n.count(), *size);
  return lh + (n.isRed() ? 0 : 1);
}

void expectMatches(const Dict::Ref& d, const std::map<int, int>& model) {
  ASSERT_EQ(d->count(), static_cast<int32_t>(model.size()));
  ASSERT_EQ(d->isEmpty(), model.empty());
  auto it = model.begin();
  bool ok = true;
  d->enumerateKeysAndObjectsUsingBlock([&](const int& k, const int& v, bool* stop) {
    if (it == model.end() || it->first != k || it->second != v) {
      ok = false;
      *stop = true;
      return;
    }
    ++it;
  });
  ASSERT_TRUE(ok && it == model.end());
  if (!model.empty()) {
    ASSERT_EQ(*d->minKey(), model.begin()->first);
    ASSERT_EQ(*d->maxKey(), model.rbegin()->first);
  }
  if (auto tree = std::dynamic_pointer_cast<const Tree>(d)) {
    ASSERT_FALSE(tree->root()->isRed());
    int size = 0;
    checkShape(*tree->root(), &size);
    ASSERT_NO_THROW(tree->root()->check());
    ASSERT_EQ(size, d->count());
  } else {
    ASSERT_LE(d->count(), 25);
  }
}

}  // namespace

TEST(SortedDictionaryRandomised, AgreesWithStdMapAndKeepsEveryVersion) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> keyDist(0, 400);
  std::uniform_int_distribution<int> opDist(0, 99);

  auto d = Dict::dictionaryWithComparator(intCompare);
  std::map<int, int> model;
  std::vector<std::pair<Dict::Ref, std::map<int, int>>> versions;
  versions.emplace_back(d, model);

  for (int step = 0; step < 6000; ++step) {
    const int key = keyDist(rng);
    // Mostly inserts early on, mostly removes later, so the size goes up and down through 25/26.
    const int insertShare = step < 2000 ? 70 : (step < 4000 ? 40 : 60);
    if (opDist(rng) < insertShare) {
      d = d->insertKey(key, step);
      model[key] = step;
    } else {
      auto before = d;
      d = d->removeKey(key);
      if (model.erase(key) == 0) {
        ASSERT_EQ(d, before);
      }
    }
    expectMatches(d, model);
    if (::testing::Test::HasFatalFailure()) FAIL() << "step " << step;

    // Lookups and neighbours against the model.
    const int probe = keyDist(rng);
    auto found = model.find(probe);
    ASSERT_EQ(d->contains(probe), found != model.end());
    if (found != model.end()) {
      ASSERT_EQ(*d->get(probe), found->second);
      auto pred = d->getPredecessorKey(probe);
      if (found == model.begin()) {
        ASSERT_FALSE(pred.has_value());
      } else {
        ASSERT_EQ(*pred, std::prev(found)->first);
      }
    }
    auto from = d->keyEnumeratorFrom(probe)->nextObject();
    auto lower = model.lower_bound(probe);
    ASSERT_EQ(from.has_value(), lower != model.end());
    if (from) {
      ASSERT_EQ(*from, lower->first);
    }
    auto reverseFrom = d->reverseKeyEnumeratorFrom(probe)->nextObject();
    auto upper = model.upper_bound(probe);
    ASSERT_EQ(reverseFrom.has_value(), upper != model.begin());
    if (reverseFrom) {
      ASSERT_EQ(*reverseFrom, std::prev(upper)->first);
    }

    if (step % 7 == 0) versions.emplace_back(d, model);
  }

  // Every earlier version still holds exactly what it held when it was made.
  for (const auto& [version, snapshot] : versions) {
    expectMatches(version, snapshot);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(SortedDictionaryRandomised, AscendingAndDescendingInsertOrders) {
  for (bool descending : {false, true}) {
    auto d = Dict::dictionaryWithComparator(intCompare);
    std::map<int, int> model;
    for (int i = 0; i < 2000; ++i) {
      int k = descending ? 2000 - i : i;
      d = d->insertKey(k, i);
      model[k] = i;
    }
    expectMatches(d, model);
    for (int i = 0; i < 2000; i += 2) {
      d = d->removeKey(descending ? 2000 - i : i);
      model.erase(descending ? 2000 - i : i);
    }
    expectMatches(d, model);
  }
}
