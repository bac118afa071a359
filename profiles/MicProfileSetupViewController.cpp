#include "profiles/MicProfileSetupViewController.h"

#include <cmath>

#include "analysis/SpectrumWrapper.h"
#include "analysis/vlxSpectrum.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NSException.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UINavigationController.h"
#include "profiles/DeviceInputsService.h"
#include "profiles/InputProfilesService.h"
#include "profiles/ProfilesSupport.h"
#include "profiles/ScreenType.h"

std::shared_ptr<MicProfileSetupViewController> MicProfileSetupViewController::self() {
  return std::static_pointer_cast<MicProfileSetupViewController>(shared_from_this());
}

void MicProfileSetupViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  bandsView->setBandsCount(BandsCount::ten);
  (void)DeviceInputsService::sharedService();
  std::weak_ptr<MicProfileSetupViewController> weak = self();
  DispatchQueue::main()->after(0.1, [weak] {
    if (auto screen = weak.lock()) screen->setUpFromProfile();
  });
  if (UIDeviceTarn::screenType() < ScreenType::iPhones_6_6s_7_8) {
    if (lcTopConstraint) lcTopConstraint->setConstant(8);
    if (lcButtonTopConstraint) lcButtonTopConstraint->setConstant(16);
    if (lcBottomConstraint) lcBottomConstraint->setConstant(16);
  }
  // Route changes are handled on the main thread whatever thread the session posts from.
  routeObserver_ = NSNotificationCenter::defaultCenter().addObserverForName(
      AVAudioSessionRouteChangeNotification, nullptr, DispatchQueue::main(), [weak](const NSNotification& n) {
        if (auto screen = weak.lock()) screen->audioRouteDidChange(n);
      });
}

void MicProfileSetupViewController::setUpFromProfile() {
  if (!inputProfile_) {
    NSException::raise(NSInternalInconsistencyException, "the tuning screen was shown without a profile");
  }
  const double rate = AVAudioSession::sharedInstance().sampleRate();
  lblSampleRate->setText(std::to_string(std::isfinite(rate) ? static_cast<int64_t>(std::trunc(rate)) : 0));
  lblCurrentInput->setText(inputProfile_->displayName());
  bandsView->setBandsCount(inputProfile_->bandsCount());
  bandsView->setBands(inputProfile_->tuneBands(), inputProfile_->mainGain());
  bandsView->setSlidersEnabled(inputProfile_->editable());
  InputProfilesService::sharedService().enableProfile(inputProfile_, ProfileEnableSource::profileSetup);
}

void MicProfileSetupViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  if (auto nav = navigationController()) nav->setNavigationBarHidden(false, true);
}

void MicProfileSetupViewController::readSignalAction(const std::shared_ptr<UIButton>& sender) {
  if (!sender) return;
  sender->setSelected(!sender->isSelected());
  const bool on = sender->isSelected();
  bandsView->setValuesFieldsIsHidden(!on);
  lblDba->setHidden(!on);
  // The levels shown when it last listened are not of now: none shows until the chart's next frame.
  if (on) levelsUnavailable();
  if (auto chart = SpectrumWrapper::spectrumObject()) {
    chart->setFftDelegate(on ? std::static_pointer_cast<FFTValuesDelegate>(self()) : nullptr);
  }
}

void MicProfileSetupViewController::dbaValue(float value) {
  if (!lblDba || lblDba->isHidden()) return;
  std::weak_ptr<MicProfileSetupViewController> weak = self();
  const int whole = tarn::wholeDecibels(value);
  DispatchQueue::main()->async([weak, whole] {
    if (auto screen = weak.lock()) screen->lblDba->setText(std::to_string(whole));
  });
}

void MicProfileSetupViewController::dbcValue(float value) {
  if (!lblDba || lblDba->isHidden()) return;
  std::weak_ptr<MicProfileSetupViewController> weak = self();
  const int whole = tarn::wholeDecibels(value);
  DispatchQueue::main()->async([weak, whole] {
    if (auto screen = weak.lock()) screen->lblDbc->setText(std::to_string(whole));
  });
}

void MicProfileSetupViewController::fftValues(const std::vector<float>& levels) {
  std::vector<int64_t> whole;
  whole.reserve(levels.size());
  for (float level : levels) whole.push_back(tarn::wholeDecibels(level));
  std::weak_ptr<MicProfileSetupViewController> weak = self();
  DispatchQueue::main()->async([weak, whole] {
    if (auto screen = weak.lock()) screen->bandsView->setCurrentValues(whole);
  });
}

void MicProfileSetupViewController::levelsUnavailable() {
  // Through the main queue, as the levels are: a level already on its way is not shown after this.
  std::weak_ptr<MicProfileSetupViewController> weak = self();
  DispatchQueue::main()->async([weak] {
    auto screen = weak.lock();
    if (!screen) return;
    screen->lblDba->setText(kNoLevel);
    screen->lblDbc->setText(kNoLevel);
    screen->bandsView->showNoCurrentValues();
  });
}

void MicProfileSetupViewController::saveProfile() {
  if (!inputProfile_ || !inputProfile_->editable()) return;
  inputProfile_->setBandsCount(bandsView->bandsCount());
  inputProfile_->setTuneBands(bandsView->freqBands());
  inputProfile_->setMainGain(bandsView->mainGainBand());
  tarn::recordUsageEvent("profiles_table_save_profile");
  auto& service = InputProfilesService::sharedService();
  service.saveProfile(inputProfile_);
  service.enableProfile(inputProfile_, ProfileEnableSource::profileSetupSave);
  auto alert = UIAlertController::alertControllerWithTitle(tarn::localised("popup.profile_saved"), std::nullopt,
                                                           UIAlertControllerStyle::Alert);
  alert->addAction(UIAlertAction::actionWithTitle(tarn::localised("popup.ok"), UIAlertActionStyle::Default));
  alert->view()->setTintColor(tarn::namedColor("brandRed"));
  presentViewController(alert, true);
}

void MicProfileSetupViewController::removeProfile() {
  InputProfilesService::sharedService().removeProfile(inputProfile_);
  if (auto nav = navigationController()) nav->popViewControllerAnimated(true);
}

void MicProfileSetupViewController::audioRouteDidChange(const NSNotification& notification) {
  int64_t reason = -1;
  if (notification.userInfo.is_object()) {
    auto it = notification.userInfo.find(AVAudioSessionRouteChangeReasonKey);
    if (it != notification.userInfo.end() && it->is_number_integer()) reason = it->get<int64_t>();
  }
  if (reason != AVAudioSessionRouteChangeReasonNewDeviceAvailable &&
      reason != AVAudioSessionRouteChangeReasonOldDeviceUnavailable &&
      reason != AVAudioSessionRouteChangeReasonCategoryChange) {
    return;
  }
  auto nav = navigationController();
  // Only while it is the screen shown: a screen already left has nothing to leave.
  if (nav && nav->topViewController().get() == this) nav->popViewControllerAnimated(true);
}
