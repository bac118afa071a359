#include "sdk/utilities/ZODKeychainStorage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/network/Gzip.h"
#include "platform/security/Keychain.h"
#include "sdk/utilities/ZODGzip.h"
#include "sdk/utilities/ZODKeychainUtils.h"
#include "sdk/utilities/ZODUserDefaults.h"

namespace {

class Token : public NSCoding {
 public:
  explicit Token(std::string v) : value(std::move(v)) {}
  std::string className() const override { return "TestToken"; }
  void encodeWithCoder(NSCoder& coder) const override { coder.encodeString(value, "value"); }
  std::string value;
};

class Other : public NSCoding {
 public:
  std::string className() const override { return "TestOther"; }
  void encodeWithCoder(NSCoder& coder) const override { coder.encodeInteger(1, "n"); }
};

const std::set<std::string> kTokenClasses = {"TestToken"};

template <class T>
bool settle(const ZEZPromiseRef<T>& p) {
  return NSRunLoop::main().runUntil([&] { return !p->isPending(); }, 10);
}

std::string tokenValue(const ZEZPromiseRef<NSCodingRef>& p) {
  auto v = p->value();
  if (!v || !*v) return "<none>";
  auto t = std::dynamic_pointer_cast<Token>(*v);
  return t ? t->value : "<wrong class>";
}

class ZODKeychainStorageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    NSRegisterCodingClass("TestToken", [](NSCoder& coder) -> NSCodingRef {
      auto v = coder.decodeString("value");
      if (!v) return nullptr;
      return std::make_shared<Token>(*v);
    });
    NSRegisterCodingClass("TestOther", [](NSCoder&) -> NSCodingRef {
      return std::make_shared<Other>();
    });
  }
  void TearDown() override { security::clearKeychainFailures(); }
};

TEST_F(ZODKeychainStorageTest, StoresReadsAndRemovesThroughTheKeychain) {
  auto storage = ZODKeychainStorage::create("com.test.storage");
  auto missing = storage->getObjectForKey("fid", kTokenClasses, std::nullopt);
  ASSERT_TRUE(settle(missing));
  ASSERT_TRUE(missing->isFulfilled());
  EXPECT_EQ(*missing->value(), nullptr);

  auto set = storage->setObject(std::make_shared<Token>("abc"), "fid", std::nullopt);
  ASSERT_TRUE(settle(set));
  ASSERT_TRUE(set->isFulfilled()) << set->error()->description();

  // A second store has an empty cache: the object comes from the keychain item.
  auto fresh = ZODKeychainStorage::create("com.test.storage");
  auto read = fresh->getObjectForKey("fid", kTokenClasses, std::nullopt);
  ASSERT_TRUE(settle(read));
  EXPECT_EQ(tokenValue(read), "abc");
  // Another service or access group does not see it.
  auto otherService = ZODKeychainStorage::create("com.test.other")
                          ->getObjectForKey("fid", kTokenClasses, std::nullopt);
  auto otherGroup = ZODKeychainStorage::create("com.test.storage")
                        ->getObjectForKey("fid", kTokenClasses, std::string("group.x"));
  ASSERT_TRUE(settle(otherService));
  ASSERT_TRUE(settle(otherGroup));
  EXPECT_EQ(tokenValue(otherService), "<none>");
  EXPECT_EQ(tokenValue(otherGroup), "<none>");

  // Updating replaces the item.
  ASSERT_TRUE(settle(storage->setObject(std::make_shared<Token>("def"), "fid", std::nullopt)));
  auto updated = ZODKeychainStorage::create("com.test.storage")
                     ->getObjectForKey("fid", kTokenClasses, std::nullopt);
  ASSERT_TRUE(settle(updated));
  EXPECT_EQ(tokenValue(updated), "def");

  auto removed = storage->removeObjectForKey("fid", std::nullopt);
  ASSERT_TRUE(settle(removed));
  EXPECT_TRUE(removed->isFulfilled());
  // Every store's cache is its own, so a new store shows what the keychain holds.
  auto gone = ZODKeychainStorage::create("com.test.storage")
                  ->getObjectForKey("fid", kTokenClasses, std::nullopt);
  ASSERT_TRUE(settle(gone));
  EXPECT_EQ(tokenValue(gone), "<none>");
  auto removedAgain = storage->removeObjectForKey("fid", std::nullopt);
  ASSERT_TRUE(settle(removedAgain));
  EXPECT_TRUE(removedAgain->isFulfilled());  // a missing item is no error
}

TEST_F(ZODKeychainStorageTest, KeychainAndDecodingFailuresReject) {
  auto storage = ZODKeychainStorage::create("com.test.failures");
  ASSERT_TRUE(settle(storage->setObject(std::make_shared<Other>(), "other", std::nullopt)));
  auto wrongClass = ZODKeychainStorage::create("com.test.failures")
                        ->getObjectForKey("other", kTokenClasses, std::nullopt);
  ASSERT_TRUE(settle(wrongClass));
  ASSERT_TRUE(wrongClass->isRejected());
  EXPECT_EQ(wrongClass->error()->domain(), NSCocoaErrorDomain);

  security::injectKeychainFailure(security::KeychainOperation::CopyMatching,
                                  errSecInteractionNotAllowed);
  auto locked = ZODKeychainStorage::create("com.test.failures")
                    ->getObjectForKey("other", {"TestOther"}, std::nullopt);
  ASSERT_TRUE(settle(locked));
  ASSERT_TRUE(locked->isRejected());
  EXPECT_EQ(locked->error()->domain(), kZODKeychainUtilsErrorDomain);
  EXPECT_EQ(locked->error()->code(), errSecInteractionNotAllowed);
  EXPECT_EQ(locked->error()->localizedFailureReason(), "SecItemCopyMatching (-25308)");

  // A write that fails is reported, and the object is not served from the cache afterwards.
  security::injectKeychainFailure(security::KeychainOperation::Add, errSecIO);
  auto failedSet = storage->setObject(std::make_shared<Token>("lost"), "new", std::nullopt);
  ASSERT_TRUE(settle(failedSet));
  ASSERT_TRUE(failedSet->isRejected());
  EXPECT_EQ(failedSet->error()->code(), errSecIO);
  auto notStored = storage->getObjectForKey("new", kTokenClasses, std::nullopt);
  ASSERT_TRUE(settle(notStored));
  EXPECT_EQ(tokenValue(notStored), "<none>");
}

TEST_F(ZODKeychainStorageTest, AStoreFileOfTheWrongShapeStillSettlesTheRead) {
  auto storage = ZODKeychainStorage::create("com.test.shape");
  ASSERT_TRUE(settle(storage->setObject(std::make_shared<Token>("kept"), "fid", std::nullopt)));
  std::string store;
  for (const auto& f : std::filesystem::directory_iterator(NSKeychainDirectory())) {
    if (f.path().filename().string()[0] != '.') store = f.path().string();
  }
  ASSERT_FALSE(store.empty());
  { std::ofstream(store, std::ios::binary | std::ios::trunc) << R"({"format":[]})"; }
  // A new store object, so that nothing is served from memory: the damaged file is moved aside
  // and the item counts as absent.
  auto read = ZODKeychainStorage::create("com.test.shape")->getObjectForKey("fid", kTokenClasses, std::nullopt);
  ASSERT_TRUE(settle(read));
  ASSERT_TRUE(read->isFulfilled()) << read->error()->description();
  EXPECT_EQ(tokenValue(read), "<none>");
  EXPECT_TRUE(std::filesystem::exists(store + ".corrupt-1"));
}

TEST_F(ZODKeychainStorageTest, CacheKeepsTheFiveMostRecentObjects) {
  auto storage = ZODKeychainStorage::create("com.test.cache");
  for (int i = 1; i <= 6; ++i) {
    ASSERT_TRUE(settle(storage->setObject(std::make_shared<Token>("v" + std::to_string(i)),
                                          "k" + std::to_string(i), std::nullopt)));
  }
  // With the keychain failing, only cached objects can still be read.
  security::injectKeychainFailure(security::KeychainOperation::CopyMatching, errSecIO, 100);
  auto newest = storage->getObjectForKey("k6", kTokenClasses, std::nullopt);
  auto second = storage->getObjectForKey("k2", kTokenClasses, std::nullopt);
  auto evicted = storage->getObjectForKey("k1", kTokenClasses, std::nullopt);
  ASSERT_TRUE(settle(newest));
  ASSERT_TRUE(settle(second));
  ASSERT_TRUE(settle(evicted));
  EXPECT_EQ(tokenValue(newest), "v6");
  EXPECT_EQ(tokenValue(second), "v2");
  EXPECT_TRUE(evicted->isRejected());
}

TEST(ZODKeychainUtilsTest, ItemNotFoundIsNoError) {
  NSErrorRef error = NSError::errorWithDomain("stale", 1);
  Value query = {{kSecClass, kSecClassGenericPassword}, {kSecAttrService, "none"},
                 {kSecAttrAccount, "none"}};
  EXPECT_FALSE(ZODKeychainUtils::getItemWithQuery(query, &error));
  EXPECT_FALSE(error);
  ASSERT_TRUE(ZODKeychainUtils::setItem(Bytes{1, 2, 3}, query, &error));
  EXPECT_EQ(ZODKeychainUtils::getItemWithQuery(query, &error), (Bytes{1, 2, 3}));
}

TEST(ZODGzipTest, WrapsCompressionErrorsAsErrors) {
  Bytes data(1000, 'a');
  NSErrorRef error;
  auto gz = zod_dataByGzippingData(data, &error);
  ASSERT_TRUE(gz);
  EXPECT_FALSE(error);
  EXPECT_LT(gz->size(), data.size());
  EXPECT_EQ(zod_dataByInflatingGzippedData(*gz, &error), data);
  Bytes cut(gz->begin(), gz->end() - 6);
  EXPECT_FALSE(zod_dataByInflatingGzippedData(cut, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), kZODDataCompressionErrorDomain);
  // Data that would inflate past the limit is refused with its own reason.
  auto bomb = zod_dataByGzippingData(Bytes(net::kMaxGunzipBytes + 1, 0), &error);
  ASSERT_TRUE(bomb);
  EXPECT_FALSE(zod_dataByInflatingGzippedData(*bomb, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), net::kGunzipOutputTooLarge);
  EXPECT_NE(error->localizedDescription().find("limit"), std::string::npos) << error->description();
}

TEST(ZODUserDefaultsTest, SuitesAreSeparateAndSurviveAReload) {
  ZODUserDefaults suite("com.test.suite");
  ZODUserDefaults standard("");
  suite.setBool(true, "flag");
  suite.setObject("text", "name");
  EXPECT_TRUE(suite.boolForKey("flag"));
  EXPECT_FALSE(standard.objectForKey("flag"));
  suite.removeObjectForKey("name");
  EXPECT_FALSE(suite.objectForKey("name"));
  NSUserDefaults::resetForTesting();
  ZODUserDefaults reloaded("com.test.suite");
  EXPECT_TRUE(reloaded.boolForKey("flag"));
  EXPECT_FALSE(reloaded.objectForKey("name"));
}

}  // namespace
