#pragma once
// The persistent connection of one repository to its database server (owned by the repository
// alone). It keeps every listen, pending put and merge, onDisconnect request and one-time read
// until the server has answered it, sends what it can while connected and the rest once it is,
// reconnects with back-off (FRetryHelper) whenever the link drops, unless an interrupt reason
// holds it closed, and reports server data and connection state to its delegate.
//
// Threads: every public operation is called on the work queue given at construction, and every
// delegate call and callback is made there. The transport's calls are moved onto that queue.
//
// The server is reached through an FTransport (FTransport.h) made by the config's transport
// factory; without one the connection never connects. Frames are JSON objects:
//   server handshake   {"t":"h","d":{"ts":<server time, ms>,"s":<session id>,"h":<host>}}
//   client request     {"t":"q","r":<request number>,"a":<action>,"b":<body>}
//                      actions: "q" listen {"p","q"(wire params),"t"(tag)?,"h"(hash)?,"ch"?}
//                               "n" unlisten {"p","q","t"?}, "p" put {"p","d","h"?},
//                               "m" merge {"p","d"}, "o" / "om" / "oc" onDisconnect put / merge /
//                               cancel {"p","d"?}, "g" get {"p","q"}, "auth" {"cred"}, "unauth" {}
//   server answer      {"t":"r","r":<request number>,"s":<status>,"d":<data or reason>?}
//   server push        {"t":"p","a":<action>,"b":<body>}
//                      actions: "d" data {"p","d","t"?}, "m" merge {"p","d","t"?},
//                               "rm" range merge {"p","d":[{"s"?,"e"?,"m"}],"t"?},
//                               "c" listen revoked {"p","q"}, "ac" auth revoked {"s","d"?}
// A listen carries the compound hash of the client's cached data as "ch": {"ps": the range ends
// as wire-format path texts, "hs": the range hashes}, when the hash provider finds it worth it;
// it carries neither hash when the provider says they do not describe the data held below it.
//
// Limits of the frame reader (anything longer or deeper is logged and dropped): 64 MiB per frame,
// nesting depth 1,010. A pushed message is dropped, with an error logged, when its path has more
// than FValidation::kMaxPathDepth (1,000) keys, also when joined with one of its merge keys or
// range bounds, or when its data nests more than 1,000 levels below where it lands (what a node
// may hold): walks along paths take a call per key. A read whose answer nests deeper fails with
// "invalid_data". A frame that is malformed, or whose delivery to the delegate throws, is logged
// and dropped; the connection carries on.
//
// The outgoing writes (puts, merges, onDisconnect requests, purge) are defined in
// FPersistentConnectionWrites.cpp.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Value.h"
#include "sdk/database/core/FQueryParams.h"
#include "sdk/database/core/FRangeMerge.h"
#include "sdk/database/core/FRepoInfo.h"
#include "sdk/database/core/FSyncTreeHash.h"
#include "sdk/database/core/FTupleCallbackStatus.h"
#include "sdk/database/core/FTupleOnDisconnect.h"
#include "sdk/database/persistence/FBoundedJSON.h"
#include "sdk/database/realtime/FRetryHelper.h"
#include "sdk/database/realtime/FTransport.h"
#include "sdk/database/realtime/ZIRDatabaseConfig.h"

class FPersistentConnection;

// What the connection reports, on the work queue (the repository implements it).
class FPersistentConnectionDelegate {
 public:
  virtual ~FPersistentConnectionDelegate() = default;
  virtual void onDataUpdate(FPersistentConnection& connection, const std::string& pathString, const Value& message,
                            bool isMerge, std::optional<uint64_t> tagId) = 0;
  virtual void onRangeMerge(const std::vector<FRangeMerge>& ranges, const std::string& pathString,
                            std::optional<uint64_t> tagId) = 0;
  virtual void onConnect(FPersistentConnection& connection) = 0;
  virtual void onDisconnect(FPersistentConnection& connection) = 0;
  // "serverTimeOffset": the server's time minus the local time, in milliseconds, as a double.
  virtual void onServerInfoUpdate(FPersistentConnection& connection, const Value& updates) = 0;
};

class FPersistentConnection : public std::enable_shared_from_this<FPersistentConnection> {
 public:
  static constexpr FJSONLimits kFrameLimits{64u * 1024 * 1024, 1010};
  // A one-time read that cannot be sent is answered "failed" after this long.
  static constexpr double kGetConnectTimeout = 3.0;
  // A connection that lasted this long counts as a success: the next drop reconnects at once.
  static constexpr double kSuccessfulConnectionDuration = 30.0;

  using StatusCallback = std::function<void(const std::string& status, const std::optional<std::string>& reason)>;
  using ListenCallback = std::function<void(const std::string& status)>;
  using GetCallback = std::function<void(const std::string& status, const std::optional<Value>& data,
                                         const std::optional<std::string>& reason)>;

  FPersistentConnection(FRepoInfoRef repoInfo, DispatchQueueRef dispatchQueue, ZIRDatabaseConfigRef config);
  ~FPersistentConnection();

  void setDelegate(std::weak_ptr<FPersistentConnectionDelegate> delegate) { delegate_ = std::move(delegate); }

  void open();

  void listen(const FQuerySpecRef& query, std::optional<uint64_t> tagId, FSyncTreeHashRef hash,
              ListenCallback onComplete);
  void unlisten(const FQuerySpecRef& query, std::optional<uint64_t> tagId);

  void putData(Value data, std::string pathString, const std::optional<std::string>& hash,
               StatusCallback callback);
  void mergeData(const Value& data, const std::string& pathString, StatusCallback callback);
  void onDisconnectPutData(const Value& data, const FPathRef& path, StatusCallback callback);
  void onDisconnectMergeData(const Value& data, const FPathRef& path, StatusCallback callback);
  void onDisconnectCancelPath(const FPathRef& path, StatusCallback callback);
  void getDataAtPath(const std::string& pathString, const Value& params, GetCallback callback);

  // Every outstanding put and merge (in request order) and every onDisconnect request not yet
  // answered hear "write_canceled" and are forgotten.
  void purgeOutstandingWrites();

  void interruptForReason(const std::string& reason);
  void resumeForReason(const std::string& reason);
  bool isInterruptedForReason(const std::string& reason) const { return interruptReasons_.count(reason) > 0; }

  void refreshAuthToken(const std::optional<std::string>& token);

  // The outstanding listens: [{"path", "params", "tag"?}] in path order.
  Value dumpListens() const;

  // Whether the handshake (and authentication) completed and writes are being sent.
  bool isConnected() const { return state_ == State::Connected; }

  // The transport's calls, moved onto the work queue (public for the transport adapter only).
  void onTransportOpened(uint64_t connectionId);
  void onTransportMessage(uint64_t connectionId, const std::string& frame);
  void onTransportClosed(uint64_t connectionId);

 private:
  enum class State { Disconnected, Connecting, Authenticating, Connected };

  struct Listen {
    FQuerySpecRef query;
    std::optional<uint64_t> tagId;
    FSyncTreeHashRef hash;
    ListenCallback onComplete;
    uint64_t serial = 0;  // tells a listen from a later one of the same query
    bool answered = false;
  };
  struct OutstandingPut {
    std::string action;  // "p" or "m"
    // What the request carries; its body is built when it is sent, so that writes made offline
    // cost no message until there is a connection to send them on.
    Value data;
    std::string path;
    std::optional<std::string> hash;
    StatusCallback callback;
    bool sent = false;
  };
  struct OutstandingGet {
    Value body;
    GetCallback callback;
    bool sent = false;
    uint64_t timeoutSerial = 0;  // the offline wait that may fail it
  };
  struct OutstandingOnDisconnect {
    FTupleOnDisconnect request;
    bool sent = false;
  };
  using ListenKey = std::pair<std::string, std::string>;  // path text, wire params
  using ResponseHandler = std::function<void(const std::string& status, const Value& data)>;

  static ListenKey keyForQuery(const FQuerySpec& query);
  bool canSendWrites() const { return state_ == State::Connected; }
  bool shouldReconnect() const;

  void tryScheduleReconnect();
  void establishConnection();
  void closeConnection();
  // `linkFailed`: the transport reported the close (not our own close).
  void handleDisconnect(bool scheduleReconnect, bool linkFailed);

  bool sendRequest(const std::string& action, const Value& body, ResponseHandler onResponse);
  void sendListen(const ListenKey& key);
  void sendUnlisten(const FQuerySpec& query, std::optional<uint64_t> tagId);
  void sendPut(uint64_t putId);
  void sendOnDisconnect(uint64_t requestId);
  void sendGet(uint64_t getId);
  void sendAuth();
  void scheduleGetTimeout(uint64_t getId);
  void queueOnDisconnect(const std::string& action, const FPathRef& path, std::optional<Value> data,
                         StatusCallback callback);

  void onHandshake(const Value& data);
  void onAuthenticated();
  void restoreState();
  void onResponse(const Value& frame);
  void onPush(const Value& frame);
  void onListenRevoked(const Value& body);
  void flushAckedPutsIfListensAnswered();

  // Delivers to the delegate, logging and dropping whatever the delivery throws.
  void deliver(const char* what, const std::string& path, const std::function<void(FPersistentConnectionDelegate&)>& call);
  static void callSafely(const char* what, const std::function<void()>& call);
  // The reason text of an answer or a push: its data when that is a string.
  static std::optional<std::string> reasonOf(const Value& data);

  FRepoInfoRef repoInfo_;
  DispatchQueueRef queue_;
  ZIRDatabaseConfigRef config_;
  std::weak_ptr<FPersistentConnectionDelegate> delegate_;

  State state_ = State::Disconnected;
  bool opened_ = false;
  std::set<std::string> interruptReasons_;
  FRetryHelper retryHelper_;
  uint64_t connectionId_ = 0;
  uint64_t reconnectGeneration_ = 0;
  bool transportOpened_ = false;
  double connectedAt_ = 0;
  std::shared_ptr<FTransport> transport_;
  std::optional<std::string> lastSessionId_;
  std::optional<std::string> authToken_;

  uint64_t nextRequestNumber_ = 0;
  std::map<uint64_t, ResponseHandler> requestCallbacks_;
  std::map<ListenKey, Listen> listens_;
  uint64_t nextListenSerial_ = 0;
  uint64_t nextPutId_ = 0;
  std::map<uint64_t, OutstandingPut> outstandingPuts_;
  std::vector<FTupleCallbackStatus> putsToAck_;
  uint64_t nextOnDisconnectId_ = 0;
  std::map<uint64_t, OutstandingOnDisconnect> onDisconnectRequests_;
  uint64_t nextGetId_ = 0;
  std::map<uint64_t, OutstandingGet> outstandingGets_;
  uint64_t nextTimeoutSerial_ = 0;
};

using FPersistentConnectionRef = std::shared_ptr<FPersistentConnection>;
