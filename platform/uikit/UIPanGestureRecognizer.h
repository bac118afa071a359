#pragma once
// A pan (drag): a continuous gesture that begins once the touch has moved more than
// kHysteresis points from where it went down, changes with every move and ends when the touch
// is lifted. Translation is measured from the point the touch went down (so a view dragged by
// it follows the finger exactly); velocity from the touches' own timestamps over the last
// kVelocityWindow seconds, so a touch held still before it is lifted ends with no velocity.
#include <deque>

#include "platform/uikit/UIGestureRecognizer.h"

class UIPanGestureRecognizer : public UIGestureRecognizer {
 public:
  static constexpr double kHysteresis = 10;        // points
  static constexpr double kVelocityWindow = 0.1;   // seconds

  // translationInView: — how far the touch moved since it went down, in a view's coordinates
  // (the window's for none); setTranslation moves the reference so that the translation now
  // reads `translation`.
  CGPoint translationInView(const UIView* view) const;
  void setTranslation(CGPoint translation, const UIView* view);
  // velocityInView: — points per second in a view's coordinates.
  CGPoint velocityInView(const UIView* view) const;

  void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
  void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
  void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;
  void reset() override;

 private:
  void sample();
  struct Sample {
    CGPoint window;
    double time;
  };
  CGPoint startWindow_{};  // the reference point of the translation, window coordinates
  std::deque<Sample> samples_;
};
