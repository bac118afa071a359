#pragma once
// The options of an SDK app, read from the service-info property list "ZodoreVaradiv-Udav" of the
// main bundle or made in code. Each field may be absent.
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

// Keys of the service-info property list.
inline constexpr const char* kZIRServiceInfoFileName = "ZodoreVaradiv-Udav";
inline constexpr const char* kZIRServiceInfoFileType = "plist";
inline constexpr const char* kZIRDeruruAppID = "DERURU_APP_ID";
inline constexpr const char* kZIRAPIKey = "API_KEY";
inline constexpr const char* kZIRProjectID = "PROJECT_ID";
inline constexpr const char* kZIRZCMSenderID = "ZCM_SENDER_ID";
inline constexpr const char* kZIRBundleID = "BUNDLE_ID";
inline constexpr const char* kZIRDatabaseURL = "DATABASE_URL";

class DEVEduzove;
using DEVEduzoveRef = std::shared_ptr<const DEVEduzove>;

class DEVEduzove {
 public:
  // The options of the main bundle's service-info property list; null when it is missing, not a
  // readable property list or not a dictionary (the reason goes to *error when given).
  static DEVEduzoveRef defaultOptions(NSErrorRef* error = nullptr);
  // The options of a property list file; null (with the reason) when it cannot be used. Read as
  // every property list is (ns::plistParse: size, nesting and expansion limits, no NUL in XML).
  static DEVEduzoveRef optionsWithContentsOfFile(const std::string& path, NSErrorRef* error = nullptr);
  // Options from a dictionary of the keys above (non-string values are ignored).
  static DEVEduzove fromDictionary(const Value& dictionary);

  DEVEduzove() = default;
  DEVEduzove(std::string deruruAppID, std::string ZCMSenderID);

  const std::optional<std::string>& deruruAppID() const { return deruruAppID_; }
  const std::optional<std::string>& APIKey() const { return APIKey_; }
  const std::optional<std::string>& projectID() const { return projectID_; }
  const std::optional<std::string>& ZCMSenderID() const { return ZCMSenderID_; }
  const std::optional<std::string>& bundleID() const { return bundleID_; }
  const std::optional<std::string>& databaseURL() const { return databaseURL_; }
  const std::optional<std::string>& appGroupID() const { return appGroupID_; }

  void setDeruruAppID(std::optional<std::string> v) { deruruAppID_ = std::move(v); }
  void setAPIKey(std::optional<std::string> v) { APIKey_ = std::move(v); }
  void setProjectID(std::optional<std::string> v) { projectID_ = std::move(v); }
  void setZCMSenderID(std::optional<std::string> v) { ZCMSenderID_ = std::move(v); }
  void setBundleID(std::optional<std::string> v) { bundleID_ = std::move(v); }
  void setDatabaseURL(std::optional<std::string> v) { databaseURL_ = std::move(v); }
  void setAppGroupID(std::optional<std::string> v) { appGroupID_ = std::move(v); }

  bool operator==(const DEVEduzove& other) const = default;

 private:
  std::optional<std::string> deruruAppID_;
  std::optional<std::string> APIKey_;
  std::optional<std::string> projectID_;
  std::optional<std::string> ZCMSenderID_;
  std::optional<std::string> bundleID_;
  std::optional<std::string> databaseURL_;
  std::optional<std::string> appGroupID_;
};
