#include "sdk/utilities/ZODKeychainUtils.h"

#include "platform/foundation/NSString.h"

NSErrorRef ZODKeychainUtils::keychainErrorWithFunction(const std::string& function,
                                                       OSStatus status) {
  std::string reason = ns::format("%s (%d)", function.c_str(), static_cast<int>(status));
  return NSError::errorWithDomain(kZODKeychainUtilsErrorDomain, status,
                                  Value{{NSLocalizedFailureReasonErrorKey, reason},
                                        {NSLocalizedDescriptionKey, reason}});
}

std::optional<Bytes> ZODKeychainUtils::getItemWithQuery(const Value& query, NSErrorRef* error) {
  Value q = query;
  q[kSecReturnData] = true;
  q[kSecMatchLimit] = kSecMatchLimitOne;
  Value result;
  OSStatus status = SecItemCopyMatching(q, &result);
  if (status == errSecItemNotFound) {
    if (error) *error = nullptr;
    return std::nullopt;
  }
  if (status != errSecSuccess) {
    if (error) *error = keychainErrorWithFunction("SecItemCopyMatching", status);
    return std::nullopt;
  }
  if (error) *error = nullptr;
  if (value::isData(result)) return value::dataBytes(result);
  if (result.is_string()) {
    std::string s = result.get<std::string>();
    return Bytes(s.begin(), s.end());
  }
  return Bytes{};
}

bool ZODKeychainUtils::setItem(const Bytes& item, const Value& query, NSErrorRef* error) {
  Value existing;
  OSStatus status = SecItemCopyMatching(query, &existing);
  if (status == errSecSuccess) {
    status = SecItemUpdate(query, Value{{kSecValueData, value::data(item)}});
    if (status != errSecSuccess) {
      if (error) *error = keychainErrorWithFunction("SecItemUpdate", status);
      return false;
    }
  } else if (status == errSecItemNotFound) {
    Value attributes = query;
    attributes[kSecValueData] = value::data(item);
    attributes[kSecAttrAccessible] = kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly;
    status = SecItemAdd(attributes);
    if (status != errSecSuccess) {
      if (error) *error = keychainErrorWithFunction("SecItemAdd", status);
      return false;
    }
  } else {
    if (error) *error = keychainErrorWithFunction("SecItemCopyMatching", status);
    return false;
  }
  if (error) *error = nullptr;
  return true;
}

bool ZODKeychainUtils::removeItemWithQuery(const Value& query, NSErrorRef* error) {
  OSStatus status = SecItemDelete(query);
  if (status == errSecSuccess || status == errSecItemNotFound) {
    if (error) *error = nullptr;
    return true;
  }
  if (error) *error = keychainErrorWithFunction("SecItemDelete", status);
  return false;
}
