#pragma once
// URL requests, HTTP responses and sessions over libcurl. A data task runs on its own worker
// thread and hands (data, response, error) to the session's delegate queue. Requests are never
// cached; gzip and deflate responses are decoded; plain http is allowed only for loopback hosts.
//
// What is refused before anything is sent: a header field whose value holds CR, LF or NUL (or whose
// name is no plain token), which would otherwise become extra header lines; a method that is no
// token; and every request when the running libcurl is older than 7.85 or refuses an option the
// task sets (the protocol restriction and its redirect guard among them), since the transfer would
// then run without the guard. An exception thrown inside curl's callbacks ends the transfer with
// an error instead of unwinding through curl.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

inline constexpr const char* NSURLErrorDomain = "NSURLErrorDomain";
inline constexpr const char* NSURLErrorFailingURLStringErrorKey = "NSErrorFailingURLStringKey";
inline constexpr int64_t NSURLErrorUnknown = -1;
inline constexpr int64_t NSURLErrorCancelled = -999;
inline constexpr int64_t NSURLErrorBadURL = -1000;
inline constexpr int64_t NSURLErrorTimedOut = -1001;
inline constexpr int64_t NSURLErrorUnsupportedURL = -1002;
inline constexpr int64_t NSURLErrorCannotFindHost = -1003;
inline constexpr int64_t NSURLErrorCannotConnectToHost = -1004;
inline constexpr int64_t NSURLErrorNetworkConnectionLost = -1005;
inline constexpr int64_t NSURLErrorBadServerResponse = -1011;
inline constexpr int64_t NSURLErrorAppTransportSecurityRequiresSecureConnection = -1022;
inline constexpr int64_t NSURLErrorCannotDecodeContentData = -1016;
inline constexpr int64_t NSURLErrorDataLengthExceedsMaximum = -1103;
inline constexpr int64_t NSURLErrorSecureConnectionFailed = -1200;

inline constexpr double NSURLRequestDefaultTimeoutInterval = 60;

using NSHTTPHeaderList = std::vector<std::pair<std::string, std::string>>;

// Case-insensitive equality of header field names.
bool NSHTTPHeaderNameEquals(const std::string& a, const std::string& b);

// A (mutable) URL request.
class NSURLRequest {
 public:
  enum class CachePolicy {
    UseProtocolCachePolicy = 0,
    ReloadIgnoringLocalCacheData = 1,
    ReloadIgnoringLocalAndRemoteCacheData = 4,
  };

  explicit NSURLRequest(std::string url = "",
                        CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy,
                        double timeoutInterval = NSURLRequestDefaultTimeoutInterval)
      : URL_(std::move(url)), cachePolicy_(cachePolicy), timeoutInterval_(timeoutInterval) {}

  const std::string& URL() const { return URL_; }
  const std::string& HTTPMethod() const { return HTTPMethod_; }
  void setHTTPMethod(std::string method) { HTTPMethod_ = std::move(method); }
  const Bytes& HTTPBody() const { return HTTPBody_; }
  void setHTTPBody(Bytes body) { HTTPBody_ = std::move(body); }
  void setHTTPBody(const std::string& body) { HTTPBody_.assign(body.begin(), body.end()); }
  double timeoutInterval() const { return timeoutInterval_; }
  void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }
  CachePolicy cachePolicy() const { return cachePolicy_; }

  // The header fields in the order they were first set.
  const NSHTTPHeaderList& allHTTPHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
  // Sets (replacing in place, case-insensitively) or, for nullopt, removes a field.
  void setValue(const std::optional<std::string>& value, const std::string& field);
  // Appends to an existing field with ",", or adds it.
  void addValue(const std::string& value, const std::string& field);

 private:
  std::string URL_;
  std::string HTTPMethod_ = "GET";
  Bytes HTTPBody_;
  CachePolicy cachePolicy_;
  double timeoutInterval_;
  NSHTTPHeaderList headers_;
};
using NSMutableURLRequest = NSURLRequest;

class NSHTTPURLResponse {
 public:
  NSHTTPURLResponse(std::string url, int64_t statusCode, NSHTTPHeaderList headers)
      : URL_(std::move(url)), statusCode_(statusCode), headers_(std::move(headers)) {}
  const std::string& URL() const { return URL_; }
  int64_t statusCode() const { return statusCode_; }
  // Header fields as received (a repeated field keeps its last value).
  const NSHTTPHeaderList& allHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;

 private:
  std::string URL_;
  int64_t statusCode_;
  NSHTTPHeaderList headers_;
};
using NSHTTPURLResponseRef = std::shared_ptr<const NSHTTPURLResponse>;

class NSURLSessionConfiguration {
 public:
  static NSURLSessionConfiguration defaultSessionConfiguration();
  static NSURLSessionConfiguration ephemeralSessionConfiguration();

  double timeoutIntervalForRequest = NSURLRequestDefaultTimeoutInterval;
  // The most one answer's body may hold once decoded (gzip and deflate expand); a larger answer
  // fails with NSURLErrorDataLengthExceedsMaximum and hands over no data.
  size_t maximumResponseBodyBytes = 32 << 20;
  // Headers added to every request that does not set them itself.
  NSHTTPHeaderList HTTPAdditionalHeaders;
  bool ephemeral = false;  // nothing is stored either way: no cache, no cookies
};

using NSURLSessionCompletion =
    std::function<void(Bytes data, NSHTTPURLResponseRef response, NSErrorRef error)>;

class NSURLSession;

class NSURLSessionDataTask : public std::enable_shared_from_this<NSURLSessionDataTask> {
 public:
  enum class State { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };

  // Starts the task (a task starts suspended). Later calls do nothing.
  void resume();
  // Stops the task; its completion reports NSURLErrorCancelled (unless it already completed).
  void cancel();
  State state() const { return state_.load(); }

  struct Private;
  NSURLSessionDataTask(std::weak_ptr<NSURLSession> session, NSURLRequest request,
                       NSURLSessionCompletion completion, DispatchQueueRef delegateQueue,
                       NSURLSessionConfiguration configuration);
  ~NSURLSessionDataTask();

 private:
  friend class NSURLSession;
  void run();
  void complete(Bytes data, NSHTTPURLResponseRef response, NSErrorRef error);

  std::weak_ptr<NSURLSession> session_;
  NSURLRequest request_;
  NSURLSessionCompletion completion_;
  DispatchQueueRef delegateQueue_;
  NSURLSessionConfiguration configuration_;
  std::mutex completionMutex_;
  std::atomic<State> state_{State::Suspended};
  std::atomic<bool> cancelled_{false};
};
using NSURLSessionDataTaskRef = std::shared_ptr<NSURLSessionDataTask>;

// For tests only: stand-ins for what a test cannot make the installed library do on demand. A task
// reads them once when it starts; the defaults (zero, empty) leave the real library alone.
struct NSURLSessionTestSeams {
  // The running libcurl's version as curl numbers it (0x075400 is 7.84.0).
  unsigned curlVersion = 0;
  // A CURLoption whose setting fails as it would on a library that lacks it.
  int refusedCurlOption = 0;
  // Runs inside curl's header and body callbacks before they handle their bytes; may throw.
  std::function<void()> insideCurlCallback;
};
void NSURLSessionSetTestSeams(NSURLSessionTestSeams seams);

class NSURLSession : public std::enable_shared_from_this<NSURLSession> {
 public:
  // A session; completions run on delegateQueue, or on a serial queue of the session's own.
  static std::shared_ptr<NSURLSession> sessionWithConfiguration(
      NSURLSessionConfiguration configuration, DispatchQueueRef delegateQueue = nullptr);

  // A suspended task; resume() starts it.
  NSURLSessionDataTaskRef dataTaskWithRequest(const NSURLRequest& request,
                                              NSURLSessionCompletion completion);
  // Lets running tasks finish; tasks resumed afterwards fail at once.
  void finishTasksAndInvalidate();
  // Cancels running tasks and invalidates.
  void invalidateAndCancel();
  bool isInvalidated() const { return invalidated_.load(); }

  const NSURLSessionConfiguration& configuration() const { return configuration_; }
  DispatchQueueRef delegateQueue() const { return delegateQueue_; }

  NSURLSession(NSURLSessionConfiguration configuration, DispatchQueueRef delegateQueue);
  // Cancels what still runs and waits for the worker threads.
  ~NSURLSession();

 private:
  friend class NSURLSessionDataTask;
  void startWorker(const NSURLSessionDataTaskRef& task);
  void reapFinishedWorkers();

  NSURLSessionConfiguration configuration_;
  DispatchQueueRef delegateQueue_;
  std::atomic<bool> invalidated_{false};
  std::mutex mutex_;
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
    std::weak_ptr<NSURLSessionDataTask> task;
  };
  std::vector<Worker> workers_;
};
