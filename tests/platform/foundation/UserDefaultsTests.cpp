#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/PlistValue.h"
#include "tests/platform/foundation/PlistBuilders.h"
#include "tests/support/TestHome.h"

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

void writeAll(const std::string& path, const std::string& bytes) {
  ns::createDirectory(std::filesystem::path(path).parent_path().string());
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// Collects log lines for the duration of a test.
struct LogCapture {
  std::mutex mutex;
  std::vector<std::string> lines;
  LogCapture() {
    previous = ns::setLogSink([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex);
      lines.push_back(line);
    });
  }
  ~LogCapture() { ns::setLogSink(previous); }
  bool contains(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& l : lines)
      if (l.find(text) != std::string::npos) return true;
    return false;
  }
  ns::LogSink previous;
};

}  // namespace

TEST(UserDefaults, EveryValueTypeSurvivesAReopenWithItsType) {
  auto defaults = NSUserDefaults::suiteNamed("test.types");
  const double when = 1700000000.25;
  Value nested = {{"list", Value::array({1, 2.5, "three", false})},
                  {"inner", {{"deep", value::data(std::string_view("\x00\xff", 2))}}}};
  defaults->setObject("hello ✓", "string");
  defaults->setInteger(-9000000000LL, "integer");
  defaults->setDouble(2.0, "double");
  defaults->setBool(true, "bool");
  defaults->setObject(value::data(std::string_view("\x01\x02\x00\x03", 4)), "data");
  defaults->setObject(value::date(when), "date");
  defaults->setObject(Value::array({"a", 1}), "array");
  defaults->setObject(nested, "nested");
  ASSERT_TRUE(defaults->synchronize());

  NSUserDefaults::resetForTesting();
  auto reopened = NSUserDefaults::suiteNamed("test.types");
  ASSERT_NE(reopened.get(), defaults.get());

  auto integer = reopened->objectForKey("integer");
  ASSERT_TRUE(integer);
  EXPECT_TRUE(integer->is_number_integer());
  EXPECT_EQ(integer->get<int64_t>(), -9000000000LL);
  auto dbl = reopened->objectForKey("double");
  ASSERT_TRUE(dbl);
  EXPECT_TRUE(dbl->is_number_float());  // 2.0 must not come back as the integer 2
  auto boolean = reopened->objectForKey("bool");
  ASSERT_TRUE(boolean);
  EXPECT_TRUE(boolean->is_boolean());
  EXPECT_EQ(reopened->stringForKey("string"), "hello ✓");
  EXPECT_EQ(reopened->dataForKey("data"), (Bytes{1, 2, 0, 3}));
  auto date = reopened->objectForKey("date");
  ASSERT_TRUE(date && value::isDate(*date));
  EXPECT_EQ(*date, value::date(when)) << "the very bits";
  EXPECT_EQ(reopened->arrayForKey("array"), Value::array({"a", 1}));
  auto back = reopened->dictionaryForKey("nested");
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, nested);
  EXPECT_TRUE((*back)["list"][1].is_number_float());
  EXPECT_TRUE((*back)["list"][3].is_boolean());
}

TEST(UserDefaults, TypedAccessorsConvertLikeThePlatform) {
  auto d = NSUserDefaults::suiteNamed("test.accessors");
  d->setObject("42abc", "numericText");
  d->setObject("YES", "yesText");
  d->setObject("0", "zeroText");
  d->setInteger(7, "seven");
  d->setDouble(3.75, "real");
  d->setObject("text", "notData");
  EXPECT_EQ(d->integerForKey("numericText"), 42);
  EXPECT_TRUE(d->boolForKey("yesText"));
  EXPECT_FALSE(d->boolForKey("zeroText"));
  EXPECT_TRUE(d->boolForKey("seven"));
  EXPECT_EQ(d->stringForKey("seven"), "7");
  EXPECT_EQ(d->stringForKey("real"), "3.75");
  EXPECT_EQ(d->integerForKey("real"), 3);
  EXPECT_DOUBLE_EQ(d->doubleForKey("numericText"), 42.0);
  EXPECT_EQ(d->integerForKey("absent"), 0);
  EXPECT_FALSE(d->boolForKey("absent"));
  EXPECT_FALSE(d->stringForKey("absent"));
  EXPECT_FALSE(d->dataForKey("notData"));
  EXPECT_FALSE(d->arrayForKey("seven"));

  d->setObject(Value(), "seven");  // null removes
  EXPECT_FALSE(d->objectForKey("seven"));
  LogCapture log;
  d->setObject(Value::array({1, nullptr}), "real");  // a plist cannot hold null: refused, old kept
  EXPECT_DOUBLE_EQ(d->doubleForKey("real"), 3.75);
  EXPECT_TRUE(log.contains("real"));
}

TEST(UserDefaults, StandardDefaultsAreTheBundleIdentifiersSuite) {
  auto standard = NSUserDefaults::standardUserDefaults();
  EXPECT_EQ(standard->suiteName(), "com.tarn.spectrum-analyser");
  EXPECT_EQ(standard.get(), NSUserDefaults::suiteNamed("com.tarn.spectrum-analyser").get());
  EXPECT_EQ(standard->filePath(), NSPreferencesDirectory() + "/com.tarn.spectrum-analyser.plist");
  // A suite name never escapes the preferences folder.
  auto odd = NSUserDefaults::suiteNamed("../escape");
  EXPECT_EQ(std::filesystem::path(odd->filePath()).parent_path().string(), NSPreferencesDirectory());
}

TEST(UserDefaults, ConcurrentWritersLoseNothing) {
  NSUserDefaults::resetForTesting();
  testsupport::useFreshApplicationHome();
  auto d = NSUserDefaults::suiteNamed("test.concurrent");
  constexpr int kThreads = 8, kKeys = 150;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([d, t] {
      for (int k = 0; k < kKeys; ++k) {
        d->setInteger(t * 1000 + k, "k" + std::to_string(t) + "-" + std::to_string(k));
        if (k % 37 == 0) d->synchronize();  // writes racing the changes
      }
    });
  }
  for (auto& th : threads) th.join();
  NSUserDefaults::resetForTesting();
  auto reopened = NSUserDefaults::suiteNamed("test.concurrent");
  EXPECT_EQ(reopened->dictionaryRepresentation().size(), static_cast<size_t>(kThreads * kKeys));
  for (int t = 0; t < kThreads; ++t)
    for (int k = 0; k < kKeys; ++k)
      ASSERT_EQ(reopened->integerForKey("k" + std::to_string(t) + "-" + std::to_string(k)), t * 1000 + k);
}

TEST(UserDefaults, ChangesReachTheDiskWithoutAnExplicitSynchronize) {
  auto d = NSUserDefaults::suiteNamed("test.delayed");
  d->setObject("later", "written");
  // The delayed write runs on real time; wait for it with a generous limit.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::optional<Value> onDisk;
  while (std::chrono::steady_clock::now() < deadline) {
    onDisk = ns::plistParse(readAll(d->filePath()));
    if (onDisk && onDisk->contains("written")) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(onDisk);
  EXPECT_EQ((*onDisk)["written"], "later");
}

TEST(UserDefaults, AnUnreadableFileIsKeptAsideAndReported) {
  NSUserDefaults::resetForTesting();
  testsupport::useFreshApplicationHome();
  const std::string path = NSPreferencesDirectory() + "/test.corrupt.plist";
  const std::string garbage("bplist00\x01\x02 not really a plist \xff\xfe", 33);
  writeAll(path, garbage);
  LogCapture log;
  auto d = NSUserDefaults::suiteNamed("test.corrupt");
  EXPECT_TRUE(d->dictionaryRepresentation().empty());
  EXPECT_TRUE(log.contains(path));
  const std::string aside = path + ".corrupt-1";
  ASSERT_TRUE(std::filesystem::exists(aside));
  EXPECT_EQ(readAll(aside), garbage);

  d->setBool(true, "fresh");
  ASSERT_TRUE(d->synchronize());
  EXPECT_EQ(readAll(aside), garbage);  // the new file never replaces the kept bytes
  NSUserDefaults::resetForTesting();
  EXPECT_TRUE(NSUserDefaults::suiteNamed("test.corrupt")->boolForKey("fresh"));

  // A well-formed plist whose top level is not a dictionary is not a defaults file either.
  const std::string arrayPath = NSPreferencesDirectory() + "/test.notdict.plist";
  writeAll(arrayPath, *ns::plistSerialize(Value::array({1, 2}), false));
  auto other = NSUserDefaults::suiteNamed("test.notdict");
  EXPECT_TRUE(other->dictionaryRepresentation().empty());
  EXPECT_TRUE(std::filesystem::exists(arrayPath + ".corrupt-1"));
}

TEST(UserDefaults, FilesPastTheReadersLimitsAreKeptAsideNotExpanded) {
  NSUserDefaults::resetForTesting();
  testsupport::useFreshApplicationHome();
  const std::string hostile[] = {
      "",  // (the well-formed file below)
      plist_test::referenceBomb(40, 2),     // ten lines of references that would expand to 2^40 copies
      plist_test::deepXML(175000),          // nested far deeper than any defaults file
      std::string(ns::kMaxPlistBytes + 1, ' '),
  };
  // The first, well-formed file shows that a dictionary referencing its parts is read.
  writeAll(NSPreferencesDirectory() + "/test.limit0.plist",
           plist_test::bplist({std::string("\xD1", 1) + plist_test::ref(1) + plist_test::ref(2), "\x51k", "\x10\x05"}));
  EXPECT_EQ(NSUserDefaults::suiteNamed("test.limit0")->integerForKey("k"), 5);
  for (size_t i = 1; i < std::size(hostile); ++i) {
    const std::string suite = "test.limit" + std::to_string(i);
    const std::string path = NSPreferencesDirectory() + "/" + suite + ".plist";
    writeAll(path, hostile[i]);
    LogCapture log;
    EXPECT_TRUE(NSUserDefaults::suiteNamed(suite)->dictionaryRepresentation().empty()) << i;
    EXPECT_TRUE(log.contains(path)) << i;
    EXPECT_EQ(readAll(path + ".corrupt-1"), hostile[i]) << i;
  }
}

// A hundred-odd bytes that name half a million equal integers: refused and kept aside like any
// other unreadable file, rather than taken in and written again (slowly) at every change.
TEST(UserDefaults, AFileOfHalfAMillionValuesIsKeptAside) {
  NSUserDefaults::resetForTesting();
  testsupport::useFreshApplicationHome();
  const std::string path = NSPreferencesDirectory() + "/test.values.plist";
  const std::string bomb = plist_test::equalIntegers({2, 8, 8, 8, 8, 8, 8});
  writeAll(path, bomb);
  LogCapture log;
  auto d = NSUserDefaults::suiteNamed("test.values");
  EXPECT_TRUE(d->dictionaryRepresentation().empty());
  EXPECT_TRUE(log.contains(path));
  EXPECT_TRUE(log.contains("values"));
  EXPECT_EQ(readAll(path + ".corrupt-1"), bomb);
  // The suite starts afresh and saves what it is given.
  d->setInteger(3, "after");
  ASSERT_TRUE(d->synchronize());
  NSUserDefaults::resetForTesting();
  EXPECT_EQ(NSUserDefaults::suiteNamed("test.values")->integerForKey("after"), 3);
}

TEST(UserDefaults, ValuesTheReaderWouldRefuseAreNotWritten) {
  NSUserDefaults::resetForTesting();
  testsupport::useFreshApplicationHome();
  auto d = NSUserDefaults::suiteNamed("test.refused");
  d->setBool(true, "kept");
  ASSERT_TRUE(d->synchronize());
  // More than the reader takes from one file: refused before anything is written.
  const std::string third(ns::kMaxPlistDecodedBytes / 3, 'x');
  d->setObject(Value::array({third, third, third}), "large");
  LogCapture log;
  EXPECT_FALSE(d->synchronize());
  EXPECT_TRUE(log.contains("expands to more than its size limit"));
  d->removeObjectForKey("large");
  // The file on disk is the last one that could be read.
  NSUserDefaults::resetForTesting();
  auto reopened = NSUserDefaults::suiteNamed("test.refused");
  EXPECT_TRUE(reopened->boolForKey("kept"));
  EXPECT_FALSE(reopened->objectForKey("large"));
}

// Values of a file another program wrote, which a save must keep as they were: keys that differ
// only after a NUL, 8-bit text, integers above the signed range.
TEST(UserDefaults, ASaveKeepsEveryValueOfTheFileAsItWasRead) {
  using namespace std::string_literals;
  NSUserDefaults::resetForTesting();
  testsupport::useFreshApplicationHome();
  const std::string path = NSPreferencesDirectory() + "/test.exact.plist";
  writeAll(path, plist_test::dictionaryList({"\x56" "mode\0x"s, "\x54" "mode", "\x54" "name", "\x53" "big"},
                                            {"\x51" "B", "\x51" "A", "\x54" "caf\xE9",
                                             "\x14" + std::string(8, '\0') + std::string(8, '\xFF')}));
  auto d = NSUserDefaults::suiteNamed("test.exact");
  EXPECT_EQ(d->stringForKey("mode\0x"s), "B");
  d->setBool(true, "changed");
  ASSERT_TRUE(d->synchronize());
  NSUserDefaults::resetForTesting();
  auto reopened = NSUserDefaults::suiteNamed("test.exact");
  EXPECT_EQ(reopened->stringForKey("mode\0x"s), "B");
  EXPECT_EQ(reopened->stringForKey("mode"), "A");
  EXPECT_EQ(reopened->stringForKey("name"), "café");
  EXPECT_EQ(reopened->objectForKey("big"), Value(std::numeric_limits<uint64_t>::max()));
  EXPECT_EQ(reopened->stringForKey("big"), "18446744073709551615");
  EXPECT_TRUE(reopened->boolForKey("changed"));
}

// A file of a kilobyte and a half whose one Latin-1 text (700 characters in the one-byte string
// type) is referenced from 40,000 places reads as 58 MB of values; counted the same way when it
// is written, it still fits, so a change to the suite is saved and the next launch reads it all.
TEST(UserDefaults, AFileThatWasReadIsSavedAgain) {
  NSUserDefaults::resetForTesting();
  testsupport::useFreshApplicationHome();
  const std::string path = NSPreferencesDirectory() + "/test.latin1.plist";
  const std::string latin1(700, '\xE9');
  std::vector<std::string> objects = {std::string("\xD1", 1) + plist_test::ref(1) + plist_test::ref(2), "\x54list",
                                      plist_test::arrayOf(200, 3), plist_test::arrayOf(200, 4),
                                      plist_test::oneByteString(latin1)};
  const std::string file = plist_test::bplist(objects);
  ASSERT_LT(file.size(), 1600u);
  writeAll(path, file);
  auto d = NSUserDefaults::suiteNamed("test.latin1");
  auto list = d->arrayForKey("list");
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 200u);
  std::string text;
  for (int i = 0; i < 700; ++i) text += "é";
  EXPECT_EQ((*list)[199][199], text);
  LogCapture log;
  d->setInteger(7, "changed");
  EXPECT_TRUE(d->synchronize());
  EXPECT_FALSE(log.contains("could not be serialised"));
  NSUserDefaults::resetForTesting();
  auto reopened = NSUserDefaults::suiteNamed("test.latin1");
  EXPECT_EQ(reopened->integerForKey("changed"), 7);
  EXPECT_EQ(reopened->arrayForKey("list"), list);
}

// Bytes that are no text (a server's header, say) cannot be stored in a list; the value is refused
// on its own, and the rest of the suite is still written.
TEST(UserDefaults, TextThatIsNotUTF8IsRefusedAloneAndTheSuiteIsStillSaved) {
  using namespace std::string_literals;
  NSUserDefaults::resetForTesting();
  testsupport::useFreshApplicationHome();
  auto d = NSUserDefaults::suiteNamed("test.bytes");
  d->setObject(Value("old"), "tag");
  LogCapture log;
  d->setObject(Value("etag-\xff\xfe"s), "tag");
  d->setObject(Value::array({"fine", Value{{"k\xc3"s, 1}}}), "nested");
  d->setObject(Value(1), "key-\xff"s);
  EXPECT_TRUE(log.contains("it holds text that is not UTF-8"));
  EXPECT_EQ(d->stringForKey("tag"), "old");
  EXPECT_FALSE(d->objectForKey("nested"));
  d->setInteger(7, "other");
  ASSERT_TRUE(d->synchronize());
  NSUserDefaults::resetForTesting();
  auto reopened = NSUserDefaults::suiteNamed("test.bytes");
  EXPECT_EQ(reopened->stringForKey("tag"), "old");
  EXPECT_EQ(reopened->integerForKey("other"), 7);
}

TEST(UserDefaults, ReadsAnXmlPlistWrittenByHand) {
  NSUserDefaults::resetForTesting();
  testsupport::useFreshApplicationHome();
  const std::string path = NSPreferencesDirectory() + "/test.xml.plist";
  writeAll(path, R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>count</key><integer>12</integer>
<key>ratio</key><real>0.5</real>
<key>on</key><true/>
<key>when</key><date>2020-01-02T03:04:05Z</date>
<key>blob</key><data>AQID</data>
</dict></plist>)");
  auto d = NSUserDefaults::suiteNamed("test.xml");
  EXPECT_TRUE(d->objectForKey("count")->is_number_integer());
  EXPECT_EQ(d->integerForKey("count"), 12);
  EXPECT_DOUBLE_EQ(d->doubleForKey("ratio"), 0.5);
  EXPECT_TRUE(d->objectForKey("on")->is_boolean());
  EXPECT_NEAR(value::dateSeconds(*d->objectForKey("when")), 1577934245.0, 1e-3);
  EXPECT_EQ(d->dataForKey("blob"), (Bytes{1, 2, 3}));
}
