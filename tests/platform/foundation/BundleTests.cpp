#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSPathUtilities.h"
#include "platform/foundation/StringsFile.h"

namespace {

void writeFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A bundle folder of the test's own, restored to the default afterwards.
class BundleFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = NSHomeDirectory() + "/bundle-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    NSBundle::setMainBundlePathForTesting(root_);
  }
  void TearDown() override {
    NSBundle::setMainBundlePathForTesting("");
    NSBundle::resetInfoValuesForTesting();
  }
  std::string root_;
};

}  // namespace

TEST(Bundle, TheShippedBundleHasItsIdentityAndStrings) {
  NSBundle& b = NSBundle::mainBundle();
  EXPECT_EQ(b.bundleIdentifier(), "com.tarn.spectrum-analyser");
  EXPECT_EQ(b.objectForInfoDictionaryKey("CFBundleShortVersionString"), Value("1.0"));
  EXPECT_EQ(b.objectForInfoDictionaryKey("CFBundleVersion"), Value("1"));
  auto info = b.pathForResource("Info", "plist");
  ASSERT_TRUE(info);
  EXPECT_TRUE(std::filesystem::exists(*info));
  EXPECT_TRUE(b.pathForResource("Localizable", "strings"));  // found in the language folder
  EXPECT_EQ(b.localizedStringForKey("No such key anywhere"), "No such key anywhere");
}

TEST_F(BundleFolder, ResourcesAreFoundByNameAndTypeAndNeverOutside) {
  writeFile(root_ + "/table.txt", "x");
  writeFile(root_ + "/en.lproj/only-here.png", "x");
  NSBundle& b = NSBundle::mainBundle();
  EXPECT_EQ(b.pathForResource("table", "txt"), root_ + "/table.txt");
  EXPECT_EQ(b.pathForResource("table.txt", "txt"), root_ + "/table.txt");
  EXPECT_EQ(b.pathForResource("table.txt", ""), root_ + "/table.txt");
  EXPECT_EQ(b.pathForResource("only-here", "png"), root_ + "/en.lproj/only-here.png");
  EXPECT_FALSE(b.pathForResource("table", "csv"));
  EXPECT_FALSE(b.pathForResource("", "txt"));
  writeFile(NSHomeDirectory() + "/secret.txt", "x");
  EXPECT_FALSE(b.pathForResource("../secret", "txt"));
  EXPECT_FALSE(b.pathForResource(NSHomeDirectory() + "/secret", "txt"));
}

TEST_F(BundleFolder, InfoValuesAndOverrides) {
  NSBundle& b = NSBundle::mainBundle();
  EXPECT_TRUE(b.infoDictionary().empty());  // no Info.plist: empty, not an error
  EXPECT_FALSE(b.bundleIdentifier());
  writeFile(root_ + "/Info.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>org.example.t</string>
<key>Switch</key><true/></dict></plist>)");
  NSBundle::setMainBundlePathForTesting(root_);  // forgets the cached Info
  EXPECT_EQ(b.bundleIdentifier(), "org.example.t");
  EXPECT_EQ(b.objectForInfoDictionaryKey("Switch"), Value(true));
  b.setInfoValueForTesting("Switch", false);
  EXPECT_EQ(b.objectForInfoDictionaryKey("Switch"), Value(false));
  b.setInfoValueForTesting("Switch", Value());
  EXPECT_FALSE(b.objectForInfoDictionaryKey("Switch"));
}

TEST_F(BundleFolder, LocalizedStringsFallBackToTheValueThenTheKey) {
  writeFile(root_ + "/en.lproj/Localizable.strings",
            "\xEF\xBB\xBF/* header comment */\n"
            "// a line comment\n"
            "\"Start\" = \"Démarrer\";\n"
            "\"Quote\" = \"say \\\"hi\\\"\\n\\u00e9\\U0041\";\n"
            "\"Same\";\n"
            "bare_key = \"bare\"; /* trailing */\n");
  writeFile(root_ + "/Base.lproj/Other.strings", "\"Only base\" = \"from base\";");
  NSBundle& b = NSBundle::mainBundle();
  EXPECT_EQ(b.localizedStringForKey("Start"), "Démarrer");
  EXPECT_EQ(b.localizedStringForKey("Quote"), "say \"hi\"\néA");
  EXPECT_EQ(b.localizedStringForKey("Same"), "Same");
  EXPECT_EQ(b.localizedStringForKey("bare_key"), "bare");
  EXPECT_EQ(b.localizedStringForKey("Missing", "Fallback"), "Fallback");
  EXPECT_EQ(b.localizedStringForKey("Missing"), "Missing");
  EXPECT_EQ(b.localizedStringForKey("Only base", "", "Other"), "from base");
  EXPECT_EQ(b.localizedStringForKey("Start", "", "Other"), "Start");
  EXPECT_EQ(NSLocalizedString("Start"), "Démarrer");
}

TEST(StringsFile, MalformedTextKeepsWhatCameBeforeAndNamesTheLine) {
  std::string error;
  auto entries = ns::parseStringsFile("\"a\" = \"1\";\n\"b\" = \"2\"\n\"c\" = \"3\";", &error);
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries["a"], "1");
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;

  for (const char* bad : {"\"open = \"x\";", "/* never closed", "\"k\" = ;", "= \"v\";", "\"k\" = \"\\u12\";"}) {
    error.clear();
    ns::parseStringsFile(bad, &error);
    EXPECT_FALSE(error.empty()) << bad;
  }
  error = "stale";
  EXPECT_TRUE(ns::parseStringsFile("  /* only a comment */ ", &error).empty());
  EXPECT_TRUE(error.empty());
  // A surrogate pair written as two escapes is one character.
  EXPECT_EQ(ns::parseStringsFile("\"k\" = \"\\UD83D\\UDE00\";")["k"], "\xF0\x9F\x98\x80");
}
