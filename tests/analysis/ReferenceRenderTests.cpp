// Every chart mode drawn from fixed input at the window's chart size (568 x 280 points at two
// pixels per point) and compared with the reference images in renders/, made once from the
// drawing as it stood before any change to how it draws: graph with its fill and with the
// translucent fill between the held traces, bars, the sonogram in each palette, linear and
// logarithmic scales. A faster way of drawing must leave what the user sees as it was.
//
// The comparison allows each colour channel to differ by at most kTolerance steps: Mesa's
// software rasteriser compiles its code for the CPU it runs on, and the coverage of smoothed line
// edges and the rounding of blended colours may come out one step apart on another CPU. Any real
// change of what is drawn (a pixel filled or not, a colour from another palette stop) differs by
// far more.
//
// SA_WRITE_REFERENCE_RENDERS=DIR writes the images to DIR instead of comparing (and skips).
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/UISpectrumView.h"
#include "platform/uikit/UIScreen.h"

namespace {

constexpr int kTolerance = 2;
constexpr int kWidth = 1136, kHeight = 560;

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;  // rows from the top
};

// The stored bytes are the presented bytes as they are (RGBA as GL wrote them), not a colour
// conversion of them, so a reference compares byte for byte.
bool readPNG(const std::string& path, Image& image, std::string& error) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    error = png.message;
    return false;
  }
  // References are chart-sized; anything far larger is not one of them.
  if (png.width == 0 || png.height == 0 || png.width > 8192 || png.height > 8192) {
    png_image_free(&png);
    error = "unexpected size";
    return false;
  }
  png.format = PNG_FORMAT_RGBA;
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.rgba.assign(PNG_IMAGE_SIZE(png), 0);
  if (!png_image_finish_read(&png, nullptr, image.rgba.data(), 0, nullptr)) {
    error = png.message;
    return false;
  }
  return true;
}

bool writePNG(const std::string& path, const CAEAGLLayer::Presented& p) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(p.width);
  png.height = static_cast<png_uint_32>(p.height);
  png.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&png, path.c_str(), 0, p.rgba.data(), 0, nullptr) != 0;
}

// A small deterministic generator, so the input never depends on the library's random engines.
struct Lcg {
  uint32_t state;
  float next() {  // 0 .. 1
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / static_cast<float>(1u << 24);
  }
};

// A jagged spectrum-like trace, one point every 2 pixels as the view's vertex points are, with a
// few points below the bottom and above the top edge as real levels reach.
std::vector<DisplayPoint> trace(float base, float offset, uint32_t seed) {
  Lcg noise{seed};
  std::vector<DisplayPoint> points;
  for (int x = 0; x <= kWidth; x += 2) {
    float fx = static_cast<float>(x);
    float y = base + 120.0f * std::sin(fx / 70.0f) + 60.0f * std::sin(fx / 13.0f + 1.0f) + offset +
              50.0f * (noise.next() - 0.5f);
    if (x > 1000 && x < 1040) y = -30.0f;    // under the bottom edge
    if (x > 600 && x < 612) y = kHeight + 20;  // over the top edge
    points.push_back({fx, y});
  }
  return points;
}

// Bar points: a closing point at each end and one per band between them.
std::vector<DisplayPoint> bars(int bands, float lift, uint32_t seed) {
  Lcg noise{seed};
  std::vector<DisplayPoint> points{{0, 0}};
  const float step = static_cast<float>(kWidth) / static_cast<float>(bands);
  for (int k = 0; k < bands; ++k) {
    float y = 80.0f + 300.0f * noise.next() + lift;
    points.push_back({std::round(step * (static_cast<float>(k) + 0.5f)), y});
  }
  points.push_back({static_cast<float>(kWidth), 0});
  return points;
}

// One frame's sonogram levels (dB) for frame f: a sweeping peak, a steady tone, a slow ripple and
// noise, from below -80 dB (the palette's bottom) to above -16 dB (its top).
std::vector<float> sonogramFrame(int f, size_t n = 512) {
  Lcg noise{static_cast<uint32_t>(f) * 7919u + 1u};
  std::vector<float> levels(n);
  const float centre = static_cast<float>((f * 7) % static_cast<int>(n));
  for (size_t i = 0; i < n; ++i) {
    float x = static_cast<float>(i);
    float peak = 70.0f * std::exp(-((x - centre) * (x - centre)) / 200.0f);
    float tone = i == 23 || i == 24 ? 75.0f : 0.0f;
    levels[i] = -100.0f + peak + tone + 25.0f * std::sin(x / 30.0f + static_cast<float>(f) / 9.0f) + 10.0f * noise.next();
  }
  return levels;
}

UIColorRef hex(uint32_t value, double alpha = 1) {
  return UIColor::colorWithRed(((value >> 16) & 0xff) / 255.0, ((value >> 8) & 0xff) / 255.0, (value & 0xff) / 255.0,
                               alpha);
}

// The analyser screen's palettes: a transparent bottom stop and three colours.
std::vector<SonogramColorStop> palette(UIColorRef a, UIColorRef b, UIColorRef c) {
  return {{0.0f, UIColor::colorWithRed(0, 0, 0, 0)}, {0.333f, std::move(a)}, {0.667f, std::move(b)}, {1.0f, std::move(c)}};
}
std::vector<SonogramColorStop> lava() { return palette(hex(0x2927F5), hex(0x58BBEE), hex(0xBBE0F4)); }
std::vector<SonogramColorStop> heat() { return palette(hex(0xD0927D), hex(0xFA490C), hex(0x42FA0C)); }
std::vector<SonogramColorStop> blackAndWhite() {
  return palette(UIColor::colorWithRed(0.1, 0.1, 0.1, 1), UIColor::colorWithRed(0.5, 0.5, 0.5, 1),
                 UIColor::colorWithRed(1, 1, 1, 1));
}

// The analyser screen's line and fill styling.
void styleAsTheScreen(UISpectrumView& view) {
  view.mainFillColor = hex(0x4F4DB8);
  view.mainChartColor = hex(0xFFFD00);
  view.supportChartColor = hex(0x31F1E8);
  view.supportFillColor = hex(0x16CFBD, 0.32);
  view.mainChartWidth = 2;
  view.supportChartWidth = 1;
  view.barsColor = hex(0x31F1E8);
  view.maxBarColor = hex(0xFFFD00);
  view.planchesColor = hex(0xFFFD00);
  view.peakMarkerColor = hex(0x31F1E8);
  view.peakMarkerWidth = 1;
}

// (A scale change blanks the sonogram's columns, so a case that keeps them passes no scale.)
void graphState(UISpectrumView& view, std::optional<int> scale, bool fill, bool holdMax, bool holdMin) {
  if (scale) view.setScaleType(*scale);
  view.setGraphType(0);
  view.needFill = fill;
  view.setHoldMaximum(holdMax);
  view.setHoldMinimum(holdMin);
  view.isMaxReady = true;
  view.l_mainData = trace(230, 0, 11);
  view.l_maxesData = trace(230, 70, 12);
  view.l_minsData = trace(230, -90, 13);
}

void drawSonogramFrames(UISpectrumView& view, int first, int count) {
  for (int f = first; f < first + count; ++f) {
    view.sonogramData = sonogramFrame(f);
    view.drawView();
  }
}

struct Case {
  const char* name;
  std::function<void(UISpectrumView&)> draw;  // leaves the image to compare presented
};

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      // The FFT plot: log scale, the current trace filled, the held maximum filled translucently.
      {"graph_log_fill_hold_max",
       [](UISpectrumView& v) {
         graphState(v, 1, true, true, false);
         v.drawView();
       }},
      // Both holds: the translucent fill between the held traces, no fill under the current one,
      // and the peak cross.
      {"graph_log_fill_between_holds",
       [](UISpectrumView& v) {
         graphState(v, 1, true, true, true);
         v.needPeakMarker = true;
         v.drawView();
       }},
      // The linear scale, fill under the current trace only, and the touch marker.
      {"graph_linear_fill",
       [](UISpectrumView& v) {
         graphState(v, 0, true, false, false);
         v.l_markerPosition = 401;
         v.drawView();
       }},
      // Lines only (the "Line" peaks setting).
      {"graph_linear_lines",
       [](UISpectrumView& v) {
         graphState(v, 0, false, true, true);
         v.drawView();
       }},
      // Octave mode's line on a band scale, filled.
      {"graph_third_octave_line_fill",
       [](UISpectrumView& v) {
         graphState(v, 3, true, true, false);
         v.l_mainData = bars(31, 0, 21);
         v.l_maxesData = bars(31, 40, 21);
         v.drawView();
       }},
      // Octave bars (the default mode): sixth octaves with hold plates.
      {"bars_sixth_octave_plates",
       [](UISpectrumView& v) {
         v.setScaleType(4);
         v.setGraphType(1);
         v.setHoldMaximum(true);
         v.isMaxReady = true;
         v.l_mainData = bars(61, 0, 31);
         v.l_maxesData = bars(61, 35, 31);
         v.drawView();
       }},
      // Third-octave bars, the marker on a bar that is not the highest.
      {"bars_third_octave_marker",
       [](UISpectrumView& v) {
         v.setScaleType(3);
         v.setGraphType(1);
         v.l_mainData = bars(31, 0, 41);
         v.l_markerPosition = v.l_mainData[5].x;
         v.drawView();
       }},
      // Full-octave bars.
      {"bars_full_octave",
       [](UISpectrumView& v) {
         v.setScaleType(2);
         v.setGraphType(1);
         v.setHoldMaximum(true);
         v.isMaxReady = true;
         v.l_mainData = bars(10, 0, 51);
         v.l_maxesData = bars(10, 30, 51);
         v.drawView();
       }},
      // The sonogram in each palette on the linear scale, then the logarithmic one.
      {"sonogram_linear_lava",
       [](UISpectrumView& v) {
         v.setScaleType(0);
         v.sonogramColors = lava();
         v.spectrumMode = 1;
         drawSonogramFrames(v, 0, 60);
       }},
      {"sonogram_linear_heat",
       [](UISpectrumView& v) {
         v.setScaleType(0);
         v.sonogramColors = heat();
         v.spectrumMode = 1;
         drawSonogramFrames(v, 0, 60);
       }},
      {"sonogram_linear_bw",
       [](UISpectrumView& v) {
         v.setScaleType(0);
         v.sonogramColors = blackAndWhite();
         v.spectrumMode = 1;
         drawSonogramFrames(v, 0, 60);
       }},
      {"sonogram_linear_default_palette",
       [](UISpectrumView& v) {
         v.setScaleType(0);
         v.sonogramColors = UISpectrumView::defaultSonogramColors();
         v.spectrumMode = 1;
         drawSonogramFrames(v, 0, 60);
       }},
      {"sonogram_log_lava",
       [](UISpectrumView& v) {
         v.setScaleType(1);
         v.sonogramColors = lava();
         v.spectrumMode = 1;
         drawSonogramFrames(v, 0, 60);
       }},
      // A scale change blanks every column; new columns follow at the right.
      {"sonogram_scale_change_blanks",
       [](UISpectrumView& v) {
         v.setScaleType(0);
         v.sonogramColors = heat();
         v.spectrumMode = 1;
         drawSonogramFrames(v, 0, 40);
         v.setScaleType(1);
         drawSonogramFrames(v, 40, 15);
       }},
      // Graph mode in between keeps the columns: they go on where they stopped. (The screen sets
      // its palette on the way back, which makes the drawing colour white again.)
      {"sonogram_kept_across_graph_mode",
       [](UISpectrumView& v) {
         v.setScaleType(1);
         v.sonogramColors = lava();
         v.spectrumMode = 1;
         drawSonogramFrames(v, 0, 30);
         v.spectrumMode = 0;
         graphState(v, std::nullopt, true, true, false);
         v.drawView();
         v.spectrumMode = 1;
         glColor4f(1, 1, 1, 1);
         drawSonogramFrames(v, 30, 20);
       }},
      // More frames than columns: the ring has gone round and the oldest column, partly left of
      // the edge, holds a frame too.
      {"sonogram_ring_wrapped",
       [](UISpectrumView& v) {
         v.setScaleType(0);
         v.sonogramColors = lava();
         v.spectrumMode = 1;
         drawSonogramFrames(v, 0, 400);
       }},
  };
  return all;
}

class ReferenceRender : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    UIScreen::mainScreen().configure({568, 320}, 2);
    EAGLContext::setAvailableForTesting(true);
    if (!EAGLContext::isAvailable()) GTEST_SKIP() << "no GL on this machine";
    view = UISpectrumView::create(CGRectMake(0, 0, 568, 280));
    view->stopAnimation();
    ASSERT_TRUE(view->context);
    ASSERT_EQ(view->backingWidth, kWidth);
    ASSERT_EQ(view->backingHeight, kHeight);
    styleAsTheScreen(*view);
  }
  void TearDown() override { view.reset(); }
  std::shared_ptr<UISpectrumView> view;
};

TEST_P(ReferenceRender, MatchesTheImageDrawnBeforeAnyChange) {
  const Case& c = cases()[GetParam()];
  c.draw(*view);
  const auto& presented = view->eaglLayer()->presented();
  ASSERT_EQ(presented.width, kWidth);
  ASSERT_EQ(presented.height, kHeight);

  if (const char* dir = std::getenv("SA_WRITE_REFERENCE_RENDERS"); dir && *dir) {
    const std::string path = std::string(dir) + "/" + c.name + ".png";
    ASSERT_TRUE(writePNG(path, presented)) << path;
    GTEST_SKIP() << "wrote " << path;
  }

  Image reference;
  std::string error;
  const std::string path = std::string(SA_REFERENCE_RENDERS_DIR) + "/" + c.name + ".png";
  ASSERT_TRUE(readPNG(path, reference, error)) << path << ": " << error;
  ASSERT_EQ(reference.width, presented.width);
  ASSERT_EQ(reference.height, presented.height);
  ASSERT_EQ(reference.rgba.size(), presented.rgba.size());

  long differing = 0;
  int worst = 0;
  long firstAt = -1;
  for (size_t i = 0; i < reference.rgba.size(); ++i) {
    int d = std::abs(static_cast<int>(reference.rgba[i]) - static_cast<int>(presented.rgba[i]));
    if (d > kTolerance) {
      if (firstAt < 0) firstAt = static_cast<long>(i / 4);
      ++differing;
    }
    worst = std::max(worst, d);
  }
  if (differing > 0) writePNG(std::string(c.name) + ".actual.png", presented);
  EXPECT_EQ(differing, 0) << c.name << ": " << differing << " channels differ by more than " << kTolerance
                          << " (largest difference " << worst << "), the first at x " << firstAt % kWidth << ", row "
                          << firstAt / kWidth << " from the top; the render is in " << c.name << ".actual.png";
}

INSTANTIATE_TEST_SUITE_P(EveryMode, ReferenceRender, ::testing::Range<size_t>(0, cases().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) { return std::string(cases()[info.param].name); });

}  // namespace
