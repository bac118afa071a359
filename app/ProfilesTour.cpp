#include "app/ProfilesTour.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "app/UIViewController+InputsPopup.h"
#include "app/ViewController.h"
#include "app/vlxEventTracer.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIWindow.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/InputProfilesService.h"
#include "profiles/InputProfilesTableViewController.h"
#include "profiles/MicProfileSetupViewController.h"

namespace {

// The stored values the tour changes, as they were (none for an absent key).
struct Saved {
  std::vector<std::pair<std::string, std::optional<Value>>> values;
};

Saved snapshot() {
  auto defaults = NSUserDefaults::standardUserDefaults();
  Saved saved;
  std::vector<std::string> keys{InputProfilesService::kStorageKey, kEventsStackKey, InputProfilesService::kBackupKey};
  for (int n = 2; n < 10; ++n) keys.push_back(std::string(InputProfilesService::kBackupKey) + "." + std::to_string(n));
  for (const auto& key : keys) saved.values.emplace_back(key, defaults->objectForKey(key));
  return saved;
}

void restore(const Saved& saved) {
  auto defaults = NSUserDefaults::standardUserDefaults();
  for (const auto& [key, value] : saved.values) {
    if (value) defaults->setObject(*value, key);
    else defaults->removeObjectForKey(key);
  }
  defaults->synchronize();
}

bool screenshot(const std::shared_ptr<UIWindow>& window, const std::string& outDir, const char* name) {
  const std::string path = (std::filesystem::path(outDir) / name).string();
  std::string error;
  if (!UICompositor::writePNG(window, path, &error)) {
    std::fprintf(stderr, "spectrum-analyser: cannot write %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  std::printf("wrote %s\n", path.c_str());
  return true;
}

// A profile for the input in use, with corrections to look at.
InputProfileRef demonstrationProfile() {
  DeviceInputDescriptionRef device;
  for (const auto& port : AVAudioSession::sharedInstance().availableInputs()) {
    device = DeviceInputDescription::withPort(*port);
    if (port->portType() == AVAudioSessionPortBuiltInMic) break;
  }
  if (!device) return nullptr;
  auto& service = InputProfilesService::sharedService();
  auto profile = std::make_shared<InputProfile>(service.newProfileId(), "Studio calibration", device);
  const int64_t corrections[] = {-6, -3, -1, 0, 1, 0, 2, 3, 1, -2, -4};
  for (size_t i = 0; i < profile->tuneBands().size() && i < std::size(corrections); ++i) {
    profile->tuneBands()[i]->setFixValue(corrections[i]);
  }
  profile->mainGain()->setFixValue(-2);
  return profile;
}

}  // namespace

bool ProfilesTour::run(UIApplication& application, ViewController& screen, const std::string& outDir) {
  auto window = application.keyWindow();
  auto nav = screen.navigationController();
  if (!window || !nav) {
    std::fprintf(stderr, "spectrum-analyser: the analyser screen is not in its navigation controller\n");
    return false;
  }
  // Serves the main loop for a while, then lays the window out as a displayed frame would.
  struct Loop {
    std::shared_ptr<UIWindow> window;
    void runFor(double seconds) {
      NSRunLoop::main().runFor(seconds);
      // Views that add their parts in their first layout are laid out once more, as the next frame
      // would.
      window->layoutPass();
      window->layoutPass();
    }
  } loop{window};
  const Saved saved = snapshot();
  auto& service = InputProfilesService::sharedService();
  bool ok = true;

  // The analyser in its octave mode behind the popup (the mode is put back by the caller).
  screen.switchToOctaveMode();
  auto profile = demonstrationProfile();
  if (profile) {
    service.addProfile(profile);
    service.enableProfile(profile, ProfileEnableSource::selectedFromTable);
  }
  // A USB microphone the user made a profile for earlier; it is not plugged in until the popup.
  auto usbMicrophone = std::make_shared<DeviceInputDescription>("usb-tour-microphone", "USB Audio CODEC",
                                                                AVAudioSessionPortUSBAudio);
  auto usbProfile = std::make_shared<InputProfile>(service.newProfileId(), "USB measurement mic", usbMicrophone);
  service.addProfile(usbProfile);
  loop.runFor(0.3);

  // The list, from the current-input bar, scrolled to the demonstration profile.
  screen.vInputPlank->sendActionsForControlEvents(UIControlEventTouchUpInside);
  loop.runFor(0.8);
  auto list = std::dynamic_pointer_cast<InputProfilesTableViewController>(nav->topViewController());
  std::optional<NSIndexPath> row;
  if (list && profile) {
    const auto& users = list->tableDataSource()->userDefinedProfiles();
    auto it = std::find(users.begin(), users.end(), profile);
    if (it != users.end()) row = NSIndexPath{1, int64_t(it - users.begin())};
  }
  if (list) {
    // To the end of the list: the demonstration profiles are the last rows.
    const int64_t users = list->tableView->numberOfRowsInSection(1);
    if (users > 0) list->tableView->scrollToRowAtIndexPath({1, users - 1});
    loop.runFor(0.1);
  }
  ok &= list && screenshot(window, outDir, "profiles.png");

  // The demonstration profile in the tuning screen, with the live levels on.
  if (row) {
    if (auto cell = std::dynamic_pointer_cast<InputProfileTableViewCell>(list->tableView->cellForRowAtIndexPath(*row))) {
      list->editProfile(*cell);
    }
  }
  loop.runFor(0.6);
  auto tuning = std::dynamic_pointer_cast<MicProfileSetupViewController>(nav->topViewController());
  if (tuning) {
    tuning->btnStartSignal->sendActionsForControlEvents(UIControlEventTouchUpInside);
    loop.runFor(2.5);
    ok &= screenshot(window, outDir, "tuning.png");
    tuning->btnStartSignal->sendActionsForControlEvents(UIControlEventTouchUpInside);
  } else {
    std::fprintf(stderr, "spectrum-analyser: the tuning screen did not come up\n");
    ok = false;
  }
  nav->popToRootViewControllerAnimated(false);
  loop.runFor(0.3);

  // The popup for a newly connected USB microphone.
  NSNotification note;
  note.name = DeviceInputsService::kNewExternalInput;
  note.userObjects[DeviceInputsService::kExternalInputKey] = usbMicrophone;
  InputsPopup::newInputDeviceDetected(screen.shared_from_this(), note);
  loop.runFor(0.6);
  ok &= screen.presentedViewController() && screenshot(window, outDir, "new-input.png");
  screen.dismissViewControllerAnimated(false);
  loop.runFor(0.2);

  if (profile) service.removeProfile(profile);
  service.removeProfile(usbProfile);
  restore(saved);
  return ok;
}
