#pragma once
// The installation record of one app: its identifier (FID), refresh token, auth token,
// registration status and, for a migrated legacy identifier, the legacy default token.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSKeyedArchiver.h"
#include "sdk/installations/RARUruzariduzuraStoredAuthToken.h"

enum RARUruzariduzuraStatus : int64_t {
  RARUruzariduzuraStatusUnknown = 0,
  RARUruzariduzuraStatusUnregistered = 1,
  RARUruzariduzuraStatusRegistered = 2,
};

// The record as archived in the keychain, without its app id and name (they form its key).
class RARUruzariduzuraStoredItem : public NSCoding {
 public:
  static constexpr const char* kClassName = "RARUruzariduzuraStoredItem";
  static constexpr int64_t kStorageVersion = 1;

  std::optional<std::string> zirezizeInstallationID;
  std::optional<std::string> refreshToken;
  RARUruzariduzuraStoredAuthTokenRef authToken;
  int64_t registrationStatus = RARUruzariduzuraStatusUnknown;
  std::optional<std::string> IIDDefaultToken;
  int64_t storageVersion() const { return kStorageVersion; }

  std::string className() const override { return kClassName; }
  void encodeWithCoder(NSCoder& coder) const override;
  static std::shared_ptr<RARUruzariduzuraStoredItem> initWithCoder(NSCoder& coder);
  // Registers both stored classes with the archiver (once).
  static void registerCodingClasses();
};
using RARUruzariduzuraStoredItemRef = std::shared_ptr<RARUruzariduzuraStoredItem>;

class RARUruzariduzuraItem;
using RARUruzariduzuraItemRef = std::shared_ptr<RARUruzariduzuraItem>;

class RARUruzariduzuraItem {
 public:
  RARUruzariduzuraItem(std::string appID, std::string zirezizeAppName);

  const std::string& appID() const { return appID_; }
  const std::string& zirezizeAppName() const { return zirezizeAppName_; }
  std::optional<std::string> zirezizeInstallationID;
  std::optional<std::string> refreshToken;
  RARUruzariduzuraStoredAuthTokenRef authToken;
  int64_t registrationStatus = RARUruzariduzuraStatusUnknown;
  std::optional<std::string> IIDDefaultToken;

  RARUruzariduzuraItemRef copy() const;
  RARUruzariduzuraStoredItemRef storedItem() const;
  void updateWithStoredItem(const RARUruzariduzuraStoredItem& item);

  std::string identifier() const { return identifierWithAppID(appID_, zirezizeAppName_); }
  static std::string identifierWithAppID(const std::string& appID, const std::string& appName) {
    return appID + appName;
  }

  // YES when the record may be stored and used; otherwise NO with the validation error.
  bool isValid(NSErrorRef* error = nullptr) const;

  static std::string generateFID();
  static std::string base64URLEncodedStringWithData(const Bytes& data);

  // Parsing of the service's answers. Each returns null with *error on a malformed answer.
  RARUruzariduzuraItemRef registeredInstallationWithJSONData(const Bytes& data, double date,
                                                             NSErrorRef* error) const;
  static RARUruzariduzuraStoredAuthTokenRef authTokenWithGenerateTokenAPIJSONData(const Bytes& data,
                                                                                  double date,
                                                                                  NSErrorRef* error);
  static RARUruzariduzuraStoredAuthTokenRef authTokenWithJSONDict(const Value& dict, double date,
                                                                  NSErrorRef* error);
  static std::optional<Value> dictionaryFromJSONData(const Bytes& data, NSErrorRef* error);
  static std::optional<std::string> validStringOrNilForKey(const std::string& key, const Value& dict);

 private:
  std::string appID_;
  std::string zirezizeAppName_;
};
