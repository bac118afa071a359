#pragma once
// The filter of a query with a start and/or end bound and no limit: a child stays when it lies
// between the two posts (both inclusive) under the query's index.
#include "sdk/database/core/FIndexedFilter.h"
#include "sdk/database/core/FQueryParams.h"

class FRangedFilter : public FNodeFilter {
 public:
  explicit FRangedFilter(const FQueryParams& params);

  // With a start bound, the index's post of the start value and key ("[MIN_NAME]" by default);
  // without, the index's minimum post. The end post likewise with "[MAX_NAME]" and the maximum.
  static FNamedNodeRef startPostFromQueryParams(const FQueryParams& params);
  static FNamedNodeRef endPostFromQueryParams(const FQueryParams& params);

  const FNamedNodeRef& startPost() const { return startPost_; }
  const FNamedNodeRef& endPost() const { return endPost_; }
  bool matchesKey(const std::string& key, const FNode& node) const;

  FIndexedNodeRef updateChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey, const FNodeRef& newChild,
                                const FPathRef& affectedPath, const FCompleteChildSource& source,
                                FChildChangeAccumulator* accumulator) const override;
  FIndexedNodeRef updateChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey, const FNodeRef& newChild,
                                const FPathRef& affectedPath, const FCompleteChildSource& source,
                                FChildChangeAccumulator* accumulator, const FNodeRef& oldChild) const override;
  FIndexedNodeRef updateFullNode(const FIndexedNodeRef& oldSnap, const FIndexedNodeRef& newSnap,
                                 FChildChangeAccumulator* accumulator) const override;
  FIndexedNodeRef updatePriority(const FNodeRef&, const FIndexedNodeRef& oldSnap) const override { return oldSnap; }
  bool filtersNodes() const override { return true; }
  FNodeFilterRef indexedFilter() const override { return indexedFilter_; }
  const FIndexRef& index() const override { return index_; }

 private:
  FNodeFilterRef indexedFilter_;
  FIndexRef index_;
  FNamedNodeRef startPost_;
  FNamedNodeRef endPost_;
};
