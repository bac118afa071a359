#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSUserDefaults.h"
#include "sdk/core/ZIRHeartbeatInfo.h"
#include "sdk/core/ZIRLogger.h"

namespace {

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zir_logger::setSinkForTesting([this](ZIRLoggerLevel level, const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.emplace_back(level, line);
    });
  }
  void TearDown() override {
    zir_logger::setSinkForTesting(nullptr);
    ZIRLoggerInitializeWithArguments({"-ZIRDebugDisabled"});
  }
  std::vector<std::pair<ZIRLoggerLevel, std::string>> take() {
    zir_logger::flush();
    std::lock_guard<std::mutex> lock(mutex_);
    auto out = std::move(lines_);
    lines_.clear();
    return out;
  }
  std::mutex mutex_;
  std::vector<std::pair<ZIRLoggerLevel, std::string>> lines_;
};

TEST_F(LoggerTest, WritesTheLineFormatAtEnabledLevelsOnly) {
  ZIRLoggerInitializeWithArguments({"app"});
  EXPECT_EQ(ZIRLoggerCurrentLevel(), ZIRLoggerLevel::Notice);
  ZIRLogError("[Zirezize/Installations]", "I-ZIS000001", "failed %d times", 3);
  ZIRLogNotice("[Zirezize/RemoteConfig]", "I-RCN000047", "notice");
  ZIRLogInfo("[Zirezize/RemoteConfig]", "I-RCN000048", "info");
  ZIRLogDebug("[Zirezize/Database]", "I-RDB000001", "debug");
  auto lines = take();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].first, ZIRLoggerLevel::Error);
  EXPECT_EQ(lines[0].second, "7.10.0 - [Zirezize/Installations][I-ZIS000001] failed 3 times");
  EXPECT_EQ(lines[1].second, "7.10.0 - [Zirezize/RemoteConfig][I-RCN000047] notice");

  ZIRSetLoggerLevel(ZIRLoggerLevel::Info);
  EXPECT_TRUE(ZIRIsLoggableLevel(ZIRLoggerLevel::Info));
  EXPECT_FALSE(ZIRIsLoggableLevel(ZIRLoggerLevel::Debug));
  ZIRLogInfo("[Zirezize/ABTesting]", "I-ABT000002", "now visible");
  ASSERT_EQ(take().size(), 1u);

  // A level outside error…debug is refused with an error line and changes nothing.
  ZIRSetLoggerLevel(static_cast<ZIRLoggerLevel>(9));
  EXPECT_EQ(ZIRLoggerCurrentLevel(), ZIRLoggerLevel::Info);
  auto refused = take();
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].second, "7.10.0 - [Zirezize/Core][I-COR000023] Invalid logger level, 9");
}

TEST_F(LoggerTest, DebugFlagIsRememberedUntilDisabled) {
  auto defaults = NSUserDefaults::standardUserDefaults();
  ZIRLoggerInitializeWithArguments({"app", "-ZIRDebugEnabled"});
  EXPECT_TRUE(ZIRLoggerDebugMode());
  EXPECT_TRUE(defaults->boolForKey("/deruru/zirezize/debug_mode"));
  ZIRLogDebug("[Zirezize/Database]", "I-RDB000002", "debug on");
  ASSERT_EQ(take().size(), 1u);

  // A later launch without arguments keeps the remembered flag.
  ZIRLoggerInitializeWithArguments({"app"});
  EXPECT_TRUE(ZIRLoggerDebugMode());
  EXPECT_EQ(ZIRLoggerCurrentLevel(), ZIRLoggerLevel::Debug);

  ZIRLoggerInitializeWithArguments({"app", "-ZIRDebugDisabled"});
  EXPECT_FALSE(ZIRLoggerDebugMode());
  EXPECT_FALSE(defaults->objectForKey("/deruru/zirezize/debug_mode"));
  ZIRLogDebug("[Zirezize/Database]", "I-RDB000003", "debug off");
  EXPECT_TRUE(take().empty());

  EXPECT_FALSE(ZIRLoggerForcesSTDERR());
  ZIRLoggerInitializeWithArguments({"app", "-ZIRLoggerForceSTDERR"});
  EXPECT_TRUE(ZIRLoggerForcesSTDERR());
}

TEST(LoggerCodeTest, MessageCodesAreAnAreaAndSixDigits) {
  EXPECT_TRUE(ZIRIsValidMessageCode("I-COR000001"));
  EXPECT_TRUE(ZIRIsValidMessageCode("I-ZDTCOR000001"));
  EXPECT_FALSE(ZIRIsValidMessageCode("I-COR00001"));
  EXPECT_FALSE(ZIRIsValidMessageCode("COR000001"));
  EXPECT_FALSE(ZIRIsValidMessageCode("I-cor000001"));
}

class HeartbeatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Clock::setManual(true);
    std::filesystem::remove(ZIRHeartbeatInfo::storagePath());
  }
  void TearDown() override { Clock::setManual(false); }
};

TEST_F(HeartbeatTest, CodesFollowTheDailyRenewalOfTagAndGlobalDates) {
  EXPECT_EQ(ZIRHeartbeatInfo::heartbeatCodeForTag("zir-installations"), 3);
  EXPECT_EQ(ZIRHeartbeatInfo::heartbeatCodeForTag("zir-installations"), 0);
  EXPECT_EQ(ZIRHeartbeatInfo::heartbeatCodeForTag("zir-rc"), 1);  // global already renewed today
  Clock::advance(86399);
  EXPECT_EQ(ZIRHeartbeatInfo::heartbeatCodeForTag("zir-installations"), 0);
  Clock::advance(2);
  EXPECT_EQ(ZIRHeartbeatInfo::heartbeatCodeForTag("zir-installations"), 3);
  EXPECT_EQ(ZIRHeartbeatInfo::heartbeatCodeForTag("zir-rc"), 1);  // its own date was a day old
  Clock::advance(86400);
  EXPECT_EQ(ZIRHeartbeatInfo::heartbeatCodeForTag("zir-rc"), 3);
  EXPECT_TRUE(std::filesystem::exists(ZIRHeartbeatInfo::storagePath()));
}

TEST_F(HeartbeatTest, UnreadableStorageCountsAsNoDatesAndIsKeptAside) {
  const std::string deep = std::string(60000, '[') + std::string(60000, ']');
  const std::string cases[] = {
      "{not json",
      "{\"zir-installations\":" + deep + "}",                                  // nests too deeply
      "{\"zir-installations\":1,\"pad\":\"" + std::string(2 << 20, 'x') + "\"}",  // far too large
  };
  int asideBefore = 0;
  for (const auto& text : cases) {
    EXPECT_EQ(ZIRHeartbeatInfo::heartbeatCodeForTag("zir-installations"), 3);
    std::ofstream(ZIRHeartbeatInfo::storagePath()) << text;
    EXPECT_EQ(ZIRHeartbeatInfo::heartbeatCodeForTag("zir-installations"), 3);
    EXPECT_EQ(ZIRHeartbeatInfo::heartbeatCodeForTag("zir-installations"), 0);
    int aside = 0;
    for (const auto& e : std::filesystem::directory_iterator(
             std::filesystem::path(ZIRHeartbeatInfo::storagePath()).parent_path())) {
      if (e.path().filename().string().find("HEARTBEAT_INFO_STORAGE.corrupt") == 0) ++aside;
    }
    EXPECT_EQ(aside, asideBefore + 1) << text.substr(0, 40);
    asideBefore = aside;
    Clock::advance(86400);
  }
}

}  // namespace
