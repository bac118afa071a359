#include "sdk/database/realtime/ZIRDatabaseConfig.h"

#include "platform/foundation/NSException.h"

ZIRDatabaseConfig::ZIRDatabaseConfig(std::string sessionIdentifier)
    : sessionIdentifier_(std::move(sessionIdentifier)), callbackQueue_(DispatchQueue::main()) {}

std::shared_ptr<ZIRDatabaseConfig> ZIRDatabaseConfig::defaultConfig() {
  return std::make_shared<ZIRDatabaseConfig>("default");
}

void ZIRDatabaseConfig::assertUnfrozen() const {
  if (frozen_) {
    NSException::raise(NSInternalInconsistencyException,
                       "Can't modify config objects after they are in use for ZIRDatabase instances.");
  }
}

std::string ZIRDatabaseConfig::sessionIdentifier() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessionIdentifier_;
}

bool ZIRDatabaseConfig::persistenceEnabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return persistenceEnabled_;
}

void ZIRDatabaseConfig::setPersistenceEnabled(bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  assertUnfrozen();
  persistenceEnabled_ = enabled;
}

uint64_t ZIRDatabaseConfig::persistenceCacheSizeBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return persistenceCacheSizeBytes_;
}

void ZIRDatabaseConfig::setPersistenceCacheSizeBytes(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  assertUnfrozen();
  if (bytes < kMinPersistenceCacheSizeBytes) {
    NSException::raise(NSInvalidArgumentException,
                       "The persistence cache size must be at least 1 MB (1048576 bytes); %llu was given.",
                       static_cast<unsigned long long>(bytes));
  }
  if (bytes > kMaxPersistenceCacheSizeBytes) {
    NSException::raise(NSInvalidArgumentException,
                       "The persistence cache size must be at most 100 MB (104857600 bytes); %llu was given.",
                       static_cast<unsigned long long>(bytes));
  }
  persistenceCacheSizeBytes_ = bytes;
}

std::shared_ptr<FStorageEngine> ZIRDatabaseConfig::forceStorageEngine() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return forceStorageEngine_;
}

void ZIRDatabaseConfig::setForceStorageEngine(std::shared_ptr<FStorageEngine> engine) {
  std::lock_guard<std::mutex> lock(mutex_);
  assertUnfrozen();
  forceStorageEngine_ = std::move(engine);
}

DispatchQueueRef ZIRDatabaseConfig::callbackQueue() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return callbackQueue_;
}

void ZIRDatabaseConfig::setCallbackQueue(DispatchQueueRef queue) {
  std::lock_guard<std::mutex> lock(mutex_);
  assertUnfrozen();
  if (!queue) NSException::raise(NSInvalidArgumentException, "The callback queue may not be nil.");
  callbackQueue_ = std::move(queue);
}

std::shared_ptr<FAuthTokenProvider> ZIRDatabaseConfig::authTokenProvider() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return authTokenProvider_;
}

void ZIRDatabaseConfig::setAuthTokenProvider(std::shared_ptr<FAuthTokenProvider> provider) {
  std::lock_guard<std::mutex> lock(mutex_);
  assertUnfrozen();
  authTokenProvider_ = std::move(provider);
}

std::shared_ptr<FTransportFactory> ZIRDatabaseConfig::transportFactory() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transportFactory_;
}

void ZIRDatabaseConfig::setTransportFactory(std::shared_ptr<FTransportFactory> factory) {
  std::lock_guard<std::mutex> lock(mutex_);
  assertUnfrozen();
  transportFactory_ = std::move(factory);
}

void ZIRDatabaseConfig::freeze() {
  std::lock_guard<std::mutex> lock(mutex_);
  frozen_ = true;
}

bool ZIRDatabaseConfig::isFrozen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frozen_;
}
