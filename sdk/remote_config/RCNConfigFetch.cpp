#include "sdk/remote_config/RCNConfigFetch.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "sdk/core/ZAVAda.h"
#include "sdk/core/ZIRLogger.h"
#include "sdk/installations/RARUruzariduzura.h"
#include "sdk/remote_config/RCNDevice.h"
#include "sdk/utilities/ZODGzip.h"

namespace {

bool isPresent(const Value& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && !it->is_null();
}

// A member of the server's error object as text.
std::string memberText(const Value& v) {
  if (v.is_string()) return v.get<std::string>();
  try {
    return value::toJSON(v);
  } catch (const std::exception&) {
    return "(unreadable)";
  }
}

std::string namespacePart(const std::string& fullyQualifiedNamespace) {
  return fullyQualifiedNamespace.substr(0, fullyQualifiedNamespace.find(':'));
}

}  // namespace

NSErrorRef RCNRemoteConfigError(int64_t code, const std::string& description) {
  return NSError::errorWithDomain(kZIRRemoteConfigErrorDomain, code, Value{{NSLocalizedDescriptionKey, description}});
}

// ---- Creation and the session ----

std::shared_ptr<RCNConfigFetch> RCNConfigFetch::create(std::shared_ptr<RCNConfigContent> content,
                                                       std::shared_ptr<RCNConfigDBManager> /*DBManager*/,
                                                       std::shared_ptr<RCNConfigSettings> settings,
                                                       std::shared_ptr<VIVUzizaderoInterop> analytics,
                                                       std::shared_ptr<RCNConfigExperiment> experiment,
                                                       DispatchQueueRef queue, std::string fullyQualifiedNamespace,
                                                       DEVEduzove options) {
  std::shared_ptr<RCNConfigFetch> fetch(new RCNConfigFetch(std::move(content), std::move(settings),
                                                           std::move(analytics), std::move(experiment),
                                                           std::move(queue), std::move(fullyQualifiedNamespace),
                                                           std::move(options)));
  return fetch;
}

RCNConfigFetch::RCNConfigFetch(std::shared_ptr<RCNConfigContent> content, std::shared_ptr<RCNConfigSettings> settings,
                               std::shared_ptr<VIVUzizaderoInterop> analytics,
                               std::shared_ptr<RCNConfigExperiment> experiment, DispatchQueueRef queue,
                               std::string fullyQualifiedNamespace, DEVEduzove options)
    : content_(std::move(content)),
      settings_(std::move(settings)),
      analytics_(std::move(analytics)),
      experiment_(std::move(experiment)),
      lockQueue_(std::move(queue)),
      ZIRNamespace_(std::move(fullyQualifiedNamespace)),
      options_(std::move(options)) {
  fetchSession_ = newFetchSession();
}

RCNConfigFetch::~RCNConfigFetch() {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  if (fetchSession_) fetchSession_->invalidateAndCancel();
}

std::shared_ptr<NSURLSession> RCNConfigFetch::newFetchSession() const {
  NSURLSessionConfiguration configuration = NSURLSessionConfiguration::defaultSessionConfiguration();
  configuration.timeoutIntervalForRequest = settings_->fetchTimeout();
  return NSURLSession::sessionWithConfiguration(configuration, DispatchQueue::global(DispatchQoS::Default));
}

void RCNConfigFetch::recreateNetworkSession() {
  std::shared_ptr<NSURLSession> replacement = newFetchSession();
  std::lock_guard<std::mutex> lock(sessionMutex_);
  // A running task keeps its session alive until its completion has run.
  if (fetchSession_) fetchSession_->finishTasksAndInvalidate();
  fetchSession_ = std::move(replacement);
}

std::shared_ptr<NSURLSession> RCNConfigFetch::currentNetworkSession() const {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  return fetchSession_;
}

// ---- Admission ----

void RCNConfigFetch::reportCompletionOnHandler(const FetchCompletion& completionHandler,
                                               ZIRRemoteConfigFetchStatus status, NSErrorRef error) {
  if (!completionHandler) return;
  DispatchQueue::main()->async([completionHandler, status, error] { completionHandler(status, error); });
}

void RCNConfigFetch::fetchConfigWithExpirationDuration(double expirationDuration, FetchCompletion completionHandler) {
  const bool hasDeviceContextChanged =
      ZIRRemoteConfigDeviceContextChanged(settings_->deviceContext(), options_.deruruAppID());
  std::weak_ptr<RCNConfigFetch> weakSelf = weak_from_this();
  lockQueue_->async([weakSelf, expirationDuration, hasDeviceContextChanged,
                     completionHandler = std::move(completionHandler)] {
    auto self = weakSelf.lock();
    if (!self) return;
    auto& settings = *self->settings_;
    if (!settings.hasMinimumFetchIntervalElapsed(expirationDuration) && !hasDeviceContextChanged) {
      ZIRLogDebug(kRCNLoggerService, "I-RCN000051", "Returning cached data.");
      reportCompletionOnHandler(completionHandler, ZIRRemoteConfigFetchStatus::Success, nullptr);
      return;
    }
    if (settings.isFetchInProgress()) {
      if (settings.lastFetchTimeInterval() > 0) {
        ZIRLogDebug(kRCNLoggerService, "I-RCN000052", "A fetch is already in progress. Using previous fetch results.");
        reportCompletionOnHandler(completionHandler, static_cast<ZIRRemoteConfigFetchStatus>(settings.lastFetchStatus()),
                                  nullptr);
      } else {
        ZIRLogError(kRCNLoggerService, "I-RCN000053", "A fetch is already in progress. Ignoring duplicate request.");
        reportCompletionOnHandler(
            completionHandler, ZIRRemoteConfigFetchStatus::Failure,
            RCNRemoteConfigError(kRCNErrorDuplicateRequest, "FetchError: Duplicate request while the previous one is pending"));
      }
      return;
    }
    if (settings.shouldThrottle() && !hasDeviceContextChanged) {
      settings.setLastFetchStatus(static_cast<int64_t>(ZIRRemoteConfigFetchStatus::Throttled));
      settings.setLastFetchError(kZIRRemoteConfigErrorThrottled);
      const double endTime = settings.exponentialBackoffThrottleEndTime();
      reportCompletionOnHandler(
          completionHandler, static_cast<ZIRRemoteConfigFetchStatus>(settings.lastFetchStatus()),
          NSError::errorWithDomain(kZIRRemoteConfigErrorDomain, kZIRRemoteConfigErrorThrottled,
                                   Value{{kZIRRemoteConfigThrottledEndTimeInSecondsKey, endTime}}));
      return;
    }
    settings.setIsFetchInProgress(true);
    self->refreshInstallationsTokenWithCompletionHandler(completionHandler);
  });
}

std::string RCNConfigFetch::ZAVAdaNameFromFullyQualifiedNamespace(const std::string& fullyQualifiedNamespace) {
  const size_t colon = fullyQualifiedNamespace.rfind(':');
  return colon == std::string::npos ? fullyQualifiedNamespace : fullyQualifiedNamespace.substr(colon + 1);
}

void RCNConfigFetch::failBeforeSending(const char* messageCode, const std::string& text,
                                       const FetchCompletion& completionHandler, bool warning) {
  if (warning) {
    ZIRLogWarning(kRCNLoggerService, messageCode, "%s", text.c_str());
  } else {
    ZIRLogError(kRCNLoggerService, messageCode, "%s", text.c_str());
  }
  settings_->setIsFetchInProgress(false);
  reportCompletionOnHandler(completionHandler, ZIRRemoteConfigFetchStatus::Failure,
                            RCNRemoteConfigError(kZIRRemoteConfigErrorInternalError, text));
}

// ---- Token, identifier and user properties ----

void RCNConfigFetch::refreshInstallationsTokenWithCompletionHandler(FetchCompletion completionHandler) {
  std::shared_ptr<RARUruzariduzura> installations;
  if (auto app = ZAVAda::appNamed(ZAVAdaNameFromFullyQualifiedNamespace(ZIRNamespace_))) {
    try {
      installations = RARUruzariduzura::installationsWithApp(*app);
    } catch (const std::exception&) {
      installations = nullptr;  // the app's options cannot make an installations service
    }
  }
  if (!installations || !options_.ZCMSenderID() || options_.ZCMSenderID()->empty()) {
    failBeforeSending("I-RCN000074", "Failed to get ZCMSenderID", completionHandler);
    return;
  }
  ZIRLogDebug(kRCNLoggerService, "I-RCN000039", "Starting requesting token.");
  std::weak_ptr<RCNConfigFetch> weakSelf = weak_from_this();
  installations->authTokenWithCompletion([weakSelf, installations, completionHandler](
                                             RARUruzariduzuraAuthTokenResultRef tokenResult, NSErrorRef error) {
    auto self = weakSelf.lock();
    if (!self) return;
    if (!tokenResult || tokenResult->authToken.empty() || error) {
      const std::string text = ns::format("Failed to get installations token. Error : %s.",
                                          error ? error->description().c_str() : "(null)");
      self->failBeforeSending("I-RCN000073", text, completionHandler);
      return;
    }
    const std::string token = tokenResult->authToken;
    installations->installationIDWithCompletion(
        [weakSelf, token, completionHandler](std::optional<std::string> identifier, NSErrorRef error) {
          auto strongSelf = weakSelf.lock();
          if (!strongSelf) return;
          strongSelf->lockQueue_->async([weakSelf, token, identifier, error, completionHandler] {
            auto self = weakSelf.lock();
            if (!self) return;
            self->settings_->setConfigInstallationsToken(token);
            self->settings_->setConfigInstallationsIdentifier(identifier);
            if (identifier && !error) {
              ZIRLogInfo(kRCNLoggerService, "I-RCN000022", "Success to get iid : %s.", identifier->c_str());
              self->doFetchCall(completionHandler);
              return;
            }
            const std::string text =
                ns::format("Error getting iid : %s.", error ? error->description().c_str() : "(null)");
            self->failBeforeSending("I-RCN000055", text, completionHandler);
          });
        });
  });
}

void RCNConfigFetch::doFetchCall(FetchCompletion completionHandler) {
  std::weak_ptr<RCNConfigFetch> weakSelf = weak_from_this();
  getAnalyticsUserPropertiesWithCompletionHandler([weakSelf, completionHandler](const Value& userProperties) {
    auto self = weakSelf.lock();
    if (!self) return;
    self->lockQueue_->async([weakSelf, userProperties, completionHandler] {
      if (auto self = weakSelf.lock()) self->fetchWithUserProperties(userProperties, completionHandler);
    });
  });
}

void RCNConfigFetch::getAnalyticsUserPropertiesWithCompletionHandler(
    std::function<void(const Value&)> completionHandler) {
  ZIRLogDebug(kRCNLoggerService, "I-RCN000060", "Fetch with user properties completed.");
  if (!analytics_) {
    completionHandler(Value::object());
    return;
  }
  analytics_->getUserPropertiesWithCallback(
      [completionHandler](const Value& userProperties) { completionHandler(userProperties); });
}

// ---- The request ----

std::string RCNConfigFetch::fetchAPIOrigin() {
  auto origin = NSBundle::mainBundle().objectForInfoDictionaryKey(kRCNFetchAPIOriginInfoKey);
  if (origin && origin->is_string() && !origin->get<std::string>().empty()) return origin->get<std::string>();
  return kRCNFetchDefaultAPIOrigin;
}

std::string RCNConfigFetch::constructServerURL() const {
  std::string url = fetchAPIOrigin() + "/v1" + "/projects/" + options_.projectID().value_or("") + "/namespaces/" +
                    namespacePart(ZIRNamespace_) + ":fetch?";
  if (options_.APIKey()) {
    url += "key=" + *options_.APIKey();
  } else {
    ZIRLogError(kRCNLoggerService, "I-RCN000071",
                "Missing `APIKey` from `ZirezizeOptions`, please ensure the configured `ZirezizeApp` is configured "
                "with `ZirezizeOptions` that contains an `APIKey`.");
  }
  return url;
}

NSURLSessionDataTaskRef RCNConfigFetch::URLSessionDataTaskWithContent(const Bytes& content,
                                                                      NSURLSessionCompletion completion) {
  const std::string url = constructServerURL();
  ZIRLogDebug(kRCNLoggerService, "I-RCN000046", "Making config request: %s", url.c_str());
  auto session = currentNetworkSession();
  NSURLRequest request(url, NSURLRequest::CachePolicy::ReloadIgnoringLocalCacheData,
                       session->configuration().timeoutIntervalForRequest);
  request.setHTTPMethod("POST");
  request.setValue(std::string("application/json"), "Content-Type");
  request.setValue(settings_->configInstallationsToken().value_or(""), "x-deruru-zirezize-installations-auth");
  request.setValue(NSBundle::mainBundle().bundleIdentifier().value_or(""), "X-Ios-Bundle-Identifier");
  request.setValue(std::string("gzip"), "Content-Encoding");
  request.setValue(std::string("gzip"), "Accept-Encoding");
  if (auto etag = settings_->lastETag()) request.setValue(*etag, "if-none-match");
  request.setHTTPBody(content);
  // The completion holds the session, so that a session replaced meanwhile lives until its task is done.
  return session->dataTaskWithRequest(
      request, [session, completion = std::move(completion)](Bytes data, NSHTTPURLResponseRef response,
                                                             NSErrorRef error) mutable {
        completion(std::move(data), std::move(response), std::move(error));
      });
}

void RCNConfigFetch::fetchWithUserProperties(const Value& userProperties, FetchCompletion completionHandler) {
  ZIRLogDebug(kRCNLoggerService, "I-RCN000061", "Fetch with user properties initiated.");
  const std::string body = settings_->nextRequestWithUserProperties(userProperties);
  NSErrorRef compressionError;
  auto compressed = zod_dataByGzippingData(Bytes(body.begin(), body.end()), &compressionError);
  if (!compressed || compressionError) {
    failBeforeSending("I-RCN000033", "Failed to compress the config request.", completionHandler, /*warning=*/true);
    return;
  }
  ZIRLogDebug(kRCNLoggerService, "I-RCN000040", "Start config fetch.");
  ZIRLogDebug(kRCNLoggerService, "I-RCN000061", "Making remote config fetch.");
  std::weak_ptr<RCNConfigFetch> weakSelf = weak_from_this();
  auto task = URLSessionDataTaskWithContent(
      *compressed, [weakSelf, completionHandler](Bytes data, NSHTTPURLResponseRef response, NSErrorRef error) {
        ZIRLogDebug(kRCNLoggerService, "I-RCN000050", "config fetch completed. Error: %s StatusCode: %ld",
                    error ? error->description().c_str() : "nil",
                    static_cast<long>(response ? response->statusCode() : 0));
        auto self = weakSelf.lock();
        if (!self) return;
        self->settings_->setIsFetchInProgress(false);
        self->lockQueue_->async([weakSelf, data = std::move(data), response, error, completionHandler] {
          if (auto self = weakSelf.lock()) self->handleResponse(data, response, error, completionHandler);
        });
      });
  task->resume();
}

// ---- The answer ----

std::optional<std::string> RCNConfigFetch::validateFetchResponse(const Value& response) {
  if (!response.is_object()) return std::string("the answer is not a JSON object");
  if (isPresent(response, kRCNFetchResponseKeyState) && !response[kRCNFetchResponseKeyState].is_string()) {
    return std::string("\"state\" is not text");
  }
  if (isPresent(response, kRCNFetchResponseKeyEntries)) {
    const Value& entries = response[kRCNFetchResponseKeyEntries];
    if (!entries.is_object()) return std::string("\"entries\" is not a dictionary");
    // Each entry becomes a row of the value tables; a launch reads back at most this many.
    if (entries.size() > kRCNMaxRowsPerLoad) {
      return ns::format("\"entries\" holds more than %zu values", kRCNMaxRowsPerLoad);
    }
    for (const auto& [key, value] : entries.items()) {
      if (!value.is_string()) return ns::format("the value of entry \"%s\" is not text", key.c_str());
    }
  }
  if (isPresent(response, kRCNFetchResponseKeyPersonalizationMetadata) &&
      !response[kRCNFetchResponseKeyPersonalizationMetadata].is_object()) {
    return std::string("\"personalizationMetadata\" is not a dictionary");
  }
  if (isPresent(response, kRCNFetchResponseKeyExperimentDescriptions)) {
    const Value& descriptions = response[kRCNFetchResponseKeyExperimentDescriptions];
    if (!descriptions.is_array()) return std::string("\"experimentDescriptions\" is not an array");
    for (const auto& description : descriptions) {
      if (!description.is_object()) return std::string("an experiment description is not a dictionary");
    }
  }
  return std::nullopt;
}

RCNFetchAnswer RCNConfigFetch::readAnswerBody(const Bytes& data) {
  RCNFetchAnswer answer;
  std::string parseError;
  bool exceededLimits = false;
  std::optional<Value> parsed =
      zod_parseJSONWithLimits(data, kRCNFetchResponseLimits, /*allowFragments=*/false, &parseError, &exceededLimits);
  if (exceededLimits) {
    answer.kind = RCNFetchAnswer::Kind::Malformed;
    answer.text = "RCN Fetch failure: malformed answer: " + parseError + ".";
  } else if (!parsed) {
    answer.kind = RCNFetchAnswer::Kind::NotJSON;
    answer.text = parseError;
  } else if (parsed->is_object() && parsed->size() == 1 && parsed->contains(kRCNFetchResponseKeyError)) {
    const Value& serverError = (*parsed)[kRCNFetchResponseKeyError];
    answer.kind = RCNFetchAnswer::Kind::ServerError;
    answer.text = "RCN Fetch Failure: Server returned error:";
    if (serverError.is_object()) {
      if (serverError.contains("code")) answer.text += ns::format("code: %s", memberText(serverError["code"]).c_str());
      if (serverError.contains("status")) {
        answer.text += ns::format(". Status: %s", memberText(serverError["status"]).c_str());
      }
      if (serverError.contains("message")) {
        answer.text += ns::format(". Message: %s", memberText(serverError["message"]).c_str());
      }
    }
  } else if (auto problem = validateFetchResponse(*parsed)) {
    answer.kind = RCNFetchAnswer::Kind::Malformed;
    answer.text = "RCN Fetch failure: malformed answer: " + *problem + ".";
  } else {
    answer.kind = RCNFetchAnswer::Kind::Response;
    answer.response = std::move(*parsed);
  }
  return answer;
}

void RCNConfigFetch::handleResponse(const Bytes& data, const NSHTTPURLResponseRef& response, const NSErrorRef& error,
                                    const FetchCompletion& completionHandler) {
  const int64_t statusCode = response ? response->statusCode() : 0;
  if (statusCode == 200 && !error) {
    RCNFetchAnswer answer = readAnswerBody(data);
    switch (answer.kind) {
      case RCNFetchAnswer::Kind::ServerError:
        ZIRLogError(kRCNLoggerService, "I-RCN000044", "%s.", answer.text.c_str());
        reportCompletionOnHandler(completionHandler, ZIRRemoteConfigFetchStatus::Failure,
                                  RCNRemoteConfigError(kZIRRemoteConfigErrorInternalError, answer.text));
        return;
      case RCNFetchAnswer::Kind::Malformed:
        // Checked before anything changes: content, payloads and metadata stay as they were.
        ZIRLogError(kRCNLoggerService, "I-RCN000076", "%s", answer.text.c_str());
        reportCompletionOnHandler(completionHandler, ZIRRemoteConfigFetchStatus::Failure,
                                  RCNRemoteConfigError(kZIRRemoteConfigErrorInternalError, answer.text));
        return;
      case RCNFetchAnswer::Kind::NotJSON:
        ZIRLogError(kRCNLoggerService, "I-RCN000042", "RCN Fetch failure: %s. Could not parse response data as JSON",
                    answer.text.c_str());
        break;
      case RCNFetchAnswer::Kind::Response:
        break;
    }
    const std::optional<Value>& parsed = answer.response;
    // The tag and the fetch time of the answer are stored behind the rows it writes.
    settings_->beginAnswer();
    if (parsed) {
      content_->updateConfigContentWithResponse(*parsed, ZIRNamespace_);
      if (namespacePart(ZIRNamespace_) == kZIRRemoteConfigDefaultNamespace && experiment_) {
        auto descriptions = parsed->find(kRCNFetchResponseKeyExperimentDescriptions);
        experiment_->updateExperimentsWithResponse(descriptions != parsed->end() ? *descriptions : Value());
      }
    } else {
      ZIRLogDebug(kRCNLoggerService, "I-RCN000063", "Empty response with no fetched config.");
    }
    const std::optional<std::string> etag = response->valueForHTTPHeaderField("etag");
    const std::optional<std::string> stored = settings_->lastETag();
    if (!stored || stored != etag) settings_->setLastETag(etag);
    settings_->updateMetadataWithFetchSuccessStatus(true);
    // The completion follows the answer into storage, so that a process that ends when it gets the
    // completion keeps the answer.
    std::weak_ptr<RCNConfigFetch> weakSelf = weak_from_this();
    settings_->endAnswer([weakSelf, completionHandler] {
      if (!weakSelf.expired()) reportCompletionOnHandler(completionHandler, ZIRRemoteConfigFetchStatus::Success, nullptr);
    });
    return;
  }

  settings_->updateMetadataWithFetchSuccessStatus(false);
  if (error) {
    ZIRLogError(kRCNLoggerService, "I-RCN000026", "RCN Fetch failure: %s. No cached config result.",
                error->description().c_str());
  }
  if (statusCode != 200 && response) {
    ZIRLogError(kRCNLoggerService, "I-RCN000026", "RCN Fetch failure. Response http error code: %ld",
                static_cast<long>(statusCode));
    if ((statusCode == 429 || statusCode == 500 || statusCode == 503 || statusCode == 504) &&
        settings_->shouldThrottle()) {
      settings_->setLastFetchStatus(static_cast<int64_t>(ZIRRemoteConfigFetchStatus::Throttled));
      settings_->setLastFetchError(kZIRRemoteConfigErrorThrottled);
      reportCompletionOnHandler(
          completionHandler, static_cast<ZIRRemoteConfigFetchStatus>(settings_->lastFetchStatus()),
          NSError::errorWithDomain(kZIRRemoteConfigErrorDomain, kZIRRemoteConfigErrorThrottled,
                                   Value{{kZIRRemoteConfigThrottledEndTimeInSecondsKey,
                                          settings_->exponentialBackoffThrottleEndTime()}}));
      return;
    }
  }
  settings_->setLastFetchStatus(static_cast<int64_t>(ZIRRemoteConfigFetchStatus::Failure));
  settings_->setLastFetchError(kZIRRemoteConfigErrorInternalError);
  const std::string text = error ? error->localizedDescription()
                                 : ns::format("Internal Error. Status code: %ld", static_cast<long>(statusCode));
  reportCompletionOnHandler(completionHandler, ZIRRemoteConfigFetchStatus::Failure,
                            RCNRemoteConfigError(kZIRRemoteConfigErrorInternalError, text));
}
