#include "tests/support/database/DatabaseTestServer.h"

#include <algorithm>
#include <mutex>

#include "platform/foundation/Clock.h"
#include "sdk/database/core/FPath.h"
#include "sdk/database/core/FQueryParams.h"
#include "sdk/database/snapshot/FChildrenNode.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"

namespace testsupport {

// One link of a client to the server.
class DatabaseTestServer::Transport : public FTransport {
 public:
  Transport(std::weak_ptr<DatabaseTestServer> server, std::string url, std::shared_ptr<FTransportDelegate> delegate)
      : server_(std::move(server)), url_(std::move(url)), delegate_(std::move(delegate)) {}

  void open() override {
    auto server = server_.lock();
    if (!server) {
      delegate_->onTransportClosed();
      return;
    }
    server->queue_->async([server, url = url_, delegate = delegate_, link = link_] {
      uint64_t id = server->openLink(url, delegate);
      std::lock_guard<std::mutex> lock(link->mutex);
      link->id = id;
      link->ready = true;
      for (const std::string& frame : link->early) server->receive(id, frame);
      link->early.clear();
      if (link->closeRequested) server->closeLink(id);
    });
  }

  void send(const std::string& frame) override {
    auto server = server_.lock();
    if (!server) return;
    server->queue_->async([server, link = link_, frame] {
      std::lock_guard<std::mutex> lock(link->mutex);
      if (!link->ready) {
        link->early.push_back(frame);
        return;
      }
      server->receive(link->id, frame);
    });
  }

  void close() override {
    auto server = server_.lock();
    if (!server) return;
    server->queue_->async([server, link = link_] {
      std::lock_guard<std::mutex> lock(link->mutex);
      if (!link->ready) {
        link->closeRequested = true;
        return;
      }
      server->closeLink(link->id);
    });
  }

 private:
  struct LinkState {
    std::mutex mutex;
    bool ready = false;
    bool closeRequested = false;
    uint64_t id = 0;
    std::vector<std::string> early;
  };
  std::weak_ptr<DatabaseTestServer> server_;
  std::string url_;
  std::shared_ptr<FTransportDelegate> delegate_;
  std::shared_ptr<LinkState> link_ = std::make_shared<LinkState>();
};

class DatabaseTestServer::Factory : public FTransportFactory {
 public:
  explicit Factory(std::weak_ptr<DatabaseTestServer> server) : server_(std::move(server)) {}
  std::shared_ptr<FTransport> transportWithURL(const std::string& url,
                                               std::shared_ptr<FTransportDelegate> delegate) override {
    return std::make_shared<Transport>(server_, url, std::move(delegate));
  }

 private:
  std::weak_ptr<DatabaseTestServer> server_;
};

namespace {

FNodeRef emptyNode() { return FEmptyNode::emptyNode(); }

bool pathContains(const std::string& outer, const std::string& inner) {
  return FPath(outer).contains(FPath(inner));
}

}  // namespace

std::shared_ptr<DatabaseTestServer> DatabaseTestServer::create() {
  return std::shared_ptr<DatabaseTestServer>(new DatabaseTestServer());
}

DatabaseTestServer::DatabaseTestServer()
    : queue_(DispatchQueue::serial("DatabaseTestServer")), root_(emptyNode()) {}

DatabaseTestServer::~DatabaseTestServer() = default;

void DatabaseTestServer::run(const std::function<void()>& work) const { queue_->sync(work); }

std::shared_ptr<FTransportFactory> DatabaseTestServer::transportFactory() {
  return std::make_shared<Factory>(weak_from_this());
}

// -- Links ----------------------------------------------------------------------------------------

uint64_t DatabaseTestServer::openLink(const std::string& url, std::shared_ptr<FTransportDelegate> delegate) {
  attempts_.push_back(url);
  if (!accepting_) {
    ++deliveries_;
    delegate->onTransportClosed();
    return 0;
  }
  const uint64_t id = nextLinkId_++;
  links_[id].delegate = delegate;
  ++deliveries_;
  delegate->onTransportOpened();
  Value handshake{{"ts", Clock::now() * 1000.0 + serverTimeOffsetMs_}, {"s", "session-" + std::to_string(id)}};
  if (handshakeHost_) handshake["h"] = *handshakeHost_;
  send(id, Value{{"t", "h"}, {"d", handshake}});
  return id;
}

void DatabaseTestServer::closeLink(uint64_t linkId) {
  auto it = links_.find(linkId);
  if (it == links_.end()) return;
  Link link = std::move(it->second);
  links_.erase(it);
  ++deliveries_;
  link.delegate->onTransportClosed();
  applyOnDisconnect(link);
}

void DatabaseTestServer::receive(uint64_t linkId, const std::string& text) {
  auto it = links_.find(linkId);
  if (it == links_.end()) return;
  std::optional<Value> frame = value::parseJSON(text);
  if (!frame) return;
  requests_.push_back(Value{{"link", linkId}, {"frame", *frame}});
  // Requests of a held action wait; the others go ahead of them, as a server may answer
  // requests out of order.
  if (isHeld(*frame)) {
    it->second.held.push_back(*frame);
    return;
  }
  process(linkId, *frame);
}

void DatabaseTestServer::send(uint64_t linkId, const Value& frame) {
  auto it = links_.find(linkId);
  if (it == links_.end()) return;
  ++deliveries_;
  it->second.delegate->onTransportMessage(frame.dump());
}

void DatabaseTestServer::answer(uint64_t linkId, uint64_t request, const std::string& status, const Value& data) {
  Value frame{{"t", "r"}, {"r", request}, {"s", status}};
  if (!data.is_null()) frame["d"] = data;
  send(linkId, frame);
}

void DatabaseTestServer::push(uint64_t linkId, const std::string& action, const Value& body) {
  send(linkId, Value{{"t", "p"}, {"a", action}, {"b", body}});
}

// -- Data -----------------------------------------------------------------------------------------

bool DatabaseTestServer::isDenied(const std::string& path) const {
  for (const std::string& denied : denied_) {
    if (pathContains(denied, path)) return true;
  }
  return false;
}

FNodeRef DatabaseTestServer::nodeAt(const std::string& path) const { return root_->getChild(FPath::pathWithString(path)); }

FNodeRef DatabaseTestServer::queryResult(const std::string& path, const Value& params) const {
  FNodeRef node = nodeAt(path);
  FQueryParamsRef query = FQueryParams::fromQueryObject(params);
  if (query->loadsAllData() || node->isLeafNode()) return node;
  const FIndexRef& index = query->index();
  std::vector<FNamedNodeRef> children;
  node->enumerateChildrenUsingBlock([&](const std::string& key, const FNodeRef& child, bool*) {
    children.push_back(FNamedNode::nodeWithName(key, child));
  });
  std::sort(children.begin(), children.end(),
            [&](const FNamedNodeRef& a, const FNamedNodeRef& b) { return index->compareNamedNode(*a, *b) < 0; });
  FNamedNodeRef start = query->hasStart() ? index->makePost(query->indexStartValue(), query->indexStartKey())
                                          : index->minPost();
  FNamedNodeRef end = query->hasEnd() ? index->makePost(query->indexEndValue(), query->indexEndKey())
                                      : index->maxPost();
  std::vector<FNamedNodeRef> inRange;
  for (const FNamedNodeRef& child : children) {
    if (index->compareNamedNode(*start, *child) <= 0 && index->compareNamedNode(*child, *end) <= 0) {
      inRange.push_back(child);
    }
  }
  if (query->limitSet() && static_cast<int64_t>(inRange.size()) > query->limit()) {
    const auto limit = static_cast<size_t>(std::max<int64_t>(0, query->limit()));
    if (query->isViewFromLeft()) {
      inRange.resize(limit);
    } else {
      inRange.erase(inRange.begin(), inRange.end() - static_cast<ptrdiff_t>(limit));
    }
  }
  FNodeRef result = emptyNode();
  for (const FNamedNodeRef& child : inRange) result = result->updateImmediateChild(child->name(), child->node());
  return result;
}

void DatabaseTestServer::change(const std::string& path, const FNodeRef& node, const Value& merge) {
  root_ = root_->updateChild(FPath::pathWithString(path), node);
  for (auto& [linkId, link] : links_) {
    for (const Listen& listen : link.listens) {
      const bool below = pathContains(listen.path, path);
      if (!below && !pathContains(path, listen.path)) continue;
      Value body;
      std::string action = "d";
      if (listen.tag) {
        body = Value{{"p", listen.path}, {"d", queryResult(listen.path, listen.params)->valForExport(true)},
                     {"t", *listen.tag}};
      } else if (below && !merge.is_null()) {
        action = "m";
        body = Value{{"p", path}, {"d", merge}};
      } else if (below) {
        body = Value{{"p", path}, {"d", nodeAt(path)->valForExport(true)}};
      } else {
        body = Value{{"p", listen.path}, {"d", nodeAt(listen.path)->valForExport(true)}};
      }
      push(linkId, action, body);
    }
  }
}

FNodeRef DatabaseTestServer::applyUpdate(FNodeRef node, const Value& children) {
  // One change: what it writes goes in before what it removes, so that a location it leaves with
  // data is never empty on the way (which would drop its priority), and the priorities it writes
  // go in last, once the data they are written beside is there.
  enum Kind { kWrite, kRemoval, kPriority };
  auto kindOf = [](const FPath& path, const FNodeRef& child) {
    if (path.getBack() == std::optional<std::string>(".priority")) return kPriority;
    return child->isEmpty() ? kRemoval : kWrite;
  };
  for (Kind kind : {kWrite, kRemoval, kPriority}) {
    for (auto it = children.begin(); it != children.end(); ++it) {
      FPathRef path = FPath::pathWithString(it.key());
      FNodeRef child = FSnapshotUtilities::nodeFrom(it.value());
      if (kindOf(*path, child) == kind) node = node->updateChild(path, child);
    }
  }
  return node;
}

void DatabaseTestServer::applyOnDisconnect(const Link& link) {
  for (const auto& [action, body] : link.onDisconnect) {
    const std::string path = body["p"].get<std::string>();
    if (action == "o") {
      change(path, FSnapshotUtilities::nodeFrom(body["d"]), Value());
    } else {
      change(path, applyUpdate(nodeAt(path), body["d"]), body["d"]);
    }
  }
}

// -- Requests -------------------------------------------------------------------------------------

void DatabaseTestServer::process(uint64_t linkId, const Value& frame) {
  auto linkIt = links_.find(linkId);
  if (linkIt == links_.end()) return;
  Link& link = linkIt->second;
  if (!frame.is_object() || frame.value("t", "") != "q" || !frame.contains("r")) return;
  const uint64_t request = frame["r"].get<uint64_t>();
  const std::string action = frame.value("a", "");
  const Value body = frame.value("b", Value::object());
  const std::string path = body.value("p", "/");

  if (action == "auth") {
    answer(linkId, request, authFailure_ ? *authFailure_ : "ok");
    return;
  }
  if (action == "unauth") {
    answer(linkId, request, "ok");
    return;
  }
  // A merge is refused when any location it writes is.
  std::string deniedPath = isDenied(path) ? path : std::string();
  if (deniedPath.empty() && (action == "m" || action == "om") && body.contains("d") && body["d"].is_object()) {
    for (auto it = body["d"].begin(); it != body["d"].end() && deniedPath.empty(); ++it) {
      const std::string written = FPath::pathWithString(path)->child(*FPath::pathWithString(it.key()))->toString();
      if (isDenied(written)) deniedPath = written;
    }
  }
  if (!deniedPath.empty()) {
    answer(linkId, request, "permission_denied", Value("Permission denied at " + deniedPath));
    return;
  }
  try {
    if (action == "q") {
      Listen listen{path, body.value("q", Value::object()), std::nullopt};
      if (body.contains("t")) listen.tag = body["t"].get<uint64_t>();
      FNodeRef data = queryResult(path, listen.params);
      const bool unchanged = !listen.tag && body.contains("h") && body["h"] == data->dataHash();
      link.listens.push_back(listen);
      if (!unchanged) {
        Value push{{"p", path}, {"d", data->valForExport(true)}};
        if (listen.tag) push["t"] = *listen.tag;
        this->push(linkId, "d", push);
      }
      answer(linkId, request, "ok");
    } else if (action == "n") {
      auto& listens = link.listens;
      const Value params = body.value("q", Value::object());
      listens.erase(std::remove_if(listens.begin(), listens.end(),
                                   [&](const Listen& l) { return l.path == path && l.params == params; }),
                    listens.end());
      answer(linkId, request, "ok");
    } else if (action == "p") {
      auto stale = stalePuts_.find(FPath(path).toString());
      if (body.contains("h") && stale != stalePuts_.end() && stale->second > 0) {
        stale->second -= 1;
        staleChanges_ += 1;
        FNodeRef current = nodeAt(path);
        Value changed(staleChanges_);
        if (current->isLeafNode() && current->val().is_number_integer()) changed = current->val().get<int64_t>() + 1;
        change(path, FSnapshotUtilities::nodeFrom(changed), Value());
      }
      if (body.contains("h") && body["h"].get<std::string>() != nodeAt(path)->dataHash()) {
        answer(linkId, request, "datastale");
        return;
      }
      change(path, FSnapshotUtilities::nodeFrom(body.value("d", Value())), Value());
      answer(linkId, request, "ok");
    } else if (action == "m") {
      const Value& children = body["d"];
      change(path, applyUpdate(nodeAt(path), children), children);
      answer(linkId, request, "ok");
    } else if (action == "o" || action == "om") {
      link.onDisconnect.emplace_back(action, body);
      answer(linkId, request, "ok");
    } else if (action == "oc") {
      auto& ops = link.onDisconnect;
      ops.erase(std::remove_if(ops.begin(), ops.end(),
                               [&](const std::pair<std::string, Value>& op) {
                                 return pathContains(path, op.second["p"].template get<std::string>());
                               }),
                ops.end());
      answer(linkId, request, "ok");
    } else if (action == "g") {
      answer(linkId, request, "ok", queryResult(path, body.value("q", Value::object()))->valForExport(true));
    } else {
      answer(linkId, request, "unknown_action");
    }
  } catch (const std::exception& e) {
    answer(linkId, request, "invalid_request", Value(e.what()));
  }
}

// -- Test controls --------------------------------------------------------------------------------

Value DatabaseTestServer::valueAt(const std::string& path) const {
  Value result;
  run([&] { result = nodeAt(path)->valForExport(true); });
  return result;
}

Value DatabaseTestServer::queryValueAt(const std::string& path, const Value& params) const {
  Value result;
  run([&] { result = queryResult(path, params)->valForExport(true); });
  return result;
}

void DatabaseTestServer::setValue(const std::string& path, const Value& value) {
  run([&] { change(path, FSnapshotUtilities::nodeFrom(value), Value()); });
}

void DatabaseTestServer::denyPath(const std::string& path) {
  run([&] { denied_.insert(FPath(path).toString()); });
}

void DatabaseTestServer::allowPath(const std::string& path) {
  run([&] { denied_.erase(FPath(path).toString()); });
}

void DatabaseTestServer::setAuthFailure(std::optional<std::string> status) {
  run([&] { authFailure_ = std::move(status); });
}

void DatabaseTestServer::dropConnections() {
  run([&] {
    std::vector<uint64_t> ids;
    for (const auto& [id, link] : links_) ids.push_back(id);
    for (uint64_t id : ids) closeLink(id);
  });
}

void DatabaseTestServer::setAcceptingConnections(bool accepting) {
  run([&] { accepting_ = accepting; });
}

bool DatabaseTestServer::isHeld(const Value& frame) const {
  return holdAll_ || heldActions_.count(frame.is_object() ? frame.value("a", "") : "") > 0;
}

void DatabaseTestServer::holdRequests(bool holding, const std::string& action) {
  run([&] {
    if (action.empty()) {
      holdAll_ = holding;
    } else if (holding) {
      heldActions_.insert(action);
    } else {
      heldActions_.erase(action);
    }
    if (!holding) processReleased();
  });
}

void DatabaseTestServer::holdRequests(bool holding, const std::vector<std::string>& actions) {
  run([&] {
    for (const std::string& action : actions) {
      if (holding) {
        heldActions_.insert(action);
      } else {
        heldActions_.erase(action);
      }
    }
    if (!holding) processReleased();
  });
}

void DatabaseTestServer::processReleased() {
  std::vector<uint64_t> ids;
  for (const auto& [id, link] : links_) ids.push_back(id);
  for (uint64_t id : ids) {
    auto it = links_.find(id);
    if (it == links_.end()) continue;
    std::vector<Value> held;
    held.swap(it->second.held);
    for (const Value& frame : held) {
      auto link = links_.find(id);
      if (link == links_.end()) break;
      if (isHeld(frame)) {
        link->second.held.push_back(frame);
      } else {
        process(id, frame);
      }
    }
  }
}

void DatabaseTestServer::setServerTimeOffsetMs(double offset) {
  run([&] { serverTimeOffsetMs_ = offset; });
}

void DatabaseTestServer::setHandshakeHost(std::optional<std::string> host) {
  run([&] { handshakeHost_ = std::move(host); });
}

void DatabaseTestServer::sendRawFrame(const std::string& frame) {
  run([&] {
    for (auto& [id, link] : links_) {
      ++deliveries_;
      link.delegate->onTransportMessage(frame);
    }
  });
}

void DatabaseTestServer::makeConditionalPutsStale(const std::string& path, int count) {
  run([&] { stalePuts_[FPath(path).toString()] = count; });
}

void DatabaseTestServer::revokeListens(const std::string& path) {
  run([&] {
    const std::string normalized = FPath(path).toString();
    for (auto& [id, link] : links_) {
      auto& listens = link.listens;
      for (auto it = listens.begin(); it != listens.end();) {
        if (FPath(it->path).toString() == normalized) {
          push(id, "c", Value{{"p", it->path}, {"q", it->params}});
          it = listens.erase(it);
        } else {
          ++it;
        }
      }
    }
  });
}

std::vector<Value> DatabaseTestServer::requests() const {
  std::vector<Value> out;
  run([&] { out = requests_; });
  return out;
}

std::vector<Value> DatabaseTestServer::requestsWithAction(const std::string& action) const {
  std::vector<Value> out;
  for (const Value& request : requests()) {
    if (request["frame"].value("a", "") == action) out.push_back(request);
  }
  return out;
}

std::vector<std::string> DatabaseTestServer::connectionAttempts() const {
  std::vector<std::string> out;
  run([&] { out = attempts_; });
  return out;
}

size_t DatabaseTestServer::deliveries() const {
  size_t result = 0;
  run([&] { result = deliveries_; });
  return result;
}

size_t DatabaseTestServer::openLinkCount() const {
  size_t count = 0;
  run([&] { count = links_.size(); });
  return count;
}

std::vector<Value> DatabaseTestServer::activeListens() const {
  std::vector<Value> out;
  run([&] {
    for (const auto& [id, link] : links_) {
      for (const Listen& listen : link.listens) {
        Value entry{{"p", listen.path}, {"q", listen.params}};
        if (listen.tag) entry["t"] = *listen.tag;
        out.push_back(entry);
      }
    }
  });
  return out;
}

}  // namespace testsupport
