#include "platform/uikit/UIGestureRecognizer.h"

#include <algorithm>

#include "platform/uikit/UIView.h"
#include "platform/uikit/UIWindow.h"

namespace {
bool watching(UIGestureRecognizerState s) {
  return s == UIGestureRecognizerState::Possible || s == UIGestureRecognizerState::Began ||
         s == UIGestureRecognizerState::Changed;
}
bool recognising(UIGestureRecognizerState s) {
  return s == UIGestureRecognizerState::Began || s == UIGestureRecognizerState::Changed ||
         s == UIGestureRecognizerState::Ended;
}
}  // namespace

// ---- The views' list ----

void UIView::addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
  if (!recognizer) return;
  if (auto old = recognizer->view(); old && old.get() != this) old->removeGestureRecognizer(recognizer);
  if (std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer) != gestureRecognizers_.end()) return;
  gestureRecognizers_.push_back(recognizer);
  recognizer->attachToView(shared_from_this());
}

void UIView::removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
  auto it = std::find(gestureRecognizers_.begin(), gestureRecognizers_.end(), recognizer);
  if (it == gestureRecognizers_.end()) return;
  gestureRecognizers_.erase(it);
  recognizer->attachToView(nullptr);
}

// ---- The recogniser ----

bool UIGestureRecognizer::askDelegateToBegin() {
  auto d = delegate();
  return !d || d->gestureRecognizerShouldBegin(*this);
}

void UIGestureRecognizer::setState(UIGestureRecognizerState state) {
  using S = UIGestureRecognizerState;
  if (state == state_ && state != S::Changed) return;
  if (state_ == S::Possible && (state == S::Began || state == S::Ended)) {
    state_ = state;  // the delegate sees the recogniser as it would begin (location, translation)
    if (!askDelegateToBegin()) {
      state_ = S::Failed;
      pending_ = false;
      return;
    }
  }
  if (state == S::Failed && (state_ == S::Began || state_ == S::Changed)) {
    if (began_) {
      state = S::Cancelled;
    } else {
      pending_ = false;  // it never began for anyone: a plain failure
    }
  }
  state_ = state;
  pending_ = state == S::Began || state == S::Changed || state == S::Ended || state == S::Cancelled;
}

void UIGestureRecognizer::setEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  if (enabled) return;
  // A gesture in progress is cancelled; the recogniser starts afresh when enabled again.
  if (state_ == UIGestureRecognizerState::Began || state_ == UIGestureRecognizerState::Changed) {
    setState(UIGestureRecognizerState::Cancelled);
    announce();
  }
  reset();
}

void UIGestureRecognizer::announce() {
  if (!pending_) return;
  pending_ = false;
  if (state_ == UIGestureRecognizerState::Began) began_ = true;
  auto keep = shared_from_this();
  auto actions = actions_;
  for (auto& action : actions) action(*this);
}

void UIGestureRecognizer::excludeByOther() {
  if (!watching(state_)) return;
  setState(UIGestureRecognizerState::Failed);
  announce();
}

CGPoint UIGestureRecognizer::locationInView(const UIView* view) const {
  return touch_ ? touch_->locationInView(view) : CGPoint{0, 0};
}

void UIGestureRecognizer::touchesBegan(const UITouchSet& touches, const UIEvent*) {
  if (!touches.empty()) touch_ = touches.front();
}
void UIGestureRecognizer::touchesMoved(const UITouchSet&, const UIEvent*) {}
void UIGestureRecognizer::touchesEnded(const UITouchSet&, const UIEvent*) {}
void UIGestureRecognizer::touchesCancelled(const UITouchSet&, const UIEvent*) {
  if (state_ == UIGestureRecognizerState::Began || state_ == UIGestureRecognizerState::Changed) {
    setState(UIGestureRecognizerState::Cancelled);
  } else if (state_ == UIGestureRecognizerState::Possible) {
    setState(UIGestureRecognizerState::Failed);
  }
}

void UIGestureRecognizer::reset() {
  state_ = UIGestureRecognizerState::Possible;
  touch_.reset();
  began_ = false;
  pending_ = false;
}

// ---- Touch delivery ----

void UIGestureTouchDelivery::began(const std::shared_ptr<UIView>& view, const UITouchRef& touch, const UIEvent& event) {
  finish();
  for (UIView* v = view.get(); v;) {
    for (const auto& r : v->gestureRecognizers()) {
      if (r->isEnabled()) recognizers_.push_back(r);
    }
    auto parent = v->superview();
    v = parent.get();
  }
  deliver(Phase::Began, touch, event);
}

void UIGestureTouchDelivery::moved(const UITouchRef& touch, const UIEvent& event) { deliver(Phase::Moved, touch, event); }

void UIGestureTouchDelivery::ended(const UITouchRef& touch, const UIEvent& event) {
  deliver(Phase::Ended, touch, event);
  finish();
}

void UIGestureTouchDelivery::cancelled(const UITouchRef& touch, const UIEvent& event) {
  deliver(Phase::Cancelled, touch, event);
  finish();
}

void UIGestureTouchDelivery::deliver(Phase phase, const UITouchRef& touch, const UIEvent& event) {
  const UITouchSet touches{touch};
  auto view = touch->view();
  auto list = recognizers_;  // an action may add or remove recognisers
  for (const auto& r : list) {
    if (!watching(r->state()) || !r->isEnabled()) continue;
    const bool wasRecognising = recognising(r->state());
    switch (phase) {
      case Phase::Began: r->touchesBegan(touches, &event); break;
      case Phase::Moved: r->touchesMoved(touches, &event); break;
      case Phase::Ended: r->touchesEnded(touches, &event); break;
      case Phase::Cancelled: r->touchesCancelled(touches, &event); break;
    }
    r->announce();
    if (wasRecognising || !recognising(r->state())) continue;
    // r has just recognised: the others watching this touch give way unless either allows both.
    for (const auto& other : list) {
      if (other == r || !watching(other->state())) continue;
      auto mine = r->delegate();
      auto theirs = other->delegate();
      bool together = (mine && mine->gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(*r, *other)) ||
                      (theirs && theirs->gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(*other, *r));
      if (!together) other->excludeByOther();
    }
    if (r->cancelsTouchesInView() && !viewCancelled_) {
      viewCancelled_ = true;
      if (view && phase != Phase::Cancelled) view->touchesCancelled(touches, &event);
    }
  }
  if (viewCancelled_ || !view) return;
  switch (phase) {
    case Phase::Began: view->touchesBegan(touches, &event); break;
    case Phase::Moved: view->touchesMoved(touches, &event); break;
    case Phase::Ended: view->touchesEnded(touches, &event); break;
    case Phase::Cancelled: view->touchesCancelled(touches, &event); break;
  }
}

void UIGestureTouchDelivery::finish() {
  auto list = std::move(recognizers_);
  recognizers_.clear();
  viewCancelled_ = false;
  for (const auto& r : list) {
    // A continuous gesture still running when the touch is over has lost its touch.
    if (r->state() == UIGestureRecognizerState::Began || r->state() == UIGestureRecognizerState::Changed) {
      r->setState(UIGestureRecognizerState::Cancelled);
      r->announce();
    }
    r->reset();
  }
}
