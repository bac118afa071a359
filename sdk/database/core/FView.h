#pragma once
// The live state of one query at one location: its view cache, the view processor with the
// query's node filter, the registrations that listen to it, and the event generator that turns
// changes into their events. Its sync point creates it, passes it every operation that reaches
// its location, and drops it when the last registration is gone. Used on the work queue only.
#include <memory>
#include <vector>

#include "sdk/database/core/FCancelEvent.h"
#include "sdk/database/core/FEventGenerator.h"
#include "sdk/database/core/FEventRegistration.h"
#include "sdk/database/core/FOperation.h"
#include "sdk/database/core/FViewCache.h"
#include "sdk/database/core/FViewProcessor.h"
#include "sdk/database/core/FWriteTreeRef.h"

struct FViewOperationResult {
  std::vector<FChange> changes;
  FEventList events;
};

class FView;
using FViewRef = std::shared_ptr<FView>;

class FView {
 public:
  // initWithQuery:initialViewCache:. The caches are run through the query's filters: the event
  // cache keeps only what the query shows, the server cache everything given.
  FView(FQuerySpecRef query, const FViewCacheRef& initialViewCache);

  const FQuerySpecRef& query() const { return query_; }
  const FViewCacheRef& viewCache() const { return viewCache_; }
  const std::vector<FEventRegistrationRef>& eventRegistrations() const { return eventRegistrations_; }

  FNodeRef serverCache() const { return viewCache_->cachedServerSnap()->node(); }
  FNodeRef eventCache() const { return viewCache_->cachedEventSnap()->node(); }
  // Null unless the event cache is fully initialised.
  FNodeRef completeEventCache() const { return viewCache_->completeEventSnap(); }
  // The complete server (event) node at the relative path, or null when the view does not hold it
  // completely. A query that does not load all data answers only below a child it holds.
  FNodeRef completeServerCacheFor(const FPathRef& path) const;
  FNodeRef completeEventCacheFor(const FPathRef& path) const;
  bool isEmpty() const { return eventRegistrations_.empty(); }

  void addEventRegistration(const FEventRegistrationRef& registration);
  // Removes every registration that matches the given one (all of them for null); with an error,
  // first collects a cancel event from every registration that has a cancel callback.
  std::vector<std::shared_ptr<const FCancelEvent>> removeEventRegistration(const FEventRegistrationRef& registration,
                                                                           const NSErrorRef& cancelError);

  FViewOperationResult applyOperation(const FOperation& operation, const FWriteTreeRefPtr& writesCache,
                                      const FNodeRef& optCompleteServerCache);
  // Child added events for every child held and, when the cache is complete, a value event: what
  // a registration that has just been added gets.
  FEventList initialEvents(const FEventRegistrationRef& registration) const;
  std::string description() const { return "FView (" + query_->description() + ")"; }

 private:
  FEventList generateEventsForChanges(const std::vector<FChange>& changes, const FIndexedNodeRef& eventCache,
                                      const FEventRegistrationRef& registration) const;
  static FNodeRef completeCacheFor(const FNodeRef& completeSnap, const FPathRef& path, bool loadsAllData);

  FQuerySpecRef query_;
  FViewProcessor processor_;
  FViewCacheRef viewCache_;
  std::vector<FEventRegistrationRef> eventRegistrations_;
  FEventGenerator eventGenerator_;
};
