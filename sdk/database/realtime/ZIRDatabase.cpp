#include "sdk/database/realtime/ZIRDatabase.h"

#include "platform/foundation/NSException.h"
#include "sdk/core/RURIdeziroveContainer.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/core/FValidation.h"
#include "sdk/database/realtime/FRepo.h"
#include "sdk/database/realtime/FRepoManager.h"
#include "sdk/database/realtime/ZIRDatabaseComponent.h"

std::shared_ptr<ZIRDatabase> ZIRDatabase::database() {
  if (!ZAVAda::isDefaultAppConfigured()) {
    NSException::raise(kZAVAdaNotConfigured,
                       "Failed to get default Zirezize Database instance. Must call `[ZAVAda configure]` before "
                       "using Zirezize Database.");
  }
  return databaseForApp(ZAVAda::defaultApp());
}

std::shared_ptr<ZIRDatabase> ZIRDatabase::databaseForApp(const std::shared_ptr<ZAVAda>& app) {
  if (!app) NSException::raise(NSInvalidArgumentException, "nil ZAVAda instance passed to databaseForApp.");
  const std::optional<std::string> url = app->options() ? app->options()->databaseURL() : std::nullopt;
  if (!url || url->empty()) {
    NSException::raise(NSInvalidArgumentException,
                       "Failed to get ZIRDatabase instance: Can't determine Zirezize Database URL. Be sure to include "
                       "a database URL (DATABASE_URL) in the options of the app \"%s\".",
                       app->name().c_str());
  }
  return databaseForApp(app, *url);
}

std::shared_ptr<ZIRDatabase> ZIRDatabase::databaseForApp(const std::shared_ptr<ZAVAda>& app, const std::string& url) {
  if (!app) NSException::raise(NSInvalidArgumentException, "nil ZAVAda instance passed to databaseForApp.");
  auto provider = RURIdeziroveType::instanceForProtocol<ZIRDatabaseProvider>(app->container());
  if (!provider) {
    NSException::raise(NSInternalInconsistencyException,
                       "The database component is not registered: ZIRDatabaseComponent::load() must run before the "
                       "app is configured.");
  }
  return provider->databaseForApp(app, url);
}

std::shared_ptr<ZIRDatabase> ZIRDatabase::createDatabaseForTests(FRepoInfoRef repoInfo, ZIRDatabaseConfigRef config) {
  auto database = std::make_shared<ZIRDatabase>(nullptr, std::move(repoInfo), std::move(config));
  database->repo();
  return database;
}

void ZIRDatabase::setLoggingEnabled(bool enabled) { FUtilities::setLoggingEnabled(enabled); }

ZIRDatabase::ZIRDatabase(std::shared_ptr<ZAVAda> app, FRepoInfoRef repoInfo, ZIRDatabaseConfigRef config)
    : app_(app), repoInfo_(std::move(repoInfo)), config_(std::move(config)) {}

std::shared_ptr<FRepo> ZIRDatabase::repo() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!repo_) repo_ = FRepoManager::createRepo(repoInfo_, config_, shared_from_this());
  return repo_;
}

ZIRDatabaseReferenceRef ZIRDatabase::reference() {
  return std::make_shared<const ZIRDatabaseReference>(repo(), FPath::empty());
}

ZIRDatabaseReferenceRef ZIRDatabase::referenceWithPath(const std::string& path) {
  FValidation::validateFromValidRootPathString("referenceWithPath:", path);
  return std::make_shared<const ZIRDatabaseReference>(repo(), FPath::pathWithString(path));
}

void ZIRDatabase::goOffline() {
  ZIRDatabaseQuery::sharedQueue()->async([repo = repo()] { repo->interrupt(); });
}

void ZIRDatabase::goOnline() {
  ZIRDatabaseQuery::sharedQueue()->async([repo = repo()] { repo->resume(); });
}

void ZIRDatabase::purgeOutstandingWrites() {
  ZIRDatabaseQuery::sharedQueue()->async([repo = repo()] { repo->purgeOutstandingWrites(); });
}

void ZIRDatabase::assertUnfrozen(const char* method) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (repo_) {
    NSException::raise(NSInvalidArgumentException,
                       "Calls to %s must be made before any other usage of ZIRDatabase instance.", method);
  }
}

void ZIRDatabase::setPersistenceEnabled(bool enabled) {
  assertUnfrozen("setPersistenceEnabled:");
  config_->setPersistenceEnabled(enabled);
}

void ZIRDatabase::setPersistenceCacheSizeBytes(uint64_t bytes) {
  assertUnfrozen("setPersistenceCacheSizeBytes:");
  config_->setPersistenceCacheSizeBytes(bytes);
}

void ZIRDatabase::setCallbackQueue(DispatchQueueRef queue) {
  assertUnfrozen("setCallbackQueue:");
  config_->setCallbackQueue(std::move(queue));
}
