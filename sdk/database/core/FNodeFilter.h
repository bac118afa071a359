#pragma once
// Decides which children of a location belong in a view's event cache and reports every child
// change it makes to an accumulator (which may be null: then nothing is reported, the result is
// the same). Filters are immutable and shared; the view processor calls them on the work queue.
#include <memory>
#include <string>

#include "sdk/database/core/FChildChangeAccumulator.h"
#include "sdk/database/core/FCompleteChildSource.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FIndexedNode.h"

class FNodeFilter;
using FNodeFilterRef = std::shared_ptr<const FNodeFilter>;

class FNodeFilter : public std::enable_shared_from_this<FNodeFilter> {
 public:
  virtual ~FNodeFilter() = default;
  // updateChildIn:forChildKey:newChild:affectedPath:fromSource:accumulator:
  virtual FIndexedNodeRef updateChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey,
                                        const FNodeRef& newChild, const FPathRef& affectedPath,
                                        const FCompleteChildSource& source,
                                        FChildChangeAccumulator* accumulator) const = 0;
  // The same for a caller that has already looked up the old node's child under childKey
  // (oldChild: the old node's getImmediateChild of it): the result is the same, one lookup fewer.
  virtual FIndexedNodeRef updateChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey,
                                        const FNodeRef& newChild, const FPathRef& affectedPath,
                                        const FCompleteChildSource& source, FChildChangeAccumulator* accumulator,
                                        const FNodeRef& oldChild) const {
    (void)oldChild;
    return updateChildIn(oldSnap, childKey, newChild, affectedPath, source, accumulator);
  }
  // updateFullNode:withNewNode:accumulator:
  virtual FIndexedNodeRef updateFullNode(const FIndexedNodeRef& oldSnap, const FIndexedNodeRef& newSnap,
                                         FChildChangeAccumulator* accumulator) const = 0;
  // updatePriority:forNode:
  virtual FIndexedNodeRef updatePriority(const FNodeRef& priority, const FIndexedNodeRef& oldSnap) const = 0;
  // Whether the filter can leave children out.
  virtual bool filtersNodes() const = 0;
  // The plain indexed filter beneath this one.
  virtual FNodeFilterRef indexedFilter() const = 0;
  virtual const FIndexRef& index() const = 0;
};
