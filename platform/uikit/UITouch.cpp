#include "platform/uikit/UITouch.h"

#include "platform/uikit/UIWindow.h"

UITouch::UITouch(const std::shared_ptr<UIWindow>& window, CGPoint windowLocation, double timestamp)
    : window_(window), location_(windowLocation), timestamp_(timestamp) {}

void UITouch::update(CGPoint windowLocation, double timestamp) {
  location_ = windowLocation;
  timestamp_ = timestamp;
}

namespace {
CGPoint fromWindow(const std::shared_ptr<UIWindow>& window, CGPoint p, const UIView* view) {
  // Window coordinates are the window's own (bounds) coordinates.
  if (!window || !view || view == window.get()) return p;
  return view->convertPointFromView(p, window.get());
}
}  // namespace

CGPoint UITouch::locationInView(const UIView* view) const { return fromWindow(window_.lock(), location_, view); }
