// The config database manager: its life cycle, opening and checking the file, the statements
// every table uses, and removal. The tables' reads and writes are in RCNConfigDBManager+Values.cpp
// and RCNConfigDBManager+Experiments.cpp.
#include "sdk/remote_config/RCNConfigDBManager.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSString.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/remote_config/RCNConfigConstants.h"
#include "sdk/remote_config/RCNConfigDBSupport.h"

using rcn_db::schema;

namespace {

constexpr const char* kDatabaseName = "RemoteConfig.sqlite3";
constexpr const char* kDatabaseFolder = "Deruru/RemoteConfig";
// Read-write, create, serialised connection. The file is made readable by its owner only, which
// stands for the platform's complete file protection.
constexpr int kOpenFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;

std::mutex gSharedMutex;
std::shared_ptr<RCNConfigDBManager> gShared;

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The connection's files besides the database itself.
void removeCompanionFiles(const std::string& path) {
  for (const char* suffix : {"-journal", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
}

}  // namespace

// ---- Life cycle ----

std::shared_ptr<RCNConfigDBManager> RCNConfigDBManager::sharedInstance() {
  std::lock_guard<std::mutex> lock(gSharedMutex);
  if (!gShared) gShared = create();
  return gShared;
}

void RCNConfigDBManager::resetSharedInstanceForTesting() {
  std::shared_ptr<RCNConfigDBManager> old;
  {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    old.swap(gShared);
  }
  if (old) old->waitForQueuedWork();
}

std::shared_ptr<RCNConfigDBManager> RCNConfigDBManager::create() {
  std::shared_ptr<RCNConfigDBManager> manager(new RCNConfigDBManager());
  manager->createOrOpenDatabase();
  return manager;
}

RCNConfigDBManager::RCNConfigDBManager()
    : databaseOperationQueue_(DispatchQueue::serial("com.deruru.DeruruConfigService.database")) {}

RCNConfigDBManager::~RCNConfigDBManager() {
  // Queued tasks hold the manager, so none is left when this runs.
  if (database_) sqlite3_close_v2(database_);
}

std::string RCNConfigDBManager::remoteConfigPathForDatabase() {
  return NSApplicationSupportDirectory() + "/" + kDatabaseFolder + "/" + kDatabaseName;
}

std::string RCNConfigDBManager::oldDatabasePath() { return NSDocumentDirectory() + "/" + kDatabaseName; }

void RCNConfigDBManager::async(std::function<void(RCNConfigDBManager&)> work) {
  auto self = shared_from_this();
  databaseOperationQueue_->async([self, work = std::move(work)] { work(*self); });
}

void RCNConfigDBManager::completeOnMain(Completion handler, bool success) {
  if (!handler) return;
  DispatchQueue::main()->async([handler = std::move(handler), success] { handler(success); });
}

void RCNConfigDBManager::waitForQueuedWork() {
  if (databaseOperationQueue_->isCurrent()) return;
  databaseOperationQueue_->sync([] {});
}

void RCNConfigDBManager::afterQueuedWork(std::function<void(uint64_t failedStatements)> work) {
  async([work = std::move(work)](RCNConfigDBManager& self) { work(self.failedStatements_.load()); });
}

bool RCNConfigDBManager::isNewDatabase() {
  // The flag is set by the opening, which is the queue's first task.
  waitForQueuedWork();
  return isNewDatabase_.load();
}

// ---- Opening ----

void RCNConfigDBManager::createOrOpenDatabase() {
  async([](RCNConfigDBManager& self) {
    const std::string oldPath = oldDatabasePath();
    if (fileExists(oldPath)) {
      ZIRLogInfo(kRCNLoggerService, "I-RCN000009", "Old database V0 exists, removed it and replace with the new one.");
      self.removeDatabase(oldPath);
    }
    const std::string path = remoteConfigPathForDatabase();
    ZIRLogInfo(kRCNLoggerService, "I-RCN000062", "Loading database at path %s", path.c_str());
    if (!self.createFilePathIfNotExist(path)) return;
    if (!self.openDatabase(path)) return;
    if (self.createTableSchema()) {
      self.migrateV1NamespaceToV2Namespace();
      self.addSkipBackupAttributeToItemAtPath(path);
      return;
    }
    if (self.failedForLock()) {
      // Another connection held the file all through the wait: that says nothing of its contents,
      // and deleting it would lose this program's rows and the other writer's. The connection
      // stays open; its statements succeed once the other writer lets go.
      self.logDatabaseError();
      return;
    }
    // The file is damaged or not ours: start again with an empty one.
    self.removeDatabase(path);
    ZIRLogError(kRCNLoggerService, "I-RCN000010", "Failed to create table.");
    if (!self.createFilePathIfNotExist(path)) return;
    if (!self.openDatabase(path)) return;
    if (!self.createTableSchema()) {
      self.removeDatabase(path);
      ZIRLogError(kRCNLoggerService, "I-RCN000010", "Failed to create table.");
      return;
    }
    self.addSkipBackupAttributeToItemAtPath(path);
  });
}

bool RCNConfigDBManager::createFilePathIfNotExist(const std::string& path) {
  if (path.empty()) {
    ZIRLogError(kRCNLoggerService, "I-RCN000018", "Failed to create subdirectory for an empty file path.");
    return false;
  }
  if (!fileExists(path)) {
    isNewDatabase_ = true;
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (!ns::createDirectory(folder)) {
      ZIRLogError(kRCNLoggerService, "I-RCN000019", "Failed to create subdirectory for database file: %s.",
                  std::strerror(errno));
      return false;
    }
  }
  return true;
}

bool RCNConfigDBManager::openDatabase(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &database_, kOpenFlags, nullptr) != SQLITE_OK) {
    logDatabaseError();
    if (database_) sqlite3_close_v2(database_);
    database_ = nullptr;
    return false;
  }
  sqlite3_extended_result_codes(database_, 1);
  sqlite3_busy_timeout(database_, kRCNDatabaseBusyTimeoutMilliseconds);
  ::chmod(path.c_str(), 0600);
  return true;
}

bool RCNConfigDBManager::createTableSchema() {
  for (const auto& table : schema()) {
    if (!executeQuery(table.create)) return false;
  }
  return hasExpectedSchema();
}

bool RCNConfigDBManager::hasExpectedSchema() {
  // A damaged file may still take the statements above; its pages are checked here.
  RCNSQLiteStatement check = prepare("PRAGMA quick_check");
  if (!check) return false;
  const bool intact = check.step() == SQLITE_ROW && check.columnText(0) == std::optional<std::string>("ok");
  check.finalize();
  if (!intact && failedForLock()) return false;  // not checked, not damaged
  if (!intact) {
    ZIRLogError(kRCNLoggerService, "I-RCN000015", "Error message: %s. Error code: %d.",
                "the database file failed its integrity check", SQLITE_CORRUPT);
    return false;
  }
  // A file of another program may hold tables of these names with other columns.
  for (const auto& table : schema()) {
    RCNSQLiteStatement info = prepare(ns::format("PRAGMA table_info(%s)", table.name));
    if (!info) return false;
    std::vector<std::string> columns;
    int rc;
    while ((rc = info.step()) == SQLITE_ROW) columns.push_back(info.columnText(1).value_or(""));
    if (rc != SQLITE_DONE) return false;
    // Columns a later version appended are left alone: every statement here names its columns.
    if (columns.size() < table.columns.size() ||
        !std::equal(table.columns.begin(), table.columns.end(), columns.begin())) {
      ZIRLogError(kRCNLoggerService, "I-RCN000015", "Error message: %s. Error code: %d.",
                  ns::format("table %s does not have the expected columns", table.name).c_str(), SQLITE_SCHEMA);
      return false;
    }
  }
  return true;
}

void RCNConfigDBManager::migrateV1NamespaceToV2Namespace() {
  for (const char* table : {"main", "main_active", "main_default"}) {
    RCNSQLiteStatement select = prepare(ns::format("SELECT namespace FROM %s WHERE namespace NOT LIKE '%%:%%'", table));
    if (!select) return;
    // Repeated namespaces would update no further rows: each is migrated once.
    std::vector<std::string> namespaces;
    std::set<std::string> seen;
    size_t rows = 0;
    while (select.step() == SQLITE_ROW && rows++ < kRCNMaxRowsPerLoad) {
      auto ns = select.columnText(0);
      if (ns && seen.insert(*ns).second) namespaces.push_back(*ns);
    }
    select.finalize();
    for (const auto& old : namespaces) {
      const std::string update = ns::format("UPDATE %s SET namespace = ? WHERE namespace = ?", table);
      RCNSQLiteStatement statement = prepare(update);
      if (!statement) return;
      const std::string migrated = ns::format("%s:%s", old.c_str(), kZAVAdaDefaultAppName);
      if (!bindStrings(statement, {migrated, old})) return;
      if (!stepToDone(update.c_str(), statement)) return;
    }
  }
}

void RCNConfigDBManager::addSkipBackupAttributeToItemAtPath(const std::string& path) {
  // Backup tools skip a folder that holds a cache-directory tag; the database can be fetched again.
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const std::string tag =
      "Signature: 8a477f597d28d172789f06886806bc55\n"
      "# This folder holds remote configuration that is fetched again when missing; it is not backed up.\n";
  if (!ns::writeFileAtomically(folder + "/CACHEDIR.TAG", tag, 0600)) {
    ZIRLogError(kRCNLoggerService, "I-RCN000017", "Error excluding %s from backup %s.",
                std::filesystem::path(path).filename().c_str(), std::strerror(errno));
  }
}

// ---- Statements ----

sqlite3_stmt* RCNConfigDBManager::prepareSQL(const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (!database_ || sqlite3_prepare_v2(database_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    logErrorWithSQL(sql.c_str(), statement, false);
    return nullptr;
  }
  return statement;
}

bool RCNConfigDBManager::executeQuery(const std::string& sql) {
  char* error = nullptr;
  if (!database_) {
    ++failedStatements_;
    ZIRLogError(kRCNLoggerService, "I-RCN000012", "Failed to execute query with error %s.", "no open database");
    return false;
  }
  if (sqlite3_exec(database_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    ++failedStatements_;
    ZIRLogError(kRCNLoggerService, "I-RCN000012", "Failed to execute query with error %s.", error ? error : "");
    sqlite3_free(error);
    return false;
  }
  return true;
}

bool RCNConfigDBManager::executeQuery(const std::string& sql, const std::vector<std::string>& params) {
  RCNSQLiteStatement statement = prepare(sql);
  if (!statement) return false;
  if (!bindStrings(statement, params)) return false;
  return stepToDone(sql.c_str(), statement);
}

bool RCNConfigDBManager::bindStringsToStatement(sqlite3_stmt* statement, const std::vector<std::string>& strings) {
  int index = 1;
  for (const auto& text : strings) {
    if (!bindStringToStatement(statement, index++, text)) return logErrorWithSQL(nullptr, statement, false);
  }
  return true;
}

bool RCNConfigDBManager::bindStringToStatement(sqlite3_stmt* statement, int index, const std::string& value) {
  return sqlite3_bind_text(statement, index, value.c_str(), static_cast<int>(value.size()), SQLITE_TRANSIENT) ==
         SQLITE_OK;
}

RCNSQLiteStatement RCNConfigDBManager::prepare(const std::string& sql) { return RCNSQLiteStatement(prepareSQL(sql)); }

bool RCNConfigDBManager::bindStrings(RCNSQLiteStatement& statement, const std::vector<std::string>& strings) {
  int index = 1;
  for (const auto& text : strings) {
    if (!statement.bindText(index++, text)) return fail(nullptr, statement);
  }
  return true;
}

bool RCNConfigDBManager::stepToDone(const char* sql, RCNSQLiteStatement& statement) {
  if (statement.step() != SQLITE_DONE) return fail(sql, statement);
  statement.finalize();
  return true;
}

bool RCNConfigDBManager::fail(const char* sql, RCNSQLiteStatement& statement) const {
  logErrorWithSQL(sql, nullptr, false);
  statement.finalize();
  return false;
}

bool RCNConfigDBManager::failedForLock() const {
  const int primary = errorCode() & 0xff;
  return database_ && (primary == SQLITE_BUSY || primary == SQLITE_LOCKED);
}

std::string RCNConfigDBManager::errorMessage() const {
  if (!database_) return "no open database";
  return ns::format("%s", sqlite3_errmsg(database_));
}

int RCNConfigDBManager::errorCode() const { return database_ ? sqlite3_errcode(database_) : SQLITE_CANTOPEN; }

void RCNConfigDBManager::logDatabaseError() const {
  ZIRLogError(kRCNLoggerService, "I-RCN000015", "Error message: %s. Error code: %d.", errorMessage().c_str(),
              errorCode());
}

bool RCNConfigDBManager::logErrorWithSQL(const char* sql, sqlite3_stmt* statement, bool returnValue) const {
  ++failedStatements_;
  if (sql) ZIRLogError(kRCNLoggerService, "I-RCN000016", "Failed with SQL: %s.", sql);
  logDatabaseError();
  if (statement) sqlite3_finalize(statement);
  return returnValue;
}

bool RCNConfigDBManager::inTransaction(const std::function<bool()>& work) {
  if (!executeQuery("BEGIN IMMEDIATE")) return false;
  if (work()) return executeQuery("COMMIT");
  executeQuery("ROLLBACK");
  return false;
}

// ---- Removal ----

void RCNConfigDBManager::removeDatabase(const std::string& path) {
  if (database_) {
    if (sqlite3_close_v2(database_) != SQLITE_OK) logDatabaseError();
    database_ = nullptr;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    ZIRLogError(kRCNLoggerService, "I-RCN000011", "Failed to remove database at path %s for error %s.", path.c_str(),
                std::strerror(errno));
  }
  removeCompanionFiles(path);
}

void RCNConfigDBManager::removeDatabaseOnDatabaseQueueAtPath(const std::string& path) {
  auto self = shared_from_this();
  databaseOperationQueue_->sync([self, path] { self->removeDatabase(path); });
}
