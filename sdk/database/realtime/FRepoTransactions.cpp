// The repository's transactions: each result is applied locally at once as a user write; the
// results of all transactions at a location and below it go out as one put conditional on the
// hash of what the client believes the server holds; a "datastale" answer reruns them on the data
// that has arrived meanwhile. Everything here runs on the work queue. Completions are prepared
// while a step runs and handed to the event raiser once the state is consistent again.
#include <algorithm>

#include "sdk/core/ZIRLogger.h"
#include "sdk/database/core/FFLog.h"
#include "sdk/database/core/FServerValues.h"
#include "sdk/database/realtime/FRepo.h"
#include "sdk/database/realtime/FValueEventRegistration.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FIndexedNode.h"

namespace {

constexpr const char* kStatusOk = "ok";
constexpr const char* kStatusDataStale = "datastale";
constexpr const char* kStatusSet = "set";
constexpr const char* kStatusMaxRetry = "maxretry";

void append(FEventList& events, const FEventList& more) { events.insert(events.end(), more.begin(), more.end()); }

// Runs the user's update block. A block that throws has no result to commit: it counts as an
// abort, so the transaction ends (its listener removed, its completion called) instead of staying
// registered forever behind an exception.
ZIRTransactionResultRef runUpdateBlock(const FTupleTransaction& transaction, const ZIRMutableDataRef& data) {
  if (!transaction.update) return ZIRTransactionResult::abort();
  // The block is user code on the work queue: what it queues onto a callback queue comes after the
  // events and callbacks raised before it.
  FEventRaiser::handOffPending();
  try {
    ZIRTransactionResultRef result = transaction.update(data);
    return result ? result : ZIRTransactionResult::abort();
  } catch (const std::exception& e) {
    FFLogError("I-RDB038029", "runTransactionBlock: the update block at %s threw (%s); the transaction is aborted.",
               transaction.path->toString().c_str(), e.what());
    return ZIRTransactionResult::abort();
  }
}

// The node the update block left: that of the result, or of the data it was given when a
// committing result carries none.
FNodeRef resultNode(const ZIRTransactionResult& result, const ZIRMutableDataRef& data) {
  return result.update() ? result.update()->nodeValue() : data->nodeValue();
}

}  // namespace

void FRepo::initTransactions() {
  transactionQueueTree_ = std::make_shared<TransactionTree>();
  loggedTransactionPersistenceWarning_ = false;
}

FNodeRef FRepo::latestStateAtPath(const FPathRef& path, const std::optional<std::vector<int64_t>>& excludeWriteIds) {
  FNodeRef latest = serverSyncTree_->calcCompleteEventCacheAtPath(path, excludeWriteIds);
  return latest ? latest : FEmptyNode::emptyNode();
}

void FRepo::startTransactionOnPath(const FPathRef& path, ZIRTransactionUpdateBlock update,
                                   ZIRTransactionCompletionBlock onComplete, bool applyLocally) {
  if (config_->persistenceEnabled() && !loggedTransactionPersistenceWarning_) {
    loggedTransactionPersistenceWarning_ = true;
    if (FUtilitiesLogLevelEnabled(kFLogLevelInfo)) {
      ZIRLogError(kFDatabaseLogService, "I-RDB038020",
                  "runTransactionBlock: usage detected while persistence is enabled. Please be aware that "
                  "transactions *will not* be persisted across app restarts. See "
                  "https://zirezize.dev/docs/database/offline-capabilities#transactions for more details.");
    }
  }

  // The location stays listened to while the transaction lives.
  std::shared_ptr<FRepo> self = shared_from_this();
  auto ref = std::make_shared<const ZIRDatabaseReference>(self, path);
  const uint64_t handle = FUtilities::LUIDGenerator();
  auto registration = std::make_shared<const FValueEventRegistration>(
      self, handle, [](const ZIRDataSnapshotRef&) {}, nullptr);
  addEventRegistration(registration, ref->querySpec());

  auto transaction = std::make_shared<FTupleTransaction>();
  transaction->path = path;
  transaction->update = std::move(update);
  transaction->onComplete = std::move(onComplete);
  transaction->status = FTransactionInitializing;
  transaction->order = FUtilities::LUIDGenerator();
  transaction->applyLocally = applyLocally;
  transaction->retryCount = 0;
  std::weak_ptr<FRepo> weak = self;
  transaction->unwatcher = [weak, path, handle] {
    if (std::shared_ptr<FRepo> repo = weak.lock()) {
      std::make_shared<const ZIRDatabaseReference>(repo, path)->removeObserverWithHandle(handle);
    }
  };

  transaction->currentInputSnapshot = latestStateAtPath(path, std::nullopt);
  auto data = std::make_shared<ZIRMutableData>(transaction->currentInputSnapshot);
  ZIRTransactionResultRef result = runUpdateBlock(*transaction, data);

  if (!result->isSuccess()) {
    transaction->unwatcher();
    transaction->currentOutputSnapshotRaw = nullptr;
    transaction->currentOutputSnapshotResolved = nullptr;
    if (transaction->onComplete) {
      auto snapshot = std::make_shared<const ZIRDataSnapshot>(
          ref, FIndexedNode::indexedNodeWithNode(transaction->currentInputSnapshot));
      eventRaiser_->raiseCallback([callback = transaction->onComplete, snapshot] { callback(nullptr, false, snapshot); });
    }
    return;
  }

  transaction->status = FTransactionRun;
  TransactionTree::Ref queueNode = transactionQueueTree_->subTree(*path);
  TransactionQueue queue = queueNode->getValue().value_or(TransactionQueue{});
  queue.push_back(transaction);
  queueNode->setValue(std::move(queue));

  const Value serverValues = FServerValues::generateServerValues(*serverClock());
  FNodeRef raw = resultNode(*result, data);
  FNodeRef resolved =
      FServerValues::resolveDeferredValueSnapshotWithExisting(raw, transaction->currentInputSnapshot, serverValues);
  transaction->currentOutputSnapshotRaw = raw;
  transaction->currentOutputSnapshotResolved = resolved;
  transaction->currentWriteId = nextWriteId();
  eventRaiser_->raiseEvents(
      serverSyncTree_->applyUserOverwriteAtPath(path, resolved, *transaction->currentWriteId, applyLocally));
  sendAllReadyTransactions();
}

// -- Sending --------------------------------------------------------------------------------------

void FRepo::sendAllReadyTransactions() {
  pruneCompletedTransactionsBelowNode(transactionQueueTree_);
  sendReadyTransactionsForTree(transactionQueueTree_);
}

void FRepo::sendReadyTransactionsForTree(const TransactionTree::Ref& node) {
  if (node->getValue()) {
    TransactionQueue queue = buildTransactionQueueAtNode(node);
    const bool allRun = std::all_of(queue.begin(), queue.end(), [](const FTupleTransactionRef& transaction) {
      return transaction->status == FTransactionRun;
    });
    if (!queue.empty() && allRun) sendTransactionQueue(queue, node->path());
  } else if (node->hasChildren()) {
    node->forEachChildMutationSafe([this](const TransactionTree::Ref& child) { sendReadyTransactionsForTree(child); });
  }
}

FRepo::TransactionQueue FRepo::buildTransactionQueueAtNode(const TransactionTree::Ref& node) {
  TransactionQueue queue;
  aggregateTransactionQueuesForNode(node, queue);
  std::stable_sort(queue.begin(), queue.end(), [](const FTupleTransactionRef& a, const FTupleTransactionRef& b) {
    return a->order < b->order;
  });
  return queue;
}

void FRepo::aggregateTransactionQueuesForNode(const TransactionTree::Ref& node, TransactionQueue& queue) {
  if (const std::optional<TransactionQueue>& own = node->getValue()) queue.insert(queue.end(), own->begin(), own->end());
  node->forEachChild([&](const TransactionTree::Ref& child) { aggregateTransactionQueuesForNode(child, queue); });
}

void FRepo::sendTransactionQueue(const TransactionQueue& queue, const FPathRef& path) {
  std::vector<int64_t> setsToIgnore;
  for (const FTupleTransactionRef& transaction : queue) setsToIgnore.push_back(*transaction->currentWriteId);
  FNodeRef latestState = latestStateAtPath(path, setsToIgnore);
  FNodeRef snapToSend = latestState;
  const std::string latestHash = latestState->dataHash();
  for (const FTupleTransactionRef& transaction : queue) {
    FFLogDebug("I-RDB038021", "Transaction at %s set to SENT", transaction->path->toString().c_str());
    transaction->status = FTransactionSent;
    transaction->retryCount += 1;
    FPathRef relativePath = FPath::relativePathFrom(*path, *transaction->path);
    // Later transactions override earlier ones where their locations overlap.
    snapToSend = snapToSend->updateChild(relativePath, transaction->currentOutputSnapshotRaw);
  }

  std::weak_ptr<FRepo> weak = weak_from_this();
  connection_->putData(
      snapToSend->valForExport(true), path->toString(), latestHash,
      [weak, queue, path](const std::string& status, const std::optional<std::string>& reason) {
        std::shared_ptr<FRepo> self = weak.lock();
        if (!self) return;
        FFLogDebug("I-RDB038022", "Transaction put response: %s : %s", path->toString().c_str(), status.c_str());
        FEventList events;
        if (status == kStatusOk) {
          std::vector<DispatchBlock> callbacks;
          for (const FTupleTransactionRef& transaction : queue) {
            transaction->status = FTransactionCompleted;
            // A purge may have removed the write while this answer waited in the connection.
            if (self->serverSyncTree_->pendingWriteTree()->writeForId(*transaction->currentWriteId)) {
              append(events, self->serverSyncTree_->ackUserWriteWithWriteId(*transaction->currentWriteId, false,
                                                                            false, *self->serverClock()));
            }
            if (transaction->onComplete) {
              auto ref = std::make_shared<const ZIRDatabaseReference>(self, transaction->path);
              auto snapshot = std::make_shared<const ZIRDataSnapshot>(
                  ref, FIndexedNode::indexedNodeWithNode(transaction->currentOutputSnapshotResolved));
              callbacks.push_back(
                  [callback = transaction->onComplete, snapshot] { callback(nullptr, true, snapshot); });
            }
            transaction->unwatcher();
          }
          self->pruneCompletedTransactionsBelowNode(self->transactionQueueTree_->subTree(*path));
          self->sendAllReadyTransactions();
          self->eventRaiser_->raiseCallbacks(callbacks);
        } else if (status == kStatusDataStale) {
          for (const FTupleTransactionRef& transaction : queue) {
            transaction->status = transaction->status == FTransactionSentNeedsAbort ? FTransactionNeedsAbort
                                                                                     : FTransactionRun;
          }
        } else {
          FFLogWarn("I-RDB038023", "runTransactionBlock: at %s failed: %s", path->toString().c_str(),
                    status.c_str());
          for (const FTupleTransactionRef& transaction : queue) {
            transaction->status = FTransactionNeedsAbort;
            transaction->setAbortStatus(status, reason);
          }
        }
        // The acknowledgements' events go out before the rerun raises its own.
        self->eventRaiser_->raiseEvents(events);
        self->rerunTransactionsForPath(path);
      });
}

// -- Rerunning ------------------------------------------------------------------------------------

FPathRef FRepo::rerunTransactionsForPath(const FPathRef& changedPath) {
  if (transactionQueueTree_->isEmpty()) return changedPath;
  TransactionTree::Ref rootMostTransactionNode = getAncestorTransactionNodeForPath(changedPath);
  FPathRef path = rootMostTransactionNode->path();
  rerunTransactionQueue(buildTransactionQueueAtNode(rootMostTransactionNode), path);
  return path;
}

FRepo::TransactionTree::Ref FRepo::getAncestorTransactionNodeForPath(const FPathRef& path) {
  TransactionTree::Ref transactionNode = transactionQueueTree_;
  FPathRef remaining = path;
  std::optional<std::string> front = remaining->getFront();
  while (front && !transactionNode->getValue()) {
    transactionNode = transactionNode->subTree(*FPath::pathWithString(*front));
    remaining = remaining->popFront();
    front = remaining->getFront();
  }
  return transactionNode;
}

void FRepo::rerunTransactionQueue(const TransactionQueue& queue, const FPathRef& path) {
  if (queue.empty()) return;
  std::vector<DispatchBlock> callbacks;
  std::vector<int64_t> setsToIgnore;
  for (const FTupleTransactionRef& transaction : queue) setsToIgnore.push_back(*transaction->currentWriteId);

  for (const FTupleTransactionRef& transaction : queue) {
    bool abortTransaction = false;
    FEventList events;
    auto revert = [&] {
      // A purge has already removed the write of a transaction it cancelled, also when the
      // server's answer that came after it set another abort status.
      if (!serverSyncTree_->pendingWriteTree()->writeForId(*transaction->currentWriteId)) return;
      append(events, serverSyncTree_->ackUserWriteWithWriteId(*transaction->currentWriteId, true, false,
                                                              *serverClock()));
    };
    if (transaction->status == FTransactionNeedsAbort) {
      abortTransaction = true;
      revert();
    } else if (transaction->status == FTransactionRun) {
      if (transaction->retryCount >= kTransactionMaxRetries) {
        abortTransaction = true;
        transaction->setAbortStatus(kStatusMaxRetry, std::nullopt);
        revert();
      } else {
        // Hidden writes count here on purpose: the block runs on what this client last wrote.
        FNodeRef currentNode = latestStateAtPath(transaction->path, setsToIgnore);
        transaction->currentInputSnapshot = currentNode;
        auto data = std::make_shared<ZIRMutableData>(currentNode);
        ZIRTransactionResultRef result = runUpdateBlock(*transaction, data);
        if (result->isSuccess()) {
          const int64_t oldWriteId = *transaction->currentWriteId;
          const Value serverValues = FServerValues::generateServerValues(*serverClock());
          FNodeRef raw = resultNode(*result, data);
          FNodeRef resolved = FServerValues::resolveDeferredValueSnapshotWithExisting(raw, currentNode, serverValues);
          transaction->currentOutputSnapshotRaw = raw;
          transaction->currentOutputSnapshotResolved = resolved;
          transaction->currentWriteId = nextWriteId();
          // Later transactions of the queue see this result.
          setsToIgnore.erase(std::remove(setsToIgnore.begin(), setsToIgnore.end(), oldWriteId), setsToIgnore.end());
          append(events, serverSyncTree_->applyUserOverwriteAtPath(transaction->path, resolved,
                                                                   *transaction->currentWriteId,
                                                                   transaction->applyLocally));
          append(events, serverSyncTree_->ackUserWriteWithWriteId(oldWriteId, true, false, *serverClock()));
        } else {
          abortTransaction = true;
          transaction->setAbortStatus(std::nullopt, std::nullopt);
          revert();
        }
      }
    }
    eventRaiser_->raiseEvents(events);

    if (abortTransaction) {
      transaction->status = FTransactionCompleted;
      transaction->unwatcher();
      if (transaction->onComplete) {
        auto ref = std::make_shared<const ZIRDatabaseReference>(shared_from_this(), transaction->path);
        auto snapshot = std::make_shared<const ZIRDataSnapshot>(
            ref, FIndexedNode::indexedNodeWithNode(transaction->currentInputSnapshot));
        callbacks.push_back([callback = transaction->onComplete, error = transaction->abortError(), snapshot] {
          callback(error, false, snapshot);
        });
      }
    }
  }

  pruneCompletedTransactionsBelowNode(transactionQueueTree_);
  eventRaiser_->raiseCallbacks(callbacks);
  sendAllReadyTransactions();
}

// -- Aborting -------------------------------------------------------------------------------------

FPathRef FRepo::abortTransactionsAtPath(const FPathRef& path, const std::string& reason) {
  if (transactionQueueTree_->isEmpty()) return path;
  FPathRef affectedPath = getAncestorTransactionNodeForPath(path)->path();
  TransactionTree::Ref transactionNode = transactionQueueTree_->subTree(*path);

  transactionNode->forEachAncestor([&](const TransactionTree::Ref& ancestor) {
    abortTransactionsAtNode(ancestor, reason);
    return false;
  });
  abortTransactionsAtNode(transactionNode, reason);
  // Aborting empties queues, which detaches their nodes: the nodes below are collected first.
  std::vector<TransactionTree::Ref> descendants;
  transactionNode->forEachDescendant([&](const TransactionTree::Ref& node) { descendants.push_back(node); });
  for (const TransactionTree::Ref& node : descendants) abortTransactionsAtNode(node, reason);
  return affectedPath;
}

void FRepo::abortTransactionsAtNode(const TransactionTree::Ref& node, const std::string& reason) {
  const std::optional<TransactionQueue>& value = node->getValue();
  if (!value) return;
  const TransactionQueue queue = *value;
  std::vector<DispatchBlock> callbacks;
  FEventList events;
  // The sent ones stay until their put is answered: those just marked (state 2 becoming 4) and
  // those a previous abort marked (state 4). Keeping only the former would drop the latter, which
  // would then never rerun, complete or revert.
  TransactionQueue keep;
  for (const FTupleTransactionRef& transaction : queue) {
    if (transaction->status == FTransactionSentNeedsAbort) {
      keep.push_back(transaction);
    } else if (transaction->status == FTransactionSent) {
      transaction->status = FTransactionSentNeedsAbort;
      transaction->setAbortStatus(reason, std::nullopt);
      keep.push_back(transaction);
    } else if (transaction->status == FTransactionCompleted) {
      // Finished already; the next prune would have removed it.
    } else {
      transaction->unwatcher();
      if (reason == kStatusSet) {
        append(events, serverSyncTree_->ackUserWriteWithWriteId(*transaction->currentWriteId, true, false,
                                                                *serverClock()));
      }
      // For "write_canceled" the purge has already removed the write.
      if (transaction->onComplete) {
        callbacks.push_back([callback = transaction->onComplete, error = FUtilities::errorForStatus(reason, std::nullopt)] {
          callback(error, false, nullptr);
        });
      }
    }
  }
  if (keep.empty()) {
    node->setValue(std::nullopt);
  } else {
    node->setValue(std::move(keep));
  }
  eventRaiser_->raiseEvents(events);
  eventRaiser_->raiseCallbacks(callbacks);
}

void FRepo::pruneCompletedTransactionsBelowNode(const TransactionTree::Ref& node) {
  if (const std::optional<TransactionQueue>& value = node->getValue()) {
    TransactionQueue remaining;
    for (const FTupleTransactionRef& transaction : *value) {
      if (transaction->status != FTransactionCompleted) remaining.push_back(transaction);
    }
    if (remaining.empty()) {
      node->setValue(std::nullopt);
    } else {
      node->setValue(std::move(remaining));
    }
  }
  node->forEachChildMutationSafe([this](const TransactionTree::Ref& child) { pruneCompletedTransactionsBelowNode(child); });
}
