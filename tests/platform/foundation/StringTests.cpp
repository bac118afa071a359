#include <gtest/gtest.h>

#include <limits>

#include "platform/foundation/NSString.h"
#include "platform/foundation/Value.h"

TEST(StringHelpers, Utf16LengthCountsSurrogatePairsAsTwo) {
  EXPECT_EQ(ns::utf16Length(""), 0u);
  EXPECT_EQ(ns::utf16Length("abc"), 3u);
  EXPECT_EQ(ns::utf16Length("\xC3\xA9"), 1u);          // é
  EXPECT_EQ(ns::utf16Length("\xF0\x9F\x98\x80"), 2u);  // U+1F600
  EXPECT_EQ(ns::utf16Length("\xFF"), 1u);              // invalid byte
}

TEST(StringHelpers, Utf16CompareOrdersSupplementaryBeforePrivateUse) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600, units D83D DE00
  const std::string e000 = "\xEE\x80\x80";       // U+E000
  EXPECT_EQ(ns::utf16Compare(emoji, e000), -1);
  EXPECT_EQ(ns::utf16Compare(e000, emoji), 1);
  EXPECT_GT(emoji, e000);  // byte order disagrees, which is why the helper exists
  EXPECT_EQ(ns::utf16Compare("a", "b"), -1);
  EXPECT_EQ(ns::utf16Compare("ab", "a"), 1);
  EXPECT_EQ(ns::utf16Compare("same", "same"), 0);
  EXPECT_EQ(ns::utf16Compare("\xF0\x9F\x98\x80", "\xF0\x9F\x98\x81"), -1);
}

TEST(StringHelpers, FloatValueReadsTheLeadingNumber) {
  EXPECT_FLOAT_EQ(ns::floatValue("  12.5 Hz"), 12.5f);
  EXPECT_FLOAT_EQ(ns::floatValue("-3e2x"), -300.f);
  EXPECT_FLOAT_EQ(ns::floatValue("abc"), 0.f);
  EXPECT_FLOAT_EQ(ns::floatValue(""), 0.f);
  EXPECT_FLOAT_EQ(ns::floatValue(".5"), 0.5f);
  EXPECT_FLOAT_EQ(ns::floatValue("0x10"), 0.f);
  // Beyond the float range: an infinity of the number's sign (not an undefined conversion).
  EXPECT_EQ(ns::floatValue("1e300"), std::numeric_limits<float>::infinity());
  EXPECT_EQ(ns::floatValue("-4e38"), -std::numeric_limits<float>::infinity());
  EXPECT_EQ(ns::floatValue("1e-300"), 0.0f);
  EXPECT_EQ(ns::integerValue(" 42abc"), 42);
}

TEST(StringHelpers, Base64RoundTripsBothAlphabets) {
  const std::vector<uint8_t> bytes = {0xFB, 0xFF, 0x00, 0x10, 0x7E};
  EXPECT_EQ(ns::base64Encode(bytes), "+/8AEH4=");
  EXPECT_EQ(ns::base64Encode(bytes, true), "-_8AEH4=");
  EXPECT_EQ(*ns::base64Decode("+/8AEH4="), bytes);
  EXPECT_EQ(*ns::base64Decode("-_8AEH4"), bytes);
  EXPECT_FALSE(ns::base64Decode("ab$d").has_value());
  EXPECT_EQ(ns::base64Encode(std::string_view("")), "");
}

TEST(ValueTest, KeepsNumberKindsAndParsesStrictly) {
  auto v = value::parseJSON(R"({"i": 3, "u": 18446744073709551615, "d": 3.0, "b": true})");
  ASSERT_TRUE(v.has_value());
  EXPECT_TRUE((*v)["i"].is_number_integer());
  EXPECT_TRUE((*v)["u"].is_number_unsigned());
  EXPECT_TRUE((*v)["d"].is_number_float());
  EXPECT_TRUE((*v)["b"].is_boolean());
  std::string err;
  EXPECT_FALSE(value::parseJSON("42", false, &err).has_value());
  EXPECT_FALSE(err.empty());
  EXPECT_TRUE(value::parseJSON("42", true).has_value());
  EXPECT_FALSE(value::parseJSON("{\"a\":1,}").has_value());
  EXPECT_EQ(value::dateSeconds(value::date(1234.5)), 1234.5);
  EXPECT_TRUE(value::isData(value::data(std::string_view("ab"))));
  EXPECT_FALSE(value::isData(value::date(1)));
}
