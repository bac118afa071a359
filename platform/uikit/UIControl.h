#pragma once
// Controls: views with a state (enabled, selected, highlighted) that track a touch and send
// actions to their targets for control events (touch down, touch up inside, value changed, ...).
// A target is held weakly: its action runs only while it lives. Actions run on the main thread,
// in the order they were added.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/uikit/UIView.h"

enum UIControlState : uint32_t {
  UIControlStateNormal = 0,
  UIControlStateHighlighted = 1 << 0,
  UIControlStateDisabled = 1 << 1,
  UIControlStateSelected = 1 << 2,
};

enum UIControlEvents : uint32_t {
  UIControlEventTouchDown = 1 << 0,
  UIControlEventTouchDownRepeat = 1 << 1,
  UIControlEventTouchDragInside = 1 << 2,
  UIControlEventTouchDragOutside = 1 << 3,
  UIControlEventTouchDragEnter = 1 << 4,
  UIControlEventTouchDragExit = 1 << 5,
  UIControlEventTouchUpInside = 1 << 6,
  UIControlEventTouchUpOutside = 1 << 7,
  UIControlEventTouchCancel = 1 << 8,
  UIControlEventValueChanged = 1 << 12,
  UIControlEventPrimaryActionTriggered = 1 << 13,
  UIControlEventAllTouchEvents = 0x0FFF,
  UIControlEventAllEvents = 0xFFFFFFFF,
};

class UIControl : public UIView {
 public:
  using UIView::UIView;

  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected);
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool highlighted);
  uint32_t state() const;

  // addTarget:action:forControlEvents: with a member function taking the sender (or nothing).
  template <class T, class Sender>
  void addTarget(const std::shared_ptr<T>& target, void (T::*action)(const std::shared_ptr<Sender>&), uint32_t events) {
    std::weak_ptr<T> weak = target;
    addAction(
        [weak, action](UIControl& sender) {
          if (auto t = weak.lock()) {
            auto typed = std::dynamic_pointer_cast<Sender>(sender.shared_from_this());
            ((*t).*action)(typed);
          }
        },
        events);
  }
  template <class T>
  void addTarget(const std::shared_ptr<T>& target, void (T::*action)(), uint32_t events) {
    std::weak_ptr<T> weak = target;
    addAction(
        [weak, action](UIControl&) {
          if (auto t = weak.lock()) ((*t).*action)();
        },
        events);
  }
  // An action block for the events.
  void addAction(std::function<void(UIControl&)> action, uint32_t events);
  // Runs the actions registered for any of the events.
  void sendActionsForControlEvents(uint32_t events);

  // Tracking (override to follow a touch; the base highlights while the touch is inside).
  virtual bool beginTrackingWithTouch(const UITouch& touch, const UIEvent* event);
  virtual bool continueTrackingWithTouch(const UITouch& touch, const UIEvent* event);
  virtual void endTrackingWithTouch(const UITouch* touch, const UIEvent* event);
  virtual void cancelTrackingWithEvent(const UIEvent* event);
  bool isTouchInside() const { return touchInside_; }

  void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
  void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
  void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;
  void touchesCancelled(const UITouchSet& touches, const UIEvent* event) override;

 protected:
  // Called after the state changed; the base redraws.
  virtual void stateDidChange() { setNeedsDisplay(); }

 private:
  struct Entry {
    std::function<void(UIControl&)> action;
    uint32_t events;
  };
  std::vector<Entry> actions_;
  bool enabled_ = true, selected_ = false, highlighted_ = false;
  bool tracking_ = false, touchInside_ = false;
};
