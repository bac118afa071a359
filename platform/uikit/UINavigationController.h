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

  const std::vector<UIViewControllerRef>& viewControllers() const { return stack_; }
  void setViewControllers(const std::vector<UIViewControllerRef>& controllers, bool animated = false);
  UIViewControllerRef topViewController() const { return stack_.empty() ? nullptr : stack_.back(); }
  // The presented controller of the top one, else the top one.
  UIViewControllerRef visibleViewController() const;

  void pushViewController(const UIViewControllerRef& controller, bool animated);
  // Pops the top controller (never the root); returns it, none when only the root is left.
  UIViewControllerRef popViewControllerAnimated(bool animated);
  std::vector<UIViewControllerRef> popToRootViewControllerAnimated(bool animated);

  bool isNavigationBarHidden() const { return barHidden_; }
  void setNavigationBarHidden(bool hidden, bool animated = false);
  std::shared_ptr<UIView> navigationBar() const { return bar_; }
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
};
