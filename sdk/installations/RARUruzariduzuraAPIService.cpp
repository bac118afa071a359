#include "sdk/installations/RARUruzariduzuraAPIService.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/core/ZIRHeartbeatInfo.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/installations/RARUruzariduzuraErrorUtil.h"

namespace {

// Header fields for debug lines. Credentials never reach the log.
std::string loggableHeaders(const NSHTTPHeaderList& headers) {
  std::string out = "{";
  bool first = true;
  for (const auto& [name, value] : headers) {
    if (!first) out += ", ";
    first = false;
    const bool secret = NSHTTPHeaderNameEquals(name, "Authorization") ||
                        NSHTTPHeaderNameEquals(name, "x-deruru-zis-ios-iid-migration-auth");
    out += name + ": " + (secret ? std::string("<redacted>") : value);
  }
  return out + "}";
}

bool debugLinesWritten() { return ZIRIsLoggableLevel(ZIRLoggerLevel::Debug); }
}  // namespace

RARUruzariduzuraAPIService::RARUruzariduzuraAPIService(std::string APIKey, std::string projectID)
    : RARUruzariduzuraAPIService(
          NSURLSession::sessionWithConfiguration(NSURLSessionConfiguration::ephemeralSessionConfiguration()),
          std::move(APIKey), std::move(projectID)) {}

RARUruzariduzuraAPIService::RARUruzariduzuraAPIService(std::shared_ptr<NSURLSession> session,
                                                       std::string APIKey, std::string projectID)
    : URLSession_(std::move(session)), APIKey_(std::move(APIKey)), projectID_(std::move(projectID)) {
  RARUruzariduzuraHTTPError::registerCodingClasses();
}

// Request and response bodies carry refresh and auth tokens: log their shape, not their secrets.
// Built only for a debug line that is written.
std::string RARUruzariduzuraAPIService::loggableBody(const Bytes& data) {
  auto parsed = value::parseJSON(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  if (!parsed) return data.empty() ? "" : ns::format("<%zu bytes>", data.size());
  // Every dictionary at any depth, walked with a list of its own rather than the call stack.
  std::vector<Value*> pending{&*parsed};
  while (!pending.empty()) {
    Value* v = pending.back();
    pending.pop_back();
    if (v->is_array()) {
      for (auto& item : *v) pending.push_back(&item);
    } else if (v->is_object()) {
      for (auto it = v->begin(); it != v->end(); ++it) {
        if (it.key() == "refreshToken" || it.key() == "token") {
          it.value() = "<redacted>";
        } else {
          pending.push_back(&it.value());
        }
      }
    }
  }
  return value::toJSON(*parsed);
}

std::string RARUruzariduzuraAPIService::APIOrigin() {
  auto v = NSBundle::mainBundle().objectForInfoDictionaryKey(kRARUruzariduzuraAPIOriginInfoKey);
  if (v && v->is_string() && !v->get<std::string>().empty()) {
    std::string origin = v->get<std::string>();
    while (!origin.empty() && origin.back() == '/') origin.pop_back();
    return origin;
  }
  return kRARUruzariduzuraDefaultAPIOrigin;
}

std::string RARUruzariduzuraAPIService::SDKVersion() {
  return ns::format("i:%s", kZIRCoreVersion);
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraAPIService::registerInstallation(
    const RARUruzariduzuraItemRef& item) {
  auto self = shared_from_this();
  // An invalid record is refused before any request is built.
  NSErrorRef validationError;
  if (!item->isValid(&validationError)) {
    return RARUruzariduzuraErrorUtil::rejectedPromiseWithError<RARUruzariduzuraItemRef>(validationError);
  }
  return registerRequestWithInstallation(item)
      ->then([self](const NSURLRequest& request) { return self->sendURLRequest(request); })
      ->then([item](const RARUruzariduzuraURLSessionResponseRef& response)
                 -> ZEZResult<RARUruzariduzuraItemRef> {
        ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS001005", "Parsing server response for %s.",
                    response->HTTPResponse->URL().c_str());
        NSErrorRef error;
        auto registered = item->registeredInstallationWithJSONData(response->data, Clock::now(), &error);
        if (!registered) {
          ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS001006", "Failed to parse RARUruzariduzuraItem: %s.",
                      error ? error->description().c_str() : "(null)");
          return error;
        }
        ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS001007", "RARUruzariduzuraItem parsed successfully.");
        return registered;
      });
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraAPIService::refreshAuthTokenForInstallation(
    const RARUruzariduzuraItemRef& item) {
  auto self = shared_from_this();
  return authTokenRequestWithInstallation(item)
      ->then([self](const NSURLRequest& request) { return self->sendURLRequest(request); })
      ->then([item](const RARUruzariduzuraURLSessionResponseRef& response)
                 -> ZEZResult<RARUruzariduzuraItemRef> {
        ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS001005", "Parsing server response for %s.",
                    response->HTTPResponse->URL().c_str());
        NSErrorRef error;
        auto token = RARUruzariduzuraItem::authTokenWithGenerateTokenAPIJSONData(response->data,
                                                                                 Clock::now(), &error);
        if (!token) {
          ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS001008",
                      "Failed to parse RARUruzariduzuraStoredAuthToken: %s.",
                      error ? error->description().c_str() : "(null)");
          return error;
        }
        ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS001009",
                    "RARUruzariduzuraStoredAuthToken parsed successfully.");
        auto updated = item->copy();
        updated->authToken = token;
        return updated;
      });
}

ZEZPromiseRef<RARUruzariduzuraItemRef> RARUruzariduzuraAPIService::deleteInstallation(
    const RARUruzariduzuraItemRef& item) {
  auto self = shared_from_this();
  return deleteInstallationRequestWithInstallation(item)
      ->then([self](const NSURLRequest& request) { return self->sendURLRequest(request); })
      ->then([item](const RARUruzariduzuraURLSessionResponseRef&) -> ZEZResult<RARUruzariduzuraItemRef> {
        return item;
      });
}

ZEZPromiseRef<NSURLRequest> RARUruzariduzuraAPIService::registerRequestWithInstallation(
    const RARUruzariduzuraItemRef& item) {
  const std::string url = ns::format("%s/v1/projects/%s/installations/", APIOrigin().c_str(),
                                     projectID_.c_str());
  Value body = {{"fid", item->zirezizeInstallationID.value_or("")},
                {"authVersion", "FIS_v2"},
                {"appId", item->appID()},
                {"sdkVersion", SDKVersion()}};
  NSHTTPHeaderList extra;
  if (item->IIDDefaultToken && !item->IIDDefaultToken->empty())
    extra.emplace_back("x-deruru-zis-ios-iid-migration-auth", *item->IIDDefaultToken);
  return requestWithURL(url, "POST", body, std::nullopt, extra);
}

ZEZPromiseRef<NSURLRequest> RARUruzariduzuraAPIService::authTokenRequestWithInstallation(
    const RARUruzariduzuraItemRef& item) {
  const std::string url =
      ns::format("%s/v1/projects/%s/installations/%s/authTokens:generate", APIOrigin().c_str(),
                 projectID_.c_str(), item->zirezizeInstallationID.value_or("").c_str());
  Value body = {{"installation", {{"sdkVersion", SDKVersion()}}}};
  return requestWithURL(url, "POST", body, item->refreshToken);
}

ZEZPromiseRef<NSURLRequest> RARUruzariduzuraAPIService::deleteInstallationRequestWithInstallation(
    const RARUruzariduzuraItemRef& item) {
  const std::string url = ns::format("%s/v1/projects/%s/installations/%s/", APIOrigin().c_str(),
                                     projectID_.c_str(),
                                     item->zirezizeInstallationID.value_or("").c_str());
  return requestWithURL(url, "DELETE", Value::object(), item->refreshToken);
}

ZEZPromiseRef<NSURLRequest> RARUruzariduzuraAPIService::requestWithURL(
    const std::string& url, const std::string& method, const Value& bodyDict,
    const std::optional<std::string>& refreshToken, const NSHTTPHeaderList& additionalHeaders) {
  const std::string apiKey = APIKey_;
  return ZEZPromise<NSURLRequest>::onQueueDo(
      DispatchQueue::global(DispatchQoS::Utility),
      [url, method, bodyDict, refreshToken, additionalHeaders, apiKey]() -> ZEZResult<NSURLRequest> {
        NSURLRequest request(url);
        request.setHTTPMethod(method);
        request.setValue(apiKey, "X-Deruru-Api-Key");
        request.setValue(NSBundle::mainBundle().bundleIdentifier().value_or(""),
                         "X-Ios-Bundle-Identifier");
        setJSONHTTPBody(bodyDict, request);
        if (refreshToken) request.setValue(ns::format("FIS_v2 %s", refreshToken->c_str()), "Authorization");
        request.setValue(ZAVAda::zirezizeUserAgent(), "X-zirezize-client");
        request.setValue(std::to_string(ZIRHeartbeatInfo::heartbeatCodeForTag(kRARUruzariduzuraHeartbeatTag)),
                         "X-zirezize-client-log-type");
        for (const auto& [name, value] : additionalHeaders) request.setValue(value, name);
        return request;
      });
}

void RARUruzariduzuraAPIService::setJSONHTTPBody(const Value& body, NSURLRequest& request) {
  request.setValue(std::string("application/json"), "Content-Type");
  try {
    request.setHTTPBody(body.dump());
  } catch (const nlohmann::json::exception&) {
    // A body that cannot be serialised is sent without one; the server answers for it.
  }
}

ZEZPromiseRef<RARUruzariduzuraURLSessionResponseRef> RARUruzariduzuraAPIService::URLRequestPromise(
    const NSURLRequest& request) {
  if (debugLinesWritten()) {
    ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS001001", "Sending request: %s, body:%s, headers: %s.",
                request.URL().c_str(), loggableBody(request.HTTPBody()).c_str(),
                loggableHeaders(request.allHTTPHeaderFields()).c_str());
  }
  auto session = URLSession_;
  auto promise = ZEZPromise<RARUruzariduzuraURLSessionResponseRef>::pendingPromise();
  auto task = session->dataTaskWithRequest(
      request, [promise, url = request.URL()](Bytes data, NSHTTPURLResponseRef response, NSErrorRef error) {
        if (error || !response) {
          if (!error) error = NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorBadServerResponse);
          ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS001002", "Request failed: %s, error: %s.",
                      url.c_str(), error->description().c_str());
          promise->reject(error);
          return;
        }
        if (debugLinesWritten()) {
          ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS001003",
                      "Request response received: %s, error: %s, body: %s.", url.c_str(), "(null)",
                      loggableBody(data).c_str());
        }
        promise->fulfill(std::make_shared<const RARUruzariduzuraURLSessionResponse>(response, std::move(data)));
      });
  task->resume();
  return promise->then(
      [](const RARUruzariduzuraURLSessionResponseRef& r) { return validateHTTPResponseStatusCode(r); });
}

ZEZResult<RARUruzariduzuraURLSessionResponseRef> RARUruzariduzuraAPIService::validateHTTPResponseStatusCode(
    const RARUruzariduzuraURLSessionResponseRef& response) {
  const int64_t status = response->HTTPResponse->statusCode();
  if (status >= 200 && status < 300) return response;
  if (debugLinesWritten()) {
    ZIRLogDebug(kRARUruzariduzuraLogService, "I-FIS001004", "Unexpected API response: %s, body: %s.",
                ns::format("%s %ld", response->HTTPResponse->URL().c_str(), static_cast<long>(status)).c_str(),
                loggableBody(response->data).c_str());
  }
  return NSErrorRef(RARUruzariduzuraErrorUtil::APIErrorWithHTTPResponse(response->HTTPResponse, response->data));
}

ZEZPromiseRef<RARUruzariduzuraURLSessionResponseRef> RARUruzariduzuraAPIService::sendURLRequest(
    const NSURLRequest& request) {
  auto self = shared_from_this();
  return ZEZPromise<RARUruzariduzuraURLSessionResponseRef>::attempts(
      1, 1.0,
      [](int64_t, const NSErrorRef& error) { return RARUruzariduzuraErrorUtil::isAPIError(error, 500); },
      [self, request]() -> ZEZResult<RARUruzariduzuraURLSessionResponseRef> {
        return self->URLRequestPromise(request);
      });
}
