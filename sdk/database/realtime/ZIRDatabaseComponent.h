#pragma once
// Plugs the database into the SDK's component registry: registered as "zir-db", it provides
// ZIRDatabaseProvider for an app, made lazily on the first request, and keeps that app's database
// objects, one per database (host and namespace), under its own lock.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/core/ZAVAda.h"
#include "sdk/core/ZIRLibrary.h"

class ZIRDatabase;

// The protocol under which the component is registered and looked up.
class ZIRDatabaseProvider : public ZIRLibrary {
 public:
  // The app's database at the URL, made on first request; see ZIRDatabase::databaseForApp.
  virtual std::shared_ptr<ZIRDatabase> databaseForApp(const std::shared_ptr<ZAVAda>& app, const std::string& url) = 0;
};

class ZIRDatabaseComponent : public ZIRDatabaseProvider {
 public:
  // Registers the component with the SDK core under "zir-db"; called once at start-up.
  static void load();
  static std::vector<RURIdeziroveRef> componentsToRegister();

  std::shared_ptr<ZIRDatabase> databaseForApp(const std::shared_ptr<ZAVAda>& app, const std::string& url) override;

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<ZIRDatabase>> instances_;
};
