#pragma once
// The heart of the tuning screen: one band slider per tuning band of a profile, side by side in a
// horizontal stack that scrolls when it is wider than the view, and the main-gain slider in a
// column of its own at the left. Every slider change is written into the profile's own band
// records and pushed at once, as live calibration, to the shared chart (its band corrections as
// linear calibration values, the main gain as the chart's overall gain).
//
// Each layout pass builds fresh sliders from the same band objects, so corrections survive
// rebuilds; band sliders are max(width / (bands + 1), 47) points wide. The band sliders show the
// measured levels (setCurrentValues, first ten bands) while their level labels are visible.
// Main thread only.
#include <memory>
#include <vector>

#include "platform/uikit/NSLayoutConstraint.h"
#include "platform/uikit/UIScrollView.h"
#include "platform/uikit/UIStackView.h"
#include "profiles/BandSliderView.h"
#include "profiles/InputProfile.h"

class BandsTuneView : public UIView, public BandSliderViewDelegate {
 public:
  static constexpr double kMainGainColumnWidth = 47;
  static constexpr double kMinimumBandWidth = 47;

  explicit BandsTuneView(const CGRect& frame = CGRectZero);

  BandsCount bandsCount() const { return bandsCount_; }
  void setBandsCount(BandsCount count) { bandsCount_ = count; }
  bool valuesFieldsIsHidden() const { return valuesFieldsIsHidden_; }
  // Shows or hides the level labels of the band sliders there now (not the main gain's).
  void setValuesFieldsIsHidden(bool hidden);
  bool slidersEnabled() const { return slidersEnabled_; }
  // Lets the band sliders there now take touches, or not (not the main gain's).
  void setSlidersEnabled(bool enabled);

  // Stores the bands (the profile's own objects) and the main gain, and builds the sliders.
  void setBands(std::vector<SoundTuneBandModelRef> bands, MainGainTuneModelRef mainGain);
  const std::vector<SoundTuneBandModelRef>& freqBands() const { return freqBands_; }
  const MainGainTuneModelRef& mainGainBand() const { return mainGainBand_; }

  // Levels for the first ten band sliders, in order.
  void setCurrentValues(const std::vector<int64_t>& values);
  // The level labels setCurrentValues fills read "--" (nothing measured).
  void showNoCurrentValues();
  // Builds the sliders anew from the bands (see the file comment).
  void reloadSliders();
  // Hands the sliders' corrections and gain to the shared chart.
  void applyLiveCalibration();

  void bandSliderValueChanged(BandSliderView& sender, int64_t correction) override { applyLiveCalibration(); }

  const std::shared_ptr<UIView>& vMainGainContainerView() const { return vMainGainContainerView_; }
  const std::shared_ptr<MainBandSliderView>& mainGainView() const { return mainGainView_; }
  const std::shared_ptr<UIScrollView>& scrollView() const { return scrollView_; }
  const std::shared_ptr<UIStackView>& bandsStackView() const { return bandsStackView_; }
  const NSLayoutConstraintRef& stackViewHeight() const { return stackViewHeight_; }
  // The band sliders in the stack, in order.
  std::vector<std::shared_ptr<BandSliderView>> bandSliders() const;

  void layoutSubviews() override;

 private:
  bool setUpSubviews();
  BandsCount bandsCount_ = BandsCount::ten;
  bool valuesFieldsIsHidden_ = true;
  std::vector<SoundTuneBandModelRef> freqBands_;
  MainGainTuneModelRef mainGainBand_;
  std::shared_ptr<UIView> vMainGainContainerView_;
  std::shared_ptr<MainBandSliderView> mainGainView_;
  std::shared_ptr<UIScrollView> scrollView_;
  std::shared_ptr<UIStackView> bandsStackView_;
  NSLayoutConstraintRef stackViewHeight_;
  bool slidersEnabled_ = true;
};
