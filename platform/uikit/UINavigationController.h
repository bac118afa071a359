#pragma once
// A navigation controller: a stack of controllers of which the top one's view is shown, under a
// navigation bar (title, and a back button once the stack is deeper than one) unless the bar is
// hidden. Pushing slides the new view in from the right; popping slides it back out. The
// controllers in the stack are its children; appearance calls reach the top one.
#include <memory>
#include <vector>

#include "platform/uikit/UIButton.h"
#include "platform/uikit/UILabel.h"
#include "platform/uikit/UIViewController.h"

class UINavigationController : public UIViewController {
 public:
  static std::shared_ptr<UINavigationController> initWithRootViewController(const UIViewControllerRef& root);
  UINavigationController() = default;

  void setViewControllers(const std::vector<UIViewControllerRef>& controllers, bool animated = false);
  UIViewControllerRef topViewController() const { return stack_.empty() ? nullptr : stack_.back(); }

  void pushViewController(const UIViewControllerRef& controller, bool animated);
  // Pops the top controller (never the root); returns it, none when only the root is left.
  UIViewControllerRef popViewControllerAnimated(bool animated);
  std::vector<UIViewControllerRef> popToRootViewControllerAnimated(bool animated);

  // The bar's colours: its background, and the tint of its buttons (the title stays white).
  void setBarBackgroundColor(UIColorRef color);
  void setBarTintColor(UIColorRef color);

  bool isNavigationBarHidden() const { return barHidden_; }
  void setNavigationBarHidden(bool hidden, bool animated = false);
  // The bar's button for the top controller's right bar button item (hidden when it has none).
  std::shared_ptr<UIButton> rightBarButton() const { return rightButton_; }
  static constexpr double kNavigationBarHeight = 44;

  void loadView() override;
  void viewDidLoad() override;

 private:
  CGRect contentFrame() const;
  void showTop();
  void updateBar();
  void transition(const UIViewControllerRef& from, const UIViewControllerRef& to, bool push, bool animated);
  std::vector<UIViewControllerRef> stack_;
  bool barHidden_ = false;
  std::shared_ptr<UIView> bar_;
  std::shared_ptr<UILabel> barTitle_;
  std::shared_ptr<UIButton> backButton_;
  std::shared_ptr<UIButton> rightButton_;
  UIColorRef barBackground_, barTint_;
};
