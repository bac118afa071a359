#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/NSString.h"
#include "sdk/database/core/FAtomicNumber.h"
#include "sdk/database/core/FImmutableSortedDictionary.h"
#include "sdk/database/core/FStringUtilities.h"
#include "sdk/database/core/FUtilities.h"
#include "sdk/database/core/FWSUtilities.h"

TEST(KeyOrder, SentinelsIntegersAndLiterals) {
  const std::string& min = FUtilities::minName();
  const std::string& max = FUtilities::maxName();
  std::vector<std::string> keys = {"b", "2147483648", "10", "a", "-5", "1", "00", "0"};
  std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
    return FUtilities::compareKey(a, b) < 0;
  });
  EXPECT_EQ(keys, (std::vector<std::string>{"-5", "0", "00", "1", "10", "2147483648", "a", "b"}));
  for (const std::string& k : keys) {
    EXPECT_EQ(FUtilities::compareKey(min, k), -1);
    EXPECT_EQ(FUtilities::compareKey(k, min), 1);
    EXPECT_EQ(FUtilities::compareKey(max, k), 1);
    EXPECT_EQ(FUtilities::compareKey(k, max), -1);
  }
  EXPECT_EQ(FUtilities::compareKey(min, max), -1);
  EXPECT_EQ(FUtilities::compareKey(min, min), 0);
  // A copy of a sentinel's text is an ordinary key: "[" sorts after upper-case letters.
  std::string textMin = "[MIN_NAME]";
  EXPECT_EQ(FUtilities::compareKey(textMin, "A"), 1);
  EXPECT_EQ(FUtilities::compareKey(textMin, "0"), 1);
  EXPECT_EQ(FUtilities::compareKey(std::string("[MAX_NAME]"), "z"), -1);
  EXPECT_TRUE(FUtilities::isMinName(*FUtilities::sharedMinName()));
  EXPECT_FALSE(FUtilities::isMinName(textMin));
}

TEST(KeyOrder, IntLikeEdges) {
  // Too large, twelve digits and a lone minus are ordinary keys and follow every int-like key.
  for (const char* ordinary : {"99999999999", "000000000001", "-"}) {
    EXPECT_EQ(FUtilities::compareKey(ordinary, "5"), 1) << ordinary;
  }
  EXPECT_EQ(FUtilities::compareKey("-2147483648", "-2147483647"), -1);
  EXPECT_EQ(FUtilities::compareKey("007", "7"), 1);  // same value, longer text last
  EXPECT_EQ(FUtilities::compareKey("7", "007"), -1);
  // Two different int-like texts of equal value and length stay distinct keys.
  EXPECT_EQ(FUtilities::compareKey("-0", "00"), -1);
  EXPECT_EQ(FUtilities::compareKey("00", "-0"), 1);
  EXPECT_EQ(FUtilities::compareKey(std::string("00"), std::string("00")), 0);
}

TEST(KeyOrder, TiedIntegerKeysLiveTogetherInChildren) {
  // Such keys arrive in valid data; building children from them must neither raise nor merge them.
  std::map<std::string, int> children{{"-0", 1}, {"00", 2}, {"0", 3}};
  auto d = FImmutableSortedDictionary<std::string, int>::fromDictionary(children, FUtilities::keyComparator());
  EXPECT_EQ(d->count(), 3);
  EXPECT_EQ(*d->get("-0"), 1);
  EXPECT_EQ(*d->get("00"), 2);
  auto inserted = FImmutableSortedDictionary<std::string, int>::dictionaryWithComparator(FUtilities::keyComparator())
                      ->insertKey("00", 2)->insertKey("-0", 1);
  EXPECT_EQ(inserted->count(), 2);
  EXPECT_EQ(*inserted->minKey(), "-0");
}

TEST(KeyOrder, UTF16LiteralOrder) {
  // U+FF5E (one unit) orders after U+1F600 (a surrogate pair starting D83D) by code units.
  EXPECT_EQ(FUtilities::compareKey("\xF0\x9F\x98\x80", "\xEF\xBD\x9E"), -1);
  EXPECT_EQ(FUtilities::compareKey("ab", "abc"), -1);
  EXPECT_EQ(FUtilities::stringComparator()("9", "10"), 1);
}

TEST(KeyOrder, BytesThatAreNotUTF8StayDistinct) {
  // Such bytes read as replacement characters; the order must still tell different keys apart, or
  // one child would silently take the place of another.
  const std::string ff = "\xff", fe = "\xfe", replacement = "\xef\xbf\xbd";
  EXPECT_NE(FUtilities::compareKey(ff, fe), 0);
  EXPECT_EQ(FUtilities::compareKey(ff, fe), -FUtilities::compareKey(fe, ff));
  EXPECT_NE(FUtilities::compareKey(ff, replacement), 0);
  EXPECT_NE(FUtilities::stringComparator()(ff, fe), 0);
  EXPECT_EQ(FUtilities::compareKey(ff, std::string("\xff")), 0);
  auto d = FImmutableSortedDictionary<std::string, int>::dictionaryWithComparator(FUtilities::keyComparator())
               ->insertKey(ff, 1)->insertKey(fe, 2)->insertKey(replacement + replacement, 3);
  EXPECT_EQ(d->count(), 3);
  EXPECT_EQ(*d->get(ff), 1);
  EXPECT_FALSE(d->get("\xff\xfe").has_value());
}

TEST(IntParsing, TryParseAndIntForString) {
  int64_t v = 0;
  EXPECT_TRUE(FUtilities::tryParseString("-2147483648", &v));
  EXPECT_EQ(v, -2147483648LL);
  EXPECT_TRUE(FUtilities::tryParseString("2147483647", &v));
  EXPECT_EQ(v, 2147483647LL);
  EXPECT_FALSE(FUtilities::tryParseString("2147483648", &v));
  EXPECT_FALSE(FUtilities::tryParseString("", &v));
  EXPECT_FALSE(FUtilities::tryParseString("-", &v));
  EXPECT_FALSE(FUtilities::tryParseString("1a", &v));
  EXPECT_TRUE(FUtilities::tryParseString("-0", &v));
  EXPECT_EQ(v, 0);
  EXPECT_EQ(FUtilities::intForString("12"), 12);
  for (const char* bad : {"-1", "+1", "1a", "", " 1", "99999999999999999999"}) {
    EXPECT_FALSE(FUtilities::intForString(bad).has_value()) << bad;
  }
  EXPECT_EQ(FUtilities::int32min(), -2147483648LL);
  EXPECT_EQ(FUtilities::int32max(), 2147483647LL);
}

TEST(Formatting, IEEE754AndTypes) {
  EXPECT_EQ(FUtilities::ieee754StringForNumber(1.0), "3ff0000000000000");
  EXPECT_EQ(FUtilities::ieee754StringForNumber(Value(-2)), "c000000000000000");
  EXPECT_EQ(FUtilities::ieee754StringForNumber(Value(0)), "0000000000000000");
  EXPECT_EQ(FUtilities::getJavascriptType(Value::object()), "object");
  EXPECT_EQ(FUtilities::getJavascriptType(Value("x")), "string");
  EXPECT_EQ(FUtilities::getJavascriptType(Value(true)), "boolean");
  EXPECT_EQ(FUtilities::getJavascriptType(Value(2.5)), "number");
  EXPECT_EQ(FUtilities::getJavascriptType(Value(7u)), "number");
  EXPECT_EQ(FUtilities::getJavascriptType(Value()), "null");
  EXPECT_EQ(&FUtilities::getJavascriptType(Value(1)), &FUtilities::getJavascriptType(Value(2)));
}

TEST(Formatting, SplitStringByUTF16Units) {
  auto pieces = FUtilities::splitString("abcdefghij", 4);
  EXPECT_EQ(pieces, (std::vector<std::string>{"abcd", "efgh", "ij"}));
  EXPECT_EQ(FUtilities::splitString("abc", 3), (std::vector<std::string>{"abc"}));
  // "é" is one unit, the emoji two: a pair is never cut, and nothing is lost.
  std::string text = "\xC3\xA9" "a" "\xF0\x9F\x98\x80" "b";
  auto parts = FUtilities::splitString(text, 3);
  std::string joined;
  for (const auto& p : parts) {
    EXPECT_LE(ns::utf16Length(p), 3u);
    EXPECT_EQ(ns::fromUTF16(ns::toUTF16(p)), p);  // each piece is whole text
    joined += p;
  }
  EXPECT_EQ(joined, text);
  EXPECT_EQ(FUtilities::splitString("abc", 0), (std::vector<std::string>{"abc"}));
}

TEST(Formatting, PathsFromUrls) {
  EXPECT_EQ(FUtilities::decodePath("a%20b//c"), "/a b/c");
  EXPECT_EQ(FUtilities::decodePath(""), "/");
  EXPECT_EQ(FUtilities::extractPathFromUrlString("https://host.example/a/b?x=1"), "a/b");
  EXPECT_EQ(FUtilities::extractPathFromUrlString("https://host.example"), "");
  EXPECT_EQ(FUtilities::extractPathFromUrlString("host/x"), "x");
}

TEST(Errors, ErrorsForStatuses) {
  EXPECT_EQ(FUtilities::errorForStatus("ok", std::nullopt), nullptr);
  auto denied = FUtilities::errorForStatus("permission_denied", std::nullopt);
  EXPECT_EQ(denied->domain(), "com.zirezize");
  EXPECT_EQ(denied->code(), 1);
  EXPECT_EQ(denied->localizedDescription(), "Permission Denied");
  auto other = FUtilities::errorForStatus("too_big", std::nullopt);
  EXPECT_EQ(other->code(), 9999);
  EXPECT_EQ(other->localizedDescription(), "too_big");
  auto withReason = FUtilities::errorForStatus("write_canceled", std::string("because"));
  EXPECT_EQ(withReason->code(), 3);
  EXPECT_EQ(withReason->localizedDescription(), "because");
}

TEST(Logging, GateFollowsTheSwitch) {
  EXPECT_FALSE(FUtilities::getLoggingEnabled());
  EXPECT_FALSE(FUtilitiesLogLevelEnabled(kFLogLevelDebug));
  EXPECT_TRUE(FUtilitiesLogLevelEnabled(kFLogLevelInfo));
  FUtilities::setLoggingEnabled(true);
  EXPECT_TRUE(FUtilities::getLoggingEnabled());
  EXPECT_TRUE(FUtilitiesLogLevelEnabled(kFLogLevelDebug));
  FUtilities::setLoggingEnabled(false);
  EXPECT_FALSE(FUtilitiesLogLevelEnabled(kFLogLevelDebug));
  EXPECT_TRUE(FUtilitiesLogLevelEnabled(kFLogLevelWarning));
}

TEST(Counters, DistinctValuesAcrossThreads) {
  FAtomicNumber counter;
  EXPECT_EQ(counter.getAndIncrement(), 1u);
  std::vector<std::vector<uint64_t>> seen(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 1000; ++i) seen[t].push_back(FUtilities::LUIDGenerator());
    });
  }
  for (auto& th : threads) th.join();
  std::set<uint64_t> all;
  for (auto& s : seen) all.insert(s.begin(), s.end());
  EXPECT_EQ(all.size(), 4000u);
  double r = FUtilities::randomDouble();
  EXPECT_GE(r, 0.0);
  EXPECT_LT(r, 1.0);
}

TEST(StringUtilities, Sha1EncodingAndSanitising) {
  EXPECT_EQ(FStringUtilities::base64EncodedSha1(""), "2jmj7l5rSw0yVb/vlWAYkK/YBwk=");
  EXPECT_EQ(FStringUtilities::base64EncodedSha1("abc"), "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
  // Every byte counts: a zero byte does not end the text.
  EXPECT_NE(FStringUtilities::base64EncodedSha1(std::string("a\0b", 3)), FStringUtilities::base64EncodedSha1("a"));
  EXPECT_EQ(FWSUtilities::base64EncodedStringFromData({0xfb, 0xff}), "+/8=");
  EXPECT_EQ(FStringUtilities::urlEncoded("a b/é~"), "a%20b%2F%C3%A9~");
  EXPECT_EQ(FStringUtilities::urlDecoded("a+b%2Fc"), "a b/c");
  EXPECT_EQ(FStringUtilities::urlDecoded("a+b%zz"), "a b%zz");
  EXPECT_EQ(FStringUtilities::urlDecoded("bad%"), "bad%");
  EXPECT_EQ(FStringUtilities::urlDecoded("%ff+"), "%ff ");  // not UTF-8 once decoded
  EXPECT_EQ(FStringUtilities::sanitizedForUserAgent("a/b_c"), "a|b|c");
}

// The comparators decide by bytes where two texts first differ in ASCII bytes, and by UTF-16 code
// units otherwise: over texts mixing ASCII, multi-byte characters, supplementary characters and
// bytes that are not UTF-8, they order exactly as the UTF-16 comparison does, tied texts apart.
TEST(KeyOrder, AgreesWithUTF16OrderOverMixedTexts) {
  const std::vector<std::string> pieces = {"a", "b", "z", "0", "9", "-", "\xC3\xA9", "\xEE\x80\x80", "\xF0\x9F\x98\x80",
                                           "\xC3", "\xA9", "\xFF", "\xE2\x82"};
  std::vector<std::string> texts = {""};
  for (const std::string& first : pieces) {
    texts.push_back("k" + first);
    for (const std::string& second : pieces) texts.push_back("k" + first + second);
  }
  for (const std::string& a : texts) {
    for (const std::string& b : texts) {
      int expected = ns::utf16Compare(a, b);
      if (expected == 0 && a != b) expected = a < b ? -1 : 1;
      ASSERT_EQ(FUtilities::stringComparator()(a, b), expected) << testing::PrintToString(a) << " " << testing::PrintToString(b);
      ASSERT_EQ(FUtilities::compareKey(a, b), expected);
    }
  }
}
