// The incremental compositor: after every kind of change a view tree goes through, the kept frame
// equals a whole render of the tree pixel for pixel, and only the changed rectangles were repainted.
#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/uikit/UIButton.h"
#include "platform/uikit/UICompositor.h"
#include "platform/uikit/UILabel.h"
#include "platform/uikit/UIWindow.h"

namespace {

// Fills itself with its colour, drawn anew only when marked for display.
class FilledView : public UIView {
 public:
  using UIView::UIView;
  void drawRect(const CGRect& rect) override {
    CGContextRef c = UIGraphicsGetCurrentContext();
    cairo_t* cr = c->cairo();
    cairo_set_source_rgba(cr, r, g, b, 1);
    cairo_rectangle(cr, rect.origin.x + 1, rect.origin.y + 1, rect.size.width - 2, rect.size.height - 2);
    cairo_fill(cr);
  }
  double r = 1, g = 0, b = 0;
};

// A view whose GL layer's presented pixels the test writes itself (no GL needed).
class PresentingView : public UIView {
 public:
  using UIView::UIView;
  void present(uint8_t red, uint8_t alpha) {
    auto gl = std::static_pointer_cast<CAEAGLLayer>(layer());
    auto& p = gl->mutablePresented();
    p.width = static_cast<int>(bounds().size.width * 2);
    p.height = static_cast<int>(bounds().size.height * 2);
    p.rgba.assign(static_cast<size_t>(p.width) * p.height * 4, 0);
    for (size_t i = 0; i < p.rgba.size(); i += 4) {
      p.rgba[i] = red;
      p.rgba[i + 3] = alpha;
    }
    ++p.count;
  }
  // Pixels that differ one from the next: every alpha, colours above their alpha among them.
  void presentPattern(unsigned seed) {
    auto gl = std::static_pointer_cast<CAEAGLLayer>(layer());
    auto& p = gl->mutablePresented();
    p.width = static_cast<int>(bounds().size.width * 2);
    p.height = static_cast<int>(bounds().size.height * 2);
    p.rgba = pattern(seed);
    ++p.count;
  }
  // The same, stored as GL reads it back: rows bottom first.
  void presentPatternBottomFirst(unsigned seed) {
    presentPattern(seed);
    auto& p = eaglLayer().presentedForReadBack();
    const size_t row = static_cast<size_t>(p.width) * 4;
    for (int y = 0; y < p.height / 2; ++y) {
      std::swap_ranges(p.rgba.begin() + static_cast<long>(y * row), p.rgba.begin() + static_cast<long>((y + 1) * row),
                       p.rgba.end() - static_cast<long>((y + 1) * row));
    }
    p.bottomFirst = true;
  }
  // Mostly empty, as a chart's image is: runs of pixels whose bytes are all 0, of many lengths and
  // starting anywhere, between runs of the pattern.
  void presentSparsePattern(unsigned seed) {
    presentPattern(seed);
    auto& p = eaglLayer().mutablePresented();
    size_t i = 0, run = seed % 5;
    bool empty = true;
    while (i < p.rgba.size() / 4) {
      const size_t end = std::min(p.rgba.size() / 4, i + run);
      if (empty) std::fill(p.rgba.begin() + static_cast<long>(i * 4), p.rgba.begin() + static_cast<long>(end * 4), 0);
      i = end;
      empty = !empty;
      run = (run * 7 + 13) % 97;
    }
  }
  // Runs of empty, of opaque and of patterned pixels, of many lengths and starting anywhere, as a
  // chart's image with its filled areas has them.
  void presentRunsPattern(unsigned seed) {
    presentPattern(seed);
    auto& p = eaglLayer().mutablePresented();
    size_t i = 0, run = seed % 5, kind = seed % 3;
    while (i < p.rgba.size() / 4) {
      const size_t end = std::min(p.rgba.size() / 4, i + run);
      for (size_t k = i; k < end; ++k) {
        if (kind == 0) std::fill(p.rgba.begin() + static_cast<long>(k * 4), p.rgba.begin() + static_cast<long>(k * 4 + 4), 0);
        if (kind == 1) p.rgba[k * 4 + 3] = 255;
      }
      i = end;
      kind = (kind + 1) % 3;
      run = (run * 7 + 13) % 97;
    }
  }
  // The image presented last, stored instead as GL reads it back from a B, G, R, A framebuffer:
  // rows bottom first, blue and red changed places. The compositor must see the same pixels.
  void representAsReadBgra() {
    const std::vector<uint8_t> upright = eaglLayer().presented().rgba;
    auto& p = eaglLayer().presentedForReadBack();
    const size_t row = static_cast<size_t>(p.width) * 4;
    for (int y = 0; y < p.height; ++y) {
      const uint8_t* from = upright.data() + static_cast<size_t>(p.height - 1 - y) * row;
      uint8_t* to = p.rgba.data() + static_cast<size_t>(y) * row;
      for (size_t x = 0; x < row; x += 4) {
        to[x] = from[x + 2];
        to[x + 1] = from[x + 1];
        to[x + 2] = from[x];
        to[x + 3] = from[x + 3];
      }
    }
    p.bottomFirst = true;
    p.bgra = true;
    ++p.count;
  }
  CAEAGLLayer& eaglLayer() { return *std::static_pointer_cast<CAEAGLLayer>(layer()); }
  std::vector<uint8_t> pattern(unsigned seed) const {
    std::vector<uint8_t> rgba(static_cast<size_t>(bounds().size.width * 2) * static_cast<size_t>(bounds().size.height * 2) * 4);
    for (size_t i = 0; i < rgba.size() / 4; ++i) {
      rgba[i * 4] = static_cast<uint8_t>(i * 7 + seed);
      rgba[i * 4 + 1] = static_cast<uint8_t>(i * 13);
      rgba[i * 4 + 2] = static_cast<uint8_t>(i * 29 + seed * 3);
      rgba[i * 4 + 3] = static_cast<uint8_t>(i + seed);
    }
    return rgba;
  }

 protected:
  std::shared_ptr<CALayer> makeLayer() const override { return std::make_shared<CAEAGLLayer>(); }
};

long area(const std::vector<UICompositor::PixelRect>& rects) {
  long sum = 0;
  for (const auto& r : rects) sum += static_cast<long>(r.width) * r.height;
  return sum;
}

bool inside(const std::vector<UICompositor::PixelRect>& rects, const UICompositor::PixelRect& bound) {
  for (const auto& r : rects) {
    if (r.x < bound.x || r.y < bound.y || r.x + r.width > bound.x + bound.width || r.y + r.height > bound.y + bound.height)
      return false;
  }
  return true;
}

class CompositorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<UIWindow>(CGRectMake(0, 0, 120, 80));
    window->setBackgroundColor(UIColor::colorWithRed(0.1, 0.2, 0.3, 1));
    filled = std::make_shared<FilledView>(CGRectMake(5, 5, 20, 20));
    plain = std::make_shared<UIView>(CGRectMake(30, 5, 20, 20));
    plain->setBackgroundColor(UIColor::colorWithRed(0, 1, 0, 0.6));
    clipper = std::make_shared<UIView>(CGRectMake(60, 5, 30, 30));
    clipper->setBackgroundColor(UIColor::colorWithRed(0.5, 0.5, 0.5, 1));
    child = std::make_shared<UIView>(CGRectMake(20, 20, 25, 25));  // reaches out of its parent
    child->setBackgroundColor(UIColor::colorWithRed(1, 1, 0, 1));
    clipper->addSubview(child);
    gl = std::make_shared<PresentingView>(CGRectMake(5, 40, 50, 30));
    gl->present(200, 255);
    for (auto& v : std::vector<UIViewRef>{filled, plain, clipper, gl}) window->addSubview(v);
  }

  // Updates the compositor and checks its frame against a whole render; the repainted rectangles.
  std::vector<UICompositor::PixelRect> step() {
    std::vector<UICompositor::PixelRect> damage = compositor.update(window, 2);
    auto whole = UICompositor::render(window, 2);
    const CGBitmapContext* kept = compositor.frame();
    EXPECT_TRUE(whole && kept);
    if (!whole || !kept) return damage;
    EXPECT_EQ(kept->width(), whole->width());
    EXPECT_EQ(kept->height(), whole->height());
    cairo_surface_flush(whole->surface());
    const auto* a = cairo_image_surface_get_data(kept->surface());
    const auto* b = cairo_image_surface_get_data(whole->surface());
    const int strideA = cairo_image_surface_get_stride(kept->surface());
    const int strideB = cairo_image_surface_get_stride(whole->surface());
    long differing = 0;
    for (int y = 0; y < whole->height() && y < kept->height(); ++y) {
      differing += std::memcmp(a + y * strideA, b + y * strideB, static_cast<size_t>(whole->width()) * 4) != 0;
    }
    EXPECT_EQ(differing, 0) << "rows that differ from a whole render";
    return damage;
  }

  std::shared_ptr<UIWindow> window;
  std::shared_ptr<FilledView> filled;
  UIViewRef plain, clipper, child;
  std::shared_ptr<PresentingView> gl;
  UICompositor compositor;
};

TEST_F(CompositorTest, FirstFrameIsWholeAndAnUnchangedTreeRepaintsNothing) {
  auto damage = step();
  ASSERT_EQ(damage.size(), 1u);
  EXPECT_EQ(damage[0], (UICompositor::PixelRect{0, 0, 240, 160}));
  EXPECT_TRUE(step().empty());
  EXPECT_TRUE(step().empty());
  compositor.invalidate();
  EXPECT_EQ(area(step()), 240 * 160);
}

TEST_F(CompositorTest, ContentChangesRepaintOnlyTheirViews) {
  step();
  // Marked for display and drawn anew.
  filled->g = 1;
  filled->setNeedsDisplay();
  auto damage = step();
  EXPECT_TRUE(inside(damage, {9, 9, 42, 42})) << area(damage);
  EXPECT_FALSE(damage.empty());
  // A GL layer that presented.
  gl->present(30, 128);
  damage = step();
  EXPECT_TRUE(inside(damage, {9, 79, 102, 62})) << area(damage);
  // A background colour.
  plain->setBackgroundColor(UIColor::colorWithRed(0, 0, 1, 1));
  damage = step();
  EXPECT_TRUE(inside(damage, {59, 9, 42, 42})) << area(damage);
  EXPECT_TRUE(step().empty());
}

TEST_F(CompositorTest, GeometryVisibilityAndOrderChangesRepaintWhereViewsWereAndAre) {
  step();
  plain->setFrame(CGRectMake(70, 45, 20, 20));  // moved over empty background
  auto damage = step();
  EXPECT_LT(area(damage), 240 * 160 / 3);
  filled->setHidden(true);
  step();
  filled->setHidden(false);
  filled->setNeedsDisplay();
  step();
  clipper->setAlpha(0.4);  // the child's pixels change with it
  step();
  child->setTransform(CGAffineTransformMakeRotation(0.3));
  step();
  clipper->setClipsToBounds(true);  // the child's part outside disappears
  damage = step();
  EXPECT_FALSE(damage.empty());
  window->bringSubviewToFront(clipper);
  window->bringSubviewToFront(plain);  // now over the clipped container
  plain->setFrame(CGRectMake(80, 20, 20, 20));
  step();
  child->removeFromSuperview();
  step();
  auto added = std::make_shared<UIView>(CGRectMake(95, 50, 20, 20));
  added->setBackgroundColor(UIColor::colorWithRed(1, 0, 1, 1));
  window->addSubview(added);
  damage = step();
  EXPECT_TRUE(inside(damage, {189, 99, 42, 42})) << area(damage);
  added->layer()->setCornerRadius(6);
  step();
  added->layer()->setShadowPath(CGRectMake(0, 0, 20, 20));
  added->layer()->setShadowOpacity(0.8);
  step();
  EXPECT_TRUE(step().empty());
}

// A translucent gradient: what lies under a GL view differs from pixel to pixel.
class GradientView : public UIView {
 public:
  using UIView::UIView;
  void drawRect(const CGRect& rect) override {
    cairo_t* cr = UIGraphicsGetCurrentContext()->cairo();
    cairo_pattern_t* g = cairo_pattern_create_linear(rect.origin.x, rect.origin.y, rect.origin.x + rect.size.width,
                                                     rect.origin.y + rect.size.height);
    cairo_pattern_add_color_stop_rgba(g, 0, 1, 0, 0, 0.3);
    cairo_pattern_add_color_stop_rgba(g, 1, 0, 0.5, 1, 1);
    cairo_set_source(cr, g);
    cairo_paint(cr);
    cairo_pattern_destroy(g);
  }
};

TEST_F(CompositorTest, GLPixelsOfEveryAlphaComposeAsAWholeRenderWhereverTheViewLies) {
  auto under = std::make_shared<GradientView>(CGRectMake(0, 30, 70, 50));
  window->insertSubview(under, 0);
  auto over = std::make_shared<FilledView>(CGRectMake(10, 5, 8, 8));  // a child over the GL image
  gl->addSubview(over);
  step();
  unsigned seed = 0;
  auto presents = [&] {
    for (int i = 0; i < 3; ++i) {
      gl->presentPattern(seed += 37);
      EXPECT_FALSE(step().empty());
    }
  };
  presents();
  under->setNeedsDisplay();  // repainted under the GL view as it presents
  gl->presentPattern(seed += 37);
  step();
  presents();
  // At half a device pixel.
  gl->setFrame(CGRectMake(5.25, 40, 50, 30));
  presents();
  gl->setFrame(CGRectMake(5, 40, 50, 30));
  presents();
  // With a background of its own.
  gl->setBackgroundColor(UIColor::colorWithRed(0, 0, 1, 0.5));
  presents();
  gl->setBackgroundColor(nullptr);
  presents();
  // In a container whose rounded corners, then straight edges, cut into it.
  auto box = std::make_shared<UIView>(CGRectMake(0, 30, 60, 50));
  window->addSubview(box);
  gl->setFrame(CGRectMake(0, 0, 50, 30));
  box->addSubview(gl);
  box->setClipsToBounds(true);
  box->layer()->setCornerRadius(12);
  presents();
  box->layer()->setCornerRadius(0);
  box->setFrame(CGRectMake(0, 30, 40, 20));
  presents();
  box->setFrame(CGRectMake(0, 30, 60, 50));
  presents();
  EXPECT_TRUE(step().empty());
}

TEST_F(CompositorTest, GLImagesReadBottomFirstComposeAsTheSameImageFromTheTop) {
  auto under = std::make_shared<GradientView>(CGRectMake(0, 30, 70, 50));
  window->insertSubview(under, 0);
  gl->setFrame(CGRectMake(5, 40, 50.5, 30.5));  // 101 x 61 pixels: a row in the middle stays
  step();
  for (unsigned seed : {3u, 40u, 77u}) {
    gl->presentPatternBottomFirst(seed);
    EXPECT_FALSE(step().empty());  // the pass over the underlay, against a whole render
    const CGBitmapContext* kept = compositor.frame();
    ASSERT_TRUE(kept);
    const auto* data = cairo_image_surface_get_data(kept->surface());
    std::vector<uint8_t> composed(data, data + static_cast<size_t>(cairo_image_surface_get_stride(kept->surface())) * kept->height());
    // The image turned for a reader that wants its rows from the top, then composed: the same frame.
    const auto& upright = gl->eaglLayer().presented();
    EXPECT_FALSE(upright.bottomFirst);
    EXPECT_TRUE(upright.rgba == gl->pattern(seed));
    ++gl->eaglLayer().mutablePresented().count;
    step();
    data = cairo_image_surface_get_data(compositor.frame()->surface());
    EXPECT_EQ(std::memcmp(data, composed.data(), composed.size()), 0);
  }
  // Drawn through Cairo (half a pixel off the grid) from rows bottom first.
  gl->setFrame(CGRectMake(5.25, 40, 50.5, 30.5));
  gl->presentPatternBottomFirst(5);
  step();
}

TEST_F(CompositorTest, MostlyEmptyGLImagesComposeAsAWholeRender) {
  auto under = std::make_shared<GradientView>(CGRectMake(0, 30, 70, 50));
  window->insertSubview(under, 0);
  gl->setFrame(CGRectMake(5, 40, 55.5, 30));  // rows of 111 pixels
  step();
  for (unsigned seed = 0; seed < 6; ++seed) {
    gl->presentSparsePattern(seed);
    EXPECT_FALSE(step().empty());
  }
}

TEST_F(CompositorTest, GLImagesReadInEitherByteOrderComposeAsTheSameFrame) {
  auto under = std::make_shared<GradientView>(CGRectMake(0, 30, 70, 50));
  window->insertSubview(under, 0);
  step();
  auto frameBytes = [&] {
    const CGBitmapContext* kept = compositor.frame();
    const auto* data = cairo_image_surface_get_data(kept->surface());
    return std::vector<uint8_t>(data, data + static_cast<size_t>(cairo_image_surface_get_stride(kept->surface())) * kept->height());
  };
  // Straight over its underlay (rows of 111 pixels, runs of 32 at every offset), then through Cairo
  // at half a device pixel.
  for (double x : {5.0, 5.25}) {
    gl->setFrame(CGRectMake(x, 40, 55.5, 30.5));
    step();
    for (unsigned seed = 0; seed < 6; ++seed) {
      gl->presentRunsPattern(seed);
      const std::vector<uint8_t> pixels = gl->eaglLayer().presented().rgba;
      EXPECT_FALSE(step().empty());
      const std::vector<uint8_t> composed = frameBytes();
      gl->representAsReadBgra();
      EXPECT_FALSE(step().empty());
      EXPECT_TRUE(frameBytes() == composed) << "seed " << seed << " at x " << x;
      // A reader that wants the image upright gets it in R, G, B, A again.
      const auto& upright = gl->eaglLayer().presented();
      EXPECT_FALSE(upright.bottomFirst || upright.bgra);
      EXPECT_TRUE(upright.rgba == pixels);
    }
  }
}

TEST_F(CompositorTest, AFrameComposedIntoTheCallersPixelsIsTheFrameAWholeRenderGives) {
  // Rows longer than the frame's, their ends and the pixels themselves holding what was there.
  const int width = 240, height = 160, pad = 3, stride = (width + pad) * 4;
  std::vector<uint32_t> pixels(static_cast<size_t>(width + pad) * height, 0x12345678u);
  const UICompositor::Target target{reinterpret_cast<uint8_t*>(pixels.data()), width, height, stride};
  compositor.setTarget(target);
  auto under = std::make_shared<GradientView>(CGRectMake(0, 30, 70, 50));
  window->insertSubview(under, 0);
  EXPECT_EQ(area(step()), width * height);
  EXPECT_TRUE(compositor.framesIntoTarget()) << "the window's opaque background covers the frame";
  EXPECT_EQ(cairo_image_surface_get_data(compositor.frame()->surface()), target.pixels);
  auto changes = [&] {
    for (unsigned seed : {11u, 12u}) {
      gl->presentPattern(seed);
      EXPECT_FALSE(step().empty());
    }
    filled->setNeedsDisplay();
    plain->setFrame(CGRectMake(31, 6, 21, 19));
    EXPECT_FALSE(step().empty());
  };
  changes();
  EXPECT_TRUE(compositor.framesIntoTarget());
  for (int y = 0; y < height; ++y) {
    for (int x = width; x < width + pad; ++x) EXPECT_EQ(pixels[static_cast<size_t>(y) * (width + pad) + x], 0x12345678u);
  }
  // A frame that could come out translucent anywhere is composed apart, whole.
  window->setBackgroundColor(UIColor::colorWithRed(0.1, 0.2, 0.3, 0.5));
  EXPECT_EQ(area(step()), width * height);
  EXPECT_FALSE(compositor.framesIntoTarget());
  changes();
  EXPECT_FALSE(compositor.framesIntoTarget());
  // An opaque view over all of it, then cut by a clipping parent, then rounded, then whole again.
  auto parent = std::make_shared<UIView>(CGRectMake(0, 0, 120, 80));
  auto cover = std::make_shared<UIView>(CGRectMake(-1, -1, 122, 82));
  cover->setBackgroundColor(UIColor::colorWithRed(0.9, 0.8, 0.7, 1));
  parent->addSubview(cover);
  window->insertSubview(parent, 0);
  EXPECT_EQ(area(step()), width * height);
  EXPECT_TRUE(compositor.framesIntoTarget());
  changes();
  EXPECT_TRUE(compositor.framesIntoTarget());
  parent->setClipsToBounds(true);
  parent->setFrame(CGRectMake(0, 0, 120, 79.5));
  EXPECT_EQ(area(step()), width * height);
  EXPECT_FALSE(compositor.framesIntoTarget());
  parent->setFrame(CGRectMake(0, 0, 120, 80));
  step();
  EXPECT_TRUE(compositor.framesIntoTarget());
  cover->layer()->setCornerRadius(4);
  step();
  EXPECT_FALSE(compositor.framesIntoTarget());
  cover->layer()->setCornerRadius(0);
  step();
  EXPECT_TRUE(compositor.framesIntoTarget());
  // Other pixels: composed into them whole; a target of another size than the frame is not used.
  std::vector<uint32_t> other(static_cast<size_t>(width) * height, 0);
  compositor.setTarget({reinterpret_cast<uint8_t*>(other.data()), width, height, width * 4});
  EXPECT_EQ(area(step()), width * height);
  EXPECT_EQ(cairo_image_surface_get_data(compositor.frame()->surface()), reinterpret_cast<uint8_t*>(other.data()));
  compositor.setTarget({reinterpret_cast<uint8_t*>(other.data()), width - 2, height, width * 4});
  EXPECT_EQ(area(step()), width * height);
  EXPECT_FALSE(compositor.framesIntoTarget());
  changes();
  // Into those pixels again, then into none: composed whole where it goes each time.
  compositor.setTarget({reinterpret_cast<uint8_t*>(other.data()), width, height, width * 4});
  EXPECT_EQ(area(step()), width * height);
  EXPECT_TRUE(compositor.framesIntoTarget());
  compositor.setTarget({});
  EXPECT_EQ(area(step()), width * height);
  EXPECT_FALSE(compositor.framesIntoTarget());
  EXPECT_TRUE(step().empty());
}

TEST_F(CompositorTest, ANewSizeRepaintsTheWholeFrame) {
  step();
  window->setFrame(CGRectMake(0, 0, 100, 90));
  auto damage = step();
  EXPECT_EQ(area(damage), 200 * 180);
}

}  // namespace

// Layout asks labels and buttons for their natural size on every pass; the measured size is kept,
// and anything that changes it is measured anew.
TEST(MeasuredTextSizes, FollowEveryChangeOfTextFontAndState) {
  auto label = std::make_shared<UILabel>();
  label->setText("12.5 dB");
  const CGSize small = label->intrinsicContentSize();
  EXPECT_GT(small.width, 0);
  EXPECT_EQ(label->intrinsicContentSize(), small);
  label->setText("12.5 dB-A and more");
  EXPECT_GT(label->intrinsicContentSize().width, small.width);
  label->setText("12.5 dB");
  EXPECT_EQ(label->intrinsicContentSize(), small);
  label->setFont(UIFont::systemFontOfSize(30));
  EXPECT_GT(label->intrinsicContentSize().height, small.height);
  label->setText(std::nullopt);
  EXPECT_EQ(label->intrinsicContentSize(), (CGSize{0, 0}));

  auto button = UIButton::buttonWithType(UIButtonType::Custom);
  button->setTitle("Bars", UIControlStateNormal);
  const CGSize bars = button->intrinsicContentSize();
  EXPECT_GT(bars.width, 0);
  button->setTitle("Bars and more", UIControlStateNormal);
  EXPECT_GT(button->intrinsicContentSize().width, bars.width);
  button->setTitle("Bars", UIControlStateNormal);
  EXPECT_EQ(button->intrinsicContentSize(), bars);
  button->titleLabel()->setFont(UIFont::systemFontOfSize(40));  // the label's font, set directly
  EXPECT_GT(button->intrinsicContentSize().width, bars.width);
  button->titleLabel()->setFont(UIFont::systemFontOfSize(18));
  EXPECT_EQ(button->intrinsicContentSize(), bars);
  button->setTitle("Line, selected", UIControlStateSelected);
  button->setSelected(true);
  EXPECT_GT(button->intrinsicContentSize().width, bars.width);
  button->setSelected(false);
  EXPECT_EQ(button->intrinsicContentSize(), bars);
}

// A GL view that presents anew over unchanged views is shown from what was kept under it; any
// change under it, over it or of it is painted through whole again, and the next present uses
// what lies under it now.
TEST_F(CompositorTest, PresentsOverWhatLiesUnderAGLViewFollowEveryChangeAroundIt) {
  auto under = std::make_shared<UIView>(CGRectMake(0, 35, 30, 20));
  under->setBackgroundColor(UIColor::colorWithRed(0.2, 0.8, 0.4, 1));
  window->insertSubview(under, 0);
  auto over = std::make_shared<FilledView>(CGRectMake(40, 60, 30, 15));
  window->addSubview(over);
  step();
  for (int i = 0; i < 3; ++i) {
    gl->present(static_cast<uint8_t>(40 * i), static_cast<uint8_t>(100 + 50 * i));
    auto damage = step();
    EXPECT_TRUE(inside(damage, {9, 79, 102, 62})) << area(damage);
  }
  under->setBackgroundColor(UIColor::colorWithRed(0.9, 0.1, 0.1, 1));  // under the GL view
  step();
  gl->present(10, 90);
  step();
  over->b = 1;  // over the GL view
  over->setNeedsDisplay();
  step();
  gl->present(250, 250);
  step();
  gl->present(0, 0);  // all transparent: only what lies under it shows
  step();
  // In a container that fades, the GL view's pixels are composed with the container's.
  auto fading = std::make_shared<UIView>(CGRectMake(0, 30, 70, 45));
  window->addSubview(fading);
  gl->setFrame(CGRectMake(5, 10, 50, 30));
  fading->addSubview(gl);
  step();
  gl->present(120, 200);
  step();
  fading->setAlpha(0.5);
  step();
  gl->present(200, 120);
  step();
  fading->setAlpha(1);
  step();
  gl->present(60, 255);
  step();
  fading->setFrame(CGRectMake(10, 32, 70, 45));
  gl->present(61, 255);
  step();
  gl->present(62, 255);
  EXPECT_FALSE(step().empty());
  EXPECT_TRUE(step().empty());
}
