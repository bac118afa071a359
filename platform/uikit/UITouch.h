#pragma once
// A finger on the screen (the mouse, or a test), and the event that carries it.
#include <memory>
#include <vector>

#include "platform/graphics/CGGeometry.h"

class UIView;
class UIWindow;

enum class UITouchPhase { Began, Moved, Stationary, Ended, Cancelled };

class UITouch {
 public:
  UITouch(const std::shared_ptr<UIWindow>& window, CGPoint windowLocation, double timestamp);

  UITouchPhase phase() const { return phase_; }
  double timestamp() const { return timestamp_; }
  int tapCount() const { return tapCount_; }
  std::shared_ptr<UIView> view() const { return view_.lock(); }
  std::shared_ptr<UIWindow> window() const { return window_.lock(); }
  // The position in a view's coordinates; a null view gives window coordinates.
  CGPoint locationInView(const UIView* view) const;
  CGPoint previousLocationInView(const UIView* view) const;

  // Used by the window when it delivers the touch.
  void update(UITouchPhase phase, CGPoint windowLocation, double timestamp);
  void setView(const std::shared_ptr<UIView>& view) { view_ = view; }
  CGPoint windowLocation() const { return location_; }

 private:
  std::weak_ptr<UIWindow> window_;
  std::weak_ptr<UIView> view_;
  CGPoint location_;
  CGPoint previous_;
  double timestamp_;
  UITouchPhase phase_ = UITouchPhase::Began;
  int tapCount_ = 1;
};

using UITouchRef = std::shared_ptr<UITouch>;
// A set of touches, in the order the window delivered them.
using UITouchSet = std::vector<UITouchRef>;

class UIEvent {
 public:
  explicit UIEvent(double timestamp, UITouchSet touches = {}) : timestamp_(timestamp), touches_(std::move(touches)) {}
  double timestamp() const { return timestamp_; }
  const UITouchSet& allTouches() const { return touches_; }

 private:
  double timestamp_;
  UITouchSet touches_;
};
