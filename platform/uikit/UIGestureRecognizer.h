#pragma once
// Gesture recognisers: objects attached to a view (addGestureRecognizer) that watch the touches
// of that view and of its subviews and turn them into a gesture: a tap, a pan. They see each touch
// before the view it was made on; once a recogniser recognises its gesture, that view's touch is
// cancelled (touchesCancelled) and the rest of it goes to the recogniser alone.
//
// States follow the platform: Possible, then for a discrete gesture (tap) Ended ("recognised") or
// Failed; for a continuous one (pan) Began, Changed..., Ended or Cancelled, or Failed before it
// began. Before leaving Possible for Began or Ended the recogniser asks its delegate
// (gestureRecognizerShouldBegin); a no makes it fail. When one recogniser begins, every other one
// still watching the same touch fails (or, had it begun, is cancelled) unless either one's
// delegate allows the two to recognise simultaneously. When the touch is over, every recogniser
// returns to Possible (reset).
//
// Actions go to the targets after the recogniser has handled a touch event, once per state
// reached (Changed: once per event that moved the gesture). A target is held weakly. An exception
// from an action propagates to the caller of the touch (the window host logs it). Main thread only.
#include <functional>
#include <memory>
#include <vector>

#include "platform/graphics/CGGeometry.h"
#include "platform/uikit/UITouch.h"

class UIView;
class UIGestureRecognizer;

enum class UIGestureRecognizerState { Possible, Began, Changed, Ended, Cancelled, Failed };
inline constexpr UIGestureRecognizerState UIGestureRecognizerStateRecognized = UIGestureRecognizerState::Ended;

// The delegate's questions; both optional (the defaults are the platform's answers).
class UIGestureRecognizerDelegate {
 public:
  virtual ~UIGestureRecognizerDelegate() = default;
  virtual bool gestureRecognizerShouldBegin(UIGestureRecognizer& recognizer) { return true; }
  virtual bool gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(UIGestureRecognizer& recognizer,
                                                                                 UIGestureRecognizer& other) {
    return false;
  }
};

class UIGestureRecognizer : public std::enable_shared_from_this<UIGestureRecognizer> {
 public:
  UIGestureRecognizer() = default;
  virtual ~UIGestureRecognizer() = default;
  UIGestureRecognizer(const UIGestureRecognizer&) = delete;
  UIGestureRecognizer& operator=(const UIGestureRecognizer&) = delete;

  // initWithTarget:action: / addTarget:action: — a member function taking the recogniser.
  template <class T>
  void addTarget(const std::shared_ptr<T>& target, void (T::*action)(UIGestureRecognizer&)) {
    std::weak_ptr<T> weak = target;
    addAction([weak, action](UIGestureRecognizer& r) {
      if (auto t = weak.lock()) ((*t).*action)(r);
    });
  }
  void addAction(std::function<void(UIGestureRecognizer&)> action) { actions_.push_back(std::move(action)); }

  UIGestureRecognizerState state() const { return state_; }
  // Used by subclasses while they handle touches, as the platform's subclasses do. Began and Ended
  // out of Possible ask the delegate first. Failed after the gesture began (and its Began was
  // sent) cancels it instead: a gesture that has begun cannot fail.
  void setState(UIGestureRecognizerState state);

  std::shared_ptr<UIGestureRecognizerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<UIGestureRecognizerDelegate>& delegate) { delegate_ = delegate; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  // Whether the touch's view has its touch cancelled once the gesture is recognised (default yes).
  bool cancelsTouchesInView() const { return cancelsTouchesInView_; }
  void setCancelsTouchesInView(bool cancels) { cancelsTouchesInView_ = cancels; }

  // The view it is attached to.
  std::shared_ptr<UIView> view() const { return view_.lock(); }
  // Where the touch is now, in a view's coordinates (the window's for none).
  CGPoint locationInView(const UIView* view) const;

  // Touch handling (subclasses override, calling the base first).
  virtual void touchesBegan(const UITouchSet& touches, const UIEvent* event);
  virtual void touchesMoved(const UITouchSet& touches, const UIEvent* event);
  virtual void touchesEnded(const UITouchSet& touches, const UIEvent* event);
  virtual void touchesCancelled(const UITouchSet& touches, const UIEvent* event);
  // Back to Possible when the touch is over; subclasses forget their per-gesture state.
  virtual void reset();

  // Used by the view it is attached to.
  void attachToView(const std::shared_ptr<UIView>& view) { view_ = view; }

 protected:
  const UITouchRef& currentTouch() const { return touch_; }

 private:
  friend class UIGestureTouchDelivery;
  bool askDelegateToBegin();
  // Sends the actions for the state reached, when there is one to announce.
  void announce();
  // Another recogniser took the touch: fail, or cancel when already begun.
  void excludeByOther();
  std::vector<std::function<void(UIGestureRecognizer&)>> actions_;
  std::weak_ptr<UIGestureRecognizerDelegate> delegate_;
  std::weak_ptr<UIView> view_;
  UITouchRef touch_;
  UIGestureRecognizerState state_ = UIGestureRecognizerState::Possible;
  bool enabled_ = true;
  bool cancelsTouchesInView_ = true;
  bool began_ = false;    // Began was announced: the gesture can only end or be cancelled now
  bool pending_ = false;  // a state waits to be announced to the targets
};
using UIGestureRecognizerRef = std::shared_ptr<UIGestureRecognizer>;

// The touch delivery of one window: the recognisers of the touched view and its ancestors see each
// phase first; the view gets the phase unless a recogniser took the touch. Used by UIWindow.
class UIGestureTouchDelivery {
 public:
  void began(const std::shared_ptr<UIView>& view, const UITouchRef& touch, const UIEvent& event);
  void moved(const UITouchRef& touch, const UIEvent& event);
  void ended(const UITouchRef& touch, const UIEvent& event);
  void cancelled(const UITouchRef& touch, const UIEvent& event);

 private:
  enum class Phase { Began, Moved, Ended, Cancelled };
  void deliver(Phase phase, const UITouchRef& touch, const UIEvent& event);
  void finish();
  std::vector<UIGestureRecognizerRef> recognizers_;
  bool viewCancelled_ = false;
};
