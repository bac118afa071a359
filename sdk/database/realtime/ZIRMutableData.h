#pragma once
// The value a transaction's update block works on: a mutable view of one location inside the
// data the block was given. Children reached with childDataByAppendingPath share that data, so a
// change made through a child shows in its parent. Made by the repository for one run of the
// update block, on the work queue, and used only there.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/snapshot/FNode.h"
#include "sdk/database/snapshot/FSnapshotHolder.h"

class ZIRMutableData;
using ZIRMutableDataRef = std::shared_ptr<ZIRMutableData>;

class ZIRMutableData : public std::enable_shared_from_this<ZIRMutableData> {
 public:
  // initWithNode:
  explicit ZIRMutableData(const FNodeRef& node);
  ZIRMutableData(std::shared_ptr<FSnapshotHolder> data, FPathRef prefixPath);

  // The node that the update block left at this location.
  FNodeRef nodeValue() const;

  // The plain value here (null for no data).
  Value value() const;
  // Replaces the data here, priority included. Raises "InvalidZirezizeData" for a value that
  // cannot be stored (the reason starts with "(setValue:)").
  void setValue(const Value& value);
  Value priority() const;
  // Raises "InvalidZirezizeData" for a value that is no valid priority.
  void setPriority(const Value& priority);

  // The last key of the location within the data (nullopt at the data's root).
  std::optional<std::string> key() const { return prefixPath_->getBack(); }
  bool hasChildren() const;
  bool hasChildAtPath(const std::string& path) const;
  int32_t childrenCount() const;
  // The data below this location. Raises "InvalidPathValidation" for an invalid path text.
  ZIRMutableDataRef childDataByAppendingPath(const std::string& path) const;
  // The immediate children, in key order.
  std::vector<ZIRMutableDataRef> children() const;

 private:
  std::shared_ptr<FSnapshotHolder> data_;
  FPathRef prefixPath_;
};
