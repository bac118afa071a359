#pragma once
// The mutable tree of pending transactions by location. FTreeNode holds the data; FTree is a light
// view of one node that knows its key and its parent view, so a location can be found by path,
// changed in place, and its existence propagated to its ancestors. A node is attached to its
// parent exactly while it is not empty. Not thread-safe: used on the database's work queue only.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/database/core/FPath.h"

template <typename T>
class FTreeNode {
 public:
  std::unordered_map<std::string, std::shared_ptr<FTreeNode>> children;
  int32_t childCount = 0;
  std::optional<T> value;
};

template <typename T>
class FTree : public std::enable_shared_from_this<FTree<T>> {
 public:
  using Ref = std::shared_ptr<FTree>;
  using NodeRef = std::shared_ptr<FTreeNode<T>>;

  // The root view: name "", no parent, a new node.
  FTree() : node_(std::make_shared<FTreeNode<T>>()) {}
  // A missing node becomes a new node.
  FTree(std::string name, Ref parent, NodeRef node)
      : name_(std::move(name)),
        parent_(std::move(parent)),
        node_(node ? std::move(node) : std::make_shared<FTreeNode<T>>()) {}

  // The view of the location at `path` below this one; nothing is attached until a value is set.
  Ref subTree(const FPath& path) {
    Ref current = this->shared_from_this();
    path.enumerateComponentsUsingBlock([&](const std::string& key, bool*) {
      auto it = current->node_->children.find(key);
      NodeRef child = it != current->node_->children.end() ? it->second : std::make_shared<FTreeNode<T>>();
      current = std::make_shared<FTree>(key, current, child);
    });
    return current;
  }

  const std::optional<T>& getValue() const { return node_->value; }
  void setValue(std::optional<T> value) {
    node_->value = std::move(value);
    updateParents();
  }
  void clear() {
    node_->value.reset();
    node_->children.clear();
    node_->childCount = 0;
    updateParents();
  }
  bool hasChildren() const { return node_->childCount > 0; }
  bool isEmpty() const { return !node_->value && !hasChildren(); }

  // Every attached child, in the map's own order. The block must not add or remove children here.
  void forEachChild(const std::function<void(const Ref&)>& block) {
    Ref self = this->shared_from_this();
    for (const auto& [key, child] : node_->children) block(std::make_shared<FTree>(key, self, child));
  }
  // As forEachChild, over the keys present before the walk; safe against changes by the block.
  void forEachChildMutationSafe(const std::function<void(const Ref&)>& block) {
    Ref self = this->shared_from_this();
    std::vector<std::string> keys;
    keys.reserve(node_->children.size());
    for (const auto& entry : node_->children) keys.push_back(entry.first);
    for (const std::string& key : keys) {
      auto it = node_->children.find(key);
      NodeRef child = it != node_->children.end() ? it->second : std::make_shared<FTreeNode<T>>();
      block(std::make_shared<FTree>(key, self, child));
    }
  }

  void forEachDescendant(const std::function<void(const Ref&)>& block) {
    forEachDescendant(block, false, false);
  }
  void forEachDescendant(const std::function<void(const Ref&)>& block, bool includeSelf,
                         bool childrenFirst) {
    Ref self = this->shared_from_this();
    if (includeSelf && !childrenFirst) block(self);
    forEachChild([&](const Ref& child) { child->forEachDescendant(block, true, childrenFirst); });
    if (includeSelf && childrenFirst) block(self);
  }

  // The ancestors (and the receiver when asked); YES when the block stopped the walk.
  bool forEachAncestor(const std::function<bool(const Ref&)>& block) {
    return forEachAncestor(block, false);
  }
  bool forEachAncestor(const std::function<bool(const Ref&)>& block, bool includeSelf) {
    Ref view = includeSelf ? this->shared_from_this() : parent_;
    while (view) {
      if (block(view)) return true;
      view = view->parent_;
    }
    return false;
  }

  // The nearest descendants holding values; nothing below them.
  void forEachImmediateDescendantWithValue(const std::function<void(const Ref&)>& block) {
    forEachChild([&](const Ref& child) {
      if (child->getValue()) {
        block(child);
      } else {
        child->forEachImmediateDescendantWithValue(block);
      }
    });
  }

  bool valueExistsAtOrAbove(const FPath& path) const {
    const FTreeNode<T>* node = node_.get();
    if (node->value) return true;
    bool found = false;
    bool ended = false;
    path.enumerateComponentsUsingBlock([&](const std::string& key, bool* stop) {
      auto it = node->children.find(key);
      if (it == node->children.end()) {
        ended = true;
        *stop = true;
        return;
      }
      node = it->second.get();
      if (node->value) {
        found = true;
        *stop = true;
      }
    });
    return found && !ended;
  }

  FPathRef path() const {
    if (!parent_) return FPath::pathWithString(name_);
    return FPath::pathWithString(parent_->path()->toString() + "/" + name_);
  }

  void updateParents() {
    if (parent_) parent_->updateChild(name_, *this);
  }
  void updateChild(const std::string& key, const FTree& child) {
    const bool childEmpty = child.isEmpty();
    const bool present = node_->children.count(key) > 0;
    if (childEmpty && present) {
      node_->children.erase(key);
      node_->childCount -= 1;
      updateParents();
    } else if (!childEmpty && !present) {
      node_->children.emplace(key, child.node_);
      node_->childCount += 1;
      updateParents();
    }
  }

  const std::string& name() const { return name_; }
  const Ref& parent() const { return parent_; }
  const NodeRef& node() const { return node_; }

 private:
  std::string name_;
  Ref parent_;
  NodeRef node_;
};
