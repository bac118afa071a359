#pragma once
// The new-input popup (the view-controller category InputsPopup): choosing a microphone profile at
// start-up, and asking what to do when a new external microphone is connected: create a new
// profile for it, keep using the current input's default profile, or enable a profile that exists
// for it. Both belong to the automatic profile logic, which is switched off
// (kAutomaticProfileLogicEnabled): the start-up step then does nothing and no announcement of a new
// microphone is ever posted, so the popup is reached only by calling newInputDeviceDetected.
// Main thread only.
#include <memory>

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/uikit/UIViewController.h"
#include "profiles/DeviceInputDescription.h"
#include "profiles/InputProfile.h"

namespace InputsPopup {

// The start-up step, called by the analyser screen at the end of its set-up.
void initiateDefaultProfile(const UIViewControllerRef& controller);

// Shows the popup over the controller for the microphone under "externalInput" in the
// notification; a notification without one is ignored.
void newInputDeviceDetected(const UIViewControllerRef& controller, const NSNotification& notification);

// The profiles the popup offers to enable for the microphone, from those that exist for it (user
// profiles first): all three when there are exactly three, the microphone is no AirPods model and
// the first and last belong to AirPods models; otherwise the last one whose input equals the
// microphone, or the first one when none does; none without profiles.
std::vector<InputProfileRef> profilesToOffer(const std::vector<InputProfileRef>& profiles,
                                             const DeviceInputDescriptionRef& microphone);

}  // namespace InputsPopup
