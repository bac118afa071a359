#pragma once
// Complete children from what a view knows together with the pending user writes: the event
// cache first, else the server cache (or a complete server node the caller knows) with the visible
// writes laid over it.
#include "sdk/database/core/FCompleteChildSource.h"
#include "sdk/database/core/FViewCache.h"
#include "sdk/database/core/FWriteTreeRef.h"

class FWriteTreeCompleteChildSource : public FCompleteChildSource {
 public:
  // initWithWrites:viewCache:serverCache:; the server node may be null.
  FWriteTreeCompleteChildSource(FWriteTreeRefPtr writes, FViewCacheRef viewCache, FNodeRef optCompleteServerCache);

  FNodeRef completeChild(const std::string& key) const override;
  FNamedNodeRef childByIndex(const FIndexRef& index, const FNamedNodeRef& child, bool reverse) const override;

 private:
  FWriteTreeRefPtr writes_;
  FViewCacheRef viewCache_;
  FNodeRef optCompleteServerCache_;
};
