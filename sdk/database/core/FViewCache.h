#pragma once
// The two cached nodes of a view: the event cache (what the user has been shown: server data with
// pending local writes laid over it, filtered by the query) and the server cache (what the server
// has confirmed). Immutable; each update returns a new view cache.
#include <memory>

#include "sdk/database/core/FCacheNode.h"

class FViewCache;
using FViewCacheRef = std::shared_ptr<const FViewCache>;

class FViewCache {
 public:
  FViewCache(FCacheNodeRef eventCache, FCacheNodeRef serverCache);

  const FCacheNodeRef& cachedEventSnap() const { return cachedEventSnap_; }
  const FCacheNodeRef& cachedServerSnap() const { return cachedServerSnap_; }

  // A new view cache with the event (server) cache node replaced and the other kept.
  FViewCacheRef updateEventSnap(const FIndexedNodeRef& eventSnap, bool isComplete, bool isFiltered) const;
  FViewCacheRef updateServerSnap(const FIndexedNodeRef& serverSnap, bool isComplete, bool isFiltered) const;

  // The cache's node when it is fully initialised, else null.
  FNodeRef completeEventSnap() const;
  FNodeRef completeServerSnap() const;

 private:
  FCacheNodeRef cachedEventSnap_;
  FCacheNodeRef cachedServerSnap_;
};
