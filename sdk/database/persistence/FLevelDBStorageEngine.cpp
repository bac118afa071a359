#include "sdk/database/persistence/FLevelDBStorageEngine.h"

#include <leveldb/db.h>
#include <leveldb/iterator.h>
#include <leveldb/write_batch.h>

#include <algorithm>
#include <cinttypes>
#include <filesystem>
#include <map>
#include <optional>
#include <tuple>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSString.h"
#include "sdk/database/core/FFLog.h"
#include "sdk/database/core/FValidation.h"
#include "sdk/database/persistence/FLevelDBRecordFormat.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

using namespace fleveldb;

namespace {

// Why a record of the server cache cannot take its place in a node, or nothing: its path (the
// keys after "s:") holds only valid keys, but for a last ".priority" (the priority of an interior
// node, which must be a valid priority); the data it holds lies at most kMaxPathDepth keys deep,
// where every read can turn it into a node; and its value makes a node. Checked one record at a
// time, so that a bad one is set aside alone instead of spoiling every read above it.
std::optional<std::string> serverRecordProblem(const std::vector<std::string>& keys, const Value& leaf) {
  const bool isPriority = !keys.empty() && keys.back() == kPriorityKey;
  const size_t locationKeys = keys.size() - (isPriority ? 1 : 0);
  for (size_t i = 0; i < locationKeys; ++i) {
    if (!FValidation::isValidKey(keys[i])) return std::string("its path holds a key that is not valid");
  }
  if (locationKeys > FValidation::kMaxPathDepth) return tooManyKeys();
  if (isPriority) {
    if (!FValidation::validatePriorityValue(leaf)) return std::string("it is not a valid priority");
    return std::nullopt;
  }
  if (FValidation::nodeDepthExceeds(leaf, FValidation::kMaxPathDepth - locationKeys)) {
    return ns::format("its data lies more than %u keys deep", static_cast<unsigned>(FValidation::kMaxPathDepth));
  }
  try {
    (void)FSnapshotUtilities::nodeFrom(leaf);
  } catch (const std::exception& e) {
    return std::string("its data does not make a node: ") + e.what();
  }
  return std::nullopt;
}

bool hasPriorityKeyInside(const FPath& path) {
  std::vector<std::string> keys = path.keys();
  for (size_t i = 0; i + 1 < keys.size(); ++i) {
    if (keys[i] == kPriorityKey) return true;
  }
  return false;
}

bool folderHoldsTablesWithoutCurrent(const std::string& folder) {
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) return false;
  if (std::filesystem::exists(folder + "/CURRENT", ec)) return false;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    if (ns::hasSuffix(name, ".ldb") || ns::hasSuffix(name, ".sst") || ns::hasSuffix(name, ".log") ||
        ns::hasPrefix(name, "MANIFEST-")) {
      return true;
    }
  }
  return false;
}

}  // namespace

// Pending changes of one logical update: the batch that applies them at once, what they do to
// keys already read (so later steps of the same update see them) and to the cache's size.
struct FLevelDBStorageEngine::Overlay {
  leveldb::WriteBatch batch;
  std::map<std::string, std::optional<std::string>> pending;  // nullopt: deleted
  int64_t sizeDelta = 0;
  std::optional<std::string> leftOutBelow;  // where data was first found too deep to store

  void put(const std::string& key, const std::string& value) {
    batch.Put(key, value);
    pending[key] = value;
  }
  void remove(const std::string& key) {
    batch.Delete(key);
    pending[key] = std::nullopt;
  }
  bool isRemoved(const std::string& key) const {
    auto it = pending.find(key);
    return it != pending.end() && !it->second;
  }
};

std::string FLevelDBStorageEngine::storageRoot() { return NSApplicationSupportDirectory(); }

bool FLevelDBStorageEngine::isSafeRelativePath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos || path.front() == '/') return false;
  for (const std::string& component : ns::split(path, "/")) {
    if (component.empty() || component == "." || component == "..") return false;
  }
  return true;
}

std::string FLevelDBStorageEngine::writeRecordKey(int64_t writeId) {
  return kWritePrefix + hex16(static_cast<uint64_t>(writeId) ^ kSignBit);
}

std::string FLevelDBStorageEngine::moveFolderAside(const std::string& folder) {
  for (int n = 1; n < 1000; ++n) {
    std::string target = folder + ".damaged-" + std::to_string(n);
    std::error_code ec;
    if (std::filesystem::exists(target, ec)) continue;
    std::filesystem::rename(folder, target, ec);
    return ec ? std::string() : target;
  }
  return "";
}

FLevelDBStorageEngine::FLevelDBStorageEngine(const std::string& path) {
  if (!isSafeRelativePath(path)) {
    NSException::raise(NSInvalidArgumentException,
                       "The local cache folder \"%s\" would leave the storage root; it may not be empty, start "
                       "with \"/\" or hold an empty, \".\" or \"..\" component or NUL.",
                       path.c_str());
  }
  folder_ = storageRoot() + "/" + path;
  open();
}

FLevelDBStorageEngine::~FLevelDBStorageEngine() { close(); }

bool FLevelDBStorageEngine::openDatabase(std::string* error, bool* corrupt) {
  leveldb::Options options;
  options.create_if_missing = true;
  // Damage found while recovering is reported instead of skipped, so that it is repaired (which
  // keeps what can be read) and logged.
  options.paranoid_checks = true;
  leveldb::DB* db = nullptr;
  leveldb::Status status = leveldb::DB::Open(options, folder_, &db);
  if (!status.ok()) {
    *error = status.ToString();
    *corrupt = status.IsCorruption();
    return false;
  }
  db_.reset(db);
  return true;
}

void FLevelDBStorageEngine::open() {
  if (!ns::createDirectory(folder_)) {
    FFLogError("I-RDB076001", "The local cache folder %s cannot be created; running without persistence.",
               folder_.c_str());
    return;
  }
  std::string error;
  bool corrupt = false;
  // Without the file that names the current state leveldb would start an empty database and
  // later delete the tables it does not know: that is damage to repair, not a new folder.
  if (folderHoldsTablesWithoutCurrent(folder_)) {
    corrupt = true;
    error = "the CURRENT file is missing";
  } else if (openDatabase(&error, &corrupt)) {
    computeServerCacheSize();
    if (!get(kVersionKey)) {
      leveldb::WriteBatch batch;
      batch.Put(kVersionKey, kFormatVersion);
      write(batch, "the format version");
    }
    return;
  }
  if (!corrupt) {
    FFLogError("I-RDB076002", "The local cache at %s cannot be opened (%s); running without persistence.",
               folder_.c_str(), error.c_str());
    return;
  }
  FFLogError("I-RDB076003",
             "The local cache at %s is damaged (%s); repairing it, keeping every record that can be read.",
             folder_.c_str(), error.c_str());
  leveldb::Options options;
  leveldb::Status repaired = leveldb::RepairDB(folder_, options);
  if (repaired.ok() && openDatabase(&error, &corrupt)) {
    computeServerCacheSize();
    return;
  }
  std::string aside = moveFolderAside(folder_);
  FFLogError("I-RDB076004",
             "The local cache at %s could not be repaired (%s); it was moved to %s with its bytes kept and a new "
             "cache started.",
             folder_.c_str(), repaired.ok() ? error.c_str() : repaired.ToString().c_str(),
             aside.empty() ? "(nowhere: the move failed)" : aside.c_str());
  if (aside.empty() || !ns::createDirectory(folder_) || !openDatabase(&error, &corrupt)) {
    FFLogError("I-RDB076002", "The local cache at %s cannot be opened (%s); running without persistence.",
               folder_.c_str(), error.c_str());
    db_.reset();
    return;
  }
  leveldb::WriteBatch batch;
  batch.Put(kVersionKey, kFormatVersion);
  write(batch, "the format version");
}

void FLevelDBStorageEngine::close() { db_.reset(); }

bool FLevelDBStorageEngine::write(leveldb::WriteBatch& batch, const char* what) {
  if (!db_) return false;
  leveldb::Status status = db_->Write(leveldb::WriteOptions(), &batch);
  if (!status.ok()) {
    FFLogError("I-RDB076005", "Writing %s to the local cache at %s failed: %s", what, folder_.c_str(),
               status.ToString().c_str());
    return false;
  }
  return true;
}

std::optional<std::string> FLevelDBStorageEngine::get(const std::string& key) {
  if (!db_) return std::nullopt;
  std::string value;
  leveldb::Status status = db_->Get(leveldb::ReadOptions(), key, &value);
  if (status.ok()) return value;
  if (!status.IsNotFound()) {
    FFLogError("I-RDB076006", "Reading the record %s of the local cache at %s failed: %s", key.c_str(),
               folder_.c_str(), status.ToString().c_str());
  }
  return std::nullopt;
}

void FLevelDBStorageEngine::scanPrefix(
    const std::string& prefix, const std::function<bool(const std::string& key, const std::string& value)>& visit) {
  if (!db_) return;
  std::unique_ptr<leveldb::Iterator> it(db_->NewIterator(leveldb::ReadOptions()));
  for (it->Seek(prefix); it->Valid(); it->Next()) {
    std::string key = it->key().ToString();
    if (!startsWith(key, prefix)) break;
    if (!visit(key, it->value().ToString())) break;
  }
  if (!it->status().ok()) {
    FFLogError("I-RDB076006", "Reading the local cache at %s stopped early: %s; the records after the damage "
               "are skipped.", folder_.c_str(), it->status().ToString().c_str());
  }
}

void FLevelDBStorageEngine::quarantine(const std::string& key, const std::string& value, const std::string& reason) {
  FFLogError("I-RDB076007", "The record %s of the local cache at %s cannot be read (%s); it is set aside as %s%s "
             "and skipped.", shown(key).c_str(), folder_.c_str(), reason.c_str(), kQuarantinePrefix,
             shown(key).c_str());
  leveldb::WriteBatch batch;
  batch.Delete(key);
  batch.Put(kQuarantinePrefix + key, value);
  if (write(batch, "a damaged record set aside") && startsWith(key, kServerPrefix)) {
    const uint64_t size = recordSize(key, value);
    serverCacheSize_ = serverCacheSize_ > size ? serverCacheSize_ - size : 0;
  }
}

// -- User writes ----------------------------------------------------------------------------------

void FLevelDBStorageEngine::saveWrite(int64_t writeId, const Value& record) {
  std::string error;
  std::optional<std::string> text = FWriteJSON(record, &error);
  if (!text || text->size() > kWriteRecordLimits.maxBytes) {
    FFLogError("I-RDB076008", "The write %" PRId64 " cannot be stored in the local cache (%s); it is applied and "
               "sent, but will not survive a restart.", writeId,
               text ? "larger than the limit of 64 MiB" : error.c_str());
    return;
  }
  leveldb::WriteBatch batch;
  batch.Put(writeRecordKey(writeId), *text);
  write(batch, "a user write");
}

void FLevelDBStorageEngine::saveUserOverwrite(const FNodeRef& node, const FPathRef& path, int64_t writeId) {
  saveWrite(writeId, Value{{"id", writeId}, {"path", path->toString()}, {"o", node->valForExport(true)}});
}

void FLevelDBStorageEngine::saveUserMerge(const FCompoundWriteRef& merge, const FPathRef& path, int64_t writeId) {
  saveWrite(writeId, Value{{"id", writeId}, {"path", path->toString()}, {"m", merge->valForExport(true)}});
}

void FLevelDBStorageEngine::removeUserWrite(int64_t writeId) {
  leveldb::WriteBatch batch;
  batch.Delete(writeRecordKey(writeId));
  write(batch, "the removal of a user write");
}

void FLevelDBStorageEngine::removeAllUserWrites() {
  leveldb::WriteBatch batch;
  scanPrefix(kWritePrefix, [&](const std::string& key, const std::string&) {
    batch.Delete(key);
    return true;
  });
  write(batch, "the removal of every user write");
}

std::optional<FWriteRecordRef> FLevelDBStorageEngine::decodeWrite(const std::string& key, const std::string& value,
                                                                  std::string* reason) {
  std::optional<uint64_t> keyBits = parseHex16(std::string_view(key).substr(2));
  if (!keyBits) {
    *reason = "its key names no write id";
    return std::nullopt;
  }
  const int64_t writeId = static_cast<int64_t>(*keyBits ^ kSignBit);
  if (!FWriteRecord::isStorableWriteId(writeId)) {
    *reason = ns::format("its write id %lld lies beyond the ids a client hands out", static_cast<long long>(writeId));
    return std::nullopt;
  }
  std::string error;
  std::optional<Value> record = FReadBoundedJSON(value, kWriteRecordLimits, &error);
  if (!record) {
    *reason = error;
    return std::nullopt;
  }
  if (!record->is_object() || !record->contains("id") || !(*record)["id"].is_number_integer() ||
      (*record)["id"].get<int64_t>() != writeId || !record->contains("path") || !(*record)["path"].is_string() ||
      (record->contains("o") == record->contains("m"))) {
    *reason = "it is not a write record of this id";
    return std::nullopt;
  }
  // Paths are held to the limit of paths handed in by code: walks along them take a call per key.
  const std::string& pathText = (*record)["path"].get_ref<const std::string&>();
  const uint64_t pathKeys = FValidation::pathKeyCount(pathText);
  if (pathKeys > FValidation::kMaxPathDepth) {
    *reason = tooManyKeys();
    return std::nullopt;
  }
  if (record->contains("m") && (*record)["m"].is_object()) {
    for (auto it = (*record)["m"].begin(); it != (*record)["m"].end(); ++it) {
      if (pathKeys + FValidation::pathKeyCount(it.key()) > FValidation::kMaxPathDepth) {
        *reason = ns::format("an update below it makes a path of more than %u keys",
                             static_cast<unsigned>(FValidation::kMaxPathDepth));
        return std::nullopt;
      }
    }
  }
  try {
    FPathRef path = FPath::pathWithString(pathText);
    if (record->contains("o")) {
      return std::make_shared<const FWriteRecord>(path, FSnapshotUtilities::nodeFrom((*record)["o"]), writeId, true);
    }
    const Value& merge = (*record)["m"];
    if (!merge.is_object()) {
      *reason = "its merge is not a dictionary";
      return std::nullopt;
    }
    return std::make_shared<const FWriteRecord>(
        path, FSnapshotUtilities::compoundWriteFromDictionary(merge, "restoreWrites"), writeId);
  } catch (const std::exception& e) {
    *reason = e.what();
    return std::nullopt;
  }
}

std::vector<FWriteRecordRef> FLevelDBStorageEngine::userWrites() {
  std::vector<FWriteRecordRef> writes;
  std::vector<std::pair<std::string, std::string>> damaged;
  scanPrefix(kWritePrefix, [&](const std::string& key, const std::string& value) {
    std::string reason;
    if (std::optional<FWriteRecordRef> record = decodeWrite(key, value, &reason)) {
      writes.push_back(std::move(*record));
    } else {
      damaged.emplace_back(key, value + std::string(1, '\0') + reason);
    }
    return true;
  });
  for (const auto& [key, valueAndReason] : damaged) {
    size_t split = valueAndReason.rfind('\0');
    quarantine(key, valueAndReason.substr(0, split), "a user write: " + valueAndReason.substr(split + 1));
  }
  return writes;
}

// -- Server cache ---------------------------------------------------------------------------------

uint64_t FLevelDBStorageEngine::recordSize(const std::string& key, const std::string& value) {
  uint64_t size = key.size();
  std::string error;
  std::optional<Value> parsed = FReadBoundedJSON(value, kServerRecordLimits, &error);
  if (!parsed) return size + value.size();
  try {
    return size + FSnapshotUtilities::estimateSerializedNodeSize(FSnapshotUtilities::nodeFrom(*parsed));
  } catch (const std::exception&) {
    return size + value.size();
  }
}

void FLevelDBStorageEngine::computeServerCacheSize() {
  serverCacheSize_ = 0;
  scanPrefix(kServerPrefix, [&](const std::string& key, const std::string& value) {
    serverCacheSize_ += recordSize(key, value);
    return true;
  });
}

FNodeRef FLevelDBStorageEngine::readNodeAtPath(const FPath& path) {
  std::optional<std::string> last = path.getBack();
  if (last && *last == kPriorityKey) return readNodeAtPath(*path.parent())->getPriority();

  const std::string prefix = serverKey(path);
  const size_t depth = path.length();
  Value tree;  // null: nothing stored
  std::vector<std::tuple<std::string, std::string, std::string>> damaged;
  scanPrefix(prefix, [&](const std::string& key, const std::string& text) {
    std::string error;
    std::optional<Value> leaf = FReadBoundedJSON(text, kServerRecordLimits, &error);
    if (!leaf) {
      damaged.emplace_back(key, text, error);
      return true;
    }
    std::vector<std::string> keys = keysOfServerKey(key);
    if (std::optional<std::string> problem = serverRecordProblem(keys, *leaf)) {
      damaged.emplace_back(key, text, *problem);
      return true;
    }
    Value* at = &tree;
    for (size_t i = depth; i < keys.size(); ++i) {
      // A leaf on the way gives way to the children below it, as a leaf does when a child is set.
      if (!at->is_object() || at->contains(".value")) *at = Value::object();
      at = &(*at)[keys[i]];
    }
    *at = std::move(*leaf);
    return true;
  });
  for (const auto& [key, text, reason] : damaged) quarantine(key, text, "a server cache record: " + reason);
  if (tree.is_null()) return FSnapshotUtilities::nodeFrom(Value());
  try {
    return FSnapshotUtilities::nodeFrom(tree);
  } catch (const std::exception& e) {
    FFLogError("I-RDB076009", "The server cache at %s of the local cache at %s cannot be read (%s); it is "
               "treated as absent.", path.toString().c_str(), folder_.c_str(), e.what());
    return FSnapshotUtilities::nodeFrom(Value());
  }
}

FNodeRef FLevelDBStorageEngine::serverCacheAtPath(const FPathRef& path) { return readNodeAtPath(*path); }

FNodeRef FLevelDBStorageEngine::serverCacheForKeys(const std::set<std::string>& keys, const FPathRef& path) {
  FNodeRef node = FSnapshotUtilities::nodeFrom(Value());
  for (const std::string& key : keys) {
    FNodeRef child = readNodeAtPath(*path->childFromString(key));
    if (!child->isEmpty()) node = node->updateImmediateChild(key, child);
  }
  return node;
}

void FLevelDBStorageEngine::removeServerDataBelow(Overlay& overlay, const std::string& prefix) {
  scanPrefix(prefix, [&](const std::string& key, const std::string& value) {
    if (overlay.isRemoved(key)) return true;
    overlay.remove(key);
    overlay.sizeDelta -= static_cast<int64_t>(recordSize(key, value));
    return true;
  });
}

void FLevelDBStorageEngine::writeLeaves(Overlay& overlay, const FNodeRef& node, const FPath& path) {
  if (node->isEmpty()) return;
  if (path.length() > FValidation::kMaxPathDepth) {
    // Deeper than a stored record may lie (readers set such records aside).
    if (!overlay.leftOutBelow) overlay.leftOutBelow = path.parent()->toString();
    return;
  }
  auto putRecord = [&](const FPath& at, const Value& value) {
    std::string error;
    std::optional<std::string> text = FWriteJSON(value, &error);
    if (!text || text->size() > kServerRecordLimits.maxBytes) {
      FFLogError("I-RDB076010", "The server data at %s cannot be stored in the local cache (%s); it is kept in "
                 "memory only.", at.toString().c_str(), text ? "larger than the limit of 16 MiB" : error.c_str());
      return;
    }
    std::string key = serverKey(at);
    overlay.put(key, *text);
    overlay.sizeDelta += static_cast<int64_t>(recordSize(key, *text));
  };
  if (node->isLeafNode()) {
    putRecord(path, node->valForExport(true));
    return;
  }
  FNodeRef priority = node->getPriority();
  if (!priority->isEmpty()) putRecord(*path.childFromString(kPriorityKey), priority->val());
  node->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    writeLeaves(overlay, child, *path.childFromString(key));
  });
}

void FLevelDBStorageEngine::overwriteServerCache(const FNodeRef& node, const FPath& path) {
  if (!db_) return;
  std::optional<std::string> last = path.getBack();
  if (last && *last == kPriorityKey) {
    // A priority lives with its node: rewrite the node with the new priority.
    FPathRef parent = path.parent();
    overwriteServerCache(readNodeAtPath(*parent)->updatePriority(node), *parent);
    return;
  }
  if (hasPriorityKeyInside(path)) {
    FFLogWarn("I-RDB076011", "Server data below a priority (%s) is not stored in the local cache.",
                    path.toString().c_str());
    return;
  }

  Overlay overlay;
  const std::string prefix = serverKey(path);
  removeServerDataBelow(overlay, prefix);

  if (!node->isEmpty()) {
    // A leaf above the path gives way to the new children; its priority stays with the node.
    for (FPathRef ancestor = path.parent(); ancestor; ancestor = ancestor->parent()) {
      std::string key = serverKey(*ancestor);
      std::optional<std::string> text = get(key);
      if (!text) continue;
      overlay.remove(key);
      overlay.sizeDelta -= static_cast<int64_t>(recordSize(key, *text));
      std::string error;
      std::optional<Value> leaf = FReadBoundedJSON(*text, kServerRecordLimits, &error);
      if (leaf && leaf->is_object() && leaf->contains(kPriorityKey) && !(*leaf)[kPriorityKey].is_null()) {
        std::string priorityKey = serverKey(*ancestor->childFromString(kPriorityKey));
        std::string priorityText = (*leaf)[kPriorityKey].dump();
        overlay.put(priorityKey, priorityText);
        overlay.sizeDelta += static_cast<int64_t>(recordSize(priorityKey, priorityText));
      }
    }
    writeLeaves(overlay, node, path);
    if (overlay.leftOutBelow) {
      FFLogError("I-RDB076019", "The server data below %s lies more than %u keys deep; that part is not stored in "
                 "the local cache and is kept in memory only.", shown(*overlay.leftOutBelow).c_str(),
                 static_cast<unsigned>(FValidation::kMaxPathDepth));
    }
  } else {
    // A node left without children loses its priority, as an emptied node does.
    for (FPathRef ancestor = path.parent(); ancestor; ancestor = ancestor->parent()) {
      const std::string ancestorPrefix = serverKey(*ancestor);
      const std::string priorityKey = serverKey(*ancestor->childFromString(kPriorityKey));
      bool holdsData = false;
      if (db_) {
        std::unique_ptr<leveldb::Iterator> it(db_->NewIterator(leveldb::ReadOptions()));
        it->Seek(ancestorPrefix);
        while (it->Valid()) {
          std::string key = it->key().ToString();
          if (!startsWith(key, ancestorPrefix)) break;
          if (startsWith(key, prefix)) {
            it->Seek(prefixEnd(prefix));
            continue;
          }
          if (key != priorityKey && !overlay.isRemoved(key)) {
            holdsData = true;
            break;
          }
          it->Next();
        }
      }
      if (holdsData) break;
      if (std::optional<std::string> text = get(priorityKey); text && !overlay.isRemoved(priorityKey)) {
        overlay.remove(priorityKey);
        overlay.sizeDelta -= static_cast<int64_t>(recordSize(priorityKey, *text));
      }
    }
  }

  if (write(overlay.batch, "server data")) {
    serverCacheSize_ = static_cast<uint64_t>(std::max<int64_t>(0, static_cast<int64_t>(serverCacheSize_) + overlay.sizeDelta));
  }
}

void FLevelDBStorageEngine::updateServerCache(const FNodeRef& node, const FPathRef& path, bool merge) {
  if (!merge) {
    overwriteServerCache(node, *path);
    return;
  }
  node->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    overwriteServerCache(child, *path->childFromString(key));
  });
}

void FLevelDBStorageEngine::updateServerCacheWithMerge(const FCompoundWriteRef& merge, const FPathRef& path) {
  merge->enumerateWritesInApplyOrder([&](const FPathRef& relativePath, const FNodeRef& node) {
    overwriteServerCache(node, *path->child(*relativePath));
  });
}

void FLevelDBStorageEngine::pruneCache(const FPruneForestRef& forest, const FPathRef& path) {
  if (!db_ || !forest->prunesAnything()) return;
  Overlay overlay;
  const std::string prefix = serverKey(*path);
  const size_t depth = path->length();
  uint64_t pruned = 0;
  scanPrefix(prefix, [&](const std::string& key, const std::string& value) {
    std::vector<std::string> keys = keysOfServerKey(key);
    FPathRef relative = pathOfKeys(std::vector<std::string>(keys.begin() + static_cast<ptrdiff_t>(depth), keys.end()));
    if (forest->shouldPruneAtPath(*relative)) {
      overlay.remove(key);
      overlay.sizeDelta -= static_cast<int64_t>(recordSize(key, value));
      ++pruned;
    }
    return true;
  });
  if (write(overlay.batch, "a prune of the server cache")) {
    serverCacheSize_ = static_cast<uint64_t>(std::max<int64_t>(0, static_cast<int64_t>(serverCacheSize_) + overlay.sizeDelta));
    FFLogDebug("I-RDB076012", "Pruned %" PRIu64 " records of the server cache; %" PRIu64 " bytes remain.", pruned,
                  serverCacheSize_);
  }
}
