#pragma once
// Plays the remote-configuration fetch endpoint on loopback:
// POST /v1/projects/<project>/namespaces/<namespace>:fetch?key=<api key>, a gzip-compressed body
// in the service's brace text ({app_instance_id:'...', ..., analytics_user_properties:{...}}).
// Answers come from a script (one per request, in turn), then from a default answer; answers can
// be held back until the test releases them. Every request is recorded with its headers and its
// decompressed, parsed body.
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/LoopbackServer.h"

namespace testsupport {

// The brace text of a fetch request, read field by field.
struct FetchRequestBody {
  std::map<std::string, std::string> fields;              // quoted fields, as sent
  std::optional<nlohmann::json> analyticsUserProperties;  // the unquoted JSON field
  std::vector<std::string> order;                         // field names in the order sent
};
// nullopt when the text is not in that form.
std::optional<FetchRequestBody> parseFetchRequestBody(const std::string& text);

struct FetchRequest {
  RecordedRequest raw;
  std::string namespace_;  // from the path
  std::optional<FetchRequestBody> body;
};

class RemoteConfigServer {
 public:
  explicit RemoteConfigServer(std::string projectID);
  ~RemoteConfigServer();

  std::string origin() const { return server_.baseURL(); }
  std::string fetchPath(const std::string& namespace_) const;

  // Answers of the next requests, one each, in turn.
  void script(std::vector<ScriptedResponse> answers);
  // The answer once the script is used up (an "UPDATE" with no entries unless set).
  void setDefaultAnswer(ScriptedResponse answer);
  // Holds every answer until release() (requests are still recorded at once).
  void hold();
  void release();

  std::vector<FetchRequest> requests() const;
  size_t requestCount() const { return server_.requests().size(); }
  bool waitForRequests(size_t count, double timeoutSeconds = 15) const {
    return server_.waitForRequests(count, timeoutSeconds);
  }

  // Answers of the forms the service gives.
  static ScriptedResponse update(const nlohmann::json& entries, const std::optional<std::string>& etag = std::nullopt,
                                 const std::optional<nlohmann::json>& experimentDescriptions = std::nullopt,
                                 const std::optional<nlohmann::json>& personalizationMetadata = std::nullopt);
  static ScriptedResponse state(const std::string& state, const std::optional<std::string>& etag = std::nullopt);
  static ScriptedResponse json(const nlohmann::json& answer, const std::optional<std::string>& etag = std::nullopt);
  static ScriptedResponse raw(int status, std::string body, std::string contentType = "application/json");
  static ScriptedResponse notModified(const std::optional<std::string>& etag = std::nullopt);
  static ScriptedResponse serverError(const nlohmann::json& errorObject);

 private:
  ScriptedResponse handle(const RecordedRequest& request);

  LoopbackServer server_;
  std::string projectID_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool holding_ = false;
  bool stopping_ = false;
  std::deque<ScriptedResponse> script_;
  ScriptedResponse defaultAnswer_;
};

}  // namespace testsupport
