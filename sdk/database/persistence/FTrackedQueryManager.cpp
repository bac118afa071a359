#include "sdk/database/persistence/FTrackedQueryManager.h"

#include <algorithm>
#include <cmath>

#include "sdk/database/core/FFLog.h"

namespace {

bool isDefaultComplete(const FTrackedQuery& query) { return query.query()->loadsAllData() && query.isComplete(); }

}  // namespace

FTrackedQueryManager::FTrackedQueryManager(FStorageEngineRef storageEngine, FClockRef clock)
    : storageEngine_(std::move(storageEngine)), clock_(std::move(clock)), trackedQueryTree_(QueryTree::empty()) {
  const double now = clock_->currentTime();
  for (const FTrackedQueryRef& stored : storageEngine_->loadTrackedQueries()) {
    nextQueryId_ = std::max(nextQueryId_, stored->queryId() + 1);
    FTrackedQueryRef query = stored;
    if (query->isActive()) {
      // Nothing listens after a restart: what was active was last used now.
      query = query->setActiveState(false)->updateLastUse(now);
      storageEngine_->saveTrackedQuery(query);
    }
    cacheTrackedQuery(query);
  }
}

FQuerySpecRef FTrackedQueryManager::normalize(const FQuerySpecRef& query) {
  return query->loadsAllData() && !query->isDefault() ? FQuerySpec::defaultQueryAtPath(query->path()) : query;
}

std::string FTrackedQueryManager::paramsKey(const FQuerySpec& query) {
  return query.loadsAllData() ? std::string() : query.params()->wireProtocolParams().dump();
}

FTrackedQueryRef FTrackedQueryManager::findTrackedQuery(const FQuerySpecRef& query) const {
  FQuerySpecRef normalized = normalize(query);
  std::optional<QueriesAtPath> atPath = trackedQueryTree_->valueAtPath(*normalized->path());
  if (!atPath) return nullptr;
  auto it = (*atPath)->find(paramsKey(*normalized));
  return it == (*atPath)->end() ? nullptr : it->second;
}

void FTrackedQueryManager::cacheTrackedQuery(const FTrackedQueryRef& query) {
  const FPath& path = *query->query()->path();
  std::optional<QueriesAtPath> existing = trackedQueryTree_->valueAtPath(path);
  auto updated = existing ? std::make_shared<std::map<std::string, FTrackedQueryRef>>(**existing)
                          : std::make_shared<std::map<std::string, FTrackedQueryRef>>();
  (*updated)[paramsKey(*query->query())] = query;
  trackedQueryTree_ = trackedQueryTree_->setValue(QueriesAtPath(std::move(updated)), path);
}

void FTrackedQueryManager::saveTrackedQuery(const FTrackedQueryRef& query) {
  cacheTrackedQuery(query);
  storageEngine_->saveTrackedQuery(query);
}

void FTrackedQueryManager::removeTrackedQuery(const FQuerySpecRef& query) {
  FTrackedQueryRef tracked = findTrackedQuery(query);
  if (!tracked) return;
  storageEngine_->removeTrackedQuery(tracked->queryId());
  const FPath& path = *tracked->query()->path();
  std::optional<QueriesAtPath> existing = trackedQueryTree_->valueAtPath(path);
  auto updated = std::make_shared<std::map<std::string, FTrackedQueryRef>>(**existing);
  updated->erase(paramsKey(*tracked->query()));
  trackedQueryTree_ = updated->empty() ? trackedQueryTree_->removeValueAtPath(path)
                                       : trackedQueryTree_->setValue(QueriesAtPath(std::move(updated)), path);
}

void FTrackedQueryManager::setQueryActiveFlag(const FQuerySpecRef& query, bool isActive) {
  FQuerySpecRef normalized = normalize(query);
  FTrackedQueryRef tracked = findTrackedQuery(normalized);
  const double now = clock_->currentTime();
  if (tracked) {
    tracked = tracked->updateLastUse(now)->setActiveState(isActive);
  } else {
    tracked = std::make_shared<const FTrackedQuery>(nextQueryId_++, normalized, now, false, isActive);
  }
  saveTrackedQuery(tracked);
}

void FTrackedQueryManager::setQueryActive(const FQuerySpecRef& query) { setQueryActiveFlag(query, true); }

void FTrackedQueryManager::setQueryInactive(const FQuerySpecRef& query) { setQueryActiveFlag(query, false); }

void FTrackedQueryManager::setQueryComplete(const FQuerySpecRef& query) {
  FTrackedQueryRef tracked = findTrackedQuery(query);
  if (tracked && !tracked->isComplete()) saveTrackedQuery(tracked->setComplete());
}

void FTrackedQueryManager::setQueriesCompleteAtPath(const FPath& path) {
  std::optional<QueriesAtPath> atPath = trackedQueryTree_->valueAtPath(path);
  if (!atPath) return;
  for (const auto& [key, tracked] : **atPath) {
    if (!tracked->isComplete()) saveTrackedQuery(tracked->setComplete());
  }
}

void FTrackedQueryManager::ensureCompleteTrackedQueryAtPath(const FPathRef& path) {
  if (includedInDefaultCompleteQuery(*path)) return;
  FQuerySpecRef query = FQuerySpec::defaultQueryAtPath(path);
  FTrackedQueryRef tracked = findTrackedQuery(query);
  if (tracked) {
    saveTrackedQuery(tracked->updateLastUse(clock_->currentTime())->setComplete());
  } else {
    saveTrackedQuery(std::make_shared<const FTrackedQuery>(nextQueryId_++, query, clock_->currentTime(), true, false));
  }
}

bool FTrackedQueryManager::includedInDefaultCompleteQuery(const FPath& path) const {
  return trackedQueryTree_
      ->findRootMostMatchingPath(path,
                                 [](const QueriesAtPath& queries) {
                                   auto it = queries->find(std::string());
                                   return it != queries->end() && isDefaultComplete(*it->second);
                                 })
      .has_value();
}

bool FTrackedQueryManager::hasActiveDefaultQueryAtPath(const FPath& path) const {
  std::optional<QueriesAtPath> atPath = trackedQueryTree_->valueAtPath(path);
  if (!atPath) return false;
  auto it = (*atPath)->find(std::string());
  return it != (*atPath)->end() && it->second->isActive();
}

std::set<std::string> FTrackedQueryManager::knownCompleteChildrenAtPath(const FPath& path) const {
  std::set<std::string> keys;
  if (std::optional<QueriesAtPath> atPath = trackedQueryTree_->valueAtPath(path)) {
    for (const auto& [params, tracked] : **atPath) {
      if (tracked->isComplete() && !tracked->query()->loadsAllData()) {
        std::set<std::string> queryKeys = storageEngine_->trackedQueryKeysForQuery(tracked->queryId());
        keys.insert(queryKeys.begin(), queryKeys.end());
      }
    }
  }
  trackedQueryTree_->subtreeAtPath(path)->forEachChild([&](const std::string& key, const QueriesAtPath& queries) {
    auto it = queries->find(std::string());
    if (it != queries->end() && isDefaultComplete(*it->second)) keys.insert(key);
  });
  return keys;
}

std::vector<FTrackedQueryRef> FTrackedQueryManager::queriesMatching(
    const std::function<bool(const FTrackedQuery&)>& predicate) const {
  std::vector<FTrackedQueryRef> found;
  trackedQueryTree_->forEach([&](const FPathRef&, const QueriesAtPath& queries) {
    for (const auto& [params, tracked] : *queries) {
      if (predicate(*tracked)) found.push_back(tracked);
    }
  });
  return found;
}

uint64_t FTrackedQueryManager::numberOfPrunableQueries() const {
  return queriesMatching([](const FTrackedQuery& query) { return !query.isActive(); }).size();
}

FPruneForestRef FTrackedQueryManager::pruneOldQueries(const FCachePolicy& policy) {
  std::vector<FTrackedQueryRef> prunable = queriesMatching([](const FTrackedQuery& q) { return !q.isActive(); });
  const uint64_t count = prunable.size();
  const auto keepByShare =
      static_cast<uint64_t>(std::floor(static_cast<double>(count) * (1.0 - policy.percentOfQueriesToPruneAtOnce())));
  const uint64_t toPrune = count - std::min(keepByShare, policy.maxNumberOfQueriesToKeep());
  std::stable_sort(prunable.begin(), prunable.end(),
                   [](const FTrackedQueryRef& a, const FTrackedQueryRef& b) { return a->lastUse() < b->lastUse(); });

  FPruneForestRef forest = FPruneForest::empty();
  for (uint64_t i = 0; i < toPrune; ++i) {
    const FTrackedQueryRef& query = prunable[i];
    forest = forest->prunePath(*query->query()->path());
    removeTrackedQuery(query->query());
  }
  // What every remaining query needs stays: all data of a default query, the tracked children of
  // a filtered one.
  auto keep = [&](const FTrackedQueryRef& query) {
    const FPath& path = *query->query()->path();
    if (query->query()->loadsAllData()) {
      forest = forest->keepPath(path);
    } else {
      forest = forest->keepAll(storageEngine_->trackedQueryKeysForQuery(query->queryId()), path);
    }
  };
  for (uint64_t i = toPrune; i < count; ++i) keep(prunable[i]);
  for (const FTrackedQueryRef& query : queriesMatching([](const FTrackedQuery& q) { return q.isActive(); })) keep(query);
  FFLogDebug("I-RDB076018", "Pruning %llu of %llu prunable tracked queries.", static_cast<unsigned long long>(toPrune),
                static_cast<unsigned long long>(count));
  return forest;
}
