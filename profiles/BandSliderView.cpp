#include "profiles/BandSliderView.h"

#include <algorithm>
#include <cmath>

#include "profiles/ProfilesSupport.h"

BandSliderView::BandSliderView(const CGRect& frame, SoundTuneBandModelRef band) : UIView(frame), tuneBand_(std::move(band)) {
  setBackgroundColor(tarn::namedColor("BackgroundColor_Highlighted"));
  lblTitle_ = std::make_shared<UILabel>();
  lblCurrentValue_ = std::make_shared<UILabel>();
  lblFixValue_ = std::make_shared<UILabel>();
  slider_ = std::make_shared<VerticalSlider>();
}

MainBandSliderView::MainBandSliderView(const CGRect& frame, SoundTuneBandModelRef band)
    : BandSliderView(frame, std::move(band)) {
  setBackgroundColor(tarn::namedColor("DarkBackgroundColor"));
}

double BandSliderView::sliderValueForCorrection(int64_t correction) { return (double(correction) + 30) / 60; }

int64_t BandSliderView::correctionForSliderValue(double value) {
  if (!std::isfinite(value)) return 0;
  // The product is rounded to 12 places before it is truncated, so that a value made from a whole
  // correction gives that correction back (0.4 × 60 is 23.999999999999996 in binary).
  const double c = std::round((value * 60 - 30) * 1e12) / 1e12;
  return static_cast<int64_t>(std::trunc(std::clamp(c, -1e9, 1e9)));
}

void BandSliderView::setTuneBand(SoundTuneBandModelRef band) {
  tuneBand_ = std::move(band);
  if (tuneBand_) applySliderValue();
}

std::string BandSliderView::bandTitle() const {
  if (!tuneBand_) return "";
  const int64_t f = tuneBand_->frequency();
  if (f <= 999) return std::to_string(f);
  if (f % 1000 == 0) return std::to_string(f / 1000) + "k";
  return std::to_string(f / 1000) + "," + std::to_string((f % 1000) / 100) + "k";
}

void BandSliderView::showCurrentValue(int64_t value) {
  if (lblCurrentValue_->isHidden()) return;
  lblCurrentValue_->setText(std::to_string(value));
}

void BandSliderView::showNoCurrentValue() { lblCurrentValue_->setText("--"); }

void BandSliderView::setCurrentValueHidden(bool hidden) { lblCurrentValue_->setHidden(hidden); }

void BandSliderView::setSliderCorrection(int64_t correction) {
  slider_->setValue(sliderValueForCorrection(correction));
  slider_->setNeedsDisplay();
}

void BandSliderView::applySliderValue() {
  if (!tuneBand_) return;
  const int64_t c = correctionForSliderValue(slider_->value());
  std::string text = std::to_string(c);
  if (c > 0) text.insert(text.begin(), '+');
  lblFixValue_->setText(text);
  tuneBand_->setFixValue(c);
  if (auto d = delegate.lock()) d->bandSliderValueChanged(*this, c);
}

void BandSliderView::sliderValueChanged(const std::shared_ptr<VerticalSlider>&) { applySliderValue(); }

// The four subviews are set up on the first layout pass that finds each without a superview.
bool BandSliderView::setUpSubviews() {
  const size_t before = subviews().size();
  UIViewRef self = shared_from_this();
  auto pin = [&](const UIViewRef& v) {
    v->setTranslatesAutoresizingMaskIntoConstraints(false);
    addSubview(v);
  };
  if (!lblCurrentValue_->superview()) {
    lblCurrentValue_->setBackgroundColor(tarn::namedColor("DarkBlackColor"));
    lblCurrentValue_->setTextColor(tarn::namedColor("gaugesLightGray"));
    lblCurrentValue_->setTextAlignment(NSTextAlignment::Center);
    lblCurrentValue_->setFont(UIFont::fontWithName("Avenir-Medium", 11));
    lblCurrentValue_->layer()->setCornerRadius(4);
    lblCurrentValue_->setClipsToBounds(true);
    lblCurrentValue_->setHidden(true);
    lblCurrentValue_->setText("--");  // no level until one is measured
    pin(lblCurrentValue_);
    NSLayoutConstraint::activateConstraints({
        lblCurrentValue_->topAnchor().constraintEqualToAnchor(topAnchor(), 12),
        lblCurrentValue_->centerXAnchor().constraintEqualToAnchor(centerXAnchor()),
        lblCurrentValue_->widthAnchor().constraintGreaterThanOrEqualToConstant(28),
    });
  }
  if (!lblFixValue_->superview()) {
    lblFixValue_->setBackgroundColor(UIColor::clearColor());
    lblFixValue_->setTextColor(tarn::namedColor("gaugesLightGray"));
    lblFixValue_->setFont(UIFont::fontWithName("Avenir-Heavy", 13));
    lblFixValue_->setText("");
    pin(lblFixValue_);
    NSLayoutConstraint::activateConstraints({
        lblFixValue_->topAnchor().constraintEqualToAnchor(topAnchor(), 44),
        lblFixValue_->centerXAnchor().constraintEqualToAnchor(centerXAnchor()),
    });
  }
  if (!lblTitle_->superview()) {
    lblTitle_->setBackgroundColor(UIColor::clearColor());
    lblTitle_->setTextColor(tarn::namedColor("minorTextColor"));
    lblTitle_->setFont(UIFont::fontWithName("Avenir-Medium", 12));
    lblTitle_->setText(bandTitle());
    pin(lblTitle_);
    NSLayoutConstraint::activateConstraints({
        lblTitle_->bottomAnchor().constraintEqualToAnchor(bottomAnchor(), -34),
        lblTitle_->centerXAnchor().constraintEqualToAnchor(centerXAnchor()),
    });
  }
  if (!slider_->superview()) {
    slider_->setBackgroundColor(backgroundColor());
    slider_->addTarget(std::static_pointer_cast<BandSliderView>(self), &BandSliderView::sliderValueChanged,
                       UIControlEventValueChanged);
    pin(slider_);
    NSLayoutConstraint::activateConstraints({
        slider_->topAnchor().constraintEqualToAnchor(lblFixValue_->bottomAnchor(), 6),
        slider_->leadingAnchor().constraintEqualToAnchor(leadingAnchor()),
        slider_->trailingAnchor().constraintEqualToAnchor(trailingAnchor()),
        slider_->bottomAnchor().constraintEqualToAnchor(lblTitle_->topAnchor(), -6),
    });
    applySliderValue();
  }
  return subviews().size() != before;
}

void BandSliderView::layoutSubviews() {
  // Views added in this pass are placed in it too (the constraints were solved before it).
  if (setUpSubviews()) NSLayoutSolveSubviews(*this);
  UIView::layoutSubviews();
}
