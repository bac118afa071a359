#pragma once
// One remote-configuration fetch for one namespace of one app: decides whether a network fetch may
// happen (minimum interval, a fetch under way, throttling), obtains the installation's auth token
// and identifier, gathers the analytics user properties, POSTs the gzip-compressed request to the
// fetch service and turns the answer into content, experiment payloads, fetch metadata and one
// completion with a fetch status and an optional error.
//
// Owned by its remote-configuration instance. Every step but the network callback runs on the
// shared remote-configuration queue; callbacks hold the fetcher weakly and drop their work when it
// is gone; completions run on the main queue.
//
// A fetch answer is foreign bytes: it is read within kRCNFetchResponseLimits, and an answer whose
// fields have the wrong kind, or with more entries than a launch reads back from the store
// (kRCNMaxRowsPerLoad), is refused before anything is changed (see validateFetchResponse).
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/Dispatch.h"
#include "platform/network/NSURLSession.h"
#include "sdk/core/DEVEduzove.h"
#include "sdk/measurement/VIVUzizaderoInterop.h"
#include "sdk/remote_config/RCNConfigConstants.h"
#include "sdk/remote_config/RCNConfigContent.h"
#include "sdk/remote_config/RCNConfigExperiment.h"
#include "sdk/remote_config/RCNConfigSettings.h"

// What a 200 answer's body says, read before anything is changed.
struct RCNFetchAnswer {
  enum class Kind {
    Response,     // an answer object whose fields have their kinds: `response`
    NotJSON,      // not JSON (an empty body included): a success that changes no content
    ServerError,  // an object holding only "error": a failure, `text` says which
    Malformed,    // beyond the reader's limits, not an object, or fields of the wrong kind
  };
  Kind kind = Kind::NotJSON;
  std::optional<Value> response;
  std::string text;  // the failure's description, or the parse error of a body that is not JSON
};

class RCNConfigFetch : public std::enable_shared_from_this<RCNConfigFetch> {
 public:
  using FetchCompletion = std::function<void(ZIRRemoteConfigFetchStatus status, NSErrorRef error)>;

  static std::shared_ptr<RCNConfigFetch> create(std::shared_ptr<RCNConfigContent> content,
                                                std::shared_ptr<RCNConfigDBManager> DBManager,
                                                std::shared_ptr<RCNConfigSettings> settings,
                                                std::shared_ptr<VIVUzizaderoInterop> analytics,
                                                std::shared_ptr<RCNConfigExperiment> experiment,
                                                DispatchQueueRef queue, std::string fullyQualifiedNamespace,
                                                DEVEduzove options);
  // Invalidates the session, cancelling what still runs.
  ~RCNConfigFetch();

  // A session whose request and resource time-out are the settings' fetch time-out.
  std::shared_ptr<NSURLSession> newFetchSession() const;
  // Replaces the session by a new one (so that a new time-out takes effect). The old session is
  // invalidated but lets a running fetch finish: that fetch is neither cancelled nor counted as a
  // failure.
  void recreateNetworkSession();
  std::shared_ptr<NSURLSession> currentNetworkSession() const;

  // The entry point: throttling, the minimum interval (seconds), then a network fetch.
  void fetchConfigWithExpirationDuration(double expirationDuration, FetchCompletion completionHandler);

  // The last ":"-separated component of a fully qualified namespace.
  static std::string ZAVAdaNameFromFullyQualifiedNamespace(const std::string& fullyQualifiedNamespace);
  // The fetch service's origin from the Info values.
  static std::string fetchAPIOrigin();
  std::string constructServerURL() const;
  NSURLSessionDataTaskRef URLSessionDataTaskWithContent(const Bytes& content, NSURLSessionCompletion completion);

  // Checks the kinds of the fields an answer object is read for: "state" text; "entries" a
  // dictionary of texts; "personalizationMetadata" a dictionary; "experimentDescriptions" an array
  // of dictionaries (null counts as absent). The problem as text, or nullopt when it is sound.
  static std::optional<std::string> validateFetchResponse(const Value& response);
  // Reads a 200 answer's body within kRCNFetchResponseLimits.
  static RCNFetchAnswer readAnswerBody(const Bytes& data);

 private:
  RCNConfigFetch(std::shared_ptr<RCNConfigContent> content, std::shared_ptr<RCNConfigSettings> settings,
                 std::shared_ptr<VIVUzizaderoInterop> analytics, std::shared_ptr<RCNConfigExperiment> experiment,
                 DispatchQueueRef queue, std::string fullyQualifiedNamespace, DEVEduzove options);

  void refreshInstallationsTokenWithCompletionHandler(FetchCompletion completionHandler);
  void doFetchCall(FetchCompletion completionHandler);
  void getAnalyticsUserPropertiesWithCompletionHandler(std::function<void(const Value&)> completionHandler);
  void fetchWithUserProperties(const Value& userProperties, FetchCompletion completionHandler);
  void handleResponse(const Bytes& data, const NSHTTPURLResponseRef& response, const NSErrorRef& error,
                      const FetchCompletion& completionHandler);
  // Fails the fetch before anything was sent: clears the in-progress flag and reports 8003.
  void failBeforeSending(const char* messageCode, const std::string& text, const FetchCompletion& completionHandler,
                         bool warning = false);
  static void reportCompletionOnHandler(const FetchCompletion& completionHandler, ZIRRemoteConfigFetchStatus status,
                                        NSErrorRef error);

  std::shared_ptr<RCNConfigContent> content_;
  std::shared_ptr<RCNConfigSettings> settings_;
  std::shared_ptr<VIVUzizaderoInterop> analytics_;
  std::shared_ptr<RCNConfigExperiment> experiment_;
  DispatchQueueRef lockQueue_;
  std::string ZIRNamespace_;
  DEVEduzove options_;
  mutable std::mutex sessionMutex_;
  std::shared_ptr<NSURLSession> fetchSession_;
};

// An error of the remote-configuration domain with a localized description.
NSErrorRef RCNRemoteConfigError(int64_t code, const std::string& description);
