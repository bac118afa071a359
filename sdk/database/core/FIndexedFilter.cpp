#include "sdk/database/core/FIndexedFilter.h"

#include "sdk/database/snapshot/FChildrenNode.h"

namespace {

// The child event of replacing oldChild by newChild (either may be empty) under childKey.
void trackReplacement(FChildChangeAccumulator& accumulator, const std::string& childKey, const FNodeRef& oldChild,
                      const FNodeRef& newChild) {
  if (newChild->isEmpty()) {
    if (!oldChild->isEmpty()) {  // the old node had the child
      accumulator.trackChildChange(FChange(FEventTypeChildRemoved, FIndexedNode::indexedNodeWithNode(oldChild), childKey));
    }
  } else if (oldChild->isEmpty()) {
    accumulator.trackChildChange(FChange(FEventTypeChildAdded, FIndexedNode::indexedNodeWithNode(newChild), childKey));
  } else {
    accumulator.trackChildChange(FChange(FEventTypeChildChanged, FIndexedNode::indexedNodeWithNode(newChild), childKey,
                                         FIndexedNode::indexedNodeWithNode(oldChild)));
  }
}

}  // namespace

FIndexedFilter::FIndexedFilter(FIndexRef index) : index_(std::move(index)) {}

FIndexedNodeRef FIndexedFilter::updateChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey,
                                              const FNodeRef& newChild, const FPathRef& affectedPath,
                                              const FCompleteChildSource& source,
                                              FChildChangeAccumulator* accumulator) const {
  return updateChildIn(oldSnap, childKey, newChild, affectedPath, source, accumulator,
                       oldSnap->node()->getImmediateChild(childKey));
}

FIndexedNodeRef FIndexedFilter::updateChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey,
                                              const FNodeRef& newChild, const FPathRef& affectedPath,
                                              const FCompleteChildSource&, FChildChangeAccumulator* accumulator,
                                              const FNodeRef& oldChild) const {
  const FNodeRef& oldNode = oldSnap->node();
  if (oldChild->getChild(affectedPath)->isEqual(*newChild->getChild(affectedPath)) &&
      oldChild->isEmpty() == newChild->isEmpty()) {
    // A deep change that leaves the child as it was changes nothing.
    return oldSnap;
  }
  if (accumulator) trackReplacement(*accumulator, childKey, oldChild, newChild);
  if (oldNode->isLeafNode() && newChild->isEmpty()) return oldSnap;
  return oldSnap->updateChild(childKey, newChild);
}

FIndexedNodeRef FIndexedFilter::replaceChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey,
                                               const FNodeRef& newChild, FChildChangeAccumulator* accumulator) const {
  FNodeRef oldChild;
  FIndexedNodeRef updated = oldSnap->updateChildUnlessEqual(childKey, newChild, oldChild);
  if (!updated) return nullptr;
  if (accumulator) trackReplacement(*accumulator, childKey, oldChild, newChild);
  return updated;
}

FIndexedNodeRef FIndexedFilter::updateFullNode(const FIndexedNodeRef& oldSnap, const FIndexedNodeRef& newSnap,
                                               FChildChangeAccumulator* accumulator) const {
  if (accumulator) {
    const FNodeRef& oldNode = oldSnap->node();
    const FNodeRef& newNode = newSnap->node();
    oldNode->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
      if (!newNode->hasChild(key)) {
        accumulator->trackChildChange(FChange(FEventTypeChildRemoved, FIndexedNode::indexedNodeWithNode(child), key));
      }
    });
    newNode->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
      if (oldNode->hasChild(key)) {
        FNodeRef oldChild = oldNode->getImmediateChild(key);
        if (!oldChild->isEqual(*child)) {
          accumulator->trackChildChange(FChange(FEventTypeChildChanged, FIndexedNode::indexedNodeWithNode(child), key,
                                                FIndexedNode::indexedNodeWithNode(oldChild)));
        }
      } else {
        accumulator->trackChildChange(FChange(FEventTypeChildAdded, FIndexedNode::indexedNodeWithNode(child), key));
      }
    });
  }
  return newSnap;
}

FIndexedNodeRef FIndexedFilter::updatePriority(const FNodeRef& priority, const FIndexedNodeRef& oldSnap) const {
  if (oldSnap->node()->isEmpty()) return oldSnap;
  return oldSnap->updatePriority(priority);
}
