#include "platform/uikit/UIApplication.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSException.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/uikit/SDLWindowHost.h"
#include "platform/uikit/UIDevice.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIWindow.h"

namespace {
std::map<std::string, UIApplicationDelegateFactory>& delegateClasses() {
  static std::map<std::string, UIApplicationDelegateFactory> classes;
  return classes;
}
UIApplicationRunner& runner() {
  static UIApplicationRunner r;
  return r;
}

// How start-up ends on an exception nobody caught: the platform's last words, then status 1.
void reportUncaught(const std::exception& e) {
  if (auto* named = dynamic_cast<const NSException*>(&e)) {
    std::fprintf(stderr, "*** Terminating app due to uncaught exception '%s', reason: '%s'\n", named->name().c_str(),
                 named->reason().c_str());
  } else {
    std::fprintf(stderr, "*** Terminating app due to uncaught exception: %s\n", e.what());
  }
}
}  // namespace

UIApplication::UIApplication() {
  // Turning the interface resizes the windows to the screen's new bounds.
  orientationObserver_ = NSNotificationCenter::defaultCenter().addObserverForName(
      UIDeviceOrientationDidChangeNotification, nullptr, nullptr, [this](const NSNotification&) {
        const CGRect screen = UIScreen::mainScreen().bounds();
        if (auto window = UIWindow::keyWindow()) window->setFrame(screen);
        // During launch the window is not key yet.
        if (auto window = delegate_ ? delegate_->window() : nullptr) window->setFrame(screen);
      });
}

UIApplication& UIApplication::sharedApplication() {
  static UIApplication application;
  return application;
}

std::shared_ptr<UIWindow> UIApplication::keyWindow() const { return UIWindow::keyWindow(); }

CGRect UIApplication::statusBarFrame() const {
  return CGRectMake(0, 0, UIScreen::mainScreen().bounds().size.width, 0);
}

void UIApplication::post(const char* name) {
  NSNotificationCenter::defaultCenter().postNotificationName(name, this);
}

bool UIApplication::launch(const Value& options) {
  state_ = UIApplicationState::Inactive;
  bool answer = true;
  if (delegate_) answer = delegate_->applicationDidFinishLaunchingWithOptions(*this, options);
  if (auto window = delegate_ ? delegate_->window() : nullptr) {
    if (!window->isKeyWindow()) window->makeKeyAndVisible();
  }
  post(UIApplicationDidFinishLaunchingNotification);
  state_ = UIApplicationState::Active;
  if (delegate_) delegate_->applicationDidBecomeActive(*this);
  post(UIApplicationDidBecomeActiveNotification);
  return answer;
}

bool UIApplication::launchWithMainStoryboard(const Value& options) {
  auto storyboardName = NSBundle::mainBundle().objectForInfoDictionaryKey("UIMainStoryboardFile");
  if (delegate_ && storyboardName && storyboardName->is_string()) {
    auto storyboard = UIStoryboard::storyboardWithName(storyboardName->get<std::string>());
    auto window = std::make_shared<UIWindow>(UIScreen::mainScreen().bounds());
    window->setRootViewController(storyboard->instantiateInitialViewController());
    delegate_->setWindow(window);
  }
  return launch(options);
}

void UIApplication::enterBackground() {
  if (state_ == UIApplicationState::Background || terminated_) return;
  if (state_ == UIApplicationState::Active) {
    state_ = UIApplicationState::Inactive;
    if (delegate_) delegate_->applicationWillResignActive(*this);
    post(UIApplicationWillResignActiveNotification);
  }
  state_ = UIApplicationState::Background;
  if (delegate_) delegate_->applicationDidEnterBackground(*this);
  post(UIApplicationDidEnterBackgroundNotification);
}

void UIApplication::enterForeground() {
  if (state_ != UIApplicationState::Background || terminated_) return;
  state_ = UIApplicationState::Inactive;
  if (delegate_) delegate_->applicationWillEnterForeground(*this);
  post(UIApplicationWillEnterForegroundNotification);
  state_ = UIApplicationState::Active;
  if (delegate_) delegate_->applicationDidBecomeActive(*this);
  post(UIApplicationDidBecomeActiveNotification);
}

void UIApplication::terminate() {
  if (terminated_) return;
  terminated_ = true;
  if (delegate_) delegate_->applicationWillTerminate(*this);
  post(UIApplicationWillTerminateNotification);
}

void UIApplication::requestStop() {
  stopRequested_ = true;
  NSRunLoop::main().stop();
}

void UIApplication::resetForTesting() {
  delegate_.reset();
  state_ = UIApplicationState::Inactive;
  terminated_ = false;
  stopRequested_ = false;
}

void UIApplicationRegisterDelegateClass(const std::string& name, UIApplicationDelegateFactory factory) {
  delegateClasses()[name] = std::move(factory);
}

void UIApplicationSetRunner(UIApplicationRunner r) { runner() = std::move(r); }

std::string UIApplicationDisplayName() {
  auto name = NSBundle::mainBundle().objectForInfoDictionaryKey("CFBundleDisplayName");
  if (!name) return "Application";
  if (!name->is_string()) {
    NSException::raise(NSInvalidArgumentException, "The Info.plist value of CFBundleDisplayName is not text (it is %s)",
                       name->type_name());
  }
  return name->get<std::string>();
}

int UIApplicationRunDefault(UIApplication& application) {
  auto& loop = NSRunLoop::main();
  if (!SDLWindowHost::isDisplayOpen()) {
    while (!application.stopRequested()) loop.runFor(0.25);
    return 0;
  }
  // Start-up chose the desktop window: from here the run shows it or ends with the reason, it
  // never goes on without one.
  const std::string title = UIApplicationDisplayName();
  auto window = application.keyWindow();
  SDLWindowHost host;
  host.onVisibilityChanged = [&application](bool visible) {
    if (visible) application.enterForeground();
    else application.enterBackground();
  };
  std::string error;
  if (!window) error = "the application has no window to show";
  if (!window || !host.open(window, title, &error)) {
    std::fprintf(stderr, "UIApplicationMain: cannot open the window: %s\n", error.c_str());
    return 1;
  }
  while (!application.stopRequested() && host.pumpEvents()) {
    loop.runOnce();
    host.present();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

int UIApplicationMain(int argc, char** argv, const std::string& principalClassName,
                      const std::string& delegateClassName) {
  (void)argc;
  (void)argv;
  if (!principalClassName.empty() && principalClassName != "UIApplication") {
    std::fprintf(stderr, "UIApplicationMain: unknown application class \"%s\"\n", principalClassName.c_str());
    return 1;
  }
  auto& application = UIApplication::sharedApplication();
  try {
    auto factory = delegateClasses().find(delegateClassName);
    if (factory == delegateClasses().end()) {
      NSException::raise(NSInvalidArgumentException, "Unable to instantiate the UIApplication delegate class \"%s\"",
                         delegateClassName.c_str());
    }
    application.setDelegate(factory->second());
    application.launchWithMainStoryboard(Value::object());
  } catch (const std::exception& e) {
    reportUncaught(e);
    application.setDelegate(nullptr);
    return 1;
  }
  int status = 1;
  try {
    status = runner() ? runner()(application) : UIApplicationRunDefault(application);
  } catch (const std::exception& e) {
    reportUncaught(e);
  }
  application.terminate();
  // The delegate holds the window and through it every view (GL views included): they go now,
  // while the libraries they use still stand, not among the process's static destructors.
  application.setDelegate(nullptr);
  return status;
}
