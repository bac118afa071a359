#pragma once
// The client's local model of everything listened to and of every user write the server has not
// acknowledged yet: one sync point at each path that has a view, the pending write tree, the tags
// of filtered queries, and the kept-synced queries. Every change (a user write, an
// acknowledgement, server data, a listen's completion or failure, a listener added or removed)
// becomes an operation pushed down the tree of sync points, and returns the events it produces, in
// the order they are to be raised; the tree raises nothing itself. Listens are sent and withdrawn
// through the listen provider's two blocks.
//
// All calls run on the database's serial work queue; the tree holds no lock (its tag counter has
// its own). Make it with std::make_shared: the completions of its listens hold it weakly.
//
// Input from the server that the tree cannot apply (data tagged for a query but outside its path,
// a range merge for another path than its query's) raises "ZirezizeDatabaseInternalError" before
// anything is changed, for the connection to catch and drop. A query limit outside
// 1...2147483647 raises NSInvalidArgumentException before the query reaches a view.
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "sdk/database/core/FAtomicNumber.h"
#include "sdk/database/core/FClock.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FEventRegistration.h"
#include "sdk/database/core/FImmutableTree.h"
#include "sdk/database/core/FOperation.h"
#include "sdk/database/core/FRangeMerge.h"
#include "sdk/database/core/FSyncPersistence.h"
#include "sdk/database/core/FSyncPoint.h"
#include "sdk/database/core/FWriteTree.h"

class FListenContainer;

struct FQuerySpecHash {
  size_t operator()(const FQuerySpecRef& query) const { return static_cast<size_t>(query->hash()); }
};
struct FQuerySpecEqual {
  bool operator()(const FQuerySpecRef& a, const FQuerySpecRef& b) const { return a->isEqual(*b); }
};

class FSyncTree : public std::enable_shared_from_this<FSyncTree> {
 public:
  using SyncPointTree = FImmutableTree<FSyncPointRef>;

  // initWithPersistenceManager:listenProvider: (the persistence manager may be null).
  FSyncTree(FSyncPersistenceRef persistenceManager, FListenProvider listenProvider);
  // initWithListenProvider:, without persistence (the ".info" tree).
  explicit FSyncTree(FListenProvider listenProvider);

  // User writes (ids chosen by the repository, increasing).
  FEventList applyUserOverwriteAtPath(const FPathRef& path, const FNodeRef& newData, int64_t writeId, bool isVisible);
  FEventList applyUserMergeAtPath(const FPathRef& path, const FCompoundWriteRef& changedChildren, int64_t writeId);
  // The id must be that of a pending write; an unknown id raises "ZirezizeDatabaseInternalError".
  FEventList ackUserWriteWithWriteId(int64_t writeId, bool revert, bool persist, const FClock& clock);
  FEventList removeAllWrites();

  // Server data.
  FEventList applyServerOverwriteAtPath(const FPathRef& path, const FNodeRef& newData);
  FEventList applyServerMergeAtPath(const FPathRef& path, const FCompoundWriteRef& changedChildren);
  FEventList applyServerRangeMergeAtPath(const FPathRef& path, const std::vector<FRangeMerge>& updates);
  FEventList applyListenCompleteAtPath(const FPathRef& path);
  // Data the server sent for one tagged query; an unknown tag (the query went meanwhile) is ignored.
  FEventList applyTaggedQueryOverwriteAtPath(const FPathRef& path, const FNodeRef& newData, uint64_t tagId);
  FEventList applyTaggedQueryMergeAtPath(const FPathRef& path, const FCompoundWriteRef& changedChildren,
                                         uint64_t tagId);
  FEventList applyTaggedServerRangeMergeAtPath(const FPathRef& path, const std::vector<FRangeMerge>& updates,
                                               uint64_t tagId);
  FEventList applyTaggedListenCompleteAtPath(const FPathRef& path, uint64_t tagId);

  // Listeners. addEventRegistration returns the registration's initial events; removing with a
  // null registration removes every registration of the query and returns the cancel events.
  FEventList addEventRegistration(const FEventRegistrationRef& registration, const FQuerySpecRef& query);
  FEventList removeEventRegistration(const FEventRegistrationRef& registration, const FQuerySpecRef& query,
                                     const NSErrorRef& cancelError);
  void keepQuery(const FQuerySpecRef& query, bool synced);

  // What the user would see at the path with the listed writes left out (hidden writes included),
  // or null when it is not known completely. For transactions and server values.
  FNodeRef calcCompleteEventCacheAtPath(const FPathRef& path, const std::optional<std::vector<int64_t>>& excludeWriteIds);
  // The complete event cache of the query's view at the query's own path, or null.
  FNodeRef getServerValue(const FQuerySpecRef& query);
  // What the query selects (order, range and limit applied) of the persisted server data, when
  // that data is stored complete for the query and is not empty; else null.
  FNodeRef persistenceServerCache(const FQuerySpecRef& query);

  // For inspection by the repository and tests.
  const std::shared_ptr<FWriteTree>& pendingWriteTree() const { return pendingWriteTree_; }
  const SyncPointTree::Ref& syncPointTree() const { return syncPointTree_; }
  std::optional<uint64_t> tagForQuery(const FQuerySpecRef& query) const;
  FQuerySpecRef queryForTag(uint64_t tagId) const;

 private:
  // Operations are held by shared pointers: narrowing one to a child may hand back the operation.
  FEventList applyOperationToSyncPoints(const FOperationRef& operation);
  FEventList applyOperationHelper(const FOperation& operation, const SyncPointTree::Ref& syncPointTree,
                                  FNodeRef serverCache, const FWriteTreeRefPtr& writesCache);
  FEventList applyOperationDescendantsHelper(const FOperation& operation, const SyncPointTree::Ref& syncPointTree,
                                             FNodeRef serverCache, const FWriteTreeRefPtr& writesCache);
  FEventList applyTaggedOperation(const FOperation& operation, const FPathRef& queryPath);
  FCacheNodeRef serverCacheForQuery(const FQuerySpecRef& query);
  FEventList setupListenerOnQuery(const FQuerySpecRef& query, const FViewRef& view);
  std::shared_ptr<const FListenContainer> createListenerForView(const FViewRef& view);
  static FQuerySpecRef queryForListening(const FQuerySpecRef& query);
  void removeTags(const std::vector<FQuerySpecRef>& queries);
  std::vector<FViewRef> collectDistinctViewsForSubTree(const SyncPointTree::Ref& subtree) const;
  // Whether the server data of every view at or below the path agrees with the node, which a
  // listen of all the data at the path reports to the server as what the client holds there.
  bool viewsAgreeWithListenedData(const FPathRef& path, const FNodeRef& node) const;
  // The query with a path that must lie within the query's path; raises otherwise.
  static FPathRef relativePathForTaggedData(const FQuerySpec& query, const FPathRef& path);

  SyncPointTree::Ref syncPointTree_;
  std::shared_ptr<FWriteTree> pendingWriteTree_;
  // The pending writes bound to the root, where every operation starts its walk (it keeps the
  // children it was last asked for).
  FWriteTreeRefPtr rootWrites_;
  std::unordered_map<uint64_t, FQuerySpecRef> tagToQueryMap_;
  std::unordered_map<FQuerySpecRef, uint64_t, FQuerySpecHash, FQuerySpecEqual> queryToTagMap_;
  FListenProvider listenProvider_;
  FSyncPersistenceRef persistenceManager_;
  FAtomicNumber queryTagCounter_;
  std::unordered_set<FQuerySpecRef, FQuerySpecHash, FQuerySpecEqual> keepSyncedQueries_;
};
