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

namespace InputsPopup {

// The start-up step, called by the analyser screen at the end of its set-up.
void initiateDefaultProfile(const UIViewControllerRef& controller);

// Shows the popup over the controller for the microphone under "externalInput" in the
// notification; a notification without one is ignored.
void newInputDeviceDetected(const UIViewControllerRef& controller, const NSNotification& notification);

}  // namespace InputsPopup
