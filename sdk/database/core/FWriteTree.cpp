#include "sdk/database/core/FWriteTree.h"

#include <algorithm>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FCompleteChildSource.h"
#include "sdk/database/core/FWriteTreeRef.h"
#include "sdk/database/snapshot/FChildrenNode.h"

FWriteTree::FWriteTree() : visibleWrites_(FCompoundWrite::emptyWrite()) {}

FWriteTreeRefPtr FWriteTree::childWritesForPath(const FPathRef& path) const {
  return std::make_shared<const FWriteTreeRef>(path, shared_from_this());
}

void FWriteTree::addOverwriteAtPath(const FPathRef& path, const FNodeRef& newData, int64_t writeId, bool isVisible) {
  allWrites_.push_back(std::make_shared<const FWriteRecord>(path, newData, writeId, isVisible));
  if (isVisible && dependsOnOrder(*allWrites_.back())) ++visibleWritesDependingOnOrder_;
  lastWriteId_ = writeId;
}

void FWriteTree::layPendingWrites() const {
  for (; laid_ < allWrites_.size(); ++laid_) {
    const FWriteRecord& record = *allWrites_[laid_];
    // The visible writes are this tree's alone unless a caller still holds them: a write changes
    // them in place then, without copying the path to it.
    if (record.visible() && record.isOverwrite()) {
      FCompoundWrite::addWriteInPlace(visibleWrites_, record.overwrite(), record.path());
    }
  }
}

void FWriteTree::addMergeAtPath(const FPathRef& path, const FCompoundWriteRef& changedChildren, int64_t writeId) {
  layPendingWrites();
  allWrites_.push_back(std::make_shared<const FWriteRecord>(path, changedChildren, writeId));
  visibleWrites_ = visibleWrites_->addCompoundWrite(*changedChildren, path);
  laid_ = allWrites_.size();
  if (dependsOnOrder(*allWrites_.back())) ++visibleWritesDependingOnOrder_;
  lastWriteId_ = writeId;
}

FWriteRecordRef FWriteTree::writeForId(int64_t writeId) const {
  for (const FWriteRecordRef& record : allWrites_) {
    if (record->writeId() == writeId) return record;
  }
  return nullptr;
}

bool FWriteTree::removeWriteId(int64_t writeId) {
  layPendingWrites();
  auto found = std::find_if(allWrites_.begin(), allWrites_.end(),
                            [writeId](const FWriteRecordRef& record) { return record->writeId() == writeId; });
  if (found == allWrites_.end()) {
    NSException::raise(kZirezizeDatabaseInternalError, "removeWriteId called with nonexistent writeId %lld",
                       static_cast<long long>(writeId));
  }
  const FWriteRecordRef removed = *found;
  const auto removedIndex = static_cast<size_t>(found - allWrites_.begin());
  allWrites_.erase(found);
  laid_ = allWrites_.size();
  if (!removed->visible()) return false;
  if (dependsOnOrder(*removed)) --visibleWritesDependingOnOrder_;

  // A later visible write that covers the removed one hid it completely: nothing changes. That
  // holds only while no write depends on the order in which writes are laid (a removal, which
  // the covering write may be too): a write changes more than its own location when it lands
  // below a plain value, which gives way to children, and a removal after it then empties that
  // location where without it the value stays; the removed write may also have emptied the
  // locations above it on the way, or kept them from being emptied by a later removal, which
  // drops a priority. The covering write undoes none of that. Any other visible write that the
  // removed one touches (one that writes below it, or one at or above it that it was laid over)
  // means the visible writes must be rebuilt so that those writes show again as they are.
  const bool confinedToItsPaths = visibleWritesDependingOnOrder_ == 0 && !dependsOnOrder(*removed);
  bool overlapsOtherWrites = false;
  for (size_t i = allWrites_.size(); i-- > 0;) {
    const FWriteRecord& record = *allWrites_[i];
    if (!record.visible()) continue;
    if (i >= removedIndex && confinedToItsPaths && recordContainsPath(record, *removed->path())) return false;
    if (!overlapsOtherWrites && recordsOverlap(*removed, record)) overlapsOtherWrites = true;
  }
  if (overlapsOtherWrites) {
    resetTree();
    return true;
  }
  if (removed->isOverwrite()) {
    visibleWrites_ = visibleWrites_->removeWriteAtPath(removed->path());
  } else {
    removed->compoundWrite()->enumerateWrites([&](const FPathRef& relative, const FNodeRef&, bool*) {
      visibleWrites_ = visibleWrites_->removeWriteAtPath(removed->path()->child(*relative));
    });
  }
  return true;
}

std::vector<FWriteRecordRef> FWriteTree::removeAllWrites() {
  std::vector<FWriteRecordRef> removed;
  removed.swap(allWrites_);
  visibleWrites_ = FCompoundWrite::emptyWrite();
  laid_ = 0;
  visibleWritesDependingOnOrder_ = 0;
  return removed;
}

FNodeRef FWriteTree::completeWriteDataAtPath(const FPathRef& path) const {
  return visibleWrites()->completeNodeAtPath(path);
}

FNodeRef FWriteTree::shadowingWriteAtPath(const FPathRef& path) const {
  return visibleWrites()->completeNodeAtPath(path);
}

FNodeRef FWriteTree::calculateCompleteEventCacheAtPath(const FPathRef& treePath, const FNodeRef& completeServerCache,
                                                       const std::optional<std::vector<int64_t>>& excludeWriteIds,
                                                       bool includeHiddenWrites) const {
  if (!excludeWriteIds && !includeHiddenWrites) {
    if (FNodeRef shadowing = visibleWrites()->completeNodeAtPath(treePath)) return shadowing;
    FCompoundWriteRef subMerge = visibleWrites()->childCompoundWriteAtPath(treePath);
    if (subMerge->isEmpty()) return completeServerCache;
    if (!completeServerCache && !subMerge->hasCompleteWriteAtPath(FPath::empty())) return nullptr;
    return applyVisibleWrites(subMerge, treePath, completeServerCache ? completeServerCache : FEmptyNode::emptyNode());
  }
  FCompoundWriteRef merge = visibleWrites()->childCompoundWriteAtPath(treePath);
  if (!includeHiddenWrites && merge->isEmpty()) return completeServerCache;
  if (!includeHiddenWrites && !completeServerCache && !merge->hasCompleteWriteAtPath(FPath::empty())) {
    return nullptr;
  }
  Filter filter = [&](const FWriteRecord& record) {
    if (!record.visible() && !includeHiddenWrites) return false;
    if (excludeWriteIds && std::find(excludeWriteIds->begin(), excludeWriteIds->end(), record.writeId()) !=
                               excludeWriteIds->end()) {
      return false;
    }
    return record.path()->contains(*treePath) || treePath->contains(*record.path());
  };
  const FNodeRef& base = completeServerCache ? completeServerCache : FEmptyNode::emptyNode();
  const bool ordered = std::any_of(allWrites_.begin(), allWrites_.end(), [&](const FWriteRecordRef& record) {
    return filter(*record) && dependsOnOrder(*record);
  });
  if (ordered) return applyWritesInOrder(allWrites_, filter, treePath, base);
  return layerTreeFromWrites(allWrites_, filter, treePath)->applyToNode(base);
}

FNodeRef FWriteTree::calculateCompleteEventChildrenAtPath(const FPathRef& treePath,
                                                          const FNodeRef& completeServerChildren) const {
  FNodeRef completeChildren = FEmptyNode::emptyNode();
  if (FNodeRef topLevelSet = visibleWrites()->completeNodeAtPath(treePath)) {
    if (!topLevelSet->isLeafNode()) {
      topLevelSet->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
        completeChildren = completeChildren->updateImmediateChild(key, child);
      });
    }
    return completeChildren;
  }
  FCompoundWriteRef merge = visibleWrites()->childCompoundWriteAtPath(treePath);
  completeServerChildren->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    const FPathRef childPath = FPath::empty()->childFromString(key);
    FNodeRef node = applyVisibleWrites(merge->childCompoundWriteAtPath(childPath), treePath->child(*childPath), child);
    completeChildren = completeChildren->updateImmediateChild(key, node);
  });
  for (const FNamedNodeRef& named : merge->completeChildren()) {
    completeChildren = completeChildren->updateImmediateChild(named->name(), named->node());
  }
  return completeChildren;
}

FNodeRef FWriteTree::calculateEventCacheAfterServerOverwriteAtPath(const FPathRef& treePath, const FPathRef& childPath,
                                                                   const FNodeRef& existingEventSnap,
                                                                   const FNodeRef& existingServerSnap) const {
  FPathRef path = treePath->child(*childPath);
  if (visibleWrites()->hasCompleteWriteAtPath(path)) return nullptr;
  FCompoundWriteRef childMerge = visibleWrites()->childCompoundWriteAtPath(path);
  FNodeRef serverChild = existingServerSnap->getChild(childPath);
  if (childMerge->isEmpty()) return serverChild;
  return applyVisibleWrites(childMerge, path, serverChild);
}

FNodeRef FWriteTree::calculateCompleteChildAtPath(const FPathRef& treePath, const std::string& childKey,
                                                  const FCacheNode& existingServerCache) const {
  FPathRef path = treePath->childFromString(childKey);
  if (FNodeRef shadowing = visibleWrites()->completeNodeAtPath(path)) return shadowing;
  if (!existingServerCache.isCompleteForChild(childKey)) return nullptr;
  FCompoundWriteRef childMerge = visibleWrites()->childCompoundWriteAtPath(path);
  return applyVisibleWrites(childMerge, path, existingServerCache.node()->getImmediateChild(childKey));
}

FNamedNodeRef FWriteTree::calculateNextNodeAfterPost(const FNamedNodeRef& post, const FPathRef& treePath,
                                                     const FNodeRef& completeServerData, bool reverse,
                                                     const FIndexRef& index) const {
  FCompoundWriteRef merge = visibleWrites()->childCompoundWriteAtPath(treePath);
  FNodeRef toIterate = merge->completeNodeAtPath(FPath::empty());
  if (!toIterate) {
    if (!completeServerData) return nullptr;
    if (!merge->isEmpty() && completeServerData->kind() == FNode::Kind::Children &&
        !index->isEqual(*FKeyIndex::keyIndex())) {
      // The server's data keeps its order from one call to the next; the writes laid over it
      // move only their own children in it.
      static_cast<const FChildrenNode&>(*completeServerData).childrenInOrder(index);
    }
    toIterate = applyVisibleWrites(merge, treePath, completeServerData);
  }
  return FCompleteChildSource::childAfterPost(*toIterate, *post, reverse, index);
}

FNodeRef FWriteTree::applyVisibleWrites(const FCompoundWriteRef& writesBelow, const FPathRef& path,
                                        const FNodeRef& node) const {
  if (writesBelow->isEmpty()) return node;
  if (visibleWritesDependingOnOrder_ == 0) return writesBelow->applyToNode(node);
  return applyWritesInOrder(allWrites_, defaultFilter(), path, node);
}

bool FWriteTree::hasWritesDependingOnOrderAt(const FPathRef& path) const {
  if (visibleWritesDependingOnOrder_ == 0) return false;
  return std::any_of(allWrites_.begin(), allWrites_.end(), [&](const FWriteRecordRef& record) {
    return record->visible() && (path->contains(*record->path()) || record->path()->contains(*path)) &&
           dependsOnOrder(*record);
  });
}

bool FWriteTree::dependsOnOrder(const FWriteRecord& record) {
  auto dependsOnOrder = [](const FPath& path, const FNodeRef& node) {
    return node->isEmpty() || path.getBack() == std::optional<std::string>(".priority");
  };
  if (record.isOverwrite()) return dependsOnOrder(*record.path(), record.overwrite());
  bool result = false;
  record.compoundWrite()->enumerateWrites([&](const FPathRef& relative, const FNodeRef& node, bool* stop) {
    if (dependsOnOrder(*record.path()->child(*relative), node)) {
      result = true;
      *stop = true;
    }
  });
  return result;
}

FNodeRef FWriteTree::applyWritesInOrder(const std::vector<FWriteRecordRef>& writes, const Filter& filter,
                                        const FPathRef& treeRoot, FNodeRef node) {
  for (const FWriteRecordRef& record : writes) {
    if (!filter(*record)) continue;
    const FPathRef& writePath = record->path();
    if (treeRoot->contains(*writePath)) {
      FPathRef relative = FPath::relativePathFrom(*treeRoot, *writePath);
      node = record->isOverwrite()
                 ? node->updateChild(relative, record->overwrite())
                 : FCompoundWrite::applySubtreeWrite(record->compoundWrite()->writeTree(), relative, node);
    } else if (writePath->contains(*treeRoot)) {
      FPathRef relative = FPath::relativePathFrom(*writePath, *treeRoot);
      node = record->isOverwrite() ? record->overwrite()->getChild(relative)
                                   : record->compoundWrite()->childCompoundWriteAtPath(relative)->applyToNode(node);
    }
  }
  return node;
}

bool FWriteTree::recordContainsPath(const FWriteRecord& record, const FPath& path) {
  if (record.isOverwrite()) return record.path()->contains(path);
  bool contains = false;
  record.compoundWrite()->enumerateWrites([&](const FPathRef& relative, const FNodeRef&, bool* stop) {
    if (record.path()->child(*relative)->contains(path)) {
      contains = true;
      *stop = true;
    }
  });
  return contains;
}

bool FWriteTree::recordsOverlap(const FWriteRecord& first, const FWriteRecord& second) {
  // Cheap first: records on separate branches write nothing in common.
  if (!first.path()->contains(*second.path()) && !second.path()->contains(*first.path())) return false;
  bool overlap = false;
  forEachWrittenPath(first, [&](const FPath& firstPath) {
    forEachWrittenPath(second, [&](const FPath& secondPath) {
      overlap = firstPath.contains(secondPath) || secondPath.contains(firstPath);
      return !overlap;
    });
    return !overlap;
  });
  return overlap;
}

void FWriteTree::forEachWrittenPath(const FWriteRecord& record, const std::function<bool(const FPath&)>& block) {
  if (record.isOverwrite()) {
    block(*record.path());
    return;
  }
  record.compoundWrite()->enumerateWrites([&](const FPathRef& relative, const FNodeRef&, bool* stop) {
    if (!block(*record.path()->child(*relative))) *stop = true;
  });
}

void FWriteTree::resetTree() {
  visibleWrites_ = layerTreeFromWrites(allWrites_, defaultFilter(), FPath::empty());
  laid_ = allWrites_.size();
  lastWriteId_ = allWrites_.empty() ? -1 : allWrites_.back()->writeId();
}

const FWriteTree::Filter& FWriteTree::defaultFilter() {
  static const Filter filter = [](const FWriteRecord& record) { return record.visible(); };
  return filter;
}

FCompoundWriteRef FWriteTree::layerTreeFromWrites(const std::vector<FWriteRecordRef>& writes, const Filter& filter,
                                                  const FPathRef& treeRoot) {
  FCompoundWriteRef compoundWrite = FCompoundWrite::emptyWrite();
  for (const FWriteRecordRef& record : writes) {
    if (!filter(*record)) continue;
    const FPathRef& writePath = record->path();
    if (record->isOverwrite()) {
      if (treeRoot->contains(*writePath)) {
        compoundWrite = compoundWrite->addWrite(record->overwrite(), FPath::relativePathFrom(*treeRoot, *writePath));
      } else if (writePath->contains(*treeRoot)) {
        compoundWrite = compoundWrite->addWrite(
            record->overwrite()->getChild(FPath::relativePathFrom(*writePath, *treeRoot)), FPath::empty());
      }
    } else {
      if (treeRoot->contains(*writePath)) {
        compoundWrite = compoundWrite->addCompoundWrite(*record->compoundWrite(),
                                                        FPath::relativePathFrom(*treeRoot, *writePath));
      } else if (writePath->contains(*treeRoot)) {
        // The part of the merge at and below the root: the node it fixes there, or its deeper
        // writes, which hold data the root's value must show as well.
        FPathRef relative = FPath::relativePathFrom(*writePath, *treeRoot);
        compoundWrite = compoundWrite->addCompoundWrite(*record->compoundWrite()->childCompoundWriteAtPath(relative),
                                                        FPath::empty());
      }
    }
  }
  return compoundWrite;
}
