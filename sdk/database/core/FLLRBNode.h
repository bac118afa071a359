#pragma once
// Nodes of the persistent left-leaning red-black tree behind FTreeSortedDictionary. A node never
// changes once it is published: every operation returns new nodes along one root-to-leaf path and
// shares the rest. Each value node also records the size of its subtree, so `count` costs nothing.
// Nodes are held by Ref (a shared pointer to a const node) and come from FNodeAllocator.
//
// An insert or a remove makes its new nodes first and rebalances them in place (a rotation or a
// colour flip changes the nodes it has just made instead of copying them again); a node of the
// older tree is copied only where the change must alter it: the nodes of the path, and a sibling
// whose colour the rebalancing flips. The operation knows the nodes it has made by their single
// reference: every node of the older tree it reaches is held by the older tree as well. The new
// nodes are published when the operation returns, and from then on never change, so trees are
// shared freely across threads. The one exception is the
// insert in place of a tree that a single owner holds alone (FTreeSortedDictionary's, for the
// pending writes): it changes the nodes that no other reference reaches, which no other version
// of the tree and no other thread can see.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FNodeAllocator.h"
#include "sdk/database/core/FObjectTraits.h"

template <typename K, typename V>
class FLLRBValueNode;
template <typename K, typename V>
class FLLRBEmptyNode;
template <typename K, typename V>
class FTreeSortedDictionary;
template <typename K, typename V>
class FTreeSortedDictionaryEnumerator;

template <typename K, typename V>
class FLLRBNode {
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

 private:
  friend class FLLRBValueNode<K, V>;
  friend class FLLRBEmptyNode<K, V>;
  friend class FTreeSortedDictionary<K, V>;
  friend class FTreeSortedDictionaryEnumerator<K, V>;

  // What the tree's own operations read without a virtual call. The empty node keeps 0 and NO:
  // a count of 0 is how they recognise it.
  int32_t count_ = 0;
  bool red_ = false;
};

template <typename K, typename V>
class FLLRBEmptyNode final : public FLLRBNode<K, V> {
 public:
  using typename FLLRBNode<K, V>::Ref;
  using typename FLLRBNode<K, V>::Comparator;
  using typename FLLRBNode<K, V>::TraversalBlock;

  // The one shared empty node, standing for every absent subtree.
  static const Ref& emptyNode() {
    static const Ref& instance = *new Ref(std::make_shared<const FLLRBEmptyNode>());
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
class FLLRBValueNode final : public FLLRBNode<K, V> {
 public:
  using typename FLLRBNode<K, V>::Ref;
  using typename FLLRBNode<K, V>::Comparator;
  using typename FLLRBNode<K, V>::TraversalBlock;

  // A missing colour makes a red node; a missing child, or any empty one, is the one empty node
  // (the tree's descents know the end of a path by its address).
  FLLRBValueNode(K key, V value, std::optional<bool> color = std::nullopt, Ref left = nullptr,
                 Ref right = nullptr)
      : key_(std::move(key)),
        value_(std::move(value)),
        left_(left && left->count_ != 0 ? std::move(left) : FLLRBEmptyNode<K, V>::emptyNode()),
        right_(right && right->count_ != 0 ? std::move(right) : FLLRBEmptyNode<K, V>::emptyNode()) {
    this->red_ = color.value_or(true);
    recount();
  }

  // The same with the size of the subtree already known (the tree's own operations know it).
  FLLRBValueNode(const K& key, const V& value, bool red, Ref left, Ref right, int32_t count)
      : key_(key), value_(value), left_(std::move(left)), right_(std::move(right)) {
    this->red_ = red;
    this->count_ = count;
  }

  static Ref make(const K& key, const V& value, bool red, Ref left, Ref right) {
    return allocate(key, value, red, std::move(left), std::move(right));
  }

  Ref copyWith(const K* key, const V* value, std::optional<bool> color, Ref left,
               Ref right) const override {
    return allocate(key ? *key : key_, value ? *value : value_, color.value_or(this->red_),
                    left ? left : left_, right ? right : right_);
  }

  Ref insertKey(const K& key, const V& value, const Comparator& comparator) const override {
    return inserted(*this, key, value, comparator);
  }

  // A removal that finds nothing to remove leaves the subtree as it is (an equal copy of it).
  Ref remove(const K& key, const Comparator& comparator) const override {
    const Ref self = allocate(key_, value_, this->red_, left_, right_, this->count_);
    bool shorter = false;
    return erase(self, key, comparator, shorter);
  }

  int32_t count() const override { return this->count_; }
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
    const FLLRBValueNode* n = this;
    while (!isEmptyNode(n->left_)) n = node(n->left_);
    return n;
  }
  std::optional<K> minKey() const override { return static_cast<const FLLRBValueNode*>(min())->key_; }
  std::optional<K> maxKey() const override {
    const FLLRBValueNode* n = this;
    while (!isEmptyNode(n->right_)) n = node(n->right_);
    return n->key_;
  }
  bool isRed() const override { return this->red_; }

  int check() const override {
    if (this->red_ && left_->isRed()) NSException::raise("check", "Red node has a red child");
    if (right_->isRed()) NSException::raise("check", "Right child is red");
    int bl = left_->check();
    int br = right_->check();
    if (bl != br) {
      NSException::raise("check", "(%s -> %s)blackDepth: %d ; self.right check: %d",
                         fobject::description(value_).c_str(), this->red_ ? "red" : "black", bl, br);
    }
    return this->red_ ? bl : bl + 1;
  }
  // YES when the tree is no deeper than a red-black tree of this size may be.
  bool checkMaxDepth() const {
    int blackDepth = check();
    return (int64_t{1} << blackDepth) <= static_cast<int64_t>(count()) + 1;
  }

  const K& key() const override { return key_; }
  const V& value() const override { return value_; }
  bool color() const override { return this->red_; }
  const Ref& left() const override { return left_; }
  const Ref& right() const override { return right_; }

  std::string description() const override {
    return "[key=" + fobject::description(key_) + " val=" + fobject::description(value_) +
           " color=" + (this->red_ ? "true" : "false") + "]";
  }

  // The rebalancing steps of insert and remove as separate operations; each takes a value node
  // and returns new nodes, leaving its argument unchanged.
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
  friend class FTreeSortedDictionary<K, V>;
  friend class FTreeSortedDictionaryEnumerator<K, V>;
  friend class FLLRBEmptyNode<K, V>;

  static Ref withLeft(const Ref& n, Ref left) {
    return make(n->key(), n->value(), n->color(), std::move(left), n->right());
  }
  static Ref withRight(const Ref& n, Ref right) {
    return make(n->key(), n->value(), n->color(), n->left(), std::move(right));
  }

  // ---- The tree's own operations: field reads without virtual calls ----
  //
  // Insertion follows the steps of insertKey, fixUp, rotateLeft, rotateRight and colorFlip above
  // and gives trees of the same shape, but changes the nodes it has made (fresh nodes) instead of
  // copying them again. A node of the older tree is never changed: `own` puts a fresh copy in its
  // place first. A fresh node is known by its reference count of one: it is held only by the slot
  // it was made for, while each older node the operation reaches is held by its older parent too
  // (the older tree lives while the operation runs) besides the new node that shares it. Each step
  // works on a slot (the reference that holds a subtree: a parent's child field or the new root)
  // and leaves the new subtree in it, so references move instead of being copied. (Removal,
  // further below, makes its nodes final at once.)

  static bool isEmptyNode(const Ref& n) { return n->count_ == 0; }
  static bool isRedNode(const Ref& n) { return n->red_; }
  static const FLLRBValueNode* node(const Ref& n) { return static_cast<const FLLRBValueNode*>(n.get()); }
  // A fresh node, which this operation may change.
  static FLLRBValueNode* edit(const Ref& n) { return const_cast<FLLRBValueNode*>(node(n)); }
  // Whether the left child of a value node's left child is red; NO below an empty child.
  static bool leftLeftRed(const Ref& n) {
    const Ref& l = node(n)->left_;
    return !isEmptyNode(l) && isRedNode(node(l)->left_);
  }

  void recount() { this->count_ = left_->count_ + right_->count_ + 1; }

  // Asks for both children while the comparator runs on this node; one is the next on the path.
  static void prefetchChildren(const FLLRBValueNode* v) {
    prefetchNode(v->left_.get());
    prefetchNode(v->right_.get());
  }
  // Fetches the start of a node: with small keys and values its key and child pointers are in its
  // first 64 bytes, which can straddle two cache lines.
  static void prefetchNode(const FLLRBNode<K, V>* n) {
    const char* p = reinterpret_cast<const char*>(n);
    __builtin_prefetch(p);
    __builtin_prefetch(p + 63);
  }

  // Every value node comes from the node allocator's per-thread cache.
  template <typename... Args>
  static std::shared_ptr<FLLRBValueNode> allocate(Args&&... args) {
    return std::allocate_shared<FLLRBValueNode>(FNodeAllocator<FLLRBValueNode>(), std::forward<Args>(args)...);
  }
  static Ref makeFresh(const K& key, const V& value, bool red, Ref left, Ref right, int32_t count) {
    return allocate(key, value, red, std::move(left), std::move(right), count);
  }
  // A fresh node without children (the caller sets them) left in `out`, which held nothing.
  [[gnu::always_inline]] static FLLRBValueNode* makeFreshIn(Ref& out, const K& key, const V& value, bool red,
                                                            int32_t count) {
    std::shared_ptr<FLLRBValueNode> node = allocate(key, value, red, Ref(), Ref(), count);
    FLLRBValueNode* made = node.get();
    out = std::move(node);
    return made;
  }
  // Makes the value node in the slot one this operation may change: a fresh copy replaces a node
  // that another reference holds too; a node the slot alone holds stays (a fresh node, or, in an
  // insert in place below, a node of the tree its single owner holds alone).
  static FLLRBValueNode* own(Ref& slot) {
    if (slot.use_count() != 1) {
      const FLLRBValueNode* v = node(slot);
      slot = makeFresh(v->key_, v->value_, v->red_, v->left_, v->right_, v->count_);
    }
    return edit(slot);
  }

  // The steps below take a slot holding a fresh value node and leave the node that replaces it.
  static void rotateLeftIn(Ref& slot) {
    FLLRBValueNode* top = edit(slot);
    FLLRBValueNode* right = own(top->right_);
    const bool color = top->red_;
    Ref raised = std::move(top->right_);
    top->right_ = std::move(right->left_);
    top->red_ = true;
    top->recount();
    right->left_ = std::move(slot);
    right->red_ = color;
    right->recount();
    slot = std::move(raised);
  }
  static void rotateRightIn(Ref& slot) {
    FLLRBValueNode* top = edit(slot);
    FLLRBValueNode* left = own(top->left_);
    const bool color = top->red_;
    Ref raised = std::move(top->left_);
    top->left_ = std::move(left->right_);
    top->red_ = true;
    top->recount();
    left->right_ = std::move(slot);
    left->red_ = color;
    left->recount();
    slot = std::move(raised);
  }
  static void colorFlipIn(const Ref& slot) {
    FLLRBValueNode* top = edit(slot);
    // The empty node keeps no colour: flipping it leaves it as it is.
    if (!isEmptyNode(top->left_)) {
      FLLRBValueNode* left = own(top->left_);
      left->red_ = !left->red_;
    }
    if (!isEmptyNode(top->right_)) {
      FLLRBValueNode* right = own(top->right_);
      right->red_ = !right->red_;
    }
    top->red_ = !top->red_;
  }
  static void fixUpIn(Ref& slot) {
    if (isRedNode(node(slot)->right_) && !isRedNode(node(slot)->left_)) rotateLeftIn(slot);
    if (isRedNode(node(slot)->left_) && leftLeftRed(slot)) rotateRightIn(slot);
    if (isRedNode(node(slot)->left_) && isRedNode(node(slot)->right_)) colorFlipIn(slot);
  }
  // insertKey:forValue:withComparator: of node h (any node): the fresh node that replaces it.
  template <typename Compare>
  static Ref inserted(const FLLRBNode<K, V>& h, const K& key, const V& value, const Compare& comparator) {
    Ref n;
    insertInto(n, h, key, value, comparator);
    return n;
  }
  // The same, leaving the fresh node in `out`. Each node of the path is made on the way down and
  // the step below leaves the new child straight in its field: no node is handed back up through
  // a temporary (a reference written in two halves and read back whole stalls the processor).
  template <typename Compare>
  static void insertInto(Ref& out, const FLLRBNode<K, V>& h, const K& key, const V& value, const Compare& comparator) {
    if (h.count_ == 0) {
      FLLRBValueNode* n = makeFreshIn(out, key, value, true, 1);
      n->left_ = emptyRef();
      n->right_ = emptyRef();
      return;
    }
    const FLLRBValueNode& v = static_cast<const FLLRBValueNode&>(h);
    prefetchChildren(&v);
    const int r = comparator(key, v.key_);
    if (r == 0) {
      out = makeFresh(v.key_, value, v.red_, v.left_, v.right_, v.count_);  // the stored key object stays
      fixUpIn(out);
      return;
    }
    // The new size comes from the changed child's (the child left alone is not read: it can be far
    // away in memory).
    FLLRBValueNode* n = makeFreshIn(out, v.key_, v.value_, v.red_, 0);
    if (r < 0) {
      n->right_ = v.right_;
      insertInto(n->left_, *v.left_, key, value, comparator);
      n->count_ = v.count_ - v.left_->count_ + n->left_->count_;
    } else {
      n->left_ = v.left_;
      insertInto(n->right_, *v.right_, key, value, comparator);
      n->count_ = v.count_ - v.right_->count_ + n->right_->count_;
    }
    fixUpIn(out);
  }
  // The same, except that where the key is found with a value `refuse` answers true for, null comes
  // back and nothing was made (every node of the path is made on the way back up).
  static Ref insertedUnless(const FLLRBNode<K, V>& h, const K& key, const V& value, const Comparator& comparator,
                            const std::function<bool(const V&)>* refuse) {
    if (h.count_ == 0) return makeFresh(key, value, true, emptyRef(), emptyRef(), 1);
    const FLLRBValueNode& v = static_cast<const FLLRBValueNode&>(h);
    prefetchChildren(&v);
    const int r = comparator(key, v.key_);
    // The new size comes from the changed child's (the child left alone is not read: it can be far
    // away in memory).
    Ref n;
    if (r == 0) {
      if ((*refuse)(v.value_)) return nullptr;
      n = makeFresh(v.key_, value, v.red_, v.left_, v.right_, v.count_);  // the stored key object stays
    } else if (r < 0) {
      Ref child = insertedUnless(*v.left_, key, value, comparator, refuse);
      if (!child) return nullptr;
      const int32_t count = v.count_ - v.left_->count_ + child->count_;
      n = makeFresh(v.key_, v.value_, v.red_, std::move(child), v.right_, count);
    } else {
      Ref child = insertedUnless(*v.right_, key, value, comparator, refuse);
      if (!child) return nullptr;
      const int32_t count = v.count_ - v.right_->count_ + child->count_;
      n = makeFresh(v.key_, v.value_, v.red_, v.left_, std::move(child), count);
    }
    fixUpIn(n);
    return n;
  }

  // insertedUnless into the tree held by `slot`, changing in place the nodes that the slot alone
  // reaches (the caller holds the slot alone: the tree is one no other version shares). Walking
  // down, the first node that another reference holds too is copied with the path below it as
  // insertedUnless does; above it the nodes of the path are changed where they are, so an insert
  // into a tree kept by one owner makes one node. NO, with nothing changed, where `refuse` answers
  // true for the value found at the key.
  static bool insertInPlaceUnless(Ref& slot, const K& key, const V& value, const Comparator& comparator,
                                  const std::function<bool(const V&)>& refuse) {
    if (slot.use_count() != 1) {  // shared, or the empty node
      Ref n = insertedUnless(*slot, key, value, comparator, &refuse);
      if (!n) return false;
      slot = std::move(n);
      return true;
    }
    FLLRBValueNode* v = edit(slot);
    prefetchChildren(v);
    const int r = comparator(key, v->key_);
    if (r == 0) {
      if (refuse(v->value_)) return false;
      v->value_ = value;
    } else {
      Ref& child = r < 0 ? v->left_ : v->right_;
      const int32_t before = child->count_;
      if (!insertInPlaceUnless(child, key, value, comparator, refuse)) return false;
      v->count_ += child->count_ - before;
    }
    fixUpIn(slot);
    return true;
  }

  // ---- Removal: a 2-3 tree deletion, bottom up ----
  //
  // A black node with a red left child is a 3-node (two keys, three children), a black node without
  // one a 2-node. The removal goes down to the key (or, for a key above the leaves, to its
  // successor, the smallest key of the subtree to its right) and rebuilds the nodes of that path
  // on the way back; only where a subtree came back one black level lower does it borrow a key
  // from a neighbouring subtree or merge with it. Every node it makes is final when made, so older
  // trees are never touched; it copies the path and, rarely, a neighbour.

  // A black node of key and value `from` over left and right.
  static Ref black(const FLLRBValueNode* from, Ref left, Ref right, int32_t count) {
    return allocate(from->key_, from->value_, false, std::move(left), std::move(right), count);
  }
  static Ref black(const FLLRBValueNode* from, Ref left, Ref right) {
    const int32_t count = left->count_ + right->count_ + 1;
    return black(from, std::move(left), std::move(right), count);
  }
  static Ref red(const FLLRBValueNode* from, Ref left, Ref right, int32_t count) {
    return allocate(from->key_, from->value_, true, std::move(left), std::move(right), count);
  }
  static Ref red(const FLLRBValueNode* from, Ref left, Ref right) {
    const int32_t count = left->count_ + right->count_ + 1;
    return red(from, std::move(left), std::move(right), count);
  }
  // The 3-node of keys a < b over c0, c1, c2.
  static Ref three(const FLLRBValueNode* a, const FLLRBValueNode* b, Ref c0, Ref c1, Ref c2) {
    Ref low = red(a, std::move(c0), std::move(c1));
    return black(b, std::move(low), std::move(c2));
  }
  static Ref emptyRef() { return FLLRBEmptyNode<K, V>::emptyNode(); }
  static bool isThree(const FLLRBValueNode* h) { return isRedNode(h->left_); }

  // A 2-node of key k over c0, c1 of which child `shortChild` is a black level lower than the
  // other: borrows from the other or merges with it (then the result is a level lower: *shorter).
  static Ref fixTwo(const FLLRBValueNode* k, int shortChild, Ref c0, Ref c1, bool& shorter) {
    if (shortChild == 0) {
      const FLLRBValueNode* s = node(c1);
      if (isThree(s)) {  // keys (s.left, s): the smaller one goes up
        const FLLRBValueNode* sl = node(s->left_);
        shorter = false;
        return black(sl, black(k, std::move(c0), sl->left_), black(s, sl->right_, s->right_));
      }
      shorter = true;
      return three(k, s, std::move(c0), s->left_, s->right_);
    }
    const FLLRBValueNode* s = node(c0);
    if (isThree(s)) {  // the larger key goes up
      const FLLRBValueNode* sl = node(s->left_);
      shorter = false;
      return black(s, black(sl, sl->left_, sl->right_), black(k, s->right_, std::move(c1)));
    }
    shorter = true;
    return three(s, k, s->left_, s->right_, std::move(c1));
  }

  // A 3-node of keys a < b over c0, c1, c2 of which child `shortChild` is a level lower. Borrows
  // from or merges with a neighbour; a 3-node has a key to spare, so the result is never lower.
  static Ref fixThree(const FLLRBValueNode* a, const FLLRBValueNode* b, int shortChild, Ref c0, Ref c1, Ref c2) {
    if (shortChild == 0) {
      const FLLRBValueNode* s = node(c1);
      if (isThree(s)) {
        const FLLRBValueNode* sl = node(s->left_);
        return three(sl, b, black(a, std::move(c0), sl->left_), black(s, sl->right_, s->right_), std::move(c2));
      }
      return black(b, three(a, s, std::move(c0), s->left_, s->right_), std::move(c2));
    }
    if (shortChild == 1) {
      const FLLRBValueNode* s = node(c0);
      if (isThree(s)) {
        const FLLRBValueNode* sl = node(s->left_);
        return three(s, b, black(sl, sl->left_, sl->right_), black(a, s->right_, std::move(c1)), std::move(c2));
      }
      return black(b, three(s, a, s->left_, s->right_, std::move(c1)), std::move(c2));
    }
    const FLLRBValueNode* s = node(c1);
    if (isThree(s)) {
      const FLLRBValueNode* sl = node(s->left_);
      return three(a, s, std::move(c0), black(sl, sl->left_, sl->right_), black(b, s->right_, std::move(c2)));
    }
    return black(a, std::move(c0), three(s, b, s->left_, s->right_, std::move(c2)));
  }

  // The subtree of black node h (not empty) without its smallest key, which `smallest` is set to
  // (a node of the older tree, alive while h is).
  static Ref eraseMin(const Ref& hRef, const FLLRBValueNode*& smallest, bool& shorter) {
    const FLLRBValueNode* h = node(hRef);
    if (isThree(h)) {
      const FLLRBValueNode* a = node(h->left_);
      shorter = false;
      if (isEmptyNode(a->left_)) {  // a leaf 3-node keeps its larger key
        smallest = a;
        return black(h, emptyRef(), emptyRef(), 1);
      }
      bool lower = false;
      Ref c0 = eraseMin(a->left_, smallest, lower);
      if (!lower) return black(h, red(a, std::move(c0), a->right_, a->count_ - 1), h->right_, h->count_ - 1);
      return fixThree(a, h, 0, std::move(c0), a->right_, h->right_);
    }
    if (isEmptyNode(h->left_)) {  // a leaf 2-node goes
      smallest = h;
      shorter = true;
      return emptyRef();
    }
    Ref c0 = eraseMin(h->left_, smallest, shorter);
    if (!shorter) return black(h, std::move(c0), h->right_, h->count_ - 1);
    return fixTwo(h, 0, std::move(c0), h->right_, shorter);
  }

  // remove:withComparator: of the subtree of black node h (or empty; a tree's root is black): the
  // new subtree, and whether it is a black level lower. A key that is not there leaves h itself.
  static Ref erase(const Ref& hRef, const K& key, const Comparator& comparator, bool& shorter) {
    shorter = false;
    if (isEmptyNode(hRef)) return hRef;
    const FLLRBValueNode* h = node(hRef);
    prefetchChildren(h);
    bool lower = false;
    if (isThree(h)) {
      const FLLRBValueNode* a = node(h->left_);
      const int ra = comparator(key, a->key_);
      if (ra < 0) {
        Ref c0 = erase(a->left_, key, comparator, lower);
        if (c0 == a->left_) return hRef;
        if (!lower) return black(h, red(a, std::move(c0), a->right_, a->count_ - 1), h->right_, h->count_ - 1);
        return fixThree(a, h, 0, std::move(c0), a->right_, h->right_);
      }
      if (ra == 0) {
        if (isEmptyNode(a->left_)) return black(h, emptyRef(), emptyRef(), 1);  // leaf: b stays
        const FLLRBValueNode* successor = nullptr;
        Ref c1 = eraseMin(a->right_, successor, lower);
        if (!lower) return black(h, red(successor, a->left_, std::move(c1), a->count_ - 1), h->right_, h->count_ - 1);
        return fixThree(successor, h, 1, a->left_, std::move(c1), h->right_);
      }
      const int rb = comparator(key, h->key_);
      if (rb < 0) {
        Ref c1 = erase(a->right_, key, comparator, lower);
        if (c1 == a->right_) return hRef;
        if (!lower) return black(h, red(a, a->left_, std::move(c1), a->count_ - 1), h->right_, h->count_ - 1);
        return fixThree(a, h, 1, a->left_, std::move(c1), h->right_);
      }
      if (rb == 0) {
        if (isEmptyNode(h->right_)) return black(a, emptyRef(), emptyRef(), 1);  // leaf: a stays
        const FLLRBValueNode* successor = nullptr;
        Ref c2 = eraseMin(h->right_, successor, lower);
        if (!lower) return black(successor, h->left_, std::move(c2), h->count_ - 1);
        return fixThree(a, successor, 2, a->left_, a->right_, std::move(c2));
      }
      Ref c2 = erase(h->right_, key, comparator, lower);
      if (c2 == h->right_) return hRef;
      if (!lower) return black(h, h->left_, std::move(c2), h->count_ - 1);
      return fixThree(a, h, 2, a->left_, a->right_, std::move(c2));
    }
    const int r = comparator(key, h->key_);
    if (r < 0) {
      Ref c0 = erase(h->left_, key, comparator, lower);
      if (c0 == h->left_) return hRef;
      if (!lower) return black(h, std::move(c0), h->right_, h->count_ - 1);
      return fixTwo(h, 0, std::move(c0), h->right_, shorter);
    }
    if (r == 0) {
      if (isEmptyNode(h->right_)) {  // a leaf 2-node goes
        shorter = true;
        return emptyRef();
      }
      const FLLRBValueNode* successor = nullptr;
      Ref c1 = eraseMin(h->right_, successor, lower);
      if (!lower) return black(successor, h->left_, std::move(c1), h->count_ - 1);
      return fixTwo(successor, 1, h->left_, std::move(c1), shorter);
    }
    Ref c1 = erase(h->right_, key, comparator, lower);
    if (c1 == h->right_) return hRef;
    if (!lower) return black(h, h->left_, std::move(c1), h->count_ - 1);
    return fixTwo(h, 1, h->left_, std::move(c1), shorter);
  }

  K key_;
  V value_;
  Ref left_;
  Ref right_;
};

template <typename K, typename V>
typename FLLRBEmptyNode<K, V>::Ref FLLRBEmptyNode<K, V>::insertKey(const K& key, const V& value,
                                                                    const Comparator&) const {
  return FLLRBValueNode<K, V>::make(key, value, true, nullptr, nullptr);
}
