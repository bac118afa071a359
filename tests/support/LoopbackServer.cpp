#include "tests/support/LoopbackServer.h"

#include <httplib.h>
#include <strings.h>
#include <zlib.h>

#include <chrono>
#include <stdexcept>

#include "platform/foundation/Clock.h"

namespace testsupport {

namespace {
std::string gzipText(const std::string& text) {
  z_stream s{};
  deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&s, text.size()) + 32, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  s.avail_in = static_cast<uInt>(text.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

bool pathMatches(const std::string& pattern, const std::string& path) {
  if (!pattern.empty() && pattern.back() == '*') {
    return path.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
  }
  return pattern == path;
}
}  // namespace

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
  for (const auto& [k, v] : headers) {
    if (k.size() == name.size() && strncasecmp(k.c_str(), name.c_str(), k.size()) == 0) return v;
  }
  return std::nullopt;
}

struct LoopbackServer::Impl {
  httplib::Server server;
};

LoopbackServer::LoopbackServer() : impl_(std::make_unique<Impl>()) {
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    RecordedRequest r;
    r.method = req.method;
    r.path = req.path;
    auto q = req.target.find('?');
    if (q != std::string::npos) r.query = req.target.substr(q + 1);
    for (const auto& [k, v] : req.headers) {
      if (k == "REMOTE_ADDR" || k == "REMOTE_PORT" || k == "LOCAL_ADDR" || k == "LOCAL_PORT") continue;
      r.headers.emplace_back(k, v);
    }
    r.body = req.body;
    r.time = Clock::now();
    ScriptedResponse answer = respond(r);
    if (answer.delaySeconds > 0) {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_for(lock, std::chrono::duration<double>(answer.delaySeconds),
                        [this] { return stopping_; });
    }
    res.status = answer.status;
    for (const auto& [k, v] : answer.headers) res.set_header(k, v);
    if (answer.gzipBody) {
      res.set_header("Content-Encoding", "gzip");
      res.set_content(gzipText(answer.body), answer.contentType);
    } else {
      res.set_content(answer.body, answer.contentType);
    }
  };
  impl_->server.Get(".*", handler);
  impl_->server.Post(".*", handler);
  impl_->server.Put(".*", handler);
  impl_->server.Patch(".*", handler);
  impl_->server.Delete(".*", handler);
  port_ = impl_->server.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("LoopbackServer: cannot bind to 127.0.0.1");
  thread_ = std::thread([this] { impl_->server.listen_after_bind(); });
  // Wait until the listening loop runs, so that the first request is not refused.
  for (int i = 0; i < 5000 && !impl_->server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

LoopbackServer::~LoopbackServer() { stop(); }

void LoopbackServer::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  impl_->server.stop();
  if (thread_.joinable()) thread_.join();
}

std::string LoopbackServer::baseURL() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void LoopbackServer::script(const std::string& method, const std::string& path,
                            std::vector<ScriptedResponse> responses) {
  std::lock_guard<std::mutex> lock(mutex_);
  Route& route = routes_[{method, path}];
  route.responses = std::move(responses);
  route.next = 0;
  route.handler = nullptr;
}

void LoopbackServer::setHandler(const std::string& method, const std::string& path, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  Route& route = routes_[{method, path}];
  route.responses.clear();
  route.next = 0;
  route.handler = std::move(handler);
}

void LoopbackServer::clearRoutes() {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_.clear();
}

ScriptedResponse LoopbackServer::respond(const RecordedRequest& request) {
  Handler handler;
  ScriptedResponse answer;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(request);
    // An exact route wins over a prefix route.
    Route* match = nullptr;
    auto exact = routes_.find({request.method, request.path});
    if (exact != routes_.end()) {
      match = &exact->second;
    } else {
      for (auto& [key, route] : routes_) {
        if (key.first == request.method && pathMatches(key.second, request.path)) {
          match = &route;
          break;
        }
      }
    }
    if (match) {
      found = true;
      if (match->handler) {
        handler = match->handler;
      } else if (!match->responses.empty()) {
        size_t i = std::min(match->next, match->responses.size() - 1);
        answer = match->responses[i];
        if (match->next < match->responses.size()) ++match->next;
      } else {
        found = false;
      }
    }
  }
  changed_.notify_all();
  if (handler) return handler(request);
  if (!found) {
    ScriptedResponse missing;
    missing.status = 404;
    missing.contentType = "text/plain";
    missing.body = "No scripted answer for " + request.method + " " + request.path;
    return missing;
  }
  return answer;
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::vector<RecordedRequest> LoopbackServer::requestsFor(const std::string& method,
                                                         const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<RecordedRequest> out;
  for (const auto& r : log_) {
    if (r.method == method && pathMatches(path, r.path)) out.push_back(r);
  }
  return out;
}

void LoopbackServer::clearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
}

bool LoopbackServer::waitForRequests(size_t count, double timeoutSeconds) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                           [&] { return log_.size() >= count; });
}

}  // namespace testsupport
