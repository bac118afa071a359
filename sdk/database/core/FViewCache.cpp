#include "sdk/database/core/FViewCache.h"

#include "sdk/database/core/FNodeAllocator.h"

FViewCache::FViewCache(FCacheNodeRef eventCache, FCacheNodeRef serverCache)
    : cachedEventSnap_(std::move(eventCache)), cachedServerSnap_(std::move(serverCache)) {}

// A view takes a new cache for every change it applies and lets the one before go: both come from
// the node allocator's cache of blocks rather than through malloc.
FViewCacheRef FViewCache::updateEventSnap(const FIndexedNodeRef& eventSnap, bool isComplete, bool isFiltered) const {
  return std::allocate_shared<const FViewCache>(
      FNodeAllocator<FViewCache>(),
      std::allocate_shared<const FCacheNode>(FNodeAllocator<FCacheNode>(), eventSnap, isComplete, isFiltered),
      cachedServerSnap_);
}

FViewCacheRef FViewCache::updateServerSnap(const FIndexedNodeRef& serverSnap, bool isComplete, bool isFiltered) const {
  return std::allocate_shared<const FViewCache>(
      FNodeAllocator<FViewCache>(), cachedEventSnap_,
      std::allocate_shared<const FCacheNode>(FNodeAllocator<FCacheNode>(), serverSnap, isComplete, isFiltered));
}

FNodeRef FViewCache::completeEventSnap() const {
  return cachedEventSnap_->isFullyInitialized() ? cachedEventSnap_->node() : nullptr;
}

FNodeRef FViewCache::completeServerSnap() const {
  return cachedServerSnap_->isFullyInitialized() ? cachedServerSnap_->node() : nullptr;
}
