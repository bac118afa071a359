#pragma once
// The views of all queries at one path, told apart by their query parameters. A view whose query
// loads all data is a complete view: it holds the whole data at the path and so covers the paths
// below. The sync tree keeps one sync point at each path that has a view, hands it the operations
// that reach its path and asks it what it knows completely. Used on the work queue only.
#include <memory>
#include <utility>
#include <vector>

#include "sdk/database/core/FCacheNode.h"
#include "sdk/database/core/FEventRegistration.h"
#include "sdk/database/core/FOperation.h"
#include "sdk/database/core/FSyncPersistence.h"
#include "sdk/database/core/FTupleRemovedQueriesEvents.h"
#include "sdk/database/core/FView.h"
#include "sdk/database/core/FWriteTreeRef.h"

class FSyncPoint;
using FSyncPointRef = std::shared_ptr<FSyncPoint>;

class FSyncPoint {
 public:
  // initWithPersistenceManager:; without one the tracked-key updates are skipped.
  explicit FSyncPoint(FSyncPersistenceRef persistenceManager);

  bool isEmpty() const { return views_.empty(); }

  // A tagged operation goes to the view of its query only; any other to every view in turn.
  FEventList applyOperation(const FOperation& operation, const FWriteTreeRefPtr& writesCache,
                            const FNodeRef& optCompleteServerCache);
  // applyOperation:toView:writesCache:serverCache:
  FEventList applyOperationToView(const FOperation& operation, const FViewRef& view,
                                  const FWriteTreeRefPtr& writesCache, const FNodeRef& optCompleteServerCache);

  // The view under the query's params, or a new one made from the server cache and the writes,
  // which is not stored.
  FViewRef getView(const FQuerySpecRef& query, const FWriteTreeRefPtr& writesCache,
                   const FCacheNodeRef& serverCache) const;
  // addEventRegistration:forNonExistingViewForQuery:writesCache:serverCache:
  FEventList addEventRegistrationForNonExistingView(const FEventRegistrationRef& registration,
                                                    const FQuerySpecRef& query, const FWriteTreeRefPtr& writesCache,
                                                    const FCacheNodeRef& serverCache);
  // addEventRegistration:forExistingViewForQuery:
  FEventList addEventRegistrationForExistingView(const FEventRegistrationRef& registration, const FQuerySpecRef& query);
  // A null registration removes every registration; the default query removes from every view.
  FTupleRemovedQueriesEvents removeEventRegistration(const FEventRegistrationRef& registration,
                                                     const FQuerySpecRef& query, const NSErrorRef& cancelError);

  // The views whose query does not load all data, in the order they were added.
  std::vector<FViewRef> queryViews() const;
  FNodeRef completeServerCacheAtPath(const FPathRef& path) const;
  // Whether every view's server data is part of the node (the data of this path that a listen
  // above reports to the server as what the client holds): a view that holds all the data of the
  // path holds the node itself once its data is complete; any other, only children that the node
  // holds alike.
  bool serverCachesAgreeWith(const FNodeRef& node) const;
  FNodeRef completeEventCacheAtPath(const FPathRef& path) const;
  FViewRef viewForQuery(const FQuerySpecRef& query) const;
  bool viewExistsForQuery(const FQuerySpecRef& query) const { return viewForQuery(query) != nullptr; }
  // The first view, in the order added, whose query loads all data; or null.
  FViewRef completeView() const;
  bool hasCompleteView() const { return completeView() != nullptr; }

 private:
  FViewRef viewForParams(const FQueryParams& params) const;

  // Views in the order they were added, keyed by their query params.
  std::vector<std::pair<FQueryParamsRef, FViewRef>> views_;
  FSyncPersistenceRef persistenceManager_;
};
