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
  // ackUserWriteOn for a window whose server data is loaded.
  FViewCacheRef ackUserWriteInWindow(const FViewCacheRef& viewCache, const FPathRef& ackPath,
                                     const FAffectedTreeRef& affectedTree, const FWriteTreeRefPtr& writesCache,
                                     const FNodeRef& completeCache, FChildChangeAccumulator& accumulator) const;
  FViewCacheRef revertUserWriteOn(const FViewCacheRef& viewCache, const FPathRef& path,
                                  const FWriteTreeRefPtr& writesCache, const FNodeRef& completeCache,
                                  FChildChangeAccumulator& accumulator) const;
  // fromListenAbove: the listen that completed is a plain one at or above the view's location
  // (untagged), which makes completeCache the server's confirmed data there.
  FViewCacheRef listenCompleteOldCache(const FViewCacheRef& viewCache, const FPathRef& path,
                                       const FWriteTreeRefPtr& writesCache, const FNodeRef& completeCache,
                                       bool fromListenAbove, FChildChangeAccumulator& accumulator) const;
  // oldServerNode is the view's server data before the change, or null when it did not change;
  // completeCache the location's complete server data when a view that loads all of it holds it
  // (the change included), else null.
  FViewCacheRef generateEventCacheAfterServerEvent(const FViewCacheRef& viewCache, const FNodeRef& oldServerNode,
                                                   const FPathRef& changePath,
                                                   const FWriteTreeRefPtr& writesCache,
                                                   const FCompleteChildSource& source, const FNodeRef& completeCache,
                                                   FChildChangeAccumulator& accumulator) const;
  // After an acknowledgement or a revert below the view's location, which recomputed the children
  // the write touched: whether the location itself may still show otherwise than the server's
  // data with the remaining writes laid over it. The write that went may have emptied it on the
  // way (which drops a priority) or given a plain value children, and nothing in the children
  // says so.
  static bool viewLocationUnsettled(const FViewCache& viewCache, const FWriteTreeRef& writesCache);
  // The whole event cache again from the complete server data and the writes.
  FViewCacheRef recomputeEventCache(const FViewCacheRef& viewCache, const FWriteTreeRefPtr& writesCache,
                                    FChildChangeAccumulator& accumulator) const;
  // The depth of the shallowest location strictly above the change path (0 for the view's own)
  // that the change turned from a plain value into children or back, or gave another priority
  // (emptied, it has none); null when the change left every location above it as it was.
  static std::optional<size_t> shallowestReshapedAbove(const FNodeRef& oldNode, const FNodeRef& newNode,
                                                       const FPathRef& changePath);
  // Where a change at the path, hidden by a write, still changes what the user sees: the location
  // above the path (the view's own included) that the user is shown as a leaf while the server
  // now holds children there and no write fixes it. Null when there is none.
  static std::optional<FPathRef> replacedLeafAbove(const FViewCache& viewCache, const FPathRef& changePath,
                                                   const FWriteTreeRef& writesCache);
  static std::vector<FChange> maybeAddValueFromOldViewCache(const FViewCache& oldViewCache,
                                                            const FViewCache& newViewCache,
                                                            std::vector<FChange> changes);

  FNodeFilterRef filter_;
  // The filter when it is the plain indexed one (it keeps every child), else null.
  const FIndexedFilter* indexedFilter_;
};
