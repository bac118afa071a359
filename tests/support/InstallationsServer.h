#pragma once
// Plays the installations REST interface on loopback: register, generate auth token and delete,
// with scripted status sequences per endpoint and a log of every request.
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/LoopbackServer.h"

namespace testsupport {

class InstallationsServer {
 public:
  enum class Endpoint { Register, GenerateToken, Delete };

  explicit InstallationsServer(std::string projectID);

  std::string origin() const { return server_.baseURL(); }
  // The next requests to the endpoint answer these statuses in turn (a status of 200 means the
  // normal answer); afterwards the endpoint behaves normally again.
  void scriptStatuses(Endpoint endpoint, std::vector<int> statuses);
  // The next requests to the endpoint get these answers as they stand, in turn (before any
  // scripted statuses); afterwards the endpoint behaves normally again.
  void scriptAnswers(Endpoint endpoint, std::vector<ScriptedResponse> answers);
  // Registration answers with this identifier instead of the one it was sent.
  void setServerFID(std::optional<std::string> fid);
  // The "expiresIn" text of the tokens handed out ("604800s" by default).
  void setTokenLifetime(std::string expiresIn);

  std::vector<RecordedRequest> requests() const { return server_.requests(); }
  std::vector<RecordedRequest> requestsTo(Endpoint endpoint) const;
  bool waitForRequests(size_t count, double timeoutSeconds = 10) const {
    return server_.waitForRequests(count, timeoutSeconds);
  }
  // The refresh token the server issued for an identifier.
  std::optional<std::string> refreshTokenFor(const std::string& fid) const;
  size_t tokensIssued() const;

 private:
  ScriptedResponse handle(const RecordedRequest& request);
  std::optional<Endpoint> endpointOf(const RecordedRequest& request, std::string* fid) const;

  LoopbackServer server_;
  std::string projectID_;
  mutable std::mutex mutex_;
  std::map<Endpoint, std::deque<int>> scripted_;
  std::map<Endpoint, std::deque<ScriptedResponse>> answers_;
  std::optional<std::string> serverFID_;
  std::string expiresIn_ = "604800s";
  std::map<std::string, std::string> refreshTokens_;  // fid -> refresh token
  size_t tokenCounter_ = 0;
};

}  // namespace testsupport
