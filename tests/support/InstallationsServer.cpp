#include "tests/support/InstallationsServer.h"

#include <nlohmann/json.hpp>

namespace testsupport {

namespace {
bool hasSuffix(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}
}  // namespace

InstallationsServer::InstallationsServer(std::string projectID) : projectID_(std::move(projectID)) {
  auto handler = [this](const RecordedRequest& r) { return handle(r); };
  server_.setHandler("POST", "/v1/projects/*", handler);
  server_.setHandler("DELETE", "/v1/projects/*", handler);
}

void InstallationsServer::scriptStatuses(Endpoint endpoint, std::vector<int> statuses) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripted_[endpoint] = std::deque<int>(statuses.begin(), statuses.end());
}

void InstallationsServer::scriptAnswers(Endpoint endpoint, std::vector<ScriptedResponse> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[endpoint] = std::deque<ScriptedResponse>(answers.begin(), answers.end());
}

void InstallationsServer::setServerFID(std::optional<std::string> fid) {
  std::lock_guard<std::mutex> lock(mutex_);
  serverFID_ = std::move(fid);
}

void InstallationsServer::setTokenLifetime(std::string expiresIn) {
  std::lock_guard<std::mutex> lock(mutex_);
  expiresIn_ = std::move(expiresIn);
}

std::optional<InstallationsServer::Endpoint> InstallationsServer::endpointOf(const RecordedRequest& r,
                                                                            std::string* fid) const {
  const std::string base = "/v1/projects/" + projectID_ + "/installations/";
  if (r.path.compare(0, base.size(), base) != 0) return std::nullopt;
  std::string rest = r.path.substr(base.size());
  if (r.method == "POST" && rest.empty()) return Endpoint::Register;
  if (r.method == "POST" && hasSuffix(rest, "/authTokens:generate")) {
    *fid = rest.substr(0, rest.size() - std::string("/authTokens:generate").size());
    return Endpoint::GenerateToken;
  }
  if (r.method == "DELETE" && hasSuffix(rest, "/")) {
    *fid = rest.substr(0, rest.size() - 1);
    return Endpoint::Delete;
  }
  return std::nullopt;
}

std::vector<RecordedRequest> InstallationsServer::requestsTo(Endpoint endpoint) const {
  std::vector<RecordedRequest> out;
  for (const auto& r : server_.requests()) {
    std::string fid;
    if (endpointOf(r, &fid) == endpoint) out.push_back(r);
  }
  return out;
}

std::optional<std::string> InstallationsServer::refreshTokenFor(const std::string& fid) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = refreshTokens_.find(fid);
  if (it == refreshTokens_.end()) return std::nullopt;
  return it->second;
}

size_t InstallationsServer::tokensIssued() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tokenCounter_;
}

ScriptedResponse InstallationsServer::handle(const RecordedRequest& r) {
  std::string fid;
  auto endpoint = endpointOf(r, &fid);
  if (!endpoint) return ScriptedResponse::json(404, R"({"error":{"code":404,"status":"NOT_FOUND"}})");
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto& answers = answers_[*endpoint]; !answers.empty()) {
    ScriptedResponse answer = std::move(answers.front());
    answers.pop_front();
    return answer;
  }
  auto& script = scripted_[*endpoint];
  if (!script.empty()) {
    const int status = script.front();
    script.pop_front();
    if (status != 200) {
      return ScriptedResponse::json(
          status, nlohmann::json{{"error", {{"code", status}, {"message", "scripted failure"}}}}.dump());
    }
  }
  switch (*endpoint) {
    case Endpoint::Register: {
      auto body = nlohmann::json::parse(r.body, nullptr, false);
      if (!body.is_object() || !body.contains("fid") || !body["fid"].is_string())
        return ScriptedResponse::json(400, R"({"error":{"code":400,"message":"bad request"}})");
      std::string assigned = serverFID_.value_or(body["fid"].get<std::string>());
      std::string refresh = "refresh-" + assigned + "-" + std::to_string(++tokenCounter_);
      refreshTokens_[assigned] = refresh;
      nlohmann::json answer = {
          {"name", "projects/" + projectID_ + "/installations/" + assigned},
          {"fid", assigned},
          {"refreshToken", refresh},
          {"authToken", {{"token", "auth-" + std::to_string(tokenCounter_)}, {"expiresIn", expiresIn_}}}};
      return ScriptedResponse::json(200, answer.dump());
    }
    case Endpoint::GenerateToken: {
      auto known = refreshTokens_.find(fid);
      auto auth = r.header("Authorization");
      if (known == refreshTokens_.end()) return ScriptedResponse::json(404, R"({"error":{"code":404}})");
      if (!auth || *auth != "FIS_v2 " + known->second)
        return ScriptedResponse::json(401, R"({"error":{"code":401}})");
      nlohmann::json answer = {{"token", "auth-" + std::to_string(++tokenCounter_)}, {"expiresIn", expiresIn_}};
      return ScriptedResponse::json(200, answer.dump());
    }
    case Endpoint::Delete: {
      if (refreshTokens_.erase(fid) == 0) return ScriptedResponse::json(404, R"({"error":{"code":404}})");
      return ScriptedResponse::json(200, "{}");
    }
  }
  return ScriptedResponse::json(500, "{}");
}

}  // namespace testsupport
