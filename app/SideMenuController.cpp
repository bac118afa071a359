// The side-menu container: children, positions and their layout, the animation queue, storyboard
// children and segues, state restoration and the look-up from any child.
#include "app/SideMenuController.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSLog.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIStateRestoration.h"

namespace {

// A configured length that arithmetic can use: not finite counts as 0.
double finiteOr0(double v) { return std::isfinite(v) ? v : 0; }

// v scaled from the range [min1, max1] to [min2, max2] and kept within [min2, max2]. A range of no
// length (a panel with no width) has nowhere to scale from: the value stays at min2.
double scaledValue(double v, double min2, double max2, double min1, double max1) {
  const double span = max1 - min1;
  double result = span != 0 && std::isfinite(span) ? ((max2 - min2) / span) * (v - min1) + min2 : min2;
  if (!std::isfinite(result)) result = min2;
  return std::clamp(result, std::min(min2, max2), std::max(min2, max2));
}

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

// ---- State restoration ----

namespace {
constexpr const char* kRear = "_rearViewController";
constexpr const char* kRight = "_rightViewController";
constexpr const char* kFront = "_frontViewController";
}  // namespace

void SideMenuController::encodeRestorableStateWithCoder(NSCoder& coder) {
  UIStateRestoration::encodeViewController(coder, rearViewController_, kRear);
  UIStateRestoration::encodeViewController(coder, rightViewController_, kRight);
  UIStateRestoration::encodeViewController(coder, frontViewController_, kFront);
  coder.encodeInteger(frontViewPosition_, "_frontViewPosition");
  coder.encodeDouble(rearViewPanelWidth, "_rearViewPanelWidth");
  coder.encodeDouble(rightViewPanelWidth, "_rightViewPanelWidth");
  coder.encodeDouble(rearViewPanelOverdraw, "_rearViewPanelOverdraw");
  coder.encodeDouble(rightViewPanelOverdraw, "_rightViewPanelOverdraw");
  coder.encodeDouble(rearViewPanelDisplacement, "_rearViewPanelDisplacement");
  coder.encodeDouble(rightViewPanelDisplacement, "_rightViewPanelDisplacement");
  coder.encodeDouble(draggableBorderWidth, "_draggableBorderWidth");
  coder.encodeBool(bounceBackOnOverdraw, "_bounceBackOnOverdraw");
  coder.encodeBool(bounceBackOnLeftOverdraw, "_bounceBackOnLeftOverdraw");
  coder.encodeBool(stableDragOnOverdraw, "_stableDragOnOverdraw");
  coder.encodeBool(stableDragOnLeftOverdraw, "_stableDragOnLeftOverdraw");
  coder.encodeBool(presentFrontViewHierarchically, "_presentFrontViewHierarchically");
  coder.encodeDouble(quickFlickVelocity, "_quickFlickVelocity");
  coder.encodeDouble(toggleAnimationDuration, "_toggleAnimationDuration");
  coder.encodeInteger(toggleAnimationType, "_toggleAnimationType");
  coder.encodeDouble(springDampingRatio, "_springDampingRatio");
  coder.encodeDouble(replaceViewAnimationDuration, "_replaceViewAnimationDuration");
  coder.encodeDouble(frontViewShadowRadius_, "_frontViewShadowRadius");
  UIStateRestoration::encodeCGSize(coder, frontViewShadowOffset_, "_frontViewShadowOffset");
  coder.encodeDouble(frontViewShadowOpacity_, "_frontViewShadowOpacity");
  UIStateRestoration::encodeColor(coder, frontViewShadowColor_, "_frontViewShadowColor");
  coder.encodeBool(userInteractionStore_, "_userInteractionStore");
  coder.encodeBool(clipsViewsToBounds_, "_clipsViewsToBounds");
  coder.encodeBool(extendsPointInsideHit, "_extendsPointInsideHit");
  UIViewController::encodeRestorableStateWithCoder(coder);
}

void SideMenuController::decodeRestorableStateWithCoder(NSCoder& coder) {
  // Everything is read first and applied only when the archive as a whole reads: a field of
  // another type or out of its range keeps the value the controller has.
  auto number = [&](const char* key, double current, bool (*acceptable)(double)) {
    auto v = UIStateRestoration::decodeNumber(coder, key);
    return v && std::isfinite(*v) && acceptable(*v) ? *v : current;
  };
  auto flag = [&](const char* key, bool current) { return UIStateRestoration::decodeFlag(coder, key).value_or(current); };
  auto anyFinite = [](double) { return true; };
  auto notNegative = [](double v) { return v >= 0; };
  auto positive = [](double v) { return v > 0; };
  auto durationRange = [](double v) { return v >= 0 && v <= kMaxAnimationDuration; };
  auto unitRange = [](double v) { return v >= 0 && v <= 1; };
  auto dampingRange = [](double v) { return v > 0 && v <= 1; };

  // A child the archive names but that cannot be found again keeps the one in place.
  UIViewControllerRef rear = rearViewController_, right = rightViewController_, front = frontViewController_;
  if (auto c = UIStateRestoration::decodeViewController(coder, kRear)) rear = c;
  if (auto c = UIStateRestoration::decodeViewController(coder, kRight)) right = c;
  if (auto c = UIStateRestoration::decodeViewController(coder, kFront)) front = c;
  FrontViewPosition position = frontViewPosition_;
  if (auto v = UIStateRestoration::decodeNumber(coder, "_frontViewPosition");
      v && *v == std::floor(*v) && *v >= PositionRightRemoved && *v <= PositionRearRemoved) {
    position = static_cast<int32_t>(*v);
  }
  const double rearWidth = number("_rearViewPanelWidth", rearViewPanelWidth, anyFinite);
  const double rightWidth = number("_rightViewPanelWidth", rightViewPanelWidth, anyFinite);
  const double rearOverdraw = number("_rearViewPanelOverdraw", rearViewPanelOverdraw, notNegative);
  const double rightOverdraw = number("_rightViewPanelOverdraw", rightViewPanelOverdraw, notNegative);
  const double rearDisplacement = number("_rearViewPanelDisplacement", rearViewPanelDisplacement, notNegative);
  const double rightDisplacement = number("_rightViewPanelDisplacement", rightViewPanelDisplacement, notNegative);
  const double border = number("_draggableBorderWidth", draggableBorderWidth, notNegative);
  const bool bounce = flag("_bounceBackOnOverdraw", bounceBackOnOverdraw);
  const bool bounceLeft = flag("_bounceBackOnLeftOverdraw", bounceBackOnLeftOverdraw);
  const bool stable = flag("_stableDragOnOverdraw", stableDragOnOverdraw);
  const bool stableLeft = flag("_stableDragOnLeftOverdraw", stableDragOnLeftOverdraw);
  const bool hierarchical = flag("_presentFrontViewHierarchically", presentFrontViewHierarchically);
  const double flick = number("_quickFlickVelocity", quickFlickVelocity, positive);
  const double toggleDuration = number("_toggleAnimationDuration", toggleAnimationDuration, durationRange);
  ToggleAnimationType type = toggleAnimationType;
  if (auto v = UIStateRestoration::decodeNumber(coder, "_toggleAnimationType"); v && (*v == 0 || *v == 1)) {
    type = static_cast<ToggleAnimationType>(static_cast<int64_t>(*v));
  }
  const double damping = number("_springDampingRatio", springDampingRatio, dampingRange);
  const double replaceDuration = number("_replaceViewAnimationDuration", replaceViewAnimationDuration, durationRange);
  const double shadowRadius = number("_frontViewShadowRadius", frontViewShadowRadius_, notNegative);
  const CGSize shadowOffset = UIStateRestoration::decodeCGSize(coder, "_frontViewShadowOffset").value_or(frontViewShadowOffset_);
  const double shadowOpacity = number("_frontViewShadowOpacity", frontViewShadowOpacity_, unitRange);
  UIColorRef shadowColor = UIStateRestoration::decodeColor(coder, "_frontViewShadowColor");
  if (!shadowColor) shadowColor = frontViewShadowColor_;
  const bool interaction = flag("_userInteractionStore", userInteractionStore_);
  const bool clips = flag("_clipsViewsToBounds", clipsViewsToBounds_);
  const bool extendsHit = flag("_extendsPointInsideHit", extendsPointInsideHit);
  UIViewController::decodeRestorableStateWithCoder(coder);
  if (auto error = coder.error()) {
    NSLog("SideMenuController: the restoration archive is not used: %s", error->localizedDescription().c_str());
    return;
  }

  rearViewPanelWidth = rearWidth;
  rightViewPanelWidth = rightWidth;
  rearViewPanelOverdraw = rearOverdraw;
  rightViewPanelOverdraw = rightOverdraw;
  rearViewPanelDisplacement = rearDisplacement;
  rightViewPanelDisplacement = rightDisplacement;
  draggableBorderWidth = border;
  bounceBackOnOverdraw = bounce;
  bounceBackOnLeftOverdraw = bounceLeft;
  stableDragOnOverdraw = stable;
  stableDragOnLeftOverdraw = stableLeft;
  presentFrontViewHierarchically = hierarchical;
  quickFlickVelocity = flick;
  toggleAnimationDuration = toggleDuration;
  toggleAnimationType = type;
  springDampingRatio = damping;
  replaceViewAnimationDuration = replaceDuration;
  frontViewShadowRadius_ = shadowRadius;
  frontViewShadowOffset_ = shadowOffset;
  frontViewShadowOpacity_ = shadowOpacity;
  frontViewShadowColor_ = shadowColor;
  userInteractionStore_ = interaction;
  clipsViewsToBounds_ = clips;
  extendsPointInsideHit = extendsHit;
  if (contentView_) {
    contentView_->reloadShadow();
    contentView_->setClipsToBounds(clips);
  }
  // A new, empty queue; then the children and the position through their setters.
  animationQueue_.clear();
  setRearViewController(rear);
  setRightViewController(right);
  setFrontViewController(front);
  setFrontViewPosition(position);
}

std::shared_ptr<SideMenuController> SideMenuController::viewControllerWithRestorationIdentifierPath(
    const std::vector<std::string>& path, const std::shared_ptr<UIStoryboard>& storyboard) {
  if (!storyboard) return nullptr;
  auto controller = std::dynamic_pointer_cast<SideMenuController>(
      storyboard->instantiateViewControllerWithIdentifier("SideMenuController"));
  if (controller && !path.empty()) controller->setRestorationIdentifier(path.back());
  return controller;
}

// ---- The content view ----

SideMenuView::SideMenuView(const CGRect& frame, const std::shared_ptr<SideMenuController>& controller)
    : UIView(frame), controller_(controller) {}

std::shared_ptr<SideMenuView> SideMenuView::create(const CGRect& frame, const std::shared_ptr<SideMenuController>& controller) {
  auto view = std::make_shared<SideMenuView>(frame, controller);
  view->frontView_ = std::make_shared<UIView>(view->bounds());
  view->frontView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  view->addSubview(view->frontView_);
  return view;
}

double SideMenuView::frontLocationForPosition(FrontViewPosition position) const {
  auto c = controller_.lock();
  if (!c || position < PositionRightRemoved || position > PositionRearRemoved) return 0;
  const int symmetry = position < PositionClosed ? -1 : 1;
  const auto s = c->side(symmetry);
  const FrontViewPosition mirrored = PositionClosed + (position - PositionClosed) * symmetry;
  double location = 0;
  if (mirrored == PositionRear) location = s.width;
  else if (mirrored > PositionRear) location = s.width + s.overdraw;
  return location * symmetry;
}

CGRect SideMenuView::hierarchicalFrameAdjustment(CGRect frame) const {
  auto c = controller_.lock();
  if (!c || !c->presentFrontViewHierarchically) return frame;
  // A navigation bar's height, plus what the status bar covers of this view (none here: the
  // platform's status bar is hidden).
  double offset = UINavigationController::kNavigationBarHeight;
  CGRect status = UIApplication::sharedApplication().statusBarFrame();
  CGRect mine = convertRectToView(bounds(), nullptr);
  if (!CGRectIsEmpty(CGRectIntersection(mine, status))) offset += std::min<float>(status.size.width, status.size.height);
  frame.origin.y += offset;
  frame.size.height = std::max(0.0, frame.size.height - offset);
  return frame;
}

void SideMenuView::layoutRearViewsForLocation(double xLocation) {
  auto c = controller_.lock();
  if (!c) return;
  const CGRect b = bounds();
  const auto rear = c->side(+1);
  const double rearX = scaledValue(xLocation, -rear.displacement, 0, 0, rear.width);
  if (rearView_) rearView_->setFrame(CGRectMake(rearX, 0, rear.width + rear.overdraw, b.size.height));
  const auto right = c->side(-1);
  const double rightShift = scaledValue(xLocation, 0, right.displacement, -right.width, 0);
  const double rightWidth = right.width + right.overdraw;
  if (rightView_) rightView_->setFrame(CGRectMake(b.size.width - rightWidth + rightShift, 0, rightWidth, b.size.height));
}

void SideMenuView::layoutSubviews() {
  if (disableLayout) return;
  auto c = controller_.lock();
  if (!c) return;
  const CGRect b = bounds();
  const FrontViewPosition position = c->frontViewPosition();
  const double x = frontLocationForPosition(position);
  layoutRearViewsForLocation(x);
  frontView_->setFrame(hierarchicalFrameAdjustment(CGRectMake(x, 0, b.size.width, b.size.height)));
  auto front = c->frontViewController();
  const bool shadowed = front && front->isViewLoaded() && position > PositionRightRemoved && position < PositionRearRemoved;
  frontView_->layer()->setShadowPath(shadowed ? std::optional<CGRect>(frontView_->bounds()) : std::optional<CGRect>(CGRectZero));
}

bool SideMenuView::pointInside(CGPoint point, const UIEvent* event) const {
  if (UIView::pointInside(point, event)) return true;
  auto c = controller_.lock();
  if (!c || !c->extendsPointInsideHit) return false;
  auto inside = [&](const UIViewRef& v, const UIViewControllerRef& child) {
    return v && child && child->isViewLoaded() && v->pointInside(v->pointFromSuperview(point), event);
  };
  return inside(rearView_, c->rearViewController()) || inside(frontView_, c->frontViewController()) ||
         inside(rightView_, c->rightViewController());
}

void SideMenuView::reloadShadow() {
  auto c = controller_.lock();
  if (!c) return;
  auto layer = frontView_->layer();
  layer->setShadowColor(c->frontViewShadowColor());
  layer->setShadowOpacity(c->frontViewShadowOpacity());
  layer->setShadowOffset(c->frontViewShadowOffset());
  layer->setShadowRadius(c->frontViewShadowRadius());
}

void SideMenuView::prepareRearViewForPosition(FrontViewPosition newPosition) {
  if (!rearView_) {
    rearView_ = std::make_shared<UIView>(bounds());
    rearView_->setAutoresizingMask(UIViewAutoresizingFlexibleHeight);
    auto it = std::find(subviews().begin(), subviews().end(), frontView_);
    insertSubview(rearView_, static_cast<size_t>(it - subviews().begin()));
  }
  auto c = controller_.lock();
  layoutRearViewsForLocation(frontLocationForPosition(c ? c->frontViewPosition() : PositionClosed));
  prepareForNewPosition(newPosition);
}

void SideMenuView::prepareRightViewForPosition(FrontViewPosition newPosition) {
  if (!rightView_) {
    rightView_ = std::make_shared<UIView>(bounds());
    rightView_->setAutoresizingMask(UIViewAutoresizingFlexibleHeight);
    auto it = std::find(subviews().begin(), subviews().end(), frontView_);
    insertSubview(rightView_, static_cast<size_t>(it - subviews().begin()));
  }
  auto c = controller_.lock();
  layoutRearViewsForLocation(frontLocationForPosition(c ? c->frontViewPosition() : PositionClosed));
  prepareForNewPosition(newPosition);
}

void SideMenuView::unloadRearView() {
  if (rearView_) rearView_->removeFromSuperview();
  rearView_.reset();
}

void SideMenuView::unloadRightView() {
  if (rightView_) rightView_->removeFromSuperview();
  rightView_.reset();
}

void SideMenuView::prepareForNewPosition(FrontViewPosition newPosition) {
  if (!rearView_ || !rightView_) return;
  const auto& views = subviews();
  auto rearAt = std::find(views.begin(), views.end(), rearView_) - views.begin();
  auto rightAt = std::find(views.begin(), views.end(), rightView_) - views.begin();
  // The panel that opens lies above the other one.
  const bool rightAbove = rightAt > rearAt;
  if ((newPosition <= PositionRight && !rightAbove) || (newPosition >= PositionClosed && rightAbove)) {
    auto lower = std::min(rearAt, rightAt), upper = std::max(rearAt, rightAt);
    UIViewRef a = views[static_cast<size_t>(lower)], b = views[static_cast<size_t>(upper)];
    insertSubview(b, static_cast<size_t>(lower));
    insertSubview(a, static_cast<size_t>(upper));
  }
}

double SideMenuView::adjustedDragLocationForLocation(double x) const {
  auto c = controller_.lock();
  if (!c) return x;
  const int symmetry = x < 0 ? -1 : 1;
  auto s = c->side(symmetry);
  const FrontViewPosition position = c->frontViewPosition();
  const bool elastic = s.bounceBack && !s.stableDrag && position != PositionRightMost && position != PositionRearMost;
  double width = s.width, overdraw = s.overdraw;
  if (!elastic) {
    width += overdraw;
    overdraw = 0;
  }
  const double a = x * symmetry;
  double result;
  if (a <= width) result = a;
  else if (a > width + 2 * overdraw) result = width + overdraw;
  else result = width + (a - width) * 0.5;
  return result * symmetry;
}

void SideMenuView::dragFrontViewToXLocation(double xLocation) {
  if (!std::isfinite(xLocation)) return;
  const CGRect b = bounds();
  xLocation = adjustedDragLocationForLocation(xLocation);
  layoutRearViewsForLocation(xLocation);
  frontView_->setFrame(hierarchicalFrameAdjustment(CGRectMake(xLocation, 0, b.size.width, b.size.height)));
}

// ---- Replacement animation ----

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

// ---- Segues ----

void SideMenuControllerSegueSetController::perform() {
  auto menu = std::dynamic_pointer_cast<SideMenuController>(sourceViewController());
  if (!menu) return;
  const auto& id = identifier();
  if (id == "sm_rear") menu->performTransitionOperation(OperationRear, destinationViewController(), false);
  else if (id == "sm_front") menu->performTransitionOperation(OperationFront, destinationViewController(), false);
  else if (id == "sm_right") menu->performTransitionOperation(OperationRight, destinationViewController(), false);
}

UIStoryboardSegueDefinition SideMenuControllerSegueSetController::definition(const std::string& destination) {
  UIStoryboardSegueDefinition d;
  d.destination = destination;
  d.kind = UIStoryboardSegueKind::Custom;
  d.perform = [](UIStoryboardSegue& segue) {
    SideMenuControllerSegueSetController(segue.identifier(), segue.sourceViewController(),
                                         segue.destinationViewController(), {})
        .perform();
  };
  return d;
}

void SideMenuControllerSeguePushController::perform() {
  auto source = sourceViewController();
  if (!source) return;
  if (auto menu = sideMenuController(*source)) menu->pushFrontViewController(destinationViewController(), true);
}

UIStoryboardSegueDefinition SideMenuControllerSeguePushController::definition(const std::string& destination) {
  UIStoryboardSegueDefinition d;
  d.destination = destination;
  d.kind = UIStoryboardSegueKind::Custom;
  d.perform = [](UIStoryboardSegue& segue) {
    SideMenuControllerSeguePushController(segue.identifier(), segue.sourceViewController(),
                                          segue.destinationViewController(), {})
        .perform();
  };
  return d;
}
