#pragma once
// The keychain: generic-password items (by service, account, access group and generic attribute)
// and key items (by class, key type and application tag), each with a data value. Items live in
// files of mode 0600 under the application home's keychain folder and persist across processes.
// A store file that cannot be read is logged and moved aside with its bytes kept.
#include <cstdint>
#include <string>

#include "platform/foundation/Value.h"

using OSStatus = int32_t;
inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecInteractionNotAllowed = -25308;
inline constexpr OSStatus errSecIO = -36;

// Attribute keys and values of query and attribute dictionaries (Value objects).
inline constexpr const char* kSecClass = "class";
inline constexpr const char* kSecClassGenericPassword = "genp";
inline constexpr const char* kSecClassKey = "keys";
inline constexpr const char* kSecAttrService = "svce";
inline constexpr const char* kSecAttrAccount = "acct";
inline constexpr const char* kSecAttrAccessGroup = "agrp";
inline constexpr const char* kSecAttrGeneric = "gena";
inline constexpr const char* kSecAttrAccessible = "pdmn";
inline constexpr const char* kSecAttrKeyClass = "kcls";
inline constexpr const char* kSecAttrKeyType = "type";
inline constexpr const char* kSecAttrApplicationTag = "atag";
inline constexpr const char* kSecValueData = "v_Data";
inline constexpr const char* kSecReturnData = "r_Data";
inline constexpr const char* kSecReturnAttributes = "r_Attributes";
inline constexpr const char* kSecMatchLimit = "m_Limit";
inline constexpr const char* kSecMatchLimitOne = "m_LimitOne";
inline constexpr const char* kSecMatchLimitAll = "m_LimitAll";
inline constexpr const char* kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly = "cku";

// Data values (kSecValueData, kSecAttrGeneric, kSecAttrApplicationTag) are Value data
// (value::data) or strings. A query matches items whose attributes equal every attribute the
// query names (kSecClass is required).
OSStatus SecItemAdd(const Value& attributes);
// With kSecReturnData: *result is the item's data (match limit one), or an array of data (all).
// With kSecReturnAttributes: a dictionary of attributes (with the data when both are asked).
OSStatus SecItemCopyMatching(const Value& query, Value* result);
OSStatus SecItemUpdate(const Value& query, const Value& attributesToUpdate);
OSStatus SecItemDelete(const Value& query);

namespace security {
// The largest store file (one per item class) that is read or written. A larger file is treated
// like any other that does not parse (moved aside, bytes kept); a change that would make the store
// larger is refused with errSecIO and nothing is written. Store files nest JSON at most
// value::kMaxJSONDepth deep.
inline constexpr size_t kMaxKeychainStoreBytes = 4 << 20;

enum class KeychainOperation { Add, CopyMatching, Update, Delete };
// Makes the next `count` calls of the operation fail with `status` (tests).
void injectKeychainFailure(KeychainOperation op, OSStatus status, int count = 1);
void clearKeychainFailures();
}  // namespace security
