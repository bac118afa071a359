#include "sdk/database/realtime/ZIRDatabaseReference.h"

#include "sdk/database/core/FValidation.h"
#include "sdk/database/realtime/FNextPushId.h"
#include "sdk/database/realtime/FRepo.h"
#include "sdk/database/realtime/FRepoManager.h"
#include "sdk/database/realtime/ZIRDatabase.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

ZIRDatabaseReferenceRef ZIRDatabaseReference::root() const {
  return std::make_shared<const ZIRDatabaseReference>(repo_, FPath::empty());
}

std::shared_ptr<ZIRDatabase> ZIRDatabaseReference::database() const { return repo_ ? repo_->database() : nullptr; }

ZIRDatabaseReferenceRef ZIRDatabaseReference::child(const std::string& pathString) const {
  if (path_->isEmpty()) {
    FValidation::validateFromValidRootPathString("child:", pathString);
  } else {
    FValidation::validateFromValidPathString("child:", pathString);
  }
  return std::make_shared<const ZIRDatabaseReference>(repo_, path_->childFromString(pathString));
}

ZIRDatabaseReferenceRef ZIRDatabaseReference::childByAutoId() const {
  FValidation::validateFromWritablePath("childByAutoId:", *path_);
  return child(FNextPushId::get(repo_->serverTime()));
}

void ZIRDatabaseReference::setValue(const Value& value, ZIRDatabaseReferenceCompletion completion) const {
  setValueAndPriority(value, Value(), std::move(completion));
}

void ZIRDatabaseReference::setValueAndPriority(const Value& value, const Value& priority,
                                               ZIRDatabaseReferenceCompletion completion) const {
  FValidation::validateFromWritablePath("setValue:withPriority:", *path_);
  FNodeRef node = FSnapshotUtilities::nodeFrom(value, priority, "setValue:withPriority:");
  sharedQueue()->async([repo = repo_, path = path_, node, completion = std::move(completion)] {
    repo->set(path, node, completion);
  });
}

void ZIRDatabaseReference::removeValue(ZIRDatabaseReferenceCompletion completion) const {
  FValidation::validateFromWritablePath("removeValue:", *path_);
  setValueAndPriority(Value(), Value(), std::move(completion));
}

void ZIRDatabaseReference::updateChildValues(const Value& values, ZIRDatabaseReferenceCompletion completion) const {
  FValidation::validateFromWritablePath("updateChildValues:", *path_);
  FCompoundWriteRef write = FSnapshotUtilities::compoundWriteFromDictionary(values, "updateChildValues:");
  sharedQueue()->async([repo = repo_, path = path_, write, completion = std::move(completion)] {
    repo->update(path, write, completion);
  });
}

void ZIRDatabaseReference::onDisconnectSetValue(const Value& value, ZIRDatabaseReferenceCompletion completion) const {
  FValidation::validateFromWritablePath("onDisconnectSetValue:", *path_);
  FNodeRef node = FSnapshotUtilities::nodeFromWithValidationFrom(value, "onDisconnectSetValue:");
  sharedQueue()->async([repo = repo_, path = path_, node, completion = std::move(completion)] {
    repo->onDisconnectSet(path, node, completion);
  });
}

void ZIRDatabaseReference::onDisconnectUpdateChildValues(const Value& values,
                                                         ZIRDatabaseReferenceCompletion completion) const {
  FValidation::validateFromWritablePath("onDisconnectUpdateChildValues:", *path_);
  FCompoundWriteRef write = FSnapshotUtilities::compoundWriteFromDictionary(values, "onDisconnectUpdateChildValues:");
  sharedQueue()->async([repo = repo_, path = path_, write, completion = std::move(completion)] {
    repo->onDisconnectUpdate(path, write, completion);
  });
}

void ZIRDatabaseReference::onDisconnectRemoveValue(ZIRDatabaseReferenceCompletion completion) const {
  FValidation::validateFromWritablePath("onDisconnectRemoveValue:", *path_);
  FNodeRef node = FSnapshotUtilities::nodeFrom(Value());
  sharedQueue()->async([repo = repo_, path = path_, node, completion = std::move(completion)] {
    repo->onDisconnectSet(path, node, completion);
  });
}

void ZIRDatabaseReference::cancelDisconnectOperations(ZIRDatabaseReferenceCompletion completion) const {
  FValidation::validateFromWritablePath("cancelDisconnectOperations:", *path_);
  sharedQueue()->async([repo = repo_, path = path_, completion = std::move(completion)] {
    repo->onDisconnectCancel(path, completion);
  });
}

void ZIRDatabaseReference::runTransactionBlock(TransactionUpdateBlock update, TransactionCompletionBlock completion,
                                               bool localEvents) const {
  FValidation::validateFromWritablePath("runTransactionBlock:", *path_);
  sharedQueue()->async([repo = repo_, path = path_, update = std::move(update), completion = std::move(completion),
                        localEvents] { repo->startTransactionOnPath(path, update, completion, localEvents); });
}

void ZIRDatabaseReference::goOffline() { FRepoManager::interruptAll(); }

void ZIRDatabaseReference::goOnline() { FRepoManager::resumeAll(); }

std::string ZIRDatabaseReference::description() const {
  std::string text = repo_ ? repo_->description() : std::string();
  return path_->isEmpty() ? text + "/" : text + path_->toString();
}
