#pragma once
// Everything remote configuration persists apart from the small user-defaults record: the three
// value tables (fetched "main", active "main_active", default "main_default"), the fetch metadata
// of each namespace, internal metadata, experiment payloads and personalization metadata, in the
// SQLite file <Application Support>/Deruru/RemoteConfig/RemoteConfig.sqlite3.
//
// One process-wide manager owning one connection and the serial queue
// "com.deruru.DeruruConfigService.database" on which every statement runs. The connection opens
// as the queue's first task. "Async" operations queue their work and return; their completions
// run on the main queue (the value load's on a global queue). "Sync" operations run on the queue
// and wait, so they must not be called from it. "Direct" operations run on the calling thread and
// are called only from work already on the queue.
//
// Reading the file is reading foreign bytes: a file SQLite cannot use, or one whose tables do not
// begin with this program's columns, is deleted and created anew (and then counts as a new database),
// but a file another connection keeps locked past kRCNDatabaseBusyTimeoutMilliseconds is kept;
// rows of the wrong shape are skipped, values above kRCNMaxStoredValueBytes are skipped, at most
// kRCNMaxRowsPerLoad rows are read per table, and stored JSON is parsed within
// kRCNStoredJSONLimits (limits in RCNConfigConstants.h).
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Value.h"
#include "sdk/remote_config/RCNSQLiteStatement.h"
#include "sdk/remote_config/ZIRRemoteConfigValue.h"

struct sqlite3;
struct sqlite3_stmt;

// Table of a value row: 0 active, 1 default, any other (2) fetched.
enum RCNDBSource : int { RCNDBSourceActive = 0, RCNDBSourceDefault = 1, RCNDBSourceFetched = 2 };
// Which metadata column an update writes.
enum RCNUpdateOption : int {
  RCNUpdateOptionApplyTime = 0,
  RCNUpdateOptionDefaultTime = 1,
  RCNUpdateOptionFetchStatus = 2,
};

// Namespace -> key -> value: one layer of values.
using RCNNamespaceConfig = std::map<std::string, ZIRRemoteConfigValueRef>;
using RCNConfigLayer = std::map<std::string, RCNNamespaceConfig>;

// Columns of the metadata row, also the keys of the metadata dictionary.
inline constexpr const char* RCNKeyBundleIdentifier = "bundle_identifier";
inline constexpr const char* RCNKeyNamespace = "namespace";
inline constexpr const char* RCNKeyFetchTime = "fetch_time";
inline constexpr const char* RCNKeyDigestPerNamespace = "digest_per_ns";
inline constexpr const char* RCNKeyDeviceContext = "device_context";
inline constexpr const char* RCNKeyAppContext = "app_context";
inline constexpr const char* RCNKeySuccessFetchTime = "success_fetch_time";
inline constexpr const char* RCNKeyFailureFetchTime = "failure_fetch_time";
inline constexpr const char* RCNKeyLastFetchStatus = "last_fetch_status";
inline constexpr const char* RCNKeyLastFetchError = "last_fetch_error";
inline constexpr const char* RCNKeyLastApplyTime = "last_apply_time";
inline constexpr const char* RCNKeyLastSetDefaultsTime = "last_set_defaults_time";
// Keys of the experiment table and of its load's answer.
inline constexpr const char* RCNExperimentTableKeyPayload = "experiment_payload";
inline constexpr const char* RCNExperimentTableKeyMetadata = "experiment_metadata";

class RCNConfigDBManager : public std::enable_shared_from_this<RCNConfigDBManager> {
 public:
  using Completion = std::function<void(bool success)>;
  using LoadMainCompletion =
      std::function<void(bool success, RCNConfigLayer fetched, RCNConfigLayer active, RCNConfigLayer defaults)>;
  using LoadPersonalizationCompletion = std::function<void(bool success, Value fetched, Value active)>;
  using LoadExperimentCompletion = std::function<void(bool success, Value result)>;

  // The one manager of the process, created (and its opening queued) on first use.
  static std::shared_ptr<RCNConfigDBManager> sharedInstance();
  // Waits for the queued work of the shared manager, closes it and forgets it (tests).
  static void resetSharedInstanceForTesting();
  // A manager with its own queue; its opening is queued at once.
  static std::shared_ptr<RCNConfigDBManager> create();
  ~RCNConfigDBManager();

  static std::string remoteConfigPathForDatabase();
  // The database file of the older layout, deleted at opening.
  static std::string oldDatabasePath();

  // Opening: queued at creation.
  void createOrOpenDatabase();

  // Value rows: [bundle identifier, fully qualified namespace, key, value bytes].
  void insertMainTableWithValues(Value values, RCNDBSource source, Completion handler);  // async
  bool insertMainTableWithValues(const Value& values, RCNDBSource source);               // direct
  void deleteRecordFromMainTableWithNamespace(const std::string& namespace_, const std::string& bundleIdentifier,
                                              RCNDBSource source);  // async
  // Deletes the namespace's rows of the table and inserts the given rows in one transaction, so
  // that the table never holds half of a namespace's values (async).
  void replaceMainTableRecordsWithNamespace(const std::string& namespace_, const std::string& bundleIdentifier,
                                            RCNDBSource source, std::vector<Value> rows);
  void deleteAllRecordsFromTableWithSource(RCNDBSource source);  // async
  void loadMainWithBundleIdentifier(const std::string& bundleIdentifier, LoadMainCompletion handler);  // async
  std::optional<RCNConfigLayer> loadMainTableWithBundleIdentifier(const std::string& bundleIdentifier,
                                                                  RCNDBSource source);  // direct

  // Fetch metadata.
  void insertMetadataTableWithValues(Value values, Completion handler);  // async
  bool insertMetadataTableWithValues(const Value& values);               // direct
  // Deletes the namespace's metadata row and, when values are given, inserts them, in one
  // transaction (async).
  void replaceMetadataTableRecordWithBundleIdentifier(const std::string& bundleIdentifier,
                                                      const std::string& namespace_, std::optional<Value> values);
  void updateMetadataWithOption(RCNUpdateOption option, const std::string& namespace_, std::vector<Value> values,
                                Completion handler);  // async
  bool updateMetadataTableWithOption(int option, const std::string& namespace_,
                                     const std::vector<Value>& values);  // direct
  Value loadMetadataWithBundleIdentifier(const std::string& bundleIdentifier, const std::string& namespace_);  // sync
  std::optional<Value> loadMetadataTableWithBundleIdentifier(const std::string& bundleIdentifier,
                                                             const std::string& namespace_);  // direct
  void deleteRecordWithBundleIdentifier(const std::string& bundleIdentifier, const std::string& namespace_,
                                        bool isInternalDB);  // async

  // Internal metadata: [key text, value bytes].
  void insertInternalMetadataTableWithValues(Value values, Completion handler);  // async
  bool insertInternalMetadataWithValues(const Value& values);                   // direct
  std::map<std::string, Bytes> loadInternalMetadataTable();                     // sync

  // Experiments.
  void insertExperimentTableWithKey(const std::string& key, Bytes value, Completion handler);  // async
  bool insertExperimentTableWithKey(const std::string& key, const Bytes& value);               // direct
  bool updateExperimentMetadata(const Bytes& value);                                           // direct
  void deleteExperimentTableForKey(const std::string& key);                                    // async
  // Deletes every payload row and inserts the given payloads in one transaction (async).
  void replaceExperimentPayloads(std::vector<Bytes> payloads);
  // Answers {"experiment_payload": [data...], "experiment_metadata": {...}} (async), on the main
  // queue unless another completion queue is given.
  void loadExperimentWithCompletionHandler(LoadExperimentCompletion handler,
                                           DispatchQueueRef completionQueue = nullptr);
  std::optional<std::vector<Bytes>> loadExperimentTableFromKey(const std::string& key);  // direct

  // Personalization: the dictionary of a source (0 active, 2 fetched) as compact JSON.
  // Runs on the database queue and waits.
  bool insertOrUpdatePersonalizationConfig(const Value& dataValue, int source);
  // Answers on the main queue unless another completion queue is given (async).
  void loadPersonalizationWithCompletionHandler(LoadPersonalizationCompletion handler,
                                                DispatchQueueRef completionQueue = nullptr);
  std::optional<Bytes> loadPersonalizationTableFromKey(int key);                          // direct

  // Closes the connection and deletes the file (direct / sync).
  void removeDatabase(const std::string& path);
  void removeDatabaseOnDatabaseQueueAtPath(const std::string& path);

  bool executeQuery(const std::string& sql);                                               // direct
  bool executeQuery(const std::string& sql, const std::vector<std::string>& params);       // direct
  bool bindStringsToStatement(sqlite3_stmt* statement, const std::vector<std::string>& strings);
  bool bindStringToStatement(sqlite3_stmt* statement, int index, const std::string& value);
  sqlite3_stmt* prepareSQL(const std::string& sql);
  std::string errorMessage() const;
  int errorCode() const;
  void logDatabaseError() const;
  // Whether the connection's last failure was another connection holding the file.
  bool failedForLock() const;
  // Logs the statement and the connection's error, finalises the statement; answers returnValue.
  bool logErrorWithSQL(const char* sql, sqlite3_stmt* statement, bool returnValue) const;

  // Whether the database file was created in this process (new or made again after damage).
  // Waits for the opening.
  bool isNewDatabase();
  // Waits until every task queued so far has run (tests and shutdown).
  void waitForQueuedWork();
  // Runs `work` on the queue after every task queued so far, with the number of statements that
  // have failed on this manager until then; the counts before and after a group of writes tell
  // whether all of them were stored (async).
  void afterQueuedWork(std::function<void(uint64_t failedStatements)> work);

  const DispatchQueueRef& databaseOperationQueue() const { return databaseOperationQueue_; }

 private:
  RCNConfigDBManager();
  bool createFilePathIfNotExist(const std::string& path);
  bool openDatabase(const std::string& path);
  bool createTableSchema();
  bool hasExpectedSchema();
  void migrateV1NamespaceToV2Namespace();
  void addSkipBackupAttributeToItemAtPath(const std::string& path);
  // The statements of this manager's own operations own their sqlite3_stmt: a failure logs as
  // logErrorWithSQL does and finalises through the owner, and every other path finalises when the
  // statement goes.
  RCNSQLiteStatement prepare(const std::string& sql);
  // Binds the strings as UTF-8 text, parameters 1, 2, ...; a failure logs and finalises.
  bool bindStrings(RCNSQLiteStatement& statement, const std::vector<std::string>& strings);
  // Steps once; anything but SQLITE_DONE logs with the SQL and finalises. Answers whether it was done.
  bool stepToDone(const char* sql, RCNSQLiteStatement& statement);
  // Logs the SQL (when given) and the connection's error, finalises the statement; answers false.
  bool fail(const char* sql, RCNSQLiteStatement& statement) const;
  // Runs the work on the queue in one transaction, rolled back when the work answers false.
  bool inTransaction(const std::function<bool()>& work);
  bool deleteMainTableRecordsDirect(const std::string& namespace_, const std::string& bundleIdentifier,
                                    RCNDBSource source);
  bool deleteMetadataRecordDirect(const std::string& bundleIdentifier, const std::string& namespace_);
  void async(std::function<void(RCNConfigDBManager&)> work);
  static void completeOnMain(Completion handler, bool success);

  sqlite3* database_ = nullptr;  // touched only on the queue
  DispatchQueueRef databaseOperationQueue_;
  std::atomic<bool> isNewDatabase_{false};
  mutable std::atomic<uint64_t> failedStatements_{0};  // every failure logged by a statement
};
