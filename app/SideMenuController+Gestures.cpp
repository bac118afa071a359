// The side-menu container's gestures: a pan on the front view drags the panels open and shut (with
// an elastic overdraw past the panel), a tap on the front view closes an open panel. Both exist
// only once something asks for them; the application's own screens never do.
#include <cmath>

#include "app/SideMenuController.h"
#include "app/SideMenuControllerPanGestureRecognizer.h"
#include "app/SideMenuView.h"

std::shared_ptr<UIPanGestureRecognizer> SideMenuController::panGestureRecognizer() {
  if (!panGestureRecognizer_) {
    auto pan = std::make_shared<SideMenuControllerPanGestureRecognizer>();
    pan->addTarget(self(), &SideMenuController::handlePanelGesture);
    pan->setDelegate(self());
    panGestureRecognizer_ = pan;
    loadViewIfNeeded();
    contentView_->frontView()->addGestureRecognizer(pan);
  }
  return panGestureRecognizer_;
}

std::shared_ptr<UITapGestureRecognizer> SideMenuController::tapGestureRecognizer() {
  if (!tapGestureRecognizer_) {
    auto tap = std::make_shared<UITapGestureRecognizer>();
    tap->addTarget(self(), &SideMenuController::handleTapGesture);
    tap->setDelegate(self());
    tapGestureRecognizer_ = tap;
    loadViewIfNeeded();
    contentView_->frontView()->addGestureRecognizer(tap);
  }
  return tapGestureRecognizer_;
}

// ---- May a gesture begin ----

bool SideMenuController::gestureRecognizerShouldBegin(UIGestureRecognizer& recognizer) {
  // Never while a queued change (or another drag) is running.
  if (!animationQueue_.empty()) return false;
  if (&recognizer == panGestureRecognizer_.get()) return panGestureShouldBegin();
  if (&recognizer == tapGestureRecognizer_.get()) return tapGestureShouldBegin();
  return false;
}

bool SideMenuController::tapGestureShouldBegin() {
  if (frontViewPosition_ == PositionRightRemoved || frontViewPosition_ == PositionClosed ||
      frontViewPosition_ == PositionRearRemoved) {
    return false;
  }
  auto d = delegate.lock();
  if (d && d->answersTapGestureShouldBegin()) return d->tapGestureShouldBegin(*this);
  return true;
}

bool SideMenuController::panGestureShouldBegin() {
  auto d = delegate.lock();
  if (d && d->answersPanGestureShouldBegin() && !d->panGestureShouldBegin(*this)) return false;
  if (!contentView_ || !panGestureRecognizer_) return false;
  const double x = panGestureRecognizer_->locationInView(contentView_.get()).x;
  const double width = contentView_->bounds().size.width;
  const double border = std::isfinite(draggableBorderWidth) ? draggableBorderWidth : 0;
  const bool borderAllows = border == 0 || (rearViewController_ && x <= border) ||
                            (rightViewController_ && x >= width - border);
  const double translation = panGestureRecognizer_->translationInView(contentView_.get()).x;
  const bool translationForbids = frontViewPosition_ == PositionClosed &&
                                  ((!rearViewController_ && translation > 0) || (!rightViewController_ && translation < 0));
  return borderAllows && !translationForbids;
}

bool SideMenuController::gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(UIGestureRecognizer& recognizer,
                                                                                           UIGestureRecognizer& other) {
  auto d = delegate.lock();
  if (!d) return false;
  if (&recognizer == panGestureRecognizer_.get()) return d->panGestureRecognizerShouldRecognizeSimultaneously(*this, other);
  if (&recognizer == tapGestureRecognizer_.get()) return d->tapGestureRecognizerShouldRecognizeSimultaneously(*this, other);
  return false;
}

// ---- The tap ----

void SideMenuController::handleTapGesture(UIGestureRecognizer&) {
  // Applied at once (a tap begins only on an empty queue). Its slide holds an entry of its own
  // until it ends, so that a change asked for meanwhile waits instead of running beside it, and
  // its end removes that entry and nothing else.
  const uint64_t slot = enqueue([](uint64_t) {});
  setFrontViewPositionWithDuration(PositionClosed, toggleAnimationDuration, slot);
}

// ---- The pan ----

void SideMenuController::handlePanelGesture(UIGestureRecognizer& recognizer) {
  auto* pan = dynamic_cast<UIPanGestureRecognizer*>(&recognizer);
  if (!pan) return;
  switch (recognizer.state()) {
    case UIGestureRecognizerState::Began: handleRevealGestureStateBegan(*pan); break;
    case UIGestureRecognizerState::Changed: handleRevealGestureStateChanged(*pan); break;
    case UIGestureRecognizerState::Ended: handleRevealGestureStateEnded(*pan); break;
    case UIGestureRecognizerState::Cancelled: handleRevealGestureStateCancelled(*pan); break;
    default: break;
  }
}

void SideMenuController::handleRevealGestureStateBegan(UIPanGestureRecognizer&) {
  // An empty block holds the queue for the whole drag: queued changes wait, new gestures are refused.
  panPlaceholder_ = enqueue([](uint64_t) {});
  panInitialFrontPosition_ = frontViewPosition_;
  disableUserInteraction();
  notifyPanGestureBegan();
}

void SideMenuController::handleRevealGestureStateChanged(UIPanGestureRecognizer& recognizer) {
  if (!contentView_) return;
  double x = recognizer.translationInView(contentView_.get()).x + contentView_->frontLocationForPosition(panInitialFrontPosition_);
  if (x < 0) {
    if (!rightViewController_) x = 0;
    rightViewDeploymentForNewFrontViewPosition(PositionRight)();
    rearViewDeploymentForNewFrontViewPosition(PositionRight)();
  } else if (x > 0) {
    if (!rearViewController_) x = 0;
    rightViewDeploymentForNewFrontViewPosition(PositionRear)();
    rearViewDeploymentForNewFrontViewPosition(PositionRear)();
  }
  contentView_->dragFrontViewToXLocation(x);
  notifyPanGestureMoved();
}

void SideMenuController::handleRevealGestureStateEnded(UIPanGestureRecognizer& recognizer) {
  if (!contentView_) return;
  const double x = contentView_->frontView()->frame().origin.x;
  const double velocity = recognizer.velocityInView(contentView_.get()).x;
  const int symmetry = x < 0 ? -1 : 1;
  const auto s = side(symmetry);
  const double a = symmetry * x;

  FrontViewPosition target = PositionClosed;
  double duration = toggleAnimationDuration;
  // A flick needs a real speed: a threshold that is not a positive number counts as no flick.
  const double flickThreshold = std::isfinite(quickFlickVelocity) && quickFlickVelocity > 0 ? quickFlickVelocity : INFINITY;
  if (std::isfinite(velocity) && std::fabs(velocity) > flickThreshold) {
    double distance;
    if (velocity * symmetry > 0) {
      target = PositionRear;
      double journey = s.width;
      if (a > s.width && !s.bounceBack && s.stableDrag) {
        target = PositionRearMost;
        journey = s.width + s.overdraw;
      }
      distance = journey - a;
    } else {
      distance = a;
    }
    duration = std::fabs(distance / velocity);
  } else {
    if (a > s.width * 0.5) {
      target = PositionRear;
      if (a > s.width) {
        if (s.bounceBack) target = PositionClosed;
        else if (s.stableDrag && a > s.width + s.overdraw * 0.5) target = PositionRearMost;
      }
    }
  }
  target = PositionClosed + (target - PositionClosed) * symmetry;
  restoreUserInteraction();
  notifyPanGestureEnded();
  // The change ends by removing the drag's own queue entry, which runs whatever was queued meanwhile.
  setFrontViewPositionWithDuration(target, duration, panPlaceholder_);
  panPlaceholder_ = 0;
}

void SideMenuController::handleRevealGestureStateCancelled(UIPanGestureRecognizer&) {
  restoreUserInteraction();
  notifyPanGestureEnded();
  const uint64_t placeholder = panPlaceholder_;
  panPlaceholder_ = 0;
  dequeue(placeholder);
}

// ---- What the delegate hears during a drag ----

void SideMenuController::dragValues(double* location, double* progress, double* overProgress) const {
  *location = contentView_ ? contentView_->frontView()->frame().origin.x : 0;
  const int symmetry = *location < 0 ? -1 : 1;
  const auto s = side(symmetry);
  // A panel without width or overdraw has no progress to report.
  *progress = s.width > 0 ? symmetry * *location / s.width : 0;
  *overProgress = s.overdraw > 0 ? (symmetry * *location - s.width) / s.overdraw : 0;
}

void SideMenuController::notifyPanGestureBegan() {
  auto d = delegate.lock();
  if (!d) return;
  d->panGestureBegan(*this);
  double location, progress, over;
  dragValues(&location, &progress, &over);
  if (d->answersOverProgress()) d->panGestureBeganFromLocation(*this, location, progress, over);
  else d->panGestureBeganFromLocation(*this, location, progress);
}

void SideMenuController::notifyPanGestureMoved() {
  auto d = delegate.lock();
  if (!d) return;
  double location, progress, over;
  dragValues(&location, &progress, &over);
  if (d->answersOverProgress()) d->panGestureMovedToLocation(*this, location, progress, over);
  else d->panGestureMovedToLocation(*this, location, progress);
}

void SideMenuController::notifyPanGestureEnded() {
  auto d = delegate.lock();
  if (!d) return;
  double location, progress, over;
  dragValues(&location, &progress, &over);
  if (d->answersOverProgress()) d->panGestureEndedToLocation(*this, location, progress, over);
  else d->panGestureEndedToLocation(*this, location, progress);
  d->panGestureEnded(*this);
}
