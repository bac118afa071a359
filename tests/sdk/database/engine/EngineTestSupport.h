#pragma once
// Builders shared by the engine tests: nodes from JSON text, paths, indexed nodes.
#include <string>

#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FIndexedNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace enginetest {

inline FNodeRef node(const char* json) { return FSnapshotUtilities::nodeFrom(Value::parse(json)); }
inline FNodeRef node(const Value& value) { return FSnapshotUtilities::nodeFrom(value); }
inline FPathRef path(const char* text) { return FPath::pathWithString(text); }
inline FIndexedNodeRef indexed(const char* json) { return FIndexedNode::indexedNodeWithNode(node(json)); }
inline FIndexedNodeRef indexed(const char* json, const FIndexRef& index) {
  return FIndexedNode::indexedNodeWithNode(node(json), index);
}
inline const FNodeRef& empty() { return FEmptyNode::emptyNode(); }

}  // namespace enginetest
