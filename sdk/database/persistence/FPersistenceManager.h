#pragma once
// The local persistence of one repository: the front over one storage engine that the sync tree
// (through FSyncPersistence) and the repository call. It stores pending user writes, keeps the
// server cache with its tracked queries, reads the cache back for new views, and prunes the
// least recently used data when the cache policy says so (checked after every change of the
// server cache).
//
// Owned by the repository; every call is made on the work queue. The manager is the boundary
// between stored bytes and the engine: whatever a call meets that throws (a stored query that does
// not parse, data that does not convert) is logged and dropped there, and the engine keeps
// serving. No call may follow close; one that does is logged and ignored.
#include <memory>

#include "sdk/database/core/FClock.h"
#include "sdk/database/core/FSyncPersistence.h"
#include "sdk/database/persistence/FCachePolicy.h"
#include "sdk/database/persistence/FStorageEngine.h"
#include "sdk/database/persistence/FTrackedQueryManager.h"

class FPersistenceManager : public FSyncPersistence {
 public:
  // `clock` dates the use of tracked queries; the system clock by default.
  FPersistenceManager(FStorageEngineRef storageEngine, std::shared_ptr<const FCachePolicy> cachePolicy,
                      FClockRef clock = nullptr);

  void close();

  std::vector<FWriteRecordRef> userWrites() override;
  void saveUserOverwrite(const FNodeRef& node, const FPathRef& path, int64_t writeId) override;
  void saveUserMerge(const FCompoundWriteRef& merge, const FPathRef& path, int64_t writeId) override;
  void removeUserWrite(int64_t writeId) override;
  void removeAllUserWrites() override;

  void setQueryActive(const FQuerySpecRef& query) override;
  void setQueryInactive(const FQuerySpecRef& query) override;
  void setQueryComplete(const FQuerySpecRef& query) override;
  void setTrackedQueryKeys(const std::set<std::string>& keys, const FQuerySpecRef& query) override;
  void updateTrackedQueryKeysWithAddedKeys(const std::set<std::string>& added, const std::set<std::string>& removed,
                                           const FQuerySpecRef& query) override;

  FCacheNodeRef serverCacheForQuery(const FQuerySpecRef& query) override;
  void updateServerCacheWithNode(const FNodeRef& node, const FQuerySpecRef& query) override;
  void updateServerCacheWithMerge(const FCompoundWriteRef& merge, const FPathRef& path) override;
  void applyUserWrite(const FNodeRef& node, const FPathRef& path) override;
  void applyUserMerge(const FCompoundWriteRef& merge, const FPathRef& path) override;

  // For tests and diagnostics.
  const FStorageEngineRef& storageEngine() const { return storageEngine_; }
  FTrackedQueryManager* trackedQueryManager() const { return trackedQueryManager_.get(); }

 private:
  // Runs `work` unless closed, logging and dropping whatever it throws.
  bool guarded(const char* operation, const std::function<void()>& work);
  void doPruneCheck();

  FStorageEngineRef storageEngine_;
  std::shared_ptr<const FCachePolicy> cachePolicy_;
  std::unique_ptr<FTrackedQueryManager> trackedQueryManager_;
  bool closed_ = false;
};

using FPersistenceManagerRef = std::shared_ptr<FPersistenceManager>;
