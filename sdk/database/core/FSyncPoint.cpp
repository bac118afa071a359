#include "sdk/database/core/FSyncPoint.h"

#include <set>

#include "sdk/database/snapshot/FChildrenNode.h"

FSyncPoint::FSyncPoint(FSyncPersistenceRef persistenceManager) : persistenceManager_(std::move(persistenceManager)) {}

FViewRef FSyncPoint::viewForParams(const FQueryParams& params) const {
  for (const auto& [viewParams, view] : views_) {
    if (viewParams->isEqual(params)) return view;
  }
  return nullptr;
}

FViewRef FSyncPoint::viewForQuery(const FQuerySpecRef& query) const { return viewForParams(*query->params()); }

FEventList FSyncPoint::applyOperation(const FOperation& operation, const FWriteTreeRefPtr& writesCache,
                                      const FNodeRef& optCompleteServerCache) {
  if (const FQueryParamsRef& params = operation.source()->queryParams()) {
    FViewRef view = viewForParams(*params);
    if (!view) return {};
    return applyOperationToView(operation, view, writesCache, optCompleteServerCache);
  }
  FEventList events;
  // Applying never adds or removes views; walked by position all the same, which stays valid
  // whatever happens to the list.
  for (size_t i = 0; i < views_.size(); ++i) {
    const FViewRef view = views_[i].second;
    FEventList viewEvents = applyOperationToView(operation, view, writesCache, optCompleteServerCache);
    if (events.empty()) {
      events = std::move(viewEvents);
    } else {
      events.insert(events.end(), std::make_move_iterator(viewEvents.begin()),
                    std::make_move_iterator(viewEvents.end()));
    }
  }
  return events;
}

FEventList FSyncPoint::applyOperationToView(const FOperation& operation, const FViewRef& view,
                                            const FWriteTreeRefPtr& writesCache, const FNodeRef& optCompleteServerCache) {
  FViewOperationResult result = view->applyOperation(operation, writesCache, optCompleteServerCache);
  if (!view->query()->loadsAllData() && persistenceManager_) {
    std::set<std::string> added;
    std::set<std::string> removed;
    for (const FChange& change : result.changes) {
      if (change.type() == FEventTypeChildAdded) added.insert(*change.childKey());
      if (change.type() == FEventTypeChildRemoved) removed.insert(*change.childKey());
    }
    if (!added.empty() || !removed.empty()) {
      persistenceManager_->updateTrackedQueryKeysWithAddedKeys(added, removed, view->query());
    }
  }
  return std::move(result.events);
}

FViewRef FSyncPoint::getView(const FQuerySpecRef& query, const FWriteTreeRefPtr& writesCache,
                             const FCacheNodeRef& serverCache) const {
  if (FViewRef view = viewForQuery(query)) return view;
  FNodeRef eventCache = writesCache->calculateCompleteEventCacheWithCompleteServerCache(
      serverCache->isFullyInitialized() ? serverCache->node() : nullptr);
  bool eventCacheComplete = true;
  if (!eventCache) {
    eventCache = writesCache->calculateCompleteEventChildrenWithCompleteServerChildren(
        serverCache->node() ? serverCache->node() : FEmptyNode::emptyNode());
    eventCacheComplete = false;
  }
  auto eventCacheNode = std::make_shared<const FCacheNode>(FIndexedNode::indexedNodeWithNode(eventCache, query->index()),
                                                           eventCacheComplete, false);
  auto viewCache = std::make_shared<const FViewCache>(eventCacheNode, serverCache);
  return std::make_shared<FView>(query, viewCache);
}

FEventList FSyncPoint::addEventRegistrationForNonExistingView(const FEventRegistrationRef& registration,
                                                              const FQuerySpecRef& query,
                                                              const FWriteTreeRefPtr& writesCache,
                                                              const FCacheNodeRef& serverCache) {
  FViewRef view = getView(query, writesCache, serverCache);
  if (!query->loadsAllData() && persistenceManager_) {
    std::set<std::string> keys;
    view->eventCache()->enumerateChildrenUsingBlock(
        [&](const std::string& key, const FNodeRef&, bool*) { keys.insert(key); });
    persistenceManager_->setTrackedQueryKeys(keys, query);
  }
  views_.emplace_back(query->params(), view);
  return addEventRegistrationForExistingView(registration, query);
}

FEventList FSyncPoint::addEventRegistrationForExistingView(const FEventRegistrationRef& registration,
                                                           const FQuerySpecRef& query) {
  FViewRef view = viewForQuery(query);
  if (!view) return {};
  view->addEventRegistration(registration);
  return view->initialEvents(registration);
}

FTupleRemovedQueriesEvents FSyncPoint::removeEventRegistration(const FEventRegistrationRef& registration,
                                                               const FQuerySpecRef& query,
                                                               const NSErrorRef& cancelError) {
  FTupleRemovedQueriesEvents result;
  const bool hadCompleteView = hasCompleteView();
  auto removeFrom = [&](const FViewRef& view) {
    auto cancelEvents = view->removeEventRegistration(registration, cancelError);
    result.cancelEvents.insert(result.cancelEvents.end(), cancelEvents.begin(), cancelEvents.end());
    if (!view->isEmpty()) return;
    std::erase_if(views_, [&](const auto& entry) { return entry.second == view; });
    if (!view->query()->loadsAllData()) result.removedQueries.push_back(view->query());
  };
  if (query->isDefault()) {
    std::vector<std::pair<FQueryParamsRef, FViewRef>> views = views_;
    for (const auto& entry : views) removeFrom(entry.second);
  } else if (FViewRef view = viewForQuery(query)) {
    removeFrom(view);
  }
  if (hadCompleteView && !hasCompleteView()) {
    result.removedQueries.push_back(FQuerySpec::defaultQueryAtPath(query->path()));
  }
  return result;
}

std::vector<FViewRef> FSyncPoint::queryViews() const {
  std::vector<FViewRef> filtered;
  for (const auto& entry : views_) {
    if (!entry.second->query()->loadsAllData()) filtered.push_back(entry.second);
  }
  return filtered;
}

FNodeRef FSyncPoint::completeServerCacheAtPath(const FPathRef& path) const {
  for (const auto& entry : views_) {
    if (FNodeRef node = entry.second->completeServerCacheFor(path)) return node;
  }
  return nullptr;
}

FNodeRef FSyncPoint::completeEventCacheAtPath(const FPathRef& path) const {
  for (const auto& entry : views_) {
    if (FNodeRef node = entry.second->completeEventCacheFor(path)) return node;
  }
  return nullptr;
}

bool FSyncPoint::serverCachesAgreeWith(const FNodeRef& node) const {
  for (const auto& entry : views_) {
    const FCacheNodeRef& cache = entry.second->viewCache()->cachedServerSnap();
    const FNodeRef& held = cache->node();
    if ((cache->isFullyInitialized() && !cache->isFiltered()) || held->isLeafNode()) {
      if (!held->isEqual(*node)) return false;
      continue;
    }
    bool agrees = true;
    held->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool* stop) {
      if (!node->getImmediateChild(key)->isEqual(*child)) {
        agrees = false;
        *stop = true;
      }
    });
    if (!agrees) return false;
  }
  return true;
}

FViewRef FSyncPoint::completeView() const {
  for (const auto& entry : views_) {
    if (entry.second->query()->loadsAllData()) return entry.second;
  }
  return nullptr;
}
