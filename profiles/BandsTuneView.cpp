#include "profiles/BandsTuneView.h"

#include <algorithm>

#include "analysis/SpectrumWrapper.h"
#include "analysis/vlxSpectrum.h"
#include "profiles/ProfilesSupport.h"

BandsTuneView::BandsTuneView(const CGRect& frame) : UIView(frame) {
  vMainGainContainerView_ = std::make_shared<UIView>();
  scrollView_ = std::make_shared<UIScrollView>();
  bandsStackView_ = std::make_shared<UIStackView>();
  bandsStackView_->setAxis(UILayoutConstraintAxis::Horizontal);
}

std::vector<std::shared_ptr<BandSliderView>> BandsTuneView::bandSliders() const {
  std::vector<std::shared_ptr<BandSliderView>> sliders;
  for (const auto& v : bandsStackView_->subviews()) {
    if (auto slider = std::dynamic_pointer_cast<BandSliderView>(v)) sliders.push_back(slider);
  }
  return sliders;
}

void BandsTuneView::setValuesFieldsIsHidden(bool hidden) {
  valuesFieldsIsHidden_ = hidden;
  for (const auto& slider : bandSliders()) slider->setCurrentValueHidden(hidden);
}

void BandsTuneView::setSlidersEnabled(bool enabled) {
  slidersEnabled_ = enabled;
  for (const auto& slider : bandSliders()) slider->setUserInteractionEnabled(enabled);
}

void BandsTuneView::setBands(std::vector<SoundTuneBandModelRef> bands, MainGainTuneModelRef mainGain) {
  freqBands_ = std::move(bands);
  mainGainBand_ = std::move(mainGain);
  reloadSliders();
}

void BandsTuneView::setCurrentValues(const std::vector<int64_t>& values) {
  const auto sliders = bandSliders();
  for (size_t i = 0; i < sliders.size() && i <= 9 && i < values.size(); ++i) sliders[i]->showCurrentValue(values[i]);
}

void BandsTuneView::showNoCurrentValues() {
  const auto sliders = bandSliders();
  for (size_t i = 0; i < sliders.size() && i <= 9; ++i) sliders[i]->showNoCurrentValue();
}

void BandsTuneView::reloadSliders() {
  for (const auto& v : std::vector<UIViewRef>(bandsStackView_->subviews())) {
    bandsStackView_->removeArrangedSubview(v);
    v->removeFromSuperview();
  }
  const size_t n = freqBands_.size();
  const double width = std::max(frame().size.width / double(n + 1), kMinimumBandWidth);
  auto self = std::static_pointer_cast<BandsTuneView>(shared_from_this());
  for (const auto& band : freqBands_) {
    auto slider = std::make_shared<BandSliderView>(CGRectZero, band);
    slider->widthAnchor().constraintEqualToConstant(width)->setActive(true);
    slider->delegate = std::static_pointer_cast<BandSliderViewDelegate>(self);
    bandsStackView_->addArrangedSubview(slider);
    slider->setSliderCorrection(band ? band->fixValue() : 0);
  }
  if (n == 0) return;
  if (!mainGainBand_) mainGainBand_ = std::make_shared<MainGainTuneModel>(0, 0, 0);
  if (mainGainView_) mainGainView_->removeFromSuperview();
  auto gain = std::make_shared<MainBandSliderView>(CGRectZero, mainGainBand_);
  gain->setTranslatesAutoresizingMaskIntoConstraints(false);
  vMainGainContainerView_->addSubview(gain);
  NSLayoutConstraint::activateConstraints({
      gain->topAnchor().constraintEqualToAnchor(vMainGainContainerView_->topAnchor()),
      gain->leadingAnchor().constraintEqualToAnchor(vMainGainContainerView_->leadingAnchor()),
      gain->trailingAnchor().constraintEqualToAnchor(vMainGainContainerView_->trailingAnchor()),
      gain->bottomAnchor().constraintEqualToAnchor(vMainGainContainerView_->bottomAnchor()),
  });
  gain->delegate = std::static_pointer_cast<BandSliderViewDelegate>(self);
  gain->setSliderCorrection(mainGainBand_->fixValue());
  mainGainView_ = gain;
}

void BandsTuneView::applyLiveCalibration() {
  const int64_t gain = mainGainView_ && mainGainView_->tuneBand() ? mainGainView_->tuneBand()->fixValue() : 0;
  Value list = Value::array();
  for (const auto& slider : bandSliders()) {
    const auto& band = slider->tuneBand();
    if (!band) continue;
    list.push_back(Value{{CalibrationKeysRawValue(CalibrationKeys::frequencyKey), band->frequency()},
                         {CalibrationKeysRawValue(CalibrationKeys::levelKey), band->fixValue()},
                         {CalibrationKeysRawValue(CalibrationKeys::phaseKey), int64_t(0)}});
  }
  auto chart = SpectrumWrapper::spectrumObject();
  if (!chart) return;
  chart->setLinearCalibrationValues(list);
  chart->setGlobalCalibrationCoefficient(static_cast<int32_t>(gain));
}

// The column, the scroll view and the stack are set up on the first pass that finds each without a
// superview.
bool BandsTuneView::setUpSubviews() {
  bool added = false;
  if (!vMainGainContainerView_->superview()) {
    vMainGainContainerView_->setTranslatesAutoresizingMaskIntoConstraints(false);
    addSubview(vMainGainContainerView_);
    NSLayoutConstraint::activateConstraints({
        vMainGainContainerView_->topAnchor().constraintEqualToAnchor(topAnchor()),
        vMainGainContainerView_->leadingAnchor().constraintEqualToAnchor(leadingAnchor()),
        vMainGainContainerView_->bottomAnchor().constraintEqualToAnchor(bottomAnchor()),
        vMainGainContainerView_->widthAnchor().constraintEqualToConstant(kMainGainColumnWidth),
    });
    added = true;
  }
  if (!scrollView_->superview()) {
    scrollView_->setBackgroundColor(tarn::namedColor("BackgroundColor_Highlighted"));
    scrollView_->setTranslatesAutoresizingMaskIntoConstraints(false);
    scrollView_->setClipsToBounds(true);
    addSubview(scrollView_);
    NSLayoutConstraint::activateConstraints({
        scrollView_->topAnchor().constraintEqualToAnchor(topAnchor()),
        scrollView_->bottomAnchor().constraintEqualToAnchor(bottomAnchor()),
        scrollView_->leadingAnchor().constraintEqualToAnchor(vMainGainContainerView_->trailingAnchor()),
        scrollView_->trailingAnchor().constraintEqualToAnchor(trailingAnchor()),
    });
    added = true;
  }
  if (!bandsStackView_->superview()) {
    bandsStackView_->setTranslatesAutoresizingMaskIntoConstraints(false);
    scrollView_->addSubview(bandsStackView_);
    stackViewHeight_ = bandsStackView_->heightAnchor().constraintEqualToConstant(10000);
    NSLayoutConstraint::activateConstraints({
        bandsStackView_->topAnchor().constraintEqualToAnchor(scrollView_->topAnchor()),
        bandsStackView_->leadingAnchor().constraintEqualToAnchor(scrollView_->leadingAnchor()),
        bandsStackView_->trailingAnchor().constraintEqualToAnchor(scrollView_->trailingAnchor()),
        bandsStackView_->bottomAnchor().constraintEqualToAnchor(scrollView_->bottomAnchor()),
        stackViewHeight_,
    });
  }
  return added;
}

void BandsTuneView::layoutSubviews() {
  const bool added = setUpSubviews();
  stackViewHeight_->setConstant(frame().size.height);
  if (added) NSLayoutSolveSubviews(*this);
  UIView::layoutSubviews();
  reloadSliders();
}
