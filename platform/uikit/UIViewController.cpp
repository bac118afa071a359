#include "platform/uikit/UIViewController.h"

#include <algorithm>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSLog.h"
#include "platform/foundation/NSRunLoop.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIWindow.h"

UIViewController::UIViewController() = default;

UIViewController::~UIViewController() = default;

UIViewRef UIViewController::view() {
  if (!view_) {
    if (inViewDidLoad_) NSException::raise(NSInternalInconsistencyException, "the view is being loaded");
    auto keep = shared_from_this();
    loadView();
    if (!view_) setView(std::make_shared<UIView>(UIScreen::mainScreen().bounds()));
    inViewDidLoad_ = true;
    try {
      viewDidLoad();
    } catch (...) {
      inViewDidLoad_ = false;
      throw;
    }
    inViewDidLoad_ = false;
  }
  return view_;
}

void UIViewController::setView(UIViewRef view) {
  if (view_ && view_ != view) view_->setViewController(nullptr);
  view_ = std::move(view);
  if (view_) view_->setViewController(shared_from_this());
}

void UIViewController::loadView() {
  if (storyboard_ && storyboard_->loadViewForController(*this)) return;
  setView(std::make_shared<UIView>(UIScreen::mainScreen().bounds()));
}

const std::shared_ptr<UINavigationItem>& UIViewController::navigationItem() {
  if (!navigationItem_) navigationItem_ = std::make_shared<UINavigationItem>();
  return navigationItem_;
}

void UIViewController::setStoryboard(std::shared_ptr<UIStoryboard> storyboard, std::string identifier) {
  storyboard_ = std::move(storyboard);
  storyboardIdentifier_ = std::move(identifier);
}

// ---- Appearance ----

void UIViewController::forwardAppearance(bool begin, bool isAppearing, bool animated) {
  if (!shouldAutomaticallyForwardAppearanceMethods() || !view_) return;
  auto children = children_;
  for (const auto& child : children) {
    if (!child->isViewLoaded() || !child->view_->isDescendantOfView(view_.get())) continue;
    if (begin) child->beginAppearanceTransition(isAppearing, animated);
    else child->endAppearanceTransition();
  }
}

void UIViewController::beginAppearanceTransition(bool isAppearing, bool animated) {
  auto keep = shared_from_this();
  if (isAppearing) {
    if (appearance_ == Appearance::Appeared || appearance_ == Appearance::Appearing) return;
    view();
    appearance_ = Appearance::Appearing;
    viewWillAppear(animated);
  } else {
    if (appearance_ == Appearance::Disappeared || appearance_ == Appearance::Disappearing) return;
    appearance_ = Appearance::Disappearing;
    viewWillDisappear(animated);
  }
  forwardAppearance(true, isAppearing, animated);
}

void UIViewController::endAppearanceTransition() {
  auto keep = shared_from_this();
  if (appearance_ == Appearance::Appearing) {
    appearance_ = Appearance::Appeared;
    viewDidAppear(false);
    forwardAppearance(false, true, false);
  } else if (appearance_ == Appearance::Disappearing) {
    appearance_ = Appearance::Disappeared;
    viewDidDisappear(false);
    forwardAppearance(false, false, false);
  }
}

// ---- Containment ----

void UIViewController::addChildViewController(const UIViewControllerRef& child) {
  if (!child || child.get() == this) return;
  if (auto old = child->parentViewController(); old && old.get() != this) {
    child->willMoveToParentViewController(nullptr);
    child->removeFromParentViewController();
  }
  if (std::find(children_.begin(), children_.end(), child) != children_.end()) return;
  child->willMoveToParentViewController(shared_from_this());
  children_.push_back(child);
  child->parent_ = weak_from_this();
}

void UIViewController::removeFromParentViewController() {
  auto parent = parentViewController();
  if (!parent) return;
  auto keep = shared_from_this();
  auto& list = parent->children_;
  list.erase(std::remove(list.begin(), list.end(), keep), list.end());
  parent_.reset();
  didMoveToParentViewController(nullptr);
}

std::shared_ptr<UINavigationController> UIViewController::navigationController() const {
  for (auto p = parentViewController(); p; p = p->parentViewController()) {
    if (auto nav = std::dynamic_pointer_cast<UINavigationController>(p)) return nav;
  }
  return nullptr;
}

// ---- Presentation ----

namespace {
// The controller that presents for `vc`: the top of its parent chain, as the platform uses the
// full-screen presentation context.
UIViewControllerRef presentationContext(UIViewControllerRef vc) {
  while (auto parent = vc->parentViewController()) vc = parent;
  return vc;
}
}  // namespace

void UIViewController::presentViewController(const UIViewControllerRef& controller, bool animated,
                                             std::function<void()> completion) {
  if (!controller) return;
  auto context = presentationContext(shared_from_this());
  if (context->presented_) {
    NSLog("Attempt to present a view controller while another is presented; ignored");
    return;
  }
  if (controller->parentViewController() || controller->presentingViewController()) {
    NSException::raise(NSInvalidArgumentException, "Application tried to present a view controller that is already shown");
  }
  std::shared_ptr<UIWindow> window = context->isViewLoaded() ? context->view_->window() : nullptr;
  if (!window) window = UIWindow::keyWindow();
  if (!window) {
    NSLog("Attempt to present a view controller whose presenter is not in a window; ignored");
    return;
  }
  context->presented_ = controller;
  controller->presenting_ = context;
  UIViewRef presentedView = controller->view();
  CGRect full = window->bounds();
  presentedView->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  const bool over = controller->modalPresentationStyle() == UIModalPresentationStyle::OverFullScreen;
  if (!over) context->beginAppearanceTransition(false, animated);
  controller->beginAppearanceTransition(true, animated);
  std::weak_ptr<UIViewController> weakContext = context;
  auto finish = [weakContext, controller, over, completion = std::move(completion)](bool) {
    if (auto ctx = weakContext.lock(); ctx && !over) {
      if (ctx->isViewLoaded()) ctx->view_->setHidden(true);  // covered: nothing to composite
      ctx->endAppearanceTransition();
    }
    controller->endAppearanceTransition();
    if (completion) completion();
  };
  if (over) {
    // Over the presenter: the view fades in where it stands.
    presentedView->setFrame(full);
    window->addSubview(presentedView);
    if (animated) {
      presentedView->setAlpha(0);
      UIView::animateWithDuration(kTransitionDuration, 0, UIViewAnimationOptionCurveEaseOut,
                                  [&] { presentedView->setAlpha(1); }, finish);
    } else {
      finish(true);
    }
  } else if (animated) {
    presentedView->setFrame(CGRectMake(0, full.size.height, full.size.width, full.size.height));
    window->addSubview(presentedView);
    UIView::animateWithDuration(kTransitionDuration, 0, UIViewAnimationOptionCurveEaseOut,
                                [&] { presentedView->setFrame(full); }, finish);
  } else {
    presentedView->setFrame(full);
    window->addSubview(presentedView);
    finish(true);
  }
}

std::shared_ptr<UIViewController> UIViewController::presentedViewController() const {
  auto context = presentationContext(std::const_pointer_cast<UIViewController>(shared_from_this()));
  return context->presented_;
}

void UIViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion) {
  auto context = presentationContext(shared_from_this());
  UIViewControllerRef presented = context->presented_;
  UIViewControllerRef presenting = context;
  if (!presented) {
    // Called on the presented controller: dismiss it through its presenter.
    if (auto p = presenting_.lock()) {
      p->dismissViewControllerAnimated(animated, std::move(completion));
    }
    return;
  }
  UIViewRef presentedView = presented->view();
  const bool over = presented->modalPresentationStyle() == UIModalPresentationStyle::OverFullScreen;
  if (presenting->isViewLoaded()) presenting->view_->setHidden(false);
  presented->beginAppearanceTransition(false, animated);
  if (!over) presenting->beginAppearanceTransition(true, animated);
  auto finish = [presenting, presented, presentedView, over, completion = std::move(completion)](bool) {
    presentedView->removeFromSuperview();
    presented->endAppearanceTransition();
    if (!over) presenting->endAppearanceTransition();
    presenting->presented_.reset();
    presented->presenting_.reset();
    if (completion) completion();
  };
  if (animated && over) {
    UIView::animateWithDuration(kTransitionDuration, 0, UIViewAnimationOptionCurveEaseIn,
                                [&] { presentedView->setAlpha(0); }, finish);
  } else if (animated) {
    CGRect f = presentedView->frame();
    UIView::animateWithDuration(kTransitionDuration, 0, UIViewAnimationOptionCurveEaseIn,
                                [&] { presentedView->setFrame(CGRectMake(0, f.size.height, f.size.width, f.size.height)); },
                                finish);
  } else {
    finish(true);
  }
}

// ---- Segues ----

void UIViewController::performSegueWithIdentifier(const std::string& identifier, const Value& sender) {
  if (!storyboard_) {
    NSException::raise(NSInvalidArgumentException, "Receiver has no segue with identifier '%s'", identifier.c_str());
  }
  storyboard_->performSegue(shared_from_this(), identifier, sender);
}
