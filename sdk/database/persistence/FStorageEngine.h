#pragma once
// The store under the local persistence: pending user writes, the server cache and the tracked
// queries with their key sets. FLevelDBStorageEngine is the one the product uses; a config may
// force another (forceStorageEngine).
//
// Contract: every call is made on the database's work queue, one at a time. Calls report no
// errors to the caller: an engine that meets a storage failure or a stored record it cannot read
// logs a clear error and carries on with what it can read, so the client keeps running on its
// memory. Reads never return null nodes (the empty node stands for nothing stored). No call may
// follow close.
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FWriteRecord.h"
#include "sdk/database/persistence/FPruneForest.h"
#include "sdk/database/persistence/FTrackedQuery.h"
#include "sdk/database/snapshot/FNode.h"

class FStorageEngine {
 public:
  virtual ~FStorageEngine() = default;
  virtual void close() = 0;

  // User writes, stored unresolved (server-value placeholders kept) under their ids.
  virtual void saveUserOverwrite(const FNodeRef& node, const FPathRef& path, int64_t writeId) = 0;
  virtual void saveUserMerge(const FCompoundWriteRef& merge, const FPathRef& path, int64_t writeId) = 0;
  virtual void removeUserWrite(int64_t writeId) = 0;
  virtual void removeAllUserWrites() = 0;
  // Every stored write that can be read, in ascending write id.
  virtual std::vector<FWriteRecordRef> userWrites() = 0;

  // The server cache.
  virtual FNodeRef serverCacheAtPath(const FPathRef& path) = 0;
  // Only the listed children of the node at the path.
  virtual FNodeRef serverCacheForKeys(const std::set<std::string>& keys, const FPathRef& path) = 0;
  // Replaces the data at the path with the node; with `merge` only the node's children replace
  // theirs and the others stay.
  virtual void updateServerCache(const FNodeRef& node, const FPathRef& path, bool merge) = 0;
  virtual void updateServerCacheWithMerge(const FCompoundWriteRef& merge, const FPathRef& path) = 0;
  // The estimated size of the stored server data (estimateSerializedNodeSize of what is stored,
  // plus its paths).
  virtual uint64_t serverCacheEstimatedSizeInBytes() = 0;
  // Removes the server data that the forest, rooted at `path`, prunes.
  virtual void pruneCache(const FPruneForestRef& forest, const FPathRef& path) = 0;

  // Tracked queries and the child keys of filtered ones.
  virtual std::vector<FTrackedQueryRef> loadTrackedQueries() = 0;
  virtual void saveTrackedQuery(const FTrackedQueryRef& query) = 0;
  // Removes the query and its keys.
  virtual void removeTrackedQuery(uint64_t queryId) = 0;
  virtual void setTrackedQueryKeys(const std::set<std::string>& keys, uint64_t queryId) = 0;
  virtual void updateTrackedQueryKeys(const std::set<std::string>& added, const std::set<std::string>& removed,
                                      uint64_t queryId) = 0;
  virtual std::set<std::string> trackedQueryKeysForQuery(uint64_t queryId) = 0;
};

using FStorageEngineRef = std::shared_ptr<FStorageEngine>;
