#pragma once
// One prepared SQLite statement of the config database, finalised exactly once: by finalize() or
// when the object goes, whichever comes first. Binds copy their values (SQLITE_TRANSIENT); column
// reads are bounded by the stored-value limit. Used only on the database queue, as its
// connection is.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

struct sqlite3_stmt;

class RCNSQLiteStatement {
 public:
  RCNSQLiteStatement() = default;
  // Takes ownership of a prepared statement (none for a failed prepare).
  explicit RCNSQLiteStatement(sqlite3_stmt* statement) : statement_(statement) {}
  ~RCNSQLiteStatement() { finalize(); }
  RCNSQLiteStatement(RCNSQLiteStatement&& other) noexcept : statement_(other.statement_) { other.statement_ = nullptr; }
  RCNSQLiteStatement& operator=(RCNSQLiteStatement&& other) noexcept;
  RCNSQLiteStatement(const RCNSQLiteStatement&) = delete;
  RCNSQLiteStatement& operator=(const RCNSQLiteStatement&) = delete;

  explicit operator bool() const { return statement_ != nullptr; }
  void finalize();

  // One step: SQLITE_ROW, SQLITE_DONE or the error code.
  int step();

  // Parameters count from 1. Each answers whether SQLite took the value.
  bool bindText(int index, const std::string& text);
  bool bindBlob(int index, const Bytes& bytes);
  bool bindInt(int index, int value);
  bool bindDouble(int index, double value);
  bool bindNull(int index);

  // Columns count from 0. A text column is nullopt for SQL NULL; a blob column reads NULL as no
  // bytes and is nullopt above kRCNMaxStoredValueBytes.
  std::optional<std::string> columnText(int column) const;
  std::optional<Bytes> columnBlob(int column) const;
  // Stored JSON of a blob column, parsed within kRCNStoredJSONLimits; nullopt when it does not parse.
  std::optional<Value> columnJSON(int column) const;
  double columnDouble(int column) const;
  int columnInt(int column) const;

 private:
  sqlite3_stmt* statement_ = nullptr;
};
