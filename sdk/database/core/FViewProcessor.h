#pragma once
// Turns a view's cache and one operation into the view's new cache and the child and value
// changes from which events are raised. Server operations update the server cache first and then
// recompute the affected part of the event cache from the server cache and the pending writes;
// user operations touch only the event cache. Holds nothing but its node filter: each call is a
// pure function of its arguments. Used on the work queue.
#include <memory>
#include <optional>
#include <vector>

#include "sdk/database/core/FChange.h"
#include "sdk/database/core/FNodeFilter.h"
#include "sdk/database/core/FOperation.h"
#include "sdk/database/core/FViewCache.h"
#include "sdk/database/core/FWriteTreeRef.h"

class FIndexedFilter;

struct FViewProcessorResult {
  FViewCacheRef viewCache;
  std::vector<FChange> changes;
};

class FViewProcessor {
 public:
  explicit FViewProcessor(FNodeFilterRef filter);

  const FNodeFilterRef& filter() const { return filter_; }

  // applyOperationOn:operation:writesCache:completeCache:. The complete cache is a complete server
  // node the caller knows for the view's location, or null. An operation of an unknown type raises
  // NSInternalInconsistencyException "Unknown operation encountered <type>."
  FViewProcessorResult applyOperationOn(const FViewCacheRef& oldViewCache, const FOperation& operation,
                                        const FWriteTreeRefPtr& writesCache, const FNodeRef& completeCache) const;

 private:
  FViewCacheRef applyUserOverwriteTo(const FViewCacheRef& viewCache, const FPathRef& changePath,
                                     const FNodeRef& changedSnap, const FWriteTreeRefPtr& writesCache,
                                     const FNodeRef& completeCache, FChildChangeAccumulator& accumulator) const;
  FViewCacheRef applyServerOverwriteTo(const FViewCacheRef& viewCache, const FPathRef& changePath,
                                       const FNodeRef& changedSnap, const FWriteTreeRefPtr& writesCache,
                                       const FNodeRef& completeCache, bool filterServerNode,
                                       FChildChangeAccumulator& accumulator) const;
  FViewCacheRef applyUserMergeTo(const FViewCacheRef& viewCache, const FPathRef& path,
                                 const FCompoundWriteRef& changedChildren, const FWriteTreeRefPtr& writesCache,
                                 const FNodeRef& completeCache, FChildChangeAccumulator& accumulator) const;
  FViewCacheRef applyServerMergeTo(const FViewCacheRef& viewCache, const FPathRef& path,
                                   const FCompoundWriteRef& changedChildren, const FWriteTreeRefPtr& writesCache,
                                   const FNodeRef& completeCache, bool filterServerNode,
                                   FChildChangeAccumulator& accumulator) const;
  FViewCacheRef ackUserWriteOn(const FViewCacheRef& viewCache, const FPathRef& ackPath,
                               const FAffectedTreeRef& affectedTree, const FWriteTreeRefPtr& writesCache,
                               const FNodeRef& completeCache, FChildChangeAccumulator& accumulator) const;
  FViewCacheRef revertUserWriteOn(const FViewCacheRef& viewCache, const FPathRef& path,
                                  const FWriteTreeRefPtr& writesCache, const FNodeRef& completeCache,
                                  FChildChangeAccumulator& accumulator) const;
  FViewCacheRef listenCompleteOldCache(const FViewCacheRef& viewCache, const FPathRef& path,
                                       const FWriteTreeRefPtr& writesCache, const FNodeRef& completeCache,
                                       FChildChangeAccumulator& accumulator) const;
  // completeCache: the location's complete server data when a view that loads all of it holds it
  // (the change included), else null.
  FViewCacheRef generateEventCacheAfterServerEvent(const FViewCacheRef& viewCache, const FPathRef& changePath,
                                                   const FWriteTreeRefPtr& writesCache,
                                                   const FCompleteChildSource& source, const FNodeRef& completeCache,
                                                   FChildChangeAccumulator& accumulator) const;
  // Where a change at the path, hidden by a write, still changes what the user sees: the location
  // above the path (the view's own included) that the user is shown as a leaf while the server
  // now holds children there and no write fixes it. Null when there is none.
  static std::optional<FPathRef> replacedLeafAbove(const FViewCache& viewCache, const FPathRef& changePath,
                                                   const FWriteTreeRef& writesCache);
  // A location above the path (the view's own included) that the server's data holds empty while
  // the user is shown it with a priority: the server's change emptied it, and it lost its priority,
  // unless a write gives it one again. The topmost such location, or null.
  static std::optional<FPathRef> emptiedLocationAbove(const FViewCache& viewCache, const FPathRef& changePath);
  static std::vector<FChange> maybeAddValueFromOldViewCache(const FViewCache& oldViewCache,
                                                            const FViewCache& newViewCache,
                                                            std::vector<FChange> changes);

  FNodeFilterRef filter_;
  // The filter when it is the plain indexed one (it keeps every child), else null.
  const FIndexedFilter* indexedFilter_;
};
