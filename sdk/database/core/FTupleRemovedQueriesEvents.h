#pragma once
// What removing a listener from a sync point gave: the queries whose views went away (a default
// query standing for every complete view that went) and the cancel events to raise.
#include <vector>

#include "sdk/database/core/FEvent.h"
#include "sdk/database/core/FQueryParams.h"

struct FTupleRemovedQueriesEvents {
  std::vector<FQuerySpecRef> removedQueries;
  FEventList cancelEvents;
};
