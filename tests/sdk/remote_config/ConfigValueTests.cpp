// Typed views of configuration values, the settings value, and the device facts of a fetch.
#include <gtest/gtest.h>

#include "platform/foundation/NSBundle.h"
#include "sdk/remote_config/RCNDevice.h"
#include "sdk/remote_config/ZIRRemoteConfigValue.h"
#include "sdk/utilities/ZODAppEnvironmentUtil.h"
#include "tests/support/ScopedEnvironment.h"

namespace {

ZIRRemoteConfigValueRef valueOf(const std::string& text) {
  return ZIRRemoteConfigValue::initWithData(Bytes(text.begin(), text.end()), ZIRRemoteConfigSource::Remote);
}

// Sets the locale variables the preferred languages come from, for the life of a scope.
class PreferredLanguages {
 public:
  explicit PreferredLanguages(const std::string& languages) {
    environment_.set("LC_ALL", std::nullopt);
    environment_.set("LC_MESSAGES", std::nullopt);
    environment_.set("LANG", "en_US.UTF-8");
    environment_.set("LANGUAGE", languages);
  }
  void change(const std::string& languages) { environment_.set("LANGUAGE", languages); }

 private:
  testsupport::ScopedEnvironment environment_;
};

}  // namespace

TEST(ConfigValue, AStaticValueReadsAsEmptyZeroAndFalse) {
  ZIRRemoteConfigValue value;
  EXPECT_EQ(value.source(), ZIRRemoteConfigSource::Static);
  EXPECT_EQ(value.stringValue(), std::string());
  EXPECT_EQ(value.numberValue(), 0);
  EXPECT_FALSE(value.boolValue());
  EXPECT_FALSE(value.JSONValue());
  EXPECT_TRUE(value.dataValue().empty());
}

TEST(ConfigValue, NumbersReadTheLeadingDecimalNumber) {
  EXPECT_EQ(valueOf("42")->numberValue(), 42.0);
  EXPECT_EQ(valueOf("3.5 MB")->numberValue(), 3.5);
  EXPECT_EQ(valueOf("abc")->numberValue(), 0);
  EXPECT_EQ(valueOf("1e3")->numberValue(), 1000.0);
  EXPECT_EQ(valueOf("0001")->numberValue(), 1.0);
  EXPECT_EQ(valueOf("  -2.25")->numberValue(), -2.25);
  EXPECT_EQ(valueOf("0x1A")->numberValue(), 0);  // decimal only
  EXPECT_EQ(valueOf("inf")->numberValue(), 0);
}

TEST(ConfigValue, BooleansFollowThePlatformRule) {
  for (const char* yes : {"true", "TRUE", "yes", "Y", "1", "42", " t", "-01", "+9", "tomato"}) {
    EXPECT_TRUE(valueOf(yes)->boolValue()) << yes;
  }
  for (const char* no : {"false", "no", "0", "", "on", "0.9", "N", "--1", "000"}) {
    EXPECT_FALSE(valueOf(no)->boolValue()) << no;
  }
  EXPECT_TRUE(valueOf("1e3")->boolValue());
  EXPECT_TRUE(valueOf("0001")->boolValue());
}

TEST(ConfigValue, BytesThatAreNotUTF8HaveNoText) {
  for (const Bytes& bad : {Bytes{0xff}, Bytes{0xc0, 0x80}, Bytes{0xed, 0xa0, 0x80}, Bytes{0xe2, 0x82}}) {
    auto value = ZIRRemoteConfigValue::initWithData(bad, ZIRRemoteConfigSource::Remote);
    EXPECT_FALSE(value->stringValue());
    EXPECT_EQ(value->numberValue(), 0);
    EXPECT_FALSE(value->boolValue());
    EXPECT_EQ(value->dataValue(), bad);
  }
  EXPECT_EQ(valueOf("grüße €")->stringValue(), std::string("grüße €"));
}

TEST(ConfigValue, JSONParsesObjectsAndRefusesMalformedOrOverdeepText) {
  auto json = valueOf(R"({"a":[1,2],"b":{"c":null}})")->JSONValue();
  ASSERT_TRUE(json);
  EXPECT_EQ((*json)["a"], Value::array({1, 2}));
  EXPECT_TRUE((*json)["b"]["c"].is_null());
  EXPECT_EQ(*valueOf("[true]")->JSONValue(), Value::array({true}));
  EXPECT_FALSE(valueOf("{not json")->JSONValue());
  EXPECT_FALSE(valueOf(std::string(100, '[') + std::string(100, ']'))->JSONValue());
}

TEST(ConfigValue, ACopyHasEqualBytesAndIsAnotherObject) {
  auto value = valueOf("same");
  auto copy = value->copy();
  EXPECT_NE(copy.get(), value.get());
  EXPECT_EQ(copy->dataValue(), value->dataValue());
  EXPECT_EQ(copy->source(), value->source());
  copy->setSource(ZIRRemoteConfigSource::Default);
  EXPECT_EQ(value->source(), ZIRRemoteConfigSource::Remote);
  const std::string description = value->debugDescription();
  EXPECT_EQ(description.rfind("<ZIRRemoteConfigValue: 0x", 0), 0u);
  EXPECT_NE(description.find("Boolean: 0, String: same, Number: 0"), std::string::npos);
  EXPECT_NE(description.find("Source: 0>"), std::string::npos);
}

TEST(DeviceFacts, TheLocaleMapHoldsEveryListedIdentifier) {
  auto map = ZIRRemoteConfigLocaleMap();
  EXPECT_EQ(map.size(), 48u);
  auto all = ZIRRemoteConfigSupportedLocales();
  EXPECT_EQ(all.size(), 187u);
  EXPECT_EQ(std::count(all.begin(), all.end(), "en_GB"), 2);
  EXPECT_EQ(map.front().first, "sq");
  EXPECT_EQ(map.back().first, "th");
}

TEST(DeviceFacts, TheDeviceLocaleIsTheBestMatchOfThePreferredLanguages) {
  PreferredLanguages languages("en");
  EXPECT_EQ(ZIRRemoteConfigDeviceLocale(), "en");
  languages.change("fr");
  EXPECT_EQ(ZIRRemoteConfigDeviceLocale(), "fr");
  languages.change("sw");  // not supported: English
  EXPECT_EQ(ZIRRemoteConfigDeviceLocale(), "en");
  languages.change("sw:de_AT");  // a later preference that matches wins over the fallback
  EXPECT_EQ(ZIRRemoteConfigDeviceLocale(), "de_AT");
  languages.change("de_BE");  // no region match: the language alone
  EXPECT_EQ(ZIRRemoteConfigDeviceLocale(), "de");
  EXPECT_EQ(ZIRPreferredLocalizations({"zh_CN", "zh-Hans"}, {"zh-Hans-CN"}), std::vector<std::string>{"zh-Hans"});
  EXPECT_TRUE(ZIRPreferredLocalizations({"en"}, {"sw"}).empty());
}

TEST(DeviceFacts, TheDeviceContextChangesWithTheAppTheSystemAndTheLanguage) {
  PreferredLanguages languages("en");
  const std::string appID = "1:1:ios:1";
  Value context = ZIRRemoteConfigDeviceContext(appID);
  EXPECT_EQ(context[RCNDeviceContextKeyVersion], "1.0");
  EXPECT_EQ(context[RCNDeviceContextKeyBuild], "1");
  EXPECT_EQ(context[RCNDeviceContextKeyOSVersion], ZODAppEnvironmentUtil::systemVersion());
  EXPECT_EQ(context[RCNDeviceContextKeyDeviceLocale], "en");
  EXPECT_EQ(context[RCNDeviceContextKeyGMPProjectIdentifier], appID);
  EXPECT_FALSE(ZIRRemoteConfigDeviceContext(std::nullopt).contains(RCNDeviceContextKeyGMPProjectIdentifier));

  EXPECT_FALSE(ZIRRemoteConfigDeviceContextChanged(context, appID));
  EXPECT_TRUE(ZIRRemoteConfigDeviceContextChanged(Value::object(), appID));  // no fetch yet
  EXPECT_TRUE(ZIRRemoteConfigDeviceContextChanged(context, std::string("1:1:ios:2")));
  Value withoutProject = ZIRRemoteConfigDeviceContext(std::nullopt);
  EXPECT_FALSE(ZIRRemoteConfigDeviceContextChanged(withoutProject, std::string("anything")));
  Value olderBuild = context;
  olderBuild[RCNDeviceContextKeyBuild] = "0";
  EXPECT_TRUE(ZIRRemoteConfigDeviceContextChanged(olderBuild, appID));
  Value wrongKind = context;
  wrongKind[RCNDeviceContextKeyVersion] = 1.0;  // a stored number equals no version text
  EXPECT_TRUE(ZIRRemoteConfigDeviceContextChanged(wrongKind, appID));
  languages.change("fr");
  EXPECT_TRUE(ZIRRemoteConfigDeviceContextChanged(context, appID));

  // An app without a short version never stores one, so every comparison counts as changed.
  NSBundle::mainBundle().setInfoValueForTesting("CFBundleShortVersionString", Value());
  Value noVersion = ZIRRemoteConfigDeviceContext(appID);
  EXPECT_FALSE(noVersion.contains(RCNDeviceContextKeyVersion));
  EXPECT_TRUE(ZIRRemoteConfigDeviceContextChanged(noVersion, appID));
  NSBundle::resetInfoValuesForTesting();
}

TEST(DeviceFacts, TheCountryComesFromTheLocaleInLowerCase) {
  {
    testsupport::ScopedEnvironment environment;
    environment.set("LC_ALL", "de_AT.UTF-8");
    EXPECT_EQ(ZIRRemoteConfigDeviceCountry(), std::string("at"));
    environment.set("LC_ALL", "fr");  // a locale without a region
    EXPECT_FALSE(ZIRRemoteConfigDeviceCountry());
  }
  EXPECT_EQ(ZIRRemoteConfigSDKVersion(), "ZIRRemoteConfig_VERSION");
}
