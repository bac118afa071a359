#pragma once
// The side-menu container's pan: a pan recogniser that lets only sideways drags through. A touch
// that moves more than kDragThreshold points vertically before it has moved that far sideways
// fails it, so that a mostly vertical movement (scrolling what lies under the finger) never
// becomes a reveal drag. Main thread only.
#include "platform/uikit/UIPanGestureRecognizer.h"

class SideMenuControllerPanGestureRecognizer : public UIPanGestureRecognizer {
 public:
  static constexpr double kDragThreshold = 5;  // points

  bool isDragging() const { return dragging_; }
  void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
  void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;

 private:
  CGPoint beginPoint_{0, 0};
  bool dragging_ = false;
};
