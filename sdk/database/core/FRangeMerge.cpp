#include "sdk/database/core/FRangeMerge.h"

#include <set>
#include <vector>

#include "sdk/database/snapshot/FChildrenNode.h"

FRangeMerge::FRangeMerge(FPathRef optExclusiveStart, FPathRef optInclusiveEnd, FNodeRef updates)
    : optExclusiveStart_(std::move(optExclusiveStart)),
      optInclusiveEnd_(std::move(optInclusiveEnd)),
      updates_(updates ? std::move(updates) : FEmptyNode::emptyNode()) {}

FNodeRef FRangeMerge::applyToNode(const FNodeRef& node) const {
  return updateRangeInNode(FPath::empty(), node, updates_);
}

FNodeRef FRangeMerge::updateRangeInNode(const FPathRef& currentPath, const FNodeRef& node,
                                        const FNodeRef& updates) const {
  const int startComparison = optExclusiveStart_ ? currentPath->compare(*optExclusiveStart_) : 1;
  const int endComparison = optInclusiveEnd_ ? currentPath->compare(*optInclusiveEnd_) : -1;
  const bool startInNode = optExclusiveStart_ && currentPath->contains(*optExclusiveStart_);
  const bool endInNode = optInclusiveEnd_ && currentPath->contains(*optInclusiveEnd_);
  if (startComparison > 0 && endComparison < 0 && !endInNode) return updates;
  if (startComparison > 0 && endInNode && updates->isLeafNode()) return updates;
  if (startComparison > 0 && endComparison == 0) {
    return node->isLeafNode() ? FEmptyNode::emptyNode() : node;
  }
  if (startInNode || endInNode) {
    std::set<std::string> keys;
    auto collect = [&keys](const std::string& key, const FNodeRef&, bool*) { keys.insert(key); };
    node->enumerateChildrenUsingBlock(collect);
    updates->enumerateChildrenUsingBlock(collect);
    FNodeRef result = node;
    // Children that stay or come in are written before those that go: removing first could empty
    // the node for a moment, and an empty node drops its priority even where the priority lies
    // outside the range and must stay.
    std::vector<std::string> removed;
    auto replace = [&](const std::string& key) {
      FNodeRef current = node->getImmediateChild(key);
      FNodeRef updated =
          updateRangeInNode(currentPath->childFromString(key), current, updates->getImmediateChild(key));
      if (updated == current) return;
      if (updated->isEmpty() && key != ".priority") {
        removed.push_back(key);
      } else {
        result = result->updateImmediateChild(key, updated);
      }
    };
    for (const auto& key : keys) replace(key);
    for (const auto& key : removed) result = result->updateImmediateChild(key, FEmptyNode::emptyNode());
    // The priority goes last so that the node is not empty when it is set.
    if (!updates->getPriority()->isEmpty() || !node->getPriority()->isEmpty()) replace(".priority");
    return result;
  }
  return node;
}

std::string FRangeMerge::description() const {
  return "RangeMerge (optExclusiveStart = " + (optExclusiveStart_ ? optExclusiveStart_->toString() : "(null)") +
         ", optExclusiveEng = " + (optInclusiveEnd_ ? optInclusiveEnd_->toString() : "(null)") +
         ", updates = " + updates_->description() + ")";
}
