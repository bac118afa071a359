#pragma once
// What happened to one child of a view (added, removed, changed, moved) or to the view as a whole
// (value), as the node filters and the view processor report it. Immutable; the previous key is
// set only on the copies the event generator makes for events.
#include <cstdint>
#include <optional>
#include <string>

#include "sdk/database/snapshot/FIndexedNode.h"

// Event types shared by changes, events and registrations.
enum FEventType : int32_t {
  FEventTypeChildAdded = 0,
  FEventTypeChildRemoved = 1,
  FEventTypeChildChanged = 2,
  FEventTypeChildMoved = 3,
  FEventTypeValue = 4,
};

class FChange {
 public:
  // A value change of the whole node.
  FChange(FEventType type, FIndexedNodeRef indexedNode);
  FChange(FEventType type, FIndexedNodeRef indexedNode, std::string childKey);
  FChange(FEventType type, FIndexedNodeRef indexedNode, std::string childKey, FIndexedNodeRef oldIndexedNode);

  FEventType type() const { return type_; }
  // The child's new node (added, changed, moved), its old node (removed), the whole node (value).
  const FIndexedNodeRef& indexedNode() const { return indexedNode_; }
  const std::optional<std::string>& childKey() const { return childKey_; }
  const std::optional<std::string>& prevKey() const { return prevKey_; }
  // The child's previous node, for a child changed change only.
  const FIndexedNodeRef& oldIndexedNode() const { return oldIndexedNode_; }

  FChange changeWithPrevKey(std::optional<std::string> prevKey) const;
  // "event: <type>, data: <plain value>"
  std::string description() const;

 private:
  FEventType type_;
  FIndexedNodeRef indexedNode_;
  std::optional<std::string> childKey_;
  std::optional<std::string> prevKey_;
  FIndexedNodeRef oldIndexedNode_;
};
