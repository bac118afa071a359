#include "sdk/database/realtime/FRepo.h"

#include <algorithm>
#include <climits>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSException.h"
#include "sdk/database/core/FFLog.h"
#include "sdk/database/core/FServerValues.h"
#include "sdk/database/core/FSystemClock.h"
#include "sdk/database/persistence/FCachePolicy.h"
#include "sdk/database/persistence/FLevelDBStorageEngine.h"
#include "sdk/database/persistence/FPersistenceManager.h"
#include "sdk/database/realtime/FAuthTokenProvider.h"
#include "sdk/database/realtime/ZIRDatabase.h"
#include "sdk/database/realtime/ZIRDatabaseQuery.h"
#include "sdk/database/snapshot/FIndexedNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace {

constexpr const char* kStatusOk = "ok";
constexpr const char* kStatusWriteCanceled = "write_canceled";
constexpr const char* kInfoKey = ".info";
// The platform's notification of the application entering the background.
constexpr const char* kDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";

std::string json(const Value& value) { return value::toJSON(value); }

// The existing value a write's server values resolve against, read only when a placeholder asks
// for it (most writes hold none, and the read walks every pending write) and then at most once.
class LazyExistingValueProvider : public ValueProvider {
 public:
  explicit LazyExistingValueProvider(std::function<FNodeRef()> read) : read_(std::move(read)) {}
  ValueProviderRef getChild(const std::string& key) const override {
    FNodeRef node = value();
    return std::make_shared<const ExistingValueProvider>(node ? node->getImmediateChild(key) : nullptr);
  }
  FNodeRef value() const override {
    if (!readDone_) {
      existing_ = read_();
      readDone_ = true;
    }
    return existing_;
  }

 private:
  std::function<FNodeRef()> read_;
  mutable bool readDone_ = false;
  mutable FNodeRef existing_;
};

}  // namespace

std::shared_ptr<FRepo> FRepo::create(FRepoInfoRef repoInfo, ZIRDatabaseConfigRef config,
                                     std::shared_ptr<ZIRDatabase> database) {
  auto repo = std::make_shared<FRepo>(Passkey{}, std::move(repoInfo), std::move(config), std::move(database));
  ZIRDatabaseQuery::sharedQueue()->async([repo] { repo->deferredInit(); });
  return repo;
}

FRepo::FRepo(Passkey, FRepoInfoRef repoInfo, ZIRDatabaseConfigRef config, std::shared_ptr<ZIRDatabase> database)
    : repoInfo_(std::move(repoInfo)),
      config_(std::move(config)),
      database_(std::move(database)),
      serverClock_(std::make_shared<const FOffsetClock>(FSystemClock::clock(), 0.0)),
      connection_(std::make_shared<FPersistentConnection>(repoInfo_, ZIRDatabaseQuery::sharedQueue(), config_)),
      eventRaiser_(std::make_shared<FEventRaiser>(config_->callbackQueue())) {}

FRepo::~FRepo() = default;

std::shared_ptr<ZIRDatabase> FRepo::database() const {
  std::lock_guard<std::mutex> lock(databaseMutex_);
  return database_;
}

FClockRef FRepo::serverClock() const {
  std::lock_guard<std::mutex> lock(clockMutex_);
  return serverClock_;
}

void FRepo::setServerClockOffset(double offsetSeconds) {
  auto clock = std::make_shared<const FOffsetClock>(FSystemClock::clock(), offsetSeconds);
  std::lock_guard<std::mutex> lock(clockMutex_);
  serverClock_ = std::move(clock);
}

double FRepo::serverTime() const { return serverClock()->currentTime(); }

// -- Start-up and life ----------------------------------------------------------------------------

void FRepo::deferredInit() {
  std::weak_ptr<FRepo> weak = weak_from_this();
  if (std::shared_ptr<FAuthTokenProvider> provider = config_->authTokenProvider()) {
    // The provider may call from any thread; the connection is used on the work queue only.
    provider->listenForTokenChanges([weak](const std::optional<std::string>& token) {
      ZIRDatabaseQuery::sharedQueue()->async([weak, token] {
        if (auto self = weak.lock()) self->connection_->refreshAuthToken(token);
      });
    });
  }
  connection_->setDelegate(weak);
  connection_->open();

  if (config_->persistenceEnabled()) startPersistence();
  initTransactions();
  onDisconnect_ = std::make_shared<FSparseSnapshotTree>();
  infoData_ = std::make_shared<FSnapshotHolder>();
  makeSyncTrees();
  restoreWrites();
  updateInfo("connected", Value(false));
  setupNotifications();
}

void FRepo::startPersistence() {
  const std::string folder = config_->sessionIdentifier() + "/" + repoInfo_->host() + "_" + repoInfo_->ns();
  try {
    FStorageEngineRef engine = config_->forceStorageEngine();
    if (!engine) {
      auto leveldb = std::make_shared<FLevelDBStorageEngine>(folder);
      leveldb->runLegacyMigration(*repoInfo_);
      engine = leveldb;
    }
    persistenceManager_ = std::make_shared<FPersistenceManager>(
        engine, std::make_shared<const FLRUCachePolicy>(config_->persistenceCacheSizeBytes()));
  } catch (const std::exception& e) {
    // The data stays in memory only; every write is still applied and sent.
    FFLogError("I-RDB038025", "The local cache in \"%s\" could not be opened (%s); the database keeps its data in "
               "memory only until the next start.", folder.c_str(), e.what());
    persistenceManager_.reset();
  }
}

void FRepo::makeSyncTrees() {
  std::weak_ptr<FRepo> weak = weak_from_this();

  // ".info" data is local: a listen is answered at once from what the repository holds, and a
  // location never set is never answered.
  FListenProvider infoProvider;
  infoProvider.startListening = [weak](const FQuerySpecRef& query, std::optional<uint64_t>, const FSyncTreeHashRef&,
                                       const FListenProvider::Completion& onComplete) -> FEventList {
    std::shared_ptr<FRepo> self = weak.lock();
    if (!self) return {};
    FNodeRef node = self->infoData_->getNode(query->path());
    if (node->isEmpty()) return {};
    FEventList events = self->infoSyncTree_->applyServerOverwriteAtPath(query->path(), node);
    // The sync tree belongs to the work queue: the completion runs there too, after this call
    // has returned (it adds no events: the data is already in the view).
    ZIRDatabaseQuery::sharedQueue()->async([weak, onComplete] {
      if (weak.lock()) onComplete(kStatusOk);
    });
    return events;
  };
  infoProvider.stopListening = [](const FQuerySpecRef&, std::optional<uint64_t>) {};
  infoSyncTree_ = std::make_shared<FSyncTree>(infoProvider);

  FListenProvider serverProvider;
  serverProvider.startListening = [weak](const FQuerySpecRef& query, std::optional<uint64_t> tagId,
                                         const FSyncTreeHashRef& hash,
                                         const FListenProvider::Completion& onComplete) -> FEventList {
    std::shared_ptr<FRepo> self = weak.lock();
    if (!self) return {};
    self->connection_->listen(query, tagId, hash, [weak, onComplete](const std::string& status) {
      std::shared_ptr<FRepo> repo = weak.lock();
      if (!repo) return;
      repo->eventRaiser_->raiseEvents(onComplete(status));
    });
    return {};
  };
  serverProvider.stopListening = [weak](const FQuerySpecRef& query, std::optional<uint64_t> tagId) {
    if (std::shared_ptr<FRepo> self = weak.lock()) self->connection_->unlisten(query, tagId);
  };
  serverSyncTree_ = std::make_shared<FSyncTree>(persistenceManager_, serverProvider);
}

void FRepo::interrupt() { connection_->interruptForReason(kInterruptReason); }

void FRepo::resume() { connection_->resumeForReason(kInterruptReason); }

void FRepo::dispose() {
  connection_->interruptForReason(kInterruptReason);
  if (persistenceManager_) persistenceManager_->close();
  // The database object holds the repository: letting it go ends the cycle. It is destroyed, if
  // this was its last holder, after the lock is released.
  std::shared_ptr<ZIRDatabase> released;
  std::lock_guard<std::mutex> lock(databaseMutex_);
  released.swap(database_);
}

// -- Restoring persisted writes -------------------------------------------------------------------

void FRepo::restoreWrites() {
  if (!persistenceManager_) return;
  std::vector<FWriteRecordRef> writes = persistenceManager_->userWrites();
  const Value serverValues = FServerValues::generateServerValues(*serverClock());
  auto reader = [this](const FPathRef& path) {
    return serverSyncTree_->calcCompleteEventCacheAtPath(path, std::vector<int64_t>{});
  };
  std::weak_ptr<FRepo> weak = weak_from_this();
  int64_t lastWriteId = INT64_MIN;
  for (const FWriteRecordRef& write : writes) {
    const int64_t writeId = write->writeId();
    // The ids after a restored write follow it: one without room above it is not restored (a
    // storage engine of the application's own may hand back anything). It stays where it is stored.
    if (!FWriteRecord::isStorableWriteId(writeId)) {
      FFLogError("I-RDB038030", "Skipping the stored write %lld at %s: its id lies beyond the ids a client hands out.",
                 static_cast<long long>(writeId), write->path()->toString().c_str());
      continue;
    }
    if (writeId <= lastWriteId) {
      NSException::raise(NSInternalInconsistencyException, "Restored writes were not in order!");
    }
    lastWriteId = writeId;
    writeIdCounter_ = writeId + 1;
    const FPathRef path = write->path();
    auto callback = [weak, path, writeId](const std::string& status, const std::optional<std::string>&) {
      std::shared_ptr<FRepo> self = weak.lock();
      if (!self) return;
      self->warnIfWriteFailedAtPath(path, status, "Persisted write");
      self->ackWrite(writeId, path, status);
    };
    // A stored write that cannot be applied is dropped here, with its record, and not sent: the
    // others are restored and the engine keeps serving.
    try {
      if (write->isOverwrite()) {
        FFLogDebug("I-RDB038001", "Restoring overwrite with id %lld", static_cast<long long>(writeId));
        FNodeRef resolved =
            FServerValues::resolveDeferredValueSnapshotWithReader(write->overwrite(), reader, path, serverValues);
        serverSyncTree_->applyUserOverwriteAtPath(path, resolved, writeId, true);
        connection_->putData(write->overwrite()->valForExport(true), path->toString(), std::nullopt, callback);
      } else {
        FFLogDebug("I-RDB038002", "Restoring merge with id %lld", static_cast<long long>(writeId));
        FCompoundWriteRef resolved =
            FServerValues::resolveDeferredValueCompoundWrite(write->compoundWrite(), reader, path, serverValues);
        serverSyncTree_->applyUserMergeAtPath(path, resolved, writeId);
        connection_->mergeData(write->compoundWrite()->valForExport(true), path->toString(), callback);
      }
    } catch (const std::exception& e) {
      FFLogError("I-RDB038026", "Dropping the stored write %lld at %s: it cannot be applied (%s).",
                 static_cast<long long>(writeId), path->toString().c_str(), e.what());
      try {
        if (serverSyncTree_->pendingWriteTree()->writeForId(writeId)) {
          serverSyncTree_->ackUserWriteWithWriteId(writeId, true, true, *serverClock());
        }
        persistenceManager_->removeUserWrite(writeId);
      } catch (const std::exception& again) {
        FFLogError("I-RDB038026", "The stored write %lld could not be removed either (%s).",
                   static_cast<long long>(writeId), again.what());
      }
    }
  }
}

// -- Writes ---------------------------------------------------------------------------------------

void FRepo::set(const FPathRef& path, const FNodeRef& node, WriteCallback callback) {
  Value value = node->valForExport(true);
  FFLogDebug("I-RDB038003", "Setting: %s with %s pri: %s", path->toString().c_str(), json(value).c_str(),
             json(node->getPriority()->val()).c_str());
  // Without a placeholder in the node its resolution is the node itself: nothing is walked or made.
  FNodeRef newNode = node;
  if (FServerValues::holdsServerValue(*node)) {
    const Value serverValues = FServerValues::generateServerValues(*serverClock());
    LazyExistingValueProvider existing(
        [&] { return serverSyncTree_->calcCompleteEventCacheAtPath(path, std::vector<int64_t>{}); });
    newNode = FServerValues::resolveDeferredValueSnapshot(node, existing, serverValues);
  }
  const int64_t writeId = nextWriteId();
  if (persistenceManager_) persistenceManager_->saveUserOverwrite(node, path, writeId);
  eventRaiser_->raiseEvents(serverSyncTree_->applyUserOverwriteAtPath(path, newNode, writeId, true));

  std::weak_ptr<FRepo> weak = weak_from_this();
  connection_->putData(std::move(value), path->toString(), std::nullopt,
                       [weak, path, writeId, callback](const std::string& status,
                                                       const std::optional<std::string>& reason) {
                         std::shared_ptr<FRepo> self = weak.lock();
                         if (!self) return;
                         self->warnIfWriteFailedAtPath(path, status, "setValue: or removeValue:");
                         self->ackWrite(writeId, path, status);
                         self->callOnComplete(callback, status, reason, path);
                       });
  rerunTransactionsForPath(abortTransactionsAtPath(path, "set"));
}

void FRepo::update(const FPathRef& path, const FCompoundWriteRef& nodes, WriteCallback callback) {
  const Value value = nodes->valForExport(true);
  FFLogDebug("I-RDB038004", "Updating: %s with %s", path->toString().c_str(), json(value).c_str());
  const Value serverValues = FServerValues::generateServerValues(*serverClock());
  auto reader = [this](const FPathRef& at) {
    return serverSyncTree_->calcCompleteEventCacheAtPath(at, std::vector<int64_t>{});
  };
  FCompoundWriteRef resolved = FServerValues::resolveDeferredValueCompoundWrite(nodes, reader, path, serverValues);
  if (resolved->isEmpty()) {
    FFLogDebug("I-RDB038006", "update called with empty data. Doing nothing");
    callOnComplete(callback, kStatusOk, std::nullopt, path);
    return;
  }
  const int64_t writeId = nextWriteId();
  if (persistenceManager_) persistenceManager_->saveUserMerge(nodes, path, writeId);
  eventRaiser_->raiseEvents(serverSyncTree_->applyUserMergeAtPath(path, resolved, writeId));

  std::weak_ptr<FRepo> weak = weak_from_this();
  connection_->mergeData(value, path->toString(),
                         [weak, path, writeId, callback](const std::string& status,
                                                         const std::optional<std::string>& reason) {
                           std::shared_ptr<FRepo> self = weak.lock();
                           if (!self) return;
                           self->warnIfWriteFailedAtPath(path, status, "updateChildValues:");
                           self->ackWrite(writeId, path, status);
                           self->callOnComplete(callback, status, reason, path);
                         });
  nodes->enumerateWrites([&](const FPathRef& relative, const FNodeRef&, bool*) {
    FPathRef pathPlusRelative = path->child(*relative);
    FFLogDebug("I-RDB038005", "Cancelling transactions at path: %s", pathPlusRelative->toString().c_str());
    rerunTransactionsForPath(abortTransactionsAtPath(pathPlusRelative, "set"));
  });
}

void FRepo::callOnComplete(const WriteCallback& callback, const std::string& status,
                           const std::optional<std::string>& errorReason, const FPathRef& path) {
  if (!callback) return;
  auto ref = std::make_shared<const ZIRDatabaseReference>(shared_from_this(), path);
  NSErrorRef error = status == kStatusOk ? nullptr : FUtilities::errorForStatus(status, errorReason);
  eventRaiser_->raiseCallback([callback, error, ref] { callback(error, ref); });
}

void FRepo::ackWrite(int64_t writeId, const FPathRef& path, const std::string& status) {
  if (status == kStatusWriteCanceled) return;  // already gone from the sync tree
  // A purge may have removed the write after the server answered it, while the answer waited in
  // the connection for a listen's data: nothing is left to acknowledge, and the caller still gets
  // the server's answer.
  if (!serverSyncTree_->pendingWriteTree()->writeForId(writeId)) return;
  FEventList events = serverSyncTree_->ackUserWriteWithWriteId(writeId, status != kStatusOk, true, *serverClock());
  // Raised before a rerun raises its own events, which describe a later state.
  eventRaiser_->raiseEvents(events);
  if (!events.empty()) rerunTransactionsForPath(path);
}

void FRepo::warnIfWriteFailedAtPath(const FPathRef& path, const std::string& status, const std::string& message) {
  if (status == kStatusOk || status == kStatusWriteCanceled) return;
  FFLogWarn("I-RDB038012", "%s at %s failed: %s", message.c_str(), path->toString().c_str(), status.c_str());
}

void FRepo::purgeOutstandingWrites() {
  FFLogDebug("I-RDB038010", "Purging outstanding writes");
  eventRaiser_->raiseEvents(serverSyncTree_->removeAllWrites());
  abortTransactionsAtPath(FPath::empty(), kStatusWriteCanceled);
  connection_->purgeOutstandingWrites();
}

// -- onDisconnect ---------------------------------------------------------------------------------

void FRepo::onDisconnectSet(const FPathRef& path, const FNodeRef& node, WriteCallback callback) {
  std::weak_ptr<FRepo> weak = weak_from_this();
  connection_->onDisconnectPutData(
      node->valForExport(true), path,
      [weak, path, node, callback](const std::string& status, const std::optional<std::string>& reason) {
        std::shared_ptr<FRepo> self = weak.lock();
        if (!self) return;
        if (status == kStatusOk) {
          self->onDisconnect_->rememberData(node, path);
        } else {
          FFLogWarn("I-RDB038008", "onDisconnectSetValue: or onDisconnectRemoveValue: at %s failed: %s",
                    path->toString().c_str(), status.c_str());
        }
        self->callOnComplete(callback, status, reason, path);
      });
}

void FRepo::onDisconnectUpdate(const FPathRef& path, const FCompoundWriteRef& nodes, WriteCallback callback) {
  if (nodes->isEmpty()) {
    callOnComplete(callback, kStatusOk, std::nullopt, path);
    return;
  }
  std::weak_ptr<FRepo> weak = weak_from_this();
  connection_->onDisconnectMergeData(
      nodes->valForExport(true), path,
      [weak, path, nodes, callback](const std::string& status, const std::optional<std::string>& reason) {
        std::shared_ptr<FRepo> self = weak.lock();
        if (!self) return;
        if (status == kStatusOk) {
          nodes->enumerateWrites([&](const FPathRef& relative, const FNodeRef& node, bool*) {
            self->onDisconnect_->rememberData(node, path->child(*relative));
          });
        } else {
          FFLogWarn("I-RDB038009", "onDisconnectUpdateChildValues: at %s failed %s", path->toString().c_str(),
                    status.c_str());
        }
        self->callOnComplete(callback, status, reason, path);
      });
}

void FRepo::onDisconnectCancel(const FPathRef& path, WriteCallback callback) {
  std::weak_ptr<FRepo> weak = weak_from_this();
  connection_->onDisconnectCancelPath(
      path, [weak, path, callback](const std::string& status, const std::optional<std::string>& reason) {
        std::shared_ptr<FRepo> self = weak.lock();
        if (!self) return;
        if (status == kStatusOk) {
          self->onDisconnect_->forgetPath(path);
        } else {
          FFLogDebug("I-RDB038007", "cancelDisconnectOperations: at %s failed: %s", path->toString().c_str(),
                     status.c_str());
        }
        self->callOnComplete(callback, status, reason, path);
      });
}

void FRepo::runOnDisconnectEvents() {
  FFLogDebug("I-RDB038019", "Running onDisconnectEvents");
  const Value serverValues = FServerValues::generateServerValues(*serverClock());
  // The store may not change while it is walked: the paths and nodes are collected first.
  std::vector<std::pair<FPathRef, FNodeRef>> writes;
  onDisconnect_->forEachTreeAtPath(FPath::empty(), [&](const FPathRef& path, const FNodeRef& node) {
    writes.emplace_back(path, node);
  });
  // A priority kept apart from its location's data (an update that wrote both) lands once that
  // data is there, as the server lays an update's priorities after its data.
  std::stable_partition(writes.begin(), writes.end(), [](const std::pair<FPathRef, FNodeRef>& write) {
    return write.first->getBack() != std::optional<std::string>(".priority");
  });
  for (const auto& write : writes) {
    const FPathRef& path = write.first;
    const FNodeRef& node = write.second;
    LazyExistingValueProvider existing(
        [&] { return serverSyncTree_->calcCompleteEventCacheAtPath(path, std::vector<int64_t>{}); });
    FNodeRef resolved = FServerValues::resolveDeferredValueSnapshot(node, existing, serverValues);
    // Each write's events go out before the aborts and reruns it causes raise theirs.
    eventRaiser_->raiseEvents(serverSyncTree_->applyServerOverwriteAtPath(path, resolved));
    rerunTransactionsForPath(abortTransactionsAtPath(path, "set"));
  }
  onDisconnect_ = std::make_shared<FSparseSnapshotTree>();
}

// -- Reads and listeners --------------------------------------------------------------------------

ZIRDataSnapshotRef FRepo::snapshotForQuery(const std::shared_ptr<const ZIRDatabaseQuery>& query,
                                           const FNodeRef& node) {
  return std::make_shared<const ZIRDataSnapshot>(query->ref(),
                                                 FIndexedNode::indexedNodeWithNode(node, query->querySpec()->index()));
}

void FRepo::applyGetResult(const std::shared_ptr<const ZIRDatabaseQuery>& query, const FNodeRef& node) {
  const FQuerySpecRef querySpec = query->querySpec();
  if (querySpec->loadsAllData()) {
    eventRaiser_->raiseEvents(serverSyncTree_->applyServerOverwriteAtPath(querySpec->path(), node));
    return;
  }
  // The answer of a limited or ranged read is that query's data only: laid over the whole
  // location it would remove every child outside the window from memory, from the cache and from
  // the location's listeners. A view of the very query takes it as that query's data; otherwise
  // it only updates the query's own cache.
  if (std::optional<uint64_t> tag = serverSyncTree_->tagForQuery(querySpec)) {
    eventRaiser_->raiseEvents(serverSyncTree_->applyTaggedQueryOverwriteAtPath(querySpec->path(), node, *tag));
  } else if (persistenceManager_) {
    // Storing marks the query complete, and a complete limited query is read back by its keys
    // alone: without the answer's keys it would read back as complete and empty.
    std::set<std::string> keys;
    node->enumerateChildrenUsingBlock([&keys](const std::string& key, const FNodeRef&, bool*) { keys.insert(key); });
    persistenceManager_->setTrackedQueryKeys(keys, querySpec);
    persistenceManager_->updateServerCacheWithNode(node, querySpec);
  }
}

void FRepo::answerGetFromCache(const std::shared_ptr<const ZIRDatabaseQuery>& query, const GetCallback& completion,
                               const std::optional<std::string>& reason) {
  const FQuerySpecRef querySpec = query->querySpec();
  FFLogDebug("I-RDB038024", "getValue for query %s falling back to disk cache", querySpec->path()->toString().c_str());
  if (FNodeRef cached = serverSyncTree_->persistenceServerCache(querySpec)) {
    completion(nullptr, snapshotForQuery(query, cached));
    return;
  }
  Value userInfo{{NSLocalizedFailureReasonErrorKey, reason.value_or("")},
                 {NSLocalizedDescriptionKey,
                  "Unable to get latest value for query " + querySpec->description() +
                      ", client offline with no active listeners and no matching disk cache entries"}};
  completion(NSError::errorWithDomain("com.zirezize.core", 1, userInfo), nullptr);
}

void FRepo::getData(const std::shared_ptr<const ZIRDatabaseQuery>& query, GetCallback completion) {
  const FQuerySpecRef querySpec = query->querySpec();
  if (FNodeRef node = serverSyncTree_->getServerValue(querySpec)) {
    completion(nullptr, snapshotForQuery(query, node));
    return;
  }
  if (persistenceManager_) persistenceManager_->setQueryActive(querySpec);
  std::weak_ptr<FRepo> weak = weak_from_this();
  connection_->getDataAtPath(
      querySpec->path()->toString(), querySpec->params()->wireProtocolParams(),
      [weak, query, querySpec, completion](const std::string& status, const std::optional<Value>& data,
                                           const std::optional<std::string>& reason) {
        std::shared_ptr<FRepo> self = weak.lock();
        if (!self) return;
        std::optional<std::string> failure = status == kStatusOk ? std::nullopt : std::optional<std::string>(status);
        std::optional<std::string> failureReason = reason;
        if (!failure) {
          FNodeRef node;
          try {
            node = FSnapshotUtilities::nodeFrom(data.value_or(Value()));
            self->applyGetResult(query, node);
          } catch (const std::exception& e) {
            FFLogError("I-RDB038027", "The server's answer to a read at %s cannot be used (%s).",
                       querySpec->path()->toString().c_str(), e.what());
            failure = "invalid_data";
            failureReason = e.what();
            node.reset();
          }
          if (node) completion(nullptr, self->snapshotForQuery(query, node));
        }
        if (failure) self->answerGetFromCache(query, completion, failureReason);
        if (self->persistenceManager_) self->persistenceManager_->setQueryInactive(querySpec);
      });
}

FSyncTree& FRepo::treeForQuery(const FQuerySpec& query) {
  std::optional<std::string> front = query.path()->getFront();
  return front && *front == kInfoKey ? *infoSyncTree_ : *serverSyncTree_;
}

void FRepo::addEventRegistration(const FEventRegistrationRef& registration, const FQuerySpecRef& query) {
  eventRaiser_->raiseEvents(treeForQuery(*query).addEventRegistration(registration, query));
}

void FRepo::removeEventRegistration(const FEventRegistrationRef& registration, const FQuerySpecRef& query) {
  FFLogDebug("I-RDB038011", "Removing event registration with hande: %llu",
             static_cast<unsigned long long>(registration ? registration->handle() : 0));
  eventRaiser_->raiseEvents(treeForQuery(*query).removeEventRegistration(registration, query, nullptr));
}

void FRepo::keepQuery(const FQuerySpecRef& query, bool synced) { serverSyncTree_->keepQuery(query, synced); }

// -- Connection delegate --------------------------------------------------------------------------

void FRepo::onDataUpdate(FPersistentConnection&, const std::string& pathString, const Value& message, bool isMerge,
                         std::optional<uint64_t> tagId) {
  FFLogDebug("I-RDB038013", "onDataUpdateForPath: %s withMessage: %s", pathString.c_str(), json(message).c_str());
  FPathRef path = FPath::pathWithString(pathString);
  FEventList events;
  if (tagId) {
    if (isMerge) {
      events = serverSyncTree_->applyTaggedQueryMergeAtPath(
          path, FCompoundWrite::compoundWriteWithValueDictionary(message), *tagId);
    } else {
      events = serverSyncTree_->applyTaggedQueryOverwriteAtPath(path, FSnapshotUtilities::nodeFrom(message), *tagId);
    }
  } else if (isMerge) {
    events = serverSyncTree_->applyServerMergeAtPath(path, FCompoundWrite::compoundWriteWithValueDictionary(message));
  } else {
    events = serverSyncTree_->applyServerOverwriteAtPath(path, FSnapshotUtilities::nodeFrom(message));
  }
  // Raised before a rerun raises its own events, which describe a later state: listeners would
  // otherwise end on the older one.
  eventRaiser_->raiseEvents(events);
  if (!events.empty()) rerunTransactionsForPath(path);
}

void FRepo::onRangeMerge(const std::vector<FRangeMerge>& ranges, const std::string& pathString,
                         std::optional<uint64_t> tagId) {
  FFLogDebug("I-RDB038014", "onRangeMerge: %s => %zu ranges", pathString.c_str(), ranges.size());
  FPathRef path = FPath::pathWithString(pathString);
  FEventList events = tagId ? serverSyncTree_->applyTaggedServerRangeMergeAtPath(path, ranges, *tagId)
                            : serverSyncTree_->applyServerRangeMergeAtPath(path, ranges);
  // Raised before a rerun raises its own events, which describe a later state: listeners would
  // otherwise end on the older one.
  eventRaiser_->raiseEvents(events);
  if (!events.empty()) rerunTransactionsForPath(path);
}

void FRepo::onConnect(FPersistentConnection&) { updateInfo("connected", Value(true)); }

void FRepo::onDisconnect(FPersistentConnection&) {
  updateInfo("connected", Value(false));
  runOnDisconnectEvents();
}

void FRepo::onServerInfoUpdate(FPersistentConnection&, const Value& updates) {
  if (!updates.is_object()) return;
  for (auto it = updates.begin(); it != updates.end(); ++it) updateInfo(it.key(), it.value());
}

void FRepo::updateInfo(const std::string& key, const Value& value) {
  if (key == "serverTimeOffset") {
    if (!value.is_number()) {
      FFLogWarn("I-RDB038028", "Ignoring a server time offset that is not a number: %s", json(value).c_str());
      return;
    }
    setServerClockOffset(value.get<double>() / 1000.0);
  }
  FPathRef path = FPath::pathWithString(std::string(kInfoKey) + "/" + key);
  FNodeRef node = FSnapshotUtilities::nodeFrom(value);
  infoData_->updateSnapshot(path, node);
  eventRaiser_->raiseEvents(infoSyncTree_->applyServerOverwriteAtPath(path, node));
}

// -- Background -----------------------------------------------------------------------------------

void FRepo::setupNotifications() {
  FFLogDebug("I-RDB038015", "Registering for background notification.");
  std::weak_ptr<FRepo> weak = weak_from_this();
  backgroundObserver_ = NSNotificationCenter::defaultCenter().addObserverForName(
      kDidEnterBackgroundNotification, nullptr, nullptr, [weak](const NSNotification&) {
        if (std::shared_ptr<FRepo> self = weak.lock()) self->didEnterBackground();
      });
}

void FRepo::didEnterBackground() {
  if (!config_->persistenceEnabled()) return;
  // The platform never suspends the process, so no background task is needed to keep it running;
  // the log lines still tell how long the work queued before the notification took.
  FFLogDebug("I-RDB038017", "Entering background.  Starting background task to finish work.");
  const double start = Clock::monotonic();
  ZIRDatabaseQuery::sharedQueue()->async([start] {
    FFLogDebug("I-RDB038018", "Background task completed.  Queue time: %f", Clock::monotonic() - start);
  });
}
