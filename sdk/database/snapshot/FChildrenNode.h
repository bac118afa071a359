#pragma once
// An interior node of the database tree: named non-empty children ordered by the child key order,
// and an optional priority. The shared empty node is an FChildrenNode without children.
#include <atomic>
#include <mutex>

#include "sdk/database/core/FImmutableSortedDictionary.h"
#include "sdk/database/snapshot/FNode.h"

using FChildrenDictionary = FImmutableSortedDictionary<std::string, FNodeRef>;
using FChildrenDictionaryRef = FChildrenDictionary::Ref;

class FChildrenNode : public FNode {
 public:
  // No children (an empty dictionary with the key comparator), no priority.
  FChildrenNode();
  explicit FChildrenNode(FChildrenDictionaryRef children);
  // Raises NSInvalidArgumentException "Can't create empty node with priority!" for no children
  // with a non-empty priority.
  FChildrenNode(FNodeRef priority, FChildrenDictionaryRef children);
  // Made only by this class, which already knows how many of the children carry a priority.
  class KnownCount {
    friend class FChildrenNode;
    explicit KnownCount(int32_t value) : value(value) {}
    int32_t value;
  };
  FChildrenNode(FNodeRef priority, FChildrenDictionaryRef children, KnownCount childrenWithPriority);
  // Releases the subtree one level at a time from a loop, however deep it is.
  ~FChildrenNode() override;

  // An empty children dictionary with the key comparator.
  static FChildrenDictionaryRef emptyChildren();

  const FChildrenDictionaryRef& children() const { return children_; }

  Kind kind() const override { return Kind::Children; }
  bool isLeafNode() const override { return false; }
  FNodeRef getPriority() const override;
  FNodeRef updatePriority(const FNodeRef& priority) const override;
  FNodeRef getImmediateChild(const std::string& key) const override;
  FNodeRef getChild(const FPathRef& path) const override;
  std::optional<std::string> predecessorChildKey(const std::string& key) const override;
  FNodeRef updateImmediateChild(const std::string& key, const FNodeRef& newChild) const override;
  // updateImmediateChild, except that it makes nothing and answers null when the child stored
  // under `key` is equal to `newChild`; either way `oldChild` is set to the stored child (the empty
  // node when there is none). A non-empty child is put in with the same walk that finds the old one.
  FNodeRef updateImmediateChildUnlessEqual(const std::string& key, const FNodeRef& newChild, FNodeRef& oldChild) const;
  FNodeRef updateChild(const FPathRef& path, const FNodeRef& newChild) const override;
  bool hasChild(const std::string& key) const override;
  bool isEmpty() const override { return children_->isEmpty(); }
  int32_t numChildren() const override { return children_->count(); }
  Value valForExport(bool exp) const override;
  std::string dataHash() const override;
  int compare(const FNode& other) const override;
  bool isEqual(const FNode& other) const override;
  void enumerateChildrenReverse(bool reverse, const FNodeChildBlock& block) const override;
  FNamedNodeEnumerator childEnumerator() const override;
  uint64_t hash() const override;

  FNamedNodeRef firstChild() const;
  FNamedNodeRef lastChild() const;
  // How many children carry a priority. Kept up to date by every update, so that a view ordered
  // by priority learns without walking the children whether their key order is already its order.
  int32_t numChildrenWithPriority() const { return childrenWithPriority_; }
  // The children in key order with the priority visited, under ".priority", just before the
  // first child key that sorts after ".priority" (not at all when none does).
  void enumerateChildrenAndPriorityUsingBlock(const FNodeChildBlock& block) const;
  // The stored child, or null.
  FNodeRef childrenGetter(const std::string& key) const;

 private:
  // A node with this node's priority over `children`, of which childrenWithPriority carry one.
  FNodeRef withChildren(FChildrenDictionaryRef children, int32_t childrenWithPriority) const;
  // The hash of this node from the cached hashes of its children.
  void computeHash() const;

  FChildrenDictionaryRef children_;
  FNodeRef priority_;  // null when absent
  int32_t childrenWithPriority_ = 0;
  mutable std::once_flag hashOnce_;
  mutable std::atomic<bool> hashed_{false};  // lazyHash_ is filled
  mutable std::string lazyHash_;
};

// The shared empty node: an FChildrenNode with no children and no priority.
class FEmptyNode {
 public:
  static const FNodeRef& emptyNode();
};

// The sentinel that sorts after every other node (upper bounds of queries).
class FMaxNode : public FChildrenNode {
 public:
  static const FNodeRef& maxNode();

  Kind kind() const override { return Kind::Max; }
  FNodeRef getPriority() const override;
  FNodeRef getImmediateChild(const std::string& key) const override;
  bool hasChild(const std::string&) const override { return false; }
  bool isEmpty() const override { return false; }
  int compare(const FNode& other) const override;
  bool isEqual(const FNode& other) const override;
};
