#pragma once
// The side-menu container: the application's root controller. It holds up to three children: a
// front controller (the analyser screen inside its navigation controller, or whichever screen the
// side menu puts in front), a rear controller uncovered on the left and a right controller
// uncovered on the right (the application's side menu). The front view slides sideways over the
// two panels; where it stands is the front-view position (FrontViewPosition).
//
// Every animated change after the view has loaded (position changes, pushes, replacements, a drag
// in progress) runs through one animation queue, one block at a time, each once. The pan and tap
// gesture recognisers exist only once something asks for them (SideMenuController+Gestures.cpp).
// State restoration writes and reads the configuration, the children and the position.
//
// Values that would make the layout or the animations degenerate are taken safely wherever they
// are used, configured or restored: a panel width that leaves no room lays the panel out at its
// resting place, a duration that is not a positive finite number (or is longer than
// kMaxAnimationDuration) changes at once, and a flick velocity that is not a positive number
// counts as no flick. The children's appearance calls follow their views into and out of the
// window. Main thread only.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/uikit/UIGestureRecognizer.h"
#include "platform/uikit/UIPanGestureRecognizer.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UITapGestureRecognizer.h"
#include "platform/uikit/UIViewController.h"
#include "platform/uikit/UIViewControllerTransitioning.h"

class SideMenuController;
class SideMenuView;

using FrontViewPosition = int64_t;
inline constexpr FrontViewPosition PositionRightRemoved = 0;
inline constexpr FrontViewPosition PositionRightMost = 1;
inline constexpr FrontViewPosition PositionRight = 2;
inline constexpr FrontViewPosition PositionClosed = 3;
inline constexpr FrontViewPosition PositionRear = 4;
inline constexpr FrontViewPosition PositionRearMost = 5;
inline constexpr FrontViewPosition PositionRearRemoved = 6;
inline constexpr FrontViewPosition PositionNone = 255;

// Which child a replacement concerns; any other value concerns none.
using TransitionOperation = int64_t;
inline constexpr TransitionOperation OperationNone = 0;
inline constexpr TransitionOperation OperationRear = 1;
inline constexpr TransitionOperation OperationFront = 2;
inline constexpr TransitionOperation OperationRight = 3;

enum ToggleAnimationType : int64_t { AnimationSpring = 0, AnimationEaseOut = 1 };

// What the container tells its delegate; every operation is optional (the defaults do nothing,
// and the "answers..." functions say which ones a delegate implements, as the platform's
// respondsToSelector: would).
class SideMenuControllerDelegate {
 public:
  virtual ~SideMenuControllerDelegate() = default;
  virtual void willMoveToPosition(SideMenuController&, FrontViewPosition) {}
  virtual void didMoveToPosition(SideMenuController&, FrontViewPosition) {}
  virtual void animateToPosition(SideMenuController&, FrontViewPosition) {}
  virtual void willAddViewController(SideMenuController&, const UIViewControllerRef&, TransitionOperation, bool) {}
  virtual void didAddViewController(SideMenuController&, const UIViewControllerRef&, TransitionOperation, bool) {}
  // An animation object for an animated replacement; none means the default one.
  virtual UIViewControllerAnimatedTransitioningRef animationControllerForOperation(SideMenuController&,
                                                                                   TransitionOperation,
                                                                                   const UIViewControllerRef& from,
                                                                                   const UIViewControllerRef& to) {
    return nullptr;
  }
  // Gesture veto and simultaneous recognition (answered only when answersX says so).
  virtual bool panGestureShouldBegin(SideMenuController&) { return true; }
  virtual bool answersPanGestureShouldBegin() const { return false; }
  virtual bool tapGestureShouldBegin(SideMenuController&) { return true; }
  virtual bool answersTapGestureShouldBegin() const { return false; }
  virtual bool panGestureRecognizerShouldRecognizeSimultaneously(SideMenuController&, UIGestureRecognizer&) { return false; }
  virtual bool tapGestureRecognizerShouldRecognizeSimultaneously(SideMenuController&, UIGestureRecognizer&) { return false; }
  // Drag progress: location is the front view's x; progress = location / panel width on its
  // side; overdraw progress = (location - width) / overdraw. The variants with overdraw progress
  // are used when the delegate answers them, else the ones without.
  virtual void panGestureBegan(SideMenuController&) {}
  virtual void panGestureEnded(SideMenuController&) {}
  virtual bool answersOverProgress() const { return false; }
  virtual void panGestureBeganFromLocation(SideMenuController&, double location, double progress, double overProgress) {}
  virtual void panGestureBeganFromLocation(SideMenuController&, double location, double progress) {}
  virtual void panGestureMovedToLocation(SideMenuController&, double location, double progress, double overProgress) {}
  virtual void panGestureMovedToLocation(SideMenuController&, double location, double progress) {}
  virtual void panGestureEndedToLocation(SideMenuController&, double location, double progress, double overProgress) {}
  virtual void panGestureEndedToLocation(SideMenuController&, double location, double progress) {}
};

class SideMenuController : public UIViewController, public UIGestureRecognizerDelegate {
 public:
  // Durations beyond this change over this long: a queued change always ends.
  static constexpr double kMaxAnimationDuration = 10;

  // initWithRearViewController:frontViewController: (init is this with none); the storyboard
  // makes it with the defaults only.
  SideMenuController();
  static std::shared_ptr<SideMenuController> initWithRearViewController(const UIViewControllerRef& rear,
                                                                        const UIViewControllerRef& front);

  // ---- Children ----
  UIViewControllerRef rearViewController() const { return rearViewController_; }
  UIViewControllerRef frontViewController() const { return frontViewController_; }
  UIViewControllerRef rightViewController() const { return rightViewController_; }
  void setRearViewController(const UIViewControllerRef& vc, bool animated = false);
  void setFrontViewController(const UIViewControllerRef& vc, bool animated = false);
  void setRightViewController(const UIViewControllerRef& vc, bool animated = false);
  // The menu opens fully, the new screen replaces the old under it, and the front slides closed.
  void pushFrontViewController(const UIViewControllerRef& vc, bool animated);

  // ---- Positions ----
  FrontViewPosition frontViewPosition() const { return frontViewPosition_; }
  FrontViewPosition rearViewPosition() const { return rearViewPosition_; }
  FrontViewPosition rightViewPosition() const { return rightViewPosition_; }
  void setFrontViewPosition(FrontViewPosition position, bool animated = false);
  void panelToggleAnimated(bool animated);
  void rightPanelToggleAnimated(bool animated);
  // Actions with a sender (toggle, animated).
  void panelToggle(const std::shared_ptr<UIView>& sender = nullptr) { panelToggleAnimated(true); }
  void rightPanelToggle(const std::shared_ptr<UIView>& sender = nullptr) { rightPanelToggleAnimated(true); }

  // ---- Configuration (lengths in points, durations in seconds) ----
  double rearViewPanelWidth = 260;
  double rightViewPanelWidth = 260;
  double rearViewPanelOverdraw = 60;
  double rightViewPanelOverdraw = 60;
  double rearViewPanelDisplacement = 40;
  double rightViewPanelDisplacement = 40;
  double draggableBorderWidth = 0;
  bool bounceBackOnOverdraw = true;
  bool bounceBackOnLeftOverdraw = true;
  bool stableDragOnOverdraw = false;
  bool stableDragOnLeftOverdraw = false;
  bool presentFrontViewHierarchically = false;
  double quickFlickVelocity = 250;  // points per second
  double toggleAnimationDuration = 0.3;
  ToggleAnimationType toggleAnimationType = AnimationSpring;
  double springDampingRatio = 1.0;
  double replaceViewAnimationDuration = 0.25;
  std::weak_ptr<SideMenuControllerDelegate> delegate;

  // The front view's shadow; setting one reloads it.
  double frontViewShadowRadius() const { return frontViewShadowRadius_; }
  void setFrontViewShadowRadius(double radius);
  CGSize frontViewShadowOffset() const { return frontViewShadowOffset_; }
  void setFrontViewShadowOffset(CGSize offset);
  double frontViewShadowOpacity() const { return frontViewShadowOpacity_; }
  void setFrontViewShadowOpacity(double opacity);
  UIColorRef frontViewShadowColor() const { return frontViewShadowColor_; }
  void setFrontViewShadowColor(UIColorRef color);
  bool clipsViewsToBounds() const { return clipsViewsToBounds_; }
  void setClipsViewsToBounds(bool clips);
  // Whether a touch outside the container's bounds still hits the side and front views.
  bool extendsPointInsideHit = false;

  // ---- Appearance ----
  // The child whose view decides the status bar: rear when it is open, front when closed, right
  // when the right panel is open.
  UIViewControllerRef childViewControllerForStatusBarStyle() const;
  UIViewControllerRef childViewControllerForStatusBarHidden() const { return childViewControllerForStatusBarStyle(); }
  uint32_t supportedInterfaceOrientations() const override { return UIInterfaceOrientationMaskLandscape; }

  // ---- Gestures (made on first access, added to the front view) ----
  std::shared_ptr<UIPanGestureRecognizer> panGestureRecognizer();
  std::shared_ptr<UITapGestureRecognizer> tapGestureRecognizer();
  bool gestureRecognizerShouldBegin(UIGestureRecognizer& recognizer) override;
  bool gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(UIGestureRecognizer& recognizer,
                                                                         UIGestureRecognizer& other) override;

  // ---- View life cycle ----
  void loadView() override;
  void viewDidAppear(bool animated) override;
  std::shared_ptr<SideMenuView> contentView() const { return contentView_; }

  // ---- State restoration ----
  void encodeRestorableStateWithCoder(NSCoder& coder) override;
  void decodeRestorableStateWithCoder(NSCoder& coder) override;
  // viewControllerWithRestorationIdentifierPath:coder: — the storyboard's "SideMenuController"
  // scene with the path's last identifier; none without a storyboard.
  static std::shared_ptr<SideMenuController> viewControllerWithRestorationIdentifierPath(
      const std::vector<std::string>& path, const std::shared_ptr<UIStoryboard>& storyboard);

  // ---- What the content view and the gestures use ----
  // The side values (panel width with a negative width taken from the content width, overdraw,
  // bounce back, stable drag) of symmetry +1 (rear) or -1 (right), made safe for arithmetic.
  struct Side {
    double width, overdraw, displacement;
    bool bounceBack, stableDrag;
  };
  Side side(int symmetry) const;
  // How many blocks wait in (or run from) the animation queue.
  size_t queuedAnimationCount() const { return animationQueue_.size(); }
  // A duration made safe: not positive or not finite gives 0, beyond kMaxAnimationDuration gives that.
  static double safeDuration(double seconds);

  // Used by the segues and the look-up.
  void performTransitionOperation(TransitionOperation operation, const UIViewControllerRef& vc, bool animated,
                                  uint64_t queueSlot = 0);

 private:
  friend class SideMenuView;
  friend class SideMenuTransitionContext;
  using Completion = std::function<void()>;
  struct QueueEntry {
    uint64_t id;
    std::function<void(uint64_t id)> block;
  };

  void setDefaults();
  std::shared_ptr<SideMenuController> self() {
    return std::static_pointer_cast<SideMenuController>(shared_from_this());
  }
  void loadStoryboardControllers();

  // The animation queue: a block is put at the front and runs at once when it is the only one;
  // each block ends by dequeuing its own entry (dequeue), which runs the next. Returns the entry.
  uint64_t enqueue(std::function<void(uint64_t id)> block);
  void dequeue(uint64_t id);

  void setFrontViewPositionWithDuration(FrontViewPosition position, double duration, uint64_t queueSlot);
  Completion rearViewDeploymentForNewFrontViewPosition(FrontViewPosition position);
  Completion rightViewDeploymentForNewFrontViewPosition(FrontViewPosition position);
  Completion frontViewDeploymentForNewFrontViewPosition(FrontViewPosition position);
  Completion deploymentForViewController(const UIViewControllerRef& vc, const UIViewRef& inView, bool appear,
                                         bool disappear);
  Completion deployForViewController(const UIViewControllerRef& vc, const UIViewRef& inView);
  Completion undeployForViewController(const UIViewControllerRef& vc);
  Completion transitionFromViewController(const UIViewControllerRef& from, const UIViewControllerRef& to,
                                          const UIViewRef& inView, bool animated);
  // Whether the container's view is on screen, so that children's appearance calls are due.
  bool childrenAppear() const;
  void restoreUserInteraction();
  void disableUserInteraction();

  // Gestures (SideMenuController+Gestures.cpp).
  void handlePanelGesture(UIGestureRecognizer& recognizer);
  void handleTapGesture(UIGestureRecognizer& recognizer);
  void handleRevealGestureStateBegan(UIPanGestureRecognizer& recognizer);
  void handleRevealGestureStateChanged(UIPanGestureRecognizer& recognizer);
  void handleRevealGestureStateEnded(UIPanGestureRecognizer& recognizer);
  void handleRevealGestureStateCancelled(UIPanGestureRecognizer& recognizer);
  bool panGestureShouldBegin();
  bool tapGestureShouldBegin();
  void notifyPanGestureBegan();
  void notifyPanGestureMoved();
  void notifyPanGestureEnded();
  void dragValues(double* location, double* progress, double* overProgress) const;

  UIViewControllerRef rearViewController_, frontViewController_, rightViewController_;
  FrontViewPosition frontViewPosition_ = PositionClosed;
  FrontViewPosition rearViewPosition_ = PositionClosed;
  FrontViewPosition rightViewPosition_ = PositionClosed;
  FrontViewPosition panInitialFrontPosition_ = PositionClosed;
  double frontViewShadowRadius_ = 2.5;
  CGSize frontViewShadowOffset_{0, 2.5};
  double frontViewShadowOpacity_ = 1.0;
  UIColorRef frontViewShadowColor_;
  bool clipsViewsToBounds_ = false;
  bool userInteractionStore_ = true;
  std::shared_ptr<SideMenuView> contentView_;
  std::shared_ptr<UIPanGestureRecognizer> panGestureRecognizer_;
  std::shared_ptr<UITapGestureRecognizer> tapGestureRecognizer_;
  std::vector<QueueEntry> animationQueue_;  // front: newest; back: the block running
  uint64_t nextQueueId_ = 1;
  uint64_t panPlaceholder_ = 0;  // the queue entry a drag in progress holds
};

// The look-up every controller has: the nearest side-menu container among its parents (the
// receiver itself not counted); none when there is none.
std::shared_ptr<SideMenuController> sideMenuController(const UIViewController& controller);
