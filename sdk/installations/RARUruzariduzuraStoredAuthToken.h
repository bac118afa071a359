#pragma once
// The auth token as it is kept in the keychain: status, token text and expiration date.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/NSKeyedArchiver.h"

class RARUruzariduzuraStoredAuthToken : public NSCoding {
 public:
  static constexpr const char* kClassName = "RARUruzariduzuraStoredAuthToken";
  static constexpr int64_t kStorageVersion = 1;
  enum Status : int64_t { StatusUnknown = 0, StatusTokenReceived = 1 };

  RARUruzariduzuraStoredAuthToken() = default;
  RARUruzariduzuraStoredAuthToken(int64_t status, std::optional<std::string> token,
                                  std::optional<double> expirationDate);

  // The fields are read and written from several queues.
  int64_t status() const;
  void setStatus(int64_t status);
  std::optional<std::string> token() const;
  void setToken(std::optional<std::string> token);
  std::optional<double> expirationDate() const;  // seconds since 1970
  void setExpirationDate(std::optional<double> date);
  int64_t storageVersion() const { return kStorageVersion; }

  std::shared_ptr<RARUruzariduzuraStoredAuthToken> copy() const;

  std::string className() const override { return kClassName; }
  void encodeWithCoder(NSCoder& coder) const override;
  static std::shared_ptr<RARUruzariduzuraStoredAuthToken> initWithCoder(NSCoder& coder);

 private:
  mutable std::mutex mutex_;
  int64_t status_ = StatusUnknown;
  std::optional<std::string> token_;
  std::optional<double> expirationDate_;
};
using RARUruzariduzuraStoredAuthTokenRef = std::shared_ptr<RARUruzariduzuraStoredAuthToken>;
