// The status overlay: what each call shows, when it hides itself, and that it draws over the
// window without taking its touches.
#include <gtest/gtest.h>

#include <limits>
#include <thread>

#include "overlays/StatusOverlay.h"
#include "platform/uikit/UIButton.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIWindow.h"
#include "tests/support/ManualClock.h"
#include "tests/support/WaitFor.h"

namespace {

class Overlay : public ::testing::Test {
 protected:
  void SetUp() override {
    StatusOverlay::resetForTesting();
    window = std::make_shared<UIWindow>(CGRectMake(0, 0, 568, 320));
    window->setBackgroundColor(UIColor::blackColor());
    window->makeKeyAndVisible();
  }
  void TearDown() override { StatusOverlay::resetForTesting(); }
  testsupport::ManualClock clock;
  std::shared_ptr<UIWindow> window;
};

TEST_F(Overlay, DurationsGrowWithTheTextBetweenTheMinimumAndTheMaximum) {
  EXPECT_EQ(StatusOverlay::displayDurationForString(std::nullopt), 5.0);
  EXPECT_EQ(StatusOverlay::displayDurationForString("short"), 5.0) << "0.8 s is below the minimum";
  EXPECT_DOUBLE_EQ(StatusOverlay::displayDurationForString(std::string(100, 'x')), 6.5);
  EXPECT_DOUBLE_EQ(StatusOverlay::displayDurationForString("ääää"), 5.0) << "characters, not bytes";
  StatusOverlay::setMinimumDismissTimeInterval(0);
  EXPECT_DOUBLE_EQ(StatusOverlay::displayDurationForString("ääää"), 4 * 0.06 + 0.5);
  StatusOverlay::setMaximumDismissTimeInterval(2);
  EXPECT_EQ(StatusOverlay::displayDurationForString(std::string(100, 'x')), 2);
  StatusOverlay::setMinimumDismissTimeInterval(NAN);
  EXPECT_EQ(StatusOverlay::minimumDismissTimeInterval(), 0) << "an impossible time is not taken";
  StatusOverlay::setMaximumDismissTimeInterval(std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isinf(StatusOverlay::maximumDismissTimeInterval()));
}

TEST_F(Overlay, TheSpinnerStaysUntilDismissedAndTurnsMeanwhile) {
  StatusOverlay::show();
  EXPECT_TRUE(StatusOverlay::isVisible());
  EXPECT_EQ(StatusOverlay::kind(), StatusOverlay::Kind::Spinner);
  EXPECT_EQ(StatusOverlay::status(), std::nullopt);
  EXPECT_EQ(StatusOverlay::view()->superview(), window);
  auto first = UICompositor::render(window, 1);
  clock.step(60);
  EXPECT_TRUE(StatusOverlay::isVisible()) << "no timer hides a spinner";
  clock.step(0.25);
  auto later = UICompositor::render(window, 1);
  int differing = 0;
  for (int y = 130; y < 190; ++y)
    for (int x = 254; x < 314; ++x) differing += !(first->pixel(x, y) == later->pixel(x, y));
  EXPECT_GT(differing, 20) << "a quarter turn later the arc stands elsewhere";
  StatusOverlay::dismiss();
  EXPECT_FALSE(StatusOverlay::isVisible());
  EXPECT_EQ(StatusOverlay::view()->superview(), nullptr) << "at once";
}

TEST_F(Overlay, InfoAndSuccessHideThemselvesAfterTheirDuration) {
  StatusOverlay::showInfoWithStatus("This microphone is not connected");
  EXPECT_EQ(StatusOverlay::kind(), StatusOverlay::Kind::Info);
  EXPECT_EQ(StatusOverlay::status(), "This microphone is not connected");
  clock.step(4.9);
  EXPECT_TRUE(StatusOverlay::isVisible());
  clock.step(0.3);
  EXPECT_FALSE(StatusOverlay::isVisible()) << "5 s and a fade";
  StatusOverlay::showSuccessWithStatus();
  EXPECT_EQ(StatusOverlay::kind(), StatusOverlay::Kind::Success);
  // A new show replaces the old one and its timer.
  clock.step(4.0);
  StatusOverlay::showSuccessWithStatus("Saved");
  clock.step(2.0);
  EXPECT_TRUE(StatusOverlay::isVisible()) << "the first timer does not end the second overlay";
  EXPECT_EQ(StatusOverlay::status(), "Saved");
  clock.step(3.5);
  EXPECT_FALSE(StatusOverlay::isVisible());
}

TEST_F(Overlay, ItDrawsItsBoxOverTheWindowAndLetsTouchesThrough) {
  auto button = std::make_shared<UIButton>(CGRectMake(234, 110, 100, 100));
  int taps = 0;
  button->addAction([&](UIControl&) { ++taps; }, UIControlEventTouchUpInside);
  window->addSubview(button);
  StatusOverlay::showSuccessWithStatus("Profile saved");
  auto image = UICompositor::render(window, 1);
  auto centre = image->pixel(284, 160);
  auto corner = image->pixel(10, 10);
  EXPECT_GT(int(centre.r) + centre.g + centre.b, 30) << "the box and its mark";
  EXPECT_EQ(corner, (CGBitmapContext::RGBA{0, 0, 0, 255})) << "nothing outside the box";
  window->touchDown({284, 160});
  window->touchUp({284, 160});
  EXPECT_EQ(taps, 1);
}

TEST_F(Overlay, CallsFromOtherThreadsAreCarriedToTheMainThread) {
  std::thread([] { StatusOverlay::showInfoWithStatus("from elsewhere"); }).join();
  EXPECT_FALSE(StatusOverlay::isVisible()) << "not until the main queue runs";
  EXPECT_TRUE(testsupport::waitFor([] { return StatusOverlay::isVisible(); }));
  EXPECT_EQ(StatusOverlay::status(), "from elsewhere");
}

}  // namespace
