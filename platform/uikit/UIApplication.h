#pragma once
// The application object and its delegate's life cycle. UIApplicationMain makes the application
// and its delegate (a class registered by name), the window with the main storyboard's initial
// controller (Info.plist "UIMainStoryboardFile"), calls the delegate's launch, shows the window and
// then hands the main thread to the runner: by default the desktop window (when start-up opened
// the display), otherwise the main run loop until the application stops.
//
// Life cycle: Inactive while launching, then Active. Hiding or minimising the desktop window sends
// the application to the background (willResignActive, didEnterBackground); showing it again
// brings it back (willEnterForeground, didBecomeActive). Each step calls the delegate and then
// posts the matching notification on the default centre, with the application as the sender.
// Main thread only.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/graphics/CGGeometry.h"

class UIApplication;
class UIWindow;
class NSObserverToken;

inline constexpr const char* UIApplicationDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* UIApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr const char* UIApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* UIApplicationWillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* UIApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* UIApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";

enum class UIApplicationState { Active, Inactive, Background };

class UIApplicationDelegate {
 public:
  virtual ~UIApplicationDelegate() = default;
  // application:didFinishLaunchingWithOptions:
  virtual bool applicationDidFinishLaunchingWithOptions(UIApplication& application, const Value& options) { return true; }
  virtual void applicationWillResignActive(UIApplication& application) {}
  virtual void applicationDidEnterBackground(UIApplication& application) {}
  virtual void applicationWillEnterForeground(UIApplication& application) {}
  virtual void applicationDidBecomeActive(UIApplication& application) {}
  virtual void applicationWillTerminate(UIApplication& application) {}
  // The window property: set by the application from the main storyboard.
  virtual std::shared_ptr<UIWindow> window() const { return nullptr; }
  virtual void setWindow(const std::shared_ptr<UIWindow>& window) {}
};

class UIApplication {
 public:
  static UIApplication& sharedApplication();

  std::shared_ptr<UIApplicationDelegate> delegate() const { return delegate_; }
  void setDelegate(std::shared_ptr<UIApplicationDelegate> delegate) { delegate_ = std::move(delegate); }
  UIApplicationState applicationState() const { return state_; }
  std::shared_ptr<UIWindow> keyWindow() const;
  // The status bar is hidden on this platform: a zero-height frame across the screen.
  CGRect statusBarFrame() const;

  // The launch: delegate's launch with the options, then the window shown and the application
  // active. Returns the delegate's answer; an exception from the delegate propagates.
  bool launch(const Value& options = Value::object());
  // The launch as UIApplicationMain does it: a window of the screen's size with the main
  // storyboard's initial controller (when Info.plist names one) handed to the delegate, then launch.
  bool launchWithMainStoryboard(const Value& options = Value::object());
  // Life-cycle transitions; each does nothing when the application is already there.
  void enterBackground();
  void enterForeground();
  // The delegate's and the observers' last call; the runner should return after it.
  void terminate();
  // Asks the runner to end (the desktop window's close does the same).
  void requestStop();
  bool stopRequested() const { return stopRequested_; }

  // openURL: — hands an address of another site (http, https, mailto) to the desktop's browser
  // through xdg-open, when it exists. False (and logged) when there is none, or for an address of
  // another kind. Does not wait for the browser.
  bool openURL(const std::string& url);
  // Replaces how addresses are handed out (tests); none puts the desktop's way back.
  using URLOpener = std::function<bool(const std::string& url)>;
  void setURLOpenerForTesting(URLOpener opener) { urlOpener_ = std::move(opener); }

  // Back to a new process's state (tests): no delegate, inactive, nothing stopped.
  void resetForTesting();

 private:
  UIApplication();
  void post(const char* name);
  std::shared_ptr<UIApplicationDelegate> delegate_;
  UIApplicationState state_ = UIApplicationState::Inactive;
  bool terminated_ = false;
  bool stopRequested_ = false;
  std::shared_ptr<NSObserverToken> orientationObserver_;
  URLOpener urlOpener_;
};

// Delegate classes by name, as UIApplicationMain looks them up.
using UIApplicationDelegateFactory = std::function<std::shared_ptr<UIApplicationDelegate>()>;
void UIApplicationRegisterDelegateClass(const std::string& name, UIApplicationDelegateFactory factory);

// What runs the main thread after launch; returns the process's exit status.
using UIApplicationRunner = std::function<int(UIApplication&)>;
void UIApplicationSetRunner(UIApplicationRunner runner);
// The default runner. When start-up opened the desktop display (SDLWindowHost::openDisplay) it
// shows the key window there until the window is closed or the application is asked to stop; a
// window that cannot open (or no window at all) ends the run at once with status 1 and the reason
// on stderr. Without an open display it runs the main run loop until the application is asked to
// stop.
int UIApplicationRunDefault(UIApplication& application);
// The name the desktop window shows: Info.plist "CFBundleDisplayName", "Application" without one.
// Raises NSInvalidArgumentException naming the key when the value is not text.
std::string UIApplicationDisplayName();

// The entry: see the file comment. `principalClassName` empty means the application class.
// Returns the runner's status, or 1 when start-up fails or the runner raises (the reason is
// printed to stderr).
int UIApplicationMain(int argc, char** argv, const std::string& principalClassName, const std::string& delegateClassName);
