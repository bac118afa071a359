// The config database's value tables, fetch metadata and internal metadata.
#include <sqlite3.h>

#include "platform/foundation/NSString.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/remote_config/RCNConfigConstants.h"
#include "sdk/remote_config/RCNConfigDBManager.h"
#include "sdk/remote_config/RCNConfigDBSupport.h"

using rcn_db::logOversizedValue;
using rcn_db::logRowLimit;
using rcn_db::mainTableName;

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
  RCNSQLiteStatement statement = prepare(sql);
  if (!statement) return false;
  for (int i = 0; i < 3; ++i) {
    if (!values[i].is_string() || !statement.bindText(i + 1, values[i].get<std::string>())) {
      return fail(sql.c_str(), statement);
    }
  }
  if (!value::isData(values[3]) || !statement.bindBlob(4, value::dataBytes(values[3]))) {
    return fail(sql.c_str(), statement);
  }
  return stepToDone(sql.c_str(), statement);
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
  RCNSQLiteStatement statement = prepare(sql);
  if (!statement) return std::nullopt;
  if (!bindStrings(statement, {bundleIdentifier})) return std::nullopt;
  const auto valueSource = source == RCNDBSourceDefault ? ZIRRemoteConfigSource::Default : ZIRRemoteConfigSource::Remote;
  RCNConfigLayer layer;
  size_t rows = 0;
  int rc;
  while ((rc = statement.step()) == SQLITE_ROW) {
    if (++rows > kRCNMaxRowsPerLoad) {
      logRowLimit(table);
      break;
    }
    auto namespace_ = statement.columnText(1);
    auto key = statement.columnText(2);
    if (!namespace_ || !key) continue;  // a row of the wrong shape names nothing
    auto bytes = statement.columnBlob(3);
    if (!bytes) {
      logOversizedValue(table);
      continue;
    }
    layer[*namespace_][*key] = ZIRRemoteConfigValue::initWithData(std::move(*bytes), valueSource);
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return fail(sql.c_str(), statement), std::nullopt;
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
  RCNSQLiteStatement statement = prepare(sql);
  if (!statement) return false;
  auto member = [&](const char* key) -> const Value* {
    if (!values.is_object()) return nullptr;
    auto it = values.find(key);
    return it == values.end() || it->is_null() ? nullptr : &*it;
  };
  auto bindText = [&](int index, const char* key) {
    const Value* v = member(key);
    if (!v) return statement.bindNull(index);
    return v->is_string() && statement.bindText(index, v->get<std::string>());
  };
  auto bindDouble = [&](int index, const char* key) {
    const Value* v = member(key);
    if (!v) return statement.bindNull(index);
    const double d = v->is_number() ? v->get<double>() : v->is_string() ? ns::doubleValue(v->get<std::string>()) : 0;
    return statement.bindDouble(index, d);
  };
  auto bindBlob = [&](int index, const char* key) {
    const Value* v = member(key);
    if (!v) return statement.bindNull(index);
    return value::isData(*v) && statement.bindBlob(index, value::dataBytes(*v));
  };
  auto bindInt = [&](int index, const char* key) {
    const Value* v = member(key);
    if (!v) return statement.bindNull(index);
    const int64_t n = v->is_number() ? v->get<int64_t>() : v->is_string() ? ns::integerValue(v->get<std::string>()) : 0;
    return statement.bindInt(index, static_cast<int>(n));
  };
  const bool bound = bindText(1, RCNKeyBundleIdentifier) && bindText(2, RCNKeyNamespace) &&
                     bindDouble(3, RCNKeyFetchTime) && bindBlob(4, RCNKeyDigestPerNamespace) &&
                     bindBlob(5, RCNKeyDeviceContext) && bindBlob(6, RCNKeyAppContext) &&
                     bindBlob(7, RCNKeySuccessFetchTime) && bindBlob(8, RCNKeyFailureFetchTime) &&
                     bindInt(9, RCNKeyLastFetchStatus) && bindInt(10, RCNKeyLastFetchError) &&
                     bindDouble(11, RCNKeyLastApplyTime) && bindDouble(12, RCNKeyLastSetDefaultsTime);
  if (!bound) return fail(sql, statement);
  return stepToDone(sql, statement);
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
  RCNSQLiteStatement statement = prepare(sql);
  if (!statement) return false;
  auto number = [](const Value& v) -> double {
    if (v.is_number()) return v.get<double>();
    if (v.is_string()) return ns::doubleValue(v.get<std::string>());
    return 0;
  };
  bool bound;
  if ((option == RCNUpdateOptionApplyTime || option == RCNUpdateOptionDefaultTime) && values.size() == 1) {
    bound = statement.bindDouble(1, number(values[0])) && statement.bindText(2, namespace_);
  } else if (option == RCNUpdateOptionFetchStatus && values.size() == 2) {
    bound = statement.bindInt(1, static_cast<int>(number(values[0]))) &&
            statement.bindInt(2, static_cast<int>(number(values[1]))) && statement.bindText(3, namespace_);
  } else {
    // A wrong count binds only the namespace, at the first parameter: no row matches.
    bound = statement.bindText(1, namespace_);
  }
  if (!bound) return fail(sql, statement);
  return stepToDone(sql, statement);
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
  RCNSQLiteStatement statement = prepare(sql);
  if (!statement) return std::nullopt;
  if (!bindStrings(statement, {bundleIdentifier, namespace_})) return std::nullopt;
  const int rc = statement.step();
  if (rc == SQLITE_DONE) return Value::object();
  if (rc != SQLITE_ROW) return fail(sql, statement), std::nullopt;
  Value row = Value::object();
  row[RCNKeyBundleIdentifier] = bundleIdentifier;
  row[RCNKeyFetchTime] = statement.columnDouble(1);
  const std::pair<int, const char*> jsonColumns[] = {{2, RCNKeyDigestPerNamespace},
                                                     {3, RCNKeyDeviceContext},
                                                     {4, RCNKeyAppContext},
                                                     {5, RCNKeySuccessFetchTime},
                                                     {6, RCNKeyFailureFetchTime}};
  for (const auto& [column, key] : jsonColumns) {
    if (auto json = statement.columnJSON(column)) row[key] = std::move(*json);
  }
  row[RCNKeyLastFetchStatus] = static_cast<int64_t>(statement.columnInt(7));
  row[RCNKeyLastFetchError] = static_cast<int64_t>(statement.columnInt(8));
  row[RCNKeyLastApplyTime] = statement.columnDouble(9);
  row[RCNKeyLastSetDefaultsTime] = statement.columnDouble(10);
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
  RCNSQLiteStatement statement = prepare(sql);
  if (!statement) return false;
  if (!values[0].is_string() || !statement.bindText(1, values[0].get<std::string>()) || !value::isData(values[1]) ||
      !statement.bindBlob(2, value::dataBytes(values[1]))) {
    return fail(sql, statement);
  }
  return stepToDone(sql, statement);
}

std::map<std::string, Bytes> RCNConfigDBManager::loadInternalMetadataTable() {
  std::map<std::string, Bytes> result;
  databaseOperationQueue_->sync([&] {
    static const char* sql = "SELECT key, value FROM internal_metadata";
    RCNSQLiteStatement statement = prepare(sql);
    if (!statement) return;
    size_t rows = 0;
    int rc;
    while ((rc = statement.step()) == SQLITE_ROW) {
      if (++rows > kRCNMaxRowsPerLoad) {
        logRowLimit("internal_metadata");
        break;
      }
      auto key = statement.columnText(0);
      auto bytes = statement.columnBlob(1);
      if (!key) continue;
      if (!bytes) {
        logOversizedValue("internal_metadata");
        continue;
      }
      result[*key] = std::move(*bytes);  // the last row of a key wins
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail(sql, statement);
  });
  return result;
}
