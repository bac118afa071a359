#pragma once
// The application delegate: at launch it configures the SDK's default app, writes every analyser
// setting the user defaults do not hold yet, makes the help screen and
// turns the interface to landscape. While the application is in the background the analyser's
// chart does not draw; audio capture goes on. Lives for the whole process; main thread only.
#include <memory>

#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIViewController.h"
#include "platform/uikit/UIWindow.h"

class AppDelegate : public UIApplicationDelegate {
 public:
  // The process's application delegate, when it is an AppDelegate.
  static std::shared_ptr<AppDelegate> shared();
  // Registers the class under its own name for UIApplicationMain.
  static void registerClass();

  bool applicationDidFinishLaunchingWithOptions(UIApplication& application, const Value& options) override;
  // Drawing off in the background, on again in the foreground (audio keeps running).
  void applicationDidEnterBackground(UIApplication& application) override;
  void applicationWillEnterForeground(UIApplication& application) override;

  std::shared_ptr<UIWindow> window() const override { return window_; }
  void setWindow(const std::shared_ptr<UIWindow>& window) override { window_ = window; }
  // The analyser screen, set by the screen itself when its view loads.
  std::shared_ptr<UIViewController> analyzerVC() const { return analyzerVC_; }
  // Also keeps the navigation controller that holds the screen, so that the screen keeps its
  // navigation stack (the profile screens) while another screen, such as help, is in front.
  void setAnalyzerVC(std::shared_ptr<UIViewController> controller);
  // The help screen made at launch from the storyboard "HelpVC".
  std::shared_ptr<UIViewController> helpVC() const { return helpVC_; }
  void setHelpVC(std::shared_ptr<UIViewController> controller) { helpVC_ = std::move(controller); }

  // Shows the store's product page for the identifier (nothing without a store). No caller.
  void presentAppStoreForID(const std::string& identifier);

  // Step 2 of the launch: stores each absent setting's default; a stored value is never replaced.
  static void writeAbsentDefaults(const CGRect& launchBounds);

 private:
  void setChartDrawing(bool draw);
  std::shared_ptr<UIWindow> window_;
  std::shared_ptr<UIViewController> analyzerVC_;
  std::shared_ptr<UIViewController> analyzerNavigation_;
  std::shared_ptr<UIViewController> helpVC_;
};
