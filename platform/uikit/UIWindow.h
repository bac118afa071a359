#pragma once
// The window: the root of a view tree. It turns pointer input (the mouse, or a test) into touches
// and delivers them to the view the touch began in.
#include <memory>

#include "platform/uikit/UIGestureRecognizer.h"
#include "platform/uikit/UIView.h"

class UIViewController;

class UIWindow : public UIView {
 public:
  UIWindow();
  explicit UIWindow(const CGRect& frame);

  // Shows the window and makes it the key window; the root view controller's view appears.
  void makeKeyAndVisible();
  // The controller whose view fills the window (it follows the window's size). Setting another
  // one replaces the view; while the window is visible the old one disappears and the new one
  // appears.
  std::shared_ptr<UIViewController> rootViewController() const { return rootViewController_; }
  void setRootViewController(const std::shared_ptr<UIViewController>& controller);
  static std::shared_ptr<UIWindow> keyWindow();
  bool isKeyWindow() const;

  // Pointer input in window coordinates. A press hit-tests and starts a touch on the view found;
  // moves and the release go to that same view (its gesture recognisers and those of its
  // ancestors see each first). Input without a press in progress is ignored.
  void touchDown(CGPoint location, double timestamp = 0);
  void touchMove(CGPoint location, double timestamp = 0);
  void touchUp(CGPoint location, double timestamp = 0);
  void touchCancel(double timestamp = 0);
  UITouchRef activeTouch() const { return touch_; }

  // Runs the layout pass over the whole tree.
  void layoutPass() { layoutIfNeeded(); }

  // The edges the screen's hardware covers (a notch, a home indicator). A desktop window has none;
  // tests give a window the insets of a notched phone.
  UIEdgeInsets safeAreaInsets() const { return safeAreaInsets_; }
  void setSafeAreaInsets(const UIEdgeInsets& insets) { safeAreaInsets_ = insets; }

 private:
  void installRootView();
  UITouchRef touch_;
  UIGestureTouchDelivery gestures_;
  std::shared_ptr<UIViewController> rootViewController_;
  bool visible_ = false;
  UIEdgeInsets safeAreaInsets_{};
};
