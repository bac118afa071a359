#pragma once
// The filter of a query with a limit: at most `limit` children within the query's range, counted
// from the start (or from the end, for a limit to the last). When a change pushes a child out of a
// full window, the next complete child beyond the window (asked of the complete-child source)
// moves in.
#include "sdk/database/core/FRangedFilter.h"

class FLimitedFilter : public FNodeFilter {
 public:
  // The limits a query may have.
  static constexpr int64_t kMinLimit = 1;
  static constexpr int64_t kMaxLimit = 2147483647;
  // Raises NSInvalidArgumentException for a limit outside kMinLimit...kMaxLimit: such a query
  // cannot be listened to (a window of no children has no boundary to move).
  static void validateLimit(int64_t limit);

  // Raises as validateLimit does.
  explicit FLimitedFilter(const FQueryParams& params);

  int64_t limit() const { return limit_; }
  bool reverse() const { return reverse_; }
  const std::shared_ptr<const FRangedFilter>& rangedFilter() const { return rangedFilter_; }

  using FNodeFilter::updateChildIn;
  FIndexedNodeRef updateChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey, const FNodeRef& newChild,
                                const FPathRef& affectedPath, const FCompleteChildSource& source,
                                FChildChangeAccumulator* accumulator) const override;
  FIndexedNodeRef updateFullNode(const FIndexedNodeRef& oldSnap, const FIndexedNodeRef& newSnap,
                                 FChildChangeAccumulator* accumulator) const override;
  FIndexedNodeRef updatePriority(const FNodeRef&, const FIndexedNodeRef& oldSnap) const override { return oldSnap; }
  bool filtersNodes() const override { return true; }
  FNodeFilterRef indexedFilter() const override { return rangedFilter_->indexedFilter(); }
  const FIndexRef& index() const override { return index_; }

 private:
  // The window is full: the changed child stays, leaves (and the next child beyond the window
  // moves in), or enters (and pushes the boundary child out).
  FIndexedNodeRef fullLimitUpdateNode(const FIndexedNodeRef& oldSnap, const std::string& childKey,
                                      const FNodeRef& newChild, const FCompleteChildSource& source,
                                      FChildChangeAccumulator* accumulator) const;

  std::shared_ptr<const FRangedFilter> rangedFilter_;
  FIndexRef index_;
  int64_t limit_;
  bool reverse_;
};
