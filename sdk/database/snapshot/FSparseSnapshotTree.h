#pragma once
// A sparse tree of nodes remembered at paths (the writes to apply on disconnect). A tree uses
// either its own value or its children: data remembered below a value is merged into it.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "sdk/database/snapshot/FNode.h"

class FSparseSnapshotTree {
 public:
  FSparseSnapshotTree() = default;

  // The remembered node at the path, or null.
  FNodeRef findPath(const FPathRef& path) const;
  void rememberData(const FNodeRef& data, const FPathRef& path);
  // YES when this tree is now empty.
  bool forgetPath(const FPathRef& path);
  void forEachTreeAtPath(const FPathRef& path, const std::function<void(const FPathRef&, const FNodeRef&)>& block) const;
  void forEachChild(const std::function<void(const std::string&, const std::shared_ptr<FSparseSnapshotTree>&)>& block) const;

 private:
  FNodeRef value_;
  std::optional<std::map<std::string, std::shared_ptr<FSparseSnapshotTree>>> children_;
};
