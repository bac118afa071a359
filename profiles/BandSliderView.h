#pragma once
// One band of the tuning view: a vertical slider for the band's correction between −30 and +30 dB
// in whole decibels, the correction as a signed number above it, the band's name under it and, at
// the top, the level measured in the band (hidden until asked for). Each change of the slider is
// written into the band record at once (the profile's own object) and reported to the delegate.
//
// Slider scale: value s = (c + 30) / 60 for a correction c; c = s × 60 − 30 truncated toward zero.
// MainBandSliderView is the same for a profile's main gain, titled "GAIN". Main thread only.
#include <memory>
#include <string>

#include "platform/uikit/UILabel.h"
#include "profiles/SoundTuneBandModel.h"
#include "profiles/VerticalSlider.h"

class BandSliderView;

class BandSliderViewDelegate {
 public:
  virtual ~BandSliderViewDelegate() = default;
  // bandSliderValueChanged: — a correction was applied.
  virtual void bandSliderValueChanged(BandSliderView& sender, int64_t correction) = 0;
};

class BandSliderView : public UIView {
 public:
  // A slider holding the band from the start (nothing is applied to it until the first layout).
  explicit BandSliderView(const CGRect& frame = CGRectZero, SoundTuneBandModelRef band = nullptr);

  std::weak_ptr<BandSliderViewDelegate> delegate;
  const std::shared_ptr<UILabel>& lblTitle() const { return lblTitle_; }
  const std::shared_ptr<UILabel>& lblCurrentValue() const { return lblCurrentValue_; }
  const std::shared_ptr<UILabel>& lblFixValue() const { return lblFixValue_; }
  const std::shared_ptr<VerticalSlider>& slider() const { return slider_; }
  const SoundTuneBandModelRef& tuneBand() const { return tuneBand_; }
  // Assigning a band later applies the slider's value to it (see applySliderValue).
  void setTuneBand(SoundTuneBandModelRef band);
  double bandHeight = 30;

  // The band's name: the frequency in Hz below 1000, else thousands with "k" ("1k", "16k"), with a
  // comma and the hundreds where there are any ("1,5k"); empty without a band.
  virtual std::string bandTitle() const;
  // Shows a measured level while the level label is visible.
  void showCurrentValue(int64_t value);
  // The level label reads "--": nothing is measured.
  void showNoCurrentValue();
  void setCurrentValueHidden(bool hidden);
  // Puts the slider at a correction's place; the band is not touched.
  void setSliderCorrection(int64_t correction);
  // The slider's correction into the label, the band and the delegate.
  void applySliderValue();
  void sliderValueChanged(const std::shared_ptr<VerticalSlider>& sender);

  // The slider scale.
  static double sliderValueForCorrection(int64_t correction);
  static int64_t correctionForSliderValue(double value);

  void layoutSubviews() override;

 private:
  bool setUpSubviews();  // true when it added a subview
  std::shared_ptr<UILabel> lblTitle_, lblCurrentValue_, lblFixValue_;
  std::shared_ptr<VerticalSlider> slider_;
  SoundTuneBandModelRef tuneBand_;
};

class MainBandSliderView : public BandSliderView {
 public:
  explicit MainBandSliderView(const CGRect& frame = CGRectZero, SoundTuneBandModelRef band = nullptr);
  std::string bandTitle() const override { return "GAIN"; }
};
