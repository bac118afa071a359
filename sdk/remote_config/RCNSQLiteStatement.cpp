#include "sdk/remote_config/RCNSQLiteStatement.h"

#include <sqlite3.h>

#include "sdk/remote_config/RCNConfigConstants.h"
#include "sdk/utilities/ZODBoundedJSON.h"

RCNSQLiteStatement& RCNSQLiteStatement::operator=(RCNSQLiteStatement&& other) noexcept {
  if (this != &other) {
    finalize();
    statement_ = other.statement_;
    other.statement_ = nullptr;
  }
  return *this;
}

void RCNSQLiteStatement::finalize() {
  if (statement_) sqlite3_finalize(statement_);
  statement_ = nullptr;
}

int RCNSQLiteStatement::step() { return statement_ ? sqlite3_step(statement_) : SQLITE_MISUSE; }

bool RCNSQLiteStatement::bindText(int index, const std::string& text) {
  return sqlite3_bind_text(statement_, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT) ==
         SQLITE_OK;
}

bool RCNSQLiteStatement::bindBlob(int index, const Bytes& bytes) {
  return sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT) ==
         SQLITE_OK;
}

bool RCNSQLiteStatement::bindInt(int index, int value) { return sqlite3_bind_int(statement_, index, value) == SQLITE_OK; }

bool RCNSQLiteStatement::bindDouble(int index, double value) {
  return sqlite3_bind_double(statement_, index, value) == SQLITE_OK;
}

bool RCNSQLiteStatement::bindNull(int index) { return sqlite3_bind_null(statement_, index) == SQLITE_OK; }

std::optional<std::string> RCNSQLiteStatement::columnText(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_, column);
  if (!text) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
}

std::optional<Bytes> RCNSQLiteStatement::columnBlob(int column) const {
  const void* blob = sqlite3_column_blob(statement_, column);
  const int size = sqlite3_column_bytes(statement_, column);
  if (size < 0 || static_cast<size_t>(size) > kRCNMaxStoredValueBytes) return std::nullopt;
  if (!blob || size == 0) return Bytes();
  const auto* bytes = static_cast<const uint8_t*>(blob);
  return Bytes(bytes, bytes + size);
}

std::optional<Value> RCNSQLiteStatement::columnJSON(int column) const {
  auto bytes = columnBlob(column);
  if (!bytes || bytes->empty()) return std::nullopt;
  return zod_parseJSONWithLimits(*bytes, kRCNStoredJSONLimits);
}

double RCNSQLiteStatement::columnDouble(int column) const { return sqlite3_column_double(statement_, column); }

int RCNSQLiteStatement::columnInt(int column) const { return sqlite3_column_int(statement_, column); }
