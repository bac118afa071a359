#pragma once
// Every error the installations service reports, in the domain "com.zirezize.installations", and
// the HTTP error that carries the server's response.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/network/NSURLSession.h"
#include "sdk/promises/ZEZPromise.h"

inline constexpr const char* kRARUruzariduzuraErrorDomain = "com.zirezize.installations";
inline constexpr const char* kRARUruzariduzuraItemNotFoundKey = "RARUruzariduzuraItemNotFound";
inline constexpr const char* kRARUruzariduzuraLogService = "[Zirezize/Installations]";

enum RARUruzariduzuraErrorCode : int64_t {
  RARUruzariduzuraErrorCodeUnknown = 0,
  RARUruzariduzuraErrorCodeKeychain = 1,
  RARUruzariduzuraErrorCodeServerUnreachable = 2,
};

// A non-2xx answer of the installations service: code 0, with the response and the body kept.
class RARUruzariduzuraHTTPError : public NSError, public NSCoding {
 public:
  RARUruzariduzuraHTTPError(NSHTTPURLResponseRef response, Bytes data);
  static std::shared_ptr<const RARUruzariduzuraHTTPError> initWithHTTPResponse(
      NSHTTPURLResponseRef response, Bytes data);
  static int64_t errorCodeWithHTTPCode(int64_t status) { return 0; }
  static Value userInfoWithHTTPResponse(const NSHTTPURLResponse& response, const Bytes& data);

  const NSHTTPURLResponseRef& HTTPResponse() const { return response_; }
  const Bytes& data() const { return data_; }
  std::shared_ptr<const RARUruzariduzuraHTTPError> copy() const;

  // Secure coding: the response under "HTTPResponse", the body under "data".
  static constexpr const char* kClassName = "RARUruzariduzuraHTTPError";
  std::string className() const override { return kClassName; }
  void encodeWithCoder(NSCoder& coder) const override;
  // Null (with no object) when the archive has no response.
  static std::shared_ptr<RARUruzariduzuraHTTPError> initWithCoder(NSCoder& coder);
  static void registerCodingClasses();

 private:
  NSHTTPURLResponseRef response_;
  Bytes data_;
};
using RARUruzariduzuraHTTPErrorRef = std::shared_ptr<const RARUruzariduzuraHTTPError>;

class RARUruzariduzuraErrorUtil {
 public:
  static NSErrorRef installationsErrorWithCode(int64_t code,
                                               const std::optional<std::string>& failureReason,
                                               const NSErrorRef& underlyingError);
  static NSErrorRef keyedArchiverErrorWithException(const NSException& exception);
  static NSErrorRef keyedArchiverErrorWithError(const NSErrorRef& error);
  static NSErrorRef keychainErrorWithFunction(const std::string& function, int32_t status);
  static NSErrorRef installationItemNotFoundForAppID(const std::string& appID,
                                                     const std::string& appName);
  // Whether the error is the not-found error above.
  static bool isItemNotFoundError(const NSErrorRef& error);
  static NSErrorRef corruptedIIDTokenData();
  static NSErrorRef JSONSerializationError(const NSErrorRef& error);
  static NSErrorRef FIDRegistrationErrorWithResponseMissingField(const std::string& fieldName);
  // A field that is there but holds a control character: as invalid as a missing one, with the
  // same domain and code.
  static NSErrorRef FIDRegistrationErrorWithResponseInvalidField(const std::string& fieldName);
  static NSErrorRef networkErrorWithError(const NSErrorRef& error);
  static NSErrorRef backoffIntervalWaitError();
  static RARUruzariduzuraHTTPErrorRef APIErrorWithHTTPResponse(NSHTTPURLResponseRef response,
                                                               Bytes data);
  static bool isAPIError(const NSErrorRef& error, int64_t HTTPCode);
  // The HTTP error inside `error`, or null.
  static RARUruzariduzuraHTTPErrorRef asAPIError(const NSErrorRef& error);
  static NSErrorRef publicDomainErrorWithError(const NSErrorRef& error);
  template <class T>
  static ZEZPromiseRef<T> rejectedPromiseWithError(const NSErrorRef& error) {
    auto p = ZEZPromise<T>::pendingPromise();
    p->reject(error);
    return p;
  }
};
