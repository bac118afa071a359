#include "platform/uikit/UIControl.h"

#include <algorithm>

void UIControl::setEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  stateDidChange();
}

void UIControl::setSelected(bool selected) {
  if (selected_ == selected) return;
  selected_ = selected;
  stateDidChange();
}

void UIControl::setHighlighted(bool highlighted) {
  if (highlighted_ == highlighted) return;
  highlighted_ = highlighted;
  stateDidChange();
}

uint32_t UIControl::state() const {
  uint32_t s = UIControlStateNormal;
  if (highlighted_) s |= UIControlStateHighlighted;
  if (!enabled_) s |= UIControlStateDisabled;
  if (selected_) s |= UIControlStateSelected;
  return s;
}

void UIControl::addAction(std::function<void(UIControl&)> action, uint32_t events) {
  if (!action || events == 0) return;
  actions_.push_back({std::move(action), events});
}

void UIControl::sendActionsForControlEvents(uint32_t events) {
  auto keep = shared_from_this();
  // A copy: an action may add or remove actions.
  auto entries = actions_;
  for (const auto& e : entries) {
    if (e.events & events) e.action(*this);
  }
}

bool UIControl::beginTrackingWithTouch(const UITouch&, const UIEvent*) { return true; }
bool UIControl::continueTrackingWithTouch(const UITouch&, const UIEvent*) { return true; }
void UIControl::endTrackingWithTouch(const UITouch*, const UIEvent*) {}
void UIControl::cancelTrackingWithEvent(const UIEvent*) {}

void UIControl::touchesBegan(const UITouchSet& touches, const UIEvent* event) {
  if (!enabled_ || touches.empty()) return;
  auto keep = shared_from_this();
  touchInside_ = true;
  tracking_ = beginTrackingWithTouch(*touches.front(), event);
  setHighlighted(true);
  sendActionsForControlEvents(UIControlEventTouchDown);
}

void UIControl::touchesMoved(const UITouchSet& touches, const UIEvent* event) {
  if (!enabled_ || touches.empty()) return;
  auto keep = shared_from_this();
  const UITouch& touch = *touches.front();
  bool inside = pointInside(touch.locationInView(this), event);
  bool wasInside = touchInside_;
  touchInside_ = inside;
  setHighlighted(inside);
  if (tracking_) tracking_ = continueTrackingWithTouch(touch, event);
  uint32_t events = inside ? UIControlEventTouchDragInside : UIControlEventTouchDragOutside;
  if (inside != wasInside) events |= inside ? UIControlEventTouchDragEnter : UIControlEventTouchDragExit;
  sendActionsForControlEvents(events);
}

void UIControl::touchesEnded(const UITouchSet& touches, const UIEvent* event) {
  if (!enabled_ || touches.empty()) return;
  auto keep = shared_from_this();
  const UITouch& touch = *touches.front();
  bool inside = pointInside(touch.locationInView(this), event);
  touchInside_ = inside;
  if (tracking_) endTrackingWithTouch(&touch, event);
  tracking_ = false;
  setHighlighted(false);
  sendActionsForControlEvents(inside ? (UIControlEventTouchUpInside | UIControlEventPrimaryActionTriggered)
                                     : UIControlEventTouchUpOutside);
}

void UIControl::touchesCancelled(const UITouchSet&, const UIEvent* event) {
  auto keep = shared_from_this();
  if (tracking_) cancelTrackingWithEvent(event);
  tracking_ = false;
  touchInside_ = false;
  setHighlighted(false);
  sendActionsForControlEvents(UIControlEventTouchCancel);
}
