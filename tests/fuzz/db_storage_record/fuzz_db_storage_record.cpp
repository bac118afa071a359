// Records of the database's local cache as a damaged disk or an older client might have left
// them: the first byte chooses the kind of record (a user write, a server cache leaf at a chosen
// depth, a tracked query, or all three; or, with the first line naming its path, a server cache
// record, or a child key of a stored tracked query), the rest is stored as the record's value. The
// storage engine then reads, updates and prunes around it, and the restored writes are applied to
// a sync tree as the repository does at start; it must report and set aside what it cannot read,
// never crash. Large seeds (paths at and beyond the depth limit) are written by make-seeds.
#include <leveldb/db.h>
#include <leveldb/write_batch.h>

#include <memory>

#include "sdk/database/core/FSyncTree.h"
#include "sdk/database/core/FSyncTreeHash.h"
#include "sdk/database/persistence/FLevelDBStorageEngine.h"
#include "sdk/database/persistence/FPersistenceManager.h"
#include "sdk/database/realtime/FValueEventRegistration.h"
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
  const uint8_t kind = data[0] % 6;
  std::string value(fuzzsupport::asText(data + 1, size - 1));

  std::vector<std::pair<std::string, std::string>> records;
  if (kind == 4 || kind == 5) {
    const size_t newline = value.find('\n');
    const std::string named = value.substr(0, newline);
    value = newline == std::string::npos ? std::string() : value.substr(newline + 1);
    if (kind == 4) records.emplace_back("s:" + named + "/", value);
    if (kind == 5) {
      records.emplace_back("q:0000000000000001", R"({"id": 1, "path": "/a", "params": {"l": 5, "vf": "l"}, )"
                                                 R"("lastUse": 10, "complete": true, "active": false})");
      records.emplace_back("k:0000000000000001:" + named, value);
    }
  }
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
  FListenProvider provider;
  provider.startListening = [](const FQuerySpecRef&, std::optional<uint64_t>, const FSyncTreeHashRef&,
                               const FListenProvider::Completion&) { return FEventList{}; };
  provider.stopListening = [](const FQuerySpecRef&, std::optional<uint64_t>) {};
  FSyncTree tree(nullptr, provider);
  auto root = FQuerySpec::defaultQueryAtPath(FPath::pathWithString("/"));
  tree.addEventRegistration(std::make_shared<const FValueEventRegistration>(
                                nullptr, 1, [](const ZIRDataSnapshotRef&) {}, [](const NSErrorRef&) {}),
                            root);
  for (const FWriteRecordRef& write : manager.userWrites()) {
    (void)write->description();
    if (write->isOverwrite()) {
      (void)tree.applyUserOverwriteAtPath(write->path(), write->overwrite(), write->writeId(), true);
    } else {
      (void)tree.applyUserMergeAtPath(write->path(), write->compoundWrite(), write->writeId());
    }
  }
  (void)manager.serverCacheForQuery(root)->node()->valForExport(true);
  (void)engine->serverCacheForKeys({"a", "c"}, FPath::pathWithString("/"));
  auto filtered = std::make_shared<const FQuerySpec>(FPath::pathWithString("/a"),
                                                     FQueryParams::fromQueryObject(Value{{"l", 5}, {"vf", "l"}}));
  (void)manager.serverCacheForQuery(filtered)->node()->valForExport(true);
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
