#include "sdk/database/core/FChildChangeAccumulator.h"

#include <algorithm>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FPath.h"

namespace {

void sortByKey(std::vector<FChange>& changes) {
  std::sort(changes.begin(), changes.end(),
            [](const FChange& a, const FChange& b) { return *a.childKey() < *b.childKey(); });
}

}  // namespace

FChange* FChildChangeAccumulator::find(const std::string& key) {
  if (!changeMap_.empty()) {
    auto held = changeMap_.find(key);
    return held == changeMap_.end() ? nullptr : &held->second;
  }
  for (FChange& change : listed_) {
    if (*change.childKey() == key) return &change;
  }
  return nullptr;
}

void FChildChangeAccumulator::erase(const std::string& key) {
  if (!changeMap_.empty()) {
    changeMap_.erase(key);
    return;
  }
  auto held = std::find_if(listed_.begin(), listed_.end(), [&](const FChange& c) { return *c.childKey() == key; });
  listed_.erase(held);
}

void FChildChangeAccumulator::trackChildChange(FChange change) {
  const std::string& key = *change.childKey();
  FChange* held = find(key);
  if (!held) {
    if (changeMap_.empty() && listed_.size() < kListedChanges) {
      if (listed_.empty()) listed_.reserve(kListedChanges + 1);
      listed_.push_back(std::move(change));
      return;
    }
    for (FChange& listed : listed_) {
      std::string listedKey = *listed.childKey();
      changeMap_.emplace(std::move(listedKey), std::move(listed));
    }
    listed_.clear();
    std::string newKey = key;
    changeMap_.emplace(std::move(newKey), std::move(change));
    return;
  }
  const FEventType newType = change.type();
  const FEventType oldType = held->type();
  if (newType == FEventTypeChildAdded && oldType == FEventTypeChildRemoved) {
    *held = FChange(FEventTypeChildChanged, change.indexedNode(), key, held->indexedNode());
  } else if (newType == FEventTypeChildRemoved && oldType == FEventTypeChildAdded) {
    erase(key);
  } else if (newType == FEventTypeChildRemoved && oldType == FEventTypeChildChanged) {
    *held = FChange(FEventTypeChildRemoved, held->oldIndexedNode(), key);
  } else if (newType == FEventTypeChildChanged && oldType == FEventTypeChildAdded) {
    *held = FChange(FEventTypeChildAdded, change.indexedNode(), key);
  } else if (newType == FEventTypeChildChanged && oldType == FEventTypeChildChanged) {
    *held = FChange(FEventTypeChildChanged, change.indexedNode(), key, held->oldIndexedNode());
  } else {
    NSException::raise(kZirezizeDatabaseInternalError, "Illegal combination of changes: " + change.description() +
                                                           " occurred after " + held->description());
  }
}

std::vector<FChange> FChildChangeAccumulator::changes() const {
  std::vector<FChange> out;
  out.reserve(changeMap_.size() + listed_.size());
  for (const auto& [key, change] : changeMap_) out.push_back(change);
  for (const FChange& change : listed_) out.push_back(change);
  sortByKey(out);
  return out;
}

std::vector<FChange> FChildChangeAccumulator::takeChanges() {
  std::vector<FChange> out;
  if (changeMap_.empty()) {
    out.swap(listed_);
    sortByKey(out);
    return out;
  }
  out.reserve(changeMap_.size() + 1);
  for (auto& [key, change] : changeMap_) out.push_back(std::move(change));
  changeMap_.clear();
  return out;
}
