#include "sdk/database/core/FCompoundWrite.h"

#include "sdk/database/core/FUtilities.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FNamedNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

FCompoundWrite::FCompoundWrite(FNodeTreeRef writeTree)
    : writeTree_(writeTree ? std::move(writeTree) : FNodeTree::empty()) {}

const FCompoundWriteRef& FCompoundWrite::emptyWrite() {
  static const FCompoundWriteRef& instance =
      *new FCompoundWriteRef(std::make_shared<FCompoundWrite>(FNodeTree::empty()));
  return instance;
}

FCompoundWriteRef FCompoundWrite::compoundWriteWithValueDictionary(const Value& values) {
  FNodeTreeRef tree = FNodeTree::empty();
  if (values.is_object()) {
    for (auto it = values.begin(); it != values.end(); ++it) {
      FNodeRef node = FSnapshotUtilities::nodeFrom(it.value());
      tree = tree->setTree(FNodeTree::make(node), *FPath::pathWithString(it.key()));
    }
  }
  return std::make_shared<FCompoundWrite>(tree);
}

FCompoundWriteRef FCompoundWrite::compoundWriteWithNodeDictionary(
    const std::vector<std::pair<std::string, FNodeRef>>& nodes) {
  FNodeTreeRef tree = FNodeTree::empty();
  for (const auto& [pathText, node] : nodes) {
    tree = tree->setTree(FNodeTree::make(node), *FPath::pathWithString(pathText));
  }
  return std::make_shared<FCompoundWrite>(tree);
}

FCompoundWriteRef FCompoundWrite::addWrite(const FNodeRef& node, const FPathRef& path) const {
  if (path->isEmpty()) {
    return std::make_shared<FCompoundWrite>(FNodeTree::make(node));
  }
  // Usually no earlier write covers the path: the new write goes in with one walk down the path.
  auto subtree = FNodeTree::make(node);
  if (FNodeTreeRef tree = writeTree_->setTreeUnlessValueOnPath(subtree, *path)) {
    return std::make_shared<FCompoundWrite>(std::move(tree));
  }
  auto rootMost = writeTree_->findRootMostValueAndPath(*path);
  FPathRef relative = FPath::relativePathFrom(*rootMost->path, *path);
  FNodeRef updated = rootMost->value->updateChild(relative, node);
  return std::make_shared<FCompoundWrite>(writeTree_->setValue(updated, *rootMost->path));
}

void FCompoundWrite::addWriteInPlace(FCompoundWriteRef& slot, const FNodeRef& node, const FPathRef& path) {
  if (slot.use_count() != 1 || path->isEmpty()) {
    slot = slot->addWrite(node, path);
    return;
  }
  // Made unconst by every factory of this file, the only ones.
  auto* write = const_cast<FCompoundWrite*>(slot.get());
  if (FNodeTree::setTreeInPlaceUnlessValueOnPath(write->writeTree_, FNodeTree::make(node), *path)) return;
  auto rootMost = write->writeTree_->findRootMostValueAndPath(*path);
  FPathRef relative = FPath::relativePathFrom(*rootMost->path, *path);
  FNodeRef updated = rootMost->value->updateChild(relative, node);
  write->writeTree_ = write->writeTree_->setValue(updated, *rootMost->path);
}

FCompoundWriteRef FCompoundWrite::addWriteAtKey(const FNodeRef& node, std::string_view key) const {
  return addWrite(node, FPath::pathWithString(key));
}

FCompoundWriteRef FCompoundWrite::addCompoundWrite(const FCompoundWrite& other, const FPathRef& path) const {
  // It matters where an earlier write here already fixes a location above the other's writes,
  // whose node takes them one after the other: they go in as applyToNode lays them.
  FCompoundWriteRef result = shared_from_this();
  other.enumerateWritesInApplyOrder([&](const FPathRef& relative, const FNodeRef& node) {
    result = result->addWrite(node, path->child(*relative));
  });
  return result;
}

FCompoundWrite::WriteKind FCompoundWrite::kindOfWrite(const FPath& path, const FNodeRef& node) {
  if (path.getBack() == std::optional<std::string>(".priority")) return WriteKind::kPriority;
  return node->isEmpty() ? WriteKind::kRemoval : WriteKind::kSet;
}

void FCompoundWrite::enumerateWritesInApplyOrder(
    const std::function<void(const FPathRef&, const FNodeRef&)>& block) const {
  for (WriteKind kind : {WriteKind::kSet, WriteKind::kRemoval, WriteKind::kPriority}) {
    writeTree_->forEach([&](const FPathRef& relative, const FNodeRef& node) {
      if (kindOfWrite(*relative, node) == kind) block(relative, node);
    });
  }
}

FCompoundWriteRef FCompoundWrite::removeWriteAtPath(const FPathRef& path) const {
  if (path->isEmpty()) return emptyWrite();
  return std::make_shared<FCompoundWrite>(writeTree_->setTree(FNodeTree::empty(), *path));
}

bool FCompoundWrite::hasCompleteWriteAtPath(const FPathRef& path) const {
  return completeNodeAtPath(path) != nullptr;
}

FNodeRef FCompoundWrite::completeNodeAtPath(const FPathRef& path) const {
  auto rootMost = writeTree_->findRootMostValueAndPath(*path);
  if (!rootMost) return nullptr;
  return rootMost->value->getChild(FPath::relativePathFrom(*rootMost->path, *path));
}

std::vector<FNamedNodeRef> FCompoundWrite::completeChildren() const {
  std::vector<FNamedNodeRef> children;
  if (const auto& root = writeTree_->value()) {
    (*root)->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
      children.push_back(FNamedNode::nodeWithName(key, child));
    });
  } else {
    writeTree_->forEachChild([&](const std::string& key, const FNodeRef& node) {
      children.push_back(FNamedNode::nodeWithName(key, node));
    });
  }
  return children;
}

std::unordered_map<std::string, FCompoundWriteRef> FCompoundWrite::childCompoundWrites() const {
  std::unordered_map<std::string, FCompoundWriteRef> children;
  writeTree_->children()->enumerateKeysAndObjectsUsingBlock(
      [&](const std::string& key, const FNodeTreeRef& child, bool*) {
        children.emplace(key, std::make_shared<FCompoundWrite>(child));
      });
  return children;
}

FCompoundWriteRef FCompoundWrite::childCompoundWriteAtPath(const FPathRef& path) const {
  if (path->isEmpty()) return shared_from_this();
  if (FNodeRef complete = completeNodeAtPath(path)) {
    return std::make_shared<FCompoundWrite>(FNodeTree::make(complete));
  }
  return std::make_shared<FCompoundWrite>(writeTree_->subtreeAtPath(*path));
}

namespace {

// The writes of the tree laid over the node at the path: those that set data, or (removals) those
// that remove it. Priorities are left to applyPriorities.
FNodeRef applyWrites(const FNodeTreeRef& tree, const FPathRef& path, FNodeRef node, bool removals) {
  if (const auto& value = tree->value()) {
    return (*value)->isEmpty() == removals ? node->updateChild(path, *value) : node;
  }
  tree->children()->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const FNodeTreeRef& child, bool*) {
    if (key != ".priority") node = applyWrites(child, path->childFromString(key), node, removals);
  });
  return node;
}

// The priorities the tree writes, each on a location that still has data once the rest is written.
FNodeRef applyPriorities(const FNodeTreeRef& tree, const FPathRef& path, FNodeRef node) {
  if (tree->value()) return node;
  FNodeRef priorityWrite;
  tree->children()->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const FNodeTreeRef& child, bool*) {
    if (key == ".priority") {
      priorityWrite = child->value() ? *child->value() : nullptr;
    } else {
      node = applyPriorities(child, path->childFromString(key), node);
    }
  });
  if (priorityWrite && !node->getChild(path)->isEmpty()) {
    node = node->updateChild(path->childFromString(".priority"), priorityWrite);
  }
  return node;
}

}  // namespace

FNodeRef FCompoundWrite::applySubtreeWrite(const FNodeTreeRef& tree, const FPathRef& path, const FNodeRef& node) {
  if (const auto& value = tree->value()) return node->updateChild(path, *value);
  // The writes are one change: what they set goes in before what they remove, so that a location
  // they leave with data is never empty on the way, which would drop its priority.
  FNodeRef result = applyWrites(tree, path, node, false);
  result = applyWrites(tree, path, result, true);
  return applyPriorities(tree, path, result);
}

void FCompoundWrite::enumerateWrites(
    const std::function<void(const FPathRef&, const FNodeRef&, bool* stop)>& block) const {
  bool stop = false;
  writeTree_->forEach([&](const FPathRef& path, const FNodeRef& node) {
    if (!stop) block(path, node, &stop);
  });
}

FNodeRef FCompoundWrite::applyToNode(const FNodeRef& node) const {
  return applySubtreeWrite(writeTree_, FPath::empty(), node);
}

FNodeRef FCompoundWrite::rootWrite() const {
  const auto& value = writeTree_->value();
  return value ? *value : nullptr;
}

Value FCompoundWrite::valForExport(bool exp) const {
  Value out = Value::object();
  writeTree_->forEach([&](const FPathRef& path, const FNodeRef& node) {
    out[path->wireFormat()] = node->valForExport(exp);
  });
  return out;
}

bool FCompoundWrite::isEqual(const FCompoundWrite& other) const {
  return this == &other || valForExport(true) == other.valForExport(true);
}

namespace {
// Numbers hash by value, so writes equal across number kinds (1 and 1.0) hash alike.
uint64_t hashValue(const Value& v) {
  if (v.is_number()) return std::hash<double>()(v.get<double>());
  if (v.is_object()) {
    uint64_t h = 7;
    for (auto it = v.begin(); it != v.end(); ++it) {
      h = h * 31 + std::hash<std::string>()(it.key());
      h = h * 17 + hashValue(it.value());
    }
    return h;
  }
  if (v.is_array()) {
    uint64_t h = 11;
    for (const auto& e : v) h = h * 31 + hashValue(e);
    return h;
  }
  return std::hash<Value>()(v);
}
}  // namespace

uint64_t FCompoundWrite::hash() const { return hashValue(valForExport(true)); }

std::string FCompoundWrite::description() const { return FUtilities::jsonText(valForExport(true)); }
