#pragma once
// The bookkeeping of which queries' server data the local cache holds: every tracked query with
// its completeness, activity and last use, kept in memory by path and written through to the
// storage engine. It answers which cached data is complete, and chooses what a prune removes
// (the least recently used inactive queries) as a prune forest.
//
// Owned by the persistence manager; used on the work queue only. A query that loads all data is
// tracked as the default query of its path.
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "sdk/database/core/FClock.h"
#include "sdk/database/core/FImmutableTree.h"
#include "sdk/database/persistence/FCachePolicy.h"
#include "sdk/database/persistence/FPruneForest.h"
#include "sdk/database/persistence/FStorageEngine.h"
#include "sdk/database/persistence/FTrackedQuery.h"

class FTrackedQueryManager {
 public:
  // Loads the stored tracked queries; those that were active when the client last stopped become
  // inactive, used now.
  FTrackedQueryManager(FStorageEngineRef storageEngine, FClockRef clock);

  FTrackedQueryRef findTrackedQuery(const FQuerySpecRef& query) const;
  void removeTrackedQuery(const FQuerySpecRef& query);

  // Creates the tracked query when there is none; either way it is used now.
  void setQueryActive(const FQuerySpecRef& query);
  void setQueryInactive(const FQuerySpecRef& query);
  void setQueryComplete(const FQuerySpecRef& query);
  // Every tracked query at the path becomes complete.
  void setQueriesCompleteAtPath(const FPath& path);
  // Makes sure the data at the path counts as complete: a complete default query covers it, or
  // one is made at the path.
  void ensureCompleteTrackedQueryAtPath(const FPathRef& path);

  // Whether a complete default query is tracked at the path or above it.
  bool includedInDefaultCompleteQuery(const FPath& path) const;
  bool hasActiveDefaultQueryAtPath(const FPath& path) const;
  // The children of the path known completely: the keys of complete filtered queries at the path
  // and the children that have a complete default query of their own.
  std::set<std::string> knownCompleteChildrenAtPath(const FPath& path) const;

  uint64_t numberOfPrunableQueries() const;
  // Forgets the least recently used inactive queries that the policy lets go and returns the
  // forest that removes their data while keeping the data of every query that stays.
  FPruneForestRef pruneOldQueries(const FCachePolicy& policy);

 private:
  // The tracked queries at one path, by the wire form of their parameters.
  using QueriesAtPath = std::shared_ptr<const std::map<std::string, FTrackedQueryRef>>;
  using QueryTree = FImmutableTree<QueriesAtPath>;

  static FQuerySpecRef normalize(const FQuerySpecRef& query);
  static std::string paramsKey(const FQuerySpec& query);
  void cacheTrackedQuery(const FTrackedQueryRef& query);
  void saveTrackedQuery(const FTrackedQueryRef& query);
  void setQueryActiveFlag(const FQuerySpecRef& query, bool isActive);
  std::vector<FTrackedQueryRef> queriesMatching(const std::function<bool(const FTrackedQuery&)>& predicate) const;

  FStorageEngineRef storageEngine_;
  FClockRef clock_;
  QueryTree::Ref trackedQueryTree_;
  uint64_t nextQueryId_ = 0;
};
