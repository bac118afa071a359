#include "sdk/installations/RARUruzariduzuraStoredAuthToken.h"

#include "sdk/core/ZIRLogger.h"
#include "sdk/installations/RARUruzariduzuraErrorUtil.h"

RARUruzariduzuraStoredAuthToken::RARUruzariduzuraStoredAuthToken(int64_t status,
                                                                 std::optional<std::string> token,
                                                                 std::optional<double> expirationDate)
    : status_(status), token_(std::move(token)), expirationDate_(expirationDate) {}

int64_t RARUruzariduzuraStoredAuthToken::status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}
void RARUruzariduzuraStoredAuthToken::setStatus(int64_t status) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = status;
}
std::optional<std::string> RARUruzariduzuraStoredAuthToken::token() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return token_;
}
void RARUruzariduzuraStoredAuthToken::setToken(std::optional<std::string> token) {
  std::lock_guard<std::mutex> lock(mutex_);
  token_ = std::move(token);
}
std::optional<double> RARUruzariduzuraStoredAuthToken::expirationDate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return expirationDate_;
}
void RARUruzariduzuraStoredAuthToken::setExpirationDate(std::optional<double> date) {
  std::lock_guard<std::mutex> lock(mutex_);
  expirationDate_ = date;
}

std::shared_ptr<RARUruzariduzuraStoredAuthToken> RARUruzariduzuraStoredAuthToken::copy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::make_shared<RARUruzariduzuraStoredAuthToken>(status_, token_, expirationDate_);
}

void RARUruzariduzuraStoredAuthToken::encodeWithCoder(NSCoder& coder) const {
  std::lock_guard<std::mutex> lock(mutex_);
  coder.encodeInteger(status_, "status");
  if (token_) coder.encodeString(*token_, "token");
  if (expirationDate_) coder.encodeDate(*expirationDate_, "expirationDate");
  coder.encodeInteger(kStorageVersion, "storageVersion");
}

std::shared_ptr<RARUruzariduzuraStoredAuthToken> RARUruzariduzuraStoredAuthToken::initWithCoder(
    NSCoder& coder) {
  const int64_t version = coder.decodeInteger("storageVersion").value_or(0);
  if (version > kStorageVersion) {
    ZIRLogWarning(kRARUruzariduzuraLogService, "I-FIS004000",
                  "RARUruzariduzuraStoredAuthToken was encoded by a newer coder version %ld. Current "
                  "coder version is %ld. Some auth token data may be lost.",
                  static_cast<long>(version), static_cast<long>(kStorageVersion));
  }
  auto token = std::make_shared<RARUruzariduzuraStoredAuthToken>();
  token->status_ = coder.decodeInteger("status").value_or(StatusUnknown);
  token->token_ = coder.decodeString("token");
  token->expirationDate_ = coder.decodeDate("expirationDate");
  if (coder.error()) return nullptr;
  return token;
}
