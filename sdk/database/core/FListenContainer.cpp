#include "sdk/database/core/FListenContainer.h"

#include "sdk/database/snapshot/FSnapshotUtilities.h"

FListenContainer::FListenContainer(FViewRef view, Completion onComplete, std::function<bool()> agreesWithViewsBelow)
    : view_(std::move(view)), onComplete_(std::move(onComplete)), agreesWithViewsBelow_(std::move(agreesWithViewsBelow)) {}

std::string FListenContainer::simpleHash() const { return serverCache()->dataHash(); }

FCompoundHashRef FListenContainer::compoundHash() const { return FCompoundHash::fromNode(serverCache()); }

bool FListenContainer::includeCompoundHash() const {
  return FSnapshotUtilities::estimateSerializedNodeSize(serverCache()) > 1024;
}

bool FListenContainer::describesDataBelow() const { return !agreesWithViewsBelow_ || agreesWithViewsBelow_(); }
