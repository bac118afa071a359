#pragma once
// Views: geometry (frame from centre, bounds and transform, as the phone computes it), the view
// tree, layout and display passes, coordinate conversion, hit testing and touch delivery.
// Content is drawn with Cairo into a backing image per view (drawRect:), or, for GL views, comes
// from their CAEAGLLayer's presented pixels; UICompositor puts a window together.
//
// Layout: a view is placed by its frame, by its autoresizing mask when its superview changes
// size, or by layout constraints (NSLayoutConstraint.h) when it does not translate the mask.
// Animations: changes of centre, size, alpha and transform made inside an animation block keep
// their new (model) values at once, while the compositor shows in-between (presentation) values
// along the animation's curve on the run loop's clock, so tests can step through them.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/graphics/CALayer.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/UIColor.h"
#include "platform/uikit/NSLayoutConstraint.h"
#include "platform/uikit/UITouch.h"

class UIView;
class UIWindow;
class UIViewController;
class UIGestureRecognizer;
using UIViewRef = std::shared_ptr<UIView>;

// Which margins and sizes follow the superview's size (UIViewAutoresizing).
enum UIViewAutoresizing : uint32_t {
  UIViewAutoresizingNone = 0,
  UIViewAutoresizingFlexibleLeftMargin = 1 << 0,
  UIViewAutoresizingFlexibleWidth = 1 << 1,
  UIViewAutoresizingFlexibleRightMargin = 1 << 2,
  UIViewAutoresizingFlexibleTopMargin = 1 << 3,
  UIViewAutoresizingFlexibleHeight = 1 << 4,
  UIViewAutoresizingFlexibleBottomMargin = 1 << 5,
};

// Animation options: the timing curve (bits 16-19) and flags.
enum UIViewAnimationOptions : uint32_t {
  UIViewAnimationOptionAllowUserInteraction = 1 << 1,
  UIViewAnimationOptionBeginFromCurrentState = 1 << 2,
  UIViewAnimationOptionCurveEaseInOut = 0 << 16,
  UIViewAnimationOptionCurveEaseIn = 1 << 16,
  UIViewAnimationOptionCurveEaseOut = 2 << 16,
  UIViewAnimationOptionCurveLinear = 3 << 16,
  UIViewAnimationOptionOverrideInheritedOptions = 1 << 9,
  UIViewAnimationOptionTransitionNone = 0 << 20,  // transitions (bits 20-23)
  UIViewAnimationOptionTransitionCrossDissolve = 5 << 20,
};

// A size component a view does not ask for (intrinsicContentSize).
inline constexpr double UIViewNoIntrinsicMetric = -1;

class UIView : public std::enable_shared_from_this<UIView> {
 public:
  UIView();
  explicit UIView(const CGRect& frame);  // initWithFrame:
  virtual ~UIView();
  UIView(const UIView&) = delete;
  UIView& operator=(const UIView&) = delete;

  // Geometry. The frame is derived from centre, bounds size and transform; setting it with a
  // non-identity transform keeps the transform and solves for the bounds size.
  CGRect frame() const;
  virtual void setFrame(const CGRect& frame);
  CGRect bounds() const { return bounds_; }
  virtual void setBounds(const CGRect& bounds);
  CGPoint center() const { return center_; }
  void setCenter(const CGPoint& center);
  CGAffineTransform transform() const { return transform_; }
  void setTransform(const CGAffineTransform& transform);

  bool isHidden() const { return hidden_; }
  // A stack view's size follows which of its views are shown: a change is an input of the layout.
  void setHidden(bool hidden) {
    if (hidden != hidden_) layoutInputsChanged();
    hidden_ = hidden;
  }
  double alpha() const { return alpha_; }
  void setAlpha(double alpha);  // clamped to 0..1; non-finite gives 1
  UIColorRef backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const UIColorRef& color);
  bool isOpaque() const { return layer()->isOpaque(); }
  void setOpaque(bool opaque) { layer()->setOpaque(opaque); }
  // The tint colour that template images and controls draw with: the view's own, else its
  // superview's, else the system's blue. Setting none returns to inheriting; the view and its
  // subviews redraw.
  UIColorRef tintColor() const;
  void setTintColor(UIColorRef color);
  bool clipsToBounds() const { return clipsToBounds_; }
  void setClipsToBounds(bool clips) { clipsToBounds_ = clips; }
  bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
  void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  // The view controller whose view this is (none for other views); set by the controller.
  std::shared_ptr<UIViewController> viewController() const { return viewController_.lock(); }
  void setViewController(const std::shared_ptr<UIViewController>& controller) { viewController_ = controller; }

  // Pixels per point of the view's content (the main screen's scale by default).
  double contentScaleFactor() const { return contentScaleFactor_; }

  // The backing layer, made on first use by layerClass().
  std::shared_ptr<CALayer> layer() const;

  // The tree.
  std::shared_ptr<UIView> superview() const { return superview_.lock(); }
  const std::vector<UIViewRef>& subviews() const { return subviews_; }
  // The window at the root of the tree, none when the view is not in one.
  std::shared_ptr<UIWindow> window() const;
  void addSubview(const UIViewRef& view);  // moves it to the front (last), from any former parent
  void insertSubview(const UIViewRef& view, size_t index);
  void bringSubviewToFront(const UIViewRef& view);
  void removeFromSuperview();
  bool isDescendantOfView(const UIView* view) const;

  // Layout.
  void setNeedsLayout() { needsLayout_ = true; }
  bool needsLayout() const { return needsLayout_; }
  // Solves the constraints of the subviews, lays out this view when marked (layoutSubviews), then
  // its subviews, depth first. The solve is skipped while nothing it reads has changed anywhere
  // since it last left every frame as it was (see layoutInputsChanged).
  void layoutIfNeeded();
  // Counts a change of anything a constraint solve reads: a view's centre, bounds, transform,
  // visibility or place in a tree, a constraint, or an intrinsic size that was read. Constraints
  // may tie views of different subtrees together, so one count serves every view.
  static void layoutInputsChanged();
  virtual void layoutSubviews() {}
  // The size the view's content asks for; UIViewNoIntrinsicMetric in a component it leaves free.
  virtual CGSize intrinsicContentSize() const { return {UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric}; }
  // Tells the layout that intrinsicContentSize changed.
  void invalidateIntrinsicContentSize();
 protected:
  // What invalidateIntrinsicContentSize does for a view whose last intrinsic size nobody read:
  // the view and its superview are laid out again, and no constraint solve needs to run again.
  void invalidateUnreadIntrinsicContentSize();
 public:
  // sizeThatFits: — the base answers the current size.
  virtual CGSize sizeThatFits(CGSize size) const;

  void setAutoresizingMask(uint32_t mask) { autoresizingMask_ = mask; }
  bool translatesAutoresizingMaskIntoConstraints() const { return translatesMask_; }
  void setTranslatesAutoresizingMaskIntoConstraints(bool translates);

  // Whether constraints that tie subviews to this view's own edges place them in a content area
  // (scroll views): leading and top edges then count from the content's origin, and trailing,
  // bottom, centre and size relations to this view do not size the subview (they size the content
  // instead). False for plain views.
  virtual bool constrainsSubviewsToContentArea() const { return false; }

  // Layout anchors (NSLayoutConstraint.h).
  NSLayoutAnchor leadingAnchor() { return {weak_from_this(), NSLayoutAttribute::Leading}; }
  NSLayoutAnchor trailingAnchor() { return {weak_from_this(), NSLayoutAttribute::Trailing}; }
  NSLayoutAnchor topAnchor() { return {weak_from_this(), NSLayoutAttribute::Top}; }
  NSLayoutAnchor bottomAnchor() { return {weak_from_this(), NSLayoutAttribute::Bottom}; }
  NSLayoutAnchor widthAnchor() { return {weak_from_this(), NSLayoutAttribute::Width}; }
  NSLayoutAnchor heightAnchor() { return {weak_from_this(), NSLayoutAttribute::Height}; }
  NSLayoutAnchor centerXAnchor() { return {weak_from_this(), NSLayoutAttribute::CenterX}; }
  NSLayoutAnchor centerYAnchor() { return {weak_from_this(), NSLayoutAttribute::CenterY}; }
  // The active constraints that name this view (as first or second item).
  std::vector<NSLayoutConstraintRef> constraints() const;
  // The same list without a copy, for a reader that changes no constraint while it reads (the
  // layout pass reads it for every view on every frame).
  const std::vector<NSLayoutConstraintRef>& constraintsForReading() const { return constraints_; }

  // ---- Animations ----
  // animateWithDuration:delay:options:animations:completion: — runs `animations` at once; the
  // changes it makes to views are shown moving from their former to their new values over
  // `duration` seconds after `delay`. The completion runs on the main run loop when the time is
  // over (with true), also when nothing was animated.
  static void animateWithDuration(double duration, double delay, uint32_t options, const std::function<void()>& animations,
                                  std::function<void(bool)> completion = {});
  static void animateWithDuration(double duration, const std::function<void()>& animations,
                                  std::function<void(bool)> completion = {});
  // usingSpringWithDamping:initialSpringVelocity: — a damped spring curve (damping ratio 0..1,
  // 1 without overshoot).
  static void animateWithDurationSpring(double duration, double delay, double damping, double velocity,
                                        uint32_t options, const std::function<void()>& animations,
                                        std::function<void(bool)> completion = {});
  // transitionFromView:toView:duration:options:completion: — puts `to` in the place of `from` in
  // from's superview and takes `from` out; with a cross-dissolve, `to` fades in over `from`
  // during `duration` and `from` leaves at the end. The completion runs on the main run loop.
  static void transitionFromView(const UIViewRef& from, const UIViewRef& to, double duration, uint32_t options,
                                 std::function<void(bool)> completion = {});
  // Changes made in the block are not animated, even inside an animation block.
  static void performWithoutAnimation(const std::function<void()>& block);
  // What is on screen now: the animated values at the clock's present time (the model values
  // when nothing is animating).
  CGPoint presentationCenter() const;
  CGSize presentationSize() const;
  double presentationAlpha() const;
  CGAffineTransform presentationTransform() const;
  CGRect presentationFrame() const;
  bool hasRunningAnimations() const;
  // Ends the view's animations at their final values.
  void removeAllAnimations();

  // Display.
  void setNeedsDisplay() { needsDisplay_ = true; }
  bool needsDisplay() const { return needsDisplay_; }
  // Draws the content into the current context (bounds coordinates, y down).
  virtual void drawRect(const CGRect& rect);
  // Redraws the backing image when marked; used by the compositor.
  void displayIfNeeded();
  // The backing image of the last display pass; none when the view draws nothing of its own.
  const CGBitmapContext* backingStore() const { return backing_.get(); }

  // Coordinates. A null view means the window (root) coordinates.
  CGPoint convertPointToView(CGPoint point, const UIView* view) const;
  CGPoint convertPointFromView(CGPoint point, const UIView* view) const;
  CGRect convertRectToView(const CGRect& rect, const UIView* view) const;
  // From this view's bounds coordinates to its superview's, and back.
  CGPoint pointToSuperview(CGPoint point) const;
  CGPoint pointFromSuperview(CGPoint point) const;

  // Hit testing: the deepest visible, interactive view containing the point (own coordinates).
  virtual UIViewRef hitTest(CGPoint point, const UIEvent* event);
  virtual bool pointInside(CGPoint point, const UIEvent* event) const;

  // Gesture recognisers (UIGestureRecognizer.h): they see the touches of this view and of its
  // subviews before the views themselves do.
  void addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
  void removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
  const std::vector<std::shared_ptr<UIGestureRecognizer>>& gestureRecognizers() const { return gestureRecognizers_; }

  // Touches; by default passed on to the superview (the next responder).
  virtual void touchesBegan(const UITouchSet& touches, const UIEvent* event);
  virtual void touchesMoved(const UITouchSet& touches, const UIEvent* event);
  virtual void touchesEnded(const UITouchSet& touches, const UIEvent* event);
  virtual void touchesCancelled(const UITouchSet& touches, const UIEvent* event);

 protected:
  // layerClass: the kind of backing layer (CALayer; GL views return a CAEAGLLayer).
  virtual std::shared_ptr<CALayer> makeLayer() const;
  virtual void didMoveToSuperview() {}
  virtual void willMoveToSuperview(UIView* /*newSuperview*/) {}

 private:
  void syncLayer() const;
  std::vector<const UIView*> ancestry() const;  // self first, root last
  // Converts `count` points in place, as convertPointToView does, the chains looked up once.
  void convertPointsToView(CGPoint* points, size_t count, const UIView* view) const;

  void applyCenter(CGPoint center);
  void applySize(CGSize size);
  void autoresizeSubviews(CGSize oldSize);
  void addConstraintReference(const NSLayoutConstraintRef& constraint);
  void removeConstraintReference(const NSLayoutConstraint* constraint);
  friend class NSLayoutConstraint;

  struct Animations;
  std::unique_ptr<Animations> animations_;
  std::vector<NSLayoutConstraintRef> constraints_;
  std::vector<std::shared_ptr<UIGestureRecognizer>> gestureRecognizers_;
  std::weak_ptr<UIViewController> viewController_;
  uint32_t autoresizingMask_ = UIViewAutoresizingNone;
  bool translatesMask_ = true;
  // The count of layout inputs at this view's last solve that changed no frame; 0: solve again.
  uint64_t solvedAt_ = 0;

  CGPoint center_{};
  CGRect bounds_{};
  CGAffineTransform transform_{};
  bool hidden_ = false;
  double alpha_ = 1;
  UIColorRef backgroundColor_;
  UIColorRef tintColor_;
  bool clipsToBounds_ = false;
  bool userInteractionEnabled_ = true;
  int tag_ = 0;
  double contentScaleFactor_;
  mutable std::shared_ptr<CALayer> layer_;
  std::weak_ptr<UIView> superview_;
  std::vector<UIViewRef> subviews_;
  bool needsLayout_ = true;
  bool needsDisplay_ = true;
  bool drawsNothing_ = false;  // drawRect: is the base one: no backing image is kept
  bool baseDrawCalled_ = false;
  std::unique_ptr<CGBitmapContext> backing_;
};
