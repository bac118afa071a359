#pragma once
// The storage engine of the local persistence: one leveldb database in a folder under the
// application home's "Library/Application Support/", named by the configuration name, "/", the
// host, "_" and the namespace. Owned by the persistence manager; used on the work queue only.
//
// Records, one per key:
//   "meta:version"                 the record format, "1"
//   "meta:legacyMigrated"          present once the older pending-writes store was moved in
//   "w:<id>"                       a user write: {"id", "path", and "o" (exported node) or
//                                  "m" (relative path text -> exported value)}; <id> is 16 hex
//                                  digits of the id with its sign bit flipped, so keys sort by id
//   "s:<path>/"                    one leaf of the server cache ({".value", ".priority"} when it
//                                  has a priority); "s:<path>/.priority/" the priority of an
//                                  interior node
//   "q:<id>"                       a tracked query: {"id", "path", "params" (wire form),
//                                  "lastUse", "complete", "active"}
//   "k:<id>:<key>"                 one child key of a filtered tracked query
//   "x:<original key>"             a record that could not be read, set aside with its bytes
//
// Damage: a folder that leveldb reports corrupt (or that holds tables without the file naming
// the current state) is repaired, which keeps every record that can still be read; when repair
// fails the folder is moved aside whole (".damaged-<n>") and a new one started. A folder that
// cannot be opened for another reason (held by another process, no permission) is left alone and
// the engine runs without storage until the next start. A record that does not decode is
// reported, set aside under "x:" and skipped. Every case is logged as an error.
//
// Limits of the readers (anything larger or deeper is refused as damaged):
//   user write records      64 MiB, nesting depth 1,010 (nodes are at most 1,000 deep), a path
//                           of at most 1,000 keys, also with each merge key joined below it; a
//                           write id between -2^62 and 2^62 (FWriteRecord::isStorableWriteId)
//   server cache records     16 MiB, nesting depth 8, data at most 1,000 keys deep (its key's path
//                           and the levels of its value; a last ".priority" key not counted)
//   tracked query records     1 MiB, nesting depth 16, a path of at most 1,000 keys
//   tracked query keys       one valid key each
// Server data deeper than 1,000 keys is not written either: it stays in memory only, logged.
// A server cache record is checked on its own when it is read, so that a bad one is set aside
// alone rather than spoiling every read of a path above it.
//
// The key layout is in FLevelDBRecordFormat.h; the tracked queries and the migration of the older
// store are defined in FLevelDBTrackedQueries.cpp and FLevelDBLegacyMigration.cpp.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sdk/database/persistence/FBoundedJSON.h"
#include "sdk/database/persistence/FStorageEngine.h"

namespace leveldb {
class DB;
class WriteBatch;
class Iterator;
}  // namespace leveldb

class FRepoInfo;

class FLevelDBStorageEngine : public FStorageEngine {
 public:
  static constexpr FJSONLimits kWriteRecordLimits{64u * 1024 * 1024, 1010};
  static constexpr FJSONLimits kServerRecordLimits{16u * 1024 * 1024, 8};
  static constexpr FJSONLimits kTrackedQueryRecordLimits{1024 * 1024, 16};

  // The root folder of every cache: "<home>/Library/Application Support".
  static std::string storageRoot();
  // Whether a folder path relative to the storage root stays inside it: no empty, "." or ".."
  // component and no NUL.
  static bool isSafeRelativePath(const std::string& path);

  // Opens (creating) the database in the folder `path` below the storage root. Raises
  // NSInvalidArgumentException for a path that would leave the root (isSafeRelativePath).
  explicit FLevelDBStorageEngine(const std::string& path);
  ~FLevelDBStorageEngine() override;

  // Moves the writes of the older pending-writes store (the same records, kept before the
  // configuration name was part of the folder: "<root>/<host>_<namespace>") into this one, once:
  // each write keeps its id unless a record here holds it or it does not follow the last id here;
  // then it takes the first id after that last one (the lowest id a stored write may carry when no
  // write here can be read) that no record holds (fleveldb::idForMovedWrite). The
  // older folder is removed afterwards. A write that cannot be read, or that no id is left for
  // (the last id here is the highest a stored write may carry), is reported and not moved, and the
  // older folder is then moved aside with its bytes kept. Does nothing when it ran before or there
  // is no older store.
  void runLegacyMigration(const FRepoInfo& repoInfo);

  // Whether the database is open (false after close, or when the folder could not be opened).
  bool isOpen() const { return db_ != nullptr; }
  const std::string& folder() const { return folder_; }

  void close() override;

  void saveUserOverwrite(const FNodeRef& node, const FPathRef& path, int64_t writeId) override;
  void saveUserMerge(const FCompoundWriteRef& merge, const FPathRef& path, int64_t writeId) override;
  void removeUserWrite(int64_t writeId) override;
  void removeAllUserWrites() override;
  std::vector<FWriteRecordRef> userWrites() override;

  FNodeRef serverCacheAtPath(const FPathRef& path) override;
  FNodeRef serverCacheForKeys(const std::set<std::string>& keys, const FPathRef& path) override;
  void updateServerCache(const FNodeRef& node, const FPathRef& path, bool merge) override;
  void updateServerCacheWithMerge(const FCompoundWriteRef& merge, const FPathRef& path) override;
  uint64_t serverCacheEstimatedSizeInBytes() override { return serverCacheSize_; }
  void pruneCache(const FPruneForestRef& forest, const FPathRef& path) override;

  std::vector<FTrackedQueryRef> loadTrackedQueries() override;
  void saveTrackedQuery(const FTrackedQueryRef& query) override;
  void removeTrackedQuery(uint64_t queryId) override;
  void setTrackedQueryKeys(const std::set<std::string>& keys, uint64_t queryId) override;
  void updateTrackedQueryKeys(const std::set<std::string>& added, const std::set<std::string>& removed,
                              uint64_t queryId) override;
  std::set<std::string> trackedQueryKeysForQuery(uint64_t queryId) override;

  // The key of a user write record (tests damage records through it).
  static std::string writeRecordKey(int64_t writeId);

 private:
  struct Overlay;

  // Renames a damaged folder to "<folder>.damaged-<n>" with the first free n, keeping its bytes;
  // the new path or "" when the move failed.
  static std::string moveFolderAside(const std::string& folder);

  void open();
  bool openDatabase(std::string* error, bool* corrupt);
  bool write(leveldb::WriteBatch& batch, const char* what);
  std::optional<std::string> get(const std::string& key);
  // Reads every record under the key prefix; `visit` returns false to stop.
  void scanPrefix(const std::string& prefix,
                  const std::function<bool(const std::string& key, const std::string& value)>& visit);
  void quarantine(const std::string& key, const std::string& value, const std::string& reason);
  std::optional<FWriteRecordRef> decodeWrite(const std::string& key, const std::string& value, std::string* reason);
  void saveWrite(int64_t writeId, const Value& record);

  // Server cache.
  FNodeRef readNodeAtPath(const FPath& path);
  void overwriteServerCache(const FNodeRef& node, const FPath& path);
  void removeServerDataBelow(Overlay& overlay, const std::string& prefix);
  void writeLeaves(Overlay& overlay, const FNodeRef& node, const FPath& path);
  void computeServerCacheSize();
  uint64_t recordSize(const std::string& key, const std::string& value);

  std::string folder_;
  std::unique_ptr<leveldb::DB> db_;
  uint64_t serverCacheSize_ = 0;
};
