#pragma once
// A mutable holder of one root node (the repository's ".info" data and similar). Not locked: it
// belongs to the database work queue.
#include "sdk/database/snapshot/FNode.h"

class FSnapshotHolder {
 public:
  FSnapshotHolder();
  const FNodeRef& rootNode() const { return rootNode_; }
  FNodeRef getNode(const FPathRef& path) const;
  void updateSnapshot(const FPathRef& path, const FNodeRef& newSnapshot);

 private:
  FNodeRef rootNode_;
};
