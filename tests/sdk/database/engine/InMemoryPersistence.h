#pragma once
// Persistence kept in memory for the engine tests: user writes by id, one server cache tree,
// tracked queries with their active/complete flags and key sets, as the persistence manager keeps
// them on disk. Every call is also written to a log so a test can check what the engine asked.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sdk/database/core/FSyncPersistence.h"
#include "sdk/database/snapshot/FChildrenNode.h"

class InMemoryPersistence : public FSyncPersistence {
 public:
  struct Tracked {
    FQuerySpecRef query;
    bool active = false;
    bool complete = false;
    std::set<std::string> keys;
  };

  std::vector<std::string> log;
  FNodeRef serverCache = FEmptyNode::emptyNode();
  std::map<int64_t, FWriteRecordRef> writes;
  std::vector<Tracked> tracked;

  std::vector<FWriteRecordRef> userWrites() override {
    std::vector<FWriteRecordRef> out;
    for (const auto& entry : writes) out.push_back(entry.second);
    return out;
  }
  void saveUserOverwrite(const FNodeRef& node, const FPathRef& path, int64_t writeId) override {
    writes[writeId] = std::make_shared<const FWriteRecord>(path, node, writeId, true);
  }
  void saveUserMerge(const FCompoundWriteRef& merge, const FPathRef& path, int64_t writeId) override {
    writes[writeId] = std::make_shared<const FWriteRecord>(path, merge, writeId);
  }
  void removeUserWrite(int64_t writeId) override {
    log.push_back("removeUserWrite " + std::to_string(writeId));
    writes.erase(writeId);
  }
  void removeAllUserWrites() override {
    log.push_back("removeAllUserWrites");
    writes.clear();
  }

  void setQueryActive(const FQuerySpecRef& query) override {
    log.push_back("active " + name(query));
    trackedFor(query).active = true;
  }
  void setQueryInactive(const FQuerySpecRef& query) override {
    log.push_back("inactive " + name(query));
    trackedFor(query).active = false;
  }
  void setQueryComplete(const FQuerySpecRef& query) override {
    log.push_back("complete " + name(query));
    if (query->loadsAllData()) {
      for (Tracked& t : tracked) {
        if (t.query->path()->isEqual(*query->path())) t.complete = true;
      }
    }
    trackedFor(query).complete = true;
  }
  void setTrackedQueryKeys(const std::set<std::string>& keys, const FQuerySpecRef& query) override {
    log.push_back("keys " + name(query) + " = " + join(keys));
    trackedFor(query).keys = keys;
  }
  void updateTrackedQueryKeysWithAddedKeys(const std::set<std::string>& added, const std::set<std::string>& removed,
                                           const FQuerySpecRef& query) override {
    log.push_back("keys " + name(query) + " +" + join(added) + " -" + join(removed));
    Tracked& t = trackedFor(query);
    for (const auto& key : removed) t.keys.erase(key);
    t.keys.insert(added.begin(), added.end());
  }

  FCacheNodeRef serverCacheForQuery(const FQuerySpecRef& query) override {
    Tracked* t = find(query);
    const bool complete = t && t->complete;
    FNodeRef stored = serverCache->getChild(query->path());
    if (complete && !query->loadsAllData()) {
      FNodeRef keyed = FEmptyNode::emptyNode();
      for (const auto& key : t->keys) keyed = keyed->updateImmediateChild(key, stored->getImmediateChild(key));
      return std::make_shared<const FCacheNode>(FIndexedNode::indexedNodeWithNode(keyed, query->index()), true, true);
    }
    return std::make_shared<const FCacheNode>(FIndexedNode::indexedNodeWithNode(stored, query->index()), complete, false);
  }
  void updateServerCacheWithNode(const FNodeRef& node, const FQuerySpecRef& query) override {
    log.push_back("server " + name(query) + " " + value::toJSON(node->val()));
    if (query->loadsAllData()) {
      serverCache = serverCache->updateChild(query->path(), node);
    } else {
      node->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
        serverCache = serverCache->updateChild(query->path()->childFromString(key), child);
      });
    }
    trackedFor(query).complete = true;
  }
  void updateServerCacheWithMerge(const FCompoundWriteRef& merge, const FPathRef& path) override {
    log.push_back("server merge " + path->toString() + " " + merge->description());
    serverCache = serverCache->updateChild(path, merge->applyToNode(serverCache->getChild(path)));
  }
  void applyUserWrite(const FNodeRef& node, const FPathRef& path) override {
    log.push_back("applyUserWrite " + path->toString() + " " + value::toJSON(node->val()));
    serverCache = serverCache->updateChild(path, node);
  }
  void applyUserMerge(const FCompoundWriteRef& merge, const FPathRef& path) override {
    log.push_back("applyUserMerge " + path->toString() + " " + merge->description());
    serverCache = serverCache->updateChild(path, merge->applyToNode(serverCache->getChild(path)));
  }

  // "/a {}" or "/a {"l":2,...}".
  static std::string name(const FQuerySpecRef& query) {
    return query->path()->toString() + " " + value::toJSON(query->params()->wireProtocolParams());
  }

 private:
  static std::string join(const std::set<std::string>& keys) {
    std::string out;
    for (const auto& key : keys) out += (out.empty() ? "" : ",") + key;
    return "[" + out + "]";
  }
  Tracked* find(const FQuerySpecRef& query) {
    for (Tracked& t : tracked) {
      if (t.query->isEqual(*query)) return &t;
    }
    return nullptr;
  }
  Tracked& trackedFor(const FQuerySpecRef& query) {
    if (Tracked* t = find(query)) return *t;
    tracked.push_back(Tracked{query, false, false, {}});
    return tracked.back();
  }
};
