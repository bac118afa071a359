#pragma once
// The constraints of a query: child ordering, start and end bounds, limit and the side the limit
// counts from. Immutable; every builder returns a modified copy. Converts to and from the
// dictionary that travels on the wire and in the local cache.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "sdk/database/snapshot/FIndex.h"

class FQueryParams;
class FNodeFilter;
using FQueryParamsRef = std::shared_ptr<const FQueryParams>;

class FQueryParams : public std::enable_shared_from_this<FQueryParams> {
 public:
  FQueryParams();
  static const FQueryParamsRef& defaultInstance();
  // A limit takes the integer value of its number (truncated toward zero). Raises
  // NSInvalidArgumentException "Unknown view from paramter: <vf>" for a "vf" other than "l" or "r",
  // NSInvalidArgumentException for a limit outside 1...2147483647 or a field of the wrong kind, and
  // the conversion's exceptions for a bound value that cannot become a node.
  static FQueryParamsRef fromQueryObject(const Value& dict);

  bool limitSet() const { return limitSet_; }
  const std::optional<std::string>& viewFrom() const { return viewFrom_; }
  const FIndexRef& index() const { return index_; }
  int64_t limit() const { return limit_; }
  const FNodeRef& indexStartValue() const { return indexStartValue_; }
  const FNodeRef& indexEndValue() const { return indexEndValue_; }
  // The stored key, or the shared "[MIN_NAME]" / "[MAX_NAME]" sentinel when none was stored.
  const std::string& indexStartKey() const;
  const std::string& indexEndKey() const;
  const std::optional<std::string>& storedStartKey() const { return indexStartKey_; }
  const std::optional<std::string>& storedEndKey() const { return indexEndKey_; }

  bool hasStart() const { return indexStartValue_ != nullptr; }
  bool hasEnd() const { return indexEndValue_ != nullptr; }
  bool hasAnchoredLimit() const { return limitSet_ && viewFrom_.has_value(); }
  bool isViewFromLeft() const;
  bool loadsAllData() const { return !hasStart() && !hasEnd() && !limitSet_; }
  bool isDefault() const;
  bool isValid() const;

  FQueryParamsRef limitTo(int64_t limit) const;
  FQueryParamsRef limitToFirst(int64_t limit) const;
  FQueryParamsRef limitToLast(int64_t limit) const;
  FQueryParamsRef startAt(const FNodeRef& indexValue, const std::optional<std::string>& childKey) const;
  FQueryParamsRef startAt(const FNodeRef& indexValue) const { return startAt(indexValue, std::nullopt); }
  FQueryParamsRef endAt(const FNodeRef& indexValue, const std::optional<std::string>& childKey) const;
  FQueryParamsRef endAt(const FNodeRef& indexValue) const { return endAt(indexValue, std::nullopt); }
  FQueryParamsRef orderBy(const FIndexRef& index) const;

  // A new filter for a view of these params: indexed for a query that loads all data, limited for
  // one with a limit (a limit outside 1...2147483647 raises NSInvalidArgumentException), else ranged.
  std::shared_ptr<const FNodeFilter> nodeFilter() const;

  Value wireProtocolParams() const;
  bool isEqual(const FQueryParams& other) const;
  uint64_t hash() const;
  std::string description() const;

 private:
  std::shared_ptr<FQueryParams> mutableCopy() const;

  bool limitSet_ = false;
  std::optional<std::string> viewFrom_;
  FIndexRef index_;
  int64_t limit_ = 0;
  FNodeRef indexStartValue_;
  std::optional<std::string> indexStartKey_;
  FNodeRef indexEndValue_;
  std::optional<std::string> indexEndKey_;
};

class FQuerySpec;
using FQuerySpecRef = std::shared_ptr<const FQuerySpec>;

// A query's identity: a location and its parameters.
class FQuerySpec {
 public:
  FQuerySpec(FPathRef path, FQueryParamsRef params);
  static FQuerySpecRef defaultQueryAtPath(const FPathRef& path);

  const FPathRef& path() const { return path_; }
  const FQueryParamsRef& params() const { return params_; }
  const FIndexRef& index() const { return params_->index(); }
  bool isDefault() const { return params_->isDefault(); }
  bool loadsAllData() const { return params_->loadsAllData(); }

  bool isEqual(const FQuerySpec& other) const;
  uint64_t hash() const;
  std::string description() const;

 private:
  FPathRef path_;
  FQueryParamsRef params_;
};
