// The side-menu container on a test screen: positions and layout, the animation queue, pushes,
// appearance of the children, segues, state restoration, degenerate configuration, and the pan
// and tap gestures a screen installs.
#include <gtest/gtest.h>

#include <cmath>

#include "app/SideMenuController.h"
#include "app/SideMenuControllerPanGestureRecognizer.h"
#include "app/SideMenuSegues.h"
#include "app/SideMenuTransition.h"
#include "app/SideMenuView.h"
#include "platform/foundation/Clock.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIStateRestoration.h"
#include "platform/uikit/UIWindow.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TestHome.h"

namespace {

class Child : public UIViewController {
 public:
  explicit Child(std::string name, std::vector<std::string>* log = nullptr) : name_(std::move(name)), log_(log) {}
  void viewWillAppear(bool) override { add("willAppear"); }
  void viewDidAppear(bool) override { add("didAppear"); }
  void viewWillDisappear(bool) override { add("willDisappear"); }
  void viewDidDisappear(bool) override { add("didDisappear"); }

 private:
  void add(const char* what) {
    if (log_) log_->push_back(name_ + "." + what);
  }
  std::string name_;
  std::vector<std::string>* log_;
};

// Everything the container tells its delegate, in order.
class Listener : public SideMenuControllerDelegate {
 public:
  std::vector<std::string> calls;
  bool overProgress = true;
  bool refusePan = false;
  bool answersPanGestureShouldBegin() const override { return true; }
  bool panGestureShouldBegin(SideMenuController&) override { return !refusePan; }
  bool answersOverProgress() const override { return overProgress; }
  void willMoveToPosition(SideMenuController&, FrontViewPosition p) override { add("will", p); }
  void didMoveToPosition(SideMenuController&, FrontViewPosition p) override { add("did", p); }
  void animateToPosition(SideMenuController&, FrontViewPosition p) override { add("animate", p); }
  void willAddViewController(SideMenuController&, const UIViewControllerRef&, TransitionOperation o, bool) override {
    add("willAdd", o);
  }
  void didAddViewController(SideMenuController&, const UIViewControllerRef&, TransitionOperation o, bool) override {
    add("didAdd", o);
  }
  void panGestureBegan(SideMenuController&) override { calls.push_back("panBegan"); }
  void panGestureEnded(SideMenuController&) override { calls.push_back("panEnded"); }
  void panGestureMovedToLocation(SideMenuController&, double location, double progress, double over) override {
    moves.push_back({location, progress, over});
  }
  void panGestureMovedToLocation(SideMenuController&, double location, double progress) override {
    moves.push_back({location, progress, NAN});
  }
  struct Move {
    double location, progress, over;
  };
  std::vector<Move> moves;

 private:
  void add(const char* what, int64_t value) { calls.push_back(std::string(what) + std::to_string(value)); }
};

class SideMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIScreen::mainScreen().configure({568, 320}, 1);
    menu = std::make_shared<SideMenuController>();
    front = std::make_shared<Child>("front", &log);
    right = std::make_shared<Child>("right", &log);
    rear = std::make_shared<Child>("rear", &log);
  }

  void show(bool withRear = true, bool withRight = true) {
    if (withRear) menu->setRearViewController(rear);
    if (front) menu->setFrontViewController(front);
    if (withRight) menu->setRightViewController(right);
    window = std::make_shared<UIWindow>(UIScreen::mainScreen().bounds());
    window->setRootViewController(menu);
    window->makeKeyAndVisible();
    window->layoutPass();
    log.clear();
  }
  // Serves the run loop until the queue is empty (and a little more for the last completion).
  void settle() {
    for (int i = 0; i < 400 && menu->queuedAnimationCount() > 0; ++i) clock.step(0.05);
    clock.step(0.05);
  }
  double frontX() const { return menu->contentView()->frontView()->frame().origin.x; }
  double shownFrontX() const { return menu->contentView()->frontView()->presentationFrame().origin.x; }

  // A drag with the mouse on the front view from x0 to x1 at height 160: moves of `step` points at
  // `speed` points per second, then held for `hold` seconds before the lift.
  void drag(double x0, double x1, double speed, double hold = 0.5, bool lift = true) {
    double t = Clock::monotonic() + 100;
    const double step = 10;
    window->touchDown({x0, 160}, t);
    const int n = static_cast<int>(std::ceil(std::fabs(x1 - x0) / step));
    for (int i = 1; i <= n; ++i) {
      t += step / speed;
      window->touchMove({x0 + (x1 - x0) * i / n, 160}, t);
    }
    if (lift) window->touchUp({x1, 160}, t + hold);
  }

  testsupport::ManualClock clock;
  std::vector<std::string> log;
  std::shared_ptr<SideMenuController> menu;
  std::shared_ptr<Child> front, right, rear;
  std::shared_ptr<UIWindow> window;
};

// ---- Positions and layout ----

TEST_F(SideMenuTest, FrontLocationsForEveryPositionWithDefaultAndNegativePanelWidths) {
  show();
  auto view = menu->contentView();
  const double expected[] = {-320, -320, -260, 0, 260, 320, 320};
  for (FrontViewPosition p = 0; p <= 6; ++p) EXPECT_EQ(view->frontLocationForPosition(p), expected[p]) << p;
  EXPECT_EQ(view->frontLocationForPosition(PositionNone), 0);
  // A negative width leaves that much of the content uncovered: 568 - 60.
  menu->rearViewPanelWidth = -60;
  menu->rightViewPanelWidth = -100;
  EXPECT_EQ(view->frontLocationForPosition(PositionRear), 508);
  EXPECT_EQ(view->frontLocationForPosition(PositionRearMost), 568);
  EXPECT_EQ(view->frontLocationForPosition(PositionRight), -468);
  menu->setFrontViewPosition(PositionRear);
  EXPECT_EQ(frontX(), 508);
  // The rear view stands at its place, as wide as its panel and overdraw.
  EXPECT_EQ(view->rearView()->frame(), CGRectMake(0, 0, 568, 320));
  menu->setFrontViewPosition(PositionClosed);
  EXPECT_EQ(frontX(), 0);
  EXPECT_EQ(view->rearView(), nullptr);  // unloaded with its panel

  // The right panel at rest is displaced by 40 points; open, it lies flush with the edge.
  menu->rightViewPanelWidth = 260;
  menu->setFrontViewPosition(PositionRight);
  EXPECT_EQ(frontX(), -260);
  EXPECT_EQ(view->rightView()->frame(), CGRectMake(248, 0, 320, 320));
  view->layoutRearViewsForLocation(0);
  EXPECT_EQ(view->rightView()->frame(), CGRectMake(288, 0, 320, 320));
}

TEST_F(SideMenuTest, PanelWidthsThatLeaveNoRoomLayOutWithoutNaNFrames) {
  show();
  auto view = menu->contentView();
  for (double width : {0.0, -568.0, -1000.0, double(NAN), double(INFINITY)}) {
    SCOPED_TRACE(width);
    menu->rearViewPanelWidth = width;
    menu->rightViewPanelWidth = width;
    menu->rearViewPanelOverdraw = width;
    menu->rightViewPanelDisplacement = width;
    EXPECT_NO_THROW(menu->setFrontViewPosition(PositionRear));
    EXPECT_NO_THROW(menu->setFrontViewPosition(PositionRight));
    for (const UIViewRef& v : {view->frontView(), view->rightView()}) {
      CGRect f = v->frame();
      EXPECT_TRUE(std::isfinite(f.origin.x) && std::isfinite(f.size.width) && f.size.width >= 0);
    }
    EXPECT_NO_THROW(view->dragFrontViewToXLocation(-50));
    EXPECT_TRUE(std::isfinite(frontX()));
    menu->setFrontViewPosition(PositionClosed);
  }
}

TEST_F(SideMenuTest, BeforeTheViewLoadsAPositionIsOnlyRecordedAndLoadingAppliesItWithoutAnimation) {
  menu->setFrontViewPosition(PositionRight, true);
  EXPECT_FALSE(menu->isViewLoaded());
  EXPECT_EQ(menu->frontViewPosition(), PositionRight);
  EXPECT_EQ(menu->rightViewPosition(), PositionRight);
  show();
  EXPECT_EQ(menu->frontViewPosition(), PositionRight);
  EXPECT_EQ(frontX(), -260);
  EXPECT_EQ(shownFrontX(), -260);  // no animation
  EXPECT_EQ(menu->queuedAnimationCount(), 0u);
  EXPECT_EQ(right->view()->superview(), menu->contentView()->rightView());
  EXPECT_EQ(menu->childViewControllerForStatusBarStyle(), right);
}

TEST_F(SideMenuTest, WithoutARightChildTheRightToggleFallsBackToClosed) {
  show(true, false);
  menu->rightPanelToggleAnimated(true);
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  EXPECT_EQ(menu->contentView()->rightView(), nullptr);
  menu->panelToggleAnimated(true);
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionRear);
  EXPECT_EQ(menu->childViewControllerForStatusBarStyle(), rear);
}

// ---- The animation queue ----

TEST_F(SideMenuTest, TwoTogglesInQuickSuccessionRunOneAfterTheOther) {
  show();
  auto listener = std::make_shared<Listener>();
  menu->delegate = listener;
  menu->rightPanelToggleAnimated(true);
  menu->rightPanelToggleAnimated(true);  // decided now: back to closed
  EXPECT_EQ(menu->queuedAnimationCount(), 2u);
  clock.step(0.05);
  EXPECT_LT(shownFrontX(), -20);  // opening
  EXPECT_GT(shownFrontX(), -255);
  EXPECT_EQ(menu->queuedAnimationCount(), 2u);
  clock.step(0.3);  // the first is over; the second runs
  EXPECT_EQ(menu->queuedAnimationCount(), 1u);
  EXPECT_EQ(log, (std::vector<std::string>{"right.willAppear", "right.didAppear", "right.willDisappear"}));
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  EXPECT_EQ(shownFrontX(), 0);
  EXPECT_EQ(menu->contentView()->rightView(), nullptr);
  EXPECT_EQ(log.back(), "right.didDisappear");
  EXPECT_EQ(listener->calls, (std::vector<std::string>{"will2", "animate2", "did2", "will3", "animate3", "did3"}));
}

TEST_F(SideMenuTest, APushWhileTheRightPanelIsOpenOpensFullySwapsTheFrontAndSlidesShut) {
  show();
  menu->setFrontViewPosition(PositionRight);
  auto next = std::make_shared<Child>("next", &log);
  menu->pushFrontViewController(next, true);
  EXPECT_EQ(menu->queuedAnimationCount(), 3u);
  EXPECT_EQ(menu->frontViewPosition(), PositionRightMost);
  EXPECT_EQ(frontX(), -320);
  clock.step(0.2);  // 0.8 x 0.3 s to the right-most position
  EXPECT_EQ(menu->frontViewController(), front);
  clock.step(0.05);
  EXPECT_EQ(menu->frontViewController(), next);
  EXPECT_EQ(next->parentViewController(), menu);
  EXPECT_EQ(front->parentViewController(), nullptr);
  EXPECT_EQ(front->view()->superview(), nullptr);
  EXPECT_EQ(next->view()->superview(), menu->contentView()->frontView());
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);  // sliding shut over 0.3 s
  EXPECT_LT(shownFrontX(), -250);
  clock.step(0.25);
  EXPECT_EQ(menu->queuedAnimationCount(), 1u);
  settle();
  EXPECT_EQ(shownFrontX(), 0);
  // The old front went away and the new one came, each hearing it once.
  for (const char* call : {"front.willDisappear", "front.didDisappear", "next.willAppear", "next.didAppear",
                           "right.willDisappear", "right.didDisappear"}) {
    EXPECT_EQ(std::count(log.begin(), log.end(), call), 1) << call;
  }
  // Pushing the front that is already there swaps nothing.
  log.clear();
  menu->pushFrontViewController(next, true);
  settle();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(menu->frontViewController(), next);
}

TEST_F(SideMenuTest, AnimatedReplacementsCrossDissolveAndTellTheDelegate) {
  show();
  auto listener = std::make_shared<Listener>();
  menu->delegate = listener;
  auto other = std::make_shared<Child>("other", &log);
  menu->setRightViewController(other, true);  // the right panel is not open: nothing to show
  settle();
  EXPECT_EQ(menu->rightViewController(), other);
  menu->setFrontViewPosition(PositionRight);
  auto third = std::make_shared<Child>("third", &log);
  menu->setRightViewController(third, true);
  clock.step(0.1);
  EXPECT_EQ(other->view()->superview(), menu->contentView()->rightView());  // still fading out
  EXPECT_LT(third->view()->presentationAlpha(), 0.9);
  settle();
  EXPECT_EQ(other->view()->superview(), nullptr);
  EXPECT_EQ(third->view()->superview(), menu->contentView()->rightView());
  EXPECT_EQ(third->view()->presentationAlpha(), 1);
  EXPECT_EQ(std::count(listener->calls.begin(), listener->calls.end(), "didAdd3"), 2);
  // Replacements of no child slot touch nothing.
  menu->performTransitionOperation(7, std::make_shared<Child>("none"), false);
  EXPECT_EQ(menu->rightViewController(), third);
  EXPECT_EQ(menu->frontViewController(), front);
}

TEST_F(SideMenuTest, DurationsThatAreNotPositiveFiniteNumbersChangeAtOnceAndNeverBlockTheQueue) {
  show();
  for (double d : {0.0, -1.0, double(NAN), double(INFINITY), -double(INFINITY)}) {
    SCOPED_TRACE(d);
    menu->toggleAnimationDuration = d;
    menu->replaceViewAnimationDuration = d;
    menu->rightPanelToggleAnimated(true);
    EXPECT_EQ(menu->queuedAnimationCount(), 0u);
    EXPECT_EQ(shownFrontX(), -260);
    menu->setRightViewController(std::make_shared<Child>("r"), true);
    EXPECT_EQ(menu->queuedAnimationCount(), 0u);
    menu->pushFrontViewController(std::make_shared<Child>("f"), true);
    EXPECT_EQ(menu->queuedAnimationCount(), 0u);
    EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  }
  // A very long one still ends.
  menu->toggleAnimationDuration = 1e12;
  menu->toggleAnimationType = AnimationEaseOut;
  menu->rightPanelToggleAnimated(true);
  clock.step(SideMenuController::kMaxAnimationDuration + 0.1);
  EXPECT_EQ(menu->queuedAnimationCount(), 0u);
  EXPECT_EQ(SideMenuController::safeDuration(0.3), 0.3);
}

// ---- Appearance and look-up ----

TEST_F(SideMenuTest, TheLookUpFindsTheNearestContainerAboveAndTheShadowFollowsTheFront) {
  auto inner = std::make_shared<Child>("inner");
  auto nav = UINavigationController::initWithRootViewController(inner);
  front = nullptr;
  menu->setFrontViewController(nav);
  show(true, true);
  EXPECT_EQ(sideMenuController(*inner), menu);
  EXPECT_EQ(sideMenuController(*nav), menu);
  EXPECT_EQ(sideMenuController(*menu), nullptr);  // the receiver itself is not counted
  EXPECT_EQ(sideMenuController(Child("alone")), nullptr);

  auto layer = menu->contentView()->frontView()->layer();
  EXPECT_EQ(layer->shadowOpacity(), 1.0);
  EXPECT_EQ(layer->shadowRadius(), 2.5);
  EXPECT_EQ(layer->shadowOffset(), (CGSize{0, 2.5}));
  EXPECT_EQ(*layer->shadowPath(), CGRectMake(0, 0, 568, 320));
  menu->setFrontViewShadowRadius(6);
  EXPECT_EQ(layer->shadowRadius(), 6);
  // Hierarchical presentation leaves a navigation bar's height above the front view.
  menu->presentFrontViewHierarchically = true;
  menu->contentView()->setNeedsLayout();
  window->layoutPass();
  EXPECT_EQ(menu->contentView()->frontView()->frame(), CGRectMake(0, 44, 568, 276));
  EXPECT_EQ(menu->supportedInterfaceOrientations(), UIInterfaceOrientationMaskLandscape);
}

TEST_F(SideMenuTest, APointOutsideTheContainerHitsTheSideViewsOnlyWhenAsked) {
  show();
  menu->setFrontViewPosition(PositionRight);
  auto view = menu->contentView();
  EXPECT_TRUE(view->pointInside({10, 10}, nullptr));
  EXPECT_FALSE(view->pointInside({-100, 10}, nullptr));  // the front view stands out to the left
  menu->extendsPointInsideHit = true;
  EXPECT_TRUE(view->pointInside({-100, 10}, nullptr));
  EXPECT_FALSE(view->pointInside({-400, 10}, nullptr));
}

// ---- Storyboards ----

TEST(SideMenuStoryboard, TheSeguesFillTheChildrenAndAMissingOneIsSkipped) {
  testsupport::ManualClock clock;
  UIScreen::mainScreen().configure({568, 320}, 1);
  UIStoryboard::registerStoryboard("SideMenuTest", [] {
    UIStoryboardDefinition d;
    d.initialScene = "SideMenuController";
    d.scenes["SideMenuController"].makeController = [](UIStoryboard&) { return std::make_shared<SideMenuController>(); };
    d.scenes["SideMenuController"].segues["sm_front"] = SideMenuControllerSegueSetController::definition("front");
    d.scenes["SideMenuController"].segues["sm_right"] = SideMenuControllerSegueSetController::definition("right");
    d.scenes["SideMenuController"].segues["sm_other"] = SideMenuControllerSegueSetController::definition("right");
    d.scenes["front"].makeController = [](UIStoryboard&) { return std::make_shared<Child>("front"); };
    d.scenes["front"].segues["push"] = SideMenuControllerSeguePushController::definition("right");
    d.scenes["right"].makeController = [](UIStoryboard&) { return std::make_shared<Child>("right"); };
    return d;
  });
  auto storyboard = UIStoryboard::storyboardWithName("SideMenuTest");
  auto menu = std::dynamic_pointer_cast<SideMenuController>(storyboard->instantiateInitialViewController());
  ASSERT_TRUE(menu);
  menu->loadViewIfNeeded();  // "sm_rear" is missing: skipped
  EXPECT_EQ(menu->rearViewController(), nullptr);
  ASSERT_TRUE(menu->frontViewController());
  EXPECT_EQ(menu->frontViewController()->storyboardIdentifier(), "front");
  EXPECT_EQ(menu->rightViewController()->storyboardIdentifier(), "right");
  EXPECT_EQ(menu->frontViewController()->view()->superview(), menu->contentView()->frontView());
  EXPECT_FALSE(menu->rightViewController()->isViewLoaded());  // loaded when its panel opens
  // A segue of another identifier sets nothing.
  auto right = menu->rightViewController();
  menu->performSegueWithIdentifier("sm_other");
  EXPECT_EQ(menu->rightViewController(), right);
  // The push segue puts its destination in front through the source's container.
  menu->frontViewController()->performSegueWithIdentifier("push");
  for (int i = 0; i < 40 && menu->queuedAnimationCount(); ++i) clock.step(0.05);
  EXPECT_EQ(menu->frontViewController()->storyboardIdentifier(), "right");
  EXPECT_NE(menu->frontViewController(), right);
  // Restoration instantiates the storyboard's container with the path's last identifier.
  auto restored = SideMenuController::viewControllerWithRestorationIdentifierPath({"root", "menu"}, storyboard);
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->restorationIdentifier(), "menu");
  EXPECT_EQ(SideMenuController::viewControllerWithRestorationIdentifierPath({"menu"}, nullptr), nullptr);
  UIStoryboard::unregisterStoryboard("SideMenuTest");
}

// ---- State restoration ----

// Writes whatever fields a test wants into a restoration archive.
class ArchiveWriter : public UIViewController {
 public:
  std::function<void(NSCoder&)> write;
  void encodeRestorableStateWithCoder(NSCoder& coder) override { write(coder); }
};

TEST_F(SideMenuTest, StateRestorationRoundTripsTheConfigurationTheChildrenAndThePosition) {
  menu->setRestorationIdentifier("root");
  front->setRestorationIdentifier("front");
  right->setRestorationIdentifier("right");
  rear->setRestorationIdentifier("rear");
  show();
  menu->rearViewPanelWidth = -60;
  menu->rightViewPanelOverdraw = 30;
  menu->rightViewPanelDisplacement = 12;
  menu->draggableBorderWidth = 20;
  menu->bounceBackOnOverdraw = false;
  menu->stableDragOnLeftOverdraw = true;
  menu->quickFlickVelocity = 400;
  menu->toggleAnimationDuration = 0.5;
  menu->toggleAnimationType = AnimationEaseOut;
  menu->springDampingRatio = 0.7;
  menu->replaceViewAnimationDuration = 0.1;
  menu->setFrontViewShadowRadius(4);
  menu->setFrontViewShadowOffset({1, 3});
  menu->setFrontViewShadowOpacity(0.5);
  menu->setFrontViewShadowColor(UIColor::colorWithRed(1, 0, 0, 0.75));
  menu->setClipsViewsToBounds(true);
  menu->extendsPointInsideHit = true;
  menu->setFrontViewPosition(PositionRight);
  NSErrorRef error;
  auto archive = UIStateRestoration::archiveRestorableState(*menu, &error);
  ASSERT_TRUE(archive) << (error ? error->localizedDescription() : "");

  auto restored = std::make_shared<SideMenuController>();
  auto front2 = std::make_shared<Child>("front2"), right2 = std::make_shared<Child>("right2"),
       rear2 = std::make_shared<Child>("rear2");
  std::vector<std::vector<std::string>> asked;
  ASSERT_TRUE(UIStateRestoration::restoreState(*restored, *archive, [&](const std::vector<std::string>& path) {
    asked.push_back(path);
    UIViewControllerRef found;
    if (path == std::vector<std::string>{"root", "front"}) found = front2;
    if (path == std::vector<std::string>{"root", "right"}) found = right2;
    if (path == std::vector<std::string>{"root", "rear"}) found = rear2;
    return found;
  }, &error)) << (error ? error->localizedDescription() : "");
  EXPECT_EQ(asked.size(), 3u);
  EXPECT_EQ(restored->rearViewPanelWidth, -60);
  EXPECT_EQ(restored->rightViewPanelWidth, 260);
  EXPECT_EQ(restored->rightViewPanelOverdraw, 30);
  EXPECT_EQ(restored->rightViewPanelDisplacement, 12);
  EXPECT_EQ(restored->draggableBorderWidth, 20);
  EXPECT_FALSE(restored->bounceBackOnOverdraw);
  EXPECT_TRUE(restored->stableDragOnLeftOverdraw);
  EXPECT_EQ(restored->quickFlickVelocity, 400);
  EXPECT_EQ(restored->toggleAnimationDuration, 0.5);
  EXPECT_EQ(restored->toggleAnimationType, AnimationEaseOut);
  EXPECT_EQ(restored->springDampingRatio, 0.7);
  EXPECT_EQ(restored->replaceViewAnimationDuration, 0.1);
  EXPECT_EQ(restored->frontViewShadowRadius(), 4);
  EXPECT_EQ(restored->frontViewShadowOffset(), (CGSize{1, 3}));
  EXPECT_EQ(restored->frontViewShadowOpacity(), 0.5);
  EXPECT_EQ(*restored->frontViewShadowColor(), *UIColor::colorWithRed(1, 0, 0, 0.75));
  EXPECT_TRUE(restored->clipsViewsToBounds());
  EXPECT_TRUE(restored->extendsPointInsideHit);
  EXPECT_EQ(restored->frontViewController(), front2);
  EXPECT_EQ(restored->rightViewController(), right2);
  EXPECT_EQ(restored->rearViewController(), rear2);
  EXPECT_EQ(restored->frontViewPosition(), PositionRight);
  // Shown, it stands where the first one stood.
  auto window2 = std::make_shared<UIWindow>(UIScreen::mainScreen().bounds());
  window2->setRootViewController(restored);
  window2->makeKeyAndVisible();
  EXPECT_EQ(restored->contentView()->frontView()->frame().origin.x, -260);
  EXPECT_EQ(right2->view()->superview(), restored->contentView()->rightView());
}

TEST_F(SideMenuTest, RestorationFieldsOfWrongTypesOrOutOfRangeKeepTheirValuesAndACorruptArchiveChangesNothing) {
  ArchiveWriter writer;
  writer.write = [](NSCoder& c) {
    c.encodeString("wide", "_rearViewPanelWidth");
    c.encodeDouble(NAN, "_rightViewPanelWidth");
    c.encodeDouble(-5, "_rearViewPanelOverdraw");
    c.encodeString("60", "_rightViewPanelOverdraw");
    c.encodeDouble(INFINITY, "_rearViewPanelDisplacement");
    c.encodeDouble(-1, "_draggableBorderWidth");
    c.encodeInteger(0, "_bounceBackOnOverdraw");  // a number, not a flag
    c.encodeString("yes", "_stableDragOnOverdraw");
    c.encodeDouble(0, "_quickFlickVelocity");
    c.encodeDouble(1e9, "_toggleAnimationDuration");
    c.encodeInteger(7, "_toggleAnimationType");
    c.encodeDouble(3, "_springDampingRatio");
    c.encodeDouble(-0.25, "_replaceViewAnimationDuration");
    c.encodeDouble(-2, "_frontViewShadowRadius");
    c.encodeString("{nan, 1}", "_frontViewShadowOffset");
    c.encodeDouble(1.5, "_frontViewShadowOpacity");
    Value colour = Value::object();
    colour["red"] = 2.0;
    colour["green"] = 0;
    colour["blue"] = 0;
    colour["alpha"] = 1;
    c.encodeValue(colour, "_frontViewShadowColor");
    c.encodeDouble(2.5, "_frontViewPosition");
    c.encodeString("front", "_frontViewController");
    Value unknown = Value::array({"nobody"});
    c.encodeValue(unknown, "_rightViewController");
  };
  auto archive = UIStateRestoration::archiveRestorableState(writer);
  ASSERT_TRUE(archive);
  menu->setFrontViewController(front);
  menu->setRightViewController(right);
  const SideMenuController defaults;
  ASSERT_TRUE(UIStateRestoration::restoreState(*menu, *archive, [](const std::vector<std::string>&) { return nullptr; }));
  EXPECT_EQ(menu->rearViewPanelWidth, defaults.rearViewPanelWidth);
  EXPECT_EQ(menu->rightViewPanelWidth, defaults.rightViewPanelWidth);
  EXPECT_EQ(menu->rearViewPanelOverdraw, 60);
  EXPECT_EQ(menu->rightViewPanelOverdraw, 60);
  EXPECT_EQ(menu->rearViewPanelDisplacement, 40);
  EXPECT_EQ(menu->draggableBorderWidth, 0);
  EXPECT_TRUE(menu->bounceBackOnOverdraw);
  EXPECT_FALSE(menu->stableDragOnOverdraw);
  EXPECT_EQ(menu->quickFlickVelocity, 250);
  EXPECT_EQ(menu->toggleAnimationDuration, 0.3);
  EXPECT_EQ(menu->toggleAnimationType, AnimationSpring);
  EXPECT_EQ(menu->springDampingRatio, 1.0);
  EXPECT_EQ(menu->replaceViewAnimationDuration, 0.25);
  EXPECT_EQ(menu->frontViewShadowRadius(), 2.5);
  EXPECT_EQ(menu->frontViewShadowOffset(), (CGSize{0, 2.5}));
  EXPECT_EQ(menu->frontViewShadowOpacity(), 1.0);
  EXPECT_EQ(*menu->frontViewShadowColor(), *UIColor::blackColor());
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  EXPECT_EQ(menu->frontViewController(), front);  // a child that cannot be found keeps its place
  EXPECT_EQ(menu->rightViewController(), right);

  // Bytes that are no archive at all: refused, nothing touched.
  menu->quickFlickVelocity = 123;
  NSErrorRef error;
  Bytes junk = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2, 3};
  EXPECT_FALSE(UIStateRestoration::restoreState(*menu, junk, nullptr, &error));
  EXPECT_TRUE(error);
  EXPECT_FALSE(UIStateRestoration::restoreState(*menu, Bytes(UIStateRestoration::kMaxArchiveBytes + 1, 0), nullptr));
  EXPECT_EQ(menu->quickFlickVelocity, 123);
}

// ---- Gestures ----

class SideMenuGestureTest : public SideMenuTest {
 protected:
  void SetUp() override {
    SideMenuTest::SetUp();
    show();
    pan = menu->panGestureRecognizer();
    tap = menu->tapGestureRecognizer();
  }
  std::shared_ptr<UIPanGestureRecognizer> pan;
  std::shared_ptr<UITapGestureRecognizer> tap;
};

TEST_F(SideMenuGestureTest, TheRecognisersAreMadeOnceOnTheFrontViewAndAMostlyVerticalMoveFailsThePan) {
  EXPECT_EQ(menu->panGestureRecognizer(), pan);
  EXPECT_EQ(pan->view(), menu->contentView()->frontView());
  EXPECT_EQ(tap->view(), menu->contentView()->frontView());
  ASSERT_TRUE(std::dynamic_pointer_cast<SideMenuControllerPanGestureRecognizer>(pan));
  // 6 points down before 5 sideways: not a reveal drag, however far it goes sideways later.
  double t = Clock::monotonic();
  window->touchDown({100, 100}, t);
  window->touchMove({100, 106}, t + 0.05);
  EXPECT_EQ(pan->state(), UIGestureRecognizerState::Failed);
  window->touchMove({300, 106}, t + 0.1);
  window->touchUp({300, 106}, t + 0.2);
  EXPECT_EQ(frontX(), 0);
  EXPECT_EQ(menu->queuedAnimationCount(), 0u);
  // 4 points down and then sideways is a drag.
  window->touchDown({100, 100}, t + 1);
  window->touchMove({100, 104}, t + 1.05);
  window->touchMove({150, 104}, t + 1.1);
  EXPECT_EQ(pan->state(), UIGestureRecognizerState::Began);
  EXPECT_EQ(frontX(), 0);  // beginning moves nothing; the moves after it do
  window->touchMove({160, 104}, t + 1.15);
  EXPECT_EQ(frontX(), 60);
  window->touchUp({160, 104}, t + 2);
  settle();
}

TEST_F(SideMenuGestureTest, ASlowReleaseSettlesByHalfThePanelWidth) {
  drag(100, 231, 100);  // 131 points: more than half of 260
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionRear);
  EXPECT_EQ(frontX(), 260);
  menu->setFrontViewPosition(PositionClosed);
  drag(100, 229, 100);
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  EXPECT_EQ(frontX(), 0);
  // Leftward, the right panel, mirrored.
  drag(400, 260, 100);
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionRight);
  EXPECT_EQ(frontX(), -260);
}

TEST_F(SideMenuGestureTest, BeyondThePanelTheFrontMovesAtHalfSpeedStopsAtTheOverdrawAndBouncesBack) {
  auto listener = std::make_shared<Listener>();
  menu->delegate = listener;
  drag(0, 300, 100, 0, false);
  EXPECT_EQ(frontX(), 280);  // 260 + 40 / 2
  window->touchMove({380, 160}, Clock::monotonic() + 200);
  EXPECT_EQ(frontX(), 320);
  window->touchMove({500, 160}, Clock::monotonic() + 201);
  EXPECT_EQ(frontX(), 320);
  // Progress and overdraw progress of the last move: 320 / 260 and (320 - 260) / 60.
  ASSERT_FALSE(listener->moves.empty());
  EXPECT_NEAR(listener->moves.back().progress, 320.0 / 260, 1e-9);
  EXPECT_NEAR(listener->moves.back().over, 1, 1e-9);
  window->touchUp({500, 160}, Clock::monotonic() + 202);
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);  // bounced back
  EXPECT_EQ(listener->calls.front(), "panBegan");
  EXPECT_NE(std::find(listener->calls.begin(), listener->calls.end(), "panEnded"), listener->calls.end());
  // Without bounce back but with a stable drag it can open to the rear-most position.
  menu->bounceBackOnOverdraw = false;
  menu->stableDragOnOverdraw = true;
  drag(0, 300, 100);
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionRearMost);
  EXPECT_EQ(frontX(), 320);
}

TEST_F(SideMenuGestureTest, AnOutwardFlickOpensInTheRemainingDistanceOverItsSpeed) {
  drag(50, 150, 300, 0);  // 100 points at 300 points per second, lifted at once
  EXPECT_EQ(menu->frontViewPosition(), PositionRear);
  EXPECT_EQ(menu->queuedAnimationCount(), 1u);  // the drag's entry, until the slide ends
  clock.step(0.5);  // (260 - 100) / 300 = 0.533 s
  EXPECT_EQ(menu->queuedAnimationCount(), 1u);
  EXPECT_LT(shownFrontX(), 260);
  clock.step(0.05);
  EXPECT_EQ(menu->queuedAnimationCount(), 0u);
  EXPECT_EQ(shownFrontX(), 260);
  // An inward flick closes in the distance left over its speed.
  drag(300, 250, 300, 0);
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  clock.step(0.65);  // 210 / 300 = 0.7 s
  EXPECT_EQ(menu->queuedAnimationCount(), 1u);
  settle();
  EXPECT_EQ(frontX(), 0);
}

TEST_F(SideMenuGestureTest, FlickThresholdsThatAreNotPositiveCountAsNoFlick) {
  for (double threshold : {0.0, -10.0, double(NAN)}) {
    SCOPED_TRACE(threshold);
    menu->quickFlickVelocity = threshold;
    drag(100, 180, 100);  // held still: no speed at the lift, 80 points: closes
    EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
    settle();
    EXPECT_EQ(frontX(), 0);
    EXPECT_EQ(menu->queuedAnimationCount(), 0u);
  }
}

TEST_F(SideMenuGestureTest, ATapOnTheFrontClosesAnOpenPanelAndDoesNotBeginWhenClosed) {
  double t = Clock::monotonic();
  window->touchDown({300, 100}, t);
  window->touchUp({300, 100}, t + 0.05);
  EXPECT_EQ(tap->state(), UIGestureRecognizerState::Possible);
  EXPECT_EQ(menu->queuedAnimationCount(), 0u);
  menu->setFrontViewPosition(PositionRear);
  window->touchDown({300, 100}, t + 1);
  window->touchUp({300, 100}, t + 1.05);
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  settle();
  EXPECT_EQ(shownFrontX(), 0);
}

TEST_F(SideMenuGestureTest, NeitherGestureBeginsWhileAQueuedChangeIsAnimatingNorWhenTheDelegateRefuses) {
  menu->rightPanelToggleAnimated(true);
  clock.step(0.1);
  drag(300, 100, 100, 0);
  EXPECT_EQ(menu->frontViewPosition(), PositionRight);
  double t = Clock::monotonic();
  window->touchDown({100, 100}, t);
  window->touchUp({100, 100}, t + 0.05);
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionRight);
  EXPECT_EQ(frontX(), -260);
  auto listener = std::make_shared<Listener>();
  listener->refusePan = true;
  menu->delegate = listener;
  drag(100, 300, 100);
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionRight);
  // At rest, a drag toward a side without a child does not begin.
  menu->delegate.reset();
  menu->setFrontViewPosition(PositionClosed);
  menu->setRearViewController(nullptr);
  drag(100, 300, 100);
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  // A draggable border keeps drags to the edges.
  menu->draggableBorderWidth = 30;
  drag(300, 100, 100);
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  drag(560, 360, 100);  // the drag begins 20 points in, still within the border
  settle();
  EXPECT_EQ(menu->frontViewPosition(), PositionRight);
}

TEST_F(SideMenuGestureTest, AToggleAskedForDuringATapsSlideWaitsForItAndRunsOnce) {
  menu->setFrontViewPosition(PositionRight);
  double t = Clock::monotonic();
  window->touchDown({100, 100}, t);
  window->touchUp({100, 100}, t + 0.05);  // the tap closes the panel over 0.3 s
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  clock.step(0.1);
  menu->rightPanelToggleAnimated(true);  // opens again, after the slide
  EXPECT_EQ(menu->queuedAnimationCount(), 2u);
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  clock.step(0.25);  // the slide is over: the toggle runs
  EXPECT_EQ(menu->queuedAnimationCount(), 1u);
  EXPECT_EQ(menu->frontViewPosition(), PositionRight);
  settle();
  EXPECT_EQ(shownFrontX(), -260);
  // The panel the toggle opened is in place: the tap's end did not take it away.
  ASSERT_TRUE(menu->contentView()->rightView());
  EXPECT_EQ(right->view()->superview(), menu->contentView()->rightView());
  EXPECT_TRUE(right->isVisible());
}

TEST_F(SideMenuGestureTest, APansEndRemovesItsOwnEntryAndThenRunsWhatWasQueuedDuringTheDrag) {
  drag(100, 250, 100, 0, false);
  EXPECT_EQ(menu->queuedAnimationCount(), 1u);  // the drag holds the queue
  EXPECT_FALSE(menu->contentView()->isUserInteractionEnabled());
  menu->rightPanelToggleAnimated(true);  // queued behind the drag
  menu->setFrontViewPosition(PositionRearMost, true);
  EXPECT_EQ(menu->queuedAnimationCount(), 3u);
  EXPECT_EQ(frontX(), 150);
  window->touchUp({250, 160}, Clock::monotonic() + 300);  // slow, 150 points: opens
  EXPECT_TRUE(menu->contentView()->isUserInteractionEnabled());
  EXPECT_EQ(menu->frontViewPosition(), PositionRear);
  clock.step(0.32);
  // The drag's slide is over; the toggle (decided when asked: to the right panel) runs alone.
  EXPECT_EQ(menu->queuedAnimationCount(), 2u);
  EXPECT_EQ(menu->frontViewPosition(), PositionRight);
  clock.step(0.32);
  EXPECT_EQ(menu->queuedAnimationCount(), 1u);
  EXPECT_EQ(menu->frontViewPosition(), PositionRearMost);
  settle();
  EXPECT_EQ(menu->queuedAnimationCount(), 0u);
  EXPECT_EQ(frontX(), 320);
}

TEST_F(SideMenuGestureTest, ACancelledPanLeavesTheFrontWhereTheDragLeftItAndFreesTheQueue) {
  drag(100, 180, 100, 0, false);
  EXPECT_EQ(frontX(), 80);
  window->touchCancel(Clock::monotonic() + 300);
  EXPECT_EQ(menu->queuedAnimationCount(), 0u);
  EXPECT_EQ(frontX(), 80);
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  EXPECT_TRUE(menu->contentView()->isUserInteractionEnabled());
  // The next change takes it from there.
  menu->setFrontViewPosition(PositionClosed, true);
  settle();
  EXPECT_EQ(frontX(), 0);
}

TEST_F(SideMenuGestureTest, DragProgressWithoutPanelWidthOrOverdrawIsZeroNotNaN) {
  auto listener = std::make_shared<Listener>();
  menu->delegate = listener;
  menu->rearViewPanelWidth = 0;
  menu->rearViewPanelOverdraw = 0;
  drag(100, 200, 100);
  settle();
  ASSERT_FALSE(listener->moves.empty());
  for (const auto& m : listener->moves) {
    EXPECT_TRUE(std::isfinite(m.location));
    EXPECT_EQ(m.progress, 0);
    EXPECT_EQ(m.over, 0);
  }
  EXPECT_EQ(menu->frontViewPosition(), PositionClosed);
  // A delegate without the overdraw variant hears the other one.
  listener->overProgress = false;
  listener->moves.clear();
  menu->rearViewPanelWidth = 260;
  drag(100, 150, 100);
  ASSERT_FALSE(listener->moves.empty());
  EXPECT_TRUE(std::isnan(listener->moves.back().over));
  EXPECT_NEAR(listener->moves.back().progress, 50.0 / 260, 1e-9);
  settle();
}

}  // namespace
