#pragma once
#include <functional>
#include <memory>
#include <string>

#include "platform/uikit/UIViewController.h"
#include "platform/uikit/UIViewControllerTransitioning.h"

class SideMenuController;

// The context of one animated replacement.
class SideMenuTransitionContext : public UIViewControllerContextTransitioning {
 public:
  SideMenuTransitionContext(const std::shared_ptr<SideMenuController>& controller, UIViewRef container,
                            UIViewControllerRef to, UIViewControllerRef from, std::function<void()> completion);
  UIViewRef containerView() const override { return container_; }
  bool isAnimated() const override { return true; }
  bool isInteractive() const override { return false; }
  bool transitionWasCancelled() const override { return false; }
  int presentationStyle() const override { return UIModalPresentationNone; }
  void updateInteractiveTransition(double) override {}
  void finishInteractiveTransition() override {}
  void cancelInteractiveTransition() override {}
  void completeTransition(bool didComplete) override;
  UIViewControllerRef viewControllerForKey(const std::string& key) const override;
  UIViewRef viewForKey(const std::string&) const override { return nullptr; }
  CGAffineTransform targetTransform() const override { return CGAffineTransformIdentity; }
  CGRect initialFrameForViewController(const UIViewControllerRef&) const override;
  CGRect finalFrameForViewController(const UIViewControllerRef&) const override;

 private:
  std::weak_ptr<SideMenuController> controller_;
  UIViewRef container_;
  UIViewControllerRef to_, from_;
  std::function<void()> completion_;
};

// The default animation of a replacement: a cross-dissolve from the old view to the new one, or
// the new one fading in when there is no old one.
class SideMenuAnimationController : public UIViewControllerAnimatedTransitioning {
 public:
  explicit SideMenuAnimationController(double duration) : duration_(duration) {}
  double transitionDuration(const UIViewControllerContextTransitioningRef&) const override { return duration_; }
  void animateTransition(const UIViewControllerContextTransitioningRef& context) override;

 private:
  double duration_;
};
