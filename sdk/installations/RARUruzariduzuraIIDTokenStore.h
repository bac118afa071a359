#pragma once
// Reads the default token of the older instance-identifier library from the keychain.
#include <memory>
#include <string>

#include "platform/foundation/NSKeyedArchiver.h"
#include "sdk/promises/ZEZPromise.h"

inline constexpr const char* kRARUruzariduzuraIIDTokensGeneric = "com.deruru.iid-tokens";
inline constexpr const char* kRARUruzariduzuraLegacyTokenInfoClass = "ZIRInstanceIDTokenInfo";

// The decoding target of the legacy token archive.
class RARUruzariduzuraIIDTokenInfo : public NSCoding {
 public:
  static constexpr const char* kClassName = "RARUruzariduzuraIIDTokenInfo";
  std::string token;
  std::string className() const override { return kClassName; }
  void encodeWithCoder(NSCoder&) const override {}  // never written by this system
  static void registerCodingClass();
};

class RARUruzariduzuraIIDTokenStore {
 public:
  explicit RARUruzariduzuraIIDTokenStore(std::string ZCMSenderID) : ZCMSenderID_(std::move(ZCMSenderID)) {}
  const std::string& ZCMSenderID() const { return ZCMSenderID_; }

  ZEZPromiseRef<std::string> existingIIDDefaultToken();
  static ZEZPromiseRef<std::string> IIDCheckinWithData(const Bytes& data);
  ZEZPromiseRef<Bytes> IIDDefaultTokenData();
  Value IIDDefaultTokenDataKeychainQuery() const;
  static std::string IIDAppIdentifier();
  static std::string serviceKeyForAuthorizedEntity(const std::string& entity, const std::string& scope) {
    return entity + ":" + scope;
  }

 private:
  std::string ZCMSenderID_;
};
