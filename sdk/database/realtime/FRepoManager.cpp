#include "sdk/database/realtime/FRepoManager.h"

#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/foundation/NSException.h"
#include "sdk/database/core/FFLog.h"
#include "sdk/database/persistence/FLevelDBStorageEngine.h"
#include "sdk/database/realtime/FRepo.h"
#include "sdk/database/realtime/ZIRDatabase.h"
#include "sdk/database/realtime/ZIRDatabaseQuery.h"

namespace {

using ReposByInfo = std::unordered_map<FRepoInfoRef, std::shared_ptr<FRepo>, FRepoInfoHash, FRepoInfoEqual>;

struct Registry {
  std::recursive_mutex mutex;
  std::map<std::string, ReposByInfo> configs;
};

Registry& registry() {
  static Registry* instance = new Registry();  // lives for the process
  return *instance;
}

std::shared_ptr<FRepo> findRepo(const Registry& r, const std::string& name, const FRepoInfoRef& repoInfo) {
  auto config = r.configs.find(name);
  if (config == r.configs.end()) return nullptr;
  auto repo = config->second.find(repoInfo);
  return repo == config->second.end() ? nullptr : repo->second;
}

// The repositories of one name, or of all names (nullptr), copied under the lock.
std::vector<std::shared_ptr<FRepo>> reposOf(const std::string* name) {
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  std::vector<std::shared_ptr<FRepo>> repos;
  for (const auto& [configName, byInfo] : r.configs) {
    if (name && configName != *name) continue;
    for (const auto& [info, repo] : byInfo) repos.push_back(repo);
  }
  return repos;
}

void onEachRepo(std::optional<std::string> name, void (FRepo::*operation)()) {
  ZIRDatabaseQuery::sharedQueue()->async([name, operation] {
    for (const std::shared_ptr<FRepo>& repo : reposOf(name ? &*name : nullptr)) ((*repo).*operation)();
  });
}

}  // namespace

std::shared_ptr<FRepo> FRepoManager::getRepo(const FRepoInfoRef& repoInfo, const ZIRDatabaseConfigRef& config) {
  config->freeze();
  const std::string name = config->sessionIdentifier();
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  if (!findRepo(r, name, repoInfo)) {
    // Makes the database object, whose repository comes back here through createRepo.
    ZIRDatabase::createDatabaseForTests(repoInfo, config);
  }
  return findRepo(r, name, repoInfo);
}

std::shared_ptr<FRepo> FRepoManager::createRepo(const FRepoInfoRef& repoInfo, const ZIRDatabaseConfigRef& config,
                                                const std::shared_ptr<ZIRDatabase>& database) {
  config->freeze();
  const std::string name = config->sessionIdentifier();
  if (config->persistenceEnabled() && !config->forceStorageEngine()) {
    const std::string folder = name + "/" + repoInfo->host() + "_" + repoInfo->ns();
    if (!FLevelDBStorageEngine::isSafeRelativePath(folder)) {
      NSException::raise(NSInvalidArgumentException,
                         "The database \"%s\" of \"%s\" cannot keep a local cache: \"%s\" is no folder name inside "
                         "the storage root.",
                         repoInfo->ns().c_str(), name.c_str(), folder.c_str());
    }
  }
  Registry& r = registry();
  std::lock_guard<std::recursive_mutex> lock(r.mutex);
  ReposByInfo& repos = r.configs[name];
  if (repos.count(repoInfo)) {
    NSException::raise("RepoExists", "createRepo called for Repo that already exists.");
  }
  std::shared_ptr<FRepo> repo = FRepo::create(repoInfo, config, database);
  repos[repoInfo] = repo;
  return repo;
}

void FRepoManager::interruptAll() { onEachRepo(std::nullopt, &FRepo::interrupt); }

void FRepoManager::resumeAll() { onEachRepo(std::nullopt, &FRepo::resume); }

void FRepoManager::interrupt(const ZIRDatabaseConfigRef& config) {
  onEachRepo(config->sessionIdentifier(), &FRepo::interrupt);
}

void FRepoManager::resume(const ZIRDatabaseConfigRef& config) {
  onEachRepo(config->sessionIdentifier(), &FRepo::resume);
}

void FRepoManager::disposeRepos(const ZIRDatabaseConfigRef& config) {
  const std::string name = config->sessionIdentifier();
  auto work = [name] {
    FFLogDebug("I-RDB040001", "Disposing all repos for Config with name %s", name.c_str());
    std::vector<std::shared_ptr<FRepo>> repos;
    {
      Registry& r = registry();
      std::lock_guard<std::recursive_mutex> lock(r.mutex);
      auto found = r.configs.find(name);
      if (found == r.configs.end()) return;
      for (const auto& [info, repo] : found->second) repos.push_back(repo);
      r.configs.erase(found);
    }
    for (const std::shared_ptr<FRepo>& repo : repos) repo->dispose();
  };
  DispatchQueueRef queue = ZIRDatabaseQuery::sharedQueue();
  if (queue->isCurrent()) {
    work();
  } else {
    queue->sync(work);
  }
}

size_t FRepoManager::repoCount(const ZIRDatabaseConfigRef& config) {
  const std::string name = config->sessionIdentifier();
  return reposOf(&name).size();
}
