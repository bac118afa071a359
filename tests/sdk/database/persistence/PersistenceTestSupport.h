#pragma once
// Builders shared by the persistence tests: nodes and queries from text, a manual FClock, raw
// access to a leveldb folder (to damage it as a crash or a bad disk would), and the error lines
// the SDK logger writes.
#include <leveldb/db.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/core/ZIRLogger.h"
#include "sdk/database/core/FClock.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FQueryParams.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/support/database/DatabaseTestValues.h"

namespace persistencetest {

using testsupport::node;
using testsupport::path;
inline FQuerySpecRef defaultQuery(const char* at) { return FQuerySpec::defaultQueryAtPath(path(at)); }
// A query of the given wire parameters at the path.
inline FQuerySpecRef query(const char* at, const char* wireParams) {
  return std::make_shared<const FQuerySpec>(path(at), FQueryParams::fromQueryObject(Value::parse(wireParams)));
}
inline Value exported(const FNodeRef& node) { return node->valForExport(true); }

class TestClock : public FClock {
 public:
  explicit TestClock(double now = 1000) : now_(now) {}
  double currentTime() const override { return now_; }
  void advance(double seconds) { now_ += seconds; }

 private:
  double now_;
};

// Opens the leveldb folder directly (the engine must be closed).
inline std::unique_ptr<leveldb::DB> openRaw(const std::string& folder) {
  leveldb::DB* db = nullptr;
  leveldb::Options options;
  options.create_if_missing = true;
  leveldb::Status status = leveldb::DB::Open(options, folder, &db);
  if (!status.ok()) return nullptr;
  return std::unique_ptr<leveldb::DB>(db);
}

inline void putRaw(const std::string& folder, const std::string& key, const std::string& value) {
  auto db = openRaw(folder);
  db->Put(leveldb::WriteOptions(), key, value);
}

inline std::vector<std::pair<std::string, std::string>> rawRecords(const std::string& folder,
                                                                   const std::string& prefix = "") {
  std::vector<std::pair<std::string, std::string>> records;
  auto db = openRaw(folder);
  std::unique_ptr<leveldb::Iterator> it(db->NewIterator(leveldb::ReadOptions()));
  for (it->Seek(prefix); it->Valid() && it->key().starts_with(prefix); it->Next()) {
    records.emplace_back(it->key().ToString(), it->value().ToString());
  }
  return records;
}

// Collects the error and warning lines of the SDK logger while it lives.
class LoggedLines {
 public:
  LoggedLines() {
    zir_logger::setSinkForTesting([this](ZIRLoggerLevel level, const std::string& line) {
      if (level > ZIRLoggerLevel::Warning) return;
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~LoggedLines() { zir_logger::setSinkForTesting(nullptr); }
  bool contains(const std::string& text) const {
    zir_logger::flush();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& line : lines_) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace persistencetest
