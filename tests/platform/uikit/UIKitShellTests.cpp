// The UI kit's application shell: constraints and autoresizing, controls, view-controller life
// cycle, navigation, modal presentation, storyboards and segues, animations, the application's
// life cycle and the device orientation.
#include <gtest/gtest.h>

#include "platform/foundation/NSException.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/graphics/UIImage.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIButton.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIDevice.h"
#include "platform/uikit/UILabel.h"
#include "platform/uikit/UINavigationController.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIStackView.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIWindow.h"
#include "tests/support/ManualClock.h"

namespace {

using C = NSLayoutConstraint;

UIViewRef constrained(const UIViewRef& parent) {
  auto v = std::make_shared<UIView>();
  v->setTranslatesAutoresizingMaskIntoConstraints(false);
  parent->addSubview(v);
  return v;
}

TEST(Constraints, ChainsOfEdgesSizesAndMultipliersAreSolved) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 400, 200));
  auto a = constrained(root), b = constrained(root);
  C::activateConstraints({
      a->leadingAnchor().constraintEqualToAnchor(root->leadingAnchor(), 10),
      a->widthAnchor().constraintEqualToAnchorMultiplier(root->widthAnchor(), 0.25, -20),
      a->topAnchor().constraintEqualToAnchor(root->topAnchor(), 5),
      a->heightAnchor().constraintEqualToConstant(30),
      // b follows a (solved in the same pass even though it is declared later).
      b->leadingAnchor().constraintEqualToAnchor(a->trailingAnchor(), 6),
      b->trailingAnchor().constraintEqualToAnchor(root->trailingAnchor(), -4),
      b->centerYAnchor().constraintEqualToAnchor(a->centerYAnchor()),
      b->heightAnchor().constraintEqualToConstant(10),
  });
  root->layoutIfNeeded();
  EXPECT_EQ(a->frame(), CGRectMake(10, 5, 80, 30));
  EXPECT_EQ(b->frame(), CGRectMake(96, 15, 300, 10));
  // A constraint written from the superview's side places the subview all the same.
  auto c = constrained(root);
  auto bottom = C::constraintWithItem(root, NSLayoutAttribute::Bottom, NSLayoutRelation::Equal, c,
                                      NSLayoutAttribute::Bottom, 1, 0);
  C::activateConstraints({bottom, c->heightAnchor().constraintEqualToConstant(50),
                          c->leadingAnchor().constraintEqualToAnchor(root->leadingAnchor()),
                          c->widthAnchor().constraintEqualToConstant(20)});
  root->layoutIfNeeded();
  EXPECT_EQ(c->frame(), CGRectMake(0, 150, 20, 50));
  bottom->setConstant(-69);  // moves it down by 69
  root->layoutIfNeeded();
  EXPECT_EQ(c->frame().origin.y, 219);
  bottom->setActive(false);
  EXPECT_TRUE(c->constraints().size() == 3);
}

TEST(Constraints, InequalitiesClampAndOptionalEqualitiesGiveWay) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 300, 300));
  auto bar = constrained(root), chart = constrained(root);
  auto barBottom = C::constraintWithItem(root, NSLayoutAttribute::Bottom, NSLayoutRelation::Equal, bar,
                                         NSLayoutAttribute::Bottom, 1, 0);
  auto follow = chart->bottomAnchor().constraintEqualToAnchor(bar->topAnchor());
  follow->setPriority(UILayoutPriorityDefaultHigh);
  C::activateConstraints({barBottom, bar->heightAnchor().constraintEqualToConstant(50),
                          chart->topAnchor().constraintEqualToAnchor(root->topAnchor()), follow,
                          chart->bottomAnchor().constraintLessThanOrEqualToAnchor(root->bottomAnchor()),
                          chart->widthAnchor().constraintLessThanOrEqualToAnchorMultiplier(root->widthAnchor(), 0.5)});
  chart->setFrame(CGRectMake(0, 0, 400, 10));
  root->layoutIfNeeded();
  EXPECT_EQ(chart->frame(), CGRectMake(0, 0, 150, 250));  // width clamped to half
  barBottom->setConstant(-100);  // the bar leaves the screen; the chart stops at the bottom
  root->layoutIfNeeded();
  EXPECT_EQ(chart->frame().size.height, 300);
}

// A solve is skipped while nothing it reads has changed: each change below marks nothing for
// layout where it happens, yet the views placed by it follow at the next layout pass.
TEST(Constraints, AViewFollowsEveryChangeItsConstraintsReadEvenWithoutAMarkForLayout) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 400, 300));
  auto left = std::make_shared<UIView>(CGRectMake(0, 0, 200, 300));
  auto right = std::make_shared<UIView>(CGRectMake(200, 0, 200, 300));
  root->addSubview(left);
  root->addSubview(right);
  auto anchor = std::make_shared<UIView>(CGRectMake(10, 20, 30, 40));  // placed by its frame
  left->addSubview(anchor);
  auto follower = constrained(right);
  auto label = std::make_shared<UILabel>();
  label->setTranslatesAutoresizingMaskIntoConstraints(false);
  right->addSubview(label);
  auto stack = std::make_shared<UIStackView>();
  stack->setTranslatesAutoresizingMaskIntoConstraints(false);
  right->addSubview(stack);
  auto first = std::make_shared<UIView>(), second = std::make_shared<UIView>();
  stack->addArrangedSubview(first);
  stack->addArrangedSubview(second);
  C::activateConstraints({
      // Tied to a view of the other subtree, in window coordinates.
      follower->leadingAnchor().constraintEqualToAnchor(anchor->trailingAnchor(), 5),
      follower->topAnchor().constraintEqualToAnchor(anchor->topAnchor()),
      follower->widthAnchor().constraintEqualToConstant(10),
      follower->heightAnchor().constraintEqualToConstant(10),
      // Sized by its text.
      label->leadingAnchor().constraintEqualToAnchor(right->leadingAnchor()),
      label->topAnchor().constraintEqualToAnchor(right->topAnchor(), 100),
      // As long as the views it shows.
      stack->leadingAnchor().constraintEqualToAnchor(right->leadingAnchor()),
      stack->topAnchor().constraintEqualToAnchor(right->topAnchor(), 200),
      stack->heightAnchor().constraintEqualToConstant(10),
      first->widthAnchor().constraintEqualToConstant(30),
      second->widthAnchor().constraintEqualToConstant(50),
  });
  label->setText("short");
  root->layoutIfNeeded();
  root->layoutIfNeeded();
  EXPECT_EQ(follower->frame(), CGRectMake(-155, 20, 10, 10));
  EXPECT_EQ(stack->frame().size.width, 80);
  const double shortWidth = label->frame().size.width;
  ASSERT_GT(shortWidth, 0);

  anchor->setFrame(CGRectMake(60, 70, 30, 40));
  root->layoutIfNeeded();
  EXPECT_EQ(follower->frame(), CGRectMake(-105, 70, 10, 10));
  left->setTransform(CGAffineTransformMakeTranslation(0, 5));
  root->layoutIfNeeded();
  EXPECT_EQ(follower->frame(), CGRectMake(-105, 75, 10, 10));
  right->setBounds(CGRectMake(-20, 0, 200, 300));  // scrolled: the anchor is 20 further left in it
  root->layoutIfNeeded();
  EXPECT_EQ(follower->frame(), CGRectMake(-125, 75, 10, 10));

  label->setText("a much longer text than before");
  root->layoutIfNeeded();
  EXPECT_GT(label->frame().size.width, shortWidth);

  second->setHidden(true);
  root->layoutIfNeeded();
  EXPECT_EQ(stack->frame().size.width, 30);

  anchor->removeFromSuperview();  // moved out of the translated subtree
  root->addSubview(anchor);
  root->layoutIfNeeded();
  EXPECT_EQ(follower->frame(), CGRectMake(-125, 70, 10, 10));

  // A button is at least as large as its background image.
  auto button = UIButton::buttonWithType(UIButtonType::Custom);
  button->setTranslatesAutoresizingMaskIntoConstraints(false);
  right->addSubview(button);
  C::activateConstraints({button->leadingAnchor().constraintEqualToAnchor(right->leadingAnchor()),
                          button->topAnchor().constraintEqualToAnchor(right->topAnchor(), 250)});
  root->layoutIfNeeded();
  root->layoutIfNeeded();  // settled: a pass after one that moved nothing solves nothing
  const CGSize bare = button->frame().size;
  auto bitmap = CGBitmapContext::create(64, 24);
  const std::string path = ::testing::TempDir() + "/button-background.png";
  ASSERT_TRUE(bitmap->writePNG(path));
  const UIImageRef background = UIImage::imageWithContentsOfFile(path);
  button->setBackgroundImage(background, UIControlStateNormal);
  root->layoutIfNeeded();
  EXPECT_EQ(button->frame().size, CGSizeMake(std::max(bare.width, 64.0), std::max(bare.height, 24.0)));
  // A button that sets its background in each layout pass settles: the same image again marks
  // nothing for layout (or the window would lay out and draw it again every frame).
  root->layoutIfNeeded();
  button->setBackgroundImage(background, UIControlStateNormal);
  EXPECT_FALSE(button->needsLayout());
  EXPECT_FALSE(right->needsLayout());
}

TEST(Autoresizing, FlexibleSizesAndMarginsFollowTheSuperview) {
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 100, 100));
  auto fill = std::make_shared<UIView>(CGRectMake(0, 0, 100, 100));
  fill->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
  auto corner = std::make_shared<UIView>(CGRectMake(80, 0, 20, 20));
  corner->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
  root->addSubview(fill);
  root->addSubview(corner);
  root->setFrame(CGRectMake(0, 0, 200, 50));
  EXPECT_EQ(fill->frame(), CGRectMake(0, 0, 200, 50));
  EXPECT_EQ(corner->frame(), CGRectMake(180, 0, 20, 20));
}

TEST(Animations, PresentationFollowsTheClockAndTheCompletionRunsAtTheEnd) {
  testsupport::ManualClock clock;
  auto v = std::make_shared<UIView>(CGRectMake(0, 0, 10, 10));
  bool done = false;
  UIView::animateWithDuration(1.0, 0, UIViewAnimationOptionCurveLinear, [&] {
    v->setFrame(CGRectMake(100, 0, 30, 10));
    v->setAlpha(0);
  }, [&](bool finished) { done = finished; });
  EXPECT_EQ(v->frame(), CGRectMake(100, 0, 30, 10));  // the model at once
  EXPECT_EQ(v->presentationFrame(), CGRectMake(0, 0, 10, 10));
  clock.step(0.5);
  EXPECT_NEAR(v->presentationFrame().origin.x, 50, 1e-9);
  EXPECT_NEAR(v->presentationFrame().size.width, 20, 1e-9);
  EXPECT_NEAR(v->presentationAlpha(), 0.5, 1e-9);
  EXPECT_FALSE(done);
  clock.step(0.6);
  EXPECT_TRUE(done);
  EXPECT_FALSE(v->hasRunningAnimations());
  // Outside an animation block, or without animation, changes are shown at once.
  UIView::performWithoutAnimation([&] {
    UIView::animateWithDuration(1.0, [&] { v->setCenter({0, 0}); });
  });
  EXPECT_EQ(v->presentationCenter(), (CGPoint{0, 0}));
}

class Probe : public UIViewController {
 public:
  std::vector<std::string>* log = nullptr;
  std::string name;
  void viewDidLoad() override { add("didLoad"); }
  void viewWillAppear(bool) override { add("willAppear"); }
  void viewDidAppear(bool) override { add("didAppear"); }
  void viewWillDisappear(bool) override { add("willDisappear"); }
  void viewDidDisappear(bool) override { add("didDisappear"); }
  void add(const std::string& what) {
    if (log) log->push_back(name + "." + what);
  }
};

std::shared_ptr<Probe> probe(std::vector<std::string>& log, std::string name) {
  auto p = std::make_shared<Probe>();
  p->log = &log;
  p->name = std::move(name);
  return p;
}

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { UIScreen::mainScreen().configure({568, 320}, 1); }
  std::vector<std::string> log;
};

TEST_F(ControllerTest, AWindowLoadsItsRootOnlyWhenShownAndNavigationPushesAndPopsWithAppearanceCalls) {
  testsupport::ManualClock clock;
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 568, 320));
  auto root = probe(log, "root");
  auto nav = UINavigationController::initWithRootViewController(root);
  window->setRootViewController(nav);
  EXPECT_FALSE(root->isViewLoaded());  // the launch comes before the first viewDidLoad
  window->makeKeyAndVisible();
  EXPECT_EQ(log, (std::vector<std::string>{"root.didLoad", "root.willAppear", "root.didAppear"}));
  EXPECT_EQ(root->navigationController(), nav);
  log.clear();
  auto second = probe(log, "second");
  nav->pushViewController(second, true);
  EXPECT_EQ(log, (std::vector<std::string>{"second.didLoad", "root.willDisappear", "second.willAppear"}));
  clock.step(0.5);
  EXPECT_EQ(log.back(), "second.didAppear");
  EXPECT_FALSE(root->view()->superview());  // off screen once covered
  EXPECT_EQ(nav->topViewController(), second);
  log.clear();
  EXPECT_EQ(nav->popViewControllerAnimated(false), second);
  EXPECT_EQ(log, (std::vector<std::string>{"second.willDisappear", "root.willAppear", "second.didDisappear",
                                           "root.didAppear"}));
  EXPECT_EQ(nav->popViewControllerAnimated(false), nullptr);  // never the root
}

TEST_F(ControllerTest, ModalPresentationCoversAndDismissalUncovers) {
  testsupport::ManualClock clock;
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 568, 320));
  auto root = probe(log, "root");
  window->setRootViewController(root);
  window->makeKeyAndVisible();
  log.clear();
  auto modal = probe(log, "modal");
  bool presented = false;
  root->presentViewController(modal, true, [&] { presented = true; });
  EXPECT_EQ(modal->view()->superview(), window);
  EXPECT_EQ(modal->view()->presentationFrame().origin.y, 320);  // starts below the screen
  clock.step(0.5);
  EXPECT_TRUE(presented);
  EXPECT_EQ(modal->view()->presentationFrame().origin.y, 0);
  EXPECT_EQ(root->presentedViewController(), modal);
  EXPECT_EQ(modal->presentingViewController(), root);
  EXPECT_EQ(log, (std::vector<std::string>{"modal.didLoad", "root.willDisappear", "modal.willAppear",
                                           "root.didDisappear", "modal.didAppear"}));
  modal->dismissViewControllerAnimated(false);
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_FALSE(modal->view()->superview());
  EXPECT_EQ(log.back(), "root.didAppear");
}

TEST_F(ControllerTest, StoryboardsMakeScenesAndPerformSeguesByIdentifier) {
  UIStoryboard::registerStoryboard("TestBoard", [this] {
    UIStoryboardDefinition d;
    d.initialScene = "first";
    d.scenes["first"].makeController = [this](UIStoryboard&) { return probe(log, "first"); };
    d.scenes["first"].buildView = [](UIViewController& vc) {
      auto v = std::make_shared<UIView>(CGRectMake(0, 0, 568, 320));
      v->setTag(7);
      vc.setView(v);
    };
    d.scenes["first"].segues["custom"] = {"second", UIStoryboardSegueKind::Custom, [this](UIStoryboardSegue& s) {
                                            log.push_back("perform " + s.identifier() + " to " +
                                                          s.destinationViewController()->storyboardIdentifier());
                                          }};
    d.scenes["second"].makeController = [this](UIStoryboard&) { return probe(log, "second"); };
    return d;
  });
  auto board = UIStoryboard::storyboardWithName("TestBoard");
  auto first = board->instantiateInitialViewController();
  EXPECT_EQ(first->view()->tag(), 7);  // the scene's view builder
  EXPECT_EQ(board->instantiateViewControllerWithIdentifier("second")->storyboardIdentifier(), "second");
  EXPECT_THROW(board->instantiateViewControllerWithIdentifier("third"), NSException);
  first->performSegueWithIdentifier("custom");
  EXPECT_EQ(log.back(), "perform custom to second");
  EXPECT_THROW(first->performSegueWithIdentifier("nowhere"), NSException);
  EXPECT_THROW(UIStoryboard::storyboardWithName("NoSuchBoard"), NSException);
  UIStoryboard::unregisterStoryboard("TestBoard");
}

class Target {
 public:
  std::vector<std::string> calls;
  void tapped(const std::shared_ptr<UIButton>& sender) { calls.push_back(sender ? "button" : "none"); }
  void plain() { calls.push_back("plain"); }
};

TEST(Controls, TouchUpInsideFiresOnlyInsideAndTargetsAreHeldWeakly) {
  UIScreen::mainScreen().configure({100, 100}, 1);
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 100, 100));
  auto button = std::make_shared<UIButton>(CGRectMake(10, 10, 40, 20));
  window->addSubview(button);
  auto target = std::make_shared<Target>();
  button->addTarget(target, &Target::tapped, UIControlEventTouchUpInside);
  button->addTarget(target, &Target::plain, UIControlEventTouchDown);
  window->touchDown({20, 20});
  EXPECT_TRUE(button->isHighlighted());
  window->touchUp({20, 20});
  EXPECT_FALSE(button->isHighlighted());
  EXPECT_EQ(target->calls, (std::vector<std::string>{"plain", "button"}));
  window->touchDown({20, 20});
  window->touchMove({90, 90});
  EXPECT_FALSE(button->isHighlighted());
  window->touchUp({90, 90});  // released outside: no action
  EXPECT_EQ(target->calls.size(), 3u);
  button->setEnabled(false);
  window->touchDown({20, 20});
  window->touchUp({20, 20});
  EXPECT_EQ(target->calls.size(), 3u);
  button->setEnabled(true);
  target.reset();  // a target that is gone is not called
  window->touchDown({20, 20});
  window->touchUp({20, 20});
}

TEST(Controls, ButtonValuesFallBackFromSelectedToNormal) {
  auto button = std::make_shared<UIButton>(CGRectMake(0, 0, 40, 20));
  button->setTitle("Start", UIControlStateNormal);
  EXPECT_EQ(button->currentTitle(), "Start");
  button->setSelected(true);
  EXPECT_EQ(button->currentTitle(), "Start");
  button->setTitle("Stop", UIControlStateSelected);
  EXPECT_EQ(button->currentTitle(), "Stop");
  EXPECT_EQ(button->titleLabel()->text(), "Stop");
  button->setHighlighted(true);  // selected and highlighted: the selected value
  EXPECT_EQ(button->currentTitle(), "Stop");
}

TEST(Images, AResizableImageKeepsItsCapsAndStretchesTheMiddle) {
  // A 10 × 10 image: red left half, blue right half.
  auto bitmap = CGBitmapContext::create(10, 10);
  CGContextSetRGBFillColor(bitmap->context(), 1, 0, 0, 1);
  CGContextFillRect(bitmap->context(), CGRectMake(0, 0, 5, 10));
  CGContextSetRGBFillColor(bitmap->context(), 0, 0, 1, 1);
  CGContextFillRect(bitmap->context(), CGRectMake(5, 0, 5, 10));
  std::string path = ::testing::TempDir() + "/halves.png";
  ASSERT_TRUE(bitmap->writePNG(path));
  auto image = UIImage::imageWithContentsOfFile(path)->resizableImageWithCapInsets(UIEdgeInsetsMake(0, 2, 0, 2),
                                                                                  UIImageResizingMode::Stretch);
  auto canvas = CGBitmapContext::create(100, 10);
  UIGraphicsPushContext(canvas->context());
  image->drawInRect(CGRectMake(0, 0, 100, 10));
  UIGraphicsPopContext();
  // The right cap keeps 2 pixels of blue; the stretched middle is half red, half blue.
  EXPECT_EQ(canvas->pixel(99, 5), (CGBitmapContext::RGBA{0, 0, 255, 255}));
  EXPECT_EQ(canvas->pixel(1, 5), (CGBitmapContext::RGBA{255, 0, 0, 255}));
  EXPECT_EQ(canvas->pixel(30, 5).r, 255);
  EXPECT_EQ(canvas->pixel(70, 5).b, 255);
}

TEST(Compositor, RoundedCornersClipTheBackgroundAndLayerContentsFillTheView) {
  UIScreen::mainScreen().configure({40, 40}, 1);
  auto root = std::make_shared<UIView>(CGRectMake(0, 0, 40, 40));
  root->setBackgroundColor(UIColor::blackColor());
  auto badge = std::make_shared<UIView>(CGRectMake(0, 0, 40, 40));
  badge->setBackgroundColor(UIColor::whiteColor());
  badge->layer()->setCornerRadius(14);
  root->addSubview(badge);
  auto image = UICompositor::render(root);
  EXPECT_EQ(image->pixel(1, 1), (CGBitmapContext::RGBA{0, 0, 0, 255}));  // outside the corner
  EXPECT_EQ(image->pixel(20, 20), (CGBitmapContext::RGBA{255, 255, 255, 255}));
}

class Recorder : public UIApplicationDelegate {
 public:
  std::vector<std::string> calls;
  bool applicationDidFinishLaunchingWithOptions(UIApplication&, const Value&) override {
    calls.push_back("launch");
    return true;
  }
  void applicationWillResignActive(UIApplication&) override { calls.push_back("resign"); }
  void applicationDidEnterBackground(UIApplication&) override { calls.push_back("background"); }
  void applicationWillEnterForeground(UIApplication&) override { calls.push_back("foreground"); }
  void applicationDidBecomeActive(UIApplication&) override { calls.push_back("active"); }
  void applicationWillTerminate(UIApplication&) override { calls.push_back("terminate"); }
};

TEST(Application, LifeCycleCallsTheDelegateThenPostsOnce) {
  auto& app = UIApplication::sharedApplication();
  app.resetForTesting();
  auto delegate = std::make_shared<Recorder>();
  app.setDelegate(delegate);
  std::vector<std::string> posted;
  std::vector<NSObserverTokenRef> tokens;
  for (const char* name : {UIApplicationDidEnterBackgroundNotification, UIApplicationWillEnterForegroundNotification,
                           UIApplicationDidBecomeActiveNotification}) {
    tokens.push_back(NSNotificationCenter::defaultCenter().addObserverForName(
        name, &app, nullptr, [&posted](const NSNotification& n) { posted.push_back(n.name); }));
  }
  app.launch();
  app.enterBackground();
  app.enterBackground();  // already there
  EXPECT_EQ(app.applicationState(), UIApplicationState::Background);
  app.enterForeground();
  app.terminate();
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"launch", "active", "resign", "background", "foreground",
                                                      "active", "terminate"}));
  EXPECT_EQ(posted, (std::vector<std::string>{UIApplicationDidBecomeActiveNotification,
                                              UIApplicationDidEnterBackgroundNotification,
                                              UIApplicationWillEnterForegroundNotification,
                                              UIApplicationDidBecomeActiveNotification}));
  app.resetForTesting();
}

TEST(Device, TurningToLandscapeSwapsPortraitBoundsAndUnknownKeysRaise) {
  UIScreen::mainScreen().configure({320, 480}, 2);
  UIDevice::currentDevice().resetForTesting();
  EXPECT_EQ(UIDevice::currentDevice().orientation(), UIDeviceOrientationPortrait);
  UIDevice::currentDevice().setValue(Value(int64_t(4)), "orientation");
  EXPECT_EQ(UIScreen::mainScreen().bounds(), CGRectMake(0, 0, 480, 320));
  EXPECT_EQ(UIScreen::mainScreen().nativeBounds(), CGRectMake(0, 0, 640, 960));
  UIDevice::currentDevice().setValue(Value(5.0), "orientation");  // face up: the interface stays
  EXPECT_EQ(UIScreen::mainScreen().bounds(), CGRectMake(0, 0, 480, 320));
  UIDevice::currentDevice().setValue(Value(std::nan("")), "orientation");
  EXPECT_EQ(UIDevice::currentDevice().orientation(), UIDeviceOrientationFaceUp);
  EXPECT_THROW(UIDevice::currentDevice().setValue(Value(1), "attitude"), NSException);
  UIScreen::mainScreen().configure({568, 320}, 2);
  UIDevice::currentDevice().resetForTesting();
}

}  // namespace
