#pragma once
// A location of one database: the repository it belongs to and its path, with the operations on
// the data there (writes, updates, removal, transactions, onDisconnect writes) beside those of a
// query. Immutable and shared freely between threads. Every operation checks its input at once,
// raising the database's validation exceptions for a path or value that cannot be written, and
// then hands the work to the database's serial work queue; completions run on the configuration's
// callback queue.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sdk/database/realtime/ZIRDatabaseQuery.h"

class ZIRDatabase;
class ZIRMutableData;
class ZIRTransactionResult;

using ZIRDatabaseReferenceCompletion =
    std::function<void(const NSErrorRef& error, const ZIRDatabaseReferenceRef& ref)>;

class ZIRDatabaseReference : public ZIRDatabaseQuery {
 public:
  using TransactionUpdateBlock =
      std::function<std::shared_ptr<const ZIRTransactionResult>(const std::shared_ptr<ZIRMutableData>& currentData)>;
  using TransactionCompletionBlock =
      std::function<void(const NSErrorRef& error, bool committed, const ZIRDataSnapshotRef& snapshot)>;

  // initWithRepo:path:
  ZIRDatabaseReference(std::shared_ptr<FRepo> repo, FPathRef path) : ZIRDatabaseQuery(std::move(repo), std::move(path)) {}

  // The last key of the path; nullopt for the root.
  std::optional<std::string> key() const { return path_->getBack(); }
  // The reference of the parent path; null for the root.
  ZIRDatabaseReferenceRef parent() const {
    FPathRef parentPath = path_->parent();
    if (!parentPath) return nullptr;
    return std::make_shared<const ZIRDatabaseReference>(repo_, parentPath);
  }
  ZIRDatabaseReferenceRef root() const;
  // The database this location belongs to.
  std::shared_ptr<ZIRDatabase> database() const;

  // child: — the path text may hold several keys ("a/b"). Raises "InvalidPathValidation".
  ZIRDatabaseReferenceRef child(const std::string& pathString) const;
  // A child with a new push identifier: 20 characters that sort, in the child key order, after
  // every identifier this process made before, also within one millisecond. Raises
  // "WritablePathValidation" under ".info".
  ZIRDatabaseReferenceRef childByAutoId() const;

  // Writes. The value is a string, number, boolean, dictionary, array or null (null removes);
  // invalid values raise "InvalidZirezizeData", locations under ".info" "WritablePathValidation".
  void setValue(const Value& value, ZIRDatabaseReferenceCompletion completion = nullptr) const;
  void setValueAndPriority(const Value& value, const Value& priority,
                           ZIRDatabaseReferenceCompletion completion = nullptr) const;
  void removeValue(ZIRDatabaseReferenceCompletion completion = nullptr) const;
  // A dictionary of relative path texts to values, written together.
  void updateChildValues(const Value& values, ZIRDatabaseReferenceCompletion completion = nullptr) const;

  // Writes the server makes when this client's connection goes away.
  void onDisconnectSetValue(const Value& value, ZIRDatabaseReferenceCompletion completion = nullptr) const;
  void onDisconnectUpdateChildValues(const Value& values, ZIRDatabaseReferenceCompletion completion = nullptr) const;
  void onDisconnectRemoveValue(ZIRDatabaseReferenceCompletion completion = nullptr) const;
  void cancelDisconnectOperations(ZIRDatabaseReferenceCompletion completion = nullptr) const;

  // runTransactionBlock:andCompletionBlock:withLocalEvents: — the update block runs on the work
  // queue (it must not block) as often as the server finds the data it ran on stale, at most 25
  // sends; with localEvents NO its intermediate results are not shown to local listeners.
  void runTransactionBlock(TransactionUpdateBlock update, TransactionCompletionBlock completion = nullptr,
                           bool localEvents = true) const;

  // Every database of the process goes offline / online.
  static void goOffline();
  static void goOnline();

  // "https://<host>/<path>"
  std::string description() const;
};
