#pragma once
// A query of one database: a location with its constraints (child order, range, limit). Queries
// are immutable; every query builder returns a new query. Listeners attached with observeEventType
// get their callbacks on the configuration's callback queue; each call hands the work to the
// database's one serial work queue ("ZirezizeWorker", sharedQueue) and returns at once.
//
// Builders check their input and raise at once: NSInvalidArgumentException for a limit outside
// 1...2147483647, a second limit, a second start or end, a second ordering, a key-ordered bound
// that is not a string, or a bound that is not a number, string, boolean or null;
// "InvalidPathValidation" for an invalid child path of queryOrderedByChild.
//
// Shared freely between threads as std::shared_ptr<const ZIRDatabaseQuery>.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FQueryParams.h"
#include "sdk/database/core/FWorkQueue.h"

class FRepo;
class ZIRDatabaseQuery;
class ZIRDatabaseReference;
class ZIRDataSnapshot;
using ZIRDatabaseQueryRef = std::shared_ptr<const ZIRDatabaseQuery>;
using ZIRDatabaseReferenceRef = std::shared_ptr<const ZIRDatabaseReference>;
using ZIRDataSnapshotRef = std::shared_ptr<const ZIRDataSnapshot>;
using ZIRDatabaseHandle = uint64_t;

// The events a listener can ask for (the engine's FEventType values).
enum ZIRDataEventType : int32_t {
  ZIRDataEventTypeChildAdded = 0,
  ZIRDataEventTypeChildRemoved = 1,
  ZIRDataEventTypeChildChanged = 2,
  ZIRDataEventTypeChildMoved = 3,
  ZIRDataEventTypeValue = 4,
};

class ZIRDatabaseQuery : public std::enable_shared_from_this<ZIRDatabaseQuery> {
 public:
  using SnapshotBlock = std::function<void(const ZIRDataSnapshotRef& snapshot)>;
  using SnapshotWithPreviousKeyBlock =
      std::function<void(const ZIRDataSnapshotRef& snapshot, const std::optional<std::string>& previousKey)>;
  using CancelBlock = std::function<void(const NSErrorRef& error)>;
  using GetDataBlock = std::function<void(const NSErrorRef& error, const ZIRDataSnapshotRef& snapshot)>;

  // The database client's one serial work queue, made once on first use.
  static DispatchQueueRef sharedQueue() { return FWorkQueue::sharedQueue(); }

  ZIRDatabaseQuery(std::shared_ptr<FRepo> repo, FPathRef path, FQueryParamsRef params = nullptr,
                   bool orderByCalled = false)
      : repo_(std::move(repo)),
        path_(path ? std::move(path) : FPath::empty()),
        queryParams_(params ? std::move(params) : FQueryParams::defaultInstance()),
        orderByCalled_(orderByCalled) {}

  const std::shared_ptr<FRepo>& repo() const { return repo_; }
  const FPathRef& path() const { return path_; }
  const FQueryParamsRef& queryParams() const { return queryParams_; }
  FQuerySpecRef querySpec() const { return std::make_shared<const FQuerySpec>(path_, queryParams_); }
  // The reference of the query's location.
  ZIRDatabaseReferenceRef ref() const;

  // Listeners. The handle removes the listener again. Raises "KnownEventTypeValidation" for an
  // unknown event type.
  ZIRDatabaseHandle observeEventType(ZIRDataEventType eventType, SnapshotBlock block,
                                     CancelBlock cancelBlock = nullptr) const;
  ZIRDatabaseHandle observeEventTypeAndPreviousSiblingKey(ZIRDataEventType eventType,
                                                          SnapshotWithPreviousKeyBlock block,
                                                          CancelBlock cancelBlock = nullptr) const;
  void removeObserverWithHandle(ZIRDatabaseHandle handle) const;
  // Keeps the query's data synchronised (and cached) without a listener. Raises
  // NSInvalidArgumentException under ".info".
  void keepSynced(bool synced) const;
  // The query's latest value: from a listener's complete data at once, else from the server,
  // else (offline) from the persisted cache; an error when none has it. Called back on the
  // callback queue.
  void getData(GetDataBlock completion) const;

  // Builders.
  ZIRDatabaseQueryRef queryLimitedToFirst(int64_t limit) const;
  ZIRDatabaseQueryRef queryLimitedToLast(int64_t limit) const;
  ZIRDatabaseQueryRef queryOrderedByChild(const std::string& key) const;
  ZIRDatabaseQueryRef queryOrderedByKey() const;
  ZIRDatabaseQueryRef queryOrderedByValue() const;
  ZIRDatabaseQueryRef queryOrderedByPriority() const;
  ZIRDatabaseQueryRef queryStartingAtValue(const Value& value,
                                           const std::optional<std::string>& childKey = std::nullopt) const;
  ZIRDatabaseQueryRef queryEndingAtValue(const Value& value,
                                         const std::optional<std::string>& childKey = std::nullopt) const;
  ZIRDatabaseQueryRef queryEqualToValue(const Value& value,
                                        const std::optional<std::string>& childKey = std::nullopt) const;

 protected:
  std::shared_ptr<FRepo> repo_;
  FPathRef path_;

 private:
  ZIRDatabaseQueryRef withParams(FQueryParamsRef params, bool orderByCalled) const;
  ZIRDatabaseQueryRef orderedBy(const FIndexRef& index, const char* from) const;
  FNodeRef boundNode(const Value& value, const std::optional<std::string>& childKey, const char* from) const;
  void validateLimit(int64_t limit, const char* from) const;

  FQueryParamsRef queryParams_;
  bool orderByCalled_;
};
