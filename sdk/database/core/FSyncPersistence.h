#pragma once
// The local persistence as the synchronisation engine uses it: the pending user writes, the cached
// server data and the tracked queries that survive a restart. The persistence manager implements
// it over its storage engine; a sync tree built without one skips every call and treats a
// persisted server cache as absent.
//
// Every call is made on the database's serial work queue; an implementation needs no locking of
// its own against the engine. Calls report no errors: an implementation that meets a storage
// failure logs it and carries on, so the engine keeps serving from memory.
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sdk/database/core/FCacheNode.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FQueryParams.h"
#include "sdk/database/core/FWriteRecord.h"
#include "sdk/database/snapshot/FNode.h"

class FSyncPersistence {
 public:
  virtual ~FSyncPersistence() = default;

  // User writes --------------------------------------------------------------------------------
  // The stored user writes, sorted by write id.
  virtual std::vector<FWriteRecordRef> userWrites() = 0;
  // Store a user write under its id until it is removed (saveUserOverwrite:atPath:writeId:,
  // saveUserMerge:atPath:writeId:).
  virtual void saveUserOverwrite(const FNodeRef& node, const FPathRef& path, int64_t writeId) = 0;
  virtual void saveUserMerge(const FCompoundWriteRef& merge, const FPathRef& path, int64_t writeId) = 0;
  virtual void removeUserWrite(int64_t writeId) = 0;
  virtual void removeAllUserWrites() = 0;

  // Tracked queries ----------------------------------------------------------------------------
  virtual void setQueryActive(const FQuerySpecRef& query) = 0;
  virtual void setQueryInactive(const FQuerySpecRef& query) = 0;
  // For a query that loads all data every tracked query at its path becomes complete; otherwise
  // that one tracked query.
  virtual void setQueryComplete(const FQuerySpecRef& query) = 0;
  // Replaces the stored key set of the query's tracked query (setTrackedQueryKeys:forQuery:).
  virtual void setTrackedQueryKeys(const std::set<std::string>& keys, const FQuerySpecRef& query) = 0;
  // updateTrackedQueryKeysWithAddedKeys:removedKeys:forQuery:
  virtual void updateTrackedQueryKeysWithAddedKeys(const std::set<std::string>& added,
                                                   const std::set<std::string>& removed,
                                                   const FQuerySpecRef& query) = 0;

  // Server cache -------------------------------------------------------------------------------
  // The stored server data for the query, indexed by the query's index; never null. Fully
  // initialised when the tracked query is complete, filtered when it was read by a key set.
  virtual FCacheNodeRef serverCacheForQuery(const FQuerySpecRef& query) = 0;
  // Stores server data for a query (child by child when it does not load all data) and marks the
  // query complete (updateServerCacheWithNode:forQuery:).
  virtual void updateServerCacheWithNode(const FNodeRef& node, const FQuerySpecRef& query) = 0;
  // updateServerCacheWithMerge:atPath:
  virtual void updateServerCacheWithMerge(const FCompoundWriteRef& merge, const FPathRef& path) = 0;
  // An acknowledged user write becomes server data, unless an active default query is tracked at
  // the path (applyUserWrite:toServerCacheAtPath:, applyUserMerge:toServerCacheAtPath:).
  virtual void applyUserWrite(const FNodeRef& node, const FPathRef& path) = 0;
  virtual void applyUserMerge(const FCompoundWriteRef& merge, const FPathRef& path) = 0;
};

using FSyncPersistenceRef = std::shared_ptr<FSyncPersistence>;
