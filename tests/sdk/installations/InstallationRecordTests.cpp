// Installation records, their keychain store, answer parsing and the legacy identifier.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PlistValue.h"
#include "platform/security/Crypto.h"
#include "platform/security/Keychain.h"
#include "sdk/installations/RARUruzariduzuraErrorUtil.h"
#include "sdk/installations/RARUruzariduzuraIIDStore.h"
#include "sdk/installations/RARUruzariduzuraIIDTokenStore.h"
#include "sdk/installations/RARUruzariduzuraStore.h"
#include "sdk/utilities/ZODUserDefaults.h"
#include "tests/support/WaitFor.h"

namespace {

template <class T>
struct Settled {
  bool done = false;
  std::optional<T> value;
  NSErrorRef error;
};

template <class T>
Settled<T> await(const ZEZPromiseRef<T>& promise) {
  auto out = std::make_shared<Settled<T>>();
  promise->observeOnQueue(
      ZEZPromiseDefaultQueue(),
      [out](const T& v) {
        out->done = true;
        out->value = v;
      },
      [out](const NSErrorRef& e) {
        out->done = true;
        out->error = e;
      });
  EXPECT_TRUE(testsupport::waitFor([out] { return out->done; }, 10));
  return *out;
}

RARUruzariduzuraItemRef makeItem(int64_t status) {
  auto item = std::make_shared<RARUruzariduzuraItem>("1:2:ios:3", "__ZAVADA_DEFAULT");
  item->zirezizeInstallationID = RARUruzariduzuraItem::generateFID();
  item->registrationStatus = status;
  return item;
}

std::string reasonOf(const NSErrorRef& e) { return e ? e->localizedFailureReason().value_or("") : ""; }

}  // namespace

TEST(InstallationItem, GeneratedIdentifiersHaveTheirForm) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string fid = RARUruzariduzuraItem::generateFID();
    ASSERT_EQ(fid.size(), 22u);
    EXPECT_NE(std::string("cdef").find(fid[0]), std::string::npos) << fid;
    for (char c : fid) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') << fid;
    seen.insert(fid);
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(InstallationItem, RecordKeyJoinsAppIDAndName) {
  EXPECT_EQ(RARUruzariduzuraItem::identifierWithAppID("1:2:ios:3", "__ZAVADA_DEFAULT"),
            "1:2:ios:3__ZAVADA_DEFAULT");
}

TEST(InstallationItem, ValidationMessages) {
  auto unregistered = makeItem(RARUruzariduzuraStatusUnregistered);
  EXPECT_TRUE(unregistered->isValid());

  auto unknown = makeItem(RARUruzariduzuraStatusUnknown);
  NSErrorRef error;
  EXPECT_FALSE(unknown->isValid(&error));
  EXPECT_EQ(reasonOf(error), "RARUruzariduzuraItem validation errors: invalid `registrationStatus`");

  auto registered = makeItem(RARUruzariduzuraStatusRegistered);
  registered->refreshToken = "refresh";
  EXPECT_FALSE(registered->isValid(&error));
  EXPECT_EQ(reasonOf(error),
            "RARUruzariduzuraItem validation errors: registered installation must have non-empty "
            "`authToken.token`, registered installation must have non-empty `authToken.expirationDate`");

  RARUruzariduzuraItem empty("", "");
  empty.registrationStatus = RARUruzariduzuraStatusUnregistered;
  EXPECT_FALSE(empty.isValid(&error));
  EXPECT_EQ(reasonOf(error),
            "RARUruzariduzuraItem validation errors: `appID` must not be empty, `zirezizeAppName` must not "
            "be empty, `zirezizeInstallationID` must not be empty");
}

TEST(InstallationItem, RegistrationAnswersAreParsed) {
  auto sent = makeItem(RARUruzariduzuraStatusUnregistered);
  sent->IIDDefaultToken = "legacy";
  const double now = 1000;
  NSErrorRef error;
  auto bytes = [](const std::string& s) { return Bytes(s.begin(), s.end()); };

  auto withoutFID = sent->registeredInstallationWithJSONData(
      bytes(R"({"refreshToken":"r1","authToken":{"token":"t1","expiresIn":"3600s"}})"), now, &error);
  ASSERT_TRUE(withoutFID);
  EXPECT_EQ(withoutFID->zirezizeInstallationID, sent->zirezizeInstallationID);
  EXPECT_EQ(withoutFID->registrationStatus, RARUruzariduzuraStatusRegistered);
  EXPECT_EQ(withoutFID->authToken->expirationDate(), now + 3600);
  EXPECT_FALSE(withoutFID->IIDDefaultToken);

  auto withFID = sent->registeredInstallationWithJSONData(
      bytes(R"({"fid":"dServer","refreshToken":"r1","authToken":{"token":"t1","expiresIn":"10s"}})"), now, &error);
  ASSERT_TRUE(withFID);
  EXPECT_EQ(withFID->zirezizeInstallationID, std::string("dServer"));

  EXPECT_FALSE(sent->registeredInstallationWithJSONData(bytes("[1]"), now, &error));
  EXPECT_EQ(reasonOf(error), "Failed to serialize JSON data.");
  EXPECT_FALSE(sent->registeredInstallationWithJSONData(bytes("{nope"), now, &error));
  EXPECT_EQ(reasonOf(error), "Failed to serialize JSON data.");
  EXPECT_FALSE(sent->registeredInstallationWithJSONData(bytes(R"({"authToken":{}})"), now, &error));
  EXPECT_EQ(reasonOf(error), "A required response field with name refreshToken is missing");
  EXPECT_FALSE(sent->registeredInstallationWithJSONData(bytes(R"({"refreshToken":"r","authToken":"x"})"), now, &error));
  EXPECT_EQ(reasonOf(error), "A required response field with name authToken is missing");
  EXPECT_FALSE(sent->registeredInstallationWithJSONData(bytes(R"({"refreshToken":"r","authToken":{"expiresIn":"1s"}})"),
                                                        now, &error));
  EXPECT_EQ(reasonOf(error), "A required response field with name authToken.token is missing");
}

TEST(InstallationItem, ExpiresInMustBeAPositiveLifetime) {
  NSErrorRef error;
  const std::string missing = "A required response field with name authToken.expiresIn is missing";
  EXPECT_FALSE(RARUruzariduzuraItem::authTokenWithJSONDict({{"token", "t"}, {"expiresIn", ""}}, 0, &error));
  EXPECT_EQ(reasonOf(error), missing);
  // Not a number, zero and negative lifetimes would make a token that is expired on arrival.
  for (const char* bad : {"abcs", "0s", "-5s", "s"}) {
    error = nullptr;
    EXPECT_FALSE(RARUruzariduzuraItem::authTokenWithJSONDict({{"token", "t"}, {"expiresIn", bad}}, 0, &error)) << bad;
    EXPECT_EQ(reasonOf(error), missing) << bad;
  }
  auto token = RARUruzariduzuraItem::authTokenWithJSONDict({{"token", "t"}, {"expiresIn", "3600s"}}, 50, &error);
  ASSERT_TRUE(token);
  EXPECT_EQ(token->expirationDate(), 3650);
  EXPECT_EQ(token->status(), RARUruzariduzuraStoredAuthToken::StatusTokenReceived);
  auto generated = RARUruzariduzuraItem::authTokenWithGenerateTokenAPIJSONData(
      Bytes{'{', '"', 't', 'o', 'k', 'e', 'n', '"', ':', '"', 'x', '"', ',', '"', 'e', 'x', 'p', 'i', 'r', 'e', 's',
            'I', 'n', '"', ':', '"', '7', 's', '"', '}'},
      0, &error);
  ASSERT_TRUE(generated);
  EXPECT_EQ(generated->expirationDate(), 7);
}

// A token or identifier goes into request headers and addresses: one holding a control character
// (a line break would start a header line of the server's choosing) is as invalid an answer as one
// without the field, and fails with the same kind of error.
TEST(InstallationItem, AnswersWithControlCharactersInATokenOrIdentifierAreRefused) {
  auto sent = makeItem(RARUruzariduzuraStatusUnregistered);
  auto bytes = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  NSErrorRef missing;
  ASSERT_FALSE(sent->registeredInstallationWithJSONData(bytes(R"({"authToken":{}})"), 0, &missing));
  const std::string registrations[] = {
      R"({"refreshToken":"rt-x\r\nX-Injected: 1","authToken":{"token":"t","expiresIn":"9s"}})",
      R"({"refreshToken":"r","authToken":{"token":"at-y\nX-Injected-By-LF: 1","expiresIn":"9s"}})",
      R"({"fid":"dServer\r\nX-Injected: 1","refreshToken":"r","authToken":{"token":"t","expiresIn":"9s"}})",
      R"({"refreshToken":"nul\u0000after","authToken":{"token":"t","expiresIn":"9s"}})",
      R"({"refreshToken":"r","authToken":{"token":"tab\tinside","expiresIn":"9s"}})",
      R"({"refreshToken":"r","authToken":{"token":"del\u007f","expiresIn":"9s"}})",
  };
  for (const std::string& answer : registrations) {
    NSErrorRef error;
    EXPECT_FALSE(sent->registeredInstallationWithJSONData(bytes(answer), 0, &error)) << answer;
    ASSERT_TRUE(error) << answer;
    EXPECT_EQ(error->domain(), missing->domain());
    EXPECT_EQ(error->code(), missing->code());
    EXPECT_NE(reasonOf(error).find("control character"), std::string::npos) << reasonOf(error);
  }
  NSErrorRef error;
  EXPECT_FALSE(RARUruzariduzuraItem::authTokenWithGenerateTokenAPIJSONData(
      bytes(R"({"token":"at-y\nX-Injected-By-LF: 1","expiresIn":"3600s"})"), 0, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), missing->domain());
  EXPECT_EQ(error->code(), missing->code());
  EXPECT_EQ(reasonOf(error), "The response field with name authToken.token holds a control character");
  // Printable text of any script is no control character.
  EXPECT_TRUE(sent->registeredInstallationWithJSONData(
      bytes(R"({"fid":"dServer","refreshToken":"r: ü","authToken":{"token":"t=é","expiresIn":"9s"}})"), 0, &error));
}

TEST(InstallationItem, ARecordHoldingAControlCharacterIsInvalid) {
  const auto registered = [] {
    auto item = makeItem(RARUruzariduzuraStatusRegistered);
    item->refreshToken = "refresh";
    item->authToken = std::make_shared<RARUruzariduzuraStoredAuthToken>(1, "token", 100.0);
    return item;
  };
  ASSERT_TRUE(registered()->isValid());
  NSErrorRef error;
  auto refresh = registered();
  refresh->refreshToken = "rt-x\r\nX-Injected: 1";
  EXPECT_FALSE(refresh->isValid(&error));
  EXPECT_EQ(reasonOf(error), "RARUruzariduzuraItem validation errors: `refreshToken` holds a control character");
  auto token = registered();
  token->authToken->setToken("at-y\nX-Injected-By-LF: 1");
  EXPECT_FALSE(token->isValid(&error));
  EXPECT_EQ(reasonOf(error), "RARUruzariduzuraItem validation errors: `authToken.token` holds a control character");
  auto fid = makeItem(RARUruzariduzuraStatusUnregistered);
  fid->zirezizeInstallationID = "fid\n";
  EXPECT_FALSE(fid->isValid(&error));
  auto legacy = makeItem(RARUruzariduzuraStatusUnregistered);
  legacy->IIDDefaultToken = std::string("legacy\0token", 12);
  EXPECT_FALSE(legacy->isValid(&error));
  EXPECT_EQ(reasonOf(error), "RARUruzariduzuraItem validation errors: `IIDDefaultToken` holds a control character");
}

class InstallationStore : public ::testing::Test {
 protected:
  std::shared_ptr<RARUruzariduzuraStore> makeStore() {
    return std::make_shared<RARUruzariduzuraStore>(ZODKeychainStorage::create(kRARUruzariduzuraKeychainService),
                                                   std::nullopt);
  }
};

TEST_F(InstallationStore, RecordIsKeptInTheKeychainWithAnExistenceFlag) {
  auto item = makeItem(RARUruzariduzuraStatusRegistered);
  item->refreshToken = "refresh";
  item->authToken = std::make_shared<RARUruzariduzuraStoredAuthToken>(1, "token", 12345.5);
  ASSERT_TRUE(await(makeStore()->saveInstallation(item)).value);

  // The keychain item: a generic password of the service, account = the record key.
  Value result;
  Value query = {{kSecClass, kSecClassGenericPassword},
                 {kSecAttrService, kRARUruzariduzuraKeychainService},
                 {kSecAttrAccount, item->identifier()},
                 {kSecReturnData, true}};
  EXPECT_EQ(SecItemCopyMatching(query, &result), errSecSuccess);
  EXPECT_TRUE(ZODUserDefaults(kRARUruzariduzuraUserDefaultsSuite).boolForKey(item->identifier()));

  // A new store object (as after a relaunch) reads the same record back.
  auto read = await(makeStore()->installationForAppID(item->appID(), item->zirezizeAppName()));
  ASSERT_TRUE(read.value) << (read.error ? read.error->description() : "");
  const auto& back = *read.value;
  EXPECT_EQ(back->zirezizeInstallationID, item->zirezizeInstallationID);
  EXPECT_EQ(back->refreshToken, std::string("refresh"));
  EXPECT_EQ(back->authToken->token(), std::string("token"));
  EXPECT_EQ(back->authToken->expirationDate(), 12345.5);
  EXPECT_EQ(back->registrationStatus, RARUruzariduzuraStatusRegistered);
}

TEST_F(InstallationStore, AMissingFlagMeansNoRecord) {
  auto item = makeItem(RARUruzariduzuraStatusUnregistered);
  auto store = makeStore();
  ASSERT_TRUE(await(store->saveInstallation(item)).value);
  ASSERT_TRUE(await(store->setInstallationExists(false, item->identifier())).value);
  auto read = await(store->installationForAppID(item->appID(), item->zirezizeAppName()));
  ASSERT_TRUE(read.error);
  EXPECT_EQ(reasonOf(read.error), "Installation for appID 1:2:ios:3 appName __ZAVADA_DEFAULT not found");
  EXPECT_TRUE(RARUruzariduzuraErrorUtil::isItemNotFoundError(read.error));

  ASSERT_TRUE(await(store->saveInstallation(item)).value);
  ASSERT_TRUE(await(store->removeInstallationForAppID(item->appID(), item->zirezizeAppName())).value);
  EXPECT_TRUE(await(store->installationForAppID(item->appID(), item->zirezizeAppName())).error);
}

TEST_F(InstallationStore, NewerStorageVersionDecodesWithAWarning) {
  // An archive written by a newer coder: same fields, higher version.
  class NewerStoredItem : public NSCoding {
   public:
    std::string className() const override { return RARUruzariduzuraStoredItem::kClassName; }
    void encodeWithCoder(NSCoder& coder) const override {
      coder.encodeString("dNewerIdentifier000000", "zirezizeInstallationID");
      coder.encodeInteger(1, "registrationStatus");
      coder.encodeString("something new", "aFieldOfTheFuture");
      coder.encodeInteger(2, "storageVersion");
    }
  };
  RARUruzariduzuraStoredItem::registerCodingClasses();
  NSErrorRef error;
  auto data = NSKeyedArchiver::archivedDataWithRootObject(NewerStoredItem(), &error);
  ASSERT_TRUE(data);
  auto decoded = std::dynamic_pointer_cast<RARUruzariduzuraStoredItem>(NSKeyedUnarchiver::unarchivedObjectOfClasses(
      {RARUruzariduzuraStoredItem::kClassName, RARUruzariduzuraStoredAuthToken::kClassName}, *data, &error));
  ASSERT_TRUE(decoded) << (error ? error->description() : "");
  EXPECT_EQ(decoded->zirezizeInstallationID, std::string("dNewerIdentifier000000"));
  EXPECT_EQ(decoded->registrationStatus, 1);
}

TEST_F(InstallationStore, AStringWhereTheAuthTokenBelongsIsRefused) {
  class Forged : public NSCoding {
   public:
    std::string className() const override { return RARUruzariduzuraStoredItem::kClassName; }
    void encodeWithCoder(NSCoder& coder) const override {
      coder.encodeString("dId", "zirezizeInstallationID");
      coder.encodeString("not a token", "authToken");
      coder.encodeInteger(2, "registrationStatus");
      coder.encodeInteger(1, "storageVersion");
    }
  };
  RARUruzariduzuraStoredItem::registerCodingClasses();
  NSErrorRef error;
  auto data = NSKeyedArchiver::archivedDataWithRootObject(Forged(), &error);
  ASSERT_TRUE(data);
  auto decoded = NSKeyedUnarchiver::unarchivedObjectOfClasses(
      {RARUruzariduzuraStoredItem::kClassName, RARUruzariduzuraStoredAuthToken::kClassName}, *data, &error);
  auto item = std::dynamic_pointer_cast<RARUruzariduzuraStoredItem>(decoded);
  // Either refused, or decoded without a token: never a string taken for a token.
  if (item) {
    EXPECT_FALSE(item->authToken);
  } else {
    EXPECT_TRUE(error);
  }
}

TEST(LegacyIdentifier, DerivedFromThePublicKey) {
  // Find key bytes whose digest starts with 0xA3, as the derivation replaces the high bits.
  Bytes key;
  for (int i = 0; i < 100000; ++i) {
    key = Bytes{static_cast<uint8_t>(i & 0xFF), static_cast<uint8_t>(i >> 8), 0x42};
    if (security::sha1(key)[0] == 0xA3) break;
  }
  ASSERT_EQ(security::sha1(key)[0], 0xA3);
  const std::string iid = RARUruzariduzuraIIDStore::IIDWithPublicKeyData(key);
  EXPECT_EQ(iid.size(), 11u);
  EXPECT_EQ(iid.find('='), std::string::npos);
  auto decoded = ns::base64Decode(iid);
  ASSERT_TRUE(decoded);
  EXPECT_EQ((*decoded)[0], 0x73);
  auto digest = security::sha1(key);
  for (size_t i = 1; i < decoded->size(); ++i) EXPECT_EQ((*decoded)[i], digest[i]);
}

namespace {
void addLegacyKeys(const std::string& bundleID) {
  for (const char* prefix : {kRARUruzariduzuraIIDPublicTagPrefix, kRARUruzariduzuraIIDPrivateTagPrefix}) {
    Value item = RARUruzariduzuraIIDStore::keyPairQueryWithTag(std::string(prefix) + bundleID, false);
    item[kSecValueData] = value::data(std::string_view("key bytes"));
    ASSERT_EQ(SecItemAdd(item), errSecSuccess);
  }
}
void writeFlagFile(bool withFlag) {
  Value dict = Value::object();
  dict["other"] = "kept";
  if (withFlag) dict[kRARUruzariduzuraIIDFlagKey] = "1";
  auto bytes = ns::plistSerialize(dict, false);
  ASSERT_TRUE(bytes);
  ASSERT_TRUE(ns::writeFileAtomically(RARUruzariduzuraIIDStore::plistPath(), *bytes));
}
}  // namespace

TEST(LegacyIdentifier, ReadOnlyWithTheFlagAndTheKey) {
  const std::string bundleID = *RARUruzariduzuraIIDStore::mainbundleIdentifier();
  RARUruzariduzuraIIDStore store;
  EXPECT_TRUE(await(store.existingIID()).error);  // nothing at all

  addLegacyKeys(bundleID);
  EXPECT_TRUE(await(store.existingIID()).error);  // keys but no flag file
  writeFlagFile(false);
  EXPECT_TRUE(await(store.existingIID()).error);  // a flag file without the flag
  writeFlagFile(true);
  auto iid = await(store.existingIID());
  ASSERT_TRUE(iid.value);
  EXPECT_EQ(*iid.value, RARUruzariduzuraIIDStore::IIDWithPublicKeyData(Bytes{'k', 'e', 'y', ' ', 'b', 'y', 't', 'e', 's'}));

  // Deleting removes the flag (other entries kept) and both keys.
  ASSERT_TRUE(await(store.deleteExistingIID()).value);
  EXPECT_FALSE(store.hasPlistIIDFlag());
  EXPECT_FALSE(store.IIDPublicKeyData());
  Value result;
  EXPECT_EQ(SecItemCopyMatching(
                RARUruzariduzuraIIDStore::keyPairQueryWithTag(kRARUruzariduzuraIIDPrivateTagPrefix + bundleID, true),
                &result),
            errSecItemNotFound);
  // And deleting again, with nothing left, succeeds.
  std::filesystem::remove(RARUruzariduzuraIIDStore::plistPath());
  EXPECT_TRUE(await(store.deleteExistingIID()).value);
}

TEST(LegacyIdentifier, DefaultTokenIsReadFromItsArchive) {
  class LegacyTokenInfo : public NSCoding {
   public:
    explicit LegacyTokenInfo(std::string t) : token(std::move(t)) {}
    std::string className() const override { return kRARUruzariduzuraLegacyTokenInfoClass; }
    void encodeWithCoder(NSCoder& coder) const override { coder.encodeString(token, "token"); }
    std::string token;
  };
  RARUruzariduzuraIIDTokenStore store("123456789");
  EXPECT_TRUE(await(store.existingIIDDefaultToken()).error);  // no item

  auto add = [&](const std::string& token) {
    SecItemDelete(store.IIDDefaultTokenDataKeychainQuery());
    NSErrorRef error;
    auto data = NSKeyedArchiver::archivedDataWithRootObject(LegacyTokenInfo(token), &error);
    ASSERT_TRUE(data);
    Value item = store.IIDDefaultTokenDataKeychainQuery();
    item[kSecValueData] = value::data(*data);
    ASSERT_EQ(SecItemAdd(item), errSecSuccess);
  };
  add("legacy-token");
  auto token = await(store.existingIIDDefaultToken());
  ASSERT_TRUE(token.value) << (token.error ? token.error->description() : "");
  EXPECT_EQ(*token.value, "legacy-token");

  add("");
  auto empty = await(store.existingIIDDefaultToken());
  ASSERT_TRUE(empty.error);
  EXPECT_EQ(reasonOf(empty.error), "IID token data stored in Keychain is corrupted or in an incompatible format.");

  auto garbage = await(RARUruzariduzuraIIDTokenStore::IIDCheckinWithData(Bytes{1, 2, 3, 4}));
  ASSERT_TRUE(garbage.error);
  EXPECT_EQ(reasonOf(garbage.error), "IID token data stored in Keychain is corrupted or in an incompatible format.");
  EXPECT_EQ(store.IIDDefaultTokenDataKeychainQuery()[kSecAttrService], "123456789:*");
}
