#pragma once
// The entry point of one database: made per app and database URL by the database component (or
// for tests from a repository info and config), it hands out references and switches the
// connection off and on. Its repository is made on first use (reference, goOffline, ...); the
// settings (persistence, cache size, callback queue) may change only before that, afterwards they
// raise NSInvalidArgumentException.
//
// Threads: any. The repository is made under the object's own lock.
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/Dispatch.h"
#include "sdk/database/core/FRepoInfo.h"
#include "sdk/database/realtime/ZIRDatabaseConfig.h"
#include "sdk/database/realtime/ZIRDatabaseReference.h"

class FRepo;
class ZAVAda;

// Name of the exception raised when the default database is asked for before the SDK is configured.
inline constexpr const char* kZAVAdaNotConfigured = "ZAVAdaNotConfigured";

class ZIRDatabase : public std::enable_shared_from_this<ZIRDatabase> {
 public:
  // The database of the default app. Raises "ZAVAdaNotConfigured" when no default app is
  // configured.
  static std::shared_ptr<ZIRDatabase> database();
  // The database at the app's database URL option. Raises NSInvalidArgumentException for a null
  // app or an app without a database URL, and NSInternalInconsistencyException when the database
  // component is not registered.
  static std::shared_ptr<ZIRDatabase> databaseForApp(const std::shared_ptr<ZAVAda>& app);
  // The database at the URL for the app (one object per app and database). Raises "Failed to
  // parse database URL" for a URL that cannot be read and NSInvalidArgumentException for a URL
  // that names a location below the root.
  static std::shared_ptr<ZIRDatabase> databaseForApp(const std::shared_ptr<ZAVAda>& app, const std::string& url);
  // createDatabaseForTests:config: — a database without an app, with its repository made at once.
  static std::shared_ptr<ZIRDatabase> createDatabaseForTests(FRepoInfoRef repoInfo, ZIRDatabaseConfigRef config);
  // Database logging: debug lines are written while it is on.
  static void setLoggingEnabled(bool enabled);

  ZIRDatabase(std::shared_ptr<ZAVAda> app, FRepoInfoRef repoInfo, ZIRDatabaseConfigRef config);

  std::shared_ptr<ZAVAda> app() const { return app_.lock(); }
  const FRepoInfoRef& repoInfo() const { return repoInfo_; }
  const ZIRDatabaseConfigRef& config() const { return config_; }

  // The root reference.
  ZIRDatabaseReferenceRef reference();
  // The reference of a path text. Raises "InvalidPathValidation" for an invalid path.
  ZIRDatabaseReferenceRef referenceWithPath(const std::string& path);
  // Offline: pending writes stay queued and the local cache answers; online again sends them.
  void goOffline();
  void goOnline();
  // Cancels every write not yet acknowledged, locally and on the connection.
  void purgeOutstandingWrites();

  bool persistenceEnabled() const { return config_->persistenceEnabled(); }
  void setPersistenceEnabled(bool enabled);
  uint64_t persistenceCacheSizeBytes() const { return config_->persistenceCacheSizeBytes(); }
  void setPersistenceCacheSizeBytes(uint64_t bytes);
  DispatchQueueRef callbackQueue() const { return config_->callbackQueue(); }
  void setCallbackQueue(DispatchQueueRef queue);

  // The repository, made on first use.
  std::shared_ptr<FRepo> repo();

 private:
  void assertUnfrozen(const char* method) const;

  std::weak_ptr<ZAVAda> app_;
  FRepoInfoRef repoInfo_;
  ZIRDatabaseConfigRef config_;
  mutable std::mutex mutex_;
  std::shared_ptr<FRepo> repo_;
};
