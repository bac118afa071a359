#pragma once
// The microphone tuning screen: one profile's band and main-gain sliders (BandsTuneView), its name,
// the audio session's sample rate and the dB-A and dB-C readouts, with a start/stop button that
// asks the shared chart for live levels. The presenter sets inputProfile and pushes the screen;
// 100 ms after the view loads the screen fills itself from the profile and enables it, so the
// shared chart runs with the profile's corrections, which the sliders then change live (on the
// profile's own band objects). Saving stores the profile and enables it; removing deletes it and
// leaves. A route change that brings or takes a device, or changes the category, leaves the screen;
// the application's own choice of input (an override) does not.
//
// Made by the storyboard "AppSettings" (scene "microphoneProfileSetup"), which connects the outlets.
// Observers and timers hold the screen weakly; level reports are shown from the main queue.
// Main thread only.
#include <memory>

#include "analysis/UISpectrumContainerView.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/uikit/NSLayoutConstraint.h"
#include "platform/uikit/UIButton.h"
#include "platform/uikit/UILabel.h"
#include "platform/uikit/UIViewController.h"
#include "profiles/BandsTuneView.h"
#include "profiles/InputProfile.h"

class MicProfileSetupViewController : public UIViewController, public FFTValuesDelegate {
 public:
  MicProfileSetupViewController() = default;

  // ---- Outlets ----
  std::shared_ptr<BandsTuneView> bandsView;
  std::shared_ptr<UILabel> lblCurrentInput, lblSampleRate, lblDba, lblDbc;
  std::shared_ptr<UIButton> btnStartSignal;
  NSLayoutConstraintRef lcTopConstraint, lcButtonTopConstraint, lcBottomConstraint;

  const InputProfileRef& inputProfile() const { return inputProfile_; }
  void setInputProfile(InputProfileRef profile) { inputProfile_ = std::move(profile); }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  uint32_t supportedInterfaceOrientations() const override { return UIInterfaceOrientationMaskPortrait; }

  // The set-up step (run 100 ms after loading): labels, sliders, and the profile enabled.
  void setUpFromProfile();

  // ---- Actions ----
  void readSignalAction(const std::shared_ptr<UIButton>& sender);
  void saveProfile();
  void removeProfile();
  void manageFrequency() {}
  void audioRouteDidChange(const NSNotification& notification);

  // ---- Levels from the shared chart (FFTValuesDelegate) ----
  void fftValues(const std::vector<float>& levels) override;
  void dbaValue(float value) override;
  void dbcValue(float value) override;
  // The shared chart measures nothing: the dB-A, dB-C and band levels read kNoLevel until it does.
  void levelsUnavailable() override;
  static constexpr const char* kNoLevel = "--";

 private:
  std::shared_ptr<MicProfileSetupViewController> self();
  InputProfileRef inputProfile_;
  NSObserverTokenRef routeObserver_;
};
