// GL drawing of the spectrum view checked by reading back the presented pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "analysis/BufferManager.h"
#include "analysis/Calibration.h"
#include "analysis/UISpectrumView.h"
#include "platform/uikit/UIScreen.h"
#include "tests/support/ManualClock.h"
#include "tests/support/allocations/AllocationCounter.h"

namespace {

// A spectrum view that draws nothing (made while GL is unavailable) and runs no animation: the
// analysis and the frame's bookkeeping alone.
std::shared_ptr<UISpectrumView> viewWithoutGL(const CGRect& frame) {
  EAGLContext::setAvailableForTesting(false);
  auto view = UISpectrumView::create(frame);
  EAGLContext::setAvailableForTesting(true);
  view->stopAnimation();
  return view;
}

struct Pixel {
  int r, g, b, a;
};

class SpectrumRenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIScreen::mainScreen().configure({568, 320}, 1);
    EAGLContext::setAvailableForTesting(true);
    if (!EAGLContext::isAvailable()) GTEST_SKIP() << "no GL on this machine";
    view = UISpectrumView::create(CGRectMake(0, 0, 100, 50));
    view->stopAnimation();
    ASSERT_TRUE(view->context);
    ASSERT_EQ(view->backingWidth, 100);
    ASSERT_EQ(view->backingHeight, 50);
  }
  void TearDown() override { view.reset(); }

  // (x, y) in renderbuffer pixels from the bottom-left corner.
  Pixel at(int x, int y) const {
    const auto& p = view->eaglLayer()->presented();
    size_t i = (static_cast<size_t>(p.height - 1 - y) * p.width + x) * 4;
    return {p.rgba[i], p.rgba[i + 1], p.rgba[i + 2], p.rgba[i + 3]};
  }
  int opaquePixels() const {
    const auto& p = view->eaglLayer()->presented();
    int count = 0;
    for (size_t i = 3; i < p.rgba.size(); i += 4) count += p.rgba[i] != 0;
    return count;
  }
  static std::vector<DisplayPoint> flat(float y) {
    std::vector<DisplayPoint> points;
    for (float x = 0; x <= 100; x += 10) points.push_back({x, y});
    return points;
  }

  std::shared_ptr<UISpectrumView> view;
};

TEST_F(SpectrumRenderTest, LineTraceIsDrawnInTheMainColourAndFilledWhenAsked) {
  view->l_mainData = flat(25.5f);
  view->drawView();
  Pixel line = at(50, 25);
  EXPECT_NEAR(line.r, 233, 3);
  EXPECT_NEAR(line.g, 241, 3);
  EXPECT_NEAR(line.b, 164, 3);
  EXPECT_EQ(at(50, 10).a, 0);  // below the line, no fill
  EXPECT_EQ(at(50, 40).a, 0);

  view->needFill = true;
  view->drawView();
  Pixel fill = at(50, 10);
  EXPECT_NEAR(fill.r, 155, 3);
  EXPECT_NEAR(fill.g, 155, 3);
  EXPECT_NEAR(fill.b, 82, 3);
  EXPECT_EQ(at(50, 40).a, 0);
}

// Opaque bars and fills are written without the blend; translucent ones are still blended over
// the cleared view (their colour times their alpha, and alpha times alpha), never written as they
// are.
TEST_F(SpectrumRenderTest, TranslucentBarsAndFillsAreBlendedOverTheClearedView) {
  view->needFill = true;
  view->mainFillColor = UIColor::colorWithRed(0, 0, 1, 0.5);
  view->l_mainData = flat(25.5f);
  view->drawView();
  Pixel fill = at(50, 10);
  EXPECT_NEAR(fill.b, 128, 2);
  EXPECT_NEAR(fill.a, 64, 2);
  EXPECT_EQ(fill.r, 0);

  view->setScaleType(2);
  view->setGraphType(1);
  view->barsColor = UIColor::colorWithRed(0, 0, 1, 0.5);
  view->maxBarColor = UIColor::colorWithRed(1, 0, 0, 0.5);
  view->l_mainData = {{0, 10}, {16.7f, 10}, {50, 30}, {83.3f, 20}, {100, 20}};
  view->drawView();
  Pixel bar = at(16, 5), highest = at(50, 15);
  EXPECT_NEAR(bar.b, 128, 2);
  EXPECT_NEAR(bar.a, 64, 2);
  EXPECT_NEAR(highest.r, 128, 2);
  EXPECT_NEAR(highest.a, 64, 2);

  // The same bars opaque: their colours as they are.
  view->barsColor = UIColor::colorWithRed(0, 0, 1, 1);
  view->maxBarColor = UIColor::colorWithRed(1, 0, 0, 1);
  view->drawView();
  bar = at(16, 5), highest = at(50, 15);
  EXPECT_EQ(bar.b, 255);
  EXPECT_EQ(bar.a, 255);
  EXPECT_EQ(highest.r, 255);
  EXPECT_EQ(highest.a, 255);
}

TEST_F(SpectrumRenderTest, BothHoldsWithFillFillOnlyBetweenTheHeldTraces) {
  view->setHoldMaximum(true);
  view->setHoldMinimum(true);
  view->needFill = true;
  view->isMaxReady = true;
  view->mainChartColor = UIColor::colorWithRed(1, 0, 0, 1);
  view->supportChartColor = UIColor::colorWithRed(0, 1, 0, 1);
  view->supportFillColor = UIColor::colorWithRed(0, 0, 1, 1);
  view->l_maxesData = flat(40.5f);
  view->l_minsData = flat(10.5f);
  view->l_mainData = flat(25.5f);
  view->drawView();
  EXPECT_GT(at(50, 40).g, 200);  // held maximum line
  EXPECT_GT(at(50, 32).b, 200);  // between the held traces
  EXPECT_GT(at(50, 25).r, 200);  // current trace on top
  EXPECT_EQ(at(50, 5).a, 0);     // nothing filled down to the bottom
}

TEST_F(SpectrumRenderTest, EmptySeriesDrawNothingAndTheMarkerDrawsAtItsPosition) {
  view->drawView();
  EXPECT_EQ(opaquePixels(), 0);
  view->l_markerPosition = 30.5f;
  view->markerColor = UIColor::colorWithRed(1, 1, 1, 1);
  view->drawView();
  EXPECT_GT(at(30, 5).r, 200);
  EXPECT_GT(at(30, 45).r, 200);
  EXPECT_EQ(at(60, 25).a, 0);
}

TEST_F(SpectrumRenderTest, PeakCrossOnlyInLineModeAndOnlyOnceStyled) {
  view->l_mainData = {{0, 5}, {40.5f, 30.5f}, {100, 5}};
  view->mainChartColor = UIColor::colorWithRed(0, 0, 0, 0);
  view->needPeakMarker = true;
  view->drawView();  // no colour or width set yet: no cross
  EXPECT_EQ(at(40, 45).a, 0);
  view->peakMarkerColor = UIColor::colorWithRed(0, 1, 0, 1);
  view->peakMarkerWidth = 1.0f;
  view->drawView();
  EXPECT_GT(at(40, 45).g, 150);  // vertical line through the peak
  EXPECT_GT(at(90, 30).g, 150);  // horizontal line at its height
}

TEST_F(SpectrumRenderTest, BarsHighlightTheHighestBarAndDrawPlates) {
  view->setScaleType(2);
  view->setGraphType(1);
  view->barsColor = UIColor::colorWithRed(0, 0, 1, 1);
  view->maxBarColor = UIColor::colorWithRed(1, 0, 0, 1);
  // Closing points at both ends and three bars centred at 16.7, 50, 83.3.
  view->l_mainData = {{0, 10}, {16.7f, 10}, {50, 30}, {83.3f, 20}, {100, 20}};
  view->drawView();
  EXPECT_EQ(view->lastHighlightedBar(), 2u);
  Pixel highest = at(50, 15);
  EXPECT_GT(highest.r, 200);
  EXPECT_LT(highest.b, 50);
  EXPECT_GT(at(16, 5).b, 200);
  EXPECT_GT(at(83, 15).b, 200);
  EXPECT_EQ(at(16, 20).a, 0);  // above the first bar
  // Bar width: (100 − 2 × 4) / 3 = 30.67, so the gap around x = 33.3 stays empty.
  EXPECT_EQ(at(33, 5).a, 0);

  // The marker exactly on a bar's centre highlights it even when it is not the highest.
  view->l_markerPosition = 16.7f;
  view->markerColor = UIColor::colorWithRed(0, 0, 0, 0);
  view->drawView();
  EXPECT_EQ(view->lastHighlightedBar(), 1u);
  EXPECT_GT(at(10, 5).r, 200);

  // Plates at the held maxima.
  view->l_markerPosition = -1;
  view->setHoldMaximum(true);
  view->isMaxReady = true;
  view->planchesColor = UIColor::colorWithRed(0, 1, 0, 1);
  view->l_maxesData = {{0, 40}, {16.7f, 40.5f}, {50, 40.5f}, {83.3f, 40.5f}, {100, 40}};
  view->drawView();
  EXPECT_GT(at(83, 40).g, 150);
  EXPECT_EQ(at(83, 35).a, 0);
}

// Before the first frame of a start there are no bars, but the held maxima stand: their plates
// are drawn where the bands are.
TEST_F(SpectrumRenderTest, BarsWithoutACurrentSeriesStillDrawTheHoldPlates) {
  view->setScaleType(2);
  view->setGraphType(1);
  view->barsColor = UIColor::colorWithRed(0, 0, 1, 1);
  view->planchesColor = UIColor::colorWithRed(0, 1, 0, 1);
  view->setHoldMaximum(true);
  view->isMaxReady = true;
  view->l_maxesData = {{0, 40}, {16.7f, 40.5f}, {50, 40.5f}, {83.3f, 40.5f}, {100, 40}};
  view->l_mainData.clear();
  view->drawView();
  for (int x : {16, 50, 83}) {
    EXPECT_GT(at(x, 40).g, 150) << x;
    EXPECT_EQ(at(x, 5).a, 0) << "no bar at " << x;
  }
  EXPECT_EQ(at(33, 40).a, 0) << "the plates are as wide as the bars would be";
  EXPECT_EQ(view->lastHighlightedBar(), 0u);
}

TEST_F(SpectrumRenderTest, BarsWithFewerThanThreePointsDrawNothing) {
  view->setScaleType(3);
  view->setGraphType(1);
  view->l_mainData = {{0, 30}, {100, 30}};
  view->drawView();
  EXPECT_EQ(opaquePixels(), 0);
  view->l_mainData = {{50, 30}};
  view->drawView();
  EXPECT_EQ(opaquePixels(), 0);
}

TEST_F(SpectrumRenderTest, LinearScaleTurnsBarsBackIntoALine) {
  view->setScaleType(2);
  view->setGraphType(1);
  view->setScaleType(0);
  view->l_mainData = flat(25.5f);
  view->drawView();
  EXPECT_EQ(view->graphType(), 0);
  EXPECT_GT(at(50, 25).a, 200);
}

TEST_F(SpectrumRenderTest, SonogramColumnsEnterAtTheRightAndScrollLeft) {
  view->spectrumMode = 1;
  // Palette from transparent to opaque red; red lands in the texture's third channel (blue first).
  view->sonogramColors = {{0, UIColor::colorWithRed(0, 0, 0, 0)}, {1, UIColor::colorWithRed(1, 0, 0, 1)}};
  view->sonogramData = std::vector<float>(256, 0.0f);  // loud: top of the palette
  view->drawView();
  ASSERT_TRUE(view->isSpectrogramInited);
  EXPECT_EQ(view->currentTexCount, 34);  // ceil(100 / 3)
  EXPECT_EQ(view->texBitBufferSize, 64);
  Pixel newest = at(98, 25);
  EXPECT_EQ(newest.b, 255);
  EXPECT_EQ(newest.r, 0);
  EXPECT_EQ(newest.a, 255);
  EXPECT_EQ(at(95, 25).a, 0);  // older columns show the background

  view->sonogramData = std::vector<float>(256, -200.0f);  // silence: bottom of the palette
  view->drawView();
  EXPECT_EQ(at(98, 25).a, 0);
  EXPECT_EQ(at(95, 25).b, 255);  // the loud column moved one column left

  // A scale change blanks every column.
  view->setScaleType(1);
  view->sonogramData.reset();
  view->drawView();
  EXPECT_EQ(opaquePixels(), 0);
}

// A new column moves the image drawn before by a column and draws only itself: the images must be
// those the whole ring gives, round the ring and after a mode or scale change.
TEST_F(SpectrumRenderTest, SonogramColumnsAddedOneByOneGiveTheWholeRingsImage) {
  view->spectrumMode = 1;
  view->sonogramColors = {{0, UIColor::colorWithRed(0, 0, 0, 0)},
                          {0.5f, UIColor::colorWithRed(0.2, 0.9, 0.1, 0.6)},
                          {1, UIColor::colorWithRed(1, 0.3, 0.7, 1)}};
  auto image = [&] { return view->eaglLayer()->presented().rgba; };
  // Drawn again without a new column: the whole ring, as it stands.
  auto wholeRing = [&] {
    view->sonogramData.reset();
    view->drawView();
    return image();
  };
  int checked = 0;
  for (int frame = 0; frame < 90; ++frame) {  // more than twice round the ring of 34 columns
    std::vector<float> levels(64);
    for (size_t i = 0; i < levels.size(); ++i) levels[i] = -80.0f + static_cast<float>((frame * 7 + i * 13) % 64);
    view->sonogramData = levels;
    view->drawView();
    if (frame == 40) {
      view->spectrumMode = 0;  // the graph draws over the sonogram's image; the ring is kept
      view->drawView();
      view->spectrumMode = 1;
    }
    if (frame == 60) view->setScaleType(1);  // every column blanked
    if (frame % 5 == 4 || frame == 41 || frame == 61) {
      const auto added = image();
      ASSERT_TRUE(added == wholeRing()) << "frame " << frame;
      ++checked;
    }
  }
  EXPECT_GT(checked, 15);
  const auto* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  if (extensions && std::string(extensions).find("GL_EXT_texture_format_BGRA8888") != std::string::npos) {
    EXPECT_NE(view->scrollTexture, 0u);  // the columns were added by moving the image
  }
}

TEST_F(SpectrumRenderTest, SonogramRowsFollowTheLinearBins) {
  view->spectrumMode = 1;
  view->sonogramColors = {{0, UIColor::colorWithRed(0, 0, 0, 1)}, {1, UIColor::colorWithRed(0, 0, 1, 1)}};
  std::vector<float> levels(50, -100.0f);
  levels[49] = -16.0f;  // only the last bin is loud: row H − 1
  view->sonogramData = levels;
  view->drawView();
  EXPECT_EQ(at(98, 49).r, 255);  // blue colour in the first channel
  EXPECT_EQ(at(98, 0).r, 0);
  EXPECT_EQ(at(98, 0).a, 255);
}

// A layout draws the sonogram as it stands: only a frame adds a column, so the last frame's column
// is not added a second time (after a start, when it is not of the input measured). The columns
// drawn before are kept, at the new right edge.
TEST_F(SpectrumRenderTest, ALayoutAddsNoColumnToTheSonogram) {
  view->spectrumMode = 1;
  view->sonogramColors = {{0, UIColor::colorWithRed(0, 0, 0, 0)}, {1, UIColor::colorWithRed(1, 0, 0, 1)}};
  view->sonogramData = std::vector<float>(256, 0.0f);
  view->drawView();
  ASSERT_EQ(opaquePixels(), 3 * 50);
  view->setFrame(CGRectMake(0, 0, 120, 50));
  view->layoutIfNeeded();
  EXPECT_EQ(opaquePixels(), 3 * 50) << "the one column drawn, and no other";
  EXPECT_EQ(at(118, 25).b, 255) << "at the new right edge";
  ASSERT_TRUE(view->sonogramData);
  view->drawView();  // the next frame's column
  EXPECT_EQ(at(118, 25).b, 255);
  EXPECT_EQ(at(115, 25).b, 255) << "the column before, one column left";
  EXPECT_EQ(opaquePixels(), 2 * 3 * 50);
}

TEST_F(SpectrumRenderTest, LayoutRebuildsTheFramebufferAndRingAtTheNewSize) {
  view->spectrumMode = 1;
  view->sonogramData = std::vector<float>(16, -40.0f);
  view->drawView();
  ASSERT_TRUE(view->isSpectrogramInited);
  view->setFrame(CGRectMake(0, 0, 568, 257));
  view->layoutIfNeeded();
  EXPECT_EQ(view->backingWidth, 568);
  // The layout released the old ring; its own frame rebuilt it at the new size.
  ASSERT_TRUE(view->isSpectrogramInited);
  EXPECT_EQ(view->currentTexCount, 190);
  EXPECT_EQ(view->texBitBufferSize, 512);
  EXPECT_EQ(view->eaglLayer()->presented().width, 568);
}

// ---- A layout of a view that has measured ----

// A view laid out at another size draws, at once, what it measured at the new size: the picture of
// the layout is the one the next frame of the same levels gives there (series, held series, the
// peak cross, the bars and their highlight, the marker), and the peak stands where the vertical
// mapping puts the peak's level at the new height. Never the old size's picture in the new
// framebuffer, and never an empty one.
struct PlotStyle {
  const char* name;
  int32_t scaleType, graphType;
  bool spline, fill;
};
void PrintTo(const PlotStyle& style, std::ostream* os) { *os << style.name; }

class LayoutOfAMeasuredPlot : public ::testing::TestWithParam<PlotStyle> {
 protected:
  static constexpr float kMinimum = -130, kMaximum = -10;
  void SetUp() override {
    UIScreen::mainScreen().configure({568, 320}, 1);
    EAGLContext::setAvailableForTesting(true);
    if (!EAGLContext::isAvailable()) GTEST_SKIP() << "no GL on this machine";
    view = UISpectrumView::create(CGRectMake(0, 0, 300, 140));
    view->stopAnimation();
    ASSERT_EQ(view->backingHeight, 140);
    const PlotStyle& style = GetParam();
    view->setAreaParams(AreaParams{kMinimum, kMaximum});
    view->setScaleType(style.scaleType);
    view->setGraphType(style.graphType);
    view->needSpline = style.spline;
    view->needFill = style.fill;
    view->setHoldMaximum(true);
    view->setHoldMinimum(true);
    view->mainChartColor = UIColor::colorWithRed(1, 1, 0, 1);
    view->supportChartColor = UIColor::colorWithRed(0, 0.5, 1, 1);
    view->markerColor = UIColor::colorWithRed(1, 1, 1, 1);
    view->peakMarkerColor = UIColor::colorWithRed(0, 1, 0, 1);
    view->peakMarkerWidth = 1.0f;
    view->needPeakMarker = true;
    view->barsColor = UIColor::colorWithRed(0, 0, 1, 1);
    view->maxBarColor = UIColor::colorWithRed(1, 0, 0, 1);
    // Frames of a tone near 1 kHz over a floor, louder and quieter, so that the held maximum and
    // minimum differ from the current levels (the first frame only makes the held series); the
    // marker in the middle of the plot.
    for (float peak : {-45.0f, -30.0f, -50.0f, -38.0f}) {
      last = std::vector<float>(1024, peak - 60);
      for (size_t i = 0; i < last.size(); ++i) last[i] += static_cast<float>((i * 7) % 11);
      for (size_t i = 44; i <= 48; ++i) last[i] = peak - 6.0f * std::abs(static_cast<float>(i) - 46.0f);
      view->processSpectrum(last);
    }
    view->setMarkerAt(150);
    view->drawView();
    ASSERT_TRUE(view->isMarkerVisible());
  }
  void TearDown() override { view.reset(); }

  std::vector<uint8_t> image() const { return view->eaglLayer()->presented().rgba; }
  int opaquePixels() const {
    int count = 0;
    const auto& rgba = view->eaglLayer()->presented().rgba;
    for (size_t i = 3; i < rgba.size(); i += 4) count += rgba[i] != 0;
    return count;
  }
  // The highest point's height of a trace.
  static float top(const std::vector<DisplayPoint>& points) {
    float y = -1;
    for (const auto& p : points) y = std::max(y, p.y);
    return y;
  }
  // Where a level stands at the framebuffer's height, worked out here from the range.
  float heightOf(float level) const {
    return (level - kMinimum) * static_cast<float>(view->backingHeight) / (kMaximum - kMinimum);
  }
  float peakLevel() const { return view->l_localMaximus.at(0).at("volume").get<float>(); }
  // The row (from the bottom) of the peak cross's horizontal line, and how many of its pixels show
  // it: the row with the most green (the cross's colour, which nothing else drawn has; a smoothed
  // line straddling two rows shows in both, weaker).
  std::pair<int, int> peakLineRow() const {
    const auto& p = view->eaglLayer()->presented();
    std::pair<int, int> best{-1, 0};
    int bestGreen = 0;
    for (int y = 0; y < p.height; ++y) {
      int count = 0, green = 0;
      const uint8_t* row = p.row(p.height - 1 - y);
      for (int x = 0; x < p.width; ++x) {
        const int r = row[4 * x], g = row[4 * x + 1], b = row[4 * x + 2];
        if (g < 40 || 3 * r > g || 3 * b > g) continue;
        ++count;
        green += g;
      }
      if (green > bestGreen) {
        bestGreen = green;
        best = {y, count};
      }
    }
    return best;
  }
  // The top row (from the bottom) of the tallest bar: the highest row with three more rows drawn
  // under it in one column (the white marker line aside; a hold plate lying on a bar's top counts
  // as its top).
  int tallestBarTop() const {
    const auto& p = view->eaglLayer()->presented();
    auto drawn = [&](int x, int y) {
      const uint8_t* px = p.row(p.height - 1 - y) + 4 * x;
      return px[3] > 200 && !(px[0] > 200 && px[1] > 200 && px[2] > 200);
    };
    int best = -1;
    for (int x = 0; x < p.width; ++x) {
      for (int y = p.height - 1; y >= 3; --y) {
        if (drawn(x, y) && drawn(x, y - 1) && drawn(x, y - 2) && drawn(x, y - 3)) {
          best = std::max(best, y);
          break;
        }
      }
    }
    return best;
  }

  std::shared_ptr<UISpectrumView> view;
  std::vector<float> last;
};

TEST_P(LayoutOfAMeasuredPlot, DrawsWhatItMeasuredAtTheNewSizeAtOnce) {
  const float markerFrequency = view->getFreqForX(view->l_markerPosition);
  for (const CGSize size : {CGSize{300, 200}, CGSize{300, 90}, CGSize{420, 90}, CGSize{240, 140}}) {
    SCOPED_TRACE(testing::Message() << size.width << " x " << size.height);
    view->setFrame(CGRectMake(0, 0, size.width, size.height));
    view->layoutIfNeeded();
    ASSERT_EQ(view->backingWidth, static_cast<int>(size.width));
    ASSERT_EQ(view->backingHeight, static_cast<int>(size.height));
    const auto laidOut = image();
    const auto main = view->l_mainData, maxes = view->l_maxesData, mins = view->l_minsData;
    const float marker = view->l_markerPosition;
    ASSERT_GT(opaquePixels(), 1000) << "the plot is not empty";

    // The peak and the held series at the new height. (A spline rises and falls between its
    // points as it pleases: the picture of the next frame below is its check.)
    const float peakHeight = GetParam().spline ? top(main) : heightOf(peakLevel());
    if (!GetParam().spline) {
      EXPECT_NEAR(top(main), peakHeight, 0.5);
      EXPECT_NEAR(top(maxes), heightOf(view->l_holdedMaximus.at(0).at("volume").get<float>()), 0.5);
      EXPECT_NEAR(top(mins), heightOf(view->l_holdedMinimus.at(0).at("volume").get<float>()), 0.5);
    }
    ASSERT_TRUE(view->isMarkerVisible());
    EXPECT_TRUE(std::any_of(main.begin(), main.end(), [&](const DisplayPoint& p) { return p.x == marker; }))
        << "the marker stands on a point of the trace";
    const float spacing = static_cast<float>(view->backingWidth) / (GetParam().scaleType >= 2 ? 30.0f : 100.0f);
    EXPECT_NEAR(view->getFreqForX(marker) , markerFrequency,
                std::abs(view->getFreqForX(marker + spacing) - view->getFreqForX(marker)))
        << "the marker stays at its place on the axis";
    if (view->isBarsType()) {
      EXPECT_NEAR(tallestBarTop(), peakHeight, 1.5) << "the tallest bar reaches the peak's level";
    } else if (peakHeight < static_cast<float>(view->backingHeight)) {
      const auto [row, count] = peakLineRow();
      EXPECT_GT(count, view->backingWidth / 2) << "the peak line across the plot";
      EXPECT_NEAR(row, peakHeight, 1.5) << "the peak line at the peak's level";
    }

    // The next frame of the same levels draws the same picture.
    view->processSpectrum(last);
    EXPECT_EQ(top(view->l_mainData), top(main));
    EXPECT_EQ(view->l_markerPosition, marker);
    EXPECT_TRUE(image() == laidOut) << "the layout drew what the next frame draws at the new size";
  }
}

// Levels forgotten while the view is laid out (the input went away, as the container finds when it
// lays the view out): the held series stay, and are drawn at the new size. A trace's heights grow
// with the height alone, the spline's with them.
TEST_P(LayoutOfAMeasuredPlot, ForgottenLevelsLeaveTheHoldsAtTheNewSize) {
  const float heldMaximum = top(view->l_maxesData), heldMinimum = top(view->l_minsData);
  ASSERT_GT(heldMaximum, heldMinimum);
  view->setFrame(CGRectMake(0, 0, 300, 200));
  view->forgetCurrentLevels();  // before the view's own layout
  view->layoutIfNeeded();
  EXPECT_TRUE(view->l_mainData.empty());
  EXPECT_NEAR(top(view->l_maxesData), heldMaximum * 200 / 140, 0.5);
  EXPECT_NEAR(top(view->l_minsData), heldMinimum * 200 / 140, 0.5);
  EXPECT_GT(opaquePixels(), 0) << "the held series are drawn";
  view->forgetCurrentLevels();  // again after it: nothing more to forget, the holds stay
  EXPECT_NEAR(top(view->l_maxesData), heldMaximum * 200 / 140, 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    SpectrumRender, LayoutOfAMeasuredPlot,
    ::testing::Values(PlotStyle{"LinearLines", 0, 0, false, false}, PlotStyle{"LinearLinesFilled", 0, 0, false, true},
                      PlotStyle{"LogarithmicSpline", 1, 0, true, false},
                      PlotStyle{"LogarithmicSplineFilled", 1, 0, true, true},
                      PlotStyle{"ThirdOctaveBars", 3, 1, false, true}, PlotStyle{"SixthOctaveBars", 4, 1, false, false},
                      PlotStyle{"ThirdOctaveSpline", 3, 0, true, true}),
    [](const ::testing::TestParamInfo<PlotStyle>& info) { return info.param.name; });

// The sonogram's columns through a layout: the newest at the new right edge and the older ones left
// of it (as many as the new width holds), each row showing the level it showed, stretched to the
// new height.
TEST_F(SpectrumRenderTest, ALayoutKeepsTheSonogramsColumnsStretchedToTheNewHeight) {
  view->spectrumMode = 1;
  view->sonogramColors = {{0, UIColor::colorWithRed(0, 0, 0, 0)}, {1, UIColor::colorWithRed(1, 0, 0, 1)}};
  std::vector<float> upperHalfLoud(50, -100.0f);
  std::fill(upperHalfLoud.begin() + 25, upperHalfLoud.end(), 0.0f);  // rows 25 .. 49 of 50
  const std::vector<float> quiet(50, -100.0f);
  for (const std::vector<float>& column : {upperHalfLoud, quiet, upperHalfLoud}) {
    view->sonogramData = column;
    view->drawView();
  }
  ASSERT_EQ(at(98, 40).b, 255);
  ASSERT_EQ(at(98, 10).a, 0);
  auto loudFrom = [&](int x) {  // the lowest loud row of a column
    for (int y = 0; y < view->backingHeight; ++y) {
      if (at(x, y).b == 255) return y;
    }
    return -1;
  };
  ASSERT_EQ(loudFrom(98), 25);

  view->setFrame(CGRectMake(0, 0, 100, 99));
  view->layoutIfNeeded();
  EXPECT_NEAR(loudFrom(98), 49, 1) << "half way up the new height";
  EXPECT_EQ(at(98, 98).b, 255);
  EXPECT_EQ(at(98, 0).a, 0);
  EXPECT_EQ(loudFrom(95), -1) << "the quiet column";
  EXPECT_NEAR(loudFrom(92), 49, 1);
  EXPECT_EQ(loudFrom(89), -1) << "nothing older";

  view->setFrame(CGRectMake(0, 0, 7, 99));  // room for three columns, of which the first is cut
  view->layoutIfNeeded();
  EXPECT_NEAR(loudFrom(5), 49, 1);
  EXPECT_EQ(loudFrom(2), -1);
  EXPECT_NEAR(loudFrom(0), 49, 1) << "the oldest, at the left edge";

  view->setFrame(CGRectMake(0, 0, 60, 20));
  view->layoutIfNeeded();
  EXPECT_NEAR(loudFrom(58), 10, 1);
  EXPECT_EQ(loudFrom(55), -1);
  EXPECT_NEAR(loudFrom(52), 10, 1);
  EXPECT_EQ(loudFrom(49), -1) << "the columns the narrower ring had no room for are gone";
}

// A sonogram that takes a column only now and then still shows its columns after a layout made
// its framebuffer anew, before the next column is due.
TEST_F(SpectrumRenderTest, ASonogramBetweenItsColumnsShowsThemAfterALayout) {
  testsupport::ManualClock clock;
  view->spectrumMode = 1;
  view->sonogramMinimumUpdateInterval = 1.0;
  view->sonogramColors = {{0, UIColor::colorWithRed(0, 0, 0, 0)}, {1, UIColor::colorWithRed(1, 0, 0, 1)}};
  view->sonogramData = std::vector<float>(64, 0.0f);
  view->drawView();
  ASSERT_EQ(opaquePixels(), 3 * 50);
  clock.advance(0.2);
  view->setFrame(CGRectMake(0, 0, 100, 80));
  view->layoutIfNeeded();
  EXPECT_EQ(opaquePixels(), 3 * 80) << "the column, at the new height";
  view->drawView();  // a frame too soon for its column
  EXPECT_EQ(opaquePixels(), 3 * 80);
  clock.advance(1.0);
  view->drawView();
  EXPECT_EQ(opaquePixels(), 2 * 3 * 80) << "the next column, when it is due";
}

TEST(SonogramColours, TextureHeightsAndPaletteEdges) {
  EXPECT_EQ(UISpectrumView::getTexBufferSizeForHeight(0), 2);
  EXPECT_EQ(UISpectrumView::getTexBufferSizeForHeight(2), 2);
  EXPECT_EQ(UISpectrumView::getTexBufferSizeForHeight(256), 256);
  EXPECT_EQ(UISpectrumView::getTexBufferSizeForHeight(257), 512);

  auto view = viewWithoutGL(CGRectMake(0, 0, 10, 10));
  // Texel = alpha << 24 | red << 16 | green << 8 | blue, components truncated.
  view->sonogramColors = {{0, UIColor::colorWithRed(0, 0, 0, 1)}, {1, UIColor::colorWithRed(1, 0.5, 0, 1)}};
  EXPECT_EQ(view->colorForLevel(1), 0xFFFF7F00u);
  EXPECT_EQ(view->colorForLevel(0.5f), 0xFF7F3F00u);
  EXPECT_EQ(view->colorForLevel(1.5f), 0xFF000000u);  // outside every pair: opaque black
  // Two stops at one level: a defined colour (the lower stop's), never 0/0.
  view->sonogramColors = {{0, UIColor::colorWithRed(0, 0, 0, 0)},
                          {0.5f, UIColor::colorWithRed(1, 0, 0, 1)},
                          {0.5f, UIColor::colorWithRed(0, 0, 1, 1)},
                          {1, UIColor::colorWithRed(0, 0, 1, 1)}};
  EXPECT_EQ(view->colorForLevel(0.5f), 0xFFFF0000u);
  // A single stop: no pair, opaque black.
  view->sonogramColors = {{0, UIColor::colorWithRed(0, 1, 0, 1)}};
  EXPECT_EQ(view->colorForLevel(0.3f), 0xFF000000u);
  // No palette: the default one (transparent at 0, cyan at 1).
  view->sonogramColors.clear();
  EXPECT_EQ(view->colorForLevel(0), 0x00000000u);
  EXPECT_EQ(view->colorForLevel(1), 0xFF00FFFFu);
}

TEST(SonogramColours, AOnePixelHighViewColoursItsRowFromTheFirstBin) {
  auto view = viewWithoutGL(CGRectMake(0, 0, 10, 10));
  view->backingHeight = 1;
  view->texBitBufferSize = 2;
  view->texBitBuffer.assign(2, 0);
  view->sonogramColors = {{0, UIColor::colorWithRed(0, 0, 0, 1)}, {1, UIColor::colorWithRed(1, 1, 1, 1)}};
  view->sonogramData = std::vector<float>{-16.0f, -100.0f};
  view->renderFFTToTex();
  EXPECT_EQ(view->texBitBuffer[0], 0xFFFFFFFFu);
  // Silence (minus infinity) is the palette's lowest colour, not opaque black from a NaN.
  view->sonogramData = std::vector<float>{-INFINITY, -INFINITY};
  view->sonogramColors = {{0, UIColor::colorWithRed(0, 1, 0, 1)}, {1, UIColor::colorWithRed(1, 1, 1, 1)}};
  view->renderFFTToTex();
  EXPECT_EQ(view->texBitBuffer[0], 0xFF00FF00u);
}

class RecordingDelegate : public MaximusDelegate {
 public:
  std::vector<std::string> calls;
  float dba = 0;
  void setMaximus(const std::vector<Value>& maximus, const std::vector<Value>&, const std::vector<Value>&, float a,
                  float, float, float) override {
    calls.push_back("maximus");
    dba = a;
    ASSERT_EQ(maximus.size(), 1u);
  }
  void setFullOctaveOutput(const std::vector<float>& levels) override {
    calls.push_back("octaves");
    EXPECT_EQ(levels.size(), 10u);
  }
};

TEST(SpectrumWithoutGL, AnalysesAndReportsEveryFrameWithoutDrawing) {
  UIScreen::mainScreen().configure({568, 320}, 1);
  auto view = viewWithoutGL(CGRectMake(0, 0, 100, 50));
  EXPECT_EQ(view->context, nullptr);
  auto delegate = std::make_shared<RecordingDelegate>();
  view->maximusDelegate = delegate;
  view->layoutIfNeeded();  // layout without GL does nothing
  std::vector<float> spectrum(256, -60.0f);
  view->processSpectrum(spectrum);
  view->processSpectrum(spectrum);
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"octaves", "maximus", "octaves", "maximus"}));
  EXPECT_TRUE(std::isfinite(delegate->dba));
  EXPECT_EQ(view->l_fftData.size(), 256u);
  EXPECT_EQ(view->eaglLayer()->presented().count, 0u);
  view->spectrumMode = 1;
  view->processSpectrum(spectrum);  // the sonogram path without GL is skipped too
  EXPECT_FALSE(view->isSpectrogramInited);
}

TEST(SpectrumWithoutGL, HeldSeriesAreRecreatedThenFollowTheFrames) {
  auto view = viewWithoutGL(CGRectMake(0, 0, 100, 50));
  view->setHoldMaximum(true);
  view->setHoldMinimum(true);
  std::vector<float> spectrum(8, -50.0f);
  view->processSpectrum(spectrum);  // re-created, not updated
  EXPECT_EQ(view->l_maxData, std::vector<float>(8, -130.0f));
  EXPECT_EQ(view->l_minData, std::vector<float>(8, 10.0f));
  spectrum[3] = -20.0f;
  view->processSpectrum(spectrum);
  EXPECT_EQ(view->l_maxData[3], -20.0f);
  EXPECT_EQ(view->l_minData[3], -20.0f);
  EXPECT_EQ(view->l_minData[0], -50.0f);
  ASSERT_EQ(view->l_holdedMaximus.size(), 1u);
  EXPECT_EQ(view->l_holdedMaximus[0]["volume"].get<float>(), -20.0f);
  EXPECT_FLOAT_EQ(view->l_localMaximus[0]["frequency"].get<float>(), 3 * 22050.0f / 8);
  view->resetMaxMinData();
  view->processSpectrum(spectrum);
  EXPECT_EQ(view->l_maxData[0], -50.0f);  // reset to −130, then updated in the same frame
  EXPECT_EQ(view->l_minData[0], -50.0f);
  view->setHoldMaximum(false);
  view->processSpectrum(spectrum);
  EXPECT_TRUE(view->l_holdedMaximus.empty());
}

// The current levels go from the plot (series, points, peak, the sonogram's next column); the held
// maximum and minimum stay and go on holding from the next frame.
TEST(SpectrumWithoutGL, ForgettingTheCurrentLevelsKeepsTheHolds) {
  auto view = viewWithoutGL(CGRectMake(0, 0, 100, 50));
  view->setHoldMaximum(true);
  view->setHoldMinimum(true);
  std::vector<float> spectrum(8, -50.0f);
  view->processSpectrum(spectrum);
  spectrum[3] = -20.0f;
  view->processSpectrum(spectrum);
  ASSERT_EQ(view->l_maxData[3], -20.0f);
  view->forgetCurrentLevels();
  EXPECT_TRUE(view->l_fftData.empty());
  EXPECT_TRUE(view->l_mainData.empty());
  EXPECT_TRUE(view->l_localMaximus.empty());
  EXPECT_FALSE(view->sonogramData);
  EXPECT_EQ(view->l_maxData[3], -20.0f);
  EXPECT_EQ(view->l_minData[0], -50.0f);
  EXPECT_FALSE(view->l_maxesData.empty());
  std::fill(spectrum.begin(), spectrum.end(), -70.0f);
  view->processSpectrum(spectrum);
  EXPECT_EQ(view->l_fftData.size(), 8u);
  EXPECT_EQ(view->l_maxData[3], -20.0f) << "the hold from before goes on";
  EXPECT_EQ(view->l_minData[0], -70.0f);
}

// Receives the reports as a screen would and keeps what it needs without allocating.
class PeakKeepingDelegate : public MaximusDelegate {
 public:
  int frames = 0;
  float peak = 0, heldMax = 0, heldMin = 0, dba = 0, firstOctave = 0;
  void setMaximus(const std::vector<Value>& maximus, const std::vector<Value>& holdedMax,
                  const std::vector<Value>& holdedMin, float a, float, float, float) override {
    ++frames;
    peak = maximus.at(0).at("volume").get<float>();
    heldMax = holdedMax.empty() ? NAN : holdedMax[0].at("volume").get<float>();
    heldMin = holdedMin.empty() ? NAN : holdedMin[0].at("volume").get<float>();
    dba = a;
  }
  void setFullOctaveOutput(const std::vector<float>& levels) override { firstOctave = levels.at(0); }
};

// A frame reuses every list it fills (series, held series, display points, peak records, the
// full-octave list it reports): once they have their sizes, a real frame, taken from the buffer
// manager and reported to the delegate, allocates nothing, with both holds on, on every scale and
// trace. Drawing is off: the frame's analysis is counted, not GL.
TEST(SpectrumFrame, ARealFrameWithHoldsOnAllocatesNothing) {
  auto view = viewWithoutGL(CGRectMake(0, 0, 568, 280));
  view->backingWidth = 1136;  // the chart's pixels, as GL would give them
  view->backingHeight = 560;
  view->needDrawPlot = false;
  view->setHoldMaximum(true);
  view->setHoldMinimum(true);
  view->currentCalibration = std::make_shared<LinearCalibration>(
      Value::array({Value{{"frequency", 20}, {"volume", -1.5}}, Value{{"frequency", 20000}, {"volume", 3}}}));
  auto delegate = std::make_shared<PeakKeepingDelegate>();
  view->maximusDelegate = delegate;
  BufferManager manager(2048);
  view->setBufferManager(&manager);
  std::vector<float> delivery(1838);
  double phase = 0;
  auto frame = [&] {
    for (float& sample : delivery) {
      sample = static_cast<float>(0.1 * std::sin(phase) + 0.01 * std::sin(7.3 * phase));
      phase += 2 * M_PI * 997.0 / 44100.0;
    }
    manager.CopyAudioToFFTInput(delivery.data(), static_cast<uint32_t>(delivery.size()));
    view->invalidate();
  };
  const long probe = testsupport::allocationsOnThisThread();
  std::vector<float>* volatile scratch = new std::vector<float>(16);
  delete scratch;
  ASSERT_GT(testsupport::allocationsOnThisThread(), probe) << "the allocation counter must see allocations";

  struct Mode {
    int32_t scale, graph;
    bool spline;
  };
  for (const Mode mode : {Mode{0, 0, true}, Mode{1, 0, true}, Mode{0, 0, false}, Mode{3, 1, true},
                          Mode{4, 0, true}, Mode{2, 1, false}}) {
    view->setScaleType(mode.scale);
    view->setGraphType(mode.graph);
    view->needSpline = mode.spline;
    for (int i = 0; i < 3; ++i) frame();  // the held series re-created at the new length, then running
    const int framesBefore = delegate->frames;
    const long before = testsupport::allocationsOnThisThread();
    for (int i = 0; i < 5; ++i) frame();
    EXPECT_EQ(testsupport::allocationsOnThisThread() - before, 0)
        << "scale " << mode.scale << " graph " << mode.graph << " spline " << mode.spline;
    // The frames ran and their reports follow the series.
    ASSERT_EQ(delegate->frames, framesBefore + 5);
    EXPECT_FALSE(view->l_mainData.empty());
    EXPECT_FALSE(view->l_maxesData.empty());
    EXPECT_FALSE(view->l_minsData.empty());
    EXPECT_EQ(delegate->peak, *std::max_element(view->l_fftData.begin(), view->l_fftData.end()));
    EXPECT_EQ(delegate->heldMax, *std::max_element(view->l_maxData.begin(), view->l_maxData.end()));
    EXPECT_EQ(delegate->heldMin, *std::max_element(view->l_minData.begin(), view->l_minData.end()));
    EXPECT_EQ(view->l_localMaximus[0], view->getLocalMaximumOf(view->l_fftData));
    EXPECT_TRUE(std::isfinite(delegate->dba));
  }
  view->setBufferManager(nullptr);
}

}  // namespace

// The pass that holds the maximum and minimum also finds the peaks of the three series: each record
// must be its own series' peak (its first highest element, frequency included), although the three
// lie at different bins, for series searched eight elements at a time, with a tail, and too short
// for that.
TEST(SpectrumFrame, EverySeriesGetsItsOwnPeakRecord) {
  auto view = viewWithoutGL(CGRectMake(0, 0, 568, 280));
  view->backingWidth = 1136;
  view->backingHeight = 560;
  view->needDrawPlot = false;
  view->setHoldMaximum(true);
  view->setHoldMinimum(true);
  uint32_t seed = 99;
  for (size_t n : {size_t{256}, size_t{250}, size_t{13}}) {
    std::vector<float> spectrum(n);
    for (int frame = 0; frame < 6; ++frame) {
      for (float& level : spectrum) {
        seed = seed * 1664525u + 1013904223u;
        level = -100.0f + 80.0f * static_cast<float>(seed >> 8) / static_cast<float>(1u << 24);
      }
      view->processSpectrum(spectrum);
      ASSERT_EQ(view->l_maxData.size(), n);
      EXPECT_EQ(view->l_localMaximus.at(0), view->getLocalMaximumOf(view->l_fftData)) << n << " " << frame;
      EXPECT_EQ(view->l_holdedMaximus.at(0), view->getLocalMaximumOf(view->l_maxData)) << n << " " << frame;
      EXPECT_EQ(view->l_holdedMinimus.at(0), view->getLocalMaximumOf(view->l_minData)) << n << " " << frame;
    }
  }
}
