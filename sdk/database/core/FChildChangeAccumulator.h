#pragma once
// Folds the child changes of one operation on one view, per child key, so that what remains
// describes the difference between the state before the first change and after the last. Lives
// for one operation; used on the work queue only.
#include <map>
#include <string>
#include <vector>

#include "sdk/database/core/FChange.h"

class FChildChangeAccumulator {
 public:
  // Takes a child added, removed or changed change. A sequence that cannot happen (added after
  // added, for one) raises "ZirezizeDatabaseInternalError" "Illegal combination of changes: <new>
  // occurred after <held>".
  void trackChildChange(const FChange& change);
  // The folded changes, one per child key, in no particular order.
  std::vector<FChange> changes() const;

 private:
  std::map<std::string, FChange> changeMap_;
};
