#include "sdk/database/realtime/FPersistentConnection.h"

#include <cinttypes>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSString.h"
#include "sdk/database/core/FFLog.h"
#include "sdk/database/core/FValidation.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace {

// Hands the transport's calls to the connection on its work queue; calls that arrive after the
// connection went away, or from a transport it replaced, find nothing to do.
class ConnectionTransportDelegate : public FTransportDelegate {
 public:
  ConnectionTransportDelegate(std::weak_ptr<FPersistentConnection> connection, DispatchQueueRef queue, uint64_t id)
      : connection_(std::move(connection)), queue_(std::move(queue)), id_(id) {}

  void onTransportOpened() override {
    queue_->async([connection = connection_, id = id_] {
      if (auto c = connection.lock()) c->onTransportOpened(id);
    });
  }
  void onTransportMessage(const std::string& frame) override {
    queue_->async([connection = connection_, id = id_, frame] {
      if (auto c = connection.lock()) c->onTransportMessage(id, frame);
    });
  }
  void onTransportClosed() override {
    queue_->async([connection = connection_, id = id_] {
      if (auto c = connection.lock()) c->onTransportClosed(id);
    });
  }

 private:
  std::weak_ptr<FPersistentConnection> connection_;
  DispatchQueueRef queue_;
  uint64_t id_;
};

// A path the server sent, as a log line shows it: a long one is cut at a character boundary.
std::string shownPath(const std::string& path) {
  constexpr size_t kMaxShownBytes = 200;
  if (path.size() <= kMaxShownBytes) return path;
  size_t cut = kMaxShownBytes;
  while (cut > 0 && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80) --cut;
  return path.substr(0, cut) + "...";
}

// Data the server sent that would be nested deeper than a node may be.
bool tooDeepForANode(const Value& data) {
  return FValidation::nodeDepthExceeds(data, static_cast<size_t>(FSnapshotUtilities::kMaxDepth));
}

// Why a push of the server is refused for its depth, or nothing: its path (joined with each merge
// key or range bound below it) may have at most FValidation::kMaxPathDepth keys, its data may nest
// at most FSnapshotUtilities::kMaxDepth levels below where it lands. Walks along a path take a call
// per key, so longer ones would run the engine out of stack.
std::optional<std::string> depthRefusal(const std::string& action, const std::string& path, const Value& data) {
  constexpr uint64_t kMaxKeys = FValidation::kMaxPathDepth;
  const uint64_t pathKeys = FValidation::pathKeyCount(path);
  if (pathKeys > kMaxKeys) return ns::format("its path has more than %u keys", static_cast<unsigned>(kMaxKeys));
  auto tooLongBelow = [&](const std::string& relative) { return pathKeys + FValidation::pathKeyCount(relative) > kMaxKeys; };
  const std::string tooDeepData = ns::format("its data is nested more than %d levels deep", FSnapshotUtilities::kMaxDepth);
  if (action == "d" && tooDeepForANode(data)) return tooDeepData;
  if (action == "m" && data.is_object()) {
    for (auto it = data.begin(); it != data.end(); ++it) {
      if (tooLongBelow(it.key())) {
        return ns::format("a merge key below it makes a path of more than %u keys", static_cast<unsigned>(kMaxKeys));
      }
      if (tooDeepForANode(it.value())) return tooDeepData;
    }
  }
  if (action == "rm" && data.is_array()) {
    for (const Value& range : data) {
      if (!range.is_object()) continue;  // refused as malformed when it is read
      for (const char* bound : {"s", "e"}) {
        if (range.contains(bound) && range[bound].is_string() && tooLongBelow(range[bound].get<std::string>())) {
          return ns::format("a range bound below it makes a path of more than %u keys", static_cast<unsigned>(kMaxKeys));
        }
      }
      if (range.contains("m") && tooDeepForANode(range["m"])) return tooDeepData;
    }
  }
  return std::nullopt;
}

}  // namespace

FPersistentConnection::FPersistentConnection(FRepoInfoRef repoInfo, DispatchQueueRef dispatchQueue,
                                             ZIRDatabaseConfigRef config)
    : repoInfo_(std::move(repoInfo)), queue_(std::move(dispatchQueue)), config_(std::move(config)) {}

FPersistentConnection::~FPersistentConnection() {
  if (transport_) transport_->close();
}

FPersistentConnection::ListenKey FPersistentConnection::keyForQuery(const FQuerySpec& query) {
  return {query.path()->toString(), query.params()->wireProtocolParams().dump()};
}

std::optional<std::string> FPersistentConnection::reasonOf(const Value& data) {
  if (data.is_string()) return data.get<std::string>();
  return std::nullopt;
}

bool FPersistentConnection::shouldReconnect() const {
  return opened_ && interruptReasons_.empty() && config_->transportFactory() != nullptr;
}

void FPersistentConnection::callSafely(const char* what, const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& e) {
    FFLogError("I-RDB083001", "The %s callback threw (%s); the connection carries on.", what, e.what());
  }
}

void FPersistentConnection::deliver(const char* what, const std::string& path,
                                    const std::function<void(FPersistentConnectionDelegate&)>& call) {
  std::shared_ptr<FPersistentConnectionDelegate> delegate = delegate_.lock();
  if (!delegate) return;
  try {
    call(*delegate);
  } catch (const std::exception& e) {
    // Server input that cannot be applied is dropped here, so one bad message cannot stop the
    // connection or the engine behind it.
    FFLogError("I-RDB083002", "Dropping the server's %s at %s: applying it failed (%s).", what, path.c_str(),
               e.what());
  }
}

// -- Connecting -----------------------------------------------------------------------------------

void FPersistentConnection::open() {
  opened_ = true;
  if (!config_->transportFactory()) {
    FFLogDebug("I-RDB083003", "No transport to the server is configured: the client works offline on its local "
                  "data and keeps its writes pending.");
    return;
  }
  tryScheduleReconnect();
}

void FPersistentConnection::tryScheduleReconnect() {
  if (!shouldReconnect() || state_ != State::Disconnected) return;
  const double delay = retryHelper_.nextDelay();
  const uint64_t generation = ++reconnectGeneration_;
  FFLogDebug("I-RDB083004", "Connecting to %s in %.3f s.", repoInfo_->description().c_str(), delay);
  queue_->after(delay, [weak = weak_from_this(), generation] {
    auto self = weak.lock();
    if (!self || generation != self->reconnectGeneration_) return;
    if (self->shouldReconnect() && self->state_ == State::Disconnected) self->establishConnection();
  });
}

void FPersistentConnection::establishConnection() {
  std::shared_ptr<FTransportFactory> factory = config_->transportFactory();
  state_ = State::Connecting;
  transportOpened_ = false;
  const uint64_t id = ++connectionId_;
  const std::string url = repoInfo_->connectionURLWithLastSessionID(lastSessionId_);
  auto adapter = std::make_shared<ConnectionTransportDelegate>(weak_from_this(), queue_, id);
  transport_ = factory->transportWithURL(url, adapter);
  if (!transport_) {
    FFLogWarn("I-RDB083005", "No transport could be made for %s.", url.c_str());
    state_ = State::Disconnected;
    tryScheduleReconnect();
    return;
  }
  transport_->open();
}

void FPersistentConnection::closeConnection() {
  if (transport_) transport_->close();
  handleDisconnect(false, false);
}

void FPersistentConnection::handleDisconnect(bool scheduleReconnect, bool linkFailed) {
  const State previous = state_;
  if (previous == State::Disconnected) return;
  const bool wasOpened = transportOpened_;
  state_ = State::Disconnected;
  transport_.reset();
  transportOpened_ = false;
  ++connectionId_;  // calls of the old transport are ignored from now on
  requestCallbacks_.clear();

  if (linkFailed && !wasOpened && repoInfo_->internalHost() != repoInfo_->host()) {
    // The redirected host could not be reached at all: start over from the configured one.
    repoInfo_->clearInternalHostCache();
  }
  if (previous == State::Connected && Clock::monotonic() - connectedAt_ >= kSuccessfulConnectionDuration) {
    retryHelper_.signalSuccess();
  }

  // Answers that were held back for listens are answers all the same.
  std::vector<FTupleCallbackStatus> acked;
  acked.swap(putsToAck_);
  for (auto& [key, listen] : listens_) listen.answered = false;
  for (auto& [id, put] : outstandingPuts_) put.sent = false;
  for (auto& [id, request] : onDisconnectRequests_) request.sent = false;
  for (auto& [id, get] : outstandingGets_) {
    if (get.sent) {
      get.sent = false;
      scheduleGetTimeout(id);
    }
  }
  for (FTupleCallbackStatus& status : acked) {
    callSafely("put", [&] { status.block(status.status, status.errorReason); });
  }

  if (previous == State::Connected) {
    FFLogDebug("I-RDB083006", "Disconnected from %s.", repoInfo_->description().c_str());
    deliver("disconnection", "/", [this](FPersistentConnectionDelegate& d) { d.onDisconnect(*this); });
  }
  if (scheduleReconnect) tryScheduleReconnect();
}

void FPersistentConnection::onTransportOpened(uint64_t connectionId) {
  if (connectionId != connectionId_ || state_ != State::Connecting) return;
  transportOpened_ = true;
}

void FPersistentConnection::onTransportClosed(uint64_t connectionId) {
  if (connectionId != connectionId_) return;
  handleDisconnect(true, true);
}

void FPersistentConnection::onTransportMessage(uint64_t connectionId, const std::string& text) {
  if (connectionId != connectionId_ || state_ == State::Disconnected) return;
  std::string error;
  std::optional<Value> frame = FReadBoundedJSON(text, kFrameLimits, &error);
  if (!frame || !frame->is_object() || !frame->contains("t") || !(*frame)["t"].is_string()) {
    FFLogWarn("I-RDB083007", "Dropping a malformed frame from the server (%s).",
                    frame ? "no frame type" : error.c_str());
    return;
  }
  const std::string type = (*frame)["t"].get<std::string>();
  if (type == "h") {
    onHandshake(frame->contains("d") ? (*frame)["d"] : Value());
  } else if (type == "r") {
    onResponse(*frame);
  } else if (type == "p") {
    onPush(*frame);
  } else {
    FFLogWarn("I-RDB083007", "Dropping a frame of unknown type \"%s\" from the server.", type.c_str());
  }
}

void FPersistentConnection::onHandshake(const Value& data) {
  if (state_ != State::Connecting) return;
  if (!data.is_object()) {
    FFLogWarn("I-RDB083007", "Dropping a malformed handshake from the server.");
    return;
  }
  const uint64_t id = connectionId_;
  if (data.contains("s") && data["s"].is_string()) lastSessionId_ = data["s"].get<std::string>();
  if (data.contains("h") && data["h"].is_string() && !data["h"].get<std::string>().empty()) {
    repoInfo_->setInternalHost(data["h"].get<std::string>());
  }
  if (data.contains("ts") && data["ts"].is_number()) {
    const double offset = data["ts"].get<double>() - Clock::now() * 1000.0;
    deliver("server time", "/", [&](FPersistentConnectionDelegate& d) {
      d.onServerInfoUpdate(*this, Value{{"serverTimeOffset", offset}});
    });
    if (id != connectionId_ || state_ != State::Connecting) return;  // the delegate closed us
  }
  if (authToken_) {
    state_ = State::Authenticating;
    sendAuth();
  } else {
    onAuthenticated();
  }
}

void FPersistentConnection::sendAuth() {
  sendRequest("auth", Value{{"cred", *authToken_}}, [this](const std::string& status, const Value& data) {
    if (status == "ok") {
      if (state_ == State::Authenticating) onAuthenticated();
      return;
    }
    std::optional<std::string> reason = reasonOf(data);
    FFLogWarn("I-RDB083008", "Authentication failed: %s (%s); reconnecting.", status.c_str(),
                    reason ? reason->c_str() : "no reason given");
    closeConnection();
    tryScheduleReconnect();
  });
}

void FPersistentConnection::onAuthenticated() {
  state_ = State::Connected;
  connectedAt_ = Clock::monotonic();
  FFLogDebug("I-RDB083009", "Connected to %s.", repoInfo_->description().c_str());
  const uint64_t id = connectionId_;
  restoreState();
  if (id != connectionId_ || state_ != State::Connected) return;
  deliver("connection", "/", [this](FPersistentConnectionDelegate& d) { d.onConnect(*this); });
}

void FPersistentConnection::restoreState() {
  std::vector<ListenKey> listenKeys;
  for (const auto& [key, listen] : listens_) listenKeys.push_back(key);
  for (const ListenKey& key : listenKeys) sendListen(key);
  std::vector<uint64_t> putIds;
  for (const auto& [id, put] : outstandingPuts_) putIds.push_back(id);
  for (uint64_t id : putIds) sendPut(id);
  std::vector<uint64_t> onDisconnectIds;
  for (const auto& [id, request] : onDisconnectRequests_) onDisconnectIds.push_back(id);
  for (uint64_t id : onDisconnectIds) sendOnDisconnect(id);
  std::vector<uint64_t> getIds;
  for (const auto& [id, get] : outstandingGets_) getIds.push_back(id);
  for (uint64_t id : getIds) sendGet(id);
}

void FPersistentConnection::interruptForReason(const std::string& reason) {
  FFLogDebug("I-RDB083010", "Connection interrupted for: %s", reason.c_str());
  interruptReasons_.insert(reason);
  ++reconnectGeneration_;  // a reconnect already scheduled does not happen
  if (state_ != State::Disconnected) closeConnection();
}

void FPersistentConnection::resumeForReason(const std::string& reason) {
  FFLogDebug("I-RDB083011", "Connection no longer interrupted for: %s", reason.c_str());
  interruptReasons_.erase(reason);
  if (interruptReasons_.empty() && state_ == State::Disconnected) {
    retryHelper_.signalSuccess();
    tryScheduleReconnect();
  }
}

void FPersistentConnection::refreshAuthToken(const std::optional<std::string>& token) {
  authToken_ = token;
  if (state_ != State::Connected) return;
  if (token) {
    sendAuth();
  } else {
    sendRequest("unauth", Value::object(), [](const std::string&, const Value&) {});
  }
}

// -- Requests -------------------------------------------------------------------------------------

bool FPersistentConnection::sendRequest(const std::string& action, const Value& body, ResponseHandler onResponse) {
  if (!transport_) return false;
  const uint64_t number = nextRequestNumber_++;
  std::string error;
  std::optional<std::string> text =
      FWriteJSON(Value{{"t", "q"}, {"r", number}, {"a", action}, {"b", body}}, &error);
  if (!text) {
    FFLogError("I-RDB083012", "A \"%s\" request cannot be written (%s); it is answered \"failed\".",
               action.c_str(), error.c_str());
    if (onResponse) onResponse("failed", Value("The request could not be encoded: " + error));
    return false;
  }
  requestCallbacks_[number] = std::move(onResponse);
  transport_->send(*text);
  return true;
}

void FPersistentConnection::onResponse(const Value& frame) {
  if (!frame.contains("r") || !frame["r"].is_number_unsigned() || !frame.contains("s") || !frame["s"].is_string()) {
    FFLogWarn("I-RDB083007", "Dropping a malformed answer from the server.");
    return;
  }
  auto it = requestCallbacks_.find(frame["r"].get<uint64_t>());
  if (it == requestCallbacks_.end()) {
    FFLogDebug("I-RDB083013", "Dropping an answer to an unknown request.");
    return;
  }
  ResponseHandler handler = std::move(it->second);
  requestCallbacks_.erase(it);
  const std::string status = frame["s"].get<std::string>();
  const Value data = frame.contains("d") ? frame["d"] : Value();
  if (!handler) return;
  try {
    handler(status, data);
  } catch (const std::exception& e) {
    FFLogError("I-RDB083002", "Dropping the server's answer \"%s\": applying it failed (%s).", status.c_str(),
               e.what());
  }
}

// -- Listens --------------------------------------------------------------------------------------

void FPersistentConnection::listen(const FQuerySpecRef& query, std::optional<uint64_t> tagId, FSyncTreeHashRef hash,
                                   ListenCallback onComplete) {
  ListenKey key = keyForQuery(*query);
  FFLogDebug("I-RDB083014", "Listen called for %s %s", key.first.c_str(), key.second.c_str());
  if (listens_.count(key)) {
    FFLogDebug("I-RDB083014", "A listen for %s %s replaces the one before.", key.first.c_str(), key.second.c_str());
  }
  listens_[key] = Listen{query, tagId, std::move(hash), std::move(onComplete), ++nextListenSerial_, false};
  if (state_ == State::Connected) sendListen(key);
}

void FPersistentConnection::sendListen(const ListenKey& key) {
  auto it = listens_.find(key);
  if (it == listens_.end() || state_ != State::Connected) return;
  Listen& listen = it->second;
  listen.answered = false;
  Value body{{"p", key.first}, {"q", listen.query->params()->wireProtocolParams()}};
  if (listen.tagId) body["t"] = *listen.tagId;
  if (listen.hash && listen.hash->describesDataBelow()) {
    body["h"] = listen.hash->simpleHash();
    if (listen.hash->includeCompoundHash()) {
      FCompoundHashRef compound = listen.hash->compoundHash();
      Value posts = Value::array();
      for (const FPathRef& post : compound->posts()) posts.push_back(post->wireFormat());
      body["ch"] = Value{{"ps", posts}, {"hs", compound->hashes()}};
    }
  }
  // The answer belongs to this listen: a later listen of the same query replaces the entry.
  sendRequest("q", body, [this, key, serial = listen.serial](const std::string& status, const Value&) {
    auto found = listens_.find(key);
    if (found == listens_.end() || found->second.serial != serial) return;
    found->second.answered = true;
    ListenCallback callback = found->second.onComplete;
    if (status != "ok") {
      FFLogDebug("I-RDB083015", "The listen of %s %s failed: %s", key.first.c_str(), key.second.c_str(),
                    status.c_str());
      listens_.erase(found);
    }
    if (callback) callSafely("listen", [&] { callback(status); });
    flushAckedPutsIfListensAnswered();
  });
}

void FPersistentConnection::unlisten(const FQuerySpecRef& query, std::optional<uint64_t> tagId) {
  ListenKey key = keyForQuery(*query);
  FFLogDebug("I-RDB083016", "Unlisten called for %s %s", key.first.c_str(), key.second.c_str());
  if (listens_.erase(key) == 0) return;
  if (state_ == State::Connected) sendUnlisten(*query, tagId);
  flushAckedPutsIfListensAnswered();
}

void FPersistentConnection::sendUnlisten(const FQuerySpec& query, std::optional<uint64_t> tagId) {
  Value body{{"p", query.path()->toString()}, {"q", query.params()->wireProtocolParams()}};
  if (tagId) body["t"] = *tagId;
  sendRequest("n", body, [](const std::string&, const Value&) {});
}

void FPersistentConnection::flushAckedPutsIfListensAnswered() {
  if (putsToAck_.empty()) return;
  for (const auto& [key, listen] : listens_) {
    if (!listen.answered) return;
  }
  std::vector<FTupleCallbackStatus> acked;
  acked.swap(putsToAck_);
  for (FTupleCallbackStatus& status : acked) {
    callSafely("put", [&] { status.block(status.status, status.errorReason); });
  }
}

Value FPersistentConnection::dumpListens() const {
  Value out = Value::array();
  for (const auto& [key, listen] : listens_) {
    Value entry{{"path", key.first}, {"params", listen.query->params()->wireProtocolParams()}};
    if (listen.tagId) entry["tag"] = *listen.tagId;
    out.push_back(std::move(entry));
  }
  return out;
}

// -- One-time reads -------------------------------------------------------------------------------

void FPersistentConnection::getDataAtPath(const std::string& pathString, const Value& params, GetCallback callback) {
  const uint64_t id = nextGetId_++;
  outstandingGets_[id] = OutstandingGet{Value{{"p", pathString}, {"q", params}}, std::move(callback), false};
  if (state_ == State::Connected) {
    sendGet(id);
  } else {
    scheduleGetTimeout(id);
  }
}

void FPersistentConnection::scheduleGetTimeout(uint64_t getId) {
  auto it = outstandingGets_.find(getId);
  if (it == outstandingGets_.end()) return;
  // Each wait belongs to one offline spell: a read sent and then cut off waits anew.
  const uint64_t serial = ++nextTimeoutSerial_;
  it->second.timeoutSerial = serial;
  queue_->after(kGetConnectTimeout, [weak = weak_from_this(), getId, serial] {
    auto self = weak.lock();
    if (!self) return;
    auto found = self->outstandingGets_.find(getId);
    if (found == self->outstandingGets_.end() || found->second.sent || found->second.timeoutSerial != serial) return;
    GetCallback callback = std::move(found->second.callback);
    self->outstandingGets_.erase(found);
    if (callback) callSafely("get", [&] { callback("failed", std::nullopt, std::string("Client is offline.")); });
  });
}

void FPersistentConnection::sendGet(uint64_t getId) {
  auto it = outstandingGets_.find(getId);
  if (it == outstandingGets_.end() || state_ != State::Connected) return;
  it->second.sent = true;
  sendRequest("g", it->second.body, [this, getId](const std::string& status, const Value& data) {
    auto found = outstandingGets_.find(getId);
    if (found == outstandingGets_.end()) return;
    GetCallback callback = std::move(found->second.callback);
    outstandingGets_.erase(found);
    if (!callback) return;
    if (status == "ok" && tooDeepForANode(data)) {
      // Answered, so that the read does not wait for ever, but without data no node can hold.
      std::string reason = ns::format("The server's answer is nested more than %d levels deep.",
                                      FSnapshotUtilities::kMaxDepth);
      FFLogError("I-RDB083022", "Refusing the server's answer to a read: %s", reason.c_str());
      callSafely("get", [&] { callback("invalid_data", std::nullopt, reason); });
    } else if (status == "ok") {
      callSafely("get", [&] { callback(status, data, std::nullopt); });
    } else {
      callSafely("get", [&] { callback(status, std::nullopt, reasonOf(data)); });
    }
  });
}

// -- Pushes ---------------------------------------------------------------------------------------

void FPersistentConnection::onPush(const Value& frame) {
  if (!frame.contains("a") || !frame["a"].is_string() || !frame.contains("b") || !frame["b"].is_object()) {
    FFLogWarn("I-RDB083007", "Dropping a malformed message from the server.");
    return;
  }
  const std::string action = frame["a"].get<std::string>();
  const Value& body = frame["b"];
  if (action == "c") {
    onListenRevoked(body);
    return;
  }
  if (action == "ac") {
    std::optional<std::string> reason = body.contains("d") ? reasonOf(body["d"]) : std::nullopt;
    FFLogWarn("I-RDB083019", "The server revoked the authentication (%s); reconnecting.",
                    reason ? reason->c_str() : "no reason given");
    closeConnection();
    tryScheduleReconnect();
    return;
  }
  if (!body.contains("p") || !body["p"].is_string()) {
    FFLogWarn("I-RDB083007", "Dropping a \"%s\" message without a path from the server.", action.c_str());
    return;
  }
  const std::string path = body["p"].get<std::string>();
  std::optional<uint64_t> tag;
  if (body.contains("t") && !body["t"].is_null()) {
    if (!body["t"].is_number_unsigned()) {
      FFLogWarn("I-RDB083007", "Dropping a \"%s\" message with a malformed tag at %s.", action.c_str(),
                      path.c_str());
      return;
    }
    tag = body["t"].get<uint64_t>();
  }
  const Value data = body.contains("d") ? body["d"] : Value();
  if (std::optional<std::string> refusal = depthRefusal(action, path, data)) {
    FFLogError("I-RDB083021", "Dropping a \"%s\" message from the server at %s: %s.", action.c_str(),
               shownPath(path).c_str(), refusal->c_str());
    return;
  }
  if (action == "d" || action == "m") {
    const bool isMerge = action == "m";
    if (isMerge && !data.is_object()) {
      FFLogWarn("I-RDB083007", "Dropping a merge whose data is not a dictionary at %s.", path.c_str());
      return;
    }
    deliver(isMerge ? "merge" : "data", path, [&](FPersistentConnectionDelegate& d) {
      d.onDataUpdate(*this, path, data, isMerge, tag);
    });
  } else if (action == "rm") {
    if (!data.is_array()) {
      FFLogWarn("I-RDB083007", "Dropping a range merge without ranges at %s.", path.c_str());
      return;
    }
    deliver("range merge", path, [&](FPersistentConnectionDelegate& d) {
      std::vector<FRangeMerge> ranges;
      for (const Value& range : data) {
        if (!range.is_object() || !range.contains("m")) throw std::invalid_argument("a range without data");
        auto pathOrNull = [&](const char* field) -> FPathRef {
          if (!range.contains(field) || range[field].is_null()) return nullptr;
          if (!range[field].is_string()) throw std::invalid_argument("a range bound that is not a path");
          return FPath::pathWithString(range[field].get<std::string>());
        };
        ranges.emplace_back(pathOrNull("s"), pathOrNull("e"), FSnapshotUtilities::nodeFrom(range["m"]));
      }
      d.onRangeMerge(ranges, path, tag);
    });
  } else {
    FFLogWarn("I-RDB083007", "Dropping a message of unknown action \"%s\" from the server.", action.c_str());
  }
}

void FPersistentConnection::onListenRevoked(const Value& body) {
  if (!body.contains("p") || !body["p"].is_string() || !body.contains("q") || !body["q"].is_object()) {
    FFLogWarn("I-RDB083007", "Dropping a malformed listen revocation from the server.");
    return;
  }
  ListenKey key{body["p"].get<std::string>(), body["q"].dump()};
  auto it = listens_.find(key);
  if (it == listens_.end()) return;
  ListenCallback callback = std::move(it->second.onComplete);
  listens_.erase(it);
  const std::string status = body.contains("s") && body["s"].is_string() ? body["s"].get<std::string>()
                                                                          : "permission_denied";
  FFLogDebug("I-RDB083020", "The server revoked the listen of %s: %s", key.first.c_str(), status.c_str());
  if (callback) callSafely("listen", [&] { callback(status); });
  flushAckedPutsIfListensAnswered();
}
