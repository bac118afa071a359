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

namespace {

constexpr const char* kDatabaseName = "RemoteConfig.sqlite3";
constexpr const char* kDatabaseFolder = "Deruru/RemoteConfig";
// Read-write, create, serialised connection. The file is made readable by its owner only, which
// stands for the platform's complete file protection.
constexpr int kOpenFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;

// The tables and their columns, in schema order; a file whose tables do not begin with them is not ours.
struct TableSchema {
  const char* name;
  const char* create;
  std::vector<std::string> columns;
};

const std::vector<TableSchema>& schema() {
  static const std::vector<TableSchema>* tables = new std::vector<TableSchema>{
      {"main",
       "create TABLE IF NOT EXISTS main (_id INTEGER PRIMARY KEY, bundle_identifier TEXT, namespace TEXT, key TEXT, "
       "value BLOB)",
       {"_id", "bundle_identifier", "namespace", "key", "value"}},
      {"main_active",
       "create TABLE IF NOT EXISTS main_active (_id INTEGER PRIMARY KEY, bundle_identifier TEXT, namespace TEXT, key "
       "TEXT, value BLOB)",
       {"_id", "bundle_identifier", "namespace", "key", "value"}},
      {"main_default",
       "create TABLE IF NOT EXISTS main_default (_id INTEGER PRIMARY KEY, bundle_identifier TEXT, namespace TEXT, key "
       "TEXT, value BLOB)",
       {"_id", "bundle_identifier", "namespace", "key", "value"}},
      {"fetch_metadata_v2",
       "create TABLE IF NOT EXISTS fetch_metadata_v2 (_id INTEGER PRIMARY KEY, bundle_identifier TEXT, namespace TEXT, "
       "fetch_time INTEGER, digest_per_ns BLOB, device_context BLOB, app_context BLOB, success_fetch_time BLOB, "
       "failure_fetch_time BLOB, last_fetch_status INTEGER, last_fetch_error INTEGER, last_apply_time INTEGER, "
       "last_set_defaults_time INTEGER)",
       {"_id", "bundle_identifier", "namespace", "fetch_time", "digest_per_ns", "device_context", "app_context",
        "success_fetch_time", "failure_fetch_time", "last_fetch_status", "last_fetch_error", "last_apply_time",
        "last_set_defaults_time"}},
      {"internal_metadata", "create TABLE IF NOT EXISTS internal_metadata (_id INTEGER PRIMARY KEY, key TEXT, value BLOB)",
       {"_id", "key", "value"}},
      {"experiment", "create TABLE IF NOT EXISTS experiment (_id INTEGER PRIMARY KEY, key TEXT, value BLOB)",
       {"_id", "key", "value"}},
      {"personalization",
       "create TABLE IF NOT EXISTS personalization (_id INTEGER PRIMARY KEY, key INTEGER, value BLOB)",
       {"_id", "key", "value"}},
  };
  return *tables;
}

const char* mainTableName(RCNDBSource source) {
  switch (source) {
    case RCNDBSourceActive:
      return "main_active";
    case RCNDBSourceDefault:
      return "main_default";
    default:
      return "main";
  }
}

std::mutex gSharedMutex;
std::shared_ptr<RCNConfigDBManager> gShared;

// A text column, nullopt for SQL NULL.
std::optional<std::string> columnText(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  if (!text) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(statement, column)));
}

// A blob column (NULL reads as no bytes); nullopt when it is above the stored-value limit.
std::optional<Bytes> columnBlob(sqlite3_stmt* statement, int column) {
  const void* blob = sqlite3_column_blob(statement, column);
  const int size = sqlite3_column_bytes(statement, column);
  if (size < 0 || static_cast<size_t>(size) > kRCNMaxStoredValueBytes) return std::nullopt;
  if (!blob || size == 0) return Bytes();
  const auto* bytes = static_cast<const uint8_t*>(blob);
  return Bytes(bytes, bytes + size);
}

// Stored JSON of a blob column, within the limits; nullopt when it does not parse.
std::optional<Value> columnJSON(sqlite3_stmt* statement, int column) {
  auto bytes = columnBlob(statement, column);
  if (!bytes || bytes->empty()) return std::nullopt;
  return zod_parseJSONWithLimits(*bytes, kRCNStoredJSONLimits);
}

void logRowLimit(const char* table) {
  ZIRLogError(kRCNLoggerService, "I-RCN000015", "Error message: %s. Error code: %d.",
              ns::format("table %s holds more than %zu rows; the rest is ignored", table, kRCNMaxRowsPerLoad).c_str(),
              SQLITE_TOOBIG);
}

void logOversizedValue(const char* table) {
  ZIRLogError(kRCNLoggerService, "I-RCN000015", "Error message: %s. Error code: %d.",
              ns::format("a value of table %s is larger than %zu bytes and is skipped", table, kRCNMaxStoredValueBytes)
                  .c_str(),
              SQLITE_TOOBIG);
}

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
  sqlite3_stmt* check = prepareSQL("PRAGMA quick_check");
  if (!check) return false;
  const int rc = sqlite3_step(check);
  bool intact = rc == SQLITE_ROW && columnText(check, 0) == std::optional<std::string>("ok");
  sqlite3_finalize(check);
  if (!intact && failedForLock()) return false;  // not checked, not damaged
  if (!intact) {
    ZIRLogError(kRCNLoggerService, "I-RCN000015", "Error message: %s. Error code: %d.",
                "the database file failed its integrity check", SQLITE_CORRUPT);
    return false;
  }
  // A file of another program may hold tables of these names with other columns.
  for (const auto& table : schema()) {
    const std::string sql = ns::format("PRAGMA table_info(%s)", table.name);
    sqlite3_stmt* info = prepareSQL(sql);
    if (!info) return false;
    std::vector<std::string> columns;
    int rc;
    while ((rc = sqlite3_step(info)) == SQLITE_ROW) columns.push_back(columnText(info, 1).value_or(""));
    sqlite3_finalize(info);
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
    const std::string select = ns::format("SELECT namespace FROM %s WHERE namespace NOT LIKE '%%:%%'", table);
    sqlite3_stmt* statement = prepareSQL(select);
    if (!statement) return;
    // Repeated namespaces would update no further rows: each is migrated once.
    std::vector<std::string> namespaces;
    std::set<std::string> seen;
    size_t rows = 0;
    while (sqlite3_step(statement) == SQLITE_ROW && rows++ < kRCNMaxRowsPerLoad) {
      auto ns = columnText(statement, 0);
      if (ns && seen.insert(*ns).second) namespaces.push_back(*ns);
    }
    sqlite3_finalize(statement);
    for (const auto& old : namespaces) {
      const std::string update = ns::format("UPDATE %s SET namespace = ? WHERE namespace = ?", table);
      sqlite3_stmt* updateStatement = prepareSQL(update);
      if (!updateStatement) return;
      const std::string migrated = ns::format("%s:%s", old.c_str(), kZAVAdaDefaultAppName);
      if (!bindStringsToStatement(updateStatement, {migrated, old})) return;
      if (sqlite3_step(updateStatement) != SQLITE_DONE) {
        logErrorWithSQL(update.c_str(), updateStatement, false);
        return;
      }
      sqlite3_finalize(updateStatement);
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
  sqlite3_stmt* statement = prepareSQL(sql);
  if (!statement) return false;
  if (!bindStringsToStatement(statement, params)) return false;
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql.c_str(), statement, false);
  sqlite3_finalize(statement);
  return true;
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

// ---- Value tables ----

void RCNConfigDBManager::insertMainTableWithValues(Value values, RCNDBSource source, Completion handler) {
  async([values = std::move(values), source, handler = std::move(handler)](RCNConfigDBManager& self) {
    completeOnMain(handler, self.insertMainTableWithValues(values, source));
  });
}

bool RCNConfigDBManager::insertMainTableWithValues(const Value& values, RCNDBSource source) {
  if (!values.is_array() || values.size() != 4) {
    ZIRLogError(kRCNLoggerService, "I-RCN000013",
                "Failed to insert config record. Wrong number of give parameters, current number is %ld, correct "
                "number is 4.",
                static_cast<long>(values.is_array() ? values.size() : 0));
    return false;
  }
  const std::string sql = ns::format("INSERT INTO %s (bundle_identifier, namespace, key, value) values (?, ?, ?, ?)",
                                     mainTableName(source));
  sqlite3_stmt* statement = prepareSQL(sql);
  if (!statement) return false;
  for (int i = 0; i < 3; ++i) {
    if (!values[i].is_string() || !bindStringToStatement(statement, i + 1, values[i].get<std::string>())) {
      return logErrorWithSQL(sql.c_str(), statement, false);
    }
  }
  const Bytes data = value::dataBytes(values[3]);
  if (!value::isData(values[3]) ||
      sqlite3_bind_blob(statement, 4, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
    return logErrorWithSQL(sql.c_str(), statement, false);
  }
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql.c_str(), statement, false);
  sqlite3_finalize(statement);
  return true;
}

bool RCNConfigDBManager::deleteMainTableRecordsDirect(const std::string& namespace_,
                                                      const std::string& bundleIdentifier, RCNDBSource source) {
  const std::string sql =
      ns::format("DELETE FROM %s WHERE bundle_identifier = ? and namespace = ?", mainTableName(source));
  return executeQuery(sql, {bundleIdentifier, namespace_});
}

void RCNConfigDBManager::deleteRecordFromMainTableWithNamespace(const std::string& namespace_,
                                                                const std::string& bundleIdentifier,
                                                                RCNDBSource source) {
  async([namespace_, bundleIdentifier, source](RCNConfigDBManager& self) {
    self.deleteMainTableRecordsDirect(namespace_, bundleIdentifier, source);
  });
}

void RCNConfigDBManager::replaceMainTableRecordsWithNamespace(const std::string& namespace_,
                                                              const std::string& bundleIdentifier, RCNDBSource source,
                                                              std::vector<Value> rows) {
  async([namespace_, bundleIdentifier, source, rows = std::move(rows)](RCNConfigDBManager& self) {
    const bool replaced = self.inTransaction([&] {
      if (!self.deleteMainTableRecordsDirect(namespace_, bundleIdentifier, source)) return false;
      for (const auto& row : rows) {
        if (!self.insertMainTableWithValues(row, source)) return false;
      }
      return true;
    });
    if (!replaced && self.database_) {
      // The table keeps the namespace's earlier rows; the values in memory are this process's.
      ZIRLogError(kRCNLoggerService, "I-RCN000016", "Failed with SQL: %s.",
                  ns::format("replacing the rows of %s in %s", namespace_.c_str(), mainTableName(source)).c_str());
    }
  });
}

void RCNConfigDBManager::deleteAllRecordsFromTableWithSource(RCNDBSource source) {
  async([source](RCNConfigDBManager& self) {
    self.executeQuery(ns::format("DELETE FROM %s", mainTableName(source)));
  });
}

void RCNConfigDBManager::loadMainWithBundleIdentifier(const std::string& bundleIdentifier, LoadMainCompletion handler) {
  async([bundleIdentifier, handler = std::move(handler)](RCNConfigDBManager& self) {
    auto fetched = self.loadMainTableWithBundleIdentifier(bundleIdentifier, RCNDBSourceFetched);
    auto active = self.loadMainTableWithBundleIdentifier(bundleIdentifier, RCNDBSourceActive);
    auto defaults = self.loadMainTableWithBundleIdentifier(bundleIdentifier, RCNDBSourceDefault);
    if (!handler) return;
    DispatchQueue::global(DispatchQoS::Default)
        ->async([handler, fetched = fetched.value_or(RCNConfigLayer()), active = active.value_or(RCNConfigLayer()),
                 defaults = defaults.value_or(RCNConfigLayer())]() mutable {
          handler(true, std::move(fetched), std::move(active), std::move(defaults));
        });
  });
}

std::optional<RCNConfigLayer> RCNConfigDBManager::loadMainTableWithBundleIdentifier(
    const std::string& bundleIdentifier, RCNDBSource source) {
  const char* table = mainTableName(source);
  const std::string sql =
      ns::format("SELECT bundle_identifier, namespace, key, value FROM %s WHERE bundle_identifier = ?", table);
  sqlite3_stmt* statement = prepareSQL(sql);
  if (!statement) return std::nullopt;
  if (!bindStringsToStatement(statement, {bundleIdentifier})) return std::nullopt;
  const auto valueSource = source == RCNDBSourceDefault ? ZIRRemoteConfigSource::Default : ZIRRemoteConfigSource::Remote;
  RCNConfigLayer layer;
  size_t rows = 0;
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    if (++rows > kRCNMaxRowsPerLoad) {
      logRowLimit(table);
      break;
    }
    auto namespace_ = columnText(statement, 1);
    auto key = columnText(statement, 2);
    if (!namespace_ || !key) continue;  // a row of the wrong shape names nothing
    auto bytes = columnBlob(statement, 3);
    if (!bytes) {
      logOversizedValue(table);
      continue;
    }
    layer[*namespace_][*key] = ZIRRemoteConfigValue::initWithData(std::move(*bytes), valueSource);
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return logErrorWithSQL(sql.c_str(), statement, false), std::nullopt;
  sqlite3_finalize(statement);
  return layer;
}

// ---- Fetch metadata ----

void RCNConfigDBManager::insertMetadataTableWithValues(Value values, Completion handler) {
  async([values = std::move(values), handler = std::move(handler)](RCNConfigDBManager& self) {
    completeOnMain(handler, self.insertMetadataTableWithValues(values));
  });
}

bool RCNConfigDBManager::insertMetadataTableWithValues(const Value& values) {
  static const char* sql =
      "INSERT INTO fetch_metadata_v2 (bundle_identifier, namespace, fetch_time, digest_per_ns, device_context, "
      "app_context, success_fetch_time, failure_fetch_time, last_fetch_status, last_fetch_error, last_apply_time, "
      "last_set_defaults_time) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (!statement) return false;
  auto member = [&](const char* key) -> const Value* {
    if (!values.is_object()) return nullptr;
    auto it = values.find(key);
    return it == values.end() || it->is_null() ? nullptr : &*it;
  };
  auto bindText = [&](int index, const char* key) {
    const Value* v = member(key);
    if (!v) return sqlite3_bind_null(statement, index) == SQLITE_OK;
    return v->is_string() && bindStringToStatement(statement, index, v->get<std::string>());
  };
  auto bindDouble = [&](int index, const char* key) {
    const Value* v = member(key);
    if (!v) return sqlite3_bind_null(statement, index) == SQLITE_OK;
    const double d = v->is_number() ? v->get<double>() : v->is_string() ? ns::doubleValue(v->get<std::string>()) : 0;
    return sqlite3_bind_double(statement, index, d) == SQLITE_OK;
  };
  auto bindBlob = [&](int index, const char* key) {
    const Value* v = member(key);
    if (!v) return sqlite3_bind_null(statement, index) == SQLITE_OK;
    const Bytes data = value::dataBytes(*v);
    return value::isData(*v) &&
           sqlite3_bind_blob(statement, index, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT) ==
               SQLITE_OK;
  };
  auto bindInt = [&](int index, const char* key) {
    const Value* v = member(key);
    if (!v) return sqlite3_bind_null(statement, index) == SQLITE_OK;
    const int64_t n = v->is_number() ? v->get<int64_t>() : v->is_string() ? ns::integerValue(v->get<std::string>()) : 0;
    return sqlite3_bind_int(statement, index, static_cast<int>(n)) == SQLITE_OK;
  };
  const bool bound = bindText(1, RCNKeyBundleIdentifier) && bindText(2, RCNKeyNamespace) &&
                     bindDouble(3, RCNKeyFetchTime) && bindBlob(4, RCNKeyDigestPerNamespace) &&
                     bindBlob(5, RCNKeyDeviceContext) && bindBlob(6, RCNKeyAppContext) &&
                     bindBlob(7, RCNKeySuccessFetchTime) && bindBlob(8, RCNKeyFailureFetchTime) &&
                     bindInt(9, RCNKeyLastFetchStatus) && bindInt(10, RCNKeyLastFetchError) &&
                     bindDouble(11, RCNKeyLastApplyTime) && bindDouble(12, RCNKeyLastSetDefaultsTime);
  if (!bound) return logErrorWithSQL(sql, statement, false);
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql, statement, false);
  sqlite3_finalize(statement);
  return true;
}

bool RCNConfigDBManager::deleteMetadataRecordDirect(const std::string& bundleIdentifier,
                                                    const std::string& namespace_) {
  return executeQuery("DELETE FROM fetch_metadata_v2 WHERE bundle_identifier = ? and namespace = ?",
                      {bundleIdentifier, namespace_});
}

void RCNConfigDBManager::replaceMetadataTableRecordWithBundleIdentifier(const std::string& bundleIdentifier,
                                                                        const std::string& namespace_,
                                                                        std::optional<Value> values) {
  async([bundleIdentifier, namespace_, values = std::move(values)](RCNConfigDBManager& self) {
    self.inTransaction([&] {
      if (!self.deleteMetadataRecordDirect(bundleIdentifier, namespace_)) return false;
      return !values || self.insertMetadataTableWithValues(*values);
    });
  });
}

void RCNConfigDBManager::updateMetadataWithOption(RCNUpdateOption option, const std::string& namespace_,
                                                  std::vector<Value> values, Completion handler) {
  async([option, namespace_, values = std::move(values), handler = std::move(handler)](RCNConfigDBManager& self) {
    completeOnMain(handler, self.updateMetadataTableWithOption(option, namespace_, values));
  });
}

bool RCNConfigDBManager::updateMetadataTableWithOption(int option, const std::string& namespace_,
                                                       const std::vector<Value>& values) {
  const char* sql;
  switch (option) {
    case RCNUpdateOptionApplyTime:
      sql = "UPDATE fetch_metadata_v2 SET last_apply_time = ? WHERE namespace = ?";
      break;
    case RCNUpdateOptionDefaultTime:
      sql = "UPDATE fetch_metadata_v2 SET last_set_defaults_time = ? WHERE namespace = ?";
      break;
    case RCNUpdateOptionFetchStatus:
      sql = "UPDATE fetch_metadata_v2 SET last_fetch_status = ?, last_fetch_error = ? WHERE namespace = ?";
      break;
    default:
      return false;
  }
  sqlite3_stmt* statement = prepareSQL(sql);
  if (!statement) return false;
  auto number = [](const Value& v) -> double {
    if (v.is_number()) return v.get<double>();
    if (v.is_string()) return ns::doubleValue(v.get<std::string>());
    return 0;
  };
  bool bound;
  if ((option == RCNUpdateOptionApplyTime || option == RCNUpdateOptionDefaultTime) && values.size() == 1) {
    bound = sqlite3_bind_double(statement, 1, number(values[0])) == SQLITE_OK &&
            bindStringToStatement(statement, 2, namespace_);
  } else if (option == RCNUpdateOptionFetchStatus && values.size() == 2) {
    bound = sqlite3_bind_int(statement, 1, static_cast<int>(number(values[0]))) == SQLITE_OK &&
            sqlite3_bind_int(statement, 2, static_cast<int>(number(values[1]))) == SQLITE_OK &&
            bindStringToStatement(statement, 3, namespace_);
  } else {
    // A wrong count binds only the namespace, at the first parameter: no row matches.
    bound = bindStringToStatement(statement, 1, namespace_);
  }
  if (!bound) return logErrorWithSQL(sql, statement, false);
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql, statement, false);
  sqlite3_finalize(statement);
  return true;
}

Value RCNConfigDBManager::loadMetadataWithBundleIdentifier(const std::string& bundleIdentifier,
                                                           const std::string& namespace_) {
  Value result = Value::object();
  databaseOperationQueue_->sync([&] {
    if (auto row = loadMetadataTableWithBundleIdentifier(bundleIdentifier, namespace_)) result = std::move(*row);
  });
  return result;
}

std::optional<Value> RCNConfigDBManager::loadMetadataTableWithBundleIdentifier(const std::string& bundleIdentifier,
                                                                               const std::string& namespace_) {
  static const char* sql =
      "SELECT bundle_identifier, fetch_time, digest_per_ns, device_context, app_context, success_fetch_time, "
      "failure_fetch_time , last_fetch_status, last_fetch_error, last_apply_time, last_set_defaults_time FROM "
      "fetch_metadata_v2 WHERE bundle_identifier = ? and namespace = ?";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (!statement) return std::nullopt;
  if (!bindStringsToStatement(statement, {bundleIdentifier, namespace_})) return std::nullopt;
  const int rc = sqlite3_step(statement);
  if (rc == SQLITE_DONE) {
    sqlite3_finalize(statement);
    return Value::object();
  }
  if (rc != SQLITE_ROW) return logErrorWithSQL(sql, statement, false), std::nullopt;
  Value row = Value::object();
  row[RCNKeyBundleIdentifier] = bundleIdentifier;
  row[RCNKeyFetchTime] = sqlite3_column_double(statement, 1);
  const std::pair<int, const char*> jsonColumns[] = {{2, RCNKeyDigestPerNamespace},
                                                     {3, RCNKeyDeviceContext},
                                                     {4, RCNKeyAppContext},
                                                     {5, RCNKeySuccessFetchTime},
                                                     {6, RCNKeyFailureFetchTime}};
  for (const auto& [column, key] : jsonColumns) {
    if (auto json = columnJSON(statement, column)) row[key] = std::move(*json);
  }
  row[RCNKeyLastFetchStatus] = static_cast<int64_t>(sqlite3_column_int(statement, 7));
  row[RCNKeyLastFetchError] = static_cast<int64_t>(sqlite3_column_int(statement, 8));
  row[RCNKeyLastApplyTime] = sqlite3_column_double(statement, 9);
  row[RCNKeyLastSetDefaultsTime] = sqlite3_column_double(statement, 10);
  sqlite3_finalize(statement);
  return row;
}

void RCNConfigDBManager::deleteRecordWithBundleIdentifier(const std::string& bundleIdentifier,
                                                          const std::string& namespace_, bool isInternalDB) {
  async([bundleIdentifier, namespace_, isInternalDB](RCNConfigDBManager& self) {
    if (isInternalDB) {
      // Every key that begins with the bundle identifier, as the settings drop them from memory; LIKE's
      // own wildcards in the identifier are escaped.
      std::string pattern;
      for (char c : bundleIdentifier) {
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += c;
      }
      self.executeQuery("DELETE FROM internal_metadata WHERE key LIKE ? ESCAPE '\\'", {pattern + "%"});
    } else {
      self.deleteMetadataRecordDirect(bundleIdentifier, namespace_);
    }
  });
}

// ---- Internal metadata ----

void RCNConfigDBManager::insertInternalMetadataTableWithValues(Value values, Completion handler) {
  async([values = std::move(values), handler = std::move(handler)](RCNConfigDBManager& self) {
    completeOnMain(handler, self.insertInternalMetadataWithValues(values));
  });
}

bool RCNConfigDBManager::insertInternalMetadataWithValues(const Value& values) {
  if (!values.is_array() || values.size() != 2) return false;
  static const char* sql = "INSERT OR REPLACE INTO internal_metadata (key, value) values (?, ?)";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (!statement) return false;
  const Bytes data = value::dataBytes(values[1]);
  if (!values[0].is_string() || !bindStringToStatement(statement, 1, values[0].get<std::string>()) ||
      !value::isData(values[1]) ||
      sqlite3_bind_blob(statement, 2, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
    return logErrorWithSQL(sql, statement, false);
  }
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql, statement, false);
  sqlite3_finalize(statement);
  return true;
}

std::map<std::string, Bytes> RCNConfigDBManager::loadInternalMetadataTable() {
  std::map<std::string, Bytes> result;
  databaseOperationQueue_->sync([&] {
    static const char* sql = "SELECT key, value FROM internal_metadata";
    sqlite3_stmt* statement = prepareSQL(sql);
    if (!statement) return;
    size_t rows = 0;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
      if (++rows > kRCNMaxRowsPerLoad) {
        logRowLimit("internal_metadata");
        break;
      }
      auto key = columnText(statement, 0);
      auto bytes = columnBlob(statement, 1);
      if (!key) continue;
      if (!bytes) {
        logOversizedValue("internal_metadata");
        continue;
      }
      result[*key] = std::move(*bytes);  // the last row of a key wins
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
      logErrorWithSQL(sql, statement, false);
      return;
    }
    sqlite3_finalize(statement);
  });
  return result;
}

// ---- Experiments ----

void RCNConfigDBManager::insertExperimentTableWithKey(const std::string& key, Bytes value, Completion handler) {
  async([key, value = std::move(value), handler = std::move(handler)](RCNConfigDBManager& self) {
    completeOnMain(handler, self.insertExperimentTableWithKey(key, value));
  });
}

bool RCNConfigDBManager::insertExperimentTableWithKey(const std::string& key, const Bytes& value) {
  if (key == RCNExperimentTableKeyMetadata) return updateExperimentMetadata(value);
  static const char* sql = "INSERT INTO experiment (key, value) values (?, ?)";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (!statement) return false;
  if (!bindStringToStatement(statement, 1, key) ||
      sqlite3_bind_blob(statement, 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
    return logErrorWithSQL(sql, statement, false);
  }
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql, statement, false);
  sqlite3_finalize(statement);
  return true;
}

bool RCNConfigDBManager::updateExperimentMetadata(const Bytes& value) {
  static const char* sql =
      "INSERT OR REPLACE INTO experiment (_id, key, value) values ((SELECT _id from experiment WHERE key = ?), ?, ?)";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (!statement) return false;
  if (!bindStringToStatement(statement, 1, RCNExperimentTableKeyMetadata) ||
      !bindStringToStatement(statement, 2, RCNExperimentTableKeyMetadata) ||
      sqlite3_bind_blob(statement, 3, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
    return logErrorWithSQL(sql, statement, false);
  }
  if (sqlite3_step(statement) != SQLITE_DONE) return logErrorWithSQL(sql, statement, false);
  sqlite3_finalize(statement);
  return true;
}

void RCNConfigDBManager::deleteExperimentTableForKey(const std::string& key) {
  async([key](RCNConfigDBManager& self) { self.executeQuery("DELETE FROM experiment WHERE key = ?", {key}); });
}

void RCNConfigDBManager::replaceExperimentPayloads(std::vector<Bytes> payloads) {
  async([payloads = std::move(payloads)](RCNConfigDBManager& self) {
    self.inTransaction([&] {
      if (!self.executeQuery("DELETE FROM experiment WHERE key = ?", {RCNExperimentTableKeyPayload})) return false;
      for (const auto& payload : payloads) {
        if (!self.insertExperimentTableWithKey(RCNExperimentTableKeyPayload, payload)) return false;
      }
      return true;
    });
  });
}

void RCNConfigDBManager::loadExperimentWithCompletionHandler(LoadExperimentCompletion handler,
                                                             DispatchQueueRef completionQueue) {
  if (!completionQueue) completionQueue = DispatchQueue::main();
  async([handler = std::move(handler), completionQueue](RCNConfigDBManager& self) {
    Value payloads = Value::array();
    if (auto rows = self.loadExperimentTableFromKey(RCNExperimentTableKeyPayload)) {
      for (auto& bytes : *rows) payloads.push_back(value::data(bytes));
    }
    Value metadata = Value::object();
    if (auto rows = self.loadExperimentTableFromKey(RCNExperimentTableKeyMetadata); rows && !rows->empty()) {
      auto parsed = zod_parseJSONWithLimits(rows->front(), kRCNStoredJSONLimits);
      if (parsed && parsed->is_object()) metadata = std::move(*parsed);
    }
    if (!handler) return;
    Value result = Value::object();
    result[RCNExperimentTableKeyPayload] = std::move(payloads);
    result[RCNExperimentTableKeyMetadata] = std::move(metadata);
    completionQueue->async([handler, result = std::move(result)] { handler(true, result); });
  });
}

std::optional<std::vector<Bytes>> RCNConfigDBManager::loadExperimentTableFromKey(const std::string& key) {
  static const char* sql = "SELECT value FROM experiment WHERE key = ?";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (!statement) return std::nullopt;
  if (!bindStringsToStatement(statement, {key})) return std::nullopt;
  std::vector<Bytes> values;
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    if (values.size() >= kRCNMaxRowsPerLoad) {
      logRowLimit("experiment");
      break;
    }
    auto bytes = columnBlob(statement, 0);
    if (!bytes) {
      logOversizedValue("experiment");
      continue;
    }
    values.push_back(std::move(*bytes));
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return logErrorWithSQL(sql, statement, false), std::nullopt;
  sqlite3_finalize(statement);
  return values;
}

// ---- Personalization ----

bool RCNConfigDBManager::insertOrUpdatePersonalizationConfig(const Value& dataValue, int source) {
  std::optional<Bytes> json;
  try {
    // Compact: indented, a dictionary nested deep within a small answer would grow past what a
    // load reads back (kRCNMaxStoredValueBytes) and be lost at the next launch.
    const std::string text = value::toJSON(dataValue, /*pretty=*/false);
    json = Bytes(text.begin(), text.end());
  } catch (const std::exception&) {
    ZIRLogError(kRCNLoggerService, "I-RCN000075", "Invalid Personalization payload to be serialized.");
  }
  bool success = false;
  auto write = [&] {
    static const char* sql =
        "INSERT OR REPLACE INTO personalization (_id, key, value) values ((SELECT _id from personalization WHERE key = "
        "?), ?, ?)";
    sqlite3_stmt* statement = prepareSQL(sql);
    if (!statement) return;
    const bool bound =
        sqlite3_bind_int(statement, 1, source) == SQLITE_OK && sqlite3_bind_int(statement, 2, source) == SQLITE_OK &&
        (json ? sqlite3_bind_blob(statement, 3, json->data(), static_cast<int>(json->size()), SQLITE_TRANSIENT)
              : sqlite3_bind_null(statement, 3)) == SQLITE_OK;
    if (!bound || sqlite3_step(statement) != SQLITE_DONE) {
      logErrorWithSQL(sql, statement, false);
      return;
    }
    sqlite3_finalize(statement);
    success = true;
  };
  // The connection belongs to the queue: the write runs there and the caller waits for it.
  if (databaseOperationQueue_->isCurrent()) {
    write();
  } else {
    databaseOperationQueue_->sync(write);
  }
  return success;
}

void RCNConfigDBManager::loadPersonalizationWithCompletionHandler(LoadPersonalizationCompletion handler,
                                                                  DispatchQueueRef completionQueue) {
  if (!completionQueue) completionQueue = DispatchQueue::main();
  async([handler = std::move(handler), completionQueue](RCNConfigDBManager& self) {
    auto dictionaryOf = [&](int key) {
      if (auto bytes = self.loadPersonalizationTableFromKey(key)) {
        auto parsed = zod_parseJSONWithLimits(*bytes, kRCNStoredJSONLimits);
        if (parsed && parsed->is_object()) return *parsed;
        if (!bytes->empty()) {
          ZIRLogError(kRCNLoggerService, "I-RCN000015", "Error message: %s. Error code: %d.",
                      ns::format("the personalization row of key %d is not a JSON dictionary", key).c_str(),
                      SQLITE_MISMATCH);
        }
      }
      return Value(Value::object());
    };
    Value active = dictionaryOf(RCNDBSourceActive);
    Value fetched = dictionaryOf(RCNDBSourceFetched);
    if (!handler) return;
    completionQueue->async([handler, fetched = std::move(fetched), active = std::move(active)] {
      handler(true, fetched, active);
    });
  });
}

std::optional<Bytes> RCNConfigDBManager::loadPersonalizationTableFromKey(int key) {
  static const char* sql = "SELECT value FROM personalization WHERE key = ?";
  sqlite3_stmt* statement = prepareSQL(sql);
  if (!statement) return std::nullopt;
  if (sqlite3_bind_int(statement, 1, key) != SQLITE_OK) return logErrorWithSQL(sql, statement, false), std::nullopt;
  std::vector<Bytes> rows;
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW && rows.size() < 2) {
    auto bytes = columnBlob(statement, 0);
    if (!bytes) logOversizedValue("personalization");
    rows.push_back(bytes.value_or(Bytes()));
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return logErrorWithSQL(sql, statement, false), std::nullopt;
  sqlite3_finalize(statement);
  if (rows.size() != 1) return std::nullopt;
  return rows.front();
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
