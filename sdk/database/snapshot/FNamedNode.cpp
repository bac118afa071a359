#include "sdk/database/snapshot/FNamedNode.h"

#include "sdk/database/core/FUtilities.h"
#include "sdk/database/snapshot/FChildrenNode.h"

FNamedNode::FNamedNode(const std::string& name, FNodeRef node) : node_(std::move(node)) {
  if (FUtilities::isMinName(name)) {
    name_ = FUtilities::sharedMinName();
  } else if (FUtilities::isMaxName(name)) {
    name_ = FUtilities::sharedMaxName();
  } else {
    name_ = std::make_shared<const std::string>(name);
  }
}

const FNamedNodeRef& FNamedNode::min() {
  static const FNamedNodeRef& instance =
      *new FNamedNodeRef(nodeWithName(FUtilities::minName(), FEmptyNode::emptyNode()));
  return instance;
}

const FNamedNodeRef& FNamedNode::max() {
  static const FNamedNodeRef& instance = *new FNamedNodeRef(nodeWithName(FUtilities::maxName(), FMaxNode::maxNode()));
  return instance;
}

bool FNamedNode::isEqual(const FNamedNode& other) const {
  if (this == &other) return true;
  return *name_ == *other.name_ && node_->isEqual(*other.node_);
}

uint64_t FNamedNode::hash() const {
  return 31 * static_cast<uint64_t>(std::hash<std::string>()(*name_)) + node_->hash();
}

std::string FNamedNode::description() const { return "NamedNode[" + *name_ + "] " + node_->description(); }
