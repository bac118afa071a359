#pragma once
// A child ordering of queries: by key, priority, value, or the value at a child path. Every
// ordering falls back to the child key order on ties, so no two different children are equal.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/database/snapshot/FNamedNode.h"

class FIndex;
using FIndexRef = std::shared_ptr<const FIndex>;

class FIndex : public std::enable_shared_from_this<FIndex> {
 public:
  virtual ~FIndex() = default;

  // ".key", ".value", ".priority" give the shared indexes; any other text a path index on it.
  static FIndexRef indexFromQueryDefinition(std::string_view definition);

  virtual int compare(const std::string& key, const FNode& node, const std::string& otherKey,
                      const FNode& otherNode) const = 0;
  // With `reverse` the two pairs change places before comparing.
  int compare(const std::string& key, const FNode& node, const std::string& otherKey,
              const FNode& otherNode, bool reverse) const {
    return reverse ? compare(otherKey, otherNode, key, node) : compare(key, node, otherKey, otherNode);
  }
  int compareNamedNode(const FNamedNode& a, const FNamedNode& b) const {
    return compare(a.name(), *a.node(), b.name(), *b.node());
  }
  virtual bool isDefinedOn(const FNode& node) const = 0;
  virtual bool indexedValueChangedBetween(const FNode& oldNode, const FNode& newNode) const = 0;
  virtual FNamedNodeRef minPost() const;
  virtual FNamedNodeRef maxPost() const = 0;
  virtual FNamedNodeRef makePost(const FNodeRef& indexValue, const std::string& name) const = 0;
  virtual std::string queryDefinition() const = 0;
  virtual std::string description() const = 0;
  virtual bool isEqual(const FIndex& other) const = 0;
  virtual uint64_t hash() const = 0;

  // A comparator of named nodes in this index, for sorted sets.
  std::function<int(const FNamedNodeRef&, const FNamedNodeRef&)> namedNodeComparator() const;
  // The children of `node` in this index's order.
  virtual std::vector<FNamedNodeRef> sortedChildren(const FNode& node) const;
};

class FKeyIndex : public FIndex {
 public:
  static const FIndexRef& keyIndex();
  FKeyIndex();
  int compare(const std::string& key, const FNode& node, const std::string& otherKey,
              const FNode& otherNode) const override;
  using FIndex::compare;
  bool isDefinedOn(const FNode&) const override { return true; }
  bool indexedValueChangedBetween(const FNode&, const FNode&) const override { return false; }
  FNamedNodeRef maxPost() const override { return maxPost_; }
  FNamedNodeRef makePost(const FNodeRef& indexValue, const std::string& name) const override;
  std::string queryDefinition() const override { return ".key"; }
  std::string description() const override { return "FKeyIndex"; }
  bool isEqual(const FIndex& other) const override { return this == &other; }
  uint64_t hash() const override;

 private:
  FNamedNodeRef maxPost_;
};

class FPriorityIndex : public FIndex {
 public:
  static const FIndexRef& priorityIndex();
  int compare(const std::string& key, const FNode& node, const std::string& otherKey,
              const FNode& otherNode) const override;
  using FIndex::compare;
  bool isDefinedOn(const FNode& node) const override;
  bool indexedValueChangedBetween(const FNode& oldNode, const FNode& newNode) const override;
  FNamedNodeRef maxPost() const override;
  FNamedNodeRef makePost(const FNodeRef& indexValue, const std::string& name) const override;
  std::string queryDefinition() const override { return ".priority"; }
  std::string description() const override { return "FPriorityIndex"; }
  bool isEqual(const FIndex& other) const override;
  uint64_t hash() const override { return 3155577; }
};

class FValueIndex : public FIndex {
 public:
  static const FIndexRef& valueIndex();
  int compare(const std::string& key, const FNode& node, const std::string& otherKey,
              const FNode& otherNode) const override;
  using FIndex::compare;
  bool isDefinedOn(const FNode&) const override { return true; }
  bool indexedValueChangedBetween(const FNode& oldNode, const FNode& newNode) const override;
  FNamedNodeRef maxPost() const override;
  FNamedNodeRef makePost(const FNodeRef& indexValue, const std::string& name) const override;
  std::string queryDefinition() const override { return ".value"; }
  std::string description() const override { return "FValueIndex"; }
  bool isEqual(const FIndex& other) const override { return this == &other; }
  uint64_t hash() const override;
};

class FPathIndex : public FIndex {
 public:
  // Raises NSInvalidArgumentException "Invalid path for PathIndex: <path>" for the root path or a
  // path whose first key is ".priority".
  explicit FPathIndex(FPathRef path);
  const FPathRef& path() const { return path_; }

  int compare(const std::string& key, const FNode& node, const std::string& otherKey,
              const FNode& otherNode) const override;
  using FIndex::compare;
  bool isDefinedOn(const FNode& node) const override;
  bool indexedValueChangedBetween(const FNode& oldNode, const FNode& newNode) const override;
  FNamedNodeRef maxPost() const override;
  FNamedNodeRef makePost(const FNodeRef& indexValue, const std::string& name) const override;
  std::string queryDefinition() const override;
  std::string description() const override;
  bool isEqual(const FIndex& other) const override;
  uint64_t hash() const override;
  // Reads each child's value at the path once, not once per comparison.
  std::vector<FNamedNodeRef> sortedChildren(const FNode& node) const override;

 private:
  // The value the index orders `node` by: its child at the path.
  FNodeRef valueAt(const FNode& node) const;

  FPathRef path_;
  // The path's key when it has only one.
  std::optional<std::string> singleKey_;
};
