#include "app/AppDelegate.h"

#include "analysis/UISpectrumContainerView.h"
#include "app/AEProductController.h"
#include "app/AnalyserSettings.h"
#include "app/ViewController.h"
#include "app/vlxEventTracer.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/uikit/UIDevice.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIStoryboard.h"
#include "profiles/ProfilesSupport.h"
#include "sdk/core/ZAVAda.h"

std::shared_ptr<AppDelegate> AppDelegate::shared() {
  return std::dynamic_pointer_cast<AppDelegate>(UIApplication::sharedApplication().delegate());
}

void AppDelegate::setAnalyzerVC(std::shared_ptr<UIViewController> controller) {
  analyzerNavigation_ = controller ? controller->navigationController() : nullptr;
  analyzerVC_ = std::move(controller);
}

void AppDelegate::registerClass() {
  UIApplicationRegisterDelegateClass("AppDelegate", [] { return std::make_shared<AppDelegate>(); });
}

void AppDelegate::writeAbsentDefaults(const CGRect& launchBounds) {
  auto defaults = NSUserDefaults::standardUserDefaults();
  for (const auto& [key, value] : settings::launchDefaults(launchBounds)) {
    if (!defaults->objectForKey(key)) defaults->setObject(value, key);
  }
}

bool AppDelegate::applicationDidFinishLaunchingWithOptions(UIApplication&, const Value&) {
  // 1. The SDK first: a missing service-info list ends start-up with the SDK's exception.
  ZAVAda::configure();
  // The profile screens record their taps in the usage trace too.
  tarn::setUsageEventRecorder(vlxEventTracer::addEvent);
  // 2-3. Absent settings, with the FFT sizes chosen from the screen as it is held at launch.
  const CGRect launchBounds = UIScreen::mainScreen().bounds();
  settings::setLaunchDefaultFFTSize(settings::defaultFFTSizeForBounds(launchBounds));
  writeAbsentDefaults(launchBounds);
  NSUserDefaults::standardUserDefaults()->synchronize();
  // 4. The help screen, made once; the side menu puts it in front.
  helpVC_ = UIStoryboard::storyboardWithName("HelpVC")->instantiateInitialViewController();
  // 5. Landscape right.
  UIDevice::currentDevice().setValue(Value(int64_t(UIDeviceOrientationLandscapeRight)), "orientation");
  return true;
}

void AppDelegate::setChartDrawing(bool draw) {
  // Before the analyser screen has loaded there is no chart: nothing to change.
  auto screen = std::dynamic_pointer_cast<ViewController>(analyzerVC_);
  if (!screen || !screen->spectrumView) return;
  if (auto inner = screen->spectrumView->spectrumView()) inner->needDrawPlot = draw;
}

void AppDelegate::applicationDidEnterBackground(UIApplication&) { setChartDrawing(false); }

void AppDelegate::applicationWillEnterForeground(UIApplication&) { setChartDrawing(true); }

void AppDelegate::presentAppStoreForID(const std::string& identifier) {
  auto store = AEProductController::sharedInstance();
  store->setProductAppStoreId(Value(identifier));
  store->showAppStore();
}
