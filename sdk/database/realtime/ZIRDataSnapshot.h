#pragma once
// The data at one location as handed to user callbacks: the reference of the location and its
// node with the query's child order. Immutable and shared freely.
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "sdk/database/realtime/ZIRDatabaseReference.h"
#include "sdk/database/snapshot/FIndexedNode.h"

class ZIRDataSnapshot;
using ZIRDataSnapshotRef = std::shared_ptr<const ZIRDataSnapshot>;

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

 private:
  ZIRDatabaseReferenceRef ref_;
  FIndexedNodeRef node_;
};
