// Server data, listen answers and user writes in any order through one sync tree, as the
// connection and the repository hand them over. The input is a JSON array of steps (at most
// kMaxSteps, the text at most kMaxInputBytes); each step is an array naming an operation and its
// arguments (see runStep). Server input that the engine refuses must be refused with one of the
// named failures the connection catches; anything else (a crash, a sanitizer report, another
// exception, an internal inconsistency of the engine) is a finding.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "platform/foundation/NSException.h"
#include "platform/foundation/Value.h"
#include "sdk/database/core/FListenContainer.h"
#include "sdk/database/core/FSyncTree.h"
#include "sdk/database/realtime/FChildEventRegistration.h"
#include "sdk/database/realtime/FDataEvent.h"
#include "sdk/database/realtime/FValueEventRegistration.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

constexpr size_t kMaxInputBytes = 64 * 1024;
constexpr size_t kMaxSteps = 256;

class Clock : public FClock {
 public:
  double currentTime() const override { return 1.0e9; }
};

struct Engine {
  std::shared_ptr<FSyncTree> tree;
  std::map<std::string, FListenProvider::Completion> completions;  // by the listened query
  int64_t nextWriteId = 0;
  uint64_t nextHandle = 1;

  Engine() {
    FListenProvider provider;
    provider.startListening = [this](const FQuerySpecRef& query, std::optional<uint64_t>, const FSyncTreeHashRef& hash,
                                     const FListenProvider::Completion& onComplete) {
      // The hashes are what the connection sends with the listen: compute them as it would.
      if (hash->describesDataBelow()) {
        (void)hash->simpleHash();
        if (hash->includeCompoundHash()) (void)hash->compoundHash();
      }
      completions[query->description()] = onComplete;
      return FEventList{};
    };
    provider.stopListening = [this](const FQuerySpecRef& query, std::optional<uint64_t>) {
      completions.erase(query->description());
    };
    tree = std::make_shared<FSyncTree>(nullptr, provider);
  }
};

const Value& arg(const Value& step, size_t i) {
  static const Value null;
  return step.is_array() && i < step.size() ? step[i] : null;
}
std::string text(const Value& v) { return v.is_string() ? v.get<std::string>() : std::string(); }
uint64_t number(const Value& v) { return v.is_number_unsigned() ? v.get<uint64_t>() : v.is_number_integer() ? static_cast<uint64_t>(v.get<int64_t>()) : 0; }
FPathRef pathOf(const Value& v) { return FPath::pathWithString(text(v)); }
FQuerySpecRef queryOf(const Value& step) {
  return std::make_shared<const FQuerySpec>(pathOf(arg(step, 1)), FQueryParams::fromQueryObject(arg(step, 2)));
}
FCompoundWriteRef mergeOf(const Value& v) { return FCompoundWrite::compoundWriteWithValueDictionary(v); }
std::vector<FRangeMerge> rangeOf(const Value& step) {
  auto optionalPath = [](const Value& v) { return v.is_string() ? FPath::pathWithString(v.get<std::string>()) : nullptr; };
  return {FRangeMerge(optionalPath(arg(step, 2)), optionalPath(arg(step, 3)), FSnapshotUtilities::nodeFrom(arg(step, 4)))};
}

// Everything a user callback would read of the events.
void consume(const FEventList& events) {
  for (const FEventRef& event : events) {
    (void)event->path();
    (void)event->description();
    if (!event->isCancelEvent()) (void)std::static_pointer_cast<const FDataEvent>(event)->snapshot()->value();
  }
}

FEventRegistrationRef registration(Engine& engine) {
  FChildEventCallbacks callbacks;
  for (FEventType type : {FEventTypeChildAdded, FEventTypeChildRemoved, FEventTypeChildChanged, FEventTypeChildMoved}) {
    callbacks[type] = [](const ZIRDataSnapshotRef&, const std::optional<std::string>&) {};
  }
  if (engine.nextHandle % 2) {
    return std::make_shared<const FChildEventRegistration>(nullptr, engine.nextHandle++, callbacks,
                                                           [](const NSErrorRef&) {});
  }
  return std::make_shared<const FValueEventRegistration>(nullptr, engine.nextHandle++, [](const ZIRDataSnapshotRef&) {},
                                                         [](const NSErrorRef&) {});
}

void runStep(Engine& engine, const Value& step) {
  const std::string op = text(arg(step, 0));
  FSyncTree& tree = *engine.tree;
  Clock clock;
  if (op == "listen") {
    consume(tree.addEventRegistration(registration(engine), queryOf(step)));
  } else if (op == "unlisten") {
    consume(tree.removeEventRegistration(nullptr, queryOf(step), nullptr));
  } else if (op == "answer") {  // ["answer", path, params, status]
    auto found = engine.completions.find(queryOf(step)->description());
    if (found != engine.completions.end()) consume(FListenProvider::Completion(found->second)(text(arg(step, 3))));
  } else if (op == "keep") {
    tree.keepQuery(queryOf(step), arg(step, 3).is_boolean() && arg(step, 3).get<bool>());
  } else if (op == "get") {
    (void)tree.getServerValue(queryOf(step));
  } else if (op == "server") {
    consume(tree.applyServerOverwriteAtPath(pathOf(arg(step, 1)), FSnapshotUtilities::nodeFrom(arg(step, 2))));
  } else if (op == "merge") {
    consume(tree.applyServerMergeAtPath(pathOf(arg(step, 1)), mergeOf(arg(step, 2))));
  } else if (op == "complete") {
    consume(tree.applyListenCompleteAtPath(pathOf(arg(step, 1))));
  } else if (op == "range") {  // ["range", path, start, end, updates]
    consume(tree.applyServerRangeMergeAtPath(pathOf(arg(step, 1)), rangeOf(step)));
  } else if (op == "tagged") {  // ["tagged", path, value, tag]
    consume(tree.applyTaggedQueryOverwriteAtPath(pathOf(arg(step, 1)), FSnapshotUtilities::nodeFrom(arg(step, 2)),
                                                 number(arg(step, 3))));
  } else if (op == "tmerge") {
    consume(tree.applyTaggedQueryMergeAtPath(pathOf(arg(step, 1)), mergeOf(arg(step, 2)), number(arg(step, 3))));
  } else if (op == "tcomplete") {  // ["tcomplete", path, tag]
    consume(tree.applyTaggedListenCompleteAtPath(pathOf(arg(step, 1)), number(arg(step, 2))));
  } else if (op == "trange") {  // ["trange", path, start, end, updates, tag]
    consume(tree.applyTaggedServerRangeMergeAtPath(pathOf(arg(step, 1)), rangeOf(step), number(arg(step, 5))));
  } else if (op == "set") {  // ["set", path, value, hidden]
    const bool visible = !(arg(step, 3).is_boolean() && arg(step, 3).get<bool>());
    consume(tree.applyUserOverwriteAtPath(pathOf(arg(step, 1)), FSnapshotUtilities::nodeFrom(arg(step, 2)),
                                          engine.nextWriteId++, visible));
  } else if (op == "update") {
    consume(tree.applyUserMergeAtPath(pathOf(arg(step, 1)), mergeOf(arg(step, 2)), engine.nextWriteId++));
  } else if (op == "ack" || op == "revert") {  // the repository acknowledges only pending writes
    const auto id = static_cast<int64_t>(number(arg(step, 1)));
    if (tree.pendingWriteTree()->writeForId(id)) consume(tree.ackUserWriteWithWriteId(id, op == "revert", true, clock));
  } else if (op == "calc") {
    (void)tree.calcCompleteEventCacheAtPath(pathOf(arg(step, 1)), std::nullopt);
  } else if (op == "removeAll") {
    consume(tree.removeAllWrites());
  }
}

// The failures the connection and the repository catch at their boundary: data that does not make
// a node or query, data tagged for a path outside its query, a refused limit.
bool isBoundaryRefusal(const NSException& e) {
  if (e.name() == "InvalidZirezizeData" || e.name() == "InvalidLeafValueType" || e.name() == NSInvalidArgumentException) {
    return true;
  }
  return e.name() == "ZirezizeDatabaseInternalError" &&
         (e.reason().rfind("innerPath", 0) == 0 || e.reason().rfind("Tagged range merge", 0) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInputBytes) return 0;
  std::optional<Value> program = value::parseJSON(fuzzsupport::asText(data, size));
  if (!program || !program->is_array()) return 0;
  Engine engine;
  size_t steps = 0;
  for (const Value& step : *program) {
    if (++steps > kMaxSteps) break;
    try {
      runStep(engine, step);
    } catch (const NSException& e) {
      if (!isBoundaryRefusal(e)) {
        std::fprintf(stderr, "sync tree: unexpected %s: %s\n", e.name().c_str(), e.reason().c_str());
        std::abort();
      }
    }
  }
  return 0;
}
