// Stored user writes as a damaged disk or an older client might have left them, restored by a
// repository at start: the one-time move of the older pending-writes store, then the replay of
// every stored write. Each line of the input is one record: "c" (this store) or "l" (the older
// store), the write id its key names, a space, and the bytes stored under that key. At most
// kMaxRecords lines are taken.
//
// Invariants: nothing crashes or overflows; the repository's next write id lies above every write
// it keeps; no record is lost: every record put in is still a write of this store, set aside
// in it, kept in the older store (or its copy moved aside), or reported as dropped because it could
// not be applied; and a write moved in from the older store is never set aside here (its new id is
// one a restore takes, its record one the reader reads).
#include <charconv>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <leveldb/db.h>

#include "platform/dispatch/Dispatch.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/database/core/FRepoInfo.h"
#include "sdk/database/persistence/FLevelDBStorageEngine.h"
#include "sdk/database/persistence/FPersistenceManager.h"
#include "sdk/database/realtime/FRepo.h"
#include "sdk/database/realtime/FRepoManager.h"
#include "sdk/database/realtime/ZIRDatabase.h"
#include "sdk/database/realtime/ZIRDatabaseConfig.h"
#include "sdk/database/realtime/ZIRDatabaseQuery.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

constexpr size_t kMaxRecords = 64;
constexpr const char* kName = "restore";
constexpr const char* kHost = "fuzz.example.com";
constexpr const char* kNamespace = "ns";

std::string currentFolder() {
  return FLevelDBStorageEngine::storageRoot() + "/" + kName + "/" + kHost + "_" + kNamespace;
}
std::string olderFolder() { return FLevelDBStorageEngine::storageRoot() + "/" + kHost + "_" + kNamespace; }

std::unique_ptr<leveldb::DB> openRaw(const std::string& folder, bool create) {
  leveldb::Options options;
  options.create_if_missing = create;
  leveldb::DB* db = nullptr;
  if (!leveldb::DB::Open(options, folder, &db).ok()) return nullptr;
  return std::unique_ptr<leveldb::DB>(db);
}

std::vector<std::string> keysWithPrefix(const std::string& folder, const std::string& prefix) {
  std::error_code ec;
  if (!std::filesystem::exists(folder + "/CURRENT", ec)) return {};
  auto db = openRaw(folder, false);
  if (!db) return {};
  std::vector<std::string> keys;
  std::unique_ptr<leveldb::Iterator> it(db->NewIterator(leveldb::ReadOptions()));
  for (it->Seek(prefix); it->Valid() && it->key().starts_with(prefix); it->Next()) keys.push_back(it->key().ToString());
  return keys;
}

size_t countRecords(const std::string& folder, const std::string& prefix) {
  return keysWithPrefix(folder, prefix).size();
}

// Every folder of the older store: as it is, and the copies moved aside.
std::vector<std::string> olderFolders() {
  std::vector<std::string> folders{olderFolder()};
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(FLevelDBStorageEngine::storageRoot(), ec)) {
    const std::string name = entry.path().string();
    if (name.rfind(olderFolder() + ".damaged-", 0) == 0) folders.push_back(name);
  }
  return folders;
}

void removeEveryStore() {
  std::error_code ec;
  for (const std::string& folder : olderFolders()) std::filesystem::remove_all(folder, ec);
  std::filesystem::remove_all(FLevelDBStorageEngine::storageRoot() + "/" + kName, ec);
}

class DroppedWrites {
 public:
  DroppedWrites() {
    zir_logger::setSinkForTesting([this](ZIRLoggerLevel, const std::string& line) {
      if (line.find("I-RDB038026") == std::string::npos || line.find("could not be removed") != std::string::npos) {
        return;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      ++count_;
    });
  }
  ~DroppedWrites() { zir_logger::setSinkForTesting(nullptr); }
  size_t count() {
    zir_logger::flush();
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  size_t count_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::privateHome();
  static const DispatchQueueRef callbacks = DispatchQueue::serial("fuzz.db_restore.callbacks");
  removeEveryStore();

  // The records, by store and key: a key named twice holds the last bytes.
  std::map<std::string, std::string> records[2];
  const std::string_view text = fuzzsupport::asText(data, size);
  size_t lines = 0;
  for (size_t start = 0; start < text.size() && lines < kMaxRecords; ++lines) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty() || (line[0] != 'c' && line[0] != 'l')) continue;
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) continue;
    int64_t id = 0;
    const auto parsed = std::from_chars(line.data() + 1, line.data() + space, id);
    if (parsed.ec != std::errc() || parsed.ptr != line.data() + space) continue;
    records[line[0] == 'l' ? 1 : 0][FLevelDBStorageEngine::writeRecordKey(id)] = std::string(line.substr(space + 1));
  }
  const std::string folders[2] = {currentFolder(), olderFolder()};
  for (int store = 0; store < 2; ++store) {
    if (records[store].empty()) continue;
    std::filesystem::create_directories(folders[store]);
    auto db = openRaw(folders[store], true);
    if (!db) fuzzsupport::broken("a fresh store could not be made");
    for (const auto& [key, value] : records[store]) db->Put(leveldb::WriteOptions(), key, value);
  }

  DroppedWrites dropped;
  auto config = std::make_shared<ZIRDatabaseConfig>(kName);
  config->setCallbackQueue(callbacks);
  config->setPersistenceEnabled(true);
  auto database =
      ZIRDatabase::createDatabaseForTests(std::make_shared<const FRepoInfo>(kHost, true, kNamespace), config);
  ZIRDatabaseQuery::sharedQueue()->sync([&] {
    std::shared_ptr<FRepo> repo = database->repo();
    if (!repo->persistenceManager()) return;
    for (const FWriteRecordRef& write : repo->persistenceManager()->userWrites()) {
      if (write->writeId() >= repo->writeIdCounter()) {
        fuzzsupport::broken("the next write id is not above a kept write");
      }
    }
  });
  FRepoManager::disposeRepos(config);
  ZIRDatabaseQuery::sharedQueue()->sync([] {});
  callbacks->sync([] {});

  size_t kept = countRecords(currentFolder(), "w:") + countRecords(currentFolder(), "x:") + dropped.count();
  for (const std::string& folder : olderFolders()) kept += countRecords(folder, "w:");
  if (kept < records[0].size() + records[1].size()) fuzzsupport::broken("a stored write was lost");
  for (const std::string& aside : keysWithPrefix(currentFolder(), "x:w:")) {
    if (!records[0].count(aside.substr(2))) fuzzsupport::broken("a write moved from the older store was set aside");
  }
  return 0;
}
