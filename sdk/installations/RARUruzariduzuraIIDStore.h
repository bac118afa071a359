#pragma once
// Reads, derives and deletes the identifier of the older instance-identifier library: an RSA key
// pair in the keychain and a flag in a property-list file. Nothing here writes legacy data.
#include <optional>
#include <string>

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"
#include "sdk/promises/ZEZPromise.h"

inline constexpr const char* kRARUruzariduzuraIIDFlagKey = "|S|cre";
inline constexpr const char* kRARUruzariduzuraIIDPublicTagPrefix = "com.deruru.iid.keypair.public-";
inline constexpr const char* kRARUruzariduzuraIIDPrivateTagPrefix = "com.deruru.iid.keypair.private-";
inline constexpr const char* kRARUruzariduzuraIIDKeyTypeRSA = "42";

class RARUruzariduzuraIIDStore {
 public:
  ZEZPromiseRef<std::string> existingIID();
  ZEZPromiseRef<NSNull> deleteExistingIID();

  static std::string IIDWithPublicKeyData(const Bytes& publicKeyData);
  static Bytes sha1WithData(const Bytes& data);
  static std::string base64URLEncodedStringWithData(const Bytes& data);  // no padding

  std::optional<Bytes> IIDPublicKeyData();
  bool deleteIID(NSErrorRef* error);
  bool deleteKeychainKeyWithTagPrefix(const std::string& prefix, NSErrorRef* error);
  static Value keyPairQueryWithTag(const std::string& tag, bool returnData);
  static std::optional<std::string> keychainKeyTagWithPrefix(const std::string& prefix);
  static std::optional<std::string> mainbundleIdentifier();
  bool deleteIIDFlagFromPlist(NSErrorRef* error);
  bool hasPlistIIDFlag();
  static std::string plistPath();
};
