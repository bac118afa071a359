#pragma once
// Small helpers over the keychain's item calls, turning statuses into errors.
#include <optional>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "platform/security/Keychain.h"

inline constexpr const char* kZODKeychainUtilsErrorDomain = "com.zod.keychain.ErrorDomain";

class ZODKeychainUtils {
 public:
  // The data of the item matching the query (return-data and match-limit one are added to a copy).
  // Item not found: nullopt and no error; any other failure: nullopt and an error naming
  // "SecItemCopyMatching" and the status.
  static std::optional<Bytes> getItemWithQuery(const Value& query, NSErrorRef* error);
  // Adds the item with the data, or updates the data of the existing one. False with an error.
  static bool setItem(const Bytes& item, const Value& query, NSErrorRef* error);
  // Deletes the items matching the query; "item not found" is no error.
  static bool removeItemWithQuery(const Value& query, NSErrorRef* error);

  static NSErrorRef keychainErrorWithFunction(const std::string& function, OSStatus status);
};
