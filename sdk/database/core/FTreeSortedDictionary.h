#pragma once
// The tree form of the sorted dictionary: a persistent left-leaning red-black tree whose root is
// black. Inserts and removes copy one root-to-leaf path; the build from a map makes a balanced
// tree in one pass without rotations. It never turns back into the array form.
#include <mutex>
#include <vector>

#include "sdk/database/core/FImmutableSortedDictionary.h"
#include "sdk/database/core/FLLRBNode.h"

template <typename K, typename V>
class FTreeSortedDictionary;

// Walks the keys of a tree dictionary in order (or reverse order) from a start key, with a stack
// of the nodes still to visit. Keeps the dictionary, and so its nodes, alive.
template <typename K, typename V>
class FTreeSortedDictionaryEnumerator : public NSEnumerator<K> {
 public:
  using Node = FLLRBNode<K, V>;

  FTreeSortedDictionaryEnumerator(std::shared_ptr<const FTreeSortedDictionary<K, V>> dictionary,
                                  const K* startKey, bool isReverse)
      : dictionary_(std::move(dictionary)), isReverse_(isReverse) {
    const auto& cmp = *dictionary_->comparator();
    const Node* node = dictionary_->root().get();
    while (!node->isEmpty()) {
      // Without a start key every node counts as at or past the start.
      int r = 1;
      if (startKey) {
        r = cmp(node->key(), *startKey);
        if (isReverse) r = -r;
      }
      if (r < 0) {
        node = isReverse ? node->left().get() : node->right().get();
      } else {
        stack_.push_back(node);
        if (r == 0) break;
        node = isReverse ? node->right().get() : node->left().get();
      }
    }
  }

  std::optional<K> nextObject() override {
    const Node* node;
    {
      std::lock_guard<std::mutex> lock(stackLock_);
      if (stack_.empty()) return std::nullopt;
      node = stack_.back();
      stack_.pop_back();
      const Node* next = isReverse_ ? node->left().get() : node->right().get();
      while (!next->isEmpty()) {
        stack_.push_back(next);
        next = isReverse_ ? next->right().get() : next->left().get();
      }
    }
    return node->key();
  }

 private:
  std::shared_ptr<const FTreeSortedDictionary<K, V>> dictionary_;
  std::vector<const Node*> stack_;
  std::mutex stackLock_;
  bool isReverse_;
};

template <typename K, typename V>
class FTreeSortedDictionary : public FImmutableSortedDictionary<K, V> {
 public:
  using Base = FImmutableSortedDictionary<K, V>;
  using typename Base::Block;
  using typename Base::Comparator;
  using typename Base::ComparatorRef;
  using typename Base::KeyEnumerator;
  using typename Base::Ref;
  using NodeRef = typename FLLRBNode<K, V>::Ref;
  using ValueNode = FLLRBValueNode<K, V>;
  using CompareFunction = int (*)(const K&, const K&);

  explicit FTreeSortedDictionary(ComparatorRef comparator)
      : FTreeSortedDictionary(std::move(comparator), FLLRBEmptyNode<K, V>::emptyNode()) {}
  FTreeSortedDictionary(ComparatorRef comparator, NodeRef root)
      : comparator_(std::move(comparator)),
        rawCompare_(rawFunction(comparator_)),
        root_(root && root->count_ != 0 ? std::move(root) : FLLRBEmptyNode<K, V>::emptyNode()) {}

  // The balanced build from an unordered map (any range of key/value pairs).
  template <typename Map>
  static Ref fromDictionary(const Map& map, Comparator comparator) {
    auto entries = Base::sortedEntries(map, comparator);
    NodeRef root = rootFrom12List(entries);
    return make(std::make_shared<const Comparator>(std::move(comparator)), std::move(root));
  }

  static Ref fromSortedEntries(const std::vector<std::pair<K, V>>& entries, Comparator comparator) {
    NodeRef root = rootFrom12List(entries);
    return make(std::make_shared<const Comparator>(std::move(comparator)), std::move(root));
  }

  // A perfectly balanced black tree of entries[start, start + length); null for no entries.
  static NodeRef buildBalancedTree(const std::vector<std::pair<K, V>>& entries, size_t start,
                                   size_t length) {
    size_t available = start < entries.size() ? entries.size() - start : 0;
    if (length > available) length = available;
    if (length == 0) return nullptr;
    if (length == 1) {
      return ValueNode::make(entries[start].first, entries[start].second, false, nullptr, nullptr);
    }
    size_t middle = length / 2;
    NodeRef left = buildBalancedTree(entries, start, middle);
    NodeRef right = buildBalancedTree(entries, start + middle + 1, middle);
    return ValueNode::make(entries[start + middle].first, entries[start + middle].second, false,
                           std::move(left), std::move(right));
  }

  // Builds the tree from the binary form of n + 1: a chain of pennants down the left spine, each
  // a key with a balanced right subtree.
  static NodeRef rootFrom12List(const std::vector<std::pair<K, V>>& entries) {
    const auto n = static_cast<uint32_t>(entries.size());
    if (n == 0) return FLLRBEmptyNode<K, V>::emptyNode();
    uint16_t bitCount = 0;
    while ((uint64_t{1} << (bitCount + 1)) <= uint64_t{n} + 1) ++bitCount;
    const uint32_t bits = (n + 1) & static_cast<uint32_t>((uint64_t{1} << bitCount) - 1);
    int32_t currentBit = bitCount - 1;

    struct Pennant {
      size_t index;
      bool red;
      NodeRef right;
    };
    std::vector<Pennant> pennants;
    size_t index = n;
    auto pennant = [&](size_t chunk, bool red) {
      index -= chunk;
      pennants.push_back({index, red, buildBalancedTree(entries, index + 1, chunk - 1)});
    };
    for (uint16_t i = 0; i < bitCount; ++i) {
      const bool isOne = ((bits >> currentBit) & 1u) != 0;
      --currentBit;
      const size_t chunk = size_t{1} << (bitCount - 1 - i);
      if (isOne) {
        pennant(chunk, false);
        pennant(chunk, true);
      } else {
        pennant(chunk, false);
      }
    }
    // Each pennant is the left child of the one built before it; link from the last so that
    // every node is complete when it is made.
    NodeRef below;
    for (auto it = pennants.rbegin(); it != pennants.rend(); ++it) {
      below = ValueNode::make(entries[it->index].first, entries[it->index].second, it->red,
                              std::move(below), it->right);
    }
    return below;
  }

  // The new root is black. It is one of the nodes the insert made, so it is recoloured in place
  // rather than copied once more.
  Ref insertKey(const K& key, const V& value) const override {
    NodeRef root;
    if (rawCompare_) {
      ValueNode::insertInto(root, *root_, key, value, rawCompare_);
    } else {
      ValueNode::insertInto(root, *root_, key, value, *comparator_);
    }
    ValueNode::edit(root)->red_ = false;
    return make(comparator_, std::move(root));
  }

  // One walk down the tree: the insert stops where it finds the key with a refused value, before
  // it has made any node.
  Ref insertKeyUnless(const K& key, const V& value, const std::function<bool(const V&)>& refuse) const override {
    NodeRef root = ValueNode::insertedUnless(*root_, key, value, *comparator_, &refuse);
    if (!root) return nullptr;
    ValueNode::edit(root)->red_ = false;
    return make(comparator_, std::move(root));
  }

  // The value nodes of the path to the key, when each is held by its parent alone.
  const V* lookupOwned(const K& key) const override {
    const auto& cmp = *comparator_;
    const NodeRef* slot = &root_;
    while ((*slot)->count_ != 0 && slot->use_count() == 1) {
      const ValueNode* v = static_cast<const ValueNode*>(slot->get());
      const int r = cmp(key, v->key_);
      if (r == 0) return &v->value_;
      slot = r < 0 ? &v->left_ : &v->right_;
    }
    return nullptr;
  }

  // The removal rebuilds the path to the key and comes back with a black root; it hands back the
  // old root itself when the key is not there.
  Ref removeKey(const K& key) const override {
    bool shorter = false;
    NodeRef root = ValueNode::erase(root_, key, *comparator_, shorter);
    if (root == root_) return this->self();
    return make(comparator_, std::move(root));
  }

  std::optional<V> get(const K& key) const override {
    const ValueNode* node = find(key);
    if (!node) return std::nullopt;
    return node->value_;
  }

  const V* lookup(const K& key) const override {
    const ValueNode* node = find(key);
    return node ? &node->value_ : nullptr;
  }

  std::optional<K> getPredecessorKey(const K& key) const override {
    const auto& cmp = *comparator_;
    const FLLRBNode<K, V>* node = root_.get();
    const ValueNode* rightParent = nullptr;
    while (node->count_ != 0) {
      const ValueNode* v = static_cast<const ValueNode*>(node);
      int r = cmp(key, v->key_);
      if (r == 0) {
        if (v->left_->count_ != 0) {
          const ValueNode* n = static_cast<const ValueNode*>(v->left_.get());
          while (n->right_->count_ != 0) n = static_cast<const ValueNode*>(n->right_.get());
          return n->key_;
        }
        if (rightParent) return rightParent->key_;
        return std::nullopt;
      }
      if (r < 0) {
        node = v->left_.get();
      } else {
        rightParent = v;
        node = v->right_.get();
      }
    }
    throw NSException("NonexistentKey", "getPredecessorKey called with nonexistent key.",
                      Value{{"key", fobject::description(key)}});
  }

  std::pair<const K*, const V*> entryAfter(const K& bound, bool reverse) const override {
    const auto& cmp = *comparator_;
    const FLLRBNode<K, V>* node = root_.get();
    const ValueNode* found = nullptr;
    while (node->count_ != 0) {
      const ValueNode* v = static_cast<const ValueNode*>(node);
      const int r = cmp(v->key_, bound);
      if (reverse ? r < 0 : r > 0) {
        // A candidate: anything closer to the bound lies on the bound's side of it.
        found = v;
        node = reverse ? v->right_.get() : v->left_.get();
      } else {
        node = reverse ? v->left_.get() : v->right_.get();
      }
    }
    if (!found) return {nullptr, nullptr};
    return {&found->key_, &found->value_};
  }

  bool isEmpty() const override { return root_->isEmpty(); }
  int32_t count() const override { return root_->count(); }
  std::optional<K> minKey() const override { return root_->minKey(); }
  std::optional<K> maxKey() const override { return root_->maxKey(); }

  void enumerateKeysAndObjectsUsingBlock(const Block& block) const override {
    enumerateKeysAndObjectsReverse(false, block);
  }
  void enumerateKeysAndObjectsReverse(bool reverse, const Block& block) const override {
    bool stop = false;
    if (reverse) {
      walk<true>(root_.get(), block, stop);
    } else {
      walk<false>(root_.get(), block, stop);
    }
  }

  bool contains(const K& key) const override { return find(key) != nullptr; }

  KeyEnumerator keyEnumerator() const override { return enumerator(nullptr, false); }
  KeyEnumerator keyEnumeratorFrom(const K& key) const override { return enumerator(&key, false); }
  KeyEnumerator reverseKeyEnumerator() const override { return enumerator(nullptr, true); }
  KeyEnumerator reverseKeyEnumeratorFrom(const K& key) const override {
    return enumerator(&key, true);
  }

  const ComparatorRef& comparator() const override { return comparator_; }
  const NodeRef& root() const { return root_; }

 private:
  // The dictionary is held by its only reference: the nodes it alone reaches change in place (the
  // dictionary is made unconst, by make, so that it may).
  bool insertInPlaceUnless(const K& key, const V& value, const std::function<bool(const V&)>& refuse) const override {
    NodeRef& root = const_cast<FTreeSortedDictionary*>(this)->root_;
    if (!ValueNode::insertInPlaceUnless(root, key, value, *comparator_, refuse)) return false;
    ValueNode::edit(root)->red_ = false;
    return true;
  }

  // A dictionary over a new root, from the nodes' allocator (one is made per insert and remove).
  static Ref make(const ComparatorRef& comparator, NodeRef root) {
    return std::allocate_shared<FTreeSortedDictionary>(FNodeAllocator<FTreeSortedDictionary>(), comparator,
                                                       std::move(root));
  }

  // The node of key, or null. Reads the nodes' fields directly (a lookup makes no virtual call).
  const ValueNode* find(const K& key) const {
    if (rawCompare_) return findWith(key, rawCompare_);
    return findWith(key, *comparator_);
  }
  // The descent of find with the comparator as given. A large tree's lower levels are far away in
  // memory, so a step reads no more of a node than its key and child pointers (the end of a path
  // is known by the address of the one empty node, not by reading a size), and both children
  // are on their way while the comparator runs.
  template <typename Compare>
  const ValueNode* findWith(const K& key, const Compare& cmp) const {
    const FLLRBNode<K, V>* const empty = FLLRBEmptyNode<K, V>::emptyNode().get();
    const FLLRBNode<K, V>* node = root_.get();
    while (node != empty) {
      const ValueNode* v = static_cast<const ValueNode*>(node);
      const FLLRBNode<K, V>* const children[2] = {v->left_.get(), v->right_.get()};
      ValueNode::prefetchNode(children[0]);
      ValueNode::prefetchNode(children[1]);
      const int r = cmp(key, v->key_);
      if (r == 0) return v;
      node = children[r > 0];
    }
    return nullptr;
  }

  // The in-order (or reverse) walk of the enumerations; ends right after the block sets stop.
  template <bool Reverse>
  static void walk(const FLLRBNode<K, V>* node, const Block& block, bool& stop) {
    while (node->count_ != 0 && !stop) {
      const ValueNode* v = static_cast<const ValueNode*>(node);
      walk<Reverse>(Reverse ? v->right_.get() : v->left_.get(), block, stop);
      if (stop) return;
      block(v->key_, v->value_, &stop);
      node = Reverse ? v->left_.get() : v->right_.get();
    }
  }

  KeyEnumerator enumerator(const K* startKey, bool reverse) const {
    auto self = std::static_pointer_cast<const FTreeSortedDictionary>(this->self());
    return std::make_shared<FTreeSortedDictionaryEnumerator<K, V>>(std::move(self), startKey,
                                                                   reverse);
  }

  // The comparator's function when it is a plain function: called directly, not through the
  // std::function (one indirect call per node instead of two).
  static CompareFunction rawFunction(const ComparatorRef& comparator) {
    if (!comparator) return nullptr;
    const CompareFunction* f = comparator->template target<CompareFunction>();
    return f ? *f : nullptr;
  }

  ComparatorRef comparator_;
  CompareFunction rawCompare_;
  NodeRef root_;
};
