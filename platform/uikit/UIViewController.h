#pragma once
// View controllers: each owns one view, made on first use (from its storyboard scene, or a plain
// view of the screen's size), and hears the view's life cycle: viewDidLoad once, then
// viewWillAppear/viewDidAppear and viewWillDisappear/viewDidDisappear as it is shown and hidden.
// Controllers nest (children of containers such as navigation controllers) and present others
// modally over the window. Main thread only.
//
// Appearance calls reach a controller once per change: a controller that already appeared does
// not hear viewWillAppear again until it has disappeared. Containers forward them to the
// children whose views they show.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/uikit/UINavigationItem.h"
#include "platform/uikit/UIKeyInput.h"
#include "platform/uikit/UIView.h"

class NSCoder;
class UINavigationController;
class UIStoryboard;
class UIStoryboardSegue;
class UIViewController;
using UIViewControllerRef = std::shared_ptr<UIViewController>;

enum UIInterfaceOrientationMask : uint32_t {
  UIInterfaceOrientationMaskPortrait = 1 << 1,
  UIInterfaceOrientationMaskLandscapeLeft = 1 << 4,
  UIInterfaceOrientationMaskLandscapeRight = 1 << 3,
  UIInterfaceOrientationMaskLandscape = (1 << 3) | (1 << 4),
  UIInterfaceOrientationMaskAll = (1 << 1) | (1 << 2) | (1 << 3) | (1 << 4),
};

// How a presented controller covers the window: FullScreen hides the presenter (it disappears);
// OverFullScreen lays the presented view over it, the presenter staying on screen and visible
// (alerts); it fades in and out instead of sliding.
enum class UIModalPresentationStyle { FullScreen, OverFullScreen };

class UIViewController : public std::enable_shared_from_this<UIViewController> {
 public:
  UIViewController();
  virtual ~UIViewController();
  UIViewController(const UIViewController&) = delete;
  UIViewController& operator=(const UIViewController&) = delete;

  // ---- The view ----
  // The view, loaded on first use (loadView, then viewDidLoad).
  UIViewRef view();
  bool isViewLoaded() const { return view_ != nullptr; }
  void setView(UIViewRef view);
  void loadViewIfNeeded() { view(); }
  // Makes the view: the storyboard scene's builder when the controller came from a storyboard,
  // else a plain view of the main screen's bounds. Overrides set the view with setView.
  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool animated) {}
  virtual void viewDidAppear(bool animated) {}
  virtual void viewWillDisappear(bool animated) {}
  virtual void viewDidDisappear(bool animated) {}
  // The desktop never runs short of memory the way a phone does, so nothing sends this; screens
  // that have nothing to free keep the base's empty answer.
  virtual void didReceiveMemoryWarning() {}
  // Return or Escape typed while a text field of this controller's view is being edited, offered
  // to the controller before the field: true when the controller took it (the field then does
  // nothing more). While no field is being edited, the controller in front hears them here.
  // By default it takes none.
  virtual bool performKeyCommand(UIKeyCommand key) { return false; }

  // Appearance transitions, used by containers and presentation: begin calls viewWill…, end
  // calls viewDid…; repeated calls for the state already reached are ignored.
  void beginAppearanceTransition(bool isAppearing, bool animated);
  void endAppearanceTransition();
  enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };
  // Whether the view is on screen (appeared or appearing).
  bool isVisible() const { return appearance_ == Appearance::Appeared || appearance_ == Appearance::Appearing; }
  // Containers that forward appearance themselves answer false; the base forwards to children
  // whose views lie in its view.
  virtual bool shouldAutomaticallyForwardAppearanceMethods() const { return true; }

  // ---- Containment ----
  std::shared_ptr<UIViewController> parentViewController() const { return parent_.lock(); }
  // addChildViewController: — calls willMoveToParentViewController on the child; the caller adds
  // the child's view and then calls didMoveToParentViewController.
  void addChildViewController(const UIViewControllerRef& child);
  // removeFromParentViewController: — calls didMoveToParentViewController(none) on itself; the
  // caller first calls willMoveToParentViewController(none) and removes the view.
  void removeFromParentViewController();
  virtual void willMoveToParentViewController(const UIViewControllerRef& parent) {}
  virtual void didMoveToParentViewController(const UIViewControllerRef& parent) {}
  // The nearest navigation controller above this one (itself not counted).
  std::shared_ptr<UINavigationController> navigationController() const;

  // ---- Modal presentation ----
  // Presents over the window, covering it: the presented view slides up (animated) from the
  // bottom; this controller's view disappears beneath it. Presenting while something is already
  // presented logs and does nothing, as the platform does.
  void presentViewController(const UIViewControllerRef& controller, bool animated,
                             std::function<void()> completion = {});
  // Dismisses what this controller presented (or, called on the presented one, itself).
  void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
  // What this controller (or the controller presenting for it) presents; none when nothing.
  std::shared_ptr<UIViewController> presentedViewController() const;
  std::shared_ptr<UIViewController> presentingViewController() const { return presenting_.lock(); }
  UIModalPresentationStyle modalPresentationStyle() const { return modalPresentationStyle_; }
  void setModalPresentationStyle(UIModalPresentationStyle style) { modalPresentationStyle_ = style; }
  // How long presentation, dismissal and navigation animations take.
  static constexpr double kTransitionDuration = 0.3;

  // ---- Storyboards and segues ----
  std::shared_ptr<UIStoryboard> storyboard() const { return storyboard_; }
  const std::string& storyboardIdentifier() const { return storyboardIdentifier_; }
  // Performs the segue of this controller's scene; an identifier the scene does not have raises
  // NSInvalidArgumentException.
  void performSegueWithIdentifier(const std::string& identifier, const Value& sender = Value());
  virtual bool shouldPerformSegueWithIdentifier(const std::string& identifier, const Value& sender) { return true; }
  virtual void prepareForSegue(UIStoryboardSegue& segue, const Value& sender) {}
  // Set by the storyboard when it makes the controller.
  void setStoryboard(std::shared_ptr<UIStoryboard> storyboard, std::string identifier);

  // ---- Appearance of the interface ----
  const std::string& title() const { return title_; }
  virtual void setTitle(std::string title) { title_ = std::move(title); }
  // What the navigation bar shows for this controller (made on first use).
  const std::shared_ptr<UINavigationItem>& navigationItem();
  virtual uint32_t supportedInterfaceOrientations() const { return UIInterfaceOrientationMaskAll; }
  // The desktop window has no status bar: nothing asks a controller for a status-bar style or
  // visibility, so there are no such hooks (a container's childViewControllerForStatusBarStyle
  // answers only its own callers).
  const std::string& restorationIdentifier() const { return restorationIdentifier_; }
  void setRestorationIdentifier(std::string identifier) { restorationIdentifier_ = std::move(identifier); }
  // State restoration (UIStateRestoration.h): the controller writes what it wants back in a later
  // run and reads it back. The base keeps nothing.
  virtual void encodeRestorableStateWithCoder(NSCoder& coder) {}
  virtual void decodeRestorableStateWithCoder(NSCoder& coder) {}

 private:
  void forwardAppearance(bool begin, bool isAppearing, bool animated);
  UIViewRef view_;
  std::weak_ptr<UIViewController> parent_;
  std::vector<UIViewControllerRef> children_;
  UIViewControllerRef presented_;
  std::weak_ptr<UIViewController> presenting_;
  std::shared_ptr<UIStoryboard> storyboard_;
  std::string storyboardIdentifier_;
  std::string title_;
  std::shared_ptr<UINavigationItem> navigationItem_;
  std::string restorationIdentifier_;
  Appearance appearance_ = Appearance::Disappeared;
  UIModalPresentationStyle modalPresentationStyle_ = UIModalPresentationStyle::FullScreen;
  bool inViewDidLoad_ = false;
};
