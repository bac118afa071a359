#include "sdk/database/core/FChange.h"

#include "platform/foundation/NSString.h"

FChange::FChange(FEventType type, FIndexedNodeRef indexedNode) : type_(type), indexedNode_(std::move(indexedNode)) {}

FChange::FChange(FEventType type, FIndexedNodeRef indexedNode, std::string childKey)
    : type_(type), indexedNode_(std::move(indexedNode)), childKey_(std::move(childKey)) {}

FChange::FChange(FEventType type, FIndexedNodeRef indexedNode, std::string childKey, FIndexedNodeRef oldIndexedNode)
    : type_(type),
      indexedNode_(std::move(indexedNode)),
      childKey_(std::move(childKey)),
      oldIndexedNode_(std::move(oldIndexedNode)) {}

FChange FChange::changeWithPrevKey(std::optional<std::string> prevKey) const {
  FChange copy = *this;
  copy.prevKey_ = std::move(prevKey);
  return copy;
}

std::string FChange::description() const {
  return ns::format("event: %d, data: %s", static_cast<int>(type_), value::toJSON(indexedNode_->node()->val()).c_str());
}
