// Records of the database's local cache as a damaged disk or an older client might have left
// them: the first byte chooses the kind of record (a user write, a server cache leaf at a chosen
// depth, a tracked query, or all three), the rest is stored as the record's value. The storage
// engine then reads, updates and prunes around it; it must report and set aside what it cannot
// read, never crash.
#include <leveldb/db.h>
#include <leveldb/write_batch.h>

#include <memory>

#include "sdk/database/persistence/FLevelDBStorageEngine.h"
#include "sdk/database/persistence/FPersistenceManager.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

constexpr const char* kFolder = "fuzz/host_ns";

void resetAndPut(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& records) {
  leveldb::DB* opened = nullptr;
  leveldb::Options options;
  options.create_if_missing = true;
  if (!leveldb::DB::Open(options, folder, &opened).ok()) return;
  std::unique_ptr<leveldb::DB> db(opened);
  leveldb::WriteBatch batch;
  std::unique_ptr<leveldb::Iterator> it(db->NewIterator(leveldb::ReadOptions()));
  for (it->SeekToFirst(); it->Valid(); it->Next()) batch.Delete(it->key());
  it.reset();
  for (const auto& [key, value] : records) batch.Put(key, value);
  db->Write(leveldb::WriteOptions(), &batch);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::privateHome();
  static const std::string folder = [] {
    FLevelDBStorageEngine created(kFolder);
    return created.folder();
  }();
  if (size == 0) return 0;
  const uint8_t kind = data[0] % 4;
  const std::string value(fuzzsupport::asText(data + 1, size - 1));

  std::vector<std::pair<std::string, std::string>> records;
  if (kind == 0 || kind == 3) records.emplace_back(FLevelDBStorageEngine::writeRecordKey(1), value);
  if (kind == 1 || kind == 3) {
    records.emplace_back("s:/a/", value);
    records.emplace_back("s:/a/b/.priority/", value);
    records.emplace_back("s:/c/d/e/", value);
  }
  if (kind == 2 || kind == 3) {
    records.emplace_back("q:0000000000000001", value);
    records.emplace_back("k:0000000000000001:key", "");
  }
  resetAndPut(folder, records);

  auto engine = std::make_shared<FLevelDBStorageEngine>(kFolder);
  FPersistenceManager manager(engine, std::make_shared<FLRUCachePolicy>(1024));
  for (const FWriteRecordRef& write : manager.userWrites()) (void)write->description();
  auto root = FQuerySpec::defaultQueryAtPath(FPath::pathWithString("/"));
  (void)manager.serverCacheForQuery(root)->node()->valForExport(true);
  (void)engine->serverCacheForKeys({"a", "c"}, FPath::pathWithString("/"));
  manager.setQueryActive(FQuerySpec::defaultQueryAtPath(FPath::pathWithString("/a")));
  manager.updateServerCacheWithNode(FSnapshotUtilities::nodeFrom(Value{{"x", std::string(600, 'x')}}),
                                    FQuerySpec::defaultQueryAtPath(FPath::pathWithString("/a/b/c")));
  manager.updateServerCacheWithNode(FSnapshotUtilities::nodeFrom(Value()),
                                    FQuerySpec::defaultQueryAtPath(FPath::pathWithString("/c/d")));
  manager.setQueryInactive(FQuerySpec::defaultQueryAtPath(FPath::pathWithString("/a")));
  manager.updateServerCacheWithMerge(
      FSnapshotUtilities::compoundWriteFromDictionary(Value{{"y", std::string(600, 'y')}}, "fuzz"),
      FPath::pathWithString("/z"));
  manager.close();
  return 0;
}
