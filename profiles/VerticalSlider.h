#pragma once
// A self-drawn vertical slider: a two-coloured track (minColor below the thumb, maxColor above)
// and a layered rounded thumb. A touch's height sets the value and every touch-down and move sends
// the value-changed event.
//
// Position mapping, with H the bounds height and off the thumb offset (half the thumb height, fixed
// the first time it is read): the thumb centre travels from off (top, value maxValue) to H − off
// (bottom, value 0), proportionally to maxValue (minValue does not enter the mapping):
//   y(v) = H − off − (H − 2·off) · v / maxValue,   v(y) = (H − off − y) · maxValue / (H − 2·off).
// A touch whose value comes out exactly at minValue or maxValue changes nothing; one beyond either
// end pins the value there. Where the mapping has no answer (no room to move, H − 2·off = 0; a
// maxValue of 0; a non-finite number) the value stays as it is.
//
// The named colours "brandRed" and "minorTextColor" must exist (a missing one raises at
// construction); the thumb also uses "BackgroundColor_Highlighted". Main thread only.
#include <optional>

#include "platform/uikit/UIControl.h"

class VerticalSlider : public UIControl {
 public:
  explicit VerticalSlider(const CGRect& frame = CGRectZero);

  double minValue() const { return minValue_; }
  void setMinValue(double v) { minValue_ = v; }
  UIColorRef minColor() const { return minColor_; }
  void setMinColor(UIColorRef c) { minColor_ = std::move(c); }
  double maxValue() const { return maxValue_; }
  void setMaxValue(double v) { maxValue_ = v; }
  UIColorRef maxColor() const { return maxColor_; }
  void setMaxColor(UIColorRef c) { maxColor_ = std::move(c); }
  double thumbCorner() const { return thumbCorner_; }
  void setThumbCorner(double c) { thumbCorner_ = c; }
  CGSize thumbSize() const { return thumbSize_; }
  void setThumbSize(CGSize s) { thumbSize_ = s; }
  double trackWidth() const { return trackWidth_; }
  void setTrackWidth(double w) { trackWidth_ = w; }
  double value() const { return value_; }
  // Clamps to maxValue, then to minValue; moves the thumb (no redraw is asked for). A non-finite
  // value is ignored.
  void setValue(double value);
  double thumbOffset() const;
  CGRect thumbRect() const { return thumbRect_; }

  // The mapping above; none where it has no answer.
  std::optional<double> yForValue(double value) const;
  std::optional<double> valueForY(double y) const;
  void updateThumbRect();

  void awakeFromNib();
  void layoutSubviews() override;
  void drawRect(const CGRect& rect) override;
  bool beginTrackingWithTouch(const UITouch& touch, const UIEvent* event) override;
  bool continueTrackingWithTouch(const UITouch& touch, const UIEvent* event) override;
  void endTrackingWithTouch(const UITouch* touch, const UIEvent* event) override;

 private:
  void touchStep(const UITouch& touch);
  double minValue_ = 0;
  UIColorRef minColor_;
  double maxValue_ = 1.0;
  UIColorRef maxColor_;
  double thumbCorner_ = 10.0;
  CGSize thumbSize_{32, 32};
  double trackWidth_ = 5.0;
  double value_ = 0.5;
  mutable std::optional<double> thumbOffset_;
  CGRect thumbRect_{};
};
