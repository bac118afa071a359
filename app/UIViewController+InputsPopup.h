#pragma once
// The new-input popup (the view-controller category InputsPopup): choosing a microphone profile at
// start-up, and asking what to do when a new external microphone is connected: create a new
// profile for it, keep using the current input's default profile, or enable a profile that exists
// for it. Both belong to the automatic profile logic, a build setting that is off by default
// (profiles/AutomaticProfileLogic.h): the start-up step then does nothing, the analyser screen does
// not observe the announcements of a new microphone and none is ever posted, so the popup is
// reached only by calling newInputDeviceDetected. With the logic on, the analyser screen observes
// them from its set-up. Main thread only.
#include <memory>

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/uikit/UIViewController.h"
#include "profiles/DeviceInputDescription.h"
#include "profiles/InputProfile.h"

namespace InputsPopup {

// The start-up step, called by the analyser screen at the end of its set-up. With the logic on,
// 2 s later: the connected external inputs are refreshed and, when there is one, announced (the
// popup follows); otherwise the built-in microphone's default profile is enabled, when there is
// one.
void initiateDefaultProfile(const UIViewControllerRef& controller);

// With the logic on: newInputDeviceDetected for the controller on every announcement of a new
// microphone, delivered on the main queue while the returned token lives and the controller does
// (it is held weakly). With the logic off: no observation (none is returned).
[[nodiscard]] NSObserverTokenRef observeNewInputDevices(const UIViewControllerRef& controller);

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
