#include "app/AnalyserTour.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "app/AnalyserSettings.h"
#include "app/AppDelegate.h"
#include "app/ProfilesTour.h"
#include "app/ViewController.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIWindow.h"

namespace {

// The analyser settings as stored now (none for an absent key).
std::vector<std::pair<std::string, std::optional<Value>>> snapshot() {
  auto defaults = NSUserDefaults::standardUserDefaults();
  std::vector<std::pair<std::string, std::optional<Value>>> values;
  for (const auto& [key, unused] : settings::launchDefaults(CGRectZero)) values.emplace_back(key, defaults->objectForKey(key));
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
  bool ok = true, analysed = false;
  for (const auto& stop : stops) {
    ((*screen).*stop.show)();
    window->layoutPass();  // the chart's new rectangle before its frames come
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
      if (dba.find("--") == std::string::npos) analysed = true;
    }
    std::fflush(stdout);
  }
  // The input-profile screens.
  if (!ProfilesTour::run(application, *screen, outDir)) ok = false;
  restore(saved);
  if (!analysed) {
    std::fprintf(stderr, "spectrum-analyser: no audio frame was analysed\n");
    ok = false;
  }
  application.requestStop();
  return ok ? 0 : 1;
}
