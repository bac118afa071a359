#pragma once
// A server update that replaces everything strictly after an optional start path and up to and
// including an optional end path (in path order) with the content of an update node.
#include <string>

#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FNode.h"

class FRangeMerge {
 public:
  FRangeMerge(FPathRef optExclusiveStart, FPathRef optInclusiveEnd, FNodeRef updates);

  FNodeRef applyToNode(const FNodeRef& node) const;
  FNodeRef updateRangeInNode(const FPathRef& currentPath, const FNodeRef& node, const FNodeRef& updates) const;

  const FPathRef& optExclusiveStart() const { return optExclusiveStart_; }
  const FPathRef& optInclusiveEnd() const { return optInclusiveEnd_; }
  const FNodeRef& updates() const { return updates_; }
  std::string description() const;

 private:
  FPathRef optExclusiveStart_;
  FPathRef optInclusiveEnd_;
  FNodeRef updates_;
};
