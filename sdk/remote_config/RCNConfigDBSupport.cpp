#include "sdk/remote_config/RCNConfigDBSupport.h"

#include <sqlite3.h>

#include "platform/foundation/NSString.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/remote_config/RCNConfigConstants.h"

namespace rcn_db {

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

}  // namespace rcn_db
