#pragma once
// Custom transitions between two child controllers of a container: the container describes the
// transition through a context (which controllers, in which view, and how to report the end) and
// an animation object animates it, calling completeTransition when it is done. Main thread only.
#include <memory>
#include <string>

#include "platform/uikit/UIViewController.h"

inline constexpr const char* UITransitionContextFromViewControllerKey = "UITransitionContextFromViewControllerKey";
inline constexpr const char* UITransitionContextToViewControllerKey = "UITransitionContextToViewControllerKey";
inline constexpr const char* UITransitionContextFromViewKey = "UITransitionContextFromViewKey";
inline constexpr const char* UITransitionContextToViewKey = "UITransitionContextToViewKey";

// UIModalPresentationNone: the transition is not a presentation.
inline constexpr int UIModalPresentationNone = -1;

class UIViewControllerContextTransitioning {
 public:
  virtual ~UIViewControllerContextTransitioning() = default;
  // The view in which the transition takes place.
  virtual UIViewRef containerView() const = 0;
  virtual bool isAnimated() const = 0;
  virtual bool isInteractive() const = 0;
  virtual bool transitionWasCancelled() const = 0;
  virtual int presentationStyle() const = 0;
  virtual void updateInteractiveTransition(double percentComplete) = 0;
  virtual void finishInteractiveTransition() = 0;
  virtual void cancelInteractiveTransition() = 0;
  // Called by the animation object when the transition is over.
  virtual void completeTransition(bool didComplete) = 0;
  virtual UIViewControllerRef viewControllerForKey(const std::string& key) const = 0;
  virtual UIViewRef viewForKey(const std::string& key) const = 0;
  virtual CGAffineTransform targetTransform() const = 0;
  virtual CGRect initialFrameForViewController(const UIViewControllerRef& controller) const = 0;
  virtual CGRect finalFrameForViewController(const UIViewControllerRef& controller) const = 0;
};
using UIViewControllerContextTransitioningRef = std::shared_ptr<UIViewControllerContextTransitioning>;

class UIViewControllerAnimatedTransitioning {
 public:
  virtual ~UIViewControllerAnimatedTransitioning() = default;
  // Seconds the transition takes in the context; 0 or less: none (the container completes at once).
  virtual double transitionDuration(const UIViewControllerContextTransitioningRef& context) const = 0;
  virtual void animateTransition(const UIViewControllerContextTransitioningRef& context) = 0;
};
using UIViewControllerAnimatedTransitioningRef = std::shared_ptr<UIViewControllerAnimatedTransitioning>;
