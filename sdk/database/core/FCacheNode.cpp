#include "sdk/database/core/FCacheNode.h"

#include "sdk/database/core/FPath.h"

FCacheNode::FCacheNode(FIndexedNodeRef indexedNode, bool isFullyInitialized, bool isFiltered)
    : indexedNode_(std::move(indexedNode)), isFullyInitialized_(isFullyInitialized), isFiltered_(isFiltered) {}

bool FCacheNode::isCompleteForChild(const std::string& key) const {
  return (isFullyInitialized_ && !isFiltered_) || node()->hasChild(key);
}

bool FCacheNode::isCompleteForPath(const FPath& path) const {
  std::optional<std::string> front = path.getFront();
  if (!front) return isFullyInitialized_ && !isFiltered_;
  return isCompleteForChild(*front);
}
