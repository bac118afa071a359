#include <gtest/gtest.h>

#include <cmath>

#include "platform/foundation/PlistValue.h"
#include "tests/platform/foundation/PlistBuilders.h"

using namespace plist_test;

namespace {
std::string binaryPlist(const std::string& objects, uint8_t count, const std::string& offsets) {
  std::string b = "bplist00" + objects;
  const auto tableOffset = static_cast<uint8_t>(b.size());
  b += offsets;
  b += std::string(6, '\0');
  b += '\x01';  // offset size
  b += '\x01';  // reference size
  b += std::string(7, '\0') + static_cast<char>(count);
  b += std::string(8, '\0');  // top object 0
  b += std::string(7, '\0') + static_cast<char>(tableOffset);
  return b;
}
}  // namespace

TEST(Plist, BinaryAndXmlKeepEveryKindApart) {
  const Value v = {{"int", -5},   {"big", int64_t{1} << 40}, {"real", 2.0},   {"bool", true},
                   {"text", "αβγ ✓"}, {"data", value::data(std::string_view("\0\1", 2))},
                   {"old", value::date(978307200.0 - 99.5)}, {"list", Value::array({0, false, 0.0})}};
  for (bool binary : {true, false}) {
    auto bytes = ns::plistSerialize(v, binary);
    ASSERT_TRUE(bytes);
    auto back = ns::plistParse(*bytes);
    ASSERT_TRUE(back) << binary;
    EXPECT_TRUE((*back)["real"].is_number_float());
    EXPECT_TRUE((*back)["list"][1].is_boolean());
    EXPECT_TRUE((*back)["list"][0].is_number_integer());
    EXPECT_EQ((*back)["int"], -5);
    EXPECT_EQ((*back)["big"], int64_t{1} << 40);
    EXPECT_EQ((*back)["text"], "αβγ ✓");
    EXPECT_EQ((*back)["data"], v["data"]);
    if (binary) {
      EXPECT_DOUBLE_EQ(value::dateSeconds((*back)["old"]), 978307200.0 - 99.5);
    }
  }
  std::string error;
  EXPECT_FALSE(ns::plistSerialize(Value::array({1, nullptr}), true, &error));
  EXPECT_FALSE(error.empty());
}

TEST(Plist, DamagedBinaryPlistsAreRefused) {
  // A well-formed one-element array, to show the builder is right.
  auto ok = ns::plistParse(binaryPlist(std::string("\xA1\x01\x10\x07", 4), 2, std::string("\x08\x0A", 2)));
  ASSERT_TRUE(ok);
  EXPECT_EQ(*ok, Value::array({7}));

  std::string error;
  // An array that contains itself.
  EXPECT_FALSE(ns::plistParse(binaryPlist(std::string("\xA1\x00", 2), 1, "\x08"), &error));
  EXPECT_NE(error.find("itself"), std::string::npos) << error;
  // A reference past the object table.
  EXPECT_FALSE(ns::plistParse(binaryPlist(std::string("\xA1\x05", 2), 1, "\x08"), &error));
  // A string whose length runs past the end.
  EXPECT_FALSE(ns::plistParse(binaryPlist(std::string("\x5E" "ab", 3), 1, "\x08"), &error));
  // A string with a NUL inside is text like any other, not a crash.
  auto nul = ns::plistParse(binaryPlist(std::string("\x53" "a\0b", 4), 1, "\x08"), &error);
  ASSERT_TRUE(nul);
  EXPECT_EQ(nul->get<std::string>().size(), 3u);
  // XML naming the NUL character is refused before it reaches the parser.
  EXPECT_FALSE(ns::plistParse("<plist><string>a&#0;b</string></plist>", &error));
  EXPECT_TRUE(ns::plistParse("<plist version=\"1.0\"><string>caf&#x00e9;</string></plist>"));
}

TEST(Plist, SharedObjectsAreDecodedOnceAndTheExpandedSizeIsCapped) {
  // Legitimate sharing: one array referenced three times decodes to three equal copies.
  const std::string shared = bplist({std::string("\xA3", 1) + ref(1) + ref(1) + ref(1),
                                     std::string("\xA2", 1) + ref(2) + ref(2), "\x10\x07"});
  auto ok = ns::plistParse(shared);
  ASSERT_TRUE(ok);
  EXPECT_EQ(*ok, Value::array({Value::array({7, 7}), Value::array({7, 7}), Value::array({7, 7})}));

  // Forty arrays each holding the next twice: refused at once instead of expanding to 2^40 copies.
  for (auto [depth, fanout] : {std::pair<size_t, size_t>{40, 2}, {20, 8}, {10, 14}}) {
    std::string error;
    EXPECT_FALSE(ns::plistParse(referenceBomb(depth, fanout), &error)) << depth;
    EXPECT_NE(error.find("expands"), std::string::npos) << error;
  }
  // A shallow fan that stays inside the limit still decodes.
  auto small = ns::plistParse(referenceBomb(3, 2));
  ASSERT_TRUE(small);
  EXPECT_EQ((*small)[1][0][1].get<std::string>().size(), 1024u);
}

// A list small on disk may still name half a million values (each copy of a shared object counts):
// such a list is refused where it is read, since writing it again is slow (libplist's binary
// writer) and a defaults file is written at every change.
TEST(Plist, AListOfMoreValuesThanTheLimitIsRefused) {
  std::string error;
  const std::string bomb = equalIntegers({2, 8, 8, 8, 8, 8, 8});  // 2^19 equal integers
  EXPECT_LT(bomb.size(), 200u);
  EXPECT_FALSE(ns::plistParse(bomb, &error));
  EXPECT_NE(error.find("more than 65536 values"), std::string::npos) << error;
  ASSERT_TRUE(ns::plistParse(equalIntegers({2, 8, 8})));

  // At the edge: the array counts as one value and each item as one more.
  ASSERT_EQ(ns::kMaxPlistValues, 65536u);
  auto full = ns::plistParse(flatArray(ns::kMaxPlistValues - 1), &error);
  ASSERT_TRUE(full) << error;
  EXPECT_EQ(full->size(), ns::kMaxPlistValues - 1);
  EXPECT_FALSE(ns::plistParse(flatArray(ns::kMaxPlistValues), &error));

  // The same for XML, where dictionary keys count too.
  auto xml = [](size_t items) {
    std::string x = "<plist><array>";
    for (size_t i = 0; i < items; ++i) x += "<true/>";
    return x + "</array></plist>";
  };
  EXPECT_TRUE(ns::plistParse(xml(ns::kMaxPlistValues - 1), &error)) << error;
  EXPECT_FALSE(ns::plistParse(xml(ns::kMaxPlistValues), &error));
  std::string keyed = "<plist><dict>";
  for (size_t i = 0; i < ns::kMaxPlistValues / 2; ++i) keyed += "<key>k" + std::to_string(i) + "</key><true/>";
  EXPECT_FALSE(ns::plistParse(keyed + "</dict></plist>", &error));

  // And what the reader would refuse is not written.
  EXPECT_TRUE(ns::plistSerialize(Value(std::vector<Value>(ns::kMaxPlistValues - 1, 7))));
  EXPECT_FALSE(ns::plistSerialize(Value(std::vector<Value>(ns::kMaxPlistValues, 7)), true, &error));
  EXPECT_NE(error.find("more than 65536 values"), std::string::npos) << error;
}

TEST(Plist, XMLNestedTooDeeplyIsRefusedBeforeItIsBuilt) {
  std::string error;
  for (size_t depth : {size_t{ns::kMaxPlistDepth + 1}, size_t{175000}}) {
    EXPECT_FALSE(ns::plistParse(deepXML(depth), &error)) << depth;
    EXPECT_NE(error.find("nests too deeply"), std::string::npos) << error;
  }
  // Closing tags inside comments, CDATA or attribute values do not hide the depth.
  const std::string hidden = "<!-- " + std::string(200, ' ') + "</array></array></array> -->" +
                             "<![CDATA[</array></array>]]>";
  std::string x = "<plist>";
  for (int i = 0; i < 600; ++i) x += "<array a=\"</array>\">" + (i % 100 == 0 ? hidden : std::string());
  EXPECT_FALSE(ns::plistParse(x + "</plist>", &error));
  // Within the limit, nesting, comments and self-closing elements read as before.
  auto fine = ns::plistParse(deepXML(ns::kMaxPlistDepth - 2, "<!-- </array> --><true/><array/>"));
  ASSERT_TRUE(fine) << error;
  const Value* v = &*fine;
  for (size_t i = 0; i + 1 < ns::kMaxPlistDepth - 2; ++i) v = &(*v)[0];
  EXPECT_EQ(*v, Value::array({true, Value::array()}));
}

TEST(Plist, InputLargerThanTheLimitIsRefused) {
  std::string error;
  std::string huge = "<plist><string>" + std::string(ns::kMaxPlistBytes, 'x') + "</string></plist>";
  EXPECT_FALSE(ns::plistParse(huge, &error));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
}

TEST(Plist, DatesThatAreNoNumberOrOutOfRangeAreWrittenWithinRange) {
  // A stored list may hold such a date (the binary form is a plain double); saving it again must
  // not convert it to an integer unchecked. The binary form keeps it as it was read; the XML form
  // (written by libplist, whole seconds in 32 bits) holds it within range.
  const std::string stored = bplist({std::string("\xA4", 1) + ref(1) + ref(2) + ref(3) + ref(4),
                                     std::string("\x33\x7F\xF8\0\0\0\0\0\0", 9),   // NaN
                                     std::string("\x33\x7F\xF0\0\0\0\0\0\0", 9),   // +infinity
                                     std::string("\x33\xFE\x5F\xFF\xFF\xFF\xFF\xFF\xFF", 9),  // -1e300 or so
                                     std::string("\x33\x41\xD0\0\0\0\0\0\0", 9)});  // 2^30 s
  auto read = ns::plistParse(stored);
  ASSERT_TRUE(read);
  EXPECT_TRUE(std::isnan(value::dateSeconds((*read)[0]) - 978307200.0));
  auto binary = ns::plistSerialize(*read, true);
  ASSERT_TRUE(binary);
  auto exact = ns::plistParse(*binary);
  ASSERT_TRUE(exact);
  EXPECT_TRUE(std::isnan(value::dateSeconds((*exact)[0])));
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(value::dateSeconds((*exact)[i]), value::dateSeconds((*read)[i])) << i;

  auto xml = ns::plistSerialize(*read, false);
  ASSERT_TRUE(xml);
  auto back = ns::plistParse(*xml);
  ASSERT_TRUE(back);
  EXPECT_DOUBLE_EQ(value::dateSeconds((*back)[0]), 978307200.0);  // no date: the reference date
  EXPECT_DOUBLE_EQ(value::dateSeconds((*back)[1]), 978307200.0 + 2147483647.0);
  EXPECT_DOUBLE_EQ(value::dateSeconds((*back)[2]), 978307200.0 - 2147483648.0);
  EXPECT_DOUBLE_EQ(value::dateSeconds((*back)[3]), 978307200.0 + 1073741824.0);
}
