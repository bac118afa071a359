// The connection's outgoing writes: puts and merges kept until the server answers them, the
// onDisconnect requests, and the purge that cancels them all.
#include "sdk/database/realtime/FPersistentConnection.h"

#include "sdk/database/core/FFLog.h"

namespace {

constexpr const char* kWriteCanceled = "write_canceled";

}  // namespace

void FPersistentConnection::putData(Value data, std::string pathString, const std::optional<std::string>& hash,
                                    StatusCallback callback) {
  const uint64_t id = nextPutId_++;
  if (!canSendWrites()) FFLogDebug("I-RDB083017", "Buffering put: %s", pathString.c_str());
  outstandingPuts_.emplace_hint(
      outstandingPuts_.end(), id,
      OutstandingPut{"p", std::move(data), std::move(pathString), hash, std::move(callback), false});
  if (canSendWrites()) sendPut(id);
}

void FPersistentConnection::mergeData(const Value& data, const std::string& pathString, StatusCallback callback) {
  const uint64_t id = nextPutId_++;
  outstandingPuts_[id] = OutstandingPut{"m", data, pathString, std::nullopt, std::move(callback), false};
  if (canSendWrites()) {
    sendPut(id);
  } else {
    FFLogDebug("I-RDB083017", "Buffering merge: %s", pathString.c_str());
  }
}

void FPersistentConnection::sendPut(uint64_t putId) {
  auto it = outstandingPuts_.find(putId);
  if (it == outstandingPuts_.end() || !canSendWrites()) return;
  it->second.sent = true;
  Value body = Value::object();
  body["p"] = it->second.path;
  body["d"] = it->second.data;
  if (it->second.hash) body["h"] = *it->second.hash;
  sendRequest(it->second.action, body, [this, putId](const std::string& status, const Value& data) {
    auto found = outstandingPuts_.find(putId);
    if (found == outstandingPuts_.end()) return;  // purged meanwhile
    StatusCallback callback = std::move(found->second.callback);
    outstandingPuts_.erase(found);
    if (!callback) return;
    std::optional<std::string> reason = reasonOf(data);
    for (const auto& [key, listen] : listens_) {
      if (!listen.answered) {
        // Data of a listen still on its way must reach the client before this answer does.
        putsToAck_.push_back(FTupleCallbackStatus{std::move(callback), status, reason});
        return;
      }
    }
    callSafely("put", [&] { callback(status, reason); });
  });
}

void FPersistentConnection::queueOnDisconnect(const std::string& action, const FPathRef& path,
                                              std::optional<Value> data, StatusCallback callback) {
  const uint64_t id = nextOnDisconnectId_++;
  onDisconnectRequests_[id] =
      OutstandingOnDisconnect{FTupleOnDisconnect{path->description(), action, std::move(data), std::move(callback)},
                              false};
  if (canSendWrites()) sendOnDisconnect(id);
}

void FPersistentConnection::onDisconnectPutData(const Value& data, const FPathRef& path, StatusCallback callback) {
  queueOnDisconnect("o", path, data, std::move(callback));
}

void FPersistentConnection::onDisconnectMergeData(const Value& data, const FPathRef& path, StatusCallback callback) {
  queueOnDisconnect("om", path, data, std::move(callback));
}

void FPersistentConnection::onDisconnectCancelPath(const FPathRef& path, StatusCallback callback) {
  queueOnDisconnect("oc", path, std::nullopt, std::move(callback));
}

void FPersistentConnection::sendOnDisconnect(uint64_t requestId) {
  auto it = onDisconnectRequests_.find(requestId);
  if (it == onDisconnectRequests_.end() || !canSendWrites()) return;
  it->second.sent = true;
  const FTupleOnDisconnect& request = it->second.request;
  Value body{{"p", request.pathString}};
  if (request.data) body["d"] = *request.data;
  sendRequest(request.action, body, [this, requestId](const std::string& status, const Value& data) {
    auto found = onDisconnectRequests_.find(requestId);
    if (found == onDisconnectRequests_.end()) return;
    StatusCallback callback = std::move(found->second.request.onComplete);
    onDisconnectRequests_.erase(found);
    if (callback) callSafely("onDisconnect", [&] { callback(status, reasonOf(data)); });
  });
}

void FPersistentConnection::purgeOutstandingWrites() {
  FFLogDebug("I-RDB083018", "Purging %zu writes and %zu onDisconnect requests.", outstandingPuts_.size(),
                onDisconnectRequests_.size());
  std::map<uint64_t, OutstandingPut> puts;
  puts.swap(outstandingPuts_);
  std::map<uint64_t, OutstandingOnDisconnect> onDisconnects;
  onDisconnects.swap(onDisconnectRequests_);
  for (auto& entry : puts) {
    StatusCallback& callback = entry.second.callback;
    if (callback) callSafely("put", [&] { callback(kWriteCanceled, std::nullopt); });
  }
  for (auto& entry : onDisconnects) {
    StatusCallback& callback = entry.second.request.onComplete;
    if (callback) callSafely("onDisconnect", [&] { callback(kWriteCanceled, std::nullopt); });
  }
}
