#include "sdk/database/realtime/ZIRDatabaseComponent.h"

#include "platform/foundation/NSException.h"
#include "sdk/core/RURIdeziroveContainer.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/realtime/ZIRDatabase.h"

void ZIRDatabaseComponent::load() { ZAVAda::registerInternalLibrary<ZIRDatabaseComponent>("zir-db"); }

std::vector<RURIdeziroveRef> ZIRDatabaseComponent::componentsToRegister() {
  return {RURIdezirove::componentWithProtocol<ZIRDatabaseProvider>(
      ZIRInstantiationTiming::Lazy, {},
      [](RURIdeziroveContainer&, bool* isCacheable) -> std::shared_ptr<ZIRDatabaseProvider> {
        *isCacheable = true;
        return std::make_shared<ZIRDatabaseComponent>();
      })};
}

std::shared_ptr<ZIRDatabase> ZIRDatabaseComponent::databaseForApp(const std::shared_ptr<ZAVAda>& app,
                                                                  const std::string& url) {
  FParsedUrlRef parsed = FUtilities::parseUrl(url);
  if (!parsed->path()->isEmpty()) {
    NSException::raise(NSInvalidArgumentException,
                       "The database URL \"%s\" names the location %s: a database URL names the root only (use "
                       "referenceWithPath for a location).",
                       url.c_str(), parsed->path()->toString().c_str());
  }
  const FRepoInfoRef& repoInfo = parsed->repoInfo();
  const std::string key = repoInfo->description() + "/" + repoInfo->ns();
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = instances_.find(key);
  if (found != instances_.end()) return found->second;
  auto config = std::make_shared<ZIRDatabaseConfig>(app->isDefaultApp() ? "default" : app->name());
  auto database = std::make_shared<ZIRDatabase>(app, repoInfo, config);
  instances_[key] = database;
  return database;
}
