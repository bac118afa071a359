#include <gtest/gtest.h>

#include "platform/foundation/PlistValue.h"

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
