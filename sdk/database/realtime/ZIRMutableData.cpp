#include "sdk/database/realtime/ZIRMutableData.h"

#include "sdk/database/core/FValidation.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

ZIRMutableData::ZIRMutableData(const FNodeRef& node)
    : data_(std::make_shared<FSnapshotHolder>()), prefixPath_(FPath::empty()) {
  data_->updateSnapshot(prefixPath_, node ? node : FEmptyNode::emptyNode());
}

ZIRMutableData::ZIRMutableData(std::shared_ptr<FSnapshotHolder> data, FPathRef prefixPath)
    : data_(std::move(data)), prefixPath_(std::move(prefixPath)) {}

FNodeRef ZIRMutableData::nodeValue() const { return data_->getNode(prefixPath_); }

Value ZIRMutableData::value() const { return nodeValue()->val(); }

void ZIRMutableData::setValue(const Value& value) {
  FNodeRef node = FSnapshotUtilities::nodeFromWithValidationFrom(value, "setValue:");
  data_->updateSnapshot(prefixPath_, node);
}

Value ZIRMutableData::priority() const { return nodeValue()->getPriority()->val(); }

void ZIRMutableData::setPriority(const Value& priority) {
  FValidation::validateFromIsValidPriorityValue("setPriority:", priority, {});
  FNodeRef priorityNode = FSnapshotUtilities::nodeFrom(priority);
  FSnapshotUtilities::validatePriorityNode(priorityNode);
  data_->updateSnapshot(prefixPath_, nodeValue()->updatePriority(priorityNode));
}

bool ZIRMutableData::hasChildren() const {
  FNodeRef node = nodeValue();
  return !node->isLeafNode() && !node->isEmpty();
}

bool ZIRMutableData::hasChildAtPath(const std::string& path) const {
  FValidation::validateFromValidPathString("hasChildAtPath:", path);
  return !nodeValue()->getChild(FPath::pathWithString(path))->isEmpty();
}

int32_t ZIRMutableData::childrenCount() const { return nodeValue()->numChildren(); }

ZIRMutableDataRef ZIRMutableData::childDataByAppendingPath(const std::string& path) const {
  FValidation::validateFromValidPathString("childDataByAppendingPath:", path);
  return std::make_shared<ZIRMutableData>(data_, prefixPath_->childFromString(path));
}

std::vector<ZIRMutableDataRef> ZIRMutableData::children() const {
  std::vector<ZIRMutableDataRef> out;
  nodeValue()->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef&, bool*) {
    out.push_back(std::make_shared<ZIRMutableData>(data_, prefixPath_->childFromString(key)));
  });
  return out;
}
