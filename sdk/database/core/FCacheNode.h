#pragma once
// One cached node of a view (its event cache or its server cache) together with how much of the
// location it is known to hold. Never changes after construction; shared freely.
//
// Fully initialised: the node holds everything that is known of the location (it was loaded
// completely, possibly through a filter). Filtered: only the children that a query's filter let
// through are held, so a missing child says nothing about the data.
#include <memory>
#include <string>

#include "sdk/database/snapshot/FIndexedNode.h"

class FPath;
class FCacheNode;
using FCacheNodeRef = std::shared_ptr<const FCacheNode>;

class FCacheNode {
 public:
  FCacheNode(FIndexedNodeRef indexedNode, bool isFullyInitialized, bool isFiltered);

  bool isFullyInitialized() const { return isFullyInitialized_; }
  bool isFiltered() const { return isFiltered_; }
  const FIndexedNodeRef& indexedNode() const { return indexedNode_; }
  const FNodeRef& node() const { return indexedNode_->node(); }

  // Whether the child under `key` is known completely: always for a complete unfiltered node,
  // otherwise only when the node holds that child.
  bool isCompleteForChild(const std::string& key) const;
  // The empty path asks for the whole node (complete and unfiltered); any other path asks for its
  // first key.
  bool isCompleteForPath(const FPath& path) const;

 private:
  FIndexedNodeRef indexedNode_;
  bool isFullyInitialized_;
  bool isFiltered_;
};
