#include "sdk/database/core/FViewCache.h"

FViewCache::FViewCache(FCacheNodeRef eventCache, FCacheNodeRef serverCache)
    : cachedEventSnap_(std::move(eventCache)), cachedServerSnap_(std::move(serverCache)) {}

FViewCacheRef FViewCache::updateEventSnap(const FIndexedNodeRef& eventSnap, bool isComplete, bool isFiltered) const {
  return std::make_shared<const FViewCache>(std::make_shared<const FCacheNode>(eventSnap, isComplete, isFiltered),
                                            cachedServerSnap_);
}

FViewCacheRef FViewCache::updateServerSnap(const FIndexedNodeRef& serverSnap, bool isComplete, bool isFiltered) const {
  return std::make_shared<const FViewCache>(cachedEventSnap_,
                                            std::make_shared<const FCacheNode>(serverSnap, isComplete, isFiltered));
}

FNodeRef FViewCache::completeEventSnap() const {
  return cachedEventSnap_->isFullyInitialized() ? cachedEventSnap_->node() : nullptr;
}

FNodeRef FViewCache::completeServerSnap() const {
  return cachedServerSnap_->isFullyInitialized() ? cachedServerSnap_->node() : nullptr;
}
