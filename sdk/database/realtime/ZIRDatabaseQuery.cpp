#include "sdk/database/realtime/ZIRDatabaseQuery.h"

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FEventRaiser.h"
#include "sdk/database/core/FLimitedFilter.h"
#include "sdk/database/core/FValidation.h"
#include "sdk/database/realtime/FChildEventRegistration.h"
#include "sdk/database/realtime/FRepo.h"
#include "sdk/database/realtime/FValueEventRegistration.h"
#include "sdk/database/realtime/ZIRDatabaseReference.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace {

bool isInfoPath(const FPath& path) {
  std::optional<std::string> front = path.getFront();
  return front && *front == ".info";
}

bool isStringLeaf(const FNodeRef& node) { return node->isLeafNode() && node->val().is_string(); }

// Bounds must suit the ordering: strings without a child key for the key order, valid
// priorities (null, numbers, strings) for the priority order.
void validateQueryEndpoints(const FQueryParams& params, const char* from) {
  const FIndexRef& index = params.index();
  if (index->isEqual(*FKeyIndex::keyIndex())) {
    const char* message =
        "(%s) When using queryOrderedByKey, you must give queryStartingAtValue, queryEndingAtValue or "
        "queryEqualToValue a string and no child key.";
    if (params.hasStart() && (!isStringLeaf(params.indexStartValue()) || params.storedStartKey())) {
      NSException::raise(NSInvalidArgumentException, message, from);
    }
    if (params.hasEnd() && (!isStringLeaf(params.indexEndValue()) || params.storedEndKey())) {
      NSException::raise(NSInvalidArgumentException, message, from);
    }
  } else if (index->isEqual(*FPriorityIndex::priorityIndex())) {
    const char* message =
        "(%s) When using queryOrderedByPriority, the first value of queryStartingAtValue, queryEndingAtValue or "
        "queryEqualToValue must be a valid priority value (null, a number or a string).";
    if (params.hasStart() && !FValidation::validatePriorityValue(params.indexStartValue()->val())) {
      NSException::raise(NSInvalidArgumentException, message, from);
    }
    if (params.hasEnd() && !FValidation::validatePriorityValue(params.indexEndValue()->val())) {
      NSException::raise(NSInvalidArgumentException, message, from);
    }
  }
}

}  // namespace

ZIRDatabaseReferenceRef ZIRDatabaseQuery::ref() const {
  return std::make_shared<const ZIRDatabaseReference>(repo_, path_);
}

// -- Listeners ------------------------------------------------------------------------------------

ZIRDatabaseHandle ZIRDatabaseQuery::observeEventType(ZIRDataEventType eventType, SnapshotBlock block,
                                                     CancelBlock cancelBlock) const {
  SnapshotWithPreviousKeyBlock withKey;
  if (block) {
    withKey = [block](const ZIRDataSnapshotRef& snapshot, const std::optional<std::string>&) { block(snapshot); };
  }
  return observeEventTypeAndPreviousSiblingKey(eventType, std::move(withKey), std::move(cancelBlock));
}

ZIRDatabaseHandle ZIRDatabaseQuery::observeEventTypeAndPreviousSiblingKey(ZIRDataEventType eventType,
                                                                          SnapshotWithPreviousKeyBlock block,
                                                                          CancelBlock cancelBlock) const {
  FValidation::validateFromKnownEventType("observeEventType:withBlock:", eventType);
  const ZIRDatabaseHandle handle = FUtilities::LUIDGenerator();
  FEventRegistrationRef registration;
  if (eventType == ZIRDataEventTypeValue) {
    FValueEventCallback callback;
    if (block) callback = [block](const ZIRDataSnapshotRef& snapshot) { block(snapshot, std::nullopt); };
    registration = std::make_shared<const FValueEventRegistration>(repo_, handle, std::move(callback),
                                                                   std::move(cancelBlock));
  } else {
    FChildEventCallbacks callbacks;
    if (block) callbacks[static_cast<FEventType>(eventType)] = block;
    registration = std::make_shared<const FChildEventRegistration>(repo_, handle, std::move(callbacks),
                                                                   std::move(cancelBlock));
  }
  sharedQueue()->async([repo = repo_, registration, query = querySpec()] {
    repo->addEventRegistration(registration, query);
  });
  return handle;
}

void ZIRDatabaseQuery::removeObserverWithHandle(ZIRDatabaseHandle handle) const {
  auto registration = std::make_shared<const FValueEventRegistration>(repo_, handle, nullptr, nullptr);
  sharedQueue()->async([repo = repo_, registration, query = querySpec()] {
    repo->removeEventRegistration(registration, query);
  });
}


void ZIRDatabaseQuery::keepSynced(bool synced) const {
  if (isInfoPath(*path_)) {
    NSException::raise(NSInvalidArgumentException, "Can't keep query on .info tree synced (this already is the case).");
  }
  sharedQueue()->async([repo = repo_, query = querySpec(), synced] { repo->keepQuery(query, synced); });
}

void ZIRDatabaseQuery::getData(GetDataBlock completion) const {
  std::shared_ptr<const ZIRDatabaseQuery> self = weak_from_this().lock();
  if (!self) self = std::make_shared<const ZIRDatabaseQuery>(repo_, path_, queryParams_, orderByCalled_);
  DispatchQueueRef callbackQueue = repo_->config()->callbackQueue();
  // The repository answers on the work queue; user code runs on the callback queue, after the
  // events the answer raised.
  sharedQueue()->async([self, repo = repo_, completion, callbackQueue] {
    repo->getData(self, [completion, callbackQueue](const NSErrorRef& error, const ZIRDataSnapshotRef& snapshot) {
      if (completion) FEventRaiser::handOff(callbackQueue, [completion, error, snapshot] { completion(error, snapshot); });
    });
  });
}

// -- Builders -------------------------------------------------------------------------------------

ZIRDatabaseQueryRef ZIRDatabaseQuery::withParams(FQueryParamsRef params, bool orderByCalled) const {
  return std::make_shared<const ZIRDatabaseQuery>(repo_, path_, std::move(params), orderByCalled);
}

void ZIRDatabaseQuery::validateLimit(int64_t limit, const char* from) const {
  if (limit < FLimitedFilter::kMinLimit || limit > FLimitedFilter::kMaxLimit) {
    NSException::raise(NSInvalidArgumentException, "(%s) Query limit must be between 1 and 2147483647; %lld was given.",
                       from, static_cast<long long>(limit));
  }
  if (queryParams_->limitSet()) {
    NSException::raise(NSInvalidArgumentException,
                       "(%s) Can't call queryLimitedToFirst: or queryLimitedToLast: if a limit was previously set.",
                       from);
  }
}

ZIRDatabaseQueryRef ZIRDatabaseQuery::queryLimitedToFirst(int64_t limit) const {
  validateLimit(limit, "queryLimitedToFirst:");
  return withParams(queryParams_->limitToFirst(limit), orderByCalled_);
}

ZIRDatabaseQueryRef ZIRDatabaseQuery::queryLimitedToLast(int64_t limit) const {
  validateLimit(limit, "queryLimitedToLast:");
  return withParams(queryParams_->limitToLast(limit), orderByCalled_);
}

ZIRDatabaseQueryRef ZIRDatabaseQuery::orderedBy(const FIndexRef& index, const char* from) const {
  if (orderByCalled_) {
    NSException::raise(NSInvalidArgumentException, "(%s) Can't call multiple queryOrderedBy methods on one query.",
                       from);
  }
  FQueryParamsRef params = queryParams_->orderBy(index);
  validateQueryEndpoints(*params, from);
  return withParams(std::move(params), true);
}

ZIRDatabaseQueryRef ZIRDatabaseQuery::queryOrderedByChild(const std::string& key) const {
  static constexpr const char* kFrom = "queryOrderedByChild:";
  if (key == "$key" || key == ".key") {
    NSException::raise(NSInvalidArgumentException, "(%s) %s is invalid. Use queryOrderedByKey instead.", kFrom,
                       key.c_str());
  }
  if (key == "$priority" || key == ".priority") {
    NSException::raise(NSInvalidArgumentException, "(%s) %s is invalid. Use queryOrderedByPriority instead.", kFrom,
                       key.c_str());
  }
  if (key == "$value" || key == ".value") {
    NSException::raise(NSInvalidArgumentException, "(%s) %s is invalid. Use queryOrderedByValue instead.", kFrom,
                       key.c_str());
  }
  FValidation::validateFromValidPathString(kFrom, key);
  return orderedBy(std::make_shared<const FPathIndex>(FPath::pathWithString(key)), kFrom);
}

ZIRDatabaseQueryRef ZIRDatabaseQuery::queryOrderedByKey() const {
  return orderedBy(FKeyIndex::keyIndex(), "queryOrderedByKey");
}

ZIRDatabaseQueryRef ZIRDatabaseQuery::queryOrderedByValue() const {
  return orderedBy(FValueIndex::valueIndex(), "queryOrderedByValue");
}

ZIRDatabaseQueryRef ZIRDatabaseQuery::queryOrderedByPriority() const {
  return orderedBy(FPriorityIndex::priorityIndex(), "queryOrderedByPriority");
}

FNodeRef ZIRDatabaseQuery::boundNode(const Value& value, const std::optional<std::string>& childKey,
                                     const char* from) const {
  if (!(value.is_null() || value.is_string() || value.is_number() || value.is_boolean())) {
    NSException::raise(NSInvalidArgumentException,
                       "(%s) Query bounds must be strings, numbers, booleans or null; %s was given.", from,
                       value::toJSON(value).c_str());
  }
  if (childKey) FValidation::validateFromValidKey(from, *childKey);
  return FSnapshotUtilities::nodeFromWithValidationFrom(value, from);
}

ZIRDatabaseQueryRef ZIRDatabaseQuery::queryStartingAtValue(const Value& value,
                                                          const std::optional<std::string>& childKey) const {
  static constexpr const char* kFrom = "queryStartingAtValue:";
  if (queryParams_->hasStart()) {
    NSException::raise(NSInvalidArgumentException,
                       "(%s) Can't call queryStartingAtValue: or queryEqualToValue: multiple times.", kFrom);
  }
  FQueryParamsRef params = queryParams_->startAt(boundNode(value, childKey, kFrom), childKey);
  validateQueryEndpoints(*params, kFrom);
  return withParams(std::move(params), orderByCalled_);
}

ZIRDatabaseQueryRef ZIRDatabaseQuery::queryEndingAtValue(const Value& value,
                                                        const std::optional<std::string>& childKey) const {
  static constexpr const char* kFrom = "queryEndingAtValue:";
  if (queryParams_->hasEnd()) {
    NSException::raise(NSInvalidArgumentException,
                       "(%s) Can't call queryEndingAtValue: or queryEqualToValue: multiple times.", kFrom);
  }
  FQueryParamsRef params = queryParams_->endAt(boundNode(value, childKey, kFrom), childKey);
  validateQueryEndpoints(*params, kFrom);
  return withParams(std::move(params), orderByCalled_);
}

ZIRDatabaseQueryRef ZIRDatabaseQuery::queryEqualToValue(const Value& value,
                                                       const std::optional<std::string>& childKey) const {
  static constexpr const char* kFrom = "queryEqualToValue:";
  if (queryParams_->hasStart() || queryParams_->hasEnd()) {
    NSException::raise(NSInvalidArgumentException,
                       "(%s) Can't call queryEqualToValue: after queryStartingAtValue:, queryEndingAtValue: or "
                       "queryEqualToValue:.",
                       kFrom);
  }
  FNodeRef bound = boundNode(value, childKey, kFrom);
  FQueryParamsRef params = queryParams_->startAt(bound, childKey)->endAt(bound, childKey);
  validateQueryEndpoints(*params, kFrom);
  return withParams(std::move(params), orderByCalled_);
}
