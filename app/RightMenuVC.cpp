#include "app/RightMenuVC.h"

#include "app/AnalyserSettings.h"
#include "app/AppDelegate.h"
#include "app/SideMenuController.h"
#include "app/ViewController.h"
#include "app/vlxEventTracer.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/uikit/UINavigationController.h"

namespace {
std::string L(const std::string& key) { return NSBundle::mainBundle().localizedStringForKey(key, "", ""); }
}  // namespace

void RightMenuVC::viewDidLoad() {
  UIViewController::viewDidLoad();
  const std::pair<std::shared_ptr<UIButton>, const char*> entries[] = {
      {btnFFT, "FFT Plot"}, {btnOctave, "Octave RTA"}, {btnHelp, "Help"}, {btnSpectrograph.lock(), "Spectrograph"}};
  for (const auto& [button, title] : entries) {
    if (!button) continue;
    button->setContentHorizontalAlignment(UIControlContentHorizontalAlignment::Left);
    button->setTitle(L(title), UIControlStateNormal);
    button->setTitle(L(title), UIControlStateSelected);
  }
  const std::string type = NSUserDefaults::standardUserDefaults()->stringForKey(settings::kCurrentType).value_or("");
  std::shared_ptr<UIButton> selected = type == "octave" ? btnOctave : type == "fft" ? btnFFT : btnSpectrograph.lock();
  select(selected);
}

void RightMenuVC::select(const std::shared_ptr<UIButton>& button) {
  if (lastSelectedButton) lastSelectedButton->setSelected(false);
  lastSelectedButton = button;
  if (button) button->setSelected(true);
}

void RightMenuVC::octaveTap(const std::shared_ptr<UIButton>& sender) { show(sender, Entry::Octave); }
void RightMenuVC::fftPlotTap(const std::shared_ptr<UIButton>& sender) { show(sender, Entry::FFT); }
void RightMenuVC::spectrographTap(const std::shared_ptr<UIButton>& sender) { show(sender, Entry::Spectrograph); }
void RightMenuVC::helpTap(const std::shared_ptr<UIButton>& sender) { show(sender, Entry::Help); }

void RightMenuVC::show(const std::shared_ptr<UIButton>& sender, Entry entry) {
  select(sender);
  auto app = AppDelegate::shared();
  UIViewControllerRef front;
  if (entry == Entry::Help) {
    front = app ? app->helpVC() : nullptr;
  } else {
    auto analyser = std::dynamic_pointer_cast<ViewController>(app ? app->analyzerVC() : nullptr);
    if (analyser) {
      if (entry == Entry::Octave) analyser->switchToOctaveMode();
      else if (entry == Entry::FFT) analyser->switchToFFTMode();
      else analyser->switchToSpectrographMode();
      // The analyser goes back in front inside the navigation controller that holds it, so that
      // its current-input bar can still push the profile list.
      if (auto navigation = analyser->navigationController()) front = navigation;
      else front = analyser;
    }
  }
  if (auto menu = sideMenuController(*this); menu && front) menu->pushFrontViewController(front, true);
  static const char* const kEvents[] = {"Octave", "FFT", "spectrograph", "Help"};
  vlxEventTracer::addEvent(kEvents[static_cast<int>(entry)]);
}
