#include "platform/uikit/UITapGestureRecognizer.h"

#include <cmath>

void UITapGestureRecognizer::touchesBegan(const UITouchSet& touches, const UIEvent* event) {
  UIGestureRecognizer::touchesBegan(touches, event);
  if (const auto& touch = currentTouch()) downWindow_ = touch->windowLocation();
}

bool UITapGestureRecognizer::movedTooFar() const {
  const auto& touch = currentTouch();
  if (!touch) return true;
  CGPoint p = touch->windowLocation();
  return std::hypot(p.x - downWindow_.x, p.y - downWindow_.y) > kAllowableMovement;
}

void UITapGestureRecognizer::touchesMoved(const UITouchSet& touches, const UIEvent* event) {
  UIGestureRecognizer::touchesMoved(touches, event);
  if (state() == UIGestureRecognizerState::Possible && movedTooFar()) setState(UIGestureRecognizerState::Failed);
}

void UITapGestureRecognizer::touchesEnded(const UITouchSet& touches, const UIEvent* event) {
  UIGestureRecognizer::touchesEnded(touches, event);
  if (state() != UIGestureRecognizerState::Possible) return;
  setState(movedTooFar() ? UIGestureRecognizerState::Failed : UIGestureRecognizerState::Ended);
}
