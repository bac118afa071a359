#pragma once
// A (key, node) pair: the members of index-ordered sets and the bounds ("posts") of range queries.
#include <string>

#include "sdk/database/snapshot/FNode.h"

class FNamedNode {
 public:
  // A `name` that is (a reference to) one of the shared sentinel keys stays that sentinel.
  FNamedNode(const std::string& name, FNodeRef node);
  static FNamedNodeRef nodeWithName(const std::string& name, FNodeRef node) {
    return std::make_shared<const FNamedNode>(name, std::move(node));
  }
  // ("[MIN_NAME]" sentinel, the empty node) and ("[MAX_NAME]" sentinel, the maximum node), shared.
  static const FNamedNodeRef& min();
  static const FNamedNodeRef& max();

  // The sentinel object itself for a sentinel name, so the key order still recognises it.
  const std::string& name() const { return *name_; }
  const FNodeRef& node() const { return node_; }

  bool isEqual(const FNamedNode& other) const;
  uint64_t hash() const;
  // "NamedNode[name] node"
  std::string description() const;

 private:
  std::shared_ptr<const std::string> name_;
  FNodeRef node_;
};
