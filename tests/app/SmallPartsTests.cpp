// Colours, the two-line button, the label with margins and the usage trace.
#include <gtest/gtest.h>

#include "app/UIButtonWithTwoLabels.h"
#include "app/UIColorExtension.h"
#include "app/UILabelWithMargin.h"
#include "app/vlxEventTracer.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/uikit/UIScreen.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TestHome.h"

namespace {

TEST(Colours, HexNumbersAndStrings) {
  auto c = UIColorExtension::colorWithHex(0x31F1E8);
  EXPECT_DOUBLE_EQ(c->red(), 49.0f / 255.0f);
  EXPECT_DOUBLE_EQ(c->green(), 241.0f / 255.0f);
  EXPECT_DOUBLE_EQ(c->blue(), 232.0f / 255.0f);
  EXPECT_EQ(c->alpha(), 1);
  EXPECT_EQ(*UIColorExtension::colorWithHex(0xFF31F1E8), *c);  // bits above 23 ignored
  EXPECT_EQ(UIColorExtension::colorWithHexAndAlpha(0x9C80EF, 0.34f)->alpha(), 0.34f);
  EXPECT_EQ(*UIColorExtension::colorWithHexString("#39F2E3"), *UIColorExtension::colorWithHex(0x39F2E3));
  // Without the "#" the first digit is skipped as if it were one.
  EXPECT_EQ(*UIColorExtension::colorWithHexString("39F2E3"), *UIColorExtension::colorWithHex(0x9F2E3));
  EXPECT_EQ(UIColorExtension::colorWithHexStringAndAlpha("#39F2E3", 0.5f)->alpha(), 0.5f);
}

TEST(Colours, EmptyAndForeignStringsGiveTheColourOfZero) {
  for (const char* text : {"", "#", "#zz", "\xC3\xA9", "#\xE2\x82\xAC" "12"}) {
    EXPECT_EQ(UIColorExtension::hexValueOfString(text), 0u) << text;
  }
  EXPECT_EQ(UIColorExtension::hexValueOfString("# 0x1A"), 0x1Au);  // strtol's white space and prefix
  EXPECT_EQ(UIColorExtension::hexValueOfString("#12zz"), 0x12u);
}

TEST(TwoLineButton, InsetFollowsTheScreenWidthAndTheSecondLineIsStyledFromTheBreak) {
  EXPECT_EQ(UIButtonWithTwoLabels::titleInsetForScreenWidth(480), 10);
  EXPECT_EQ(UIButtonWithTwoLabels::titleInsetForScreenWidth(568), 15);
  EXPECT_EQ(UIButtonWithTwoLabels::titleInsetForScreenWidth(667), 20);
  UIScreen::mainScreen().configure({568, 320}, 2);
  auto button = std::make_shared<UIButtonWithTwoLabels>(CGRectMake(0, 0, 120, 44));
  ASSERT_TRUE(button->btnBackground());
  EXPECT_TRUE(button->btnBackground()->isResizable());
  EXPECT_EQ(button->btnBackground()->capInsets(), UIEdgeInsetsMake(20, 50, 20, 50));
  button->layoutSubviews();
  EXPECT_EQ(button->titleEdgeInsets().left, 15);
  EXPECT_EQ(button->contentHorizontalAlignment(), UIControlContentHorizontalAlignment::Left);
  button->setTitle1("FFT SIZE", "");
  auto title = button->currentAttributedTitle();
  ASSERT_TRUE(title);
  EXPECT_EQ(title->string(), "FFT SIZE\n");
  EXPECT_EQ(title->attributesAtIndex(0).font->fontName(), "AvenirNext-Medium");
  EXPECT_EQ(title->attributesAtIndex(0).font->pointSize(), 8.5);
  EXPECT_EQ(title->attributesAtIndex(8).font->fontName(), "Avenir-Black");  // the line break
  EXPECT_EQ(title->attributesAtIndex(8).font->pointSize(), 14.5);
  UIScreen::mainScreen().configure({480, 320}, 2);
  button->setTitle1("PEAKS", "Hold");
  EXPECT_EQ(button->currentAttributedTitle()->attributesAtIndex(7).font->pointSize(), 13.0);
  UIScreen::mainScreen().configure({568, 320}, 2);
}

TEST(LabelWithMargin, InsetsTextOnlyOnSmallScreens) {
  CGRect r = CGRectMake(0, 0, 100, 28);
  EXPECT_EQ(UILabelWithMargin::textRectForScreenWidth(r, 480), CGRectMake(6, 0, 88, 26));
  EXPECT_EQ(UILabelWithMargin::textRectForScreenWidth(r, 568), r);
}

class TracerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NSUserDefaults::resetForTesting();
    testsupport::useFreshApplicationHome();
    vlxEventTracer::resetForTesting();
  }
  void TearDown() override {
    vlxEventTracer::resetForTesting();
    NSUserDefaults::resetForTesting();
  }
  std::string trace() { return NSUserDefaults::standardUserDefaults()->stringForKey(kEventsStackKey).value_or(""); }
};

TEST_F(TracerTest, TwoLaunchesEachStartWithTheLaunchMarker) {
  testsupport::ManualClock clock;
  vlxEventTracer::addEvent("aimTap");
  clock.advance(5.7);
  vlxEventTracer::addEvent("Start_Tap");
  clock.advance(0.9);
  vlxEventTracer::addEvent("a/b");  // stored as it is
  EXPECT_EQ(trace(), "/NextLaunch//0/aimTap//5/Start_Tap//0/a/b/");
  // A new process: the trace on disk grows, with a new marker and 0 seconds for its first event.
  NSUserDefaults::resetForTesting();
  vlxEventTracer::resetForTesting();
  clock.advance(3600);
  vlxEventTracer::addEvent("Stop_Tap");
  EXPECT_EQ(trace(), "/NextLaunch//0/aimTap//5/Start_Tap//0/a/b//NextLaunch//0/Stop_Tap/");
}

TEST_F(TracerTest, SettingTheWallClockBackNeverWritesNegativeSeconds) {
  testsupport::ManualClock clock;
  vlxEventTracer::addEvent("one");
  clock.advance(2.5);
  Clock::setNow(Clock::now() - 86400);  // the user moved the clock a day back
  vlxEventTracer::addEvent("two");
  EXPECT_EQ(trace(), "/NextLaunch//0/one//2/two/");
}

}  // namespace
