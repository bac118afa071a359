#pragma once
// Turns the changes of one operation on a view into events for the view's registrations: adds a
// move for every changed child whose position under the query's index changed, orders the changes
// (removed, added, moved, changed, value; each kind in index order), fills in previous child keys
// from the new event cache, and lets each registration that takes the type build its event. Lives
// as long as its view; used on the work queue.
#include <vector>

#include "sdk/database/core/FChange.h"
#include "sdk/database/core/FEvent.h"
#include "sdk/database/core/FEventRegistration.h"
#include "sdk/database/core/FQueryParams.h"

class FEventGenerator {
 public:
  explicit FEventGenerator(FQuerySpecRef query);

  const FQuerySpecRef& query() const { return query_; }

  FEventList generateEventsForChanges(const std::vector<FChange>& changes, const FIndexedNodeRef& eventCache,
                                      const std::vector<FEventRegistrationRef>& eventRegistrations) const;

 private:
  // Appends the events of the changes of one type, sorted by the query's index; every
  // registration gets the first change before any gets the second. Sorting a change without a
  // child key raises "InternalInconsistencyError" "Should only compare child_ events".
  void generateEvents(FEventList& events, FEventType type, const std::vector<FChange>& changes,
                      const FIndexedNodeRef& eventCache,
                      const std::vector<FEventRegistrationRef>& eventRegistrations) const;
  FEventRef generateEventForChange(const FChange& change, const FEventRegistrationRef& registration,
                                   const FIndexedNodeRef& eventCache) const;

  FQuerySpecRef query_;
};
