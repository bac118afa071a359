#pragma once
// A scriptable HTTP server on 127.0.0.1 for tests. Each route (method and path; a path ending in
// "*" matches every path with that prefix) answers from a scripted sequence of responses (the last
// one repeats when the sequence is used up) or from a handler. Every request is logged: method,
// path, query, headers, body (after the server undid a gzip Content-Encoding) and arrival time on
// the platform clock. Unscripted routes answer 404.
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct ScriptedResponse {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
  HeaderList headers;
  // Real seconds the server waits before answering (for client timeouts); cut short by stop().
  double delaySeconds = 0;
  // Sends the body gzip-compressed with "Content-Encoding: gzip".
  bool gzipBody = false;

  // A JSON answer with a status, optionally held back for `delay` real seconds.
  static ScriptedResponse json(int status, std::string body, double delay = 0) {
    ScriptedResponse r;
    r.status = status;
    r.body = std::move(body);
    r.delaySeconds = delay;
    return r;
  }
};

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string query;  // the raw query string, without "?"
  HeaderList headers;  // as the server saw them (names as sent; order not kept)
  std::string body;
  double time = 0;  // Clock::now() at arrival

  // Case-insensitive header look-up.
  std::optional<std::string> header(const std::string& name) const;
};

class LoopbackServer {
 public:
  using Handler = std::function<ScriptedResponse(const RecordedRequest&)>;

  // Starts listening on 127.0.0.1 on a free port; throws when it cannot.
  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string baseURL() const;

  // Replaces the route's script.
  void script(const std::string& method, const std::string& path,
              std::vector<ScriptedResponse> responses);
  void setHandler(const std::string& method, const std::string& path, Handler handler);
  void clearRoutes();

  std::vector<RecordedRequest> requests() const;
  std::vector<RecordedRequest> requestsFor(const std::string& method, const std::string& path) const;
  void clearRequests();
  // Waits (real time) until at least `count` requests arrived. True when they did.
  bool waitForRequests(size_t count, double timeoutSeconds = 10) const;

  void stop();

 private:
  struct Route {
    std::vector<ScriptedResponse> responses;
    size_t next = 0;
    Handler handler;
  };
  struct Impl;

  ScriptedResponse respond(const RecordedRequest& request);

  std::unique_ptr<Impl> impl_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::map<std::pair<std::string, std::string>, Route> routes_;
  std::vector<RecordedRequest> log_;
};

}  // namespace testsupport
