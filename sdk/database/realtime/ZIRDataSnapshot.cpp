#include "sdk/database/realtime/ZIRDataSnapshot.h"

#include "sdk/database/core/FValidation.h"

bool ZIRDataSnapshot::hasChild(const std::string& childPathString) const {
  FValidation::validateFromValidPathString("hasChild:", childPathString);
  return !node_->node()->getChild(FPath::pathWithString(childPathString))->isEmpty();
}

std::shared_ptr<const ZIRDataSnapshot> ZIRDataSnapshot::childSnapshotForPath(const std::string& childPathString) const {
  FValidation::validateFromValidPathString("childSnapshotForPath:", childPathString);
  FPathRef childPath = FPath::pathWithString(childPathString);
  auto childRef = std::make_shared<const ZIRDatabaseReference>(ref_->repo(), ref_->path()->child(*childPath));
  return std::make_shared<const ZIRDataSnapshot>(
      childRef, FIndexedNode::indexedNodeWithNode(node_->node()->getChild(childPath), node_->index()));
}

std::vector<std::shared_ptr<const ZIRDataSnapshot>> ZIRDataSnapshot::children() const {
  std::vector<std::shared_ptr<const ZIRDataSnapshot>> out;
  node_->enumerateChildrenReverse(false, [&](const std::string& key, const FNodeRef& child, bool*) {
    auto childRef = std::make_shared<const ZIRDatabaseReference>(ref_->repo(), ref_->path()->childFromString(key));
    out.push_back(std::make_shared<const ZIRDataSnapshot>(childRef, FIndexedNode::indexedNodeWithNode(child, node_->index())));
  });
  return out;
}
