#pragma once
// The application with the input-profile services fresh for each test, the manual clock, and the
// audio session's inputs described through its test hook (by default a phone's built-in
// microphone with bottom, front and back data sources). Helpers open the profile list from the
// current-input bar and a profile in the tuning screen, as a user would.
#include <functional>
#include <memory>
#include <string>

#include "platform/uikit/UINavigationController.h"
#include "profiles/InputProfilesTableViewController.h"
#include "profiles/MicProfileSetupViewController.h"
#include "tests/app/AppHarness.h"
#include "tests/profiles/TestPorts.h"
#include "tests/support/ManualClock.h"

class ProfileScreensHarness : public AppHarness {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Launches and lets the main queue settle (the bar's notifications, the first layouts).
  void launchApp(CGSize screen = {568, 320});
  void settle(double seconds = 0.5);
  void setPorts(const std::vector<AVAudioSessionPortDescriptionRef>& ports);

  std::shared_ptr<UINavigationController> nav() const;
  UIViewControllerRef top() const;
  // Taps the current-input bar; returns the list that was pushed.
  std::shared_ptr<InputProfilesTableViewController> openList();
  // Opens the profile in the tuning screen as the list's edit button would.
  std::shared_ptr<MicProfileSetupViewController> openTuning(const InputProfileRef& profile);
  // The texts of the usage trace's events, in order.
  std::vector<std::string> events() const;

  testsupport::ManualClock clock;
};

// The profile and input services, the shared chart and the status overlay made fresh: what every
// test of the profile screens starts with.
void resetProfileServices();
// Ends a test of the profile screens: the overlay, the application (the harness's own tear-down,
// given), the fresh services, and no preferred input left behind.
void endProfileServices(const std::function<void()>& tearDownApplication);

// A profile for the input with the corrections (in the default band order) and main gain.
InputProfileRef profileFor(int64_t id, const std::string& name, DeviceInputDescriptionRef device,
                           std::vector<int64_t> corrections = std::vector<int64_t>(11, 0), int64_t gain = 0);
