#include "tests/support/RemoteConfigServer.h"

#include <cctype>

namespace testsupport {

namespace {

bool isFieldName(const std::string& text, size_t at, size_t* end) {
  size_t i = at;
  while (i < text.size() && (std::islower(static_cast<unsigned char>(text[i])) || text[i] == '_')) ++i;
  if (i == at || i >= text.size() || text[i] != ':') return false;
  *end = i;
  return true;
}

// The end of a JSON object starting at `at` (one past its closing brace), or npos.
size_t jsonObjectEnd(const std::string& text, size_t at) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (size_t i = at; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
      continue;
    }
    if (c == '"') inString = true;
    else if (c == '{' || c == '[') ++depth;
    else if ((c == '}' || c == ']') && --depth == 0) return i + 1;
  }
  return std::string::npos;
}

// Whether a quoted value may end at `quote`: the text goes on with ", <name>:" or ends with "}".
bool closesValue(const std::string& text, size_t quote) {
  if (quote + 2 == text.size() && text[quote + 1] == '}') return true;
  size_t end;
  return text.compare(quote + 1, 2, ", ") == 0 && isFieldName(text, quote + 3, &end);
}

}  // namespace

std::optional<FetchRequestBody> parseFetchRequestBody(const std::string& text) {
  if (text.size() < 2 || text.front() != '{' || text.back() != '}') return std::nullopt;
  FetchRequestBody body;
  size_t at = 1;
  while (at < text.size() - 1) {
    size_t nameEnd;
    if (!isFieldName(text, at, &nameEnd)) return std::nullopt;
    const std::string name = text.substr(at, nameEnd - at);
    at = nameEnd + 1;
    if (at < text.size() && text[at] == '\'') {
      // Values are not escaped: the closing quote is the one that a field or the end follows.
      size_t close = at + 1;
      while (close < text.size() && !(text[close] == '\'' && closesValue(text, close))) ++close;
      if (close >= text.size()) return std::nullopt;
      body.fields[name] = text.substr(at + 1, close - at - 1);
      at = close + 1;
    } else if (at < text.size() && text[at] == '{') {
      const size_t end = jsonObjectEnd(text, at);
      if (end == std::string::npos) return std::nullopt;
      auto parsed = nlohmann::json::parse(text.substr(at, end - at), nullptr, false);
      if (parsed.is_discarded()) return std::nullopt;
      if (name == "analytics_user_properties") body.analyticsUserProperties = parsed;
      at = end;
    } else {
      return std::nullopt;
    }
    body.order.push_back(name);
    if (text.compare(at, 2, ", ") == 0) {
      at += 2;
    } else if (at != text.size() - 1) {
      return std::nullopt;
    }
  }
  return body;
}

RemoteConfigServer::RemoteConfigServer(std::string projectID) : projectID_(std::move(projectID)) {
  defaultAnswer_ = update(nlohmann::json::object());
  server_.setHandler("POST", "/v1/projects/*", [this](const RecordedRequest& r) { return handle(r); });
}

RemoteConfigServer::~RemoteConfigServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  released_.notify_all();
  server_.stop();
}

std::string RemoteConfigServer::fetchPath(const std::string& namespace_) const {
  return "/v1/projects/" + projectID_ + "/namespaces/" + namespace_ + ":fetch";
}

void RemoteConfigServer::script(std::vector<ScriptedResponse> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.assign(answers.begin(), answers.end());
}

void RemoteConfigServer::setDefaultAnswer(ScriptedResponse answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  defaultAnswer_ = std::move(answer);
}

void RemoteConfigServer::hold() {
  std::lock_guard<std::mutex> lock(mutex_);
  holding_ = true;
}

void RemoteConfigServer::release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    holding_ = false;
  }
  released_.notify_all();
}

ScriptedResponse RemoteConfigServer::handle(const RecordedRequest& request) {
  const std::string prefix = "/v1/projects/" + projectID_ + "/namespaces/";
  const std::string suffix = ":fetch";
  if (request.path.compare(0, prefix.size(), prefix) != 0 || request.path.size() < prefix.size() + suffix.size() ||
      request.path.compare(request.path.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return raw(404, R"({"error":{"code":404,"status":"NOT_FOUND","message":"unknown project or method"}})");
  }
  // The client sends its body gzip-compressed; the HTTP layer has inflated it already.
  if (request.header("Content-Encoding") != std::optional<std::string>("gzip") ||
      !parseFetchRequestBody(request.body)) {
    return raw(400, R"({"error":{"code":400,"status":"INVALID_ARGUMENT","message":"malformed request body"}})");
  }
  std::unique_lock<std::mutex> lock(mutex_);
  released_.wait(lock, [this] { return !holding_ || stopping_; });
  if (!script_.empty()) {
    ScriptedResponse answer = script_.front();
    script_.pop_front();
    return answer;
  }
  return defaultAnswer_;
}

std::vector<FetchRequest> RemoteConfigServer::requests() const {
  std::vector<FetchRequest> out;
  const std::string prefix = "/v1/projects/" + projectID_ + "/namespaces/";
  for (const auto& r : server_.requests()) {
    FetchRequest request;
    request.raw = r;
    if (r.path.compare(0, prefix.size(), prefix) == 0) {
      std::string rest = r.path.substr(prefix.size());
      request.namespace_ = rest.substr(0, rest.find(':'));
    }
    request.body = parseFetchRequestBody(r.body);
    out.push_back(std::move(request));
  }
  return out;
}

ScriptedResponse RemoteConfigServer::json(const nlohmann::json& answer, const std::optional<std::string>& etag) {
  ScriptedResponse r = ScriptedResponse::json(200, answer.dump());
  if (etag) r.headers.emplace_back("ETag", *etag);
  r.gzipBody = true;  // the service compresses its answers when the client accepts it
  return r;
}

ScriptedResponse RemoteConfigServer::update(const nlohmann::json& entries, const std::optional<std::string>& etag,
                                            const std::optional<nlohmann::json>& experimentDescriptions,
                                            const std::optional<nlohmann::json>& personalizationMetadata) {
  nlohmann::json answer = {{"state", "UPDATE"}, {"entries", entries}, {"templateVersion", "1"}};
  if (experimentDescriptions) answer["experimentDescriptions"] = *experimentDescriptions;
  if (personalizationMetadata) answer["personalizationMetadata"] = *personalizationMetadata;
  return json(answer, etag);
}

ScriptedResponse RemoteConfigServer::state(const std::string& state, const std::optional<std::string>& etag) {
  return json({{"state", state}}, etag);
}

ScriptedResponse RemoteConfigServer::raw(int status, std::string body, std::string contentType) {
  ScriptedResponse r;
  r.status = status;
  r.body = std::move(body);
  r.contentType = std::move(contentType);
  return r;
}

ScriptedResponse RemoteConfigServer::notModified(const std::optional<std::string>& etag) {
  ScriptedResponse r = raw(304, "");
  if (etag) r.headers.emplace_back("ETag", *etag);
  return r;
}

ScriptedResponse RemoteConfigServer::serverError(const nlohmann::json& errorObject) {
  return json({{"error", errorObject}});
}

}  // namespace testsupport
