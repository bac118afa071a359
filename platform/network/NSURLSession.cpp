#include "platform/network/NSURLSession.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>

#include "platform/foundation/NSLog.h"
#include "platform/network/ResponseHeaderCollector.h"
#include "platform/security/Crypto.h"

namespace {

void ensureCurlInitialised() {
  static std::once_flag once;
  std::call_once(once, [] {
    // libcurl starts the crypto library: it must come up kept for the life of the process.
    security::keepCryptoLibraryForTheProcess();
    curl_global_init(CURL_GLOBAL_DEFAULT);
  });
}

NSErrorRef urlError(int64_t code, const std::string& description, const std::string& url) {
  return NSError::errorWithDomain(NSURLErrorDomain, code,
                                  Value{{NSLocalizedDescriptionKey, description},
                                        {NSURLErrorFailingURLStringErrorKey, url}});
}

bool isLoopbackHost(std::string host) {
  std::transform(host.begin(), host.end(), host.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (!host.empty() && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

// The running libcurl's version: 7.85 is the first to take the protocol lists as text
// (CURLOPT_PROTOCOLS_STR); an older library refuses them, and the transfer would run unguarded.
constexpr unsigned kMinimumCurlVersion = 0x075500;

std::mutex& seamsMutex() {
  static auto* m = new std::mutex();
  return *m;
}
NSURLSessionTestSeams& seamsSlot() {
  static auto* s = new NSURLSessionTestSeams();
  return *s;
}
NSURLSessionTestSeams currentSeams() {
  std::lock_guard<std::mutex> lock(seamsMutex());
  return seamsSlot();
}

// Looked up once: the library does not change while the process runs.
unsigned runningCurlVersion(const NSURLSessionTestSeams& seams) {
  static const unsigned version = curl_version_info(CURLVERSION_NOW)->version_num;
  return seams.curlVersion ? seams.curlVersion : version;
}

NSErrorRef unsupportedLibraryError(const NSURLSessionTestSeams& seams, const std::string& url) {
  const unsigned v = runningCurlVersion(seams);
  if (v >= kMinimumCurlVersion) return nullptr;
  return urlError(NSURLErrorUnknown,
                  "The request was not sent: libcurl " + std::to_string(v >> 16) + "." +
                      std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF) +
                      " cannot restrict the protocols a request may use; 7.85 or later is needed.",
                  url);
}

// A header value must stay on its line: CR or LF would start further header lines, and NUL would
// cut the value short where curl reads it as a C string.
bool isSafeHeaderValue(const std::string& value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

// A header name or a method is a token: printable characters without spaces or separators.
bool isToken(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7F || std::strchr("()<>@,;:\\\"/[]?={}", c)) return false;
  }
  return true;
}

// Why the request cannot be sent as it stands, checked before anything goes on the wire.
NSErrorRef unsafeRequestError(const NSURLRequest& request, const NSURLSessionConfiguration& configuration) {
  const std::string& url = request.URL();
  if (!request.HTTPMethod().empty() && !isToken(request.HTTPMethod())) {
    return urlError(NSURLErrorUnknown, "The request was not sent: its method is not a single word.", url);
  }
  for (const NSHTTPHeaderList* list : {&request.allHTTPHeaderFields(), &configuration.HTTPAdditionalHeaders}) {
    for (const auto& [name, value] : *list) {
      if (!isToken(name)) {
        return urlError(NSURLErrorUnknown, "The request was not sent: a header field name is empty or holds "
                        "spaces, separators or control characters.", url);
      }
      if (!isSafeHeaderValue(value)) {
        return urlError(NSURLErrorUnknown, "The request was not sent: the value of header field \"" + name +
                        "\" holds a line break or a NUL character.", url);
      }
    }
  }
  return nullptr;
}

NSErrorRef requestRefusal(const NSURLRequest& request, const NSURLSessionConfiguration& configuration,
                          const NSURLSessionTestSeams& seams) {
  if (NSErrorRef error = unsupportedLibraryError(seams, request.URL())) return error;
  return unsafeRequestError(request, configuration);
}

// Sets the options of one transfer and keeps the first one the library refused: a refused option
// (the protocol restriction, the body limit's callback) would leave the transfer unguarded, so the
// request is then not sent at all.
class CurlOptions {
 public:
  CurlOptions(CURL* curl, int refusedForTesting) : curl_(curl), refusedForTesting_(refusedForTesting) {}
  template <class T>
  void set(CURLoption option, T value) {
    if (failed_ != CURLE_OK) return;
    CURLcode rc = curl_easy_setopt(curl_, option, value);
    if (option == refusedForTesting_) rc = CURLE_UNKNOWN_OPTION;
    if (rc != CURLE_OK) {
      failed_ = rc;
      failedOption_ = option;
    }
  }
  NSErrorRef error(const std::string& url) const {
    if (failed_ == CURLE_OK) return nullptr;
    const curl_easyoption* known = curl_easy_option_by_id(failedOption_);
    return urlError(NSURLErrorUnknown,
                    std::string("The request was not sent: libcurl refused the option ") +
                        (known ? known->name : std::to_string(failedOption_).c_str()) + ": " +
                        curl_easy_strerror(failed_),
                    url);
  }

 private:
  CURL* curl_;
  int refusedForTesting_;
  CURLcode failed_ = CURLE_OK;
  CURLoption failedOption_ = CURLOPT_LASTENTRY;
};

struct Transfer {
  Bytes body;
  net::ResponseHeaderCollector headers;
  std::atomic<bool>* cancelled = nullptr;
  size_t maximumBody = 0;
  bool tooLarge = false;
  std::function<void()> insideCallbackForTesting;
  // What a callback threw; the transfer ended there.
  std::exception_ptr callbackFailure;
};

// curl calls back from C: an exception must not unwind through its frames. One that a callback
// throws is kept and ends the transfer (0 means "stop" to both the body and the header callback).
template <class Body>
size_t guardedCallback(Transfer& t, Body&& body) noexcept {
  try {
    if (t.insideCallbackForTesting) t.insideCallbackForTesting();
    return body();
  } catch (...) {
    t.callbackFailure = std::current_exception();
    return 0;
  }
}

NSErrorRef callbackFailureError(const std::exception_ptr& failure, const std::string& url) {
  std::string what = "an unknown exception";
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  return urlError(NSURLErrorUnknown, "The answer could not be handled: " + what, url);
}

size_t writeBody(char* ptr, size_t size, size_t nmemb, void* userdata) {
  auto* t = static_cast<Transfer*>(userdata);
  return guardedCallback(*t, [&]() -> size_t {
    size_t n = size * nmemb;
    // The body arrives decoded: the limit holds for what a compressed answer expands to.
    if (n > t->maximumBody - t->body.size()) {
      t->tooLarge = true;
      return 0;  // ends the transfer
    }
    t->body.insert(t->body.end(), reinterpret_cast<uint8_t*>(ptr), reinterpret_cast<uint8_t*>(ptr) + n);
    return n;
  });
}

size_t writeHeader(char* ptr, size_t size, size_t nmemb, void* userdata) {
  auto* t = static_cast<Transfer*>(userdata);
  return guardedCallback(*t, [&]() -> size_t {
    t->headers.addLine(std::string_view(ptr, size * nmemb));
    return size * nmemb;
  });
}

int progress(void* userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept {
  auto* t = static_cast<Transfer*>(userdata);
  return t->cancelled->load() ? 1 : 0;
}

NSErrorRef errorForCurlCode(CURLcode code, const std::string& url, const char* detail) {
  std::string text = detail && *detail ? detail : curl_easy_strerror(code);
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return urlError(NSURLErrorTimedOut, "The request timed out.", url);
    case CURLE_COULDNT_RESOLVE_HOST:
      return urlError(NSURLErrorCannotFindHost, "A server with the specified hostname could not be found. " + text, url);
    case CURLE_COULDNT_CONNECT:
      return urlError(NSURLErrorCannotConnectToHost, "Could not connect to the server. " + text, url);
    case CURLE_URL_MALFORMAT:
      return urlError(NSURLErrorBadURL, "unsupported URL", url);
    case CURLE_UNSUPPORTED_PROTOCOL:
      return urlError(NSURLErrorUnsupportedURL, "unsupported URL", url);
    case CURLE_BAD_CONTENT_ENCODING:
      return urlError(NSURLErrorCannotDecodeContentData, "cannot decode raw data. " + text, url);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
      return urlError(NSURLErrorSecureConnectionFailed, "A TLS error caused the secure connection to fail. " + text, url);
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
      return urlError(NSURLErrorNetworkConnectionLost, "The network connection was lost. " + text, url);
    case CURLE_WEIRD_SERVER_REPLY:
      return urlError(NSURLErrorBadServerResponse, "The server returned a malformed answer. " + text, url);
    default:
      return urlError(NSURLErrorUnknown, text, url);
  }
}

// Only http and https go out, and plain http only to this machine: checked before anything goes
// on the wire.
NSErrorRef schemeOrHostRefusal(const std::string& url) {
  CURLU* parsed = curl_url();
  if (!parsed || curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    if (parsed) curl_url_cleanup(parsed);
    return urlError(NSURLErrorBadURL, "unsupported URL", url);
  }
  char* scheme = nullptr;
  char* host = nullptr;
  curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0);
  curl_url_get(parsed, CURLUPART_HOST, &host, 0);
  std::string schemeText = scheme ? scheme : "";
  std::string hostText = host ? host : "";
  curl_free(scheme);
  curl_free(host);
  curl_url_cleanup(parsed);
  std::transform(schemeText.begin(), schemeText.end(), schemeText.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (schemeText != "http" && schemeText != "https") {
    return urlError(NSURLErrorUnsupportedURL, "unsupported URL", url);
  }
  if (schemeText == "http" && !isLoopbackHost(hostText)) {
    return urlError(NSURLErrorAppTransportSecurityRequiresSecureConnection,
                    "The resource could not be loaded because a secure connection is required.", url);
  }
  return nullptr;
}

// The request's own timeout, else the session's; never zero or less.
double requestTimeout(const NSURLRequest& request, const NSURLSessionConfiguration& configuration) {
  double timeout = request.timeoutInterval();
  if (timeout == NSURLRequestDefaultTimeoutInterval) timeout = configuration.timeoutIntervalForRequest;
  if (timeout <= 0) timeout = NSURLRequestDefaultTimeoutInterval;
  return timeout;
}

// What every transfer sets: where it goes, the protocols it may use (redirects to https only),
// decoding, the callbacks that collect the answer and watch for cancellation, and the timeout.
void setTransferOptions(CurlOptions& options, const std::string& url, char* errorBuffer, Transfer& transfer,
                        double timeoutSeconds) {
  options.set(CURLOPT_URL, url.c_str());
  options.set(CURLOPT_ERRORBUFFER, errorBuffer);
  options.set(CURLOPT_NOSIGNAL, 1L);
  options.set(CURLOPT_PROTOCOLS_STR, "http,https");
  options.set(CURLOPT_REDIR_PROTOCOLS_STR, "https");
  options.set(CURLOPT_FOLLOWLOCATION, 1L);
  options.set(CURLOPT_MAXREDIRS, 10L);
  options.set(CURLOPT_ACCEPT_ENCODING, "");  // decode gzip and deflate answers
  options.set(CURLOPT_WRITEFUNCTION, writeBody);
  options.set(CURLOPT_WRITEDATA, &transfer);
  options.set(CURLOPT_HEADERFUNCTION, writeHeader);
  options.set(CURLOPT_HEADERDATA, &transfer);
  options.set(CURLOPT_XFERINFOFUNCTION, progress);
  options.set(CURLOPT_XFERINFODATA, &transfer);
  options.set(CURLOPT_NOPROGRESS, 0L);
  options.set(CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutSeconds * 1000));
}

// curl copies the method and the body, so neither needs to outlive the call.
void setMethodAndBody(CurlOptions& options, const std::string& method, const Bytes& body) {
  if (method == "GET") {
    options.set(CURLOPT_HTTPGET, 1L);
  } else if (method == "HEAD") {
    options.set(CURLOPT_NOBODY, 1L);
  } else {
    if (method != "POST") options.set(CURLOPT_CUSTOMREQUEST, method.c_str());
    if (!body.empty() || method == "POST") {
      options.set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      options.set(CURLOPT_COPYPOSTFIELDS, body.empty() ? "" : reinterpret_cast<const char*>(body.data()));
    }
  }
}

// Headers in the order they were set, then the session's additional ones not set already. The
// caller frees the list after the transfer.
curl_slist* requestHeaderList(const NSURLRequest& request, const NSURLSessionConfiguration& configuration,
                              const std::string& method) {
  curl_slist* headerList = nullptr;
  for (const auto& [name, value] : request.allHTTPHeaderFields()) {
    headerList = curl_slist_append(headerList, (name + ": " + value).c_str());
  }
  for (const auto& [name, value] : configuration.HTTPAdditionalHeaders) {
    if (!request.valueForHTTPHeaderField(name)) {
      headerList = curl_slist_append(headerList, (name + ": " + value).c_str());
    }
  }
  headerList = curl_slist_append(headerList, "Expect:");  // no interim 100 answers
  if (!request.valueForHTTPHeaderField("Content-Type") && method != "GET") {
    headerList = curl_slist_append(headerList, "Content-Type:");  // curl's form default is wrong
  }
  return headerList;
}

// Why a finished transfer hands over no answer, in the order that matters to the caller: a
// cancellation, an answer over the limit, a callback that failed, then curl's own error.
NSErrorRef transferError(CURLcode rc, bool cancelled, const Transfer& transfer, const std::string& url,
                         const std::string& detail) {
  if (rc == CURLE_ABORTED_BY_CALLBACK || cancelled) return urlError(NSURLErrorCancelled, "cancelled", url);
  if (transfer.tooLarge) {
    return urlError(NSURLErrorDataLengthExceedsMaximum,
                    "The answer is larger than " + std::to_string(transfer.maximumBody) + " bytes.", url);
  }
  if (transfer.callbackFailure) return callbackFailureError(transfer.callbackFailure, url);
  if (rc != CURLE_OK) return errorForCurlCode(rc, url, detail.c_str());
  return nullptr;
}

}  // namespace

bool NSHTTPHeaderNameEquals(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::optional<std::string> NSURLRequest::valueForHTTPHeaderField(const std::string& field) const {
  for (const auto& h : headers_) {
    if (NSHTTPHeaderNameEquals(h.first, field)) return h.second;
  }
  return std::nullopt;
}

void NSURLRequest::setValue(const std::optional<std::string>& value, const std::string& field) {
  for (auto it = headers_.begin(); it != headers_.end(); ++it) {
    if (NSHTTPHeaderNameEquals(it->first, field)) {
      if (value) {
        it->second = *value;
      } else {
        headers_.erase(it);
      }
      return;
    }
  }
  if (value) headers_.emplace_back(field, *value);
}

void NSURLRequest::addValue(const std::string& value, const std::string& field) {
  for (auto& h : headers_) {
    if (NSHTTPHeaderNameEquals(h.first, field)) {
      h.second += "," + value;
      return;
    }
  }
  headers_.emplace_back(field, value);
}

std::optional<std::string> NSHTTPURLResponse::valueForHTTPHeaderField(const std::string& field) const {
  for (const auto& h : headers_) {
    if (NSHTTPHeaderNameEquals(h.first, field)) return h.second;
  }
  return std::nullopt;
}

void NSURLSessionSetTestSeams(NSURLSessionTestSeams seams) {
  std::lock_guard<std::mutex> lock(seamsMutex());
  seamsSlot() = std::move(seams);
}

NSURLSessionConfiguration NSURLSessionConfiguration::defaultSessionConfiguration() { return {}; }

NSURLSessionConfiguration NSURLSessionConfiguration::ephemeralSessionConfiguration() {
  NSURLSessionConfiguration c;
  c.ephemeral = true;
  return c;
}

// ---- Task ----

NSURLSessionDataTask::NSURLSessionDataTask(std::weak_ptr<NSURLSession> session, NSURLRequest request,
                                           NSURLSessionCompletion completion,
                                           DispatchQueueRef delegateQueue,
                                           NSURLSessionConfiguration configuration)
    : session_(std::move(session)),
      request_(std::move(request)),
      completion_(std::move(completion)),
      delegateQueue_(std::move(delegateQueue)),
      configuration_(std::move(configuration)) {}

NSURLSessionDataTask::~NSURLSessionDataTask() = default;

void NSURLSessionDataTask::resume() {
  State expected = State::Suspended;
  if (!state_.compare_exchange_strong(expected, State::Running)) return;
  auto session = session_.lock();
  if (!session || session->isInvalidated()) {
    complete({}, nullptr,
             urlError(NSURLErrorCancelled, "The session was invalidated.", request_.URL()));
    return;
  }
  session->startWorker(shared_from_this());
}

void NSURLSessionDataTask::cancel() {
  cancelled_ = true;
  State expected = State::Suspended;
  if (state_.compare_exchange_strong(expected, State::Canceling)) {
    // Never started: it completes now.
    complete({}, nullptr, urlError(NSURLErrorCancelled, "cancelled", request_.URL()));
    return;
  }
  expected = State::Running;
  state_.compare_exchange_strong(expected, State::Canceling);
}

void NSURLSessionDataTask::complete(Bytes data, NSHTTPURLResponseRef response, NSErrorRef error) {
  NSURLSessionCompletion completion;
  {
    std::lock_guard<std::mutex> lock(completionMutex_);
    if (!completion_) return;  // completes once
    completion = std::move(completion_);
    completion_ = nullptr;
  }
  state_ = State::Completed;
  if (!delegateQueue_) return;
  delegateQueue_->async([completion = std::move(completion), data = std::move(data),
                         response = std::move(response), error = std::move(error)]() mutable {
    if (completion) completion(std::move(data), std::move(response), std::move(error));
  });
}

void NSURLSessionDataTask::run() {
  const std::string url = request_.URL();
  if (cancelled_) {
    complete({}, nullptr, urlError(NSURLErrorCancelled, "cancelled", url));
    return;
  }
  if (NSErrorRef refused = schemeOrHostRefusal(url)) {
    complete({}, nullptr, refused);
    return;
  }
  const NSURLSessionTestSeams seams = currentSeams();
  if (NSErrorRef refused = requestRefusal(request_, configuration_, seams)) {
    complete({}, nullptr, refused);
    return;
  }

  ensureCurlInitialised();
  CURL* curl = curl_easy_init();
  if (!curl) {
    complete({}, nullptr, urlError(NSURLErrorUnknown, "The transfer could not be set up.", url));
    return;
  }
  Transfer transfer;
  transfer.cancelled = &cancelled_;
  transfer.maximumBody = configuration_.maximumResponseBodyBytes;
  transfer.insideCallbackForTesting = seams.insideCurlCallback;
  char errorBuffer[CURL_ERROR_SIZE] = {0};
  CurlOptions options(curl, seams.refusedCurlOption);
  setTransferOptions(options, url, errorBuffer, transfer, requestTimeout(request_, configuration_));
  const std::string method = request_.HTTPMethod().empty() ? "GET" : request_.HTTPMethod();
  setMethodAndBody(options, method, request_.HTTPBody());
  curl_slist* headerList = requestHeaderList(request_, configuration_, method);
  options.set(CURLOPT_HTTPHEADER, headerList);
  if (NSErrorRef refused = options.error(url)) {
    curl_slist_free_all(headerList);
    curl_easy_cleanup(curl);
    complete({}, nullptr, refused);
    return;
  }

  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  char* effectiveURL = nullptr;
  curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effectiveURL);
  std::string finalURL = effectiveURL ? effectiveURL : url;
  curl_slist_free_all(headerList);
  std::string detail = errorBuffer;
  curl_easy_cleanup(curl);

  if (NSErrorRef failed = transferError(rc, cancelled_, transfer, url, detail)) {
    complete({}, nullptr, failed);
    return;
  }
  auto response = std::make_shared<const NSHTTPURLResponse>(finalURL, status,
                                                            transfer.headers.takeFields());
  complete(std::move(transfer.body), response, nullptr);
}

// ---- Session ----

NSURLSession::NSURLSession(NSURLSessionConfiguration configuration, DispatchQueueRef delegateQueue)
    : configuration_(std::move(configuration)), delegateQueue_(std::move(delegateQueue)) {
  if (!delegateQueue_) delegateQueue_ = DispatchQueue::serial("NSURLSession.delegateQueue");
}

NSURLSession::~NSURLSession() {
  std::vector<Worker> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers.swap(workers_);
  }
  for (auto& w : workers) {
    if (auto task = w.task.lock()) task->cancel();
  }
  for (auto& w : workers) {
    if (w.thread.joinable()) {
      if (w.thread.get_id() == std::this_thread::get_id()) {
        w.thread.detach();
      } else {
        w.thread.join();
      }
    }
  }
}

std::shared_ptr<NSURLSession> NSURLSession::sessionWithConfiguration(
    NSURLSessionConfiguration configuration, DispatchQueueRef delegateQueue) {
  return std::make_shared<NSURLSession>(std::move(configuration), std::move(delegateQueue));
}

NSURLSessionDataTaskRef NSURLSession::dataTaskWithRequest(const NSURLRequest& request,
                                                          NSURLSessionCompletion completion) {
  return std::make_shared<NSURLSessionDataTask>(weak_from_this(), request, std::move(completion),
                                                delegateQueue_, configuration_);
}

void NSURLSession::reapFinishedWorkers() {
  // Caller holds mutex_.
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      if (it->thread.joinable()) it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void NSURLSession::startWorker(const NSURLSessionDataTaskRef& task) {
  std::lock_guard<std::mutex> lock(mutex_);
  reapFinishedWorkers();
  auto done = std::make_shared<std::atomic<bool>>(false);
  Worker w;
  w.done = done;
  w.task = task;
  w.thread = std::thread([task, done] {
    task->run();
    *done = true;
  });
  workers_.push_back(std::move(w));
}

void NSURLSession::finishTasksAndInvalidate() { invalidated_ = true; }

void NSURLSession::invalidateAndCancel() {
  invalidated_ = true;
  std::vector<std::shared_ptr<NSURLSessionDataTask>> running;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& w : workers_) {
      if (auto t = w.task.lock()) running.push_back(t);
    }
  }
  for (auto& t : running) t->cancel();
}
