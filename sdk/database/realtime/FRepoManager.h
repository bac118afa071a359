#pragma once
// The process-wide registry of repositories: one per configuration name (the config's session
// identifier) and repository info. The public database object asks it for its repository; the
// class-wide go-offline and go-online calls reach every repository through it.
//
// Threads: getRepo and createRepo may be called from any thread. The registry is read and written
// only under its lock, a re-entrant one (getRepo holds it while the database object it makes calls
// createRepo). The work-queue blocks of interruptAll, resumeAll, interrupt, resume and disposeRepos
// take the lock only to copy or remove entries and call the repositories without it; disposeRepos
// never holds the lock while it waits for the work queue, so work on that queue that asks for a
// repository cannot deadlock against it.
#include <memory>

#include "sdk/database/core/FRepoInfo.h"
#include "sdk/database/realtime/ZIRDatabaseConfig.h"

class FRepo;
class ZIRDatabase;

class FRepoManager {
 public:
  // The repository of the config's name and the info, made (with a database object of its own)
  // when there is none. Freezes the config.
  static std::shared_ptr<FRepo> getRepo(const FRepoInfoRef& repoInfo, const ZIRDatabaseConfigRef& config);
  // Makes and registers the repository of a database object. Freezes the config. Raises "RepoExists"
  // ("createRepo called for Repo that already exists.") when the pair has one, and
  // NSInvalidArgumentException when persistence is on and the name, host and namespace do not make
  // a folder inside the storage root.
  static std::shared_ptr<FRepo> createRepo(const FRepoInfoRef& repoInfo, const ZIRDatabaseConfigRef& config,
                                           const std::shared_ptr<ZIRDatabase>& database);

  // Queue on the work queue the interruption (go offline) or resumption of every repository, or of
  // those of one configuration name.
  static void interruptAll();
  static void resumeAll();
  static void interrupt(const ZIRDatabaseConfigRef& config);
  static void resume(const ZIRDatabaseConfigRef& config);
  // Disposes of every repository of the config's name and forgets them; returns when done. On the
  // work queue itself the work runs at once (waiting for the queue there would never end).
  static void disposeRepos(const ZIRDatabaseConfigRef& config);

  // How many repositories the config's name has (diagnostics and tests).
  static size_t repoCount(const ZIRDatabaseConfigRef& config);
};
