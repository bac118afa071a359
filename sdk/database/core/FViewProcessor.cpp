#include "sdk/database/core/FViewProcessor.h"

#include <algorithm>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FIndexedFilter.h"
#include "sdk/database/core/FWriteTreeCompleteChildSource.h"
#include "sdk/database/snapshot/FChildrenNode.h"

namespace {

FWriteTreeCompleteChildSource sourceFor(const FWriteTreeRefPtr& writes, const FViewCacheRef& viewCache,
                                        const FNodeRef& completeCache) {
  return FWriteTreeCompleteChildSource(writes, viewCache, completeCache);
}

FPathRef keyPath(const std::string& key) { return FPath::empty()->childFromString(key); }

}  // namespace

FViewProcessor::FViewProcessor(FNodeFilterRef filter)
    : filter_(std::move(filter)), indexedFilter_(dynamic_cast<const FIndexedFilter*>(filter_.get())) {}

FViewProcessorResult FViewProcessor::applyOperationOn(const FViewCacheRef& oldViewCache, const FOperation& operation,
                                                      const FWriteTreeRefPtr& writesCache,
                                                      const FNodeRef& completeCache) const {
  FChildChangeAccumulator accumulator;
  FViewCacheRef newViewCache;
  const FOperationSource& source = *operation.source();
  switch (operation.type()) {
    case FOperationTypeOverwrite: {
      const auto& overwrite = static_cast<const FOverwrite&>(operation);
      if (source.fromUser()) {
        newViewCache = applyUserOverwriteTo(oldViewCache, overwrite.path(), overwrite.snap(), writesCache,
                                            completeCache, accumulator);
      } else {
        const bool filterServerNode =
            source.isTagged() || (oldViewCache->cachedServerSnap()->isFiltered() && !overwrite.path()->isEmpty());
        newViewCache = applyServerOverwriteTo(oldViewCache, overwrite.path(), overwrite.snap(), writesCache,
                                              completeCache, filterServerNode, accumulator);
      }
      break;
    }
    case FOperationTypeMerge: {
      const auto& merge = static_cast<const FMerge&>(operation);
      if (source.fromUser()) {
        newViewCache =
            applyUserMergeTo(oldViewCache, merge.path(), merge.children(), writesCache, completeCache, accumulator);
      } else {
        const bool filterServerNode = source.isTagged() || oldViewCache->cachedServerSnap()->isFiltered();
        newViewCache = applyServerMergeTo(oldViewCache, merge.path(), merge.children(), writesCache, completeCache,
                                          filterServerNode, accumulator);
      }
      break;
    }
    case FOperationTypeAckUserWrite: {
      const auto& ack = static_cast<const FAckUserWrite&>(operation);
      if (!ack.revert()) {
        newViewCache =
            ackUserWriteOn(oldViewCache, ack.path(), ack.affectedTree(), writesCache, completeCache, accumulator);
      } else {
        newViewCache = revertUserWriteOn(oldViewCache, ack.path(), writesCache, completeCache, accumulator);
      }
      const bool recomputedWhole = ack.path()->isEmpty() && (ack.revert() || ack.affectedTree()->value());
      if (!recomputedWhole && viewLocationUnsettled(*newViewCache, *writesCache)) {
        newViewCache = recomputeEventCache(newViewCache, writesCache, accumulator);
      }
      break;
    }
    case FOperationTypeListenComplete:
      newViewCache = listenCompleteOldCache(oldViewCache, operation.path(), writesCache, completeCache,
                                            !source.isTagged(), accumulator);
      break;
    default:
      NSException::raise(NSInternalInconsistencyException, "Unknown operation encountered %ld.",
                         static_cast<long>(operation.type()));
  }
  std::vector<FChange> changes = maybeAddValueFromOldViewCache(*oldViewCache, *newViewCache, accumulator.takeChanges());
  return FViewProcessorResult{newViewCache, std::move(changes)};
}

std::vector<FChange> FViewProcessor::maybeAddValueFromOldViewCache(const FViewCache& oldViewCache,
                                                                   const FViewCache& newViewCache,
                                                                   std::vector<FChange> changes) {
  const FCacheNodeRef& eventSnap = newViewCache.cachedEventSnap();
  if (!eventSnap->isFullyInitialized()) return changes;
  const FNodeRef& node = eventSnap->node();
  const bool isLeafOrEmpty = node->isLeafNode() || node->isEmpty();
  if (changes.empty() && oldViewCache.cachedEventSnap()->isFullyInitialized()) {
    FNodeRef oldComplete = oldViewCache.completeEventSnap();
    if ((!isLeafOrEmpty || node->isEqual(*oldComplete)) && node->getPriority()->isEqual(*oldComplete->getPriority())) {
      return changes;
    }
  }
  changes.emplace_back(FEventTypeValue, eventSnap->indexedNode());
  return changes;
}

bool FViewProcessor::viewLocationUnsettled(const FViewCache& viewCache, const FWriteTreeRef& writesCache) {
  const FCacheNodeRef& serverSnap = viewCache.cachedServerSnap();
  if (serverSnap->isFiltered()) return false;
  const FNodeRef& shown = viewCache.cachedEventSnap()->node();
  if (FNodeRef written = writesCache.shadowingWriteAtPath(FPath::empty())) {
    // The writes alone give the location: its kind and priority are theirs, whether or not the
    // server's data is known yet (a revert before the listen is answered recomputed only the
    // child the write went to, and the write may have emptied the location on the way).
    return shown->isLeafNode() != written->isLeafNode() || !shown->getPriority()->isEqual(*written->getPriority());
  }
  if (!serverSnap->isFullyInitialized()) return false;
  // (While writes that depend on their order remain, the acknowledgement or revert recomputed all
  // of the view already.)
  const FNodeRef& server = serverSnap->node();
  if (server->isLeafNode() || shown->isLeafNode()) return true;
  // Writes that set data below the location leave its priority as the server has it.
  return !shown->isEmpty() && !shown->getPriority()->isEqual(*server->getPriority());
}

FViewCacheRef FViewProcessor::recomputeEventCache(const FViewCacheRef& viewCache, const FWriteTreeRefPtr& writesCache,
                                                  FChildChangeAccumulator& accumulator) const {
  FNodeRef node = writesCache->calculateCompleteEventCacheWithCompleteServerCache(viewCache->completeServerSnap());
  if (!node) return viewCache;
  FIndexedNodeRef newEventCache = filter_->updateFullNode(
      viewCache->cachedEventSnap()->indexedNode(), FIndexedNode::indexedNodeWithNode(node, filter_->index()), &accumulator);
  return viewCache->updateEventSnap(newEventCache, true, filter_->filtersNodes());
}

std::optional<FPathRef> FViewProcessor::replacedLeafAbove(const FViewCache& viewCache, const FPathRef& changePath,
                                                          const FWriteTreeRef& writesCache) {
  // Below a leaf the event cache holds nothing, so the first leaf on the way down is the only one.
  const FCacheNodeRef& serverSnap = viewCache.cachedServerSnap();
  FNodeRef shown = viewCache.cachedEventSnap()->node();
  FPathRef at = FPath::empty();
  for (FPathRef rest = changePath; !rest->isEmpty() && !shown->isEmpty(); rest = rest->popFront()) {
    if (shown->isLeafNode()) {
      if (at->isEmpty()) {
        FNodeRef completeServer = viewCache.completeServerSnap();
        if (completeServer && !completeServer->isLeafNode() && !serverSnap->isFiltered()) return at;
      } else if (!writesCache.shadowingWriteAtPath(at) && !serverSnap->node()->getChild(at)->isLeafNode()) {
        return at;
      }
      return std::nullopt;
    }
    const std::string key = *rest->getFront();
    at = at->childFromString(key);
    shown = shown->getImmediateChild(key);
  }
  return std::nullopt;
}

std::optional<size_t> FViewProcessor::shallowestReshapedAbove(const FNodeRef& oldNode, const FNodeRef& newNode,
                                                              const FPathRef& changePath) {
  FNodeRef before = oldNode;
  FNodeRef after = newNode;
  size_t depth = 0;
  for (FPathRef rest = changePath; !rest->isEmpty(); rest = rest->popFront(), ++depth) {
    if (before == after) return std::nullopt;  // shared: nothing changed from here down
    if (before->isLeafNode() != after->isLeafNode() || !before->getPriority()->isEqual(*after->getPriority())) {
      return depth;
    }
    const std::string key = *rest->getFront();
    before = before->getImmediateChild(key);
    after = after->getImmediateChild(key);
  }
  return std::nullopt;
}

FViewCacheRef FViewProcessor::generateEventCacheAfterServerEvent(const FViewCacheRef& viewCache,
                                                                 const FNodeRef& oldServerNode,
                                                                 const FPathRef& changePath,
                                                                 const FWriteTreeRefPtr& writesCache,
                                                                 const FCompleteChildSource& source,
                                                                 const FNodeRef& completeCache,
                                                                 FChildChangeAccumulator& accumulator) const {
  const FCacheNodeRef& oldEventSnap = viewCache->cachedEventSnap();
  std::optional<std::string> childKey = changePath->getFront();
  // Set when the child under childKey is to be recomputed whole from the server's data and the
  // writes, rather than patched at the change path.
  bool recomputeChild = false;
  const FCacheNodeRef& serverSnap = viewCache->cachedServerSnap();
  // A change that gave a location above it another kind or priority (a plain value given way to
  // children, a location emptied with its priority) changes that location for the user too,
  // whatever the writes below it: recompute from there, all of the view when it is the view's own
  // location. (A window's server data holds its own children only: its changes go as they come.)
  std::optional<size_t> reshaped;
  if (oldServerNode && !serverSnap->isFiltered()) {
    reshaped = shallowestReshapedAbove(oldServerNode, serverSnap->node(), changePath);
    if (reshaped == 0u && !serverSnap->isFullyInitialized()) reshaped.reset();
  }
  // While a pending removal or priority write lies here, whether a location is emptied on the way
  // (and so loses its priority) depends on every child the server holds there, those that writes
  // hide included: a change to one child may change what the others' writes do, so all of it is
  // recomputed.
  const bool orderMatters = childKey && viewCache->completeServerSnap() && !serverSnap->isFiltered() &&
                            writesCache->hasWritesDependingOnOrder();
  if (orderMatters || reshaped == 0u) {
    childKey.reset();
  } else if (reshaped) {
    recomputeChild = true;
  } else if (writesCache->shadowingWriteAtPath(changePath)) {
    // A user write hides the change; but when the server's data below a leaf the user is shown
    // replaced that leaf with children, the leaf's location itself changed: recompute it, all of
    // the view when the leaf is the view's own node, else the child of the view it lies in.
    std::optional<FPathRef> leafPath = replacedLeafAbove(*viewCache, changePath, *writesCache);
    if (!leafPath) return viewCache;
    if ((*leafPath)->isEmpty()) {
      childKey.reset();
    } else {
      recomputeChild = true;
    }
  }
  FIndexedNodeRef newEventCache;
  if (!childKey) {
    FNodeRef node;
    if (viewCache->cachedServerSnap()->isFiltered() && completeCache) {
      // A window's server data holds the window alone; a write may bring in a child from outside
      // it, which only the location's complete data (held by a view that loads all of it) tells.
      node = writesCache->calculateCompleteEventCacheWithCompleteServerCache(completeCache);
    } else if (viewCache->cachedServerSnap()->isFiltered()) {
      FNodeRef serverCache = viewCache->completeServerSnap();
      FNodeRef completeChildren =
          serverCache && serverCache->kind() == FNode::Kind::Children ? serverCache : FEmptyNode::emptyNode();
      node = writesCache->calculateCompleteEventChildrenWithCompleteServerChildren(completeChildren);
    } else {
      node = writesCache->calculateCompleteEventCacheWithCompleteServerCache(viewCache->completeServerSnap());
    }
    newEventCache = node ? filter_->updateFullNode(oldEventSnap->indexedNode(),
                                                   FIndexedNode::indexedNodeWithNode(node, filter_->index()),
                                                   &accumulator)
                         : oldEventSnap->indexedNode();
  } else if (*childKey == ".priority") {
    FNodeRef updatedPriority = writesCache->calculateEventCacheAfterServerOverwriteWithChildPath(
        changePath, oldEventSnap->node(), viewCache->cachedServerSnap()->node());
    newEventCache = updatedPriority ? filter_->updatePriority(updatedPriority, oldEventSnap->indexedNode())
                                    : oldEventSnap->indexedNode();
  } else {
    // A child recomputed whole is compared whole: at the change path itself it may look the same.
    FPathRef childChangePath = recomputeChild ? FPath::empty() : changePath->popFront();
    FNodeRef newEventChild;
    if (serverSnap->isFiltered() && completeCache) {
      // A window's server data need not hold the child (the change may have taken it out of the
      // window): the location's complete data does, with the writes below it laid over.
      const FCacheNode complete(FIndexedNode::indexedNodeWithNode(completeCache), true, false);
      newEventChild = writesCache->calculateCompleteChild(*childKey, complete);
      childChangePath = FPath::empty();
    } else if (oldEventSnap->isCompleteForChild(*childKey) && !recomputeChild) {
      FNodeRef eventChildUpdate = writesCache->calculateEventCacheAfterServerOverwriteWithChildPath(
          changePath, oldEventSnap->node(), viewCache->cachedServerSnap()->node());
      newEventChild = oldEventSnap->node()->getImmediateChild(*childKey);
      if (newEventChild->isLeafNode() && !childChangePath->isEmpty() && serverSnap->isFiltered() &&
          !serverSnap->node()->hasChild(*childKey)) {
        // The server replaced the plain value with children that took the child out of the window
        // its filtered data holds: nothing of the value is left to lay the change over.
        newEventChild = FEmptyNode::emptyNode();
      }
      if (eventChildUpdate) newEventChild = newEventChild->updateChild(childChangePath, eventChildUpdate);
    } else {
      newEventChild = writesCache->calculateCompleteChild(*childKey, *viewCache->cachedServerSnap());
    }
    newEventCache = newEventChild ? filter_->updateChildIn(oldEventSnap->indexedNode(), *childKey, newEventChild,
                                                           childChangePath, source, &accumulator)
                                  : oldEventSnap->indexedNode();
  }
  return viewCache->updateEventSnap(newEventCache, oldEventSnap->isFullyInitialized() || !childKey,
                                    filter_->filtersNodes());
}

FViewCacheRef FViewProcessor::applyServerOverwriteTo(const FViewCacheRef& viewCache, const FPathRef& changePath,
                                                     const FNodeRef& changedSnap, const FWriteTreeRefPtr& writesCache,
                                                     const FNodeRef& completeCache, bool filterServerNode,
                                                     FChildChangeAccumulator& accumulator) const {
  const FCacheNodeRef& oldServerSnap = viewCache->cachedServerSnap();
  FNodeFilterRef serverFilter = filterServerNode ? filter_ : filter_->indexedFilter();
  FIndexedNodeRef newServerCache;
  std::optional<std::string> childKey = changePath->getFront();
  if (!childKey) {
    newServerCache = serverFilter->updateFullNode(
        oldServerSnap->indexedNode(), FIndexedNode::indexedNodeWithNode(changedSnap, serverFilter->index()), nullptr);
  } else if (serverFilter->filtersNodes() && !oldServerSnap->isFiltered()) {
    // The first filtered update of an unfiltered server cache refilters the whole node once.
    FPathRef updatePath = changePath->popFront();
    FNodeRef newChild = oldServerSnap->node()->getImmediateChild(*childKey)->updateChild(updatePath, changedSnap);
    FIndexedNodeRef newServerNode = oldServerSnap->indexedNode()->updateChild(*childKey, newChild);
    newServerCache = serverFilter->updateFullNode(oldServerSnap->indexedNode(), newServerNode, nullptr);
  } else {
    FPathRef childChangePath = changePath->popFront();
    FNodeRef childNode;
    if (!oldServerSnap->isCompleteForPath(*changePath) && changePath->length() > 1) {
      // A deep update below a child the server cache does not hold. When a view that loads all
      // the data holds the location, its data (the change included) tells the whole child, which
      // may now belong in this view: a window that once had data of its own is kept up to date
      // by that view's listen alone.
      if (!completeCache || !completeCache->getChild(changePath)->isEqual(*changedSnap)) return viewCache;
      childNode = completeCache->getImmediateChild(*childKey);
    } else {
      childNode = oldServerSnap->node()->getImmediateChild(*childKey)->updateChild(childChangePath, changedSnap);
    }
    if (*childKey == ".priority") {
      newServerCache = serverFilter->updatePriority(childNode, oldServerSnap->indexedNode());
    } else if (completeCache && serverFilter->filtersNodes()) {
      // A window's server data holds only the window: the location's complete data (a view that
      // loads all of it holds it, this change included) tells which child takes the place of one
      // that leaves it.
      newServerCache = serverFilter->updateChildIn(oldServerSnap->indexedNode(), *childKey, childNode, childChangePath,
                                                   FServerDataCompleteChildSource(completeCache), nullptr);
    } else {
      newServerCache = serverFilter->updateChildIn(oldServerSnap->indexedNode(), *childKey, childNode, childChangePath,
                                                   *FNoCompleteChildSource::instance(), nullptr);
    }
  }
  FViewCacheRef newViewCache =
      viewCache->updateServerSnap(newServerCache, oldServerSnap->isFullyInitialized() || changePath->isEmpty(),
                                  serverFilter->filtersNodes());
  FWriteTreeCompleteChildSource source = sourceFor(writesCache, newViewCache, completeCache);
  return generateEventCacheAfterServerEvent(newViewCache, oldServerSnap->node(), changePath, writesCache, source,
                                            completeCache, accumulator);
}

FViewCacheRef FViewProcessor::applyUserOverwriteTo(const FViewCacheRef& viewCache, const FPathRef& changePath,
                                                   const FNodeRef& changedSnap, const FWriteTreeRefPtr& writesCache,
                                                   const FNodeRef& completeCache,
                                                   FChildChangeAccumulator& accumulator) const {
  const FCacheNodeRef& oldEventSnap = viewCache->cachedEventSnap();
  if (indexedFilter_ && changePath->length() == 1 && !changedSnap->isEmpty()) {
    // A child set whole where every child is kept: the walk that puts it in finds the old one.
    std::string childKey = *changePath->getFront();
    if (childKey != ".priority") {
      FIndexedNodeRef newEventSnap = indexedFilter_->replaceChildIn(oldEventSnap->indexedNode(), childKey, changedSnap,
                                                                    &accumulator);
      if (!newEventSnap) return viewCache;
      return viewCache->updateEventSnap(newEventSnap, oldEventSnap->isFullyInitialized(), filter_->filtersNodes());
    }
  }
  FWriteTreeCompleteChildSource source = sourceFor(writesCache, viewCache, completeCache);
  std::optional<std::string> childKey = changePath->getFront();
  if (!childKey) {
    FIndexedNodeRef newEventCache = filter_->updateFullNode(
        oldEventSnap->indexedNode(), FIndexedNode::indexedNodeWithNode(changedSnap, filter_->index()), &accumulator);
    return viewCache->updateEventSnap(newEventCache, true, filter_->filtersNodes());
  }
  if (*childKey == ".priority") {
    FIndexedNodeRef newEventCache = filter_->updatePriority(changedSnap, oldEventSnap->indexedNode());
    return viewCache->updateEventSnap(newEventCache, oldEventSnap->isFullyInitialized(), oldEventSnap->isFiltered());
  }
  FPathRef childChangePath = changePath->popFront();
  FNodeRef oldChild = oldEventSnap->node()->getImmediateChild(*childKey);
  FNodeRef newChild;
  if (childChangePath->isEmpty()) {
    newChild = changedSnap;
  } else if (FNodeRef childNode = source.completeChild(*childKey)) {
    const bool priorityOfMissingNode = childChangePath->getBack() == std::optional<std::string>(".priority") &&
                                       childNode->getChild(childChangePath->parent())->isEmpty();
    newChild = priorityOfMissingNode ? childNode : childNode->updateChild(childChangePath, changedSnap);
  } else {
    newChild = FEmptyNode::emptyNode();
  }
  if (oldChild->isEqual(*newChild)) return viewCache;
  FIndexedNodeRef newEventSnap = filter_->updateChildIn(oldEventSnap->indexedNode(), *childKey, newChild,
                                                        childChangePath, source, &accumulator, oldChild);
  return viewCache->updateEventSnap(newEventSnap, oldEventSnap->isFullyInitialized(), filter_->filtersNodes());
}

FViewCacheRef FViewProcessor::applyUserMergeTo(const FViewCacheRef& viewCache, const FPathRef& path,
                                               const FCompoundWriteRef& changedChildren,
                                               const FWriteTreeRefPtr& writesCache, const FNodeRef& completeCache,
                                               FChildChangeAccumulator& accumulator) const {
  // Writes to children the event cache holds completely go first, so that a limited window is
  // settled before writes that may pull children into it.
  auto completeInOriginal = [&](const FPathRef& writePath) {
    std::optional<std::string> front = writePath->getFront();
    return front && viewCache->cachedEventSnap()->isCompleteForChild(*front);
  };
  // Within each pass what the merge sets goes before what it removes, and its priorities go after
  // both passes: the merge is one change, laid as the write tree lays it (a location it leaves with
  // data must not be empty on the way, which would drop its priority; a priority written beside
  // data below its location must find that data there).
  using Kind = FCompoundWrite::WriteKind;
  const std::pair<bool, Kind> phases[] = {{true, Kind::kSet},       {true, Kind::kRemoval},  {false, Kind::kSet},
                                          {false, Kind::kRemoval}, {true, Kind::kPriority}, {false, Kind::kPriority}};
  FViewCacheRef current = viewCache;
  for (const auto& phase : phases) {
    const bool firstPass = phase.first;
    const Kind kind = phase.second;
    changedChildren->enumerateWrites([&](const FPathRef& relative, const FNodeRef& node, bool*) {
      FPathRef writePath = path->child(*relative);
      if (completeInOriginal(writePath) == firstPass && FCompoundWrite::kindOfWrite(*relative, node) == kind) {
        current = applyUserOverwriteTo(current, writePath, node, writesCache, completeCache, accumulator);
      }
    });
  }
  return current;
}

FViewCacheRef FViewProcessor::applyServerMergeTo(const FViewCacheRef& viewCache, const FPathRef& path,
                                                 const FCompoundWriteRef& changedChildren,
                                                 const FWriteTreeRefPtr& writesCache, const FNodeRef& completeCache,
                                                 bool filterServerNode, FChildChangeAccumulator& accumulator) const {
  const FCacheNodeRef& serverSnap = viewCache->cachedServerSnap();
  if (serverSnap->node()->isEmpty() && !serverSnap->isFullyInitialized()) return viewCache;
  FCompoundWriteRef actualMerge =
      path->isEmpty() ? changedChildren : FCompoundWrite::emptyWrite()->addCompoundWrite(*changedChildren, path);
  const FNodeRef& serverNode = serverSnap->node();
  FViewCacheRef current = viewCache;
  const auto& children = actualMerge->writeTree()->children();
  // The merge is one change: the children it keeps or changes go first, those it removes next, so
  // that a location it leaves with data is never empty on the way (which would drop its priority),
  // and the location's own priority last, once the data it is written beside is there.
  const std::string priorityKey = ".priority";
  std::vector<std::string> removed;
  children->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const FNodeTreeRef& childTree, bool*) {
    if (key == priorityKey || !serverNode->hasChild(key)) return;
    FNodeRef newChild = FCompoundWrite(childTree).applyToNode(serverNode->getImmediateChild(key));
    if (newChild->isEmpty()) {
      removed.push_back(key);
      return;
    }
    current = applyServerOverwriteTo(current, keyPath(key), newChild, writesCache, completeCache, filterServerNode,
                                     accumulator);
  });
  children->enumerateKeysAndObjectsUsingBlock([&](const std::string& key, const FNodeTreeRef& childTree, bool*) {
    if (key == priorityKey || serverNode->hasChild(key)) return;
    FCompoundWrite childMerge(childTree);
    const bool unknownDeepMerge = !serverSnap->isCompleteForChild(key) && !childMerge.rootWrite();
    FNodeRef newChild;
    if (unknownDeepMerge) {
      // As for a deep overwrite: the complete data of the location, when a view holds it, tells
      // the whole child.
      FNodeRef completeChild = completeCache ? completeCache->getImmediateChild(key) : nullptr;
      if (!completeChild || !childMerge.applyToNode(completeChild)->isEqual(*completeChild)) return;
      newChild = completeChild;
    } else {
      newChild = childMerge.applyToNode(serverNode->getImmediateChild(key));
    }
    current = applyServerOverwriteTo(current, keyPath(key), newChild, writesCache, completeCache, filterServerNode,
                                     accumulator);
  });
  for (const std::string& key : removed) {
    current = applyServerOverwriteTo(current, keyPath(key), FEmptyNode::emptyNode(), writesCache, completeCache,
                                     filterServerNode, accumulator);
  }
  if (std::optional<FNodeTreeRef> priorityTree = children->get(priorityKey)) {
    FNodeRef priority = FCompoundWrite(*priorityTree).applyToNode(serverNode->getPriority());
    current = applyServerOverwriteTo(current, keyPath(priorityKey), priority, writesCache, completeCache,
                                     filterServerNode, accumulator);
  }
  return current;
}

FViewCacheRef FViewProcessor::ackUserWriteOn(const FViewCacheRef& viewCache, const FPathRef& ackPath,
                                             const FAffectedTreeRef& affectedTree, const FWriteTreeRefPtr& writesCache,
                                             const FNodeRef& completeCache,
                                             FChildChangeAccumulator& accumulator) const {
  // A later write at the acknowledged path does not make this a no-op: the write that went may
  // have changed the locations above its path, as removals and writes below plain values do. The
  // write tree has already left out the acknowledgements that change nothing.
  const FCacheNodeRef& serverSnap = viewCache->cachedServerSnap();
  const bool filterServerNode = serverSnap->isFiltered();
  if (filterServerNode && serverSnap->isFullyInitialized()) {
    return ackUserWriteInWindow(viewCache, ackPath, affectedTree, writesCache, completeCache, accumulator);
  }
  if (affectedTree->value()) {
    if ((ackPath->isEmpty() && serverSnap->isFullyInitialized()) || serverSnap->isCompleteForPath(*ackPath)) {
      // Below a child the server's data is applied for the whole child, as a merge does: the write
      // may have given the user children where the server holds a plain value, and patching the
      // shown child at the write's path alone would leave nothing there instead of that value.
      const FPathRef applyPath = ackPath->length() > 1 ? keyPath(*ackPath->getFront()) : ackPath;
      return applyServerOverwriteTo(viewCache, applyPath, serverSnap->node()->getChild(applyPath), writesCache,
                                    completeCache, filterServerNode, accumulator);
    }
    if (ackPath->isEmpty()) {
      FCompoundWriteRef changedChildren = FCompoundWrite::emptyWrite();
      serverSnap->node()->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
        changedChildren = changedChildren->addWriteAtKey(child, key);
      });
      return applyServerMergeTo(viewCache, ackPath, changedChildren, writesCache, completeCache, filterServerNode,
                                accumulator);
    }
    return viewCache;
  }
  FCompoundWriteRef changedChildren = FCompoundWrite::emptyWrite();
  affectedTree->forEach([&](const FPathRef& mergePath, const bool&) {
    FPathRef serverCachePath = ackPath->child(*mergePath);
    if (serverSnap->isCompleteForPath(*serverCachePath)) {
      changedChildren = changedChildren->addWrite(serverSnap->node()->getChild(serverCachePath), mergePath);
    }
  });
  return applyServerMergeTo(viewCache, ackPath, changedChildren, writesCache, completeCache, filterServerNode,
                            accumulator);
}

FViewCacheRef FViewProcessor::ackUserWriteInWindow(const FViewCacheRef& viewCache, const FPathRef& ackPath,
                                                   const FAffectedTreeRef& affectedTree,
                                                   const FWriteTreeRefPtr& writesCache, const FNodeRef& completeCache,
                                                   FChildChangeAccumulator& accumulator) const {
  // A window's server data holds exactly the children in the window, the write's effect included
  // (its data reaches the client before its answer): a child that the write alone showed and the
  // window does not hold leaves, and one the window holds may take its place. So each child the
  // write set is worked out again from the server's data and the writes that remain, and the
  // filter moves the window's boundary with the next child of that same data: what the user sees
  // becomes what the query selects of it, at the cost of the children the write touched.
  std::vector<std::string> keys;
  bool wholeLocation = !viewCache->cachedEventSnap()->isFullyInitialized();
  if (std::optional<std::string> front = ackPath->getFront()) {
    keys.push_back(*front);
  } else if (affectedTree->value()) {
    wholeLocation = true;
  } else {
    affectedTree->children()->enumerateKeysAndObjectsUsingBlock(
        [&](const std::string& key, const FAffectedTreeRef&, bool*) { keys.push_back(key); });
  }
  const std::string priorityKey = ".priority";
  wholeLocation = wholeLocation || std::find(keys.begin(), keys.end(), priorityKey) != keys.end();
  if (wholeLocation) {
    // The write was of the location itself: all of it is worked out again.
    FWriteTreeCompleteChildSource source = sourceFor(writesCache, viewCache, completeCache);
    return generateEventCacheAfterServerEvent(viewCache, nullptr, FPath::empty(), writesCache, source, completeCache,
                                              accumulator);
  }
  // The server's data of each child: the location's complete data when a view that loads all of
  // it holds it, else the window's own (a child it does not hold is outside the window).
  std::optional<FCacheNode> complete;
  if (completeCache) complete.emplace(FIndexedNode::indexedNodeWithNode(completeCache, FKeyIndex::keyIndex()), true, false);
  const FCacheNode& serverData = complete ? *complete : *viewCache->cachedServerSnap();
  FViewCacheRef current = viewCache;
  for (const std::string& key : keys) {
    FNodeRef newChild = writesCache->calculateCompleteChild(key, serverData);
    if (!newChild) newChild = FEmptyNode::emptyNode();
    const FCacheNodeRef eventSnap = current->cachedEventSnap();  // `current` changes below
    FWriteTreeCompleteChildSource source = sourceFor(writesCache, current, completeCache);
    FIndexedNodeRef newEventSnap =
        filter_->updateChildIn(eventSnap->indexedNode(), key, newChild, FPath::empty(), source, &accumulator);
    if (newEventSnap != eventSnap->indexedNode()) {
      current = current->updateEventSnap(newEventSnap, eventSnap->isFullyInitialized(), filter_->filtersNodes());
    }
  }
  return current;
}

FViewCacheRef FViewProcessor::revertUserWriteOn(const FViewCacheRef& viewCache, const FPathRef& path,
                                                const FWriteTreeRefPtr& writesCache, const FNodeRef& completeCache,
                                                FChildChangeAccumulator& accumulator) const {
  // A revert recomputes what the user sees from the server cache and the writes that remain, also
  // where a remaining write still covers the path: an earlier write of an ancestor shows its value
  // there again.
  FWriteTreeCompleteChildSource source = sourceFor(writesCache, viewCache, completeCache);
  const FCacheNodeRef& serverSnap = viewCache->cachedServerSnap();
  const FIndexedNodeRef& oldEventCache = viewCache->cachedEventSnap()->indexedNode();
  FIndexedNodeRef newEventCache;
  std::optional<std::string> childKey = path->getFront();
  // While a pending removal or priority write lies here, whether it empties a location on the way
  // (and drops its priority) may have turned on the write that went: all of the view is recomputed.
  const bool orderMatters = serverSnap->isFullyInitialized() && !serverSnap->isFiltered() &&
                            writesCache->hasWritesDependingOnOrder();
  if (!childKey || *childKey == ".priority" || orderMatters) {
    FNodeRef newNode;
    if (serverSnap->isFullyInitialized()) {
      newNode = writesCache->calculateCompleteEventCacheWithCompleteServerCache(viewCache->completeServerSnap());
    } else {
      newNode = writesCache->calculateCompleteEventCacheWithCompleteServerCache(nullptr);
      if (!newNode) newNode = writesCache->calculateCompleteEventChildrenWithCompleteServerChildren(serverSnap->node());
    }
    newEventCache = filter_->updateFullNode(oldEventCache, FIndexedNode::indexedNodeWithNode(newNode, filter_->index()),
                                            &accumulator);
  } else {
    // The child is recomputed whole and so compared whole: the write that went may have changed
    // it above its own path (a priority dropped when it emptied a location on the way).
    const FPathRef& childPath = FPath::empty();
    FNodeRef newChild = writesCache->calculateCompleteChild(*childKey, *serverSnap);
    if (!newChild && serverSnap->isCompleteForChild(*childKey)) {
      newChild = oldEventCache->node()->getImmediateChild(*childKey);
    }
    if (newChild) {
      newEventCache = filter_->updateChildIn(oldEventCache, *childKey, newChild, childPath, source, &accumulator);
    } else if (viewCache->cachedEventSnap()->node()->hasChild(*childKey)) {
      newEventCache =
          filter_->updateChildIn(oldEventCache, *childKey, FEmptyNode::emptyNode(), childPath, source, &accumulator);
    } else {
      newEventCache = oldEventCache;
    }
    // A location left empty may be a plain value above what went: the server's, or one an earlier
    // write of the location (or above it) gave, which is known before the server answers.
    if (newEventCache->node()->isEmpty() &&
        (serverSnap->isFullyInitialized() || writesCache->shadowingWriteAtPath(FPath::empty()))) {
      FNodeRef complete =
          writesCache->calculateCompleteEventCacheWithCompleteServerCache(viewCache->completeServerSnap());
      if (complete && complete->isLeafNode()) {
        newEventCache = filter_->updateFullNode(newEventCache, FIndexedNode::indexedNodeWithNode(complete), &accumulator);
      }
    }
  }
  const bool complete = serverSnap->isFullyInitialized() || writesCache->shadowingWriteAtPath(FPath::empty()) != nullptr;
  return viewCache->updateEventSnap(newEventCache, complete, filter_->filtersNodes());
}

FViewCacheRef FViewProcessor::listenCompleteOldCache(const FViewCacheRef& viewCache, const FPathRef& path,
                                                     const FWriteTreeRefPtr& writesCache, const FNodeRef& completeCache,
                                                     bool fromListenAbove, FChildChangeAccumulator& accumulator) const {
  const FCacheNodeRef& oldServerNode = viewCache->cachedServerSnap();
  FIndexedNodeRef serverNode = oldServerNode->indexedNode();
  if (fromListenAbove && path->isEmpty() && oldServerNode->isFiltered() && completeCache) {
    // The server has confirmed the data of the location (with no data at all when the cache the
    // listen reported was already its own): the window's server data is what its query selects of
    // it. Left as it was, it could hold a child the server no longer has, which the next change
    // worked out from it (a revert) would show again.
    serverNode = filter_->updateFullNode(serverNode, FIndexedNode::indexedNodeWithNode(completeCache, filter_->index()),
                                         nullptr);
  }
  FViewCacheRef newViewCache = viewCache->updateServerSnap(
      serverNode, oldServerNode->isFullyInitialized() || path->isEmpty(), oldServerNode->isFiltered());
  // A listen that loads all the data above a window completes it: the window is then worked out
  // from that data, which may hold what the window's own data does not.
  FWriteTreeCompleteChildSource source = sourceFor(writesCache, newViewCache, completeCache);
  return generateEventCacheAfterServerEvent(newViewCache, nullptr, path, writesCache, source, completeCache,
                                            accumulator);
}
