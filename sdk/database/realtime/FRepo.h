#pragma once
// The engine of one database instance (one per configuration name and repository info, made and
// kept by FRepoManager). It sits between the public objects (database, reference, query), which
// call its operations, and the persistent connection, whose delegate it is. It owns the
// connection, the sync tree of server data and user writes, the sync tree of the ".info"
// pseudo-location with its data, the onDisconnect writes the server accepted, the running
// transactions, the event raiser, the optional persistence manager, the clock corrected by the
// server's time offset and the write-id counter.
//
// Threads: the constructor may run on any thread and only makes objects; it queues the start-up
// (deferredInit) on the database's one serial work queue (ZIRDatabaseQuery::sharedQueue). Every
// other operation, every connection delegate call and every block the repository hands to the
// connection, the listen providers or the persistence layer runs on that queue; the repository
// takes no lock, except around the server clock, which serverTime reads from any thread. User
// code runs only through the event raiser, on the configuration's callback queue, except the
// completion of a one-time read, which getData calls on the work queue.
//
// Ownership: blocks stored in longer-lived objects (the token listener, the listen providers, the
// background observer) and the callbacks of single requests handed to the connection (which the
// repository owns) hold the repository weakly, so no cycle keeps a disposed repository alive.
//
// Input that throws while it is applied is dropped at a boundary and the engine keeps serving:
// server input at the connection (which logs it), a persisted write at restoreWrites (logged,
// removed from storage, not re-sent). Persisted write ids that are not strictly increasing stop
// the start-up with NSInternalInconsistencyException "Restored writes were not in order!".
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NSNotificationCenter.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FEventRaiser.h"
#include "sdk/database/core/FEventRegistration.h"
#include "sdk/database/core/FOffsetClock.h"
#include "sdk/database/core/FRepoInfo.h"
#include "sdk/database/core/FSyncTree.h"
#include "sdk/database/core/FTree.h"
#include "sdk/database/realtime/FPersistentConnection.h"
#include "sdk/database/realtime/FTupleTransaction.h"
#include "sdk/database/realtime/ZIRDatabaseConfig.h"
#include "sdk/database/realtime/ZIRDatabaseReference.h"
#include "sdk/database/snapshot/FSnapshotHolder.h"
#include "sdk/database/snapshot/FSparseSnapshotTree.h"

class FPersistenceManager;
class ZIRDatabase;
class ZIRDatabaseQuery;

class FRepo : public FPersistentConnectionDelegate, public std::enable_shared_from_this<FRepo> {
 public:
  using WriteCallback = ZIRDatabaseReferenceCompletion;
  using GetCallback = std::function<void(const NSErrorRef& error, const ZIRDataSnapshotRef& snapshot)>;
  using TransactionQueue = std::vector<FTupleTransactionRef>;
  using TransactionTree = FTree<TransactionQueue>;

  static constexpr const char* kInterruptReason = "repo_interrupt";
  // A transaction sent this many times is aborted with "maxretry" at its next rerun.
  static constexpr int32_t kTransactionMaxRetries = 25;

  // initWithRepoInfo:config:database: — makes the repository and queues deferredInit.
  static std::shared_ptr<FRepo> create(FRepoInfoRef repoInfo, ZIRDatabaseConfigRef config,
                                       std::shared_ptr<ZIRDatabase> database);
  ~FRepo() override;

  // The start-up sequence; run once, by the queued block.
  void deferredInit();
  // Go offline / online (the connection's "repo_interrupt" reason).
  void interrupt();
  void resume();
  // Offline for good, the persistence manager closed, the database object let go.
  void dispose();

  std::string name() const { return repoInfo_->ns(); }
  std::string description() const { return repoInfo_->description(); }
  // The server clock's current time in seconds (with fraction). Any thread.
  double serverTime() const;
  // The next write id; the counter moves on.
  int64_t nextWriteId() { return writeIdCounter_++; }
  Value dumpListens() const { return connection_->dumpListens(); }

  // Writes. The callback (optional) is the user's completion, raised on the callback queue.
  void set(const FPathRef& path, const FNodeRef& node, WriteCallback callback);
  void update(const FPathRef& path, const FCompoundWriteRef& nodes, WriteCallback callback);
  void purgeOutstandingWrites();

  void onDisconnectSet(const FPathRef& path, const FNodeRef& node, WriteCallback callback);
  void onDisconnectUpdate(const FPathRef& path, const FCompoundWriteRef& nodes, WriteCallback callback);
  void onDisconnectCancel(const FPathRef& path, WriteCallback callback);

  // Reads and listeners.
  void getData(const std::shared_ptr<const ZIRDatabaseQuery>& query, GetCallback completion);
  void addEventRegistration(const FEventRegistrationRef& registration, const FQuerySpecRef& query);
  // A null registration removes every registration of the query.
  void removeEventRegistration(const FEventRegistrationRef& registration, const FQuerySpecRef& query);
  void keepQuery(const FQuerySpecRef& query, bool synced);

  // Transactions (FRepoTransactions.cpp).
  void startTransactionOnPath(const FPathRef& path, ZIRTransactionUpdateBlock update,
                              ZIRTransactionCompletionBlock onComplete, bool applyLocally);

  // FPersistentConnectionDelegate.
  void onDataUpdate(FPersistentConnection& connection, const std::string& pathString, const Value& message,
                    bool isMerge, std::optional<uint64_t> tagId) override;
  void onRangeMerge(const std::vector<FRangeMerge>& ranges, const std::string& pathString,
                    std::optional<uint64_t> tagId) override;
  void onConnect(FPersistentConnection& connection) override;
  void onDisconnect(FPersistentConnection& connection) override;
  void onServerInfoUpdate(FPersistentConnection& connection, const Value& updates) override;

  // Fields, for the public objects and for inspection.
  const FRepoInfoRef& repoInfo() const { return repoInfo_; }
  const ZIRDatabaseConfigRef& config() const { return config_; }
  std::shared_ptr<ZIRDatabase> database() const;
  const FPersistentConnectionRef& connection() const { return connection_; }
  const std::shared_ptr<FSyncTree>& serverSyncTree() const { return serverSyncTree_; }
  const std::shared_ptr<FSyncTree>& infoSyncTree() const { return infoSyncTree_; }
  const std::shared_ptr<FPersistenceManager>& persistenceManager() const { return persistenceManager_; }
  const std::shared_ptr<FEventRaiser>& eventRaiser() const { return eventRaiser_; }
  int64_t writeIdCounter() const { return writeIdCounter_; }
  const std::shared_ptr<TransactionTree>& transactionQueueTree() const { return transactionQueueTree_; }

  // Internal operations (public for the transaction code and tests; work queue only).
  void restoreWrites();
  void updateInfo(const std::string& key, const Value& value);
  void callOnComplete(const WriteCallback& callback, const std::string& status,
                      const std::optional<std::string>& errorReason, const FPathRef& path);
  void ackWrite(int64_t writeId, const FPathRef& path, const std::string& status);
  void warnIfWriteFailedAtPath(const FPathRef& path, const std::string& status, const std::string& message);
  void runOnDisconnectEvents();
  void setupNotifications();
  void didEnterBackground();

  // Transactions' internals (FRepoTransactions.cpp).
  void initTransactions();
  FNodeRef latestStateAtPath(const FPathRef& path, const std::optional<std::vector<int64_t>>& excludeWriteIds);
  void sendAllReadyTransactions();
  void sendReadyTransactionsForTree(const TransactionTree::Ref& node);
  void sendTransactionQueue(const TransactionQueue& queue, const FPathRef& path);
  FPathRef rerunTransactionsForPath(const FPathRef& changedPath);
  void rerunTransactionQueue(const TransactionQueue& queue, const FPathRef& path);
  FPathRef abortTransactionsAtPath(const FPathRef& path, const std::string& reason);
  void abortTransactionsAtNode(const TransactionTree::Ref& node, const std::string& reason);
  TransactionTree::Ref getAncestorTransactionNodeForPath(const FPathRef& path);
  TransactionQueue buildTransactionQueueAtNode(const TransactionTree::Ref& node);
  void aggregateTransactionQueuesForNode(const TransactionTree::Ref& node, TransactionQueue& queue);
  void pruneCompletedTransactionsBelowNode(const TransactionTree::Ref& node);

  struct Passkey {
    explicit Passkey() = default;
  };
  FRepo(Passkey, FRepoInfoRef repoInfo, ZIRDatabaseConfigRef config, std::shared_ptr<ZIRDatabase> database);

 private:
  FClockRef serverClock() const;
  void setServerClockOffset(double offsetSeconds);
  void startPersistence();
  void makeSyncTrees();
  FSyncTree& treeForQuery(const FQuerySpec& query);
  // A snapshot of a node at the query's location, indexed by its index.
  ZIRDataSnapshotRef snapshotForQuery(const std::shared_ptr<const ZIRDatabaseQuery>& query, const FNodeRef& node);
  void applyGetResult(const std::shared_ptr<const ZIRDatabaseQuery>& query, const FNodeRef& node);
  void answerGetFromCache(const std::shared_ptr<const ZIRDatabaseQuery>& query, const GetCallback& completion,
                          const std::optional<std::string>& reason);

  FRepoInfoRef repoInfo_;
  ZIRDatabaseConfigRef config_;
  mutable std::mutex databaseMutex_;
  std::shared_ptr<ZIRDatabase> database_;
  mutable std::mutex clockMutex_;
  FClockRef serverClock_;
  std::shared_ptr<FPersistenceManager> persistenceManager_;
  std::shared_ptr<FSyncTree> infoSyncTree_;
  std::shared_ptr<FSyncTree> serverSyncTree_;
  int64_t writeIdCounter_ = 0;
  std::shared_ptr<TransactionTree> transactionQueueTree_;
  bool loggedTransactionPersistenceWarning_ = false;
  FPersistentConnectionRef connection_;
  std::shared_ptr<FSnapshotHolder> infoData_;
  std::shared_ptr<FSparseSnapshotTree> onDisconnect_;
  std::shared_ptr<FEventRaiser> eventRaiser_;
  NSObserverTokenRef backgroundObserver_;
};

using FRepoRef = std::shared_ptr<FRepo>;
