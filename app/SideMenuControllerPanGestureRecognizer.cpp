#include "app/SideMenuControllerPanGestureRecognizer.h"

#include <cmath>

#include "platform/uikit/UIView.h"

void SideMenuControllerPanGestureRecognizer::touchesBegan(const UITouchSet& touches, const UIEvent* event) {
  UIPanGestureRecognizer::touchesBegan(touches, event);
  if (!touches.empty()) beginPoint_ = touches.front()->locationInView(view().get());
  dragging_ = false;
}

void SideMenuControllerPanGestureRecognizer::touchesMoved(const UITouchSet& touches, const UIEvent* event) {
  UIPanGestureRecognizer::touchesMoved(touches, event);
  if (dragging_ || state() == UIGestureRecognizerState::Failed || touches.empty()) return;
  CGPoint now = touches.front()->locationInView(view().get());
  if (std::fabs(now.x - beginPoint_.x) > kDragThreshold) {
    dragging_ = true;
  } else if (std::fabs(now.y - beginPoint_.y) > kDragThreshold) {
    setState(UIGestureRecognizerState::Failed);
  }
}
