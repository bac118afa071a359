#pragma once
// Folds the child changes of one operation on one view, per child key, so that what remains
// describes the difference between the state before the first change and after the last. Lives
// for one operation; used on the work queue only.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "sdk/database/core/FChange.h"

class FChildChangeAccumulator {
 public:
  // Takes a child added, removed or changed change. A sequence that cannot happen (added after
  // added, for one) raises "ZirezizeDatabaseInternalError" "Illegal combination of changes: <new>
  // occurred after <held>".
  void trackChildChange(FChange change);
  // The folded changes, one per child key, in the order of their keys.
  std::vector<FChange> changes() const;
  // The same, taken out of the accumulator, which is left empty; the list has room for one more
  // change (the view's value change, which usually follows).
  std::vector<FChange> takeChanges();

 private:
  // Most operations change one child or a few: those are kept in a short list, searched in
  // place, and the list is what takeChanges hands on. A longer run (a merge of many children)
  // moves them to the map.
  static constexpr size_t kListedChanges = 4;

  FChange* find(const std::string& key);
  void erase(const std::string& key);

  std::vector<FChange> listed_;
  std::map<std::string, FChange> changeMap_;
};
