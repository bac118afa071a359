#pragma once
// An in-process database server for tests, reached through the client's transport interface
// (sdk/database/realtime/FTransport.h) with the frames that FPersistentConnection.h lists. It keeps
// one tree of data; acknowledges puts and merges, refusing a put whose hash no longer matches
// with "datastale" and any request at or below a denied path (or merge writing there) with
// "permission_denied"; answers listens with the data (filtered by the query's index, range and
// limit) before its "ok", and pushes every later change to every listen it touches; keeps each
// link's onDisconnect requests and applies them when the link goes; answers one-time reads. Tests
// can drop every link, refuse new ones, hold requests unprocessed, set the server's clock offset
// and send raw frames.
//
// Threads: the server works on its own serial queue; the test calls below are safe from any
// thread and wait for the server's queue, so that what they set holds for every later frame.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Value.h"
#include "sdk/database/realtime/FTransport.h"
#include "sdk/database/snapshot/FNode.h"

namespace testsupport {

class DatabaseTestServer : public std::enable_shared_from_this<DatabaseTestServer> {
 public:
  static std::shared_ptr<DatabaseTestServer> create();
  ~DatabaseTestServer();

  // The factory to hand to ZIRDatabaseConfig::setTransportFactory.
  std::shared_ptr<FTransportFactory> transportFactory();

  // The data: plain values as the client would write them (priorities as ".priority").
  Value valueAt(const std::string& path) const;
  // What a listen of the query (path and wire parameters) holds now: the data at the path,
  // filtered by the query's index, range and limit.
  Value queryValueAt(const std::string& path, const Value& params) const;
  // Sets the value as another client's write would, and pushes it to the listens it touches.
  void setValue(const std::string& path, const Value& value);

  // Requests at or below the path, and merges that write there, are refused with "permission_denied".
  void denyPath(const std::string& path);
  void allowPath(const std::string& path);
  // Answers "auth" requests with this failure status instead of "ok" (nullopt: accept).
  void setAuthFailure(std::optional<std::string> status);

  // Closes every open link from the server's side (applying their onDisconnect requests).
  void dropConnections();
  // While refusing, new links close without ever opening.
  void setAcceptingConnections(bool accepting);
  // While holding, requests (of one action, or all for "") wait unprocessed; resuming processes
  // the waiting ones in order.
  void holdRequests(bool holding, const std::string& action = "");
  // The same for several actions at once; resuming processes the waiting ones of all of them in
  // the order they came.
  void holdRequests(bool holding, const std::vector<std::string>& actions);
  // The handshake reports the local clock plus this many milliseconds.
  void setServerTimeOffsetMs(double offset);
  // The handshake names this host (nullopt: none).
  void setHandshakeHost(std::optional<std::string> host);
  // Sends a frame as it stands to every open link (malformed input tests).
  void sendRawFrame(const std::string& frame);
  // Revokes every listen at the path, as a change of access rules would.
  void revokeListens(const std::string& path);
  // The next `count` conditional puts (puts with a hash) at the path each find the data changed
  // by another client first, so they are refused with "datastale": a number there goes up by one,
  // anything else becomes the number of such changes so far. The change is pushed to the listens
  // it touches before the refusal is sent.
  void makeConditionalPutsStale(const std::string& path, int count);

  // Every request received, in order, as {"link": n, "frame": the request frame}.
  std::vector<Value> requests() const;
  std::vector<Value> requestsWithAction(const std::string& action) const;
  // The URL of every connection attempt, in order.
  std::vector<std::string> connectionAttempts() const;
  size_t openLinkCount() const;
  // How many calls the server has made to the clients' transports (opened, frame, closed): with
  // requests(), tells a test whether anything still travels between the clients and the server.
  size_t deliveries() const;
  // The listens of the open links: {"p", "q", "t"?}.
  std::vector<Value> activeListens() const;

 private:
  class Transport;
  class Factory;
  struct Listen {
    std::string path;
    Value params;
    std::optional<uint64_t> tag;
  };
  struct Link {
    std::shared_ptr<FTransportDelegate> delegate;
    std::vector<Listen> listens;
    std::vector<std::pair<std::string, Value>> onDisconnect;  // (action, request body)
    std::vector<Value> held;
  };

  DatabaseTestServer();
  void run(const std::function<void()>& work) const;

  uint64_t openLink(const std::string& url, std::shared_ptr<FTransportDelegate> delegate);
  void receive(uint64_t linkId, const std::string& text);
  void closeLink(uint64_t linkId);
  void process(uint64_t linkId, const Value& frame);
  void answer(uint64_t linkId, uint64_t request, const std::string& status, const Value& data = Value());
  void push(uint64_t linkId, const std::string& action, const Value& body);
  void send(uint64_t linkId, const Value& frame);
  bool isDenied(const std::string& path) const;
  bool isHeld(const Value& frame) const;
  // Processes, in order, the waiting requests that are no longer held.
  void processReleased();
  FNodeRef nodeAt(const std::string& path) const;
  FNodeRef queryResult(const std::string& path, const Value& params) const;
  // Applies a change at `path` and pushes it to every listen it touches; `merge` holds the
  // changed children of a merge (null for an overwrite).
  void change(const std::string& path, const FNodeRef& node, const Value& merge);
  void applyOnDisconnect(const Link& link);
  // The node with an update's children (relative path texts to values) written.
  static FNodeRef applyUpdate(FNodeRef node, const Value& children);

  DispatchQueueRef queue_;
  FNodeRef root_;
  std::set<std::string> denied_;
  std::optional<std::string> authFailure_;
  bool accepting_ = true;
  bool holdAll_ = false;
  std::set<std::string> heldActions_;
  double serverTimeOffsetMs_ = 0;
  std::optional<std::string> handshakeHost_;
  uint64_t nextLinkId_ = 1;
  std::map<uint64_t, Link> links_;
  std::vector<Value> requests_;
  std::vector<std::string> attempts_;
  std::map<std::string, int> stalePuts_;  // path -> conditional puts still to make stale
  int staleChanges_ = 0;
  size_t deliveries_ = 0;
};

}  // namespace testsupport
