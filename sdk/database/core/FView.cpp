#include "sdk/database/core/FView.h"

#include <algorithm>

#include "sdk/database/core/FIndexedFilter.h"
#include "sdk/database/snapshot/FChildrenNode.h"

FView::FView(FQuerySpecRef query, const FViewCacheRef& initialViewCache)
    : query_(std::move(query)), processor_(query_->params()->nodeFilter()), eventGenerator_(query_) {
  FIndexedFilter indexFilter(query_->index());
  const FNodeFilterRef& filter = processor_.filter();
  FIndexedNodeRef empty = FIndexedNode::indexedNodeWithNode(FEmptyNode::emptyNode(), query_->index());
  const FCacheNodeRef& initialServer = initialViewCache->cachedServerSnap();
  const FCacheNodeRef& initialEvent = initialViewCache->cachedEventSnap();
  FIndexedNodeRef serverSnap = indexFilter.updateFullNode(empty, initialServer->indexedNode(), nullptr);
  FIndexedNodeRef eventSnap = filter->updateFullNode(empty, initialEvent->indexedNode(), nullptr);
  viewCache_ = std::make_shared<const FViewCache>(
      std::make_shared<const FCacheNode>(eventSnap, initialEvent->isFullyInitialized(), filter->filtersNodes()),
      std::make_shared<const FCacheNode>(serverSnap, initialServer->isFullyInitialized(), indexFilter.filtersNodes()));
}

FNodeRef FView::completeCacheFor(const FNodeRef& completeSnap, const FPathRef& path, bool loadsAllData) {
  if (!completeSnap) return nullptr;
  if (loadsAllData) return completeSnap->getChild(path);
  std::optional<std::string> front = path->getFront();
  if (front && !completeSnap->getImmediateChild(*front)->isEmpty()) return completeSnap->getChild(path);
  return nullptr;
}

FNodeRef FView::completeServerCacheFor(const FPathRef& path) const {
  return completeCacheFor(viewCache_->completeServerSnap(), path, query_->loadsAllData());
}

FNodeRef FView::completeEventCacheFor(const FPathRef& path) const {
  return completeCacheFor(viewCache_->completeEventSnap(), path, query_->loadsAllData());
}

void FView::addEventRegistration(const FEventRegistrationRef& registration) {
  eventRegistrations_.push_back(registration);
}

std::vector<std::shared_ptr<const FCancelEvent>> FView::removeEventRegistration(
    const FEventRegistrationRef& registration, const NSErrorRef& cancelError) {
  std::vector<std::shared_ptr<const FCancelEvent>> cancelEvents;
  if (cancelError) {
    for (const FEventRegistrationRef& existing : eventRegistrations_) {
      if (auto event = existing->createCancelEventFromError(cancelError, query_->path())) {
        cancelEvents.push_back(std::move(event));
      }
    }
  }
  if (registration) {
    std::erase_if(eventRegistrations_,
                  [&](const FEventRegistrationRef& existing) { return existing->matches(*registration); });
  } else {
    eventRegistrations_.clear();
  }
  return cancelEvents;
}

FViewOperationResult FView::applyOperation(const FOperation& operation, const FWriteTreeRefPtr& writesCache,
                                           const FNodeRef& optCompleteServerCache) {
  FViewProcessorResult result = processor_.applyOperationOn(viewCache_, operation, writesCache, optCompleteServerCache);
  viewCache_ = result.viewCache;
  FEventList events = generateEventsForChanges(result.changes, viewCache_->cachedEventSnap()->indexedNode(), nullptr);
  return FViewOperationResult{std::move(result.changes), std::move(events)};
}

FEventList FView::initialEvents(const FEventRegistrationRef& registration) const {
  const FCacheNodeRef& eventSnap = viewCache_->cachedEventSnap();
  std::vector<FChange> initialChanges;
  eventSnap->node()->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    initialChanges.emplace_back(FEventTypeChildAdded, FIndexedNode::indexedNodeWithNode(child), key);
  });
  if (eventSnap->isFullyInitialized()) initialChanges.emplace_back(FEventTypeValue, eventSnap->indexedNode());
  return generateEventsForChanges(initialChanges, eventSnap->indexedNode(), registration);
}

FEventList FView::generateEventsForChanges(const std::vector<FChange>& changes, const FIndexedNodeRef& eventCache,
                                           const FEventRegistrationRef& registration) const {
  // Generating events never changes the view's registrations, so the list is read where it is.
  if (!registration) return eventGenerator_.generateEventsForChanges(changes, eventCache, eventRegistrations_);
  return eventGenerator_.generateEventsForChanges(changes, eventCache, std::vector<FEventRegistrationRef>{registration});
}
