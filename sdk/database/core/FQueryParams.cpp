#include "sdk/database/core/FQueryParams.h"

#include <cmath>
#include <cstdint>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSString.h"
#include "sdk/database/core/FIndexedFilter.h"
#include "sdk/database/core/FLimitedFilter.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FRangedFilter.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/core/FValidation.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace {

// A stored or received query whose fields have the wrong type is refused like one with an unknown
// "vf": as an invalid argument, naming the field and showing the value only in outline.
[[noreturn]] void badField(const char* key, const Value& value) {
  NSException::raise(NSInvalidArgumentException,
                     ns::format("Invalid query parameter %s: %s", key, FValidation::describeValue(value).c_str()));
}

std::string stringField(const Value& dict, const char* key) {
  const Value& v = dict.at(key);
  if (!v.is_string()) badField(key, v);
  return v.get<std::string>();
}

// The integer value of a number (booleans count as 0 and 1), truncated toward zero; a value
// without one (not a number, not finite, beyond 64 bits) is refused.
int64_t integerField(const Value& dict, const char* key) {
  const Value& v = dict.at(key);
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (v.is_number_unsigned()) {
    if (v.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) badField(key, v);
    return static_cast<int64_t>(v.get<uint64_t>());
  }
  if (v.is_number_integer()) return v.get<int64_t>();
  if (v.is_number_float()) {
    const double d = std::trunc(v.get<double>());
    // -2^63 is exact in a double; 2^63 is the first value beyond the range.
    if (std::isfinite(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0) {
      return static_cast<int64_t>(d);
    }
  }
  badField(key, v);
}

bool equalNodes(const FNodeRef& a, const FNodeRef& b) {
  if (a == b) return true;
  if (!a || !b) return false;
  return a->isEqual(*b);
}

}  // namespace

FQueryParams::FQueryParams() : index_(FPriorityIndex::priorityIndex()) {}

const FQueryParamsRef& FQueryParams::defaultInstance() {
  static const FQueryParamsRef& instance = *new FQueryParamsRef(std::make_shared<const FQueryParams>());
  return instance;
}

const std::string& FQueryParams::indexStartKey() const {
  return indexStartKey_ ? *indexStartKey_ : FUtilities::minName();
}

const std::string& FQueryParams::indexEndKey() const {
  return indexEndKey_ ? *indexEndKey_ : FUtilities::maxName();
}

bool FQueryParams::isViewFromLeft() const { return viewFrom_ ? *viewFrom_ == "l" : hasStart(); }

bool FQueryParams::isDefault() const { return loadsAllData() && index_->isEqual(*FPriorityIndex::priorityIndex()); }

bool FQueryParams::isValid() const { return !(hasStart() && hasEnd() && limitSet_ && !hasAnchoredLimit()); }

std::shared_ptr<FQueryParams> FQueryParams::mutableCopy() const { return std::make_shared<FQueryParams>(*this); }

FQueryParamsRef FQueryParams::limitTo(int64_t limit) const {
  auto copy = mutableCopy();
  copy->limitSet_ = true;
  copy->limit_ = limit;
  copy->viewFrom_.reset();
  return copy;
}

FQueryParamsRef FQueryParams::limitToFirst(int64_t limit) const {
  auto copy = mutableCopy();
  copy->limitSet_ = true;
  copy->limit_ = limit;
  copy->viewFrom_.emplace(1, 'l');
  return copy;
}

FQueryParamsRef FQueryParams::limitToLast(int64_t limit) const {
  auto copy = mutableCopy();
  copy->limitSet_ = true;
  copy->limit_ = limit;
  copy->viewFrom_.emplace(1, 'r');
  return copy;
}

FQueryParamsRef FQueryParams::startAt(const FNodeRef& indexValue, const std::optional<std::string>& childKey) const {
  auto copy = mutableCopy();
  copy->indexStartValue_ = indexValue;
  copy->indexStartKey_ = childKey;
  return copy;
}

FQueryParamsRef FQueryParams::endAt(const FNodeRef& indexValue, const std::optional<std::string>& childKey) const {
  auto copy = mutableCopy();
  copy->indexEndValue_ = indexValue;
  copy->indexEndKey_ = childKey;
  return copy;
}

FQueryParamsRef FQueryParams::orderBy(const FIndexRef& index) const {
  auto copy = mutableCopy();
  copy->index_ = index;
  return copy;
}

Value FQueryParams::wireProtocolParams() const {
  Value dict = Value::object();
  if (hasStart()) {
    dict["sp"] = indexStartValue_->valForExport(true);
    if (indexStartKey_) dict["sn"] = *indexStartKey_;
  }
  if (hasEnd()) {
    dict["ep"] = indexEndValue_->valForExport(true);
    if (indexEndKey_) dict["en"] = *indexEndKey_;
  }
  if (limitSet_) {
    dict["l"] = limit_;
    dict["vf"] = viewFrom_ ? *viewFrom_ : std::string(hasStart() ? "l" : "r");
  }
  if (!index_->isEqual(*FPriorityIndex::priorityIndex())) dict["i"] = index_->queryDefinition();
  return dict;
}

FQueryParamsRef FQueryParams::fromQueryObject(const Value& dict) {
  if (dict.is_null() || (dict.is_object() && dict.empty())) return defaultInstance();
  if (!dict.is_object()) badField("dictionary", dict);
  auto params = std::make_shared<FQueryParams>();
  if (dict.contains("l")) {
    params->limitSet_ = true;
    params->limit_ = integerField(dict, "l");
    FLimitedFilter::validateLimit(params->limit_);
  }
  if (dict.contains("sp")) {
    params->indexStartValue_ = FSnapshotUtilities::nodeFrom(dict.at("sp"));
    if (dict.contains("sn")) params->indexStartKey_ = stringField(dict, "sn");
  }
  if (dict.contains("ep")) {
    params->indexEndValue_ = FSnapshotUtilities::nodeFrom(dict.at("ep"));
    if (dict.contains("en")) params->indexEndKey_ = stringField(dict, "en");
  }
  if (dict.contains("vf")) {
    const Value& vf = dict.at("vf");
    if (!vf.is_string() || (vf.get<std::string>() != "l" && vf.get<std::string>() != "r")) {
      const std::string shown = vf.is_string() ? vf.get<std::string>() : FValidation::describeValue(vf);
      NSException::raise(NSInvalidArgumentException, "Unknown view from paramter: " + shown);
    }
    // The side a window is counted from means nothing without a limit: the query selects the same
    // children, its wire form leaves it out, and a query read back from that form must be the
    // same query (the local cache finds its stored queries by equality).
    if (params->limitSet_) params->viewFrom_ = vf.get<std::string>();
  }
  if (dict.contains("i")) params->index_ = FIndex::indexFromQueryDefinition(stringField(dict, "i"));
  return params;
}

bool FQueryParams::isEqual(const FQueryParams& other) const {
  if (this == &other) return true;
  return limitSet_ == other.limitSet_ && limit_ == other.limit_ && index_->isEqual(*other.index_) &&
         indexStartKey_ == other.indexStartKey_ && equalNodes(indexStartValue_, other.indexStartValue_) &&
         indexEndKey_ == other.indexEndKey_ && equalNodes(indexEndValue_, other.indexEndValue_) &&
         isViewFromLeft() == other.isViewFromLeft();
}

uint64_t FQueryParams::hash() const {
  auto hs = [](const std::optional<std::string>& s) -> uint64_t { return s ? std::hash<std::string>()(*s) : 0; };
  auto hn = [](const FNodeRef& n) -> uint64_t { return n ? n->hash() : 0; };
  uint64_t h = limitSet_ ? static_cast<uint64_t>(limit_) * 31 : 0;
  h = (h + (isViewFromLeft() ? 1231 : 1237)) * 31;
  h = (h + hs(indexStartKey_)) * 31;
  h = (h + hn(indexStartValue_)) * 31;
  h = (h + hs(indexEndKey_)) * 31;
  h = (h + hn(indexEndValue_)) * 31;
  return h + index_->hash();
}

std::string FQueryParams::description() const { return FUtilities::jsonText(wireProtocolParams()); }

std::shared_ptr<const FNodeFilter> FQueryParams::nodeFilter() const {
  if (loadsAllData()) return std::make_shared<const FIndexedFilter>(index_);
  if (limitSet_) return std::make_shared<const FLimitedFilter>(*this);
  return std::make_shared<const FRangedFilter>(*this);
}

FQuerySpec::FQuerySpec(FPathRef path, FQueryParamsRef params)
    : path_(path ? std::move(path) : FPath::empty()),
      params_(params ? std::move(params) : FQueryParams::defaultInstance()) {}

FQuerySpecRef FQuerySpec::defaultQueryAtPath(const FPathRef& path) {
  return std::make_shared<const FQuerySpec>(path, FQueryParams::defaultInstance());
}

bool FQuerySpec::isEqual(const FQuerySpec& other) const {
  return this == &other || (path_->isEqual(*other.path_) && params_->isEqual(*other.params_));
}

uint64_t FQuerySpec::hash() const { return path_->hash() * 31 + params_->hash(); }

std::string FQuerySpec::description() const {
  return "FQuerySpec (path: " + path_->toString() + ", params: " + params_->description() + ")";
}
