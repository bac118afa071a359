#include "sdk/database/core/FCompleteChildSource.h"

#include "sdk/database/snapshot/FChildrenNode.h"

const std::shared_ptr<const FNoCompleteChildSource>& FNoCompleteChildSource::instance() {
  static const std::shared_ptr<const FNoCompleteChildSource>& shared =
      *new std::shared_ptr<const FNoCompleteChildSource>(std::make_shared<const FNoCompleteChildSource>());
  return shared;
}

FNamedNodeRef FCompleteChildSource::childAfterPost(const FNode& node, const FNamedNode& post, bool reverse,
                                                   const FIndexRef& index) {
  // A plain value has no children.
  if (node.kind() != FNode::Kind::Children) return nullptr;
  return static_cast<const FChildrenNode&>(node).childAfter(post, index, reverse);
}

FNamedNodeRef FServerDataCompleteChildSource::childByIndex(const FIndexRef& index, const FNamedNodeRef& child,
                                                           bool reverse) const {
  return childAfterPost(*data_, *child, reverse, index);
}
