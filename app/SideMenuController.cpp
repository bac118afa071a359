// The side-menu container: children, positions and their layout, the animation queue, storyboard
// children and the look-up from any child. Its view, the replacement animation, the segues and
// state restoration have files of their own.
#include "app/SideMenuController.h"

#include "app/SideMenuTransition.h"
#include "app/SideMenuView.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSLog.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIScreen.h"

namespace {

// A configured length that arithmetic can use: not finite counts as 0.
double finiteOr0(double v) { return std::isfinite(v) ? v : 0; }

bool inDeployedRange(FrontViewPosition p) { return p > PositionRightRemoved && p < PositionRearRemoved; }

}  // namespace

// ---- The look-up ----

std::shared_ptr<SideMenuController> sideMenuController(const UIViewController& controller) {
  for (auto parent = controller.parentViewController(); parent; parent = parent->parentViewController()) {
    if (auto menu = std::dynamic_pointer_cast<SideMenuController>(parent)) return menu;
  }
  return nullptr;
}

// ---- Creation ----

SideMenuController::SideMenuController() { setDefaults(); }

void SideMenuController::setDefaults() {
  frontViewPosition_ = rearViewPosition_ = rightViewPosition_ = PositionClosed;
  rearViewPanelWidth = rightViewPanelWidth = 260;
  rearViewPanelOverdraw = rightViewPanelOverdraw = 60;
  rearViewPanelDisplacement = rightViewPanelDisplacement = 40;
  draggableBorderWidth = 0;
  bounceBackOnOverdraw = bounceBackOnLeftOverdraw = true;
  stableDragOnOverdraw = stableDragOnLeftOverdraw = false;
  presentFrontViewHierarchically = false;
  quickFlickVelocity = 250;
  toggleAnimationDuration = 0.3;
  toggleAnimationType = AnimationSpring;
  springDampingRatio = 1.0;
  replaceViewAnimationDuration = 0.25;
  frontViewShadowRadius_ = 2.5;
  frontViewShadowOffset_ = {0, 2.5};
  frontViewShadowOpacity_ = 1.0;
  frontViewShadowColor_ = UIColor::blackColor();
  userInteractionStore_ = true;
  animationQueue_.clear();
}

std::shared_ptr<SideMenuController> SideMenuController::initWithRearViewController(const UIViewControllerRef& rear,
                                                                                   const UIViewControllerRef& front) {
  auto controller = std::make_shared<SideMenuController>();
  controller->performTransitionOperation(OperationRear, rear, false);
  controller->performTransitionOperation(OperationFront, front, false);
  return controller;
}

// ---- Configuration made safe ----

double SideMenuController::safeDuration(double seconds) {
  if (!std::isfinite(seconds) || !(seconds > 0)) return 0;
  return std::min(seconds, kMaxAnimationDuration);
}

SideMenuController::Side SideMenuController::side(int symmetry) const {
  const double contentWidth = contentView_ ? contentView_->bounds().size.width : UIScreen::mainScreen().bounds().size.width;
  Side s{};
  double width = finiteOr0(symmetry < 0 ? rightViewPanelWidth : rearViewPanelWidth);
  if (width < 0) width += contentWidth;  // a negative width leaves that much of the content uncovered
  s.width = std::max(0.0, width);
  s.overdraw = std::max(0.0, finiteOr0(symmetry < 0 ? rightViewPanelOverdraw : rearViewPanelOverdraw));
  s.displacement = std::max(0.0, finiteOr0(symmetry < 0 ? rightViewPanelDisplacement : rearViewPanelDisplacement));
  // The "left" overdraw is the front view's, moved left over the right panel.
  s.bounceBack = symmetry < 0 ? bounceBackOnLeftOverdraw : bounceBackOnOverdraw;
  s.stableDrag = symmetry < 0 ? stableDragOnLeftOverdraw : stableDragOnOverdraw;
  return s;
}

// ---- Children ----

void SideMenuController::setRearViewController(const UIViewControllerRef& vc, bool animated) {
  if (!isViewLoaded()) {
    performTransitionOperation(OperationRear, vc, false);
    return;
  }
  std::weak_ptr<SideMenuController> weak = self();
  enqueue([weak, vc, animated](uint64_t id) {
    if (auto s = weak.lock()) s->performTransitionOperation(OperationRear, vc, animated, id);
  });
}

void SideMenuController::setFrontViewController(const UIViewControllerRef& vc, bool animated) {
  if (!isViewLoaded()) {
    performTransitionOperation(OperationFront, vc, false);
    return;
  }
  std::weak_ptr<SideMenuController> weak = self();
  enqueue([weak, vc, animated](uint64_t id) {
    if (auto s = weak.lock()) s->performTransitionOperation(OperationFront, vc, animated, id);
  });
}

void SideMenuController::setRightViewController(const UIViewControllerRef& vc, bool animated) {
  if (!isViewLoaded()) {
    performTransitionOperation(OperationRight, vc, false);
    return;
  }
  std::weak_ptr<SideMenuController> weak = self();
  enqueue([weak, vc, animated](uint64_t id) {
    if (auto s = weak.lock()) s->performTransitionOperation(OperationRight, vc, animated, id);
  });
}

void SideMenuController::pushFrontViewController(const UIViewControllerRef& vc, bool animated) {
  if (!isViewLoaded()) {
    performTransitionOperation(OperationFront, vc, false);
    return;
  }
  std::weak_ptr<SideMenuController> weak = self();
  if (!animated) {
    enqueue([weak, vc](uint64_t id) {
      if (auto s = weak.lock()) s->performTransitionOperation(OperationFront, vc, false, id);
    });
    return;
  }
  const FrontViewPosition p = frontViewPosition_;
  const FrontViewPosition t = p > PositionClosed ? PositionRearMost : p < PositionClosed ? PositionRightMost : PositionClosed;
  double firstDuration = toggleAnimationDuration;
  if (p == t) firstDuration = 0;
  else if (std::llabs(p - t) == 1) firstDuration = toggleAnimationDuration * 0.8;
  enqueue([weak, t, firstDuration](uint64_t id) {
    if (auto s = weak.lock()) s->setFrontViewPositionWithDuration(t, firstDuration, id);
  });
  enqueue([weak, vc](uint64_t id) {
    if (auto s = weak.lock()) s->performTransitionOperation(OperationFront, vc, false, id);
  });
  enqueue([weak](uint64_t id) {
    if (auto s = weak.lock()) s->setFrontViewPositionWithDuration(PositionClosed, s->toggleAnimationDuration, id);
  });
}

// ---- Positions ----

void SideMenuController::setFrontViewPosition(FrontViewPosition position, bool animated) {
  if (!isViewLoaded()) {
    frontViewPosition_ = rearViewPosition_ = rightViewPosition_ = position;
    return;
  }
  std::weak_ptr<SideMenuController> weak = self();
  enqueue([weak, position, animated](uint64_t id) {
    if (auto s = weak.lock()) s->setFrontViewPositionWithDuration(position, animated ? s->toggleAnimationDuration : 0, id);
  });
}

void SideMenuController::panelToggleAnimated(bool animated) {
  setFrontViewPosition(frontViewPosition_ < PositionRear ? PositionRear : PositionClosed, animated);
}

void SideMenuController::rightPanelToggleAnimated(bool animated) {
  setFrontViewPosition(frontViewPosition_ > PositionRight ? PositionRight : PositionClosed, animated);
}

// ---- Appearance ----

void SideMenuController::setFrontViewShadowRadius(double radius) {
  frontViewShadowRadius_ = radius;
  if (contentView_) contentView_->reloadShadow();
}
void SideMenuController::setFrontViewShadowOffset(CGSize offset) {
  frontViewShadowOffset_ = offset;
  if (contentView_) contentView_->reloadShadow();
}
void SideMenuController::setFrontViewShadowOpacity(double opacity) {
  frontViewShadowOpacity_ = opacity;
  if (contentView_) contentView_->reloadShadow();
}
void SideMenuController::setFrontViewShadowColor(UIColorRef color) {
  frontViewShadowColor_ = std::move(color);
  if (contentView_) contentView_->reloadShadow();
}
void SideMenuController::setClipsViewsToBounds(bool clips) {
  clipsViewsToBounds_ = clips;
  if (contentView_) contentView_->setClipsToBounds(clips);
}

UIViewControllerRef SideMenuController::childViewControllerForStatusBarStyle() const {
  if (frontViewPosition_ > PositionClosed) return rearViewController_;
  if (frontViewPosition_ == PositionClosed) return frontViewController_;
  return rightViewController_;
}

// ---- View life cycle ----

void SideMenuController::loadView() {
  loadStoryboardControllers();
  auto view = SideMenuView::create(UIScreen::mainScreen().bounds(), self());
  view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  view->setClipsToBounds(clipsViewsToBounds_);
  view->setBackgroundColor(UIColor::blackColor());
  contentView_ = view;
  setView(view);
  contentView_->reloadShadow();
  // The position configured so far, applied at once once the view exists.
  const FrontViewPosition initial = frontViewPosition_;
  frontViewPosition_ = rearViewPosition_ = rightViewPosition_ = PositionNone;
  setFrontViewPositionWithDuration(initial, 0, 0);
}

void SideMenuController::viewDidAppear(bool animated) {
  UIViewController::viewDidAppear(animated);
  if (contentView_) userInteractionStore_ = contentView_->isUserInteractionEnabled();
}

void SideMenuController::loadStoryboardControllers() {
  if (!storyboard() || rearViewController_) return;
  for (const char* segue : {"sm_rear", "sm_front", "sm_right"}) {
    try {
      performSegueWithIdentifier(segue);
    } catch (const NSException&) {
      // A storyboard may leave any of the three out.
    }
  }
}

// ---- The animation queue ----

uint64_t SideMenuController::enqueue(std::function<void(uint64_t id)> block) {
  const uint64_t id = nextQueueId_++;
  animationQueue_.insert(animationQueue_.begin(), QueueEntry{id, std::move(block)});
  if (animationQueue_.size() == 1) {
    auto run = animationQueue_.back().block;
    run(id);
  }
  return id;
}

void SideMenuController::dequeue(uint64_t id) {
  if (id == 0 || animationQueue_.empty()) return;  // a change made outside the queue
  auto it = std::find_if(animationQueue_.begin(), animationQueue_.end(), [id](const QueueEntry& e) { return e.id == id; });
  if (it == animationQueue_.end()) return;  // already finished: each block ends once
  const bool wasRunning = std::next(it) == animationQueue_.end();
  animationQueue_.erase(it);
  if (wasRunning && !animationQueue_.empty()) {
    auto next = animationQueue_.back();
    next.block(next.id);
  }
}

// ---- Position changes ----

void SideMenuController::setFrontViewPositionWithDuration(FrontViewPosition position, double duration,
                                                          uint64_t queueSlot) {
  auto rearDeployment = rearViewDeploymentForNewFrontViewPosition(position);
  auto rightDeployment = rightViewDeploymentForNewFrontViewPosition(position);
  auto frontDeployment = frontViewDeploymentForNewFrontViewPosition(position);
  std::weak_ptr<SideMenuController> weak = self();
  auto animations = [weak] {
    auto s = weak.lock();
    if (!s) return;
    // The status bar's appearance follows the child in front (the platform's status bar is hidden).
    if (s->contentView_) s->contentView_->layoutSubviews();
    if (auto d = s->delegate.lock()) d->animateToPosition(*s, s->frontViewPosition_);
  };
  auto completion = [weak, rearDeployment, rightDeployment, frontDeployment, queueSlot](bool) {
    rearDeployment();
    rightDeployment();
    frontDeployment();
    if (auto s = weak.lock()) s->dequeue(queueSlot);
  };
  const double seconds = safeDuration(duration);
  if (seconds <= 0) {
    animations();
    completion(true);
  } else if (toggleAnimationType == AnimationEaseOut) {
    UIView::animateWithDuration(seconds, 0, UIViewAnimationOptionCurveEaseOut, animations, completion);
  } else {
    UIView::animateWithDurationSpring(seconds, 0, std::isfinite(springDampingRatio) ? springDampingRatio : 1.0,
                                      1 / seconds, 0, animations, completion);
  }
}

SideMenuController::Completion SideMenuController::frontViewDeploymentForNewFrontViewPosition(FrontViewPosition p) {
  if ((!rightViewController_ && p < PositionClosed) || (!rearViewController_ && p > PositionClosed)) p = PositionClosed;
  const FrontViewPosition old = frontViewPosition_;
  const bool positionIsChanging = old != p;
  const bool appear = !inDeployedRange(old) && inDeployedRange(p);
  const bool disappear = inDeployedRange(old) && !inDeployedRange(p);
  if (positionIsChanging) {
    if (auto d = delegate.lock()) d->willMoveToPosition(*this, p);
  }
  frontViewPosition_ = p;
  auto deployment = deploymentForViewController(frontViewController_, contentView_ ? contentView_->frontView() : nullptr,
                                                appear, disappear);
  std::weak_ptr<SideMenuController> weak = self();
  return [weak, deployment, positionIsChanging] {
    deployment();
    auto s = weak.lock();
    if (!s || !positionIsChanging) return;
    if (auto d = s->delegate.lock()) d->didMoveToPosition(*s, s->frontViewPosition_);
  };
}

SideMenuController::Completion SideMenuController::rearViewDeploymentForNewFrontViewPosition(FrontViewPosition p) {
  if (presentFrontViewHierarchically) p = PositionRear;
  if (!rearViewController_ && p > PositionClosed) p = PositionClosed;
  const FrontViewPosition old = rearViewPosition_;
  const bool appear = (old <= PositionClosed || old == PositionNone) && p > PositionClosed;
  const bool disappear = p <= PositionClosed && old > PositionClosed && old != PositionNone;
  if (appear && contentView_) contentView_->prepareRearViewForPosition(p);
  rearViewPosition_ = p;
  auto deployment = deploymentForViewController(rearViewController_, contentView_ ? contentView_->rearView() : nullptr,
                                                appear, disappear);
  std::weak_ptr<SideMenuController> weak = self();
  return [weak, deployment, disappear] {
    deployment();
    auto s = weak.lock();
    if (s && disappear && s->contentView_) s->contentView_->unloadRearView();
  };
}

SideMenuController::Completion SideMenuController::rightViewDeploymentForNewFrontViewPosition(FrontViewPosition p) {
  if (!rightViewController_ && p < PositionClosed) p = PositionClosed;
  const FrontViewPosition old = rightViewPosition_;
  const bool appear = old >= PositionClosed && p < PositionClosed;
  const bool disappear = p >= PositionClosed && old < PositionClosed;
  if (appear && contentView_) contentView_->prepareRightViewForPosition(p);
  rightViewPosition_ = p;
  auto deployment = deploymentForViewController(rightViewController_, contentView_ ? contentView_->rightView() : nullptr,
                                                appear, disappear);
  std::weak_ptr<SideMenuController> weak = self();
  return [weak, deployment, disappear] {
    deployment();
    auto s = weak.lock();
    if (s && disappear && s->contentView_) s->contentView_->unloadRightView();
  };
}

SideMenuController::Completion SideMenuController::deploymentForViewController(const UIViewControllerRef& vc,
                                                                             const UIViewRef& inView, bool appear,
                                                                             bool disappear) {
  if (appear) return deployForViewController(vc, inView);
  if (disappear) return undeployForViewController(vc);
  return [] {};
}

bool SideMenuController::childrenAppear() const { return isVisible() && isViewLoaded(); }

SideMenuController::Completion SideMenuController::deployForViewController(const UIViewControllerRef& vc,
                                                                         const UIViewRef& inView) {
  if (!vc || !inView) return [] {};
  UIViewRef view = vc->view();
  view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  view->setFrame(inView->bounds());
  // The platform shows the child's view at once and tells the child when it is in the window.
  const bool appearing = childrenAppear() && !vc->isVisible();
  if (appearing) vc->beginAppearanceTransition(true, false);
  inView->addSubview(view);
  if (!appearing) return [] {};
  return [vc] { vc->endAppearanceTransition(); };
}

SideMenuController::Completion SideMenuController::undeployForViewController(const UIViewControllerRef& vc) {
  if (!vc || !vc->isViewLoaded()) return [] {};
  const bool disappearing = vc->isVisible() && childrenAppear();
  if (disappearing) vc->beginAppearanceTransition(false, false);
  return [vc, disappearing] {
    if (vc->isViewLoaded()) vc->view()->removeFromSuperview();
    if (disappearing) vc->endAppearanceTransition();
  };
}

// ---- Replacing a child ----

void SideMenuController::performTransitionOperation(TransitionOperation operation, const UIViewControllerRef& vc,
                                                    bool animated, uint64_t queueSlot) {
  if (auto d = delegate.lock()) d->willAddViewController(*this, vc, operation, animated);
  UIViewControllerRef old;
  UIViewRef container;
  if (operation == OperationRear) {
    old = rearViewController_;
    rearViewController_ = vc;
    if (contentView_) container = contentView_->rearView();
  } else if (operation == OperationFront) {
    old = frontViewController_;
    frontViewController_ = vc;
    if (contentView_) container = contentView_->frontView();
  } else if (operation == OperationRight) {
    old = rightViewController_;
    rightViewController_ = vc;
    if (contentView_) container = contentView_->rightView();
  }
  auto swap = transitionFromViewController(old, vc, container, animated);
  std::weak_ptr<SideMenuController> weak = self();
  auto completion = [weak, swap, vc, operation, animated, queueSlot] {
    swap();
    auto s = weak.lock();
    if (!s) return;
    if (auto d = s->delegate.lock()) d->didAddViewController(*s, vc, operation, animated);
    s->dequeue(queueSlot);
  };
  if (!animated) {
    completion();
    return;
  }
  UIViewControllerAnimatedTransitioningRef animator;
  if (auto d = delegate.lock()) animator = d->animationControllerForOperation(*this, operation, old, vc);
  if (!animator) animator = std::make_shared<SideMenuAnimationController>(safeDuration(replaceViewAnimationDuration));
  auto context = std::make_shared<SideMenuTransitionContext>(self(), container, vc, old, completion);
  const double duration = animator->transitionDuration(context);
  if (std::isfinite(duration) && duration > 0) {
    animator->animateTransition(context);
  } else {
    completion();
  }
}

SideMenuController::Completion SideMenuController::transitionFromViewController(const UIViewControllerRef& from,
                                                                              const UIViewControllerRef& to,
                                                                              const UIViewRef& inView, bool) {
  if (from == to) return [] {};
  auto me = self();
  if (to) {
    addChildViewController(to);
  }
  if (from) from->willMoveToParentViewController(nullptr);
  auto deployCompletion = deployForViewController(to, inView);
  auto undeployCompletion = undeployForViewController(from);
  std::weak_ptr<SideMenuController> weak = me;
  return [weak, from, to, deployCompletion, undeployCompletion] {
    undeployCompletion();
    if (from) from->removeFromParentViewController();
    deployCompletion();
    auto s = weak.lock();
    if (to && s) to->didMoveToParentViewController(s);
  };
}

// ---- User interaction while dragging ----

void SideMenuController::disableUserInteraction() {
  if (!contentView_) return;
  contentView_->setUserInteractionEnabled(false);
  contentView_->disableLayout = true;
}

void SideMenuController::restoreUserInteraction() {
  if (!contentView_) return;
  contentView_->setUserInteractionEnabled(userInteractionStore_);
  contentView_->disableLayout = false;
}
