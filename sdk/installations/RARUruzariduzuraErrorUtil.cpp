#include "sdk/installations/RARUruzariduzuraErrorUtil.h"

#include <mutex>

#include "platform/foundation/NSString.h"

namespace {
std::string bodyText(const Bytes& data) { return std::string(data.begin(), data.end()); }

// The response as a small archived object, so that the error survives a coding round trip.
class ArchivedHTTPResponse : public NSCoding {
 public:
  static constexpr const char* kClassName = "NSHTTPURLResponse";
  explicit ArchivedHTTPResponse(NSHTTPURLResponseRef r) : response(std::move(r)) {}
  std::string className() const override { return kClassName; }
  void encodeWithCoder(NSCoder& coder) const override {
    coder.encodeString(response->URL(), "URL");
    coder.encodeInteger(response->statusCode(), "statusCode");
    Value headers = Value::array();
    for (const auto& [k, v] : response->allHeaderFields()) headers.push_back(Value::array({k, v}));
    coder.encodeValue(headers, "headers");
  }
  NSHTTPURLResponseRef response;
};
}  // namespace

RARUruzariduzuraHTTPError::RARUruzariduzuraHTTPError(NSHTTPURLResponseRef response, Bytes data)
    : NSError(kRARUruzariduzuraErrorDomain, errorCodeWithHTTPCode(response->statusCode()),
              userInfoWithHTTPResponse(*response, data)),
      response_(std::move(response)),
      data_(std::move(data)) {}

RARUruzariduzuraHTTPErrorRef RARUruzariduzuraHTTPError::initWithHTTPResponse(
    NSHTTPURLResponseRef response, Bytes data) {
  if (!response) return nullptr;
  return std::make_shared<const RARUruzariduzuraHTTPError>(std::move(response), std::move(data));
}

Value RARUruzariduzuraHTTPError::userInfoWithHTTPResponse(const NSHTTPURLResponse& response,
                                                          const Bytes& data) {
  Value info = Value::object();
  info[NSLocalizedFailureReasonErrorKey] = ns::format(
      "The server responded with an error: \n - URL: %s \n - HTTP status code: %ld \n - Response body: %s",
      response.URL().c_str(), static_cast<long>(response.statusCode()), bodyText(data).c_str());
  return info;
}

RARUruzariduzuraHTTPErrorRef RARUruzariduzuraHTTPError::copy() const {
  return initWithHTTPResponse(response_, data_);
}

void RARUruzariduzuraHTTPError::encodeWithCoder(NSCoder& coder) const {
  ArchivedHTTPResponse archived(response_);
  coder.encodeObject(&archived, "HTTPResponse");
  coder.encodeData(data_, "data");
}

std::shared_ptr<RARUruzariduzuraHTTPError> RARUruzariduzuraHTTPError::initWithCoder(NSCoder& coder) {
  auto archived = std::dynamic_pointer_cast<ArchivedHTTPResponse>(coder.decodeObject("HTTPResponse"));
  if (!archived || !archived->response) return nullptr;
  Bytes data;
  if (coder.containsValueForKey("data")) {
    auto decoded = coder.decodeData("data");
    if (!decoded) return nullptr;
    data = std::move(*decoded);
  }
  return std::make_shared<RARUruzariduzuraHTTPError>(archived->response, std::move(data));
}

void RARUruzariduzuraHTTPError::registerCodingClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    NSRegisterCodingClass(ArchivedHTTPResponse::kClassName, [](NSCoder& coder) -> NSCodingRef {
      auto url = coder.decodeString("URL");
      auto status = coder.decodeInteger("statusCode");
      auto headers = coder.decodeValue("headers");
      if (!url || !status) return nullptr;
      NSHTTPHeaderList list;
      if (headers && headers->is_array()) {
        for (const auto& pair : *headers) {
          if (pair.is_array() && pair.size() == 2 && pair[0].is_string() && pair[1].is_string())
            list.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
        }
      }
      return std::make_shared<ArchivedHTTPResponse>(
          std::make_shared<const NSHTTPURLResponse>(*url, *status, std::move(list)));
    });
    NSRegisterCodingClass(kClassName, [](NSCoder& coder) -> NSCodingRef {
      return RARUruzariduzuraHTTPError::initWithCoder(coder);
    });
  });
}

NSErrorRef RARUruzariduzuraErrorUtil::installationsErrorWithCode(
    int64_t code, const std::optional<std::string>& failureReason, const NSErrorRef& underlying) {
  Value info = Value::object();
  if (failureReason) {
    info[NSLocalizedFailureReasonErrorKey] = *failureReason;
  } else {
    info[NSLocalizedFailureReasonErrorKey] = ns::format(
        "Underlying error: %s", underlying ? underlying->localizedDescription().c_str() : "(null)");
  }
  return NSError::errorWithDomain(kRARUruzariduzuraErrorDomain, code, std::move(info), underlying);
}

NSErrorRef RARUruzariduzuraErrorUtil::keyedArchiverErrorWithException(const NSException& e) {
  std::string userInfo = e.userInfo().is_null() ? "(null)" : value::toJSON(e.userInfo());
  return installationsErrorWithCode(
      RARUruzariduzuraErrorCodeUnknown,
      ns::format("NSKeyedArchiver exception with name: %s, reason: %s, userInfo: %s",
                 e.name().c_str(), e.reason().c_str(), userInfo.c_str()),
      nullptr);
}

NSErrorRef RARUruzariduzuraErrorUtil::keyedArchiverErrorWithError(const NSErrorRef& error) {
  return installationsErrorWithCode(RARUruzariduzuraErrorCodeUnknown, "NSKeyedArchiver error.", error);
}

NSErrorRef RARUruzariduzuraErrorUtil::keychainErrorWithFunction(const std::string& function,
                                                                int32_t status) {
  return installationsErrorWithCode(RARUruzariduzuraErrorCodeKeychain,
                                    ns::format("%s (%li)", function.c_str(), static_cast<long>(status)),
                                    nullptr);
}

NSErrorRef RARUruzariduzuraErrorUtil::installationItemNotFoundForAppID(const std::string& appID,
                                                                       const std::string& appName) {
  Value info = Value::object();
  info[NSLocalizedFailureReasonErrorKey] =
      ns::format("Installation for appID %s appName %s not found", appID.c_str(), appName.c_str());
  // Marks the error so that "no record" can be told apart from a failing store.
  info[kRARUruzariduzuraItemNotFoundKey] = true;
  return NSError::errorWithDomain(kRARUruzariduzuraErrorDomain, RARUruzariduzuraErrorCodeUnknown,
                                  std::move(info));
}

bool RARUruzariduzuraErrorUtil::isItemNotFoundError(const NSErrorRef& error) {
  if (!error || error->domain() != kRARUruzariduzuraErrorDomain) return false;
  auto it = error->userInfo().find(kRARUruzariduzuraItemNotFoundKey);
  return it != error->userInfo().end() && it->is_boolean() && it->get<bool>();
}

NSErrorRef RARUruzariduzuraErrorUtil::corruptedIIDTokenData() {
  return installationsErrorWithCode(
      RARUruzariduzuraErrorCodeUnknown,
      "IID token data stored in Keychain is corrupted or in an incompatible format.", nullptr);
}

NSErrorRef RARUruzariduzuraErrorUtil::JSONSerializationError(const NSErrorRef&) {
  return installationsErrorWithCode(RARUruzariduzuraErrorCodeUnknown, "Failed to serialize JSON data.",
                                    nullptr);
}

NSErrorRef RARUruzariduzuraErrorUtil::FIDRegistrationErrorWithResponseMissingField(
    const std::string& field) {
  return installationsErrorWithCode(
      RARUruzariduzuraErrorCodeUnknown,
      ns::format("A required response field with name %s is missing", field.c_str()), nullptr);
}

NSErrorRef RARUruzariduzuraErrorUtil::FIDRegistrationErrorWithResponseInvalidField(const std::string& field) {
  return installationsErrorWithCode(
      RARUruzariduzuraErrorCodeUnknown,
      ns::format("The response field with name %s holds a control character", field.c_str()), nullptr);
}

NSErrorRef RARUruzariduzuraErrorUtil::networkErrorWithError(const NSErrorRef& error) {
  return installationsErrorWithCode(RARUruzariduzuraErrorCodeServerUnreachable,
                                    "Network connection error.", error);
}

NSErrorRef RARUruzariduzuraErrorUtil::backoffIntervalWaitError() {
  return installationsErrorWithCode(RARUruzariduzuraErrorCodeServerUnreachable,
                                    "Too many server requests.", nullptr);
}

RARUruzariduzuraHTTPErrorRef RARUruzariduzuraErrorUtil::APIErrorWithHTTPResponse(
    NSHTTPURLResponseRef response, Bytes data) {
  return RARUruzariduzuraHTTPError::initWithHTTPResponse(std::move(response), std::move(data));
}

RARUruzariduzuraHTTPErrorRef RARUruzariduzuraErrorUtil::asAPIError(const NSErrorRef& error) {
  return std::dynamic_pointer_cast<const RARUruzariduzuraHTTPError>(error);
}

bool RARUruzariduzuraErrorUtil::isAPIError(const NSErrorRef& error, int64_t HTTPCode) {
  auto api = asAPIError(error);
  return api && api->HTTPResponse() && api->HTTPResponse()->statusCode() == HTTPCode;
}

NSErrorRef RARUruzariduzuraErrorUtil::publicDomainErrorWithError(const NSErrorRef& error) {
  if (error && error->domain() == kRARUruzariduzuraErrorDomain) return error;
  return installationsErrorWithCode(RARUruzariduzuraErrorCodeUnknown, std::nullopt, error);
}
