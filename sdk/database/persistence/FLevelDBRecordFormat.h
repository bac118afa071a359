#pragma once
// The record layout of the leveldb storage engine (described in FLevelDBStorageEngine.h): the key
// prefixes, how ids and paths become keys and back, and the texts its readers log. Shared by the
// engine's files: the records and user writes, the server cache, the tracked queries and the
// migration of the older store.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/database/core/FPath.h"

namespace fleveldb {

inline constexpr const char* kVersionKey = "meta:version";
inline constexpr const char* kLegacyMigratedKey = "meta:legacyMigrated";
inline constexpr const char* kFormatVersion = "1";
inline constexpr const char* kWritePrefix = "w:";
inline constexpr const char* kServerPrefix = "s:";
inline constexpr const char* kQueryPrefix = "q:";
inline constexpr const char* kKeysPrefix = "k:";
inline constexpr const char* kQuarantinePrefix = "x:";
inline constexpr const char* kPriorityKey = ".priority";

// Flipped in a write id's key so that negative ids sort before positive ones.
inline constexpr uint64_t kSignBit = 0x8000000000000000ULL;

// 16 lowercase hex digits.
std::string hex16(uint64_t value);
// The value of exactly 16 lowercase hex digits; nullopt for anything else.
std::optional<uint64_t> parseHex16(std::string_view text);

std::string serverKey(const FPath& path);
std::string queryKey(uint64_t queryId);
std::string keysPrefix(uint64_t queryId);

// The smallest key after every key that starts with the prefix.
std::string prefixEnd(const std::string& prefix);
bool startsWith(const std::string& text, const std::string& prefix);

// The keys of the server cache record's path, from the text after "s:".
std::vector<std::string> keysOfServerKey(const std::string& key);
FPathRef pathOfKeys(std::vector<std::string> keys);

// The id under which a write moved in from the older store is stored: its own id when no record
// here holds it (`taken`) and it lies after `lastId`, the last id of a write here or given so far
// (nullopt: none yet); otherwise the first id after `lastId` that no record holds, counting from
// the lowest id a stored write may carry when there is no last id. nullopt when no id a stored
// write may carry is left.
std::optional<int64_t> idForMovedWrite(int64_t id, std::optional<int64_t> lastId,
                                       const std::function<bool(int64_t)>& taken);

// A record key or path as a log line shows it: a long one is cut at a character boundary.
std::string shown(const std::string& text);
// The reason given for a record whose path is longer than a path may be.
const std::string& tooManyKeys();

}  // namespace fleveldb
