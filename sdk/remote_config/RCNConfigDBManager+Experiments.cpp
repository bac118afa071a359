// The config database's experiment and personalization tables.
#include <sqlite3.h>

#include "platform/foundation/NSString.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/remote_config/RCNConfigConstants.h"
#include "sdk/remote_config/RCNConfigDBManager.h"
#include "sdk/remote_config/RCNConfigDBSupport.h"

using rcn_db::logOversizedValue;
using rcn_db::logRowLimit;

// ---- Experiments ----

void RCNConfigDBManager::insertExperimentTableWithKey(const std::string& key, Bytes value, Completion handler) {
  async([key, value = std::move(value), handler = std::move(handler)](RCNConfigDBManager& self) {
    completeOnMain(handler, self.insertExperimentTableWithKey(key, value));
  });
}

bool RCNConfigDBManager::insertExperimentTableWithKey(const std::string& key, const Bytes& value) {
  if (key == RCNExperimentTableKeyMetadata) return updateExperimentMetadata(value);
  static const char* sql = "INSERT INTO experiment (key, value) values (?, ?)";
  RCNSQLiteStatement statement = prepare(sql);
  if (!statement) return false;
  if (!statement.bindText(1, key) || !statement.bindBlob(2, value)) return fail(sql, statement);
  return stepToDone(sql, statement);
}

bool RCNConfigDBManager::updateExperimentMetadata(const Bytes& value) {
  static const char* sql =
      "INSERT OR REPLACE INTO experiment (_id, key, value) values ((SELECT _id from experiment WHERE key = ?), ?, ?)";
  RCNSQLiteStatement statement = prepare(sql);
  if (!statement) return false;
  if (!statement.bindText(1, RCNExperimentTableKeyMetadata) || !statement.bindText(2, RCNExperimentTableKeyMetadata) ||
      !statement.bindBlob(3, value)) {
    return fail(sql, statement);
  }
  return stepToDone(sql, statement);
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
  RCNSQLiteStatement statement = prepare(sql);
  if (!statement) return std::nullopt;
  if (!bindStrings(statement, {key})) return std::nullopt;
  std::vector<Bytes> values;
  int rc;
  while ((rc = statement.step()) == SQLITE_ROW) {
    if (values.size() >= kRCNMaxRowsPerLoad) {
      logRowLimit("experiment");
      break;
    }
    auto bytes = statement.columnBlob(0);
    if (!bytes) {
      logOversizedValue("experiment");
      continue;
    }
    values.push_back(std::move(*bytes));
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return fail(sql, statement), std::nullopt;
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
    RCNSQLiteStatement statement = prepare(sql);
    if (!statement) return;
    const bool bound = statement.bindInt(1, source) && statement.bindInt(2, source) &&
                       (json ? statement.bindBlob(3, *json) : statement.bindNull(3));
    if (!bound) {
      fail(sql, statement);
      return;
    }
    success = stepToDone(sql, statement);
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
  RCNSQLiteStatement statement = prepare(sql);
  if (!statement) return std::nullopt;
  if (!statement.bindInt(1, key)) return fail(sql, statement), std::nullopt;
  std::vector<Bytes> rows;
  int rc;
  while ((rc = statement.step()) == SQLITE_ROW && rows.size() < 2) {
    auto bytes = statement.columnBlob(0);
    if (!bytes) logOversizedValue("personalization");
    rows.push_back(bytes.value_or(Bytes()));
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return fail(sql, statement), std::nullopt;
  if (rows.size() != 1) return std::nullopt;
  return rows.front();
}
