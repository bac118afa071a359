#pragma once
// The filter of a query that loads all data: every child stays; the node only carries the
// query's index.
#include "sdk/database/core/FNodeFilter.h"

class FIndexedFilter final : public FNodeFilter {
 public:
  explicit FIndexedFilter(FIndexRef index);

  FIndexedNodeRef updateChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey, const FNodeRef& newChild,
                                const FPathRef& affectedPath, const FCompleteChildSource& source,
                                FChildChangeAccumulator* accumulator) const override;
  FIndexedNodeRef updateChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey, const FNodeRef& newChild,
                                const FPathRef& affectedPath, const FCompleteChildSource& source,
                                FChildChangeAccumulator* accumulator, const FNodeRef& oldChild) const override;
  // updateChildIn for a child replaced whole (the affected path empty) by a non-empty node, with
  // the old child found by the same walk that puts the new one in; null, with nothing made or
  // reported, when the old child is equal to the new one.
  FIndexedNodeRef replaceChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey, const FNodeRef& newChild,
                                 FChildChangeAccumulator* accumulator) const;
  FIndexedNodeRef updateFullNode(const FIndexedNodeRef& oldSnap, const FIndexedNodeRef& newSnap,
                                 FChildChangeAccumulator* accumulator) const override;
  FIndexedNodeRef updatePriority(const FNodeRef& priority, const FIndexedNodeRef& oldSnap) const override;
  bool filtersNodes() const override { return false; }
  FNodeFilterRef indexedFilter() const override { return shared_from_this(); }
  const FIndexRef& index() const override { return index_; }

 private:
  FIndexRef index_;
};
