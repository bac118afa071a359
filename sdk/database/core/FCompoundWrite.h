#pragma once
// A set of snapshot-node overwrites keyed by path. The shallowest write at or above a location is
// authoritative for it: data below a write lives inside that write's node. Immutable; every
// modifying operation returns a new compound write.
#include <functional>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sdk/database/core/FImmutableTree.h"
#include "sdk/database/snapshot/FNode.h"

class FCompoundWrite;
using FCompoundWriteRef = std::shared_ptr<const FCompoundWrite>;
using FNodeTree = FImmutableTree<FNodeRef>;
using FNodeTreeRef = FNodeTree::Ref;

class FCompoundWrite : public std::enable_shared_from_this<FCompoundWrite> {
 public:
  explicit FCompoundWrite(FNodeTreeRef writeTree);

  // One overwrite per entry (path text -> plain value / node), in the mapping's order; entries
  // are not merged with each other.
  static FCompoundWriteRef compoundWriteWithValueDictionary(const Value& values);
  static FCompoundWriteRef compoundWriteWithNodeDictionary(
      const std::vector<std::pair<std::string, FNodeRef>>& nodes);
  static const FCompoundWriteRef& emptyWrite();

  const FNodeTreeRef& writeTree() const { return writeTree_; }

  FCompoundWriteRef addWrite(const FNodeRef& node, const FPathRef& path) const;
  // addWrite into the compound write held by `slot`: in place where the slot is its only reference
  // (its owner keeps it alone, on one thread: the pending writes), changing the nodes of the path
  // that no other version shares; otherwise the slot takes the new compound write.
  static void addWriteInPlace(FCompoundWriteRef& slot, const FNodeRef& node, const FPathRef& path);
  FCompoundWriteRef addWriteAtKey(const FNodeRef& node, std::string_view key) const;
  FCompoundWriteRef addCompoundWrite(const FCompoundWrite& other, const FPathRef& path) const;
  FCompoundWriteRef removeWriteAtPath(const FPathRef& path) const;
  bool hasCompleteWriteAtPath(const FPathRef& path) const;
  // The node the covering write gives for the path, or null when no write covers it.
  FNodeRef completeNodeAtPath(const FPathRef& path) const;
  std::vector<FNamedNodeRef> completeChildren() const;
  std::unordered_map<std::string, FCompoundWriteRef> childCompoundWrites() const;
  FCompoundWriteRef childCompoundWriteAtPath(const FPathRef& path) const;
  static FNodeRef applySubtreeWrite(const FNodeTreeRef& tree, const FPathRef& path, const FNodeRef& node);
  // (path, node, stop flag), deeper writes first, siblings in plain string order.
  void enumerateWrites(const std::function<void(const FPathRef&, const FNodeRef&, bool* stop)>& block) const;
  // What a write does when the writes are laid one by one: sets data, removes it, or writes the
  // priority of a location (a path ending in ".priority").
  enum class WriteKind { kSet, kRemoval, kPriority };
  static WriteKind kindOfWrite(const FPath& path, const FNodeRef& node);
  // (path, node) in the order applyToNode lays them, which whoever lays the writes one by one
  // keeps: what they set, then what they remove, then the priorities. The writes are one change:
  // a location they leave with data is never empty on the way (which would drop its priority),
  // and a priority written beside data below its location lands once that data is there.
  void enumerateWritesInApplyOrder(const std::function<void(const FPathRef&, const FNodeRef&)>& block) const;
  FNodeRef applyToNode(const FNodeRef& node) const;
  bool isEmpty() const { return writeTree_->isEmpty(); }
  FNodeRef rootWrite() const;

  bool isEqual(const FCompoundWrite& other) const;
  uint64_t hash() const;
  // Path wire text -> exported value.
  Value valForExport(bool exp) const;
  std::string description() const;

 private:
  FNodeTreeRef writeTree_;
};
