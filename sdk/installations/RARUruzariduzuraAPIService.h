#pragma once
// The installations REST client of one app: register, generate an auth token, delete. Requests are
// built on a global utility queue, sent through a URL session with one retry after a 500 answer,
// non-2xx answers become HTTP errors and JSON answers become records.
#include <memory>
#include <optional>
#include <string>

#include "platform/network/NSURLSession.h"
#include "sdk/installations/RARUruzariduzuraItem.h"
#include "sdk/promises/ZEZPromise.h"

// Where the installations service lives: the Info.plist value "ZirezizeInstallationsAPIOrigin"
// (scheme and host, no trailing slash), else the production origin.
inline constexpr const char* kRARUruzariduzuraAPIOriginInfoKey = "ZirezizeInstallationsAPIOrigin";
inline constexpr const char* kRARUruzariduzuraDefaultAPIOrigin = "https://zirezizeinstallations.deruruapis.com";
inline constexpr const char* kRARUruzariduzuraHeartbeatTag = "zir-installations";

class RARUruzariduzuraURLSessionResponse {
 public:
  RARUruzariduzuraURLSessionResponse(NSHTTPURLResponseRef response, Bytes data)
      : HTTPResponse(std::move(response)), data(std::move(data)) {}
  NSHTTPURLResponseRef HTTPResponse;
  Bytes data;
};
using RARUruzariduzuraURLSessionResponseRef = std::shared_ptr<const RARUruzariduzuraURLSessionResponse>;

class RARUruzariduzuraAPIService : public std::enable_shared_from_this<RARUruzariduzuraAPIService> {
 public:
  RARUruzariduzuraAPIService(std::string APIKey, std::string projectID);
  RARUruzariduzuraAPIService(std::shared_ptr<NSURLSession> URLSession, std::string APIKey,
                             std::string projectID);

  ZEZPromiseRef<RARUruzariduzuraItemRef> registerInstallation(const RARUruzariduzuraItemRef& item);
  ZEZPromiseRef<RARUruzariduzuraItemRef> refreshAuthTokenForInstallation(
      const RARUruzariduzuraItemRef& item);
  ZEZPromiseRef<RARUruzariduzuraItemRef> deleteInstallation(const RARUruzariduzuraItemRef& item);

  // The origin of the service host, read from the main bundle's Info values.
  static std::string APIOrigin();
  static std::string SDKVersion();
  // A request or answer body as its debug lines show it: JSON with every "refreshToken" and
  // "token" at any depth replaced by "<redacted>", else only its length.
  static std::string loggableBody(const Bytes& data);

  ZEZPromiseRef<NSURLRequest> registerRequestWithInstallation(const RARUruzariduzuraItemRef& item);
  ZEZPromiseRef<NSURLRequest> authTokenRequestWithInstallation(const RARUruzariduzuraItemRef& item);
  ZEZPromiseRef<NSURLRequest> deleteInstallationRequestWithInstallation(
      const RARUruzariduzuraItemRef& item);
  ZEZPromiseRef<NSURLRequest> requestWithURL(const std::string& url, const std::string& method,
                                             const Value& bodyDict,
                                             const std::optional<std::string>& refreshToken,
                                             const NSHTTPHeaderList& additionalHeaders = {});
  ZEZPromiseRef<RARUruzariduzuraURLSessionResponseRef> sendURLRequest(const NSURLRequest& request);

  const std::shared_ptr<NSURLSession>& URLSession() const { return URLSession_; }
  const std::string& APIKey() const { return APIKey_; }
  const std::string& projectID() const { return projectID_; }

 private:
  ZEZPromiseRef<RARUruzariduzuraURLSessionResponseRef> URLRequestPromise(const NSURLRequest& request);
  static ZEZResult<RARUruzariduzuraURLSessionResponseRef> validateHTTPResponseStatusCode(
      const RARUruzariduzuraURLSessionResponseRef& response);
  static void setJSONHTTPBody(const Value& body, NSURLRequest& request);

  std::shared_ptr<NSURLSession> URLSession_;
  std::string APIKey_;
  std::string projectID_;
};
