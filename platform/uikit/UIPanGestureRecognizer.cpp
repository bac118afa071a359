#include "platform/uikit/UIPanGestureRecognizer.h"

#include <cmath>

#include "platform/uikit/UIView.h"

namespace {
CGPoint toView(CGPoint windowPoint, const UIView* view) {
  return view ? view->convertPointFromView(windowPoint, nullptr) : windowPoint;
}
}  // namespace

void UIPanGestureRecognizer::sample() {
  const auto& touch = currentTouch();
  if (!touch) return;
  samples_.push_back({touch->windowLocation(), touch->timestamp()});
  // Only the recent past matters for the velocity.
  while (samples_.size() > 2 && samples_.back().time - samples_[1].time > kVelocityWindow) samples_.pop_front();
}

void UIPanGestureRecognizer::touchesBegan(const UITouchSet& touches, const UIEvent* event) {
  UIGestureRecognizer::touchesBegan(touches, event);
  samples_.clear();
  if (const auto& touch = currentTouch()) startWindow_ = touch->windowLocation();
  sample();
}

void UIPanGestureRecognizer::touchesMoved(const UITouchSet& touches, const UIEvent* event) {
  UIGestureRecognizer::touchesMoved(touches, event);
  sample();
  const auto& touch = currentTouch();
  if (!touch) return;
  if (state() == UIGestureRecognizerState::Possible) {
    CGPoint p = touch->windowLocation();
    if (std::hypot(p.x - startWindow_.x, p.y - startWindow_.y) > kHysteresis) setState(UIGestureRecognizerState::Began);
  } else if (state() == UIGestureRecognizerState::Began || state() == UIGestureRecognizerState::Changed) {
    setState(UIGestureRecognizerState::Changed);
  }
}

void UIPanGestureRecognizer::touchesEnded(const UITouchSet& touches, const UIEvent* event) {
  UIGestureRecognizer::touchesEnded(touches, event);
  sample();
  if (state() == UIGestureRecognizerState::Began || state() == UIGestureRecognizerState::Changed) {
    setState(UIGestureRecognizerState::Ended);
  } else if (state() == UIGestureRecognizerState::Possible) {
    setState(UIGestureRecognizerState::Failed);
  }
}

void UIPanGestureRecognizer::reset() {
  UIGestureRecognizer::reset();
  samples_.clear();
}

CGPoint UIPanGestureRecognizer::translationInView(const UIView* view) const {
  CGPoint now = toView(locationInView(nullptr), view);
  CGPoint start = toView(startWindow_, view);
  return {now.x - start.x, now.y - start.y};
}

void UIPanGestureRecognizer::setTranslation(CGPoint translation, const UIView* view) {
  CGPoint now = toView(locationInView(nullptr), view);
  CGPoint start{now.x - translation.x, now.y - translation.y};
  startWindow_ = view ? view->convertPointToView(start, nullptr) : start;
}

CGPoint UIPanGestureRecognizer::velocityInView(const UIView* view) const {
  if (samples_.size() < 2) return {0, 0};
  const Sample& last = samples_.back();
  // The oldest sample within the window before the last one.
  const Sample* first = &last;
  for (auto it = samples_.rbegin(); it != samples_.rend(); ++it) {
    if (last.time - it->time > kVelocityWindow) break;
    first = &*it;
  }
  const double dt = last.time - first->time;
  if (!(dt > 0) || !std::isfinite(dt)) return {0, 0};
  CGPoint a = toView(first->window, view), b = toView(last.window, view);
  return {(b.x - a.x) / dt, (b.y - a.y) / dt};
}
