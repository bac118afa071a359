// End to end: a tone played into the private audio server's null sink is captured from the sink's
// monitor by a chart container's engine, and the container reports it.
#include <gtest/gtest.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "analysis/UISpectrumContainerView.h"
#include "platform/audio/AVAudioSession.h"
#include "platform/graphics/EAGLContext.h"
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

// Plays a sine on its own thread into a sink until destroyed.
class TonePlayer {
 public:
  TonePlayer(const std::string& sink, double frequency, double amplitude) {
    pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32LE, 44100, 1};
    int error = 0;
    stream_ = pa_simple_new(nullptr, "chart-capture-test", PA_STREAM_PLAYBACK, sink.c_str(), "tone", &sampleSpec, nullptr,
                            nullptr, &error);
    if (!stream_) {
      error_ = pa_strerror(error);
      return;
    }
    thread_ = std::thread([this, frequency, amplitude] {
      std::vector<float> block(1024);
      uint64_t n = 0;
      while (!stop_.load()) {
        for (auto& s : block) s = static_cast<float>(amplitude * std::sin(2 * M_PI * frequency * double(n++) / 44100));
        int error = 0;
        if (pa_simple_write(stream_, block.data(), block.size() * sizeof(float), &error) < 0) break;
      }
    });
  }
  ~TonePlayer() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    if (stream_) pa_simple_free(stream_);
  }
  bool ok() const { return stream_ != nullptr; }
  const std::string& error() const { return error_; }

 private:
  pa_simple* stream_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::string error_;
};

TEST(ChartCaptureTest, ToneOnTheSinkIsReportedAtOneKilohertz) {
  const char* server = std::getenv("PULSE_SERVER");
  if (!server || !*server) GTEST_SKIP() << "no private audio server (PULSE_SERVER is not set)";
  const char* sinkName = std::getenv("SA_TEST_PULSE_SINK");
  const std::string sink = sinkName && *sinkName ? sinkName : "sa_test_sink";

  EAGLContext::setAvailableForTesting(false);  // the analysis runs without drawing
  AVAudioSession::sharedInstance().setInputSpec("pulse:" + sink + ".monitor");
  TonePlayer player(sink, 1000, 0.1);  // -20 dBFS
  ASSERT_TRUE(player.ok()) << player.error();

  auto container = UISpectrumContainerView::create(CGRectMake(0, 0, 568, 320));
  auto readings = std::make_shared<Readings>();
  container->delegate = readings;
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
