#include "sdk/installations/RARUruzariduzuraIIDTokenStore.h"

#include <mutex>

#include "platform/foundation/NSBundle.h"
#include "platform/security/Keychain.h"
#include "sdk/installations/RARUruzariduzuraErrorUtil.h"
#include "sdk/utilities/ZODKeychainUtils.h"

void RARUruzariduzuraIIDTokenInfo::registerCodingClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    NSRegisterCodingClass(kClassName, [](NSCoder& coder) -> NSCodingRef {
      auto info = std::make_shared<RARUruzariduzuraIIDTokenInfo>();
      auto token = coder.decodeString("token");
      if (coder.error()) return nullptr;
      info->token = token.value_or("");
      return info;
    });
  });
}

ZEZPromiseRef<std::string> RARUruzariduzuraIIDTokenStore::existingIIDDefaultToken() {
  auto queue = DispatchQueue::global(DispatchQoS::Utility);
  return IIDDefaultTokenData()->onQueueThen(queue, [](const Bytes& data) { return IIDCheckinWithData(data); });
}

ZEZPromiseRef<std::string> RARUruzariduzuraIIDTokenStore::IIDCheckinWithData(const Bytes& data) {
  RARUruzariduzuraIIDTokenInfo::registerCodingClass();
  NSErrorRef error;
  auto object = NSKeyedUnarchiver::unarchivedObjectOfClasses(
      {RARUruzariduzuraIIDTokenInfo::kClassName}, data, &error,
      {{kRARUruzariduzuraLegacyTokenInfoClass, RARUruzariduzuraIIDTokenInfo::kClassName}});
  auto info = std::dynamic_pointer_cast<RARUruzariduzuraIIDTokenInfo>(object);
  if (!info || info->token.empty()) {
    return RARUruzariduzuraErrorUtil::rejectedPromiseWithError<std::string>(
        RARUruzariduzuraErrorUtil::corruptedIIDTokenData());
  }
  return ZEZPromise<std::string>::resolvedWith(info->token);
}

ZEZPromiseRef<Bytes> RARUruzariduzuraIIDTokenStore::IIDDefaultTokenData() {
  const Value query = IIDDefaultTokenDataKeychainQuery();
  return ZEZPromise<Bytes>::onQueueDo(DispatchQueue::global(DispatchQoS::Utility),
                                      [query]() -> ZEZResult<Bytes> {
                                        NSErrorRef error;
                                        auto data = ZODKeychainUtils::getItemWithQuery(query, &error);
                                        if (data) return *data;
                                        return error ? error : RARUruzariduzuraErrorUtil::corruptedIIDTokenData();
                                      });
}

Value RARUruzariduzuraIIDTokenStore::IIDDefaultTokenDataKeychainQuery() const {
  Value query = Value::object();
  query[kSecClass] = kSecClassGenericPassword;
  query[kSecAttrGeneric] = value::data(std::string_view(kRARUruzariduzuraIIDTokensGeneric));
  const std::string account = IIDAppIdentifier();
  if (!account.empty()) query[kSecAttrAccount] = account;
  query[kSecAttrService] = serviceKeyForAuthorizedEntity(ZCMSenderID_, "*");
  return query;
}

std::string RARUruzariduzuraIIDTokenStore::IIDAppIdentifier() {
  return NSBundle::mainBundle().bundleIdentifier().value_or("");
}
