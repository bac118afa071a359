// Whether a desktop display is there: only a server that answers, shown by a desktop video driver,
// counts. A DISPLAY that names nothing made SDL fall back to its offscreen driver, and the
// analyser then ran for ever showing nothing. The display is opened once and the window shows on
// it; once start-up chose the window, the run shows it or ends with the reason.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/uikit/SDLWindowHost.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIWindow.h"
#include "tests/support/PrivateXServer.h"

namespace {

using testsupport::PrivateXServer;

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SDL_VIDEODRIVER");
  }
  void TearDown() override { SDLWindowHost::closeDisplay(); }
};

TEST_F(DisplayTest, WithoutADisplayVariableThereIsNoDisplay) {
  std::string why;
  EXPECT_FALSE(SDLWindowHost::openDisplay(&why));
  EXPECT_EQ(why, "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
}

TEST_F(DisplayTest, ADisplayThatNamesNoServerIsNoDisplayAndOpensNoWindow) {
  setenv("DISPLAY", ":4093", 1);
  std::string why;
  EXPECT_FALSE(SDLWindowHost::openDisplay(&why));
  EXPECT_NE(why.find("DISPLAY \":4093\" names no display server"), std::string::npos) << why;
  setenv("WAYLAND_DISPLAY", "wayland-4093", 1);
  setenv("XDG_RUNTIME_DIR", ::testing::TempDir().c_str(), 1);
  EXPECT_FALSE(SDLWindowHost::openDisplay(&why));
  EXPECT_NE(why.find("WAYLAND_DISPLAY \"wayland-4093\""), std::string::npos) << why;

  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 100, 50));
  SDLWindowHost host;
  std::string error;
  EXPECT_FALSE(host.open(window, "test", &error));
  EXPECT_NE(error.find("no display"), std::string::npos) << error;
  EXPECT_FALSE(host.pumpEvents());
}

TEST_F(DisplayTest, AServerThatAnswersIsADisplayUnlessSDLIsToldToDrawNowhere) {
  PrivateXServer x;
  if (x.display().empty()) GTEST_SKIP() << "no Xvfb to stand for a desktop display";
  setenv("DISPLAY", x.display().c_str(), 1);
  std::string why;
  EXPECT_TRUE(SDLWindowHost::openDisplay(&why)) << why;
  EXPECT_TRUE(SDLWindowHost::isDisplayOpen());
  SDLWindowHost::closeDisplay();
  EXPECT_FALSE(SDLWindowHost::isDisplayOpen());
  for (const char* nowhere : {"offscreen", "dummy"}) {
    setenv("SDL_VIDEODRIVER", nowhere, 1);
    EXPECT_FALSE(SDLWindowHost::openDisplay(&why)) << nowhere;
    EXPECT_EQ(why, std::string("no display: SDL's video driver \"") + nowhere + "\" shows no window");
    EXPECT_FALSE(SDLWindowHost::isDisplayOpen());
  }
  unsetenv("SDL_VIDEODRIVER");
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 100, 50));
  SDLWindowHost host;
  std::string error;
  ASSERT_TRUE(host.open(window, "test", &error)) << error;
  EXPECT_TRUE(host.pumpEvents());
  host.close();
  EXPECT_FALSE(SDLWindowHost::isDisplayOpen()) << "a window that opened the display itself lets go of it";
}

// The display that start-up opened is the one the window uses: one connection from the check to
// the window's end, which a window closing does not end.
TEST_F(DisplayTest, TheWindowOpensOnTheDisplayStartUpOpenedAndLeavesItOpen) {
  PrivateXServer x;
  if (x.display().empty()) GTEST_SKIP() << "no Xvfb to stand for a desktop display";
  setenv("DISPLAY", x.display().c_str(), 1);
  std::string why;
  ASSERT_TRUE(SDLWindowHost::openDisplay(&why)) << why;
  const auto opened = x.connections().size();
  EXPECT_GT(opened, 0u);
  EXPECT_TRUE(SDLWindowHost::openDisplay(&why)) << "open already: nothing more to do";
  {
    auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 100, 50));
    SDLWindowHost host;
    std::string error;
    ASSERT_TRUE(host.open(window, "test", &error)) << error;
    EXPECT_TRUE(host.pumpEvents());
  }
  EXPECT_TRUE(SDLWindowHost::isDisplayOpen());
  const auto seen = x.connections();
  EXPECT_EQ(seen.size(), opened) << "no connection of its own for the window";
  for (const auto& c : seen) EXPECT_FALSE(c.closed) << "client " << c.client;
  SDLWindowHost::closeDisplay();  // before the server goes: a connection it drops ends the process
}

// ---- The default runner once start-up chose the window ----

// A delegate whose launch shows a window, or none.
class WindowDelegate : public UIApplicationDelegate {
 public:
  static inline bool makeWindow = true;
  bool applicationDidFinishLaunchingWithOptions(UIApplication&, const Value&) override {
    if (makeWindow) {
      window_ = std::make_shared<UIWindow>(CGRectMake(0, 0, 100, 50));
      window_->makeKeyAndVisible();
    }
    return true;
  }
  std::shared_ptr<UIWindow> window() const override { return window_; }

 private:
  std::shared_ptr<UIWindow> window_;
};

class WindowedStartUpTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (x_.display().empty()) GTEST_SKIP() << "no Xvfb to stand for a desktop display";
    setenv("DISPLAY", x_.display().c_str(), 1);
    UIApplicationRegisterDelegateClass("WindowDelegate", [] { return std::make_shared<WindowDelegate>(); });
    UIApplication::sharedApplication().resetForTesting();
    NSBundle::mainBundle().setInfoValueForTesting("UIMainStoryboardFile", Value());  // the delegate makes the window
    std::string why;
    ASSERT_TRUE(SDLWindowHost::openDisplay(&why)) << why;
    // A run that went on without a window would never end by itself: it is stopped from the
    // run loop after a while, and its status then tells.
    watchdog_ = NSTimer::scheduledTimerWithTimeInterval(20, false, [](NSTimer&) {
      UIApplication::sharedApplication().requestStop();
    });
  }
  void TearDown() override {
    if (watchdog_) watchdog_->invalidate();
    WindowDelegate::makeWindow = true;
    NSBundle::mainBundle().resetInfoValuesForTesting();
    UIApplication::sharedApplication().resetForTesting();
    DisplayTest::TearDown();
  }
  // UIApplicationMain's status and what it printed on stderr.
  std::pair<int, std::string> runMain() {
    ::testing::internal::CaptureStderr();
    const int status = UIApplicationMain(0, nullptr, "", "WindowDelegate");
    return {status, ::testing::internal::GetCapturedStderr()};
  }

  PrivateXServer x_;
  std::shared_ptr<NSTimer> watchdog_;
};

TEST_F(WindowedStartUpTest, WithoutAWindowToShowTheRunEndsAtOnceWithTheReason) {
  WindowDelegate::makeWindow = false;
  auto [status, err] = runMain();
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("cannot open the window: the application has no window to show"), std::string::npos) << err;
}

TEST_F(WindowedStartUpTest, ADisplayNameThatIsNotTextEndsStartUpNamingTheKey) {
  for (const Value& bad : {Value(7), Value::array({"Spectrum"}), Value::object(), Value(true)}) {
    NSBundle::mainBundle().setInfoValueForTesting("CFBundleDisplayName", bad);
    UIApplication::sharedApplication().resetForTesting();
    auto [status, err] = runMain();
    EXPECT_EQ(status, 1) << bad.dump();
    EXPECT_NE(err.find("CFBundleDisplayName is not text"), std::string::npos) << err;
    EXPECT_FALSE(UIApplication::sharedApplication().delegate()) << "start-up ended as any other failure";
  }
  NSBundle::mainBundle().setInfoValueForTesting("CFBundleDisplayName", Value());  // none: a default title
  EXPECT_EQ(UIApplicationDisplayName(), "Application");
  NSBundle::mainBundle().setInfoValueForTesting("CFBundleDisplayName", Value("Analyser"));
  EXPECT_EQ(UIApplicationDisplayName(), "Analyser");
}

}  // namespace
