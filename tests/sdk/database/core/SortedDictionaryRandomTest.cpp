#include <gtest/gtest.h>

#include <map>
#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sdk/database/core/FImmutableSortedDictionary.h"
#include "sdk/database/core/FNodeAllocator.h"

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

  for (int step = 0; step < 3000; ++step) {
    const int key = keyDist(rng);
    // Mostly inserts early on, mostly removes later, so the size goes up and down through 25/26.
    const int insertShare = step < 2000 ? 70 : (step < 4000 ? 40 : 60);
    const int op = opDist(rng);
    if (op < insertShare && op % 2 == 0) {
      d = d->insertKey(key, step);
      model[key] = step;
    } else if (op < insertShare) {
      // The conditional insert refuses a key that holds an odd value, and then makes nothing.
      auto refused = d->insertKeyUnless(key, step, [](const int& old) { return old % 2 != 0; });
      auto found = model.find(key);
      if (found != model.end() && found->second % 2 != 0) {
        ASSERT_EQ(refused, nullptr) << "step " << step;
      } else {
        ASSERT_NE(refused, nullptr) << "step " << step;
        d = refused;
        model[key] = step;
      }
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

namespace {

using ValueNode = FLLRBValueNode<int, int>;

// Insert and remove as separate copying steps (every rotation and colour flip makes new nodes),
// built from the nodes' public operations: the tree shapes the in-place operations must give.
Node::Ref copyingInsert(const Node::Ref& h, int key, int value) {
  if (h->isEmpty()) return ValueNode::make(key, value, true, nullptr, nullptr);
  const int r = intCompare(key, h->key());
  Node::Ref n;
  if (r == 0) {
    n = ValueNode::make(h->key(), value, h->color(), h->left(), h->right());
  } else if (r < 0) {
    n = ValueNode::make(h->key(), h->value(), h->color(), copyingInsert(h->left(), key, value), h->right());
  } else {
    n = ValueNode::make(h->key(), h->value(), h->color(), h->left(), copyingInsert(h->right(), key, value));
  }
  return ValueNode::fixUp(n);
}

// Pre-order keys, values and colours: equal strings, equal trees.
void shapeOf(const Node& n, std::string& out) {
  if (n.isEmpty()) {
    out += '.';
    return;
  }
  out += std::to_string(n.key()) + ':' + std::to_string(n.value()) + (n.isRed() ? 'r' : 'b') + '(';
  shapeOf(*n.left(), out);
  shapeOf(*n.right(), out);
  out += ')';
}
std::string shapeOf(const Node::Ref& n) {
  std::string out;
  shapeOf(*n, out);
  return out;
}

// The nodes of `tree` that `older` does not share: the ones a change made.
size_t madeNodes(const Node::Ref& tree, const Node::Ref& older) {
  std::set<const Node*> old;
  std::vector<const Node*> stack = {older.get()};
  while (!stack.empty()) {
    const Node* n = stack.back();
    stack.pop_back();
    if (n->isEmpty() || !old.insert(n).second) continue;
    stack.push_back(n->left().get());
    stack.push_back(n->right().get());
  }
  size_t made = 0;
  stack = {tree.get()};
  while (!stack.empty()) {
    const Node* n = stack.back();
    stack.pop_back();
    if (n->isEmpty() || old.count(n)) continue;  // a shared node shares its whole subtree
    ++made;
    stack.push_back(n->left().get());
    stack.push_back(n->right().get());
  }
  return made;
}

int heightOf(const Node& n) { return n.isEmpty() ? 0 : 1 + std::max(heightOf(*n.left()), heightOf(*n.right())); }

}  // namespace

// Inserts rebalance the nodes they have just made in place instead of copying them again: the
// trees must be the shapes of the copying steps, node for node and colour for colour. Removals
// rebuild the path bottom up. Either way a change makes the nodes of one path and a few
// neighbours, the tree stays a valid left-leaning red-black tree, and no older version changes,
// not even a colour.
// The key ranges run as cases of their own, so that ctest runs them side by side. They draw from
// one random sequence, range after range, as they did when they ran in one test: a later range
// first draws what the earlier ranges drew, without building their trees.
constexpr int kCopyRanges[] = {40, 400, 5000};
constexpr int kCopySteps = 2000;

class SortedDictionaryCopyRange : public ::testing::TestWithParam<size_t> {};

TEST_P(SortedDictionaryCopyRange, ChangesCopyOnePathAndKeepOldVersions) {
  std::mt19937 rng(4242);
  for (size_t earlier = 0; earlier < GetParam(); ++earlier) {
    std::uniform_int_distribution<int> keyDist(0, kCopyRanges[earlier]);
    for (int step = 0; step < kCopySteps; ++step) {
      keyDist(rng);
      rng();
    }
  }
  const int keyRange = kCopyRanges[GetParam()];
  {
    std::uniform_int_distribution<int> keyDist(0, keyRange);
    auto d = std::static_pointer_cast<const Tree>(Tree::fromDictionary(std::map<int, int>{{1, 1}}, intCompare));
    Node::Ref reference = d->root();
    std::map<int, int> model{{1, 1}};
    std::vector<std::pair<std::shared_ptr<const Tree>, std::string>> versions;
    for (int step = 0; step < kCopySteps; ++step) {
      const int key = keyDist(rng);
      const bool insert = (step / 500) % 2 == 0 ? rng() % 100 < 70 : rng() % 100 < 35;
      const auto before = d;
      if (insert) {
        d = std::static_pointer_cast<const Tree>(d->insertKey(key, step));
        reference = copyingInsert(reference, key, step)->copyWith(nullptr, nullptr, false, nullptr, nullptr);
        model[key] = step;
        ASSERT_EQ(shapeOf(d->root()), shapeOf(reference)) << "range " << keyRange << " step " << step;
        // The path to the new key, and a neighbour per colour flip on the way back.
        ASSERT_LE(madeNodes(d->root(), before->root()), static_cast<size_t>(2 * heightOf(*d->root()) + 1));
      } else {
        d = std::static_pointer_cast<const Tree>(d->removeKey(key));
        if (model.erase(key) == 0) {
          ASSERT_EQ(d, before);
        } else {
          // The path down to the key's successor, and the nodes of a borrow or merge beside it.
          ASSERT_LE(madeNodes(d->root(), before->root()), static_cast<size_t>(heightOf(*before->root()) + 4))
              << "range " << keyRange << " step " << step;
        }
        reference = d->root();
      }
      expectMatches(d, model);
      if (::testing::Test::HasFatalFailure()) FAIL() << "range " << keyRange << " step " << step;
      if (step % 5 == 0) versions.emplace_back(d, shapeOf(d->root()));
    }
    for (const auto& [version, shape] : versions) ASSERT_EQ(shapeOf(version->root()), shape);
  }
}

INSTANTIATE_TEST_SUITE_P(SortedDictionaryRandomised, SortedDictionaryCopyRange,
                         ::testing::Range<size_t>(0, std::size(kCopyRanges)),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return "keys0to" + std::to_string(kCopyRanges[info.param]);
                         });

// An insert in place changes the nodes only the one reference reaches: every version another
// reference still holds (a copy of the dictionary, or of a node inside it) stays as it was, the
// tree keeps its shape and sizes, and a refused insert changes nothing.
TEST(SortedDictionaryRandomised, InsertsInPlaceLeaveEveryVersionHeldElsewhereAsItWas) {
  std::mt19937 rng(777);
  std::uniform_int_distribution<int> keyDist(0, 3000);
  const std::function<bool(const int&)> refuseOdd = [](const int& v) { return v % 2 != 0; };
  Dict::Ref d = Dict::dictionaryWithComparator(intCompare);
  std::map<int, int> model;
  std::vector<std::pair<Dict::Ref, std::map<int, int>>> versions;
  std::vector<std::pair<Node::Ref, std::string>> subtrees;  // nodes held apart from any dictionary
  for (int step = 0; step < 6000; ++step) {
    const int key = keyDist(rng);
    const int value = static_cast<int>(rng() % 1000);
    const auto found = model.find(key);
    const bool refused = found != model.end() && found->second % 2 != 0;
    ASSERT_EQ(Dict::insertKeyUnlessInPlace(d, key, value, refuseOdd), !refused) << "step " << step;
    if (!refused) model[key] = value;
    if (step % 61 == 0 || step < 40) expectMatches(d, model);
    if (::testing::Test::HasFatalFailure()) FAIL() << "step " << step;
    if (step % 97 == 0) versions.emplace_back(d, model);
    if (step % 89 == 0) {
      if (auto tree = std::dynamic_pointer_cast<const Tree>(d)) {
        const Node::Ref held = rng() % 2 ? tree->root()->left() : tree->root()->right();
        subtrees.emplace_back(held, shapeOf(held));
      }
    }
  }
  expectMatches(d, model);
  for (const auto& [version, versionModel] : versions) expectMatches(version, versionModel);
  for (const auto& [subtree, shape] : subtrees) ASSERT_EQ(shapeOf(subtree), shape);
}

TEST(SortedDictionaryRandomised, NodesOwnInsertAndRemoveLeaveTheNodeTheyAreAskedOf) {
  // The nodes' own insert and remove (the protocol operations) leave the node they are asked of.
  Node::Ref root = FLLRBEmptyNode<int, int>::emptyNode();
  Node::Ref copying = root;
  for (int k : {50, 20, 80, 10, 30, 70, 90, 25, 35, 5}) {
    root = root->insertKey(k, k, intCompare)->copyWith(nullptr, nullptr, false, nullptr, nullptr);
    copying = copyingInsert(copying, k, k)->copyWith(nullptr, nullptr, false, nullptr, nullptr);
    ASSERT_EQ(shapeOf(root), shapeOf(copying));
  }
  std::set<int> keys = {50, 20, 80, 10, 30, 70, 90, 25, 35, 5};
  for (int k : {20, 90, 50, 7, 5}) {
    const std::string before = shapeOf(root);
    const Node::Ref removed = root->remove(k, intCompare);
    ASSERT_EQ(shapeOf(root), before);
    keys.erase(k);
    root = removed;
    ASSERT_NO_THROW(root->check());
    std::vector<int> walked;
    root->inorderTraversal([&](const int& key, const int&) {
      walked.push_back(key);
      return false;
    });
    ASSERT_EQ(walked, std::vector<int>(keys.begin(), keys.end()));
  }
}

// One tree shared by several threads: each builds its own versions from it (their new nodes come
// from its own block cache) and drops them again (handing back nodes other threads made). The
// shared tree and every thread's versions keep exactly their entries.
TEST(SortedDictionaryRandomised, VersionsOfOneTreeAreMadeAndDroppedOnManyThreads) {
  std::map<int, int> base;
  auto shared = Dict::dictionaryWithComparator(intCompare);
  for (int k = 0; k < 3000; k += 3) {
    shared = shared->insertKey(k, -k);
    base[k] = -k;
  }
  const std::string before = shapeOf(std::static_pointer_cast<const Tree>(shared)->root());
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(static_cast<unsigned>(t) + 1);
      std::uniform_int_distribution<int> keyDist(0, 3000);
      auto d = shared;
      std::map<int, int> model = base;
      std::vector<Dict::Ref> kept;
      for (int step = 0; step < 1500; ++step) {
        const int key = keyDist(rng);
        if (rng() % 2) {
          d = d->insertKey(key, step);
          model[key] = step;
        } else {
          d = d->removeKey(key);
          model.erase(key);
        }
        if (step % 50 == 0) kept.push_back(d);
        if (step % 200 == 0) kept.clear();  // versions and their nodes go on this thread
        if (d->count() != static_cast<int32_t>(model.size())) ++failures[static_cast<size_t>(t)];
      }
      auto it = model.begin();
      d->enumerateKeysAndObjectsUsingBlock([&](const int& k, const int& v, bool* stop) {
        if (it == model.end() || it->first != k || it->second != v) {
          ++failures[static_cast<size_t>(t)];
          *stop = true;
          return;
        }
        ++it;
      });
      if (it != model.end()) ++failures[static_cast<size_t>(t)];
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
  EXPECT_EQ(shapeOf(std::static_pointer_cast<const Tree>(shared)->root()), before);
  expectMatches(shared, base);
}

// The node allocator hands a freed block back to the next allocation of its thread, and blocks
// freed on a thread other than their own (more than its cache keeps) go back whole when it ends.
TEST(NodeAllocator, ReusesBlocksOnTheirThreadAndReturnsThemWhenTheThreadEnds) {
  struct Block {
    char bytes[72];
  };
  FNodeAllocator<Block> allocator;
  Block* first = allocator.allocate(1);
  allocator.deallocate(first, 1);
  Block* again = allocator.allocate(1);
  EXPECT_EQ(again, first);
  std::memset(again, 0x5a, sizeof(Block));  // the whole block is the caller's again
  allocator.deallocate(again, 1);

  std::vector<Block*> blocks;
  for (int i = 0; i < 2000; ++i) blocks.push_back(allocator.allocate(1));
  std::thread other([&] {
    FNodeAllocator<Block> theirs;
    for (Block* block : blocks) theirs.deallocate(block, 1);
    // The cache took the first blocks freed here, up to its size; the rest went back at once. The
    // last block it took is the first it hands out.
    constexpr size_t kCached = fdetail::FBlockCache<sizeof(Block), alignof(Block)>::kCachedBlocks;
    Block* reused = theirs.allocate(1);
    EXPECT_EQ(reused, blocks[kCached - 1]);
    theirs.deallocate(reused, 1);
  });
  other.join();  // its cache is freed with it; the leak checker would report any block left over

  Block* several = allocator.allocate(3);  // arrays bypass the caches
  allocator.deallocate(several, 3);
}

// Where one thread makes nodes and another lets the last versions go, the blocks the freeing
// thread cannot keep reach a thread whose cache is empty in whole chains, usable in full; what no
// chain holds goes back when its thread ends.
TEST(NodeAllocator, BlocksFreedBeyondACacheReachAThreadWithAnEmptyOne) {
  struct Block {
    char bytes[184];  // a size no other test allocates, so the shared chains are this test's own
  };
  using Cache = fdetail::FBlockCache<sizeof(Block), alignof(Block)>;
  constexpr size_t kCached = Cache::kCachedBlocks;
  constexpr size_t kChain = Cache::kChainBlocks;
  constexpr size_t kChains = 3;
  std::vector<Block*> blocks;
  std::thread maker([&] {
    FNodeAllocator<Block> mine;
    for (size_t i = 0; i < kCached + kChains * kChain + kChain / 2; ++i) blocks.push_back(mine.allocate(1));
  });
  maker.join();
  std::thread freer([&] {
    FNodeAllocator<Block> theirs;
    for (Block* block : blocks) theirs.deallocate(block, 1);
  });
  freer.join();  // its cache and its last, partial chain go back to the global allocator

  const std::set<Block*> chained(blocks.begin() + kCached, blocks.begin() + kCached + kChains * kChain);
  std::thread taker([&] {
    FNodeAllocator<Block> empty;
    std::vector<Block*> taken;
    for (size_t i = 0; i < kChains * kChain; ++i) {
      Block* block = empty.allocate(1);
      std::memset(block, 0x3c, sizeof(Block));  // every block of a chain is the caller's in full
      taken.push_back(block);
    }
    // Every chain the depot held was handed out whole before any block came from the heap.
    EXPECT_EQ(std::set<Block*>(taken.begin(), taken.end()), chained);
    for (Block* block : taken) empty.deallocate(block, 1);
  });
  taker.join();
}
