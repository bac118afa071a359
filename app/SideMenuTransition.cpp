// The replacement animation of the side-menu container's children.
#include "app/SideMenuTransition.h"

#include "app/SideMenuController.h"
#include "app/SideMenuView.h"
#include "platform/uikit/UIViewAnimationState.h"

SideMenuTransitionContext::SideMenuTransitionContext(const std::shared_ptr<SideMenuController>& controller,
                                                     UIViewRef container, UIViewControllerRef to,
                                                     UIViewControllerRef from, std::function<void()> completion)
    : controller_(controller),
      container_(std::move(container)),
      to_(std::move(to)),
      from_(std::move(from)),
      completion_(std::move(completion)) {}

void SideMenuTransitionContext::completeTransition(bool) {
  // Called once by the animation; a second call finds nothing to do.
  auto completion = std::move(completion_);
  completion_ = nullptr;
  if (completion) completion();
}

UIViewControllerRef SideMenuTransitionContext::viewControllerForKey(const std::string& key) const {
  if (key == UITransitionContextFromViewControllerKey) return from_;
  if (key == UITransitionContextToViewControllerKey) return to_;
  return nullptr;
}

CGRect SideMenuTransitionContext::initialFrameForViewController(const UIViewControllerRef&) const {
  return container_ ? container_->bounds() : CGRectZero;
}
CGRect SideMenuTransitionContext::finalFrameForViewController(const UIViewControllerRef&) const {
  return container_ ? container_->bounds() : CGRectZero;
}

void SideMenuAnimationController::animateTransition(const UIViewControllerContextTransitioningRef& context) {
  auto from = context->viewControllerForKey(UITransitionContextFromViewControllerKey);
  auto to = context->viewControllerForKey(UITransitionContextToViewControllerKey);
  const double duration = SideMenuController::safeDuration(transitionDuration(context));
  if (from && from->isViewLoaded() && to) {
    UIView::transitionFromView(from->view(), to->view(), duration,
                               UIViewAnimationOptionOverrideInheritedOptions | UIViewAnimationOptionTransitionCrossDissolve,
                               [context](bool finished) { context->completeTransition(finished); });
    return;
  }
  if (!to) {
    UIView::animateWithDuration(0, [] {}, [context](bool finished) { context->completeTransition(finished); });
    return;
  }
  UIViewRef toView = to->view();
  const double alpha = toView->alpha();
  UIView::performWithoutAnimation([&] { toView->setAlpha(0); });
  UIView::animateWithDuration(duration, 0, UIViewAnimationOptionCurveEaseOut, [&] { toView->setAlpha(alpha); },
                              [context](bool finished) { context->completeTransition(finished); });
}
