#include "sdk/database/persistence/FPersistenceManager.h"

#include "sdk/database/core/FSystemClock.h"
#include "sdk/database/core/FFLog.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

FPersistenceManager::FPersistenceManager(FStorageEngineRef storageEngine,
                                         std::shared_ptr<const FCachePolicy> cachePolicy, FClockRef clock)
    : storageEngine_(std::move(storageEngine)), cachePolicy_(std::move(cachePolicy)) {
  if (!clock) clock = FSystemClock::clock();
  try {
    trackedQueryManager_ = std::make_unique<FTrackedQueryManager>(storageEngine_, clock);
  } catch (const std::exception& e) {
    // Loading never throws for a stored record (the engine sets unreadable ones aside); this is
    // the last line between the disk and the client.
    FFLogError("I-RDB077001", "The tracked queries of the local cache cannot be loaded (%s); starting without.",
                  e.what());
  }
}

bool FPersistenceManager::guarded(const char* operation, const std::function<void()>& work) {
  if (closed_) {
    FFLogWarn("I-RDB077002", "%s called on the local persistence after close; ignored.", operation);
    return false;
  }
  try {
    work();
    return true;
  } catch (const std::exception& e) {
    FFLogError("I-RDB077003", "%s of the local persistence failed (%s); the change was dropped.", operation,
                  e.what());
    return false;
  }
}

void FPersistenceManager::close() {
  if (closed_) return;
  storageEngine_->close();
  closed_ = true;
}

std::vector<FWriteRecordRef> FPersistenceManager::userWrites() {
  std::vector<FWriteRecordRef> writes;
  guarded("userWrites", [&] { writes = storageEngine_->userWrites(); });
  return writes;
}

void FPersistenceManager::saveUserOverwrite(const FNodeRef& node, const FPathRef& path, int64_t writeId) {
  guarded("saveUserOverwrite", [&] { storageEngine_->saveUserOverwrite(node, path, writeId); });
}

void FPersistenceManager::saveUserMerge(const FCompoundWriteRef& merge, const FPathRef& path, int64_t writeId) {
  guarded("saveUserMerge", [&] { storageEngine_->saveUserMerge(merge, path, writeId); });
}

void FPersistenceManager::removeUserWrite(int64_t writeId) {
  guarded("removeUserWrite", [&] { storageEngine_->removeUserWrite(writeId); });
}

void FPersistenceManager::removeAllUserWrites() {
  guarded("removeAllUserWrites", [&] { storageEngine_->removeAllUserWrites(); });
}

void FPersistenceManager::setQueryActive(const FQuerySpecRef& query) {
  guarded("setQueryActive", [&] {
    if (trackedQueryManager_) trackedQueryManager_->setQueryActive(query);
  });
}

void FPersistenceManager::setQueryInactive(const FQuerySpecRef& query) {
  guarded("setQueryInactive", [&] {
    if (trackedQueryManager_) trackedQueryManager_->setQueryInactive(query);
  });
}

void FPersistenceManager::setQueryComplete(const FQuerySpecRef& query) {
  guarded("setQueryComplete", [&] {
    if (!trackedQueryManager_) return;
    if (query->loadsAllData()) {
      trackedQueryManager_->setQueriesCompleteAtPath(*query->path());
    } else {
      trackedQueryManager_->setQueryComplete(query);
    }
  });
}

void FPersistenceManager::setTrackedQueryKeys(const std::set<std::string>& keys, const FQuerySpecRef& query) {
  guarded("setTrackedQueryKeys", [&] {
    FTrackedQueryRef tracked = trackedQueryManager_ ? trackedQueryManager_->findTrackedQuery(query) : nullptr;
    if (!tracked) {
      FFLogDebug("I-RDB077004", "No tracked query for %s; its keys are not stored.", query->description().c_str());
      return;
    }
    storageEngine_->setTrackedQueryKeys(keys, tracked->queryId());
  });
}

void FPersistenceManager::updateTrackedQueryKeysWithAddedKeys(const std::set<std::string>& added,
                                                              const std::set<std::string>& removed,
                                                              const FQuerySpecRef& query) {
  guarded("updateTrackedQueryKeys", [&] {
    FTrackedQueryRef tracked = trackedQueryManager_ ? trackedQueryManager_->findTrackedQuery(query) : nullptr;
    if (!tracked) {
      FFLogDebug("I-RDB077004", "No tracked query for %s; its keys are not stored.", query->description().c_str());
      return;
    }
    storageEngine_->updateTrackedQueryKeys(added, removed, tracked->queryId());
  });
}

FCacheNodeRef FPersistenceManager::serverCacheForQuery(const FQuerySpecRef& query) {
  FCacheNodeRef cache;
  guarded("serverCacheForQuery", [&] {
    bool complete = false;
    std::optional<std::set<std::string>> keys;
    if (trackedQueryManager_ && trackedQueryManager_->includedInDefaultCompleteQuery(*query->path())) {
      complete = true;
    } else if (FTrackedQueryRef tracked = trackedQueryManager_ ? trackedQueryManager_->findTrackedQuery(query) : nullptr;
               tracked && tracked->isComplete() && !query->loadsAllData()) {
      complete = true;
      keys = storageEngine_->trackedQueryKeysForQuery(tracked->queryId());
    } else if (trackedQueryManager_) {
      keys = trackedQueryManager_->knownCompleteChildrenAtPath(*query->path());
    }
    FNodeRef node = keys ? storageEngine_->serverCacheForKeys(*keys, query->path())
                         : storageEngine_->serverCacheAtPath(query->path());
    cache = std::make_shared<const FCacheNode>(FIndexedNode::indexedNodeWithNode(node, query->index()), complete,
                                               keys.has_value());
  });
  if (!cache) {
    cache = std::make_shared<const FCacheNode>(
        FIndexedNode::indexedNodeWithNode(FSnapshotUtilities::nodeFrom(Value()), query->index()), false, false);
  }
  return cache;
}

void FPersistenceManager::updateServerCacheWithNode(const FNodeRef& node, const FQuerySpecRef& query) {
  guarded("updateServerCacheWithNode", [&] {
    storageEngine_->updateServerCache(node, query->path(), !query->loadsAllData());
  });
  setQueryComplete(query);
  doPruneCheck();
}

void FPersistenceManager::updateServerCacheWithMerge(const FCompoundWriteRef& merge, const FPathRef& path) {
  guarded("updateServerCacheWithMerge", [&] { storageEngine_->updateServerCacheWithMerge(merge, path); });
  doPruneCheck();
}

void FPersistenceManager::applyUserWrite(const FNodeRef& node, const FPathRef& path) {
  guarded("applyUserWrite", [&] {
    if (trackedQueryManager_ && trackedQueryManager_->hasActiveDefaultQueryAtPath(*path)) return;
    storageEngine_->updateServerCache(node, path, false);
    if (trackedQueryManager_) trackedQueryManager_->ensureCompleteTrackedQueryAtPath(path);
  });
  doPruneCheck();
}

void FPersistenceManager::applyUserMerge(const FCompoundWriteRef& merge, const FPathRef& path) {
  std::vector<std::pair<FPathRef, FNodeRef>> writes;
  merge->enumerateWritesInApplyOrder([&](const FPathRef& relative, const FNodeRef& node) {
    writes.emplace_back(path->child(*relative), node);
  });
  for (const auto& [at, node] : writes) applyUserWrite(node, at);
}

void FPersistenceManager::doPruneCheck() {
  guarded("the prune check", [&] {
    if (!trackedQueryManager_) return;
    while (cachePolicy_->shouldPruneCacheWithSize(storageEngine_->serverCacheEstimatedSizeInBytes(),
                                                  trackedQueryManager_->numberOfPrunableQueries())) {
      const uint64_t prunable = trackedQueryManager_->numberOfPrunableQueries();
      if (prunable == 0) break;
      FPruneForestRef forest = trackedQueryManager_->pruneOldQueries(*cachePolicy_);
      if (forest->prunesAnything()) storageEngine_->pruneCache(forest, FPath::empty());
      // Every pass forgets at least one query, so the loop ends.
      if (trackedQueryManager_->numberOfPrunableQueries() >= prunable) break;
    }
  });
}
