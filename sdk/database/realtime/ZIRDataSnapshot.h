#pragma once
// The data at one location as handed to user callbacks: the reference of the location and its
// node with the query's child order. Immutable and shared freely.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "sdk/database/realtime/ZIRDatabaseReference.h"
#include "sdk/database/snapshot/FIndexedNode.h"

class ZIRDataSnapshot {
 public:
  // initWithRef:indexedNode:
  ZIRDataSnapshot(ZIRDatabaseReferenceRef ref, FIndexedNodeRef indexedNode)
      : ref_(std::move(ref)), node_(std::move(indexedNode)) {}

  const ZIRDatabaseReferenceRef& ref() const { return ref_; }
  // The reference's key; nullopt at the root.
  std::optional<std::string> key() const { return ref_->key(); }
  // The plain value of the node (null for no data).
  Value value() const { return node_->node()->val(); }
  const FIndexedNodeRef& indexedNode() const { return node_; }
  const FNodeRef& node() const { return node_->node(); }

  // The value with priorities, as ".value" / ".priority" where there are any.
  Value valueInExportFormat() const { return node_->node()->valForExport(true); }
  Value priority() const { return node_->node()->getPriority()->val(); }
  bool exists() const { return !node_->node()->isEmpty(); }
  bool hasChildren() const { return !node_->node()->isLeafNode() && !node_->node()->isEmpty(); }
  int32_t childrenCount() const { return node_->node()->numChildren(); }
  // Raises "InvalidPathValidation" for an invalid path text.
  bool hasChild(const std::string& childPathString) const;
  std::shared_ptr<const ZIRDataSnapshot> childSnapshotForPath(const std::string& childPathString) const;
  // The immediate children in the query's order.
  std::vector<std::shared_ptr<const ZIRDataSnapshot>> children() const;

 private:
  ZIRDatabaseReferenceRef ref_;
  FIndexedNodeRef node_;
};
