#pragma once
// A persistent tree keyed by path components with an optional value at every node. Never changes
// after construction: modifications return a new tree sharing every untouched subtree. Children
// are ordered by the plain string comparison of their keys, not by the database key order.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/database/core/FImmutableSortedDictionary.h"
#include "sdk/database/core/FNodeAllocator.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FTuplePathValue.h"
#include "sdk/database/core/FUtilities.h"

template <typename T>
class FImmutableTree : public std::enable_shared_from_this<FImmutableTree<T>> {
 public:
  using Ref = std::shared_ptr<const FImmutableTree>;
  using Children = FImmutableSortedDictionary<std::string, Ref>;
  using ChildrenRef = typename Children::Ref;
  using Predicate = std::function<bool(const T&)>;
  // (path, value) blocks; paths are relative to the tree the public operation was called on.
  using VisitBlock = std::function<void(const FPathRef&, const T&)>;
  using WhileBlock = std::function<bool(const FPathRef&, const T&)>;

  explicit FImmutableTree(std::optional<T> value)
      : value_(std::move(value)), children_(emptyChildren()) {}
  FImmutableTree(std::optional<T> value, ChildrenRef children)
      : value_(std::move(value)), children_(children ? std::move(children) : emptyChildren()) {}

  // A new tree node. Its block comes from the node allocator: a write makes a few and lets as many
  // of the previous version go, on the same thread. The node is made unconst, so that the holder
  // of its only reference may change it in place (setTreeInPlaceUnlessValueOnPath).
  template <typename... Args>
  static Ref make(Args&&... args) {
    return std::allocate_shared<FImmutableTree>(FNodeAllocator<FImmutableTree>(), std::forward<Args>(args)...);
  }

  static const ChildrenRef& emptyChildren() {
    static const ChildrenRef& instance =
        *new ChildrenRef(Children::dictionaryWithComparator(FUtilities::stringComparator()));
    return instance;
  }
  static const Ref& empty() {
    static const Ref& instance = *new Ref(make(std::nullopt, emptyChildren()));
    return instance;
  }

  const std::optional<T>& value() const { return value_; }
  const ChildrenRef& children() const { return children_; }
  bool isEmpty() const { return !value_ && children_->isEmpty(); }

  std::optional<FTuplePathValue<T>> findRootMostMatchingPath(const FPath& path,
                                                            const Predicate& predicate) const {
    // Walked by position in the path's keys; the path of the answer is made only when one is found.
    const auto& keys = *path.pieces();
    const auto start = static_cast<size_t>(path.pieceNum());
    const FImmutableTree* node = this;
    for (size_t i = start;; ++i) {
      if (node->value_ && predicate(*node->value_)) {
        return FTuplePathValue<T>{prefixOf(path, i - start), *node->value_};
      }
      if (i >= keys.size()) return std::nullopt;
      node = node->childAt(keys[i]);
      if (!node) return std::nullopt;
    }
  }
  std::optional<FTuplePathValue<T>> findRootMostValueAndPath(const FPath& path) const {
    return findRootMostMatchingPath(path, [](const T&) { return true; });
  }

  std::optional<T> rootMostValueOnPath(const FPath& path) const {
    return rootMostValueOnPath(path, [](const T&) { return true; });
  }
  std::optional<T> rootMostValueOnPath(const FPath& path, const Predicate& predicate) const {
    const auto& keys = *path.pieces();
    const FImmutableTree* node = this;
    for (auto i = static_cast<size_t>(path.pieceNum());; ++i) {
      if (node->value_ && predicate(*node->value_)) return node->value_;
      if (i >= keys.size()) return std::nullopt;
      node = node->childAt(keys[i]);
      if (!node) return std::nullopt;
    }
  }

  std::optional<T> leafMostValueOnPath(const FPath& path) const {
    return leafMostValueOnPath(path, [](const T&) { return true; });
  }
  // Starts with this node's own value untested; then the deepest satisfying value on the path.
  std::optional<T> leafMostValueOnPath(const FPath& path, const Predicate& predicate) const {
    std::optional<T> result = value_;
    const FImmutableTree* node = this;
    const auto& keys = *path.pieces();
    for (auto i = static_cast<size_t>(path.pieceNum()); i < keys.size(); ++i) {
      node = node->childAt(keys[i]);
      if (!node) break;
      if (node->value_ && predicate(*node->value_)) result = node->value_;
    }
    return result;
  }

  bool containsValueMatching(const Predicate& predicate) const {
    if (value_ && predicate(*value_)) return true;
    bool found = false;
    children_->enumerateKeysAndObjectsUsingBlock([&](const std::string&, const Ref& child, bool* stop) {
      if (child->containsValueMatching(predicate)) {
        found = true;
        *stop = true;
      }
    });
    return found;
  }

  Ref subtreeAtPath(const FPath& path) const {
    const auto& keys = *path.pieces();
    auto i = static_cast<size_t>(path.pieceNum());
    if (i >= keys.size()) return self();
    const Ref* child = children_->lookup(keys[i]);
    for (++i; child && i < keys.size(); ++i) child = (*child)->children_->lookup(keys[i]);
    return child ? *child : empty();
  }

  // Setting nullopt never drops the child key, so it may leave an empty child in place.
  Ref setValue(std::optional<T> value, const FPath& path) const {
    return setValueFrom(std::move(value), *path.pieces(), static_cast<size_t>(path.pieceNum()));
  }

  Ref removeValueAtPath(const FPath& path) const {
    return removeValueFrom(*path.pieces(), static_cast<size_t>(path.pieceNum()));
  }

  std::optional<T> valueAtPath(const FPath& path) const {
    const auto& keys = *path.pieces();
    const FImmutableTree* node = this;
    for (auto i = static_cast<size_t>(path.pieceNum()); i < keys.size(); ++i) {
      node = node->childAt(keys[i]);
      if (!node) return std::nullopt;
    }
    return node->value_;
  }

  Ref setTree(const Ref& tree, const FPath& path) const {
    return setTreeFrom(tree, *path.pieces(), static_cast<size_t>(path.pieceNum()));
  }
  // setTree, when no node on the path (its end included) holds a value; otherwise null. The test
  // is made on the way down, before anything is built, so a caller that must treat a value on the
  // path differently walks the path once, not twice, when there is none.
  Ref setTreeUnlessValueOnPath(const Ref& tree, const FPath& path) const {
    return setTreeFrom(tree, *path.pieces(), static_cast<size_t>(path.pieceNum()), true);
  }

  // setTreeUnlessValueOnPath on the tree held by `slot`, which the caller holds alone (one owner
  // keeps the tree and no other thread sees it: the pending writes). The nodes of the path that no
  // other reference reaches, the tree nodes and their children's nodes, change in place; from the
  // first one shared with another version down, the path is copied as setTree does, and the copy
  // takes its place. NO, with nothing changed, where a node on the path holds a value.
  static bool setTreeInPlaceUnlessValueOnPath(Ref& slot, const Ref& tree, const FPath& path) {
    return setTreeInPlaceFrom(slot, tree, *path.pieces(), static_cast<size_t>(path.pieceNum()));
  }

  // Post-order fold: each node's block gets the results of its children (nullopt records nothing).
  template <typename R>
  using FoldBlock = std::function<std::optional<R>(
      const FPathRef&, const std::optional<T>&, const std::unordered_map<std::string, R>&)>;
  template <typename R>
  std::optional<R> foldWithBlock(const FoldBlock<R>& block) const {
    return foldWithPathSoFar<R>(FPath::empty(), block);
  }
  template <typename R>
  std::optional<R> foldWithPathSoFar(const FPathRef& pathSoFar, const FoldBlock<R>& block) const {
    std::unordered_map<std::string, R> results;
    children_->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const Ref& child, bool*) {
      std::optional<R> r = child->template foldWithPathSoFar<R>(appendKey(pathSoFar, key), block);
      if (r) results.emplace(key, std::move(*r));
    });
    return block(pathSoFar, value_, results);
  }

  // The first non-nullopt answer of the block down the path.
  template <typename R>
  using FindBlock = std::function<std::optional<R>(const FPathRef&, const T&)>;
  template <typename R>
  std::optional<R> findOnPath(const FPath& path, const FindBlock<R>& block) const {
    return findOnPath<R>(path, FPath::empty(), block);
  }
  template <typename R>
  std::optional<R> findOnPath(const FPath& path, const FPathRef& pathSoFar,
                              const FindBlock<R>& block) const {
    if (value_) {
      std::optional<R> r = block(pathSoFar, *value_);
      if (r) return r;
    }
    std::optional<std::string> front = path.getFront();
    if (!front) return std::nullopt;
    Ref child = childFor(*front);
    if (!child) return std::nullopt;
    return child->template findOnPath<R>(*path.popFront(), appendKey(pathSoFar, *front), block);
  }

  // Walks down the path while the block answers YES; returns the path where the walk ended.
  FPathRef forEachOnPathWhileBlock(const FPath& path, const WhileBlock& block) const {
    return forEachOnPathWhileBlock(path, FPath::empty(), block);
  }
  FPathRef forEachOnPathWhileBlock(const FPath& path, const FPathRef& pathSoFar,
                                   const WhileBlock& block) const {
    std::optional<std::string> front = path.getFront();
    if (!front) {
      if (value_) block(pathSoFar, *value_);
      return pathSoFar;
    }
    if (value_ && !block(pathSoFar, *value_)) return pathSoFar;
    Ref child = childFor(*front);
    if (!child) return pathSoFar;
    return child->forEachOnPathWhileBlock(*path.popFront(), appendKey(pathSoFar, *front), block);
  }

  // Calls the block on the values above the end of the path; returns the subtree at the path.
  Ref forEachOnPathPerformBlock(const FPath& path, const VisitBlock& block) const {
    return forEachOnPathPerformBlock(path, FPath::empty(), block);
  }
  Ref forEachOnPathPerformBlock(const FPath& path, const FPathRef& pathSoFar,
                                const VisitBlock& block) const {
    std::optional<std::string> front = path.getFront();
    if (!front) return self();
    if (value_) block(pathSoFar, *value_);
    Ref child = childFor(*front);
    if (!child) return empty();
    return child->forEachOnPathPerformBlock(*path.popFront(), appendKey(pathSoFar, *front), block);
  }

  // Every value, each after all values below it; siblings in ascending key order.
  void forEach(const VisitBlock& block) const { forEachPathSoFar(FPath::empty(), block); }
  void forEachPathSoFar(const FPathRef& pathSoFar, const VisitBlock& block) const {
    children_->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const Ref& child, bool*) {
      child->forEachPathSoFar(appendKey(pathSoFar, key), block);
    });
    if (value_) block(pathSoFar, *value_);
  }

  // The values of the immediate children that have one.
  void forEachChild(const std::function<void(const std::string&, const T&)>& block) const {
    children_->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const Ref& child, bool*) {
      if (child->value_) block(key, *child->value_);
    });
  }

  bool isEqual(const FImmutableTree& other) const {
    if (this == &other) return true;
    if (value_.has_value() != other.value_.has_value()) return false;
    if (value_ && !fobject::isEqual(*value_, *other.value_)) return false;
    return children_->isEqual(*other.children_);
  }
  uint64_t hash() const {
    return children_->hash() * 31 + (value_ ? fobject::hash(*value_) : 0);
  }
  std::string description() const {
    std::string out = "FImmutableTree { value=";
    out += value_ ? fobject::description(*value_) : "<nil>";
    out += ", children={";
    children_->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const Ref& child, bool*) {
      out += " " + key + "=";
      out += child->value_ ? fobject::description(*child->value_) : "<nil>";
    });
    out += " } }";
    return out;
  }
  std::string debugDescription() const { return description(); }

 private:
  Ref childFor(const std::string& key) const {
    const Ref* child = children_->lookup(key);
    return child ? *child : nullptr;
  }
  // The child under key, or null; alive as long as this tree is.
  const FImmutableTree* childAt(const std::string& key) const {
    const Ref* child = children_->lookup(key);
    return child ? child->get() : nullptr;
  }
  // The first `length` keys of the path.
  static FPathRef prefixOf(const FPath& path, size_t length) {
    if (length == 0) return FPath::empty();
    const auto first = path.pieces()->begin() + path.pieceNum();
    return std::make_shared<const FPath>(
        std::make_shared<const std::vector<std::string>>(first, first + static_cast<std::ptrdiff_t>(length)), 0);
  }

  // The modifications walk the path's keys by position (keys[i] onwards is the rest of the path).
  using Keys = std::vector<std::string>;
  Ref setValueFrom(std::optional<T> value, const Keys& keys, size_t i) const {
    if (i >= keys.size()) return make(std::move(value), children_);
    const FImmutableTree* child = childAt(keys[i]);
    if (!child) child = empty().get();
    Ref newChild = child->setValueFrom(std::move(value), keys, i + 1);
    return make(value_, children_->insertKey(keys[i], newChild));
  }
  Ref removeValueFrom(const Keys& keys, size_t i) const {
    if (i >= keys.size()) {
      if (children_->isEmpty()) return empty();
      return make(std::nullopt, children_);
    }
    const FImmutableTree* child = childAt(keys[i]);
    if (!child) return self();
    Ref newChild = child->removeValueFrom(keys, i + 1);
    ChildrenRef newChildren = newChild->isEmpty() ? children_->removeKey(keys[i])
                                                  : children_->insertKey(keys[i], newChild);
    if (!value_ && newChildren->isEmpty()) return empty();
    return make(value_, std::move(newChildren));
  }
  Ref setTreeFrom(const Ref& tree, const Keys& keys, size_t i, bool unlessValue = false) const {
    if (unlessValue && value_) return nullptr;
    if (i >= keys.size()) return tree;
    if (unlessValue && i + 1 == keys.size() && !tree->isEmpty()) {
      // The last key: the tree replaces whatever child is there, unless that child holds a value.
      // One walk of the children finds the child and puts the tree in its place.
      ChildrenRef newChildren = children_->insertKeyUnless(keys[i], tree, holdsValue());
      if (!newChildren) return nullptr;
      return make(value_, std::move(newChildren));
    }
    const FImmutableTree* child = childAt(keys[i]);
    if (!child) child = empty().get();
    Ref newChild = child->setTreeFrom(tree, keys, i + 1, unlessValue);
    if (!newChild) return nullptr;
    ChildrenRef newChildren = newChild->isEmpty() ? children_->removeKey(keys[i])
                                                  : children_->insertKey(keys[i], newChild);
    return make(value_, std::move(newChildren));
  }
  static bool setTreeInPlaceFrom(Ref& slot, const Ref& tree, const Keys& keys, size_t i) {
    if (slot.use_count() != 1 || i >= keys.size() || tree->isEmpty()) {
      Ref replaced = slot->setTreeFrom(tree, keys, i, true);
      if (!replaced) return false;
      slot = std::move(replaced);
      return true;
    }
    auto* node = const_cast<FImmutableTree*>(slot.get());
    if (node->value_) return false;
    if (i + 1 == keys.size()) {
      return Children::insertKeyUnlessInPlace(node->children_, keys[i], tree, holdsValue());
    }
    if (node->children_.use_count() == 1) {
      if (const Ref* owned = node->children_->lookupOwned(keys[i])) {
        return setTreeInPlaceFrom(const_cast<Ref&>(*owned), tree, keys, i + 1);
      }
    }
    const FImmutableTree* child = node->childAt(keys[i]);
    if (!child) child = empty().get();
    Ref newChild = child->setTreeFrom(tree, keys, i + 1, true);
    if (!newChild) return false;
    node->children_ = node->children_->insertKey(keys[i], newChild);
    return true;
  }
  static const std::function<bool(const Ref&)>& holdsValue() {
    static const std::function<bool(const Ref&)> instance = [](const Ref& child) { return child->value_.has_value(); };
    return instance;
  }

  // Trees made outside a shared_ptr (on the stack) answer a copy where the receiver is meant.
  Ref self() const {
    if (Ref r = this->weak_from_this().lock()) return r;
    return make(value_, children_);
  }
  static FPathRef appendKey(const FPathRef& path, const std::string& key) {
    auto pieces = std::make_shared<std::vector<std::string>>(path->keys());
    pieces->push_back(key);
    return std::make_shared<const FPath>(std::move(pieces), 0);
  }

  std::optional<T> value_;
  ChildrenRef children_;
};
