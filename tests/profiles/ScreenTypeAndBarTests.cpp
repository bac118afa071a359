// The screen type by native height, the key window's safe area, and the current-input bar that
// follows profile changes.
#include <gtest/gtest.h>

#include <thread>

#include "platform/foundation/NSRunLoop.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIWindow.h"
#include "profiles/CurrentInputTypePlankView.h"
#include "profiles/FakeDeviceInputDescription.h"
#include "profiles/InputProfilesService.h"
#include "profiles/ScreenType.h"
#include "tests/profiles/ProfilesHarness.h"

namespace {

using namespace profilestest;

TEST(ScreenTypes, OnlyTheListedNativeHeightsNameAClass) {
  const std::pair<double, ScreenType> cases[] = {
      {1136, ScreenType::iPhones_5_5s_5c_SE}, {1334, ScreenType::iPhones_6_6s_7_8},
      {1920, ScreenType::iPhones_6Plus_6sPlus_7Plus_8Plus}, {2208, ScreenType::iPhones_6Plus_6sPlus_7Plus_8Plus},
      {2436, ScreenType::iPhones_11Pro_X_XS_12Mini}, {1792, ScreenType::iPhone_XR_11},
      {2688, ScreenType::iPhone_XSMax_ProMax}, {2532, ScreenType::iPhone_12_Pro}, {2778, ScreenType::iPhone_12_ProMax},
      {960, ScreenType::unknown}, {1136.5, ScreenType::unknown}, {0, ScreenType::unknown}};
  for (const auto& [height, type] : cases) EXPECT_EQ(ScreenTypeForNativeHeight(height), type) << height;
  EXPECT_EQ(ScreenTypeFromRawValue("iPhone 12 Pro Max"), ScreenType::iPhone_12_ProMax);
  EXPECT_EQ(ScreenTypeFromRawValue("iphone 12 pro max"), std::nullopt);
  EXPECT_EQ(ScreenTypeRawValue(ScreenType::iPhones_4_4S), "iPhone 4 or iPhone 4S");
  // The main screen: 568 × 320 points at 2 pixels is the 1136-pixel class.
  UIScreen::mainScreen().configure({568, 320}, 2);
  EXPECT_EQ(UIDeviceTarn::screenType(), ScreenType::iPhones_5_5s_5c_SE);
  UIScreen::mainScreen().configure({375, 667}, 2);
  EXPECT_EQ(UIDeviceTarn::screenType(), ScreenType::iPhones_6_6s_7_8);
  UIScreen::mainScreen().configure({568, 320}, 2);
}

TEST(SafeArea, TheKeyWindowsInsetsOrNothing) {
  EXPECT_EQ(UIWindow::keyWindow(), nullptr);
  EXPECT_FALSE(UIDeviceTarn::isNotched());
  EXPECT_EQ(UIDeviceTarn::topSafeArea() + UIDeviceTarn::bottomSafeArea() + UIDeviceTarn::leadingSafeArea() +
                UIDeviceTarn::trailingSafeArea(),
            0);
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 812, 375));
  window->setSafeAreaInsets(UIEdgeInsetsMake(0, 44, 21, 40));
  window->makeKeyAndVisible();
  EXPECT_TRUE(UIDeviceTarn::isNotched());
  EXPECT_EQ(UIDeviceTarn::leadingSafeArea(), 44);
  EXPECT_EQ(UIDeviceTarn::trailingSafeArea(), 40);
  EXPECT_EQ(UIDeviceTarn::bottomSafeArea(), 21);
}

class CurrentInputBar : public ProfilesTest {
 protected:
  void enable(const DeviceInputDescriptionRef& device) {
    InputProfilesService::sharedService().enableProfile(
        profileWith(1, "p", device, std::vector<int64_t>(11, 0)), ProfileEnableSource::selectedFromTable);
    NSRunLoop::main().runOnce();
  }
};

TEST_F(CurrentInputBar, EveryProfileChangeShowsTheBarWithItsInputsShortTitle) {
  auto bar = CurrentInputTypePlankView::initWithFrame(CGRectZero);
  bar->setHidden(true);
  EXPECT_EQ(bar->layer()->cornerRadius(), 4);
  EXPECT_EQ(bar->alpha(), 0.7);
  EXPECT_EQ(bar->contentEdgeInsets(), UIEdgeInsetsMake(0, 8, 0, 8));
  EXPECT_EQ(bar->titleEdgeInsets(), UIEdgeInsetsMake(2, 0, 0, 0));
  ASSERT_TRUE(bar->currentImage());
  enable(std::make_shared<DeviceInputDescription>("built-in-mic", "iPhone Microphone", AVAudioSessionPortBuiltInMic,
                                                  "Bottom", 1, AVAudioSessionOrientationBottom));
  EXPECT_FALSE(bar->isHidden());
  EXPECT_EQ(bar->currentTitle(), "BOTTOM");
  enable(std::make_shared<DeviceInputDescription>("bt", "Anna's AirPods Pro", AVAudioSessionPortBluetoothHFP));
  EXPECT_EQ(bar->currentTitle(), "AIRPODS PRO");
  // A change that names no profile only shows the bar.
  bar->setHidden(true);
  NSNotificationCenter::defaultCenter().postNotificationName(InputProfilesService::kCurrentProfileChanged);
  EXPECT_FALSE(bar->isHidden());
  EXPECT_EQ(bar->currentTitle(), "AIRPODS PRO");
  // A change announced on another thread is shown from the main queue.
  bar->setHidden(true);
  std::thread([] {
    NSNotificationCenter::defaultCenter().postNotificationName(InputProfilesService::kCurrentProfileChanged);
  }).join();
  EXPECT_TRUE(bar->isHidden());
  NSRunLoop::main().runOnce();
  EXPECT_FALSE(bar->isHidden());
  // A bar from a storyboard archive has no look and no subscription.
  auto plain = std::make_shared<CurrentInputTypePlankView>();
  plain->setHidden(true);
  NSNotificationCenter::defaultCenter().postNotificationName(InputProfilesService::kCurrentProfileChanged);
  EXPECT_TRUE(plain->isHidden());
  EXPECT_EQ(plain->alpha(), 1);
}

TEST_F(CurrentInputBar, TheImageStandsAtTheRightOfAReadableTitle) {
  auto bar = CurrentInputTypePlankView::initWithFrame(CGRectMake(0, 0, 140, 28));
  bar->setBackgroundColor(UIColor::blackColor());
  bar->setTitle("BOTTOM", UIControlStateNormal);
  auto image = UICompositor::render(bar, 2);
  ASSERT_TRUE(image);
  // White (title or logo) pixels: the logo's column is the rightmost inked one, 8 points in.
  int rightmost = -1, leftmost = image->width();
  for (int y = 0; y < image->height(); ++y)
    for (int x = 0; x < image->width(); ++x)
      if (auto p = image->pixel(x, y); p.r > 160 && p.g > 160 && p.b > 160) {
        rightmost = std::max(rightmost, x);
        leftmost = std::min(leftmost, x);
      }
  // The logo's image ends 8 points from the right; its drawing leaves 6 points of its 24 clear.
  EXPECT_NEAR(rightmost, (140 - 8 - 6) * 2, 4) << "the logo ends at the right inset";
  EXPECT_NEAR(leftmost, 8 * 2, 6) << "the title starts at the left inset";
}

}  // namespace
