#include "tests/app/ProfileScreensHarness.h"

#include "analysis/vlxSpectrum.h"
#include "app/vlxEventTracer.h"
#include "overlays/StatusOverlay.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/NSString.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIWindow.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/InputProfilesService.h"

InputProfileRef profileFor(int64_t id, const std::string& name, DeviceInputDescriptionRef device,
                           std::vector<int64_t> corrections, int64_t gain) {
  auto p = std::make_shared<InputProfile>(id, name, std::move(device));
  for (size_t i = 0; i < p->tuneBands().size() && i < corrections.size(); ++i) p->tuneBands()[i]->setFixValue(corrections[i]);
  p->mainGain()->setFixValue(gain);
  return p;
}

void resetProfileServices() {
  InputProfilesService::resetForTesting();
  DeviceInputsService::resetForTesting();
  vlxSpectrum::resetForTesting();
  StatusOverlay::resetForTesting();
}

void endProfileServices(const std::function<void()>& tearDownApplication) {
  // The overlay goes before the application's windows, the services after them.
  StatusOverlay::resetForTesting();
  tearDownApplication();
  resetProfileServices();
  AVAudioSession::sharedInstance().setPreferredInput(nullptr, nullptr);
}

void ProfileScreensHarness::SetUp() {
  AppHarness::SetUp();
  resetProfileServices();
  setPorts({profilestest::phoneMicrophone()});
}

void ProfileScreensHarness::TearDown() {
  settle(0.1);
  endProfileServices([this] { AppHarness::TearDown(); });
  AVAudioSession::sharedInstance().setPortsForTesting(std::nullopt);
}

void ProfileScreensHarness::launchApp(CGSize screen) {
  launch(screen);
  settle();
}

void ProfileScreensHarness::settle(double seconds) {
  clock.step(seconds);
  layout();
  layout();  // views that add their parts in their first layout are placed in the next
}

void ProfileScreensHarness::setPorts(const std::vector<AVAudioSessionPortDescriptionRef>& ports) {
  AVAudioSession::sharedInstance().setPortsForTesting(ports);
}

std::shared_ptr<UINavigationController> ProfileScreensHarness::nav() const { return screen()->navigationController(); }
UIViewControllerRef ProfileScreensHarness::top() const { return nav()->topViewController(); }

std::shared_ptr<InputProfilesTableViewController> ProfileScreensHarness::openList() {
  screen()->vInputPlank->setHidden(false);  // a profile change shows it; tests may open it first
  tap(screen()->vInputPlank);
  settle();
  return std::dynamic_pointer_cast<InputProfilesTableViewController>(top());
}

std::shared_ptr<MicProfileSetupViewController> ProfileScreensHarness::openTuning(const InputProfileRef& profile) {
  auto setup = std::dynamic_pointer_cast<MicProfileSetupViewController>(
      UIStoryboard::storyboardWithName("AppSettings")->instantiateViewControllerWithIdentifier("microphoneProfileSetup"));
  setup->setInputProfile(profile);
  nav()->pushViewController(setup, true);
  settle();
  return setup;
}

std::vector<std::string> ProfileScreensHarness::events() const {
  std::vector<std::string> names;
  const std::string trace = defaults()->stringForKey(kEventsStackKey).value_or("");
  // "/NextLaunch//<seconds>/<name>/..." — every second field after the marker is a name.
  auto parts = ns::split(trace, "/");
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].empty() || parts[i] == "NextLaunch") continue;
    bool number = std::all_of(parts[i].begin(), parts[i].end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    if (!number) names.push_back(parts[i]);
  }
  return names;
}
