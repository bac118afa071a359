#include "app/UIViewController+InputsPopup.h"

#include "app/vlxEventTracer.h"
#include "overlays/StatusOverlay.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSString.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIStoryboard.h"
#include "profiles/AutomaticProfileLogic.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/InputProfilesService.h"
#include "profiles/MicProfileSetupViewController.h"
#include "profiles/ProfilesSupport.h"

namespace InputsPopup {

void initiateDefaultProfile(const UIViewControllerRef&) {
  if constexpr (!kAutomaticProfileLogicEnabled) return;
  DispatchQueue::main()->after(2.0, [] {
    auto& inputs = DeviceInputsService::sharedService();
    inputs.updateExternalInputs();
    if (inputs.checkCurrentInputsForExternalMic()) return;  // the popup follows from the announcement
    auto& profiles = InputProfilesService::sharedService();
    if (auto profile = profiles.defaultConnectedProfile()) profiles.enableProfile(profile, ProfileEnableSource::initial);
  });
}

NSObserverTokenRef observeNewInputDevices(const UIViewControllerRef& controller) {
  if constexpr (!kAutomaticProfileLogicEnabled) return nullptr;
  if (!controller) return nullptr;
  std::weak_ptr<UIViewController> weak = controller;
  return NSNotificationCenter::defaultCenter().addObserverForName(
      DeviceInputsService::kNewExternalInput, nullptr, DispatchQueue::main(), [weak](const NSNotification& n) {
        if (auto screen = weak.lock()) newInputDeviceDetected(screen, n);
      });
}

namespace {

// Opens the tuning screen for a new profile on the controller's navigation stack.
void showTuning(const UIViewControllerRef& controller, const InputProfileRef& profile) {
  if (!profile || !UIStoryboard::hasStoryboardNamed("AppSettings")) return;
  auto setup = std::dynamic_pointer_cast<MicProfileSetupViewController>(
      UIStoryboard::storyboardWithName("AppSettings")->instantiateViewControllerWithIdentifier("microphoneProfileSetup"));
  if (!setup) return;
  setup->setInputProfile(profile);
  if (auto nav = controller->navigationController()) nav->pushViewController(setup, true);
}

}  // namespace

std::vector<InputProfileRef> profilesToOffer(const std::vector<InputProfileRef>& profiles,
                                             const DeviceInputDescriptionRef& microphone) {
  auto airPods = [](const InputProfileRef& p) { return p->inputDevice() && p->inputDevice()->isAnyAirpods(); };
  if (profiles.size() == 3 && !microphone->isAnyAirpods() && airPods(profiles.front()) && airPods(profiles.back())) {
    return profiles;
  }
  if (profiles.empty()) return {};
  InputProfileRef chosen;
  for (const auto& profile : profiles) {
    if (profile->inputDevice() && profile->inputDevice()->isEqual(microphone)) chosen = profile;
  }
  return {chosen ? chosen : profiles.front()};
}

void newInputDeviceDetected(const UIViewControllerRef& controller, const NSNotification& notification) {
  auto microphone = notification.userObject<DeviceInputDescription>(DeviceInputsService::kExternalInputKey);
  if (!microphone || !controller) return;
  auto& service = InputProfilesService::sharedService();
  const auto profiles = service.profilesForInputs({microphone});
  auto alert = UIAlertController::alertControllerWithTitle(
      ns::replaceAll(tarn::localised("popup.microphone_detected"), "%@", microphone->displayName()), std::nullopt,
      UIAlertControllerStyle::Alert);

  if (!microphone->isAnyAirpods()) {
    alert->addAction(UIAlertAction::actionWithTitle(
        tarn::localised("popup.add_new_profile"), UIAlertActionStyle::Default, [controller, microphone](UIAlertAction&) {
          vlxEventTracer::addEvent("microphone_popup_new_profile");
          // The completion keeps the controller until it runs.
          InputProfilesService::sharedService().createNewProfileForInputDescription(
              microphone, controller, [controller](InputProfileRef profile) { showTuning(controller, profile); });
        }));
  }
  alert->addAction(UIAlertAction::actionWithTitle(tarn::localised("popup.use_current"), UIAlertActionStyle::Default,
                                                  [](UIAlertAction&) {
                                                    vlxEventTracer::addEvent("microphone_popup_use_current_tap");
                                                    auto& s = InputProfilesService::sharedService();
                                                    if (auto profile = s.defaultConnectedProfile()) {
                                                      s.enableProfile(profile, ProfileEnableSource::newDevicePopup);
                                                    }
                                                    StatusOverlay::showSuccessWithStatus(std::nullopt);
                                                  }));

  auto enableAction = [](const InputProfileRef& profile) {
    return UIAlertAction::actionWithTitle(tarn::localised("popup.enable_profile") + " " + profile->displayName(),
                                          UIAlertActionStyle::Default, [profile](UIAlertAction&) {
                                            vlxEventTracer::addEvent("microphone_popup_enable_defined_profile");
                                            InputProfilesService::sharedService().enableProfile(
                                                profile, ProfileEnableSource::newDevicePopup);
                                            StatusOverlay::showSuccessWithStatus(std::nullopt);
                                          });
  };
  for (const auto& profile : profilesToOffer(profiles, microphone)) alert->addAction(enableAction(profile));

  vlxEventTracer::addEvent("microphone_popup_shown");
  alert->view()->setTintColor(tarn::namedColor("brandRed"));
  controller->presentViewController(alert, true);
}

}  // namespace InputsPopup
