#include "sdk/database/core/FChildChangeAccumulator.h"

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FPath.h"

void FChildChangeAccumulator::trackChildChange(const FChange& change) {
  const std::string& key = *change.childKey();
  auto held = changeMap_.find(key);
  if (held == changeMap_.end()) {
    changeMap_.emplace(key, change);
    return;
  }
  const FEventType newType = change.type();
  const FEventType oldType = held->second.type();
  if (newType == FEventTypeChildAdded && oldType == FEventTypeChildRemoved) {
    held->second = FChange(FEventTypeChildChanged, change.indexedNode(), key, held->second.indexedNode());
  } else if (newType == FEventTypeChildRemoved && oldType == FEventTypeChildAdded) {
    changeMap_.erase(held);
  } else if (newType == FEventTypeChildRemoved && oldType == FEventTypeChildChanged) {
    held->second = FChange(FEventTypeChildRemoved, held->second.oldIndexedNode(), key);
  } else if (newType == FEventTypeChildChanged && oldType == FEventTypeChildAdded) {
    held->second = FChange(FEventTypeChildAdded, change.indexedNode(), key);
  } else if (newType == FEventTypeChildChanged && oldType == FEventTypeChildChanged) {
    held->second = FChange(FEventTypeChildChanged, change.indexedNode(), key, held->second.oldIndexedNode());
  } else {
    NSException::raise(kZirezizeDatabaseInternalError, "Illegal combination of changes: " + change.description() +
                                                           " occurred after " + held->second.description());
  }
}

std::vector<FChange> FChildChangeAccumulator::changes() const {
  std::vector<FChange> out;
  out.reserve(changeMap_.size());
  for (const auto& [key, change] : changeMap_) out.push_back(change);
  return out;
}
