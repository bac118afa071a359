#pragma once
// What the config database manager's files share: the tables' schema, the value tables' names and
// the log lines of the read limits.
#include <string>
#include <vector>

#include "sdk/remote_config/RCNConfigDBManager.h"

namespace rcn_db {

// A table and its columns, in schema order; a file whose tables do not begin with them is not ours.
struct TableSchema {
  const char* name;
  const char* create;
  std::vector<std::string> columns;
};
const std::vector<TableSchema>& schema();

// The value table of a source: "main_active", "main_default", else "main".
const char* mainTableName(RCNDBSource source);

// A table held more rows than a load reads.
void logRowLimit(const char* table);
// A stored value was above the stored-value limit and is skipped.
void logOversizedValue(const char* table);

}  // namespace rcn_db
