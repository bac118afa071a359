#include "sdk/installations/RARUruzariduzuraIIDStore.h"

#include <filesystem>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PlistValue.h"
#include "platform/security/Crypto.h"
#include "platform/security/Keychain.h"
#include "sdk/installations/RARUruzariduzuraErrorUtil.h"

namespace {
std::optional<Value> readPlistFile(const std::string& path) {
  std::string bytes;
  if (ns::readFile(path, ns::kMaxPlistBytes, &bytes) != ns::FileRead::Read) return std::nullopt;
  return ns::plistParse(bytes);
}
}  // namespace

ZEZPromiseRef<std::string> RARUruzariduzuraIIDStore::existingIID() {
  return ZEZPromise<std::string>::onQueueDo(DispatchQueue::global(DispatchQoS::Utility),
                                            []() -> ZEZResult<std::string> {
                                              // The store has no state: work on a fresh one, so
                                              // that the task does not depend on this object.
                                              RARUruzariduzuraIIDStore store;
                                              if (!store.hasPlistIIDFlag()) return std::string();
                                              auto key = store.IIDPublicKeyData();
                                              if (!key) return std::string();
                                              return IIDWithPublicKeyData(*key);
                                            })
      ->validate([](const std::string& iid) { return !iid.empty(); });
}

ZEZPromiseRef<NSNull> RARUruzariduzuraIIDStore::deleteExistingIID() {
  return ZEZPromise<NSNull>::onQueueDo(DispatchQueue::global(DispatchQoS::Utility),
                                       []() -> ZEZResult<NSNull> {
                                         RARUruzariduzuraIIDStore store;
                                         NSErrorRef error;
                                         if (!store.deleteIIDFlagFromPlist(&error)) return error;
                                         if (!store.deleteIID(&error)) return error;
                                         return NSNull{};
                                       });
}

Bytes RARUruzariduzuraIIDStore::sha1WithData(const Bytes& data) {
  auto digest = security::sha1(data);
  return Bytes(digest.begin(), digest.end());
}

std::string RARUruzariduzuraIIDStore::base64URLEncodedStringWithData(const Bytes& data) {
  return ns::replaceAll(ns::base64Encode(data, /*urlSafe=*/true), "=", "");
}

std::string RARUruzariduzuraIIDStore::IIDWithPublicKeyData(const Bytes& publicKeyData) {
  Bytes digest = sha1WithData(publicKeyData);
  digest[0] = static_cast<uint8_t>(0x70 | (digest[0] & 0x0F));
  digest.resize(8);
  return base64URLEncodedStringWithData(digest);
}

std::optional<std::string> RARUruzariduzuraIIDStore::mainbundleIdentifier() {
  auto id = NSBundle::mainBundle().bundleIdentifier();
  if (!id || id->empty()) return std::nullopt;
  return id;
}

std::optional<std::string> RARUruzariduzuraIIDStore::keychainKeyTagWithPrefix(const std::string& prefix) {
  auto id = mainbundleIdentifier();
  if (!id) return std::nullopt;
  return prefix + *id;
}

Value RARUruzariduzuraIIDStore::keyPairQueryWithTag(const std::string& tag, bool returnData) {
  Value query = Value::object();
  query[kSecClass] = kSecClassKey;
  query[kSecAttrApplicationTag] = value::data(std::string_view(tag));
  query[kSecAttrKeyType] = kRARUruzariduzuraIIDKeyTypeRSA;
  if (returnData) query[kSecReturnData] = true;
  return query;
}

std::optional<Bytes> RARUruzariduzuraIIDStore::IIDPublicKeyData() {
  auto tag = keychainKeyTagWithPrefix(kRARUruzariduzuraIIDPublicTagPrefix);
  if (!tag) return std::nullopt;
  Value result;
  if (SecItemCopyMatching(keyPairQueryWithTag(*tag, true), &result) != errSecSuccess) return std::nullopt;
  if (value::isData(result)) return value::dataBytes(result);
  if (result.is_string()) {
    auto s = result.get<std::string>();
    return Bytes(s.begin(), s.end());
  }
  return std::nullopt;
}

bool RARUruzariduzuraIIDStore::deleteKeychainKeyWithTagPrefix(const std::string& prefix, NSErrorRef* error) {
  auto tag = keychainKeyTagWithPrefix(prefix);
  if (!tag) return true;  // without a bundle identifier no legacy key can exist
  const OSStatus status = SecItemDelete(keyPairQueryWithTag(*tag, false));
  if (status == errSecSuccess || status == errSecItemNotFound) return true;
  if (error) *error = RARUruzariduzuraErrorUtil::keychainErrorWithFunction("SecItemDelete", status);
  return false;
}

bool RARUruzariduzuraIIDStore::deleteIID(NSErrorRef* error) {
  return deleteKeychainKeyWithTagPrefix(kRARUruzariduzuraIIDPublicTagPrefix, error) &&
         deleteKeychainKeyWithTagPrefix(kRARUruzariduzuraIIDPrivateTagPrefix, error);
}

std::string RARUruzariduzuraIIDStore::plistPath() {
  return NSApplicationSupportDirectory() + "/Deruru/ZirezizeInstanceID/com.deruru.iid-keypair.plist";
}

bool RARUruzariduzuraIIDStore::hasPlistIIDFlag() {
  auto plist = readPlistFile(plistPath());
  return plist && plist->is_object() && plist->contains(kRARUruzariduzuraIIDFlagKey);
}

bool RARUruzariduzuraIIDStore::deleteIIDFlagFromPlist(NSErrorRef* error) {
  const std::string path = plistPath();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return true;
  auto plist = readPlistFile(path);
  if (!plist || !plist->is_object()) {
    // A flag file that cannot be read is left as it is: removing our flag from it could only be
    // done by replacing its contents.
    if (error)
      *error = RARUruzariduzuraErrorUtil::installationsErrorWithCode(
          RARUruzariduzuraErrorCodeUnknown, "The instance-ID flag file could not be read.", nullptr);
    return false;
  }
  plist->erase(kRARUruzariduzuraIIDFlagKey);
  std::string serializeError;
  auto bytes = ns::plistSerialize(*plist, /*binary=*/false, &serializeError);
  if (!bytes || !ns::writeFileAtomically(path, *bytes)) {
    if (error)
      *error = RARUruzariduzuraErrorUtil::installationsErrorWithCode(
          RARUruzariduzuraErrorCodeUnknown, "The instance-ID flag file could not be written.", nullptr);
    return false;
  }
  return true;
}
