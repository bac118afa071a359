// A property list read and written back holds what it held: every value is read exactly and
// written unchanged, or the list is refused with a reason. Lists are built byte by byte, as another
// program (or damage) may leave them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "platform/foundation/NSKeyedArchiver.h"
#include "platform/foundation/PlistBudget.h"
#include "platform/foundation/PlistValue.h"
#include "tests/platform/foundation/PlistBuilders.h"

using namespace plist_test;
using namespace std::string_literals;

namespace {

std::string xmlList(const std::string& inside) { return "<?xml version=\"1.0\"?><plist version=\"1.0\">" + inside + "</plist>"; }

}  // namespace

TEST(PlistRoundTrip, ValuesLibplistWouldCutAreReadExactlyAndWrittenBackUnchanged) {
  const std::string stored = dictionaryList(
      {"\x53k\0x"s, "\x51k", "\x54" "name", "\x53" "big", "\x53" "neg", "\x53" "uid", "\x53" "u16"},
      {"\x51" "B",                                       // under "k\0x": a key holding a NUL
       "\x51" "A",                                       // under "k"
       "\x54" "caf\xE9",                                 // 8-bit text in the one-byte string type
       "\x14" + std::string(8, '\0') + std::string(8, '\xFF'),  // 2^64-1, a 16-byte integer
       "\x14" + std::string(8, '\xFF') + std::string(7, '\xFF') + "\xFE",  // -2, sign-extended
       "\x87\x00\x00\x00\x01\x00\x00\x00\x05"s,          // a UID above 2^32
       "\x62\x00" "a\x00\x00"s});                          // UTF-16 "a" and NUL
  std::string error;
  auto read = ns::plistParse(stored, &error);
  ASSERT_TRUE(read) << error;
  ASSERT_EQ(read->size(), 7u) << "no two keys merge";
  EXPECT_EQ((*read)["k\0x"s], "B");
  EXPECT_EQ((*read)["k"], "A");
  EXPECT_EQ((*read)["name"], "café");
  ASSERT_TRUE((*read)["big"].is_number_unsigned());
  EXPECT_EQ((*read)["big"].get<uint64_t>(), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ((*read)["neg"], -2);
  EXPECT_EQ(ns::plistUIDValue((*read)["uid"]), 0x100000005u);
  EXPECT_EQ((*read)["u16"], "a\0"s);

  auto written = ns::plistSerialize(*read, true, &error);
  ASSERT_TRUE(written) << error;
  auto back = ns::plistParse(*written, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(*back, *read);
  EXPECT_TRUE((*back)["big"].is_number_unsigned());
  EXPECT_EQ(ns::plistSerialize(*back, true), written) << "writing again changes nothing";
}

TEST(PlistRoundTrip, BinaryValuesWithoutAnExactReadingAreRefusedWithAReason) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* reason;
  };
  const Case cases[] = {
      {"a 16-byte integer beyond 64 bits", bplist({"\x14\x01" + std::string(15, '\0')}), "64 bits"},
      {"a UID of nine bytes", bplist({"\x88" + std::string(9, '\x01')}), "longer than 8 bytes"},
      {"a leading surrogate alone", bplist({"\x62\xD8\x00\x00" "a"s}), "surrogate"},
      {"a trailing surrogate alone", bplist({"\x61\xDC\x00"s}), "surrogate"},
      {"one key twice, in both string types", dictionaryList({"\x54" "caf\xE9", "\x64\x00" "c\x00" "a\x00" "f\x00\xE9"s},
                                                             {"\x10\x01", "\x10\x02"}),
       "one key twice"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ns::plistParse(c.bytes, &error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
}

TEST(PlistRoundTrip, XMLIntegersAreReadAsTheNumbersTheyShowOrRefused) {
  auto read = ns::plistParse(xmlList("<array><integer>18446744073709551615</integer><integer>-1</integer>"
                                     "<integer>9223372036854775808</integer><integer>-9223372036854775808</integer>"
                                     "<integer> +12 </integer><integer>0</integer></array>"));
  ASSERT_TRUE(read);
  ASSERT_TRUE((*read)[0].is_number_unsigned());
  EXPECT_EQ((*read)[0].get<uint64_t>(), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ((*read)[1], -1);
  EXPECT_FALSE((*read)[1].is_number_unsigned());
  EXPECT_EQ((*read)[2].get<uint64_t>(), uint64_t{1} << 63);
  EXPECT_EQ((*read)[3], std::numeric_limits<int64_t>::min());
  EXPECT_EQ((*read)[4], 12);
  EXPECT_EQ((*read)[5], 0);
  // Written as binary, read again: the same numbers.
  EXPECT_EQ(ns::plistParse(*ns::plistSerialize(*read, true)), read);

  // Text libplist would read as another number, without a word.
  for (const char* text : {"010", "0x10", "12abc", "1e3", "99999999999999999999", "-99999999999999999999",
                           "18446744073709551616", "-9223372036854775809", "", "-"}) {
    std::string error;
    EXPECT_FALSE(ns::plistParse(xmlList("<array><integer>"s + text + "</integer></array>"), &error)) << text;
    EXPECT_NE(error.find("integer"), std::string::npos) << text << ": " << error;
  }
  std::string error;
  EXPECT_FALSE(ns::plistParse(xmlList("<dict><key>n</key><integer/></dict>"), &error));
  EXPECT_FALSE(ns::plistParse(xmlList("<integer>1<!-- -->2</integer>"), &error));
  // An integer in a comment or a string is no integer element.
  EXPECT_EQ(ns::plistParse(xmlList("<!-- <integer>010</integer> --><string>&lt;integer>010</string>")),
            Value("<integer>010"));
}

TEST(PlistRoundTrip, XMLTextThatIsNotUTF8IsRefused) {
  for (const std::string& inside : {"<string>caf\xE9</string>"s, "<dict><key>caf\xE9</key><true/></dict>"s}) {
    std::string error;
    EXPECT_FALSE(ns::plistParse(xmlList(inside), &error)) << inside;
    EXPECT_NE(error.find("UTF-8"), std::string::npos) << error;
  }
  EXPECT_EQ(ns::plistParse(xmlList("<string>café</string>")), Value("café"));
}

TEST(PlistRoundTrip, WritersRefuseWhatTheyWouldWriteChanged) {
  struct Case {
    const char* what;
    Value value;
    bool binaryHoldsIt;
  };
  const Case cases[] = {
      {"a text holding NUL", Value::array({"a\0b"s}), true},
      {"a key holding NUL", Value{{"k\0x"s, 1}}, true},
      {"an integer above 2^63-1", Value::array({std::numeric_limits<uint64_t>::max()}), true},
      {"a UID", Value::array({ns::plistUID(7)}), true},
      {"text that is not UTF-8", Value::array({"caf\xE9"s}), false},
      {"a key that is not UTF-8", Value{{"caf\xE9"s, 1}}, false},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ns::plistSerialize(c.value, false, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
    auto binary = ns::plistSerialize(c.value, true, &error);
    EXPECT_EQ(binary.has_value(), c.binaryHoldsIt) << c.what << ": " << error;
    if (binary) {
      EXPECT_EQ(ns::plistParse(*binary), c.value) << c.what;
    }
  }
}

TEST(PlistRoundTrip, LongListsAndTextsUseWiderReferencesAndLengths) {
  // Past 255 objects references take two bytes, past 65,535 bytes offsets take four; lengths of
  // 15 and more follow their marker.
  Value list = Value::array();
  for (int i = 0; i < 300; ++i) list.push_back("text " + std::to_string(i) + std::string(static_cast<size_t>(i), 'x'));
  list.push_back(std::string(70000, 'y'));
  list.push_back("ünïcödé " + std::string(20, 'z'));
  list.push_back(value::data(Bytes(40, 7)));
  const Value v = {{"list", list}, {"n", -70000}, {"m", 70000}, {"x", 5000000000LL}, {"f", 0.25}};
  std::string error;
  auto bytes = ns::plistSerialize(v, true, &error);
  ASSERT_TRUE(bytes) << error;
  EXPECT_EQ(ns::plistParse(*bytes, &error), v) << error;
}

// A few kilobytes whose one text is referenced from thousands of places read as tens of megabytes
// of text. Written as XML each copy is written out; a list longer than the readers take is refused
// with the reason, while the binary form writes the text once.
TEST(PlistRoundTrip, WritersRefuseWhatTheReadersWouldRefuse) {
  const std::string text(4400, 't');
  const std::string tooLong = sharedLeaf({20, 20, 20}, oneByteString(text));  // 8,000 copies, 35 MB of XML
  ASSERT_LT(tooLong.size(), 5000u);
  std::string error;
  auto read = ns::plistParse(tooLong, &error);
  ASSERT_TRUE(read) << error;
  EXPECT_FALSE(ns::plistSerialize(*read, false, &error));
  EXPECT_NE(error.find(std::to_string(ns::kMaxPlistBytes) + " bytes"), std::string::npos) << error;
  auto binary = ns::plistSerialize(*read, true, &error);
  ASSERT_TRUE(binary) << error;
  EXPECT_EQ(ns::plistParse(*binary), read);

  // 400 copies are written as XML and read back the same.
  auto fits = ns::plistParse(sharedLeaf({20, 20}, oneByteString(text)), &error);
  ASSERT_TRUE(fits) << error;
  auto xml = ns::plistSerialize(*fits, false, &error);
  ASSERT_TRUE(xml) << error;
  EXPECT_GT(xml->size(), 400 * text.size());
  EXPECT_EQ(ns::plistParse(*xml, &error), fits) << error;

  // One text longer than a list may be: neither form is written.
  const Value huge = Value::array({std::string(ns::kMaxPlistBytes, 'x')});
  for (bool binaryForm : {false, true}) {
    error.clear();
    EXPECT_FALSE(ns::plistSerialize(huge, binaryForm, &error)) << binaryForm;
    EXPECT_NE(error.find(std::to_string(ns::kMaxPlistBytes) + " bytes"), std::string::npos) << error;
  }
}

// The binary reader and writer reckon a value alike, whichever string type holds its texts: a
// list of texts in both types reckoned at exactly the limit is read and written again; one byte
// more is refused by the reader and the writer.
TEST(PlistRoundTrip, ReaderAndWriterReckonTextsAlikeUpToTheLimit) {
  const size_t copies = 4000;
  const std::string latin1(8000, '\xE9');  // 16,000 bytes of UTF-8 each copy
  const size_t shared = copies * (ns::kPlistValueCost + 2 * latin1.size());
  // The top array, the array of copies and the UTF-16 text are reckoned at a value each.
  const size_t rest = ns::kMaxPlistDecodedBytes - shared - 3 * ns::kPlistValueCost;
  std::u16string units((rest - 2) / 3, u'\u20AC');  // three bytes of UTF-8 each
  units.append(rest - 3 * units.size(), u'a');
  auto list = [&](const std::u16string& last) {
    return bplist({"\xA2"s + ref(1) + ref(3), arrayOf(copies, 2), oneByteString(latin1), utf16String(last)});
  };
  const std::string atTheLimit = list(units);
  std::string error;
  auto read = ns::plistParse(atTheLimit, &error);
  ASSERT_TRUE(read) << error;
  ASSERT_EQ(read->size(), 2u);
  EXPECT_EQ((*read)[1].get_ref<const std::string&>().size(), rest);
  auto written = ns::plistSerialize(*read, true, &error);
  ASSERT_TRUE(written) << error;
  EXPECT_EQ(ns::plistParse(*written), read);

  EXPECT_FALSE(ns::plistParse(list(units + u"a"), &error));
  EXPECT_NE(error.find("size limit"), std::string::npos) << error;
  (*read)[1].get_ref<std::string&>() += "a";
  EXPECT_FALSE(ns::plistSerialize(*read, true, &error));
  EXPECT_NE(error.find("size limit"), std::string::npos) << error;
}

namespace {

// A binary date object holding exactly these 64 bits (seconds since 2001 as a double).
std::string dateObject(uint64_t bits) {
  std::string d = "\x33";
  for (int i = 7; i >= 0; --i) d += static_cast<char>((bits >> (8 * i)) & 0xFF);
  return d;
}

uint64_t bitsOf(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

}  // namespace

// A date is held as the seconds since 2001 the binary list (and the keyed archive) stores, so that
// whatever a file holds is written back with the same bytes: fractions far below a second, values
// that seconds since 1970 would round, zero of either sign, NaN with its payload.
TEST(PlistRoundTrip, BinaryDatesAreWrittenBackWithTheBytesTheFileHeld) {
  const std::vector<uint64_t> stored = {bitsOf(786000000.123456789), bitsOf(1e-9),   bitsOf(0.1),
                                        bitsOf(-0.0),                bitsOf(5e-324), 0x7FF8000000000123ull,
                                        bitsOf(-1e300),              bitsOf(-978307200.0 + 1e-6)};
  std::vector<std::string> objects = {marker(0xA, stored.size())};
  for (size_t i = 0; i < stored.size(); ++i) {
    objects[0] += ref(i + 1);
    objects.push_back(dateObject(stored[i]));
  }
  std::string error;
  auto read = ns::plistParse(bplist(objects), &error);
  ASSERT_TRUE(read) << error;
  for (size_t i = 0; i < stored.size(); ++i) {
    ASSERT_TRUE(value::isDate((*read)[i])) << i;
    EXPECT_EQ(bitsOf(value::dateSecondsSinceReferenceDate((*read)[i])), stored[i]) << i;
  }
  EXPECT_EQ(value::dateSeconds((*read)[2]), 978307200.0 + 0.1) << "since 1970, for those who ask";
  auto written = ns::plistSerialize(*read, true, &error);
  ASSERT_TRUE(written) << error;
  for (size_t i = 0; i < stored.size(); ++i)
    EXPECT_NE(written->find(dateObject(stored[i])), std::string::npos) << "the bytes of date " << i;
  EXPECT_EQ(ns::plistParse(*written), read);

  // A date archived in a keyed archive comes back with the same bits.
  struct Holder : NSCoding {
    Value dates;
    std::string className() const override { return "Test.Dates"; }
    void encodeWithCoder(NSCoder& c) const override { c.encodeValue(dates, "dates"); }
  };
  NSRegisterCodingClass("Test.Dates", [](NSCoder& c) -> NSCodingRef {
    auto h = std::make_shared<Holder>();
    h->dates = c.decodeValue("dates").value_or(Value());
    return h;
  });
  Holder holder;
  holder.dates = *read;
  NSErrorRef archiveError;
  auto archived = NSKeyedArchiver::archivedDataWithRootObject(holder, &archiveError);
  ASSERT_TRUE(archived);
  auto back = std::dynamic_pointer_cast<Holder>(
      NSKeyedUnarchiver::unarchivedObjectOfClasses({"Test.Dates"}, *archived, &archiveError));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->dates, *read);
}

// XML holds a date as text of whole seconds: a date libplist reads as it shows is read and written
// back as the same text; text it would read as another date (or as a date of whatever it managed to
// read) is refused with the reason.
TEST(PlistRoundTrip, XMLDatesAreWrittenBackAsTheTextTheyWereReadFrom) {
  const std::vector<std::string> dates = {"2024-02-29T12:34:56Z", "2001-01-01T00:00:00Z", "1970-01-01T00:00:00Z",
                                          "1932-12-13T20:45:52Z", "2069-01-19T03:14:07Z", "1999-12-31T23:59:59Z"};
  std::string inside = "<array>";
  for (const auto& d : dates) inside += "<date>" + d + "</date>";
  std::string error;
  auto read = ns::plistParse(xmlList(inside + "<date> 2020-01-02T03:04:05Z\n</date></array>"), &error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(value::dateSecondsSinceReferenceDate((*read)[0]), 730902896.0);
  EXPECT_EQ(value::dateSecondsSinceReferenceDate((*read)[4]), 2147483647.0);
  auto xml = ns::plistSerialize(*read, false, &error);
  ASSERT_TRUE(xml) << error;
  for (const auto& d : dates) EXPECT_NE(xml->find("<date>" + d + "</date>"), std::string::npos) << d << "\n" << *xml;
  EXPECT_NE(xml->find("<date>2020-01-02T03:04:05Z</date>"), std::string::npos);
  EXPECT_EQ(ns::plistParse(*xml), read);

  const struct {
    const char* text;
    const char* reason;
  } refused[] = {
      {"2069-01-19T03:14:08Z", "1932-12-13T20:45:52Z to 2069-01-19T03:14:07Z"},
      {"1932-12-13T20:45:51Z", "1932-12-13T20:45:52Z to 2069-01-19T03:14:07Z"},
      {"9999-12-31T23:59:59Z", "1932-12-13T20:45:52Z to 2069-01-19T03:14:07Z"},
      {"2023-02-29T00:00:00Z", "not in the calendar"},
      {"2020-04-31T00:00:00Z", "not in the calendar"},
      {"2020-01-02T24:00:00Z", "not in the calendar"},
      {"2020-01-02T23:59:60Z", "not in the calendar"},
      {"2020-13-02T00:00:00Z", "not in the calendar"},
      {"2020-01-02T03:04:05.5Z", "YYYY-MM-DDTHH:MM:SSZ"},
      {"2020-1-2T03:04:05Z", "YYYY-MM-DDTHH:MM:SSZ"},
      {"2020-01-02 03:04:05", "YYYY-MM-DDTHH:MM:SSZ"},
      {"yesterday", "YYYY-MM-DDTHH:MM:SSZ"},
      {"", "YYYY-MM-DDTHH:MM:SSZ"},
  };
  for (const auto& c : refused) {
    EXPECT_FALSE(ns::plistParse(xmlList("<array><date>"s + c.text + "</date></array>"), &error)) << c.text;
    EXPECT_NE(error.find("date"), std::string::npos) << c.text << ": " << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << ": " << error;
  }
  EXPECT_FALSE(ns::plistParse(xmlList("<date/>"), &error));
  EXPECT_NE(error.find("empty date"), std::string::npos) << error;
  EXPECT_FALSE(ns::plistParse(xmlList("<date>2020-01-02T03:04:05Z<!-- --></date>"), &error));
  // A date in a comment or a string is no date element.
  EXPECT_EQ(ns::plistParse(xmlList("<!-- <date>x</date> --><string>&lt;date>x</string>")), Value("<date>x"));
}
