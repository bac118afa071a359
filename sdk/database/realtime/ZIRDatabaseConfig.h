#pragma once
// The settings of one database instance: its configuration name (the session identifier:
// "default" for the default app, else the app's name), local persistence and its cache size, an
// injected storage engine, the queue of user callbacks, the auth token provider and the transport
// to the server. A repository freezes its config when it starts using it; after that every setter
// raises NSInternalInconsistencyException, since the running repository would not see the change.
//
// Shared between threads as std::shared_ptr<ZIRDatabaseConfig>; every accessor takes the config's
// lock.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/Dispatch.h"

class FStorageEngine;
class FAuthTokenProvider;
class FTransportFactory;

class ZIRDatabaseConfig {
 public:
  static constexpr uint64_t kDefaultPersistenceCacheSizeBytes = 10 * 1024 * 1024;
  // A cache smaller than 1 MiB could not hold a useful copy of anything; one above 100 MiB would
  // make every start-up scan of it slow. Sizes outside are refused.
  static constexpr uint64_t kMinPersistenceCacheSizeBytes = 1024 * 1024;
  static constexpr uint64_t kMaxPersistenceCacheSizeBytes = 100 * 1024 * 1024;

  explicit ZIRDatabaseConfig(std::string sessionIdentifier);
  // The config of the default app ("default").
  static std::shared_ptr<ZIRDatabaseConfig> defaultConfig();

  std::string sessionIdentifier() const;

  bool persistenceEnabled() const;
  void setPersistenceEnabled(bool enabled);

  uint64_t persistenceCacheSizeBytes() const;
  // Raises NSInvalidArgumentException outside 1 MiB ... 100 MiB.
  void setPersistenceCacheSizeBytes(uint64_t bytes);

  // A storage engine to use instead of the leveldb one (tests, tools); none by default.
  std::shared_ptr<FStorageEngine> forceStorageEngine() const;
  void setForceStorageEngine(std::shared_ptr<FStorageEngine> engine);

  // The queue user callbacks run on; the main queue by default.
  DispatchQueueRef callbackQueue() const;
  void setCallbackQueue(DispatchQueueRef queue);

  std::shared_ptr<FAuthTokenProvider> authTokenProvider() const;
  void setAuthTokenProvider(std::shared_ptr<FAuthTokenProvider> provider);

  // How the connection reaches the server; none by default, and then the client stays offline.
  std::shared_ptr<FTransportFactory> transportFactory() const;
  void setTransportFactory(std::shared_ptr<FTransportFactory> factory);

  // No setting may change after this.
  void freeze();
  bool isFrozen() const;

 private:
  void assertUnfrozen() const;

  mutable std::mutex mutex_;
  std::string sessionIdentifier_;
  bool persistenceEnabled_ = false;
  uint64_t persistenceCacheSizeBytes_ = kDefaultPersistenceCacheSizeBytes;
  std::shared_ptr<FStorageEngine> forceStorageEngine_;
  DispatchQueueRef callbackQueue_;
  std::shared_ptr<FAuthTokenProvider> authTokenProvider_;
  std::shared_ptr<FTransportFactory> transportFactory_;
  bool frozen_ = false;
};

using ZIRDatabaseConfigRef = std::shared_ptr<ZIRDatabaseConfig>;
