// The tracked queries of the leveldb storage engine: one record per query under "q:<id>" and its
// child keys under "k:<id>:<key>".
#include "sdk/database/persistence/FLevelDBStorageEngine.h"

#include <leveldb/write_batch.h>

#include <cinttypes>
#include <tuple>

#include "sdk/database/core/FFLog.h"
#include "sdk/database/core/FQueryParams.h"
#include "sdk/database/core/FValidation.h"
#include "sdk/database/persistence/FLevelDBRecordFormat.h"

using namespace fleveldb;

std::vector<FTrackedQueryRef> FLevelDBStorageEngine::loadTrackedQueries() {
  std::vector<FTrackedQueryRef> queries;
  std::vector<std::tuple<std::string, std::string, std::string>> damaged;
  scanPrefix(kQueryPrefix, [&](const std::string& key, const std::string& text) {
    std::string error;
    std::optional<Value> record = FReadBoundedJSON(text, kTrackedQueryRecordLimits, &error);
    std::optional<uint64_t> keyId = parseHex16(std::string_view(key).substr(2));
    if (!record) {
      damaged.emplace_back(key, text, error);
      return true;
    }
    const Value& r = *record;
    if (!keyId || !r.is_object() || !r.contains("id") || !r["id"].is_number_unsigned() ||
        r["id"].get<uint64_t>() != *keyId || !r.contains("path") || !r["path"].is_string() || !r.contains("params") ||
        !r.contains("lastUse") || !r["lastUse"].is_number() || !r.contains("complete") || !r["complete"].is_boolean() ||
        !r.contains("active") || !r["active"].is_boolean()) {
      damaged.emplace_back(key, text, "it is not a tracked query record of this id");
      return true;
    }
    if (FValidation::pathKeyCount(r["path"].get_ref<const std::string&>()) > FValidation::kMaxPathDepth) {
      damaged.emplace_back(key, text, tooManyKeys());
      return true;
    }
    try {
      // Stored parameters are input like any other: ones that do not parse drop the query.
      FQueryParamsRef params = FQueryParams::fromQueryObject(r["params"]);
      auto query = std::make_shared<const FQuerySpec>(FPath::pathWithString(r["path"].get<std::string>()), params);
      queries.push_back(std::make_shared<const FTrackedQuery>(*keyId, query, r["lastUse"].get<double>(),
                                                               r["complete"].get<bool>(), r["active"].get<bool>()));
    } catch (const std::exception& e) {
      damaged.emplace_back(key, text, std::string("its query does not parse: ") + e.what());
    }
    return true;
  });
  for (const auto& [key, text, reason] : damaged) {
    quarantine(key, text, "a tracked query: " + reason);
    if (std::optional<uint64_t> id = parseHex16(std::string_view(key).substr(2))) removeTrackedQuery(*id);
  }
  return queries;
}

void FLevelDBStorageEngine::saveTrackedQuery(const FTrackedQueryRef& query) {
  Value record{{"id", query->queryId()},
               {"path", query->query()->path()->toString()},
               {"params", query->query()->params()->wireProtocolParams()},
               {"lastUse", query->lastUse()},
               {"complete", query->isComplete()},
               {"active", query->isActive()}};
  std::string error;
  std::optional<std::string> text = FWriteJSON(record, &error);
  if (!text || text->size() > kTrackedQueryRecordLimits.maxBytes) {
    FFLogError("I-RDB076013", "The tracked query %" PRIu64 " cannot be stored in the local cache (%s).",
               query->queryId(), text ? "larger than the limit of 1 MiB" : error.c_str());
    return;
  }
  leveldb::WriteBatch batch;
  batch.Put(queryKey(query->queryId()), *text);
  write(batch, "a tracked query");
}

void FLevelDBStorageEngine::removeTrackedQuery(uint64_t queryId) {
  leveldb::WriteBatch batch;
  batch.Delete(queryKey(queryId));
  scanPrefix(keysPrefix(queryId), [&](const std::string& key, const std::string&) {
    batch.Delete(key);
    return true;
  });
  write(batch, "the removal of a tracked query");
}

void FLevelDBStorageEngine::setTrackedQueryKeys(const std::set<std::string>& keys, uint64_t queryId) {
  leveldb::WriteBatch batch;
  const std::string prefix = keysPrefix(queryId);
  scanPrefix(prefix, [&](const std::string& key, const std::string&) {
    batch.Delete(key);
    return true;
  });
  for (const std::string& key : keys) batch.Put(prefix + key, "");
  write(batch, "the keys of a tracked query");
}

void FLevelDBStorageEngine::updateTrackedQueryKeys(const std::set<std::string>& added,
                                                   const std::set<std::string>& removed, uint64_t queryId) {
  leveldb::WriteBatch batch;
  const std::string prefix = keysPrefix(queryId);
  for (const std::string& key : removed) batch.Delete(prefix + key);
  for (const std::string& key : added) batch.Put(prefix + key, "");
  write(batch, "the keys of a tracked query");
}

std::set<std::string> FLevelDBStorageEngine::trackedQueryKeysForQuery(uint64_t queryId) {
  std::set<std::string> keys;
  std::vector<std::pair<std::string, std::string>> damaged;
  const std::string prefix = keysPrefix(queryId);
  scanPrefix(prefix, [&](const std::string& key, const std::string& value) {
    // A child key names one child: one holding "/" would be read as a path below the query.
    std::string child = key.substr(prefix.size());
    if (FValidation::isValidKey(child)) {
      keys.insert(std::move(child));
    } else {
      damaged.emplace_back(key, value);
    }
    return true;
  });
  for (const auto& [key, value] : damaged) quarantine(key, value, "a tracked query key: it is not a valid key");
  return keys;
}
