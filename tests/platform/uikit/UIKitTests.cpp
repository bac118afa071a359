#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <unistd.h>

#include "platform/foundation/NSException.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIWindow.h"

namespace {

class RecordingView : public UIView {
 public:
  using UIView::UIView;
  std::vector<std::string> events;
  std::vector<CGPoint> locations;
  void touchesBegan(const UITouchSet& t, const UIEvent*) override { record("began", t); }
  void touchesMoved(const UITouchSet& t, const UIEvent*) override { record("moved", t); }
  void touchesEnded(const UITouchSet& t, const UIEvent*) override { record("ended", t); }
  void record(const char* what, const UITouchSet& t) {
    events.push_back(what);
    locations.push_back(t.front()->locationInView(this));
  }
};

class CrossView : public UIView {
 public:
  using UIView::UIView;
  int draws = 0;
  void drawRect(const CGRect& rect) override {
    ++draws;
    CGContextRef c = UIGraphicsGetCurrentContext();
    CGContextSetFillColorWithColor(c, UIColor::greenColor());
    CGContextFillRect(c, CGRectMake(0, 0, 5, 5));
  }
};

class UIKitTest : public ::testing::Test {
 protected:
  void SetUp() override { UIScreen::mainScreen().configure({100, 60}, 1); }
};

TEST_F(UIKitTest, FrameFollowsCentreBoundsAndTransform) {
  auto v = std::make_shared<UIView>(CGRectMake(10, 20, 40, 10));
  EXPECT_EQ(v->center(), (CGPoint{30, 25}));
  EXPECT_EQ(v->bounds(), CGRectMake(0, 0, 40, 10));
  // A quarter turn: the frame is the bounding box; setting a frame then solves for swapped bounds.
  v->setTransform(CGAffineTransformMakeRotation(-M_PI / 2));
  EXPECT_EQ(v->frame(), CGRectMake(25, 5, 10, 40));
  v->setFrame(CGRectMake(0, 0, 100, 300));
  EXPECT_EQ(v->bounds().size, (CGSize{300, 100}));
  EXPECT_EQ(v->frame(), CGRectMake(0, 0, 100, 300));
  v->setTransform(CGAffineTransformIdentity);
  v->setFrame(CGRectMake(5, 5, -10, 20));  // normalised, not a negative size
  EXPECT_EQ(v->frame(), CGRectMake(-5, 5, 10, 20));
  EXPECT_THROW(v->setFrame(CGRectMake(NAN, 0, 1, 1)), NSException);
  EXPECT_EQ(v->frame(), CGRectMake(-5, 5, 10, 20));
}

TEST_F(UIKitTest, ConvertsPointsThroughOffsetsBoundsOriginsAndTransforms) {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 100, 60));
  auto outer = std::make_shared<UIView>(CGRectMake(10, 10, 50, 40));
  auto inner = std::make_shared<UIView>(CGRectMake(5, 5, 20, 20));
  window->addSubview(outer);
  outer->addSubview(inner);
  EXPECT_EQ(inner->convertPointToView({1, 2}, nullptr), (CGPoint{16, 17}));
  EXPECT_EQ(window->convertPointToView({16, 17}, inner.get()), (CGPoint{1, 2}));
  // Scrolling the outer view's bounds moves what it contains.
  outer->setBounds(CGRectMake(0, 3, 50, 40));
  EXPECT_EQ(inner->convertPointToView({1, 2}, nullptr), (CGPoint{16, 14}));
  EXPECT_EQ(inner->convertRectToView(CGRectMake(0, 0, 2, 2), outer.get()), CGRectMake(5, 5, 2, 2));
  // A rotated view: its local x axis points up in the window.
  auto rotated = std::make_shared<UIView>(CGRectMake(0, 0, 20, 10));
  window->addSubview(rotated);
  rotated->setTransform(CGAffineTransformMakeRotation(-M_PI / 2));
  CGPoint right = rotated->convertPointToView({20, 5}, nullptr);  // right edge middle
  EXPECT_NEAR(right.x, 10, 1e-9);
  EXPECT_NEAR(right.y, -5, 1e-9);
  CGPoint back = rotated->convertPointFromView(right, nullptr);
  EXPECT_NEAR(back.x, 20, 1e-9);
  EXPECT_NEAR(back.y, 5, 1e-9);
  EXPECT_EQ(inner->window(), window);
  inner->removeFromSuperview();
  EXPECT_EQ(inner->window(), nullptr);
  EXPECT_EQ(outer->subviews().size(), 0u);
}

TEST_F(UIKitTest, HitTestingTakesTheTopmostVisibleInteractiveView) {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 100, 60));
  auto below = std::make_shared<UIView>(CGRectMake(0, 0, 50, 50));
  auto above = std::make_shared<UIView>(CGRectMake(20, 20, 50, 30));
  window->addSubview(below);
  window->addSubview(above);
  EXPECT_EQ(window->hitTest({30, 30}, nullptr), above);
  EXPECT_EQ(window->hitTest({10, 10}, nullptr), below);
  EXPECT_EQ(window->hitTest({90, 5}, nullptr), window);
  EXPECT_EQ(window->hitTest({150, 5}, nullptr), nullptr);
  above->setHidden(true);
  EXPECT_EQ(window->hitTest({30, 30}, nullptr), below);
  above->setHidden(false);
  above->setUserInteractionEnabled(false);
  EXPECT_EQ(window->hitTest({30, 30}, nullptr), below);
  above->setUserInteractionEnabled(true);
  above->setAlpha(0);
  EXPECT_EQ(window->hitTest({30, 30}, nullptr), below);
  window->bringSubviewToFront(below);
  above->setAlpha(1);
  EXPECT_EQ(window->hitTest({30, 30}, nullptr), below);
}

TEST_F(UIKitTest, AddingAViewToItsOwnSubtreeIsRefused) {
  auto a = std::make_shared<UIView>(CGRectMake(0, 0, 10, 10));
  auto b = std::make_shared<UIView>(CGRectMake(0, 0, 10, 10));
  a->addSubview(b);
  EXPECT_THROW(b->addSubview(a), NSException);
  EXPECT_THROW(a->addSubview(a), NSException);
  EXPECT_EQ(a->subviews().size(), 1u);
  EXPECT_EQ(b->subviews().size(), 0u);
  // Moving a view to a new parent takes it from the old one.
  auto c = std::make_shared<UIView>(CGRectMake(0, 0, 10, 10));
  c->addSubview(b);
  EXPECT_TRUE(a->subviews().empty());
  EXPECT_EQ(b->superview(), c);
}

TEST_F(UIKitTest, WindowDeliversATouchToTheViewItBeganIn) {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 100, 60));
  auto target = std::make_shared<RecordingView>(CGRectMake(20, 10, 40, 40));
  window->addSubview(target);
  window->touchMove({1, 1});  // no press in progress: ignored
  window->touchDown({30, 20});
  window->touchMove({90, 55});  // outside the view: still delivered to it
  window->touchUp({91, 56});
  EXPECT_EQ(target->events, (std::vector<std::string>{"began", "moved", "ended"}));
  ASSERT_EQ(target->locations.size(), 3u);
  EXPECT_EQ(target->locations[0], (CGPoint{10, 10}));
  EXPECT_EQ(target->locations[1], (CGPoint{70, 45}));
  EXPECT_EQ(window->activeTouch(), nullptr);
  // A touch on a plain subview goes up to its superview (the next responder).
  auto child = std::make_shared<UIView>(CGRectMake(0, 0, 10, 10));
  target->addSubview(child);
  window->touchDown({21, 11});
  EXPECT_EQ(target->events.back(), "began");
  EXPECT_EQ(target->locations.back(), (CGPoint{1, 1}));
}

TEST_F(UIKitTest, CompositorPaintsBackgroundsDrawnContentAlphaAndHiddenViews) {
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 40, 30));
  window->setBackgroundColor(UIColor::blackColor());
  auto red = std::make_shared<UIView>(CGRectMake(10, 10, 10, 10));
  red->setBackgroundColor(UIColor::redColor());
  auto drawn = std::make_shared<CrossView>(CGRectMake(25, 0, 10, 10));
  auto faded = std::make_shared<UIView>(CGRectMake(0, 20, 10, 10));
  faded->setBackgroundColor(UIColor::whiteColor());
  faded->setAlpha(0.5);
  auto hidden = std::make_shared<UIView>(CGRectMake(30, 20, 10, 10));
  hidden->setBackgroundColor(UIColor::blueColor());
  hidden->setHidden(true);
  for (auto& v : std::vector<UIViewRef>{red, drawn, faded, hidden}) window->addSubview(v);

  auto image = UICompositor::render(window, 2);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), 80);
  EXPECT_EQ(image->pixel(30, 30), (CGBitmapContext::RGBA{255, 0, 0, 255}));
  EXPECT_EQ(image->pixel(5, 5), (CGBitmapContext::RGBA{0, 0, 0, 255}));
  EXPECT_EQ(image->pixel(52, 2), (CGBitmapContext::RGBA{0, 255, 0, 255}));  // drawn by drawRect:
  EXPECT_EQ(image->pixel(62, 12), (CGBitmapContext::RGBA{0, 0, 0, 255}));   // outside its square
  auto grey = image->pixel(5, 45);
  EXPECT_NEAR(grey.r, 128, 2);
  EXPECT_EQ(image->pixel(65, 45), (CGBitmapContext::RGBA{0, 0, 0, 255}));  // hidden view not painted
  // drawRect: runs only when the view is marked for display.
  EXPECT_EQ(drawn->draws, 1);
  UICompositor::render(window, 2);
  EXPECT_EQ(drawn->draws, 1);
  drawn->setNeedsDisplay();
  UICompositor::render(window, 2);
  EXPECT_EQ(drawn->draws, 2);

  auto path = std::filesystem::temp_directory_path() / ("uikit-" + std::to_string(::getpid()) + ".png");
  ASSERT_TRUE(UICompositor::writePNG(window, path.string()));
  EXPECT_GT(std::filesystem::file_size(path), 50u);
  std::filesystem::remove(path);
  auto empty = std::make_shared<UIView>(CGRectZero);
  std::string error;
  EXPECT_FALSE(UICompositor::writePNG(empty, path.string(), &error));
  EXPECT_FALSE(error.empty());
}

class CountingLayoutView : public UIView {
 public:
  using UIView::UIView;
  int layouts = 0;
  void layoutSubviews() override { ++layouts; }
};

TEST_F(UIKitTest, LayoutRunsOnceAfterAResize) {
  auto v = std::make_shared<CountingLayoutView>(CGRectMake(0, 0, 10, 10));
  v->layoutIfNeeded();
  v->layoutIfNeeded();
  EXPECT_EQ(v->layouts, 1);
  v->setFrame(CGRectMake(5, 5, 10, 10));  // moved, same size: no layout
  v->layoutIfNeeded();
  EXPECT_EQ(v->layouts, 1);
  v->setFrame(CGRectMake(5, 5, 20, 10));
  v->layoutIfNeeded();
  EXPECT_EQ(v->layouts, 2);
}

}  // namespace
