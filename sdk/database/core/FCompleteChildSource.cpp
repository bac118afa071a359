#include "sdk/database/core/FCompleteChildSource.h"

#include <optional>

const std::shared_ptr<const FNoCompleteChildSource>& FNoCompleteChildSource::instance() {
  static const std::shared_ptr<const FNoCompleteChildSource>& shared =
      *new std::shared_ptr<const FNoCompleteChildSource>(std::make_shared<const FNoCompleteChildSource>());
  return shared;
}

FNamedNodeRef FCompleteChildSource::childAfterPost(const FNode& node, const FNamedNode& post, bool reverse,
                                                   const FIndex& index) {
  std::optional<std::string> nextKey;
  FNodeRef nextNode;
  node.enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    if (index.compare(key, *child, post.name(), *post.node(), reverse) <= 0) return;
    if (!nextKey || index.compare(key, *child, *nextKey, *nextNode, reverse) < 0) {
      nextKey = key;
      nextNode = child;
    }
  });
  return nextKey ? FNamedNode::nodeWithName(*nextKey, nextNode) : nullptr;
}

FNamedNodeRef FServerDataCompleteChildSource::childByIndex(const FIndexRef& index, const FNamedNodeRef& child,
                                                           bool reverse) const {
  return childAfterPost(*data_, *child, reverse, *index);
}
