#include "sdk/database/core/FWriteTreeCompleteChildSource.h"

FWriteTreeCompleteChildSource::FWriteTreeCompleteChildSource(FWriteTreeRefPtr writes, FViewCacheRef viewCache,
                                                             FNodeRef optCompleteServerCache)
    : writes_(std::move(writes)),
      viewCache_(std::move(viewCache)),
      optCompleteServerCache_(std::move(optCompleteServerCache)) {}

FNodeRef FWriteTreeCompleteChildSource::completeChild(const std::string& key) const {
  const FCacheNodeRef& eventCache = viewCache_->cachedEventSnap();
  if (eventCache->isCompleteForChild(key)) return eventCache->node()->getImmediateChild(key);
  FCacheNodeRef serverCache =
      optCompleteServerCache_
          ? std::make_shared<const FCacheNode>(
                FIndexedNode::indexedNodeWithNode(optCompleteServerCache_, FKeyIndex::keyIndex()), true, false)
          : viewCache_->cachedServerSnap();
  return writes_->calculateCompleteChild(key, *serverCache);
}

FNamedNodeRef FWriteTreeCompleteChildSource::childByIndex(const FIndexRef& index, const FNamedNodeRef& child,
                                                          bool reverse) const {
  FNodeRef completeServerData = optCompleteServerCache_ ? optCompleteServerCache_ : viewCache_->completeServerSnap();
  return writes_->calculateNextNodeAfterPost(child, completeServerData, reverse, index);
}
