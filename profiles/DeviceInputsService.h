#pragma once
// The process-wide keeper of input devices: the description of the input now in use
// (currentDevice), the connected external inputs found by the last updateExternalInputs, the
// built-in and selectable inputs the audio session offers, and the routing of the session's input
// to a chosen port (overrideInput).
//
// It also carries the automatic profile logic: a handler of the session's route changes and the
// announcement of a newly connected external microphone ("DeviceInputsService.NewExternalInput",
// posted from the main queue with the description under "externalInput"). With the logic switched
// off (the build's setting, profiles/AutomaticProfileLogic.h) the service observes no route change
// and checkCurrentInputsForExternalMic answers NO at once; everything else works. When the logic
// is on, the service observes the session's route changes from its creation and handles them on
// the main thread whatever thread posts them.
//
// Diagnostic lines go to standard output. Main thread only.
#include <memory>
#include <vector>

#include "platform/audio/AVAudioSession.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "profiles/DeviceInputDescription.h"

class DeviceInputsService {
 public:
  static constexpr const char* kNewExternalInput = "DeviceInputsService.NewExternalInput";
  static constexpr const char* kExternalInputKey = "externalInput";

  static DeviceInputsService& sharedService();

  DeviceInputDescriptionRef currentDevice() const { return currentDevice_; }
  void setCurrentDevice(DeviceInputDescriptionRef device) { currentDevice_ = std::move(device); }
  const std::vector<DeviceInputDescriptionRef>& connectedExternalInputs() const { return connectedExternalInputs_; }
  void setConnectedExternalInputs(std::vector<DeviceInputDescriptionRef> inputs) {
    connectedExternalInputs_ = std::move(inputs);
  }

  // Makes the port the session's preferred input and, when the session takes it, the current
  // device; a refusal is printed and changes nothing.
  void overrideInput(const AVAudioSessionPortDescriptionRef& port);
  // Acts on a route change by its reason (see the .cpp); refreshes the external inputs first.
  void handleRouteChange(const NSNotification& notification);
  void audioRouteDidChange(const NSNotification& notification) { handleRouteChange(notification); }
  // Rebuilds connectedExternalInputs from the session's Bluetooth (not A2DP), headset and USB ports.
  void updateExternalInputs();
  // One description per built-in microphone port.
  std::vector<DeviceInputDescriptionRef> builtInInputs();
  // A description of the first built-in port that has a bottom-facing data source (made from the
  // port, so it carries the port's preferred or selected data source); none without one.
  DeviceInputDescriptionRef builtInBottomInput();
  // The inputs a user profile can be made for: headset and USB ports, and Bluetooth ports whose
  // name lacks "airpods"; one description per data source where a port has them.
  std::vector<DeviceInputDescriptionRef> selectableExternalInputs();
  // NO with the automatic logic off. With it on: YES when an external input is connected, after
  // scheduling the announcement of the last one.
  bool checkCurrentInputsForExternalMic();

  // Forgets the service (its observation included); the next sharedService is a new one. Tests.
  static void resetForTesting();

  DeviceInputsService();
  ~DeviceInputsService();

 private:
  DeviceInputDescriptionRef currentDevice_;
  std::vector<DeviceInputDescriptionRef> connectedExternalInputs_;
  NSObserverTokenRef routeObserver_;
};
