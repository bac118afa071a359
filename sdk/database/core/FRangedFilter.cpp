#include "sdk/database/core/FRangedFilter.h"

#include <vector>

#include "sdk/database/snapshot/FChildrenNode.h"

FRangedFilter::FRangedFilter(const FQueryParams& params)
    : indexedFilter_(std::make_shared<const FIndexedFilter>(params.index())),
      index_(params.index()),
      startPost_(startPostFromQueryParams(params)),
      endPost_(endPostFromQueryParams(params)) {}

FNamedNodeRef FRangedFilter::startPostFromQueryParams(const FQueryParams& params) {
  if (params.hasStart()) return params.index()->makePost(params.indexStartValue(), params.indexStartKey());
  return params.index()->minPost();
}

FNamedNodeRef FRangedFilter::endPostFromQueryParams(const FQueryParams& params) {
  if (params.hasEnd()) return params.index()->makePost(params.indexEndValue(), params.indexEndKey());
  return params.index()->maxPost();
}

bool FRangedFilter::matchesKey(const std::string& key, const FNode& node) const {
  return index_->compare(startPost_->name(), *startPost_->node(), key, node) <= 0 &&
         index_->compare(key, node, endPost_->name(), *endPost_->node()) <= 0;
}

FIndexedNodeRef FRangedFilter::updateChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey,
                                             const FNodeRef& newChild, const FPathRef& affectedPath,
                                             const FCompleteChildSource& source,
                                             FChildChangeAccumulator* accumulator) const {
  const FNodeRef& child = matchesKey(childKey, *newChild) ? newChild : FEmptyNode::emptyNode();
  return indexedFilter_->updateChildIn(oldSnap, childKey, child, affectedPath, source, accumulator);
}

FIndexedNodeRef FRangedFilter::updateChildIn(const FIndexedNodeRef& oldSnap, const std::string& childKey,
                                             const FNodeRef& newChild, const FPathRef& affectedPath,
                                             const FCompleteChildSource& source, FChildChangeAccumulator* accumulator,
                                             const FNodeRef& oldChild) const {
  const FNodeRef& child = matchesKey(childKey, *newChild) ? newChild : FEmptyNode::emptyNode();
  return indexedFilter_->updateChildIn(oldSnap, childKey, child, affectedPath, source, accumulator, oldChild);
}

FIndexedNodeRef FRangedFilter::updateFullNode(const FIndexedNodeRef& oldSnap, const FIndexedNodeRef& newSnap,
                                              FChildChangeAccumulator* accumulator) const {
  FIndexedNodeRef filtered;
  if (newSnap->node()->isLeafNode()) {
    filtered = FIndexedNode::indexedNodeWithNode(FEmptyNode::emptyNode(), index_);
  } else {
    filtered = newSnap->updatePriority(FEmptyNode::emptyNode());
    std::vector<std::string> outside;
    newSnap->node()->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
      if (!matchesKey(key, *child)) outside.push_back(key);
    });
    for (const std::string& key : outside) filtered = filtered->updateChild(key, FEmptyNode::emptyNode());
  }
  return indexedFilter_->updateFullNode(oldSnap, filtered, accumulator);
}
