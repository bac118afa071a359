// End to end: a tone played into the private audio server's null sink is captured from the sink's
// monitor by a chart container's engine, and the container reports it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "analysis/UISpectrumContainerView.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/graphics/EAGLContext.h"
#include "tests/support/TonePlayer.h"
#include "tests/support/WaitFor.h"

namespace {

class Readings : public DataProvideDelegate {
 public:
  int frames = 0;
  double peakFrequency = 0;
  double peakVolume = 0;
  std::vector<float> octaves;
  void fftValues(const std::vector<float>& levels) override { octaves = levels; }
  void provideData(const std::vector<Value>&) override {}
  void maximusArray(const std::vector<Value>& maximus, const std::vector<Value>&, const std::vector<Value>&) override {
    if (maximus.empty()) return;
    peakFrequency = maximus[0]["frequency"].get<double>();
    peakVolume = maximus[0]["volume"].get<double>();
    ++frames;
  }
  void onTouch(const std::vector<Value>&) override {}
  void onTouchEnd() override {}
  void onRemoveMarker() override {}
  void dbaValue(float) override {}
  void dbbValue(float) override {}
  void dbcValue(float) override {}
  void dbzValue(float) override {}
  void selectedValues(const std::optional<std::vector<Value>>&) override {}
  void currentLeftPaddingChanged(float) override {}
};

TEST(ChartCaptureTest, ToneOnTheSinkIsReportedAtOneKilohertz) {
  const char* server = std::getenv("PULSE_SERVER");
  if (!server || !*server) GTEST_SKIP() << "no private audio server (PULSE_SERVER is not set)";
  const char* sinkName = std::getenv("SA_TEST_PULSE_SINK");
  const std::string sink = sinkName && *sinkName ? sinkName : "sa_test_sink";

  EAGLContext::setAvailableForTesting(false);  // the analysis runs without drawing
  AVAudioSession::sharedInstance().setInputSpec("pulse:" + sink + ".monitor");
  testsupport::TonePlayer player(sink, 1000, 0.1);  // -20 dBFS
  ASSERT_TRUE(player.ok()) << player.error();

  auto container = UISpectrumContainerView::create(CGRectMake(0, 0, 568, 320));
  auto readings = std::make_shared<Readings>();
  container->setDelegate(readings);
  container->setMathParams({0, 4096});  // no window, as a new chart has
  container->startAnimation("");

  const double bin = 22050.0 / 2048;
  // Early frames may still hold the silence from before the tone reached the monitor.
  const bool heard = testsupport::waitFor(
      [&] { return readings->frames >= 10 && std::fabs(readings->peakFrequency - 1000) <= bin; }, 20);
  EXPECT_TRUE(heard) << "frames " << readings->frames << ", last peak " << readings->peakFrequency << " Hz";
  EXPECT_NEAR(readings->peakFrequency, 1000, bin);
  ASSERT_EQ(readings->octaves.size(), 10u);
  size_t loudest = 0;
  for (size_t i = 1; i < readings->octaves.size(); ++i) {
    if (readings->octaves[i] > readings->octaves[loudest]) loudest = i;
  }
  EXPECT_EQ(loudest, 5u) << "levels: " << ::testing::PrintToString(readings->octaves);

  container->stopAnimation();
  container->stopDataProvide();
  container.reset();
  EAGLContext::setAvailableForTesting(true);
}

}  // namespace
