// Frames from a database server as the persistent connection receives them: the input, split at
// new lines, is one frame per line, delivered after a handshake (when the first byte is even) to a
// connection with a listen, a put, a merge, an onDisconnect request and a one-time read
// outstanding. The delegate applies the data to a sync tree with a default listen at the root and
// a filtered one below it, as the repository does, and the read's answer becomes a node. Nothing
// may crash; what cannot be read or applied is dropped. Large seeds (paths and data at and beyond
// the depth limits) are written by make-seeds.
#include "platform/dispatch/Dispatch.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/core/FSyncTree.h"
#include "sdk/database/realtime/FDataEvent.h"
#include "sdk/database/realtime/FPersistentConnection.h"
#include "sdk/database/realtime/FValueEventRegistration.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

class Delegate : public FPersistentConnectionDelegate {
 public:
  Delegate() {
    FListenProvider provider;
    provider.startListening = [](const FQuerySpecRef&, std::optional<uint64_t>, const FSyncTreeHashRef&,
                                 const FListenProvider::Completion&) { return FEventList{}; };
    provider.stopListening = [](const FQuerySpecRef&, std::optional<uint64_t>) {};
    tree_ = std::make_shared<FSyncTree>(nullptr, provider);
    auto registration = [this] {
      return std::make_shared<const FValueEventRegistration>(nullptr, nextHandle_++, [](const ZIRDataSnapshotRef&) {},
                                                             [](const NSErrorRef&) {});
    };
    tree_->addEventRegistration(registration(), FQuerySpec::defaultQueryAtPath(FPath::empty()));
    tree_->addEventRegistration(
        registration(), std::make_shared<const FQuerySpec>(FPath::pathWithString("/a"),
                                                           FQueryParams::fromQueryObject(Value{{"l", 2}, {"vf", "l"}})));
  }

  void onDataUpdate(FPersistentConnection&, const std::string& pathString, const Value& message, bool isMerge,
                    std::optional<uint64_t> tagId) override {
    FPathRef path = FPath::pathWithString(pathString);
    if (isMerge) {
      FCompoundWriteRef merge = FCompoundWrite::compoundWriteWithValueDictionary(message);
      consume(tagId ? tree_->applyTaggedQueryMergeAtPath(path, merge, *tagId) : tree_->applyServerMergeAtPath(path, merge));
    } else {
      FNodeRef node = FSnapshotUtilities::nodeFrom(message);
      consume(tagId ? tree_->applyTaggedQueryOverwriteAtPath(path, node, *tagId)
                    : tree_->applyServerOverwriteAtPath(path, node));
    }
  }
  void onRangeMerge(const std::vector<FRangeMerge>& ranges, const std::string& pathString,
                    std::optional<uint64_t> tagId) override {
    FPathRef path = FPath::pathWithString(pathString);
    consume(tagId ? tree_->applyTaggedServerRangeMergeAtPath(path, ranges, *tagId)
                  : tree_->applyServerRangeMergeAtPath(path, ranges));
  }
  void onConnect(FPersistentConnection&) override {}
  void onDisconnect(FPersistentConnection&) override {}
  void onServerInfoUpdate(FPersistentConnection&, const Value&) override {}

 private:
  // What a listener reads of its events. Not their descriptions: those write the data out by a
  // recursion per level, which the path and the data below it together may exceed in this build.
  static void consume(const FEventList& events) {
    for (const FEventRef& event : events) {
      (void)event->path();
      if (!event->isCancelEvent()) (void)std::static_pointer_cast<const FDataEvent>(event)->snapshot()->value();
    }
  }
  std::shared_ptr<FSyncTree> tree_;
  uint64_t nextHandle_ = 1;
};

// A link that opens at once and hands the fuzzed frames to the connection.
class Transport : public FTransport {
 public:
  explicit Transport(std::shared_ptr<FTransportDelegate> delegate) : delegate_(std::move(delegate)) {}
  void open() override { delegate_->onTransportOpened(); }
  void send(const std::string&) override {}
  void close() override {}
  std::shared_ptr<FTransportDelegate> delegate_;
};

class Factory : public FTransportFactory {
 public:
  std::shared_ptr<FTransport> transportWithURL(const std::string&, std::shared_ptr<FTransportDelegate> delegate) override {
    last = std::make_shared<Transport>(std::move(delegate));
    return last;
  }
  std::shared_ptr<Transport> last;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::privateHome();
  static DispatchQueueRef queue = DispatchQueue::serial("ZirezizeWorker");
  auto factory = std::make_shared<Factory>();
  auto config = std::make_shared<ZIRDatabaseConfig>("default");
  config->setTransportFactory(factory);
  auto repoInfo = std::make_shared<const FRepoInfo>("fuzz.example.com", true, "ns");
  auto connection = std::make_shared<FPersistentConnection>(repoInfo, queue, config);
  auto delegate = std::make_shared<Delegate>();
  connection->setDelegate(delegate);
  queue->sync([&] { connection->open(); });
  queue->sync([] {});
  if (!factory->last) return 0;
  auto frames = std::string(fuzzsupport::asText(data, size));
  if (size > 0 && data[0] % 2 == 0) {
    factory->last->delegate_->onTransportMessage(R"({"t":"h","d":{"ts":1000,"s":"s1"}})");
  }
  queue->sync([&] {
    auto query = std::make_shared<const FQuerySpec>(FPath::pathWithString("/a"), FQueryParams::defaultInstance());
    connection->listen(query, 1, nullptr, [](const std::string&) {});
    connection->putData(Value(1), "/a", std::nullopt, [](const std::string&, const std::optional<std::string>&) {});
    connection->mergeData(Value{{"b", 1}}, "/a", [](const std::string&, const std::optional<std::string>&) {});
    connection->onDisconnectPutData(Value(1), FPath::pathWithString("/a"),
                                    [](const std::string&, const std::optional<std::string>&) {});
    connection->getDataAtPath("/a", Value::object(),
                              [](const std::string&, const std::optional<Value>& answer, const std::optional<std::string>&) {
                                if (answer) (void)FSnapshotUtilities::nodeFrom(*answer)->dataHash();
                              });
  });
  size_t start = 0;
  while (start <= frames.size()) {
    size_t end = frames.find('\n', start);
    if (end == std::string::npos) end = frames.size();
    factory->last->delegate_->onTransportMessage(frames.substr(start, end - start));
    start = end + 1;
  }
  factory->last->delegate_->onTransportClosed();
  queue->sync([&] {
    connection->purgeOutstandingWrites();
    connection.reset();
  });
  return 0;
}
