#include "sdk/database/snapshot/FSnapshotHolder.h"

#include "sdk/database/snapshot/FChildrenNode.h"

FSnapshotHolder::FSnapshotHolder() : rootNode_(FEmptyNode::emptyNode()) {}

FNodeRef FSnapshotHolder::getNode(const FPathRef& path) const { return rootNode_->getChild(path); }

void FSnapshotHolder::updateSnapshot(const FPathRef& path, const FNodeRef& newSnapshot) {
  rootNode_ = rootNode_->updateChild(path, newSnapshot);
}
