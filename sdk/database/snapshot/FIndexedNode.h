#pragma once
// A snapshot node with the index of a view and, built only when first needed, its children sorted
// in that index's order. The lazily built order is published once and safely between threads.
#include <atomic>
#include <memory>
#include <mutex>

#include "sdk/database/snapshot/FChildrenNode.h"

class FIndexedNode;
using FIndexedNodeRef = std::shared_ptr<const FIndexedNode>;

class FIndexedNode {
 public:
  static FIndexedNodeRef indexedNodeWithNode(const FNodeRef& node);  // on the priority index
  static FIndexedNodeRef indexedNodeWithNode(const FNodeRef& node, const FIndexRef& index);
  FIndexedNode(FNodeRef node, FIndexRef index, FNamedNodeSetRef indexed = nullptr);

  // The shared empty set meaning "use the node's own key order"; recognised by identity.
  static const FNamedNodeSetRef& fallbackIndex();

  const FNodeRef& node() const { return node_; }
  const FIndexRef& index() const { return index_; }
  // The sorted children, the fallback set, or null while not built yet.
  FNamedNodeSetRef indexed() const;

  bool hasIndex(const FIndex& index) const { return index_->isEqual(index); }
  FIndexedNodeRef updateChild(const std::string& key, const FNodeRef& newChild) const;
  // updateChild, or null, with nothing made, when the node's child under `key` is equal to
  // `newChild`; `oldChild` is set to that child either way (see FChildrenNode).
  FIndexedNodeRef updateChildUnlessEqual(const std::string& key, const FNodeRef& newChild, FNodeRef& oldChild) const;
  FIndexedNodeRef updatePriority(const FNodeRef& priority) const;
  FNamedNodeRef firstChild() const;
  FNamedNodeRef lastChild() const;
  // Raises NSInvalidArgumentException "Index not available in IndexedNode!" for another index.
  std::optional<std::string> predecessorForChildKey(const std::string& key, const FNodeRef& childNode,
                                                    const FIndex& index) const;
  void enumerateChildrenReverse(bool reverse, const FNodeChildBlock& block) const;
  FNamedNodeEnumerator childEnumerator() const;

 private:
  const FNamedNodeSetRef& ensureIndexed() const;
  // This node's index over newNode, this node with the child under `key` replaced by newChild;
  // oldChild is that replaced child, or null to be looked up when the index needs it.
  FIndexedNodeRef withUpdatedChild(const std::string& key, const FNodeRef& newChild, FNodeRef newNode,
                                   const FNodeRef& oldChild) const;
  // Whether the index has a value on at least one child (else the key order is the index order).
  bool sawIndexedValue() const;

  FNodeRef node_;
  FIndexRef index_;
  mutable std::once_flag indexOnce_;
  mutable std::atomic<bool> built_{false};
  mutable FNamedNodeSetRef indexed_;
};
