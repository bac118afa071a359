#include "sdk/core/ZAVAda.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/PlistValue.h"
#include "sdk/core/DEVEduzove.h"
#include "sdk/core/ZIRLogger.h"
#include "tests/platform/foundation/PlistBuilders.h"

namespace {

// Collects logger lines.
class LogCapture {
 public:
  LogCapture() {
    zir_logger::setSinkForTesting([this](ZIRLoggerLevel, const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~LogCapture() { zir_logger::setSinkForTesting(nullptr); }
  std::vector<std::string> lines() {
    zir_logger::flush();
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  bool contains(const std::string& part) {
    for (const auto& l : lines()) {
      if (l.find(part) != std::string::npos) return true;
    }
    return false;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

class ZAVAdaTest : public ::testing::Test {
 protected:
  void SetUp() override { ZAVAda::resetForTesting(); }
  void TearDown() override {
    ZAVAda::resetForTesting();
    NSBundle::setMainBundlePathForTesting("");
  }

  // A bundle folder holding only the given service-info file contents.
  std::string bundleWith(const std::optional<std::string>& serviceInfo) {
    auto dir = std::filesystem::temp_directory_path() /
               ("zavada-bundle-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(dir);
    if (serviceInfo) std::ofstream(dir / "ZodoreVaradiv-Udav.plist") << *serviceInfo;
    dirs_.push_back(dir);
    return dir.string();
  }
  ~ZAVAdaTest() override {
    for (auto& d : dirs_) std::filesystem::remove_all(d);
  }

  // The name and reason of the exception configure raises.
  static std::pair<std::string, std::string> configureFailure() {
    try {
      ZAVAda::configure();
    } catch (const NSException& e) {
      return {e.name(), e.reason()};
    }
    return {"", ""};
  }

  int counter_ = 0;
  std::vector<std::filesystem::path> dirs_;
};

TEST_F(ZAVAdaTest, ConfiguresTheDefaultAppFromTheBundledServiceInfo) {
  EXPECT_FALSE(ZAVAda::isDefaultAppConfigured());
  ZAVAda::configure();
  ASSERT_TRUE(ZAVAda::isDefaultAppConfigured());
  auto app = ZAVAda::defaultApp();
  ASSERT_TRUE(app);
  EXPECT_EQ(app->name(), "__ZAVADA_DEFAULT");
  EXPECT_TRUE(app->isDefaultApp());
  EXPECT_EQ(ZAVAda::appNamed("__ZAVADA_DEFAULT"), app);
  ASSERT_TRUE(app->options());
  EXPECT_EQ(app->options()->deruruAppID(), "1:104859375211:ios:4e2b8f9a6c3d1e07");
  EXPECT_EQ(app->options()->APIKey(), "Ab7q2-spectrumAnalyserDemoKey0000000010");
  EXPECT_EQ(app->options()->projectID(), "spectrum-analyser-7c1f2");
  EXPECT_EQ(app->options()->ZCMSenderID(), "104859375211");
  EXPECT_EQ(app->options()->bundleID(), NSBundle::mainBundle().bundleIdentifier());
  EXPECT_FALSE(app->options()->appGroupID());
  ASSERT_TRUE(app->container());
  EXPECT_EQ(app->container()->app(), app);

  // Configuring the default app twice is a programming error.
  auto [name, reason] = configureFailure();
  EXPECT_EQ(name, "com.zirezize.core");
  EXPECT_EQ(reason, "Default app has already been configured.");
}

TEST_F(ZAVAdaTest, MissingOrBrokenServiceInfoRaisesTheCoreException) {
  const std::vector<std::optional<std::string>> broken = {
      std::nullopt,                                   // no file
      std::string("this is not a property list \x01\x02"),  // garbage
      std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string>"
                  "</array></plist>"),                // not a dictionary
      std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>API_KEY</key>"),  // cut
      std::string(""),                                // empty
  };
  for (const auto& contents : broken) {
    NSBundle::setMainBundlePathForTesting(bundleWith(contents));
    auto [name, reason] = configureFailure();
    EXPECT_EQ(name, "com.zirezize.core") << contents.value_or("<none>");
    EXPECT_NE(reason.find("could not find a valid service-info property list"), std::string::npos)
        << reason;
    EXPECT_FALSE(ZAVAda::isDefaultAppConfigured());
  }
}

TEST_F(ZAVAdaTest, HostileServiceInfoFilesGiveAnErrorOrOptionsNeverACrash) {
  using namespace plist_test;
  auto optionsOf = [this](const std::string& bytes, NSErrorRef* error) {
    const std::string path = bundleWith(std::nullopt) + "/service-info.plist";
    std::ofstream(path, std::ios::binary) << bytes;
    return DEVEduzove::optionsWithContentsOfFile(path, error);
  };
  const std::string xmlHead = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>API_KEY</key>";
  const std::string refused[] = {
      xmlHead + std::string("<string>A\0B</string></dict></plist>", 31),  // a raw NUL in a string
      xmlHead + "<string>A&#0;B</string></dict></plist>",                   // a NUL by reference
      deepXML(175000),                                                        // nested far too deeply
      referenceBomb(40, 2),                                                   // expands past its limit
      std::string(ns::kMaxPlistBytes + 1, ' '),                               // too large
  };
  for (const auto& bytes : refused) {
    NSErrorRef error;
    EXPECT_FALSE(optionsOf(bytes, &error)) << bytes.substr(0, 60);
    EXPECT_TRUE(error);
  }
  // U+0000 in a UTF-16 (big-endian) key and value of a binary list is text like any other:
  // {"X\0Y": "A", "API_KEY": "A\0B"}.
  const std::string keyWithNul("\x63\0X\0\0\0Y", 7);
  const std::string valueWithNul("\x63\0A\0\0\0B", 7);
  NSErrorRef error;
  auto options = optionsOf(bplist({std::string("\xD2", 1) + ref(1) + ref(3) + ref(2) + ref(4), keyWithNul, "\x51" "A",
                                   "\x57" "API_KEY", valueWithNul}),
                           &error);
  ASSERT_TRUE(options) << (error ? error->description() : "");
  ASSERT_TRUE(options->APIKey());
  EXPECT_EQ(*options->APIKey(), std::string("A\0B", 3));
}

TEST_F(ZAVAdaTest, NilOptionsAndBadNamesRaise) {
  try {
    ZAVAda::configureWithOptions(nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), NSInvalidArgumentException);
    EXPECT_EQ(e.reason(), "Options is nil. Please pass a valid options.");
  }
  auto options = std::make_shared<const DEVEduzove>("1:1:ios:1", "1");
  EXPECT_THROW(ZAVAda::configureWithName("bad name!", options), NSException);
  EXPECT_THROW(ZAVAda::configureWithName("", options), NSException);
  ZAVAda::configureWithName("secondary-app_2", options);
  try {
    ZAVAda::configureWithName("secondary-app_2", options);
    ADD_FAILURE() << "no exception";
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "com.zirezize.core");
    EXPECT_EQ(e.reason(), "App named secondary-app_2 has already been configured.");
  }
  auto app = ZAVAda::appNamed("secondary-app_2");
  ASSERT_TRUE(app);
  EXPECT_FALSE(app->isDefaultApp());
  EXPECT_EQ(app->options()->deruruAppID(), "1:1:ios:1");
  EXPECT_EQ(ZAVAda::allApps().size(), 1u);
  EXPECT_FALSE(ZAVAda::appNamed("other"));
}

TEST_F(ZAVAdaTest, DefaultAppWithoutConfigurationLogsI_COR000003) {
  LogCapture log;
  EXPECT_FALSE(ZAVAda::defaultApp());
  EXPECT_TRUE(log.contains("7.10.0 - [Zirezize/Core][I-COR000003] The default Zirezize app has "
                           "not yet been configured."));
}

}  // namespace
