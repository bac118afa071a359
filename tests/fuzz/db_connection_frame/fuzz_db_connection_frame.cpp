// Frames from a database server as the persistent connection receives them: the input, split at
// new lines, is one frame per line, delivered after a handshake (when the first byte is even) to a
// connection with a listen, a put, a merge, an onDisconnect request and a one-time read
// outstanding. The delegate turns the data into nodes and compound writes as the repository
// does. Nothing may crash; what cannot be read or applied is dropped.
#include "platform/dispatch/Dispatch.h"
#include "sdk/database/core/FCompoundWrite.h"
#include "sdk/database/realtime/FPersistentConnection.h"
#include "sdk/database/snapshot/FSnapshotUtilities.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

class Delegate : public FPersistentConnectionDelegate {
 public:
  void onDataUpdate(FPersistentConnection&, const std::string& path, const Value& message, bool isMerge,
                    std::optional<uint64_t>) override {
    FPathRef at = FPath::pathWithString(path);
    if (isMerge) {
      (void)FCompoundWrite::compoundWriteWithValueDictionary(message)->applyToNode(FSnapshotUtilities::nodeFrom(Value()));
    } else {
      (void)FSnapshotUtilities::nodeFrom(message)->dataHash();
    }
    (void)at;
  }
  void onRangeMerge(const std::vector<FRangeMerge>& ranges, const std::string&,
                    std::optional<uint64_t>) override {
    FNodeRef node = FSnapshotUtilities::nodeFrom(Value{{"a", 1}, {"m", 2}, {"z", 3}});
    for (const auto& range : ranges) node = range.applyToNode(node);
  }
  void onConnect(FPersistentConnection&) override {}
  void onDisconnect(FPersistentConnection&) override {}
  void onServerInfoUpdate(FPersistentConnection&, const Value&) override {}
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
                              [](const std::string&, const std::optional<Value>&, const std::optional<std::string>&) {});
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
