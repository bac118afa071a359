#pragma once
// A finger on the screen (the mouse, or a test), and the event that carries it.
#include <memory>
#include <vector>

#include "platform/graphics/CGGeometry.h"

class UIView;
class UIWindow;

class UITouch {
 public:
  UITouch(const std::shared_ptr<UIWindow>& window, CGPoint windowLocation, double timestamp);

  double timestamp() const { return timestamp_; }
  std::shared_ptr<UIView> view() const { return view_.lock(); }
  // The position in a view's coordinates; a null view gives window coordinates.
  CGPoint locationInView(const UIView* view) const;

  // Used by the window when it delivers the touch.
  void update(CGPoint windowLocation, double timestamp);
  void setView(const std::shared_ptr<UIView>& view) { view_ = view; }
  CGPoint windowLocation() const { return location_; }

 private:
  std::weak_ptr<UIWindow> window_;
  std::weak_ptr<UIView> view_;
  CGPoint location_;
  double timestamp_;
};

using UITouchRef = std::shared_ptr<UITouch>;
// A set of touches, in the order the window delivered them.
using UITouchSet = std::vector<UITouchRef>;

// The event a touch is delivered with; the handlers take it, nothing reads from it.
class UIEvent {};
