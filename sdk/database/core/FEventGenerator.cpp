#include "sdk/database/core/FEventGenerator.h"

#include <algorithm>

#include "platform/foundation/NSException.h"

FEventGenerator::FEventGenerator(FQuerySpecRef query) : query_(std::move(query)) {}

FEventList FEventGenerator::generateEventsForChanges(const std::vector<FChange>& changes,
                                                     const FIndexedNodeRef& eventCache,
                                                     const std::vector<FEventRegistrationRef>& eventRegistrations) const {
  FEventList events;
  std::vector<FChange> moves;
  const FIndexRef& index = query_->index();
  for (const FChange& change : changes) {
    if (change.type() == FEventTypeChildChanged &&
        index->indexedValueChangedBetween(*change.oldIndexedNode()->node(), *change.indexedNode()->node())) {
      moves.emplace_back(FEventTypeChildMoved, change.indexedNode(), *change.childKey());
    }
  }
  generateEvents(events, FEventTypeChildRemoved, changes, eventCache, eventRegistrations);
  generateEvents(events, FEventTypeChildAdded, changes, eventCache, eventRegistrations);
  generateEvents(events, FEventTypeChildMoved, moves, eventCache, eventRegistrations);
  generateEvents(events, FEventTypeChildChanged, changes, eventCache, eventRegistrations);
  generateEvents(events, FEventTypeValue, changes, eventCache, eventRegistrations);
  return events;
}

void FEventGenerator::generateEvents(FEventList& events, FEventType type, const std::vector<FChange>& changes,
                                     const FIndexedNodeRef& eventCache,
                                     const std::vector<FEventRegistrationRef>& eventRegistrations) const {
  // Most operations change one child or only the value: a single change of the type needs no
  // list to sort.
  const FChange* only = nullptr;
  size_t count = 0;
  for (const FChange& change : changes) {
    if (change.type() != type) continue;
    only = &change;
    ++count;
  }
  if (count == 0) return;
  if (count == 1) {
    for (const FEventRegistrationRef& registration : eventRegistrations) {
      if (registration->responseTo(type)) events.push_back(generateEventForChange(*only, registration, eventCache));
    }
    return;
  }
  std::vector<const FChange*> filtered;
  filtered.reserve(count);
  for (const FChange& change : changes) {
    if (change.type() != type) continue;
    if (!change.childKey()) NSException::raise("InternalInconsistencyError", "Should only compare child_ events");
    filtered.push_back(&change);
  }
  const FIndex& index = *query_->index();
  std::stable_sort(filtered.begin(), filtered.end(), [&index](const FChange* a, const FChange* b) {
    return index.compare(*a->childKey(), *a->indexedNode()->node(), *b->childKey(), *b->indexedNode()->node()) < 0;
  });
  for (const FChange* change : filtered) {
    for (const FEventRegistrationRef& registration : eventRegistrations) {
      if (registration->responseTo(type)) events.push_back(generateEventForChange(*change, registration, eventCache));
    }
  }
}

FEventRef FEventGenerator::generateEventForChange(const FChange& change, const FEventRegistrationRef& registration,
                                                  const FIndexedNodeRef& eventCache) const {
  if (change.type() == FEventTypeValue || change.type() == FEventTypeChildRemoved) {
    return registration->createEventFrom(change, query_);
  }
  std::optional<std::string> prevKey =
      eventCache->predecessorForChildKey(*change.childKey(), change.indexedNode()->node(), *query_->index());
  return registration->createEventFrom(change.changeWithPrevKey(std::move(prevKey)), query_);
}
