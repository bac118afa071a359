#include "sdk/database/core/FCompleteChildSource.h"

#include <optional>

const std::shared_ptr<const FNoCompleteChildSource>& FNoCompleteChildSource::instance() {
  static const std::shared_ptr<const FNoCompleteChildSource>& shared =
      *new std::shared_ptr<const FNoCompleteChildSource>(std::make_shared<const FNoCompleteChildSource>());
  return shared;
}

FNamedNodeRef FServerDataCompleteChildSource::childByIndex(const FIndexRef& index, const FNamedNodeRef& child,
                                                           bool reverse) const {
  std::optional<std::string> nextKey;
  FNodeRef nextNode;
  data_->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& node, bool*) {
    if (index->compare(key, *node, child->name(), *child->node(), reverse) <= 0) return;
    if (!nextKey || index->compare(key, *node, *nextKey, *nextNode, reverse) < 0) {
      nextKey = key;
      nextNode = node;
    }
  });
  return nextKey ? FNamedNode::nodeWithName(*nextKey, nextNode) : nullptr;
}
