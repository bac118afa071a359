#include "sdk/database/core/FSyncTree.h"

#include <algorithm>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FFLog.h"
#include "sdk/database/core/FKeepSyncedEventRegistration.h"
#include "sdk/database/core/FLimitedFilter.h"
#include "sdk/database/core/FListenContainer.h"
#include "sdk/database/core/FServerValues.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/snapshot/FChildrenNode.h"

namespace {

// A query's limit is checked before the query changes anything in the tree.
void validateQuery(const FQuerySpec& query) {
  if (query.params()->limitSet()) FLimitedFilter::validateLimit(query.params()->limit());
}

// The complete server data at a sync point once a server operation has been applied. The data
// is read from the views before they take the operation (deeper sync points go first, and a sync
// point's views one after another), so the operation is laid over it here: a view's complete-child
// source must not see the data as it was before the change it is applying.
FNodeRef serverCacheAfter(const FOperation& operation, const FNodeRef& serverCache) {
  if (!serverCache || !operation.source()->fromServer() || operation.source()->isTagged()) return serverCache;
  if (operation.type() == FOperationTypeOverwrite) {
    return serverCache->updateChild(operation.path(), static_cast<const FOverwrite&>(operation).snap());
  }
  if (operation.type() == FOperationTypeMerge) {
    const auto& merge = static_cast<const FMerge&>(operation);
    return serverCache->updateChild(operation.path(), merge.children()->applyToNode(serverCache->getChild(operation.path())));
  }
  return serverCache;
}

// The complete server data of a sync point that an operation reaching it with an empty path
// sees: a listen that completes there makes what its complete view holds complete, and the views
// below it (which the operation reaches first) are worked out from that.
FNodeRef completeServerCacheHere(const FOperation& operation, const FSyncPoint& syncPoint) {
  if (FNodeRef complete = syncPoint.completeServerCacheAtPath(FPath::empty())) return complete;
  if (operation.type() != FOperationTypeListenComplete || !operation.source()->fromServer() ||
      operation.source()->isTagged()) {
    return nullptr;
  }
  FViewRef view = syncPoint.completeView();
  return view ? view->serverCache() : nullptr;
}

void append(FEventList& events, FEventList&& more) {
  if (events.empty()) {
    events = std::move(more);
  } else {
    events.insert(events.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
  }
}

// The children's results of a fold, in ascending key order.
template <typename T>
void appendChildResults(std::vector<T>& out, const std::unordered_map<std::string, std::vector<T>>& results) {
  std::vector<const std::string*> keys;
  keys.reserve(results.size());
  for (const auto& entry : results) keys.push_back(&entry.first);
  std::sort(keys.begin(), keys.end(), [](const std::string* a, const std::string* b) { return *a < *b; });
  for (const std::string* key : keys) {
    const auto& values = results.at(*key);
    out.insert(out.end(), values.begin(), values.end());
  }
}

}  // namespace

FSyncTree::FSyncTree(FSyncPersistenceRef persistenceManager, FListenProvider listenProvider)
    : syncPointTree_(SyncPointTree::empty()),
      pendingWriteTree_(std::make_shared<FWriteTree>()),
      rootWrites_(pendingWriteTree_->childWritesForPath(FPath::empty())),
      listenProvider_(std::move(listenProvider)),
      persistenceManager_(std::move(persistenceManager)) {}

FSyncTree::FSyncTree(FListenProvider listenProvider) : FSyncTree(nullptr, std::move(listenProvider)) {}

// ---------------------------------------------------------------------------------------------
// User writes

FEventList FSyncTree::applyUserOverwriteAtPath(const FPathRef& path, const FNodeRef& newData, int64_t writeId,
                                               bool isVisible) {
  pendingWriteTree_->addOverwriteAtPath(path, newData, writeId, isVisible);
  if (!isVisible) return {};
  return applyOperationToSyncPoints(makeOperation<FOverwrite>(FOperationSource::userInstance(), path, newData));
}

FEventList FSyncTree::applyUserMergeAtPath(const FPathRef& path, const FCompoundWriteRef& changedChildren,
                                           int64_t writeId) {
  pendingWriteTree_->addMergeAtPath(path, changedChildren, writeId);
  return applyOperationToSyncPoints(makeOperation<FMerge>(FOperationSource::userInstance(), path, changedChildren));
}

FEventList FSyncTree::ackUserWriteWithWriteId(int64_t writeId, bool revert, bool persist, const FClock& clock) {
  FWriteRecordRef write = pendingWriteTree_->writeForId(writeId);
  const bool needToReevaluate = pendingWriteTree_->removeWriteId(writeId);
  if (write->visible() && persistenceManager_) {
    if (persist) persistenceManager_->removeUserWrite(writeId);
    if (!revert) {
      Value serverValues = FServerValues::generateServerValues(clock);
      auto reader = [this](const FPathRef& path) { return calcCompleteEventCacheAtPath(path, std::nullopt); };
      if (write->isOverwrite()) {
        FNodeRef resolved =
            FServerValues::resolveDeferredValueSnapshotWithReader(write->overwrite(), reader, write->path(), serverValues);
        persistenceManager_->applyUserWrite(resolved, write->path());
      } else {
        FCompoundWriteRef resolved =
            FServerValues::resolveDeferredValueCompoundWrite(write->compoundWrite(), reader, write->path(), serverValues);
        persistenceManager_->applyUserMerge(resolved, write->path());
      }
    }
  }
  if (!needToReevaluate) return {};
  FAffectedTreeRef affectedTree = FAffectedTree::empty();
  if (write->isOverwrite()) {
    affectedTree = affectedTree->setValue(true, *FPath::empty());
  } else {
    write->compoundWrite()->enumerateWrites([&](const FPathRef& relative, const FNodeRef&, bool*) {
      affectedTree = affectedTree->setValue(true, *relative);
    });
  }
  return applyOperationToSyncPoints(makeOperation<FAckUserWrite>(write->path(), affectedTree, revert));
}

FEventList FSyncTree::removeAllWrites() {
  if (persistenceManager_) persistenceManager_->removeAllUserWrites();
  std::vector<FWriteRecordRef> removed = pendingWriteTree_->removeAllWrites();
  if (removed.empty()) return {};
  FAffectedTreeRef affectedTree = FAffectedTree::empty()->setValue(true, *FPath::empty());
  return applyOperationToSyncPoints(makeOperation<FAckUserWrite>(FPath::empty(), affectedTree, true));
}

// ---------------------------------------------------------------------------------------------
// Server data

FEventList FSyncTree::applyServerOverwriteAtPath(const FPathRef& path, const FNodeRef& newData) {
  if (persistenceManager_) persistenceManager_->updateServerCacheWithNode(newData, FQuerySpec::defaultQueryAtPath(path));
  return applyOperationToSyncPoints(makeOperation<FOverwrite>(FOperationSource::serverInstance(), path, newData));
}

FEventList FSyncTree::applyServerMergeAtPath(const FPathRef& path, const FCompoundWriteRef& changedChildren) {
  if (persistenceManager_) persistenceManager_->updateServerCacheWithMerge(changedChildren, path);
  return applyOperationToSyncPoints(makeOperation<FMerge>(FOperationSource::serverInstance(), path, changedChildren));
}

FEventList FSyncTree::applyServerRangeMergeAtPath(const FPathRef& path, const std::vector<FRangeMerge>& updates) {
  std::optional<FSyncPointRef> syncPoint = syncPointTree_->valueAtPath(*path);
  if (!syncPoint) return {};
  FViewRef view = (*syncPoint)->completeView();
  if (!view) return {};
  FNodeRef node = view->serverCache();
  for (const FRangeMerge& merge : updates) node = merge.applyToNode(node);
  return applyServerOverwriteAtPath(path, node);
}

FEventList FSyncTree::applyListenCompleteAtPath(const FPathRef& path) {
  if (persistenceManager_) persistenceManager_->setQueryComplete(FQuerySpec::defaultQueryAtPath(path));
  return applyOperationToSyncPoints(makeOperation<FListenComplete>(FOperationSource::serverInstance(), path));
}

FPathRef FSyncTree::relativePathForTaggedData(const FQuerySpec& query, const FPathRef& path) {
  // Raises "ZirezizeDatabaseInternalError" for data outside the query's path.
  return FPath::relativePathFrom(*query.path(), *path);
}

FEventList FSyncTree::applyTaggedQueryOverwriteAtPath(const FPathRef& path, const FNodeRef& newData, uint64_t tagId) {
  FQuerySpecRef query = queryForTag(tagId);
  if (!query) return {};
  FPathRef relativePath = relativePathForTaggedData(*query, path);
  if (persistenceManager_) {
    FQuerySpecRef queryToOverwrite = relativePath->isEmpty() ? query : FQuerySpec::defaultQueryAtPath(path);
    persistenceManager_->updateServerCacheWithNode(newData, queryToOverwrite);
  }
  auto operation = makeOperation<FOverwrite>(FOperationSource::forServerTaggedQuery(query->params()), relativePath, newData);
  return applyTaggedOperation(*operation, query->path());
}

FEventList FSyncTree::applyTaggedQueryMergeAtPath(const FPathRef& path, const FCompoundWriteRef& changedChildren,
                                                  uint64_t tagId) {
  FQuerySpecRef query = queryForTag(tagId);
  if (!query) return {};
  FPathRef relativePath = relativePathForTaggedData(*query, path);
  if (persistenceManager_) persistenceManager_->updateServerCacheWithMerge(changedChildren, path);
  auto operation = makeOperation<FMerge>(FOperationSource::forServerTaggedQuery(query->params()), relativePath, changedChildren);
  return applyTaggedOperation(*operation, query->path());
}

FEventList FSyncTree::applyTaggedListenCompleteAtPath(const FPathRef& path, uint64_t tagId) {
  FQuerySpecRef query = queryForTag(tagId);
  if (!query) return {};
  FPathRef relativePath = relativePathForTaggedData(*query, path);
  if (persistenceManager_) persistenceManager_->setQueryComplete(query);
  auto operation = makeOperation<FListenComplete>(FOperationSource::forServerTaggedQuery(query->params()), relativePath);
  return applyTaggedOperation(*operation, query->path());
}

FEventList FSyncTree::applyTaggedServerRangeMergeAtPath(const FPathRef& path, const std::vector<FRangeMerge>& updates,
                                                        uint64_t tagId) {
  FQuerySpecRef query = queryForTag(tagId);
  if (!query) return {};
  if (!path->isEqual(*query->path())) {
    NSException::raise(kZirezizeDatabaseInternalError, "Tagged range merge at %s for the query at %s",
                       path->toString().c_str(), query->path()->toString().c_str());
  }
  std::optional<FSyncPointRef> syncPoint = syncPointTree_->valueAtPath(*path);
  FViewRef view = syncPoint ? (*syncPoint)->viewForQuery(query) : nullptr;
  if (!view) return {};
  FNodeRef node = view->serverCache();
  for (const FRangeMerge& merge : updates) node = merge.applyToNode(node);
  return applyTaggedQueryOverwriteAtPath(path, node, tagId);
}

FEventList FSyncTree::applyTaggedOperation(const FOperation& operation, const FPathRef& queryPath) {
  std::optional<FSyncPointRef> syncPoint = syncPointTree_->valueAtPath(*queryPath);
  if (!syncPoint) return {};
  // A view at or above the query's location that loads all of its data holds what the query's
  // data is a part of (the link brings both in order, so it is as recent): the query's view is
  // worked out with it, as for any other server data. A window above does not: its data comes
  // with its own listen, which the server may bring this change later.
  FNodeRef completeServerCache;
  syncPointTree_->forEachOnPathWhileBlock(*queryPath, [&](const FPathRef& pathToSyncPoint, const FSyncPointRef& at) {
    if (FViewRef complete = at->completeView()) {
      completeServerCache = complete->completeServerCacheFor(FPath::relativePathFrom(*pathToSyncPoint, *queryPath));
    }
    return completeServerCache == nullptr;
  });
  return (*syncPoint)->applyOperation(operation, pendingWriteTree_->childWritesForPath(queryPath), completeServerCache);
}

// ---------------------------------------------------------------------------------------------
// Pushing operations down the tree of sync points

FEventList FSyncTree::applyOperationToSyncPoints(const FOperationRef& operation) {
  return applyOperationHelper(*operation, syncPointTree_, nullptr, rootWrites_);
}

FEventList FSyncTree::applyOperationHelper(const FOperation& operation, const SyncPointTree::Ref& syncPointTree,
                                           FNodeRef serverCache, const FWriteTreeRefPtr& writesCache) {
  if (operation.path()->isEmpty()) {
    return applyOperationDescendantsHelper(operation, syncPointTree, serverCache, writesCache);
  }
  const std::optional<FSyncPointRef>& syncPoint = syncPointTree->value();
  if (!serverCache && syncPoint) serverCache = (*syncPoint)->completeServerCacheAtPath(FPath::empty());
  FEventList events;
  const std::string childKey = *operation.path()->getFront();
  // The operation for the child is made only where a subtree of sync points can take it.
  std::optional<SyncPointTree::Ref> childTree = syncPointTree->children()->get(childKey);
  FOperationRef childOperation = childTree ? operation.operationForChild(childKey) : nullptr;
  if (childTree && childOperation) {
    FNodeRef childServerCache = serverCache ? serverCache->getImmediateChild(childKey) : nullptr;
    append(events, applyOperationHelper(*childOperation, *childTree, childServerCache,
                                        writesCache->childWriteTreeRef(childKey)));
  }
  if (syncPoint) {
    append(events, (*syncPoint)->applyOperation(operation, writesCache, serverCacheAfter(operation, serverCache)));
  }
  return events;
}

FEventList FSyncTree::applyOperationDescendantsHelper(const FOperation& operation,
                                                      const SyncPointTree::Ref& syncPointTree, FNodeRef serverCache,
                                                      const FWriteTreeRefPtr& writesCache) {
  const std::optional<FSyncPointRef>& syncPoint = syncPointTree->value();
  if (!serverCache && syncPoint) serverCache = completeServerCacheHere(operation, **syncPoint);
  FEventList events;
  syncPointTree->children()->enumerateKeysAndObjectsUsingBlock(
      [&](const std::string& childKey, const SyncPointTree::Ref& childTree, bool*) {
        FOperationRef childOperation = operation.operationForChild(childKey);
        if (!childOperation) return;
        FNodeRef childServerCache = serverCache ? serverCache->getImmediateChild(childKey) : nullptr;
        append(events, applyOperationDescendantsHelper(*childOperation, childTree, childServerCache,
                                                       writesCache->childWriteTreeRef(childKey)));
      });
  if (syncPoint) {
    append(events, (*syncPoint)->applyOperation(operation, writesCache, serverCacheAfter(operation, serverCache)));
  }
  return events;
}

// ---------------------------------------------------------------------------------------------
// Listeners

FCacheNodeRef FSyncTree::serverCacheForQuery(const FQuerySpecRef& query) {
  const FPathRef& path = query->path();
  FNodeRef serverCache;
  syncPointTree_->forEachOnPathWhileBlock(*path, [&](const FPathRef& pathToSyncPoint, const FSyncPointRef& syncPoint) {
    serverCache = syncPoint->completeServerCacheAtPath(FPath::relativePathFrom(*pathToSyncPoint, *path));
    return serverCache == nullptr;
  });
  if (serverCache) {
    return std::make_shared<const FCacheNode>(FIndexedNode::indexedNodeWithNode(serverCache, query->index()), true,
                                              false);
  }
  FCacheNodeRef persisted = persistenceManager_ ? persistenceManager_->serverCacheForQuery(query) : nullptr;
  if (persisted && persisted->isFullyInitialized()) return persisted;
  FNodeRef node = FEmptyNode::emptyNode();
  syncPointTree_->subtreeAtPath(*path)->forEachChild([&](const std::string& childKey, const FSyncPointRef& child) {
    if (FNodeRef complete = child->completeServerCacheAtPath(FPath::empty())) {
      node = node->updateImmediateChild(childKey, complete);
    }
  });
  if (persisted) {
    persisted->node()->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
      if (!node->hasChild(key)) node = node->updateImmediateChild(key, child);
    });
  }
  return std::make_shared<const FCacheNode>(FIndexedNode::indexedNodeWithNode(node, query->index()), false, false);
}

FEventList FSyncTree::addEventRegistration(const FEventRegistrationRef& registration, const FQuerySpecRef& query) {
  validateQuery(*query);
  const FPathRef& path = query->path();
  bool foundAncestorDefaultView = false;
  syncPointTree_->forEachOnPathWhileBlock(*path, [&](const FPathRef&, const FSyncPointRef& syncPoint) {
    foundAncestorDefaultView = foundAncestorDefaultView || syncPoint->hasCompleteView();
    return !foundAncestorDefaultView;
  });
  if (persistenceManager_) persistenceManager_->setQueryActive(query);

  std::optional<FSyncPointRef> existing = syncPointTree_->valueAtPath(*path);
  FSyncPointRef syncPoint = existing ? *existing : nullptr;
  if (!syncPoint) {
    syncPoint = std::make_shared<FSyncPoint>(persistenceManager_);
    syncPointTree_ = syncPointTree_->setValue(syncPoint, *path);
  }
  if (syncPoint->viewExistsForQuery(query)) return syncPoint->addEventRegistrationForExistingView(registration, query);

  if (!query->loadsAllData()) {
    const uint64_t tag = queryTagCounter_.getAndIncrement();
    queryToTagMap_[query] = tag;
    tagToQueryMap_[tag] = query;
  }
  FWriteTreeRefPtr writesCache = pendingWriteTree_->childWritesForPath(path);
  FEventList events =
      syncPoint->addEventRegistrationForNonExistingView(registration, query, writesCache, serverCacheForQuery(query));
  if (!foundAncestorDefaultView) append(events, setupListenerOnQuery(query, syncPoint->viewForQuery(query)));
  return events;
}

FEventList FSyncTree::setupListenerOnQuery(const FQuerySpecRef& query, const FViewRef& view) {
  std::optional<uint64_t> tag = tagForQuery(query);
  auto container = createListenerForView(view);
  FEventList events = listenProvider_.startListening
                          ? listenProvider_.startListening(queryForListening(query), tag, container, container->onComplete())
                          : FEventList{};
  if (tag) return events;
  // A default listen covers everything below: withdraw the listens it makes redundant (a deeper
  // complete view's listen stands for the filtered ones under it, which were never sent).
  using Queries = std::vector<FQuerySpecRef>;
  std::optional<Queries> queriesToStop = syncPointTree_->subtreeAtPath(*query->path())->foldWithBlock<Queries>(
      [](const FPathRef& relativePath, const std::optional<FSyncPointRef>& syncPoint,
         const std::unordered_map<std::string, Queries>& childResults) -> std::optional<Queries> {
        if (!relativePath->isEmpty() && syncPoint && (*syncPoint)->hasCompleteView()) {
          return Queries{(*syncPoint)->completeView()->query()};
        }
        Queries queries;
        if (syncPoint) {
          for (const FViewRef& filtered : (*syncPoint)->queryViews()) queries.push_back(filtered->query());
        }
        appendChildResults(queries, childResults);
        return queries;
      });
  if (queriesToStop && listenProvider_.stopListening) {
    for (const FQuerySpecRef& stop : *queriesToStop) listenProvider_.stopListening(queryForListening(stop), tagForQuery(stop));
  }
  return events;
}

std::shared_ptr<const FListenContainer> FSyncTree::createListenerForView(const FViewRef& view) {
  FQuerySpecRef query = view->query();
  std::optional<uint64_t> tag = tagForQuery(query);
  std::weak_ptr<FSyncTree> weakSelf = weak_from_this();
  auto onComplete = [weakSelf, query, tag](const std::string& status) -> FEventList {
    std::shared_ptr<FSyncTree> self = weakSelf.lock();
    if (!self) return {};
    if (status == "ok") {
      return tag ? self->applyTaggedListenCompleteAtPath(query->path(), *tag)
                 : self->applyListenCompleteAtPath(query->path());
    }
    NSErrorRef error = FUtilities::errorForStatus(status, std::nullopt);
    FFLogWarn("I-RDB038012", "Listener at %s failed: %s", query->path()->toString().c_str(), status.c_str());
    return self->removeEventRegistration(nullptr, query, error);
  };
  // A listen of all the data covers the views below it, whose own listens it replaces: the hash
  // it sends must describe what they hold too, or the server's answer (no data, when the hash
  // matches) would leave them with data the server may no longer have.
  std::function<bool()> agreesWithViewsBelow;
  if (!tag) {
    agreesWithViewsBelow = [weakSelf, view] {
      std::shared_ptr<FSyncTree> self = weakSelf.lock();
      return !self || self->viewsAgreeWithListenedData(view->query()->path(), view->serverCache());
    };
  }
  return std::make_shared<const FListenContainer>(view, onComplete, std::move(agreesWithViewsBelow));
}

bool FSyncTree::viewsAgreeWithListenedData(const FPathRef& path, const FNodeRef& node) const {
  bool agrees = true;
  syncPointTree_->subtreeAtPath(*path)->forEach([&](const FPathRef& relative, const FSyncPointRef& syncPoint) {
    agrees = agrees && syncPoint->serverCachesAgreeWith(node->getChild(relative));
  });
  return agrees;
}

FQuerySpecRef FSyncTree::queryForListening(const FQuerySpecRef& query) {
  if (query->loadsAllData() && !query->isDefault()) return FQuerySpec::defaultQueryAtPath(query->path());
  return query;
}

FEventList FSyncTree::removeEventRegistration(const FEventRegistrationRef& registration, const FQuerySpecRef& query,
                                              const NSErrorRef& cancelError) {
  const FPathRef& path = query->path();
  std::optional<FSyncPointRef> syncPoint = syncPointTree_->valueAtPath(*path);
  if (!syncPoint || !*syncPoint || (!query->isDefault() && !(*syncPoint)->viewExistsForQuery(query))) return {};

  FTupleRemovedQueriesEvents removedAndEvents = (*syncPoint)->removeEventRegistration(registration, query, cancelError);
  if ((*syncPoint)->isEmpty()) syncPointTree_ = syncPointTree_->removeValueAtPath(*path);
  const std::vector<FQuerySpecRef>& removed = removedAndEvents.removedQueries;

  const bool removingDefault =
      std::any_of(removed.begin(), removed.end(), [](const FQuerySpecRef& q) { return q->loadsAllData(); });
  if (persistenceManager_) {
    for (const FQuerySpecRef& q : removed) persistenceManager_->setQueryInactive(q);
  }
  const bool covered =
      syncPointTree_
          ->findOnPath<bool>(*path,
                             [](const FPathRef&, const FSyncPointRef& sp) -> std::optional<bool> {
                               if (sp->hasCompleteView()) return true;
                               return std::nullopt;
                             })
          .value_or(false);

  if (removingDefault && !covered) {
    // The default listen that covered the views below goes: listen to each of them again.
    SyncPointTree::Ref subtree = syncPointTree_->subtreeAtPath(*path);
    if (!subtree->isEmpty() && listenProvider_.startListening) {
      for (const FViewRef& view : collectDistinctViewsForSubTree(subtree)) {
        auto container = createListenerForView(view);
        listenProvider_.startListening(queryForListening(view->query()), tagForQuery(view->query()), container,
                                       container->onComplete());
      }
    }
  }
  // With an error the server has already dropped the listen.
  if (!covered && !removed.empty() && !cancelError && listenProvider_.stopListening) {
    if (removingDefault) {
      listenProvider_.stopListening(queryForListening(query), std::nullopt);
    } else {
      for (const FQuerySpecRef& q : removed) listenProvider_.stopListening(queryForListening(q), tagForQuery(q));
    }
  }
  removeTags(removed);
  return removedAndEvents.cancelEvents;
}

std::vector<FViewRef> FSyncTree::collectDistinctViewsForSubTree(const SyncPointTree::Ref& subtree) const {
  using Views = std::vector<FViewRef>;
  std::optional<Views> views = subtree->foldWithBlock<Views>(
      [](const FPathRef&, const std::optional<FSyncPointRef>& syncPoint,
         const std::unordered_map<std::string, Views>& childResults) -> std::optional<Views> {
        if (syncPoint && (*syncPoint)->hasCompleteView()) return Views{(*syncPoint)->completeView()};
        Views collected;
        if (syncPoint) collected = (*syncPoint)->queryViews();
        appendChildResults(collected, childResults);
        return collected;
      });
  return views.value_or(Views{});
}

void FSyncTree::removeTags(const std::vector<FQuerySpecRef>& queries) {
  for (const FQuerySpecRef& query : queries) {
    if (query->loadsAllData()) continue;
    auto found = queryToTagMap_.find(query);
    if (found == queryToTagMap_.end()) continue;
    tagToQueryMap_.erase(found->second);
    queryToTagMap_.erase(found);
  }
}

void FSyncTree::keepQuery(const FQuerySpecRef& query, bool synced) {
  const bool kept = keepSyncedQueries_.count(query) > 0;
  if (synced && !kept) {
    addEventRegistration(FKeepSyncedEventRegistration::instance(), query);
    keepSyncedQueries_.insert(query);
  } else if (!synced && kept) {
    removeEventRegistration(FKeepSyncedEventRegistration::instance(), query, nullptr);
    keepSyncedQueries_.erase(query);
  }
}

std::optional<uint64_t> FSyncTree::tagForQuery(const FQuerySpecRef& query) const {
  auto found = queryToTagMap_.find(query);
  if (found == queryToTagMap_.end()) return std::nullopt;
  return found->second;
}

FQuerySpecRef FSyncTree::queryForTag(uint64_t tagId) const {
  auto found = tagToQueryMap_.find(tagId);
  return found == tagToQueryMap_.end() ? nullptr : found->second;
}

// ---------------------------------------------------------------------------------------------
// Reads

FNodeRef FSyncTree::calcCompleteEventCacheAtPath(const FPathRef& path,
                                                 const std::optional<std::vector<int64_t>>& excludeWriteIds) {
  std::optional<FNodeRef> serverCache = syncPointTree_->findOnPath<FNodeRef>(
      *path, [&](const FPathRef& pathSoFar, const FSyncPointRef& syncPoint) -> std::optional<FNodeRef> {
        FNodeRef node = syncPoint->completeServerCacheAtPath(FPath::relativePathFrom(*pathSoFar, *path));
        if (!node) return std::nullopt;
        return node;
      });
  return pendingWriteTree_->calculateCompleteEventCacheAtPath(path, serverCache.value_or(nullptr), excludeWriteIds,
                                                              true);
}

FNodeRef FSyncTree::getServerValue(const FQuerySpecRef& query) {
  validateQuery(*query);
  const FPathRef& path = query->path();
  FNodeRef node;
  syncPointTree_->forEachOnPathWhileBlock(*path, [&](const FPathRef& pathToSyncPoint, const FSyncPointRef& syncPoint) {
    node = syncPoint->completeEventCacheAtPath(FPath::relativePathFrom(*pathToSyncPoint, *path));
    return node == nullptr;
  });
  // The view is always taken from the sync point at the query's own path (made here when there is
  // none), also when the data was found at an ancestor's: a view of the ancestor would answer the
  // ancestor's location.
  std::optional<FSyncPointRef> existing = syncPointTree_->valueAtPath(*path);
  FSyncPointRef syncPoint = existing ? *existing : nullptr;
  if (!syncPoint) {
    syncPoint = std::make_shared<FSyncPoint>(persistenceManager_);
    syncPointTree_ = syncPointTree_->setValue(syncPoint, *path);
  } else if (!node) {
    node = syncPoint->completeServerCacheAtPath(FPath::empty());
  }
  auto serverCache = std::make_shared<const FCacheNode>(
      FIndexedNode::indexedNodeWithNode(node ? node : FEmptyNode::emptyNode(), query->index()), node != nullptr, false);
  FViewRef view = syncPoint->getView(query, pendingWriteTree_->childWritesForPath(path), serverCache);
  return view->completeEventCache();
}

FNodeRef FSyncTree::persistenceServerCache(const FQuerySpecRef& query) {
  if (!persistenceManager_) return nullptr;
  FCacheNodeRef cache = persistenceManager_->serverCacheForQuery(query);
  // Children stored for other queries say nothing of this one's answer: without data stored
  // complete for the query, the reader is told that nothing matches.
  if (!cache || !cache->isFullyInitialized() || cache->node()->isEmpty()) return nullptr;
  // Complete data may hold more than the query selects (the whole location, for a window of it).
  FIndexedNodeRef empty = FIndexedNode::indexedNodeWithNode(FEmptyNode::emptyNode(), query->index());
  return query->params()->nodeFilter()->updateFullNode(empty, cache->indexedNode(), nullptr)->node();
}
