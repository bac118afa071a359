#pragma once
// Nodes of the persistent left-leaning red-black tree behind FTreeSortedDictionary. A node never
// changes once made: every operation returns new nodes along one root-to-leaf path and shares the
// rest. Each value node also records the size of its subtree, so `count` costs nothing.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FObjectTraits.h"

template <typename K, typename V>
class FLLRBNode : public std::enable_shared_from_this<FLLRBNode<K, V>> {
 public:
  using Ref = std::shared_ptr<const FLLRBNode>;
  using Comparator = std::function<int(const K&, const K&)>;
  // (key, value) -> YES to stop the walk.
  using TraversalBlock = std::function<bool(const K&, const V&)>;

  virtual ~FLLRBNode() = default;

  // A new node with the given fields; every null argument keeps the receiver's own field.
  virtual Ref copyWith(const K* key, const V* value, std::optional<bool> color, Ref left,
                       Ref right) const = 0;
  virtual Ref insertKey(const K& key, const V& value, const Comparator& comparator) const = 0;
  virtual Ref remove(const K& key, const Comparator& comparator) const = 0;
  // Number of value nodes in the subtree.
  virtual int32_t count() const = 0;
  virtual bool isEmpty() const = 0;
  // YES when the block asked to stop.
  virtual bool inorderTraversal(const TraversalBlock& block) const = 0;
  virtual bool reverseTraversal(const TraversalBlock& block) const = 0;
  // The node with the smallest key (the empty node for an empty subtree).
  virtual const FLLRBNode* min() const = 0;
  virtual std::optional<K> minKey() const = 0;
  virtual std::optional<K> maxKey() const = 0;
  virtual bool isRed() const = 0;
  // Black height; raises an NSException named "check" when colours or heights are inconsistent.
  virtual int check() const = 0;

  // Fields. The empty node answers default values and, for its children, itself.
  virtual const K& key() const = 0;
  virtual const V& value() const = 0;
  virtual bool color() const = 0;  // YES red, NO black
  virtual const Ref& left() const = 0;
  virtual const Ref& right() const = 0;

  // "[key=k val=v color=true]" (true for a red node).
  virtual std::string description() const = 0;
};

template <typename K, typename V>
class FLLRBEmptyNode : public FLLRBNode<K, V> {
 public:
  using typename FLLRBNode<K, V>::Ref;
  using typename FLLRBNode<K, V>::Comparator;
  using typename FLLRBNode<K, V>::TraversalBlock;

  // The one shared empty node, standing for every absent subtree.
  static const Ref& emptyNode() {
    static const Ref instance = std::make_shared<const FLLRBEmptyNode>();
    return instance;
  }

  Ref copyWith(const K*, const V*, std::optional<bool>, Ref, Ref) const override {
    return emptyNode();
  }
  Ref insertKey(const K& key, const V& value, const Comparator&) const override;
  Ref remove(const K&, const Comparator&) const override { return emptyNode(); }
  int32_t count() const override { return 0; }
  bool isEmpty() const override { return true; }
  bool inorderTraversal(const TraversalBlock&) const override { return false; }
  bool reverseTraversal(const TraversalBlock&) const override { return false; }
  const FLLRBNode<K, V>* min() const override { return this; }
  std::optional<K> minKey() const override { return std::nullopt; }
  std::optional<K> maxKey() const override { return std::nullopt; }
  bool isRed() const override { return false; }
  int check() const override { return 0; }
  const K& key() const override {
    static const K none{};
    return none;
  }
  const V& value() const override {
    static const V none{};
    return none;
  }
  bool color() const override { return false; }
  const Ref& left() const override { return emptyNode(); }
  const Ref& right() const override { return emptyNode(); }
  std::string description() const override { return "[key=(null) val=(null) color=false]"; }
};

template <typename K, typename V>
class FLLRBValueNode : public FLLRBNode<K, V> {
 public:
  using typename FLLRBNode<K, V>::Ref;
  using typename FLLRBNode<K, V>::Comparator;
  using typename FLLRBNode<K, V>::TraversalBlock;

  // A missing colour makes a red node; a missing child is the empty node.
  FLLRBValueNode(K key, V value, std::optional<bool> color = std::nullopt, Ref left = nullptr,
                 Ref right = nullptr)
      : key_(std::move(key)),
        value_(std::move(value)),
        red_(color.value_or(true)),
        left_(left ? std::move(left) : FLLRBEmptyNode<K, V>::emptyNode()),
        right_(right ? std::move(right) : FLLRBEmptyNode<K, V>::emptyNode()),
        count_(left_->count() + right_->count() + 1) {}

  static Ref make(const K& key, const V& value, bool red, Ref left, Ref right) {
    return std::make_shared<const FLLRBValueNode>(key, value, red, std::move(left), std::move(right));
  }

  Ref copyWith(const K* key, const V* value, std::optional<bool> color, Ref left,
               Ref right) const override {
    return std::make_shared<const FLLRBValueNode>(key ? *key : key_, value ? *value : value_,
                                                  color.value_or(red_), left ? left : left_,
                                                  right ? right : right_);
  }

  Ref insertKey(const K& key, const V& value, const Comparator& comparator) const override {
    int r = comparator(key, key_);
    Ref n;
    if (r == 0) {
      n = make(key_, value, red_, left_, right_);  // the stored key object stays
    } else if (r < 0) {
      n = make(key_, value_, red_, left_->insertKey(key, value, comparator), right_);
    } else {
      n = make(key_, value_, red_, left_, right_->insertKey(key, value, comparator));
    }
    return fixUp(n);
  }

  Ref remove(const K& key, const Comparator& comparator) const override {
    Ref n = this->shared_from_this();
    if (comparator(key, n->key()) < 0) {
      if (!n->left()->isEmpty() && !n->left()->isRed() && !n->left()->left()->isRed()) {
        n = moveRedLeft(n);
      }
      n = withLeft(n, n->left()->remove(key, comparator));
    } else {
      if (n->left()->isRed()) n = rotateRight(n);
      if (!n->right()->isEmpty() && !n->right()->isRed() && !n->right()->left()->isRed()) {
        n = moveRedRight(n);
      }
      if (comparator(key, n->key()) == 0) {
        if (n->right()->isEmpty()) return FLLRBEmptyNode<K, V>::emptyNode();
        const FLLRBNode<K, V>* s = n->right()->min();
        n = make(s->key(), s->value(), n->color(), n->left(), removeMin(n->right()));
      }
      n = withRight(n, n->right()->remove(key, comparator));
    }
    return fixUp(n);
  }

  int32_t count() const override { return count_; }
  bool isEmpty() const override { return false; }

  bool inorderTraversal(const TraversalBlock& block) const override {
    if (left_->inorderTraversal(block)) return true;
    if (block(key_, value_)) return true;
    return right_->inorderTraversal(block);
  }
  bool reverseTraversal(const TraversalBlock& block) const override {
    if (right_->reverseTraversal(block)) return true;
    if (block(key_, value_)) return true;
    return left_->reverseTraversal(block);
  }

  const FLLRBNode<K, V>* min() const override {
    const FLLRBNode<K, V>* n = this;
    while (!n->left()->isEmpty()) n = n->left().get();
    return n;
  }
  std::optional<K> minKey() const override { return min()->key(); }
  std::optional<K> maxKey() const override {
    const FLLRBNode<K, V>* n = this;
    while (!n->right()->isEmpty()) n = n->right().get();
    return n->key();
  }
  bool isRed() const override { return red_; }

  int check() const override {
    if (red_ && left_->isRed()) NSException::raise("check", "Red node has a red child");
    if (right_->isRed()) NSException::raise("check", "Right child is red");
    int bl = left_->check();
    int br = right_->check();
    if (bl != br) {
      NSException::raise("check", "(%s -> %s)blackDepth: %d ; self.right check: %d",
                         fobject::description(value_).c_str(), red_ ? "red" : "black", bl, br);
    }
    return red_ ? bl : bl + 1;
  }
  // YES when the tree is no deeper than a red-black tree of this size may be.
  bool checkMaxDepth() const {
    int blackDepth = check();
    return (int64_t{1} << blackDepth) <= static_cast<int64_t>(count()) + 1;
  }

  const K& key() const override { return key_; }
  const V& value() const override { return value_; }
  bool color() const override { return red_; }
  const Ref& left() const override { return left_; }
  const Ref& right() const override { return right_; }

  std::string description() const override {
    return "[key=" + fobject::description(key_) + " val=" + fobject::description(value_) +
           " color=" + (red_ ? "true" : "false") + "]";
  }

  // The rebalancing steps of insert and remove; each takes a value node and returns a new one.
  static Ref removeMin(const Ref& node) {
    if (node->left()->isEmpty()) return FLLRBEmptyNode<K, V>::emptyNode();
    Ref n = node;
    if (!n->left()->isRed() && !n->left()->left()->isRed()) n = moveRedLeft(n);
    n = withLeft(n, removeMin(n->left()));
    return fixUp(n);
  }
  static Ref fixUp(Ref n) {
    if (n->right()->isRed() && !n->left()->isRed()) n = rotateLeft(n);
    if (n->left()->isRed() && n->left()->left()->isRed()) n = rotateRight(n);
    if (n->left()->isRed() && n->right()->isRed()) n = colorFlip(n);
    return n;
  }
  static Ref moveRedLeft(Ref n) {
    n = colorFlip(n);
    if (n->right()->left()->isRed()) {
      n = withRight(n, rotateRight(n->right()));
      n = rotateLeft(n);
      n = colorFlip(n);
    }
    return n;
  }
  static Ref moveRedRight(Ref n) {
    n = colorFlip(n);
    if (n->left()->left()->isRed()) {
      n = rotateRight(n);
      n = colorFlip(n);
    }
    return n;
  }
  static Ref rotateLeft(const Ref& n) {
    const Ref& r = n->right();
    Ref m = make(n->key(), n->value(), true, n->left(), r->left());
    return make(r->key(), r->value(), n->color(), std::move(m), r->right());
  }
  static Ref rotateRight(const Ref& n) {
    const Ref& l = n->left();
    Ref m = make(n->key(), n->value(), true, l->right(), n->right());
    return make(l->key(), l->value(), n->color(), l->left(), std::move(m));
  }
  static Ref colorFlip(const Ref& n) {
    Ref left = n->left()->copyWith(nullptr, nullptr, !n->left()->color(), nullptr, nullptr);
    Ref right = n->right()->copyWith(nullptr, nullptr, !n->right()->color(), nullptr, nullptr);
    return make(n->key(), n->value(), !n->color(), std::move(left), std::move(right));
  }

 private:
  static Ref withLeft(const Ref& n, Ref left) {
    return make(n->key(), n->value(), n->color(), std::move(left), n->right());
  }
  static Ref withRight(const Ref& n, Ref right) {
    return make(n->key(), n->value(), n->color(), n->left(), std::move(right));
  }

  K key_;
  V value_;
  bool red_;
  Ref left_;
  Ref right_;
  int32_t count_;
};

template <typename K, typename V>
typename FLLRBEmptyNode<K, V>::Ref FLLRBEmptyNode<K, V>::insertKey(const K& key, const V& value,
                                                                    const Comparator&) const {
  return std::make_shared<const FLLRBValueNode<K, V>>(key, value);
}
