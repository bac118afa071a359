// The chart's axes: label steps and texts, where the container puts its labels, grid and frame
// for each frequency scale, the sonogram's frequency scale, and what actually lands on the pixels.
#include <gtest/gtest.h>

#include <cmath>

#include "analysis/UISpectrumContainerView.h"
#include "analysis/UISpectrumSonogramScaleView.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/audio/TestAudioInput.h"
#include "platform/graphics/CGContext.h"
#include "platform/graphics/EAGLContext.h"
#include "platform/uikit/UIScreen.h"

namespace {

std::vector<std::string> texts(const std::vector<UISpectrumContainerView::ScaleLabel>& labels) {
  std::vector<std::string> out;
  for (const auto& l : labels) out.push_back(l.text);
  return out;
}

TEST(ScaleStepTest, PicksOneTwoOrFiveTimesAPowerOfTen) {
  EXPECT_FLOAT_EQ(UIScaleView::getStepWithStart(-130, -10, 10), 20);
  EXPECT_FLOAT_EQ(UIScaleView::getStepWithStart(0, 22050, 15), 2000);
  EXPECT_FLOAT_EQ(UIScaleView::getStepWithStart(0, 22050, 10), 5000);
  EXPECT_FLOAT_EQ(UIScaleView::getStepWithStart(0, 100, 10), 10);   // r exactly 1
  EXPECT_FLOAT_EQ(UIScaleView::getStepWithStart(0, 200, 10), 20);   // r exactly 2
  EXPECT_FLOAT_EQ(UIScaleView::getStepWithStart(0, 900, 10), 50);  // r = 9: five times the power
  // Fewer than three labels: the whole range.
  EXPECT_FLOAT_EQ(UIScaleView::getStepWithStart(-130, -10, 2), 120);
  EXPECT_FLOAT_EQ(UIScaleView::getStepWithStart(0, 22050, 2), 22050);
  // An empty or reversed range gives no step rather than a zero or negative one that never ends.
  EXPECT_EQ(UIScaleView::getStepWithStart(-50, -50, 10), 0);
  EXPECT_EQ(UIScaleView::getStepWithStart(0, -10, 10), 0);
  EXPECT_EQ(UIScaleView::getStepWithStart(0, NAN, 10), 0);
}

TEST(ScaleStepTest, FirstLogMultiplierAndLabelTexts) {
  EXPECT_EQ(UIScaleView::getMinLogCoeff(15), 1);
  EXPECT_EQ(UIScaleView::getMinLogCoeff(12), 1);
  EXPECT_EQ(UIScaleView::getMinLogCoeff(11), 2);
  EXPECT_EQ(UIScaleView::getMinLogCoeff(8), 2);
  EXPECT_EQ(UIScaleView::getMinLogCoeff(7), 5);
  EXPECT_EQ(UIScaleView::getMinLogCoeff(-3), 5);
  EXPECT_EQ(UIScaleView::formatLabel(20000), "20k");
  EXPECT_EQ(UIScaleView::formatLabel(1000), "1k");
  EXPECT_EQ(UIScaleView::formatLabel(500), "500");
  EXPECT_EQ(UIScaleView::formatLabel(-120), "-120");
  EXPECT_EQ(UIScaleView::formatLabel(31.62f), "32");
}

TEST(ScaleStepTest, LogarithmicLabelFrequenciesByCount) {
  using V = std::vector<float>;
  EXPECT_EQ(UIScaleView::logLabelFrequencies(15), (V{50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000, 50000}));
  // 50k lies beyond any chart (its axis ends at 22,050 Hz) and is clipped when drawn.
  EXPECT_EQ(UIScaleView::logLabelFrequencies(10), (V{50, 200, 500, 2000, 5000, 20000, 50000}));
  EXPECT_EQ(UIScaleView::logLabelFrequencies(7), (V{50, 500, 5000, 50000}));
}

TEST(ScaleStepTest, LinearLabelFrequencies) {
  using V = std::vector<float>;
  EXPECT_EQ(UIScaleView::linearLabelFrequencies(2000, 15),
            (V{2000, 4000, 6000, 8000, 10000, 12000, 14000, 16000, 18000, 20000}));
  EXPECT_EQ(UIScaleView::linearLabelFrequencies(22050, 2), (V{30}));
  EXPECT_TRUE(UIScaleView::linearLabelFrequencies(0, 15).empty());
}

// A container laid out in a window, with a hand-driven input so no audio device is needed.
class ContainerScaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIScreen::mainScreen().configure({568, 320}, 1);
    EAGLContext::setAvailableForTesting(false);  // axes only: the spectrum view draws nothing
    AVAudioSession::sharedInstance().setInputBackend(TestAudioInput::create());
    container = UISpectrumContainerView::create(CGRectMake(0, 0, 568, 320));
    container->layoutIfNeeded();
  }
  void TearDown() override {
    container.reset();
    AVAudioSession::sharedInstance().setInputBackend(nullptr);
    EAGLContext::setAvailableForTesting(true);
  }
  UISpectrumContainerView::ScalePlan plan() { return container->computeScale(container->bounds()); }

  std::shared_ptr<UISpectrumContainerView> container;
};

TEST_F(ContainerScaleTest, DefaultLevelLabelsAndGrid) {
  auto p = plan();
  EXPECT_EQ(texts(p.levelLabels), (std::vector<std::string>{"-120", "-100", "-80", "-60", "-40", "-20"}));
  const double H = 320, yScale = (H - 20) / 120;
  // -120 dB sits 10 dB above the bottom of the chart.
  EXPECT_EQ(p.levelLabels[0].y, std::round(H - (yScale * 10 + 20)));
  EXPECT_EQ(p.levelLabels[0].x, container->currentLeftPadding());
  // The level grid runs every 20/3 dB from -126.67 dB up to -13.33 dB.
  ASSERT_EQ(p.levelGrid.size(), 18u);
  EXPECT_EQ(p.levelGrid.front().from.y, std::round(yScale * (-380.0 / 3 + 130) + 20));
  EXPECT_FALSE(p.levelGrid.front().antialias);
  EXPECT_DOUBLE_EQ(p.levelGrid.front().width, 0.5);
  EXPECT_EQ(p.levelGrid.front().to.x, 568);
}

TEST_F(ContainerScaleTest, TwoLevelLabelsStandAtTheEnds) {
  container->verticalLabelsCount = 2;
  auto p = plan();
  EXPECT_EQ(texts(p.levelLabels), (std::vector<std::string>{"-130", "-10"}));
  EXPECT_EQ(p.levelLabels[0].y, 300);  // the bottom of the chart
  EXPECT_EQ(p.levelLabels[1].y, 0);    // the top
}

TEST_F(ContainerScaleTest, EmptyOrReversedLevelRangeDrawsNoLevelScale) {
  container->setAreaParams({-50, -50});
  auto p = plan();
  EXPECT_TRUE(p.levelLabels.empty());
  EXPECT_TRUE(p.levelGrid.empty());
  container->setAreaParams({-10, -130});
  p = plan();
  EXPECT_TRUE(p.levelLabels.empty());
  EXPECT_EQ(p.frame.size(), 4u);  // the frame is still drawn
}

TEST_F(ContainerScaleTest, LogarithmicFrequencyLabelsAndGrid) {
  ASSERT_EQ(container->scaleType(), 1);
  auto p = plan();
  EXPECT_EQ(texts(p.frequencyLabels),
            (std::vector<std::string>{"50", "100", "200", "500", "1k", "2k", "5k", "10k", "20k", "50k"}));
  const double L = container->currentLeftPadding(), W = 568;
  const double xScale = (W - L) / std::log10(735.0);
  EXPECT_EQ(p.frequencyLabels[4].x, std::round((3 - std::log10(30.0)) * xScale + L));
  EXPECT_EQ(p.frequencyLabels[4].y, 320 - 14);
  EXPECT_GT(p.frequencyLabels.back().x, W);  // 50k lies beyond the chart and is clipped
  // Grid: 30..90, 100..900, 1k..9k, 10k..90k = 7 + 9 + 9 + 9 lines; the first at 30 Hz on the axis.
  ASSERT_EQ(p.frequencyGrid.size(), 34u);
  EXPECT_EQ(p.frequencyGrid.front().from.x, L);
  EXPECT_EQ(p.frequencyGrid.front().from.y, 20);
  EXPECT_EQ(p.frequencyGrid.front().to.y, 320);

  container->horizontalLabelsCount = 9;
  EXPECT_EQ(texts(plan().frequencyLabels), (std::vector<std::string>{"50", "200", "500", "2k", "5k", "20k", "50k"}));
  container->horizontalLabelsCount = 5;
  EXPECT_EQ(texts(plan().frequencyLabels), (std::vector<std::string>{"50", "500", "5k", "50k"}));
}

TEST_F(ContainerScaleTest, LinearFrequencyLabels) {
  container->setScaleType(0);
  auto p = plan();
  EXPECT_EQ(texts(p.frequencyLabels),
            (std::vector<std::string>{"2k", "4k", "6k", "8k", "10k", "12k", "14k", "16k", "18k", "20k"}));
  const double L = container->currentLeftPadding();
  EXPECT_EQ(p.frequencyLabels[0].x, std::round((568 - L) / 22020 * 2000 + L));
  // Grid every 2000/3 Hz from 666.67 Hz up to 22,050 Hz.
  EXPECT_EQ(p.frequencyGrid.size(), 33u);

  container->horizontalLabelsCount = 2;
  p = plan();
  ASSERT_EQ(p.frequencyLabels.size(), 1u);
  EXPECT_EQ(p.frequencyLabels[0].text, "30");
}

TEST_F(ContainerScaleTest, OctaveScalesShowFullOctaveLabelsAndTheirOwnBandLines) {
  const double L = container->currentLeftPadding(), W = 568, a = 2;
  for (int scale : {2, 3, 4}) {
    container->setScaleType(scale);
    auto p = plan();
    EXPECT_EQ(texts(p.frequencyLabels), (std::vector<std::string>{"32", "63", "126", "251", "501", "1k", "2k", "4k",
                                                                   "8k", "16k"}))
        << "scale " << scale;
    EXPECT_EQ(p.frequencyLabels[0].x, std::round(L + 0.5 * (W - L) / 10));
    size_t bands = container->spectrumView()->getCurrentOctaves().size();
    ASSERT_EQ(p.frequencyGrid.size(), bands) << "scale " << scale;
    EXPECT_EQ(p.frequencyGrid[0].from.x, std::round(L + a / 2 + 0.5 * (W - L - a) / bands));
  }
  // Third octaves: every third band line is strong; sixth octaves: all are thin and aliased.
  container->setScaleType(3);
  auto p = plan();
  EXPECT_TRUE(p.frequencyGrid[2].antialias);
  EXPECT_DOUBLE_EQ(p.frequencyGrid[2].width, 1);
  EXPECT_FALSE(p.frequencyGrid[1].antialias);
  EXPECT_DOUBLE_EQ(p.frequencyGrid[1].width, 0.5);
  container->setScaleType(4);
  for (const auto& line : plan().frequencyGrid) {
    EXPECT_FALSE(line.antialias);
    EXPECT_DOUBLE_EQ(line.width, 0.5);
  }
}

TEST_F(ContainerScaleTest, FrameAroundTheChart) {
  auto p = plan();
  const double L = container->currentLeftPadding();
  ASSERT_EQ(p.frame.size(), 4u);
  EXPECT_EQ(p.frame[0].from, (CGPoint{L - 1, 20}));  // bottom
  EXPECT_EQ(p.frame[0].to, (CGPoint{569, 20}));
  EXPECT_EQ(p.frame[1].from, (CGPoint{L, 20}));      // left
  EXPECT_EQ(p.frame[1].to, (CGPoint{L, 320}));
  EXPECT_EQ(p.frame[3].from, (CGPoint{L - 1, 320}));  // top
}

TEST_F(ContainerScaleTest, DrawnPixelsShowFrameGridAndLabels) {
  container->displayIfNeeded();
  const CGBitmapContext* image = container->backingStore();
  ASSERT_NE(image, nullptr);
  const int L = static_cast<int>(container->currentLeftPadding());
  // The left frame line is the axis grey.
  auto axis = image->pixel(L, 150);
  EXPECT_NEAR(axis.r, 128, 2);
  EXPECT_NEAR(axis.g, 128, 2);
  // Label text is white: some bright pixels lie left of the axis on the "-120" label's line.
  auto p = plan();
  int y = static_cast<int>(p.levelLabels[0].y);
  int bright = 0;
  for (int x = 0; x < L - 3; ++x) {
    for (int dy = -4; dy <= 4; ++dy) bright += image->pixel(x, y + dy).r > 200;
  }
  EXPECT_GT(bright, 5);
  // Nothing is drawn left of the axis between two level labels.
  int between = static_cast<int>((p.levelLabels[0].y + p.levelLabels[1].y) / 2);
  for (int x = 0; x < L - 6; ++x) EXPECT_LT(image->pixel(x, between).a, 10) << x;
  // Frequency labels below the chart: bright pixels under the "1k" label.
  int fx = static_cast<int>(p.frequencyLabels[4].x);
  int under = 0;
  for (int dx = -8; dx <= 8; ++dx) {
    for (int yy = 307; yy < 320; ++yy) under += image->pixel(fx + dx, yy).r > 200;
  }
  EXPECT_GT(under, 5);
}

TEST_F(ContainerScaleTest, SonogramModeDrawsOnlyTheScaleView) {
  container->setSonogramMode(CGSizeMake(0, 0));
  container->layoutIfNeeded();
  EXPECT_FALSE(container->sonogramScaleView()->isHidden());
  container->setNeedsDisplay();
  container->displayIfNeeded();
  const CGBitmapContext* image = container->backingStore();
  if (image) {
    for (int x = 0; x < image->width(); x += 7) {
      for (int y = 0; y < image->height(); y += 7) ASSERT_EQ(image->pixel(x, y).a, 0);
    }
  }
  auto scale = container->sonogramScaleView();
  auto labels = scale->computeLabels(290);
  // Ten level labels make the sonogram scale start each decade at 2.
  std::vector<std::string> names;
  for (const auto& l : labels) names.push_back(l.text);
  EXPECT_EQ(names, (std::vector<std::string>{"50", "200", "500", "2k", "5k", "20k", "50k"}));
  EXPECT_LT(labels.back().y, 0);  // above the top: clipped
  EXPECT_EQ(labels[0].y, std::round(290 - (std::log10(50.0) - std::log10(30.0)) * 290 / std::log10(735.0)));
  container->setScaleType(0);
  labels = scale->computeLabels(290);
  ASSERT_EQ(labels.size(), 4u);  // step 5000: 5k, 10k, 15k, 20k
  EXPECT_EQ(labels[0].text, "5k");
  EXPECT_EQ(labels[0].y, std::round(290 - 5000 * 290 / 22020.0));

  scale->displayIfNeeded();
  const CGBitmapContext* drawn = scale->backingStore();
  ASSERT_NE(drawn, nullptr);
  int bright = 0;
  int y = static_cast<int>(labels[0].y);
  for (int x = 0; x < 39; ++x) {
    for (int dy = -4; dy <= 4; ++dy) bright += drawn->pixel(x, y + dy).r > 200;
  }
  EXPECT_GT(bright, 5);
}

// ---- Labels kept whole inside their view ----

// The ink of a rectangle of an image (the sum of its coverage), in pixels' worth.
double ink(const CGBitmapContext& image, double x0, double y0, double x1, double y1) {
  double sum = 0;
  for (int y = int(std::floor(y0)); y < int(std::ceil(y1)); ++y)
    for (int x = int(std::floor(x0)); x < int(std::ceil(x1)); ++x) sum += image.pixel(x, y).a / 255.0;
  return sum;
}
// The ink of the text drawn whole, alone.
double wholeInk(const std::string& text, const NSTextAttributes& attributes) {
  const CGSize size = NSStringSizeWithAttributes(text, attributes);
  auto image = CGBitmapContext::create(int(size.width) + 10, int(size.height) + 10);
  NSStringDrawAtPointInContext(image->context(), text, {5, 5}, attributes);
  return ink(*image, 0, 0, image->width(), image->height());
}

// The log axis's "20k" stands 7 points from the right edge and is wider than twice that: its text
// moves in until its right end meets the edge, and no further; its tick stays at 20 kHz, and every
// label whose text fits, as well as "50k" beyond the axis, keeps its place.
TEST_F(ContainerScaleTest, TheLastLogLabelMovesInJustEnoughToStayWholeAndTheOthersKeepTheirPlaces) {
  const double W = 568, H = 320, L = container->currentLeftPadding();
  const auto attributes = container->horizontalAttrsDictionary();
  auto p = plan();
  ASSERT_EQ(p.frequencyLabels[8].text, "20k");
  for (const auto& label : p.frequencyLabels) {
    const double tw = NSStringSizeWithAttributes(label.text, attributes).width;
    EXPECT_EQ(label.origin.y, H - 14) << label.text;
    if (label.text == "20k") {
      EXPECT_EQ(label.x, std::round((std::log10(20000.0) - std::log10(30.0)) * (W - L) / std::log10(735.0) + L));
      ASSERT_GT(label.x + tw / 2, W) << "the text at its place would be cut";
      EXPECT_DOUBLE_EQ(label.origin.x + tw, W);
    } else {
      EXPECT_DOUBLE_EQ(label.origin.x, label.x - tw / 2) << label.text;
    }
  }

  container->displayIfNeeded();
  const CGBitmapContext* image = container->backingStore();
  ASSERT_NE(image, nullptr);
  const auto& label = p.frequencyLabels[8];
  const double whole = wholeInk("20k", attributes);
  EXPECT_NEAR(ink(*image, label.origin.x - 3, H - 14, W, H), whole, whole * 0.03) << "all of \"20k\" is drawn";
  // The tick stays under 20 kHz.
  EXPECT_GT(image->pixel(int(label.x), int(H - 19)).a, 0);
}

// A level label at the very top of the chart (two labels: the step is the whole range) moves down
// until it is whole; the bottom one keeps its place.
TEST_F(ContainerScaleTest, ALevelLabelAtTheTopMovesDownJustEnough) {
  container->verticalLabelsCount = 2;
  auto p = plan();
  ASSERT_EQ(p.levelLabels.size(), 2u);
  const auto attributes = container->verticalAttrsDictionary();
  const CGSize bottom = NSStringSizeWithAttributes(p.levelLabels[0].text, attributes);
  EXPECT_DOUBLE_EQ(p.levelLabels[0].origin.y, 300 - bottom.height / 2);
  EXPECT_EQ(p.levelLabels[1].y, 0);
  EXPECT_DOUBLE_EQ(p.levelLabels[1].origin.y, 0);
  EXPECT_DOUBLE_EQ(p.levelLabels[1].origin.x, container->currentLeftPadding() - 6 -
                                                  NSStringSizeWithAttributes("-10", attributes).width);
}

// The log-scale sonogram's "20k" stands 4 points under the top: its text moves down until its top
// meets the scale's top; "50k" above the top stays clipped away, the others keep their places.
TEST_F(ContainerScaleTest, TheSonogramsTopLabelMovesDownJustEnoughToStayWhole) {
  container->setSonogramMode(CGSizeMake(0, 10));
  container->layoutIfNeeded();
  auto scale = container->sonogramScaleView();
  const double H = scale->bounds().size.height;
  ASSERT_GT(H, 100);
  const auto attributes = container->verticalAttrsDictionary();
  const auto labels = scale->computeLabels(H);
  ASSERT_EQ(labels.size(), 7u);
  for (const auto& label : labels) {
    const CGSize size = NSStringSizeWithAttributes(label.text, attributes);
    EXPECT_DOUBLE_EQ(label.origin.x, 45 - size.width - 6) << label.text;
    if (label.text == "20k") {
      ASSERT_LT(label.y - size.height / 2, 0) << "the text at its place would be cut";
      EXPECT_DOUBLE_EQ(label.origin.y, 0);
    } else {
      EXPECT_DOUBLE_EQ(label.origin.y, label.y - size.height / 2) << label.text;
    }
  }
  EXPECT_LT(labels.back().origin.y + 20, 0) << "50k stays above the top";

  scale->displayIfNeeded();
  const CGBitmapContext* image = scale->backingStore();
  ASSERT_NE(image, nullptr);
  const auto& top = labels[5];
  ASSERT_EQ(top.text, "20k");
  const CGSize size = NSStringSizeWithAttributes("20k", attributes);
  const double whole = wholeInk("20k", attributes);
  EXPECT_NEAR(ink(*image, 0, 0, 42, size.height + 2), whole, whole * 0.03) << "all of \"20k\" is drawn";
}

TEST(SonogramScaleViewTest, DrawsNothingWithoutAContainer) {
  UISpectrumSonogramScaleView view(CGRectMake(0, 0, 100, 100));
  EXPECT_TRUE(view.computeLabels(100).empty());
}

}  // namespace
