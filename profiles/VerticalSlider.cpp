#include "profiles/VerticalSlider.h"

#include <cmath>

#include "platform/graphics/UIBezierPath.h"
#include "platform/uikit/UIColorNamed.h"
#include "profiles/ProfilesSupport.h"

VerticalSlider::VerticalSlider(const CGRect& frame)
    : UIControl(frame), minColor_(tarn::namedColor("brandRed")), maxColor_(tarn::namedColor("minorTextColor")) {}

void VerticalSlider::setValue(double value) {
  if (!std::isfinite(value)) return;
  if (value > maxValue_) value = maxValue_;
  if (value < minValue_) value = minValue_;
  value_ = value;
  updateThumbRect();
}

double VerticalSlider::thumbOffset() const {
  if (!thumbOffset_) thumbOffset_ = thumbSize_.height * 0.5;
  return *thumbOffset_;
}

std::optional<double> VerticalSlider::yForValue(double v) const {
  const double h = bounds().size.height, off = thumbOffset();
  if (!(maxValue_ != 0) || !std::isfinite(maxValue_) || !std::isfinite(v)) return std::nullopt;
  const double y = h - off - (h - 2 * off) * v / maxValue_;
  return std::isfinite(y) ? std::optional<double>(y) : std::nullopt;
}

std::optional<double> VerticalSlider::valueForY(double y) const {
  const double h = bounds().size.height, off = thumbOffset();
  const double travel = h - 2 * off;
  if (travel == 0 || !std::isfinite(travel) || !std::isfinite(y) || !std::isfinite(maxValue_)) return std::nullopt;
  const double v = (h - off - y) * maxValue_ / travel;
  return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

void VerticalSlider::updateThumbRect() {
  const double w = frame().size.width;
  // Without a mapping the thumb rests at the bottom of its travel.
  const double centre = yForValue(value_).value_or(bounds().size.height - thumbOffset());
  thumbRect_ = CGRectMake(w / 2 - thumbSize_.width / 2, centre - thumbSize_.height / 2, thumbSize_.width, thumbSize_.height);
}

void VerticalSlider::awakeFromNib() { updateThumbRect(); }

void VerticalSlider::layoutSubviews() {
  UIControl::layoutSubviews();
  updateThumbRect();
}

void VerticalSlider::touchStep(const UITouch& touch) {
  const auto v = valueForY(touch.locationInView(this).y);
  if (v && *v != minValue_ && *v != maxValue_) {
    setValue(*v);
    setNeedsDisplay();
  }
  sendActionsForControlEvents(UIControlEventValueChanged);
}

bool VerticalSlider::beginTrackingWithTouch(const UITouch& touch, const UIEvent* event) {
  (void)UIControl::beginTrackingWithTouch(touch, event);
  touchStep(touch);
  return true;
}

bool VerticalSlider::continueTrackingWithTouch(const UITouch& touch, const UIEvent* event) {
  (void)UIControl::continueTrackingWithTouch(touch, event);
  touchStep(touch);
  return true;
}

void VerticalSlider::endTrackingWithTouch(const UITouch* touch, const UIEvent* event) {
  UIControl::endTrackingWithTouch(touch, event);
}

void VerticalSlider::drawRect(const CGRect& rect) {
  if (CGContextRef c = UIGraphicsGetCurrentContext()) {
    CGContextSetFillColorWithColor(c, backgroundColor() ? backgroundColor() : UIColor::whiteColor());
    CGContextFillRect(c, rect);
  }
  const CGRect b = bounds();
  const double x = b.size.width / 2 - trackWidth_ / 2;
  const double t = yForValue(value_).value_or(b.size.height - thumbOffset());
  UIColorSetFill(maxColor_);
  UIBezierPath::bezierPathWithRoundedRect(CGRectMake(x, 0, trackWidth_, t), 6)->fill();
  UIColorSetFill(minColor_);
  UIBezierPath::bezierPathWithRoundedRect(CGRectMake(x, t, trackWidth_, b.size.height - t), 6)->fill();
  // The thumb: an outer plate, a ring and an inner plate; a missing colour keeps the fill before.
  auto fill = [](const char* name) {
    if (auto color = UIColorNamed(name)) UIColorSetFill(color);
  };
  fill("BackgroundColor_Highlighted");
  UIBezierPath::bezierPathWithRoundedRect(thumbRect_, thumbCorner_ + 6)->fill();
  fill("minorTextColor");
  UIBezierPath::bezierPathWithRoundedRect(CGRectInset(thumbRect_, 3, 3), thumbCorner_)->fill();
  fill("BackgroundColor_Highlighted");
  UIBezierPath::bezierPathWithRoundedRect(CGRectInset(thumbRect_, 7, 7), thumbCorner_ + 8)->fill();
}
