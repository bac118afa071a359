#pragma once
// One query whose server data the local cache keeps: its id, its location and parameters, when it
// was last used (seconds since 1970, on the tracked-query manager's clock), whether its data was
// loaded completely and whether a listener or a read uses it now. A query that loads all data is always
// tracked as the default query of its path. Immutable; changes return a new record.
#include <cstdint>
#include <memory>

#include "sdk/database/core/FQueryParams.h"

class FTrackedQuery;
using FTrackedQueryRef = std::shared_ptr<const FTrackedQuery>;

class FTrackedQuery {
 public:
  FTrackedQuery(uint64_t queryId, FQuerySpecRef query, double lastUse, bool isComplete, bool isActive)
      : queryId_(queryId), query_(std::move(query)), lastUse_(lastUse), isComplete_(isComplete), isActive_(isActive) {}

  uint64_t queryId() const { return queryId_; }
  const FQuerySpecRef& query() const { return query_; }
  double lastUse() const { return lastUse_; }
  bool isComplete() const { return isComplete_; }
  bool isActive() const { return isActive_; }

  FTrackedQueryRef updateLastUse(double lastUse) const {
    return std::make_shared<const FTrackedQuery>(queryId_, query_, lastUse, isComplete_, isActive_);
  }
  FTrackedQueryRef setComplete() const {
    return std::make_shared<const FTrackedQuery>(queryId_, query_, lastUse_, true, isActive_);
  }
  FTrackedQueryRef setActiveState(bool isActive) const {
    return std::make_shared<const FTrackedQuery>(queryId_, query_, lastUse_, isComplete_, isActive);
  }

  bool isEqual(const FTrackedQuery& other) const {
    return queryId_ == other.queryId_ && query_->isEqual(*other.query_) && lastUse_ == other.lastUse_ &&
           isComplete_ == other.isComplete_ && isActive_ == other.isActive_;
  }

 private:
  uint64_t queryId_;
  FQuerySpecRef query_;
  double lastUse_;
  bool isComplete_;
  bool isActive_;
};
