#pragma once
// A tap: a discrete gesture recognised when the touch is lifted within kAllowableMovement points
// of where it went down; moving farther fails it.
#include "platform/uikit/UIGestureRecognizer.h"

class UITapGestureRecognizer : public UIGestureRecognizer {
 public:
  static constexpr double kAllowableMovement = 10;  // points

  void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
  void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
  void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;

 private:
  bool movedTooFar() const;
  CGPoint downWindow_{};
};
