// Gesture recognisers fed by the window's touches, and view transitions.
#include <gtest/gtest.h>

#include "platform/uikit/UIButton.h"
#include "platform/uikit/UIPanGestureRecognizer.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UITapGestureRecognizer.h"
#include "platform/uikit/UIWindow.h"
#include "tests/support/ManualClock.h"

namespace {

// Records the states its recognisers announce.
struct Announcements {
  std::vector<UIGestureRecognizerState> states;
  std::function<void(UIGestureRecognizer&)> recorder() {
    return [this](UIGestureRecognizer& r) { states.push_back(r.state()); };
  }
};

class TouchLog : public UIView {
 public:
  using UIView::UIView;
  std::vector<std::string> events;
  void touchesBegan(const UITouchSet&, const UIEvent*) override { events.push_back("began"); }
  void touchesMoved(const UITouchSet&, const UIEvent*) override { events.push_back("moved"); }
  void touchesEnded(const UITouchSet&, const UIEvent*) override { events.push_back("ended"); }
  void touchesCancelled(const UITouchSet&, const UIEvent*) override { events.push_back("cancelled"); }
};

class Answers : public UIGestureRecognizerDelegate {
 public:
  bool begin = true, together = false;
  int asked = 0;
  bool gestureRecognizerShouldBegin(UIGestureRecognizer&) override {
    ++asked;
    return begin;
  }
  bool gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(UIGestureRecognizer&,
                                                                         UIGestureRecognizer&) override {
    return together;
  }
};

using S = UIGestureRecognizerState;

class GestureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIScreen::mainScreen().configure({400, 300}, 1);
    window = std::make_shared<UIWindow>(CGRectMake(0, 0, 400, 300));
    container = std::make_shared<UIView>(CGRectMake(0, 0, 400, 300));
    target = std::make_shared<TouchLog>(CGRectMake(50, 50, 300, 200));
    window->addSubview(container);
    container->addSubview(target);
  }
  std::shared_ptr<UIWindow> window;
  std::shared_ptr<UIView> container;
  std::shared_ptr<TouchLog> target;
};

TEST_F(GestureTest, APanBeginsPastItsHysteresisTakesTheTouchAndMeasuresTranslationAndVelocityOnTimestamps) {
  auto pan = std::make_shared<UIPanGestureRecognizer>();
  Announcements seen;
  pan->addAction(seen.recorder());
  container->addGestureRecognizer(pan);  // an ancestor's recogniser sees the subview's touches
  EXPECT_EQ(pan->view(), container);

  window->touchDown({100, 100}, 1.0);
  window->touchMove({108, 100}, 1.02);  // 8 points: not yet a pan
  EXPECT_EQ(pan->state(), S::Possible);
  EXPECT_EQ(target->events, (std::vector<std::string>{"began", "moved"}));
  window->touchMove({130, 104}, 1.04);
  EXPECT_EQ(seen.states, std::vector<S>{S::Began});
  // The view lost its touch to the pan, once, and hears nothing more of it.
  EXPECT_EQ(target->events, (std::vector<std::string>{"began", "moved", "cancelled"}));
  EXPECT_EQ(pan->translationInView(container.get()), (CGPoint{30, 4}));
  EXPECT_EQ(pan->translationInView(target.get()), (CGPoint{30, 4}));
  window->touchMove({160, 108}, 1.06);
  window->touchMove({190, 112}, 1.08);
  EXPECT_EQ(seen.states, (std::vector<S>{S::Began, S::Changed, S::Changed}));
  // From the oldest sample of the last 100 ms: 90 points in 80 ms.
  EXPECT_NEAR(pan->velocityInView(container.get()).x, 90 / 0.08, 1e-6);
  pan->setTranslation({0, 0}, container.get());
  EXPECT_EQ(pan->translationInView(container.get()), (CGPoint{0, 0}));
  window->touchUp({190, 112}, 1.08);
  EXPECT_EQ(seen.states.back(), S::Ended);
  EXPECT_EQ(target->events.size(), 3u);
  EXPECT_EQ(pan->state(), S::Possible);  // reset for the next touch

  // A finger held still for a while before it lifts ends with no velocity; a quick one keeps its speed.
  std::vector<double> endVelocities;
  pan->addAction([&](UIGestureRecognizer&) {
    if (pan->state() == S::Ended) endVelocities.push_back(pan->velocityInView(nullptr).x);
  });
  window->touchDown({100, 100}, 2.0);
  window->touchMove({150, 100}, 2.05);
  window->touchUp({150, 100}, 2.5);
  window->touchDown({100, 100}, 3.0);
  window->touchMove({150, 100}, 3.05);
  window->touchUp({150, 100}, 3.05);
  ASSERT_EQ(endVelocities.size(), 2u);
  EXPECT_EQ(endVelocities[0], 0);
  EXPECT_NEAR(endVelocities[1], 1000, 1e-6);
}

TEST_F(GestureTest, ATapIsRecognisedOnLiftWithinItsMovementAndThenCancelsTheViewsTouch) {
  auto tap = std::make_shared<UITapGestureRecognizer>();
  Announcements seen;
  tap->addAction(seen.recorder());
  target->addGestureRecognizer(tap);
  window->touchDown({100, 100}, 0);
  window->touchMove({106, 104}, 0.01);
  window->touchUp({106, 104}, 0.02);
  EXPECT_EQ(seen.states, std::vector<S>{S::Ended});
  EXPECT_EQ(target->events, (std::vector<std::string>{"began", "moved", "cancelled"}));

  // Moved too far: no tap, and the view has its whole touch.
  seen.states.clear();
  target->events.clear();
  window->touchDown({100, 100}, 1);
  window->touchMove({100, 115}, 1.01);
  window->touchUp({100, 115}, 1.02);
  EXPECT_TRUE(seen.states.empty());
  EXPECT_EQ(target->events, (std::vector<std::string>{"began", "moved", "ended"}));

  // A button under a tap recogniser whose gesture takes the touch does not fire.
  auto button = std::make_shared<UIButton>(CGRectMake(10, 10, 40, 40));
  int fired = 0;
  button->addAction([&](UIControl&) { ++fired; }, UIControlEventTouchUpInside);
  target->addSubview(button);
  window->touchDown({80, 80}, 2);
  window->touchUp({80, 80}, 2.01);
  EXPECT_EQ(fired, 0);
  EXPECT_FALSE(button->isHighlighted());
  // Not taking the touch: both the tap and the button.
  tap->setCancelsTouchesInView(false);
  window->touchDown({80, 80}, 3);
  window->touchUp({80, 80}, 3.01);
  EXPECT_EQ(fired, 1);
}

TEST_F(GestureTest, TheDelegateDecidesWhetherAGestureBeginsAndWhetherTwoRecogniseTogether) {
  auto answers = std::make_shared<Answers>();
  auto pan = std::make_shared<UIPanGestureRecognizer>();
  auto tap = std::make_shared<UITapGestureRecognizer>();
  Announcements pans, taps;
  pan->addAction(pans.recorder());
  tap->addAction(taps.recorder());
  pan->setDelegate(answers);
  target->addGestureRecognizer(pan);
  target->addGestureRecognizer(tap);

  answers->begin = false;
  window->touchDown({100, 100}, 0);
  window->touchMove({140, 100}, 0.05);
  EXPECT_EQ(pan->state(), S::Failed);
  EXPECT_EQ(answers->asked, 1);
  window->touchMove({160, 100}, 0.06);
  EXPECT_EQ(answers->asked, 1);  // a failed recogniser is not asked again for this touch
  window->touchUp({160, 100}, 0.07);
  EXPECT_TRUE(pans.states.empty());
  EXPECT_EQ(target->events, (std::vector<std::string>{"began", "moved", "moved", "ended"}));

  // A pan that begins makes the tap watching the same touch fail...
  answers->begin = true;
  window->touchDown({100, 100}, 1);
  window->touchMove({140, 100}, 1.05);
  EXPECT_EQ(tap->state(), S::Failed);
  window->touchUp({140, 100}, 1.06);
  EXPECT_TRUE(taps.states.empty());
  // ...unless the delegate lets them recognise together (the tap then fails on its own movement).
  answers->together = true;
  window->touchDown({100, 100}, 2);
  window->touchMove({112, 100}, 2.05);
  EXPECT_EQ(pan->state(), S::Began);
  EXPECT_EQ(tap->state(), S::Failed);  // 12 points is more than a tap allows
  window->touchUp({112, 100}, 2.06);

  // A disabled recogniser sees nothing.
  pans.states.clear();
  pan->setEnabled(false);
  window->touchDown({100, 100}, 3);
  window->touchMove({150, 100}, 3.05);
  window->touchUp({150, 100}, 3.06);
  EXPECT_TRUE(pans.states.empty());
}

// A recogniser that fails a gesture it had begun (as a filter after the base behaviour does).
class FailingPan : public UIPanGestureRecognizer {
 public:
  bool failBeforeAnnouncing = true;
  void touchesMoved(const UITouchSet& touches, const UIEvent* event) override {
    UIPanGestureRecognizer::touchesMoved(touches, event);
    if (state() == S::Began && failBeforeAnnouncing) setState(S::Failed);
    if (state() == S::Changed && !failBeforeAnnouncing) setState(S::Failed);
  }
};

TEST_F(GestureTest, AGestureFailedBeforeItsBeganWentOutIsAPlainFailureAfterwardsItIsCancelled) {
  auto pan = std::make_shared<FailingPan>();
  Announcements seen;
  pan->addAction(seen.recorder());
  target->addGestureRecognizer(pan);
  window->touchDown({100, 100}, 0);
  window->touchMove({130, 100}, 0.05);
  EXPECT_EQ(pan->state(), S::Failed);
  EXPECT_TRUE(seen.states.empty());
  window->touchUp({130, 100}, 0.06);
  EXPECT_EQ(target->events.back(), "ended");  // nobody took the touch

  pan->failBeforeAnnouncing = false;
  window->touchDown({100, 100}, 1);
  window->touchMove({130, 100}, 1.05);
  window->touchMove({140, 100}, 1.06);
  EXPECT_EQ(seen.states, (std::vector<S>{S::Began, S::Cancelled}));
  // A window's cancelled touch cancels a running pan too.
  seen.states.clear();
  pan->failBeforeAnnouncing = true;
  auto plain = std::make_shared<UIPanGestureRecognizer>();
  plain->addAction(seen.recorder());
  target->removeGestureRecognizer(pan);
  EXPECT_EQ(pan->view(), nullptr);
  target->addGestureRecognizer(plain);
  window->touchDown({100, 100}, 2);
  window->touchMove({130, 100}, 2.05);
  window->touchCancel(2.06);
  EXPECT_EQ(seen.states, (std::vector<S>{S::Began, S::Cancelled}));
}

TEST(ViewTransitions, ACrossDissolveFadesTheNewViewInOverTheOldOneWhichLeavesAtTheEnd) {
  testsupport::ManualClock clock;
  auto parent = std::make_shared<UIView>(CGRectMake(0, 0, 100, 100));
  auto below = std::make_shared<UIView>(), from = std::make_shared<UIView>(), above = std::make_shared<UIView>();
  parent->addSubview(below);
  parent->addSubview(from);
  parent->addSubview(above);
  auto to = std::make_shared<UIView>();
  bool done = false;
  UIView::transitionFromView(from, to, 1.0, UIViewAnimationOptionTransitionCrossDissolve, [&](bool) { done = true; });
  // In from's place, just above it, fading in.
  ASSERT_EQ(parent->subviews().size(), 4u);
  EXPECT_EQ(parent->subviews()[2], to);
  EXPECT_EQ(to->alpha(), 1);
  clock.step(0.5);
  EXPECT_GT(to->presentationAlpha(), 0.2);
  EXPECT_LT(to->presentationAlpha(), 0.8);
  EXPECT_EQ(from->superview(), parent);
  clock.step(0.6);
  EXPECT_TRUE(done);
  EXPECT_EQ(from->superview(), nullptr);
  EXPECT_EQ(parent->subviews(), (std::vector<UIViewRef>{below, to, above}));

  // Without a dissolve (or without a duration): at once, the completion on the run loop.
  done = false;
  UIView::transitionFromView(to, from, NAN, UIViewAnimationOptionTransitionCrossDissolve, [&](bool) { done = true; });
  EXPECT_EQ(parent->subviews(), (std::vector<UIViewRef>{below, from, above}));
  EXPECT_FALSE(done);
  clock.step(0.01);
  EXPECT_TRUE(done);
}

}  // namespace
