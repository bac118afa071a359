// Every test starts with an empty keychain and empty user defaults, also when the whole program
// runs in one process (the in_one_process case runs these two in turn).
#include <gtest/gtest.h>

#include "platform/security/Keychain.h"
#include "sdk/utilities/ZODKeychainUtils.h"
#include "sdk/utilities/ZODUserDefaults.h"

namespace {

const Value kProbeQuery = {{kSecClass, kSecClassGenericPassword},
                           {kSecAttrService, "com.test.fresh-home"},
                           {kSecAttrAccount, "probe"}};

// Finds nothing left by another test, then leaves something behind for the next one.
void expectEmptyThenLeaveTraces(const char* who) {
  NSErrorRef error;
  EXPECT_FALSE(ZODKeychainUtils::getItemWithQuery(kProbeQuery, &error)) << "keychain item left before " << who;
  EXPECT_FALSE(error);
  ZODUserDefaults suite("com.test.fresh-home");
  EXPECT_FALSE(suite.objectForKey("probe")) << "defaults key left before " << who;
  EXPECT_FALSE(ZODUserDefaults::standardUserDefaults()->objectForKey("probe"))
      << "standard defaults key left before " << who;

  ASSERT_TRUE(ZODKeychainUtils::setItem(Bytes{1, 2, 3}, kProbeQuery, &error));
  suite.setObject(Value(who), "probe");
  ZODUserDefaults::standardUserDefaults()->setObject(Value(who), "probe");
  ASSERT_TRUE(suite.synchronize());
  ASSERT_TRUE(ZODUserDefaults::standardUserDefaults()->synchronize());
  // An injected failure must not outlive its test either.
  security::injectKeychainFailure(security::KeychainOperation::CopyMatching, errSecIO, 5);
}

}  // namespace

TEST(FreshHomePerTest, FirstTestFindsNothingAndLeavesTraces) { expectEmptyThenLeaveTraces("the first test"); }

TEST(FreshHomePerTest, SecondTestFindsNothingEither) { expectEmptyThenLeaveTraces("the second test"); }
