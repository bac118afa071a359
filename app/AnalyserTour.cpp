#include "app/AnalyserTour.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "app/AnalyserSettings.h"
#include "app/AppDelegate.h"
#include "app/ProfilesTour.h"
#include "app/HelpVC.h"
#include "app/RightMenuVC.h"
#include "app/SideMenuController.h"
#include "app/ViewController.h"
#include "app/vlxEventTracer.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIWindow.h"

namespace {

// The analyser settings as stored now (none for an absent key).
std::vector<std::pair<std::string, std::optional<Value>>> snapshot() {
  auto defaults = NSUserDefaults::standardUserDefaults();
  std::vector<std::pair<std::string, std::optional<Value>>> values;
  for (const auto& [key, unused] : settings::launchDefaults(CGRectZero)) values.emplace_back(key, defaults->objectForKey(key));
  values.emplace_back(kEventsStackKey, defaults->objectForKey(kEventsStackKey));  // the tour's taps are not the user's
  return values;
}

void restore(const std::vector<std::pair<std::string, std::optional<Value>>>& values) {
  auto defaults = NSUserDefaults::standardUserDefaults();
  for (const auto& [key, value] : values) {
    if (value) defaults->setObject(*value, key);
    else defaults->removeObjectForKey(key);
  }
  defaults->synchronize();
}

std::string visibleText(const std::shared_ptr<UILabel>& label) {
  if (!label || label->isHidden() || !label->text()) return "";
  return *label->text();
}

bool writeScreenshot(const std::shared_ptr<UIWindow>& window, const std::string& outDir, const char* name) {
  std::filesystem::path path = std::filesystem::path(outDir) / name;
  std::string error;
  if (!UICompositor::writePNG(window, path.string(), &error)) {
    std::fprintf(stderr, "spectrum-analyser: cannot write %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  std::printf("wrote %s\n", path.c_str());
  return true;
}

// A finger's tap on the middle of a view.
void tap(const std::shared_ptr<UIWindow>& window, const std::shared_ptr<UIView>& view) {
  window->layoutPass();
  CGRect f = view->convertRectToView(view->bounds(), nullptr);
  CGPoint centre{CGRectGetMidX(f), CGRectGetMidY(f)};
  window->touchDown(centre, Clock::monotonic());
  window->touchUp(centre, Clock::monotonic());
}

// The side menu opened over the analyser (side-menu.png), then the help page through the menu's
// "Help" (help.png); the analyser goes back in front at the end.
bool tourSideMenuAndHelp(const std::shared_ptr<UIWindow>& window, const std::shared_ptr<ViewController>& screen,
                         const std::string& outDir) {
  auto& loop = NSRunLoop::main();
  auto menu = sideMenuController(*screen);
  if (!menu) {
    std::fprintf(stderr, "spectrum-analyser: the analyser screen is not in the side-menu container\n");
    return false;
  }
  auto settled = [&] { return menu->queuedAnimationCount() == 0; };
  menu->rightPanelToggleAnimated(true);
  loop.runUntil([&] { return settled() && menu->frontViewPosition() == PositionRight; }, 5);
  loop.runFor(0.1);
  bool ok = writeScreenshot(window, outDir, "side-menu.png");

  auto entries = std::dynamic_pointer_cast<RightMenuVC>(menu->rightViewController());
  auto app = AppDelegate::shared();
  auto help = app ? std::dynamic_pointer_cast<HelpVC>(app->helpVC()) : nullptr;
  if (!entries || !entries->btnHelp || !help) {
    std::fprintf(stderr, "spectrum-analyser: the side menu has no help entry\n");
    return false;
  }
  tap(window, entries->btnHelp);
  loop.runUntil([&] {
    return settled() && menu->frontViewController() == help && help->webView && !help->webView->isLoading();
  }, 10);
  loop.runFor(0.1);
  if (!help->webView || !help->webView->hasPage()) {
    std::fprintf(stderr, "spectrum-analyser: the help page did not load\n");
    ok = false;
  }
  ok &= writeScreenshot(window, outDir, "help.png");

  UIViewControllerRef analyser = screen->navigationController();
  menu->pushFrontViewController(analyser ? analyser : screen, false);
  loop.runUntil(settled, 5);
  return ok;
}

}  // namespace

int AnalyserTour::run(UIApplication& application, const std::string& outDir) {
  auto app = AppDelegate::shared();
  auto window = application.keyWindow();
  auto screen = app ? std::dynamic_pointer_cast<ViewController>(app->analyzerVC()) : nullptr;
  if (!window || !screen) {
    std::fprintf(stderr, "spectrum-analyser: the analyser screen did not come up\n");
    return 1;
  }
  std::error_code ec;
  std::filesystem::create_directories(outDir, ec);
  if (ec) {
    std::fprintf(stderr, "spectrum-analyser: cannot create %s: %s\n", outDir.c_str(), ec.message().c_str());
    return 1;
  }

  const auto saved = snapshot();
  struct Stop {
    const char* mode;
    void (ViewController::*show)();
    double seconds;
  };
  const Stop stops[] = {{"fft", &ViewController::switchToFFTMode, 3.0},
                        {"octave", &ViewController::switchToOctaveMode, 2.5},
                        {"sonogram", &ViewController::switchToSpectrographMode, 8.0}};
  auto& loop = NSRunLoop::main();
  bool ok = true;
  for (const auto& stop : stops) {
    ((*screen).*stop.show)();
    // The chart's new rectangle before its frames come. Its first layout moves the readouts'
    // backing to its new left padding, which lays it out again: twice, as the window's next frame
    // would, so that the chart starts once and its frames are then measured undisturbed.
    window->layoutPass();
    window->layoutPass();
    loop.runFor(stop.seconds);
    std::filesystem::path path = std::filesystem::path(outDir) / (std::string("analyser-") + stop.mode + ".png");
    std::string error;
    if (UICompositor::writePNG(window, path.string(), &error)) {
      std::printf("wrote %s\n", path.c_str());
    } else {
      std::fprintf(stderr, "spectrum-analyser: cannot write %s: %s\n", path.c_str(), error.c_str());
      ok = false;
    }
    const std::string dba = visibleText(screen->lblFloatingRight), peak = visibleText(screen->lblFloatingLeft);
    if (dba.empty() && peak.empty()) {
      std::printf("%-8s (no readouts on this screen)\n", stop.mode);
    } else {
      std::printf("%-8s %s   %s\n", stop.mode, dba.c_str(), peak.c_str());
      // Seconds of audio in a mode give it a reading: "--" there is a chart that measured nothing.
      if (dba.find("--") != std::string::npos) {
        std::fprintf(stderr, "spectrum-analyser: no audio frame was analysed in the %s mode\n", stop.mode);
        ok = false;
      }
    }
    std::fflush(stdout);
  }
  ok &= tourSideMenuAndHelp(window, screen, outDir);
  // The input-profile screens.
  if (!ProfilesTour::run(application, *screen, outDir)) ok = false;
  restore(saved);
  application.requestStop();
  return ok ? 0 : 1;
}
