#include "sdk/database/core/FLimitedFilter.h"

#include <vector>

#include "platform/foundation/NSException.h"
#include "sdk/database/snapshot/FChildrenNode.h"

void FLimitedFilter::validateLimit(int64_t limit) {
  if (limit < kMinLimit || limit > kMaxLimit) {
    NSException::raise(NSInvalidArgumentException, "Query limit %lld is not between 1 and 2147483647",
                       static_cast<long long>(limit));
  }
}

FLimitedFilter::FLimitedFilter(const FQueryParams& params)
    : rangedFilter_(std::make_shared<const FRangedFilter>(params)),
      index_(params.index()),
      limit_(params.limit()),
      reverse_(!params.isViewFromLeft()) {
  validateLimit(limit_);
}

FIndexedNodeRef FLimitedFilter::updateChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey,
                                              const FNodeRef& newChild, const FPathRef& affectedPath,
                                              const FCompleteChildSource& source,
                                              FChildChangeAccumulator* accumulator) const {
  const FNodeRef& child = rangedFilter_->matchesKey(childKey, *newChild) ? newChild : FEmptyNode::emptyNode();
  if (oldSnap->node()->getImmediateChild(childKey)->isEqual(*child)) return oldSnap;
  if (oldSnap->node()->numChildren() < limit_) {
    return rangedFilter_->indexedFilter()->updateChildIn(oldSnap, childKey, child, affectedPath, source, accumulator);
  }
  return fullLimitUpdateNode(oldSnap, childKey, child, source, accumulator);
}

FIndexedNodeRef FLimitedFilter::fullLimitUpdateNode(const FIndexedNodeRef& oldSnap, const std::string& childKey,
                                                    const FNodeRef& newChild, const FCompleteChildSource& source,
                                                    FChildChangeAccumulator* accumulator) const {
  const FNodeRef& oldNode = oldSnap->node();
  FNamedNodeRef windowBoundary = reverse_ ? oldSnap->firstChild() : oldSnap->lastChild();
  const bool inRange = !newChild->isEmpty() && rangedFilter_->matchesKey(childKey, *newChild);

  if (oldNode->hasChild(childKey)) {
    FNodeRef oldChild = oldNode->getImmediateChild(childKey);
    FNamedNodeRef next = source.childByIndex(index_, windowBoundary, reverse_);
    if (next && (next->name() == childKey || oldNode->hasChild(next->name()))) {
      // The write tree may already hold a change that this filter has not seen yet (a merge being
      // applied child by child): that child is not the one beyond the window.
      next = source.childByIndex(index_, next, reverse_);
    }
    const bool remainsInWindow =
        inRange && (!next || index_->compare(next->name(), *next->node(), childKey, *newChild, reverse_) >= 0);
    if (remainsInWindow) {
      if (accumulator) {
        accumulator->trackChildChange(FChange(FEventTypeChildChanged, FIndexedNode::indexedNodeWithNode(newChild),
                                              childKey, FIndexedNode::indexedNodeWithNode(oldChild)));
      }
      return oldSnap->updateChild(childKey, newChild);
    }
    if (accumulator) {
      accumulator->trackChildChange(FChange(FEventTypeChildRemoved, FIndexedNode::indexedNodeWithNode(oldChild), childKey));
    }
    FIndexedNodeRef result = oldSnap->updateChild(childKey, FEmptyNode::emptyNode());
    if (next && rangedFilter_->matchesKey(next->name(), *next->node())) {
      if (accumulator) {
        accumulator->trackChildChange(
            FChange(FEventTypeChildAdded, FIndexedNode::indexedNodeWithNode(next->node()), next->name()));
      }
      return result->updateChild(next->name(), next->node());
    }
    return result;
  }

  if (!inRange) return oldSnap;
  if (index_->compare(windowBoundary->name(), *windowBoundary->node(), childKey, *newChild, reverse_) < 0) {
    return oldSnap;  // beyond the far end of the window
  }
  if (accumulator) {
    accumulator->trackChildChange(FChange(FEventTypeChildRemoved,
                                          FIndexedNode::indexedNodeWithNode(windowBoundary->node()),
                                          windowBoundary->name()));
    accumulator->trackChildChange(FChange(FEventTypeChildAdded, FIndexedNode::indexedNodeWithNode(newChild), childKey));
  }
  return oldSnap->updateChild(childKey, newChild)->updateChild(windowBoundary->name(), FEmptyNode::emptyNode());
}

FIndexedNodeRef FLimitedFilter::updateFullNode(const FIndexedNodeRef& oldSnap, const FIndexedNodeRef& newSnap,
                                               FChildChangeAccumulator* accumulator) const {
  FIndexedNodeRef filtered;
  const FNodeRef& newNode = newSnap->node();
  if (newNode->isLeafNode() || newNode->isEmpty()) {
    filtered = FIndexedNode::indexedNodeWithNode(FEmptyNode::emptyNode(), index_);
  } else {
    FNamedNodeRef firstPost = reverse_ ? rangedFilter_->endPost() : rangedFilter_->startPost();
    FNamedNodeRef lastPost = reverse_ ? rangedFilter_->startPost() : rangedFilter_->endPost();
    // A window of at most `limit` children: when that is less than half of the node, the window is
    // built from the children it keeps, and the walk ends at the first child after the start that
    // is not kept. The walk goes in the window's order, so every child after that one lies past
    // the window's last place or past the last post and would be dropped too.
    const bool buildFromKept = limit_ < newNode->numChildren() - limit_;
    bool foundStart = false;
    int64_t count = 0;
    std::vector<FNamedNodeRef> kept;
    std::vector<std::string> dropped;
    newSnap->enumerateChildrenReverse(reverse_, [&](const std::string& key, const FNodeRef& child, bool* stop) {
      if (!foundStart && index_->compare(firstPost->name(), *firstPost->node(), key, *child, reverse_) <= 0) {
        foundStart = true;
      }
      if (foundStart && count < limit_ && index_->compare(key, *child, lastPost->name(), *lastPost->node(), reverse_) <= 0) {
        ++count;
        kept.push_back(FNamedNode::nodeWithName(key, child));
      } else if (!buildFromKept) {
        dropped.push_back(key);
      } else if (foundStart) {
        *stop = true;
      }
    });
    if (buildFromKept) {
      filtered = FIndexedNode::indexedNodeWithNode(FEmptyNode::emptyNode(), index_);
      for (const FNamedNodeRef& named : kept) filtered = filtered->updateChild(named->name(), named->node());
    } else {
      filtered = newSnap->updatePriority(FEmptyNode::emptyNode());
      for (const std::string& key : dropped) filtered = filtered->updateChild(key, FEmptyNode::emptyNode());
    }
  }
  return rangedFilter_->indexedFilter()->updateFullNode(oldSnap, filtered, accumulator);
}
