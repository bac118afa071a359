#pragma once
// A leaf of the database tree: a string, a number (integer, unsigned or double kept apart), a
// boolean, or a mapping that stands for a not yet resolved server value; with a priority node.
#include <mutex>
#include <vector>

#include "sdk/database/snapshot/FNode.h"

class FIndex;
using FIndexRef = std::shared_ptr<const FIndex>;

class FLeafNode : public FNode {
 public:
  explicit FLeafNode(Value value);
  // The priority node must be present (the empty node for none).
  FLeafNode(Value value, FNodeRef priority);

  const Value& value() const { return value_; }

  Kind kind() const override { return Kind::Leaf; }
  bool isLeafNode() const override { return true; }
  FNodeRef getPriority() const override { return priority_; }
  FNodeRef updatePriority(const FNodeRef& priority) const override;
  FNodeRef getImmediateChild(const std::string& key) const override;
  FNodeRef getChild(const FPathRef& path) const override;
  std::optional<std::string> predecessorChildKey(const std::string&) const override { return std::nullopt; }
  FNodeRef updateImmediateChild(const std::string& key, const FNodeRef& newChild) const override;
  FNodeRef updateChild(const FPathRef& path, const FNodeRef& newChild) const override;
  bool hasChild(const std::string& key) const override;
  bool isEmpty() const override { return false; }
  int32_t numChildren() const override { return 0; }
  Value valForExport(bool exp) const override;
  std::string dataHash() const override;
  int compare(const FNode& other) const override;
  bool isEqual(const FNode& other) const override;
  void enumerateChildrenReverse(bool, const FNodeChildBlock&) const override {}
  FNamedNodeEnumerator childEnumerator() const override;
  uint64_t hash() const override;

  // A leaf has no children to order: it is its own indexed form under every index, and visits
  // nothing.
  FNodeRef withIndex(const FIndexRef& index) const { return self(); }
  bool isIndexed(const FIndexRef& index) const { return true; }
  void forEachChildDo(const FNodeChildBlock& block) const {}

  int compareToLeafNode(const FLeafNode& other) const;
  // "object", "boolean", "number", "string": the order of leaf value types.
  static const std::vector<std::string>& valueTypeOrder();

 private:
  Value value_;
  FNodeRef priority_;
  mutable std::once_flag hashOnce_;
  mutable std::string lazyHash_;
};
