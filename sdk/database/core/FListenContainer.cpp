#include "sdk/database/core/FListenContainer.h"

#include "sdk/database/snapshot/FSnapshotUtilities.h"

FListenContainer::FListenContainer(FViewRef view, Completion onComplete)
    : view_(std::move(view)), onComplete_(std::move(onComplete)) {}

std::string FListenContainer::simpleHash() const { return serverCache()->dataHash(); }

FCompoundHashRef FListenContainer::compoundHash() const { return FCompoundHash::fromNode(serverCache()); }

bool FListenContainer::includeCompoundHash() const {
  return FSnapshotUtilities::estimateSerializedNodeSize(serverCache()) > 1024;
}
