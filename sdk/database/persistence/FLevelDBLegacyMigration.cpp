// The one-time move of the older pending-writes store into the leveldb storage engine.
#include "sdk/database/persistence/FLevelDBStorageEngine.h"

#include <leveldb/db.h>
#include <leveldb/iterator.h>
#include <leveldb/write_batch.h>

#include <filesystem>
#include <optional>

#include "sdk/database/core/FFLog.h"
#include "sdk/database/core/FRepoInfo.h"
#include "sdk/database/persistence/FLevelDBRecordFormat.h"

using namespace fleveldb;

void FLevelDBStorageEngine::runLegacyMigration(const FRepoInfo& repoInfo) {
  if (!db_ || get(kLegacyMigratedKey)) return;
  const std::string legacyName = repoInfo.host() + "_" + repoInfo.ns();
  auto markDone = [&] {
    leveldb::WriteBatch batch;
    batch.Put(kLegacyMigratedKey, "1");
    write(batch, "the migration mark");
  };
  if (!isSafeRelativePath(legacyName)) {
    markDone();
    return;
  }
  const std::string legacyFolder = storageRoot() + "/" + legacyName;
  std::error_code ec;
  if (legacyFolder == folder_ || !std::filesystem::exists(legacyFolder + "/CURRENT", ec)) {
    markDone();
    return;
  }

  leveldb::Options options;
  options.paranoid_checks = true;
  leveldb::DB* opened = nullptr;
  leveldb::Status status = leveldb::DB::Open(options, legacyFolder, &opened);
  if (!status.ok()) {
    FFLogError("I-RDB076014", "The older pending-writes store at %s cannot be opened (%s); its writes are not "
               "moved and it is left as it is.", legacyFolder.c_str(), status.ToString().c_str());
    return;
  }
  std::unique_ptr<leveldb::DB> legacy(opened);

  std::optional<int64_t> lastId;  // none while no write here can be read
  for (const FWriteRecordRef& write : userWrites()) {
    if (!lastId || write->writeId() > *lastId) lastId = write->writeId();
  }
  auto taken = [this](int64_t id) { return get(writeRecordKey(id)).has_value(); };

  leveldb::WriteBatch batch;
  size_t moved = 0;
  size_t unreadable = 0;
  std::unique_ptr<leveldb::Iterator> it(legacy->NewIterator(leveldb::ReadOptions()));
  for (it->Seek(kWritePrefix); it->Valid() && it->key().starts_with(kWritePrefix); it->Next()) {
    std::string key = it->key().ToString();
    std::string reason;
    std::optional<FWriteRecordRef> record = decodeWrite(key, it->value().ToString(), &reason);
    if (!record) {
      ++unreadable;
      FFLogError("I-RDB076015", "The write %s of the older pending-writes store at %s cannot be read (%s).",
                 key.c_str(), legacyFolder.c_str(), reason.c_str());
      continue;
    }
    const std::optional<int64_t> movedId = idForMovedWrite((*record)->writeId(), lastId, taken);
    if (!movedId) {
      // Another id would collide with one already given; the write stays in the older store.
      ++unreadable;
      FFLogError("I-RDB076020", "The write %s of the older pending-writes store at %s cannot be moved: no write id "
                 "is left after %lld.", key.c_str(), legacyFolder.c_str(),
                 static_cast<long long>(lastId.value_or(FWriteRecord::kMaxStoredWriteId)));
      continue;
    }
    const int64_t id = *movedId;
    lastId = id;
    Value stored{{"id", id}, {"path", (*record)->path()->toString()}};
    if ((*record)->isOverwrite()) {
      stored["o"] = (*record)->overwrite()->valForExport(true);
    } else {
      stored["m"] = (*record)->compoundWrite()->valForExport(true);
    }
    batch.Put(writeRecordKey(id), stored.dump());
    ++moved;
  }
  bool readAll = it->status().ok();
  it.reset();
  legacy.reset();
  batch.Put(kLegacyMigratedKey, "1");
  if (!write(batch, "the writes of the older pending-writes store")) return;

  if (readAll && unreadable == 0) {
    std::filesystem::remove_all(legacyFolder, ec);
  } else {
    std::string aside = moveFolderAside(legacyFolder);
    FFLogError("I-RDB076016", "Some writes of the older pending-writes store could not be moved; the store was "
               "moved to %s with its bytes kept.", aside.empty() ? legacyFolder.c_str() : aside.c_str());
  }
  FFLogDebug("I-RDB076017", "Moved %zu writes of the older pending-writes store into %s.", moved, folder_.c_str());
}
