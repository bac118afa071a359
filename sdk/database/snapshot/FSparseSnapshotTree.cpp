#include "sdk/database/snapshot/FSparseSnapshotTree.h"

#include "sdk/database/core/FPath.h"

FNodeRef FSparseSnapshotTree::findPath(const FPathRef& path) const {
  if (value_) return value_->getChild(path);
  const auto front = path->getFront();
  if (!front || !children_) return nullptr;
  auto it = children_->find(*front);
  if (it == children_->end()) return nullptr;
  return it->second->findPath(path->popFront());
}

void FSparseSnapshotTree::rememberData(const FNodeRef& data, const FPathRef& path) {
  const auto front = path->getFront();
  if (!front) {
    value_ = data;
    children_.reset();
    return;
  }
  if (value_) {
    value_ = value_->updateChild(path, data);
    return;
  }
  if (!children_) children_.emplace();
  auto& child = (*children_)[*front];
  if (!child) child = std::make_shared<FSparseSnapshotTree>();
  child->rememberData(data, path->popFront());
}

bool FSparseSnapshotTree::forgetPath(const FPathRef& path) {
  const auto front = path->getFront();
  if (!front) {
    value_.reset();
    children_.reset();
    return true;
  }
  if (value_) {
    // Part of a leaf cannot be forgotten.
    if (value_->isLeafNode()) return false;
    FNodeRef value = value_;
    value_.reset();
    value->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
      rememberData(child, FPath::pathWithString(key));
    });
    return forgetPath(path);
  }
  if (!children_) return true;
  auto it = children_->find(*front);
  if (it != children_->end() && it->second->forgetPath(path->popFront())) children_->erase(it);
  if (children_->empty()) {
    children_.reset();
    return true;
  }
  return false;
}

void FSparseSnapshotTree::forEachTreeAtPath(const FPathRef& path,
                                            const std::function<void(const FPathRef&, const FNodeRef&)>& block) const {
  if (value_) {
    block(path, value_);
    return;
  }
  if (!children_) return;
  for (const auto& [key, child] : *children_) child->forEachTreeAtPath(path->childFromString(key), block);
}

void FSparseSnapshotTree::forEachChild(
    const std::function<void(const std::string&, const std::shared_ptr<FSparseSnapshotTree>&)>& block) const {
  if (!children_) return;
  for (const auto& [key, child] : *children_) block(key, child);
}
