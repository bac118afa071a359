#pragma once
// An interior node of the database tree: named non-empty children ordered by the child key order,
// and an optional priority. The shared empty node is an FChildrenNode without children.
#include <atomic>
#include <mutex>

#include "sdk/database/core/FImmutableSortedDictionary.h"
#include "sdk/database/core/FImmutableSortedSet.h"
#include "sdk/database/snapshot/FIndex.h"
#include "sdk/database/snapshot/FNode.h"

using FChildrenDictionary = FImmutableSortedDictionary<std::string, FNodeRef>;
using FChildrenDictionaryRef = FChildrenDictionary::Ref;
// Children as named nodes, sorted in an index's order.
using FNamedNodeSet = FImmutableSortedSet<FNamedNodeRef>;
using FNamedNodeSetRef = FNamedNodeSet::Ref;

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

  // The children sorted in `index`'s order. Sorted when first asked of a node; a node made from
  // this one by a child's update takes the orders this one has with that one child moved (in
  // O(log n) each), so a location that windows keep asking of while it changes is sorted once.
  // The key order is the children's own (see children()): asking for it is not meant.
  FNamedNodeSetRef childrenInOrder(const FIndexRef& index) const;
  // The order above when this node already has it, else null (nothing is sorted).
  FNamedNodeSetRef childrenInOrderIfKept(const FIndex& index) const;
  // The child that comes first after `post` in `index`'s order (last before it, with `reverse`),
  // or null: one descent of the order's tree, or of the children's own for the key order.
  FNamedNodeRef childAfter(const FNamedNode& post, const FIndexRef& index, bool reverse) const;

 private:
  // A node with this node's priority over `children`, of which childrenWithPriority carry one.
  FNodeRef withChildren(FChildrenDictionaryRef children, int32_t childrenWithPriority) const;
  // The hash of this node from the cached hashes of its children.
  void computeHash() const;
  // One kept order. The list only grows, by a new head put in place with compare-and-swap; the
  // entries never change once they are reachable and are deleted with the node.
  struct KeptOrder {
    FIndexRef index;
    FNamedNodeSetRef children;
    KeptOrder* next;
  };
  // At most this many orders are taken on to a node made by an update (the latest asked): each
  // costs an update of its own.
  static constexpr int kOrdersCarried = 4;
  // Gives `made`, a node just made from this one whose child under `key` went from oldChild to
  // newChild, the orders this node keeps with that child moved.
  void carryOrdersTo(const FChildrenNode& made, const std::string& key, const FNodeRef& oldChild,
                     const FNodeRef& newChild) const;
  static void deleteOrders(KeptOrder* orders);

  FChildrenDictionaryRef children_;
  FNodeRef priority_;  // null when absent
  int32_t childrenWithPriority_ = 0;
  mutable std::once_flag hashOnce_;
  mutable std::atomic<bool> hashed_{false};  // lazyHash_ is filled
  mutable std::string lazyHash_;
  mutable std::atomic<KeptOrder*> orders_{nullptr};
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
